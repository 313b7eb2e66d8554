// flashtool: the firmware programmer. With --batch it runs without a window
// (see batch.h); otherwise it opens its window, which runs once and closes.
#include <QApplication>
#include <filesystem>
#include <iostream>

#include "common/paths.h"
#include "common/qt_dialog_service.h"
#include "flashtool/batch.h"
#include "flashtool/hxboot_binding.h"
#include "frmMain.h"

int main(int argc, char** argv) {
  const auto args = hx::flash::ParseProgramArguments(argc, argv);
  hx::flash::FlashEnvironment env;
  env.title = hx::ProgramTitle();
  if (env.title.empty()) env.title = "flashtool";
  env.programFolder = hx::ProgramFolder();
  env.listFolder = hx::flash::ListFolderFor(env.programFolder);
  hx::flash::HxBootBinding library;
  hx::flash::SteadyFlashClock clock;

  if (args.batch) {
    // A relative HEX path names a file in the caller's current folder.
    std::error_code ec;
    env.hexBaseFolder = std::filesystem::current_path(ec);
    return hx::flash::RunBatch(args.tail, env, library, clock, std::cout, std::cerr, args.yes);
  }

  QApplication app(argc, argv);
  env.hexBaseFolder = env.programFolder;
  hx::QtDialogService dialogs;
  frmMain window(args.tail, env, library, dialogs, clock);
  dialogs.SetParent(&window);
  window.show();
  app.exec();
  return window.Result() == hx::flash::RunEnd::Completed ? 0 : 1;
}
