#include "engine/page_fetcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"
#include "platform/http_client.h"
#include "support/crawl_run.h"
#include "support/fake_platform.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::FileFault;
using R = testing::ScriptedResponse;

// One attempt's response; AtRead breaks the connection and AbortAfter raises the abort
// flag once `failAfter` body bytes are served; Newlines serves line feeds without end (a
// reader that never stops is cut off by an error after twice the page text limit).
struct Reply {
  enum Failure { None, AtRead, AbortAfter, Newlines };
  std::uint32_t status = 200;
  std::optional<std::uint64_t> length = {};
  std::string body = {};
  Failure failure = None;
  std::size_t failAfter = 0;
};

Reply file(std::string body, Reply::Failure failure = Reply::None, std::size_t failAfter = 0) {
  return {.length = body.size(), .body = body, .failure = failure, .failAfter = failAfter};
}

// Serves one scripted Reply per attempt; an exhausted script refuses every connection.
struct ScriptedHttp final : HttpClient {
  std::deque<Reply> replies;
  std::atomic<bool> abort{false};
  std::vector<ByteString> headers;  // the header text of every attempt

  struct Response final : HttpResponse {
    Response(ScriptedHttp& http, Reply reply) : http(http), reply(std::move(reply)) {}
    std::uint32_t statusCode() override { return reply.status; }
    std::optional<std::uint64_t> contentLength() override { return reply.length; }
    std::size_t read(char* buffer, std::size_t capacity) override {
      if (reply.failure == Reply::Newlines) {
        if ((offset += capacity) > 2 * PageFetcher::kMaxPageText) throw HttpError("no end");
        std::fill_n(buffer, capacity, '\n');
        return capacity;
      }
      const bool breaks = reply.failure == Reply::AtRead;
      if (breaks && offset == reply.failAfter) throw HttpError("connection reset");
      const std::size_t count =
          std::min(capacity, (breaks ? reply.failAfter : reply.body.size()) - offset);
      std::copy_n(reply.body.data() + offset, count, buffer);
      offset += count;
      if (reply.failure == Reply::AbortAfter && offset >= reply.failAfter) http.abort = true;
      return count;
    }
    ScriptedHttp& http;
    Reply reply;
    std::size_t offset = 0;
  };
  struct Session final : HttpSession {
    explicit Session(ScriptedHttp& http) : http(http) {}
    std::unique_ptr<HttpResponse> openUrl(const ByteString&, const ByteString& header) override {
      http.headers.push_back(header);
      if (http.replies.empty()) throw HttpError("connection refused");
      auto response = std::make_unique<Response>(http, std::move(http.replies.front()));
      http.replies.pop_front();
      return response;
    }
    ScriptedHttp& http;
  };
  std::unique_ptr<HttpSession> openSession(const ByteString&) override {
    return std::make_unique<Session>(*this);
  }
};

constexpr std::int32_t kFollow = CrawlFlags::FollowLinks, kSave = CrawlFlags::SaveIfAtLeast,
                       kBoth = kFollow | kSave;

