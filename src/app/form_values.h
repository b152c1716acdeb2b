#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "engine/messages.h"

namespace tarnwick {

// Categories in FileCategory order: html, txt, img, midi, audio, video, realone, zip.
inline constexpr int kCategoryCount = 8;

// The main dialog's form as kept in the profile store.
struct FormValues {
  QString startUrl = "http://";
  std::array<std::int32_t, kCategoryCount> download{0, 0, 1, 0, 0, 0, 0, 0};
  std::array<std::uint32_t, kCategoryCount> sizeKb{0, 0, 64, 0, 0, 0, 0, 0};
  std::uint32_t depth = 4;
  std::int32_t counter = 0;  // program runs that ended by saving
  bool saveModeTree = true;

  friend bool operator==(const FormValues&, const FormValues&) = default;
};

// Reads a number field the way scanf's "%u" reads its first 63 characters: leading
// white space, an optional sign, digits, anything after them ignored. nullopt when no
// digits could be read.
std::optional<std::uint32_t> scanUnsigned(const QString& fieldText);

// Fills the settings part of `job` (not its queues) from the form. Thresholds are
// clamped so that their byte counts fit 32 bits.
void fillCrawlJob(const FormValues& form, CrawlJob& job);

}  // namespace tarnwick
