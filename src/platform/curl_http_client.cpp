#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace tarnwick {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Longest wait inside curl before the abort flag and the stall deadline are looked at again.
constexpr auto kPollSlice = std::chrono::milliseconds(50);
// Body bytes held for the reader before the transfer is paused; keeps memory bounded.
constexpr std::size_t kBufferedBodyLimit = 256 * 1024;
constexpr std::size_t kReceiveBufferSize = 128 * 1024;

// Every libcurl failure leaves this file as an HttpError made here.
[[noreturn]] void throwHttpError(std::string_view what) { throw HttpError(std::string(what)); }

void check(CURLcode code) {
  if (code != CURLE_OK) throwHttpError(curl_easy_strerror(code));
}

void check(CURLMcode code) {
  if (code != CURLM_OK) throwHttpError(curl_multi_strerror(code));
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
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
    curl_slist* extended = curl_slist_append(lines, line.c_str());
    if (extended == nullptr) {
      curl_slist_free_all(lines);
      throwHttpError("out of memory for the request headers");
    }
    lines = extended;
  }
  return lines;
}

// What the sessions of one client share: options, and connections, DNS answers and
// cookies below the sessions. Sessions and responses keep it alive.
class ClientContext {
 public:
  explicit ClientContext(const HttpClientOptions& options) : options_(options) {
    static std::once_flag once;
    static CURLcode initResult = CURLE_FAILED_INIT;
    std::call_once(once, [] { initResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (initResult != CURLE_OK) return;
    share_ = curl_share_init();
    if (share_ == nullptr) return;
    // One client per thread, so the share needs no lock callbacks.
    for (const curl_lock_data data :
         {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_COOKIE}) {
      curl_share_setopt(share_, CURLSHOPT_SHARE, data);
    }
  }
  ~ClientContext() {
    if (share_ != nullptr) curl_share_cleanup(share_);
  }
  ClientContext(const ClientContext&) = delete;
  ClientContext& operator=(const ClientContext&) = delete;

  bool isReady() const { return share_ != nullptr; }
  CURLSH* share() const { return share_; }
  const HttpClientOptions& options() const { return options_; }

 private:
  HttpClientOptions options_;
  CURLSH* share_ = nullptr;
};

// One GET on its own easy handle, driven pull-style through its own multi handle: curl runs
// only inside openUrl and read, and pauses once kBufferedBodyLimit bytes wait for the reader.
class CurlResponse final : public HttpResponse {
 public:
  explicit CurlResponse(std::shared_ptr<const ClientContext> context)
      : context_(std::move(context)), easy_(curl_easy_init()), multi_(curl_multi_init()) {}

  ~CurlResponse() override {
    if (attached_) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
  }
  CurlResponse(const CurlResponse&) = delete;
  CurlResponse& operator=(const CurlResponse&) = delete;

  // Starts the request and waits for the final response's headers.
  void open(const std::string& agent, const ByteString& url, const ByteString& headerText) {
    if (easy_ == nullptr || multi_ == nullptr) throwHttpError("cannot create a transfer");
    // A NUL would silently cut the URL short at the C interface.
    if (url.view().find('\0') != std::string_view::npos) throwHttpError("NUL byte in URL");
    headers_ = headerLines(headerText);
    configure(agent, url);
    check(curl_multi_add_handle(multi_, easy_));
    attached_ = true;
    const auto headersIn = [this] { return finalHeadersSeen_ || bufferedBytes() > 0; };
    pumpUntil(headersIn);
    // A failure after the final headers belongs to the body and surfaces in read().
    if (!headersIn()) check(result_);
    long status = 0;
    check(curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status));
    if (status <= 0) throwHttpError("response without a status");
    status_ = static_cast<std::uint32_t>(status);
    curl_off_t length = -1;
    check(curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length));
    if (length >= 0) contentLength_ = static_cast<std::uint64_t>(length);
  }

  std::uint32_t statusCode() override { return status_; }
  std::optional<std::uint64_t> contentLength() override { return contentLength_; }

  std::size_t read(char* buffer, std::size_t capacity) override {
    throwIfAborted();
    pumpUntil([this] { return bufferedBytes() > 0; });
    if (bufferedBytes() == 0) {
      check(result_);
      return 0;
    }
    const std::size_t count = std::min(capacity, bufferedBytes());
    std::memcpy(buffer, body_.data() + bodyOffset_, count);
    bodyOffset_ += count;
    return count;
  }

 private:
  template <typename T>
  void setOption(CURLoption option, T value) {
    check(curl_easy_setopt(easy_, option, value));
  }

