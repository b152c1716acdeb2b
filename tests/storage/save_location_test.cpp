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
    for (const bool tree : {true, false}) {
      SCOPED_TRACE(c.url + (tree ? " tree" : " date"));
      const SaveLayout layout = tree ? SaveLayout::Tree : SaveLayout::Date;
      const auto target = SaveLocation(layout, services()).pathForUrl(ByteString(c.url));
      ASSERT_TRUE(target.has_value());
      const fs::path path(target->path.str()), base = tree ? download() : download() / "20050314";
      EXPECT_EQ(path.string(), (base / (tree ? c.tree : c.date)).string());
      EXPECT_EQ(target->storedSize, tree ? c.storedInTree : 0u);
      EXPECT_EQ(files_.stat(ByteString(path.parent_path().string())).kind, EntryKind::Folder);
      const fs::path below = path.lexically_normal().lexically_relative(download());
      EXPECT_FALSE(below.empty() || *below.begin() == ".." || below == ".") << below;
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);  // only "download"
  EXPECT_TRUE(messageBox_.texts().empty());
}

TEST_F(SaveLocationTest, PlainFileInPlaceOfAFolderEndsTheProcess) {
  const std::pair<SaveLayout, std::string> cases[] = {{SaveLayout::Tree, "download"},
                                                      {SaveLayout::Date, "download/20050314"}};
  std::vector<ByteString> messages;
  for (const auto& [layout, plainFile] : cases) {
    SCOPED_TRACE(plainFile);
    fs::remove_all(download());
    if (layout == SaveLayout::Date) fs::create_directory("download");
    std::ofstream(plainFile) << "x";
    try {
      SaveLocation location(layout, services());
      ADD_FAILURE() << "the process was not ended";
    } catch (const testing::ProcessExitCalled& exitCalled) {
      EXPECT_EQ(exitCalled.status, 1);
    }
    messages.push_back(utf8ToCp932(plainFile + "ファイルが存在しています。"));
    EXPECT_EQ(messageBox_.texts(), messages);
    EXPECT_EQ(fs::file_size(plainFile), 1u);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator("."), {}),
              layout == SaveLayout::Tree ? 1 : 2);
  }
}

}  // namespace
}  // namespace tarnwick
