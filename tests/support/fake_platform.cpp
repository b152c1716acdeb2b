#include "support/fake_platform.h"

#include <utility>

namespace tarnwick::testing {

FakeClock::FakeClock(ByteString todayYmd) : today_(std::move(todayYmd)) {}

ByteString FakeClock::todayYmd() { return today_; }

void FakeClock::pause(std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  pauses_.push_back(duration);
}

std::vector<std::chrono::milliseconds> FakeClock::pauses() const {
  std::lock_guard lock(mutex_);
  return pauses_;
}

void ScriptedMessageBox::showWarning(const ByteString& text) {
  std::lock_guard lock(mutex_);
  texts_.push_back(text);
}

std::vector<ByteString> ScriptedMessageBox::texts() const {
  std::lock_guard lock(mutex_);
  return texts_;
}

void ThrowingProcessExit::exitProcess(int status) { throw ProcessExitCalled{status}; }

class FaultInjectingFileSystem::File final : public WritableFile {
 public:
  File(FaultInjectingFileSystem& owner, std::unique_ptr<WritableFile> real)
      : owner_(owner), real_(std::move(real)) {}

  bool write(const char* data, std::size_t size) override {
    return !owner_.takeFault(FileFault::Write) && real_->write(data, size);
  }

  bool close() override {
    const bool closed = real_->close();
    return !owner_.takeFault(FileFault::Close) && closed;
  }

 private:
  FaultInjectingFileSystem& owner_;
  std::unique_ptr<WritableFile> real_;
};

FaultInjectingFileSystem::FaultInjectingFileSystem() : real_(makePosixFileSystem()) {}

bool FaultInjectingFileSystem::takeFault(FileFault kind) {
  if (fault_ != kind) {
    return false;
  }
  fault_ = FileFault::None;
  fired_ = true;
  return true;
}

EntryInfo FaultInjectingFileSystem::stat(const ByteString& path) { return real_->stat(path); }

ByteString FaultInjectingFileSystem::currentDirectory() { return real_->currentDirectory(); }

bool FaultInjectingFileSystem::createFolder(const ByteString& path) {
  return real_->createFolder(path);
}

std::unique_ptr<WritableFile> FaultInjectingFileSystem::createFile(const ByteString& path) {
  if (takeFault(FileFault::CreateFile)) {
    return nullptr;
  }
  std::unique_ptr<WritableFile> real = real_->createFile(path);
  if (real == nullptr) {
    return nullptr;
  }
  return std::make_unique<File>(*this, std::move(real));
}

bool FaultInjectingFileSystem::rename(const ByteString& from, const ByteString& to) {
  return real_->rename(from, to);
}

bool FaultInjectingFileSystem::remove(const ByteString& path) { return real_->remove(path); }

}  // namespace tarnwick::testing
