#include "tools/crawl_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick::cli {
namespace {

TEST(CrawlProgressTest, RendersEachStatusMessage) {
  const auto msg = [](std::int32_t code, const char* text, std::int32_t value1 = 0,
                      std::int32_t value2 = 0, const char* detail = "") {
    return UiMessage{code, text, detail, value1, value2};
  };
  const struct {
    UiMessage message;
    std::string stdoutLine;
    std::string statusLine;  // at `columns`
    int columns = 80;
  } steps[] = {
      {msg(StatusUrlAdded, "http://h/"), "", ""},
      {msg(StatusSearching, "http://h/"), "", "検索中... http://h/"},
      {msg(StatusExamining, "http://h/a.gif"), "", "調査中...", 9},
      {msg(StatusExamining, "http://h/a.gif"), "", "調査", 5},
      {msg(StatusDownloading, "http://h/a.gif", 150, 200), "",
       "ダウンロード中... [###############-----]  75% 150/200 http://h/a.gif"},
      {msg(StatusDownloaded, "http://h/a.gif", 200, 200, "/w/h/a\x89\xE6.gif"),
       "http://h/a.gif\t/w/h/a画.gif\n", "ダウンロード中... [###############-----]  75%", 45},
      {msg(StatusDownloading, "http://h/\x89\xE6", 0x7FFFFFFF, 0), "",
       "ダウンロード中... 2147483647 bytes http://h/画"},
  };
  CrawlProgress progress;
  for (const auto& step : steps) {
    EXPECT_EQ(progress.take(step.message), step.stdoutLine) << step.message.code;
    EXPECT_EQ(progress.statusLine(step.columns), step.statusLine) << step.message.code;
  }
  EXPECT_FALSE(progress.finished());
  EXPECT_EQ(progress.take(msg(StatusFinished, "")), "");
  EXPECT_TRUE(progress.finished());
  EXPECT_EQ(progress.summary(1.26),
            "巡回ダウンロード終了\n1 pages searched, 1 files saved, 150 bytes, 1.3 seconds\n");
}

}  // namespace
}  // namespace tarnwick::cli
