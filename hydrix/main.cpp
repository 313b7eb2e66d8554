#include <QApplication>

#include "MainScreen.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  MainScreen window;
  window.show();
  return app.exec();
}
