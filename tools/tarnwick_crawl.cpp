// tarnwick-crawl: runs one crawl from the command line in the current directory, the
// way the window runs it, and lists every saved file on standard output.

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "engine/crawl_components.h"
#include "engine/crawl_session.h"
#include "platform/http_client.h"
#include "platform/message_box.h"
#include "platform/process_exit.h"
#include "tools/crawl_command_line.h"
#include "tools/crawl_progress.h"

namespace tarnwick::cli {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kExitRunFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotSaved = 3;  // some file could not be saved locally
// A shell's status for a program that `signal` ended.
constexpr int exitStatusOf(int signal) { return 128 + signal; }

// What the signal handlers saw, acted on by the polling loop: Ctrl-C presses, and the
// SIGTERM or SIGHUP that ends the run at once.
std::atomic<int> interruptCount{0};
std::atomic<int> endingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void countInterrupt(int) { interruptCount.fetch_add(1, std::memory_order_relaxed); }
extern "C" void noteEndingSignal(int signal) {
  endingSignal.store(signal, std::memory_order_relaxed);
}

void installSignalHandlers() {
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  // Without SA_RESTART a write blocked on a full pipe returns, so the run can still end.
  action.sa_handler = countInterrupt;
  sigaction(SIGINT, &action, nullptr);
  action.sa_handler = noteEndingSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // A closed standard output shows as EPIPE from the write, after which the transfers are
  // cut and their temporary files removed; the signal would end the process first.
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
}

// A second Ctrl-C, SIGTERM or SIGHUP: the running transfers are to be cut.
bool abortSignalled() {
  return endingSignal.load(std::memory_order_relaxed) != 0 ||
         interruptCount.load(std::memory_order_relaxed) >= 2;
}

// Writes all of `text`; false, with errno set, when the output failed or a signal that cuts
// the run short interrupted the write.
bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR && !abortSignalled()) continue;
    if (written < 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A standard descriptor the caller left closed would go to the next file or socket opened
// (curl's, or a file being saved), and the listing or the messages with it; /dev/null
// takes its number instead.
void occupyClosedStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
      open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);  // the lowest free number
  }
}

const char* const kClearLine = "\r\033[K";

