#include "engine/url_table.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <memory>
#include <utility>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {

namespace {

constexpr std::uint8_t kKeepWithoutFinishedChildren = 1;
constexpr std::uint8_t kRemove = 2;

// A link still waiting in the work queue at a compaction is taken, and its AddEntry posted,
// within one pass through a full queue; that AddEntry is taken within a second pass.
constexpr std::uint64_t kTakesUntilLinksArrive = 2 * (WorkQueue::kCapacity - 1);

}  // namespace

UrlTable::UrlTable(WorkQueue& workQueue, UiMessageQueue& statusQueue, std::uint32_t capacity)
    : workQueue_(workQueue),
      statusQueue_(statusQueue),
      capacity_(capacity),
      depth_(capacity),
      url_(capacity),
      parent_(capacity),
      flags_(capacity),
      minSize_(capacity),
      state_(capacity),
      refCount_(capacity),
      id_(capacity),
      marks_(capacity),
      // At most half full, so a probe for a missing URL stays short.
      index_(std::bit_ceil(2 * static_cast<std::size_t>(capacity)), kNoPosition) {}

std::uint32_t UrlTable::add(std::uint8_t depth, const ByteString& url, std::int32_t parent,
                            std::int32_t flags, std::int32_t done, std::uint32_t minSize) {
  if (workQueue_.takenCount() >= removedPagesCheckAt_) {
    pruneRemovedPages();
  }
  if (count_ >= capacity_ && compactionMayFree_) {
    compact();
  }
  const std::uint32_t held = findUrl(url);
  if (held != kNoPosition) {
    ++refCount_[held];
    return count_;
  }
  if (count_ >= capacity_) {
    return count_;  // nothing could be removed: the URL is dropped and the crawl goes on
  }
  const std::uint32_t n = count_++;
  UiMessage added;
  added.code = UiCode::StatusUrlAdded;
  added.text = url;
  statusQueue_.push(added);

  depth_[n] = depth;
  url_[n] = url;
  parent_[n] = parent;
  flags_[n] = flags;
  minSize_[n] = minSize;
  state_[n] = static_cast<std::uint8_t>((done != 0 ? kDone : 0) |
                                        ((flags & CrawlFlags::FollowLinks) != 0 ? kPage : 0));
  refCount_[n] = 1;
  id_[n] = nextId_++;
  indexPosition(n);
  compactionMayFree_ = compactionMayFree_ || done != 0;
  dispatch();
  return n;
}

void UrlTable::markDone(std::int32_t id, const ByteString& url) {
  const std::uint32_t position = positionOfId(id);
  if (position != kNoPosition) {
    state_[position] |= kDone;
    if (url_[position] != url) {
      url_[position] = url;
      rebuildIndex();
    }
  }
  finishFetch();
}

void UrlTable::markFailed(std::int32_t id) {
  const std::uint32_t position = positionOfId(id);
  if (position != kNoPosition) {
    state_[position] |= kDone;
    flags_[position] = 0;
  }
  finishFetch();
}

void UrlTable::start() {
  running_ = true;
  dispatch();
}

void UrlTable::finishFetch() {
  outstanding_ = false;
  compactionMayFree_ = true;
  dispatch();
}

void UrlTable::dispatch() {
  if (!running_ || outstanding_) {
    return;
  }
  for (; cursor_ != count_; ++cursor_) {
    if (!isDone(cursor_)) {
      issue(cursor_);
      return;
    }
  }
}

void UrlTable::issue(std::uint32_t position) {
  auto request = std::make_unique<FetchRequestPayload>();
  request->id = id_[position];
  request->depth = depth_[position];
  request->url = url_[position];
  request->referrer = referrerOf(position);
  request->flags = flags_[position];
  request->minSize = minSize_[position];
  outstanding_ = true;
  workQueue_.post(WorkCode::FetchRequest, std::move(request));
}

std::uint32_t UrlTable::positionOfId(std::int32_t id) const {
  const auto begin = id_.begin();
  const auto end = begin + count_;
  const auto found = std::lower_bound(begin, end, id);
  return found != end && *found == id ? static_cast<std::uint32_t>(found - begin) : kNoPosition;
}

