#include "app/profile_store.h"

#include <QFile>
#include <QHash>
#include <QSettings>
#include <QTemporaryFile>
#include <limits>

namespace tarnwick {
namespace {

// Whether QSettings would read on from this line into the next: it does from a double
// quote left open and from a backslash at the line's end. A ";" outside quotes begins a
// comment, which nothing escapes.
bool spillsOver(const QByteArray& line) {
  bool quoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && ++i == line.size()) return true;
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) return false;
  }
  return quoted;
}

// The values QSettings reads from the text of a settings file once each line that would
// spill over is left out, so that such a line costs only its own value.
QHash<QString, QVariant> readableValues(QByteArray text) {
  QByteArray kept;
  for (const QByteArray& line : text.replace('\r', '\n').split('\n')) {
    if (!spillsOver(line)) kept += line + '\n';
  }
  QTemporaryFile copy;
  if (!copy.open() || copy.write(kept) != kept.size() || !copy.flush()) return {};
  const QSettings reader(copy.fileName(), QSettings::IniFormat);
  QHash<QString, QVariant> values;
  for (const QString& key : reader.allKeys()) values.insert(key, reader.value(key));
  return values;
}

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
  // Reads the file as it stands, this store's own writes included; a store that is no
  // file (none written yet, or the registry) is read by QSettings itself.
  QVariant read(const QString& section, const QString& key) {
    settings_.sync();
    QFile file(settings_.fileName());
    if (!file.open(QIODevice::ReadOnly)) return settings_.value(section + '/' + key);
    const QByteArray text = file.readAll();
    if (text != readText_) {
      values_ = readableValues(text);
      readText_ = text;
    }
    return values_.value(section + '/' + key);
  }

  QSettings settings_;
  QByteArray readText_;  // the file's text that values_ were read from
  QHash<QString, QVariant> values_;
};

}  // namespace

std::unique_ptr<ProfileStore> makeSettingsProfileStore(const QString& company,
                                                       const QString& application) {
  return std::make_unique<SettingsProfileStore>(company, application);
}

}  // namespace tarnwick
