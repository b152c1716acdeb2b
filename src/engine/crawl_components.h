#pragma once

#include <cstdint>
#include <memory>

#include "engine/messages.h"

namespace tarnwick {

class WorkQueue;
class UiMessageQueue;
struct PlatformServices;

// What the crawl loop needs of the fetcher: one synchronous fetch at a time.
// Every fetch posts exactly one EntryDone or EntryFailed for the request's id as its
// last work message. Runs on the worker thread.
class Fetcher {
 public:
  virtual ~Fetcher() = default;
  virtual bool isBusy() const = 0;
  virtual void fetch(const FetchRequestPayload& request) = 0;
};

// What the crawl loop needs of link extraction: one LinkFound per link of a page.
class Extractor {
 public:
  virtual ~Extractor() = default;
  virtual void extractLinks(std::int32_t id, std::uint8_t depth, const ByteString& pageUrl,
                            const ByteString& pageText) = 0;
};

// Builds the two network-facing components of a run; tests hand the worker stand-ins.
class CrawlComponentFactory {
 public:
  virtual ~CrawlComponentFactory() = default;
  virtual std::unique_ptr<Fetcher> makeFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue,
                                               const CrawlJob& job) = 0;
  virtual std::unique_ptr<Extractor> makeExtractor(WorkQueue& workQueue, const CrawlJob& job) = 0;
};

// The real PageFetcher and LinkExtractor over the given platform services, which must
// outlive the factory.
std::unique_ptr<CrawlComponentFactory> makeCrawlComponentFactory(const PlatformServices& services);

}  // namespace tarnwick
