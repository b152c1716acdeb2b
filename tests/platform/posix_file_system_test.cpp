#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

bool writeFile(FileSystem& files, const ByteString& path, std::string_view content) {
  auto file = files.createFile(path);
  return file != nullptr && file->write(content.data(), content.size()) && file->close();
}

// Works in a folder whose name has a code page 932 form ("日本") and a character without
// one ("€"), which the current directory spells as its UTF-8 bytes escaped.
TEST(PosixFileSystemTest, EntriesFollowTheOperations) {
  testing::TempDir temp;
  const fs::path real = temp.path() / "日本€";
  fs::create_directory(real);
  testing::ScopedCurrentDirectory inTemp(real);
  auto files = makePosixFileSystem();
  const ByteString current = files->currentDirectory();
  EXPECT_EQ(current.str(),
            fs::current_path().parent_path().string() + "/\x93\xfa\x96\x7b%E2%82%AC");
  ASSERT_TRUE(files->createFolder(current + "/dir"));
  EXPECT_FALSE(files->createFolder("dir"));
  ASSERT_TRUE(writeFile(*files, "dir/\x93\xfa.bin", std::string_view("a\0b", 3)));
  EXPECT_EQ(fs::file_size(real / "dir" / "日.bin"), 3u);
  ASSERT_TRUE(writeFile(*files, "dir/old.bin", "longer content"));
  EXPECT_TRUE(files->rename("dir/\x93\xfa.bin", "dir/old.bin"));
  EXPECT_FALSE(files->rename("dir/missing", "dir/other"));
  ASSERT_TRUE(writeFile(*files, "dir/gone.bin", "x"));
  EXPECT_TRUE(files->remove("dir/gone.bin"));
  EXPECT_FALSE(files->remove("dir/gone.bin"));
  EXPECT_EQ(files->createFile("no such dir/f"), nullptr);
  auto full = files->createFile("/dev/full");
  ASSERT_NE(full, nullptr);
  EXPECT_FALSE(full->write("data", 4));

  const std::tuple<ByteString, EntryKind, std::uint64_t> cases[] = {
      {current, EntryKind::Folder, 0},
      {"dir/old.bin", EntryKind::File, 3},
      {current + "/dir/old.bin", EntryKind::File, 3},
      {"dir/\x93\xfa.bin", EntryKind::Missing, 0},
      {"dir/gone.bin", EntryKind::Missing, 0},
      {"dir/old.bin/x", EntryKind::Missing, 0},
  };
  for (const auto& [path, kind, size] : cases) {
    EXPECT_EQ(files->stat(path).kind, kind) << path.str();
    EXPECT_EQ(files->stat(path).size, size) << path.str();
  }
}

}  // namespace
}  // namespace tarnwick
