#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "engine/ahead_budget.h"
#include "engine/file_download.h"
#include "engine/messages.h"
#include "engine/outbox.h"
#include "engine/response_capture.h"
#include "platform/http_client.h"
#include "platform/services.h"
#include "platform/status.h"

namespace tarnwick {

class WorkQueue;
class UiMessageQueue;

// What the fetches of one run share.
struct FetchContext {
  WorkQueue& workQueue;
  UiMessageQueue& statusQueue;
  PlatformServices services;
  SaveLayout saveLayout;
  bool allowHttps;
  const std::atomic<bool>* abort;  // the job's abort request; may be null
  AheadBudget budget;
};

// The fetch of one URL table entry: the page phase (its text for link extraction), then the
// file phase (saving a file that reaches its threshold), each a series of attempts. An
// attempt's transfer only fills a ResponseCapture; the attempt ends as done, retry (after a
// 100 ms pause, while attempts remain) or failed in advance(), which the fetcher calls
// between pumps. Messages go through its Outbox; the commit and a fatal end wait until the
// entry is the table's current one. Ends by posting exactly one EntryDone or EntryFailed.
// Worker thread only.
class EntryFetch final {
 public:
  EntryFetch(const FetchRequestPayload& request, FetchContext& context);
  ~EntryFetch();
  EntryFetch(const EntryFetch&) = delete;
  EntryFetch& operator=(const EntryFetch&) = delete;

  std::int32_t id() const { return request_.id; }
  // Where the entry saves, below the download folder; empty when it saves nothing.
  const ByteString& saveKey();
  bool started() const { return step_ != Step::NotStarted; }
  bool ended() const { return step_ == Step::Ended; }
  // Nothing is left to do before its turn.
  bool complete() const { return ended() || step_ == Step::AwaitingTurn; }
  std::optional<TransferId> transfer() const { return transfer_; }
  std::optional<std::chrono::steady_clock::time_point> pausedUntil() const;
  // Its pause after a failed attempt is over and another attempt is left.
  bool mayRetry() const;
  Charge& charge() { return charge_; }

  void start();
  void retry();
  // Makes this the table's current entry: its messages flow, and nothing it holds counts
  // against the budget of entries ahead.
  void makeCurrent();
  void transferEnded(Status status);
  // Takes the entry as far as it goes without waiting and without a further transfer:
  // settles a response, writes what arrived, ends an attempt whose transfer ended, fails
  // once the pause after its last attempt is over, and commits once complete and current.
  void advance();
  // Gives the fetch up: the transfer is cancelled and a temporary file removed.
  void abandon();

 private:
  enum class Phase { Page, File };
  enum class Step { NotStarted, Transferring, Pausing, AwaitingTurn, Ended };
  enum class AttemptEnd { Done, Retry, Failed };

  void startPhase(Phase phase);
  void startAttempt();
  void settleResponse();
  void decide(AttemptEnd end, Status reason = {});
  void resumeIfRoom();
  std::pair<AttemptEnd, Status> outcome(const Status& transferEnd) const;
  void endAttempt();
  void endPhase();
  void commitFile();
  void endFatally();
  void finish(const Status& failure);

  const FetchRequestPayload request_;
  FetchContext& context_;
  Outbox outbox_;
  Charge charge_;
  const ByteString shownUrl_;          // the URL as messages show it, its password hidden
  const ByteString savedUrl_;          // the URL as saved: no password reaches a folder name
  std::optional<ByteString> saveKey_;  // worked out when first asked
  Step step_ = Step::NotStarted;
  Phase phase_ = Phase::Page;
  int attemptsLeft_ = 0;
  std::chrono::steady_clock::time_point pauseEnd_;
  Status failure_;  // the last attempt's reason; a fatal one waits here for the entry's turn

  // The attempt in progress.
  std::optional<TransferId> transfer_;
  std::optional<Status> transferEnd_;
  std::optional<std::pair<AttemptEnd, Status>> decided_;  // settled before the transfer ended
  std::unique_ptr<ResponseCapture> capture_;
  std::unique_ptr<FileDownload> download_;
};

}  // namespace tarnwick
