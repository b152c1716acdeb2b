#include "engine/download_filter.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/url_text.h"
#include "engine/work_queue.h"

namespace tarnwick {

namespace {

using Extension = std::pair<std::string_view, FileCategory>;

// In order of testing: category by category, and within one in this order.
constexpr std::array<Extension, 53> kExtensions{{
    {"html", FileCategory::html},   {"shtml", FileCategory::html},   {"htm", FileCategory::html},
    {"txt", FileCategory::txt},     {"log", FileCategory::txt},      {"dat", FileCategory::txt},
    {"doc", FileCategory::txt},     {"csv", FileCategory::txt},      {"pdf", FileCategory::txt},
    {"jpg", FileCategory::img},     {"jpeg", FileCategory::img},     {"jpe", FileCategory::img},
    {"jfif", FileCategory::img},    {"gif", FileCategory::img},      {"png", FileCategory::img},
    {"bmp", FileCategory::img},     {"dib", FileCategory::img},      {"tif", FileCategory::img},
    {"tiff", FileCategory::img},    {"mid", FileCategory::midi},     {"rmi", FileCategory::midi},
    {"midi", FileCategory::midi},   {"mp3", FileCategory::audio},    {"wav", FileCategory::audio},
    {"snd", FileCategory::audio},   {"au", FileCategory::audio},     {"aif", FileCategory::audio},
    {"aifc", FileCategory::audio},  {"aiff", FileCategory::audio},   {"wma", FileCategory::audio},
    {"avi", FileCategory::video},   {"wmv", FileCategory::video},    {"mpg", FileCategory::video},
    {"mpeg", FileCategory::video},  {"m1v", FileCategory::video},    {"mp2", FileCategory::video},
    {"rm", FileCategory::realone},  {"rmx", FileCategory::realone},  {"rmj", FileCategory::realone},
    {"rms", FileCategory::realone}, {"ra", FileCategory::realone},   {"rv", FileCategory::realone},
    {"mnd", FileCategory::realone}, {"mns", FileCategory::realone},  {"rpm", FileCategory::realone},
    {"smi", FileCategory::realone}, {"smil", FileCategory::realone}, {"zip", FileCategory::zip},
    {"lzh", FileCategory::zip},     {"rar", FileCategory::zip},      {"tar", FileCategory::zip},
    {"gz", FileCategory::zip},      {"bz2", FileCategory::zip},
}};

constexpr std::int32_t withoutFollowLinks(std::int32_t flags) {
  return flags & ~CrawlFlags::FollowLinks;
}

// The text strictly between `dot` and `end`, or empty when `end` does not follow `dot`.
ByteString textBetween(const ByteString& url, int dot, int end) {
  return end > dot ? url.mid(dot + 1, end - dot - 1) : ByteString();
}

}  // namespace

std::optional<FileCategory> categoryOfExtension(std::string_view lowerExtension) {
  for (const auto& [extension, category] : kExtensions) {
    if (extension == lowerExtension) {
      return category;
    }
  }
  return std::nullopt;
}

ByteString extensionOf(const ByteString& url) {
  const int slash = url.findLast('/');
  const int dot = url.findLast('.');
  const int query = url.findLast('?');
  const int fragment = url.findLast('#');
  if (slash >= 0 && slash == url.length() - 1) {
    return ByteString("html");
  }
  if (slash < 0 || dot < slash) {
    return ByteString();
  }
  if (query < 0 && fragment < 0) {
    return url.mid(dot + 1);
  }
  if (query < 0 || fragment < 0) {
    return textBetween(url, dot, query < 0 ? fragment : query);
  }
  return textBetween(url, dot, std::min(query, fragment));
}

DownloadFilter::DownloadFilter(WorkQueue& workQueue) : workQueue_(workQueue) {
  const auto html = static_cast<std::size_t>(FileCategory::html);
  flags_[html] = CrawlFlags::FollowLinks;
  enabled_[html] = 1;
}

void DownloadFilter::setCategory(std::uint32_t category, std::uint32_t minSize, std::int32_t flags,
                                 std::int32_t enabled) {
  if (category >= kSlots) {
    return;
  }
  const bool html = category == static_cast<std::uint32_t>(FileCategory::html);
  flags_[category] = withoutFollowLinks(flags) | (html ? CrawlFlags::FollowLinks : 0);
  minSize_[category] = minSize;
  enabled_[category] = html ? 1 : enabled;
}

void DownloadFilter::classify(std::uint8_t depth, const ByteString& url, std::int32_t parent,
                              const SharedUrl& referrer) {
  if (schemeLength(url.view(), allowHttps_) == 0) {
    return;
  }
  ByteString extension = extensionOf(url);
  extension.makeLower();
  const std::optional<FileCategory> category = categoryOfExtension(extension.view());
  if (!category) {
    return;
  }
  const auto slot = static_cast<std::size_t>(*category);
  if (enabled_[slot] == 0 || depth > maxDepth_) {
    return;
  }
  auto entry = std::make_unique<AddEntryPayload>();
  entry->depth = depth;
  entry->url = url;
  entry->parent = parent;
  entry->flags = flags_[slot];
  entry->minSize = minSize_[slot];
  entry->referrer = referrer;
  workQueue_.post(WorkCode::AddEntry, std::move(entry));
}

}  // namespace tarnwick
