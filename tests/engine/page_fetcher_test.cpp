#include "engine/page_fetcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"
#include "platform/http_client.h"
#include "support/fake_platform.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::FileFault;

// One attempt's response, or the step at which it fails.
struct Reply {
  enum Failure { None, AtSession, AtStatus, AtRead, AbortAfter };
  std::uint32_t status = 200;
  std::optional<std::uint64_t> length = {};
  std::string body = {};
  Failure failure = None;
  std::size_t failAfter = 0;  // body bytes served before AtRead or AbortAfter strikes
};

Reply file(std::string body) { return {.length = body.size(), .body = body}; }

// Serves one scripted Reply per attempt; an exhausted script refuses every connection.
class ScriptedHttp final : public HttpClient {
 public:
  std::deque<Reply> replies;
  std::atomic<bool> abort{false};
  std::vector<ByteString> agents, headers;
  int liveSessions = 0, mostLiveSessions = 0;
  std::size_t bytesServed = 0;

  std::unique_ptr<HttpSession> openSession(const ByteString& agent) override {
    agents.push_back(agent);
    if (!replies.empty() && replies.front().failure == Reply::AtSession) {
      replies.pop_front();
      throw HttpError("no session");
    }
    return std::make_unique<Session>(*this);
  }

 private:
  struct Response final : HttpResponse {
    Response(ScriptedHttp& http, Reply reply) : http(http), reply(std::move(reply)) {}
    std::uint32_t statusCode() override {
      if (reply.failure == Reply::AtStatus) throw HttpError("unreadable status");
      return reply.status;
    }
    std::optional<std::uint64_t> contentLength() override { return reply.length; }
    std::size_t read(char* buffer, std::size_t capacity) override {
      const bool breaks = reply.failure == Reply::AtRead && offset == reply.failAfter;
      if (breaks) throw HttpError("connection reset");
      const std::size_t end = reply.failure == Reply::AtRead ? reply.failAfter : reply.body.size();
      const std::size_t count = std::min(capacity, end - offset);
      std::copy_n(reply.body.data() + offset, count, buffer);
      offset += count;
      http.bytesServed += count;
      if (reply.failure == Reply::AbortAfter && offset >= reply.failAfter) http.abort = true;
      return count;
    }
    ScriptedHttp& http;
    Reply reply;
    std::size_t offset = 0;
  };
  struct Session final : HttpSession {
    explicit Session(ScriptedHttp& http) : http(http) {
      http.mostLiveSessions = std::max(http.mostLiveSessions, ++http.liveSessions);
    }
    ~Session() override { --http.liveSessions; }
    std::unique_ptr<HttpResponse> openUrl(const ByteString&,
                                          const ByteString& headerText) override {
      http.headers.push_back(headerText);
      if (http.replies.empty()) throw HttpError("connection refused");
      Reply reply = std::move(http.replies.front());
      http.replies.pop_front();
      return std::make_unique<Response>(http, std::move(reply));
    }
    ScriptedHttp& http;
  };
};

constexpr std::int32_t kFollow = FollowLinks, kSave = SaveIfAtLeast, kBoth = kFollow | kSave;
constexpr std::int32_t kSearching = StatusSearching, kExamining = StatusExamining,
                       kLoading = StatusDownloading, kLoaded = StatusDownloaded;
constexpr std::int32_t kPage = PageFetched, kDone = EntryDone, kFailed = EntryFailed;

// What the request meets.
struct Given {
  std::int32_t flags = 0;
  std::vector<Reply> replies = {};
  std::uint32_t minSize = 0;
  std::optional<std::size_t> stored = {};  // a file at the target beforehand
  FileFault fault = FileFault::None;
  const char* url = "http://host/f.bin";
};

