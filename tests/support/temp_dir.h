#pragma once

#include <filesystem>
#include <string>

namespace tarnwick::testing {

// The whole content of a file; empty when it cannot be read.
std::string contentOf(const std::filesystem::path& path);

// A fresh folder under the system's temporary folder, removed with its contents on
// destruction. ScopedCurrentDirectory makes it the working directory for a test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::filesystem::path& path);
  ~ScopedCurrentDirectory();
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace tarnwick::testing
