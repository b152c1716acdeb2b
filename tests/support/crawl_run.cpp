#include "support/crawl_run.h"

#include <chrono>
#include <thread>

#include "engine/crawl_worker.h"
#include "engine/ui_message_queue.h"

namespace tarnwick::testing {

static_assert(static_cast<int>(UiCode::StatusFinished) -
                  static_cast<int>(UiCode::StatusSearching) ==
              5);

char statusLetter(UiCode code) {
  return "SEALDF"[static_cast<int>(code) - static_cast<int>(UiCode::StatusSearching)];
}

CrawlJob crawlJob(const std::string& startUrl, std::uint8_t depth,
                  const std::vector<std::int32_t>& saveCategories, UiMessageQueue& control,
                  UiMessageQueue& status, SaveLayout layout) {
  CrawlJob job;
  job.startUrl = ByteString(startUrl);
  job.maxDepth = depth;
  job.saveLayout = layout;
  job.controlQueue = &control;
  job.statusQueue = &status;
  for (const std::int32_t category : saveCategories) job.addDownloadRow(category, 0);
  return job;
}

std::vector<UiMessage> runCrawl(const CrawlJob& job, CrawlComponentFactory& components,
                                bool* stopSent) {
  std::thread worker([&] { CrawlWorker(job, components); });
  job.controlQueue->push({UiCode::ControlStart, {}, {}, 0, 0});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  std::vector<UiMessage> statuses;
  for (UiMessage m; statuses.empty() || statuses.back().code != UiCode::StatusFinished;) {
    if (job.statusQueue->pop(m)) {
      statuses.push_back(std::move(m));
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (std::chrono::steady_clock::now() < deadline) continue;
    job.controlQueue->push({UiCode::ControlStop, {}, {}, 0, 0});
    if (stopSent != nullptr) *stopSent = true;
  }
  worker.join();
  return statuses;
}

}  // namespace tarnwick::testing
