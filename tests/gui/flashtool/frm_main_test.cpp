// The programmer's window: caption, status label, progress bar, dialogs
// through the service, the run started once when shown, closing at the end.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "flash_test_support.h"
#include "frmMain.h"
#include "support/recording_dialog_service.h"
#include "support/whole_captions.h"

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
    FlashEnvironment env{"flashtool", folder.path(), folder.path(), folder.path()};
    env.keepHistory = keepHistory;
    env.historyFile = folder.path() / "state" / kHistoryFileName;
    auto w = std::make_unique<frmMain>(tail, env, lib, dialogs, clock);
    dialogs.window = w.get();
    return w;
  }
  QStringList LogLines(QWidget& w) {
    return w.findChild<QPlainTextEdit*>("lstLog")->toPlainText().split('\n');
  }
  bool keepHistory = false;
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
  EXPECT_EQ(dialogs.Texts(),
            std::vector<std::string>{"Erreur effacement\nErase failed at address 000400 (erasing "
                                     "000200-007FFF)\n\n" +
                                     std::string(kLeftInBootLoader)});
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
  // The run's loop processes window events, so the operator's close arrives
  // inside it: here once the loop has gone round twice (a fixed delay would
  // depend on the machine's load).
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (lib.rawSent.size() < 2) return;
    watch.stop();
    sentBeforeClose = lib.rawSent.size();
    w->close();  // asks the loop to stop; the run then closes the window
  });
  watch.start();
  w->show();
  ASSERT_TRUE(WaitClosed(*w));
  EXPECT_GE(sentBeforeClose, 2u);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Cannot connect. Please check the USB cable"});
}

// The window opened as a form (--choose): controllers, products and file
// chosen in it, runs started from it, Cancel, the log pane.
namespace {

// The application answers the probe while it runs.
class FakeProbe : public IdentityProbe {
 public:
  std::vector<ListedController> Answering() override {
    return lib && lib->inBootLoader ? std::vector<ListedController>{} : answering;
  }
  std::optional<std::int32_t> Serial(std::int32_t) override {
    if (lib && lib->inBootLoader) return std::nullopt;
    return 24000001;
  }
  std::vector<ListedController> answering;
  FakeBootLibrary* lib = nullptr;
};

template <typename T>
T* Find(QWidget& w, const char* name) {
  return w.findChild<T*>(name);
}

}  // namespace

class FrmMainForm : public FrmMain {
 protected:
  FrmMainForm() {
    folder.Write("far.hex", HexRecord(0x04, 0, {0x00, 0x01}) + "\n" + HexRecord(0x00, 0xF000, {1, 2}) +
                                "\n:00000001FF\n");
    probe.answering = {{1, "Hydrix (11) 1.05", false}};
    probe.lib = &lib;
  }
  std::unique_ptr<frmMain> Form(const std::string& tail) {
    auto w = Make(tail);
    w->SetChooser(probe);
    w->show();
    QTest::qWait(20);
    return w;
  }
  QStringList Items(QWidget& w, const char* combo) {
    QStringList items;
    auto* box = Find<QComboBox>(w, combo);
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
  }
  FakeProbe probe;
};

TEST_F(FrmMainForm, OpensFilledFromTheOptionsAndWaitsForTheOperator) {
  lib.connection = 7;
  lib.inBootLoader = true;
  probe.lib = nullptr;
  auto w = Form("device=paxter;usbid=7;prg=fw.hex;noverify");
  ASSERT_TRUE(w->isVisible());
  EXPECT_TRUE(Find<QWidget>(*w, "fraChoose")->isVisible());
  EXPECT_EQ(Items(*w, "cboController"),
            (QStringList{"Hydrix (11) 1.05 - connection 1", "In its boot loader - connection 7"}));
  EXPECT_EQ(Find<QComboBox>(*w, "cboController")->currentText(), "In its boot loader - connection 7");
  EXPECT_EQ(Items(*w, "cboProduct"),
            (QStringList{"ARVEL", "PAXTER", "ARVEL5-12", "ARVEL12-24", "MERVO", "HOSPER", "DUNIX"}));
  EXPECT_EQ(Find<QComboBox>(*w, "cboProduct")->currentText(), "PAXTER");
  EXPECT_EQ(Find<QLineEdit>(*w, "txtHexFile")->text(), "fw.hex");
  EXPECT_TRUE(lib.calls.empty());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(w->Result().has_value());
  // Every caption whole at the size it opens at.
  EXPECT_EQ(hx::test::CutCaptions(*w), std::vector<std::string>{});
}

