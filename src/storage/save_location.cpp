#include "storage/save_location.h"

#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace tarnwick {
namespace {

// "ファイルが存在しています。" in code page 932.
constexpr std::string_view kExistsAsFile =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x91\xb6\x8d\xdd\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82"
    "\xb7\x81\x42";
constexpr std::string_view kDownloadFolder = "download";
constexpr std::string_view kIndexFile = "index.html";

// The URL after its scheme.
std::string_view withoutScheme(std::string_view url) {
  const std::size_t scheme = url.find("://");
  return scheme == std::string_view::npos ? url : url.substr(scheme + 3);
}

// Makes one URL segment safe as a file or folder name: it can neither climb out (".",
// ".."), nor hold a NUL, nor look like a file being received.
ByteString escapeSegment(std::string_view segment) {
  const bool climbs = segment == "." || segment == "..";
  std::string escaped;
  for (const char c : segment) {
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
  return ByteString(std::move(escaped));
}

// The names of the folders and the file a URL is saved under, escaped. Splits at every "/"
// byte: 0x2F is never a trail byte, and the file system takes every such byte for a
// separator. Empty folder names are left out; an empty file name is "index.html".
std::vector<ByteString> savedNames(const ByteString& url, SaveLayout layout) {
  std::string_view rest = withoutScheme(url.view());
  std::vector<ByteString> names;
  if (layout == SaveLayout::Date) {
    rest.remove_prefix(rest.rfind('/') + 1);
  } else {
    for (std::size_t slash = rest.find('/'); slash != std::string_view::npos;
         slash = rest.find('/')) {
      if (slash != 0) names.push_back(escapeSegment(rest.substr(0, slash)));
      rest.remove_prefix(slash + 1);
    }
  }
  names.push_back(rest.empty() ? ByteString(kIndexFile) : escapeSegment(rest));
  return names;
}

ByteString joined(const std::vector<ByteString>& names) {
  ByteString path;
  for (const ByteString& name : names) path += (path.length() == 0 ? "" : "/") + name;
  return path;
}

Status existsAsFile(const ByteString& relativePath) {
  return Status::fatal((relativePath + ByteString(kExistsAsFile)).str());
}

bool isPlainFile(EntryKind kind) { return kind == EntryKind::File || kind == EntryKind::Other; }

}  // namespace

ByteString relativeSavePath(const ByteString& url, SaveLayout layout) {
  return joined(savedNames(url, layout));
}

SaveLocation::SaveLocation(SaveLayout layout, FileSystem& files, Clock& clock)
    : files_(files), layout_(layout), dateFolder_(clock.todayYmd()) {}

Status SaveLocation::pathForUrl(const ByteString& url, SaveTarget* target) {
  ByteString root;
  Status status = files_.currentDirectory(&root);
  const std::vector<ByteString> names = savedNames(url, layout_);
  ByteString below = ByteString(kDownloadFolder) + "/";
  if (layout_ == SaveLayout::Date) below += dateFolder_ + "/";
  if (status.isOk()) status = files_.checkLimits(root + "/" + below + joined(names));
  std::unique_ptr<Folder> folder;
  if (status.isOk()) status = openBase(root, &folder);
  for (std::size_t i = 0; status.isOk() && i + 1 < names.size(); ++i) {
    std::unique_ptr<Folder> child;
    status = folder->openFolder(names[i], &child);
    folder = std::move(child);
  }
  if (!status.isOk()) return status;
  const ByteString& name = names.back();
  const EntryInfo stored = folder->stat(name);
  if (stored.kind == EntryKind::Link) {
    return Status::local("cannot save '" + name.str() + "': a symbolic link is in the way");
  }
  target->path = folder->path() + "/" + name;
  target->storedSize = stored.kind == EntryKind::File ? stored.size : 0;
  target->name = name;
  target->folder = std::move(folder);
  return Status::ok();
}

// Opens "download", and in the date layout the day's folder in it, creating them when
// missing. "download" itself may be a link the user made; the day's folder may not.
Status SaveLocation::openBase(const ByteString& root, std::unique_ptr<Folder>* base) {
  const ByteString download(kDownloadFolder);
  const ByteString downloadPath = root + "/" + download;
  const EntryKind kind = files_.stat(downloadPath).kind;
  if (isPlainFile(kind)) return existsAsFile(download);
  if (kind == EntryKind::Missing) files_.createFolder(downloadPath);  // opening tells why not
  Status status = files_.openFolder(downloadPath, base);
  if (!status.isOk() || layout_ != SaveLayout::Date) return status;
  if (isPlainFile((*base)->stat(dateFolder_).kind)) {
    return existsAsFile(download + "/" + dateFolder_);
  }
  std::unique_ptr<Folder> day;
  status = (*base)->openFolder(dateFolder_, &day);
  *base = std::move(day);
  return status;
}

}  // namespace tarnwick
