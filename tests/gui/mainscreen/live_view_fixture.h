// The main window against simulated controllers in the same process, with a
// temporary copy of the shipped configuration (maintenance frame shown) and
// scripted dialogs: the fixture of the live view's tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "hydrix/commands/frames.h"
#include "hydrix/mainscreen/MainScreen.h"
#include "hydrix/selection/frmConnect.h"
#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"

namespace hx::test {

// The lines of a text file (a measure log), without their ends.
inline std::vector<std::string> FileLines(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class LiveViewTest : public ::testing::Test {
 public:
  class NoSleep : public Sleeper {
   public:
    void Sleep(std::chrono::milliseconds) override {}
  };

  void SetUp() override {
    namespace fs = std::filesystem;
    folder_ = fs::temp_directory_path() / ("hydrix-live-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    std::ifstream in(HX_SHIPPED_CONFIG_XML, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string xml = s.str();
    const auto at = xml.find("<Maintenance>False</Maintenance>");
    if (at != std::string::npos) xml.replace(at, 32, "<Maintenance>True</Maintenance>");
    std::ofstream(folder_ / "config.xml", std::ios::binary) << xml;
    config_ = std::make_unique<ConfigFile>(folder_ / "config.xml");
  }
  void TearDown() override {
    window_.reset();
    std::filesystem::remove_all(folder_);
  }

  // Opens the window and runs its start-up, choosing the first controller
  // listed (or cancelling the selection when `choose` is false).
  MainScreen& Start(bool choose = true) {
    window_ = std::make_unique<MainScreen>(MainScreen::Services{
        usb, *config_, dialogs, sleeper, [] { return DateHeure{2024, 3, 7, 14, 5, 9}; }});
    window_->show();
    QTimer::singleShot(0, [choose] {
      auto* dialog = qobject_cast<frmConnect*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      auto* list = dialog->findChild<QListWidget*>("Listeeline");
      if (choose && list->count() > 0) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
      } else {
        QTest::mouseClick(dialog->findChild<QPushButton*>("ExitEtalonnage"), Qt::LeftButton);
      }
    });
    window_->Form_Load();
    return *window_;
  }

  // Sets a 16-bit word of a simulated controller's measure block.
  void Word(std::int32_t id, int index, int value) {
    auto& m = usb.Find(id)->model();
    const auto u = static_cast<std::uint16_t>(value);
    m.SetVariable(index, static_cast<std::uint8_t>(u & 0xFF));
    m.SetVariable(index + 1, static_cast<std::uint8_t>(u >> 8));
  }

  template <class T>
  T* Get(const char* name, int index = -1) {
    T* c = window_->Control<T>(name, index);
    EXPECT_NE(c, nullptr) << name << " " << index;
    return c;
  }
  QString Text(const char* name, int index = -1) { return Get<QLineEdit>(name, index)->text(); }
  QString Label(const char* name, int index = -1) { return Get<QLabel>(name, index)->text(); }
  void Click(const char* name) { QTest::mouseClick(Get<QPushButton>(name), Qt::LeftButton); }
  // One tick of the one-second timer, as the event loop would run it.
  void Tick() {
    auto* timer = window_->findChild<QTimer*>("Timer");
    ASSERT_TRUE(timer->isActive());
    QMetaObject::invokeMethod(timer, "timeout");
  }
  // The frames with command code `code` sent since `from`.
  std::vector<std::vector<std::uint8_t>> Sent(std::uint8_t code, std::size_t from = 0) const {
    std::vector<std::vector<std::uint8_t>> f;
    for (std::size_t i = from; i < usb.writes.size(); ++i) {
      if (usb.writes[i][0] == code) f.push_back(usb.writes[i]);
    }
    return f;
  }

  sim::InProcessUsb usb;
  RecordingDialogService dialogs;
  NoSleep sleeper;
  std::filesystem::path folder_;
  std::unique_ptr<ConfigFile> config_;
  std::unique_ptr<MainScreen> window_;
};

}  // namespace hx::test
