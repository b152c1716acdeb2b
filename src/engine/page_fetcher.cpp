#include "engine/page_fetcher.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "storage/save_location.h"

namespace tarnwick {
namespace {

constexpr std::string_view kAgent = "TWK/1.1 ROBOT";
constexpr int kPageAttempts = 2;
constexpr int kFileAttempts = 3;
constexpr std::chrono::milliseconds kRetryPause{100};

bool urlPasses(const ByteString& url) {
  return url.view().starts_with("http://") && url.find("//", 8) < 0 && url.length() > 10;
}

bool statusAccepted(std::uint32_t status) { return status >= 200 && status < 400; }

// The message fields carry unsigned 32-bit sizes; a larger size shows its low 32 bits.
std::int32_t reportedSize(std::uint64_t size) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
}

// Deletes a partial file unless it has been moved into place.
class PartialFile {
 public:
  PartialFile(FileSystem& files, ByteString path) : files_(files), path_(std::move(path)) {}
  ~PartialFile() {
    if (!kept_) files_.remove(path_);
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  bool moveTo(const ByteString& target) {
    kept_ = files_.rename(path_, target);
    return kept_;
  }

 private:
  FileSystem& files_;
  ByteString path_;
  bool kept_ = false;
};

}  // namespace

PageFetcher::PageFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue, SaveLayout saveLayout,
                         const PlatformServices& services, const std::atomic<bool>* abort)
    : workQueue_(workQueue),
      statusQueue_(statusQueue),
      saveLayout_(saveLayout),
      services_(services),
      abort_(abort),
      buffer_(kReadSize) {}

void PageFetcher::fetch(const FetchRequestPayload& request) {
  busy_ = true;
  bool succeeded = false;
  try {
    succeeded = urlPasses(request.url) && runPhases(request);
  } catch (const std::exception&) {
    // Only a failure outside the attempts (such as memory for a message) lands here;
    // the request still ends with its one result.
  }
  if (succeeded) {
    auto done = std::make_unique<EntryDonePayload>();
    done->id = request.id;
    done->url = request.url;
    workQueue_.post(WorkCode::EntryDone, std::move(done));
  } else {
    auto failed = std::make_unique<EntryFailedPayload>();
    failed->id = request.id;
    workQueue_.post(WorkCode::EntryFailed, std::move(failed));
  }
  busy_ = false;
}

bool PageFetcher::runPhases(const FetchRequestPayload& request) {
  const ByteString headerText = "Referer: " + request.referrer + "\n";
  if ((request.flags & CrawlFlags::FollowLinks) != 0) {
    postStatus(UiCode::StatusSearching, request.url);
    if (!runAttempts(kPageAttempts, &PageFetcher::pageAttempt, request, headerText)) {
      return false;
    }
  }
  if ((request.flags & CrawlFlags::SaveIfAtLeast) != 0) {
    postStatus(UiCode::StatusExamining, request.url);
    return runAttempts(kFileAttempts, &PageFetcher::fileAttempt, request, headerText);
  }
  return true;
}

bool PageFetcher::runAttempts(int attempts, AttemptStep step, const FetchRequestPayload& request,
                              const ByteString& headerText) {
  for (int left = attempts; left > 0 && !aborted(); --left) {
    try {
      // The session and its response belong to this attempt alone.
      const std::unique_ptr<HttpSession> session = services_.http->openSession(ByteString(kAgent));
      const std::unique_ptr<HttpResponse> response = session->openUrl(request.url, headerText);
      if (!statusAccepted(response->statusCode())) {
        return false;
      }
      return (this->*step)(request, *response);
    } catch (const std::exception&) {
      // HttpError, or anything else that broke the attempt: it counts as a client error.
      if (aborted()) {
        return false;
      }
      services_.clock->pause(kRetryPause);
    }
  }
  return false;
}

bool PageFetcher::pageAttempt(const FetchRequestPayload& request, HttpResponse& response) {
  auto page = std::make_unique<PageFetchedPayload>();
  page->id = request.id;
  page->depth = request.depth;
  page->url = request.url;
  page->pageText = readPageText(response);
  workQueue_.post(WorkCode::PageFetched, std::move(page));
  return true;
}

