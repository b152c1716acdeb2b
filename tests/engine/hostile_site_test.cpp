// A whole crawl of a hostile site served on 127.0.0.1: a crawl trap, a page with 100,000
// links, a 200 MiB page, a cut body, a stalled server, redirect loops, a redirect to a
// local file, hostile link names and places that cannot be written. The real worker,
// fetcher, extractor, libcurl and POSIX file system run it in a temporary folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "engine/crawl_components.h"
#include "engine/crawl_worker.h"
#include "engine/ui_message_queue.h"
#include "engine/work_queue.h"
#include "platform/clock.h"
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
using testing::ScriptedResponse;

constexpr std::int32_t kImages = 2;
constexpr std::uint8_t kMaxDepth = 3;
constexpr int kManyLinks = 100000;
constexpr int kDistinctManyImages = 50;
constexpr std::uint64_t kHugePage = std::uint64_t{200} * 1024 * 1024;
// Well above what the crawl needs (one page text is cut at 64 MiB), below what a page
// read whole or a growing queue would take. ThreadSanitizer's shadow memory quadruples it.
#if defined(__SANITIZE_THREAD__)
constexpr long kPeakGrowthBoundKiB = 4 * 512 * 1024;
#else
constexpr long kPeakGrowthBoundKiB = 512 * 1024;
#endif
constexpr auto kCrawlDeadline = std::chrono::minutes(3);

// How every fetch of the run ended, counted between the real fetcher and the engine.
struct FetchLedger {
  int fetches = 0;
  int done = 0;
  int failed = 0;
  int withoutOneEnding = 0;  // fetches not closed by exactly one EntryDone or EntryFailed
};

// Runs the real fetcher against a private queue, checks that each fetch closes with one
// EntryDone or EntryFailed for its id as its last message, and forwards everything.
class CountingFetcher final : public Fetcher {
 public:
  CountingFetcher(std::unique_ptr<Fetcher> real, std::unique_ptr<WorkQueue> privateQueue,
                  WorkQueue& engineQueue, FetchLedger& ledger)
      : real_(std::move(real)),
        privateQueue_(std::move(privateQueue)),
        engineQueue_(engineQueue),
        ledger_(ledger) {}

  bool isBusy() const override { return real_->isBusy(); }

  void fetch(const FetchRequestPayload& request) override {
    ++ledger_.fetches;
    real_->fetch(request);
    int endings = 0;
    bool lastIsEnding = false;
    for (WorkMessage message; privateQueue_->take(message);) {
      lastIsEnding = isEndingOf(message, request.id);
      if (lastIsEnding) {
        ++endings;
        ++(message.code == EntryDone ? ledger_.done : ledger_.failed);
      }
      engineQueue_.post(message.code, std::move(message.payload));
    }
    if (endings != 1 || !lastIsEnding) ++ledger_.withoutOneEnding;
  }

 private:
  static bool isEndingOf(const WorkMessage& message, std::int32_t id) {
    if (message.code == EntryDone) return message.as<EntryDonePayload>().id == id;
    if (message.code == EntryFailed) return message.as<EntryFailedPayload>().id == id;
    return false;
  }

  std::unique_ptr<Fetcher> real_;
  std::unique_ptr<WorkQueue> privateQueue_;
  WorkQueue& engineQueue_;
  FetchLedger& ledger_;
};

class CountingComponents final : public CrawlComponentFactory {
 public:
  CountingComponents(const PlatformServices& services, FetchLedger& ledger)
      : real_(makeCrawlComponentFactory(services)), ledger_(ledger) {}

  std::unique_ptr<Fetcher> makeFetcher(WorkQueue& workQueue, UiMessageQueue& statusQueue,
                                       const CrawlJob& job) override {
    auto privateQueue = std::make_unique<WorkQueue>();
    auto real = real_->makeFetcher(*privateQueue, statusQueue, job);
    return std::make_unique<CountingFetcher>(std::move(real), std::move(privateQueue), workQueue,
                                             ledger_);
  }
  std::unique_ptr<Extractor> makeExtractor(WorkQueue& workQueue) override {
    return real_->makeExtractor(workQueue);
  }

 private:
  std::unique_ptr<CrawlComponentFactory> real_;
  FetchLedger& ledger_;
};

// A field of /proc/self/status in KiB, such as "VmHWM"; 0 when unreadable.
long procStatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
  }
  return 0;
}

