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
// A body that nobody wants is read to its end and dropped, so that its connection is kept,
// when no more than this is left; a longer one costs the connection instead.
constexpr std::uint64_t kDrainedBytes = 64 * 1024;
// A rest being dropped that takes longer than this costs its connection after all.
constexpr auto kDrainTime = std::chrono::seconds(2);
// Requests one HTTP/2 connection carries at once.
constexpr std::uint32_t kStreamsPerConnection = 8;
// A host whose name did not resolve is not looked up again for this long: its transfers
// fail at once. A crawl meets dead hosts often, and every lookup of one costs a query that
// a busy name server may leave unanswered for seconds.
constexpr auto kUnresolvableFor = std::chrono::seconds(30);

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ShareDeleter {
  void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using ShareHandle = std::unique_ptr<CURLSH, ShareDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// Every libcurl failure becomes a Status here. A URL that cannot be fetched, or a redirect
// that may not or cannot be followed, is refused: trying again changes nothing.
Status statusOf(CURLcode code, const char* detail) {
  if (code == CURLE_OK) return Status::ok();
  std::string reason = *detail != '\0' ? detail : curl_easy_strerror(code);
  const bool refused = code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_URL_MALFORMAT ||
                       code == CURLE_TOO_MANY_REDIRECTS;
  return refused ? Status::refused(std::move(reason)) : Status::network(std::move(reason));
}

// The caller's header text as curl header lines. curl drops a line whose value is blank,
// so such a line is written in curl's "Name;" form, which sends the header empty.
HeaderList headerLines(const ByteString& headerText) {
  HeaderList lines;
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
    if (curl_slist* extended = curl_slist_append(lines.get(), line.c_str())) {
      static_cast<void>(lines.release());
      lines.reset(extended);
    }
  }
  return lines;
}

