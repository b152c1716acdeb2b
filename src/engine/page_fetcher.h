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
// offered by FetchAhead early, over at most job.connections transfers of the same HTTP client
// at once. Results of requests fetched ahead are held back and let out in the table's order,
// when the table asks for them, so a crawl grows and reports exactly as one fetched one at a
// time. Two requests that save to the same file never run at once. Worker thread only.
class PageFetcher final : public Fetcher {
 public:
  // Page text held by requests fetched ahead beyond which no further page is started.
  static constexpr std::size_t kHeldPageBytes = std::size_t{64} << 20;

  PageFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue, const CrawlJob& job,
              const PlatformServices& services);
  // Requests fetched ahead that are complete are reported in order; the others are given up.
  ~PageFetcher() override;

  bool isBusy() const override { return busy_; }
  void fetch(const FetchRequestPayload& request) override;
  void fetchAhead(const FetchRequestPayload& request) override;

 private:
  void driveOnce();
  void startWaiting();
  EntryFetch* withTransfer(TransferId id);

  FetchContext context_;
  const std::uint32_t connections_;
  std::deque<std::unique_ptr<EntryFetch>> entries_;  // the current one first, then in order
  bool busy_ = false;
};

}  // namespace tarnwick
