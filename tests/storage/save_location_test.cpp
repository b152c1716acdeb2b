#include "storage/save_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/codepage.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

class SaveLocationTest : public ::testing::Test {
 protected:
  Status locate(const std::string& url, SaveLayout layout, SaveTarget* target) {
    return SaveLocation(layout, *files_, clock_).pathForUrl(ByteString(url), target);
  }
  std::size_t entriesBelow(const fs::path& folder) const {
    return static_cast<std::size_t>(std::distance(fs::recursive_directory_iterator(folder), {}));
  }

  testing::TempDir temp_;
  testing::ScopedCurrentDirectory inTemp_{temp_.path()};
  std::unique_ptr<FileSystem> files_ = makePosixFileSystem();
  testing::FakeClock clock_{"20050314"};
};

// Hostile URLs included: every path stays below the download folder. A stored file
// reports its size, a folder in the file's place none.
TEST_F(SaveLocationTest, MapsUrlsToPathsBelowTheDownloadFolderInBothLayouts) {
  fs::create_directories("download/host/dir");
  std::ofstream("download/host/dir/a.gif") << std::string(1234, 'a');
  const struct {
    std::string url;
    const char* tree;  // below "download"
    const char* date;  // below "download/20050314"
    std::uint64_t storedInTree = 0;
  } cases[] = {
      {"http://host/dir/a.gif", "host/dir/a.gif", "a.gif", 1234},
      {"https://host/dir/a.gif", "host/dir/a.gif", "a.gif", 1234},
      {"http://host/dir", "host/dir", "dir"},
      {"http://host/dir/sub/", "host/dir/sub/index.html", "index.html"},
      {"http://host:81/x.html", "host:81/x.html", "x.html"},
      {"http://host/a.html?x=1", "host/a.html?x=1", "a.html?x=1"},
      {"http://host/a//b.gif", "host/a/b.gif", "b.gif"},
      {"http://../x.gif", "%2E%2E/x.gif", "x.gif"},
      {"http://host/a/../../../x.gif", "host/a/%2E%2E/%2E%2E/%2E%2E/x.gif", "x.gif"},
      {"http://host/..", "host/%2E%2E", "%2E%2E"},
      {"http://", "index.html", "index.html"},
      {std::string("http://host/a\0b/c\0", 18), "host/a%00b/c%00", "c%00"},
      {"http://h\x81/../x", "h\x81/%2E%2E/x", "x"},
      {"http://host/x.gif.twk-part", "host/x.gif%2Etwk-part", "x.gif%2Etwk-part"},
  };
  const fs::path download = fs::current_path() / "download";
  for (const auto& c : cases) {
    for (const SaveLayout layout : {SaveLayout::Tree, SaveLayout::Date}) {
      const bool tree = layout == SaveLayout::Tree;
      SCOPED_TRACE(c.url + (tree ? " tree" : " date"));
      SaveTarget target;
      ASSERT_TRUE(locate(c.url, layout, &target).isOk());
      EXPECT_EQ(target.path.str(),
                (tree ? download / c.tree : download / "20050314" / c.date).string());
      EXPECT_EQ(target.folder->path().str() + "/" + target.name.str(), target.path.str());
      EXPECT_EQ(target.storedSize, tree ? c.storedInTree : 0u);
      EXPECT_EQ(files_->stat(target.folder->path()).kind, EntryKind::Folder);
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);  // only "download"
}

// Nothing is made through a link below "download", nor past the file system's limits; the
// download folder itself may be a link the user made.
TEST_F(SaveLocationTest, RefusesLinksAndOverlongPathsBeforeMakingFolders) {
  const fs::path outside = temp_.path() / "outside";
  fs::create_directories(outside / "site");
  fs::create_directory_symlink(outside / "site", outside / "host");
  fs::create_symlink(outside / "site" / "target", outside / "site" / "file.gif");
  fs::create_directory_symlink(outside, "download");
  const std::pair<std::string, std::string> cases[] = {
      {"http://other/ok.gif", ""},
      {"http://host/x.gif", "symbolic link"},
      {"http://site/file.gif", "symbolic link"},
      {"http://long/" + std::string(256, 'n'), "File name too long"},
  };
  for (const auto& [url, reason] : cases) {
    SCOPED_TRACE(url.substr(0, 40));
    SaveTarget target;
    const Status status = locate(url, SaveLayout::Tree, &target);
    EXPECT_EQ(status.kind(), reason.empty() ? Status::Kind::Ok : Status::Kind::Local);
    EXPECT_NE(status.reason().find(reason), std::string::npos) << status.reason();
  }
  EXPECT_EQ(entriesBelow(outside), 4u);  // site, its file.gif, host and the new other
  EXPECT_TRUE(fs::is_directory(outside / "other"));
}

TEST_F(SaveLocationTest, PlainFileInPlaceOfAFolderIsFatal) {
  const std::pair<SaveLayout, std::string> cases[] = {{SaveLayout::Tree, "download"},
                                                      {SaveLayout::Date, "download/20050314"}};
  for (const auto& [layout, plainFile] : cases) {
    SCOPED_TRACE(plainFile);
    fs::remove_all("download");
    if (layout == SaveLayout::Date) fs::create_directory("download");
    std::ofstream(plainFile) << "x";
    SaveTarget target;
    const Status status = locate("http://host/a.gif", layout, &target);
    EXPECT_EQ(status.kind(), Status::Kind::Fatal);
    EXPECT_EQ(status.reason(), utf8ToCp932(plainFile + "ファイルが存在しています。").str());
    EXPECT_EQ(fs::file_size(plainFile), 1u);
    EXPECT_EQ(entriesBelow("."), layout == SaveLayout::Tree ? 1u : 2u);
  }
}

}  // namespace
}  // namespace tarnwick
