#include "support/crawl_run.h"

#include "engine/crawl_session.h"

namespace tarnwick::testing {

char statusLetter(UiCode code) {
  return "SEALDFX"[static_cast<int>(code) - static_cast<int>(UiCode::StatusSearching)];
}

CrawlJob crawlJob(const std::string& startUrl, std::uint8_t depth,
                  const std::vector<std::int32_t>& saveCategories, SaveLayout layout) {
  CrawlJob job;
  job.startUrl = ByteString(startUrl);
  job.maxDepth = depth;
  job.saveLayout = layout;
  for (const std::int32_t category : saveCategories) job.addDownloadRow(category, 0);
  return job;
}

std::vector<UiMessage> runCrawl(CrawlJob job, CrawlComponentFactory& components) {
  CrawlSession session(std::move(job), components);
  session.start();
  std::vector<UiMessage> statuses;
  session.wait([&](const UiMessage& message) { statuses.push_back(message); });
  return statuses;
}

}  // namespace tarnwick::testing
