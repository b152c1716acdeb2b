#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "text/byte_string.h"

namespace tarnwick::testing {

// A list that any thread may add to and read.
template <typename T>
class SharedLog {
 public:
  void add(T item) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(item));
  }
  std::vector<T> items() const {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<T> items_;
};

// A clock stuck on one day whose pauses return at once: they are recorded, and move its
// steady time on. Safe from any thread.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(ByteString todayYmd = "20050314") : today_(std::move(todayYmd)) {}
  ByteString todayYmd() override { return today_; }
  std::chrono::steady_clock::time_point now() override;
  void pause(std::chrono::steady_clock::duration duration) override;
  std::vector<std::chrono::milliseconds> pauses() const { return pauses_.items(); }

 private:
  const ByteString today_;
  SharedLog<std::chrono::milliseconds> pauses_;
};

// Records every warning text instead of showing it. Safe from any thread.
class ScriptedMessageBox final : public MessageBox {
 public:
  void showWarning(const ByteString& text) override { texts_.add(text); }
  std::vector<ByteString> texts() const { return texts_.items(); }

 private:
  SharedLog<ByteString> texts_;
};

enum class FileFault { None, CreateFile, Write, Commit };

// The real POSIX file system, except that the next call of the armed kind fails as on a
// full disk, without touching the file. The fault clears once it fired.
class FaultInjectingFileSystem final : public FileSystem {
 public:
  void failNext(FileFault fault) { fault_ = fault; }

  Status currentDirectory(ByteString* path) override { return real_->currentDirectory(path); }
  EntryInfo stat(const ByteString& path) override { return real_->stat(path); }
  Status createFolder(const ByteString& path) override { return real_->createFolder(path); }
  Status openFolder(const ByteString& path, std::unique_ptr<Folder>* folder) override;
  Status checkLimits(const ByteString& path) override { return real_->checkLimits(path); }

 private:
  class FaultyFolder;
  class FaultyFile;
  Status takeFault(FileFault kind);

  std::unique_ptr<FileSystem> real_ = makePosixFileSystem();
  FileFault fault_ = FileFault::None;
};

}  // namespace tarnwick::testing
