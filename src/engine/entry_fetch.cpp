#include "engine/entry_fetch.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

#include "engine/ui_message_queue.h"
#include "engine/url_text.h"
#include "engine/work_queue.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/process_exit.h"

namespace tarnwick {
namespace {

constexpr std::string_view kAgent = "TWK/1.1 ROBOT";
constexpr int kPageAttempts = 2;
constexpr int kFileAttempts = 3;
constexpr std::chrono::milliseconds kRetryPause{100};

// The scheme, a host and something more, without an empty path segment.
bool urlPasses(const ByteString& url, bool allowHttps) {
  const auto scheme = static_cast<int>(schemeLength(url.view(), allowHttps));
  return scheme > 0 && url.find("//", scheme + 1) < 0 && url.length() > scheme + 3;
}

bool statusAccepted(std::uint32_t status) { return status >= 200 && status < 400; }

// The message fields carry unsigned 32-bit sizes; a larger size shows its low 32 bits.
std::int32_t reportedSize(std::uint64_t size) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
}

bool mustArrive(UiCode code) {
  return code == UiCode::StatusDownloaded || code == UiCode::StatusEntryFailed;
}

}  // namespace

void Outbox::goLive() {
  live_ = true;
  for (UiMessage& message : statuses_) push(std::move(message));
  for (WorkMessage& message : works_) workQueue_.post(message.code, std::move(message.payload));
  statuses_.clear();
  works_.clear();
}

void Outbox::status(UiMessage message) {
  if (live_) {
    push(std::move(message));
  } else {
    statuses_.push_back(std::move(message));
  }
}

void Outbox::work(WorkCode code, std::unique_ptr<WorkPayload> payload) {
  if (live_) {
    workQueue_.post(code, std::move(payload));
  } else {
    works_.push_back({code, std::move(payload)});
  }
}

void Outbox::push(UiMessage message) {
  if (mustArrive(message.code)) {
    statusQueue_.pushWaiting(message);
  } else {
    statusQueue_.push(message);
  }
}

EntryFetch::EntryFetch(const FetchRequestPayload& request, FetchContext& context)
    : request_(request),
      context_(context),
      outbox_(context.workQueue, context.statusQueue),
      shownUrl_(withPasswordHidden(request.url)),
      savedUrl_(withoutUserInfo(request.url)) {}

const ByteString& EntryFetch::saveKey() {
  if (!saveKey_) {
    const bool saves = (request_.flags & CrawlFlags::SaveIfAtLeast) != 0;
    saveKey_ = saves ? relativeSavePath(savedUrl_, context_.saveLayout) : ByteString();
  }
  return *saveKey_;
}

EntryFetch::~EntryFetch() { abandon(); }

std::optional<std::chrono::steady_clock::time_point> EntryFetch::pausedUntil() const {
  if (step_ != Step::Pausing) return std::nullopt;
  return pauseEnd_;
}

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
  outbox_.goLive();
  pageBytes_ = 0;
  if (!started()) {
    start();
  } else if (step_ == Step::AwaitingTurn) {
    fatal_.isOk() ? finishFile() : endFatally();
  }
}

void EntryFetch::onTransferEnded(const Status& status) {
  transfer_.reset();
  if (status.isOk() && file_ && !block_.empty()) writeBlock();
  endAttempt(resultOf(status));
}

void EntryFetch::onPauseOver() {
  if (attemptsLeft_ == 0) {
    finish(failure_);
  } else {
    startAttempt();
  }
}

void EntryFetch::abandon() {
  if (transfer_) context_.services.http->cancel(*transfer_);
  transfer_.reset();
  file_.reset();
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
  pageText_.clear();
  bodyBytes_ = 0;
  length_.reset();
  target_ = {};
  file_.reset();
  block_.clear();
  // A password given for the start URL's host is never sent to another one.
  const HttpRequest httpRequest{request_.url, ByteString(kAgent),
                                "Referer: " + withoutUserInfo(request_.referrer) + "\n",
                                context_.abort};
  step_ = Step::Transferring;
  transfer_ = context_.services.http->start(httpRequest, *this);
}

bool EntryFetch::onResponse(std::uint32_t status, std::optional<std::uint64_t> contentLength) {
  if (!statusAccepted(status)) {
    decide(AttemptEnd::Failed, Status::refused("HTTP status " + std::to_string(status)));
    return false;
  }
  if (phase_ == Phase::File) return prepareFile(contentLength);
  // Grown by doubling, the text could take twice the room it needs.
  if (contentLength) pageText_.reserve(std::min<std::uint64_t>(*contentLength, kMaxPageText));
  return true;
}

