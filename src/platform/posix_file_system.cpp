#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/codepage.h"
#include "platform/file_system.h"

namespace tarnwick {
namespace {

// Writes every byte, going on after a partial write or a signal; false on any other error.
bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

std::string workingDirectory() {
  std::string path(256, '\0');
  while (getcwd(path.data(), path.size()) == nullptr) {
    if (errno != ERANGE) return {};
    path.resize(path.size() * 2);
  }
  path.resize(path.find('\0'));
  return path;
}

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  ~PosixWritableFile() override { close(); }
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;

  bool write(const char* data, std::size_t size) override {
    return fd_ >= 0 && writeAll(fd_, data, size);
  }

  bool close() override {
    if (fd_ < 0) return false;
    // The descriptor is gone even when close reports an error, so it is never retried.
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  int fd_;
};

class PosixFileSystem final : public FileSystem {
 public:
  EntryInfo stat(const ByteString& path) override {
    struct stat status {};
    if (::stat(nativePath(path).c_str(), &status) != 0) return {};
    if (S_ISDIR(status.st_mode)) return {EntryKind::Folder, 0};
    return {EntryKind::File, static_cast<std::uint64_t>(status.st_size)};
  }

  ByteString currentDirectory() override { return utf8ToCp932FileName(workingDirectory()); }

  bool createFolder(const ByteString& path) override {
    return ::mkdir(nativePath(path).c_str(), 0777) == 0;
  }

  std::unique_ptr<WritableFile> createFile(const ByteString& path) override {
    const int fd = ::open(nativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixWritableFile>(fd);
  }

  bool rename(const ByteString& from, const ByteString& to) override {
    return ::rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0;
  }

  bool remove(const ByteString& path) override { return ::unlink(nativePath(path).c_str()) == 0; }

 private:
  // The file system name of a path. A path below the current directory, as
  // currentDirectory() spells it, is resolved against the real directory name: that name may
  // hold characters whose code page 932 spelling ("%XX") does not map back to them.
  static std::string nativePath(const ByteString& path) {
    const std::string real = workingDirectory();
    const ByteString spelled = utf8ToCp932FileName(real);
    const std::string_view text = path.view();
    const bool belowCurrent =
        !real.empty() && text.starts_with(spelled.view()) &&
        (text.size() == spelled.view().size() || text[spelled.view().size()] == '/');
    if (!belowCurrent) return cp932ToUtf8FileName(path);
    return real + cp932ToUtf8FileName(path.mid(spelled.length()));
  }
};

}  // namespace

std::unique_ptr<FileSystem> makePosixFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace tarnwick
