#include "tools/crawl_progress.h"

#include <gtest/gtest.h>

namespace tarnwick::cli {
namespace {

TEST(CrawlProgressTest, RendersEachStatusMessage) {
  const std::string bar = "ダウンロード中... [###############-----]  75%";
  const struct {
    UiMessage message;
    int columns;
    std::string statusLine;
    std::string out = "";
    std::string err = "";
  } steps[] = {
      {{UiCode::StatusUrlAdded, "h/", ""}, 80, ""},
      {{UiCode::StatusSearching, "h/\x1B]0;x\x07", ""}, 80, "検索中... h/?]0;x?"},
      {{UiCode::StatusExamining, "h/a", ""}, 5, "調査"},
      {{UiCode::StatusDownloading, "h/a", "", 150, 200}, 80, bar + " 150/200 h/a"},
      {{UiCode::StatusDownloaded, "h/a\t", "/a\x89\xE6\n", 200, 200}, 45, bar, "h/a?\t/a画?\n"},
      {{UiCode::StatusDownloading, "\x89\xE6", "", INT32_MAX},
       80,
       "ダウンロード中... 2147483647 bytes 画"},
      {{UiCode::StatusEntryFailed, "h/b\x1B", "HTTP status 404", 0},
       9,
       "ダウンロ",
       "",
       "tarnwick-crawl: h/b?: HTTP status 404\n"},
      {{UiCode::StatusEntryFailed, "h/c", "cannot write 'c': No space left", 1},
       9,
       "ダウンロ",
       "",
       "tarnwick-crawl: h/c: cannot write 'c': No space left\n"},
  };
  CrawlProgress progress;
  for (const auto& step : steps) {
    const CrawlProgress::Lines lines = progress.take(step.message);
    EXPECT_EQ(lines.out, step.out) << static_cast<int>(step.message.code);
    EXPECT_EQ(lines.err, step.err) << static_cast<int>(step.message.code);
    EXPECT_EQ(progress.statusLine(step.columns), step.statusLine);
  }
  EXPECT_EQ(progress.localFailures(), 1u);
  EXPECT_FALSE(progress.runFailed());
  EXPECT_EQ(progress.take({UiCode::StatusFinished, "", "out of memory", 1}).err,
            "tarnwick-crawl: the crawl failed: out of memory\n");
  EXPECT_TRUE(progress.runFailed());
  EXPECT_EQ(progress.summary(1.26),
            "巡回ダウンロード終了\n1 pages searched, 1 files saved, "
            "200 bytes, 2 failed, 1.3 seconds\n");
}

}  // namespace
}  // namespace tarnwick::cli
