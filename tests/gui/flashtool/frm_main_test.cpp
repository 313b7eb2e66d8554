// The programmer's window: caption, status label, progress bar, dialogs
// through the service, the run started once when shown, closing at the end.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "flash_test_support.h"
#include "frmMain.h"
#include "support/recording_dialog_service.h"

using namespace hx::flash;
using namespace hx::flash::test;

namespace {

// Records what the window showed at the moment each message box came up.
class WatchingDialogs : public hx::test::RecordingDialogService {
 public:
  hx::MsgAnswer Message(const hx::MessageBoxRequest& request) override {
    if (window) {
      statusAtMessage.push_back(window->findChild<QLabel*>("txtOpStatus")->text().toStdString());
      progressVisibleAtMessage.push_back(window->findChild<QProgressBar*>("ProgressBar1")->isVisible());
    }
    return RecordingDialogService::Message(request);
  }
  QWidget* window = nullptr;
  std::vector<std::string> statusAtMessage;
  std::vector<bool> progressVisibleAtMessage;
};

bool WaitClosed(QWidget& w) {
  for (int i = 0; i < 500 && w.isVisible(); ++i) QTest::qWait(10);
  return !w.isVisible();
}

}  // namespace

class FrmMain : public ::testing::Test {
 protected:
  FrmMain() { folder.Write("fw.hex", MakeHex(0x200, {0x40, 0xEF, 0x01, 0xF0, 1, 2, 3, 4})); }
  std::unique_ptr<frmMain> Make(const std::string& tail) {
    auto w = std::make_unique<frmMain>(
        tail, FlashEnvironment{"flashtool", folder.path(), folder.path(), folder.path()}, lib, dialogs,
        clock);
    dialogs.window = w.get();
    return w;
  }
  TempFolder folder;
  FakeBootLibrary lib;
  WatchingDialogs dialogs;
  FakeClock clock;
  std::size_t sentBeforeClose = 0;
};

TEST_F(FrmMain, RunsOnceWhenShownAndClosesAtTheEnd) {
  auto w = Make("device=arvel;usbid=1;prg=fw.hex");
  EXPECT_EQ(w->windowTitle(), "Programmation");
  EXPECT_FALSE(w->findChild<QProgressBar*>("ProgressBar1")->isVisibleTo(w.get()));
  w->show();
  ASSERT_TRUE(WaitClosed(*w));
  ASSERT_EQ(w->Result(), RunEnd::Completed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Programming complete."});
  EXPECT_EQ(dialogs.messages[0].title, "flashtool");
  EXPECT_EQ(dialogs.statusAtMessage[0], "Leaving boot loader");
  EXPECT_TRUE(dialogs.progressVisibleAtMessage[0]);
  EXPECT_EQ(lib.eeprom[0xFF], 0x00);
  EXPECT_EQ(lib.rawSent.size(), 1u);
  // Showing it again does not start a second run.
  w->show();
  QTest::qWait(30);
  EXPECT_EQ(lib.rawSent.size(), 1u);
}

TEST_F(FrmMain, NoProgKeepsTheProgressBarHidden) {
  auto w = Make("noprog;device=arvel;usbid=1");
  w->show();
  ASSERT_TRUE(WaitClosed(*w));
  EXPECT_EQ(dialogs.statusAtMessage.at(0), "Leaving boot loader");
  EXPECT_FALSE(dialogs.progressVisibleAtMessage.at(0));
}

TEST_F(FrmMain, TheFileDialogAndAFailureMessageGoThroughTheService) {
  dialogs.files = {std::nullopt};
  auto w = Make("device=arvel;usbid=1");
  w->show();
  ASSERT_TRUE(WaitClosed(*w));
  EXPECT_EQ(w->Result(), RunEnd::Failed);
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].title, "Open HEX File");
  EXPECT_TRUE(dialogs.messages.empty());

  lib.model.FailEraseAt(0x400);
  auto again = Make("device=arvel;usbid=1;prg=fw.hex");
  again->show();
  ASSERT_TRUE(WaitClosed(*again));
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Erreur effacement"});
  EXPECT_EQ(dialogs.statusAtMessage.at(0), "Erasing FLASH ...");
}

TEST_F(FrmMain, AnEmptyCommandLinePrintsTheUsageOnTheWindow) {
  auto w = Make("");
  w->show();
  ASSERT_TRUE(WaitClosed(*w));
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"USB device ID not supplied"});
  const QString printed = w->findChild<QPlainTextEdit*>("printArea")->toPlainText();
  EXPECT_TRUE(printed.startsWith("Command line parameters: <opt1>;<opt2>;<opt3> ..."));
  EXPECT_TRUE(printed.contains("    <cxn> USB connection to use (typically 1)"));
}

TEST_F(FrmMain, ClosingTheWindowEndsBootMode) {
  lib.acceptsBootCommand = false;
  auto w = Make("boot;usbid=1");
  // The run's loop processes window events, so the operator's close arrives inside it.
  QTimer::singleShot(50, w.get(), [&] {
    sentBeforeClose = lib.rawSent.size();
    w->close();  // asks the loop to stop; the run then closes the window
  });
  w->show();
  ASSERT_TRUE(WaitClosed(*w));
  EXPECT_GE(sentBeforeClose, 2u);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Cannot connect. Please check the USB cable"});
}
