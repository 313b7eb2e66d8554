// The state window: the controller's operating state, its outputs, the
// battery voltage and the four running delays, redrawn every second by
// Timer1 from the measure block the main window last read. It sends no
// command of its own. Modeless; the main window keeps a single one.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "hydrix/mainscreen/control_array.h"
#include "hydrix/settings/measures_codec.h"

class QTimer;

namespace Ui {
class frm_etat;
}

class frm_etat : public QWidget {
  Q_OBJECT

 public:
  // `block` gives the main window's measure block at each refresh.
  explicit frm_etat(std::function<hx::MeasureBlock()> block, QWidget* parent = nullptr);
  ~frm_etat() override;

  // The control `name` (element `index` of a control array), or nullptr.
  template <class T>
  T* Control(const QString& name, int index = -1) const {
    return hx::FindControl<T>(*this, name, index);
  }

  // One refresh from the measure block.
  void Timer1_Timer();

 private:
  std::unique_ptr<Ui::frm_etat> ui;
  std::function<hx::MeasureBlock()> block_;
  QTimer* Timer1;
};
