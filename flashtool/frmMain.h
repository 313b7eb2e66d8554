// The programmer's window: caption "Programmation", the status label
// txtOpStatus and the progress bar ProgressBar1. It runs the whole sequence
// once, when it is first shown, and closes itself at the end of every path.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "common/dialog_service.h"
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

  hx::flash::FlashTool& Core() { return *core_; }
  // How the run ended; nothing while it has not.
  std::optional<hx::flash::RunEnd> Result() const { return result_; }

  // FlashUi
  void PrintLine(const std::string& line) override;
  void SetStatus(const std::string& text) override;
  void ShowProgress() override;
  void SetProgressRange(int min, int max) override;
  void SetProgressValue(int value) override;
  void DoEvents() override;
  void ShowRawBytes(const std::string& hex) override;
  bool StopRequested() override { return stopRequested_; }

 signals:
  void runFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Run();

  std::unique_ptr<Ui::frmMain> ui_;
  std::string tail_;
  std::unique_ptr<hx::flash::FlashTool> core_;
  std::optional<hx::flash::RunEnd> result_;
  bool started_ = false;
  bool running_ = false;
  bool stopRequested_ = false;
};
