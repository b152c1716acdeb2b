#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/process_exit.h"
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

// A clock stuck on one day whose pauses return at once and are only recorded, so a
// test can count them. Safe from any thread.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(ByteString todayYmd = "20050314") : today_(std::move(todayYmd)) {}
  ByteString todayYmd() override { return today_; }
  void pause(std::chrono::milliseconds duration) override { pauses_.add(duration); }
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

// Thrown by ThrowingProcessExit. Deliberately not a std::exception, so code that
// catches std::exception lets it through just as a real exit would not return.
struct ProcessExitCalled {
  int status = 0;
};

class ThrowingProcessExit final : public ProcessExit {
 public:
  [[noreturn]] void exitProcess(int status) override { throw ProcessExitCalled{status}; }
};

enum class FileFault { None, CreateFile, Write, Close };

// The real POSIX file system, except that the next call of the armed kind fails:
// createFile returns nullptr without touching the disk, write returns false without
// writing, close closes the file and returns false. The fault clears once it fired.
class FaultInjectingFileSystem final : public FileSystem {
 public:
  void failNext(FileFault fault) { fault_ = fault; }

  EntryInfo stat(const ByteString& path) override { return real_->stat(path); }
  ByteString currentDirectory() override { return real_->currentDirectory(); }
  bool createFolder(const ByteString& path) override { return real_->createFolder(path); }
  std::unique_ptr<WritableFile> createFile(const ByteString& path) override;
  bool rename(const ByteString& from, const ByteString& to) override {
    return real_->rename(from, to);
  }
  bool remove(const ByteString& path) override { return real_->remove(path); }

 private:
  class File;
  bool takeFault(FileFault kind) {
    if (fault_ != kind) return false;
    fault_ = FileFault::None;
    return true;
  }

  std::unique_ptr<FileSystem> real_ = makePosixFileSystem();
  FileFault fault_ = FileFault::None;
};

}  // namespace tarnwick::testing
