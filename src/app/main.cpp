#include <QApplication>
#include <algorithm>

#include "app/application.h"

int main(int argc, char** argv) {
  // Qt sees the program's name alone: the program takes no arguments, and Qt's own
  // (-style, -platform, -reverse and the like) must change nothing either.
  int toolkitArgc = std::min(argc, 1);
  QApplication toolkit(toolkitArgc, argv);
  return tarnwick::Application().run();
}
