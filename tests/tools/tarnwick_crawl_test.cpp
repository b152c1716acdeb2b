// The built tarnwick-crawl, run as a child process in a temporary folder against a site
// served on 127.0.0.1.

#include <fcntl.h>
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

namespace fs = std::filesystem;

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Starts the binary in the current folder with stdout and stderr going to files there.
pid_t startCrawl(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(TARNWICK_CRAWL_BINARY)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int exitStatusOf(pid_t pid) {
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TarnwickCrawlTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  testing::ScopedCurrentDirectory cwd_{dir_.path()};
  testing::LoopbackHttpServer server_;
};

TEST_F(TarnwickCrawlTest, ExitStatusAndStandardOutput) {
  server_.serveFiles({{"/index.html", R"(<a href="two.html"><img src="a.gif">)"},
                      {"/two.html", R"(<img src="b.png"><a href="x.zip">)"},
                      {"/a.gif", std::string(2000, 'a')},
                      {"/b.png", std::string(500, 'b')},
                      {"/x.zip", "zip"}});
  const std::string site = server_.url("/");
  const std::string saved = (dir_.path() / "download" / site.substr(7)).string();
  const std::string lines =
      site + "a.gif\t" + saved + "a.gif\n" + site + "b.png\t" + saved + "b.png\n";
  const std::string start = site + "index.html";
  const struct {
    std::vector<std::string> args;
    bool downloadIsAFile;
    int status;
    std::string stdoutText;
    std::string stderrHas;
  } cases[] = {
      {{"--zip", "--depth", "257", "--img", start}, false, 0, lines, "2 pages searched, 2 files"},
      {{"--depth"}, false, 2, "", "--depth needs a value"},
      {{"--img", start}, true, 1, "", "downloadファイルが存在しています。\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    fs::remove_all("download");
    if (c.downloadIsAFile) std::ofstream("download") << "in the way";
    EXPECT_EQ(exitStatusOf(startCrawl(c.args)), c.status);
    EXPECT_EQ(readFile("out.txt"), c.stdoutText);
    EXPECT_NE(readFile("err.txt").find(c.stderrHas), std::string::npos) << readFile("err.txt");
  }
}

TEST_F(TarnwickCrawlTest, SecondInterruptCutsAStalledTransferShort) {
  server_.serveFiles({{"/index.html", R"(<img src="a.gif"><img src="b.gif">)"}, {"/b.gif", "bbb"}});
  server_.setResponse("/a.gif", testing::ScriptedResponse::stalled(std::string(100000, 'a'), 1000));
  const pid_t crawl = startCrawl({"--img", server_.url("/index.html")});
  auto requested = [&](const char* path) {
    const auto requests = server_.requests();
    return std::any_of(requests.begin(), requests.end(), [&](auto& r) { return r.path == path; });
  };
  for (int i = 0; i < 1500 && !requested("/a.gif"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(requested("/a.gif"));
  kill(crawl, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the first one be seen
  kill(crawl, SIGINT);
  EXPECT_EQ(exitStatusOf(crawl), 130);
  EXPECT_EQ(readFile("out.txt"), "");
  EXPECT_FALSE(requested("/b.gif"));
}

}  // namespace
}  // namespace tarnwick
