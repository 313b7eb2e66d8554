// The device selection window: lists the controllers that answer their
// identity probe; a click on one makes it the choice, "Cancel" gives the link
// up and leaves no controller chosen. The enumeration and the probe live in DeviceSelection.
#pragma once

#include <QDialog>
#include <memory>

#include "hydrix/selection/device_selection.h"

namespace Ui {
class frmConnect;
}

class frmConnect : public QDialog {
  Q_OBJECT

 public:
  frmConnect(hx::DeviceSelection& selection, QWidget* parent = nullptr);
  ~frmConnect() override;

  // The list as last enumerated.
  const hx::DeviceList& List() const { return list_; }

 protected:
  // The close box (and Escape): a choice only when exactly one controller
  // answered.
  void reject() override;

 private:
  void Form_Load();
  void ViewAll_Click();
  void Listeeline_Click(int row);
  void ExitEtalonnage_Click();
  void Show(const hx::DeviceList& list);
  // A text this window added to its design, from the catalogue by code.
  QString Text(const char* code, const std::string& english) const;

  std::unique_ptr<Ui::frmConnect> ui_;
  hx::DeviceSelection& selection_;
  hx::DeviceList list_;
  bool cancelled_ = false;
};
