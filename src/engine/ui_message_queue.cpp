#include "engine/ui_message_queue.h"

#include <thread>

namespace tarnwick {

namespace {
constexpr std::uint32_t kIndexMask = UiMessageQueue::kCapacity - 1;
}  // namespace

UiMessageQueue::UiMessageQueue()
    : slots_(std::make_unique_for_overwrite<RawSlot<UiMessage>[]>(kCapacity)) {}

UiMessageQueue::~UiMessageQueue() {
  for (UiMessage out; pop(out);) {
  }
}

bool UiMessageQueue::push(const UiMessage& message) {
  const std::uint32_t write = writeIndex_.load(std::memory_order_relaxed);
  const std::uint32_t next = (write + 1) & kIndexMask;
  if (next == readIndex_.load(std::memory_order_acquire)) {
    return false;
  }
  slots_[write].construct(message);
  writeIndex_.store(next, std::memory_order_release);
  return true;
}

void UiMessageQueue::pushWaiting(const UiMessage& message) {
  while (!push(message)) {
    std::this_thread::yield();
  }
}

void UiMessageQueue::popAt(std::uint32_t read, UiMessage& out) {
  out = slots_[read].take();
  readIndex_.store((read + 1) & kIndexMask, std::memory_order_release);
}

}  // namespace tarnwick
