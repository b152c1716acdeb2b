#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>

#include "text/byte_string.h"

namespace tarnwick {

// A client error of one attempt: connection refused or timed out, a broken or stalled
// body, a refused redirect, an aborted transfer. The fetcher catches it per attempt.
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One response, opened through a session. Used on the thread that opened it.
class HttpResponse {
 public:
  virtual ~HttpResponse() = default;
  // Numeric status of the final response (after redirects). Throws HttpError.
  virtual std::uint32_t statusCode() = 0;
  // The Content-Length header, or nullopt when the response has none. Never throws.
  virtual std::optional<std::uint64_t> contentLength() = 0;
  // Reads the next body bytes into `buffer`, at most `capacity`; returns 0 at the end
  // of the body. Blocks until at least one byte, the end or an error. Throws HttpError.
  virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
};

// One session: its requests send the session's agent as User-Agent. Closing is
// destruction and never fails. Used on the thread that opened it.
class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // Sends a GET for `url` (code page 932 bytes) with the extra header text (lines ending
  // in "\n") and returns once the final response's headers are in, redirects followed.
  // Throws HttpError.
  virtual std::unique_ptr<HttpResponse> openUrl(const ByteString& url,
                                                const ByteString& headerText) = 0;
};

struct HttpClientOptions {
  std::chrono::milliseconds connectTimeout{30000};
  std::chrono::milliseconds stallTimeout{60000};  // no byte for this long ends the attempt
  long maxRedirects = 20;                         // to http:// and https:// only
  // When set (from any thread), the running transfer ends at its next read with HttpError.
  const std::atomic<bool>* abort = nullptr;
};

// Opens sessions. Thread rule: one client per worker thread.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Throws HttpError when no session can be opened.
  virtual std::unique_ptr<HttpSession> openSession(const ByteString& agent) = 0;
};

// The libcurl client. Connections may be reused below the sessions.
std::unique_ptr<HttpClient> makeCurlHttpClient(const HttpClientOptions& options);

}  // namespace tarnwick
