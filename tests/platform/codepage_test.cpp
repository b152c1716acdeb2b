#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(CodepageTest, FileNamesKeepEveryByte) {
  const std::pair<ByteString, std::string> cases[] = {
      {"host/dir/a.html", "host/dir/a.html"},
      {"\x93\xfa\x96\x7b/\x83\x5c.txt", "日本/ソ.txt"},  // 0x5C as a trail byte is no separator
      {"a\x81", "a%81"},                                 // lone lead byte at the end
      {"\x81\x20x", "%81 x"},                            // lead byte with an invalid trail
      {"\x80\xfd\xa6", "%80%FDｦ"},
      {ByteString(std::string_view("a\0b", 3)), "a%00b"},
      {ByteString(std::string_view("\x93\0", 2)), "%93%00"},
      {"%20", "%20"},
  };
  // The second pass shows that no call sees state left by an earlier failed sequence.
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& [cp932, fileName] : cases) EXPECT_EQ(cp932ToUtf8FileName(cp932), fileName);
  }
}

TEST(CodepageTest, TextConvertsBothWays) {
  const std::pair<ByteString, std::string> fromCp932[] = {
      {"download\x83\x74\x83\x40\x83\x43\x83\x8b", "downloadファイル"},
      {"a\x81", "a\xEF\xBF\xBD"},
      {"\x81\x20", "\xEF\xBF\xBD "},
  };
  for (const auto& [cp932, utf8] : fromCp932) EXPECT_EQ(cp932ToUtf8(cp932), utf8);
  const std::pair<std::string, ByteString> toCp932[] = {
      {"日本", "\x93\xfa\x96\x7b"},
      {"a€b", "a?b"},                 // no code page 932 form
      {"\xFFx", "?x"},                // not UTF-8 at all
      {"a\xE6\x97", "a?"},            // cut-off UTF-8 sequence
      {"caf\xE9.html", "caf?.html"},  // a Latin-1 byte keeps the text after it
  };
  for (const auto& [utf8, cp932] : toCp932) EXPECT_EQ(utf8ToCp932(utf8), cp932) << utf8;
}

}  // namespace
}  // namespace tarnwick
