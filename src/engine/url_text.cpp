#include "engine/url_text.h"

namespace tarnwick {

std::size_t schemeLength(std::string_view url, bool allowHttps) {
  if (url.starts_with("http://")) return 7;
  if (allowHttps && url.starts_with("https://")) return 8;
  return 0;
}

UrlAuthority authorityOf(const ByteString& url) {
  const auto begin = static_cast<int>(schemeLength(url.view()));
  const int found = url.findOneOf("/?#", begin + 1);
  const int end = found < 0 ? url.length() : found;
  if (begin == 0) return {0, 0, end};
  // "@" may be the trail byte of a double-byte character, which separates nothing.
  const int at = url.left(end).findLast('@');
  return {begin, at < begin ? begin : at + 1, end};
}

ByteString withoutUserInfo(const ByteString& url) {
  const UrlAuthority authority = authorityOf(url);
  if (authority.host == authority.begin) return url;
  return url.left(authority.begin) + url.mid(authority.host);
}

ByteString withPasswordHidden(const ByteString& url) {
  const UrlAuthority authority = authorityOf(url);
  const int colon = url.left(authority.host).find(':', authority.begin);
  if (colon < 0) return url;
  return url.left(colon + 1) + "***" + url.mid(authority.host - 1);
}

}  // namespace tarnwick
