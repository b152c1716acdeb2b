#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

  struct Case {
    ByteString path;
    EntryKind kind;
    std::uint64_t size;
  };
  const ByteString absolute = files->currentDirectory() + "/dir/old.bin";
  const Case cases[] = {
      {"dir", EntryKind::Folder, 0},           {"dir/old.bin", EntryKind::File, 3},
      {absolute, EntryKind::File, 3},          {"dir/\x93\xfa.bin", EntryKind::Missing, 0},
      {"dir/gone.bin", EntryKind::Missing, 0}, {"dir/old.bin/x", EntryKind::Missing, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.str());
    const EntryInfo info = files->stat(c.path);
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.size, c.size);
  }
}

TEST(PosixFileSystemTest, CurrentDirectoryNamesTheRealFolder) {
  struct Case {
    const char* folder;  // UTF-8 name on disk
    ByteString spelled;  // its code page 932 spelling
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"日本", "\x93\xfa\x96\x7b"},
      {"€uro", "%E2%82%ACuro"},  // no code page 932 form
  };
  auto files = makePosixFileSystem();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    TempDir temp;
    const fs::path real = temp.path() / c.folder;
    fs::create_directory(real);
    ScopedCurrentDirectory inFolder(real);
    const ByteString current = files->currentDirectory();
    ASSERT_GT(current.length(), c.spelled.length());
    EXPECT_EQ(current.mid(current.length() - c.spelled.length()), c.spelled);
    EXPECT_EQ(current[0], '/');
    EXPECT_TRUE(files->createFolder(current + "/sub"));
    EXPECT_TRUE(fs::is_directory(real / "sub"));
    EXPECT_EQ(files->stat(current).kind, EntryKind::Folder);
  }
}

TEST(PosixFileSystemTest, FailedWritesAreReported) {
  auto files = makePosixFileSystem();
  auto full = files->createFile("/dev/full");
  ASSERT_NE(full, nullptr);
  EXPECT_FALSE(full->write("data", 4));
  EXPECT_TRUE(full->close());
  EXPECT_FALSE(full->write("data", 4));

  TempDir temp;
  fs::permissions(temp.path(), fs::perms::owner_read | fs::perms::owner_exec);
  if (access(temp.path().c_str(), W_OK) == 0) {
    GTEST_SKIP() << "permissions do not bind this user (root)";
  }
  EXPECT_EQ(files->createFile(ByteString(temp.path().string() + "/f")), nullptr);
  EXPECT_FALSE(files->createFolder(ByteString(temp.path().string() + "/d")));
}

}  // namespace
}  // namespace tarnwick
