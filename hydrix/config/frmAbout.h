// The about box: the product, the build's version, and the system
// information a technician copies into a problem report.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "common/dialog_service.h"

namespace Ui {
class frmAbout;
}

class frmAbout : public QDialog {
  Q_OBJECT

 public:
  // `systemInfo` gives the text of "System Info…".
  frmAbout(hx::DialogService& dialogs, std::function<std::string()> systemInfo, QWidget* parent = nullptr);
  ~frmAbout() override;

  // Shows what a technician needs to report a problem (version, Qt, system,
  // USB backend and library, configuration files), with a Copy button.
  void StartSysInfo();

 private:
  std::unique_ptr<Ui::frmAbout> ui_;
  hx::DialogService& dialogs_;
  std::function<std::string()> systemInfo_;
};
