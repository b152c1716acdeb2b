#include "tools/crawl_progress.h"

#include <locale.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "platform/codepage.h"

namespace tarnwick::cli {
namespace {

constexpr int kBarWidth = 20;

const char* statusWord(UiCode status) {
  switch (status) {
    case UiCode::StatusSearching:
      return "検索中...";
    case UiCode::StatusExamining:
      return "調査中...";
    case UiCode::StatusDownloading:
      return "ダウンロード中...";
    default:
      return "";
  }
}

std::string progressText(std::uint32_t received, std::uint32_t length) {
  if (length == 0) return std::to_string(received) + " bytes";
  const auto percent = std::min<std::uint64_t>(std::uint64_t{received} * 100 / length, 100);
  const auto filled = static_cast<std::size_t>(percent * kBarWidth / 100);
  char percentText[8];
  std::snprintf(percentText, sizeof percentText, "%3u%%", static_cast<unsigned>(percent));
  // Built by appending: GCC 12 misreports "literal" + std::string in optimised builds.
  std::string text = "[";
  text.append(filled, '#').append(kBarWidth - filled, '-').append("] ").append(percentText);
  text.append(" ").append(std::to_string(received)).append("/").append(std::to_string(length));
  return text;
}

// A URL from a page may hold control characters; written raw, ESC and the like would drive
// the terminal. Each becomes "?".
std::string printable(std::string text) {
  std::replace_if(
      text.begin(), text.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; }, '?');
  return text;
}

}  // namespace

CrawlProgress::Lines CrawlProgress::take(const UiMessage& message) {
  switch (message.code) {
    case UiCode::StatusSearching:
      ++pagesSearched_;
      break;
    case UiCode::StatusExamining:
      break;
    case UiCode::StatusDownloading:
      received_ = static_cast<std::uint32_t>(message.value1);
      length_ = static_cast<std::uint32_t>(message.value2);
      break;
    case UiCode::StatusDownloaded:
      ++filesSaved_;
      // The message's own size: the last progress message may have been dropped by a full queue.
      bytesSaved_ += static_cast<std::uint32_t>(message.value1);
      // A tab or line end in the URL or path would add fields or lines to the listing.
      return {printable(cp932ToUtf8(message.text)) + "\t" +
                  printable(cp932ToUtf8FileName(message.detail)) + "\n",
              {}};
    case UiCode::StatusEntryFailed:
      ++failures_;
      localFailures_ += message.value1 != 0;
      return {{},
              "tarnwick-crawl: " + printable(cp932ToUtf8(message.text)) + ": " +
                  printable(cp932ToUtf8(message.detail)) + "\n"};
    case UiCode::StatusFinished:
      runFailed_ = message.value1 != 0;
      if (!runFailed_) return {};
      return {{}, "tarnwick-crawl: the crawl failed: " + cp932ToUtf8(message.detail) + "\n"};
    default:
      return {};
  }
  status_ = message.code;
  url_ = cp932ToUtf8(message.text);
  return {};
}

std::string CrawlProgress::statusLine(int columns) const {
  std::string line = statusWord(status_);
  if (status_ == UiCode::StatusDownloading)
    line.append(" ").append(progressText(received_, length_));
  if (!url_.empty()) line.append(" ").append(printable(url_));
  return fitToColumns(line, columns);
}

std::string CrawlProgress::summary(double seconds) const {
  char secondsText[32];
  std::snprintf(secondsText, sizeof secondsText, "%.1f", seconds);
  return "巡回ダウンロード終了\n" + std::to_string(pagesSearched_) + " pages searched, " +
         std::to_string(filesSaved_) + " files saved, " + std::to_string(bytesSaved_) + " bytes, " +
         std::to_string(failures_) + " failed, " + secondsText + " seconds\n";
}

std::string fitToColumns(const std::string& text, int columns) {
  // wcwidth knows the widths under a UTF-8 character type only. Every UTF-8 locale has the
  // same ones, and this text is UTF-8 whatever the user's locale, so C.UTF-8 is taken.
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  const locale_t previous = uselocale(utf8);
  int used = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t size = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = size == 1 ? lead : lead & (0x7F >> size);
    for (std::size_t i = 1; i < size && at + i < text.size(); ++i) {
      c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    const int width = wcwidth(static_cast<wchar_t>(c));
    used += width < 0 ? 1 : width;  // one column for what wcwidth does not know
    if (used > columns) break;
    at += size;
  }
  uselocale(previous);
  return text.substr(0, std::min(at, text.size()));
}

}  // namespace tarnwick::cli