// The host part of a URL as curl reads it; empty when it has none.
std::string hostOf(const char* url) {
  std::string host;
  CURLU* parsed = curl_url();
  char* part = nullptr;
  if (parsed != nullptr && curl_url_set(parsed, CURLUPART_URL, url, 0) == CURLUE_OK &&
      curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
    host = part;
  }
  curl_free(part);
  curl_url_cleanup(parsed);
  return host;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A header line's value has something besides blanks, as curl needs to follow a Location.
bool hasValue(std::string_view line) {
  const std::size_t colon = line.find(':');
  return line.find_first_not_of(" \t\r\n", colon + 1) != std::string_view::npos;
}

// Body bytes seen over the last window, from samples taken as the transfer is pumped.
class DripMeter {
 public:
  DripMeter(std::chrono::milliseconds window, std::uint64_t minimumBytes)
      : window_(window), minimumBytes_(minimumBytes) {
    restart();
  }

  void add(std::size_t bytes) { received_ += bytes; }
  // Forgets the time so far: it was spent waiting for the receiver, not for the server.
  void restart() { samples_.assign(1, {SteadyClock::now(), received_}); }

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

// One GET on its own easy handle, attached to the client's multi handle; the handle's
// private pointer is this object.
class CurlTransfer {
 public:
  CurlTransfer(TransferId id, HttpReceiver& receiver, const HttpRequest& request,
               const HttpClientOptions& options)
      : id_(id),
        easy_(curl_easy_init()),
        receiver_(&receiver),
        abort_(request.abort),
        drip_(options.dripWindow, options.dripBytes) {}
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  TransferId id() const { return id_; }
  CURL* easy() const { return easy_.get(); }
  bool draining() const { return receiver_ == nullptr; }

  // Sets the transfer up; a failure means it cannot start.
  Status configure(const HttpRequest& request, const HttpClientOptions& options, CURLSH* share,
                   const std::string& caBundle) {
    if (!easy_) return Status::network("cannot create a transfer");
    // A NUL would silently cut the URL short at the C interface.
    if (request.url.view().find('\0') != std::string_view::npos) {
      return Status::refused("NUL byte in the URL");
    }
    headers_ = headerLines(request.headerText);
    CURLcode code = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(easy(), option, value);
    };
    set(CURLOPT_PRIVATE, this);
    set(CURLOPT_URL, request.url.str().c_str());
    set(CURLOPT_USERAGENT, request.agent.str().c_str());
    set(CURLOPT_HTTPHEADER, headers_.get());
    set(CURLOPT_SHARE, share);
    set(CURLOPT_COOKIEFILE, "");  // cookie engine on, nothing read from disk
    set(CURLOPT_NOSIGNAL, 1L);
    // A transfer given up while its name is being looked up does not wait for the lookup.
    set(CURLOPT_QUICK_EXIT, 1L);
    // Redirects never lead to a local file, nor to https where it was not asked for.
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, request.httpsAllowed ? "http,https" : "http");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, options.maxRedirects);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    // Over https, where HTTP/2 may carry it beside others, a request waits for a connection
    // that is being opened rather than opening one more.
    set(CURLOPT_PIPEWAIT, request.url.view().starts_with("https://") ? 1L : 0L);
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

  // The transfer's end as curl reports it. A transfer its receiver had enough of ends well.
  Status result(CURLcode code) const {
    if (enough_) return Status::ok();
    return statusOf(code, error_);
  }

  // A reason to end the transfer now, from outside curl; ok to go on.
  Status check(SteadyClock::time_point now) {
    if (abort_ != nullptr && abort_->load(std::memory_order_acquire)) return Status::aborted();
    if (draining()) {
      return now < drainDeadline_ ? Status::ok() : Status::network("the rest took too long");
    }
    if (held_ || !requestSent()) {
      drip_.restart();  // waiting for the receiver, or for a connection, is not the server's
      return Status::ok();
    }
    if (drip_.starved(now)) return Status::network("the server sent too little for too long");
    return Status::ok();
  }

  // A transfer waits for a connection while the client runs more than it has; the connect
  // timeout covers the connection itself.
  bool requestSent() const {
    curl_off_t sentAfter = 0;
    curl_easy_getinfo(easy(), CURLINFO_PRETRANSFER_TIME_T, &sentAfter);
    return sentAfter > 0;
  }

  // Whether a callback asked for the owner since the last look: its receiver held bytes
  // back or had enough.
  bool takeAttention() { return std::exchange(attention_, false); }
  bool hadEnough() const { return enough_; }

  // Whether the rest of a body nobody wants is small enough to read and drop. Over HTTP/2
  // the stream is reset instead, which keeps the connection anyway.
  bool restIsSmall() const {
    long version = 0;
    curl_easy_getinfo(easy(), CURLINFO_HTTP_VERSION, &version);
    if (version == CURL_HTTP_VERSION_2_0) return false;
    return !restLength_ || *restLength_ <= kDrainedBytes;
  }

  // From now on the rest of the body is read and dropped, with no receiver to hand it to.
  void drain() {
    receiver_ = nullptr;
    drainDeadline_ = SteadyClock::now() + kDrainTime;
    curl_easy_pause(easy(), CURLPAUSE_CONT);
  }

  void resume() {
    if (!held_) return;
    held_ = false;
    drip_.restart();
    curl_easy_pause(easy(), CURLPAUSE_CONT);
  }

 private:
  // The headers of a 1xx or a followed redirect are not the final response's.
  static std::size_t onHeader(char* data, std::size_t, std::size_t size, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const std::string_view line(data, size);
    if (startsWithIgnoringCase(line, "HTTP/")) {
      transfer.followed_ = false;
    } else if (startsWithIgnoringCase(line, "Location:")) {
      transfer.followed_ = hasValue(line);
    } else if ((line == "\r\n" || line == "\n") && !transfer.draining()) {
      transfer.headersEnded();
    }
    return size;
  }

  void headersEnded() {
    long status = 0;
    curl_easy_getinfo(easy(), CURLINFO_RESPONSE_CODE, &status);
    // curl follows a 3xx that names somewhere to go; any other one is the final response.
    const bool redirect = status >= 300 && status < 400 && followed_;
    if (status < 200 || redirect) return;
    curl_off_t length = -1;
    curl_easy_getinfo(easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length >= 0) restLength_ = static_cast<std::uint64_t>(length);
    if (!receiver_->onResponse(static_cast<std::uint32_t>(status), restLength_)) haveEnough();
  }

  // Body bytes wait (paused) until the client has settled what becomes of the rest.
  static std::size_t onData(char* data, std::size_t, std::size_t size, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    if (transfer.draining()) return transfer.dropped(size);
    if (transfer.enough_) return CURL_WRITEFUNC_PAUSE;
    switch (transfer.receiver_->onBody(std::string_view(data, size))) {
      case BodyTaken::All:
        break;
      case BodyTaken::None:
        transfer.held_ = transfer.attention_ = true;
        return CURL_WRITEFUNC_PAUSE;
      case BodyTaken::Enough:
        transfer.haveEnough();
        return CURL_WRITEFUNC_PAUSE;
    }
    transfer.drip_.add(size);
    if (transfer.restLength_)
      *transfer.restLength_ -= std::min<std::uint64_t>(size, *transfer.restLength_);
    return size;
  }

  void haveEnough() { enough_ = attention_ = true; }

  // Bytes of a rest being dropped, unless there turn out to be too many.
  std::size_t dropped(std::size_t size) {
    drainedBytes_ += size;
    return drainedBytes_ <= kDrainedBytes ? size : 0;
  }

  const TransferId id_;
  EasyHandle easy_;
  HttpReceiver* receiver_;  // null once the rest of the body is being dropped
  const std::atomic<bool>* abort_;
  HeaderList headers_;
  char error_[CURL_ERROR_SIZE] = {};
  DripMeter drip_;
  bool followed_ = false;   // a redirect's Location names somewhere curl goes on to
  bool enough_ = false;     // its receiver needs no more of the body
  bool held_ = false;       // its receiver held bytes back: paused until resumed
  bool attention_ = false;  // a callback changed one of the two since the owner last looked
  std::optional<std::uint64_t> restLength_;  // body bytes still to come, when announced
  std::uint64_t drainedBytes_ = 0;
  SteadyClock::time_point drainDeadline_;
};

