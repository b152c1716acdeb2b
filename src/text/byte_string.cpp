#include "text/byte_string.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool isLead(char byte) { return ByteString::isLeadByte(static_cast<unsigned char>(byte)); }

// Tells whether byte positions start a character. Positions must be asked in
// non-decreasing order: the tracker remembers the last position proven to start a
// character, so a run of double-byte text is counted once however many candidates
// fall inside it. A byte outside the lead range always ends a character, so on
// single-byte text each answer costs one look back.
class BoundaryTracker {
 public:
  explicit BoundaryTracker(std::string_view bytes) : bytes_(bytes) {}

  bool startsChar(std::size_t pos) {
    std::size_t runStart = pos;
    while (runStart > known_ && isLead(bytes_[runStart - 1])) --runStart;
    // runStart starts a character; from there the lead-range bytes pair up.
    const bool boundary = (pos - runStart) % 2 == 0;
    known_ = boundary ? pos : pos - 1;
    return boundary;
  }

 private:
  std::string_view bytes_;
  std::size_t known_ = 0;
};

std::size_t findBytes(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (from >= haystack.size()) return kNone;
  const void* hit =
      needle.size() == 1
          ? std::memchr(haystack.data() + from, needle[0], haystack.size() - from)
          : memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size());
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data()) : kNone;
}

// Finds the next byte that belongs to a set. With SSE2 a small set is tested sixteen
// bytes per step; otherwise each byte is looked up in a table. Nothing that is not
// used is initialised: a scanner is built on every call and the set scan is often short.
class ByteSetScanner {
 public:
  explicit ByteSetScanner(std::string_view set) : set_(set) {
#if defined(__SSE2__)
    if (set.size() <= kMaxVectorMembers) {
      for (std::size_t i = 0; i < set.size(); ++i) vectors_[i] = _mm_set1_epi8(set[i]);
      return;
    }
#endif
    useTable_ = true;
    members_.fill(false);
    for (char c : set) members_[static_cast<unsigned char>(c)] = true;
  }

  std::size_t next(std::string_view bytes, std::size_t from) const {
#if defined(__SSE2__)
    if (!useTable_) {
      for (; from + 16 <= bytes.size(); from += 16) {
        const int mask = blockMask(bytes.data() + from);
        if (mask != 0) return from + static_cast<std::size_t>(__builtin_ctz(mask));
      }
    }
#endif
    for (; from < bytes.size(); ++from) {
      if (contains(bytes[from])) return from;
    }
    return kNone;
  }

 private:
  bool contains(char c) const {
    return useTable_ ? members_[static_cast<unsigned char>(c)] : set_.find(c) != kNone;
  }

#if defined(__SSE2__)
  static constexpr std::size_t kMaxVectorMembers = 8;

  int blockMask(const char* block) const {
    const __m128i data = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    __m128i hits = _mm_cmpeq_epi8(data, vectors_[0]);
    for (std::size_t i = 1; i < set_.size(); ++i) {
      hits = _mm_or_si128(hits, _mm_cmpeq_epi8(data, vectors_[i]));
    }
    return _mm_movemask_epi8(hits);
  }

  __m128i vectors_[kMaxVectorMembers];
#endif
  std::string_view set_;
  bool useTable_ = false;
  std::array<bool, 256> members_;
};

// Returns the first candidate that starts a character; `next(from)` yields the
// next candidate position at or after `from`, or kNone.
template <typename NextCandidate>
int firstOnBoundary(std::string_view bytes, std::size_t from, NextCandidate next) {
  BoundaryTracker tracker(bytes);
  for (std::size_t pos = next(from); pos != kNone; pos = next(pos + 1)) {
    if (tracker.startsChar(pos)) return static_cast<int>(pos);
  }
  return -1;
}

