#pragma once

#include <QString>

namespace tarnwick {

// The program's entry once the QApplication exists: names the profile store after the
// company and the program file, shows the main window and returns when it has ended.
class Application {
 public:
  int run();

  // The program file's name without its extension.
  static QString nameFromProgramPath(const QString& programPath);
};

}  // namespace tarnwick
