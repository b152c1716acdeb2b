#pragma once

// Plain reference helpers shared by the fuzz targets: they walk text one character at a
// time, the slow and obvious way, so the fast code can be checked against them.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text/byte_string.h"

namespace tarnwick::fuzz {

// Ends the run with a message; libFuzzer keeps the input that got here.
inline void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

inline bool isLead(char byte) { return ByteString::isLeadByte(static_cast<unsigned char>(byte)); }

// starts[i] tells whether byte i starts a character; starts[size()] is true. A lead byte
// takes the next byte as its trail; a lead byte at the very end stands alone.
inline std::vector<bool> characterStarts(std::string_view text) {
  std::vector<bool> starts(text.size() + 1, false);
  for (std::size_t pos = 0; pos < text.size();) {
    starts[pos] = true;
    pos += isLead(text[pos]) && pos + 1 < text.size() ? 2 : 1;
  }
  starts[text.size()] = true;
  return starts;
}

// First position at or after `start` that starts a character and holds `needle`, or -1.
// An empty needle is found at `start` itself, as ByteString documents.
inline int referenceFind(std::string_view text, std::string_view needle, int start) {
  if (start < 0 || start > static_cast<int>(text.size())) return -1;
  if (needle.empty()) return start;
  const std::vector<bool> starts = characterStarts(text);
  for (std::size_t pos = static_cast<std::size_t>(start); pos <= text.size(); ++pos) {
    if (starts[pos] && text.substr(pos).starts_with(needle)) return static_cast<int>(pos);
  }
  return -1;
}

// First byte at or after `start` that starts a character and belongs to `set`, or -1.
inline int referenceFindOneOf(std::string_view text, std::string_view set, int start) {
  if (start < 0 || start > static_cast<int>(text.size())) return -1;
  const std::vector<bool> starts = characterStarts(text);
  for (std::size_t pos = static_cast<std::size_t>(start); pos < text.size(); ++pos) {
    if (starts[pos] && set.find(text[pos]) != std::string_view::npos) return static_cast<int>(pos);
  }
  return -1;
}

// Last byte `c` that starts a character, or -1.
inline int referenceFindLast(std::string_view text, char c) {
  const std::vector<bool> starts = characterStarts(text);
  for (std::size_t pos = text.size(); pos-- > 0;) {
    if (starts[pos] && text[pos] == c) return static_cast<int>(pos);
  }
  return -1;
}

// Splits fuzz input at its first NUL: the part before and the part after.
inline std::pair<std::string_view, std::string_view> splitAtFirstNul(std::string_view data) {
  const std::size_t nul = data.find('\0');
  if (nul == std::string_view::npos) return {data, {}};
  return {data.substr(0, nul), data.substr(nul + 1)};
}

}  // namespace tarnwick::fuzz