// Everything one fetch posted, as "<status messages> / <work messages>", then each pause
// between attempts: S searching, E examining, L<n> downloading and D<n> downloaded with
// their byte counts, wait<ms>.
std::string fetchOnce(HttpClient& http, const std::atomic<bool>* abort, const std::string& url,
                      std::int32_t flags, std::uint32_t minSize = 0, FileFault fault = {}) {
  testing::FaultInjectingFileSystem files;
  files.failNext(fault);
  testing::FakeClock clock;
  testing::ScriptedMessageBox messageBox;
  testing::ThrowingProcessExit exit;
  WorkQueue work;
  UiMessageQueue status;
  FetchRequestPayload request;
  std::tie(request.id, request.depth, request.url, request.referrer, request.flags,
           request.minSize) = std::tuple(7, 3, ByteString(url), "http://ref/", flags, minSize);
  const PlatformServices services{&http, &files, &clock, &messageBox, &exit};
  PageFetcher fetcher(work, status, SaveLayout::Tree, services, abort);
  fetcher.fetch(request);
  EXPECT_FALSE(fetcher.isBusy());
  std::string posted;
  for (UiMessage m; status.pop(m);) {
    EXPECT_EQ(m.text, request.url);
    EXPECT_TRUE(m.code != UiCode::StatusDownloaded || m.value2 == m.value1);
    const bool counted = m.code == UiCode::StatusDownloading || m.code == UiCode::StatusDownloaded;
    posted += testing::statusLetter(m.code) + (counted ? std::to_string(m.value1) : "") + " ";
  }
  posted += "/";
  for (WorkMessage m; work.take(m);) {
    const bool page = m.code == WorkCode::PageFetched;
    std::string text = page ? " page(" + m.as<PageFetchedPayload>().pageText.str() + ")" : "";
    std::replace(text.begin(), text.end(), '\0', '~');
    posted += text + (m.code == WorkCode::EntryDone     ? " done"
                      : m.code == WorkCode::EntryFailed ? " failed"
                                                        : "");
  }
  for (const auto pause : clock.pauses()) posted += " wait" + std::to_string(pause.count());
  return posted;
}

std::optional<std::uintmax_t> sizeOf(const fs::path& file) {
  return fs::exists(file) ? std::optional(fs::file_size(file)) : std::nullopt;
}

const std::string k150000(150000, 'z'), kTen = "0123456789";
constexpr std::uint64_t kAbove32Bits = (std::uint64_t{1} << 32) + 10;

TEST(PageFetcherTest, FollowsTheFetchRules) {
  testing::TempDir temp;
  testing::ScopedCurrentDirectory inTemp(temp.path());
  // clang-format off
  const struct {
    std::int32_t flags;
    std::vector<Reply> replies;
    const char* posted;
    std::size_t attempts;
    std::optional<std::uintmax_t> saved = {};  // size of the target file afterwards
    std::uint32_t minSize = 0;
    std::optional<std::size_t> stored = {};  // a file at the target beforehand
    FileFault fault = FileFault::None;
    const char* url = "http://host/f.bin";
  } cases[] = {
      {kFollow, {}, "/ failed", 0, {}, 0, {}, {}, "http://a.b"},
      {kFollow, {}, "/ failed", 0, {}, 0, {}, {}, "HTTP://a.b/c"},
      {kFollow, {}, "/ failed", 0, {}, 0, {}, {}, "https://a.b/c"},
      {kFollow, {}, "/ failed", 0, {}, 0, {}, {}, "http://a.b//c"},
      {0, {}, "/ done", 0},
      {kFollow, {{.body = std::string("a\r\nb\nc\0d", 8)}}, "S / page(abc~d) done", 1},
      {kBoth, {{.status = 404}}, "S / failed", 1},
      {kSave, {{.status = 199}}, "E / failed", 1},
      {kFollow, {{.status = 304}}, "S / page() done", 1},
      {kFollow, {{.failure = Reply::Newlines}}, "S / page() done", 1},
      {kBoth, {}, "S / failed wait100 wait100", 2},
      {kSave, {}, "E / failed wait100 wait100 wait100", 3},
      {kSave, {{.length = 65535, .body = "x"}}, "E / done", 1, {}, 65536},
      {kSave, {file(k150000)}, "E L0 L65536 L131072 L150000 D150000 / done", 1, 150000},
      {kSave, {file(k150000, Reply::AtRead, 65536), file(k150000)}, "E L0 L65536 L0 L65536 L131072 L150000 D150000 / done wait100", 2, 150000},
      {kSave, {{.body = std::string(100, 'a')}}, "E L0 L100 D100 / done", 1, 100, 50},
      {kSave, {{.body = kTen}}, "E L0 L10 / done", 1, 10, 50, 10},
      {kSave, {file(kTen)}, "E / done", 1, 10, 0, 10},
      {kSave, {{.length = kAbove32Bits, .body = kTen}}, "E L0 L10 D10 / done", 1, 10, 0xFFFFFFFF, 10},
      {kSave, {file(k150000, Reply::AbortAfter, 1)}, "E L0 L65536 / failed", 1, 65536},
      {kSave, {file(kTen)}, "E / failed", 1, {}, 0, {}, FileFault::CreateFile},
      {kSave, {file(kTen)}, "E L0 L10 / failed", 1, 0, 0, {}, FileFault::Write},
      {kSave, {file(kTen)}, "E L0 L10 / failed", 1, 10, 0, {}, FileFault::Close},
  };
  // clang-format on
  const fs::path target = "download/host/f.bin";
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.url << " " << c.posted);
    fs::remove_all("download");
    fs::create_directories(target.parent_path());
    if (c.stored) std::ofstream(target) << std::string(*c.stored, 's');
    ScriptedHttp http;
    http.replies.assign(c.replies.begin(), c.replies.end());
    EXPECT_EQ(fetchOnce(http, &http.abort, c.url, c.flags, c.minSize, c.fault), c.posted);
    EXPECT_EQ(http.headers, std::vector<ByteString>(c.attempts, "Referer: http://ref/\n"));
    EXPECT_EQ(sizeOf(target), c.saved);
    EXPECT_FALSE(fs::exists("download/host/f.bin.twk-part"));
  }
}

