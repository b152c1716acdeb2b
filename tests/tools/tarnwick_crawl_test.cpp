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

TEST(TarnwickCrawlTest, ExitStatusAndStandardOutput) {
  testing::TempDir dir;
  testing::ScopedCurrentDirectory inDir(dir.path());
  testing::LoopbackHttpServer server;
  // The same server under another host name; --same-host fetches only the embedded file.
  const std::string elsewhere = "http://localhost:" + std::to_string(server.port()) + "/";
  server.serveFiles(
      {{"/index.html", R"(<img src="a.gif"><img src="b.png">)"},
       {"/a.gif", "aaa"},
       {"/b.png", "bb"},
       {"/stall.html", R"(<img src="stall.gif"><img src="after.gif">)"},
       {"/hosts.html", "<a href=" + elsewhere + "away.html><img src=" + elsewhere + "a.gif>"}});
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
    int status;  // 1: "download" is a plain file; 130: Ctrl-C twice during a stalled transfer
    std::string stdoutText, stderrHas;
  } cases[] = {
      {{"--img", index}, 0, lines, "1 pages searched, 2 files saved, 5 bytes"},
      {{"--depth"}, 2, "", "--depth needs a value"},
      {{"--img", index}, 1, "", "downloadファイルが存在しています。\n"},
      {{"--img", site + "stall.html"}, 130, "", ""},
      {{"--same-host", "--img", site + "hosts.html"},
       0,
       elsewhere + "a.gif\t" + (dir.path() / "download" / elsewhere.substr(7)).string() + "a.gif\n",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::filesystem::remove_all("download");
    if (c.status == 1) std::ofstream("download") << "in the way";
    const pid_t crawl = startCrawl(c.args);
    for (int i = 0; c.status == 130 && i < 1500 && !requested("/stall.gif"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (int press = 0; c.status == 130 && press < 2; ++press) {
      kill(crawl, SIGINT);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let each press be seen
    }
    int status = 0;
    EXPECT_EQ(waitpid(crawl, &status, 0), crawl);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status);
    EXPECT_EQ(readFile("out.txt"), c.stdoutText);
    EXPECT_NE(readFile("err.txt").find(c.stderrHas), std::string::npos) << readFile("err.txt");
  }
  EXPECT_FALSE(requested("/after.gif"));  // the second press ended the crawl
  EXPECT_FALSE(requested("/away.html"));
}

}  // namespace
}  // namespace tarnwick
