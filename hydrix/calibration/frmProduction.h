// The production report window: an order number, comments, and "Rapport",
// which appends the 24 lines of the report to a log file the operator
// chooses. The values come from the main window as it stands.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "common/dialog_service.h"
#include "hydrix/calibration/production_report.h"

namespace Ui {
class frmProduction;
}

class frmProduction : public QDialog {
  Q_OBJECT

 public:
  // `screen` gives what the main window shows (all but the order, the
  // comments and their caption).
  frmProduction(hx::DialogService& dialogs, std::function<hx::ReportInput()> screen,
                QWidget* parent = nullptr);
  ~frmProduction() override;

  void PrintReport_Click();
  // The log file the report was appended to, empty until it was.
  const std::string& AppendedTo() const { return appendedTo_; }

 private:
  std::unique_ptr<Ui::frmProduction> ui_;
  hx::DialogService& dialogs_;
  std::function<hx::ReportInput()> screen_;
  std::string appendedTo_;
};
