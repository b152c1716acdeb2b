#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/http_client.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"
#include "support/tls_server.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using R = testing::ScriptedResponse;

// What a transfer delivered, up to its end or its failure; it has had enough once it holds
// `wanted` bytes.
struct Fetched final : HttpReceiver {
  bool onResponse(std::uint32_t code, std::optional<std::uint64_t> contentLength) override {
    status = code;
    length = contentLength;
    return wanted > 0;
  }
  BodyTaken onBody(std::string_view bytes) override {
    body += bytes;
    return body.size() < wanted ? BodyTaken::All : BodyTaken::Enough;
  }
  std::size_t wanted = SIZE_MAX;
  std::uint32_t status = 0;
  std::optional<std::uint64_t> length;
  std::string body;
  Status result;
};

Fetched fetch(HttpClient& client, const std::string& url, const ByteString& headers = "Referer: \n",
              const std::atomic<bool>* abort = nullptr, std::size_t wanted = SIZE_MAX) {
  Fetched fetched;
  fetched.wanted = wanted;
  const TransferId id = client.start({ByteString(url), "TWK/1.1 ROBOT", headers, abort}, fetched);
  for (std::vector<EndedTransfer> ended; ended.empty();) {
    ended = client.pump(1s);
    if (!ended.empty()) {
      EXPECT_EQ(ended.front().id, id);
      fetched.result = ended.front().status;
    }
  }
  return fetched;
}

class CurlHttpClientTest : public ::testing::Test {
 protected:
  // "/hop<n>" is n redirects away from "end of chain".
  CurlHttpClientTest() {
    server_.setHandler([](const std::string& path) {
      const int n = std::stoi(path.substr(4));
      return n == 0 ? R::ok("end of chain") : R::redirect("/hop" + std::to_string(n - 1));
    });
  }
  testing::LoopbackHttpServer server_;
};

TEST_F(CurlHttpClientTest, ResponsesArriveAsServedOrFail) {
  std::string large(5 << 20, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31 % 251);
  testing::TempDir temp;
  std::ofstream(temp.path() / "secret") << "local secret";
  R drip = R::ok(std::string(2000, 'd'));
  drip.dripInterval = 20ms;
  R interim = R{.raw = ""};
  for (int i = 0; i < 100; ++i) *interim.raw += "HTTP/1.1 100 Continue\r\n\r\n";
  interim.dripInterval = 20ms;
  interim.dripBytes = 25;
  // clang-format off
  const struct {
    R response;       // served at "/case"
    std::string url;  // fetched instead of "/case" when set
    std::uint32_t status;
    std::optional<std::uint64_t> length;
    std::string body;
    Status::Kind result = Status::Kind::Ok;
    std::size_t wanted = SIZE_MAX;
    const char* headers = "Referer: \n";  // sent on every hop: an empty value too
    std::optional<std::string> referer = "";
  } cases[] = {
      {R::ok("hello"), "", 200, 5, "hello"},
      {R::ok("unread"), "", 200, 6, "", Status::Kind::Ok, 0},
      {R::ok("enough"), "", 200, 6, "enough", Status::Kind::Ok, 1},
      {R{.status = 404, .body = "gone"}, "", 404, 4, "gone"},
      {R{.body = "until close", .closeDelimited = true}, "", 200, {}, "until close"},
      {R::ok(large), "", 200, large.size(), large},
      {{}, server_.url("/hop20"), 200, 12, "end of chain", {}, SIZE_MAX, "Referer: http://a.test/p\n", "http://a.test/p"},
      {{}, server_.url("/hop1"), 200, 12, "end of chain", {}, SIZE_MAX, "", std::nullopt},
      {{}, server_.url("/hop21"), 0, {}, "", Status::Kind::Refused},
      {R::redirect("file://" + (temp.path() / "secret").string()), "", 0, {}, "", Status::Kind::Refused},
      {R{.body = "0123456789", .cutAt = 4}, "", 200, 10, "0123", Status::Kind::Network},
      {drip, "", 200, 2000, "", Status::Kind::Network},
      {interim, "", 0, {}, "", Status::Kind::Network},
      {R{.raw = "NONSENSE\r\n\r\n"}, "", 0, {}, "", Status::Kind::Refused},
      // A 3xx that is not followed is the final answer; a followed one's body is not.
      {R{.status = 302, .body = "moved"}, "", 302, 5, "moved"},
      {R{.status = 302, .headers = {"Location: "}, .body = "moved"}, "", 302, 5, "moved"},
      {R{.status = 301, .headers = {"Location: /hop0"}, .body = "moved"}, "", 200, 12, "end of chain"},
      {R{.raw = "HTTP/1.1 103 Hints\r\nLink: <a>\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, "", 200, 2, "ok"},
      {R::redirect("https://127.0.0.1:1/x"), "", 0, {}, "", Status::Kind::Refused},
      {{}, testing::LoopbackHttpServer().url("/"), 0, {}, "", Status::Kind::Network},
  };
  // clang-format on
  auto client = makeCurlHttpClient({.connectTimeout = 2s, .dripWindow = 300ms});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + c.response.body.substr(0, 20));
    server_.setResponse("/case", c.response);
    const std::size_t earlier = server_.requests().size();
    const Fetched fetched =
        fetch(*client, c.url.empty() ? server_.url("/case") : c.url, c.headers, nullptr, c.wanted);
    EXPECT_EQ(fetched.status, c.status);
    EXPECT_EQ(fetched.length, c.length);
    // A drip is cut within its window, after the few bytes that arrived meanwhile.
    const bool drips = c.response.dripInterval.count() > 0;
    EXPECT_EQ(fetched.body, drips ? c.response.body.substr(0, fetched.body.size()) : c.body);
    EXPECT_LT(fetched.body.size(), drips ? 100u : c.body.size() + 1);
    EXPECT_EQ(fetched.result.kind(), c.result) << fetched.result.reason();
    const auto requests = server_.requests();
    for (auto r = requests.begin() + static_cast<std::ptrdiff_t>(earlier); r != requests.end();
         ++r) {
      EXPECT_EQ(std::tie(r->method, r->userAgent, r->referer),
                std::tuple("GET", "TWK/1.1 ROBOT", c.referer));
    }
  }
}

