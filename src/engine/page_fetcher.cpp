#include "engine/page_fetcher.h"

#include <algorithm>
#include <chrono>

#include "platform/clock.h"
#include "platform/http_client.h"

namespace tarnwick {
namespace {

// Longest wait for the network before pauses that have run out are looked at again.
constexpr auto kLongestWait = std::chrono::milliseconds(1000);

}  // namespace

PageFetcher::PageFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue, const CrawlJob& job,
                         const PlatformServices& services)
    : context_{workQueue, statusQueue, services, job.saveLayout, job.allowHttps, job.abortRequest},
      connections_(std::max(job.connections, 1u)) {}

PageFetcher::~PageFetcher() {
  for (const auto& entry : entries_) {
    if (entry->complete()) {
      entry->makeCurrent();
    } else {
      entry->abandon();
    }
  }
}

void PageFetcher::fetch(const FetchRequestPayload& request) {
  busy_ = true;
  // Requests offered ahead that the table has since passed over are given up.
  while (!entries_.empty() && entries_.front()->id() < request.id) entries_.pop_front();
  if (entries_.empty() || entries_.front()->id() != request.id) {
    entries_.push_front(std::make_unique<EntryFetch>(request, context_));
  }
  EntryFetch& current = *entries_.front();
  current.makeCurrent();
  while (!current.ended()) driveOnce();
  entries_.pop_front();
  startWaiting();
  busy_ = false;
}

void PageFetcher::fetchAhead(const FetchRequestPayload& request) {
  const bool known = std::any_of(entries_.begin(), entries_.end(),
                                 [&](const auto& entry) { return entry->id() == request.id; });
  if (known) return;
  entries_.push_back(std::make_unique<EntryFetch>(request, context_));
  startWaiting();
}

// Starts the entries offered ahead, in order, while connections are free. One that saves to
// the same file as an earlier one waits for it, and pages wait while those held for their
// turn already take kHeldPageBytes.
void PageFetcher::startWaiting() {
  std::uint32_t transferring = 0;
  std::size_t heldPageBytes = 0;
  for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
    const bool startable = !(*entry)->started() && transferring < connections_ &&
                           !((*entry)->followsLinks() && heldPageBytes >= kHeldPageBytes) &&
                           std::none_of(entries_.begin(), entry, [&](const auto& earlier) {
                             const ByteString& key = (*entry)->saveKey();
                             return key.length() > 0 && earlier->saveKey() == key;
                           });
    if (startable) (*entry)->start();
    transferring += (*entry)->transfer().has_value();
    heldPageBytes += (*entry)->pageBytes();
  }
}

// Ends the pauses that are over, then waits for the network, or for the next pause to end
// when nothing is transferring.
void PageFetcher::driveOnce() {
  Clock& clock = *context_.services.clock;
  std::optional<std::chrono::steady_clock::time_point> nextPauseEnd;
  bool transferring = false;
  for (const auto& entry : entries_) {
    const auto pauseEnd = entry->pausedUntil();
    if (pauseEnd && *pauseEnd <= clock.now()) entry->onPauseOver();
    const auto stillPaused = entry->pausedUntil();
    if (stillPaused) nextPauseEnd = std::min(nextPauseEnd.value_or(*stillPaused), *stillPaused);
    transferring = transferring || entry->transfer().has_value();
  }
  const auto untilPauseEnd = [&] {
    return std::chrono::ceil<std::chrono::milliseconds>(*nextPauseEnd - clock.now());
  };
  if (!transferring) {
    if (nextPauseEnd) clock.pause(std::max(untilPauseEnd(), std::chrono::milliseconds(0)));
    return;
  }
  const auto wait = nextPauseEnd
                        ? std::clamp(untilPauseEnd(), std::chrono::milliseconds(0), kLongestWait)
                        : kLongestWait;
  for (const EndedTransfer& ended : context_.services.http->pump(wait)) {
    if (EntryFetch* entry = withTransfer(ended.id)) entry->onTransferEnded(ended.status);
  }
  startWaiting();
}

EntryFetch* PageFetcher::withTransfer(TransferId id) {
  for (const auto& entry : entries_) {
    if (entry->transfer() == id) return entry.get();
  }
  return nullptr;
}

}  // namespace tarnwick
