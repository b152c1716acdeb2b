// Renders every dialog of the program to a PNG, without a display:
//   tarnwick-screenshots OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <cstdio>
#include <memory>

#include "app/dialogs.h"
#include "app/main_dialog.h"
#include "app/profile_store.h"
#include "app/qt_message_box.h"
#include "app/shell_launcher.h"

namespace {

bool render(QDialog& dialog, const QDir& folder, const char* name) {
  dialog.show();
  QApplication::processEvents();
  const QString path = folder.filePath(QString("%1.png").arg(name));
  const bool saved = dialog.grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  dialog.hide();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication toolkit(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  folder.mkpath(".");
  // A store of its own that starts empty, so the main dialog shows the defaults.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.filePath("profile"));
  QDir(folder.filePath("profile")).removeRecursively();

  const auto profile = tarnwick::makeSettingsProfileStore("Corvane", "Tarnwick");
  const auto shell = tarnwick::makeDesktopShellLauncher();
  const auto messages = tarnwick::makeQtMessageBox();
  tarnwick::MainDialog mainDialog({*profile, *shell, *messages});
  tarnwick::AboutDialog about(&mainDialog);
  tarnwick::ExitConfirmDialog exitConfirm(&mainDialog);
  tarnwick::ManualLaunchDialog manual(&mainDialog);
  tarnwick::SisterIntroDialog intro(&mainDialog);

  bool ok = render(mainDialog, folder, "main");
  ok = render(about, folder, "about") && ok;
  ok = render(exitConfirm, folder, "exit_confirm") && ok;
  ok = render(manual, folder, "manual_launch") && ok;
  ok = render(intro, folder, "sister_intro") && ok;
  return ok ? 0 : 1;
}
