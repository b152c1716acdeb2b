#include "engine/page_fetcher.h"

#include <algorithm>
#include <iterator>

#include "engine/url_table.h"
#include "platform/clock.h"
#include "platform/http_client.h"

namespace tarnwick {
namespace {

// Longest wait for the network or a pause before the fetches are looked at again.
constexpr auto kLongestWait = std::chrono::milliseconds(1000);
// Longest wait while transfers run: what arrived meanwhile is written and told, and a
// response's save decision made, this soon.
constexpr auto kTransferWait = std::chrono::milliseconds(50);
// What an entry taken in ahead costs besides what it receives: the object, its request and
// its messages.
constexpr std::size_t kEntryBytes = 1024;

bool isRunning(const EntryFetch& entry) {
  return entry.transfer().has_value() || entry.pausedUntil().has_value();
}

}  // namespace

PageFetcher::PageFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue, const CrawlJob& job,
                         const PlatformServices& services, const UrlTable& table,
                         AheadLimits limits)
    : context_{workQueue,      statusQueue,      services,           job.saveLayout,
               job.allowHttps, job.abortRequest, AheadBudget(limits)},
      table_(table),
      runsAhead_(job.connections > 1) {}

PageFetcher::~PageFetcher() {
  running_.clear();
  waiting_.clear();
  entries_.clear();
}

void PageFetcher::fetch(const FetchRequestPayload& request) {
  // Entries taken in ahead that the table has since passed over are given up.
  while (!entries_.empty() && entries_.front()->id() < request.id) dropFront();
  if (entries_.empty() || entries_.front()->id() != request.id) {
    entries_.push_front(std::make_unique<EntryFetch>(request, context_));
    consideredThroughId_ = std::max(consideredThroughId_, request.id);
    holdItsFile(*entries_.front());
  }
  current_ = entries_.front().get();
  std::erase(waiting_, current_);
  current_->makeCurrent();
  track(*current_);
  releaseCurrentIfEnded();
  while (!runsAhead_ && current_ != nullptr) advance(kLongestWait);
}

void PageFetcher::advance(std::chrono::milliseconds wait) {
  startWhatFits();
  noteEnded(pump(wait));
  // The next requests go out before the ended transfers are taken care of.
  if (startWhatFits()) noteEnded(context_.services.http->pump(std::chrono::milliseconds(0)));
  for (std::size_t i = 0; i < running_.size(); ++i) {
    running_[i]->advance();
    settle(*running_[i]);
  }
  std::erase_if(running_, [](const EntryFetch* entry) { return !isRunning(*entry); });
  releaseCurrentIfEnded();
}

void PageFetcher::stop() {
  while (current_ != nullptr) advance(kLongestWait);
  const bool aborted = context_.abort != nullptr && context_.abort->load();
  while (!aborted && !entries_.empty() && entries_.front()->complete()) {
    entries_.front()->makeCurrent();
    dropFront();
  }
  while (!entries_.empty()) dropFront();
}

// Starts transfers while the client runs fewer than it can side by side: the current
// entry's next attempt at once, then, fetching ahead, the next attempts of the others, the
// entries whose file an earlier one no longer holds, and the table's next entries while the
// budget of entries ahead has room. True when one started.
bool PageFetcher::startWhatFits() {
  if (running_.empty() && (!runsAhead_ || entries_.empty())) return false;
  retrying_.clear();
  std::copy_if(running_.begin(), running_.end(), std::back_inserter(retrying_),
               [](const EntryFetch* entry) { return entry->mayRetry(); });
  std::sort(retrying_.begin(), retrying_.end(),
            [](const EntryFetch* a, const EntryFetch* b) { return a->id() < b->id(); });
  auto transfers = static_cast<std::uint32_t>(std::count_if(
      running_.begin(), running_.end(), [](const EntryFetch* e) { return e->transfer(); }));
  const std::uint32_t most = runsAhead_ ? context_.services.http->transfersAtOnce() : 1;
  const auto hasRoom = [&](const EntryFetch& entry) {
    return transfers < most || &entry == current_;
  };
  bool started = false;
  for (EntryFetch* entry : retrying_) {
    if (!hasRoom(*entry)) break;
    entry->retry();
    transfers += entry->transfer().has_value();
    started = true;
  }
  if (!runsAhead_ || entries_.empty()) return started;
  for (auto it = waiting_.begin(); it != waiting_.end() && transfers < most;) {
    EntryFetch& entry = **it;
    if (!isFirstForItsFile(entry)) {
      ++it;
      continue;
    }
    it = waiting_.erase(it);
    start(entry);
    transfers += entry.transfer().has_value();
    started = true;
  }
  while (transfers < most && context_.budget.roomToStart()) {
    auto next = table_.entryAfter(consideredThroughId_);
    if (!next) break;
    consideredThroughId_ = next->id;
    EntryFetch& entry = *entries_.emplace_back(std::make_unique<EntryFetch>(*next, context_));
    entry.charge().holdMemory(kEntryBytes + next->url.str().size() + next->referrer.str().size());
    holdItsFile(entry);
    if (!isFirstForItsFile(entry)) {
      waiting_.push_back(&entry);
      continue;
    }
    start(entry);
    transfers += entry.transfer().has_value();
    started = true;
  }
  return started;
}

