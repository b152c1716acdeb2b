#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "text/byte_string.h"

namespace tarnwick {

// One GET request. The URL and the header text are code page 932 bytes; the header text
// is lines ending in "\n", sent besides the client's own headers.
struct HttpRequest {
  ByteString url;
  ByteString agent;  // sent as User-Agent
  ByteString headerText;
  // When it becomes true (from any thread), the transfer ends with Status::aborted() within
  // a poll slice. May be null.
  const std::atomic<bool>* abort = nullptr;
  // Off, redirects lead to http:// URLs only; on, to https:// ones too.
  bool httpsAllowed = false;
};

// What a receiver did with the body bytes it was handed.
enum class BodyTaken {
  All,     // go on
  None,    // hold them and deliver them again once the transfer is resumed
  Enough,  // the transfer ends here as a success; what follows is not delivered
};

// Takes the response of one transfer. Called on the thread that pumps the client, from
// inside pump() or resume(); a receiver does no more there than keep what it is handed.
class HttpReceiver {
 public:
  virtual ~HttpReceiver() = default;
  // The final response's status and Content-Length (nullopt when it has none), after any
  // interim responses and followed redirects; a 3xx arrives here only when it is not
  // followed. False ends the transfer here, its body unread, as a success.
  virtual bool onResponse(std::uint32_t status, std::optional<std::uint64_t> contentLength) = 0;
  // The next bytes of the final response's body.
  virtual BodyTaken onBody(std::string_view bytes) = 0;
};

using TransferId = std::uint64_t;

struct EndedTransfer {
  TransferId id = 0;
  Status status;  // ok: complete, or ended by its receiver
};

struct HttpClientOptions {
  std::chrono::milliseconds connectTimeout{30000};
  // A transfer that receives fewer than `dripBytes` body bytes in any `dripWindow` (the
  // time before the final response's headers counts as receiving nothing; time held by its
  // receiver does not count) ends as a stall.
  std::chrono::milliseconds dripWindow{60000};
  std::uint64_t dripBytes = 1024;
  long maxRedirects = 20;
  long maxConnections = 1;
  std::string caCertificateFile{};  // trusted besides the system's authorities when not empty
  // The PEM file of the system's certificate authorities; empty for the one libcurl was
  // built with.
  std::string systemCertificates{};
};

// Runs GET transfers, any number at once, over at most options.maxConnections connections.
// Nothing happens between calls. Thread rule: one thread at a time uses a client and every
// transfer it started. No call throws; a transfer that cannot even start ends at the next
// pump with its reason. A transfer whose receiver has had enough keeps its connection when
// little of its body is left: that rest is read and dropped.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // `receiver` must stay alive until the transfer has ended or been cancelled.
  virtual TransferId start(const HttpRequest& request, HttpReceiver& receiver) = 0;
  // Moves the running transfers on for up to `wait` and returns those that ended meanwhile.
  // Returns at once when one has ended or a receiver has held bytes back. Network failures
  // and stalls end as Status::network, a redirect that may not be followed as
  // Status::refused.
  virtual std::vector<EndedTransfer> pump(std::chrono::milliseconds wait) = 0;
  // Delivers the bytes a receiver held back, possibly before returning, and goes on.
  virtual void resume(TransferId id) = 0;
  // Ends a running transfer quietly; it is not reported by pump.
  virtual void cancel(TransferId id) = 0;
  // How many transfers run side by side without waiting for one another: one per
  // connection, more where a connection carries several (HTTP/2).
  virtual std::uint32_t transfersAtOnce() const = 0;
};

// The libcurl client. Connections, DNS answers and cookies are kept between transfers.
std::unique_ptr<HttpClient> makeCurlHttpClient(const HttpClientOptions& options);

}  // namespace tarnwick
