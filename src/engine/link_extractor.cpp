#include "engine/link_extractor.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/messages.h"
#include "engine/url_text.h"
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
// A value opened with a single quote also ends at the closing one.
constexpr std::string_view kSingleQuotedTerminators = "\"?#> '";
constexpr std::string_view kHttpPrefix = "http://";
constexpr std::string_view kHttpsPrefix = "https://";
constexpr std::size_t kMaxNormalizedSegments = 30;

// The host[:port] of an "http://" or "https://" URL without "user:password@", in lower
// case, so that both schemes of one server compare equal; empty for anything else.
ByteString hostKeyOf(const ByteString& url) {
  const UrlAuthority authority = authorityOf(url);
  if (authority.begin == 0) return {};
  ByteString host = url.mid(authority.host, authority.end - authority.host);
  host.makeLower();
  return host;
}

// What the links of one page resolve against.
struct PageBase {
  ByteString itself;        // the page URL without query and fragment
  ByteString directory;     // `itself` cut after its last "/"
  ByteString root;          // scheme and host[:port], then "/"
  std::string_view scheme;  // "http:" or "https:", for links that begin with "//"
};

PageBase pageBaseOf(const ByteString& pageUrl) {
  PageBase page;
  const int queryOrFragment = pageUrl.findOneOf("?#");
  page.itself = queryOrFragment < 0 ? pageUrl : pageUrl.left(queryOrFragment);
  page.directory = page.itself.left(page.itself.findLast('/') + 1);
  page.root = page.itself.left(authorityOf(page.itself).end) + "/";
  page.scheme = schemeLength(page.itself.view()) == kHttpsPrefix.size() ? "https:" : "http:";
  return page;
}

// The scheme prefix a link starts with, in lower case, whatever case it is written in.
std::string_view linkScheme(std::string_view link, bool allowHttps) {
  if (startsWithIgnoringCase(link, kHttpPrefix)) return kHttpPrefix;
  if (allowHttps && startsWithIgnoringCase(link, kHttpsPrefix)) return kHttpsPrefix;
  return {};
}

// Whether `text` occurs in the link starting on a character, not on a trail byte.
bool containsOnCharStart(std::string_view link, std::string_view text) {
  // The plain byte search rules most links out before the character-aware one runs.
  return link.find(text) != std::string_view::npos && ByteString(link).find(text) >= 0;
}

// The link made absolute, before normalisation. The result is built in one allocation:
// a page may hold thousands of links.
ByteString absoluteLink(std::string_view link, const PageBase& page, bool allowHttps) {
  std::string_view head = page.directory.view();
  if (const std::string_view scheme = linkScheme(link, allowHttps); !scheme.empty()) {
    head = scheme;
    link.remove_prefix(scheme.size());
  } else if (containsOnCharStart(link, kHttpPrefix) ||
             (allowHttps && containsOnCharStart(link, kHttpsPrefix))) {
    // An absolute URL behind some prefix stays as it is, for the filter to refuse.
    head = {};
  } else if (link.starts_with("//")) {
    head = page.scheme;
  } else if (link.starts_with("/")) {
    head = page.root.view();
    link.remove_prefix(1);
  } else if (link.starts_with("./")) {
    link.remove_prefix(2);
  }
  ByteString absolute;
  absolute.reserve(head.size() + link.size());
  absolute += head;
  absolute += link;
  return absolute;
}

ByteString resolveLink(std::string_view link, const PageBase& page, bool allowHttps) {
  // An empty value, left by a fragment or query alone, names the page itself, which is
  // in the table already; normalising it could turn the start URL into a new one.
  if (link.empty()) return page.itself;
  ByteString url = absoluteLink(link, page, allowHttps);
  LinkExtractor::normalizeUrl(url);
  return url;
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
  TerminatorFinder(const ByteString& text, std::string_view terminators)
      : text_(text), terminators_(terminators) {}

  int endFrom(int start) {
    const bool cached = start >= searchedFrom_ && (found_ < 0 || start <= found_);
    if (!cached) {
      searchedFrom_ = start;
      found_ = text_.findOneOf(terminators_, start);
    }
    return found_;
  }

 private:
  const ByteString& text_;
  std::string_view terminators_;
  int searchedFrom_ = INT_MAX;
  int found_ = -1;
};

// Reads the value written right behind a marker, in double quotes, single quotes or none.
class LinkValueReader {
 public:
  explicit LinkValueReader(const ByteString& text)
      : text_(text),
        doubleOrUnquoted_(text, kLinkTerminators),
        singleQuoted_(text, kSingleQuotedTerminators) {}

  // The value from `start` (just behind the marker's "=") up to its terminator; none
  // when no terminator follows or the value is too long to be a link.
  std::optional<std::string_view> valueFrom(int start) {
    // The marker is ASCII, so the byte behind it starts a character.
    const char opening = start < text_.length() ? text_[start] : '\0';
    if (opening == '"' || opening == '\'') ++start;
    const int end = (opening == '\'' ? singleQuoted_ : doubleOrUnquoted_).endFrom(start);
    if (end < 0 || end - start > LinkExtractor::kMaxLinkLength) return std::nullopt;
    return text_.view().substr(static_cast<std::size_t>(start),
                               static_cast<std::size_t>(end - start));
  }

