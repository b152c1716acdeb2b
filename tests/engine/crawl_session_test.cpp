// Whole crawls in a crawl session: the real fetcher and extractor over libcurl and the POSIX
// file system, in a temporary folder, against sites served on 127.0.0.1: one with a delay
// per request, crawled over one connection and over four, and a hostile one.

#include "engine/crawl_session.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "platform/file_system.h"
#include "platform/services.h"
#include "support/crawl_run.h"
#include "support/fake_platform.h"
#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using R = testing::ScriptedResponse;

const std::map<std::string, R> kSite = {
    {"/index.html", R::ok(R"(<a href="sub/one.html">1</a><a href="sub/none.html">2</a>)"
                          R"(<img src="a.gif"><img src="missing.gif"><img src="moved.gif">)"
                          R"(<img src="img/a.gif"><img src="b.gif">)")},
    {"/sub/one.html", R::ok(R"(<img src="../a.gif"><img src="c.gif">)")},
    {"/a.gif", R::ok("aaa")},
    {"/img/a.gif", R::ok("AAAAA")},
    {"/b.gif", R::ok(std::string(70000, 'b'))},
    {"/sub/c.gif", R::ok("c")},
    {"/moved.gif", R::redirect("/real/moved.gif")},
    {"/real/moved.gif", R::ok("moved")},
    {"/stop.html",
     R::ok(R"(<img src="a.gif"><img src="stop.gif"><img src="slow.gif"><img src="fast.gif">)")},
    {"/stop.gif", R::ok("stop")},
    {"/slow.gif", R::ok("slow")},
    {"/fast.gif", R::ok("fast")},
};

struct Outcome {
  std::string statuses;  // "<letter><path> " each, one per transfer for downLoading
  std::string told;      // the same without url Added, which tells when the table learnt a URL
  std::set<std::string> added;
  std::map<std::string, std::string> files;
  int mostAtOnce = 0;  // requests the server was answering at the same time
};

class CrawlSessionTest : public ::testing::Test {
 protected:
  // Crawls from `start` and stops once stop.gif is examined; the server answers stop.gif
  // only then, slow.gif later still, and fast.gif at once: fetched ahead, it is complete at
  // the stop but stands behind slow.gif, which is not.
  Outcome crawl(const std::string& start, SaveLayout layout, std::uint32_t connections) {
    fs::remove_all("download");
    Outcome outcome;
    std::tie(stopSent_, active_, mostAtOnce_) = std::tuple(false, 0, 0);
    server_.setHandler([this](const std::string& path) -> std::optional<R> {
      std::unique_lock lock(mutex_);
      mostAtOnce_ = std::max(mostAtOnce_, ++active_);
      if (path == "/stop.gif") stopped_.wait_for(lock, 10s, [&] { return stopSent_; });
      lock.unlock();
      // Scrambles the order in which answers come back.
      std::this_thread::sleep_for(
          path == "/slow.gif" ? 500ms : std::chrono::milliseconds(path.size() % 4 * 15));
      lock.lock();
      --active_;
      const auto found = kSite.find(path);
      return found == kSite.end() ? std::nullopt : std::optional(found->second);
    });
    const auto http = makeCurlHttpClient({.maxConnections = connections});
    const auto components =
        makeCrawlComponentFactory({http.get(), files_.get(), &clock_, &messageBox_, nullptr});
    CrawlJob job = testing::crawlJob(server_.url(start), 2, {2}, layout);
    job.connections = connections;
    CrawlSession session(std::move(job), *components);
    session.start();
    const std::size_t hostLength = server_.url("").size();
    session.wait([&](const UiMessage& m) {
      const std::string step =
          testing::statusLetter(m.code) + std::string(m.text.str()).erase(0, hostLength) + " ";
      if (m.code != UiCode::StatusDownloading || !outcome.statuses.ends_with(step)) {
        outcome.statuses += step;
        if (m.code == UiCode::StatusUrlAdded) {
          outcome.added.insert(step);
        } else {
          outcome.told += step;
        }
      }
      if (m.code == UiCode::StatusExamining && step == "E/stop.gif ") {
        session.stop();
        std::lock_guard lock(mutex_);
        stopSent_ = true;
        stopped_.notify_all();
      }
    });
    // Each file as its size and first bytes.
    for (const auto& entry : fs::recursive_directory_iterator("download")) {
      if (!entry.is_regular_file()) continue;
      const std::string content = testing::contentOf(entry.path());
      outcome.files[fs::relative(entry.path(), "download")] =
          std::to_string(content.size()) + ":" + content.substr(0, 5);
    }
    std::lock_guard lock(mutex_);
    outcome.mostAtOnce = mostAtOnce_;
    return outcome;
  }

