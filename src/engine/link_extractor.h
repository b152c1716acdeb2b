#pragma once

#include <cstdint>

#include "engine/crawl_components.h"
#include "text/byte_string.h"

namespace tarnwick {

class WorkQueue;

// Turns the text of a fetched page into one LinkFound per link written behind "href=",
// "HREF=", "src=" or "SRC=". A plain text scanner: tags, comments and scripts do not
// matter, and neither host nor scheme is restricted (the download filter decides).
// Keeps no state between pages; runs on the worker thread.
class LinkExtractor final : public Extractor {
 public:
  // Links longer than this are not posted: no real URL is that long, and the engine
  // copies every URL several times on its way to the table.
  static constexpr int kMaxLinkLength = 64 * 1024;

  explicit LinkExtractor(WorkQueue& workQueue) : workQueue_(workQueue) {}

  void extractLinks(std::int32_t id, std::uint8_t depth, const ByteString& pageUrl,
                    const ByteString& pageText) override;

  // Removes the directory segments that are exactly "." or ".." from an absolute
  // "http://" URL in place and gives a bare host its "/". Steps above the host are
  // ignored; URLs with 30 or more directory segments and URLs of other schemes are left
  // alone.
  static void normalizeUrl(ByteString& url);

 private:
  WorkQueue& workQueue_;
};

}  // namespace tarnwick
