#include "app/shell_launcher.h"

#include <QDesktopServices>

namespace tarnwick {
namespace {

class DesktopShellLauncher final : public ShellLauncher {
 public:
  bool open(const QUrl& target) override { return QDesktopServices::openUrl(target); }
};

}  // namespace

std::unique_ptr<ShellLauncher> makeDesktopShellLauncher() {
  return std::make_unique<DesktopShellLauncher>();
}

}  // namespace tarnwick
