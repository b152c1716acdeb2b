// extensionOf and DownloadFilter::classify on arbitrary URLs, checked against the
// extension rule written out plainly: last "/", last "." and the first of "?" and "#"
// after it, each found on a character start.
//
// Input: the depth limit, the URL's depth, a mask of enabled categories (bit c for
// category c; HTML is always on), then the URL.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/download_filter.h"
#include "engine/messages.h"
#include "engine/work_queue.h"
#include "fuzz_support.h"

namespace tarnwick::fuzz {
namespace {

std::string referenceExtension(std::string_view url) {
  const int slash = referenceFindLast(url, '/');
  const int dot = referenceFindLast(url, '.');
  if (slash >= 0 && slash + 1 == static_cast<int>(url.size())) return "html";
  if (slash < 0 || dot < slash) return {};
  // The first of the last "?" and the last "#" ends the extension.
  std::optional<int> end;
  for (const char cut : {'?', '#'}) {
    const int at = referenceFindLast(url, cut);
    if (at >= 0 && (!end || at < *end)) end = at;
  }
  const auto from = static_cast<std::size_t>(dot) + 1;
  if (!end) return std::string(url.substr(from));
  if (*end <= dot) return {};
  return std::string(url.substr(from, static_cast<std::size_t>(*end) - from));
}

// Only ASCII capitals can turn into a listed extension, and only as whole characters.
std::string asciiLower(std::string_view text) {
  const std::vector<bool> starts = characterStarts(text);
  std::string lower(text);
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (starts[pos] && starts[pos + 1] && text[pos] >= 'A' && text[pos] <= 'Z') {
      lower[pos] = static_cast<char>(text[pos] - 'A' + 'a');
    }
  }
  return lower;
}

std::uint32_t thresholdOf(std::size_t category) { return 1024 * (category + 1); }

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  if (size < 3) return 0;
  const std::uint8_t maxDepth = data[0], depth = data[1], enabledMask = data[2];
  const ByteString url(std::string_view(reinterpret_cast<const char*>(data) + 3, size - 3));

  const std::string extension = referenceExtension(url.view());
  require(extensionOf(url).view() == extension, "extensionOf");

  static WorkQueue queue;  // 262,144 slots: too many to allocate for every input
  DownloadFilter filter(queue);
  filter.setMaxDepth(maxDepth);
  for (std::size_t category = 0; category < kFileCategoryCount; ++category) {
    filter.setCategory(static_cast<std::uint32_t>(category), thresholdOf(category),
                       CrawlFlags::SaveIfAtLeast, (enabledMask >> category) & 1);
  }
  filter.classify(depth, url, 7, nullptr);

  const std::optional<FileCategory> category = categoryOfExtension(asciiLower(extension));
  const auto slot = category ? static_cast<std::size_t>(*category) : 0;
  const bool wanted = url.view().starts_with("http://") && category && depth <= maxDepth &&
                      (slot == 0 || ((enabledMask >> slot) & 1) != 0);
  require(queue.size() == (wanted ? 1u : 0u), "classify posted the wrong number of entries");
  if (!wanted) return 0;
  WorkMessage message;
  queue.take(message);
  const auto& entry = message.as<AddEntryPayload>();
  require(message.code == WorkCode::AddEntry && entry.url == url && entry.depth == depth &&
              entry.parent == 7 && entry.done == 0,
          "AddEntry fields");
  require(entry.flags == (slot == 0 ? CrawlFlags::FollowLinks | CrawlFlags::SaveIfAtLeast
                                    : CrawlFlags::SaveIfAtLeast),
          "flags of the entry");
  require(entry.minSize == thresholdOf(slot), "threshold of the entry");
  return 0;
}
