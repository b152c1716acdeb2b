#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/messages.h"
#include "platform/http_client.h"
#include "platform/services.h"
#include "platform/status.h"
#include "storage/save_location.h"

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
};

// Where one request's messages go: held back in order while the request runs ahead of the
// table, straight to the queues once it is the one the table waits for.
class Outbox {
 public:
  Outbox(WorkQueue& workQueue, UiMessageQueue& statusQueue)
      : workQueue_(workQueue), statusQueue_(statusQueue) {}

  bool isLive() const { return live_; }
  // From now on messages go straight through; those held so far go first.
  void goLive();
  // StatusDownloaded and StatusEntryFailed wait for room: a front end must learn of each.
  void status(UiMessage message);
  void work(WorkCode code, std::unique_ptr<WorkPayload> payload);

 private:
  void push(UiMessage message);

  WorkQueue& workQueue_;
  UiMessageQueue& statusQueue_;
  bool live_ = false;
  std::vector<UiMessage> statuses_;
  std::vector<WorkMessage> works_;
};

// The fetch of one URL table entry: the page phase (its text for link extraction) and the
// file phase (saving a file that reaches its threshold), each a series of attempts over the
// HTTP client. An attempt ends as done, retry (after a 100 ms pause, while attempts remain)
// or failed. A file is received into a temporary file and committed under its name only
// when complete; the commit and a fatal end wait until the entry is the table's current
// one. Ends by posting exactly one EntryDone or EntryFailed. Worker thread only.
class EntryFetch final : private HttpReceiver {
 public:
  static constexpr std::size_t kBlockSize = 65536;  // one progress message per block
  static constexpr std::size_t kMaxPageText = std::size_t{64} * 1024 * 1024;

  EntryFetch(const FetchRequestPayload& request, FetchContext& context);
  ~EntryFetch() override;
  EntryFetch(const EntryFetch&) = delete;
  EntryFetch& operator=(const EntryFetch&) = delete;

  std::int32_t id() const { return request_.id; }
  // Where the entry saves, below the download folder; empty when it saves nothing.
  const ByteString& saveKey();
  bool started() const { return step_ != Step::NotStarted; }
  bool followsLinks() const { return (request_.flags & CrawlFlags::FollowLinks) != 0; }
  // Page text received, held until the entry is current.
  std::size_t pageBytes() const { return pageBytes_; }
  bool ended() const { return step_ == Step::Ended; }
  // Complete, and waiting only to be the current entry.
  bool complete() const { return ended() || step_ == Step::AwaitingTurn; }
  std::optional<TransferId> transfer() const { return transfer_; }
  std::optional<std::chrono::steady_clock::time_point> pausedUntil() const;

  void start();
  // Makes this the table's current entry: its messages flow, and a held commit runs.
  void makeCurrent();
  void onTransferEnded(const Status& status);
  void onPauseOver();
  // Gives the fetch up: the transfer is cancelled and a temporary file removed.
  void abandon();

 private:
  enum class Phase { Page, File };
  enum class Step { NotStarted, Transferring, Pausing, AwaitingTurn, Ended };
  enum class AttemptEnd { Done, Retry, Failed };
  struct AttemptResult {
    AttemptEnd end = AttemptEnd::Done;
    Status reason;
  };

  bool onResponse(std::uint32_t status, std::optional<std::uint64_t> contentLength) override;
  bool onBody(std::string_view bytes) override;
  bool prepareFile(std::optional<std::uint64_t> contentLength);
  bool writeBlock();
  AttemptResult resultOf(const Status& transferStatus);

  void startPhase(Phase phase);
  void startAttempt();
  void endAttempt(AttemptResult result);
  void endPhase();
  void finishFile();
  void endFatally();
  void finish(const Status& failure);
  void decide(AttemptEnd end, Status reason = {});

  const FetchRequestPayload request_;
  FetchContext& context_;
  Outbox outbox_;
  const ByteString shownUrl_;          // the URL as messages show it, its password hidden
  const ByteString savedUrl_;          // the URL as saved: no password reaches a folder name
  std::optional<ByteString> saveKey_;  // worked out when first asked
  Step step_ = Step::NotStarted;
  Phase phase_ = Phase::Page;
  int attemptsLeft_ = 0;
  std::optional<TransferId> transfer_;
  std::chrono::steady_clock::time_point pauseEnd_;
  Status failure_;  // why the entry failed, once the attempts are used up

  // The attempt in progress.
  std::optional<AttemptResult> decided_;  // set when the response settled the attempt
  std::string pageText_;
  std::size_t pageBytes_ = 0;
  std::uint64_t bodyBytes_ = 0;
  std::optional<std::uint64_t> length_;
  SaveTarget target_;
  std::unique_ptr<WritableFile> file_;
  std::string block_;  // file bytes received and not yet written
  Status fatal_;
};

}  // namespace tarnwick
