#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/crawl_components.h"
#include "engine/entry_fetch.h"
#include "engine/messages.h"
#include "platform/services.h"

namespace tarnwick {

class UrlTable;

// Fetches the URL table's entries: the current one, which the table asks for with each
// FetchRequest, and with more than one connection the entries after it, ahead of their
// turn, as far as the client's transfers and the budget of what they hold allow. Their
// results are let out strictly in table order: an entry's messages and its commit wait until
// the table asks for it, so a crawl grows and reports exactly as one fetched one at a time.
// An entry that saves to the same file as an earlier one starts once that one has ended.
// On a stop the current entry runs to its end and the complete entries right behind it are
// committed; the rest are given up. Worker thread only.
class PageFetcher final : public Fetcher {
 public:
  PageFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue, const CrawlJob& job,
              const PlatformServices& services, const UrlTable& table, AheadLimits limits = {});
  ~PageFetcher() override;  // gives up every entry still held

  bool isBusy() const override { return current_ != nullptr; }
  void fetch(const FetchRequestPayload& request) override;
  void advance(std::chrono::milliseconds wait) override;
  void stop() override;

 private:
  bool startWhatFits();
  void start(EntryFetch& entry);
  void track(EntryFetch& entry);
  void holdItsFile(EntryFetch& entry);
  bool isFirstForItsFile(EntryFetch& entry);
  std::vector<EndedTransfer> pump(std::chrono::milliseconds wait);
  void noteEnded(const std::vector<EndedTransfer>& ended);
  void settle(EntryFetch& entry);
  void releaseCurrentIfEnded();
  void dropFront();

  FetchContext context_;
  const UrlTable& table_;
  const bool runsAhead_;
  // The current entry first (once the table has asked for it), then those ahead, in order.
  std::deque<std::unique_ptr<EntryFetch>> entries_;
  EntryFetch* current_ = nullptr;
  std::int32_t consideredThroughId_ = -1;  // the last table entry taken in
  std::vector<EntryFetch*> running_;       // transferring or pausing between attempts
  std::vector<EntryFetch*> waiting_;       // not started: an earlier one saves to its file
  std::vector<EntryFetch*> retrying_;      // room for those whose next attempt is due
  // Entries that have not ended, by the file they save to, in table order.
  std::unordered_map<ByteString, std::deque<EntryFetch*>> sameFile_;
};

}  // namespace tarnwick
