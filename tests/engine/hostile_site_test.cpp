// A whole crawl of a hostile site served on 127.0.0.1: a crawl trap, a page with 100,000
// links, a 200 MiB page, a cut body, a stalled server, a redirect loop, a redirect to a
// local file, hostile link names and places that cannot be written. The real worker,
// fetcher, extractor, libcurl and POSIX file system run it in a temporary folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"
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
using namespace std::chrono_literals;
using testing::ScriptedResponse;

// Well above what the crawl needs (one page text is cut at 64 MiB), below what a page
// read whole or a growing queue would take. ThreadSanitizer's shadow memory quadruples it.
#if defined(__SANITIZE_THREAD__)
constexpr long kPeakGrowthBoundKiB = 4 * 512 * 1024;
#else
constexpr long kPeakGrowthBoundKiB = 512 * 1024;
#endif

// The real components, each fetch run against a private queue to check that it ends with
// exactly one EntryDone or EntryFailed for its id, as its last message.
struct CheckedComponents final : CrawlComponentFactory {
  explicit CheckedComponents(const PlatformServices& services)
      : real(makeCrawlComponentFactory(services)) {}
  struct CheckedFetcher final : Fetcher {
    CheckedFetcher(CheckedComponents& c, WorkQueue& engine, UiMessageQueue& status,
                   const CrawlJob& job)
        : c(c), engine(engine), real(c.real->makeFetcher(own, status, job)) {}
    bool isBusy() const override { return real->isBusy(); }
    void fetch(const FetchRequestPayload& request) override {
      ++c.fetches;
      real->fetch(request);
      int endings = 0;
      bool lastEnds = false;
      for (WorkMessage m; own.take(m); engine.post(m.code, std::move(m.payload))) {
        lastEnds = (m.code == WorkCode::EntryDone && m.as<EntryDonePayload>().id == request.id) ||
                   (m.code == WorkCode::EntryFailed && m.as<EntryFailedPayload>().id == request.id);
        endings += lastEnds;
      }
      c.badEndings += endings != 1 || !lastEnds;
    }
    CheckedComponents& c;
    WorkQueue& engine;
    WorkQueue own;
    std::unique_ptr<Fetcher> real;
  };

  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& work, UiMessageQueue& status,
                                       const CrawlJob& job) override {
    return std::make_unique<CheckedFetcher>(*this, work, status, job);
  }
  std::unique_ptr<Extractor> makeExtractor(WorkQueue& work, const CrawlJob& job) override {
    return real->makeExtractor(work, job);
  }

  std::unique_ptr<CrawlComponentFactory> real;
  int fetches = 0, badEndings = 0;
};

// A field of /proc/self/status in KiB, such as "VmHWM"; 0 when unreadable.
long procStatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
  }
  return 0;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void serveHostileSite(testing::LoopbackHttpServer& server) {
  using namespace std::string_literals;
  server.setResponse(
      "/index.html",
      ScriptedResponse::ok(
          "<a href=\"trap/t.html\">trap</a><a href=\"many.html\">many</a>"
          "<a href=\"huge.html\">huge</a><a href=\"loop.html\">loop</a>"
          "<img src=\"cut.gif\"><img src=\"stall.gif\"><img src=\"passwd.gif\">"
          "<img src=\"../../../../../escape.gif\"><img src=\"a/../../b/../../up.gif\">"
          "<img src=\"%00.gif\"><img src=\"nul\0byte.gif\"><img src=\"ctl\x01\x1f\x7f.gif\">"
          "<img src=\"locked/x.gif\"><img src=\"blocked/x.gif\"><img src=\"ok.gif\">"s +
          "<img src=\"" + std::string(400, 'n') + ".gif\">"));
  std::string many;  // 100,000 links to 50 images
  for (int i = 0; i < 100000; ++i) many += "<img src=\"many/" + std::to_string(i % 50) + ".gif\">";
  server.setResponse("/many.html", ScriptedResponse::ok(many));
  server.setResponse("/huge.html",
                     ScriptedResponse::repeated("<p>filler</p>\n", std::uint64_t{200} << 20));
  server.setResponse("/loop.html", ScriptedResponse::redirect("/loop.html"));
  server.setResponse("/cut.gif", ScriptedResponse::cutOff(std::string(100000, 'c'), 50000));
  server.setResponse("/stall.gif", ScriptedResponse::stalled(std::string(100000, 's'), 1000));
  server.setResponse("/passwd.gif", ScriptedResponse::redirect("file:///etc/passwd"));
  // The trap: every page under /trap/ links two deeper ones and an image, without end.
  server.setHandler([](const std::string& path) -> std::optional<ScriptedResponse> {
    if (path.ends_with(".gif")) return ScriptedResponse::ok("GIF89a " + path);
    if (!path.starts_with("/trap/") || !path.ends_with(".html")) return std::nullopt;
    const std::string name = path.substr(path.rfind('/') + 1, path.size() - path.rfind('/') - 6);
    return ScriptedResponse::ok("<a href=\"" + name + "a.html\">a</a><a href=\"" + name +
                                "b/x.html\">b</a><img src=\"" + name + ".gif\">");
  });
}