void PageFetcher::start(EntryFetch& entry) {
  entry.start();
  track(entry);
}

// Keeps a running entry advanced, and lets the file of one that has ended go.
void PageFetcher::track(EntryFetch& entry) {
  if (isRunning(entry) && std::find(running_.begin(), running_.end(), &entry) == running_.end()) {
    running_.push_back(&entry);
  }
  settle(entry);
}

void PageFetcher::holdItsFile(EntryFetch& entry) {
  if (!entry.saveKey().view().empty()) sameFile_[entry.saveKey()].push_back(&entry);
}

bool PageFetcher::isFirstForItsFile(EntryFetch& entry) {
  const auto found = sameFile_.find(entry.saveKey());
  return found == sameFile_.end() || found->second.front() == &entry;
}

// Waits for the network, or for the next pause to end when nothing is transferring.
std::vector<EndedTransfer> PageFetcher::pump(std::chrono::milliseconds wait) {
  Clock& clock = *context_.services.clock;
  const auto now = clock.now();
  std::optional<std::chrono::steady_clock::time_point> nextPauseEnd;
  bool transferring = false;
  for (const EntryFetch* entry : running_) {
    const auto pauseEnd = entry->pausedUntil().value_or(now);
    if (pauseEnd > now) nextPauseEnd = std::min(nextPauseEnd.value_or(pauseEnd), pauseEnd);
    transferring = transferring || entry->transfer().has_value();
  }
  if (nextPauseEnd) {
    const auto untilPauseEnd = std::chrono::ceil<std::chrono::milliseconds>(*nextPauseEnd - now);
    wait = std::clamp(untilPauseEnd, std::chrono::milliseconds(0), wait);
  }
  if (transferring) return context_.services.http->pump(std::min(wait, kTransferWait));
  if (nextPauseEnd && wait.count() > 0) clock.pause(wait);
  return {};
}

void PageFetcher::noteEnded(const std::vector<EndedTransfer>& ended) {
  for (const EndedTransfer& transfer : ended) {
    const auto found = std::find_if(running_.begin(), running_.end(), [&](const EntryFetch* e) {
      return e->transfer() == transfer.id;
    });
    if (found != running_.end()) (*found)->transferEnded(transfer.status);
  }
}

// An entry that has ended no longer holds its file: the next one saving there may start.
void PageFetcher::settle(EntryFetch& entry) {
  if (!entry.ended() || entry.saveKey().view().empty()) return;
  const auto found = sameFile_.find(entry.saveKey());
  if (found == sameFile_.end()) return;
  std::erase(found->second, &entry);
  if (found->second.empty()) sameFile_.erase(found);
}

void PageFetcher::releaseCurrentIfEnded() {
  if (current_ == nullptr || !current_->ended()) return;
  current_ = nullptr;
  dropFront();
}

void PageFetcher::dropFront() {
  EntryFetch* entry = entries_.front().get();
  entry->abandon();
  settle(*entry);
  std::erase(running_, entry);
  std::erase(waiting_, entry);
  entries_.pop_front();
}

}  // namespace tarnwick
