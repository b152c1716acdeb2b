// extractLinks on arbitrary page text, checked against the resolution rules written out
// plainly: every posted URL is a link of the page resolved against it and normalised, in
// the order of the four marker passes, and the work stays bounded by the text.
//
// Input: one byte for the page's depth, one whose bit 0 allows https and bit 1 keeps
// followed links on the page's host, the page URL up to the first NUL, then the text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/link_extractor.h"
#include "engine/messages.h"
#include "engine/work_queue.h"
#include "fuzz_support.h"

namespace tarnwick::fuzz {
namespace {

constexpr std::int32_t kPageId = 41;
constexpr std::string_view kTerminators = "\"?#> ";

struct ExpectedLink {
  std::uint8_t depth;
  std::string url;
};

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return lower;
}

std::size_t schemeLength(std::string_view url) {
  return url.starts_with("http://") ? 7 : url.starts_with("https://") ? 8 : 0;
}

// Directory segments equal to "." or ".." resolved, each found between two "/" on
// character starts after the host; 30 segments or more are left alone.
std::string normalize(const std::string& url) {
  const std::size_t scheme = schemeLength(url);
  if (scheme == 0) return url;
  const int hostEnd = referenceFind(url, "/", static_cast<int>(scheme) + 1);
  if (hostEnd < 0) return url + "/";
  std::vector<std::string> names;
  int from = hostEnd + 1;
  for (int slash; (slash = referenceFind(url, "/", from)) >= 0; from = slash + 1) {
    names.push_back(url.substr(from, slash - from));
  }
  if (names.size() >= 30) return url;
  std::vector<std::string> kept;
  int steps = 0;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    if (*name == "..") {
      ++steps;
    } else if (*name != "." && steps > 0) {
      --steps;
    } else if (*name != ".") {
      kept.insert(kept.begin(), *name);
    }
  }
  std::string normalized = url.substr(0, hostEnd + 1);
  for (const std::string& name : kept) normalized += name + "/";
  return normalized + url.substr(from);
}

// The link made absolute against the page, then normalised; an empty link is the page
// itself without query and fragment, as it stands.
std::string resolve(std::string_view link, std::string_view pageUrl, bool https) {
  const int cut = referenceFindOneOf(pageUrl, "?#", 0);
  const std::string page(cut < 0 ? pageUrl : pageUrl.substr(0, cut));
  if (link.empty()) return page;
  const std::string directory = page.substr(0, referenceFindLast(page, '/') + 1);
  const int hostEnd = referenceFind(page, "/", static_cast<int>(schemeLength(page)) + 1);
  const std::string root = page.substr(0, hostEnd < 0 ? page.size() : hostEnd) + "/";
  const std::string linkScheme = lowerAscii(link.substr(0, 8));
  if (linkScheme.starts_with("http://")) return normalize("http://" + std::string(link.substr(7)));
  if (https && linkScheme == "https://") return normalize("https://" + std::string(link.substr(8)));
  if (referenceFind(link, "http://", 0) >= 0 || (https && referenceFind(link, "https://", 0) >= 0))
    return normalize(std::string(link));
  if (link.starts_with("//"))
    return normalize((page.starts_with("https://") ? "https:" : "http:") + std::string(link));
  if (link.starts_with("/")) return normalize(root + std::string(link.substr(1)));
  if (link.starts_with("./")) return normalize(directory + std::string(link.substr(2)));
  return normalize(directory + std::string(link));
}

// host[:port] without "user:password@", in lower case; empty for a URL of another scheme.
std::string hostKey(std::string_view url) {
  const std::size_t scheme = schemeLength(url);
  if (scheme == 0) return {};
  const int end = referenceFindOneOf(url, "/?#", static_cast<int>(scheme) + 1);
  std::string_view authority = url.substr(scheme, end < 0 ? url.npos : end - scheme);
  authority.remove_prefix(static_cast<std::size_t>(referenceFindLast(authority, '@') + 1));
  ByteString host(authority);
  host.makeLower();
  return host.str();
}

// The links of the page the slow way: every marker occurrence on a character start, its
// value up to the first terminator, resolved, and kept unless it is a followed link that
// leaves the page's host while same-host is on (the page stands in for the start URL).
std::vector<ExpectedLink> expectedLinks(std::uint8_t depth, std::uint8_t options,
                                        std::string_view pageUrl, std::string_view text) {
  const bool https = (options & 1) != 0, sameHost = (options & 2) != 0;
  const std::vector<bool> starts = characterStarts(text);
  std::vector<ExpectedLink> links;
  for (const std::string_view marker : {"href=", "HREF=", "src=", "SRC="}) {
    const bool followed = marker[0] == 'h' || marker[0] == 'H';
    if (followed && depth == UINT8_MAX) continue;
    for (std::size_t at = 0; at + marker.size() <= text.size(); ++at) {
      if (!starts[at] || !text.substr(at).starts_with(marker)) continue;
      std::size_t start = at + marker.size();
      const bool singleQuoted = start < text.size() && text[start] == '\'';
      if (start < text.size() && (text[start] == '"' || singleQuoted)) ++start;
      std::size_t end = start;
      while (end < text.size() &&
             !(starts[end] && (kTerminators.find(text[end]) != std::string_view::npos ||
                               (singleQuoted && text[end] == '\'')))) {
        ++end;
      }
      const std::size_t length = end - start;
      if (end == text.size() || length > static_cast<std::size_t>(LinkExtractor::kMaxLinkLength))
        continue;
      const std::string url = resolve(text.substr(start, length), pageUrl, https);
      if (url.size() > LinkExtractor::kMaxUrlLength) continue;
      if (followed && sameHost && hostKey(url) != hostKey(pageUrl)) continue;
      links.push_back({static_cast<std::uint8_t>(followed ? depth + 1 : depth), url});
    }
  }
  return links;
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  if (size < 2) return 0;
  const std::uint8_t depth = data[0], options = data[1];
  const auto [pageUrl, text] =
      splitAtFirstNul(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));

  static WorkQueue queue;  // 262,144 slots: too many to allocate for every input
  LinkExtractor extractor(queue, {(options & 1) != 0, (options & 2) != 0, ByteString(pageUrl)});
  extractor.extractLinks(kPageId, depth, ByteString(pageUrl), ByteString(text));

  const std::vector<ExpectedLink> expected = expectedLinks(depth, options, pageUrl, text);
  require(queue.size() == expected.size(), "number of posted links");
  for (const ExpectedLink& link : expected) {
    WorkMessage message;
    queue.take(message);
    require(message.code == WorkCode::LinkFound, "posted something other than LinkFound");
    const auto& found = message.as<LinkFoundPayload>();
    require(found.parent == kPageId, "parent is not the page's id");
    require(found.depth == link.depth, "depth of a posted link");
    require(found.url.view() == link.url, "posted URL is not the resolved link");
  }
  return 0;
}
