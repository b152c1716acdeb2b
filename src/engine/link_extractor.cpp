#include "engine/link_extractor.h"

#include <array>
#include <climits>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/messages.h"
#include "engine/work_queue.h"

namespace tarnwick {
namespace {

struct Marker {
  std::string_view text;
  bool followed;  // a link to follow goes one level deeper; an embedded file stays on the page's
};

// Scanned in this order, so every "href=" link is posted before any "HREF=" link.
constexpr std::array<Marker, 4> kMarkers{{
    {"href=", true},
    {"HREF=", true},
    {"src=", false},
    {"SRC=", false},
}};

constexpr std::string_view kLinkTerminators = "\"?#> ";
constexpr std::string_view kHttpPrefix = "http://";
constexpr std::size_t kMaxNormalizedSegments = 30;

bool startsWith(const ByteString& text, std::string_view prefix) {
  return text.view().starts_with(prefix);
}

// The page URL without query or fragment, cut after its last "/".
ByteString pageDirectory(const ByteString& pageUrl) {
  const int queryOrFragment = pageUrl.findOneOf("?#");
  const ByteString path = queryOrFragment < 0 ? pageUrl : pageUrl.left(queryOrFragment);
  return path.left(path.findLast('/') + 1);
}

// Everything that is not recognisably absolute hangs below the page directory, a
// leading "/" included.
ByteString resolveLink(ByteString link, const ByteString& directory) {
  if (link.find(kHttpPrefix) >= 0) return link;
  if (startsWith(link, "./")) return directory + link.mid(2);
  if (startsWith(link, "/")) return directory + link.mid(1);
  return directory + link;
}

// Finds where a link value ends. Remembers its last answer: a later start that lies
// before that terminator ends at the same place, so a page full of markers without
// nearby terminators is still scanned once per pass, not once per marker.
class TerminatorFinder {
 public:
  explicit TerminatorFinder(const ByteString& text) : text_(text) {}

  int endFrom(int start) {
    const bool cached = start >= searchedFrom_ && (found_ < 0 || start <= found_);
    if (!cached) {
      searchedFrom_ = start;
      found_ = text_.findOneOf(kLinkTerminators, start);
    }
    return found_;
  }

 private:
  const ByteString& text_;
  int searchedFrom_ = INT_MAX;
  int found_ = -1;
};

}  // namespace

void LinkExtractor::extractLinks(std::int32_t id, std::uint8_t depth, const ByteString& pageUrl,
                                 const ByteString& pageText) {
  const ByteString directory = pageDirectory(pageUrl);
  TerminatorFinder terminators(pageText);
  for (const Marker& marker : kMarkers) {
    // A followed link of a page at depth 255 would need depth 256.
    if (marker.followed && depth == UINT8_MAX) continue;
    const auto linkDepth = static_cast<std::uint8_t>(marker.followed ? depth + 1 : depth);
    const int markerLength = static_cast<int>(marker.text.size());
    for (int at = pageText.find(marker.text); at >= 0; at = pageText.find(marker.text, at + 1)) {
      // The marker is ASCII, so the byte behind it starts a character.
      int start = at + markerLength;
      if (start < pageText.length() && pageText[start] == '"') ++start;
      const int end = terminators.endFrom(start);
      if (end < 0) break;  // no later occurrence can find a terminator either
      if (end - start > kMaxLinkLength) continue;

      auto found = std::make_unique<LinkFoundPayload>();
      found->depth = linkDepth;
      found->url = resolveLink(pageText.mid(start, end - start), directory);
      normalizeUrl(found->url);
      found->parent = id;
      workQueue_.post(LinkFound, std::move(found));
    }
  }
}

void LinkExtractor::normalizeUrl(ByteString& url) {
  if (!startsWith(url, kHttpPrefix)) return;
  const int hostEnd = url.find('/', static_cast<int>(kHttpPrefix.size()) + 1);
  if (hostEnd < 0) {
    url += '/';
    return;
  }

  // Only a segment holding a dot changes anything; most links have none.
  const int firstDot = url.find('.', hostEnd + 1);
  if (firstDot < 0 || firstDot > url.findLast('/')) return;

  std::vector<ByteString> segments;
  int fileStart = hostEnd + 1;
  for (int slash = url.find('/', fileStart); slash >= 0; slash = url.find('/', fileStart)) {
    segments.push_back(url.mid(fileStart, slash - fileStart));
    if (segments.size() == kMaxNormalizedSegments) return;
    fileStart = slash + 1;
  }

  // From the file back to the host: a segment holding ".." cancels the next kept name
  // above it; steps above the host are ignored.
  std::vector<const ByteString*> keptFromLast;
  int pendingSteps = 0;
  for (auto segment = segments.rbegin(); segment != segments.rend(); ++segment) {
    if (segment->find("..") >= 0) {
      ++pendingSteps;
    } else if (segment->find('.') >= 0) {
      continue;
    } else if (pendingSteps > 0) {
      --pendingSteps;
    } else {
      keptFromLast.push_back(&*segment);
    }
  }

  ByteString normalized = url.left(hostEnd + 1);
  for (auto kept = keptFromLast.rbegin(); kept != keptFromLast.rend(); ++kept) {
    normalized += **kept;
    normalized += '/';
  }
  normalized += url.mid(fileStart);
  url = std::move(normalized);
}

}  // namespace tarnwick