ByteString UrlTable::referrerOf(std::uint32_t position) const {
  const std::uint32_t parent = positionOfId(parent_[position]);
  if (parent != kNoPosition) {
    return url_[parent];
  }
  const auto removed = removedPages_.find(parent_[position]);
  if (removed != removedPages_.end()) {
    return removed->second;
  }
  return url_[position];  // an unknown parent: name the entry itself, as the start URL does
}

void UrlTable::compact() {
  markForRemoval();
  const std::uint32_t removed = copyDownKeptEntries();
  compactionMayFree_ = removed != 0;
  if (removed != 0) {
    rebuildIndex();
    removedPagesCheckAt_ = workQueue_.takenCount() + kTakesUntilLinksArrive;
  }
}

void UrlTable::markForRemoval() {
  const std::uint32_t olderHalf = count_ / 2;
  for (std::uint32_t i = 0; i < count_; ++i) {
    // A page stands before its links, so the parent's mark is settled; the start URL is
    // its own parent and reads as unmarked.
    const std::uint32_t parent = positionOfId(parent_[i]);
    const bool parentMarked = parent < i && marks_[parent] != 0;
    std::uint8_t mark = 0;
    if ((parentMarked && isDone(i)) || flags_[i] == 0) {
      mark = kRemove;
    } else if ((flags_[i] & CrawlFlags::FollowLinks) != 0 && refCount_[i] == 1 && isDone(i) &&
               i < olderHalf) {
      mark = kKeepWithoutFinishedChildren;
    }
    marks_[i] = mark;
  }
}

std::uint32_t UrlTable::copyDownKeptEntries() {
  std::uint32_t write = 0;
  std::uint32_t newCursor = 0;
  for (std::uint32_t read = 0; read < count_; ++read) {
    if (read == cursor_) {
      newCursor = write;
    }
    if (marks_[read] == kRemove) {
      if ((state_[read] & kPage) != 0) {
        removedPages_[id_[read]] = std::move(url_[read]);
      }
      continue;
    }
    if (write != read) {
      depth_[write] = depth_[read];
      url_[write] = std::move(url_[read]);
      parent_[write] = parent_[read];
      flags_[write] = flags_[read];
      minSize_[write] = minSize_[read];
      state_[write] = state_[read];
      refCount_[write] = refCount_[read];
      id_[write] = id_[read];
    }
    ++write;
  }
  const std::uint32_t removed = count_ - write;
  for (std::uint32_t position = write; position < count_; ++position) {
    url_[position] = ByteString();  // frees the text, as clear() would not
  }
  cursor_ = newCursor;
  count_ = write;
  return removed;
}

void UrlTable::pruneRemovedPages() {
  std::unordered_map<std::int32_t, ByteString> stillNamed;
  for (std::uint32_t i = 0; i < count_; ++i) {
    auto named = removedPages_.extract(parent_[i]);
    if (!named.empty()) {
      stillNamed.insert(std::move(named));
    }
  }
  removedPages_ = std::move(stillNamed);
  removedPagesCheckAt_ = UINT64_MAX;
}

std::uint32_t UrlTable::findUrl(const ByteString& url) const {
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = std::hash<ByteString>{}(url)&mask; index_[slot] != kNoPosition;
       slot = (slot + 1) & mask) {
    if (url_[index_[slot]] == url) {
      return index_[slot];
    }
  }
  return kNoPosition;
}

void UrlTable::indexPosition(std::uint32_t position) {
  const std::size_t mask = index_.size() - 1;
  std::size_t slot = std::hash<ByteString>{}(url_[position]) & mask;
  while (index_[slot] != kNoPosition) {
    slot = (slot + 1) & mask;
  }
  index_[slot] = position;
}

void UrlTable::rebuildIndex() {
  std::fill(index_.begin(), index_.end(), kNoPosition);
  for (std::uint32_t position = 0; position < count_; ++position) {
    // Only the first of equal URLs is indexed, as a scan in position order would find it.
    if (findUrl(url_[position]) == kNoPosition) {
      indexPosition(position);
    }
  }
}

}  // namespace tarnwick
