// The main window of hydrix: the hub that owns the controller choice, the
// settings images and the measure block (one HydrixDevice). It starts up,
// wires its frames together (settings, live view, maintenance, the language
// pass), and keeps the menus, the keyboard, the status bar and the close.
//
// Controls keep their design names as object names; the elements of a
// control array share the array's name and carry an integer "index"
// property (Text1 index 4, Label1 index 15...).
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "common/busy_cursor.h"
#include "common/dialog_service.h"
#include "common/sleeper.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/config/config_file.h"
#include "hydrix/link/usb_interface.h"
#include "hydrix/mainscreen/control_array.h"
#include "hydrix/mainscreen/firmware_launch.h"
#include "hydrix/mainscreen/frame_context.h"
#include "hydrix/mainscreen/modal_count.h"
#include "hydrix/mainscreen/remembered_state.h"
#include "hydrix/selection/device_selection.h"

class QAction;
class QLabel;
class QLineEdit;
class TrendChart;
class frm_etat;

namespace hx {
class ElidedLabel;
class LanguagePass;
class LiveView;
class MaintenanceFrame;
class SettingsFrame;
}  // namespace hx

namespace Ui {
class MainScreen;
}

class MainScreen : public QMainWindow {
  Q_OBJECT

 public:
  // The services the window works through; all outlive the window.
  struct Services {
    hx::UsbInterface& usb;
    hx::ConfigFile& config;
    hx::DialogService& dialogs;
    hx::Sleeper& sleeper;
    // The PC clock (tests fix it).
    std::function<hx::DateHeure()> now = hx::DateHeure::Maintenant;
    // Starts flashtool and the system information tool (Qt's when null).
    hx::ProcessStarter* starter = nullptr;
    // The file of what is remembered between runs (hydrix.conf); empty:
    // nothing is remembered.
    std::filesystem::path rememberedState;
  };
  explicit MainScreen(Services services, QWidget* parent = nullptr);
  ~MainScreen() override;

  // The start-up sequence: hour and output lists, the maintenance frame, the
  // device selection (modal), the first read, the language.
  void Form_Load();

  // The control `name` (element `index` of a control array, -1 for a plain
  // control), or nullptr.
  template <class T>
  T* Control(const QString& name, int index = -1) const {
    return hx::FindControl<T>(*this, name, index);
  }

  hx::HydrixDevice& device() { return device_; }
  std::int32_t UsbID() const { return device_.UsbID(); }
  bool TimeOut() const { return device_.TimeOut(); }

  // Reads the settings, the measures and the clock, and shows them.
  void LitTout();
  // Checks a numeric box against inclusive bounds: colour, Message, tool tip
  // and focus. True when the text is a number within the bounds.
  bool ControleValeur(QLineEdit* Valeur, double Min, double Max);
  // Applies a language to every caption; `fill` first fills the language list.
  void TraduitEcran(const QString& language, bool fill);
  // Decodes the measure block onto the "Values" and "Output Control" frames.
  void LitMesures();
  TrendChart* Chart() const;
  // The state window while it is open.
  frm_etat* Etat() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Sortir_Click();
  void MnuConnect_Click();
  void nmuBootLoad_Click();
  void mnuApropos_Click();
  // "?" > "Help" (F1): the help's first page in the desktop's browser.
  void mnuHelp_Click();
  // Shows the device selection; true when a controller was chosen and
  // answers afterwards.
  bool Connect();
  // Whether a command may go to the controller now (chosen, and answering
  // when `needsAnswer`); otherwise says why in the status bar and in one
  // message, and sends nothing.
  bool MayCommand(bool needsAnswer = true);
  // What "System Info…" of the about box shows.
  std::string SystemInformation();
  void UpdateStatus();
  // The remembered geometry, or the designed size, within the screen.
  void PlaceOnScreen();

  std::unique_ptr<Ui::MainScreen> ui;
  Services services_;
  hx::RememberedState remembered_;
  hx::RememberingDialogs remembering_;  // file dialogs open where the last one of their kind closed
  hx::IdleCursorDialogs idle_;          // every box and file dialog, with the normal pointer
  hx::ModalCount modal_;                // a box or dialog of the window is open
  hx::CountedDialogs dialogs_;          // every box and file dialog, counted as open while shown
  hx::HydrixDevice device_;
  hx::DeviceSelection selection_;
  std::unique_ptr<hx::ProcessStarter> ownStarter_;
  hx::ProcessStarter* starter_;
  hx::FrameContext context_;
  std::unique_ptr<hx::LanguagePass> language_;
  std::unique_ptr<hx::LiveView> live_;
  std::unique_ptr<hx::SettingsFrame> settings_;
  std::unique_ptr<hx::MaintenanceFrame> maintenance_;
  hx::ElidedLabel* statusLabel_;
  hx::ElidedLabel* logLabel_;
  bool closing_ = false;   // the exit question was answered Yes
  bool altAlone_ = false;  // Alt is down with no other key yet
  // The menu bar's entry without a menu (USB Connect) when the keyboard
  // reached it: Return, Enter, Space or Down triggers it.
  QAction* barKey_ = nullptr;
  bool MenuBarKey(QObject* watched, int key);
};