  testing::TempDir dir_;
  testing::ScopedCurrentDirectory cwd_{dir_.path()};
  // What the server's handler keeps; it outlives every crawl, so the server ends first.
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopSent_ = false;
  int active_ = 0, mostAtOnce_ = 0;  // requests being answered, and the most at once
  testing::LoopbackHttpServer server_;
  std::unique_ptr<FileSystem> files_ = makePosixFileSystem();
  testing::FakeClock clock_;
  testing::ScriptedMessageBox messageBox_;
};

TEST_F(CrawlSessionTest, SeveralConnectionsReportAndSaveExactlyAsOne) {
  const struct {
    const char* start;
    SaveLayout layout;
    const char* statuses;
  } cases[] = {
      {"/index.html", SaveLayout::Tree,
       "A/index.html S/index.html A/sub/one.html A/sub/none.html A/a.gif A/missing.gif "
       "A/moved.gif A/img/a.gif A/b.gif S/sub/one.html S/sub/none.html X/sub/none.html A/sub/c.gif "
       "E/a.gif L/a.gif D/a.gif E/missing.gif X/missing.gif E/moved.gif L/moved.gif D/moved.gif "
       "E/img/a.gif L/img/a.gif D/img/a.gif E/b.gif L/b.gif D/b.gif E/sub/c.gif L/sub/c.gif "
       "D/sub/c.gif F "},
      {"/index.html", SaveLayout::Date, nullptr},
      {"/stop.html", SaveLayout::Tree,
       "A/stop.html S/stop.html A/a.gif A/stop.gif A/slow.gif A/fast.gif E/a.gif L/a.gif "
       "D/a.gif E/stop.gif L/stop.gif D/stop.gif F "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.start << " layout " << static_cast<int>(c.layout));
    Outcome one = crawl(c.start, c.layout, 1);
    if (c.statuses) {
      EXPECT_EQ(one.statuses, c.statuses);
    }
    EXPECT_EQ(one.mostAtOnce, 1);
    Outcome four = crawl(c.start, c.layout, 4);
    EXPECT_GT(four.mostAtOnce, 1);
    EXPECT_EQ(four.told, one.told);
    EXPECT_EQ(four.added, one.added);
    EXPECT_EQ(four.files, one.files);
    // The two a.gif share the day's folder: the later one, of another size, replaced the first.
    if (c.layout == SaveLayout::Date) {
      EXPECT_EQ(one.files["20050314/a.gif"], "5:AAAAA");
    }
  }
}

// A crawl trap (every page links two deeper ones and an image, without end), a page with
// 100,000 links, a redirect loop and links that climb above the host.
void serveHostileSite(testing::LoopbackHttpServer& server) {
  std::string many;
  for (int i = 0; i < 100000; ++i) many += "<img src=many/" + std::to_string(i % 50) + ".gif>";
  server.serveFiles(
      {{"/index.html",
        "<a href=trap/t.html><a href=many.html><a href=loop.html><img src=../../../e.gif>"},
       {"/many.html", many}});
  server.setResponse("/loop.html", R::redirect("/loop.html"));
  server.setHandler([](const std::string& path) -> std::optional<R> {
    if (path.ends_with(".gif")) return R::ok("GIF89a " + path);
    const std::string name = path.substr(path.rfind('/') + 1, path.size() - path.rfind('/') - 6);
    if (!path.starts_with("/trap/") || !path.ends_with(".html")) return std::nullopt;
    return R::ok("<a href=" + name + "a.html><a href=" + name + "b/x.html><img src=" + name +
                 ".gif>");
  });
}

// The crawl ends by itself, having fetched every URL it entered, and every file lies below
// the download folder.
TEST_F(CrawlSessionTest, HostileSiteEndsWithEveryFileInside) {
  serveHostileSite(server_);
  const auto http = makeCurlHttpClient({.connectTimeout = 2s, .dripWindow = 500ms});
  const auto components =
      makeCrawlComponentFactory({http.get(), files_.get(), &clock_, &messageBox_, nullptr});
  const auto statuses =
      testing::runCrawl(testing::crawlJob(server_.url("/index.html"), 3, {2}), *components);
  EXPECT_EQ(statuses.back().value1, 0) << "the run failed: " << statuses.back().detail.str();
  EXPECT_TRUE(messageBox_.texts.empty());
  std::set<std::string> entered, fetched;
  for (const UiMessage& m : statuses) {
    (m.code == UiCode::StatusUrlAdded ? entered : fetched).insert(m.text.str());
  }
  EXPECT_GT(entered.size(), 50u);
  EXPECT_TRUE(std::ranges::includes(fetched, entered));
  EXPECT_TRUE(fetched.contains(server_.url("/e.gif")));
  const std::string download = fs::weakly_canonical("download").string() + "/";
  for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
    const std::string path = fs::weakly_canonical(entry.path()).string();
    EXPECT_TRUE(!entry.is_regular_file() || path.starts_with(download)) << path;
  }
}

}  // namespace
}  // namespace tarnwick