TEST_F(FrmMainForm, ProgramsFromTheFormAndStaysOpenWithTheLog) {
  auto w = Form("");
  Find<QComboBox>(*w, "cboController")->setCurrentIndex(0);  // the operator chooses
  // The file from the file dialog.
  dialogs.files = {(folder.path() / "fw.hex").string()};
  QTest::mouseClick(Find<QPushButton>(*w, "cmdBrowse"), Qt::LeftButton);
  ASSERT_EQ(dialogs.fileDialogs.at(0).title, "Open HEX File");
  QTest::mouseClick(Find<QPushButton>(*w, "cmdProgram"), Qt::LeftButton);
  EXPECT_EQ(w->Result(), RunEnd::Completed);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Programming complete."});
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(Find<QWidget>(*w, "fraChoose")->isEnabled());
  // The controller: back in its application with the new firmware.
  EXPECT_FALSE(lib.inBootLoader);
  EXPECT_EQ(lib.eeprom[0xFF], 0x00);
  const auto flash = lib.model.Flash();
  EXPECT_EQ(std::vector<std::uint8_t>(flash.begin() + 0x200, flash.begin() + 0x208),
            (std::vector<std::uint8_t>{0x40, 0xEF, 0x01, 0xF0, 1, 2, 3, 4}));
  const QString log = Find<QPlainTextEdit>(*w, "lstLog")->toPlainText();
  EXPECT_TRUE(log.contains("Chip PIC18F2550 identified: code 92 hex, 146 in DEVICELIST"))
      << log.toStdString();
  EXPECT_TRUE(log.contains("Programming: 100 % (16 of 16 bytes)"));
  EXPECT_TRUE(log.contains("Message: Programming complete."));
  // Save Log writes the pane to the file chosen.
  dialogs.files = {(folder.path() / "run.txt").string()};
  QTest::mouseClick(Find<QPushButton>(*w, "cmdSaveLog"), Qt::LeftButton);
  EXPECT_EQ(folder.Read("run.txt"), log.toStdString() + "\n");
}

TEST_F(FrmMainForm, CancelBeforeTheBootCommandSendsNothingAndAfterItLeavesTheBootLoader) {
  auto w = Form("prg=" + (folder.path() / "fw.hex").string());
  Find<QComboBox>(*w, "cboController")->setCurrentIndex(0);  // the operator chooses
  auto* cancel = Find<QPushButton>(*w, "cmdCancel");
  EXPECT_FALSE(cancel->isEnabled());
  // Pressed as soon as the run starts.
  lib.calls.clear();
  QTimer::singleShot(0, cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); });
  QTest::mouseClick(Find<QPushButton>(*w, "cmdProgram"), Qt::LeftButton);
  EXPECT_EQ(w->Result(), RunEnd::Failed);
  EXPECT_TRUE(lib.calls.empty());
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_TRUE(Find<QPlainTextEdit>(*w, "lstLog")->toPlainText().contains("Cancelled: nothing was sent"));

  // Pressed during the erase, and confirmed.
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (Find<QLabel>(*w, "txtOpStatus")->text() == "Erasing FLASH ...") {
      watch.stop();
      QTest::mouseClick(cancel, Qt::LeftButton);
    }
  });
  watch.start();
  dialogs.answers = {hx::MsgAnswer::Yes};
  QTest::mouseClick(Find<QPushButton>(*w, "cmdProgram"), Qt::LeftButton);
  EXPECT_EQ(w->Result(), RunEnd::Failed);
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(dialogs.messages[0].buttons, hx::MsgButtons::YesNo);
  EXPECT_EQ(dialogs.messages[1].text, "Update cancelled.\n" + std::string(kLeftInBootLoader));
  EXPECT_TRUE(lib.inBootLoader);
  EXPECT_EQ(lib.eeprom[0xFF], 0xFF);
  // The list now shows it waiting in its boot loader.
  EXPECT_TRUE(Items(*w, "cboController").contains("In its boot loader - connection 1"));
}

TEST_F(FrmMain, FailureDialogsCarryTheReason) {
  auto unknown = Make("device=foo;usbid=1");
  unknown->show();
  ASSERT_TRUE(WaitClosed(*unknown));
  EXPECT_EQ(dialogs.Texts().back(), "Device FOO not found in PROGRAMMER.INI\nParameter file: " +
                                        (folder.path() / "flashtool.INI").string() +
                                        "\nProducts: ARVEL PAXTER ARVEL5-12 ARVEL12-24 MERVO HOSPER DUNIX");

  folder.Write("far.hex",
               HexRecord(0x04, 0, {0x00, 0x01}) + "\n" + HexRecord(0x00, 0xF000, {1, 2}) + "\n:00000001FF\n");
  auto refused = Make("device=arvel;usbid=1;prg=far.hex");
  refused->show();
  ASSERT_TRUE(WaitClosed(*refused));
  EXPECT_EQ(dialogs.Texts().back(),
            "Error loading file: far.hex\nLine 2: address 01F000 is outside the memory to program");

  lib.model.CutAt(100);  // during the erase
  auto cut = Make("device=arvel;usbid=1;prg=fw.hex");
  cut->show();
  ASSERT_TRUE(WaitClosed(*cut));
  const std::string text = dialogs.Texts().back();
  EXPECT_EQ(text.rfind("Erreur effacement\nErase failed at address 00", 0), 0u) << text;
  EXPECT_TRUE(text.ends_with(" (erasing 000200-007FFF)\n\n" + std::string(kLeftInBootLoader))) << text;
  EXPECT_TRUE(lib.inBootLoader);
}

