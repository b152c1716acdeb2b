#include "app/desktop_engine.h"

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/process_exit.h"
#include "platform/services.h"

namespace tarnwick {
namespace {

// Owns the services that the engine's factory only points at.
class DesktopComponentFactory final : public CrawlComponentFactory {
 public:
  DesktopComponentFactory(const std::atomic<bool>& abortTransfer, MessageBox& messages)
      : http_(makeCurlHttpClient(HttpClientOptions{.abort = &abortTransfer})),
        files_(makePosixFileSystem()),
        clock_(makeSystemClock()),
        exit_(makeProcessExit()),
        services_{http_.get(), files_.get(), clock_.get(), &messages, exit_.get()},
        components_(makeCrawlComponentFactory(services_)) {}

  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue,
                                       const CrawlJob& job) override {
    return components_->makeFetcher(workQueue, statusQueue, job);
  }
  std::unique_ptr<Extractor> makeExtractor(WorkQueue& workQueue, const CrawlJob& job) override {
    return components_->makeExtractor(workQueue, job);
  }

 private:
  std::unique_ptr<HttpClient> http_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<ProcessExit> exit_;
  PlatformServices services_;
  std::unique_ptr<CrawlComponentFactory> components_;
};

}  // namespace

std::unique_ptr<CrawlComponentFactory> makeDesktopComponentFactory(
    const std::atomic<bool>& abortTransfer, MessageBox& messages) {
  return std::make_unique<DesktopComponentFactory>(abortTransfer, messages);
}

}  // namespace tarnwick
