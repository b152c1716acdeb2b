// Whole crawls: CrawlWorker with the real fetcher and extractor over libcurl and the
// POSIX file system, against a site served on 127.0.0.1, in a temporary folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/crawl_components.h"
#include "engine/crawl_worker.h"
#include "engine/ui_message_queue.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/services.h"
#include "support/fake_platform.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::LoopbackHttpServer;

constexpr std::int32_t kHtml = 0;
constexpr std::int32_t kImages = 2;

const std::string kImage1(70000, 'a');
const std::string kImage2(300, 'b');

// Three levels: each page links one level down and embeds one image.
const std::map<std::string, std::string> kThreeLevelSite = {
    {"/index.html", R"(<a href="sub/one.html">1</a><img src="img/top.gif">)"},
    {"/sub/one.html", R"(<a href="deeper/two.html">2</a><img src="../img/one.gif">)"},
    {"/sub/deeper/two.html", R"(<img src="../../img/two.gif">)"},
    {"/img/top.gif", "top"},
    {"/img/one.gif", "one"},
    {"/img/two.gif", "two"},
};

void selectCategory(CrawlJob& job, std::int32_t category) {
  job.rowCategory[job.rowCount] = category;
  job.rowFlags[job.rowCount] = SaveIfAtLeast;
  job.rowMinSize[job.rowCount] = 0;
  ++job.rowCount;
}

class CrawlEndToEndTest : public ::testing::Test {
 protected:
  CrawlJob jobFor(const std::string& path, std::uint8_t depth, SaveLayout layout) {
    CrawlJob job;
    job.startUrl = ByteString(server_.url(path));
    job.maxDepth = depth;
    job.saveLayout = layout;
    job.controlQueue = &controlQueue_;
    job.statusQueue = &statusQueue_;
    return job;
  }

  // Runs the worker on its own thread, as the window does; `duringRun` gets the control
  // queue while the crawl is under way. Returns every status message of the run.
  std::vector<UiMessage> crawl(const CrawlJob& job,
                               const std::function<void(UiMessageQueue&)>& duringRun = {}) {
    const auto components = makeCrawlComponentFactory(services_);
    std::thread worker([&] { CrawlWorker(job, *components); });
    UiMessage start;
    start.code = ControlStart;
    controlQueue_.push(start);
    if (duringRun) duringRun(controlQueue_);
    worker.join();
    std::vector<UiMessage> messages;
    for (UiMessage message; statusQueue_.pop(message);) messages.push_back(message);
    return messages;
  }

  std::string host() const { return "127.0.0.1:" + std::to_string(server_.port()); }

  testing::TempDir dir_;
  testing::ScopedCurrentDirectory cwd_{dir_.path()};
  LoopbackHttpServer server_;
  std::unique_ptr<HttpClient> http_ = makeCurlHttpClient({});
  std::unique_ptr<FileSystem> files_ = makePosixFileSystem();
  testing::FakeClock clock_;
  testing::ScriptedMessageBox messageBox_;
  testing::ThrowingProcessExit exit_;
  PlatformServices services_{http_.get(), files_.get(), &clock_, &messageBox_, &exit_};
  UiMessageQueue controlQueue_;
  UiMessageQueue statusQueue_;
};

std::set<std::string> savedFiles() {
  std::set<std::string> saved;
  for (const auto& entry : fs::recursive_directory_iterator("download")) {
    if (entry.is_regular_file()) saved.insert(fs::relative(entry.path(), "download").string());
  }
  return saved;
}

int countOf(const std::vector<UiMessage>& messages, std::int32_t code) {
  return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                        [code](const UiMessage& m) { return m.code == code; }));
}

TEST_F(CrawlEndToEndTest, StartPageWithTwoImagesReportsEachStepInOrder) {
  server_.serveFiles({{"/index.html", R"(<img src="a.gif"><img src="b.gif">)"},
                      {"/a.gif", kImage1},
                      {"/b.gif", kImage2}});
  CrawlJob job = jobFor("/index.html", 4, SaveLayout::Tree);
  selectCategory(job, kImages);
  const std::vector<UiMessage> messages = crawl(job);

  // Progress of one transfer comes block by block; collapse each run into one entry.
  std::vector<std::pair<std::int32_t, std::string>> steps;
  for (const UiMessage& m : messages) {
    if (m.code == StatusDownloading && steps.back().first == StatusDownloading) continue;
    steps.emplace_back(m.code, m.text.str());
  }
  const std::string page = server_.url("/index.html"), a = server_.url("/a.gif"),
                    b = server_.url("/b.gif");
  const std::vector<std::pair<std::int32_t, std::string>> expected = {
      {StatusUrlAdded, page}, {StatusSearching, page}, {StatusUrlAdded, a},   {StatusUrlAdded, b},
      {StatusExamining, a},   {StatusDownloading, a},  {StatusDownloaded, a}, {StatusExamining, b},
      {StatusDownloading, b}, {StatusDownloaded, b},   {StatusFinished, ""}};
  EXPECT_EQ(steps, expected);

  EXPECT_EQ(savedFiles(), (std::set<std::string>{host() + "/a.gif", host() + "/b.gif"}));
}

