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

TEST_F(SaveLocationTest, MapsUrlsToPathsInBothLayouts) {
  const struct {
    const char* url;
    const char* tree;  // below "download"
    const char* date;
  } cases[] = {
      {"http://host/dir/a.gif", "host/dir/a.gif", "20050314/a.gif"},
      {"http://host/", "host/index.html", "20050314/index.html"},
      {"http://host/dir/sub/", "host/dir/sub/index.html", "20050314/index.html"},
      {"http://other/img/a.gif", "other/img/a.gif", "20050314/a.gif"},
      {"http://host:81/x.html", "host:81/x.html", "20050314/x.html"},
      {"http://host/a.html?x=1", "host/a.html?x=1", "20050314/a.html?x=1"},
  };
  for (const auto& c : cases) {
    for (const auto& [layout, expected] :
         {std::pair{SaveLayout::Tree, c.tree}, std::pair{SaveLayout::Date, c.date}}) {
      SCOPED_TRACE(std::string(c.url) + (layout == SaveLayout::Tree ? " tree" : " date"));
      const std::optional<SaveTarget> target = SaveLocation(layout, services()).pathForUrl(c.url);
      ASSERT_TRUE(target.has_value());
      EXPECT_EQ(target->path.str(), (download() / expected).string());
      EXPECT_EQ(target->storedSize, 0u);
      EXPECT_TRUE(fs::is_directory(fs::path(target->path.str()).parent_path()));
    }
  }
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

TEST_F(SaveLocationTest, HostileUrlsStayBelowTheDownloadFolder) {
  const struct {
    std::string url;
    const char* tree;
    const char* date;
  } cases[] = {
      {"http://../x.gif", "%2E%2E/x.gif", "x.gif"},
      {"http://host/a/../../../x.gif", "host/a/%2E%2E/%2E%2E/%2E%2E/x.gif", "x.gif"},
      {"http://host/..", "host/%2E%2E", "%2E%2E"},
      {"http://host/.", "host/%2E", "%2E"},
      {"http://..", "%2E%2E", "%2E%2E"},
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
      const fs::path below =
          fs::path(target->path.str()).lexically_normal().lexically_relative(download());
      EXPECT_FALSE(below.empty() || *below.begin() == ".." || below == ".") << below;
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 1);  // only "download"
}

TEST_F(SaveLocationTest, ReportsTheSizeOfAStoredFileAndZeroForAFolder) {
  fs::create_directories("download/host/dir");
  std::ofstream("download/host/a.gif") << std::string(1234, 'a');
  const struct {
    const char* url;
    std::uint64_t size;
  } cases[] = {{"http://host/a.gif", 1234}, {"http://host/dir", 0}, {"http://host/b.gif", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(SaveLocation(SaveLayout::Tree, services()).pathForUrl(c.url)->storedSize, c.size);
  }
}

}  // namespace
}  // namespace tarnwick