 private:
  const ByteString& text_;
  TerminatorFinder doubleOrUnquoted_;
  TerminatorFinder singleQuoted_;
};

// The directory segments of an "http://" or "https://" URL, found in one walk over its
// characters. "/" is a single-byte character, but a byte of its value right behind a
// lead byte is the second half of a double-byte character and separates nothing.
struct UrlParts {
  std::size_t hostEnd = std::string_view::npos;  // the "/" after the host, if any
  std::size_t fileStart = 0;
  std::array<std::string_view, kMaxNormalizedSegments> segments;
  std::size_t segmentCount = 0;  // kMaxNormalizedSegments: too deep to normalise
};

UrlParts splitUrl(std::string_view bytes, std::size_t scheme) {
  UrlParts parts;
  for (std::size_t at = scheme; at < bytes.size();) {
    // Plain ASCII bytes other than "/" are skipped in a tight loop.
    const auto plain = [](char byte) {
      return byte != '/' && static_cast<unsigned char>(byte) < 0x80;
    };
    while (at < bytes.size() && plain(bytes[at])) ++at;
    if (at == bytes.size()) break;
    const char c = bytes[at];
    if (c == '/' && at > scheme) {
      if (parts.hostEnd == std::string_view::npos) {
        parts.hostEnd = at;
      } else {
        parts.segments[parts.segmentCount] = bytes.substr(parts.fileStart, at - parts.fileStart);
        if (++parts.segmentCount == kMaxNormalizedSegments) return parts;
      }
      parts.fileStart = at + 1;
    }
    at += ByteString::isLeadByte(static_cast<unsigned char>(c)) && at + 1 < bytes.size() ? 2 : 1;
  }
  return parts;
}

}  // namespace

LinkExtractor::LinkExtractor(WorkQueue& workQueue, const LinkOptions& options)
    : workQueue_(workQueue), allowHttps_(options.allowHttps) {
  if (options.sameHostOnly) followedHost_ = hostKeyOf(options.startUrl);
}

void LinkExtractor::extractLinks(std::int32_t id, std::uint8_t depth, const ByteString& pageUrl,
                                 const ByteString& pageText) {
  const PageBase page = pageBaseOf(pageUrl);
  const auto referrer = std::make_shared<const ByteString>(pageUrl);
  const MarkerPositions positions = findMarkers(pageText);
  LinkValueReader values(pageText);
  for (std::size_t pass = 0; pass < kMarkers.size(); ++pass) {
    const Marker& marker = kMarkers[pass];
    // A followed link of a page at depth 255 would need depth 256.
    if (marker.followed && depth == UINT8_MAX) continue;
    const auto linkDepth = static_cast<std::uint8_t>(marker.followed ? depth + 1 : depth);
    const int markerLength = static_cast<int>(marker.text.size());
    for (const int at : positions[pass]) {
      const std::optional<std::string_view> value = values.valueFrom(at + markerLength);
      if (!value) continue;
      ByteString url = resolveLink(*value, page, allowHttps_);
      if (url.view().size() > kMaxUrlLength) continue;
      if (marker.followed && followedHost_ && hostKeyOf(url) != *followedHost_) continue;

      auto found = std::make_unique<LinkFoundPayload>();
      found->depth = linkDepth;
      found->url = std::move(url);
      found->parent = id;
      found->referrer = referrer;
      workQueue_.post(WorkCode::LinkFound, std::move(found));
    }
  }
}

void LinkExtractor::normalizeUrl(ByteString& url) {
  const std::string_view bytes = url.view();
  const std::size_t scheme = schemeLength(bytes);
  if (scheme == 0) return;

  const UrlParts parts = splitUrl(bytes, scheme);
  if (parts.hostEnd == std::string_view::npos) {
    url += '/';
    return;
  }
  const auto segments = std::span(parts.segments).first(parts.segmentCount);
  const auto isDotSegment = [](std::string_view name) { return name == "." || name == ".."; };
  if (parts.segmentCount == kMaxNormalizedSegments ||
      std::none_of(segments.begin(), segments.end(), isDotSegment)) {
    return;
  }

  // From the file back to the host: each ".." cancels the next kept name above it; steps
  // above the host are ignored.
  std::array<bool, kMaxNormalizedSegments> kept{};
  int pendingSteps = 0;
  for (std::size_t i = segments.size(); i-- > 0;) {
    if (segments[i] == "..") {
      ++pendingSteps;
    } else if (segments[i] == ".") {
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
    normalized += segments[i];
    normalized += '/';
  }
  normalized += bytes.substr(parts.fileStart);
  url = std::move(normalized);
}

}  // namespace tarnwick
