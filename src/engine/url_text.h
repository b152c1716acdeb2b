#pragma once

#include <cstddef>
#include <string_view>

#include "text/byte_string.h"

namespace tarnwick {

// Length of the "http://" (or, when allowed, "https://") a URL begins with, exactly as
// written; 0 for anything else.
std::size_t schemeLength(std::string_view url, bool allowHttps = true);

// Where the authority of an "http://" or "https://" URL lies: from the scheme's end to the
// first "/", "?" or "#" behind its first character (or the URL's end), the host[:port]
// behind the last "@" in it. A URL of another scheme is read as if its authority began at
// its start, without user information: begin and host are 0.
struct UrlAuthority {
  int begin = 0;
  int host = 0;
  int end = 0;
};
UrlAuthority authorityOf(const ByteString& url);

// A URL without its "user:password@", as it may be sent to other hosts.
ByteString withoutUserInfo(const ByteString& url);

// A URL with its password written "***", as it may be printed or listed.
ByteString withPasswordHidden(const ByteString& url);

}  // namespace tarnwick
