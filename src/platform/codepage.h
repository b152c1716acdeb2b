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
// Form for file names: each byte that does not convert, and NUL, is written "%XX"
// (uppercase hex), so the same bytes always give the same name and no byte is lost. A
// literal "%XX" in the text is kept as it is, so it shares its name with the raw byte 0xXX
// in the rare case that byte does not convert on its own.
std::string cp932ToUtf8FileName(const ByteString& path);
// Code page 932 form of a file system name: each UTF-8 character without a code page 932
// form is written as the "%XX" escapes of its bytes. Feeding that back through
// cp932ToUtf8FileName does not give the original name back for such characters.
ByteString utf8ToCp932FileName(std::string_view name);

}  // namespace tarnwick
