// How long a finished crawl takes to notice that it is finished: from the last EntryDone
// to StatusFinished, on a crawl whose fetcher is a stand-in that answers at once. The end
// is the idle rule's count of empty passes, so the worker thread's CPU time is the figure
// to read; its wall time is reported beside it.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "engine/crawl_worker.h"
#include "engine/download_filter.h"
#include "engine/link_extractor.h"
#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

constexpr int kImages = 20;

struct Instant {
  double cpuSeconds = 0;
  std::chrono::steady_clock::time_point wall;

  static Instant now() {
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return {static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) * 1e-9,
            std::chrono::steady_clock::now()};
  }
};

// Answers every request at once: the start page comes back with kImages image links, every
// other URL is simply done. Notes when it posted its last EntryDone.
class InstantFetcher final : public Fetcher {
 public:
  InstantFetcher(WorkQueue& workQueue, Instant& lastDone)
      : workQueue_(workQueue), lastDone_(lastDone) {}

  bool isBusy() const override { return false; }

  void fetch(const FetchRequestPayload& request) override {
    if ((request.flags & CrawlFlags::FollowLinks) != 0) {
      auto page = std::make_unique<PageFetchedPayload>();
      page->id = request.id;
      page->depth = request.depth;
      page->url = request.url;
      std::string text;
      for (int i = 0; i < kImages; ++i) text += "<img src=\"p" + std::to_string(i) + ".jpg\">";
      page->pageText = ByteString(std::move(text));
      workQueue_.post(WorkCode::PageFetched, std::move(page));
    }
    auto done = std::make_unique<EntryDonePayload>();
    done->id = request.id;
    done->url = request.url;
    workQueue_.post(WorkCode::EntryDone, std::move(done));
    lastDone_ = Instant::now();
  }
  // Every fetch ends within fetch(): nothing goes on beside the loop.
  void advance(std::chrono::milliseconds) override {}
  void stop() override {}

 private:
  WorkQueue& workQueue_;
  Instant& lastDone_;
};

class InstantComponents final : public CrawlComponentFactory {
 public:
  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& workQueue, UiMessageQueue&, const CrawlJob&,
                                       const UrlTable&) override {
    return std::make_unique<InstantFetcher>(workQueue, lastDone);
  }
  std::unique_ptr<Extractor> makeExtractor(WorkQueue& workQueue, const CrawlJob&) override {
    return std::make_unique<LinkExtractor>(workQueue);
  }

  Instant lastDone;
};

void BM_CrawlIdleEnd(benchmark::State& state) {
  double wallSeconds = 0;
  int imagesAdded = 0;
  for (auto _ : state) {
    auto statusQueue = std::make_unique<UiMessageQueue>();
    auto controlQueue = std::make_unique<UiMessageQueue>();
    CrawlJob job;
    job.maxDepth = 1;
    job.startUrl = "http://127.0.0.1/index.html";
    job.rowCategory[0] = static_cast<std::int32_t>(FileCategory::img);
    job.rowFlags[0] = CrawlFlags::SaveIfAtLeast;
    job.rowCount = 1;
    job.statusQueue = statusQueue.get();
    job.controlQueue = controlQueue.get();
    InstantComponents components;
    Instant finished;
    std::thread worker([&] {
      CrawlWorker(job, components).run();
      finished = Instant::now();  // right after its last act, the push of StatusFinished
    });
    UiMessage start;
    start.code = UiCode::ControlStart;
    controlQueue->push(start);
    worker.join();

    state.SetIterationTime(finished.cpuSeconds - components.lastDone.cpuSeconds);
    wallSeconds += std::chrono::duration<double>(finished.wall - components.lastDone.wall).count();
    imagesAdded = 0;
    for (UiMessage message; statusQueue->pop(message);) {
      imagesAdded +=
          message.code == UiCode::StatusUrlAdded && message.text.view().ends_with(".jpg");
    }
  }
  if (imagesAdded != kImages) state.SkipWithError("the crawl did not reach every image");
  state.counters["wall_ms"] = 1e3 * wallSeconds / static_cast<double>(state.iterations());
  state.SetLabel("time = worker CPU from the last WorkCode::EntryDone to UiCode::StatusFinished");
}

BENCHMARK(BM_CrawlIdleEnd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace tarnwick
