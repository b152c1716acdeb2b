#include <curl/curl.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace tarnwick {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Longest wait inside curl before the abort flags and the drip rule are looked at again.
constexpr auto kPollSlice = std::chrono::milliseconds(50);
// Larger socket reads than curl's 16 KiB default: a quarter of the system calls on a big file.
constexpr long kReceiveBufferSize = 128 * 1024;
// The drip rule samples the byte count this many times per window.
constexpr int kDripSamplesPerWindow = 20;

// Every libcurl failure becomes a Status here.
Status statusOf(CURLcode code, const char* detail) {
  if (code == CURLE_OK) return Status::ok();
  return Status::network(*detail != '\0' ? detail : curl_easy_strerror(code));
}

// The caller's header text as curl header lines. curl drops a line whose value is blank,
// so such a line is written in curl's "Name;" form, which sends the header empty.
curl_slist* headerLines(const ByteString& headerText) {
  curl_slist* lines = nullptr;
  std::string_view rest = headerText.view();
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    std::string line(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos &&
        line.find_first_not_of(" \t", colon + 1) == std::string::npos) {
      line.resize(colon);
      line += ';';
    }
    if (curl_slist* extended = curl_slist_append(lines, line.c_str())) lines = extended;
  }
  return lines;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Body bytes seen over the last window, from samples taken as the transfer is pumped.
class DripMeter {
 public:
  DripMeter(std::chrono::milliseconds window, std::uint64_t minimumBytes)
      : window_(window), minimumBytes_(minimumBytes), samples_{{SteadyClock::now(), 0}} {}

  void add(std::size_t bytes) { received_ += bytes; }

  // True when fewer than the minimum arrived in the last window.
  bool starved(SteadyClock::time_point now) {
    if (now - samples_.back().time >= window_ / kDripSamplesPerWindow) {
      samples_.push_back({now, received_});
    }
    // The front stays the newest sample that is at least one window old.
    while (samples_.size() >= 2 && samples_[1].time <= now - window_) samples_.pop_front();
    return samples_.front().time <= now - window_ &&
           received_ - samples_.front().received < minimumBytes_;
  }

 private:
  struct Sample {
    SteadyClock::time_point time;
    std::uint64_t received;
  };
  std::chrono::milliseconds window_;
  std::uint64_t minimumBytes_;
  std::uint64_t received_ = 0;
  std::deque<Sample> samples_;
};

// One GET on its own easy handle, attached to the client's multi handle.
class CurlTransfer {
 public:
  CurlTransfer(const HttpRequest& request, HttpReceiver& receiver, const HttpClientOptions& options)
      : easy_(curl_easy_init()),
        receiver_(receiver),
        abort_(request.abort),
        drip_(options.dripWindow, options.dripBytes) {}
  ~CurlTransfer() {
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    curl_slist_free_all(headers_);
  }
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  CURL* easy() const { return easy_; }

  // Sets the transfer up; a failure means it cannot start.
  Status configure(const HttpRequest& request, const HttpClientOptions& options, CURLSH* share,
                   const std::string& caBundle) {
    if (easy_ == nullptr) return Status::network("cannot create a transfer");
    // A NUL would silently cut the URL short at the C interface.
    if (request.url.view().find('\0') != std::string_view::npos) {
      return Status::network("NUL byte in the URL");
    }
    headers_ = headerLines(request.headerText);
    CURLcode code = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(easy_, option, value);
    };
    set(CURLOPT_URL, request.url.str().c_str());
    set(CURLOPT_USERAGENT, request.agent.str().c_str());
    set(CURLOPT_HTTPHEADER, headers_);
    set(CURLOPT_SHARE, share);
    set(CURLOPT_COOKIEFILE, "");  // cookie engine on, nothing read from disk
    set(CURLOPT_NOSIGNAL, 1L);
    // Redirects stay on http and https, so a server can never make us read a local file.
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, options.maxRedirects);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    set(CURLOPT_ERRORBUFFER, error_);
    set(CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_WRITEFUNCTION, &CurlTransfer::onData);
    set(CURLOPT_WRITEDATA, this);
    if (!caBundle.empty()) {
      curl_blob blob{const_cast<char*>(caBundle.data()), caBundle.size(), CURL_BLOB_NOCOPY};
      set(CURLOPT_CAINFO_BLOB, &blob);
    }
    return statusOf(code, error_);
  }

  // The transfer's end as curl reports it. A transfer its receiver declined ends well.
  Status result(CURLcode code) const {
    if (declined_) return Status::ok();
    return statusOf(code, error_);
  }

  // A reason to end the transfer now, from outside curl; ok to go on.
  Status check(SteadyClock::time_point now) {
    if (abort_ != nullptr && abort_->load(std::memory_order_acquire)) return Status::aborted();
    if (drip_.starved(now)) return Status::network("the server sent too little for too long");
    return Status::ok();
  }

 private:
  // The headers of a 1xx or a followed redirect are not the final response's.
  static std::size_t onHeader(char* data, std::size_t, std::size_t size, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const std::string_view line(data, size);
    if (startsWithIgnoringCase(line, "HTTP/")) {
      transfer.locationSeen_ = false;
    } else if (startsWithIgnoringCase(line, "Location:")) {
      transfer.locationSeen_ = true;
    } else if (line == "\r\n" || line == "\n") {
      return transfer.headersEnded() ? size : 0;
    }
    return size;
  }

  bool headersEnded() {
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    const bool interim = status < 200;
    const bool redirect = status >= 300 && status < 400 && locationSeen_;
    if (interim || redirect || status <= 0) return true;
    curl_off_t length = -1;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    finalSeen_ = true;
    const std::optional<std::uint64_t> contentLength =
        length >= 0 ? std::optional(static_cast<std::uint64_t>(length)) : std::nullopt;
    declined_ = !receiver_.onResponse(static_cast<std::uint32_t>(status), contentLength);
    return !declined_;
  }

  static std::size_t onData(char* data, std::size_t, std::size_t size, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    if (!transfer.finalSeen_) return size;  // the body of a redirect
    transfer.drip_.add(size);
    transfer.declined_ = !transfer.receiver_.onBody(std::string_view(data, size));
    return transfer.declined_ ? 0 : size;
  }

  CURL* easy_;
  HttpReceiver& receiver_;
  const std::atomic<bool>* abort_;
  curl_slist* headers_ = nullptr;
  char error_[CURL_ERROR_SIZE] = {};
  DripMeter drip_;
  bool locationSeen_ = false;
  bool finalSeen_ = false;
  bool declined_ = false;
};

