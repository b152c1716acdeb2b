#include "tools/crawl_command_line.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>

#include "engine/download_filter.h"
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

struct Option {
  std::string_view name;
  std::optional<std::string_view> value;  // the text after "=", when given
};

Option splitOption(std::string_view arg) {
  arg.remove_prefix(2);
  const auto equals = arg.find('=');
  if (equals == std::string_view::npos) return {arg, std::nullopt};
  return {arg.substr(0, equals), arg.substr(equals + 1)};
}

// The value of an option that takes one: the text after "=", else the next argument,
// which `index` then moves past.
std::string_view valueOf(const Option& option, const std::vector<std::string_view>& args,
                         std::size_t& index) {
  if (option.value) return *option.value;
  if (index + 1 < args.size()) return args[++index];
  throw UsageError("--" + std::string(option.name) + " needs a value");
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

std::optional<std::size_t> categoryOf(std::string_view name) {
  for (std::size_t category = 0; category < kFileCategoryTags.size(); ++category) {
    if (kFileCategoryTags[category] == name) return category;
  }
  return std::nullopt;
}

SaveLayout parseLayout(std::string_view text) {
  if (text == "tree") return SaveLayout::Tree;
  if (text == "date") return SaveLayout::Date;
  throw UsageError("--layout takes tree or date, not '" + std::string(text) + "'");
}

}  // namespace

CrawlCommand parseCrawlCommand(const std::vector<std::string_view>& args) {
  CrawlCommand command;
  std::uint64_t depth = kDefaultDepth;
  std::array<std::optional<std::uint32_t>, kFileCategoryTags.size()> kilobytes;
  bool anyCategory = false;
  std::optional<std::string_view> url;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!arg.starts_with("--")) {
      if (arg.starts_with("-") || url)
        throw UsageError("unexpected argument '" + std::string(arg) + "'");
      url = arg;
      continue;
    }
    const Option option = splitOption(arg);
    if (option.name == "help" && !option.value) return {CrawlAction::ShowHelp, {}, {}};
    if (option.name == "version" && !option.value) return {CrawlAction::ShowVersion, {}, {}};
    if (!option.value && (option.name == "https" || option.name == "same-host")) {
      (option.name == "https" ? command.job.allowHttps : command.job.sameHostOnly) = true;
      continue;
    }
    if (option.name == "depth") {
      depth = parseNumber(valueOf(option, args, i), option.name, kDepthLimit);
      continue;
    }
    if (option.name == "layout") {
      command.job.saveLayout = parseLayout(valueOf(option, args, i));
      continue;
    }
    if (option.name == "connections") {
      command.job.connections = static_cast<std::uint32_t>(
          parseNumber(valueOf(option, args, i), option.name, kMostConnections + 1));
      if (command.job.connections == 0) throw UsageError("--connections must be at least 1");
      continue;
    }
    if (option.name == "ca-certificate") {
      command.caCertificate = valueOf(option, args, i);
      continue;
    }
    const auto category = categoryOf(option.name);
    if (!category) throw UsageError("unknown option '" + std::string(arg) + "'");
    kilobytes[*category] = static_cast<std::uint32_t>(
        option.value ? parseNumber(*option.value, option.name, kKilobyteLimit) : 0);
    anyCategory = true;
  }
  if (!url) throw UsageError("a start URL is required");

  command.job.maxDepth = static_cast<std::uint8_t>(depth % 256);
  command.job.startUrl = utf8ToCp932(*url);
  if (!anyCategory) kilobytes[kImageCategory] = kDefaultImageKilobytes;
  for (std::size_t category = 0; category < kilobytes.size(); ++category) {
    if (kilobytes[category])
      command.job.addDownloadRow(static_cast<std::int32_t>(category), *kilobytes[category]);
  }
  return command;
}

std::string crawlUsage() {
  return "usage: tarnwick-crawl [--depth N] [--layout tree|date] [--connections N]\n"
         "                      [--https] [--same-host] [--ca-certificate FILE]\n"
         "                      [--html[=KB]] [--txt[=KB]]\n"
         "                      [--img[=KB]] [--midi[=KB]] [--audio[=KB]] [--video[=KB]]\n"
         "                      [--realone[=KB]] [--zip[=KB]] URL\n"
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
         "  --help, --version\n";
}

}  // namespace tarnwick::cli