int terminalColumns() {
  winsize size = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The fatal end of a crawl, carried out by the main thread: the worker leaves the warning and
// the exit status here and waits for the end, so that everything the crawl reported before
// it is told first. Used by both threads.
class FatalEnd final : public MessageBox, public ProcessExit {
 public:
  void showWarning(const ByteString& text) override {
    std::lock_guard lock(mutex_);
    warning_ = text;
  }
  [[noreturn]] void exitProcess(int status) override {
    status_.store(status, std::memory_order_release);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  // The status the worker asked to end with, once it has.
  std::optional<int> requested() const {
    const int status = status_.load(std::memory_order_acquire);
    return status < 0 ? std::nullopt : std::optional(status);
  }
  ByteString warning() const {
    std::lock_guard lock(mutex_);
    return warning_;
  }

 private:
  mutable std::mutex mutex_;
  ByteString warning_;
  std::atomic<int> status_{-1};
};

// One crawl from its start to its summary, with a live status line when standard error is
// a terminal.
class CrawlRun {
 public:
  CrawlRun(CrawlJob job, const HttpClientOptions& httpOptions)
      : liveLine_(isatty(STDERR_FILENO) == 1),
        components_(makeLinuxCrawlComponents(fatalEnd_, httpOptions, &fatalEnd_)),
        session_(std::move(job), *components_) {}

  // Returns the exit status.
  int run() {
    installSignalHandlers();
    const auto started = std::chrono::steady_clock::now();
    session_.start();
    const auto showEach = [this](const UiMessage& message) { show(message); };
    while (session_.drain(showEach)) {
      std::this_thread::sleep_for(kPollInterval);
      if (const auto status = fatalEnd_.requested()) endFatally(*status, showEach);
      passOnRequests();
      if (liveLine_) showStatusLine();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    writeError(progress_.summary(elapsed.count()));
    return exitStatus();
  }

 private:
  void show(const UiMessage& message) {
    const CrawlProgress::Lines lines = progress_.take(message);
    if (!lines.out.empty()) writeListing(lines.out);
    if (!lines.err.empty()) writeError(lines.err);
  }

  // A listing that cannot be written ends the run as a second Ctrl-C does: the files saved
  // from then on could not be told. A reader that has gone away is no error to report.
  void writeListing(const std::string& lines) {
    if (outputError_ != 0 || writeAll(STDOUT_FILENO, lines)) return;
    outputError_ = errno;
    if (outputError_ != EPIPE && !abortSignalled())
      writeError(std::string("tarnwick-crawl: standard output: ") + std::strerror(outputError_) +
                 "\n");
  }

  // What the crawl reported before its fatal end is told, then the warning; the process ends.
  [[noreturn]] void endFatally(int status, const CrawlSession::StatusHandler& showEach) {
    session_.drain(showEach);
    if (liveLine_) writeAll(STDERR_FILENO, kClearLine);
    makeConsoleMessageBox()->showWarning(fatalEnd_.warning());
    std::fflush(nullptr);
    _exit(status);
  }

  void writeError(const std::string& lines) {
    writeAll(STDERR_FILENO, (liveLine_ ? kClearLine : "") + lines);
    shownLine_.clear();
  }

  // The first Ctrl-C stops the crawl after the current file; a second one, SIGTERM, SIGHUP
  // or a failed listing also cut the running transfers.
  void passOnRequests() {
    const bool abort = abortSignalled() || outputError_ != 0;
    if (!stopRequested_ && (abort || interruptCount.load(std::memory_order_relaxed) > 0)) {
      session_.stop();
      stopRequested_ = true;
    }
    if (abort) session_.abort();
  }

  void showStatusLine() {
    const std::string statusLine = progress_.statusLine(terminalColumns() - 1);
    if (statusLine == shownLine_) return;
    writeAll(STDERR_FILENO, kClearLine + statusLine);
    shownLine_ = statusLine;
  }

  int exitStatus() const {
    if (progress_.runFailed()) return kExitRunFailed;
    if (const int signal = endingSignal.load(std::memory_order_relaxed))
      return exitStatusOf(signal);
    if (interruptCount.load(std::memory_order_relaxed) > 0) return exitStatusOf(SIGINT);
    if (outputError_ == EPIPE) return exitStatusOf(SIGPIPE);
    if (outputError_ != 0) return kExitRunFailed;
    return progress_.localFailures() > 0 ? kExitNotSaved : 0;
  }

  const bool liveLine_;
  FatalEnd fatalEnd_;
  const std::unique_ptr<CrawlComponentFactory> components_;
  CrawlSession session_;
  CrawlProgress progress_;
  std::string shownLine_;
  bool stopRequested_ = false;
  int outputError_ = 0;  // errno of the write to standard output that failed
};

// Does what the command asks; returns the exit status.
int perform(CrawlCommand command) {
  switch (command.action) {
    case CrawlAction::ShowHelp:
      return writeAll(STDOUT_FILENO, crawlUsage()) ? 0 : kExitRunFailed;
    case CrawlAction::ShowVersion:
      return writeAll(STDOUT_FILENO, "tarnwick-crawl " TARNWICK_VERSION "\n") ? 0 : kExitRunFailed;
    case CrawlAction::Crawl:
      break;
  }
  HttpClientOptions httpOptions;
  httpOptions.maxConnections = static_cast<long>(command.job.connections);
  httpOptions.caCertificateFile = command.caCertificate;
  return CrawlRun(std::move(command.job), httpOptions).run();
}

}  // namespace
}  // namespace tarnwick::cli

int main(int argc, char** argv) {
  using namespace tarnwick::cli;
  occupyClosedStandardDescriptors();
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  try {
    return perform(parseCrawlCommand(args));
  } catch (const UsageError& error) {
    std::fprintf(stderr, "tarnwick-crawl: %s\nTry 'tarnwick-crawl --help' for more information.\n",
                 error.what());
    return kExitUsage;
  } catch (const StartRefused& error) {
    std::fprintf(stderr, "tarnwick-crawl: %s\n", error.what());
    return kExitUsage;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tarnwick-crawl: %s\n", error.what());
    return kExitRunFailed;
  }
}
