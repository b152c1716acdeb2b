#include "engine/url_table.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <memory>
#include <utility>

#include "engine/ui_message_queue.h"
#include "engine/url_text.h"
#include "engine/work_queue.h"

namespace tarnwick {

namespace {

constexpr std::uint8_t kKeepWithoutFinishedChildren = 1;
constexpr std::uint8_t kRemove = 2;

}  // namespace

UrlTable::UrlTable(WorkQueue& workQueue, UiMessageQueue& statusQueue, std::uint32_t capacity,
                   std::size_t urlBytesBudget)
    : workQueue_(workQueue),
      statusQueue_(statusQueue),
      capacity_(capacity),
      urlBytesBudget_(urlBytesBudget),
      // At most half full, so a probe for a missing URL stays short.
      index_(std::bit_ceil(2 * static_cast<std::size_t>(capacity)), kNoPosition) {
  // Room for every entry at once, filled as entries come: memory that is never touched
  // costs nothing, and a crawl starts at once.
  std::apply([&](auto&... column) { (column.reserve(capacity), ...); }, columns());
}

std::uint32_t UrlTable::add(std::uint8_t depth, const ByteString& url, std::int32_t parent,
                            SharedUrl referrer, std::int32_t flags, std::int32_t done,
                            std::uint32_t minSize) {
  if (!hasRoomFor(url) && compactionMayFree_) {
    compact();
  }
  const std::uint32_t held = findUrl(url);
  if (held != kNoPosition) {
    ++refCount_[held];
    return count_;
  }
  if (!hasRoomFor(url)) {
    return count_;  // nothing could be removed: the URL is dropped and the crawl goes on
  }
  const std::uint32_t n = count_++;
  statusQueue_.push({UiCode::StatusUrlAdded, withPasswordHidden(url), {}, 0, 0});

  depth_.push_back(depth);
  url_.push_back(url);
  heldBytes_ += urlCost(url);
  parent_.push_back(parent);
  referrer_.push_back(std::move(referrer));
  flags_.push_back(flags);
  minSize_.push_back(minSize);
  state_.push_back(done != 0 ? kDone : 0);
  refCount_.push_back(1);
  id_.push_back(nextId_++);
  indexPosition(n);
  compactionMayFree_ = compactionMayFree_ || done != 0;
  dispatch();
  return n;
}

bool UrlTable::hasRoomFor(const ByteString& url) const {
  return count_ < capacity_ && heldBytes_ + urlCost(url) <= urlBytesBudget_;
}

void UrlTable::markDone(std::int32_t id, const ByteString& url) {
  const std::uint32_t position = positionOfId(id);
  if (position != kNoPosition) {
    state_[position] |= kDone;
    if (url_[position] != url) {
      heldBytes_ += urlCost(url) - urlCost(url_[position]);
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
  while (cursor_ != count_ && isDone(cursor_)) {
    ++cursor_;
  }
  if (cursor_ != count_) {
    outstanding_ = true;
    workQueue_.post(WorkCode::FetchRequest,
                    std::make_unique<FetchRequestPayload>(requestFor(cursor_)));
  }
}

std::optional<FetchRequestPayload> UrlTable::entryAfter(std::int32_t id) const {
  const auto begin = id_.begin();
  auto position = static_cast<std::uint32_t>(std::upper_bound(begin, begin + count_, id) - begin);
  while (position < count_ && isDone(position)) ++position;
  if (position == count_) return std::nullopt;
  return requestFor(position);
}

FetchRequestPayload UrlTable::requestFor(std::uint32_t position) const {
  FetchRequestPayload request;
  request.id = id_[position];
  request.depth = depth_[position];
  request.url = url_[position];
  request.referrer = referrer_[position] ? *referrer_[position] : url_[position];
  request.flags = flags_[position];
  request.minSize = minSize_[position];
  return request;
}

std::uint32_t UrlTable::positionOfId(std::int32_t id) const {
  const auto begin = id_.begin();
  const auto end = begin + count_;
  const auto found = std::lower_bound(begin, end, id);
  return found != end && *found == id ? static_cast<std::uint32_t>(found - begin) : kNoPosition;
}

void UrlTable::compact() {
  std::vector<std::uint8_t> marks(count_);
  markForRemoval(marks);
  const std::uint32_t removed = copyDownKeptEntries(marks);
  compactionMayFree_ = removed != 0;
  if (removed != 0) {
    rebuildIndex();
  }
}

void UrlTable::markForRemoval(std::vector<std::uint8_t>& marks) const {
  const std::uint32_t olderHalf = count_ / 2;
  for (std::uint32_t i = 0; i < count_; ++i) {
    // A page stands before its links, so the parent's mark is settled; the start URL is
    // its own parent and reads as unmarked.
    const std::uint32_t parent = positionOfId(parent_[i]);
    const bool parentMarked = parent < i && marks[parent] != 0;
    std::uint8_t mark = 0;
    if ((parentMarked && isDone(i)) || flags_[i] == 0) {
      mark = kRemove;
    } else if ((flags_[i] & CrawlFlags::FollowLinks) != 0 && refCount_[i] == 1 && isDone(i) &&
               i < olderHalf) {
      mark = kKeepWithoutFinishedChildren;
    }
    marks[i] = mark;
  }
}

std::uint32_t UrlTable::copyDownKeptEntries(const std::vector<std::uint8_t>& marks) {
  std::uint32_t write = 0;
  std::uint32_t newCursor = 0;
  for (std::uint32_t read = 0; read < count_; ++read) {
    if (read == cursor_) {
      newCursor = write;
    }
    if (marks[read] == kRemove) {
      heldBytes_ -= urlCost(url_[read]);
      continue;
    }
    if (write != read) {
      std::apply([&](auto&... column) { ((column[write] = std::move(column[read])), ...); },
                 columns());
    }
    ++write;
  }
  const std::uint32_t removed = count_ - write;
  std::apply([&](auto&... column) { (column.resize(write), ...); }, columns());
  cursor_ = newCursor;
  count_ = write;
  return removed;
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