struct Case {
  const char* name;
  Given given;
  std::vector<std::int32_t> ui;
  std::vector<std::int32_t> work;
  int sessions = 0;
  int pauses = 0;
  std::vector<std::int32_t> progress = {};   // value1 of the download messages
  std::optional<std::uintmax_t> saved = {};  // size of the target file afterwards
  std::string pageText = {};
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const std::string k150000(150000, 'z');
const Reply kBroken{
    .length = 150000, .body = k150000, .failure = Reply::AtRead, .failAfter = 65536};
const Reply kAborted{
    .length = 150000, .body = k150000, .failure = Reply::AbortAfter, .failAfter = 1};
const std::uint64_t kAbove32Bits = (std::uint64_t{1} << 32) + 10;
const std::string kTen = "0123456789";

const Case kCases[] = {
    {"no flags", {.url = "http://a.b/c"}, {}, {kDone}},
    {"ten bytes", {.flags = kFollow, .url = "http://a.b"}, {}, {kFailed}},
    {"upper-case scheme", {.flags = kFollow, .url = "HTTP://a.b/c"}, {}, {kFailed}},
    {"https", {.flags = kFollow, .url = "https://a.b/c"}, {}, {kFailed}},
    {"double slash", {.flags = kFollow, .url = "http://a.b//c"}, {}, {kFailed}},
    {"page",
     {.flags = kFollow, .replies = {{.body = std::string("a\r\nb\nc\0d", 8)}}},
     {kSearching},
     {kPage, kDone},
     1,
     0,
     {},
     {},
     std::string("abc\0d", 5)},
    {"page 404", {.flags = kBoth, .replies = {{.status = 404}}}, {kSearching}, {kFailed}, 1},
    {"status 199", {.flags = kSave, .replies = {{.status = 199}}}, {kExamining}, {kFailed}, 1},
    {"3xx passes",
     {.flags = kFollow, .replies = {{.status = 304}}},
     {kSearching},
     {kPage, kDone},
     1},
    {"page unreachable", {.flags = kBoth}, {kSearching}, {kFailed}, 2, 2},
    {"file unreachable", {.flags = kSave}, {kExamining}, {kFailed}, 3, 3},
    {"no session, then page",
     {.flags = kFollow, .replies = {{.failure = Reply::AtSession}, {}}},
     {kSearching},
     {kPage, kDone},
     2,
     1},
    {"unreadable status, then page",
     {.flags = kFollow, .replies = {{.failure = Reply::AtStatus}, {}}},
     {kSearching},
     {kPage, kDone},
     2,
     1},
    {"too small",
     {.flags = kSave, .replies = {{.length = 65535, .body = "x"}}, .minSize = 65536},
     {kExamining},
     {kDone},
     1},
    {"150000 bytes",
     {.flags = kSave, .replies = {file(k150000)}},
     {kExamining, kLoading, kLoading, kLoading, kLoading, kLoaded},
     {kDone},
     1,
     0,
     {0, 65536, 131072, 150000, 150000},
     150000},
    {"page and file",
     {.flags = kBoth, .replies = {{}, file(kTen)}},
     {kSearching, kExamining, kLoading, kLoading, kLoaded},
     {kPage, kDone},
     2,
     0,
     {0, 10, 10},
     10},
    {"page, then file 404",
     {.flags = kBoth, .replies = {{}, {.status = 404}}},
     {kSearching, kExamining},
     {kPage, kFailed},
     2},
    {"broken, then again",
     {.flags = kSave, .replies = {kBroken, file(k150000)}},
     {kExamining, kLoading, kLoading, kLoading, kLoading, kLoading, kLoading, kLoaded},
     {kDone},
     2,
     1,
     {0, 65536, 0, 65536, 131072, 150000, 150000},
     150000},
    {"broken three times",
     {.flags = kSave, .replies = {kBroken, kBroken, kBroken}},
     {kExamining, kLoading, kLoading, kLoading, kLoading, kLoading, kLoading},
     {kFailed},
     3,
     3,
     {0, 65536, 0, 65536, 0, 65536},
     65536},
    {"empty file", {.flags = kSave, .replies = {file("")}}, {kExamining}, {kDone}, 1},
    {"no length, large enough",
     {.flags = kSave, .replies = {{.body = std::string(100, 'a')}}, .minSize = 50},
     {kExamining, kLoading, kLoading, kLoaded},
     {kDone},
     1,
     0,
     {0, 100, 100},
     100},
    {"no length, too small",
     {.flags = kSave, .replies = {{.body = kTen}}, .minSize = 50, .stored = 10},
     {kExamining, kLoading, kLoading},
     {kDone},
     1,
     0,
     {0, 10},
     10},
    {"same size",
     {.flags = kSave, .replies = {file(kTen)}, .stored = 10},
     {kExamining},
     {kDone},
     1,
     0,
     {},
     10},
    {"above 32 bits",
     {.flags = kSave,
      .replies = {{.length = kAbove32Bits, .body = kTen}},
      .minSize = 0xFFFFFFFF,
      .stored = 10},
     {kExamining, kLoading, kLoading, kLoaded},
     {kDone},
     1,
     0,
     {0, 10, 10},
     10},
    {"abort",
     {.flags = kSave, .replies = {kAborted}},
     {kExamining, kLoading, kLoading},
     {kFailed},
     1,
     0,
     {0, 65536},
     65536},
    {"create fails",
     {.flags = kSave, .replies = {file(kTen)}, .fault = FileFault::CreateFile},
     {kExamining},
     {kFailed},
     1},
    {"write fails",
     {.flags = kSave, .replies = {file(kTen)}, .fault = FileFault::Write},
     {kExamining, kLoading, kLoading},
     {kFailed},
     1,
     0,
     {0, 10},
     0},
    {"close fails",
     {.flags = kSave, .replies = {file(kTen)}, .fault = FileFault::Close},
     {kExamining, kLoading, kLoading},
     {kFailed},
     1,
     0,
     {0, 10},
     10},
    {"no length, close fails",
     {.flags = kSave, .replies = {{.body = "abc"}}, .stored = 7, .fault = FileFault::Close},
     {kExamining, kLoading, kLoading},
     {kFailed},
     1,
     0,
     {0, 3},
     7},
};

// What one fetch posted.
struct Outcome {
  std::vector<std::int32_t> ui, work, progress;  // progress: value1 of the download messages
  std::string pageText;
};

class FetcherFixture : public ::testing::Test {
 protected:
  Outcome fetch(HttpClient& http, const std::atomic<bool>* abort, const std::string& url,
                std::int32_t flags, std::uint32_t minSize) {
    FetchRequestPayload request;
    request.id = 7;
    request.depth = 3;
    request.url = ByteString(url);
    request.referrer = "http://ref/";
    request.flags = flags;
    request.minSize = minSize;
    PlatformServices services{&http, &files_, &clock_, &messageBox_, &exit_};
    PageFetcher fetcher(work_, status_, SaveLayout::Tree, services, abort);
    fetcher.fetch(request);
    EXPECT_FALSE(fetcher.isBusy());
    Outcome outcome;
    for (UiMessage message; status_.pop(message);) {
      outcome.ui.push_back(message.code);
      EXPECT_EQ(message.text, request.url);
      if (message.code == kLoading || message.code == kLoaded) {
        outcome.progress.push_back(message.value1);
      }
      if (message.code == kLoaded) {
        EXPECT_EQ(message.value2, message.value1);
      }
    }
    for (WorkMessage message; work_.take(message);) {
      outcome.work.push_back(message.code);
      if (message.code == kPage) {
        outcome.pageText = message.as<PageFetchedPayload>().pageText.str();
      }
    }
    return outcome;
  }

