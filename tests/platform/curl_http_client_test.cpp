#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/http_client.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using R = testing::ScriptedResponse;

struct Fetched {
  std::uint32_t status = 0;
  std::optional<std::uint64_t> length;
  std::string body;   // what arrived, up to the error if any
  std::string error;  // the HttpError's text
};

// Fetches `url` in reads of three bytes, so that every body arrives in pieces.
Fetched fetch(HttpClient& client, const std::string& url,
              const ByteString& headers = "Referer: \n") {
  Fetched fetched;
  try {
    auto response = client.openSession("TWK/1.1 ROBOT")->openUrl(ByteString(url), headers);
    fetched.status = response->statusCode();
    fetched.length = response->contentLength();
    char buffer[3];
    while (const auto n = response->read(buffer, sizeof buffer)) fetched.body.append(buffer, n);
  } catch (const HttpError& error) {
    fetched.error = error.what();
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
  const struct {
    R response;       // served at "/case"
    std::string url;  // fetched instead of "/case" when set
    std::uint32_t status;
    std::optional<std::uint64_t> length;
    std::string body;
    bool fails = false;
  } cases[] = {
      {R::ok("hello"), "", 200, 5, "hello"},
      {R::ok(""), "", 200, 0, ""},
      {R::withStatus(404, "gone"), "", 404, 4, "gone"},
      {R::ok("until close", testing::BodyFraming::CloseDelimited), "", 200, {}, "until close"},
      {R::ok(large), "", 200, large.size(), large},
      {{}, server_.url("/hop20"), 200, 12, "end of chain"},
      {{}, server_.url("/hop21"), 0, {}, "", true},
      {R::redirect("file://" + (temp.path() / "secret").string()), "", 0, {}, "", true},
      {R::cutOff("0123456789", 4), "", 200, 10, "0123", true},
      {R::stalled("0123456789", 4), "", 200, 10, "0123", true},
      {R::rawReply("NONSENSE\r\n\r\n"), "", 0, {}, "", true},
      {{}, testing::LoopbackHttpServer().url("/"), 0, {}, "", true},  // nobody listens there now
  };
  auto client = makeCurlHttpClient({.connectTimeout = 2s, .stallTimeout = 500ms});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url + c.response.body.substr(0, 20));
    server_.setResponse("/case", c.response);
    const Fetched fetched = fetch(*client, c.url.empty() ? server_.url("/case") : c.url);
    EXPECT_EQ(fetched.status, c.status);
    EXPECT_EQ(fetched.length, c.length);
    EXPECT_EQ(fetched.body, c.body);
    EXPECT_EQ(fetched.error.empty(), !c.fails) << fetched.error;
  }
}

TEST_F(CurlHttpClientTest, AgentAndHeaderTextReachEveryHop) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"Referer: http://site.example/page.html\n", "http://site.example/page.html"},
      {"Referer: \n", ""},
      {"", std::nullopt},
  };
  auto client = makeCurlHttpClient({});
  for (const auto& [headers, referer] : cases) fetch(*client, server_.url("/hop1"), headers);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 6u);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].path, i % 2 == 0 ? "/hop1" : "/hop0");
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].userAgent, "TWK/1.1 ROBOT");
    EXPECT_EQ(requests[i].referer, cases[i / 2].second) << i;
  }
}

// With the flag ignored, the read would end only when the server drops the stall, as a
// cut body; once set, the flag also refuses the next transfer.
TEST_F(CurlHttpClientTest, AbortFlagEndsABlockedRead) {
  server_.setResponse("/slow", R::stalled("0123456789", 2));
  std::atomic<bool> abort = false;
  auto client = makeCurlHttpClient({.stallTimeout = 1h, .abort = &abort});
  std::thread stopper([&] {
    std::this_thread::sleep_for(200ms);
    abort = true;
  });
  const Fetched fetched = fetch(*client, server_.url("/slow"));
  stopper.join();
  EXPECT_EQ(fetched.body, "01");
  EXPECT_NE(fetched.error.find("aborted"), std::string::npos) << fetched.error;
  EXPECT_FALSE(fetch(*client, server_.url("/slow")).error.empty());
}

}  // namespace
}  // namespace tarnwick
