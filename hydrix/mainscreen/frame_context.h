// What the frames of the main window (settings, live view, maintenance, the
// language pass) share: the one form, the controller and the services, and
// the window's own checks and status line. The window owns it and outlives
// every frame.
#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "common/dialog_service.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/config/config_file.h"
#include "hydrix/mainscreen/control_array.h"
#include "hydrix/mainscreen/modal_count.h"

namespace Ui {
class MainScreen;
}

namespace hx {

// How long a confirmation ("saved", "appended", "written") stays in the
// status bar, in milliseconds.
inline constexpr int kConfirmationShownFor = 10000;

struct FrameContext {
  QMainWindow& window;
  Ui::MainScreen& ui;
  HydrixDevice& device;
  DialogService& dialogs;
  // Counts the window's open boxes and dialogs (those of `dialogs` by
  // themselves); a dialog the window runs itself is counted with a Scope.
  ModalCount& modal;
  ConfigFile& config;
  std::function<DateHeure()> now;

  // Whether a command may go to the controller now; otherwise the window
  // says why and nothing is sent.
  std::function<bool(bool needsAnswer)> mayCommand;
  // Rewrites the status bar's lines.
  std::function<void()> updateStatus;
  // Reads the settings, the measures and the clock, and shows them.
  std::function<void()> readAll;
  // A text the window adds to the design's, from the catalogue by code in
  // the language on screen.
  std::function<QString(const char* code, const char* english)> text;

  // What the status bar tells besides the device's own state.
  std::string controllerText;  // the identity of the chosen controller, as listed
  // Its serial number, when the list could read it.
  std::optional<std::int32_t> controllerSerial;
  bool partAnswers = false;  // the last read got answers, but not whole ones
  bool implausible = false;  // the last read's settings cannot be the controller's own
  bool notReading = false;   // the last measure read is not a reading of the controller
  // Puts the next serial number of the sequence in the maintenance frame's
  // box, after the settings read showed the controller's.
  std::function<void()> proposeSerial;

  // The control `name` of the form (element `index` of a control array).
  template <class T>
  T* Control(const QString& name, int index = -1) const {
    return FindControl<T>(window, name, index);
  }
  // A message box with the program's title and an OK button.
  void Say(const std::string& text, MsgIcon icon = MsgIcon::Exclamation) const {
    dialogs.Message({text, HydrixDevice::kTitle, MsgButtons::Ok, icon});
  }
  // A step that did not go through, when the link has not already told the
  // operator.
  void ShowFailure(const std::string& why) const {
    if (!why.empty()) Say(why, MsgIcon::Critical);
    updateStatus();
  }
};

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

}  // namespace hx
