#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/http_client.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

using testing::BodyFraming;
using testing::LoopbackHttpServer;
using testing::ScriptedResponse;

constexpr char kAgent[] = "TWK/1.1 ROBOT";

std::string patternedBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>(i * 31 % 251);
  return body;
}

// Serves /hop<n> as a redirect chain of `hops` redirects ending at /end.
void serveRedirectChain(LoopbackHttpServer& server, int hops) {
  for (int i = 0; i < hops; ++i) {
    const std::string next = i + 1 == hops ? "/end" : "/hop" + std::to_string(i + 1);
    server.setResponse("/hop" + std::to_string(i), ScriptedResponse::redirect(next));
  }
  server.setResponse("/end", ScriptedResponse::ok("end of chain"));
}

struct Fetched {
  std::uint32_t status = 0;
  std::optional<std::uint64_t> length;
  std::string body;
};

// Opens `url` in a new session and reads the body in reads of at most `readSize` bytes;
// `fetched` keeps what arrived before an HttpError.
void fetchInto(Fetched& fetched, HttpClient& client, const std::string& url,
               std::size_t readSize = 65536, const ByteString& headerText = "Referer: \n") {
  auto response = client.openSession(kAgent)->openUrl(ByteString(url), headerText);
  fetched.status = response->statusCode();
  fetched.length = response->contentLength();
  std::vector<char> buffer(readSize);
  while (const std::size_t count = response->read(buffer.data(), readSize)) {
    ASSERT_LE(count, readSize);
    fetched.body.append(buffer.data(), count);
  }
}

TEST(CurlHttpClientTest, ResponsesArriveAsServed) {
  struct Case {
    const char* name;
    ScriptedResponse response;
    std::size_t readSize;
    std::uint32_t status;
    std::optional<std::uint64_t> length;
  };
  const std::string large = patternedBody(5 * 1024 * 1024);
  const Case cases[] = {
      {"plain", ScriptedResponse::ok("hello"), 65536, 200, 5},
      {"empty", ScriptedResponse::ok(""), 65536, 200, 0},
      {"not found", ScriptedResponse::withStatus(404, "gone"), 65536, 404, 4},
      {"chunked", ScriptedResponse::ok(patternedBody(10000), BodyFraming::Chunked), 700, 200,
       std::nullopt},
      {"close delimited", ScriptedResponse::ok("until close", BodyFraming::CloseDelimited), 3, 200,
       std::nullopt},
      {"large in small reads", ScriptedResponse::ok(large), 4096, 200, large.size()},
      {"20 redirects", ScriptedResponse::redirect("/hop1"), 65536, 200, 12},
  };
  LoopbackHttpServer server;
  serveRedirectChain(server, 20);
  auto client = makeCurlHttpClient({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.setResponse("/case", c.response);
    Fetched fetched;
    fetchInto(fetched, *client, server.url("/case"), c.readSize);
    EXPECT_EQ(fetched.status, c.status);
    EXPECT_EQ(fetched.length, c.length);
    const bool redirected = c.response.status == 302;
    EXPECT_EQ(fetched.body, redirected ? "end of chain" : c.response.body);
  }
}

TEST(CurlHttpClientTest, AgentAndHeaderTextReachEveryHop) {
  struct Case {
    const char* headerText;
    std::optional<std::string> referer;
  };
  const Case cases[] = {
      {"Referer: http://site.example/page.html\n", "http://site.example/page.html"},
      {"Referer: \n", ""},
      {"", std::nullopt},
  };
  auto client = makeCurlHttpClient({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headerText);
    LoopbackHttpServer server;
    serveRedirectChain(server, 1);
    Fetched fetched;
    fetchInto(fetched, *client, server.url("/hop0"), 65536, c.headerText);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
      EXPECT_EQ(request.method, "GET");
      EXPECT_EQ(request.userAgent, kAgent);
      EXPECT_EQ(request.referer, c.referer);
    }
  }
}

TEST(CurlHttpClientTest, FailedAttemptsThrowHttpError) {
  enum class FailsAt { Open, Read };
  testing::TempDir temp;
  const auto secret = temp.path() / "secret.txt";
  std::ofstream(secret) << "local secret";
  std::string closedPortUrl;
  {
    LoopbackHttpServer gone;
    closedPortUrl = gone.url("/");
  }
  LoopbackHttpServer server;
  serveRedirectChain(server, 21);
  struct Case {
    const char* name;
    std::string url;
    ScriptedResponse response;
    FailsAt failsAt;
    std::string bodyBeforeError;
  };
  const Case cases[] = {
      {"redirect to a local file", server.url("/case"),
       ScriptedResponse::redirect("file://" + secret.string()), FailsAt::Open, ""},
      {"more than 20 redirects", server.url("/hop0"), {}, FailsAt::Open, ""},
      {"body cut off", server.url("/case"), ScriptedResponse::cutOff("0123456789", 4),
       FailsAt::Read, "0123"},
      {"body stalls", server.url("/case"), ScriptedResponse::stalled("0123456789", 4),
       FailsAt::Read, "0123"},
      {"no status line", server.url("/case"), ScriptedResponse::rawReply("NONSENSE\r\n\r\n"),
       FailsAt::Open, ""},
      {"connection refused", closedPortUrl, {}, FailsAt::Open, ""},
  };
  HttpClientOptions options;
  options.connectTimeout = std::chrono::milliseconds(2000);
  options.stallTimeout = std::chrono::milliseconds(300);
  auto client = makeCurlHttpClient(options);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.setResponse("/case", c.response);
    Fetched fetched;
    EXPECT_THROW(fetchInto(fetched, *client, c.url, 3), HttpError);
    EXPECT_EQ(fetched.status != 0, c.failsAt == FailsAt::Read);
    EXPECT_EQ(fetched.body, c.bodyBeforeError);
  }
}

TEST(CurlHttpClientTest, AbortFlagEndsABlockedRead) {
  LoopbackHttpServer server;
  server.setResponse("/slow", ScriptedResponse::stalled("0123456789", 2));
  std::atomic<bool> abort = false;
  HttpClientOptions options;
  options.stallTimeout = std::chrono::hours(1);
  options.abort = &abort;
  auto client = makeCurlHttpClient(options);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    abort = true;
  });
  // An ignored flag would end the read only when the server gives up its stall, as a cut
  // body: the message tells the two apart.
  Fetched fetched;
  try {
    fetchInto(fetched, *client, server.url("/slow"));
    ADD_FAILURE() << "the body ended";
  } catch (const HttpError& error) {
    EXPECT_NE(std::string(error.what()).find("aborted"), std::string::npos) << error.what();
  }
  stopper.join();
  EXPECT_EQ(fetched.body, "01");
  EXPECT_THROW(fetchInto(fetched, *client, server.url("/slow")), HttpError);
}

}  // namespace
}  // namespace tarnwick
