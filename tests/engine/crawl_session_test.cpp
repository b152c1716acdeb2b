// Whole crawls in a crawl session: the real fetcher and extractor over libcurl and the POSIX
// file system, against a site served on 127.0.0.1 with a delay per request, in a temporary
// folder, over one connection and over four.

#include "engine/crawl_session.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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
    {"/stop.html", R::ok(R"(<img src="a.gif"><img src="stop.gif"><img src="after.gif">)")},
    {"/stop.gif", R::ok("stop")},
    {"/after.gif", R::ok("after")},
};

struct Outcome {
  std::string statuses;  // "<letter><path> " each, one per transfer for downLoading
  std::map<std::string, std::string> files;
  int mostAtOnce = 0;  // requests the server was answering at the same time
};

class CrawlSessionTest : public ::testing::Test {
 protected:
  // Crawls from `start` and stops once stop.gif is examined; the server answers stop.gif
  // only then, and after.gif much later.
  Outcome crawl(const std::string& start, SaveLayout layout, std::uint32_t connections) {
    fs::remove_all("download");
    Outcome outcome;
    std::mutex mutex;
    std::condition_variable stopped;
    bool stopSent = false;
    int active = 0;
    server_.setHandler([&](const std::string& path) -> std::optional<R> {
      std::unique_lock lock(mutex);
      outcome.mostAtOnce = std::max(outcome.mostAtOnce, ++active);
      if (path == "/stop.gif") stopped.wait_for(lock, 10s, [&] { return stopSent; });
      lock.unlock();
      // Scrambles the order in which answers come back.
      std::this_thread::sleep_for(path == "/after.gif" ? 2s : path.size() % 4 * 15ms);
      lock.lock();
      --active;
      const auto found = kSite.find(path);
      return found == kSite.end() ? std::nullopt : std::optional(found->second);
    });
    const auto http = makeCurlHttpClient({.maxConnections = connections});
    const auto components =
        makeCrawlComponentFactory({http.get(), files_.get(), &clock_, &messageBox_, &exit_});
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
      }
      if (m.code == UiCode::StatusExamining && step == "E/stop.gif ") {
        session.stop();
        std::lock_guard lock(mutex);
        stopSent = true;
        stopped.notify_all();
      }
    });
    // Each file as its size and first bytes.
    for (const auto& entry : fs::recursive_directory_iterator("download")) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string content{std::istreambuf_iterator<char>(in), {}};
      outcome.files[fs::relative(entry.path(), "download")] =
          std::to_string(content.size()) + ":" + content.substr(0, 5);
    }
    return outcome;
  }

  testing::TempDir dir_;
  testing::ScopedCurrentDirectory cwd_{dir_.path()};
  testing::LoopbackHttpServer server_;
  std::unique_ptr<FileSystem> files_ = makePosixFileSystem();
  testing::FakeClock clock_;
  testing::ScriptedMessageBox messageBox_;
  testing::ThrowingProcessExit exit_;
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
       "A/stop.html S/stop.html A/a.gif A/stop.gif A/after.gif E/a.gif L/a.gif D/a.gif "
       "E/stop.gif L/stop.gif D/stop.gif F "},
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
    EXPECT_EQ(four.statuses, one.statuses);
    EXPECT_EQ(four.files, one.files);
    // The two a.gif share the day's folder: the later one, of another size, replaced the first.
    if (c.layout == SaveLayout::Date) {
      EXPECT_EQ(one.files["20050314/a.gif"], "5:AAAAA");
    }
  }
}

}  // namespace
}  // namespace tarnwick
