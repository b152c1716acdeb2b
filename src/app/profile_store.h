#pragma once

#include <QString>
#include <cstdint>
#include <memory>

namespace tarnwick {

// The per-user store of named strings and 32-bit integers, grouped in sections.
// Reading a value that is missing or unreadable gives the caller's default; writes
// are not checked. UI thread only.
class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  virtual QString getString(const QString& section, const QString& key,
                            const QString& fallback) = 0;
  virtual std::int32_t getInteger(const QString& section, const QString& key,
                                  std::int32_t fallback) = 0;
  virtual void writeString(const QString& section, const QString& key, const QString& value) = 0;
  virtual void writeInteger(const QString& section, const QString& key, std::int32_t value) = 0;
};

// QSettings in the native format under `company`/`application`: an INI file in the
// user's configuration folder on Linux, the user's registry on Windows. A line of the file
// that cannot be read costs only its own value, whatever it holds.
std::unique_ptr<ProfileStore> makeSettingsProfileStore(const QString& company,
                                                       const QString& application);

}  // namespace tarnwick
