// The about box: the product, the build's version, and the system
// information tool of this machine.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "common/dialog_service.h"
#include "hydrix/mainscreen/firmware_launch.h"

namespace Ui {
class frmAbout;
}

class frmAbout : public QDialog {
  Q_OBJECT

 public:
  frmAbout(hx::DialogService& dialogs, hx::ProcessStarter& starter, QWidget* parent = nullptr);
  ~frmAbout() override;

  // Starts the system information tool, or says it is unavailable.
  void StartSysInfo();

 private:
  std::unique_ptr<Ui::frmAbout> ui_;
  hx::DialogService& dialogs_;
  hx::ProcessStarter& starter_;
};
