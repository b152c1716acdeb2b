#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_system.h"

namespace tarnwick {
namespace {

// How many temporary names a file tries before it gives up: each is taken by something that
// is not ours to remove, or lost to another run's sweep.
constexpr int kTemporaryNameTries = 16;

// Every errno becomes a Status here.
Status errnoStatus(std::string_view action, const ByteString& name, int error) {
  std::string reason = std::string(action) + " '" + name.str() + "': ";
  reason += error == ELOOP ? "a symbolic link is in the way" : std::strerror(error);
  return Status::local(std::move(reason));
}

// Writes every byte, going on after a partial write or a signal.
int writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
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

// The file system name of a path. A path below the current directory, as currentDirectory()
// spells it, is resolved against the real directory name: that name may hold characters
// whose code page 932 spelling ("%XX") does not map back to them.
std::string nativePath(const ByteString& path) {
  const std::string real = workingDirectory();
  const ByteString spelled = utf8ToCp932FileName(real);
  const std::string_view text = path.view();
  const bool belowCurrent =
      !real.empty() && text.starts_with(spelled.view()) &&
      (text.size() == spelled.view().size() || text[spelled.view().size()] == '/');
  if (!belowCurrent) return cp932ToUtf8FileName(path);
  return real + cp932ToUtf8FileName(path.mid(spelled.length()));
}

EntryInfo entryInfoOf(const struct stat& status) {
  if (S_ISLNK(status.st_mode)) return {EntryKind::Link, 0};
  if (S_ISDIR(status.st_mode)) return {EntryKind::Folder, 0};
  if (S_ISREG(status.st_mode)) return {EntryKind::File, static_cast<std::uint64_t>(status.st_size)};
  return {EntryKind::Other, 0};
}

// The temporary name of try `attempt` for a final name, short enough for the file system.
std::string temporaryName(const std::string& finalName, int attempt) {
  // Built by appending: GCC 12 misreports "literal" + std::string in optimised builds.
  std::string tag;
  if (attempt != 0) tag.append(".").append(std::to_string(attempt));
  tag.append(kPartialFileSuffix);
  std::string name = finalName;
  if (name.size() + tag.size() > kMaxNameBytes) {
    char hash[20];
    std::snprintf(hash, sizeof hash, "~%016zx", std::hash<std::string>{}(finalName));
    name.resize(kMaxNameBytes - tag.size() - std::strlen(hash));
    name.append(hash);
  }
  return name.append(tag);
}

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int folderFd, int fd, std::string temporary, std::string final, ByteString name)
      : folderFd_(folderFd),
        fd_(fd),
        temporary_(std::move(temporary)),
        final_(std::move(final)),
        name_(std::move(name)) {}
  ~PosixWritableFile() override {
    // Removed while still locked, so no other process can have taken the name over.
    if (fd_ >= 0) {
      unlinkat(folderFd_, temporary_.c_str(), 0);
      ::close(fd_);
    }
    ::close(folderFd_);
  }
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;

  Status write(std::string_view bytes) override {
    const int error = fd_ >= 0 ? writeAll(fd_, bytes) : EBADF;
    return error == 0 ? Status::ok() : errnoStatus("cannot write", name_, error);
  }

  Status commit() override {
    if (fd_ < 0) return errnoStatus("cannot save", name_, EBADF);
    // Renamed before the lock goes with the descriptor, so nobody reuses the name meanwhile.
    if (renameat(folderFd_, temporary_.c_str(), folderFd_, final_.c_str()) != 0) {
      return errnoStatus("cannot save", name_, errno);
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    return closed == 0 ? Status::ok() : errnoStatus("cannot save", name_, errno);
  }

 private:
  int folderFd_;
  int fd_;
  std::string temporary_;
  std::string final_;
  ByteString name_;
};

// Folders whose leftovers have been looked for, by device and inode.
using FolderIds = std::set<std::pair<dev_t, ino_t>>;

// A file that a killed run of this user may have left: a plain file of ours with no other name.
bool isOwnLoneFile(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_uid == geteuid() && status.st_nlink == 1;
}

class PosixFolder final : public Folder {
 public:
  PosixFolder(int fd, ByteString path, std::shared_ptr<FolderIds> swept)
      : fd_(fd), path_(std::move(path)), swept_(std::move(swept)) {}
  ~PosixFolder() override { ::close(fd_); }
  PosixFolder(const PosixFolder&) = delete;
  PosixFolder& operator=(const PosixFolder&) = delete;

  const ByteString& path() const override { return path_; }