class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(const HttpClientOptions& options) : options_(options) {
    static std::once_flag once;
    static CURLcode initResult = CURLE_FAILED_INIT;
    std::call_once(once, [] { initResult = curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (initResult != CURLE_OK) return;
    multi_.reset(curl_multi_init());
    share_.reset(curl_share_init());
    if (!multi_ || !share_) return;
    curl_multi_setopt(multi_.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS, options.maxConnections);
    curl_multi_setopt(multi_.get(), CURLMOPT_MAX_CONCURRENT_STREAMS,
                      static_cast<long>(kStreamsPerConnection));
    // One thread at a time uses the client, so the share needs no lock callbacks.
    for (const curl_lock_data data : {CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_COOKIE}) {
      curl_share_setopt(share_.get(), CURLSHOPT_SHARE, data);
    }
    if (!options.caCertificateFile.empty() || !options.systemCertificates.empty()) {
      caBundle_ = trustedCertificates(options);
    }
  }

  ~CurlHttpClient() override {
    for (auto& [id, transfer] : transfers_)
      curl_multi_remove_handle(multi_.get(), transfer->easy());
  }
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  TransferId start(const HttpRequest& request, HttpReceiver& receiver) override {
    const TransferId id = ++lastId_;
    const auto unresolvable = unresolvable_.find(hostOf(request.url.str().c_str()));
    if (unresolvable != unresolvable_.end() && SteadyClock::now() < unresolvable->second) {
      ended_.push_back({id, Status::network("Could not resolve host: " + unresolvable->first)});
      return id;
    }
    auto transfer = std::make_unique<CurlTransfer>(id, receiver, request, options_);
    Status status = multi_ && share_
                        ? transfer->configure(request, options_, share_.get(), caBundle_)
                        : Status::network("libcurl could not be initialised");
    if (status.isOk() && curl_multi_add_handle(multi_.get(), transfer->easy()) != CURLM_OK) {
      status = Status::network("cannot start the transfer");
    }
    if (!status.isOk()) {
      ended_.push_back({id, status});
      return id;
    }
    transfers_.emplace(id, std::move(transfer));
    return id;
  }

  std::vector<EndedTransfer> pump(std::chrono::milliseconds wait) override {
    const auto deadline = SteadyClock::now() + wait;
    for (;;) {
      int running = 0;
      curl_multi_perform(multi_.get(), &running);
      collectFinished();
      const bool attention = settleCallbacks();
      checkRunning();
      const auto now = SteadyClock::now();
      if (attention || !ended_.empty() || reported() == 0 || now >= deadline) break;
      const auto slice = std::min<SteadyClock::duration>(kPollSlice, deadline - now);
      const auto sliceMs = std::chrono::ceil<std::chrono::milliseconds>(slice).count();
      curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(sliceMs), nullptr);
    }
    return std::exchange(ended_, {});
  }

  void resume(TransferId id) override {
    const auto found = transfers_.find(id);
    if (found == transfers_.end() || found->second->draining()) return;
    found->second->resume();
    settleCallbacks();  // it may have had enough of what it was handed again
  }

