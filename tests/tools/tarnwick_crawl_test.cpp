// The built tarnwick-crawl, run as a child process in a temporary folder against a site
// served on 127.0.0.1 by the loopback server, and over https by openssl's own server with
// the kept test certificates.

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
#include "support/tls_server.h"
#include "tools/crawl_command_line.h"

extern char** environ;

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

// Runs a shell command line; "$@" are `args`.
pid_t spawn(const std::string& command, std::vector<std::string> args = {}) {
  args.insert(args.begin(), {"sh", "-c", command, "sh"});
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
  std::ofstream("index.html") << R"(<img src="a.gif"><img src="/b.gif">)";
  std::ofstream("a.gif") << "aaa";
  std::ofstream("b.gif") << "bb";
  const testing::TlsServer httpsServer(dir.path(), 'a');
  const std::string secure = httpsServer.url("/");
  testing::LoopbackHttpServer server;
  server.serveFiles(
      {{"/index.html", R"(<img src="a.gif"><img src="b.gif"><img src="no.gif">)"},
       {"/a.gif", "aaa"},
       {"/b.gif", "bb"},
       {"/drip.html", R"(<img src="a.gif"><img src="drip.gif"><img src="after.gif">)"},
       {"/blocked.html", R"(<img src="blocked/x.gif"><img src="a.gif">)"},
       {"/fatal.html", R"(<img src="no.gif"><img src="a.gif">)"},
       {"/blocked/x.gif", "x"}});
  // Arrives 8 KiB at a time over two seconds: in flight when the signals come.
  server.setResponse("/drip.gif", {.body = std::string(64 << 10, 'd'),
                                   .dripInterval = std::chrono::milliseconds(250),
                                   .dripBytes = 8 << 10});
  const auto requested = [&](const std::string& path) {
    const auto log = server.requests();
    return std::ranges::find(log, path, &testing::LoggedRequest::path) != log.end();
  };
  // The lines that list the files saved from a site.
  const auto listed = [&](const std::string& site, std::initializer_list<const char*> names) {
    const auto folder = (dir.path() / "download" / site.substr(site.find("//") + 2)).string();
    std::string lines;
    for (const char* name : names) lines += site + name + "\t" + folder + name + "\n";
    return lines;
  };
  // How many temporary files whose name begins with `name` lie below download.
  const auto temporaryFiles = [](const std::string& name) {
    std::error_code noFolder;
    return std::ranges::count_if(
        std::filesystem::recursive_directory_iterator("download", noFolder), [&](const auto& f) {
          const std::string file = f.path().filename().string();
          return file.starts_with(name) && file.find(".twk-part") != std::string::npos;
        });
  };
  const std::string site = server.url("/"), index = site + "index.html";
  const std::string usageHint = "\nTry 'tarnwick-crawl --help' for more information.\n";
  // clang-format off
  // 3: a file could not be saved; 1: a plain file named download; 130, 143: signals during a
  // transfer; 141: the reader of standard output has gone.
  const struct {
    std::vector<std::string> args;
    std::vector<int> signals;  // sent 200 ms apart once drip.gif is arriving
    int status;
    std::string stdoutText, stderrHas;
    const char* command = R"(exec "$@" >out.txt 2>err.txt)";
  } cases[] = {
      {{index}, {}, 0, listed(site, {"a.gif", "b.gif"}), "no.gif: HTTP status 404\n巡回ダウンロード終了\n1 pages searched, 2 files saved, 5 bytes, 1 failed"},
      {{"--depth"}, {}, 2, "", "tarnwick-crawl: option '--depth' needs a value" + usageHint},
      {{"--ca-certificate", "index.html", site + "refused.html"}, {}, 2, "", "tarnwick-crawl: --ca-certificate 'index.html': holds no PEM certificate\n"},
      {{"-h"}, {}, 0, cli::crawlUsage(), ""},
      {{site + "blocked.html"}, {}, 3, listed(site, {"a.gif"}), "blocked/x.gif: cannot open the folder 'blocked': Not a directory\n"},
      {{site + "fatal.html"}, {}, 1, "", "no.gif: HTTP status 404\ndownloadファイルが存在しています。\n"},
      {{site + "drip.html"}, {SIGINT, SIGINT}, 130, listed(site, {"a.gif"}), "drip.gif: transfer aborted\n"},
      {{site + "drip.html"}, {SIGTERM}, 143, listed(site, {"a.gif"}), "drip.gif: transfer aborted\n"},
      {{site + "drip.html"}, {}, 141, "", "", R"(mkfifo out && { true <out & } && exec "$@" >out 2>err.txt)"},
      {{"--https", "--ca-certificate", testing::TlsServer::authority('a'), secure + "index.html"}, {}, 0, listed(secure, {"a.gif", "b.gif"}), "2 files saved"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::filesystem::remove_all("download");
    std::filesystem::remove("out.txt");
    if (c.status == 3) {
      std::filesystem::create_directories("download/" + site.substr(7));
      std::ofstream("download/" + site.substr(7) + "blocked") << "in the way";
    }
    if (c.status == 1) std::ofstream("download") << "in the way";
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {TARNWICK_CRAWL_BINARY, "--img"});
    const pid_t crawl = spawn(c.command, args);
    for (int i = 0; !c.signals.empty() && i < 1500 && temporaryFiles("drip.gif") == 0; ++i) {
      std::this_thread::sleep_for(20ms);
    }
    for (const int signal : c.signals) {
      kill(crawl, signal);
      std::this_thread::sleep_for(200ms);  // let each be seen
    }
    EXPECT_EQ(exitStatusOf(crawl), c.status);
    EXPECT_EQ(testing::contentOf("out.txt"), c.stdoutText);
    const std::string err = testing::contentOf("err.txt");
    EXPECT_NE(err.find(c.stderrHas), std::string::npos) << err;
    EXPECT_TRUE(c.status != 2 || err == c.stderrHas) << "told on more lines than its own";
    EXPECT_EQ(temporaryFiles(""), 0);
  }
  EXPECT_FALSE(requested("/after.gif"));  // every signal ended the crawl
  EXPECT_FALSE(requested("/refused.html"));
}

}  // namespace
}  // namespace tarnwick
