#include "text/byte_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

namespace tarnwick {
namespace {

// 0x81 and 0xE0 are lead bytes; 0x95 0x5C is a character whose trail byte is "\". An odd
// run of lead-range bytes before a byte makes it a trail byte, an even run does not.
TEST(ByteStringTest, SearchesMatchOnlyAtCharacterStarts) {
  // Text, needle, start, then what find, findOneOf("\"?#> ") and findLast('/') return.
  const std::tuple<std::string, std::string, int, int, int, int> cases[] = {
      {"\x95\\x\\", "\\", 0, 3, -1, -1},
      {"\x81\"x\"", "\"", 0, 3, 3, -1},
      {"\x81/", "/", 0, -1, -1, -1},
      {"\x81href=href=", "href=", 0, 6, -1, -1},
      {"\xe0\xe0\xe0href=", "href=", 0, -1, -1, -1},
      {"\xe0\xe0href=", "href=", 0, 2, -1, -1},
      {"\x81\x81\x81\x81/x/", "/", 5, 6, -1, 6},
      {"ab\x81", "\x81", 0, 2, -1, -1},
      {"\x81xb", "b", 1, 2, -1, -1},
      {"abc", "", 3, 3, -1, -1},
      {"abc def/", "def", 0, 4, 3, 7},
      {"\x81\"x>/\x81/", ">", 0, 3, 3, 4},
      {"a b", " ", -1, -1, -1, -1},
      {"/\x81\x81\x81/", "/", 0, 0, -1, 0},
      {std::string(21, '\x81') + "?>/" + std::string(17, '\xe0') + "/", "/", 0, 23, 22, 23},
  };
  for (const auto& [text, needle, start, found, oneOf, lastSlash] : cases) {
    SCOPED_TRACE(text + " / " + needle);
    const ByteString s(text);
    EXPECT_EQ(s.find(needle, start), found);
    if (needle.size() == 1) {
      EXPECT_EQ(s.find(needle[0], start), found);
    }
    EXPECT_EQ(s.findOneOf("\"?#> ", start), oneOf);
    EXPECT_EQ(s.findLast('/'), lastSlash);
  }
}

TEST(ByteStringTest, LeftAndMidClip) {
  const ByteString s("abcdef");
  const std::pair<ByteString, ByteString> cases[] = {
      {s.left(0), ""},        {s.left(-1), ""},    {s.left(3), "abc"}, {s.left(99), s},
      {s.mid(-2), s},         {s.mid(4), "ef"},    {s.mid(6), ""},     {s.mid(1, 2), "bc"},
      {s.mid(-1, 2), "ab"},   {s.mid(4, 9), "ef"}, {s.mid(2, -1), ""}, {s.mid(1, INT_MAX), "bcdef"},
      {s.mid(INT_MAX, 1), ""}};
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

// Each case: input, then its lower-case form.
TEST(ByteStringTest, MakeLowerWorksOnWholeCharacters) {
  const char* const cases[][2] = {
      {"aBc", "abc"},
      {"yZ\x81", "yz\x81"},                      // a lone lead byte at the end stays as it is
      {"\x83\x41\x83\x5a", "\x83\x41\x83\x5a"},  // trail bytes "A", "Z"
      {"\x82\x60\x82\x79\x82\x5f", "\x82\x81\x82\x9a\x82\x5f"},
      {"\x83\x9f\x83\xb6\x83\xb7", "\x83\xbf\x83\xd6\x83\xb7"},
      {"\x84\x40\x84\x4e\x84\x4f\x84\x60\x84\x61", "\x84\x70\x84\x7e\x84\x80\x84\x91\x84\x61"}};
  for (const auto& [input, lower] : cases) {
    ByteString s(input);
    s.makeLower();
    EXPECT_EQ(s, ByteString(lower)) << input;
  }
}

}  // namespace
}  // namespace tarnwick
