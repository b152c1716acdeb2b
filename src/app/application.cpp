#include "app/application.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>

#include "app/dialog_template.h"
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

void Application::installToolkitTranslation(QTranslator& translator, const QLocale& locale) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (translator.load(locale, "qtbase", "_", folder))
    QCoreApplication::installTranslator(&translator);
}

int Application::run() {
  // argv[0] rather than the resolved executable: a copy or link under another name
  // keeps settings of its own.
  const QString name = nameFromProgramPath(QCoreApplication::arguments().value(0));
  QCoreApplication::setOrganizationName(kCompany);
  QCoreApplication::setApplicationName(name);

  // Message boxes and menus are windows of their own, which take no font from the
  // dialogs; the application's font reaches them too.
  QApplication::setFont(dialogFont());
  QTranslator toolkitTexts;
  installToolkitTranslation(toolkitTexts, QLocale());

  const auto profile = makeSettingsProfileStore(kCompany, name);
  const auto shell = makeDesktopShellLauncher();
  const auto messages = makeQtMessageBox();
  MainDialog dialog({*profile, *shell, *messages});
  // Shown rather than run modally: window managers take a modal window for a dialog
  // and leave it out of the task bar.
  QObject::connect(&dialog, &QDialog::finished, &QCoreApplication::quit);
  dialog.show();
  return QApplication::exec();
}

}  // namespace tarnwick
