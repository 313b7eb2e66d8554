#include "hydrix/mainscreen/maintenance_frame.h"

#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

#include "common/busy_cursor.h"
#include "common/numbers.h"
#include "common/paths.h"
#include "hydrix/calibration/frmProduction.h"
#include "hydrix/calibration/maintenance.h"
#include "hydrix/calibration/serial_sequence.h"
#include "hydrix/config/about.h"
#include "hydrix/mainscreen/live_view.h"
#include "hydrix/mainscreen/settings_frame.h"
#include "hydrix/mainscreen/status_text.h"
#include "ui_MainScreen.h"

namespace hx {

namespace {
const std::string kEnglish = "English";
// How long a serial write waits for another program writing one.
constexpr std::chrono::milliseconds kSerialLockWait{10000};
// How long a problem of the serial record stays in the status bar.
constexpr int kProblemShownFor = 15000;
}  // namespace

MaintenanceFrame::MaintenanceFrame(FrameContext& context, LiveView& live, SettingsFrame& settings)
    : ctx_(context), live_(live), settings_(settings) {
  Ui::MainScreen& ui = ctx_.ui;
  connect(ui.Command_tension, &QPushButton::clicked, this, &MaintenanceFrame::Command_tension_Click);
  connect(ui.CommandCalibrationCLK, &QPushButton::clicked, this,
          &MaintenanceFrame::CommandCalibrationCLK_Click);
  connect(ui.CheckClockSpeed, &QCheckBox::clicked, this, &MaintenanceFrame::CheckClockSpeed_Click);
  connect(ui.Programmer, &QPushButton::clicked, this, &MaintenanceFrame::Programmer_Click);
  connect(ui.Rapport, &QPushButton::clicked, this, &MaintenanceFrame::Rapport_Click);
}

void MaintenanceFrame::ShowCorrection() {
  const auto correction = ctx_.device.LitValeurCorrection();
  ctx_.Control<QLineEdit>("ValeurHorloge", 0)->setText(Q(correction[0]));
  ctx_.Control<QLineEdit>("ValeurHorloge", 1)->setText(Q(correction[1]));
}

void MaintenanceFrame::Command_tension_Click() {
  if (!ctx_.mayCommand(true)) return;
  Ui::MainScreen& ui = ctx_.ui;
  // The frame carries millivolts in two bytes: 65.535 V at most.
  if (!settings_.ControleValeur(ui.ValeurTension, kReferenceVolts.min, kReferenceVolts.max)) return;
  const double volts = ParseNumber(S(ui.ValeurTension->text())).value_or(0);
  // A reference far from what the controller measures is a slip (volts
  // typed as tenths, another battery): asked first, No by default.
  {
    BusyCursor busy;
    if (!live_.EnsureReading()) {
      const std::string& why = live_.NotReadingWhy();
      return ctx_.ShowFailure(why.empty() ? why : why + " Nothing was sent.");
    }
  }
  HydrixDevice& device = ctx_.device;
  const bool held = device.ImageComplete() && device.ImageUsbID() == device.UsbID();
  const auto plan = PlanVoltageCalibration(device.LitMotValeur(0), held ? device.LitMotParams(2) : 0, volts);
  if (plan.farOff && ctx_.dialogs.Message({plan.question, HydrixDevice::kTitle, MsgButtons::YesNo,
                                           MsgIcon::Question, true}) != MsgAnswer::Yes) {
    return;
  }
  StepOutcome outcome;
  {
    BusyCursor busy;
    outcome = CalibrateVoltage(device, volts);
  }
  if (!outcome.done) return ctx_.ShowFailure(outcome.why);
  ui.correctionV->setText(Q(VoltageCorrectionText(ctx_.device)));
  ctx_.dialogs.Message({ctx_.config.LitMessage(kEnglish, "V Calibrated Set", ""), ProgramTitle(),
                        MsgButtons::Ok, MsgIcon::Exclamation});
  ctx_.updateStatus();
}

void MaintenanceFrame::CommandCalibrationCLK_Click() {
  if (!ctx_.mayCommand(true)) return;
  const bool reading = live_.PauseReading();
  StepOutcome outcome;
  {
    BusyCursor busy;
    const std::int32_t N = ClockCorrectionNumber(S(ctx_.Control<QLineEdit>("ValeurHorloge", 1)->text()));
    outcome = CalibrateClock(ctx_.device, N);
    if (ctx_.device.ImageComplete()) ShowCorrection();
  }
  if (outcome.done) {
    ctx_.Say(ctx_.config.LitMessage(kEnglish, "Parameters Writed", ""), MsgIcon::Information);
  } else {
    ctx_.ShowFailure(outcome.why);
  }
  live_.ResumeReading(reading);
}

void MaintenanceFrame::CheckClockSpeed_Click() {
  if (!ctx_.mayCommand(true)) return;
  SetFastClock(ctx_.device, ctx_.ui.CheckClockSpeed->isChecked());
  ctx_.updateStatus();
}

void MaintenanceFrame::ProposeSerial() {
  const LastSerial last = SerialSequence(UserStateFolder()).Read();
  const auto next = NextSerial(last);
  // Why nothing is proposed, in the status bar now and on the box whole.
  const std::string why = !last.ok() ? last.problem : (last.value && !next) ? SerialPastTheLast() : "";
  ctx_.ui.ValeurNumeroSerie->setToolTip(Q(why));
  if (next) ctx_.ui.ValeurNumeroSerie->setText(QString::number(*next));
  if (!why.empty()) ctx_.window.statusBar()->showMessage(Q(why), kProblemShownFor);
}

void MaintenanceFrame::Programmer_Click() {
  const SerialCheck check = CheckSerial(S(ctx_.ui.ValeurNumeroSerie->text()));
  if (!check.value) {
    ctx_.dialogs.Message({check.message, ProgramTitle(), MsgButtons::Ok, MsgIcon::None});
    return;
  }
  if (!ctx_.mayCommand(true)) return;
  // Writing over another serial number renames a unit: asked first, No by
  // default.
  std::optional<std::int32_t> held;
  {
    BusyCursor busy;
    held = HeldSerial(ctx_.device);
  }
  if (held) {
    const std::string question = SerialOverwriteQuestion(*held, *check.value);
    if (!question.empty() && ctx_.dialogs.Message({question, HydrixDevice::kTitle, MsgButtons::YesNo,
                                                   MsgIcon::Question, true}) != MsgAnswer::Yes) {
      return;
    }
  }
  // A serial not above the last one written from this machine (typed, or
  // proposed before another program took it) is asked for, No by default;
  // the question comes with the lock let go, so nobody waits on it.
  SerialSequence sequence(UserStateFolder());
  SerialWrite written;
  for (bool belowLastAllowed = false;; belowLastAllowed = true) {
    {
      BusyCursor busy;
      written = ProgramSerialRecorded(ctx_.device, sequence, *check.value, belowLastAllowed, kSerialLockWait);
    }
    if (!written.belowLast) break;
    if (ctx_.dialogs.Message({SerialBelowLastQuestion(*check.value, *written.belowLast), HydrixDevice::kTitle,
                              MsgButtons::YesNo, MsgIcon::Question, true}) != MsgAnswer::Yes) {
      ProposeSerial();
      return;
    }
  }
  if (!written.step.done) return ctx_.ShowFailure(written.step.why);
  // Every line that names the controller names its new serial.
  ctx_.ui.NumeroSerie->setText(QString::number(*check.value));
  ctx_.controllerText = ListedWithSerial(ctx_.controllerText, *check.value);
  ProposeSerial();
  ctx_.updateStatus();
  if (!written.notRecorded.empty()) {
    ctx_.Say("Serial number " + std::to_string(*check.value) +
             " was written, but not recorded as the last one written from this machine. " +
             written.notRecorded);
  }
}

ReportInput MaintenanceFrame::ReportFromScreen() const {
  auto label = [this](const char* name, int index = -1) {
    return S(ctx_.Control<QLabel>(name, index)->text());
  };
  auto text = [this](const char* name, int index = -1) {
    return S(ctx_.Control<QLineEdit>(name, index)->text());
  };
  const Ui::MainScreen& ui = ctx_.ui;
  ReportInput in;
  in.date = FormatDateHeure(FormatDateCourte(), ctx_.now());
  in.versionCaption = label("LabelVersion");
  in.version = label("Version");
  in.serialCaption = label("Label1", 20);
  in.serial = label("NumeroSerie");
  in.dateCaption = label("Label2");
  in.programmingDate = label("DateProgrammation");
  in.clockCorrection = text("ValeurHorloge", 0);
  in.clockValue = text("ValeurHorloge", 1);
  in.startLowCaption = label("Label1", 15);
  in.startLow = text("Text1", 4);
  in.startHighCaption = label("Label1", 14);
  in.startHigh = text("Text1", 5);
  in.alarmCaption = label("LabelAlarmLevel");
  in.alarm = text("Text1", 7);
  in.pulseCaption = label("Label1", 4);
  in.pulse = text("Text1", 6);
  in.forced1Caption = label("Label1", 9);
  in.forced1 = S(ui.Heure1->currentText());
  in.forced2Caption = label("Label1", 10);
  in.forced2 = S(ui.Heure2->currentText());
  in.capacityCaption = label("Label1", 12);
  in.capacity = S(ui.ComboChargeTempo->currentText());
  in.voltageCorrection = S(ui.correctionV->text());
  return in;
}

void MaintenanceFrame::Rapport_Click() {
  if (!ctx_.mayCommand(true)) return;
  // The report records what the controller holds: only after a whole read
  // of the chosen controller whose settings can be its own.
  std::string why = ctx_.device.ImageWriteRefusal();
  if (!why.empty()) return ctx_.ShowFailure(why + " No report was written.");
  frmProduction dialog(
      ctx_.dialogs, [this] { return ReportFromScreen(); }, &ctx_.window);
  {
    const ModalCount::Scope open(ctx_.modal);
    dialog.exec();
  }
  if (!dialog.AppendedTo().empty()) {
    ctx_.window.statusBar()->showMessage(
        ctx_.text("StatusReportAppended", "Report of controller %1 appended to %2")
            .arg(ctx_.device.UsbID())
            .arg(Q(dialog.AppendedTo())),
        kConfirmationShownFor);
  }
}

}  // namespace hx
