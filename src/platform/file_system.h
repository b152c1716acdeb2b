#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "platform/status.h"
#include "text/byte_string.h"

namespace tarnwick {

enum class EntryKind { Missing, File, Folder, Link, Other };

struct EntryInfo {
  EntryKind kind = EntryKind::Missing;
  std::uint64_t size = 0;  // bytes, for files
};

// Names and paths are code page 932 bytes with "/" as separator. The Linux implementation
// spells each byte that does not convert to UTF-8 as "%XX", so the mapping is lossless.
// Failures are Status::local with the system's reason. No call throws. One thread at a time
// uses an object, and what it made.

// Longest name and path, in the file system's own spelling.
inline constexpr std::size_t kMaxNameBytes = 255;
inline constexpr std::size_t kMaxPathBytes = 4095;

// How a file being received is named beside its final name. No name the crawl saves under
// ends like this, so such a file is never mistaken for a stored one.
inline constexpr std::string_view kPartialFileSuffix = ".twk-part";

// A file written under a temporary name in its folder: a new file of this process with no
// other name, locked for as long as it lives. commit() moves it onto its final name;
// destroying it uncommitted removes it, so a final name only ever holds whole files.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual Status write(std::string_view bytes) = 0;
  // Closes the file and renames it onto its final name, replacing what was there.
  virtual Status commit() = 0;
};

// A folder opened by handle. Nothing below it is reached through a symbolic link: a link
// met on the way fails the call.
class Folder {
 public:
  virtual ~Folder() = default;
  // Absolute path, without a trailing "/".
  virtual const ByteString& path() const = 0;
  // The entry `name` itself; a link is reported as Link and never followed.
  virtual EntryInfo stat(const ByteString& name) = 0;
  // Opens the folder `name`, creating it when missing.
  virtual Status openFolder(const ByteString& name, std::unique_ptr<Folder>* folder) = 0;
  // Starts a file that will be committed as `name`. Its temporary file belongs to this call
  // alone, also when another process saves the same name at the same time. Temporary files
  // that killed runs of this user left (plain, unlocked, with one name) are removed: all of
  // a folder's by the first call there on this file system object, a later one when a call
  // meets it. Anything else under a temporary name is left alone and the next name used.
  virtual Status createFile(const ByteString& name, std::unique_ptr<WritableFile>* file) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Absolute path of the current directory; a failure when it no longer exists.
  virtual Status currentDirectory(ByteString* path) = 0;
  // The entry at an absolute path, links followed; Missing also when it cannot be examined.
  virtual EntryInfo stat(const ByteString& path) = 0;
  virtual Status createFolder(const ByteString& path) = 0;
  // Opens an existing folder, following links: the user may have made it one.
  virtual Status openFolder(const ByteString& path, std::unique_ptr<Folder>* folder) = 0;
  // Ok when every name of the path fits kMaxNameBytes and the whole path kMaxPathBytes.
  virtual Status checkLimits(const ByteString& path) = 0;
};

std::unique_ptr<FileSystem> makePosixFileSystem();

// Forward every call to another object, so that one standing in for it (a test's fault,
// say) overrides only the calls it changes.
class WritableFileWrapper : public WritableFile {
 public:
  explicit WritableFileWrapper(std::unique_ptr<WritableFile> target) : target_(std::move(target)) {}
  Status write(std::string_view bytes) override { return target_->write(bytes); }
  Status commit() override { return target_->commit(); }

 private:
  std::unique_ptr<WritableFile> target_;
};

class FolderWrapper : public Folder {
 public:
  explicit FolderWrapper(std::unique_ptr<Folder> target) : target_(std::move(target)) {}
  const ByteString& path() const override { return target_->path(); }
  EntryInfo stat(const ByteString& name) override { return target_->stat(name); }
  Status openFolder(const ByteString& name, std::unique_ptr<Folder>* folder) override {
    return target_->openFolder(name, folder);
  }
  Status createFile(const ByteString& name, std::unique_ptr<WritableFile>* file) override {
    return target_->createFile(name, file);
  }

 private:
  std::unique_ptr<Folder> target_;
};

class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(std::unique_ptr<FileSystem> target) : target_(std::move(target)) {}
  Status currentDirectory(ByteString* path) override { return target_->currentDirectory(path); }
  EntryInfo stat(const ByteString& path) override { return target_->stat(path); }
  Status createFolder(const ByteString& path) override { return target_->createFolder(path); }
  Status openFolder(const ByteString& path, std::unique_ptr<Folder>* folder) override {
    return target_->openFolder(path, folder);
  }
  Status checkLimits(const ByteString& path) override { return target_->checkLimits(path); }

 private:
  std::unique_ptr<FileSystem> target_;
};

}  // namespace tarnwick