bool PageFetcher::fileAttempt(const FetchRequestPayload& request, HttpResponse& response) {
  const std::optional<std::uint64_t> length = response.contentLength();
  if (length && *length < request.minSize) {
    return true;  // too small: the body is never read
  }
  SaveLocation location(saveLayout_, services_);
  const std::optional<SaveTarget> target = location.pathForUrl(request.url);
  if (!target) {
    return false;
  }
  if (!length) {
    return saveUnknownLength(response, request, target->path);
  }
  if (*length == target->storedSize) {
    return true;  // already stored
  }
  return saveKnownLength(response, request.url, target->path, *length);
}

bool PageFetcher::saveKnownLength(HttpResponse& response, const ByteString& url,
                                  const ByteString& path, std::uint64_t length) {
  const std::unique_ptr<WritableFile> file = services_.files->createFile(path);
  if (file == nullptr) {
    return false;
  }
  UiMessage progress{UiCode::StatusDownloading, url, {}, 0, reportedSize(length)};
  if (!streamBody(response, *file, progress) || !file->close()) {
    return false;
  }
  postDownloaded(url, path, length);
  return true;
}

// Without a length nothing tells whether the file qualifies, or whether a stored file
// is the same, before the body is in. It goes to a partial file that replaces the
// target only once complete and large enough, so an older file is never lost to it.
bool PageFetcher::saveUnknownLength(HttpResponse& response, const FetchRequestPayload& request,
                                    const ByteString& path) {
  const ByteString partialPath = path + ByteString(kPartialFileSuffix);
  const std::unique_ptr<WritableFile> file = services_.files->createFile(partialPath);
  if (file == nullptr) {
    return false;
  }
  PartialFile partial(*services_.files, partialPath);
  UiMessage progress{UiCode::StatusDownloading, request.url, {}, 0, 0};
  const std::optional<std::uint64_t> received = streamBody(response, *file, progress);
  if (!received || !file->close()) {
    return false;
  }
  if (*received < request.minSize) {
    return true;
  }
  if (!partial.moveTo(path)) {
    return false;
  }
  postDownloaded(request.url, path, *received);
  return true;
}

// Posts `progress` once before the first read and after every non-empty read, then
// writes the block. Returns the bytes received, or nullopt when a write failed.
std::optional<std::uint64_t> PageFetcher::streamBody(HttpResponse& response, WritableFile& file,
                                                     UiMessage& progress) {
  std::uint64_t received = 0;
  statusQueue_.push(progress);
  while (const std::size_t count = readBlock(response)) {
    received += count;
    progress.value1 = reportedSize(received);
    statusQueue_.push(progress);
    if (!file.write(buffer_.data(), count)) {
      return std::nullopt;
    }
  }
  return received;
}

// The first kMaxPageText bytes of the body without CR and LF bytes; nothing past them is
// read. The limit counts body bytes, not text, so an endless run of line breaks ends too.
ByteString PageFetcher::readPageText(HttpResponse& response) {
  std::string text;
  for (std::size_t bodyRead = 0; bodyRead < kMaxPageText;) {
    const std::size_t count = readBlock(response);
    if (count == 0) {
      break;
    }
    const std::size_t kept = std::min(count, kMaxPageText - bodyRead);
    bodyRead += count;
    std::copy_if(buffer_.data(), buffer_.data() + kept, std::back_inserter(text),
                 [](char c) { return c != '\r' && c != '\n'; });
  }
  return ByteString(std::move(text));
}

std::size_t PageFetcher::readBlock(HttpResponse& response) {
  if (aborted()) {
    throw HttpError("transfer aborted");
  }
  return response.read(buffer_.data(), buffer_.size());
}

void PageFetcher::postStatus(UiCode code, const ByteString& url) {
  statusQueue_.push(UiMessage{code, url, {}, 0, 0});
}

void PageFetcher::postDownloaded(const ByteString& url, const ByteString& path,
                                 std::uint64_t size) {
  statusQueue_.push(
      UiMessage{UiCode::StatusDownloaded, url, path, reportedSize(size), reportedSize(size)});
}

bool PageFetcher::aborted() const {
  return abort_ != nullptr && abort_->load(std::memory_order_acquire);
}

}  // namespace tarnwick
