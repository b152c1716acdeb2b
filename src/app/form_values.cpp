#include "app/form_values.h"

#include <cstdio>

#include "platform/codepage.h"

namespace tarnwick {
namespace {

constexpr int kFieldCharacters = 63;

}  // namespace

std::optional<std::uint32_t> scanUnsigned(const QString& fieldText) {
  const QByteArray bytes = fieldText.left(kFieldCharacters).toUtf8();
  unsigned value = 0;
  if (std::sscanf(bytes.constData(), "%u", &value) != 1) return std::nullopt;
  return value;
}

void fillCrawlJob(const FormValues& form, CrawlJob& job) {
  job.maxDepth = static_cast<std::uint8_t>(form.depth % 256);
  job.startUrl = utf8ToCp932(form.startUrl.toStdString());
  job.rowCount = 0;
  for (int category = 0; category < kCategoryCount; ++category) {
    if (form.download[category] != 0) job.addDownloadRow(category, form.sizeKb[category]);
  }
  job.saveLayout = form.saveModeTree ? SaveLayout::Tree : SaveLayout::Date;
}

}  // namespace tarnwick
