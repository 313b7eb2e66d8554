#include <QApplication>
#include <csignal>

#include "MainScreen.h"
#include "common/qt_dialog_service.h"
#include "common/sleeper.h"
#include "hydrix/config/catalogue_cli.h"
#include "hydrix/config/config_file.h"
#include "hydrix/link/usb_library.h"

int main(int argc, char* argv[]) {
  // A reader that goes away (a closed pipe, a FIFO's reader) makes a write
  // fail with EPIPE, which is reported, instead of ending the program unseen.
  std::signal(SIGPIPE, SIG_IGN);
  QApplication app(argc, argv);
  hx::UsbLibrary usb;
  hx::ConfigFile config(hx::DefaultConfigPath());
  hx::QtDialogService dialogs;
  hx::RealSleeper sleeper;
  MainScreen window({usb, config, dialogs, sleeper});
  dialogs.SetParent(&window);
  window.show();
  window.Form_Load();
  return app.exec();
}
