#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/http_client.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

using testing::BodyFraming;
using testing::ScriptedResponse;

constexpr char kAgent[] = "TWK/1.1 ROBOT";

std::string patternedBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>(i * 31 % 251);
  return body;
}

struct Fetched {
  std::uint32_t status = 0;
  std::optional<std::uint64_t> length;
  std::string body;
};

// Reads `url` in reads of at most `readSize` bytes; `fetched` keeps what arrived before
// an HttpError.
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

class CurlHttpClientTest : public ::testing::Test {
 protected:
  // "/hop<n>" is n redirects away from "end of chain".
  CurlHttpClientTest() {
    server_.setHandler([](const std::string& path) {
      const int n = std::stoi(path.substr(4));
      return n == 0 ? ScriptedResponse::ok("end of chain")
                    : ScriptedResponse::redirect("/hop" + std::to_string(n - 1));
    });
  }
  testing::LoopbackHttpServer server_;
};

TEST_F(CurlHttpClientTest, ResponsesArriveAsServed) {
  const std::string large = patternedBody(5 * 1024 * 1024);
  const struct {
    ScriptedResponse response;
    std::size_t readSize;
    std::uint32_t status;
    std::optional<std::uint64_t> length;
  } cases[] = {
      {ScriptedResponse::ok("hello"), 65536, 200, 5},
      {ScriptedResponse::ok(""), 65536, 200, 0},
      {ScriptedResponse::withStatus(404, "gone"), 65536, 404, 4},
      {ScriptedResponse::ok("until close", BodyFraming::CloseDelimited), 3, 200, std::nullopt},
      {ScriptedResponse::ok(large), 4096, 200, large.size()},
      {ScriptedResponse::redirect("/hop19"), 65536, 200, 12},  // 20 redirects
  };
  auto client = makeCurlHttpClient({});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.response.body.substr(0, 20));
    server_.setResponse("/case", c.response);
    Fetched fetched;
    fetchInto(fetched, *client, server_.url("/case"), c.readSize);
    EXPECT_EQ(fetched.status, c.status);
    EXPECT_EQ(fetched.length, c.length);
    EXPECT_EQ(fetched.body, c.response.status == 302 ? "end of chain" : c.response.body);
  }
}

TEST_F(CurlHttpClientTest, AgentAndHeaderTextReachEveryHop) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"Referer: http://site.example/page.html\n", "http://site.example/page.html"},
      {"Referer: \n", ""},
      {"", std::nullopt},
  };
  auto client = makeCurlHttpClient({});
  for (const auto& [headerText, referer] : cases) {
    SCOPED_TRACE(headerText);
    const std::size_t before = server_.requests().size();
    Fetched fetched;
    fetchInto(fetched, *client, server_.url("/hop1"), 65536, headerText);
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), before + 2);
    for (std::size_t i = before; i < requests.size(); ++i) {
      EXPECT_EQ(requests[i].method, "GET");
      EXPECT_EQ(requests[i].userAgent, kAgent);
      EXPECT_EQ(requests[i].referer, referer);
    }
  }
}

TEST_F(CurlHttpClientTest, FailedAttemptsThrowHttpError) {
  testing::TempDir temp;
  const auto secret = temp.path() / "secret.txt";
  std::ofstream(secret) << "local secret";
  const std::string closedPortUrl = testing::LoopbackHttpServer().url("/");
  const std::string caseUrl = server_.url("/case");
  const struct {
    std::string url;
    ScriptedResponse response;
    std::string bodyBeforeError;  // non-empty when the failure came while reading
  } cases[] = {
      {caseUrl, ScriptedResponse::redirect("file://" + secret.string()), ""},
      {server_.url("/hop21"), {}, ""},
      {caseUrl, ScriptedResponse::cutOff("0123456789", 4), "0123"},
      {caseUrl, ScriptedResponse::stalled("0123456789", 4), "0123"},
      {caseUrl, ScriptedResponse::rawReply("NONSENSE\r\n\r\n"), ""},
      {closedPortUrl, {}, ""},
  };
  HttpClientOptions options;
  options.connectTimeout = std::chrono::milliseconds(2000);
  options.stallTimeout = std::chrono::milliseconds(300);
  auto client = makeCurlHttpClient(options);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    server_.setResponse("/case", c.response);
    Fetched fetched;
    EXPECT_THROW(fetchInto(fetched, *client, c.url, 3), HttpError);
    EXPECT_EQ(fetched.status != 0, !c.bodyBeforeError.empty());
    EXPECT_EQ(fetched.body, c.bodyBeforeError);
  }
}

TEST_F(CurlHttpClientTest, AbortFlagEndsABlockedRead) {
  server_.setResponse("/slow", ScriptedResponse::stalled("0123456789", 2));
  std::atomic<bool> abort = false;
  HttpClientOptions options;
  options.stallTimeout = std::chrono::hours(1);
  options.abort = &abort;
  auto client = makeCurlHttpClient(options);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    abort = true;
  });
  // An ignored flag ends the read only when the server drops the stall, as a cut body.
  Fetched fetched;
  try {
    fetchInto(fetched, *client, server_.url("/slow"));
    ADD_FAILURE() << "the body ended";
  } catch (const HttpError& error) {
    EXPECT_NE(std::string(error.what()).find("aborted"), std::string::npos) << error.what();
  }
  stopper.join();
  EXPECT_EQ(fetched.body, "01");
  EXPECT_THROW(fetchInto(fetched, *client, server_.url("/slow")), HttpError);
}

}  // namespace
}  // namespace tarnwick
