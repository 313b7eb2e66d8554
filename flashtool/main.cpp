// flashtool: the firmware programmer. With --batch it runs without a window
// (see batch.h); with --choose its window opens as a form to choose the
// controller, product and file; otherwise the window runs once and closes
// (started from hydrix, it stays open with its log). --history prints the
// last runs of the firmware history.
#include <QApplication>
#include <QLibraryInfo>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "common/paths.h"
#include "common/qt_dialog_service.h"
#include "flashtool/batch.h"
#include "flashtool/hxboot_binding.h"
#include "frmMain.h"

int main(int argc, char** argv) {
  // A reader that goes away (a closed pipe, a FIFO's reader) makes a write
  // fail with EPIPE, which is reported, instead of ending the program unseen.
  std::signal(SIGPIPE, SIG_IGN);
  // A file-size limit (ulimit -f, a quota) makes a write fail with EFBIG,
  // handled as a full disk is, instead of ending the program unseen.
  std::signal(SIGXFSZ, SIG_IGN);
  auto args = hx::flash::ParseProgramArguments(argc, argv);
  if (args.error.empty() && args.history && (args.batch || args.choose || !args.tail.empty())) {
    args.error = "--history takes no command tail and no other option";
  }
  if (!args.error.empty()) {
    // A usage error, as the command tail's are: what was wrong, then how
    // the program is called.
    std::cerr << "flashtool: " << args.error << "\n\n" << hx::flash::HelpText();
    return 2;
  }
  if (args.help) {
    std::cout << hx::flash::HelpText();
    return 0;
  }
  if (args.version) {
    std::cout << "flashtool " HYDRIX_VERSION "\n";
    return 0;
  }
  // Every run appends its line to the firmware history in the state folder.
  const auto historyFile = hx::flash::HistoryFile(hx::UserStateFolder());
  if (args.history) return hx::flash::PrintHistory(historyFile, args.historyCount, std::cout, std::cerr);
  hx::flash::FlashEnvironment env;
  env.keepHistory = true;
  env.historyFile = historyFile;
  env.title = hx::ProgramTitle();
  if (env.title.empty()) env.title = "flashtool";
  // The parameter file is a shipped file: beside the program in a build
  // tree, in the shipped defaults once installed.
  const hx::ProgramLayout layout = hx::Layout();
  env.programFolder = layout.shipped;
  // List files and run locks are transient and per user.
  std::string noFolder;
  env.listFolder = hx::TransientFolder(&noFolder);
  if (env.listFolder.empty()) noFolder = "No folder for flashtool's working files: " + noFolder;
  hx::flash::HxBootBinding library;
  hx::flash::SteadyFlashClock clock;
  // The serial number is read from the application before the boot command.
  hx::flash::HxUsbIfProbe probe;

  if (args.batch) {
    // A relative HEX path names a file in the caller's current folder.
    std::error_code ec;
    env.hexBaseFolder = std::filesystem::current_path(ec);
    if (!noFolder.empty()) {
      std::cout << noFolder << "\nResult: failed (exit 1)\n";
      return hx::flash::kExitFailed;
    }
    return hx::flash::RunBatch(args.tail, env, library, clock, std::cout, std::cerr, args.yes, &probe);
  }

  // Without a display Qt would end with a plugin error: say it in one line.
  std::vector<std::string> pluginFolders;
  if (const char* p = std::getenv("QT_QPA_PLATFORM_PLUGIN_PATH"); p && *p) pluginFolders.emplace_back(p);
  for (const QString& folder : QCoreApplication::libraryPaths()) {
    pluginFolders.push_back((folder + "/platforms").toStdString());
  }
  pluginFolders.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms");
  if (const std::string why = hx::flash::NoDisplayReason(std::getenv, pluginFolders); !why.empty()) {
    std::cerr << "flashtool: " << why << "\n";
    return 1;
  }
  QApplication app(argc, argv);
  // The file dialog starts in the user's home, never in the program's folder.
  env.hexBaseFolder = hx::StartFolder();
  // A relative prg= path: the program's folder in a build tree; installed,
  // where that is a system folder, the current folder.
  std::error_code ec;
  env.prgFolder = layout.installed ? std::filesystem::current_path(ec) : hx::ProgramFolder();
  hx::QtDialogService dialogs;
  if (!noFolder.empty()) {
    dialogs.Message({noFolder, env.title, hx::MsgButtons::Ok, hx::MsgIcon::Critical});
    return 1;
  }
  frmMain window(args.tail, env, library, dialogs, clock);
  dialogs.SetParent(&window);
  window.SetSerialProbe(probe);
  if (args.choose) window.SetChooser(probe);
  window.show();
  app.exec();
  return window.ExitStatus();
}
