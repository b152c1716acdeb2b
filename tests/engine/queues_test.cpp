#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

UiMessage numbered(std::int32_t n) {
  UiMessage message;
  message.value1 = n;
  return message;
}

TEST(UiMessageQueueTest, FullRingDiscardsTheNewMessageAndKeepsOrderAcrossTheWrap) {
  UiMessageQueue queue;
  constexpr std::int32_t kHeld = UiMessageQueue::kCapacity - 1;
  UiMessage out;
  for (std::int32_t n = 0; n < kHeld; ++n) ASSERT_TRUE(queue.push(numbered(n)));
  EXPECT_FALSE(queue.push(numbered(-1)));
  ASSERT_TRUE(queue.pop(out));
  EXPECT_TRUE(queue.push(numbered(kHeld)));  // the write index wraps to slot 0
  for (std::int32_t n = 1; n <= kHeld; ++n) {
    ASSERT_TRUE(queue.pop(out));
    ASSERT_EQ(out.value1, n);
  }
  EXPECT_FALSE(queue.pop(out));
}

TEST(UiMessageQueueTest, TwoThreadsSeeEveryMessageInOrder) {
  constexpr std::int32_t kMessages = 1'000'000;
  UiMessageQueue queue;
  std::thread producer([&] {
    for (std::int32_t n = 0; n < kMessages; ++n) queue.pushWaiting(numbered(n));
  });
  UiMessage out;
  for (std::int32_t expected = 0; expected < kMessages;) {
    if (queue.pop(out)) {
      ASSERT_EQ(out.value1, expected++);
    }
  }
  producer.join();
  EXPECT_FALSE(queue.pop(out));
}

struct FlaggedPayload final : WorkPayload {
  explicit FlaggedPayload(bool& released) : released(released) {}
  ~FlaggedPayload() override { released = true; }
  bool& released;
};

TEST(WorkQueueTest, FullRingAndLinkReserveDiscardTheNewMessageWithItsPayload) {
  constexpr std::uint32_t kHeld = WorkQueue::kCapacity - 1;
  constexpr std::uint32_t kReserveLeft = kHeld - WorkQueue::kProtocolReserve;
  const struct {
    std::uint32_t alreadyHeld;
    std::int32_t code;
    bool accepted;
  } cases[] = {
      {kReserveLeft, LinkFound, true},     {kReserveLeft + 1, LinkFound, false},
      {kReserveLeft + 1, AddEntry, false}, {kReserveLeft + 1, FetchRequest, true},
      {kHeld - 1, EntryFailed, true},      {kHeld, EntryDone, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "held " << c.alreadyHeld << " code " << c.code);
    WorkQueue queue;
    for (std::uint32_t i = 0; i < c.alreadyHeld; ++i) ASSERT_TRUE(queue.post(QuitCrawl));
    bool released = false;
    EXPECT_EQ(queue.post(c.code, std::make_unique<FlaggedPayload>(released)), c.accepted);
    EXPECT_EQ(released, !c.accepted);
    EXPECT_EQ(queue.size(), c.alreadyHeld + (c.accepted ? 1u : 0u));
  }
}

}  // namespace
}  // namespace tarnwick
