#include "engine/crawl_components.h"

#include "engine/link_extractor.h"
#include "engine/page_fetcher.h"
#include "platform/services.h"

namespace tarnwick {
namespace {

class PlatformCrawlComponents final : public CrawlComponentFactory {
 public:
  explicit PlatformCrawlComponents(const PlatformServices& services) : services_(services) {}

  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue,
                                       const CrawlJob& job) override {
    return std::make_unique<PageFetcher>(workQueue, statusQueue, job.saveLayout, services_,
                                         job.abortTransfer);
  }

  std::unique_ptr<Extractor> makeExtractor(WorkQueue& workQueue, const CrawlJob& job) override {
    return std::make_unique<LinkExtractor>(
        workQueue, LinkOptions{job.allowHttps, job.sameHostOnly, job.startUrl});
  }

 private:
  const PlatformServices services_;
};

}  // namespace

std::unique_ptr<CrawlComponentFactory> makeCrawlComponentFactory(const PlatformServices& services) {
  return std::make_unique<PlatformCrawlComponents>(services);
}

}  // namespace tarnwick