  void cancel(TransferId id) override {
    const auto found = transfers_.find(id);
    if (found == transfers_.end() || found->second->draining()) return;
    remove(found);
  }

  std::uint32_t transfersAtOnce() const override {
    const auto connections = static_cast<std::uint32_t>(std::max(options_.maxConnections, 1L));
    return multiplexing_ ? connections * kStreamsPerConnection : connections;
  }

 private:
  // The system's certificate authorities and the extra one, as one bundle: curl takes a
  // single bundle, and the extra authority must not replace the system's.
  static std::string trustedCertificates(const HttpClientOptions& options) {
    std::string system = options.systemCertificates;
    if (system.empty()) {
      const char* builtIn = curl_version_info(CURLVERSION_NOW)->cainfo;
      system = builtIn != nullptr ? builtIn : "";
    }
    const std::string extra = options.caCertificateFile;
    return (system.empty() ? "" : readWholeFile(system)) + "\n" +
           (extra.empty() ? "" : readWholeFile(extra));
  }

  using Transfers = std::map<TransferId, std::unique_ptr<CurlTransfer>>;

  // Transfers whose receiver had enough are reported ended now; their small rest is dropped
  // in the background, a larger one costs the connection. True when a receiver held bytes
  // back or had enough since the last look.
  bool settleCallbacks() {
    bool attention = false;
    std::vector<Transfers::iterator> settled;
    for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
      if (!it->second->takeAttention()) continue;
      attention = true;
      if (it->second->hadEnough() && !it->second->draining()) settled.push_back(it);
    }
    for (const auto it : settled) {
      ended_.push_back({it->first, Status::ok()});
      noteProtocol(*it->second);
      if (it->second->restIsSmall()) {
        it->second->drain();
      } else {
        remove(it);
      }
    }
    return attention;
  }

  // Transfers still owed to a caller, those being drained aside.
  std::size_t reported() const {
    return static_cast<std::size_t>(std::count_if(
        transfers_.begin(), transfers_.end(), [](const auto& t) { return !t.second->draining(); }));
  }

  void remove(Transfers::iterator it) {
    curl_multi_remove_handle(multi_.get(), it->second->easy());
    transfers_.erase(it);
  }

  void end(Transfers::iterator it, Status status) {
    if (!it->second->draining()) ended_.push_back({it->first, std::move(status)});
    remove(it);
  }

  void noteProtocol(const CurlTransfer& transfer) {
    long version = 0;
    curl_easy_getinfo(transfer.easy(), CURLINFO_HTTP_VERSION, &version);
    multiplexing_ = multiplexing_ || version == CURL_HTTP_VERSION_2_0;
  }

  void collectFinished() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      void* privateData = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &privateData);
      const auto* transfer = static_cast<const CurlTransfer*>(privateData);
      const auto found = transfers_.find(transfer->id());
      if (found == transfers_.end()) continue;
      noteProtocol(*transfer);
      if (message->data.result == CURLE_COULDNT_RESOLVE_HOST) noteUnresolvable(*transfer);
      end(found, transfer->result(message->data.result));
    }
  }

  void noteUnresolvable(const CurlTransfer& transfer) {
    char* url = nullptr;
    curl_easy_getinfo(transfer.easy(), CURLINFO_EFFECTIVE_URL, &url);
    if (url != nullptr) unresolvable_[hostOf(url)] = SteadyClock::now() + kUnresolvableFor;
  }

  void checkRunning() {
    const auto now = SteadyClock::now();
    std::vector<std::pair<Transfers::iterator, Status>> stopped;
    for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
      Status status = it->second->check(now);
      if (!status.isOk()) stopped.emplace_back(it, std::move(status));
    }
    for (auto& [it, status] : stopped) end(it, std::move(status));
  }

  const HttpClientOptions options_;
  ShareHandle share_;  // outlives the multi handle, whose connections may still use it
  MultiHandle multi_;
  std::string caBundle_;
  TransferId lastId_ = 0;
  Transfers transfers_;
  std::vector<EndedTransfer> ended_;
  bool multiplexing_ = false;  // some connection has carried requests side by side
  std::map<std::string, SteadyClock::time_point> unresolvable_;  // host -> until when
};

}  // namespace

std::unique_ptr<HttpClient> makeCurlHttpClient(const HttpClientOptions& options) {
  return std::make_unique<CurlHttpClient>(options);
}

}  // namespace tarnwick
