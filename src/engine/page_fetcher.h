#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/crawl_components.h"
#include "engine/messages.h"
#include "platform/services.h"
#include "storage/save_layout.h"

namespace tarnwick {

class HttpResponse;
class WritableFile;

// Fetches the URL of one FetchRequest: the text of a page whose links are followed
// (posted as PageFetched) and a file that reaches its size threshold (saved where
// SaveLocation says). Every attempt opens its own session; an HTTP client error costs a
// 100 ms pause and a retry while attempts remain. Progress goes to the status queue.
// A local file that cannot be created, written or closed fails the request without a
// retry: the disk, not the network, is at fault. Runs on the worker thread.
class PageFetcher final : public Fetcher {
 public:
  static constexpr std::size_t kReadSize = 65536;
  static constexpr std::size_t kMaxPageText = std::size_t{64} * 1024 * 1024;

  // `abort` may be null; when it becomes true (from any thread) the running transfer
  // ends at its next read and the request fails without retries.
  PageFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue, SaveLayout saveLayout,
              const PlatformServices& services, const std::atomic<bool>* abort);

  bool isBusy() const override { return busy_; }
  void fetch(const FetchRequestPayload& request) override;

 private:
  // What an attempt does with a response of an accepted status: returns whether the request
  // goes on; throws to be retried.
  using AttemptStep = bool (PageFetcher::*)(const FetchRequestPayload&, HttpResponse&);

  bool runPhases(const FetchRequestPayload& request);
  bool runAttempts(int attempts, AttemptStep step, const FetchRequestPayload& request,
                   const ByteString& headerText);
  bool pageAttempt(const FetchRequestPayload& request, HttpResponse& response);
  bool fileAttempt(const FetchRequestPayload& request, HttpResponse& response);
  bool saveKnownLength(HttpResponse& response, const ByteString& url, const ByteString& path,
                       std::uint64_t length);
  bool saveUnknownLength(HttpResponse& response, const FetchRequestPayload& request,
                         const ByteString& path);
  std::optional<std::uint64_t> streamBody(HttpResponse& response, WritableFile& file,
                                          UiMessage& progress);
  ByteString readPageText(HttpResponse& response);
  std::size_t readBlock(HttpResponse& response);
  void postStatus(UiCode code, const ByteString& url);
  void postDownloaded(const ByteString& url, const ByteString& path, std::uint64_t size);
  bool aborted() const;

  WorkQueue& workQueue_;
  UiMessageQueue& statusQueue_;
  SaveLayout saveLayout_;
  PlatformServices services_;
  const std::atomic<bool>* abort_;
  std::vector<char> buffer_;
  bool busy_ = false;
};

}  // namespace tarnwick
