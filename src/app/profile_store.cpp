#include "app/profile_store.h"

#include <QSettings>
#include <limits>

namespace tarnwick {
namespace {

class SettingsProfileStore final : public ProfileStore {
 public:
  SettingsProfileStore(const QString& company, const QString& application)
      : settings_(QSettings::NativeFormat, QSettings::UserScope, company, application) {}

  QString getString(const QString& section, const QString& key, const QString& fallback) override {
    const QVariant value = read(section, key);
    return value.isValid() ? value.toString() : fallback;
  }

  std::int32_t getInteger(const QString& section, const QString& key,
                          std::int32_t fallback) override {
    bool ok = false;
    const qlonglong value = read(section, key).toLongLong(&ok);
    // Either reading of 32 bits counts: sizes are unsigned, the counter is signed.
    if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::uint32_t>::max()) {
      return fallback;
    }
    return static_cast<std::int32_t>(value);
  }

  void writeString(const QString& section, const QString& key, const QString& value) override {
    settings_.setValue(section + '/' + key, value);
  }

  void writeInteger(const QString& section, const QString& key, std::int32_t value) override {
    settings_.setValue(section + '/' + key, value);
  }

 private:
  // A damaged line costs only its own key: QSettings reads on past it and keeps the
  // rest, so its error status is no reason to ignore the whole store.
  QVariant read(const QString& section, const QString& key) {
    return settings_.value(section + '/' + key);
  }

  QSettings settings_;
};

}  // namespace

std::unique_ptr<ProfileStore> makeSettingsProfileStore(const QString& company,
                                                       const QString& application) {
  return std::make_unique<SettingsProfileStore>(company, application);
}

}  // namespace tarnwick
