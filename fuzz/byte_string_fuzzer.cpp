// ByteString searching, reversing and lower-casing on arbitrary bytes, checked against
// the character-by-character reference of fuzz_support.h.
//
// Input: one byte for the search start (below 0x80 counted from the front, from -2 on;
// above it counted back from two past the end), one byte for the needle length (0..7),
// the needle, then the text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "text/byte_string.h"

namespace tarnwick::fuzz {
namespace {

// The double-byte capitals that lower-casing maps, with the distance to their small forms.
struct CapitalRange {
  unsigned first, last, offset;
};
constexpr CapitalRange kCapitals[] = {
    {0x8260, 0x8279, 0x21},  // full-width A..Z
    {0x839F, 0x83B6, 0x20},  // Greek
    {0x8440, 0x844E, 0x30},  // Cyrillic before the gap at 0x847F
    {0x844F, 0x8460, 0x31},  // Cyrillic after it
};

std::string referenceLower(std::string_view text) {
  const std::vector<bool> starts = characterStarts(text);
  std::string lower(text);
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (!starts[pos]) continue;
    const auto first = static_cast<unsigned char>(text[pos]);
    if (starts[pos + 1]) {
      if (first >= 'A' && first <= 'Z') lower[pos] = static_cast<char>(first - 'A' + 'a');
      continue;
    }
    unsigned code = first << 8 | static_cast<unsigned char>(text[pos + 1]);
    for (const CapitalRange& range : kCapitals) {
      if (code >= range.first && code <= range.last) {
        code += range.offset;
        break;
      }
    }
    lower[pos] = static_cast<char>(code >> 8);
    lower[pos + 1] = static_cast<char>(code & 0xFF);
  }
  return lower;
}

void checkSearches(const ByteString& s, std::string_view needle, int start) {
  const std::string_view text = s.view();
  const std::vector<bool> starts = characterStarts(text);
  const int found = s.find(needle, start);
  require(found == referenceFind(text, needle, start), "find(text, start)");
  require(found < 0 || needle.empty() || starts[static_cast<std::size_t>(found)],
          "find starts on a trail byte");
  if (!needle.empty()) {
    require(s.find(needle[0], start) == referenceFind(text, needle.substr(0, 1), start),
            "find(char, start)");
    require(s.findLast(needle[0]) == referenceFindLast(text, needle[0]), "findLast");
  }
  require(
      s.findOneOf(needle, start) == (needle.empty() ? -1 : referenceFindOneOf(text, needle, start)),
      "findOneOf");
  for (const int index : {start - 1, start, start + 1, s.length() - 1, s.length() + 1}) {
    const bool inside = index >= 0 && index <= s.length();
    require(s.isCharBoundary(index) == (inside && starts[static_cast<std::size_t>(index)]),
            "isCharBoundary");
  }
}

void checkLower(const ByteString& s) {
  ByteString lower = s;
  lower.makeLower();
  require(lower.view() == referenceLower(s.view()), "makeLower");
  ByteString again = lower;
  again.makeLower();
  require(again == lower, "lower-casing twice changes the text");
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick::fuzz;
  if (size < 2) return 0;
  const std::size_t needleSize = std::min<std::size_t>(data[1] % 8, size - 2);
  const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  const tarnwick::ByteString text(rest.substr(needleSize));
  const int start = data[0] < 0x80 ? data[0] - 2 : text.length() + 2 - (data[0] - 0x80);
  checkSearches(text, rest.substr(0, needleSize), start);
  checkLower(text);
  return 0;
}
