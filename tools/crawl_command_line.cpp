#include "tools/crawl_command_line.h"

#include <getopt.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>

#include "engine/download_filter.h"
#include "engine/url_text.h"
#include "platform/codepage.h"

namespace tarnwick::cli {
namespace {

constexpr auto kImageCategory = static_cast<std::size_t>(FileCategory::img);

constexpr std::uint32_t kDefaultDepth = 4;
constexpr std::uint32_t kDefaultImageKilobytes = 64;
// From here on, kilobytes times 1024 no longer fit the engine's 32-bit thresholds.
constexpr std::uint64_t kKilobyteLimit = std::uint64_t{CrawlJob::kLargestThresholdKb} + 1;
constexpr std::uint64_t kDepthLimit = std::uint64_t{1} << 32;
constexpr std::uint64_t kMostConnections = 16;
constexpr std::string_view kPemCertificate = "-----BEGIN CERTIFICATE-----";
// Far more than any bundle of certificate authorities holds; the client reads it whole.
constexpr off_t kLargestCertificateFile = off_t{64} << 20;

// What getopt_long returns for each option; a category's code is kFirstCategory plus its
// number. --help shares its code with -h.
enum OptionCode : int {
  kHelp = 'h',
  kDepth = 256,
  kLayout,
  kConnections,
  kCaCertificate,
  kHttps,
  kSameHost,
  kVersion,
  kFirstCategory,
};

std::vector<option> longOptions() {
  std::vector<option> options = {
      {"depth", required_argument, nullptr, kDepth},
      {"layout", required_argument, nullptr, kLayout},
      {"connections", required_argument, nullptr, kConnections},
      {"ca-certificate", required_argument, nullptr, kCaCertificate},
      {"https", no_argument, nullptr, kHttps},
      {"same-host", no_argument, nullptr, kSameHost},
      {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersion},
  };
  // The tags are string literals, so each data() ends in the NUL that getopt looks for.
  for (std::size_t category = 0; category < kFileCategoryTags.size(); ++category) {
    options.push_back({kFileCategoryTags[category].data(), optional_argument, nullptr,
                       kFirstCategory + static_cast<int>(category)});
  }
  options.push_back({});
  return options;
}

// getopt_long moves the arguments around and wants writable C strings.
class ArgumentVector {
 public:
  explicit ArgumentVector(const std::vector<std::string_view>& args) {
    strings_.emplace_back("tarnwick-crawl");
    strings_.insert(strings_.end(), args.begin(), args.end());
    for (std::string& text : strings_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }
  int count() const { return static_cast<int>(strings_.size()); }
  char** data() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

// Why getopt_long refused the option it has just passed over (`given`); it returned `code`
// and left the option's code in optopt, 0 for a long option it could not name.
std::string refusedOption(int code, const std::vector<option>& options, std::string_view given) {
  const auto named = std::ranges::find(options, optopt, &option::val);
  if (named != options.end() && named->name != nullptr) {
    return "option '--" + std::string(named->name) +
           (code == ':' ? "' needs a value" : "' takes no value");
  }
  if (optopt != 0) return "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
  const std::string_view name = given.substr(2, given.find('=') - 2);
  const auto matches = std::ranges::count_if(options, [name](const option& candidate) {
    return candidate.name != nullptr && std::string_view(candidate.name).starts_with(name);
  });
  if (matches > 1) return "option '" + std::string(given) + "' is ambiguous";
  return "unknown option '" + std::string(given) + "'";
}

std::uint64_t parseNumber(std::string_view text, std::string_view option, std::uint64_t limit) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw UsageError("--" + std::string(option) + " needs a whole number, not '" +
                     std::string(text) + "'");
  }
  if (value >= limit) {
    throw UsageError("--" + std::string(option) + " must be below " + std::to_string(limit));
  }
  return value;
}

SaveLayout parseLayout(std::string_view text) {
  if (text == "tree") return SaveLayout::Tree;
  if (text == "date") return SaveLayout::Date;
  throw UsageError("--layout takes tree or date, not '" + std::string(text) + "'");
}

// The engine would drop a start URL of another scheme without a word.
void checkStartUrl(std::string_view url, bool allowHttps) {
  if (schemeLength(url, allowHttps) > 0) return;
  if (schemeLength(url) > 0) throw StartRefused("an https:// start URL needs --https");
  throw StartRefused("the start URL '" + std::string(url) + "' does not begin with http://" +
                     (allowHttps ? " or https://" : ""));
}

// The HTTP client would read a file it cannot use as no certificate at all and fail every
// https URL; such a file is refused before anything is fetched.
void checkCaCertificate(const std::string& path) {
  const std::string refused = "--ca-certificate '" + path + "': ";
  struct stat status = {};
  if (stat(path.c_str(), &status) != 0) throw StartRefused(refused + std::strerror(errno));
  if (!S_ISREG(status.st_mode)) throw StartRefused(refused + "not a regular file");
  if (status.st_size > kLargestCertificateFile) throw StartRefused(refused + "too large");
  std::ifstream file(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  if (!file.read(text.data(), static_cast<std::streamsize>(text.size())))
    throw StartRefused(refused + std::strerror(errno));
  if (text.find(kPemCertificate) == std::string::npos)
    throw StartRefused(refused + "holds no PEM certificate");
}

// The options read so far, and the job they make.
struct CrawlOptions {
  CrawlJob job;
  std::uint64_t depth = kDefaultDepth;
  std::array<std::optional<std::uint32_t>, kFileCategoryTags.size()> kilobytes;
  bool anyCategory = false;
  std::optional<std::string> caCertificate;

  // Takes one option with its value (null when an optional one was not given).
  void take(int code, const char* value) {
    switch (code) {
      case kDepth:
        depth = parseNumber(value, "depth", kDepthLimit);
        return;
      case kLayout:
        job.saveLayout = parseLayout(value);
        return;
      case kConnections:
        job.connections =
            static_cast<std::uint32_t>(parseNumber(value, "connections", kMostConnections + 1));
        if (job.connections == 0) throw UsageError("--connections must be at least 1");
        return;
      case kCaCertificate:
        caCertificate = value;
        return;
      case kHttps:
        job.allowHttps = true;
        return;
      case kSameHost:
        job.sameHostOnly = true;
        return;
    }
    const auto category = static_cast<std::size_t>(code - kFirstCategory);
    kilobytes[category] = static_cast<std::uint32_t>(
        value ? parseNumber(value, kFileCategoryTags[category], kKilobyteLimit) : 0);
    anyCategory = true;
  }

  CrawlCommand command(std::string_view url) {
    checkStartUrl(url, job.allowHttps);
    if (caCertificate) checkCaCertificate(*caCertificate);
    job.maxDepth = static_cast<std::uint8_t>(depth % 256);
    job.startUrl = utf8ToCp932(url);
    if (!anyCategory) kilobytes[kImageCategory] = kDefaultImageKilobytes;
    for (std::size_t category = 0; category < kilobytes.size(); ++category) {
      if (kilobytes[category])
        job.addDownloadRow(static_cast<std::int32_t>(category), *kilobytes[category]);
    }
    return {CrawlAction::Crawl, job, caCertificate.value_or("")};
  }
};

}  // namespace

CrawlCommand parseCrawlCommand(const std::vector<std::string_view>& args) {
  const std::vector<option> options = longOptions();
  ArgumentVector argv(args);
  CrawlOptions read;
  optind = 0;  // glibc starts afresh, so each call reads only its own arguments
  opterr = 0;  // the caller tells the user
  for (int code;
       (code = getopt_long(argv.count(), argv.data(), ":h", options.data(), nullptr)) != -1;) {
    if (code == kHelp) return {CrawlAction::ShowHelp, {}, {}};
    if (code == kVersion) return {CrawlAction::ShowVersion, {}, {}};
    if (code == '?' || code == ':')
      throw UsageError(refusedOption(code, options, argv.data()[optind - 1]));
    read.take(code, optarg);
  }
  // getopt_long has moved the arguments that are no options behind the options.
  if (optind == argv.count()) throw UsageError("a start URL is required");
  if (optind + 1 < argv.count())
    throw UsageError("unexpected argument '" + std::string(argv.data()[optind + 1]) + "'");
  return read.command(argv.data()[optind]);
}

std::string crawlUsage() {
  return "usage: tarnwick-crawl [--depth N] [--layout tree|date] [--connections N]\n"
         "                      [--https] [--same-host] [--ca-certificate FILE]\n"
         "                      [--html[=KB]] [--txt[=KB]]\n"
         "                      [--img[=KB]] [--midi[=KB]] [--audio[=KB]] [--video[=KB]]\n"
         "                      [--realone[=KB]] [--zip[=KB]] [--] URL\n"
         "\n"
         "Crawls HTTP from URL, following href= and src= links down to the depth\n"
         "(default 4), and saves the files of the named categories from KB kilobytes on\n"
         "(no KB: every size) into ./download. Without a category option, images from\n"
         "64 KB on are saved. Prints each saved file as URL<TAB>path on standard output.\n"
         "Ctrl-C stops after the current file; a second Ctrl-C cuts the transfer short.\n"
         "\n"
         "  --layout tree   mirror host and directories below download (default)\n"
         "  --layout date   one folder per day below download\n"
         "  --connections N fetch up to N URLs at once (1 to 16, default 1); the output\n"
         "                  is the same as with one\n"
         "  --https         also crawl https:// URLs, saved where the http:// ones would be;\n"
         "                  certificates are checked against the system's authorities\n"
         "  --ca-certificate FILE\n"
         "                  also trust the certificate authority in FILE (PEM)\n"
         "  --same-host     follow href= links only on the start URL's host and port;\n"
         "                  files embedded with src= still come from any host\n"
         "  -h, --help      print this help and exit\n"
         "  --version       print the version and exit\n"
         "\n"
         "Long options may be shortened to any unambiguous beginning.\n";
}

}  // namespace tarnwick::cli
