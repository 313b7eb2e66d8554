// The main window of hydrix: the hub that owns the controller choice, the
// settings images and the measure block (one HydrixDevice), shows the
// settings and lets the operator read, edit and write them, choose a
// controller, set its clock and switch the screen's language.
//
// Controls keep their design names as object names; the elements of a
// control array share the array's name and carry an integer "index"
// property (Text1 index 4, Label1 index 15...).
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

#include "common/busy_cursor.h"
#include "common/dialog_service.h"
#include "common/sleeper.h"
#include "hydrix/calibration/production_report.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/config/config_file.h"
#include "hydrix/link/usb_interface.h"
#include "hydrix/mainscreen/control_array.h"
#include "hydrix/mainscreen/firmware_launch.h"
#include "hydrix/mainscreen/remembered_state.h"
#include "hydrix/selection/device_selection.h"
#include "hydrix/settings/measure_log.h"
#include "hydrix/settings/parameter_set.h"

class QAction;
class QLabel;
class QLineEdit;
class QTimer;
class TrendChart;
class frm_etat;

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
  TrendChart* Chart() const { return chart_; }
  // The state window while it is open.
  frm_etat* Etat() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Lire_Click();
  void Ecrire_Click();
  void Raz_Click();
  void SetTime_Click();
  void Sortir_Click();
  void MnuConnect_Click();
  void LectureContinu_Click();
  void Timer_Timer();
  void Command1_Click();
  void ActivateSolenoid_Click();
  void ActivateRelay_Click();
  void SetEndOFChargeTempo_Click();
  void State_Click();
  // "Measure Log": asks for a CSV file and starts appending each tick's
  // measures to it; unticked, stops.
  void mnuJournal_Click(bool checked);
  // "Export Chart Data…" and "Save Chart Image…" (also the chart's menu).
  void mnuExportChart_Click();
  void mnuSaveChartImage_Click();
  // Appends the tick's measures to the open log; a failure stops the log.
  void AppendMeasureLog();
  // The four measure boxes' texts in chart series order.
  std::array<std::string, 4> ChartTexts() const;
  void ListeLangues_Change();
  void Command_tension_Click();
  void CommandCalibrationCLK_Click();
  void CheckClockSpeed_Click();
  void Programmer_Click();
  void Rapport_Click();
  void nmuBootLoad_Click();
  void mnuApropos_Click();
  void mnuSaveSettings_Click();
  void mnuLoadSettings_Click();
  void mnuCompareSettings_Click();
  // Reads a profile through the open dialog; false (after saying why) when
  // none was chosen or it cannot be used.
  bool AskProfile(const QString& title, hx::ParameterTexts& values);
  void ShowSetting(const hx::ParameterField& f, const QString& text);
  // What the production report copies from the window.
  hx::ReportInput ReportFromScreen() const;
  void ShowCorrection();
  // A maintenance step that did not go through, when the link has not
  // already told the operator.
  void ShowFailure(const std::string& why);
  // Shows the device selection; true when a controller was chosen and
  // answers afterwards.
  bool Connect();
  // Whether a command may go to the controller now (chosen, and answering
  // when `needsAnswer`); otherwise says why in the status bar and in one
  // message, and sends nothing.
  bool MayCommand(bool needsAnswer = true);
  // The caption the operator sees for a setting (its key when it has none).
  std::string CaptionOf(const std::string& key) const;

  void ShowParameters(const hx::ParameterTexts& texts);
  // The settings on screen that differ from what was last read or written.
  bool UnwrittenEdits() const;
  // "?" > "Help": the README (or the installed manual) in the desktop's viewer.
  void mnuHelp_Click();
  // A text this window adds to the design's, from the catalogue by `code`
  // in the language on screen (English before the list is filled).
  QString Text(const char* code, const char* english) const;
  // Sets the status tips in the language on screen.
  void ApplyAddedTexts();
  // What "System Info…" of the about box shows.
  std::string SystemInformation();
  // Stops continuous reading for an action; true when it was on.
  bool PauseReading();
  // After the action, whatever its outcome: reading that was on runs again
  // (no full read, the chart's counter going on, the log in the same file)
  // while the chosen controller answers.
  void ResumeReading(bool wasReading);
  // Whether the screen may show measures: a chosen controller that answers.
  bool Reading() const { return device_.Chosen() && !device_.TimeOut(); }
  hx::ParameterTexts ScreenParameters() const;
  void ShowClock();
  void UpdateStatus();
  void RemplitListeLangues(const QString& language);

  std::unique_ptr<Ui::MainScreen> ui;
  Services services_;
  hx::RememberedState remembered_;
  hx::RememberingDialogs remembering_;  // file dialogs open where the last one of their kind closed
  hx::IdleCursorDialogs dialogs_;       // every box and file dialog, with the normal pointer
  hx::HydrixDevice device_;
  hx::DeviceSelection selection_;
  hx::ParameterSet parameters_;
  std::unique_ptr<hx::ProcessStarter> ownStarter_;
  hx::ProcessStarter* starter_;
  QTimer* Timer;
  QLabel* statusLabel_;
  std::string controllerText_;  // the identity of the chosen controller, as listed
  bool fillingLanguages_ = false;
  TrendChart* chart_;
  bool measuresShown_ = false;  // a measure read has been decoded onto the screen
  bool partAnswers_ = false;    // the last read got answers, but not whole ones
  bool implausible_ = false;    // the last read's settings cannot be the controller's own
  // An output choice the operator made that the ticks must not overwrite
  // (solenoid, relay), and the states the controller last reported.
  std::array<bool, 2> outputChosen_{};
  std::array<int, 2> outputReported_{};
  // The captions of the form, before any language or reading changed them:
  // the default texts of the catalogue's entries.
  QHash<QObject*, QString> designCaptions_;
  hx::ParameterTexts shownParameters_;  // as last read or written
  bool closing_ = false;                // the exit question was answered Yes
  bool altAlone_ = false;               // Alt is down with no other key yet
  QPointer<frm_etat> etat_;
  QAction* mnuJournal_;
  QLabel* logLabel_;
  hx::MeasureLog measureLog_;
};