  std::vector<std::chrono::milliseconds> pauses(int count) {
    return std::vector<std::chrono::milliseconds>(count, std::chrono::milliseconds(100));
  }
  static std::optional<std::uintmax_t> sizeOf(const fs::path& file) {
    return fs::exists(file) ? std::optional(fs::file_size(file)) : std::nullopt;
  }
  static void store(const fs::path& file, std::size_t size) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << std::string(size, 's');
  }

  testing::TempDir temp_;
  testing::ScopedCurrentDirectory inTemp_{temp_.path()};
  testing::FaultInjectingFileSystem files_;
  testing::FakeClock clock_;
  testing::ScriptedMessageBox messageBox_;
  testing::ThrowingProcessExit exit_;
  WorkQueue work_;
  UiMessageQueue status_;
};

class PageFetcherTest : public FetcherFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(PageFetcherTest, FollowsTheFetchRules) {
  const Case& c = GetParam();
  const fs::path target = "download/host/f.bin";
  if (c.given.stored) store(target, *c.given.stored);
  ScriptedHttp http;
  http.replies.assign(c.given.replies.begin(), c.given.replies.end());
  files_.failNext(c.given.fault);
  const Outcome outcome = fetch(http, &http.abort, c.given.url, c.given.flags, c.given.minSize);
  EXPECT_EQ(outcome.ui, c.ui);
  EXPECT_EQ(outcome.work, c.work);
  EXPECT_EQ(outcome.progress, c.progress);
  EXPECT_EQ(outcome.pageText, c.pageText);
  EXPECT_EQ(static_cast<int>(http.agents.size()), c.sessions);
  EXPECT_EQ(clock_.pauses(), pauses(c.pauses));
  EXPECT_LE(http.mostLiveSessions, 1);
  EXPECT_EQ(http.liveSessions, 0);
  for (const ByteString& agent : http.agents) EXPECT_EQ(agent, "TWK/1.1 ROBOT");
  for (const ByteString& header : http.headers) EXPECT_EQ(header, "Referer: http://ref/\n");
  EXPECT_EQ(sizeOf(target), c.saved);
  EXPECT_FALSE(fs::exists("download/host/f.bin.twk-part"));
}

