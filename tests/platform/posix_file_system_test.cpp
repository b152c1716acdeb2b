#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::ScopedCurrentDirectory;
using testing::TempDir;

bool writeFile(FileSystem& files, const ByteString& path, std::string_view content) {
  auto file = files.createFile(path);
  return file != nullptr && file->write(content.data(), content.size()) && file->close();
}

TEST(PosixFileSystemTest, EntriesFollowTheOperations) {
  TempDir temp;
  ScopedCurrentDirectory inTemp(temp.path());
  auto files = makePosixFileSystem();
  ASSERT_TRUE(files->createFolder("dir"));
  EXPECT_FALSE(files->createFolder("dir"));
  ASSERT_TRUE(writeFile(*files, "dir/\x93\xfa.bin", std::string_view("a\0b", 3)));
  EXPECT_EQ(fs::file_size(temp.path() / "dir" / "日.bin"), 3u);
  ASSERT_TRUE(writeFile(*files, "dir/old.bin", "longer content"));
  EXPECT_TRUE(files->rename("dir/\x93\xfa.bin", "dir/old.bin"));
  EXPECT_FALSE(files->rename("dir/missing", "dir/other"));
  ASSERT_TRUE(writeFile(*files, "dir/gone.bin", "x"));
  EXPECT_TRUE(files->remove("dir/gone.bin"));
  EXPECT_FALSE(files->remove("dir/gone.bin"));
  EXPECT_EQ(files->createFile("no such dir/f"), nullptr);
  EXPECT_EQ(files->createFile("dir/old.bin/f"), nullptr);

  const ByteString absolute = files->currentDirectory() + "/dir/old.bin";
  const std::tuple<ByteString, EntryKind, std::uint64_t> cases[] = {
      {"dir", EntryKind::Folder, 0},           {"dir/old.bin", EntryKind::File, 3},
      {absolute, EntryKind::File, 3},          {"dir/\x93\xfa.bin", EntryKind::Missing, 0},
      {"dir/gone.bin", EntryKind::Missing, 0}, {"dir/old.bin/x", EntryKind::Missing, 0},
  };
  for (const auto& [path, kind, size] : cases) {
    const EntryInfo info = files->stat(path);
    EXPECT_EQ(info.kind, kind) << path.str();
    EXPECT_EQ(info.size, size) << path.str();
  }
}

TEST(PosixFileSystemTest, CurrentDirectoryNamesTheRealFolder) {
  // UTF-8 name on disk and its code page 932 spelling; "€" has no code page 932 form.
  const std::pair<const char*, ByteString> cases[] = {
      {"plain", "plain"}, {"日本", "\x93\xfa\x96\x7b"}, {"€uro", "%E2%82%ACuro"}};
  auto files = makePosixFileSystem();
  for (const auto& [folder, spelled] : cases) {
    SCOPED_TRACE(folder);
    TempDir temp;
    const fs::path real = temp.path() / folder;
    fs::create_directory(real);
    ScopedCurrentDirectory inFolder(real);
    const ByteString current = files->currentDirectory();
    ASSERT_GT(current.length(), spelled.length());
    EXPECT_EQ(current.mid(current.length() - spelled.length()), spelled);
    EXPECT_EQ(current[0], '/');
    EXPECT_TRUE(files->createFolder(current + "/sub"));
    EXPECT_TRUE(fs::is_directory(real / "sub"));
    EXPECT_EQ(files->stat(current).kind, EntryKind::Folder);
  }
}

TEST(PosixFileSystemTest, FailedWritesAreReported) {
  auto full = makePosixFileSystem()->createFile("/dev/full");
  ASSERT_NE(full, nullptr);
  EXPECT_FALSE(full->write("data", 4));
  EXPECT_TRUE(full->close());
  EXPECT_FALSE(full->write("data", 4));
}

}  // namespace
}  // namespace tarnwick
