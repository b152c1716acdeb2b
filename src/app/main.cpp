#include <QApplication>

#include "app/application.h"

int main(int argc, char** argv) {
  QApplication toolkit(argc, argv);
  return tarnwick::Application().run();
}
