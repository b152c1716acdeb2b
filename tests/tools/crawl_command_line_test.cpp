#include "tools/crawl_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tarnwick::cli {
namespace {

using Rows = std::vector<std::pair<std::int32_t, std::uint32_t>>;  // category, bytes

struct Case {
  std::vector<std::string_view> args;
  bool usageError;
  int depth;
  SaveLayout layout;
  Rows rows;
};

TEST(CrawlCommandLineTest, FillsTheJobLikeTheFormOrRefuses) {
  const SaveLayout tree = SaveLayout::Tree, date = SaveLayout::Date;
  const std::vector<Case> cases = {
      {{"http://h/"}, false, 4, tree, {{2, 64 * 1024}}},
      {{"--depth", "260", "--layout", "date", "http://h/"}, false, 4, date, {{2, 64 * 1024}}},
      {{"--depth=256", "http://h/"}, false, 0, tree, {{2, 64 * 1024}}},
      {{"--zip=3", "--html", "http://h/"}, false, 4, tree, {{0, 0}, {7, 3 * 1024}}},
      {{"--txt=1", "--img=2", "--midi=3", "--audio=4", "--video=5", "--realone=6", "http://h/"},
       false,
       4,
       tree,
       {{1, 1024}, {2, 2048}, {3, 3072}, {4, 4096}, {5, 5120}, {6, 6144}}},
      {{"--video=4194303", "http://h/"}, false, 4, tree, {{5, 4194303u * 1024}}},
      {{"--video=4194304", "http://h/"}, true, 0, tree, {}},
      {{"--depth=4294967296", "http://h/"}, true, 0, tree, {}},
      {{"--depth", "http://h/"}, true, 0, tree, {}},
      {{"--depth", "-1", "http://h/"}, true, 0, tree, {}},
      {{"--img=12k", "http://h/"}, true, 0, tree, {}},
      {{"--layout=flat", "http://h/"}, true, 0, tree, {}},
      {{"--pdf", "http://h/"}, true, 0, tree, {}},
      {{"-v", "http://h/"}, true, 0, tree, {}},
      {{"http://h/", "http://i/"}, true, 0, tree, {}},
      {{"--img"}, true, 0, tree, {}},
      {{}, true, 0, tree, {}},
  };
  for (const Case& c : cases) {
    const std::string shown = ::testing::PrintToString(c.args);
    if (c.usageError) {
      EXPECT_THROW(parseCrawlCommand(c.args), UsageError) << shown;
      continue;
    }
    const CrawlCommand command = parseCrawlCommand(c.args);
    EXPECT_EQ(command.action, CrawlAction::Crawl) << shown;
    EXPECT_EQ(command.job.maxDepth, c.depth) << shown;
    EXPECT_EQ(command.job.saveLayout, c.layout) << shown;
    EXPECT_EQ(command.job.startUrl, ByteString("http://h/")) << shown;
    Rows rows;
    for (std::uint32_t i = 0; i < command.job.rowCount; ++i) {
      EXPECT_EQ(command.job.rowFlags[i], SaveIfAtLeast) << shown;
      rows.emplace_back(command.job.rowCategory[i], command.job.rowMinSize[i]);
    }
    EXPECT_EQ(rows, c.rows) << shown;
  }
}

TEST(CrawlCommandLineTest, HelpAndVersionWinAndTheUrlGoesToCodePage932) {
  EXPECT_EQ(parseCrawlCommand({"--img", "--help"}).action, CrawlAction::ShowHelp);
  EXPECT_EQ(parseCrawlCommand({"--version"}).action, CrawlAction::ShowVersion);
  EXPECT_EQ(parseCrawlCommand({"http://h/\xE7\x94\xBB.gif"}).job.startUrl,
            ByteString("http://h/\x89\xE6.gif"));
}

}  // namespace
}  // namespace tarnwick::cli
