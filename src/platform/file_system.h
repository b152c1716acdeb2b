#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "text/byte_string.h"

namespace tarnwick {

enum class EntryKind { Missing, File, Folder };

struct EntryInfo {
  EntryKind kind = EntryKind::Missing;
  std::uint64_t size = 0;  // bytes, for files
};

// A file opened for binary writing. Destruction closes it quietly.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // False when not every byte could be written (no space, I/O error).
  virtual bool write(const char* data, std::size_t size) = 0;
  // False when the data could not be flushed; the file is closed either way.
  virtual bool close() = 0;
};

// Files and folders. Paths are code page 932 bytes with "/" as separator; the Linux
// implementation maps them to UTF-8 names, writing each byte that does not convert as
// "%XX", so the mapping is lossless and stable. No call throws.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Missing when the entry does not exist or cannot be examined.
  virtual EntryInfo stat(const ByteString& path) = 0;
  // Absolute path of the current directory, without a trailing separator; empty when it
  // cannot be read (it was removed). On Linux a character of its name without a code page
  // 932 form is spelled as the "%XX" escapes of its UTF-8 bytes; paths that begin with this
  // spelling still reach the real folder.
  virtual ByteString currentDirectory() = 0;
  // False when the folder could not be created (it may exist already).
  virtual bool createFolder(const ByteString& path) = 0;
  // Creates or empties the file and opens it for writing; nullptr on failure.
  virtual std::unique_ptr<WritableFile> createFile(const ByteString& path) = 0;
  // Replaces `to` by `from`; false on failure.
  virtual bool rename(const ByteString& from, const ByteString& to) = 0;
  // Removes a file; false on failure.
  virtual bool remove(const ByteString& path) = 0;
};

std::unique_ptr<FileSystem> makePosixFileSystem();

}  // namespace tarnwick