INSTANTIATE_TEST_SUITE_P(Table, PageFetcherTest, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name = info.param.name;
  std::replace_if(
      name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
  return name;
});

TEST_F(FetcherFixture, CutsPageTextAndStopsReading) {
  const std::size_t bodySize = PageFetcher::kMaxPageText + 4 * PageFetcher::kReadSize;
  std::string body = "\r\n" + std::string(bodySize, 'x');
  ScriptedHttp http;
  http.replies.push_back({.body = std::move(body)});
  const Outcome outcome = fetch(http, nullptr, "http://host/p.html", kFollow, 0);
  EXPECT_EQ(outcome.work, (std::vector<std::int32_t>{kPage, kDone}));
  EXPECT_EQ(outcome.pageText.size(), PageFetcher::kMaxPageText);
  EXPECT_EQ(outcome.pageText.find_first_not_of('x'), std::string::npos);
  EXPECT_LT(http.bytesServed, bodySize);
}

using testing::ScriptedResponse;

// The same fetcher over the real curl client and a loopback server.
struct NetCase {
  const char* name;
  std::int32_t flags;
  std::vector<ScriptedResponse> responses;  // served in turn; the last one repeats
  std::vector<std::int32_t> work;
  int requests;
  int pauses = 0;
  std::optional<std::uintmax_t> saved = {};
  std::optional<std::size_t> stored = {};
  const char* scheme = "http://";
  const char* path = "/f.bin";
  bool readOnlyFolder = false;
};

void PrintTo(const NetCase& c, std::ostream* out) { *out << c.name; }

