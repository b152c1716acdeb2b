#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/process_exit.h"
#include "text/byte_string.h"

namespace tarnwick::testing {

// A clock stuck on one day whose pauses return at once and are only recorded, so a
// test can count them. Safe from any thread.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(ByteString todayYmd = "20050314");
  ByteString todayYmd() override;
  void pause(std::chrono::milliseconds duration) override;
  std::vector<std::chrono::milliseconds> pauses() const;

 private:
  const ByteString today_;
  mutable std::mutex mutex_;
  std::vector<std::chrono::milliseconds> pauses_;
};

// Records every warning text instead of showing it. Safe from any thread.
class ScriptedMessageBox final : public MessageBox {
 public:
  void showWarning(const ByteString& text) override;
  std::vector<ByteString> texts() const;

 private:
  mutable std::mutex mutex_;
  std::vector<ByteString> texts_;
};

// Thrown by ThrowingProcessExit. Deliberately not a std::exception, so code that
// catches std::exception lets it through just as a real exit would not return.
struct ProcessExitCalled {
  int status = 0;
};

class ThrowingProcessExit final : public ProcessExit {
 public:
  [[noreturn]] void exitProcess(int status) override;
};

enum class FileFault { None, CreateFile, Write, Close };

// The real POSIX file system, except that the next call of the armed kind fails:
// createFile returns nullptr without touching the disk, write returns false without
// writing, close closes the file and returns false. The fault clears once it fired.
class FaultInjectingFileSystem final : public FileSystem {
 public:
  FaultInjectingFileSystem();
  void failNext(FileFault fault) { fault_ = fault; }
  bool faultFired() const { return fired_; }

  EntryInfo stat(const ByteString& path) override;
  ByteString currentDirectory() override;
  bool createFolder(const ByteString& path) override;
  std::unique_ptr<WritableFile> createFile(const ByteString& path) override;
  bool rename(const ByteString& from, const ByteString& to) override;
  bool remove(const ByteString& path) override;

 private:
  class File;
  bool takeFault(FileFault kind);

  std::unique_ptr<FileSystem> real_;
  FileFault fault_ = FileFault::None;
  bool fired_ = false;
};

}  // namespace tarnwick::testing
