#include "engine/crawl_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <thread>
#include <tuple>
#include <utility>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"
#include "support/crawl_run.h"

namespace tarnwick {
namespace {

// The idle end and the order of a run's reports are tested on whole crawls (crawl session
// tests); what is left to the worker alone is a run that cannot go on, and a fetch that
// goes on beside the loop after the loop has idled.
TEST(CrawlWorkerTest, RunWithoutMemoryStillEndsSayingWhy) {
  struct NoMemory final : CrawlComponentFactory {
    std::unique_ptr<Fetcher> makeFetcher(WorkQueue&, UiMessageQueue&, const CrawlJob&,
                                         const UrlTable&) override {
      throw std::bad_alloc();
    }
    std::unique_ptr<Extractor> makeExtractor(WorkQueue&, const CrawlJob&) override {
      return nullptr;
    }
  } noMemory;
  const auto statuses = testing::runCrawl(testing::crawlJob("http://h/", 3, {2}), noMemory);
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(std::tie(statuses[0].code, statuses[0].value1, statuses[0].detail),
            std::tuple(UiCode::StatusFinished, 1, ByteString("out of memory")));
}

// The start arrives after the loop has found the fetcher idle; the fetch it starts ends only
// in advance(), which the loop must still call when it has no work.
TEST(CrawlWorkerTest, AFetchStartedAfterAnIdleSpellIsCarriedOn) {
  struct BesideTheLoop final : Fetcher {
    explicit BesideTheLoop(WorkQueue& queue, int& fetched) : work(queue), fetched(fetched) {}
    bool isBusy() const override { return id >= 0; }
    void fetch(const FetchRequestPayload& request) override { id = request.id; }
    void advance(std::chrono::milliseconds) override {
      if (id < 0) return;
      auto done = std::make_unique<EntryDonePayload>();
      done->id = std::exchange(id, -1);
      work.post(WorkCode::EntryDone, std::move(done));
      ++fetched;
    }
    void stop() override { id = -1; }
    WorkQueue& work;
    int& fetched;
    std::int32_t id = -1;
  };
  struct Components final : CrawlComponentFactory {
    std::unique_ptr<Fetcher> makeFetcher(WorkQueue& queue, UiMessageQueue&, const CrawlJob&,
                                         const UrlTable&) override {
      return std::make_unique<BesideTheLoop>(queue, fetched);
    }
    std::unique_ptr<Extractor> makeExtractor(WorkQueue&, const CrawlJob&) override {
      return nullptr;
    }
    int fetched = 0;
  } components;
  UiMessageQueue status, control;
  CrawlJob job = testing::crawlJob("http://h/a.gif", 0, {2});
  job.statusQueue = &status;
  job.controlQueue = &control;
  std::thread worker([&] { CrawlWorker(job, components).run(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  control.push({UiCode::ControlStart, {}, {}, 0, 0});
  bool stopped = false;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (UiMessage m; !(status.pop(m) && m.code == UiCode::StatusFinished);) {
    if (!stopped && std::chrono::steady_clock::now() > giveUp) {
      stopped = control.push({UiCode::ControlStop, {}, {}, 0, 0});
    }
  }
  worker.join();
  EXPECT_FALSE(stopped) << "the crawl did not end by itself";
  EXPECT_EQ(components.fetched, 1);
}

}  // namespace
}  // namespace tarnwick