// The lower-case form of a double-byte capital, or the code unchanged.
unsigned lowerDoubleByte(unsigned code) {
  if (code >= 0x8260 && code <= 0x8279) return code + 0x21;  // full-width Latin
  if (code >= 0x839F && code <= 0x83B6) return code + 0x20;  // Greek
  // Cyrillic: the small letters skip 0x847F, which is never a trail byte.
  if (code >= 0x8440 && code <= 0x844E) return code + 0x30;
  if (code >= 0x844F && code <= 0x8460) return code + 0x31;
  return code;
}

// Length in bytes of the character starting at `pos`.
std::size_t charLength(std::string_view bytes, std::size_t pos) {
  return isLead(bytes[pos]) && pos + 1 < bytes.size() ? 2 : 1;
}

}  // namespace

ByteString::ByteString(const char* text) : bytes_(text ? text : "") {}

ByteString::ByteString(const char* data, std::size_t size) : bytes_(data, size) {}

ByteString::ByteString(std::string_view bytes) : bytes_(bytes) {}

ByteString::ByteString(std::string&& bytes) : bytes_(std::move(bytes)) {}

bool ByteString::isCharBoundary(int index) const {
  if (index < 0 || index > length()) return false;
  if (index == length()) return true;  // even after an unfinished lead byte
  return BoundaryTracker(bytes_).startsChar(static_cast<std::size_t>(index));
}

int ByteString::find(std::string_view text, int start) const {
  if (start < 0 || start > length()) return -1;
  if (text.empty()) return start;
  return firstOnBoundary(bytes_, static_cast<std::size_t>(start),
                         [&](std::size_t from) { return findBytes(bytes_, text, from); });
}

int ByteString::find(char c, int start) const { return find(std::string_view(&c, 1), start); }

int ByteString::findOneOf(std::string_view set, int start) const {
  if (start < 0 || start > length() || set.empty()) return -1;
  const ByteSetScanner scanner(set);
  return firstOnBoundary(bytes_, static_cast<std::size_t>(start),
                         [&](std::size_t from) { return scanner.next(bytes_, from); });
}

int ByteString::findLast(char c) const {
  // Scans backwards. Candidates inside one run of lead-range bytes share the
  // run's start, so the run is counted once.
  std::size_t runStart = kNone;
  std::size_t end = bytes_.size();
  while (const void* hit = memrchr(bytes_.data(), c, end)) {
    const auto pos = static_cast<std::size_t>(static_cast<const char*>(hit) - bytes_.data());
    if (runStart == kNone || pos < runStart) {
      runStart = pos;
      while (runStart > 0 && isLead(bytes_[runStart - 1])) --runStart;
    }
    if ((pos - runStart) % 2 == 0) return static_cast<int>(pos);
    end = pos;
  }
  return -1;
}

ByteString ByteString::left(int count) const {
  if (count <= 0) return {};
  return ByteString(view().substr(0, static_cast<std::size_t>(count)));
}

ByteString ByteString::mid(int start) const { return mid(start, length()); }

ByteString ByteString::mid(int start, int count) const {
  const auto from = static_cast<std::size_t>(std::max(start, 0));
  if (from >= bytes_.size()) return {};
  return ByteString(view().substr(from, static_cast<std::size_t>(std::max(count, 0))));
}

void ByteString::makeLower() {
  for (std::size_t pos = 0; pos < bytes_.size();) {
    auto& first = reinterpret_cast<unsigned char&>(bytes_[pos]);
    if (charLength(bytes_, pos) == 1) {
      if (first >= 'A' && first <= 'Z') first = static_cast<unsigned char>(first + ('a' - 'A'));
      ++pos;
      continue;
    }
    auto& second = reinterpret_cast<unsigned char&>(bytes_[pos + 1]);
    const unsigned lower = lowerDoubleByte(unsigned{first} << 8 | second);
    first = static_cast<unsigned char>(lower >> 8);
    second = static_cast<unsigned char>(lower & 0xFF);
    pos += 2;
  }
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace tarnwick
