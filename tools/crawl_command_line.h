#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/messages.h"

namespace tarnwick::cli {

// A command line that does not parse; what() says why in one line, and the user is
// pointed to --help.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A well-formed command line asking for a crawl that cannot start (a start URL of another
// scheme, a certificate file that cannot be used); what() says why in one line.
class StartRefused : public std::runtime_error {
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

// Reads the arguments after the program name with getopt_long: "--opt VALUE" and
// "--opt=VALUE", unambiguous abbreviations, "--" ending the options. The URL is taken as
// UTF-8 and converted to code page 932; a certificate file is read to see that it holds a
// PEM certificate. Throws UsageError or StartRefused.
CrawlCommand parseCrawlCommand(const std::vector<std::string_view>& args);

// The text --help prints.
std::string crawlUsage();

}  // namespace tarnwick::cli
