#include "storage/save_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

class SaveLocationTest : public ::testing::Test {
 protected:
  PlatformServices services() { return {nullptr, &files_, &clock_, &messageBox_, &exit_}; }
  fs::path download() const { return fs::current_path() / "download"; }

  testing::TempDir temp_;
  testing::ScopedCurrentDirectory inTemp_{temp_.path()};
  testing::FaultInjectingFileSystem files_;
  testing::FakeClock clock_{"20050314"};
  testing::ScriptedMessageBox messageBox_;
  testing::ThrowingProcessExit exit_;
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
      {"http://host/dir", "host/dir", "dir"},
      {"http://host/dir/sub/", "host/dir/sub/index.html", "index.html"},
      {"http://host:81/x.html", "host:81/x.html", "x.html"},
      {"http://host/a.html?x=1", "host/a.html?x=1", "a.html?x=1"},
      {"http://../x.gif", "%2E%2E/x.gif", "x.gif"},
      {"http://host/a/../../../x.gif", "host/a/%2E%2E/%2E%2E/%2E%2E/x.gif", "x.gif"},
      {"http://host/..", "host/%2E%2E", "%2E%2E"},
      {"http://host/.", "host/%2E", "%2E"},
      {"http://", "index.html", "index.html"},
      {std::string("http://host/a\0b/c\0", 18), "host/a%00b/c%00", "c%00"},
      {"http://h\x81/../x", "h\x81/%2E%2E/x", "x"},
      {"http://host/x.gif.twk-part", "host/x.gif%2Etwk-part", "x.gif%2Etwk-part"},
  };
  for (const auto& c : cases) {
    for (const auto& [layout, expected] :
         {std::pair{SaveLayout::Tree, c.tree}, std::pair{SaveLayout::Date, c.date}}) {
      SCOPED_TRACE(c.url + (layout == SaveLayout::Tree ? " tree" : " date"));
      const fs::path base = layout == SaveLayout::Tree ? download() : download() / "20050314";
      const std::optional<SaveTarget> target =
          SaveLocation(layout, services()).pathForUrl(ByteString(c.url));
      ASSERT_TRUE(target.has_value());
      EXPECT_EQ(target->path.str(), (base / expected).string());
      EXPECT_EQ(target->storedSize, layout == SaveLayout::Tree ? c.storedInTree : 0u);
      const ByteString folder(fs::path(target->path.str()).parent_path().string());
      EXPECT_EQ(files_.stat(folder).kind, EntryKind::Folder);  // names as the file system maps them
      const fs::path below =
          fs::path(target->path.str()).lexically_normal().lexically_relative(download());
      EXPECT_FALSE(below.empty() || *below.begin() == ".." || below == ".") << below;
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);  // only "download"
  EXPECT_TRUE(messageBox_.texts().empty());
}

TEST_F(SaveLocationTest, PlainFileInPlaceOfAFolderEndsTheProcess) {
  const struct {
    SaveLayout layout;
    const char* plainFile;
    const char* message;
  } cases[] = {
      {SaveLayout::Tree, "download", "downloadファイルが存在しています。"},
      {SaveLayout::Date, "download/20050314", "download/20050314ファイルが存在しています。"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plainFile);
    testing::ScriptedMessageBox messageBox;
    PlatformServices withOwnBox = services();
    withOwnBox.messageBox = &messageBox;
    fs::remove_all(download());
    if (c.layout == SaveLayout::Date) fs::create_directory("download");
    std::ofstream(c.plainFile) << "x";
    try {
      SaveLocation location(c.layout, withOwnBox);
      ADD_FAILURE() << "the process was not ended";
    } catch (const testing::ProcessExitCalled& exitCalled) {
      EXPECT_EQ(exitCalled.status, 1);
    }
    EXPECT_EQ(messageBox.texts(), std::vector<ByteString>{utf8ToCp932(c.message)});
    EXPECT_EQ(fs::file_size(c.plainFile), 1u);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator("."), {}),
              c.layout == SaveLayout::Tree ? 1 : 2);
  }
}

}  // namespace
}  // namespace tarnwick
