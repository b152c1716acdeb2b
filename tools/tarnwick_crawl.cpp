// tarnwick-crawl: runs one crawl from the command line in the current directory, the
// way the window runs it, and lists every saved file on standard output.

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "engine/crawl_components.h"
#include "engine/crawl_session.h"
#include "platform/http_client.h"
#include "platform/message_box.h"
#include "tools/crawl_command_line.h"
#include "tools/crawl_progress.h"

namespace tarnwick::cli {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kExitRunFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotSaved = 3;  // some file could not be saved locally
constexpr int kExitInterrupted = 130;

// Ctrl-C presses, counted by the handler and acted on by the polling loop.
std::atomic<int> interruptCount{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void countInterrupt(int) { interruptCount.fetch_add(1, std::memory_order_relaxed); }

void installInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = countInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

void writeOut(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

const char* const kClearLine = "\r\033[K";

int terminalColumns() {
  winsize size = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// Clears the live status line before a warning, so the warning stands on its own line.
class LiveLineMessageBox final : public MessageBox {
 public:
  LiveLineMessageBox(std::unique_ptr<MessageBox> console, bool liveLine)
      : console_(std::move(console)), liveLine_(liveLine) {}
  void showWarning(const ByteString& text) override {
    if (liveLine_) writeOut(stderr, kClearLine);
    console_->showWarning(text);
  }

 private:
  std::unique_ptr<MessageBox> console_;
  const bool liveLine_;
};

int runCrawl(CrawlJob job, const HttpClientOptions& httpOptions) {
  const bool liveLine = isatty(STDERR_FILENO) == 1;
  LiveLineMessageBox messageBox(makeConsoleMessageBox(), liveLine);
  const auto components = makeLinuxCrawlComponents(messageBox, httpOptions);
  CrawlSession session(std::move(job), *components);

  installInterruptHandler();
  const auto started = std::chrono::steady_clock::now();
  session.start();

  CrawlProgress progress;
  bool stopRequested = false;
  std::string shownLine;
  const auto show = [&](const UiMessage& message) {
    const CrawlProgress::Lines lines = progress.take(message);
    if (!lines.out.empty()) writeOut(stdout, lines.out);
    if (!lines.err.empty()) {
      writeOut(stderr, (liveLine ? kClearLine : "") + lines.err);
      shownLine.clear();
    }
  };
  while (session.drain(show)) {
    std::this_thread::sleep_for(kPollInterval);
    const int interrupts = interruptCount.load(std::memory_order_relaxed);
    if (interrupts >= 1 && !stopRequested) {
      session.stop();
      stopRequested = true;
    }
    if (interrupts >= 2) session.abort();
    if (!liveLine) continue;
    const std::string statusLine = progress.statusLine(terminalColumns() - 1);
    if (statusLine != shownLine) {
      writeOut(stderr, kClearLine + statusLine);
      shownLine = statusLine;
    }
  }

  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  writeOut(stderr, (liveLine ? kClearLine : "") + progress.summary(elapsed.count()));
  if (progress.runFailed()) return kExitRunFailed;
  if (stopRequested) return kExitInterrupted;
  return progress.localFailures() > 0 ? kExitNotSaved : 0;
}

}  // namespace
}  // namespace tarnwick::cli

int main(int argc, char** argv) {
  using namespace tarnwick::cli;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  CrawlCommand command;
  try {
    command = parseCrawlCommand(args);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "tarnwick-crawl: %s\nTry 'tarnwick-crawl --help' for more information.\n",
                 error.what());
    return kExitUsage;
  } catch (const StartRefused& error) {
    std::fprintf(stderr, "tarnwick-crawl: %s\n", error.what());
    return kExitUsage;
  }
  switch (command.action) {
    case CrawlAction::ShowHelp:
      writeOut(stdout, crawlUsage());
      return 0;
    case CrawlAction::ShowVersion:
      writeOut(stdout, "tarnwick-crawl " TARNWICK_VERSION "\n");
      return 0;
    case CrawlAction::Crawl:
      break;
  }
  try {
    tarnwick::HttpClientOptions httpOptions;
    httpOptions.maxConnections = static_cast<long>(command.job.connections);
    httpOptions.caCertificateFile = command.caCertificate;
    return runCrawl(std::move(command.job), httpOptions);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tarnwick-crawl: %s\n", error.what());
    return 1;
  }
}
