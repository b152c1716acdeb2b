#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

#include "engine/messages.h"
#include "text/byte_string.h"

namespace tarnwick {

class WorkQueue;
class UiMessageQueue;

// The crawl's memory of URLs: enters each one once in order of arrival, issues one
// FetchRequest at a time for the earliest unfinished entry once started, and compacts
// itself when full by dropping finished entries that are no longer needed.
//
// Entries are named by ids that survive compaction (before the first compaction an id is
// the entry's position), so parent ids in later AddEntry messages and the id of a fetch
// that is out stay valid. Each entry keeps its referrer, shared with the links found beside
// it. Worker thread only.
//
// The entries after the one being fetched can be read, for fetching them ahead of their
// turn; only FetchRequest results count.
//
// Compaction costs what changed since the last one, not the size of the table: a finished
// entry is listed under its parent, whose id waits until a compaction counts it in the
// older half; removed entries keep their place, as finished, until the positions run out and
// the entries kept are packed together.
class UrlTable {
 public:
  static constexpr std::uint32_t kCapacity = 524288;
  // URL text held beyond this is treated like a full table.
  static constexpr std::size_t kUrlBytesBudget = std::size_t{256} << 20;

  // Allocates every array at once; throws std::bad_alloc when it cannot.
  UrlTable(WorkQueue& workQueue, UiMessageQueue& statusQueue, std::uint32_t capacity = kCapacity,
           std::size_t urlBytesBudget = kUrlBytesBudget);
  UrlTable(const UrlTable&) = delete;
  UrlTable& operator=(const UrlTable&) = delete;

  // Enters `url`, or counts one more reference to it when already held. A URL that finds
  // the table full even after compaction is dropped. Returns the entries held before the
  // call (after any compaction).
  std::uint32_t add(std::uint8_t depth, const ByteString& url, std::int32_t parent,
                    SharedUrl referrer, std::int32_t flags, std::int32_t done,
                    std::uint32_t minSize);
  void markDone(std::int32_t id, const ByteString& url);
  void markFailed(std::int32_t id);
  void start();
  // The first unfinished entry with an id above `id`, as the FetchRequest that fetches it.
  std::optional<FetchRequestPayload> entryAfter(std::int32_t id) const;

  std::uint32_t size() const { return held_; }

 private:
  static constexpr std::uint32_t kNoPosition = UINT32_MAX;

  // Bits of an entry's state byte.
  static constexpr std::uint8_t kDone = 1;
  static constexpr std::uint8_t kRemoved = 2;  // its place is free at the next packing
  static constexpr std::uint8_t kWaiting = 4;  // its id is in waiting_

  void dispatch();
  FetchRequestPayload requestFor(std::uint32_t position) const;
  void finishFetch();
  bool hasRoomFor(const ByteString& url) const;
  std::uint32_t positionOfId(std::int32_t id) const;
  bool isDone(std::uint32_t position) const { return (state_[position] & kDone) != 0; }
  bool isRemoved(std::uint32_t position) const { return (state_[position] & kRemoved) != 0; }
  // The per-entry arrays, for what is done to all of them alike.
  auto columns() {
    return std::tie(depth_, url_, parent_, referrer_, flags_, minSize_, state_, refCount_, id_);
  }

  void compact();
  void noteFinished(std::uint32_t position);
  std::uint32_t linkToParent(std::uint32_t position);
  void waitForCompaction(std::uint32_t position);
  void removeFinishedDescendants(std::vector<std::uint32_t>& parents);
  void remove(std::uint32_t position);
  void copyDownKeptEntries();

  // Entries held, counted over positions in a Fenwick tree: the position of the k-th is
  // found without counting them all.
  class HeldCount {
   public:
    void reserve(std::uint32_t positions) { tree_.reserve(positions); }
    void append();
    void remove(std::uint32_t position);
    void setAllHeld(std::uint32_t positions);
    std::uint32_t positionOfRank(std::uint32_t rank) const;

   private:
    std::vector<std::uint32_t> tree_;
  };

  // Open-addressing index from URL text to the first position that holds it.
  std::uint32_t findUrl(const ByteString& url) const;
  void indexPosition(std::uint32_t position);
  void rebuildIndex();

  WorkQueue& workQueue_;
  UiMessageQueue& statusQueue_;
  const std::uint32_t capacity_;
  const std::uint32_t positions_;  // capacity_ and room for removed entries between packings
  const std::size_t urlBytesBudget_;

  std::vector<std::uint8_t> depth_;
  std::vector<ByteString> url_;
  std::vector<std::int32_t> parent_;  // id of the page on which the link was found
  std::vector<SharedUrl> referrer_;
  std::vector<std::int32_t> flags_;
  std::vector<std::uint32_t> minSize_;
  std::vector<std::uint8_t> state_;
  std::vector<std::int32_t> refCount_;
  std::vector<std::int32_t> id_;  // ascending, as entries keep their order of arrival
  std::vector<std::uint32_t> index_;
  // Each entry's finished children, as a list through the children's positions.
  std::vector<std::uint32_t> firstDoneChild_;
  std::vector<std::uint32_t> nextDoneSibling_;
  HeldCount heldCount_;

  std::uint32_t cursor_ = 0;
  std::uint32_t count_ = 0;  // positions in use, removed entries included
  std::uint32_t held_ = 0;   // entries not removed
  bool outstanding_ = false;
  bool running_ = false;
  std::int32_t nextId_ = 0;
  std::size_t heldBytes_ = 0;
  // Ids of entries with children finished since the entry was last looked at, in order: the
  // first compaction that counts one in the older half looks at it.
  std::set<std::int32_t> waiting_;
  std::vector<std::int32_t> failed_;  // ids of entries with flags 0, removed however old
  bool urlsRepeat_ = false;           // a reported URL equals another entry's
};

}  // namespace tarnwick
