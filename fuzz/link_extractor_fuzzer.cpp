// extractLinks and normalizeUrl on arbitrary page text: no crash, every posted URL is a
// link of the page resolved against the page's directory, in the order of the four
// marker passes, and the work stays bounded by the text.
//
// Input: one byte for the page's depth, the page URL up to the first NUL, then the text.

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

std::string pageDirectory(std::string_view pageUrl) {
  const int cut = referenceFindOneOf(pageUrl, "?#", 0);
  const std::string_view path = cut < 0 ? pageUrl : pageUrl.substr(0, cut);
  return std::string(path.substr(0, static_cast<std::size_t>(referenceFindLast(path, '/') + 1)));
}

std::string resolve(std::string_view link, const std::string& directory) {
  if (referenceFind(link, "http://", 0) >= 0) return std::string(link);
  if (link.starts_with("./")) return directory + std::string(link.substr(2));
  if (link.starts_with("/")) return directory + std::string(link.substr(1));
  return directory + std::string(link);
}

// The links of the page the slow way: every marker occurrence on a character start, its
// value up to the first terminator, resolved and then normalised.
std::vector<ExpectedLink> expectedLinks(std::uint8_t depth, std::string_view pageUrl,
                                        std::string_view text) {
  const std::string directory = pageDirectory(pageUrl);
  const std::vector<bool> starts = characterStarts(text);
  std::vector<ExpectedLink> links;
  for (const std::string_view marker : {"href=", "HREF=", "src=", "SRC="}) {
    const bool followed = marker[0] == 'h' || marker[0] == 'H';
    if (followed && depth == UINT8_MAX) continue;
    for (std::size_t at = 0; at + marker.size() <= text.size(); ++at) {
      if (!starts[at] || !text.substr(at).starts_with(marker)) continue;
      std::size_t start = at + marker.size();
      if (start < text.size() && text[start] == '"') ++start;
      std::size_t end = start;
      while (end < text.size() && !(starts[end] && starts[end + 1] &&
                                    kTerminators.find(text[end]) != std::string_view::npos)) {
        ++end;
      }
      if (end == text.size()) break;
      const std::size_t length = end - start;
      if (length > static_cast<std::size_t>(LinkExtractor::kMaxLinkLength)) continue;
      ByteString url(resolve(text.substr(start, length), directory));
      LinkExtractor::normalizeUrl(url);
      links.push_back({static_cast<std::uint8_t>(followed ? depth + 1 : depth), url.str()});
    }
  }
  return links;
}

// Below the host, a normalised URL keeps no directory segment holding a dot, unless it
// had too many segments to be normalised at all. A "/" that trails a lead byte belongs
// to that character and separates nothing.
// An empty host ("http:///") is exempt: no "/" follows it at position 8 or later, so
// every pass takes the URL for a bare host and adds a "/"; the fetcher refuses it anyway.
void checkNormalized(const ByteString& url) {
  const std::string_view text = url.view();
  if (!text.starts_with("http://") || text.starts_with("http:///")) return;
  ByteString again = url;
  LinkExtractor::normalizeUrl(again);
  require(again == url, "normalizeUrl is not idempotent");
  const int hostEnd = referenceFind(text, "/", 8);
  require(hostEnd >= 0, "normalised URL without a path");
  std::size_t segments = 0;
  bool dotted = false;
  for (int from = hostEnd + 1, slash; (slash = referenceFind(text, "/", from)) >= 0;
       from = slash + 1) {
    ++segments;
    dotted = dotted || referenceFind(text.substr(0, slash), ".", from) >= 0;
  }
  require(!dotted || segments >= 30, "dotted directory left in a normalised URL");
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  if (size < 1) return 0;
  const std::uint8_t depth = data[0];
  const auto [pageUrl, text] =
      splitAtFirstNul(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  static WorkQueue queue;  // 262,144 slots: too many to allocate for every input
  LinkExtractor extractor(queue);
  extractor.extractLinks(kPageId, depth, ByteString(pageUrl), ByteString(text));

  const std::vector<ExpectedLink> expected = expectedLinks(depth, pageUrl, text);
  require(queue.size() == expected.size(), "number of posted links");
  for (const ExpectedLink& link : expected) {
    WorkMessage message;
    queue.take(message);
    require(message.code == WorkCode::LinkFound, "posted something other than LinkFound");
    const auto& found = message.as<LinkFoundPayload>();
    require(found.parent == kPageId, "parent is not the page's id");
    require(found.depth == link.depth, "depth of a posted link");
    require(found.url.view() == link.url, "posted URL is not the resolved link");
    checkNormalized(found.url);
  }
  return 0;
}