const NetCase kNetCases[] = {
    {"page", kFollow, {ScriptedResponse::ok("a\r\nb\nc")}, {kPage, kDone}, 1},
    {"404", kBoth, {ScriptedResponse::withStatus(404)}, {kFailed}, 1},
    {"upper-case scheme", kFollow, {}, {kFailed}, 0, 0, {}, {}, "HTTP://"},
    {"double slash", kFollow, {}, {kFailed}, 0, 0, {}, {}, "http://", "//f.bin"},
    {"150000 bytes", kSave, {ScriptedResponse::ok(k150000)}, {kDone}, 1, 0, 150000},
    {"same size", kSave, {ScriptedResponse::ok(kTen)}, {kDone}, 1, 0, 10, 10},
    {"partial, then again",
     kSave,
     {ScriptedResponse::cutOff(k150000, 70000), ScriptedResponse::ok(k150000)},
     {kDone},
     2,
     1,
     150000},
    {"no length",
     kSave,
     {ScriptedResponse::ok(kTen, testing::BodyFraming::CloseDelimited)},
     {kDone},
     1,
     0,
     10},
    {"redirect to file",
     kSave,
     {ScriptedResponse::redirect("file:///etc/hostname")},
     {kFailed},
     3,
     3},
    {"stall", kSave, {ScriptedResponse::stalled(k150000, 1000)}, {kFailed}, 3, 3, 1000},
    {"read-only folder",
     kSave,
     {ScriptedResponse::ok(kTen)},
     {kFailed},
     1,
     0,
     {},
     {},
     "http://",
     "/f.bin",
     true},
};

class PageFetcherOverCurlTest : public FetcherFixture,
                                public ::testing::WithParamInterface<NetCase> {
 protected:
  std::unique_ptr<HttpClient> client() {
    HttpClientOptions options;
    options.connectTimeout = std::chrono::milliseconds(2000);
    options.stallTimeout = std::chrono::milliseconds(300);
    return makeCurlHttpClient(options);
  }
};

TEST_P(PageFetcherOverCurlTest, FetchesFromALoopbackServer) {
  const NetCase& c = GetParam();
  if (c.readOnlyFolder && geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  testing::LoopbackHttpServer server;
  std::size_t served = 0;
  server.setHandler(
      [&](const std::string&) { return c.responses[std::min(served++, c.responses.size() - 1)]; });
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  const fs::path folder = fs::path("download") / host;
  if (c.stored) store(folder / "f.bin", *c.stored);
  if (c.readOnlyFolder) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  }
  const Outcome outcome = fetch(*client(), nullptr, c.scheme + host + c.path, c.flags, 0);
  EXPECT_EQ(outcome.work, c.work);
  EXPECT_EQ(static_cast<int>(server.requests().size()), c.requests);
  EXPECT_EQ(clock_.pauses(), pauses(c.pauses));
  EXPECT_EQ(sizeOf(folder / "f.bin"), c.saved);
  for (const testing::LoggedRequest& request : server.requests()) {
    EXPECT_EQ(request.userAgent, "TWK/1.1 ROBOT");
    EXPECT_EQ(request.referer, "http://ref/");
  }
  if (c.flags == kFollow && !outcome.work.empty() && outcome.work[0] == kPage) {
    EXPECT_EQ(outcome.pageText, "abc");
  }
  // Blocks may come in any size from a socket: the last attempt's values start at 0, grow,
  // and end at the size on disk.
  const auto lastAttempt = std::find(outcome.progress.rbegin(), outcome.progress.rend(), 0);
  if (lastAttempt != outcome.progress.rend()) {
    EXPECT_TRUE(std::is_sorted(lastAttempt.base() - 1, outcome.progress.end()));
    EXPECT_EQ(static_cast<std::uintmax_t>(outcome.progress.back()), c.saved.value_or(0));
  }
  EXPECT_EQ(lastAttempt == outcome.progress.rend(), !c.saved || c.stored == c.saved);
}

INSTANTIATE_TEST_SUITE_P(Table, PageFetcherOverCurlTest, ::testing::ValuesIn(kNetCases),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace_if(
                               name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); },
                               '_');
                           return name;
                         });

TEST_F(FetcherFixture, UnreachablePortCostsThreeAttemptsAndPauses) {
  std::uint16_t closedPort = 0;
  {
    testing::LoopbackHttpServer server;
    closedPort = server.port();
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(closedPort) + "/f.bin";
  const Outcome outcome = fetch(*makeCurlHttpClient({}), nullptr, url, kSave, 0);
  EXPECT_EQ(outcome.work, std::vector<std::int32_t>{kFailed});
  EXPECT_EQ(clock_.pauses(), pauses(3));
}

}  // namespace
}  // namespace tarnwick