TEST(HostileSiteTest, CrawlEndsByItselfWithBoundedMemoryAndEveryFileInsideTheDownloadFolder) {
  testing::TempDir dir;
  testing::ScopedCurrentDirectory cwd(dir.path());
  testing::LoopbackHttpServer server;
  serveHostileSite(server);
  const auto http = makeCurlHttpClient({.connectTimeout = 2s, .stallTimeout = 500ms});
  const auto files = makePosixFileSystem();
  testing::FakeClock clock;
  testing::ScriptedMessageBox messageBox;
  testing::ThrowingProcessExit exit;
  CheckedComponents components({http.get(), files.get(), &clock, &messageBox, &exit});
  UiMessageQueue control, status;
  const CrawlJob job = testing::crawlJob(server.url("/index.html"), 3, {2}, control, status);

  // Places that cannot be written: a read-only folder, and a plain file where a folder
  // belongs (which holds even for root, who may write into read-only folders).
  const std::string host = "127.0.0.1:" + std::to_string(server.port()) + "/";
  fs::create_directories("download/" + host + "locked");
  fs::permissions("download/" + host + "locked", fs::perms::owner_read | fs::perms::owner_exec);
  std::ofstream("download/" + host + "blocked") << "a file, not a folder";

  std::ofstream("/proc/self/clear_refs") << "5";  // restarts peak-memory counting
  const long rssBefore = procStatusKiB("VmRSS");
  bool stopSent = false;
  testing::runCrawl(job, components, &stopSent);
  EXPECT_FALSE(stopSent) << "the crawl did not end by itself";
  EXPECT_LT(procStatusKiB("VmHWM") - rssBefore, kPeakGrowthBoundKiB);
  fs::permissions("download/" + host + "locked", fs::perms::owner_all);

  // Every file lies below the download folder, and none holds the local file a redirect
  // pointed to.
  const std::string download = fs::weakly_canonical("download").string() + "/";
  const std::string passwd = readFile("/etc/passwd");
  std::set<std::string> saved;  // paths below the download folder
  for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
    if (!entry.is_regular_file()) continue;
    const std::string path = fs::weakly_canonical(entry.path()).string();
    EXPECT_TRUE(path.starts_with(download)) << path;
    EXPECT_TRUE(passwd.empty() || readFile(path).find(passwd) == std::string::npos) << path;
    saved.insert(path.substr(download.size()));
  }
  EXPECT_GT(components.fetches, 50);
  EXPECT_EQ(components.badEndings, 0);
  EXPECT_TRUE(messageBox.texts().empty());

  // Saved: every distinct image of the crowded page, the climbing links at the host's root
  // and the trap's images down to the depth limit; the file in the way stays untouched.
  for (const char* file :
       {"many/0.gif", "many/49.gif", "escape.gif", "up.gif", "ok.gif", "%00.gif", "trap/t.gif",
        "trap/tab/x.gif", "trap/tb/xa.gif", "trap/tb/xb/x.gif", "blocked"}) {
    EXPECT_TRUE(saved.contains(host + file)) << file;
  }
  // Not saved: the trap's images on pages one level too deep, the redirected local file
  // and, unless running as root, anything in the read-only folder.
  for (const char* file : {"trap/taaa.gif", "trap/tab/xa.gif", "passwd.gif",
                           geteuid() != 0 ? "locked/x.gif" : "passwd.gif"}) {
    EXPECT_FALSE(saved.contains(host + file)) << file;
  }
}

}  // namespace
}  // namespace tarnwick
