#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/messages.h"
#include "engine/raw_slot.h"

namespace tarnwick {

// Lock-free ring of 65,536 UiMessages between exactly one producer thread and one
// consumer thread. Holds at most 65,535 messages; a push to a full ring is discarded.
// Only the producer writes the slots and writeIndex, only the consumer readIndex;
// each side publishes its index with release and reads the other's with acquire.
class UiMessageQueue {
 public:
  static constexpr std::uint32_t kCapacity = 65536;

  UiMessageQueue();  // allocates every slot; throws std::bad_alloc when it cannot
  ~UiMessageQueue();
  UiMessageQueue(const UiMessageQueue&) = delete;
  UiMessageQueue& operator=(const UiMessageQueue&) = delete;

  // Producer side. Returns false when the message was discarded because the ring is full.
  bool push(const UiMessage& message);
  // Producer side: waits (yielding) until there is room; for the one message that must
  // never be lost, the end of a run.
  void pushWaiting(const UiMessage& message);
  // Consumer side. False when empty; the check is inline for the crawl loop's idle passes.
  bool pop(UiMessage& out) {
    const std::uint32_t read = readIndex_.load(std::memory_order_relaxed);
    if (read == writeIndex_.load(std::memory_order_acquire)) return false;
    popAt(read, out);
    return true;
  }

 private:
  void popAt(std::uint32_t read, UiMessage& out);

  // Raw room for every slot; a message is built in its slot when pushed and destroyed when
  // popped, so the room is only touched as it is used.
  std::unique_ptr<RawSlot<UiMessage>[]> slots_;
  alignas(64) std::atomic<std::uint32_t> readIndex_{0};
  alignas(64) std::atomic<std::uint32_t> writeIndex_{0};
};

}  // namespace tarnwick
