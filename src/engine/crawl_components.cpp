#include "engine/crawl_components.h"

#include "engine/link_extractor.h"
#include "engine/page_fetcher.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/process_exit.h"
#include "platform/services.h"

namespace tarnwick {
namespace {

class PlatformCrawlComponents : public CrawlComponentFactory {
 public:
  explicit PlatformCrawlComponents(const PlatformServices& services) : services_(services) {}

  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue,
                                       const CrawlJob& job, const UrlTable& table) override {
    return std::make_unique<PageFetcher>(workQueue, statusQueue, job, services_, table);
  }

  std::unique_ptr<Extractor> makeExtractor(WorkQueue& workQueue, const CrawlJob& job) override {
    return std::make_unique<LinkExtractor>(
        workQueue, LinkOptions{job.allowHttps, job.sameHostOnly, job.startUrl});
  }

 protected:
  PlatformServices services_;
};

// Owns the services that the components only point at. Each run gets a file system of its
// own, so that it looks for leftovers of killed runs in each folder it saves into once.
class LinuxCrawlComponents final : public PlatformCrawlComponents {
 public:
  LinuxCrawlComponents(MessageBox& messages, const HttpClientOptions& options, ProcessExit* exit)
      : PlatformCrawlComponents({}),
        http_(makeCurlHttpClient(options)),
        clock_(makeSystemClock()),
        exit_(exit == nullptr ? makeProcessExit() : nullptr) {
    services_ = {http_.get(), nullptr, clock_.get(), &messages, exit_ ? exit_.get() : exit};
  }

  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue,
                                       const CrawlJob& job, const UrlTable& table) override {
    files_ = makePosixFileSystem();
    services_.files = files_.get();
    return PlatformCrawlComponents::makeFetcher(workQueue, statusQueue, job, table);
  }

 private:
  std::unique_ptr<HttpClient> http_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<ProcessExit> exit_;
};

}  // namespace

std::unique_ptr<CrawlComponentFactory> makeCrawlComponentFactory(const PlatformServices& services) {
  return std::make_unique<PlatformCrawlComponents>(services);
}

std::unique_ptr<CrawlComponentFactory> makeLinuxCrawlComponents(MessageBox& messages,
                                                                const HttpClientOptions& options,
                                                                ProcessExit* exit) {
  return std::make_unique<LinuxCrawlComponents>(messages, options, exit);
}

}  // namespace tarnwick
