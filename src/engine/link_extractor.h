#pragma once

#include <cstdint>
#include <optional>

#include "engine/crawl_components.h"
#include "text/byte_string.h"

namespace tarnwick {

class WorkQueue;

// What a run lets the extractor post beyond plain "http://" links to any host.
struct LinkOptions {
  bool allowHttps = false;
  // Links to follow stay on the host[:port] of startUrl; embedded files may come from
  // anywhere, since images often live on another host.
  bool sameHostOnly = false;
  ByteString startUrl;
};

// Turns the text of a fetched page into one LinkFound per link written behind "href=",
// "HREF=", "src=" or "SRC=". A plain text scanner: tags, comments and scripts do not
// matter. Keeps no state between pages; runs on the worker thread.
class LinkExtractor final : public Extractor {
 public:
  // Link values longer than this are not even resolved.
  static constexpr int kMaxLinkLength = 64 * 1024;
  // Resolved links longer than this are not posted: no real URL is that long, and every
  // URL waiting in the engine costs memory.
  static constexpr std::size_t kMaxUrlLength = 8192;

  explicit LinkExtractor(WorkQueue& workQueue, const LinkOptions& options = {});

  void extractLinks(std::int32_t id, std::uint8_t depth, const ByteString& pageUrl,
                    const ByteString& pageText) override;

  // Removes the directory segments that are exactly "." or ".." from an absolute
  // "http://" or "https://" URL in place and gives a bare host its "/". Steps above the
  // host are ignored; URLs with 30 or more directory segments and URLs of other schemes
  // are left alone.
  static void normalizeUrl(ByteString& url);

 private:
  WorkQueue& workQueue_;
  bool allowHttps_;
  std::optional<ByteString> followedHost_;  // set: links to follow must stay on this host
};

}  // namespace tarnwick