// Over the real curl client, where the client matters: headers as sent, cut and stalled
// bodies, a missing length, redirects.
TEST(PageFetcherTest, FetchesFromALoopbackServerOverCurl) {
  testing::TempDir temp;
  testing::ScopedCurrentDirectory inTemp(temp.path());
  // Flags, responses served in turn (the last one repeats), the last status message and
  // the work messages and pauses, requests, size of the file afterwards.
  const std::tuple<std::int32_t, std::vector<R>, const char*, std::size_t,
                   std::optional<std::uintmax_t>>
      cases[] = {
          {kFollow, {R::ok("a\r\nb\nc")}, "S / page(abc) done", 1, {}},
          {kSave, {R::cutOff(k150000, 70000), R::ok(k150000)}, "D150000 / done wait100", 2, 150000},
          {kSave, {R::ok(kTen, testing::BodyFraming::CloseDelimited)}, "D10 / done", 1, 10},
          {kSave,
           {R::redirect("file:///etc/hostname")},
           "E / failed wait100 wait100 wait100",
           3,
           {}},
          {kSave, {R::stalled(k150000, 1000)}, "L1000 / failed wait100 wait100 wait100", 3, 1000},
      };
  const auto curl = makeCurlHttpClient({.connectTimeout = std::chrono::milliseconds(2000),
                                        .stallTimeout = std::chrono::milliseconds(300)});
  for (const auto& [flags, responses, posted, requests, saved] : cases) {
    SCOPED_TRACE(posted);
    fs::remove_all("download");
    testing::LoopbackHttpServer server;
    std::size_t served = 0;
    server.setHandler(
        [&](const std::string&) { return responses[std::min(served++, responses.size() - 1)]; });
    const std::string all = fetchOnce(*curl, nullptr, server.url("/f.bin"), flags);
    EXPECT_EQ(all.substr(all.rfind(' ', all.find('/') - 2) + 1), posted);
    EXPECT_EQ(sizeOf(fs::path("download/127.0.0.1:" + std::to_string(server.port())) / "f.bin"),
              saved);
    ASSERT_EQ(server.requests().size(), requests);
    for (const testing::LoggedRequest& r : server.requests()) {
      EXPECT_EQ(std::tie(r.userAgent, r.referer), std::tuple("TWK/1.1 ROBOT", "http://ref/"));
    }
  }
}

}  // namespace
}  // namespace tarnwick
