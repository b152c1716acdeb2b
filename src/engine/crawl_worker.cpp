#include "engine/crawl_worker.h"

#include <chrono>
#include <exception>
#include <memory>
#include <new>

#include "engine/download_filter.h"
#include "engine/ui_message_queue.h"
#include "engine/url_table.h"
#include "engine/work_queue.h"

namespace tarnwick {

namespace {

// Transfers that go on beside the loop are carried on after this many passes that took
// work, and waited for when a pass finds none while a fetch is under way.
constexpr std::uint32_t kPassesBetweenAdvances = 32;
constexpr auto kNetworkWait = std::chrono::milliseconds(50);

// Consecutive passes without work after which a running crawl ends by itself.
constexpr std::uint32_t kIdlePassLimit = 10'000'000;

// The engine of one run, built from the job. Members are destroyed in reverse order:
// extractor, fetcher, filter, table, work queue.
struct Engine {
  Engine(const CrawlJob& job, CrawlComponentFactory& components)
      : table(workQueue, *job.statusQueue),
        filter(workQueue),
        fetcher(components.makeFetcher(workQueue, *job.statusQueue, job, table)),
        extractor(components.makeExtractor(workQueue, job)) {}

  WorkQueue workQueue;
  UrlTable table;
  DownloadFilter filter;
  std::unique_ptr<Fetcher> fetcher;
  std::unique_ptr<Extractor> extractor;
};

void configureFilter(DownloadFilter& filter, const CrawlJob& job) {
  filter.setMaxDepth(job.maxDepth);
  filter.setAllowHttps(job.allowHttps);
  for (std::uint32_t row = 0; row < job.rowCount && row < kMaxDownloadRows; ++row) {
    filter.setCategory(static_cast<std::uint32_t>(job.rowCategory[row]), job.rowMinSize[row],
                       job.rowFlags[row] & ~CrawlFlags::FollowLinks, 1);
  }
}

enum class Pass { Continue, Leave };

// Hands one work message to the component that handles it.
Pass handleWork(Engine& engine, WorkMessage& message) {
  if (message.code == WorkCode::QuitCrawl) {
    return Pass::Leave;
  }
  if (!message.payload) {
    return Pass::Continue;  // every other handled code carries a payload
  }
  switch (message.code) {
    case WorkCode::FetchRequest:
      if (engine.fetcher->isBusy()) {
        engine.workQueue.post(WorkCode::FetchRequest, std::move(message.payload));
      } else {
        engine.fetcher->fetch(message.as<FetchRequestPayload>());
      }
      break;
    case WorkCode::EntryDone: {
      const auto& done = message.as<EntryDonePayload>();
      engine.table.markDone(done.id, done.url);
      break;
    }
    case WorkCode::EntryFailed:
      engine.table.markFailed(message.as<EntryFailedPayload>().id);
      break;
    case WorkCode::PageFetched: {
      const auto& page = message.as<PageFetchedPayload>();
      engine.extractor->extractLinks(page.id, page.depth, page.url, page.pageText);
      break;
    }
    case WorkCode::LinkFound: {
      const auto& link = message.as<LinkFoundPayload>();
      engine.filter.classify(link.depth, link.url, link.parent, link.referrer);
      break;
    }
    case WorkCode::AddEntry: {
      const auto& entry = message.as<AddEntryPayload>();
      engine.table.add(entry.depth, entry.url, entry.parent, entry.referrer, entry.flags,
                       entry.done, entry.minSize);
      break;
    }
    default:
      break;
  }
  return Pass::Continue;
}

// Runs until ControlStop, or until a running crawl has found no work for kIdlePassLimit
// passes while the fetcher is idle. An empty pass reads two ring indices (inline) and asks
// whether the fetcher is busy, so an idle crawl ends soon after its last work; a fetch that
// goes on beside the loop is waited for only when there is no work.
void runCrawlLoop(Engine& engine, UiMessageQueue& controlQueue) {
  std::uint32_t idlePasses = 0;
  std::uint32_t passesWithWork = 0;
  bool running = false;
  WorkMessage work;
  UiMessage control;
  for (;;) {
    if (idlePasses++ >= kIdlePassLimit) {
      if (!engine.fetcher->isBusy()) {
        engine.workQueue.post(WorkCode::QuitCrawl);
      }
      idlePasses = 0;
    }
    if (!running) {
      idlePasses = 0;
    }
    const bool tookWork = engine.workQueue.take(work);
    if (tookWork) {
      idlePasses = 0;
      const Pass next = handleWork(engine, work);
      work.payload.reset();
      if (next == Pass::Leave) {
        return;
      }
    }
    if (controlQueue.pop(control)) {
      if (control.code == UiCode::ControlStart) {
        engine.table.start();
        running = true;
      } else if (control.code == UiCode::ControlStop) {
        engine.fetcher->stop();
        return;
      }
    }
    if (tookWork && ++passesWithWork % kPassesBetweenAdvances == 0) {
      engine.fetcher->advance(std::chrono::milliseconds(0));
    } else if (!tookWork && engine.fetcher->isBusy()) {
      engine.fetcher->advance(kNetworkWait);
    }
  }
}

}  // namespace

void CrawlWorker::run() {
  UiMessage finished{UiCode::StatusFinished, {}, {}, 0, 0};
  try {
    auto engine = std::make_unique<Engine>(job_, components_);
    configureFilter(engine->filter, job_);
    // The start URL is its own referrer.
    engine->filter.classify(0, job_.startUrl, 0, std::make_shared<const ByteString>(job_.startUrl));
    runCrawlLoop(*engine, *job_.controlQueue);
  } catch (const std::bad_alloc&) {
    finished = {UiCode::StatusFinished, {}, "out of memory", 1, 0};
  } catch (const std::exception& error) {
    finished = {UiCode::StatusFinished, {}, ByteString(error.what()), 1, 0};
  }
  job_.statusQueue->pushWaiting(finished);
}

}  // namespace tarnwick
