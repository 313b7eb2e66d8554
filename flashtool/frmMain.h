// The programmer's window: caption "Programmation", the status label
// txtOpStatus, the progress bar ProgressBar1, a log of the run's steps with
// Save Log, and Cancel. Started with a command line that names a controller,
// it runs the whole sequence once, when it is first shown, and closes itself
// at the end of every path; started from hydrix it stays open with its log
// until the operator closes it. Opened as a form (SetChooser), it lets the
// operator pick the controller, the product and the HEX file, and stays open
// between runs. The log keeps every run, each starting with its header line;
// every run appends its line to the firmware history.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "common/dialog_service.h"
#include "flashtool/controller_list.h"
#include "flashtool/flash_run.h"

namespace Ui {
class frmMain;
}

class frmMain : public QWidget, public hx::flash::FlashUi {
  Q_OBJECT

 public:
  frmMain(std::string commandTail, hx::flash::FlashEnvironment env, hx::flash::BootLibrary& library,
          hx::DialogService& dialogs, hx::flash::FlashClock& clock, QWidget* parent = nullptr);
  ~frmMain() override;

  // Opens the window as a form; the command tail's device=, usbid= and prg=
  // fill it, its other options go with every run. Call before show().
  void SetChooser(hx::flash::IdentityProbe& probe);
  // Where each run reads the controller's serial number before the boot
  // command (SetChooser's probe serves too).
  void SetSerialProbe(hx::flash::IdentityProbe& probe) { serialProbe_ = &probe; }

  hx::flash::FlashTool& Core() { return *core_; }
  // How the last run ended; nothing while none has.
  std::optional<hx::flash::RunEnd> Result() const { return result_; }
  // The exit status of the program: 0 after a normal end, 2 when programming
  // left no application, 1 otherwise.
  int ExitStatus() const { return exitStatus_; }

  // FlashUi
  void PrintLine(const std::string& line) override;
  void SetStatus(const std::string& text) override;
  void ShowProgress() override;
  void SetProgressRange(int min, int max) override;
  void SetProgressValue(int value) override;
  void DoEvents() override;
  void ShowRawBytes(const std::string& hex) override;
  bool StopRequested() override { return stopRequested_; }
  void ClearStop() override { stopRequested_ = false; }
  void Log(const std::string& line) override;
  void LogHeader(const std::string& line) override;

 signals:
  void runFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class LoggingDialogs;
  void Run();
  // One run of the core on `tail`; the result and exit status are kept.
  hx::flash::RunEnd RunTail(const std::string& tail);
  void FillForm();
  // Lists the controllers anew, keeping the one chosen (by its connection),
  // or choosing none when it has gone.
  void RefreshControllers();
  void ShowControllers(std::optional<std::int32_t> chosen);
  // Program and Identify only: only with a controller chosen.
  void EnableRunButtons();
  void BrowseClick();
  void ProgramClick(bool identifyOnly);
  void SaveLogClick();
  void CancelClick();
  void SetRunning(bool running);

  std::unique_ptr<Ui::frmMain> ui_;
  std::string tail_;
  hx::flash::FlashEnvironment env_;
  hx::flash::BootLibrary& library_;
  hx::DialogService& dialogs_;
  std::unique_ptr<LoggingDialogs> logged_;
  hx::flash::FlashClock& clock_;
  std::unique_ptr<hx::flash::FlashTool> core_;
  hx::flash::IdentityProbe* probe_ = nullptr;  // set in form mode
  hx::flash::IdentityProbe* serialProbe_ = nullptr;
  int runFirstLine_ = 0;  // the log line the running run's log starts at
  std::string extraOptions_;                   // options of the tail the form passes on
  std::optional<hx::flash::RunEnd> result_;
  int exitStatus_ = 1;
  bool started_ = false;
  bool running_ = false;
  bool stopRequested_ = false;
};
