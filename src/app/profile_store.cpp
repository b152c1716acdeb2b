#include "app/profile_store.h"

#include <QSettings>

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
    const int value = read(section, key).toInt(&ok);
    return ok ? value : fallback;
  }

  void writeString(const QString& section, const QString& key, const QString& value) override {
    settings_.setValue(section + '/' + key, value);
  }

  void writeInteger(const QString& section, const QString& key, std::int32_t value) override {
    settings_.setValue(section + '/' + key, value);
  }

 private:
  // A store that could not be read, or read only in part, counts as empty.
  QVariant read(const QString& section, const QString& key) {
    if (settings_.status() != QSettings::NoError) return {};
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
