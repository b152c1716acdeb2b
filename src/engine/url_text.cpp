#include "engine/url_text.h"

#include <string_view>

namespace tarnwick {
namespace {

// Where a URL's "user:password@" lies: from the end of "://" up to and including the last
// "@" before the path. Empty when there is none.
struct UserInfo {
  std::size_t begin = 0;
  std::size_t end = 0;
};

UserInfo userInfoOf(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return {};
  const std::size_t begin = scheme + 3;
  const std::size_t hostEnd = std::min(url.find_first_of("/?#", begin), url.size());
  const std::size_t at = url.substr(0, hostEnd).rfind('@');
  if (at == std::string_view::npos || at < begin) return {};
  return {begin, at + 1};
}

}  // namespace

ByteString withoutUserInfo(const ByteString& url) {
  const UserInfo user = userInfoOf(url.view());
  if (user.begin == user.end) return url;
  return ByteString(url.view().substr(0, user.begin)) + ByteString(url.view().substr(user.end));
}

ByteString withPasswordHidden(const ByteString& url) {
  const UserInfo user = userInfoOf(url.view());
  const std::size_t colon = url.view().substr(0, user.end).find(':', user.begin);
  if (user.begin == user.end || colon == std::string_view::npos) return url;
  return ByteString(url.view().substr(0, colon + 1)) + "***" +
         ByteString(url.view().substr(user.end - 1));
}

}  // namespace tarnwick
