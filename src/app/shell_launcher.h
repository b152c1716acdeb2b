#pragma once

#include <QUrl>
#include <memory>

namespace tarnwick {

// Asks the desktop to "open" a target: the browser for a web address, the file
// manager for a folder. UI thread only.
class ShellLauncher {
 public:
  virtual ~ShellLauncher() = default;
  // False when no program could be started for the target.
  virtual bool open(const QUrl& target) = 0;
};

std::unique_ptr<ShellLauncher> makeDesktopShellLauncher();

}  // namespace tarnwick