class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(const HttpClientOptions& options) : options_(options) {
    static std::once_flag once;
    static CURLcode initResult = CURLE_FAILED_INIT;
    std::call_once(once, [] { initResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (initResult != CURLE_OK) return;
    multi_ = curl_multi_init();
    share_ = curl_share_init();
    if (multi_ == nullptr || share_ == nullptr) return;
    curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, options.maxConnections);
    // One thread at a time uses the client, so the share needs no lock callbacks.
    for (const curl_lock_data data : {CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_COOKIE}) {
      curl_share_setopt(share_, CURLSHOPT_SHARE, data);
    }
    if (!options.caCertificateFile.empty()) caBundle_ = trustedCertificates(options);
  }

  ~CurlHttpClient() override {
    for (auto& [id, transfer] : running_) curl_multi_remove_handle(multi_, transfer->easy());
    running_.clear();
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    if (share_ != nullptr) curl_share_cleanup(share_);
  }
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  TransferId start(const HttpRequest& request, HttpReceiver& receiver) override {
    const TransferId id = ++lastId_;
    auto transfer = std::make_unique<CurlTransfer>(request, receiver, options_);
    Status status = multi_ != nullptr && share_ != nullptr
                        ? transfer->configure(request, options_, share_, caBundle_)
                        : Status::network("libcurl could not be initialised");
    if (status.isOk() && curl_multi_add_handle(multi_, transfer->easy()) != CURLM_OK) {
      status = Status::network("cannot start the transfer");
    }
    if (!status.isOk()) {
      ended_.push_back({id, status});
      return id;
    }
    curl_easy_setopt(transfer->easy(), CURLOPT_PRIVATE, reinterpret_cast<void*>(id));
    running_.emplace(id, std::move(transfer));
    return id;
  }

  std::vector<EndedTransfer> pump(std::chrono::milliseconds wait) override {
    const auto deadline = SteadyClock::now() + wait;
    for (;;) {
      int running = 0;
      curl_multi_perform(multi_, &running);
      collectFinished();
      checkRunning();
      const auto now = SteadyClock::now();
      if (!ended_.empty() || running_.empty() || now >= deadline) break;
      const auto slice = std::min<SteadyClock::duration>(kPollSlice, deadline - now);
      const auto sliceMs = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
      curl_multi_poll(multi_, nullptr, 0, static_cast<int>(sliceMs), nullptr);
    }
    return std::exchange(ended_, {});
  }

  void cancel(TransferId id) override {
    const auto found = running_.find(id);
    if (found == running_.end()) return;
    curl_multi_remove_handle(multi_, found->second->easy());
    running_.erase(found);
  }

 private:
  // The system's certificate authorities and the extra one, as one bundle: curl takes a
  // single bundle, and the extra authority must not replace the system's.
  static std::string trustedCertificates(const HttpClientOptions& options) {
    const char* systemBundle = curl_version_info(CURLVERSION_NOW)->cainfo;
    std::string bundle = systemBundle != nullptr ? readWholeFile(systemBundle) : std::string();
    return bundle + "\n" + readWholeFile(options.caCertificateFile);
  }

  void end(TransferId id, Status status) {
    cancel(id);
    ended_.push_back({id, std::move(status)});
  }

  void collectFinished() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      void* privateData = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &privateData);
      const auto id = static_cast<TransferId>(reinterpret_cast<std::uintptr_t>(privateData));
      const auto found = running_.find(id);
      if (found != running_.end()) end(id, found->second->result(message->data.result));
    }
  }

  void checkRunning() {
    const auto now = SteadyClock::now();
    std::vector<std::pair<TransferId, Status>> stopped;
    for (auto& [id, transfer] : running_) {
      Status status = transfer->check(now);
      if (!status.isOk()) stopped.emplace_back(id, std::move(status));
    }
    for (auto& [id, status] : stopped) end(id, std::move(status));
  }

  const HttpClientOptions options_;
  CURLM* multi_ = nullptr;
  CURLSH* share_ = nullptr;
  std::string caBundle_;
  TransferId lastId_ = 0;
  std::map<TransferId, std::unique_ptr<CurlTransfer>> running_;
  std::vector<EndedTransfer> ended_;
};

}  // namespace

std::unique_ptr<HttpClient> makeCurlHttpClient(const HttpClientOptions& options) {
  return std::make_unique<CurlHttpClient>(options);
}

}  // namespace tarnwick
