#include "app/settings.h"

#include "app/profile_store.h"
#include "engine/download_filter.h"

namespace tarnwick {
namespace {

const QString kSection = "Tarnwick";
QString tagOf(int category) {
  return QString::fromLatin1(kFileCategoryTags[static_cast<std::size_t>(category)]);
}
QString flagKey(int category) { return "download_" + tagOf(category); }
QString sizeKey(int category) { return "download_" + tagOf(category) + "_size"; }

}  // namespace

FormValues loadSettings(ProfileStore& store) {
  const FormValues defaults;
  FormValues form;
  form.startUrl = store.getString(kSection, "start_url", defaults.startUrl);
  for (int c = 0; c < kCategoryCount; ++c) {
    form.download[c] = store.getInteger(kSection, flagKey(c), defaults.download[c]);
  }
  for (int c = 0; c < kCategoryCount; ++c) {
    form.sizeKb[c] = static_cast<std::uint32_t>(
        store.getInteger(kSection, sizeKey(c), static_cast<std::int32_t>(defaults.sizeKb[c])));
  }
  form.depth = static_cast<std::uint32_t>(
      store.getInteger(kSection, "depth", static_cast<std::int32_t>(defaults.depth)));
  form.counter = store.getInteger(kSection, "counter", defaults.counter);
  form.saveModeTree =
      store.getInteger(kSection, "save_mode_tree", defaults.saveModeTree ? 1 : 0) != 0;
  return form;
}

void saveSettings(ProfileStore& store, const FormValues& form) {
  store.writeString(kSection, "start_url", form.startUrl);
  for (int c = 0; c < kCategoryCount; ++c) {
    store.writeInteger(kSection, flagKey(c), form.download[c]);
  }
  for (int c = 0; c < kCategoryCount; ++c) {
    store.writeInteger(kSection, sizeKey(c), static_cast<std::int32_t>(form.sizeKb[c]));
  }
  store.writeInteger(kSection, "depth", static_cast<std::int32_t>(form.depth));
  // Wraps like the stored 32-bit value would instead of overflowing.
  const auto nextCounter = static_cast<std::int32_t>(static_cast<std::uint32_t>(form.counter) + 1);
  store.writeInteger(kSection, "counter", nextCounter);
  store.writeInteger(kSection, "save_mode_tree", form.saveModeTree ? 1 : 0);
}

}  // namespace tarnwick