// Starts peak-memory counting afresh where the kernel allows it.
void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The trap: every generated page links two deeper generated pages, without end.
std::optional<ScriptedResponse> trapPage(const std::string& path) {
  if (!path.starts_with("/trap/") || !path.ends_with(".html")) return std::nullopt;
  const std::size_t nameStart = path.rfind('/') + 1;
  const std::string name = path.substr(nameStart, path.size() - nameStart - 5);
  return ScriptedResponse::ok("<a href=\"" + name + "a.html\">a</a><a href=\"" + name +
                              "b/x.html\">b</a><img src=\"" + name + ".gif\">");
}

std::string manyLinksPage() {
  std::string page;
  page.reserve(kManyLinks * 30);
  for (int i = 0; i < kManyLinks; ++i) {
    page += "<img src=\"many/" + std::to_string(i % kDistinctManyImages) + ".gif\">";
  }
  return page;
}

class HostileSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    using namespace std::string_literals;
    const std::string index =
        "<a href=\"trap/t.html\">trap</a><a href=\"many.html\">many</a>"
        "<a href=\"huge.html\">huge</a><a href=\"loop.html\">loop</a>"
        "<img src=\"cut.gif\"><img src=\"stall.gif\"><img src=\"passwd.gif\">"
        "<img src=\"../../../../../escape.gif\"><img src=\"a/../../b/../../up.gif\">"
        "<img src=\"%00.gif\"><img src=\"nul\0byte.gif\"><img src=\"ctl\x01\x1f\x7f.gif\">"
        "<img src=\"locked/x.gif\"><img src=\"blocked/x.gif\"><img src=\"ok.gif\">"s +
        "<img src=\"" + std::string(400, 'n') + ".gif\">";
    server_.setResponse("/index.html", ScriptedResponse::ok(index));
    server_.setResponse("/many.html", ScriptedResponse::ok(manyLinksPage()));
    server_.setResponse("/huge.html", ScriptedResponse::repeated("<p>filler</p>\n", kHugePage));
    server_.setResponse("/loop.html", ScriptedResponse::redirect("/loop.html"));
    server_.setResponse("/cut.gif", ScriptedResponse::cutOff(std::string(100000, 'c'), 50000));
    server_.setResponse("/stall.gif", ScriptedResponse::stalled(std::string(100000, 's'), 1000));
    server_.setResponse("/passwd.gif", ScriptedResponse::redirect("file:///etc/passwd"));
    server_.setHandler([](const std::string& path) -> std::optional<ScriptedResponse> {
      if (auto trap = trapPage(path)) return trap;
      if (path.ends_with(".gif")) return ScriptedResponse::ok("GIF89a " + path);
      return std::nullopt;
    });
  }

  CrawlJob job() {
    CrawlJob job;
    job.startUrl = ByteString(server_.url("/index.html"));
    job.maxDepth = kMaxDepth;
    job.rowCategory[0] = kImages;
    job.rowFlags[0] = SaveIfAtLeast;
    job.rowCount = 1;
    job.controlQueue = &controlQueue_;
    job.statusQueue = &statusQueue_;
    return job;
  }

  // Places that cannot be written: a read-only folder and a plain file where a folder
  // belongs (the second holds even for root, who may write into read-only folders).
  void prepareUnwritablePlaces() {
    const fs::path host = fs::path("download") / ("127.0.0.1:" + std::to_string(server_.port()));
    fs::create_directories(host / "locked");
    fs::permissions(host / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    std::ofstream(host / "blocked") << "a file, not a folder";
    lockedFolder_ = host / "locked";
  }

  // Runs the crawl to its own end and returns every status message; ControlStop is sent
  // only if the deadline passes, which fails the test.
  std::vector<UiMessage> crawlToTheEnd(FetchLedger& ledger) {
    CountingComponents components(services_, ledger);
    std::thread worker([&] { CrawlWorker(job_, components); });
    controlQueue_.push(UiMessage{ControlStart, {}, {}, 0, 0});
    std::vector<UiMessage> messages;
    const auto deadline = std::chrono::steady_clock::now() + kCrawlDeadline;
    bool stopSent = false;
    while (messages.empty() || messages.back().code != StatusFinished) {
      UiMessage message;
      if (statusQueue_.pop(message)) {
        messages.push_back(message);
      } else if (!stopSent && std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the crawl did not end by itself";
        controlQueue_.push(UiMessage{ControlStop, {}, {}, 0, 0});
        stopSent = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    worker.join();
    return messages;
  }

  testing::TempDir dir_;
  testing::ScopedCurrentDirectory cwd_{dir_.path()};
  LoopbackHttpServer server_;
  std::unique_ptr<HttpClient> http_ = makeCurlHttpClient(
      {std::chrono::milliseconds(2000), std::chrono::milliseconds(500), 5, nullptr});
  std::unique_ptr<FileSystem> files_ = makePosixFileSystem();
  std::unique_ptr<Clock> clock_ = makeSystemClock();
  testing::ScriptedMessageBox messageBox_;
  testing::ThrowingProcessExit exit_;
  PlatformServices services_{http_.get(), files_.get(), clock_.get(), &messageBox_, &exit_};
  UiMessageQueue controlQueue_;
  UiMessageQueue statusQueue_;
  CrawlJob job_ = job();
  fs::path lockedFolder_;
};

TEST_F(HostileSiteTest, CrawlEndsByItselfWithBoundedMemoryAndEveryFileInsideTheDownloadFolder) {
  prepareUnwritablePlaces();
  FetchLedger ledger;
  resetPeakMemory();
  const long rssBefore = procStatusKiB("VmRSS");
  const auto started = std::chrono::steady_clock::now();
  const std::vector<UiMessage> messages = crawlToTheEnd(ledger);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const long peakGrowth = procStatusKiB("VmHWM") - rssBefore;
  fs::permissions(lockedFolder_, fs::perms::owner_all);

  // Every file written lies below the download folder, and none holds the local file
  // that a redirect pointed to.
  const fs::path download = fs::weakly_canonical(dir_.path() / "download");
  const std::string passwd = readFile("/etc/passwd");
  std::map<std::string, std::string> saved;
  for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
    if (!entry.is_regular_file()) continue;
    const fs::path path = fs::weakly_canonical(entry.path());
    const auto [end, unused] = std::mismatch(download.begin(), download.end(), path.begin());
    EXPECT_EQ(end, download.end()) << "outside the download folder: " << path;
    const std::string content = readFile(path);
    EXPECT_TRUE(passwd.empty() || content.find(passwd) == std::string::npos) << path;
    saved[fs::relative(path, download).string()] = content;
  }

  // A reported download is on disk whole; a broken or stalled one is never reported.
  for (const UiMessage& m : messages) {
    if (m.code != StatusDownloaded) continue;
    const std::string file = fs::relative(m.detail.str(), download).string();
    EXPECT_EQ(saved[file].size(), static_cast<std::size_t>(m.value1)) << file;
    EXPECT_FALSE(m.text.view().ends_with("/cut.gif") || m.text.view().ends_with("/stall.gif"));
  }
  EXPECT_GT(ledger.fetches, kDistinctManyImages);
  EXPECT_EQ(ledger.withoutOneEnding, 0);
  EXPECT_EQ(ledger.done + ledger.failed, ledger.fetches);
  EXPECT_TRUE(messageBox_.texts().empty());

  // What was found and saved: every distinct image of the crowded page once, the climbing
  // links at the host's root, the trap's images down to the depth limit and no deeper.
  const std::string host = "127.0.0.1:" + std::to_string(server_.port()) + "/";
  struct Expectation {
    std::string file;
    bool present;
  };
  const std::vector<Expectation> expectations = {
      {host + "many/0.gif", true},
      {host + "many/49.gif", true},
      {host + "escape.gif", true},
      {host + "up.gif", true},
      {host + "ok.gif", true},
      {host + "%00.gif", true},
      {host + "trap/t.gif", true},
      {host + "trap/tab/x.gif", true},
      {host + "trap/tb/xa.gif", true},
      {host + "trap/tb/xb/x.gif", true},
      {host + "trap/taaa.gif", false},  // on a page one level too deep
      {host + "trap/tab/xa.gif", false},
      {host + "blocked", true},  // the plain file put in the way, untouched
      {host + "passwd.gif", false},
  };
  for (const Expectation& e : expectations) {
    EXPECT_EQ(saved.contains(e.file), e.present) << e.file;
  }
  if (geteuid() != 0) {
    EXPECT_FALSE(saved.contains(host + "locked/x.gif"));
  }
  EXPECT_LT(peakGrowth, kPeakGrowthBoundKiB);

  std::cout << "hostile site: " << seconds << " s, peak memory growth " << peakGrowth / 1024
            << " MiB, " << saved.size() - 1 << " files saved, " << ledger.fetches << " fetches ("
            << ledger.done << " done, " << ledger.failed << " failed)\n";
}

}  // namespace
}  // namespace tarnwick
