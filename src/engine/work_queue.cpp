#include "engine/work_queue.h"

namespace tarnwick {

namespace {

constexpr std::uint32_t kIndexMask = WorkQueue::kCapacity - 1;

// Link traffic may be dropped early; the fetch protocol must never be.
bool isLinkTraffic(WorkCode code) {
  return code == WorkCode::LinkFound || code == WorkCode::AddEntry;
}

}  // namespace

WorkQueue::WorkQueue() : slots_(kCapacity) {}

bool WorkQueue::post(WorkCode code, std::unique_ptr<WorkPayload> payload) {
  const std::uint32_t freeSlots = kCapacity - 1 - size();
  if (freeSlots == 0 || (isLinkTraffic(code) && freeSlots < kProtocolReserve)) {
    return false;  // `payload` is released on return
  }
  slots_[writeIndex_] = WorkMessage{code, std::move(payload)};
  writeIndex_ = (writeIndex_ + 1) & kIndexMask;
  return true;
}

bool WorkQueue::take(WorkMessage& out) {
  if (readIndex_ == writeIndex_) {
    return false;
  }
  out = std::move(slots_[readIndex_]);
  readIndex_ = (readIndex_ + 1) & kIndexMask;
  ++takenCount_;
  return true;
}

std::uint32_t WorkQueue::size() const { return (writeIndex_ - readIndex_) & kIndexMask; }

}  // namespace tarnwick
