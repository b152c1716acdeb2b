#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

// Works in a folder whose name has a code page 932 form ("日本") and a character without
// one ("€"), which the current directory spells as its UTF-8 bytes escaped.
class PosixFileSystemTest : public ::testing::Test {
 protected:
  PosixFileSystemTest() {
    fs::create_directory(real_);
    fs::current_path(real_);
    EXPECT_TRUE(files_->currentDirectory(&current_).isOk());
    EXPECT_TRUE(files_->openFolder(current_, &folder_).isOk());
  }
  testing::TempDir temp_;
  const fs::path real_ = temp_.path() / "日本€";
  testing::ScopedCurrentDirectory inTemp_{temp_.path()};
  std::unique_ptr<FileSystem> files_ = makePosixFileSystem();
  ByteString current_;
  std::unique_ptr<Folder> folder_;
};

TEST_F(PosixFileSystemTest, FoldersAreOpenedWithoutFollowingLinks) {
  EXPECT_EQ(current_.str(), temp_.path().string() + "/\x93\xfa\x96\x7b%E2%82%AC");
  fs::create_directory(real_ / "dir");
  std::ofstream(real_ / "dir" / "f") << "abc";
  fs::create_directory_symlink(real_ / "dir", real_ / "link");
  const std::tuple<ByteString, EntryKind, std::uint64_t, bool> cases[] = {
      {"dir", EntryKind::Folder, 0, true},   {"\x93\xfa", EntryKind::Missing, 0, true},
      {"link", EntryKind::Link, 0, false},   {"dir/f", EntryKind::File, 3, false},
      {"gone", EntryKind::Missing, 0, true},
  };
  for (const auto& [name, kind, size, opens] : cases) {
    SCOPED_TRACE(name.str());
    EXPECT_EQ(folder_->stat(name).kind, kind);
    EXPECT_EQ(folder_->stat(name).size, size);
    std::unique_ptr<Folder> child;
    const Status status = folder_->openFolder(name, &child);
    EXPECT_EQ(status.isOk(), opens) << status.reason();
    if (opens) {
      EXPECT_EQ(child->path(), current_ + "/" + name);
    }
  }
  EXPECT_TRUE(fs::is_directory(real_ / "日"));
  EXPECT_EQ(files_->stat(current_ + "/link").kind, EntryKind::Folder);  // a path follows links
  std::unique_ptr<Folder> linked;
  EXPECT_TRUE(files_->openFolder(current_ + "/link", &linked).isOk());
  EXPECT_NE(folder_->openFolder("link", &linked).reason().find("symbolic link"), std::string::npos);

  std::string kanji85, folders;  // 170 bytes here, 255 on disk; folders of 9 letters
  for (int i = 0; i < 85; ++i) kanji85 += "\x93\xfa";
  for (int i = 0; i < 409; ++i) folders += "/ffffffff" + std::to_string(i % 10);
  const std::pair<ByteString, bool> limits[] = {
      {current_ + "/" + ByteString(std::string(255, 'n')), true},
      {current_ + "/" + ByteString(std::string(256, 'n')), false},
      {current_ + "/" + ByteString(kanji85), true},
      {current_ + "/" + ByteString(kanji85 + "\x93\xfa"), false},
      {ByteString(folders + "/xxxx"), true},  // 4,095 bytes
      {ByteString(folders + "/xxxxx"), false},
  };
  for (const auto& [path, fits] : limits) {
    EXPECT_EQ(files_->checkLimits(path).isOk(), fits) << path.length();
  }
  fs::remove_all(real_);  // the working directory is gone now
  ByteString none;
  EXPECT_FALSE(files_->currentDirectory(&none).isOk());
}

TEST_F(PosixFileSystemTest, FilesAppearWholeUnderTheirNameOrNotAtAll) {
  std::ofstream(real_ / "old") << "old copy";
  // Whatever holds a temporary name is left alone, unless a dead run of this user left it.
  const auto plain = [](const fs::path& at) { std::ofstream(at) << "planted"; };
  const auto part = [&](const std::string& name) { return real_ / (name + ".twk-part"); };
  const fs::path outside = temp_.path() / "outside";
  plain(outside);
  fs::create_hard_link(outside, part("linked"));
  plain(part("theirs"));
  EXPECT_EQ(chown(part("theirs").c_str(), 65534, 65534), 0) << "another owner needs root";
  mkfifo(part("fifo").c_str(), 0600);
  fs::create_directory(part("dir"));
  fs::create_symlink("/etc/hostname", part("trap"));
  const int held = open(part("live").c_str(), O_RDONLY | O_CREAT, 0600);
  flock(held, LOCK_EX);  // as a live run holds its file
  plain(part("stale"));
  using enum fs::file_type;
  const std::pair<const char*, fs::file_type> planted[] = {
      {"linked", regular}, {"theirs", regular}, {"fifo", fifo},       {"dir", directory},
      {"trap", symlink},   {"live", regular},   {"stale", not_found},
  };
  const auto write = [&](const ByteString& name, std::string_view text, bool commit) {
    std::unique_ptr<WritableFile> file;
    Status status = folder_->createFile(name, &file);
    if (status.isOk()) status = file->write(text);
    if (status.isOk() && commit) status = file->commit();
    return status;
  };
  EXPECT_TRUE(write("old", std::string("a\0b", 3), true).isOk());  // the folder's first file
  EXPECT_TRUE(write("old", "not kept", false).isOk());
  EXPECT_EQ(testing::contentOf(real_ / "old"), std::string("a\0b", 3));
  std::set<std::string> left{"old", "same"};
  for (const auto& [name, kind] : planted) {
    SCOPED_TRACE(name);
    EXPECT_EQ(fs::symlink_status(part(name)).type(), kind);  // after the folder's first file
    if (kind == not_found) plain(part(name));                // left by a run killed since
    EXPECT_TRUE(write(name, "saved", true).isOk());
    EXPECT_EQ(fs::symlink_status(part(name)).type(), kind);
    EXPECT_EQ(fs::status(real_ / name).permissions(), fs::status(outside).permissions());
    EXPECT_EQ(testing::contentOf(real_ / name), "saved");
    left.insert({name, kind == not_found ? std::string(name) : part(name).filename().string()});
  }
  EXPECT_EQ(testing::contentOf(outside), "planted");
  close(held);

  // Two saves of one name at once each get their own temporary file.
  std::unique_ptr<WritableFile> first, second;
  ASSERT_TRUE(folder_->createFile("same", &first).isOk());
  ASSERT_TRUE(folder_->createFile("same", &second).isOk());
  EXPECT_TRUE(first->write("first").isOk() && second->write("second").isOk());
  EXPECT_TRUE(second->commit().isOk() && first->commit().isOk());
  EXPECT_EQ(testing::contentOf(real_ / "same"), "first");

  std::set<std::string> found;
  for (const auto& entry : fs::directory_iterator(real_)) found.insert(entry.path().filename());
  EXPECT_EQ(found, left);
}

}  // namespace
}  // namespace tarnwick
