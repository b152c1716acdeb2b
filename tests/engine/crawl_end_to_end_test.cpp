// Whole crawls: CrawlWorker with the real fetcher and extractor over libcurl and the
// POSIX file system, against a site served on 127.0.0.1, in a temporary folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
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
using Steps = std::vector<std::pair<std::int32_t, std::string>>;

UiMessage message(std::int32_t code) {
  UiMessage m;
  m.code = code;
  return m;
}

std::set<std::string> savedFiles() {
  std::set<std::string> saved;
  for (const auto& entry : fs::recursive_directory_iterator("download")) {
    if (entry.is_regular_file()) saved.insert(fs::relative(entry.path(), "download").string());
  }
  return saved;
}

class CrawlEndToEndTest : public ::testing::Test {
 protected:
  // Runs the worker on its own thread, as the window does, with HTML (category 0) and images
  // (category 2) saved as asked; `duringRun` runs while the crawl is under way. Returns the
  // status messages, each run of progress messages of one transfer collapsed into one.
  Steps crawl(
      std::uint8_t depth, SaveLayout layout, std::vector<std::int32_t> categories,
      const std::function<void()>& duringRun = [] {}) {
    CrawlJob job;
    std::tie(job.startUrl, job.maxDepth, job.saveLayout, job.controlQueue, job.statusQueue) =
        std::tuple(ByteString(server_.url("/index.html")), depth, layout, &control_, &status_);
    for (std::int32_t category : categories) {
      job.rowCategory[job.rowCount] = category;
      job.rowFlags[job.rowCount++] = SaveIfAtLeast;
    }
    std::thread worker([&] { CrawlWorker(job, *components_); });
    control_.push(message(ControlStart));
    duringRun();
    worker.join();
    Steps steps;
    for (UiMessage m; status_.pop(m);) {
      if (m.code != StatusDownloading || steps.back().first != m.code) {
        steps.emplace_back(m.code, m.text.str());
      }
    }
    return steps;
  }
  static int countOf(const Steps& steps, std::int32_t code) {
    return std::count_if(steps.begin(), steps.end(),
                         [&](const auto& s) { return s.first == code; });
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(server_.port()); }

  testing::TempDir dir_;
  testing::ScopedCurrentDirectory cwd_{dir_.path()};
  testing::LoopbackHttpServer server_;
  std::unique_ptr<HttpClient> http_ = makeCurlHttpClient({});
  std::unique_ptr<FileSystem> files_ = makePosixFileSystem();
  testing::FakeClock clock_;
  testing::ScriptedMessageBox messageBox_;
  testing::ThrowingProcessExit exit_;
  PlatformServices services_{http_.get(), files_.get(), &clock_, &messageBox_, &exit_};
  std::unique_ptr<CrawlComponentFactory> components_ = makeCrawlComponentFactory(services_);
  UiMessageQueue control_, status_;
};

TEST_F(CrawlEndToEndTest, StartPageWithTwoImagesReportsEachStepInOrder) {
  server_.serveFiles({{"/index.html", R"(<img src="a.gif"><img src="b.gif">)"},
                      {"/a.gif", std::string(70000, 'a')},
                      {"/b.gif", "b"}});
  const std::string page = server_.url("/index.html"), a = server_.url("/a.gif"),
                    b = server_.url("/b.gif");
  const Steps expected = {{StatusUrlAdded, page}, {StatusSearching, page}, {StatusUrlAdded, a},
                          {StatusUrlAdded, b},    {StatusExamining, a},    {StatusDownloading, a},
                          {StatusDownloaded, a},  {StatusExamining, b},    {StatusDownloading, b},
                          {StatusDownloaded, b},  {StatusFinished, ""}};
  EXPECT_EQ(crawl(4, SaveLayout::Tree, {2}), expected);
  EXPECT_EQ(savedFiles(), (std::set<std::string>{host() + "/a.gif", host() + "/b.gif"}));
}

TEST_F(CrawlEndToEndTest, ThreeLevelSiteSavesWhatTheDepthReachesAndNothingTwice) {
  // Each page links one level down and embeds one image.
  server_.serveFiles({
      {"/index.html", R"(<a href="sub/one.html">1</a><img src="img/top.gif">)"},
      {"/sub/one.html", R"(<a href="deeper/two.html">2</a><img src="../img/one.gif">)"},
      {"/sub/deeper/two.html", R"(<img src="../../img/two.gif">)"},
      {"/img/top.gif", "top"},
      {"/img/one.gif", "one"},
      {"/img/two.gif", "two"},
  });
  const std::vector<fs::path> reached[] = {
      {},
      {"index.html", "img/top.gif", "sub/one.html", "img/one.gif"},
      {"index.html", "img/top.gif", "sub/one.html", "img/one.gif", "sub/deeper/two.html",
       "img/two.gif"}};
  for (const std::uint8_t depth : {1, 2}) {
    for (const SaveLayout layout : {SaveLayout::Tree, SaveLayout::Date}) {
      SCOPED_TRACE(::testing::Message() << "depth " << int{depth} << " layout " << int(layout));
      std::set<std::string> expected;
      for (const fs::path& file : reached[depth]) {
        const fs::path where =
            layout == SaveLayout::Tree ? host() / file : "20050314" / file.filename();
        expected.insert(where.string());
      }
      fs::remove_all("download");
      EXPECT_EQ(countOf(crawl(depth, layout, {0, 2}), StatusDownloaded), int(expected.size()));
      EXPECT_EQ(savedFiles(), expected);
      const Steps second = crawl(depth, layout, {0, 2});
      EXPECT_EQ(countOf(second, StatusDownloading) + countOf(second, StatusDownloaded), 0);
      EXPECT_EQ(second.back().first, StatusFinished);
    }
  }
}

TEST_F(CrawlEndToEndTest, StopDuringAFetchEndsTheCrawlWhenThatFetchIsDone) {
  constexpr auto kPatience = std::chrono::seconds(30);  // a broken crawl fails, not hangs
  std::promise<void> fetchStarted, stopPushed;
  std::once_flag firstRequest;
  std::shared_future<void> stopSignal = stopPushed.get_future().share();
  server_.serveFiles({{"/index.html", R"(<img src="a.gif"><img src="b.gif">)"}, {"/b.gif", "b"}});
  server_.setHandler([&](const std::string& path) -> std::optional<testing::ScriptedResponse> {
    if (path != "/a.gif") return std::nullopt;
    std::call_once(firstRequest, [&] { fetchStarted.set_value(); });
    stopSignal.wait_for(kPatience);
    return testing::ScriptedResponse::ok("a");
  });
  const Steps steps = crawl(4, SaveLayout::Tree, {2}, [&] {
    EXPECT_EQ(fetchStarted.get_future().wait_for(kPatience), std::future_status::ready);
    control_.push(message(ControlStop));
    stopPushed.set_value();
  });
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back().first, StatusFinished);
  EXPECT_EQ(countOf(steps, StatusExamining), 1);
  EXPECT_EQ(countOf(steps, StatusDownloaded), 1);
  EXPECT_EQ(savedFiles(), (std::set<std::string>{host() + "/a.gif"}));
  for (const auto& request : server_.requests()) EXPECT_NE(request.path, "/b.gif");
}

}  // namespace
}  // namespace tarnwick
