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

// The step between the nodes of a Fenwick tree.
std::size_t lowestBit(std::size_t i) { return i & (~i + 1); }

}  // namespace

UrlTable::UrlTable(WorkQueue& workQueue, UiMessageQueue& statusQueue, std::uint32_t capacity,
                   std::size_t urlBytesBudget)
    : workQueue_(workQueue),
      statusQueue_(statusQueue),
      capacity_(capacity),
      positions_(capacity + capacity / 4),
      urlBytesBudget_(urlBytesBudget),
      // At most half full of entries held (five eighths with the removed ones not yet packed
      // away), so a probe for a missing URL stays short.
      index_(std::bit_ceil(2 * static_cast<std::size_t>(capacity)), kNoPosition) {
  // Room for every entry at once, filled as entries come: memory that is never touched
  // costs nothing, and a crawl starts at once.
  std::apply([&](auto&... column) { (column.reserve(positions_), ...); }, columns());
  firstDoneChild_.reserve(positions_);
  nextDoneSibling_.reserve(positions_);
  heldCount_.reserve(positions_);
}

std::uint32_t UrlTable::add(std::uint8_t depth, const ByteString& url, std::int32_t parent,
                            SharedUrl referrer, std::int32_t flags, std::int32_t done,
                            std::uint32_t minSize) {
  if (!hasRoomFor(url)) {
    compact();
  }
  const std::uint32_t held = findUrl(url);
  if (held != kNoPosition) {
    ++refCount_[held];
    return held_;
  }
  if (!hasRoomFor(url)) {
    return held_;  // nothing could be removed: the URL is dropped and the crawl goes on
  }
  if (count_ == positions_) {
    copyDownKeptEntries();
  }
  const std::uint32_t n = count_++;
  const std::uint32_t heldBefore = held_++;
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
  firstDoneChild_.push_back(kNoPosition);
  nextDoneSibling_.push_back(kNoPosition);
  heldCount_.append();
  indexPosition(n);
  if (done != 0 || flags == 0) {
    noteFinished(n);
  }
  dispatch();
  return heldBefore;
}

bool UrlTable::hasRoomFor(const ByteString& url) const {
  return held_ < capacity_ && heldBytes_ + urlCost(url) <= urlBytesBudget_;
}

void UrlTable::markDone(std::int32_t id, const ByteString& url) {
  const std::uint32_t position = positionOfId(id);
  if (position != kNoPosition) {
    const bool finishes = !isDone(position);
    state_[position] |= kDone;
    if (url_[position] != url) {
      heldBytes_ += urlCost(url) - urlCost(url_[position]);
      url_[position] = url;
      rebuildIndex();
    }
    if (finishes) {
      noteFinished(position);
    }
  }
  finishFetch();
}

void UrlTable::markFailed(std::int32_t id) {
  const std::uint32_t position = positionOfId(id);
  if (position != kNoPosition) {
    state_[position] |= kDone;
    flags_[position] = 0;
    noteFinished(position);
  }
  finishFetch();
}

void UrlTable::start() {
  running_ = true;
  dispatch();
}

void UrlTable::finishFetch() {
  outstanding_ = false;
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
  if (found == end || *found != id) {
    return kNoPosition;
  }
  const auto position = static_cast<std::uint32_t>(found - begin);
  return isRemoved(position) ? kNoPosition : position;
}

// Removes what a marking pass over every entry would: the entries with flags 0, and every
// finished descendant of those and of the finished pages linked once that stand in the older
// half (such a page keeps its own entry). Only an entry with children finished since it was
// last looked at can have such descendants left, so only those are visited.
void UrlTable::compact() {
  if (failed_.empty() && waiting_.empty()) {
    return;
  }
  const std::int32_t newerHalfStart = id_[heldCount_.positionOfRank(held_ / 2)];
  std::vector<std::uint32_t> parents;
  for (const std::int32_t id : failed_) {
    const std::uint32_t position = positionOfId(id);
    if (position != kNoPosition) {
      remove(position);
      parents.push_back(position);
    }
  }
  failed_.clear();
  for (auto entry = waiting_.begin(); entry != waiting_.end() && *entry < newerHalfStart;
       entry = waiting_.erase(entry)) {
    const std::uint32_t position = positionOfId(*entry);
    state_[position] &= ~kWaiting;
    if ((flags_[position] & CrawlFlags::FollowLinks) != 0 && refCount_[position] == 1 &&
        isDone(position)) {
      parents.push_back(position);
    }
  }
  removeFinishedDescendants(parents);
  if (urlsRepeat_) {
    rebuildIndex();  // a later one of equal URLs may have lost the first, which was indexed
  }
}

// Lists a finished entry under its parent, or one with flags 0 for removal.
void UrlTable::noteFinished(std::uint32_t position) {
  if (flags_[position] == 0) {
    failed_.push_back(id_[position]);
    return;
  }
  waitForCompaction(linkToParent(position));
  if (firstDoneChild_[position] != kNoPosition) {
    waitForCompaction(position);  // its children finished first
  }
}

