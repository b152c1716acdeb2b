#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "engine/crawl_components.h"
#include "engine/entry_fetch.h"
#include "engine/messages.h"
#include "platform/services.h"

namespace tarnwick {

// Fetches the URL of each FetchRequest to its end (EntryFetch says how), and starts those
// offered by FetchAhead early, over further connections of the same HTTP client. Results of
// requests fetched ahead are held back and let out in the table's order, when the table asks
// for them, so a crawl grows and reports exactly as one fetched one at a time. Two requests
// that save to the same file never run at once. Runs on the worker thread.
class PageFetcher final : public Fetcher {
 public:
  PageFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue, const CrawlJob& job,
              const PlatformServices& services);
  // Requests fetched ahead that are complete are reported in order; the others are given up.
  ~PageFetcher() override;

  bool isBusy() const override { return busy_; }
  void fetch(const FetchRequestPayload& request) override;
  void fetchAhead(const FetchRequestPayload& request) override;

 private:
  void driveOnce();
  void startWhenFree(EntryFetch& entry);
  EntryFetch* withTransfer(TransferId id);

  FetchContext context_;
  std::deque<std::unique_ptr<EntryFetch>> entries_;  // the current one first, then in order
  bool busy_ = false;
};

}  // namespace tarnwick