  void configure(const std::string& agent, const ByteString& url) {
    const HttpClientOptions& options = context_->options();
    setOption(CURLOPT_URL, url.str().c_str());
    setOption(CURLOPT_USERAGENT, agent.c_str());
    setOption(CURLOPT_HTTPHEADER, headers_);
    setOption(CURLOPT_SHARE, context_->share());
    setOption(CURLOPT_COOKIEFILE, "");  // cookie engine on, nothing read from disk
    setOption(CURLOPT_NOSIGNAL, 1L);
    // Redirects stay on http and https, so a server can never make us read a local file.
    setOption(CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    setOption(CURLOPT_FOLLOWLOCATION, 1L);
    setOption(CURLOPT_MAXREDIRS, options.maxRedirects);
    setOption(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    setOption(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    setOption(CURLOPT_HEADERFUNCTION, &CurlResponse::onHeader);
    setOption(CURLOPT_HEADERDATA, this);
    // Larger socket reads than curl's 16 KiB default: a quarter of the system calls on a
    // big file, which is most of the client's own time.
    setOption(CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveBufferSize));
    setOption(CURLOPT_WRITEFUNCTION, &CurlResponse::onBody);
    setOption(CURLOPT_WRITEDATA, this);
  }

  std::size_t bufferedBytes() const { return body_.size() - bodyOffset_; }

  void throwIfAborted() const {
    const std::atomic<bool>* abort = context_->options().abort;
    if (abort != nullptr && abort->load()) throwHttpError("transfer aborted");
  }

  // Runs curl until `ready` holds or the transfer has ended. No byte for the stall timeout
  // or the abort flag ends the attempt with HttpError.
  template <typename Ready>
  void pumpUntil(Ready ready) {
    const auto stallTimeout = context_->options().stallTimeout;
    auto deadline = SteadyClock::now() + stallTimeout;
    std::uint64_t progressSeen = progress_;
    while (!ready() && !finished_) {
      throwIfAborted();
      if (paused_) {
        paused_ = false;
        check(curl_easy_pause(easy_, CURLPAUSE_CONT));
      }
      int running = 0;
      check(curl_multi_perform(multi_, &running));
      collectResult();
      if (ready() || finished_) return;
      const auto now = SteadyClock::now();
      if (progress_ != progressSeen) {
        progressSeen = progress_;
        deadline = now + stallTimeout;
      } else if (now >= deadline) {
        throwHttpError("no data from the server within the stall timeout");
      }
      const auto wait = std::min<SteadyClock::duration>(kPollSlice, deadline - now);
      const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
      check(curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitMs), nullptr));
    }
  }

  void collectResult() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE) {
        finished_ = true;
        result_ = message->data.result;
      }
    }
  }

  // The headers of a 1xx or a followed redirect are not the final response's.
  static std::size_t onHeader(char* data, std::size_t, std::size_t size, void* self) {
    auto& response = *static_cast<CurlResponse*>(self);
    const std::string_view line(data, size);
    ++response.progress_;
    if (startsWithIgnoringCase(line, "HTTP/")) {
      response.locationSeen_ = false;
    } else if (startsWithIgnoringCase(line, "Location:")) {
      response.locationSeen_ = true;
    } else if (line == "\r\n" || line == "\n") {
      long status = 0;
      curl_easy_getinfo(response.easy_, CURLINFO_RESPONSE_CODE, &status);
      const bool interim = status < 200;
      const bool redirect = status >= 300 && status < 400 && response.locationSeen_;
      response.finalHeadersSeen_ = !interim && !redirect;
    }
    return size;
  }

  static std::size_t onBody(char* data, std::size_t, std::size_t size, void* self) {
    auto& response = *static_cast<CurlResponse*>(self);
    if (response.bufferedBytes() >= kBufferedBodyLimit) {
      response.paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (response.bufferedBytes() == 0) {
      response.body_.clear();
      response.bodyOffset_ = 0;
    }
    response.body_.append(data, size);
    ++response.progress_;
    return size;
  }

  std::shared_ptr<const ClientContext> context_;
  CURL* easy_;
  CURLM* multi_;
  curl_slist* headers_ = nullptr;
  bool attached_ = false;

  std::string body_;  // received bytes; those before bodyOffset_ have been read
  std::size_t bodyOffset_ = 0;
  std::uint64_t progress_ = 0;  // counts header lines and body pieces as they arrive
  bool paused_ = false;
  bool locationSeen_ = false;
  bool finalHeadersSeen_ = false;
  bool finished_ = false;
  CURLcode result_ = CURLE_OK;

  std::uint32_t status_ = 0;
  std::optional<std::uint64_t> contentLength_;
};

class CurlHttpSession final : public HttpSession {
 public:
  CurlHttpSession(std::shared_ptr<const ClientContext> context, std::string agent)
      : context_(std::move(context)), agent_(std::move(agent)) {}

  std::unique_ptr<HttpResponse> openUrl(const ByteString& url,
                                        const ByteString& headerText) override {
    auto response = std::make_unique<CurlResponse>(context_);
    response->open(agent_, url, headerText);
    return response;
  }

 private:
  std::shared_ptr<const ClientContext> context_;
  std::string agent_;
};

class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(const HttpClientOptions& options)
      : context_(std::make_shared<const ClientContext>(options)) {}

  std::unique_ptr<HttpSession> openSession(const ByteString& agent) override {
    if (!context_->isReady()) throwHttpError("libcurl could not be initialised");
    return std::make_unique<CurlHttpSession>(context_, agent.str());
  }

 private:
  std::shared_ptr<const ClientContext> context_;
};

}  // namespace

std::unique_ptr<HttpClient> makeCurlHttpClient(const HttpClientOptions& options) {
  return std::make_unique<CurlHttpClient>(options);
}

}  // namespace tarnwick