TEST_F(FrmMainForm, EveryRunFromTheFormLeavesItsHistoryLineAndItsLogStartsWithTheRun) {
  keepHistory = true;
  const std::string hex = (folder.path() / "fw.hex").string();
  auto w = Form("prg=" + hex);
  Find<QComboBox>(*w, "cboController")->setCurrentIndex(0);
  auto* cancel = Find<QPushButton>(*w, "cmdCancel");
  QTest::mouseClick(Find<QPushButton>(*w, "cmdProgram"), Qt::LeftButton);
  ASSERT_EQ(w->Result(), RunEnd::Completed);
  // Cancelled as soon as it starts: its header comes before its own lines.
  QTimer::singleShot(0, cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); });
  QTest::mouseClick(Find<QPushButton>(*w, "cmdProgram"), Qt::LeftButton);
  ASSERT_EQ(w->Result(), RunEnd::Failed);

  const auto history = folder.Read("state/flash-history.csv");
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : QString::fromStdString(history).split('\n', Qt::SkipEmptyParts))
    rows.push_back(SplitCsvLine(line.toStdString()));
  ASSERT_EQ(rows.size(), 3u) << history;
  EXPECT_EQ(rows[1][4], "24000001");
  EXPECT_EQ(rows[1][6], "PIC18F2550");
  EXPECT_EQ(rows[1][7], hex);
  EXPECT_EQ((std::vector<std::string>(rows[1].end() - 4, rows[1].end())),
            (std::vector<std::string>{"16", "16", "completed", "0"}));
  EXPECT_EQ((std::vector<std::string>(rows[2].end() - 4, rows[2].end())),
            (std::vector<std::string>{"0", "0", "cancelled", "1"}));

  // The pane keeps both runs, each opening with its header line.
  const QStringList log = LogLines(*w);
  const QString header = "Run of " + QString::fromStdString(rows[1][0]) +
                         ", connection 1, serial 24000001, product ARVEL, HEX file " +
                         QString::fromStdString(hex) + " (" + QString::fromStdString(rows[1][8]) +
                         " bytes, CRC-32 " + QString::fromStdString(rows[1][9]) + ")";
  EXPECT_EQ(log[0], header);
  const int second =
      static_cast<int>(log.indexOf(QRegularExpression(".*  Result: completed \\(exit 0\\)"))) + 1;
  ASSERT_GT(second, 1) << log.join('\n').toStdString();
  EXPECT_TRUE(log[second].startsWith("Run of " + QString::fromStdString(rows[2][0]) +
                                     ", connection 1, serial not read, product ARVEL"))
      << log[second].toStdString();
  EXPECT_TRUE(log[second + 1].endsWith("Cancelled: nothing was sent to the controller"));
  EXPECT_TRUE(log.back().endsWith("  Result: cancelled (exit 1)"));
}

TEST_F(FrmMain, StartedFromHydrixTheWindowStaysOpenWithItsLog) {
  auto w = Make("LANGUE=English ;device=arvel;USBID=1;prg=fw.hex");
  w->show();
  for (int i = 0; i < 500 && !w->Result(); ++i) QTest::qWait(10);
  ASSERT_EQ(w->Result(), RunEnd::Completed);
  QTest::qWait(50);
  EXPECT_TRUE(w->isVisible());
  const QStringList log = LogLines(*w);
  EXPECT_TRUE(log[0].startsWith("Run of ")) << log[0].toStdString();
  EXPECT_TRUE(log[0].endsWith(", connection 1, serial not read, product ARVEL, HEX file " +
                              QString::fromStdString((folder.path() / "fw.hex").string()) + " (" +
                              QString::number(folder.Read("fw.hex").size()) + " bytes, CRC-32 " +
                              log[0].right(9).left(8) + ")"));
  EXPECT_TRUE(log.back().endsWith("  Result: completed (exit 0)"));
  EXPECT_TRUE(w->findChild<QLabel*>("txtOpStatus")->text().endsWith("close this window when you have read or saved the log."));
  // The operator closes it.
  w->close();
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(w->ExitStatus(), 0);
}
