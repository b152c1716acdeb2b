#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

UiMessage numbered(std::int32_t n) { return {UiCode::StatusUrlAdded, {}, {}, n, 0}; }

// This thread fills the ring, then hands the producer side to a second thread and
// consumes; a million messages wrap the ring many times.
TEST(UiMessageQueueTest, FullRingDiscardsAndTwoThreadsSeeEveryMessageInOrder) {
  constexpr std::int32_t kHeld = UiMessageQueue::kCapacity - 1, kMessages = 1'000'000;
  UiMessageQueue queue;
  for (std::int32_t n = 0; n < kHeld; ++n) ASSERT_TRUE(queue.push(numbered(n)));
  EXPECT_FALSE(queue.push(numbered(-1)));
  std::thread producer([&] {
    for (std::int32_t n = kHeld; n < kMessages; ++n) queue.pushWaiting(numbered(n));
  });
  int outOfOrder = 0;
  UiMessage out;
  for (std::int32_t next = 0; next < kMessages;)
    outOfOrder += queue.pop(out) && out.value1 != next++;
  producer.join();
  EXPECT_EQ(outOfOrder, 0);
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
  const std::tuple<std::uint32_t, WorkCode, bool> cases[] = {
      {kReserveLeft, WorkCode::LinkFound, true},
      {kReserveLeft + 1, WorkCode::LinkFound, false},
      {kReserveLeft + 1, WorkCode::AddEntry, false},
      {kReserveLeft + 1, WorkCode::FetchRequest, true},
      {kHeld - 1, WorkCode::EntryFailed, true},
      {kHeld, WorkCode::EntryDone, false},
  };
  for (const auto& [held, code, accepted] : cases) {
    SCOPED_TRACE(testing::Message() << "held " << held << " code " << static_cast<int>(code));
    WorkQueue queue;
    for (std::uint32_t i = 0; i < held; ++i) ASSERT_TRUE(queue.post(WorkCode::QuitCrawl));
    bool released = false;
    EXPECT_EQ(queue.post(code, std::make_unique<FlaggedPayload>(released)), accepted);
    EXPECT_EQ(released, !accepted);
    EXPECT_EQ(queue.size(), held + (accepted ? 1u : 0u));
  }
}

}  // namespace
}  // namespace tarnwick
