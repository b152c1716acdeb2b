#pragma once

#include <cstdint>
#include <string>

#include "engine/messages.h"

namespace tarnwick::cli {

// Follows the worker's status messages and renders them for a terminal, in UTF-8.
class CrawlProgress {
 public:
  // What one message adds to standard output ("URL<TAB>path\n" for a finished download)
  // and to standard error (a line for a failed URL or a failed run).
  struct Lines {
    std::string out;
    std::string err;
  };

  // Takes one message from the status queue.
  Lines take(const UiMessage& message);

  bool runFailed() const { return runFailed_; }
  // Failed URLs whose file could not be saved on this machine.
  std::uint64_t localFailures() const { return localFailures_; }

  // The live status line: what the window's status line would say, the transfer's
  // progress while downloading, then the URL; cut to fit `columns` terminal columns.
  std::string statusLine(int columns) const;

  // The closing lines: the end of the crawl and a summary.
  std::string summary(double seconds) const;

 private:
  UiCode status_{};
  std::string url_;
  std::uint32_t received_ = 0;
  std::uint32_t length_ = 0;
  std::uint64_t pagesSearched_ = 0;
  std::uint64_t filesSaved_ = 0;
  std::uint64_t bytesSaved_ = 0;
  std::uint64_t failures_ = 0;
  std::uint64_t localFailures_ = 0;
  bool runFailed_ = false;
};

// Cuts UTF-8 text to at most `columns` terminal columns, as wcwidth counts them, without
// splitting a character.
std::string fitToColumns(const std::string& text, int columns);

}  // namespace tarnwick::cli
