#pragma once

#include <cstdint>
#include <memory>

#include "platform/file_system.h"
#include "platform/status.h"
#include "storage/save_layout.h"
#include "text/byte_string.h"

namespace tarnwick {

class Clock;

struct SaveTarget {
  std::unique_ptr<Folder> folder;  // where the file goes
  ByteString name;                 // its name in that folder
  ByteString path;                 // absolute path, for messages
  std::uint64_t storedSize = 0;    // size of the file already there; 0 when none or a folder
};

// The path of a URL below the download folder (tree layout) or the day's folder (date
// layout), as pathForUrl lays it out.
ByteString relativeSavePath(const ByteString& url, SaveLayout layout);

// Where one saved file goes, below the folder "download" in the current directory. Made for
// each save, so a new day or a removed "download" folder is noticed. Worker thread only.
class SaveLocation {
 public:
  SaveLocation(SaveLayout layout, FileSystem& files, Clock& clock);

  // Fills `target` for `url` (an "http://" or "https://" URL without "user:password@"),
  // creating "download", the day's folder and the tree layout's folders when they are
  // missing. Every name stays below "download": segments "." and ".." are written "%2E" and
  // "%2E%2E", NUL bytes "%00". A path over the file system's limits
  // fails before any folder is made. A plain file in the place of "download" or the day's
  // folder is Status::fatal, its reason the message to show before the program ends.
  Status pathForUrl(const ByteString& url, SaveTarget* target);

 private:
  Status openBase(const ByteString& root, std::unique_ptr<Folder>* base);

  FileSystem& files_;
  SaveLayout layout_;
  ByteString dateFolder_;
};

}  // namespace tarnwick
