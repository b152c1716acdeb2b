#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnwick {
namespace {

ByteString bytes(std::string_view text) { return ByteString(text); }

TEST(CodepageTest, FileNamesKeepEveryByte) {
  struct Case {
    ByteString cp932;
    std::string fileName;
  };
  const std::vector<Case> cases = {
      {"host/dir/a.html", "host/dir/a.html"},
      {"\x93\xfa\x96\x7b/\x83\x5c.txt", "日本/ソ.txt"},  // 0x5C as a trail byte is no separator
      {"a\x81", "a%81"},                                 // lone lead byte at the end
      {"\x81\x20x", "%81 x"},                            // lead byte with an invalid trail
      {"\x80\xfd\xa6", "%80%FDｦ"},
      {bytes(std::string_view("a\0b", 3)), "a%00b"},
      {bytes(std::string_view("\x93\0", 2)), "%93%00"},
      {"%20", "%20"},
  };
  std::vector<std::string> firstPass;
  for (const Case& c : cases) firstPass.push_back(cp932ToUtf8FileName(c.cp932));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].fileName);
    EXPECT_EQ(firstPass[i], cases[i].fileName);
    // A later call must not see state left behind by an earlier failed sequence.
    EXPECT_EQ(cp932ToUtf8FileName(cases[i].cp932), firstPass[i]);
  }
}

TEST(CodepageTest, TextConvertsBothWays) {
  struct Case {
    ByteString cp932;
    std::string utf8;
    bool fromCp932;
  };
  const Case cases[] = {
      {"download\x83\x74\x83\x40\x83\x43\x83\x8b", "downloadファイル", true},
      {"a\x81", "a\xEF\xBF\xBD", true},
      {"\x81\x20", "\xEF\xBF\xBD ", true},
      {"\x93\xfa\x96\x7b", "日本", false},
      {"a?b", "a€b", false},       // no code page 932 form
      {"?x", "\xFFx", false},      // not UTF-8 at all
      {"a?", "a\xE6\x97", false},  // cut-off UTF-8 sequence
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    if (c.fromCp932) {
      EXPECT_EQ(cp932ToUtf8(c.cp932), c.utf8);
    } else {
      EXPECT_EQ(utf8ToCp932(c.utf8), c.cp932);
    }
  }
}

}  // namespace
}  // namespace tarnwick
