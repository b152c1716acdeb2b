#include "support/fake_platform.h"

namespace tarnwick::testing {

class FaultInjectingFileSystem::File final : public WritableFile {
 public:
  File(FaultInjectingFileSystem& owner, std::unique_ptr<WritableFile> real)
      : owner_(owner), real_(std::move(real)) {}
  bool write(const char* data, std::size_t size) override {
    return !owner_.takeFault(FileFault::Write) && real_->write(data, size);
  }
  bool close() override {
    const bool closed = real_->close();  // the file is closed even when the fault fires
    return !owner_.takeFault(FileFault::Close) && closed;
  }

 private:
  FaultInjectingFileSystem& owner_;
  std::unique_ptr<WritableFile> real_;
};

std::unique_ptr<WritableFile> FaultInjectingFileSystem::createFile(const ByteString& path) {
  if (takeFault(FileFault::CreateFile)) return nullptr;
  std::unique_ptr<WritableFile> real = real_->createFile(path);
  return real ? std::make_unique<File>(*this, std::move(real)) : nullptr;
}

}  // namespace tarnwick::testing
