#include "storage/save_location.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/process_exit.h"

namespace tarnwick {
namespace {

// "ファイルが存在しています。" in code page 932.
constexpr std::string_view kExistsAsFile =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x91\xb6\x8d\xdd\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82"
    "\xb7\x81\x42";
constexpr std::string_view kDownloadFolder = "download";
constexpr std::string_view kHttpScheme = "http://";
constexpr std::string_view kIndexFile = "index.html";

// Splits at every "/" byte. 0x2F is never a trail byte of a double-byte character, and
// the file system takes every such byte for a separator, even after a stray lead byte.
std::vector<std::string> splitSegments(std::string_view path) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  for (std::size_t slash = path.find('/'); slash != std::string_view::npos;
       slash = path.find('/', start)) {
    segments.emplace_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  segments.emplace_back(path.substr(start));
  return segments;
}

// Makes one URL segment safe as a file or folder name: it can neither climb out
// (".", ".."), nor hold a NUL, nor look like a partial file.
std::string escapeSegment(std::string_view segment) {
  const bool climbs = segment == "." || segment == "..";
  std::string escaped;
  for (char c : segment) {
    if (c == '\0') {
      escaped += "%00";
    } else if (climbs) {
      escaped += "%2E";
    } else {
      escaped += c;
    }
  }
  if (escaped.ends_with(kPartialFileSuffix)) {
    escaped.replace(escaped.size() - kPartialFileSuffix.size(), 1, "%2E");
  }
  return escaped;
}

// True when `relative`, resolved lexically, names an entry strictly below its base.
bool staysBelowBase(std::string_view relative) {
  int depth = 0;
  for (const std::string& segment : splitSegments(relative)) {
    if (segment == "..") {
      if (--depth < 0) return false;
    } else if (!segment.empty() && segment != ".") {
      ++depth;
    }
  }
  return depth > 0;
}

}  // namespace

SaveLocation::SaveLocation(SaveLayout layout, const PlatformServices& services)
    : files_(*services.files), layout_(layout), dateFolder_(services.clock->todayYmd()) {
  const ByteString root = files_.currentDirectory() + "/";
  const ByteString download(kDownloadFolder);
  ensureFolder(root, download, services);
  baseFolder_ = root + download + "/";
  if (layout_ == SaveLayout::Date) {
    ensureFolder(root, download + "/" + dateFolder_, services);
    baseFolder_ += dateFolder_ + "/";
  }
}

void SaveLocation::ensureFolder(const ByteString& root, const ByteString& relativePath,
                                const PlatformServices& services) {
  const ByteString absolutePath = root + relativePath;
  const EntryKind kind = files_.stat(absolutePath).kind;
  if (kind == EntryKind::File) {
    services.messageBox->showWarning(relativePath + ByteString(kExistsAsFile));
    services.exit->exitProcess(1);
  }
  if (kind == EntryKind::Missing) {
    files_.createFolder(absolutePath);  // a failure shows when the file cannot be created
  }
}

std::optional<SaveTarget> SaveLocation::pathForUrl(const ByteString& url) {
  const ByteString relative =
      layout_ == SaveLayout::Date ? dateLayoutFileName(url) : treeRelativePath(url);
  if (!staysBelowBase(relative.view())) {
    return std::nullopt;
  }
  SaveTarget target{baseFolder_ + relative, 0};
  const EntryInfo existing = files_.stat(target.path);
  if (existing.kind == EntryKind::File) {
    target.storedSize = existing.size;
  }
  return target;
}

ByteString SaveLocation::treeRelativePath(const ByteString& url) {
  std::string_view rest = url.view();
  rest.remove_prefix(std::min(rest.size(), kHttpScheme.size()));
  const std::vector<std::string> segments = splitSegments(rest);
  ByteString relative;
  for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
    relative += escapeSegment(segments[i]);
    const ByteString folder = baseFolder_ + relative;
    if (files_.stat(folder).kind == EntryKind::Missing) {
      files_.createFolder(folder);  // a failure shows when the file cannot be created
    }
    relative += '/';
  }
  relative += segments.back().empty() ? std::string(kIndexFile) : escapeSegment(segments.back());
  return relative;
}

ByteString SaveLocation::dateLayoutFileName(const ByteString& url) {
  const std::string_view name = url.view().substr(url.view().rfind('/') + 1);
  return ByteString(name.empty() ? std::string(kIndexFile) : escapeSegment(name));
}

}  // namespace tarnwick