  EntryInfo stat(const ByteString& name) override {
    struct stat status {};
    if (fstatat(fd_, native(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return {};
    return entryInfoOf(status);
  }

  Status openFolder(const ByteString& name, std::unique_ptr<Folder>* folder) override {
    const std::string nativeName = native(name);
    if (mkdirat(fd_, nativeName.c_str(), 0777) != 0 && errno != EEXIST) {
      return errnoStatus("cannot create the folder", name, errno);
    }
    const int fd = openat(fd_, nativeName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      // A link is refused as "not a directory"; say what is really in the way.
      const int error = stat(name).kind == EntryKind::Link ? ELOOP : errno;
      return errnoStatus("cannot open the folder", name, error);
    }
    *folder = std::make_unique<PosixFolder>(fd, path_ + "/" + name, swept_);
    return Status::ok();
  }

  Status createFile(const ByteString& name, std::unique_ptr<WritableFile>* file) override {
    removeLeftoversOnce();
    const std::string final = native(name);
    for (int attempt = 0, tries = 0; tries < kTemporaryNameTries; ++tries) {
      const std::string temporary = temporaryName(final, attempt);
      int error = 0;
      const int fd = createLocked(temporary, &error);
      if (fd >= 0) return makeWritableFile(fd, temporary, final, name, file);
      if (error != 0 && error != EEXIST) {
        return errnoStatus("cannot create a file for", name, error);
      }
      // A name taken by anything but a dead leftover is left alone; a lost race tries it again.
      if (error == EEXIST && !removeIfLeftover(temporary)) ++attempt;
    }
    return errnoStatus("cannot create a file for", name, EEXIST);
  }

 private:
  static std::string native(const ByteString& name) { return cp932ToUtf8FileName(name); }

  Status makeWritableFile(int fd, const std::string& temporary, const std::string& final,
                          const ByteString& name, std::unique_ptr<WritableFile>* file) {
    const int folderFd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (folderFd < 0) {
      const int error = errno;
      unlinkat(fd_, temporary.c_str(), 0);
      ::close(fd);
      return errnoStatus("cannot create a file for", name, error);
    }
    *file = std::make_unique<PosixWritableFile>(folderFd, fd, temporary, final, name);
    return Status::ok();
  }

  // Whether `name` still is the file `opened`, and not something put in its place.
  bool stillNamed(const std::string& name, const struct stat& opened) {
    struct stat named {};
    return fstatat(fd_, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
  }

  // Creates the temporary file `name` afresh and locks it: the lock tells other runs that it
  // is alive. -1 with no error when another run's sweep took it between creation and lock.
  // Its mode is that of any new file (0666 less the umask, or the folder's default ACL), as
  // the rename makes it the saved file.
  int createLocked(const std::string& name, int* error) {
    const int fd =
        openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      *error = errno;
      return -1;
    }
    struct stat opened {};
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (locked && fstat(fd, &opened) == 0 && stillNamed(name, opened)) return fd;
    if (!locked && errno != EWOULDBLOCK) *error = errno;  // held by a sweep: no error
    ::close(fd);
    return -1;
  }

  // Removes `name` when it is a leftover of a dead run of this user; true when it did.
  bool removeIfLeftover(const std::string& name) {
    struct stat status {};
    if (fstatat(fd_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !isOwnLoneFile(status)) {
      return false;
    }
    const int fd =
        openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    // Examined again once locked: the name may have been given to another file meanwhile.
    const bool removed = flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &status) == 0 &&
                         isOwnLoneFile(status) && stillNamed(name, status) &&
                         unlinkat(fd_, name.c_str(), 0) == 0;
    ::close(fd);
    return removed;
  }

  // The first file made in a folder clears the temporary files that killed runs left there.
  // Only once, as a folder may hold many files; a leftover made later is removed when a
  // save meets its name.
  void removeLeftoversOnce() {
    struct stat folder {};
    if (fstat(fd_, &folder) != 0 || !swept_->insert({folder.st_dev, folder.st_ino}).second) return;
    const int listFd = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const list = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (list == nullptr) {
      if (listFd >= 0) ::close(listFd);
      return;
    }
    std::vector<std::string> temporaries;
    while (const dirent* entry = readdir(list)) {
      const std::string_view entryName = entry->d_name;
      if (entryName.ends_with(kPartialFileSuffix)) temporaries.emplace_back(entryName);
    }
    closedir(list);
    for (const std::string& temporary : temporaries) removeIfLeftover(temporary);
  }

  int fd_;
  ByteString path_;
  std::shared_ptr<FolderIds> swept_;
};

class PosixFileSystem final : public FileSystem {
 public:
  Status currentDirectory(ByteString* path) override {
    const std::string real = workingDirectory();
    if (real.empty()) return errnoStatus("cannot read", "the working directory", errno);
    *path = utf8ToCp932FileName(real);
    return Status::ok();
  }

  EntryInfo stat(const ByteString& path) override {
    struct stat status {};
    if (::stat(nativePath(path).c_str(), &status) != 0) return {};
    return entryInfoOf(status);
  }

  Status createFolder(const ByteString& path) override {
    if (::mkdir(nativePath(path).c_str(), 0777) == 0) return Status::ok();
    return errnoStatus("cannot create the folder", path, errno);
  }

  Status openFolder(const ByteString& path, std::unique_ptr<Folder>* folder) override {
    const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errnoStatus("cannot open the folder", path, errno);
    *folder = std::make_unique<PosixFolder>(fd, path, swept_);
    return Status::ok();
  }

  Status checkLimits(const ByteString& path) override {
    const std::string native = nativePath(path);
    if (native.size() > kMaxPathBytes) return errnoStatus("cannot save", path, ENAMETOOLONG);
    std::size_t start = 0;
    for (std::size_t slash = native.find('/'); start <= native.size();
         start = slash + 1, slash = native.find('/', start)) {
      const std::size_t end = slash == std::string::npos ? native.size() : slash;
      if (end - start > kMaxNameBytes) return errnoStatus("cannot save", path, ENAMETOOLONG);
      if (slash == std::string::npos) break;
    }
    return Status::ok();
  }

 private:
  // Shared with every folder opened through this object, which may outlive it.
  std::shared_ptr<FolderIds> swept_ = std::make_shared<FolderIds>();
};

}  // namespace

std::unique_ptr<FileSystem> makePosixFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace tarnwick
