#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>

namespace tarnwick {

// The program's entry once the QApplication exists: names the profile store after the
// company and the program file, shows the main window and returns when it has ended.
class Application {
 public:
  int run();

  // The program file's name without its extension.
  static QString nameFromProgramPath(const QString& programPath);

  // Loads Qt's own texts (a text field's context menu, the standard buttons) for `locale`
  // into `translator` from the translations installed with Qt and installs it; where none
  // is installed, they stay English.
  static void installToolkitTranslation(QTranslator& translator, const QLocale& locale);
};

}  // namespace tarnwick
