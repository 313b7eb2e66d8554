// main() of the GUI tests: a QApplication on the offscreen platform (unless
// the caller chose another), then GoogleTest. The offscreen screen is a
// laptop's, 1366×768, so that the windows meet the screen they must fit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path screen;
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform.isEmpty() || platform == "offscreen") {
    screen = fs::temp_directory_path() / ("hx-gui-screen-" + std::to_string(::getpid()) + ".json");
    std::ofstream(screen)
        << R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768,)"
        << R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + screen.string().c_str());
  }
  // The windows record the serial numbers they write in the state folder:
  // a folder of this run's own, never the user's.
  const fs::path state = fs::temp_directory_path() / ("hx-gui-state-" + std::to_string(::getpid()));
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  int result = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  std::error_code ec;
  if (!screen.empty()) fs::remove(screen, ec);
  fs::remove_all(state, ec);
  return result;
}