// Settles whether the body is wanted, and opens the temporary file when it is.
bool EntryFetch::prepareFile(std::optional<std::uint64_t> contentLength) {
  length_ = contentLength;
  if (length_ && *length_ < request_.minSize) {
    decide(AttemptEnd::Done);  // too small: the body is never read
    return false;
  }
  SaveLocation location(context_.saveLayout, *context_.services.files, *context_.services.clock);
  Status status = location.pathForUrl(savedUrl_, &target_);
  if (status.isOk() && length_ && *length_ == target_.storedSize) {
    decide(AttemptEnd::Done);  // already stored
    return false;
  }
  if (status.isOk()) status = target_.folder->createFile(target_.name, &file_);
  if (!status.isOk()) {
    decide(AttemptEnd::Failed, std::move(status));
    return false;
  }
  block_.reserve(kBlockSize);
  outbox_.status({UiCode::StatusDownloading, shownUrl_, {}, 0, reportedSize(length_.value_or(0))});
  return true;
}

bool EntryFetch::onBody(std::string_view bytes) {
  if (phase_ == Phase::File) {
    // Gathered into whole blocks: the client hands over small pieces, and each block costs a
    // write and a progress message.
    while (!bytes.empty()) {
      const std::size_t taken = std::min(bytes.size(), kBlockSize - block_.size());
      block_.append(bytes.substr(0, taken));
      bytes.remove_prefix(taken);
      if (block_.size() == kBlockSize && !writeBlock()) return false;
    }
    return true;
  }
  // The page text is the first kMaxPageText body bytes without CR and LF; nothing past them
  // is read, so an endless run of line breaks ends too.
  const std::size_t kept = std::min<std::uint64_t>(bytes.size(), kMaxPageText - bodyBytes_);
  bodyBytes_ += kept;
  std::copy_if(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept),
               std::back_inserter(pageText_), [](char c) { return c != '\r' && c != '\n'; });
  return bodyBytes_ < kMaxPageText;
}

// Progress is posted before the block is written.
bool EntryFetch::writeBlock() {
  bodyBytes_ += block_.size();
  outbox_.status({UiCode::StatusDownloading,
                  shownUrl_,
                  {},
                  reportedSize(bodyBytes_),
                  reportedSize(length_.value_or(0))});
  Status status = file_->write(block_);
  block_.clear();
  if (status.isOk()) return true;
  decide(AttemptEnd::Failed, std::move(status));
  return false;
}

EntryFetch::AttemptResult EntryFetch::resultOf(const Status& transferStatus) {
  if (decided_) return std::move(*decided_);
  if (transferStatus.kind() == Status::Kind::Aborted) return {AttemptEnd::Failed, transferStatus};
  if (!transferStatus.isOk()) return {AttemptEnd::Retry, transferStatus};
  if (phase_ == Phase::File && length_ && bodyBytes_ != *length_) {
    return {AttemptEnd::Retry, Status::network("the body ended before its announced length")};
  }
  return {AttemptEnd::Done, {}};
}

void EntryFetch::endAttempt(AttemptResult result) {
  switch (result.end) {
    case AttemptEnd::Done:
      if (phase_ == Phase::Page) {
        auto page = std::make_unique<PageFetchedPayload>();
        page->id = request_.id;
        page->depth = request_.depth;
        page->url = request_.url;
        pageBytes_ = pageText_.size();
        page->pageText = ByteString(std::move(pageText_));
        outbox_.work(WorkCode::PageFetched, std::move(page));
      }
      // A body of unknown length is saved only when it reached the threshold.
      if (file_ && (length_ || bodyBytes_ >= request_.minSize)) {
        finishFile();
      } else {
        file_.reset();
        endPhase();
      }
      break;
    case AttemptEnd::Retry:
      file_.reset();  // the piece goes; a stored copy stays as it was
      failure_ = std::move(result.reason);
      --attemptsLeft_;
      pauseEnd_ = context_.services.clock->now() + kRetryPause;
      step_ = Step::Pausing;
      break;
    case AttemptEnd::Failed:
      file_.reset();
      if (result.reason.kind() != Status::Kind::Fatal) {
        finish(result.reason);
        break;
      }
      fatal_ = std::move(result.reason);
      endFatally();
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

// Moves the received file onto its name, once this is the current entry.
void EntryFetch::finishFile() {
  if (!outbox_.isLive()) {
    step_ = Step::AwaitingTurn;
    return;
  }
  const Status status = file_->commit();
  file_.reset();
  if (!status.isOk()) {
    finish(status);
    return;
  }
  const std::int32_t size = reportedSize(length_.value_or(bodyBytes_));
  outbox_.status({UiCode::StatusDownloaded, shownUrl_, target_.path, size, size});
  endPhase();
}

// A plain file where the download folder belongs ends the program, once this is the current
// entry, so that everything before it has been told.
void EntryFetch::endFatally() {
  if (!outbox_.isLive()) {
    step_ = Step::AwaitingTurn;
    return;
  }
  context_.services.messageBox->showWarning(ByteString(fatal_.reason()));
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

void EntryFetch::decide(AttemptEnd end, Status reason) {
  decided_ = AttemptResult{end, std::move(reason)};
}

}  // namespace tarnwick
