// Whole crawls: CrawlWorker with the real fetcher and extractor over libcurl and the
// POSIX file system, against a site served on 127.0.0.1, in a temporary folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/crawl_components.h"
#include "engine/ui_message_queue.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/services.h"
#include "support/crawl_run.h"
#include "support/fake_platform.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

std::set<std::string> savedFiles() {
  std::set<std::string> saved;
  for (const auto& entry : fs::recursive_directory_iterator("download")) {
    if (entry.is_regular_file()) saved.insert(fs::relative(entry.path(), "download").string());
  }
  return saved;
}

class CrawlEndToEndTest : public ::testing::Test {
 protected:
  // The status messages as "<letter><path> " each, one per transfer for downLoading. The
  // site's paths are lower case, so a capital letter always marks a message.
  std::string crawl(std::uint8_t depth, SaveLayout layout, std::vector<std::int32_t> categories) {
    const CrawlJob job =
        testing::crawlJob(server_.url("/index.html"), depth, categories, control_, status_, layout);
    std::string steps;
    for (const UiMessage& m : testing::runCrawl(job, *components_)) {
      const std::string step = testing::statusLetter(m.code) +
                               std::string(m.text.str()).erase(0, server_.url("").size()) + " ";
      if (m.code != UiCode::StatusDownloading || !steps.ends_with(step)) steps += step;
    }
    return steps;
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
  EXPECT_EQ(crawl(4, SaveLayout::Tree, {2}),
            "A/index.html S/index.html A/a.gif A/b.gif E/a.gif L/a.gif D/a.gif E/b.gif L/b.gif "
            "D/b.gif F ");
  EXPECT_EQ(savedFiles(), (std::set<std::string>{host() + "/a.gif", host() + "/b.gif"}));
}

TEST_F(CrawlEndToEndTest, ThreeLevelSiteSavesWhatTheDepthReachesAndNothingTwice) {
  // Each page links one level down and embeds one image.
  server_.serveFiles(
      {{"/index.html", R"(<a href="sub/one.html">1</a><img src="img/top.gif">)"},
       {"/sub/one.html", R"(<a href="deeper/two.html">2</a><img src="../img/one.gif">)"},
       {"/sub/deeper/two.html", R"(<img src="../../img/two.gif">)"},
       {"/img/top.gif", "top"},
       {"/img/one.gif", "one"},
       {"/img/two.gif", "two"}});
  // In order of depth: depth 1 reaches the first four, depth 2 all six.
  const std::vector<fs::path> reached = {"index.html",  "img/top.gif",         "sub/one.html",
                                         "img/one.gif", "sub/deeper/two.html", "img/two.gif"};
  for (const std::uint8_t depth : {1, 2}) {
    for (const SaveLayout layout : {SaveLayout::Tree, SaveLayout::Date}) {
      SCOPED_TRACE(::testing::Message() << "depth " << int{depth} << " layout " << int(layout));
      std::set<std::string> expected;
      for (auto file = reached.begin(); file != reached.begin() + 2 + 2 * depth; ++file) {
        expected.insert(
            (layout == SaveLayout::Tree ? host() / *file : "20050314" / file->filename()).string());
      }
      fs::remove_all("download");
      EXPECT_EQ(std::ranges::count(crawl(depth, layout, {0, 2}), 'D'), std::ssize(expected));
      EXPECT_EQ(savedFiles(), expected);
      const std::string second = crawl(depth, layout, {0, 2});
      EXPECT_EQ(second.find_first_of("LD"), std::string::npos) << second;
    }
  }
}

TEST_F(CrawlEndToEndTest, StopDuringAFetchEndsTheCrawlWhenThatFetchIsDone) {
  server_.serveFiles({{"/index.html", R"(<img src="a.gif"><img src="b.gif">)"}, {"/b.gif", "b"}});
  // The control queue's producer side passes to the server thread once the run started.
  server_.setHandler([&](const std::string& path) -> std::optional<testing::ScriptedResponse> {
    if (path != "/a.gif") return std::nullopt;
    control_.push({UiCode::ControlStop, {}, {}, 0, 0});  // while the worker waits for this answer
    return testing::ScriptedResponse::ok("a");
  });
  EXPECT_EQ(crawl(4, SaveLayout::Tree, {2}),
            "A/index.html S/index.html A/a.gif A/b.gif E/a.gif L/a.gif D/a.gif F ");
  EXPECT_EQ(savedFiles(), (std::set<std::string>{host() + "/a.gif"}));
  for (const auto& request : server_.requests()) EXPECT_NE(request.path, "/b.gif");
}

}  // namespace
}  // namespace tarnwick
