#include "engine/work_queue.h"

namespace tarnwick {

namespace {

constexpr std::uint32_t kIndexMask = WorkQueue::kCapacity - 1;

// Link traffic may be dropped early; the fetch protocol must never be.
bool isLinkTraffic(WorkCode code) {
  return code == WorkCode::LinkFound || code == WorkCode::AddEntry;
}

std::size_t linkBytesOf(const WorkMessage& message) {
  return isLinkTraffic(message.code) && message.payload ? message.payload->heldBytes() : 0;
}

}  // namespace

WorkQueue::WorkQueue()
    : slots_(std::make_unique_for_overwrite<RawSlot<WorkMessage>[]>(kCapacity)) {}

WorkQueue::~WorkQueue() {
  for (WorkMessage out; take(out);) {
  }
}

bool WorkQueue::post(WorkCode code, std::unique_ptr<WorkPayload> payload) {
  const std::uint32_t freeSlots = kCapacity - 1 - size();
  WorkMessage message{code, std::move(payload)};
  const std::size_t bytes = linkBytesOf(message);
  if (freeSlots == 0 || (isLinkTraffic(code) &&
                         (freeSlots < kProtocolReserve || linkBytes_ + bytes > kLinkBytesBudget))) {
    return false;  // the payload is released on return
  }
  linkBytes_ += bytes;
  slots_[writeIndex_].construct(std::move(message));
  writeIndex_ = (writeIndex_ + 1) & kIndexMask;
  return true;
}

void WorkQueue::takeOldest(WorkMessage& out) {
  out = slots_[readIndex_].take();
  readIndex_ = (readIndex_ + 1) & kIndexMask;
  linkBytes_ -= linkBytesOf(out);
}

std::uint32_t WorkQueue::size() const { return (writeIndex_ - readIndex_) & kIndexMask; }

}  // namespace tarnwick
