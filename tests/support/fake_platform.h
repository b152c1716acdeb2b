#pragma once

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "text/byte_string.h"

namespace tarnwick::testing {

// A clock stuck on one day whose pauses return at once: they are recorded, and move its
// steady time on. Read what it recorded once the thread that used it has ended.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(ByteString todayYmd = "20050314") : today_(std::move(todayYmd)) {}
  ByteString todayYmd() override { return today_; }
  std::chrono::steady_clock::time_point now() override;
  void pause(std::chrono::steady_clock::duration duration) override;

  std::vector<std::chrono::milliseconds> pauses;

 private:
  const ByteString today_;
};

// Records every warning text instead of showing it; read them once the thread that warned
// has ended.
struct ScriptedMessageBox final : MessageBox {
  void showWarning(const ByteString& text) override { texts.push_back(text); }
  std::vector<ByteString> texts;
};

enum class FileFault { None, CreateFile, Write, Commit };

// The real POSIX file system, except that the next call of the armed kind fails as on a
// full disk, without touching the file. The fault clears once it fired.
class FaultInjectingFileSystem final : public FileSystemWrapper {
 public:
  FaultInjectingFileSystem() : FileSystemWrapper(makePosixFileSystem()) {}
  void failNext(FileFault fault) { fault_ = fault; }
  Status openFolder(const ByteString& path, std::unique_ptr<Folder>* folder) override;

 private:
  class FaultyFolder;
  class FaultyFile;
  Status takeFault(FileFault kind);

  FileFault fault_ = FileFault::None;
};

}  // namespace tarnwick::testing
