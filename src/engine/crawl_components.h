#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "engine/messages.h"
#include "platform/http_client.h"

namespace tarnwick {

class WorkQueue;
class UiMessageQueue;
class UrlTable;
class MessageBox;
class ProcessExit;
struct PlatformServices;

// What the crawl loop needs of the fetcher: the fetch of the table's current entry, which
// posts exactly one EntryDone or EntryFailed for the request's id as its last work message.
// Over one connection a fetch runs to its end before fetch() returns; over several it may
// go on in advance() while the loop takes other work. Runs on the worker thread.
class Fetcher {
 public:
  virtual ~Fetcher() = default;
  // True from the start of a fetch until its EntryDone or EntryFailed is posted.
  virtual bool isBusy() const = 0;
  virtual void fetch(const FetchRequestPayload& request) = 0;
  // Carries the fetches on, waiting up to `wait` for the network when nothing is ready.
  virtual void advance(std::chrono::milliseconds wait) = 0;
  // The run ends: the current fetch runs to its end (unless aborted), and what is complete
  // right behind it is let out; the rest is given up.
  virtual void stop() = 0;
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
  // `table` tells the fetcher which entries come next, to fetch them ahead of their turn.
  virtual std::unique_ptr<Fetcher> makeFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue,
                                               const CrawlJob& job, const UrlTable& table) = 0;
  virtual std::unique_ptr<Extractor> makeExtractor(WorkQueue& workQueue, const CrawlJob& job) = 0;
};

// The real PageFetcher and LinkExtractor over the given platform services, which must
// outlive the factory.
std::unique_ptr<CrawlComponentFactory> makeCrawlComponentFactory(const PlatformServices& services);

// The same over the Linux services, which the factory owns: the curl client with `options`,
// the POSIX file system, the system clock and the process exit (unless `exit` ends the
// process instead); `messages` shows the fatal message. Both must outlive the factory. One
// run at a time may use it.
std::unique_ptr<CrawlComponentFactory> makeLinuxCrawlComponents(MessageBox& messages,
                                                                const HttpClientOptions& options,
                                                                ProcessExit* exit = nullptr);

}  // namespace tarnwick