// With the flag ignored, the transfer would end only when the server ends.
TEST_F(CurlHttpClientTest, AbortFlagEndsABlockedTransfer) {
  server_.setResponse("/slow", R{.body = "0123456789", .cutAt = 2});
  std::atomic<bool> abort = false;
  auto client = makeCurlHttpClient({.dripWindow = 1h});
  std::thread stopper([&] {
    std::this_thread::sleep_for(200ms);
    abort = true;
  });
  const Fetched fetched = fetch(*client, server_.url("/slow"), "", &abort);
  stopper.join();
  EXPECT_EQ(fetched.body, "01");
  EXPECT_EQ(fetched.result.kind(), Status::Kind::Aborted);
  EXPECT_EQ(fetch(*client, server_.url("/slow"), "", &abort).result.kind(), Status::Kind::Aborted);
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

// A cancelled transfer is never reported, though its answer would have come, and the client
// goes on with the next.
TEST_F(CurlHttpClientTest, ACancelledTransferIsNeverReported) {
  R drip = R::ok("0123456789");
  drip.dripInterval = 20ms;
  server_.setResponse("/drip", drip);
  auto client = makeCurlHttpClient({});
  Fetched dripping;
  const TransferId id =
      client->start({ByteString(server_.url("/drip")), "", "", nullptr}, dripping);
  client->pump(50ms);
  client->cancel(id);
  EXPECT_TRUE(client->pump(500ms).empty());
  EXPECT_EQ(fetch(*client, server_.url("/hop0")).body, "end of chain");
}

// An extra certificate authority is trusted beside the system's, not instead of them.
TEST(CurlHttpsTest, AnExtraAuthorityJoinsTheSystemOnes) {
  testing::TempDir dir;
  std::ofstream(dir.path() / "page") << "secret page";
  const testing::TlsServer a(dir.path(), 'a'), b(dir.path(), 'b');
  const struct {
    std::string extra;
    Status::Kind fromA, fromB;
  } cases[] = {
      {testing::TlsServer::authority('b'), Status::Kind::Ok, Status::Kind::Ok},
      {"", Status::Kind::Ok, Status::Kind::Network},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    auto client = makeCurlHttpClient(
        {.caCertificateFile = c.extra, .systemCertificates = testing::TlsServer::authority('a')});
    EXPECT_EQ(fetch(*client, a.url("/page")).result.kind(), c.fromA);
    EXPECT_EQ(fetch(*client, b.url("/page")).result.kind(), c.fromB);
  }
}

// A body nobody wants is read and dropped when little of it is left, so the next request
// goes over the same connection; a long one costs the connection instead.
TEST_F(CurlHttpClientTest, AnUnwantedBodyKeepsItsConnectionWhenShort) {
  server_.setResponse("/short", R::ok(std::string(1000, 's')));
  server_.setResponse("/long", R::ok(std::string(1 << 20, 'l')));
  auto client = makeCurlHttpClient({});
  for (const auto& [path, kept] : {std::pair("/short", true), std::pair("/long", false)}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(fetch(*client, server_.url(path), "", nullptr, 0).result.kind(), Status::Kind::Ok);
    EXPECT_EQ(fetch(*client, server_.url("/hop0"), "").body, "end of chain");
    const auto requests = server_.requests();
    EXPECT_EQ(requests.back().connection == requests[requests.size() - 2].connection, kept);
  }
}

}  // namespace
}  // namespace tarnwick
