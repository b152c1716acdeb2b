#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace tarnwick {
namespace {

constexpr char kCp932[] = "CP932";
constexpr char kUtf8[] = "UTF-8";

// One conversion descriptor per direction and thread: iconv_t keeps shift state and is
// not safe to share between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Converter() {
    if (isOpen()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool isOpen() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `input`; a sequence that does not convert (its length given by
  // `invalidLength`) is handed to `replace`, which writes its stand-in to `out`.
  template <typename InvalidLength, typename Replace>
  std::string convert(std::string_view input, InvalidLength invalidLength, Replace replace) {
    std::string out;
    if (!isOpen()) {
      replace(input, out);
      return out;
    }
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    char buffer[1024];
    while (!input.empty()) {
      char* in = const_cast<char*>(input.data());
      std::size_t inLeft = input.size();
      char* outPtr = buffer;
      std::size_t outLeft = sizeof buffer;
      const std::size_t result = iconv(handle_, &in, &inLeft, &outPtr, &outLeft);
      const int error = errno;
      out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
      input.remove_prefix(input.size() - inLeft);
      if (result == static_cast<std::size_t>(-1) && error != E2BIG) {
        const std::size_t length = std::min(input.size(), invalidLength(input));
        replace(input.substr(0, length), out);
        input.remove_prefix(length);
      }
    }
    return out;
  }

 private:
  iconv_t handle_;
};

Converter& fromCp932() {
  thread_local Converter converter(kUtf8, kCp932);
  return converter;
}

Converter& toCp932() {
  thread_local Converter converter(kCp932, kUtf8);
  return converter;
}

// A code page 932 byte that starts no valid character is skipped alone, so the byte
// after a bad lead byte gets its own chance.
std::size_t singleByte(std::string_view) { return 1; }

// The bytes of the UTF-8 character that starts `text`: its lead byte and the continuation
// bytes that follow it, so a cut-off sequence never swallows the character after it.
std::size_t utf8CharacterLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text.front());
  std::size_t expected = 1;
  if (lead >= 0xF0 && lead <= 0xF4) {
    expected = 4;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    expected = 3;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    expected = 2;
  }
  std::size_t length = 1;
  while (length < expected && length < text.size() &&
         (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
    ++length;
  }
  return length;
}

void appendPercentEscapes(std::string_view bytes, std::string& out) {
  for (const char byte : bytes) {
    char escape[4];
    std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(byte));
    out += escape;
  }
}

}  // namespace

std::string cp932ToUtf8(const ByteString& text) {
  return fromCp932().convert(text.view(), singleByte, [](std::string_view, std::string& out) {
    out += "\xEF\xBF\xBD";  // U+FFFD
  });
}

ByteString utf8ToCp932(std::string_view text) {
  return ByteString(toCp932().convert(text, utf8CharacterLength,
                                      [](std::string_view, std::string& out) { out += '?'; }));
}

std::string cp932ToUtf8FileName(const ByteString& path) {
  // NUL would end the name at the system call, so it never reaches iconv.
  std::string out;
  std::string_view rest = path.view();
  while (!rest.empty()) {
    const std::size_t nul = std::min(rest.find('\0'), rest.size());
    out += fromCp932().convert(rest.substr(0, nul), singleByte, appendPercentEscapes);
    if (nul < rest.size()) out += "%00";
    rest.remove_prefix(std::min(nul + 1, rest.size()));
  }
  return out;
}

ByteString utf8ToCp932FileName(std::string_view name) {
  return ByteString(toCp932().convert(name, utf8CharacterLength, appendPercentEscapes));
}

}  // namespace tarnwick
