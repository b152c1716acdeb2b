// The built tarnwick-crawl, run as a child process in a temporary folder against a site
// served on 127.0.0.1.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
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

pid_t spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

// Starts the binary through the shell, which replaces itself with it after sending
// stdout and stderr to "out.txt" and "err.txt" here.
pid_t startCrawl(std::vector<std::string> args) {
  args.insert(args.begin(),
              {"sh", "-c", R"(exec "$0" "$@" >out.txt 2>err.txt)", TARNWICK_CRAWL_BINARY});
  return spawn(std::move(args));
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
  // The same server under another host name; --same-host fetches only the embedded file.
  const std::string elsewhere = "http://localhost:" + std::to_string(server.port()) + "/";
  server.serveFiles(
      {{"/index.html", R"(<img src="a.gif"><img src="b.png"><img src="no.gif">)"},
       {"/a.gif", "aaa"},
       {"/b.png", "bb"},
       {"/stall.html", R"(<img src="stall.gif"><img src="after.gif">)"},
       {"/blocked.html", R"(<img src="blocked/x.gif"><img src="a.gif">)"},
       {"/blocked/x.gif", "x"},
       {"/hosts.html", "<a href=" + elsewhere + "away.html><img src=" + elsewhere + "a.gif>"}});
  server.setResponse("/stall.gif",
                     testing::ScriptedResponse{.body = "stalled", .cutAt = 3, .stall = true});
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
      {{"--same-host", "--img", site + "hosts.html"},
       0,
       elsewhere + "a.gif\t" + (dir.path() / "download" / elsewhere.substr(7)).string() + "a.gif\n",
       "1 pages searched, 1 files saved, 3 bytes"},
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
  EXPECT_FALSE(requested("/away.html"));
}

// Over https, from openssl's own server on 127.0.0.1 with a certificate authority made here.
TEST(TarnwickCrawlTest, HttpsNeedsTheOptionAndATrustedCertificate) {
  testing::TempDir dir;
  testing::ScopedCurrentDirectory inDir(dir.path());
  ASSERT_EQ(std::system("exec >log.txt 2>&1; printf 'subjectAltName=IP:127.0.0.1' >san &&"
                        " openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=ca -keyout ca.key"
                        " -out ca.pem && openssl req -newkey rsa:2048 -nodes -subj /CN=site"
                        " -keyout site.key -out site.csr && openssl x509 -req -in site.csr"
                        " -CA ca.pem -CAkey ca.key -CAcreateserial -extfile san -out site.pem"),
            0)
      << readFile("log.txt");
  std::ofstream("index.html") << R"(<img src="a.gif"><img src="/b.gif">)";
  std::ofstream("a.gif") << "aaa";
  std::ofstream("b.gif") << "bb";
  const pid_t server = spawn({"sh", "-c",
                              "exec openssl s_server -WWW -accept 127.0.0.1:0 -cert site.pem "
                              "-key site.key >port.txt 2>&1"});
  std::string port;
  for (int i = 0; i < 500 && port.empty(); ++i) {
    std::this_thread::sleep_for(10ms);
    const std::string said = readFile("port.txt");
    if (const auto at = said.find("ACCEPT 127.0.0.1:"); at != std::string::npos) {
      port = said.substr(at + 17, said.find('\n', at) - at - 17);
    }
  }
  const std::string site = "https://127.0.0.1:" + port + "/";
  const std::string saved = (dir.path() / "download" / ("127.0.0.1:" + port)).string();
  const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
      {{"--https", "--ca-certificate", "ca.pem"},
       site + "a.gif\t" + saved + "/a.gif\n" + site + "b.gif\t" + saved + "/b.gif\n",
       "2 files saved"},
      {{"--https"}, "", "index.html: SSL certificate problem"},
      {{"--ca-certificate", "ca.pem"}, "", "0 pages searched"},  // https is not crawled
  };
  for (auto [args, out, err] : cases) {
    args.insert(args.begin(), "--img");
    args.push_back(site + "index.html");
    EXPECT_EQ(exitStatusOf(startCrawl(args)), 0);
    EXPECT_EQ(readFile("out.txt"), out);
    EXPECT_NE(readFile("err.txt").find(err), std::string::npos) << readFile("err.txt");
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
}

}  // namespace
}  // namespace tarnwick
