// The built tarnwick-crawl, run as a child process in a temporary folder against a site
// served on 127.0.0.1.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/loopback_http_server.h"
#include "support/temp_dir.h"

extern char** environ;

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Starts the binary through the shell, which replaces itself with it after sending
// stdout and stderr to "out.txt" and "err.txt" here.
pid_t startCrawl(std::vector<std::string> args) {
  args.insert(args.begin(),
              {"sh", "-c", R"(exec "$0" "$@" >out.txt 2>err.txt)", TARNWICK_CRAWL_BINARY});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

// The exit status, or -1 when the program has not ended within half a minute (it is
// killed then).
int exitStatusOf(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 3000 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TarnwickCrawlTest, ExitStatusAndOutput) {
  testing::TempDir dir;
  testing::ScopedCurrentDirectory inDir(dir.path());
  testing::LoopbackHttpServer server;
  server.serveFiles({{"/index.html", R"(<img src="a.gif"><img src="b.png"><img src="no.gif">)"},
                     {"/a.gif", "aaa"},
                     {"/b.png", "bb"},
                     {"/stall.html", R"(<img src="stall.gif"><img src="after.gif">)"},
                     {"/blocked.html", R"(<img src="blocked/x.gif"><img src="a.gif">)"},
                     {"/blocked/x.gif", "x"}});
  server.setResponse("/stall.gif", testing::ScriptedResponse::stalled("stalled", 3));
  const auto requested = [&](const std::string& path) {
    const auto log = server.requests();
    return std::ranges::find(log, path, &testing::LoggedRequest::path) != log.end();
  };
  const std::string site = server.url("/"), index = site + "index.html";
  const std::string saved = (dir.path() / "download" / site.substr(7)).string();
  const std::string lines =
      site + "a.gif\t" + saved + "a.gif\n" + site + "b.png\t" + saved + "b.png\n";
  const struct {
    std::vector<std::string> args;
    // 1: "download" is a plain file; 3: a file could not be saved; 130: Ctrl-C twice during
    // a stalled transfer
    int status;
    std::string stdoutText, stderrHas;
  } cases[] = {
      {{"--img", index},
       0,
       lines,
       "no.gif: HTTP status 404\n巡回ダウンロード終了\n1 pages searched, 2 files saved, 5 bytes, 1 "
       "failed"},
      {{"--depth"}, 2, "", "--depth needs a value"},
      {{"--img", index}, 1, "", "downloadファイルが存在しています。\n"},
      {{"--img", site + "blocked.html"},
       3,
       site + "a.gif\t" + saved + "a.gif\n",
       "blocked/x.gif: cannot open the folder 'blocked': Not a directory\n"},
      {{"--img", site + "stall.html"}, 130, "", "stall.gif: transfer aborted\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::filesystem::remove_all("download");
    if (c.status == 1) std::ofstream("download") << "in the way";
    if (c.status == 3) {
      std::filesystem::create_directories(saved);
      std::ofstream(saved + "blocked") << "in the way";
    }
    const pid_t crawl = startCrawl(c.args);
    for (int i = 0; c.status == 130 && i < 1500 && !requested("/stall.gif"); ++i) {
      std::this_thread::sleep_for(20ms);
    }
    for (int press = 0; c.status == 130 && press < 2; ++press) {
      kill(crawl, SIGINT);
      std::this_thread::sleep_for(200ms);  // let each press be seen
    }
    EXPECT_EQ(exitStatusOf(crawl), c.status);
    EXPECT_EQ(readFile("out.txt"), c.stdoutText);
    EXPECT_NE(readFile("err.txt").find(c.stderrHas), std::string::npos) << readFile("err.txt");
  }
  EXPECT_FALSE(requested("/after.gif"));  // the second press ended the crawl
}

}  // namespace
}  // namespace tarnwick
