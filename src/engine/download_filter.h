#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/messages.h"
#include "text/byte_string.h"

namespace tarnwick {

class WorkQueue;

// The eight download categories; the numbers are stored values and the row order of the
// window's check boxes and of the job.
enum class FileCategory : std::int32_t {
  html = 0,
  txt = 1,
  img = 2,
  midi = 3,
  audio = 4,
  video = 5,
  realone = 6,
  zip = 7,
};

inline constexpr std::size_t kFileCategoryCount = 8;

// The word naming each category, in category order: the stored settings keys and the
// command line's options are built from it.
inline constexpr std::array<std::string_view, kFileCategoryCount> kFileCategoryTags = {
    "html", "txt", "img", "midi", "audio", "video", "realone", "zip"};

// The category of a lower-case extension such as "jpg", or none when it is not listed.
std::optional<FileCategory> categoryOfExtension(std::string_view lowerExtension);

// The extension of a URL's last path segment, in the URL's own letter case: the text after
// the last "." up to a "?" or "#", "html" for a URL ending in "/", empty when there is none.
ByteString extensionOf(const ByteString& url);

// Decides for every URL offered to the crawl whether it enters the URL table, and with
// which flags and size threshold; posts AddEntry for each one wanted. Worker thread only.
class DownloadFilter {
 public:
  explicit DownloadFilter(WorkQueue& workQueue);

  void setMaxDepth(std::uint8_t depth) { maxDepth_ = depth; }
  // Lets "https://" URLs in wherever "http://" ones are.
  void setAllowHttps(bool allow) { allowHttps_ = allow; }
  // HTML stays enabled and followed whatever is passed; other categories never follow links.
  // Category numbers of 9 and more are ignored.
  void setCategory(std::uint32_t category, std::uint32_t minSize, std::int32_t flags,
                   std::int32_t enabled);
  // Posts AddEntry for an "http://" (or allowed "https://") URL of an enabled category within
  // the depth limit; anything else is dropped without trace. `referrer` is the URL of the
  // page on which the link stood (the start URL's own).
  void classify(std::uint8_t depth, const ByteString& url, std::int32_t parent,
                const SharedUrl& referrer);

 private:
  // One slot per category plus a spare one that no extension reaches.
  static constexpr std::size_t kSlots = kFileCategoryCount + 1;

  WorkQueue& workQueue_;
  std::uint8_t maxDepth_ = 0;
  bool allowHttps_ = false;
  std::array<std::uint32_t, kSlots> minSize_{};
  std::array<std::int32_t, kSlots> flags_{};
  std::array<std::int32_t, kSlots> enabled_{};
};

}  // namespace tarnwick
