#include "engine/link_extractor.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <span>
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

// The page URL without query or fragment, cut after its last "/".
ByteString pageDirectory(const ByteString& pageUrl) {
  const int queryOrFragment = pageUrl.findOneOf("?#");
  const ByteString path = queryOrFragment < 0 ? pageUrl : pageUrl.left(queryOrFragment);
  return path.left(path.findLast('/') + 1);
}

// Everything that is not recognisably absolute hangs below the page directory, a
// leading "/" included. The result is built in one allocation: a page may hold
// thousands of links.
ByteString resolveLink(ByteString link, const ByteString& directory) {
  // The plain byte search rules most links out before the character-aware one runs.
  if (link.view().find(kHttpPrefix) != std::string_view::npos && link.find(kHttpPrefix) >= 0) {
    return link;
  }
  std::string_view rest = link.view();
  if (rest.starts_with("./")) {
    rest.remove_prefix(2);
  } else if (rest.starts_with("/")) {
    rest.remove_prefix(1);
  }
  ByteString resolved;
  resolved.reserve(static_cast<std::size_t>(directory.length()) + rest.size());
  resolved += directory;
  resolved += rest;
  return resolved;
}

using MarkerPositions = std::array<std::vector<int>, kMarkers.size()>;

// Every occurrence of each marker, in text order, from one sweep over the page's "="
// signs: each marker ends in "=", and "=" is never part of a double-byte character, so
// only the marker's first byte needs the boundary check that ByteString::find makes.
// One sweep instead of four substring searches over the whole page.
MarkerPositions findMarkers(const ByteString& text) {
  MarkerPositions positions;
  const std::string_view bytes = text.view();
  for (std::size_t sign = bytes.find('='); sign != std::string_view::npos;
       sign = bytes.find('=', sign + 1)) {
    for (std::size_t marker = 0; marker < kMarkers.size(); ++marker) {
      const std::string_view markerText = kMarkers[marker].text;
      if (sign + 1 < markerText.size()) continue;
      const std::size_t at = sign + 1 - markerText.size();
      if (bytes.compare(at, markerText.size(), markerText) == 0) {
        // The markers differ before their "=", so at most one can end here.
        if (text.isCharBoundary(static_cast<int>(at)))
          positions[marker].push_back(static_cast<int>(at));
        break;
      }
    }
  }
  return positions;
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

// The parts of an "http://" URL that normalisation looks at, found in one walk over its
// characters. "/" and "." are single-byte characters, but a byte of either value right
// behind a lead byte is the second half of a double-byte character and counts as neither.
struct UrlParts {
  struct Segment {
    std::string_view name;
    bool dotted = false;
    bool stepsUp = false;  // holds ".."
  };
  std::size_t hostEnd = std::string_view::npos;  // the "/" after the host, if any
  std::size_t fileStart = 0;
  std::array<Segment, kMaxNormalizedSegments> segments;
  std::size_t segmentCount = 0;  // kMaxNormalizedSegments: too deep to normalise
};

UrlParts splitUrl(std::string_view bytes) {
  UrlParts parts;
  for (std::size_t at = kHttpPrefix.size(); at < bytes.size();) {
    // Plain ASCII bytes other than the two separators are skipped in a tight loop.
    const auto plain = [](char byte) {
      return byte != '/' && byte != '.' && static_cast<unsigned char>(byte) < 0x80;
    };
    while (at < bytes.size() && plain(bytes[at])) ++at;
    if (at == bytes.size()) break;
    const char c = bytes[at];
    if (c == '/' && at > kHttpPrefix.size()) {
      if (parts.hostEnd == std::string_view::npos) {
        parts.hostEnd = at;
      } else {
        parts.segments[parts.segmentCount].name =
            bytes.substr(parts.fileStart, at - parts.fileStart);
        if (++parts.segmentCount == kMaxNormalizedSegments) return parts;
      }
      parts.fileStart = at + 1;
    } else if (c == '.' && parts.hostEnd != std::string_view::npos) {
      auto& current = parts.segments[parts.segmentCount];
      current.stepsUp = current.stepsUp || (at + 1 < bytes.size() && bytes[at + 1] == '.');
      current.dotted = true;
    }
    at += ByteString::isLeadByte(static_cast<unsigned char>(c)) && at + 1 < bytes.size() ? 2 : 1;
  }
  return parts;
}

}  // namespace

void LinkExtractor::extractLinks(std::int32_t id, std::uint8_t depth, const ByteString& pageUrl,
                                 const ByteString& pageText) {
  const ByteString directory = pageDirectory(pageUrl);
  const auto referrer = std::make_shared<const ByteString>(pageUrl);
  const MarkerPositions positions = findMarkers(pageText);
  TerminatorFinder terminators(pageText);
  for (std::size_t pass = 0; pass < kMarkers.size(); ++pass) {
    const Marker& marker = kMarkers[pass];
    // A followed link of a page at depth 255 would need depth 256.
    if (marker.followed && depth == UINT8_MAX) continue;
    const auto linkDepth = static_cast<std::uint8_t>(marker.followed ? depth + 1 : depth);
    const int markerLength = static_cast<int>(marker.text.size());
    for (const int at : positions[pass]) {
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
      found->referrer = referrer;
      workQueue_.post(WorkCode::LinkFound, std::move(found));
    }
  }
}

void LinkExtractor::normalizeUrl(ByteString& url) {
  if (!url.view().starts_with(kHttpPrefix)) return;
  const std::string_view bytes = url.view();

  const UrlParts parts = splitUrl(bytes);
  if (parts.hostEnd == std::string_view::npos) {
    url += '/';
    return;
  }
  const auto segments = std::span(parts.segments).first(parts.segmentCount);
  // Only a segment holding a dot changes anything; most links have none.
  if (parts.segmentCount == kMaxNormalizedSegments ||
      std::none_of(segments.begin(), segments.end(), [](const auto& s) { return s.dotted; })) {
    return;
  }

  // From the file back to the host: a segment holding ".." cancels the next kept name
  // above it; steps above the host are ignored.
  std::array<bool, kMaxNormalizedSegments> kept{};
  int pendingSteps = 0;
  for (std::size_t i = segments.size(); i-- > 0;) {
    if (segments[i].stepsUp) {
      ++pendingSteps;
    } else if (segments[i].dotted) {
      continue;
    } else if (pendingSteps > 0) {
      --pendingSteps;
    } else {
      kept[i] = true;
    }
  }

  ByteString normalized(bytes.substr(0, parts.hostEnd + 1));
  normalized.reserve(bytes.size());
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (!kept[i]) continue;
    normalized += segments[i].name;
    normalized += '/';
  }
  normalized += bytes.substr(parts.fileStart);
  url = std::move(normalized);
}

}  // namespace tarnwick
