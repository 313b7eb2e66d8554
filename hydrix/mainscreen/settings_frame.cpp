#include "hydrix/mainscreen/settings_frame.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

#include "common/busy_cursor.h"
#include "common/numbers.h"
#include "hydrix/config/captions.h"
#include "hydrix/mainscreen/factory_values.h"
#include "hydrix/mainscreen/live_view.h"
#include "hydrix/settings/settings_profile.h"
#include "ui_MainScreen.h"

namespace hx {

namespace {
const char* const kProfileFilter = "Settings profiles (*.txt)|*.txt|All Files (*.*)|*.*";
const std::string kEnglish = "English";
}  // namespace

SettingsFrame::SettingsFrame(FrameContext& context, LiveView& live)
    : ctx_(context),
      live_(live),
      parameters_(context.device, [now = context.now] { return DateVersSecondes(now()); }) {
  parameters_.SetNames([this](const std::string& key) { return CaptionOf(key); });
  Ui::MainScreen& ui = ctx_.ui;
  connect(ui.Lire, &QPushButton::clicked, this, &SettingsFrame::Lire_Click);
  connect(ui.Ecrire, &QPushButton::clicked, this, &SettingsFrame::Ecrire_Click);
  connect(ui.Raz, &QPushButton::clicked, this, &SettingsFrame::Raz_Click);
  connect(ui.SetTime, &QPushButton::clicked, this, &SettingsFrame::SetTime_Click);
  connect(ui.mnuSaveSettings, &QAction::triggered, this, &SettingsFrame::mnuSaveSettings_Click);
  connect(ui.mnuLoadSettings, &QAction::triggered, this, &SettingsFrame::mnuLoadSettings_Click);
  connect(ui.mnuCompareSettings, &QAction::triggered, this, &SettingsFrame::mnuCompareSettings_Click);
  // The edit hooks: every box of the parameter map that has bounds is
  // checked on each change, including the changes a read makes.
  for (const auto& f : ParameterMap()) {
    if (!f.check || f.control_kind != ControlKind::TextBox) continue;
    QLineEdit* box = ctx_.Control<QLineEdit>(f.control, f.index);
    const Bounds b = *f.check;
    connect(box, &QLineEdit::textChanged, this, [this, box, b] { ControleValeur(box, b.min, b.max); });
  }
}

std::string SettingsFrame::CaptionOf(const std::string& key) const {
  const SettingLabel* label = SettingCaption(key);
  QLabel* shown = label ? ctx_.Control<QLabel>(label->control, label->index) : nullptr;
  if (!shown) return key;
  // "Battery Capacity (Ah) : Tempo (Hr) " reads as a name without its blanks.
  return S(shown->text().trimmed());
}

void SettingsFrame::Lire_Click() {
  // A chosen controller that answers again is read, not refused.
  live_.LookAgain();
  if (ctx_.mayCommand(true)) ctx_.readAll();
}

void SettingsFrame::ShowSetting(const ParameterField& f, const QString& text) {
  switch (f.control_kind) {
    case ControlKind::TextBox:
      ctx_.Control<QLineEdit>(f.control, f.index)->setText(text);
      break;
    case ControlKind::Label:
      ctx_.Control<QLabel>(f.control, f.index)->setText(text);
      break;
    case ControlKind::HourList: {
      auto* list = ctx_.Control<QComboBox>(f.control, f.index);
      const int i = list->findText(text);
      if (i >= 0) {
        list->setCurrentIndex(i);
      } else {
        list->setCurrentText(text);
      }
      break;
    }
    case ControlKind::CapacityList: {
      // The same reading of the index as profiles and hydrixctl ("2.0" is 2).
      const auto index = ParseNumber(ScreenValue(f, S(text)));
      ctx_.Control<QComboBox>(f.control, f.index)->setCurrentIndex(index ? static_cast<int>(*index) : 0);
      break;
    }
  }
}

bool SettingsFrame::UnwrittenEdits() const {
  if (shownParameters_.empty()) return false;
  const ParameterTexts screen = ScreenParameters();
  for (const auto& f : ParameterMap()) {
    if (!f.written) continue;
    const auto shown = shownParameters_.find(f.key);
    const auto now = screen.find(f.key);
    if (shown == shownParameters_.end() || now == screen.end()) continue;
    if (ScreenValue(f, shown->second) != ScreenValue(f, now->second)) return true;
  }
  return false;
}

void SettingsFrame::ShowParameters(const ParameterTexts& texts) {
  for (const auto& f : ParameterMap()) ShowSetting(f, Q(texts.at(f.key)));
  ctx_.ui.ValeurNumeroSerie->setText(Q(texts.at("serial_number")));
  if (ctx_.proposeSerial) ctx_.proposeSerial();
  shownParameters_ = ScreenParameters();
}

ParameterTexts SettingsFrame::ScreenParameters() const {
  ParameterTexts texts;
  for (const auto& f : ParameterMap()) {
    if (!f.written) continue;
    switch (f.control_kind) {
      case ControlKind::TextBox:
        texts[f.key] = S(ctx_.Control<QLineEdit>(f.control, f.index)->text());
        break;
      case ControlKind::Label:
        texts[f.key] = S(ctx_.Control<QLabel>(f.control, f.index)->text());
        break;
      case ControlKind::HourList:
        texts[f.key] = S(ctx_.Control<QComboBox>(f.control, f.index)->currentText());
        break;
      case ControlKind::CapacityList: {
        const int i = ctx_.Control<QComboBox>(f.control, f.index)->currentIndex();
        texts[f.key] = i < 0 ? std::string() : std::to_string(i);
        break;
      }
    }
  }
  return texts;
}

void SettingsFrame::Ecrire_Click() {
  if (!ctx_.mayCommand(true)) return;
  const bool reading = live_.PauseReading();
  const ParameterTexts screen = ScreenParameters();
  bool written = false;
  if (parameters_.ConfirmOutOfBounds(screen)) {
    BusyCursor busy;
    written = parameters_.Ecrire(screen);
  }
  if (written) {
    // The boxes show what the controller now holds: the date of this write,
    // and values as stored (a solenoid pulse of 350 ms is stored as 349).
    std::array<std::int32_t, 256> image{};
    std::copy(ctx_.device.ImageEcriture().begin(), ctx_.device.ImageEcriture().end(), image.begin());
    ShowParameters(DecodeParametres(image));
    ctx_.window.statusBar()->showMessage(
        ctx_.text("StatusWritten", "Settings written to controller %1, which was reset")
            .arg(ctx_.device.UsbID()),
        kConfirmationShownFor);
  }
  live_.ResumeReading(reading);
}

void SettingsFrame::Raz_Click() {
  if (!ctx_.mayCommand(true)) return;
  const std::string question = "Restore the factory values of controller " +
                               std::to_string(ctx_.device.UsbID()) +
                               "? Every setting it holds is replaced by its factory value.";
  if (ctx_.dialogs.Message({question, HydrixDevice::kTitle, MsgButtons::YesNo, MsgIcon::Question, true}) !=
      MsgAnswer::Yes) {
    return;
  }
  const bool reading = live_.PauseReading();
  QString report;
  int shownFor = 15000;
  {
    BusyCursor busy;
    const FactoryOutcome outcome = RestoreFactoryValues(ctx_.device);
    if (!outcome.refusal.empty()) {
      // Nothing was written: the box says why, and the status bar keeps it.
      ctx_.ShowFailure(outcome.refusal);
      report = Q(outcome.refusal);
    } else if (!outcome.reset) {
      // Stopped before the reset: the screen keeps what was last read, and
      // nothing claims a restore.
      report = ctx_.text("StatusFactoryFailed",
                         "Factory values not restored: the controller did not confirm the write of address "
                         "%1. Nothing was reset; read the parameters once it answers again.")
                   .arg(outcome.failedAddress);
      shownFor = 0;
      // A silent controller was told by the link's own box; an answer that
      // came short is told here.
      if (!ctx_.device.TimeOut()) ctx_.Say(S(report), MsgIcon::Critical);
    } else {
      // The screen shows what the controller now holds, so that the next
      // Write Parameters cannot undo the reset with the old values.
      ctx_.readAll();
      report = ctx_.device.ImageComplete() && !ctx_.device.TimeOut()
                   ? ctx_.text("StatusFactoryRestored",
                               "Factory values restored: the screen shows what the controller now holds.")
                   : ctx_.text("StatusFactoryUnread",
                               "Factory values written and the controller reset, but it did not answer the "
                               "read afterwards: read the parameters again.");
    }
  }
  if (!report.isEmpty()) ctx_.window.statusBar()->showMessage(report, shownFor);
  live_.ResumeReading(reading);
}

void SettingsFrame::SetTime_Click() {
  if (!ctx_.mayCommand(true)) return;
  const bool reading = live_.PauseReading();
  const DateHeure t = ctx_.device.MiseAHeure();
  ctx_.ui.Madate->setDateTime(QDateTime(QDate(t.annee, t.mois, t.jour), QTime(t.heure, t.minute, t.seconde)));
  if (!ctx_.device.TimeOut()) {
    // The controller's date on screen is the one just set.
    const std::uint8_t clock[7] = {0,
                                   static_cast<std::uint8_t>(t.jour),
                                   static_cast<std::uint8_t>(t.mois),
                                   static_cast<std::uint8_t>(t.annee % 100),
                                   static_cast<std::uint8_t>(t.heure),
                                   static_cast<std::uint8_t>(t.minute),
                                   static_cast<std::uint8_t>(t.seconde)};
    ctx_.ui.txtCurrentTime->setText(Q(ClockText(clock)));
  }
  live_.ResumeReading(reading);
}

bool SettingsFrame::ControleValeur(QLineEdit* Valeur, double Min, double Max) {
  const Bounds bounds{Min, Max};
  // A setting's box is checked as the screen would show its value (20.004 V
  // passes as the 20.00 shown, 4.994 V fails as 4.99), so a value is refused
  // exactly when the text it reads back as is; other boxes as typed.
  const ParameterField* field = nullptr;
  for (const auto& f : ParameterMap()) {
    if (f.control_kind == ControlKind::TextBox && ctx_.Control<QLineEdit>(f.control, f.index) == Valeur)
      field = &f;
  }
  CheckResult r;
  if (field) {
    ParameterField checked = *field;
    checked.check = bounds;
    r = CheckField(checked, S(Valeur->text()));
  } else {
    r = CheckValue(S(Valeur->text()), bounds);
  }
  QString text;
  if (!r.ok()) {
    auto& m = ctx_.config;
    text = Q(CheckMessage(r, bounds, m.LitMessage(kEnglish, "Value must be numeric", ""),
                          m.LitMessage(kEnglish, "Value Must be between ", ""),
                          m.LitMessage(kEnglish, " and ", "")));
  }
  Valeur->setStyleSheet(r.ok() ? "background-color: rgb(255, 255, 255);"
                               : "background-color: rgb(250, 100, 100);");
  ctx_.ui.Message->setText(text);
  Valeur->setToolTip(text);
  if (!r.ok() && Valeur->isVisible()) Valeur->setFocus();
  return r.ok();
}

void SettingsFrame::mnuSaveSettings_Click() {
  HydrixDevice& device = ctx_.device;
  if (!device.ImageComplete() || device.ImageUsbID() != device.UsbID() || device.UsbID() == 0) {
    return ctx_.Say(
        "Read the parameters of the selected controller first: a profile holds the settings of a whole "
        "read.");
  }
  const ParameterTexts screen = ScreenParameters();
  ProfileOrigin origin;
  origin.controller =
      ctx_.controllerText.empty() ? "controller " + std::to_string(device.UsbID()) : ctx_.controllerText;
  origin.firmware = S(ctx_.ui.Version->text());
  origin.serial = S(ctx_.ui.NumeroSerie->text());
  origin.saved = FormatDateHeure("yyyy-MM-dd HH:mm:ss", ctx_.now());
  const std::string text = FormatProfile(screen, origin);
  if (const auto parsed = ParseProfile(text); !parsed.errors.empty()) {
    return ctx_.Say("The screen holds a value a profile cannot carry; nothing was saved.\n" +
                    parsed.errors.front());
  }
  FileDialogRequest request;
  request.title = S(ctx_.ui.mnuSaveSettings->text());
  request.filter = kProfileFilter;
  request.fileName = "hydrix-" + origin.serial + ".txt";
  const auto file = ctx_.dialogs.SaveFile(request);
  if (!file || file->empty()) return;
  if (const std::string problem = SaveProfile(*file, text); !problem.empty()) return ctx_.Say(problem);
  ctx_.window.statusBar()->showMessage(ctx_.text("StatusSaved", "Settings saved to %1").arg(Q(*file)),
                                       kConfirmationShownFor);
}

bool SettingsFrame::AskProfile(const QString& title, ProfileParse& profile) {
  FileDialogRequest request;
  request.title = S(title);
  request.filter = kProfileFilter;
  const auto file = ctx_.dialogs.OpenFile(request);
  if (!file || file->empty()) return false;
  const ProfileParse parsed = ReadProfile(*file);
  if (!parsed.errors.empty()) {
    std::string text = *file + " cannot be used; nothing was changed:";
    for (const auto& e : parsed.errors) text += "\n" + e;
    ctx_.Say(text, MsgIcon::Critical);
    return false;
  }
  profile = parsed;
  return true;
}

void SettingsFrame::mnuLoadSettings_Click() {
  ProfileParse profile;
  if (!AskProfile(ctx_.ui.mnuLoadSettings->text(), profile)) return;
  // A profile goes only to a controller of the type it was saved from.
  // Without a choice nothing can be written until a controller is chosen,
  // and choosing one reads its own settings onto the screen.
  HydrixDevice& device = ctx_.device;
  if (device.Chosen()) {
    const auto& known = device.state().Identities;
    const auto identity = known.find(device.UsbID());
    const std::string refusal = ProfileTypeRefusal(
        profile, identity == known.end() ? std::nullopt : std::optional(identity->second), device.UsbID());
    if (!refusal.empty()) return ctx_.Say(refusal, MsgIcon::Critical);
  }
  for (const auto& [key, text] : profile.values) ShowSetting(*FindParameter(key), Q(text));
  // Nothing goes to the controller until Write Parameters.
  ctx_.window.statusBar()->showMessage(
      ctx_.text("StatusLoaded", "Settings loaded on screen: Write Parameters sends them to the controller."),
      15000);
}

void SettingsFrame::mnuCompareSettings_Click() {
  ProfileParse profile;
  if (!AskProfile(ctx_.ui.mnuCompareSettings->text(), profile)) return;
  const auto differences = CompareProfile(ScreenParameters(), profile.values);
  std::string text;
  if (differences.empty()) {
    text = "The screen and the file hold the same settings.";
  } else {
    text = "Settings that differ (screen -> file):";
    for (const auto& d : differences) text += "\n" + CaptionOf(d.key) + ": " + d.current + " -> " + d.file;
  }
  ctx_.Say(text, MsgIcon::Information);
}

}  // namespace hx