TEST_F(CrawlEndToEndTest, ThreeLevelSiteSavesWhatTheDepthReachesAndNothingTwice) {
  server_.serveFiles(kThreeLevelSite);
  const std::string h = host() + "/";
  struct Case {
    std::uint8_t depth;
    SaveLayout layout;
    std::set<std::string> expected;
  };
  const std::vector<Case> cases = {
      {1,
       SaveLayout::Tree,
       {h + "index.html", h + "img/top.gif", h + "sub/one.html", h + "img/one.gif"}},
      {2,
       SaveLayout::Tree,
       {h + "index.html", h + "img/top.gif", h + "sub/one.html", h + "img/one.gif",
        h + "sub/deeper/two.html", h + "img/two.gif"}},
      {1,
       SaveLayout::Date,
       {"20050314/index.html", "20050314/top.gif", "20050314/one.html", "20050314/one.gif"}},
      {2,
       SaveLayout::Date,
       {"20050314/index.html", "20050314/top.gif", "20050314/one.html", "20050314/one.gif",
        "20050314/two.html", "20050314/two.gif"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "depth " << int{c.depth} << " layout " << static_cast<int>(c.layout));
    fs::remove_all("download");
    CrawlJob job = jobFor("/index.html", c.depth, c.layout);
    selectCategory(job, kHtml);
    selectCategory(job, kImages);

    const std::vector<UiMessage> first = crawl(job);
    EXPECT_EQ(savedFiles(), c.expected);
    EXPECT_EQ(countOf(first, StatusDownloaded), static_cast<int>(c.expected.size()));

    const std::vector<UiMessage> second = crawl(job);
    EXPECT_EQ(countOf(second, StatusDownloading), 0);
    EXPECT_EQ(countOf(second, StatusDownloaded), 0);
    EXPECT_EQ(second.back().code, StatusFinished);
  }
}

TEST_F(CrawlEndToEndTest, StopDuringAFetchEndsTheCrawlWhenThatFetchIsDone) {
  // Bounded waits, so a broken crawl fails the test instead of hanging it.
  constexpr auto kPatience = std::chrono::seconds(30);
  std::promise<void> fetchStarted, stopPushed;
  std::once_flag firstRequest;
  std::shared_future<void> stopPushedSignal = stopPushed.get_future().share();
  server_.serveFiles(
      {{"/index.html", R"(<img src="a.gif"><img src="b.gif">)"}, {"/b.gif", kImage2}});
  server_.setHandler([&](const std::string& path) -> std::optional<testing::ScriptedResponse> {
    if (path != "/a.gif") return std::nullopt;
    std::call_once(firstRequest, [&] { fetchStarted.set_value(); });
    stopPushedSignal.wait_for(kPatience);
    return testing::ScriptedResponse::ok(kImage1);
  });
  CrawlJob job = jobFor("/index.html", 4, SaveLayout::Tree);
  selectCategory(job, kImages);

  const std::vector<UiMessage> messages = crawl(job, [&](UiMessageQueue& control) {
    EXPECT_EQ(fetchStarted.get_future().wait_for(kPatience), std::future_status::ready);
    UiMessage stop;
    stop.code = ControlStop;
    control.push(stop);
    stopPushed.set_value();
  });

  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().code, StatusFinished);
  EXPECT_EQ(countOf(messages, StatusDownloaded), 1);
  EXPECT_EQ(countOf(messages, StatusExamining), 1);
  EXPECT_EQ(savedFiles(), (std::set<std::string>{host() + "/a.gif"}));
  for (const auto& request : server_.requests()) EXPECT_NE(request.path, "/b.gif");
}

}  // namespace
}  // namespace tarnwick
