#include "tools/crawl_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick::cli {
namespace {

UiMessage message(std::int32_t code, const char* text, std::int32_t value1 = 0,
                  std::int32_t value2 = 0, const char* detail = "") {
  UiMessage m;
  m.code = code;
  m.text = text;
  m.detail = detail;
  m.value1 = value1;
  m.value2 = value2;
  return m;
}

TEST(CrawlProgressTest, RendersEachStatusMessage) {
  struct Step {
    UiMessage message;
    std::string stdoutLine;
    std::string statusLine;  // at 80 columns
  };
  const std::vector<Step> steps = {
      {message(StatusUrlAdded, "http://h/"), "", ""},
      {message(StatusSearching, "http://h/"), "", "検索中... http://h/"},
      {message(StatusExamining, "http://h/a.gif"), "", "調査中... http://h/a.gif"},
      {message(StatusDownloading, "http://h/a.gif", 0, 200), "",
       "ダウンロード中... [--------------------]   0% 0/200 http://h/a.gif"},
      {message(StatusDownloading, "http://h/a.gif", 150, 200), "",
       "ダウンロード中... [###############-----]  75% 150/200 http://h/a.gif"},
      {message(StatusDownloaded, "http://h/a.gif", 200, 200, "/w/download/h/a\x89\xE6.gif"),
       "http://h/a.gif\t/w/download/h/a画.gif\n",
       "ダウンロード中... [###############-----]  75% 150/200 http://h/a.gif"},
      {message(StatusDownloading, "http://h/\x89\xE6.gif", 0x7FFFFFFF, 0), "",
       "ダウンロード中... 2147483647 bytes http://h/画.gif"},
  };
  CrawlProgress progress;
  for (const Step& step : steps) {
    EXPECT_EQ(progress.take(step.message), step.stdoutLine) << step.message.code;
    EXPECT_EQ(progress.statusLine(80), step.statusLine) << step.message.code;
  }
  EXPECT_FALSE(progress.finished());
  EXPECT_EQ(progress.take(message(StatusFinished, "")), "");
  EXPECT_TRUE(progress.finished());
  EXPECT_EQ(progress.summary(1.26),
            "巡回ダウンロード終了\n1 pages searched, 1 files saved, 150 bytes, 1.3 seconds\n");
}

TEST(CrawlProgressTest, FitsTextIntoTerminalColumns) {
  struct Case {
    std::string text;
    int columns;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"abcdef", 4, "abcd"},   {"abc", 10, "abc"},   {"検索中", 5, "検索"},
      {"検索中", 6, "検索中"}, {"aé検b", 4, "aé検"}, {"aé検b", 3, "aé"},
      {"ｱｲｳ", 2, "ｱｲ"},        {"", 3, ""},          {"abc", 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fitToColumns(c.text, c.columns), c.expected) << c.text << " in " << c.columns;
  }
}

}  // namespace
}  // namespace tarnwick::cli
