#include <QApplication>
#include <csignal>
#include <cstdio>
#include <string>

#include "common/paths.h"
#include "common/qt_dialog_service.h"
#include "common/sleeper.h"
#include "hydrix/config/about.h"
#include "hydrix/config/catalogue_cli.h"
#include "hydrix/config/config_file.h"
#include "hydrix/link/usb_library.h"
#include "hydrix/mainscreen/MainScreen.h"

namespace {
const char* const kUsage =
    "usage: hydrix [--help | --version]\n"
    "The management program of the Hydrix IP charge controller: opens its main window,\n"
    "then the device selection. Its catalogue and settings are config.xml: next to the\n"
    "program in a build tree, else $XDG_CONFIG_HOME/hydrix/config.xml (the shipped one\n"
    "until the first change); what it remembers between runs is\n"
    "$XDG_CONFIG_HOME/hydrix/hydrix.conf.\n"
    "Scripts use hydrixctl (hydrixctl --help).\n";
}  // namespace

int main(int argc, char* argv[]) {
  // A file-size limit (ulimit -f, a quota) makes a write fail with EFBIG,
  // handled as a full disk is, instead of ending the program unseen.
  std::signal(SIGXFSZ, SIG_IGN);
  // Answered before Qt opens a display, so that they work without one.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("hydrix %s\n", hx::VersionLine().substr(8).c_str());
      return 0;
    }
  }
  // A reader that goes away (a closed pipe, a FIFO's reader) makes a write
  // fail with EPIPE, which is reported, instead of ending the program unseen.
  std::signal(SIGPIPE, SIG_IGN);
  QApplication app(argc, argv);
  hx::UsbLibrary usb;
  hx::ConfigFile config(hx::DefaultConfigLocation());
  hx::QtDialogService dialogs;
  hx::RealSleeper sleeper;
  MainScreen::Services services{usb, config, dialogs, sleeper};
  services.rememberedState = hx::UserConfigFolder() / "hydrix.conf";
  MainScreen window(services);
  dialogs.SetParent(&window);
  window.show();
  window.Form_Load();
  return app.exec();
}
