#include "engine/entry_fetch.h"

#include <string_view>
#include <utility>

#include "engine/url_text.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/process_exit.h"
#include "storage/save_location.h"

namespace tarnwick {
namespace {

constexpr std::string_view kAgent = "TWK/1.1 ROBOT";
constexpr int kPageAttempts = 2;
constexpr int kFileAttempts = 3;
constexpr std::chrono::milliseconds kRetryPause{100};
// Room a transfer that waits for memory needs before it goes on: about one delivery.
constexpr std::size_t kRoomToResume = 256 * 1024;

// The scheme, a host and something more, without an empty path segment.
bool urlPasses(const ByteString& url, bool allowHttps) {
  const auto scheme = static_cast<int>(schemeLength(url.view(), allowHttps));
  return scheme > 0 && url.find("//", scheme + 1) < 0 && url.length() > scheme + 3;
}

}  // namespace

EntryFetch::EntryFetch(const FetchRequestPayload& request, FetchContext& context)
    : request_(request),
      context_(context),
      outbox_(context.workQueue, context.statusQueue),
      charge_(context.budget),
      shownUrl_(withPasswordHidden(request.url)),
      savedUrl_(withoutUserInfo(request.url)) {}

EntryFetch::~EntryFetch() { abandon(); }

const ByteString& EntryFetch::saveKey() {
  if (!saveKey_) {
    const bool saves = (request_.flags & CrawlFlags::SaveIfAtLeast) != 0;
    saveKey_ = saves ? relativeSavePath(savedUrl_, context_.saveLayout) : ByteString();
  }
  return *saveKey_;
}

std::optional<std::chrono::steady_clock::time_point> EntryFetch::pausedUntil() const {
  if (step_ != Step::Pausing) return std::nullopt;
  return pauseEnd_;
}

bool EntryFetch::mayRetry() const {
  return step_ == Step::Pausing && attemptsLeft_ > 0 && context_.services.clock->now() >= pauseEnd_;
}

void EntryFetch::retry() { startAttempt(); }

void EntryFetch::start() {
  if (!urlPasses(request_.url, context_.allowHttps)) {
    finish(Status::refused("not a URL the crawler fetches"));
  } else if ((request_.flags & CrawlFlags::FollowLinks) != 0) {
    startPhase(Phase::Page);
  } else if ((request_.flags & CrawlFlags::SaveIfAtLeast) != 0) {
    startPhase(Phase::File);
  } else {
    finish(Status::ok());
  }
}

void EntryFetch::makeCurrent() {
  charge_.exempt();
  outbox_.goLive();
  if (!started()) start();
  advance();
}

void EntryFetch::transferEnded(Status status) {
  transfer_.reset();
  transferEnd_ = std::move(status);
}

void EntryFetch::advance() {
  switch (step_) {
    case Step::Transferring:
      settleResponse();
      if (transferEnd_) {
        endAttempt();
      } else {
        resumeIfRoom();
      }
      break;
    case Step::Pausing:
      if (attemptsLeft_ == 0 && context_.services.clock->now() >= pauseEnd_) finish(failure_);
      break;
    case Step::AwaitingTurn:
      if (!outbox_.isLive()) break;
      if (failure_.kind() == Status::Kind::Fatal) {
        endFatally();
      } else {
        commitFile();
      }
      break;
    default:
      break;
  }
}

void EntryFetch::abandon() {
  if (transfer_) context_.services.http->cancel(*transfer_);
  transfer_.reset();
  capture_.reset();
  download_.reset();
  step_ = Step::Ended;
}

void EntryFetch::startPhase(Phase phase) {
  phase_ = phase;
  const UiCode code = phase == Phase::Page ? UiCode::StatusSearching : UiCode::StatusExamining;
  outbox_.status({code, shownUrl_, {}, 0, 0});
  attemptsLeft_ = phase == Phase::Page ? kPageAttempts : kFileAttempts;
  startAttempt();
}

void EntryFetch::startAttempt() {
  if (context_.abort != nullptr && context_.abort->load(std::memory_order_acquire)) {
    finish(Status::aborted());
    return;
  }
  decided_.reset();
  transferEnd_.reset();
  capture_ = std::make_unique<ResponseCapture>(
      phase_ == Phase::Page ? ResponseCapture::Kind::Page : ResponseCapture::Kind::File,
      request_.minSize, charge_);
  // A password given for the start URL's host is never sent to another one.
  const HttpRequest httpRequest{request_.url, ByteString(kAgent),
                                "Referer: " + withoutUserInfo(request_.referrer) + "\n",
                                context_.abort, context_.allowHttps};
  step_ = Step::Transferring;
  transfer_ = context_.services.http->start(httpRequest, *capture_);
}

// A file's response decides here, off the transfer's callbacks, whether and where its body
// is saved; what arrived of it is written in whole blocks.
void EntryFetch::settleResponse() {
  if (decided_ || phase_ != Phase::File || !capture_->bodyWanted()) return;
  if (!download_) {
    download_ = std::make_unique<FileDownload>(context_, outbox_, charge_, savedUrl_, shownUrl_);
    bool alreadyStored = false;
    const Status status = download_->open(capture_->length(), &alreadyStored);
    if (!status.isOk() || alreadyStored) {
      decide(status.isOk() ? AttemptEnd::Done : AttemptEnd::Failed, status);
      return;
    }
  }
  const Status status = download_->write(*capture_, transferEnd_ && transferEnd_->isOk());
  if (!status.isOk()) decide(AttemptEnd::Failed, status);
}

// Settles the attempt before its transfer ends: the rest of the body is not wanted, and the
// attempt ends as `end` once the transfer does.
void EntryFetch::decide(AttemptEnd end, Status reason) {
  decided_ = {end, std::move(reason)};
  download_.reset();
  capture_->refuseRest();
}

// A transfer held back for memory goes on once there is room, or when nothing more of it
// will be kept.
void EntryFetch::resumeIfRoom() {
  if (!transfer_ || !capture_->holding()) return;
  if (!decided_ && !charge_.hasRoomFor(kRoomToResume)) return;
  capture_->resumed();
  context_.services.http->resume(*transfer_);
}

std::pair<EntryFetch::AttemptEnd, Status> EntryFetch::outcome(const Status& transferEnd) const {
  if (decided_) return *decided_;
  if (transferEnd.kind() == Status::Kind::Network) return {AttemptEnd::Retry, transferEnd};
  if (!transferEnd.isOk()) return {AttemptEnd::Failed, transferEnd};
  if (!capture_->responded()) return {AttemptEnd::Retry, Status::network("no response")};
  if (!capture_->refusal().isOk()) return {AttemptEnd::Failed, capture_->refusal()};
  if (download_ && capture_->length() && capture_->bodyBytes() != *capture_->length()) {
    return {AttemptEnd::Retry, Status::network("the body ended before its announced length")};
  }
  return {AttemptEnd::Done, {}};
}

void EntryFetch::endAttempt() {
  auto [end, reason] = outcome(*transferEnd_);
  transferEnd_.reset();
  switch (end) {
    case AttemptEnd::Done:
      if (phase_ == Phase::Page) {
        auto page = std::make_unique<PageFetchedPayload>();
        page->id = request_.id;
        page->depth = request_.depth;
        page->url = request_.url;
        page->pageText = capture_->takePageText();
        outbox_.work(WorkCode::PageFetched, std::move(page));
      }
      capture_.reset();
      // A body of unknown length is saved only when it reached the threshold.
      if (download_ && (download_->length() || download_->written() >= request_.minSize)) {
        step_ = Step::AwaitingTurn;
        advance();
      } else {
        download_.reset();
        endPhase();
      }
      break;
    case AttemptEnd::Retry:
      capture_.reset();
      download_.reset();  // the piece goes; a stored copy stays as it was
      failure_ = std::move(reason);
      --attemptsLeft_;
      pauseEnd_ = context_.services.clock->now() + kRetryPause;
      step_ = Step::Pausing;
      break;
    case AttemptEnd::Failed:
      capture_.reset();
      download_.reset();
      if (reason.kind() != Status::Kind::Fatal) {
        finish(reason);
        break;
      }
      failure_ = std::move(reason);
      step_ = Step::AwaitingTurn;
      advance();
      break;
  }
}

void EntryFetch::endPhase() {
  if (phase_ == Phase::Page && (request_.flags & CrawlFlags::SaveIfAtLeast) != 0) {
    startPhase(Phase::File);
  } else {
    finish(Status::ok());
  }
}

void EntryFetch::commitFile() {
  const Status status = download_->commit();
  download_.reset();
  if (status.isOk()) {
    endPhase();
  } else {
    finish(status);
  }
}

// A plain file where the download folder belongs ends the program, once this is the current
// entry, so that everything before it has been told.
void EntryFetch::endFatally() {
  context_.services.messageBox->showWarning(ByteString(failure_.reason()));
  context_.services.exit->exitProcess(1);
}

void EntryFetch::finish(const Status& failure) {
  step_ = Step::Ended;
  if (failure.isOk()) {
    auto done = std::make_unique<EntryDonePayload>();
    done->id = request_.id;
    done->url = request_.url;
    outbox_.work(WorkCode::EntryDone, std::move(done));
    return;
  }
  const bool local = failure.kind() == Status::Kind::Local;
  outbox_.status({UiCode::StatusEntryFailed, shownUrl_, ByteString(failure.reason()), local, 0});
  auto failed = std::make_unique<EntryFailedPayload>();
  failed->id = request_.id;
  outbox_.work(WorkCode::EntryFailed, std::move(failed));
}

}  // namespace tarnwick
