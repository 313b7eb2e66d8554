// The main window's settings frame: the parameter boxes and lists, their
// checks, Read, Write, the factory reset, the clock setting and the
// settings profiles. It works on the widgets of the main form.
#pragma once

#include <QObject>
#include <QString>
#include <string>

#include "hydrix/mainscreen/frame_context.h"
#include "hydrix/settings/parameter_set.h"
#include "hydrix/settings/settings_profile.h"

class QLineEdit;

namespace hx {

class LiveView;

class SettingsFrame : public QObject {
 public:
  SettingsFrame(FrameContext& context, LiveView& live);

  ParameterSet& parameters() { return parameters_; }
  // Shows a read's settings and remembers them as the controller's.
  void ShowParameters(const ParameterTexts& texts);
  // The settings as the screen holds them.
  ParameterTexts ScreenParameters() const;
  // The settings on screen that differ from what was last read or written.
  bool UnwrittenEdits() const;
  // Checks a numeric box against inclusive bounds: colour, Message, tool tip
  // and focus. True when the text is a number within the bounds; a setting's
  // box by the value the screen would show for it (CheckField).
  bool ControleValeur(QLineEdit* Valeur, double Min, double Max);
  // The caption the operator sees for a setting (its key when it has none).
  std::string CaptionOf(const std::string& key) const;

  void Lire_Click();
  void Ecrire_Click();
  void Raz_Click();
  void SetTime_Click();
  void mnuSaveSettings_Click();
  void mnuLoadSettings_Click();
  void mnuCompareSettings_Click();

 private:
  void ShowSetting(const ParameterField& f, const QString& text);
  // Reads a profile through the open dialog; false (after saying why) when
  // none was chosen or it cannot be used.
  bool AskProfile(const QString& title, ProfileParse& profile);

  FrameContext& ctx_;
  LiveView& live_;
  ParameterSet parameters_;
  ParameterTexts shownParameters_;  // as last read or written
};

}  // namespace hx
