#pragma once

#include <string>
#include <string_view>

#include "text/byte_string.h"

namespace tarnwick {

// Conversions between the engine's code page 932 and UTF-8, for the edges of the
// program (terminal, window, file names). Safe from any thread.

// A byte sequence that does not convert becomes U+FFFD.
std::string cp932ToUtf8(const ByteString& text);
// A character without a code page 932 form becomes "?".
ByteString utf8ToCp932(std::string_view text);
// Lossless form for file names: each byte that does not convert is written "%XX".
std::string cp932ToUtf8FileName(const ByteString& path);

}  // namespace tarnwick
