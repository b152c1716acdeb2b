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
#include "engine/crawl_worker.h"
#include "engine/ui_message_queue.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/message_box.h"
#include "platform/process_exit.h"
#include "platform/services.h"
#include "tools/crawl_command_line.h"
#include "tools/crawl_progress.h"

namespace tarnwick::cli {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr int kExitInterrupted = 130;
constexpr int kExitUsage = 2;

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

void pushControl(UiMessageQueue& controlQueue, UiCode code) {
  UiMessage message;
  message.code = code;
  controlQueue.push(message);
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

int runCrawl(CrawlJob job) {
  const bool liveLine = isatty(STDERR_FILENO) == 1;
  std::atomic<bool> abortTransfer{false};
  HttpClientOptions httpOptions;
  httpOptions.abort = &abortTransfer;
  const auto http = makeCurlHttpClient(httpOptions);
  const auto files = makePosixFileSystem();
  const auto clock = makeSystemClock();
  LiveLineMessageBox messageBox(makeConsoleMessageBox(), liveLine);
  const auto processExit = makeProcessExit();
  const auto components = makeCrawlComponentFactory(
      {http.get(), files.get(), clock.get(), &messageBox, processExit.get()});

  UiMessageQueue controlQueue;
  UiMessageQueue statusQueue;
  job.controlQueue = &controlQueue;
  job.statusQueue = &statusQueue;
  job.abortTransfer = &abortTransfer;

  installInterruptHandler();
  const auto started = std::chrono::steady_clock::now();
  std::thread worker([&job, &components] { CrawlWorker(job, *components); });
  pushControl(controlQueue, UiCode::ControlStart);

  CrawlProgress progress;
  bool stopRequested = false;
  std::string shownLine;
  while (!progress.finished()) {
    std::this_thread::sleep_for(kPollInterval);
    const int interrupts = interruptCount.load(std::memory_order_relaxed);
    if (interrupts >= 1 && !stopRequested) {
      pushControl(controlQueue, UiCode::ControlStop);
      stopRequested = true;
    }
    if (interrupts >= 2) abortTransfer.store(true);
    for (UiMessage message; statusQueue.pop(message);) {
      const std::string line = progress.take(message);
      if (!line.empty()) writeOut(stdout, line);
    }
    if (!liveLine) continue;
    const std::string statusLine = progress.statusLine(terminalColumns() - 1);
    if (statusLine != shownLine) {
      writeOut(stderr, kClearLine + statusLine);
      shownLine = statusLine;
    }
  }
  worker.join();

  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  writeOut(stderr, (liveLine ? kClearLine : "") + progress.summary(elapsed.count()));
  return stopRequested ? kExitInterrupted : 0;
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
    std::fprintf(stderr, "tarnwick-crawl: %s (try --help)\n", error.what());
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
    return runCrawl(std::move(command.job));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tarnwick-crawl: %s\n", error.what());
    return 1;
  }
}
