#pragma once

#include "text/byte_string.h"

namespace tarnwick {

// A URL without its "user:password@", as it may be sent to other hosts.
ByteString withoutUserInfo(const ByteString& url);

// A URL with its password written "***", as it may be printed or listed.
ByteString withPasswordHidden(const ByteString& url);

}  // namespace tarnwick
