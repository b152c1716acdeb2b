#include "app/application.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "app/main_dialog.h"
#include "app/profile_store.h"
#include "app/qt_message_box.h"
#include "app/shell_launcher.h"

namespace tarnwick {
namespace {

constexpr const char* kCompany = "Corvane";

}  // namespace

QString Application::nameFromProgramPath(const QString& programPath) {
  return QFileInfo(programPath).completeBaseName();
}

int Application::run() {
  // argv[0] rather than the resolved executable: a copy or link under another name
  // keeps settings of its own.
  const QString name = nameFromProgramPath(QCoreApplication::arguments().value(0));
  QCoreApplication::setOrganizationName(kCompany);
  QCoreApplication::setApplicationName(name);

  const auto profile = makeSettingsProfileStore(kCompany, name);
  const auto shell = makeDesktopShellLauncher();
  const auto messages = makeQtMessageBox();
  MainDialog dialog({*profile, *shell, *messages});
  dialog.exec();
  return 0;
}

}  // namespace tarnwick
