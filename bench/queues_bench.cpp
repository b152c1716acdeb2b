// WorkQueue and UiMessageQueue throughput: batches of messages posted and then taken on
// one thread, and the UiMessageQueue between a producer and a consumer thread.
#include <benchmark/benchmark.h>

#include <memory>
#include <thread>

#include "engine/messages.h"
#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

constexpr int kBatch = 4096;
const ByteString kUrl = "http://www.example-host.test/docs/section042/page0012345.html";

// Range 0: code only; range 1: a LinkFound payload with a 60-byte URL, built and released
// inside the timed loop as the extractor and the filter do.
void BM_WorkQueuePostTake(benchmark::State& state) {
  auto queue = std::make_unique<WorkQueue>();
  const bool withPayload = state.range(0) != 0;
  WorkMessage message;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      std::unique_ptr<WorkPayload> payload;
      if (withPayload) {
        auto link = std::make_unique<LinkFoundPayload>();
        link->url = kUrl;
        payload = std::move(link);
      }
      queue->post(WorkCode::LinkFound, std::move(payload));
    }
    for (int i = 0; i < kBatch; ++i) {
      queue->take(message);
      message.payload.reset();
    }
  }
  if (queue->size() != 0) state.SkipWithError("messages left behind");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
  state.SetLabel(withPayload ? "items = messages, with payload" : "items = messages, code only");
}

UiMessage statusMessage() {
  UiMessage message;
  message.code = UiCode::StatusUrlAdded;
  message.text = kUrl;
  return message;
}

void BM_UiMessageQueueOneThread(benchmark::State& state) {
  auto queue = std::make_unique<UiMessageQueue>();
  const UiMessage message = statusMessage();
  UiMessage out;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) queue->push(message);
    for (int i = 0; i < kBatch; ++i) queue->pop(out);
  }
  if (queue->pop(out)) state.SkipWithError("messages left behind");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
  state.SetLabel("items = messages");
}

// Thread 0 produces and thread 1 consumes the same number of messages per iteration;
// each waits (yielding) when the ring is full or empty.
void BM_UiMessageQueueTwoThreads(benchmark::State& state) {
  // Shared by the two threads; the start of the timed loop is a barrier for both.
  static std::unique_ptr<UiMessageQueue> queue;
  if (state.thread_index() == 0) queue = std::make_unique<UiMessageQueue>();
  const UiMessage message = statusMessage();
  UiMessage out;
  std::int64_t wrongMessages = 0;
  for (auto _ : state) {
    if (state.thread_index() == 0) {
      for (int i = 0; i < kBatch; ++i) queue->pushWaiting(message);
    } else {
      for (int i = 0; i < kBatch; ++i) {
        while (!queue->pop(out)) std::this_thread::yield();
        wrongMessages += out.text != kUrl;
      }
    }
  }
  if (wrongMessages != 0) state.SkipWithError("a message arrived damaged");
  if (state.thread_index() == 0) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
    state.SetLabel("items = messages handed over");
  }
}

BENCHMARK(BM_WorkQueuePostTake)->Arg(0)->Arg(1);
BENCHMARK(BM_UiMessageQueueOneThread);
BENCHMARK(BM_UiMessageQueueTwoThreads)->Threads(2)->UseRealTime();

}  // namespace
}  // namespace tarnwick
