#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/services.h"
#include "storage/save_layout.h"
#include "text/byte_string.h"

namespace tarnwick {

class FileSystem;

// Ending of a file that is still being received beside its final path. No path that
// SaveLocation hands out has a segment ending like this (it writes the dot as "%2E"),
// so a partial file can never take the place of a saved one.
inline constexpr std::string_view kPartialFileSuffix = ".twk-part";

struct SaveTarget {
  ByteString path;               // absolute local path of the file
  std::uint64_t storedSize = 0;  // size of the file already there; 0 when none or a folder
};

// Where one saved file goes, below the folder "download" in the current directory.
// Lives for one save on the worker thread.
class SaveLocation {
 public:
  // Creates "download" and, in the date layout, the day's folder inside it when they are
  // missing. A plain file in the place of either is fatal: a warning names it and the
  // process ends with status 1. A folder that cannot be created is not reported; the
  // file creation fails later.
  SaveLocation(SaveLayout layout, const PlatformServices& services);

  // The path for `url` (which begins with "http://"), creating the folders of the tree
  // layout. Segments "." and ".." are written "%2E" and "%2E%2E" and NUL bytes "%00";
  // nullopt when the path would still not name something below the base folder.
  std::optional<SaveTarget> pathForUrl(const ByteString& url);

 private:
  void ensureFolder(const ByteString& root, const ByteString& relativePath,
                    const PlatformServices& services);
  ByteString treeRelativePath(const ByteString& url);
  static ByteString dateLayoutFileName(const ByteString& url);

  FileSystem& files_;
  SaveLayout layout_;
  ByteString dateFolder_;
  ByteString baseFolder_;  // absolute, ends in "/"
};

}  // namespace tarnwick
