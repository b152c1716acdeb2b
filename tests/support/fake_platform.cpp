#include "support/fake_platform.h"

namespace tarnwick::testing {

std::chrono::steady_clock::time_point FakeClock::now() {
  std::chrono::steady_clock::time_point time;
  for (const auto pause : pauses) time += pause;
  return time;
}

void FakeClock::pause(std::chrono::steady_clock::duration duration) {
  pauses.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(duration));
}

class FaultInjectingFileSystem::FaultyFile final : public WritableFileWrapper {
 public:
  FaultyFile(FaultInjectingFileSystem& owner, std::unique_ptr<WritableFile> real)
      : WritableFileWrapper(std::move(real)), owner_(owner) {}
  Status write(std::string_view bytes) override {
    const Status fault = owner_.takeFault(FileFault::Write);
    return fault.isOk() ? WritableFileWrapper::write(bytes) : fault;
  }
  Status commit() override {
    const Status fault = owner_.takeFault(FileFault::Commit);
    return fault.isOk() ? WritableFileWrapper::commit() : fault;
  }

 private:
  FaultInjectingFileSystem& owner_;
};

class FaultInjectingFileSystem::FaultyFolder final : public FolderWrapper {
 public:
  FaultyFolder(FaultInjectingFileSystem& owner, std::unique_ptr<Folder> real)
      : FolderWrapper(std::move(real)), owner_(owner) {}
  Status openFolder(const ByteString& name, std::unique_ptr<Folder>* folder) override {
    std::unique_ptr<Folder> child;
    Status status = FolderWrapper::openFolder(name, &child);
    if (status.isOk()) *folder = std::make_unique<FaultyFolder>(owner_, std::move(child));
    return status;
  }
  Status createFile(const ByteString& name, std::unique_ptr<WritableFile>* file) override {
    std::unique_ptr<WritableFile> real;
    Status status = owner_.takeFault(FileFault::CreateFile);
    if (status.isOk()) status = FolderWrapper::createFile(name, &real);
    if (status.isOk()) *file = std::make_unique<FaultyFile>(owner_, std::move(real));
    return status;
  }

 private:
  FaultInjectingFileSystem& owner_;
};

Status FaultInjectingFileSystem::openFolder(const ByteString& path,
                                            std::unique_ptr<Folder>* folder) {
  std::unique_ptr<Folder> real;
  Status status = FileSystemWrapper::openFolder(path, &real);
  if (status.isOk()) *folder = std::make_unique<FaultyFolder>(*this, std::move(real));
  return status;
}

Status FaultInjectingFileSystem::takeFault(FileFault kind) {
  if (fault_ != kind) return Status::ok();
  fault_ = FileFault::None;
  return Status::local("No space left on device");
}

}  // namespace tarnwick::testing
