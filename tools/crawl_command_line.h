#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/messages.h"

namespace tarnwick::cli {

// A command line that cannot be run; what() is a one-line hint.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class CrawlAction { Crawl, ShowHelp, ShowVersion };

struct CrawlCommand {
  CrawlAction action = CrawlAction::Crawl;
  // Filled as the window fills it from its form; queues and abort flag are left null.
  CrawlJob job;
  // A certificate authority file trusted besides the system's; empty for none.
  std::string caCertificate;
};

// Reads the arguments after the program name; the URL is taken as UTF-8 and converted
// to code page 932. Throws UsageError.
CrawlCommand parseCrawlCommand(const std::vector<std::string_view>& args);

// The text --help prints.
std::string crawlUsage();

}  // namespace tarnwick::cli
