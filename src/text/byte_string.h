#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

// A counted byte string in code page 932 (Shift-JIS) with value semantics.
// Positions and lengths count bytes. Searching and lower-casing treat
// a lead byte (0x81-0x9F, 0xE0-0xFC) and the byte after it as one character: no
// match starts on a trail byte, and a lead byte at the very end stands alone.
class ByteString {
 public:
  ByteString() = default;
  ByteString(const char* text);  // NOLINT(google-explicit-constructor): literals read naturally
  ByteString(const char* data, std::size_t size);
  explicit ByteString(std::string_view bytes);
  explicit ByteString(std::string&& bytes);

  static bool isLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  }

  int length() const { return static_cast<int>(bytes_.size()); }
  const char* data() const { return bytes_.data(); }
  std::string_view view() const { return bytes_; }
  const std::string& str() const { return bytes_; }
  char operator[](int index) const { return bytes_[static_cast<std::size_t>(index)]; }

  // True when `index` is the first byte of a character (0 and length() included).
  bool isCharBoundary(int index) const;

  // First occurrence at or after `start`, or -1 (also for a negative start or one
  // past the end). An empty `text` is found at `start` when start <= length().
  int find(std::string_view text, int start = 0) const;
  int find(char c, int start = 0) const;
  // First byte at or after `start` that is a single-byte character in `set`, or -1.
  int findOneOf(std::string_view set, int start = 0) const;
  // Last occurrence of a single-byte character, or -1.
  int findLast(char c) const;

  ByteString left(int count) const;
  ByteString mid(int start) const;
  ByteString mid(int start, int count) const;

  // Lower-cases ASCII capitals and the double-byte Latin, Greek and Cyrillic capitals.
  void makeLower();

  void append(const char* data, std::size_t size) { bytes_.append(data, size); }
  void reserve(std::size_t size) { bytes_.reserve(size); }
  void clear() { bytes_.clear(); }
  ByteString& operator+=(const ByteString& other) {
    bytes_ += other.bytes_;
    return *this;
  }
  ByteString& operator+=(std::string_view other) {
    bytes_ += other;
    return *this;
  }
  ByteString& operator+=(char c) {
    bytes_ += c;
    return *this;
  }

  friend ByteString operator+(ByteString lhs, const ByteString& rhs) { return lhs += rhs; }
  friend ByteString operator+(ByteString lhs, const char* rhs) {
    return lhs += std::string_view(rhs);
  }
  friend ByteString operator+(const char* lhs, const ByteString& rhs) {
    return ByteString(lhs) += rhs;
  }
  friend bool operator==(const ByteString&, const ByteString&) = default;

 private:
  std::string bytes_;
};

// True when `text` begins with `prefix`, ASCII letters compared without regard to case.
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);

}  // namespace tarnwick

template <>
struct std::hash<tarnwick::ByteString> {
  std::size_t operator()(const tarnwick::ByteString& s) const noexcept {
    return std::hash<std::string_view>{}(s.view());
  }
};
