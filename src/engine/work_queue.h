#pragma once

#include <cstdint>
#include <memory>

#include "engine/messages.h"
#include "engine/raw_slot.h"

namespace tarnwick {

// The engine's own ring of 262,144 work messages; used by the worker thread alone.
// Holds at most 262,143 messages. A message offered to a full ring is discarded with
// its payload. Link traffic (LinkFound, AddEntry) is discarded already when fewer than
// kProtocolReserve slots are free, so the fetch protocol always finds room, and when the
// text it holds would take the link traffic waiting past kLinkBytesBudget.
class WorkQueue {
 public:
  static constexpr std::uint32_t kCapacity = 262144;
  static constexpr std::uint32_t kProtocolReserve = 1024;
  static constexpr std::size_t kLinkBytesBudget = std::size_t{128} << 20;

  WorkQueue();  // allocates every slot; throws std::bad_alloc when it cannot
  ~WorkQueue();
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // Takes ownership of `payload`; returns false when the message was discarded.
  bool post(WorkCode code, std::unique_ptr<WorkPayload> payload = nullptr);
  // Moves the oldest message out; false when empty. Inline, as the crawl loop's idle
  // passes are mostly this check.
  bool take(WorkMessage& out) {
    if (readIndex_ == writeIndex_) return false;
    takeOldest(out);
    return true;
  }
  std::uint32_t size() const;

 private:
  void takeOldest(WorkMessage& out);

  std::unique_ptr<RawSlot<WorkMessage>[]> slots_;  // built when posted, destroyed when taken
  std::uint32_t readIndex_ = 0;
  std::uint32_t writeIndex_ = 0;
  std::size_t linkBytes_ = 0;  // heldBytes of the link traffic waiting
};

}  // namespace tarnwick