void UrlTable::waitForCompaction(std::uint32_t position) {
  if (position != kNoPosition && (state_[position] & kWaiting) == 0) {
    state_[position] |= kWaiting;
    waiting_.insert(id_[position]);
  }
}

// Returns the parent's position, or kNoPosition when it has none held before the entry: a
// page stands before the links found on it, and the start URL is its own parent.
std::uint32_t UrlTable::linkToParent(std::uint32_t position) {
  const std::uint32_t parent = positionOfId(parent_[position]);
  if (parent >= position) {
    return kNoPosition;
  }
  nextDoneSibling_[position] = firstDoneChild_[parent];
  firstDoneChild_[parent] = position;
  return parent;
}

void UrlTable::removeFinishedDescendants(std::vector<std::uint32_t>& parents) {
  while (!parents.empty()) {
    const std::uint32_t parent = parents.back();
    parents.pop_back();
    for (std::uint32_t child = std::exchange(firstDoneChild_[parent], kNoPosition);
         child != kNoPosition; child = nextDoneSibling_[child]) {
      if (!isRemoved(child)) {
        remove(child);
        parents.push_back(child);
      }
    }
  }
}

// The index keeps the position, which no URL matches, until the next packing.
void UrlTable::remove(std::uint32_t position) {
  heldBytes_ -= urlCost(url_[position]);
  const ByteString released = std::move(url_[position]);  // its text is freed now
  referrer_[position].reset();
  state_[position] |= kDone | kRemoved;
  if ((state_[position] & kWaiting) != 0) {
    waiting_.erase(id_[position]);
  }
  heldCount_.remove(position);
  --held_;
}

// Packs the entries kept into the positions from 0 on, in order.
void UrlTable::copyDownKeptEntries() {
  std::uint32_t write = 0;
  std::uint32_t newCursor = 0;
  for (std::uint32_t read = 0; read < count_; ++read) {
    if (read == cursor_) {
      newCursor = write;
    }
    if (isRemoved(read)) {
      continue;
    }
    if (write != read) {
      std::apply([&](auto&... column) { ((column[write] = std::move(column[read])), ...); },
                 columns());
    }
    ++write;
  }
  std::apply([&](auto&... column) { (column.resize(write), ...); }, columns());
  cursor_ = newCursor;
  count_ = write;
  heldCount_.setAllHeld(write);
  firstDoneChild_.assign(write, kNoPosition);
  nextDoneSibling_.assign(write, kNoPosition);
  for (std::uint32_t position = 0; position < count_; ++position) {
    if (isDone(position) && flags_[position] != 0) {
      linkToParent(position);
    }
  }
  rebuildIndex();
}

void UrlTable::HeldCount::append() {
  // The new node covers positions i - lowestBit(i) + 1 to i (from 1), the new one included.
  const std::size_t i = tree_.size() + 1;
  std::uint32_t held = 1;
  for (std::size_t j = i - 1; j > i - lowestBit(i); j -= lowestBit(j)) {
    held += tree_[j - 1];
  }
  tree_.push_back(held);
}

void UrlTable::HeldCount::remove(std::uint32_t position) {
  for (std::size_t i = position + std::size_t{1}; i <= tree_.size(); i += lowestBit(i)) {
    --tree_[i - 1];
  }
}

void UrlTable::HeldCount::setAllHeld(std::uint32_t positions) {
  tree_.clear();
  for (std::size_t i = 1; i <= positions; ++i) {
    tree_.push_back(static_cast<std::uint32_t>(lowestBit(i)));
  }
}

std::uint32_t UrlTable::HeldCount::positionOfRank(std::uint32_t rank) const {
  std::size_t position = 0;  // the positions before it hold no more than `rank` entries
  for (std::size_t step = std::bit_floor(tree_.size()); step != 0; step /= 2) {
    if (position + step <= tree_.size() && tree_[position + step - 1] <= rank) {
      position += step;
      rank -= tree_[position - 1];
    }
  }
  return static_cast<std::uint32_t>(position);
}

std::uint32_t UrlTable::findUrl(const ByteString& url) const {
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = std::hash<ByteString>{}(url)&mask; index_[slot] != kNoPosition;
       slot = (slot + 1) & mask) {
    if (url_[index_[slot]] == url && !isRemoved(index_[slot])) {
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
  urlsRepeat_ = false;
  for (std::uint32_t position = 0; position < count_; ++position) {
    if (isRemoved(position)) {
      continue;
    }
    // Only the first of equal URLs is indexed, as a scan in position order would find it; a
    // later one must be indexed once the first is removed.
    if (findUrl(url_[position]) == kNoPosition) {
      indexPosition(position);
    } else {
      urlsRepeat_ = true;
    }
  }
}

}  // namespace tarnwick
