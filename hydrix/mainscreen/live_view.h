// The main window's live view: the "Values" and "Output Control" frames,
// continuous reading (the one-second tick), the trend chart, the state
// window and the measure log. It works on the widgets of the main form.
#pragma once

#include <QObject>
#include <QPointer>
#include <array>
#include <filesystem>
#include <map>
#include <string>

#include "hydrix/mainscreen/frame_context.h"
#include "hydrix/mainscreen/return_watch.h"
#include "hydrix/settings/measure_log.h"

class QAction;
class QTimer;
class TrendChart;
class frm_etat;

namespace hx {

class LiveView : public QObject {
 public:
  explicit LiveView(FrameContext& context);

  // Builds the chart's series from the captions as they stand.
  void BuildChart();
  // After each measure read: whether it is a reading of the controller
  // (NotAReading). Measures that are not are shown as "--" with grey lamps,
  // neither charted nor logged, and the status bar says so.
  void MeasuresRead();
  // Whether the measures held are a whole reading of the chosen controller;
  // when they are not, reads and shows them again first. False when they
  // still are not (NotReadingWhy() says why, "" when the link has told).
  bool EnsureReading();
  const std::string& NotReadingWhy() const { return notReading_; }
  // Decodes the measure block onto the "Values" and "Output Control" frames.
  void LitMesures();
  // Shows the controller's clock ("--" while no measures can be shown).
  void ShowClock();
  // Whether the screen may show measures: a chosen controller that answers.
  bool Reading() const { return ctx_.device.Chosen() && !ctx_.device.TimeOut(); }
  // Whether the measures held are shown: Reading(), and the last measures
  // are a reading.
  bool ShowsMeasures() const { return Reading() && notReading_.empty(); }
  // A measure read has been decoded onto the screen.
  bool MeasuresShown() const { return measuresShown_; }
  // Stops continuous reading for an action; true when it was on.
  bool PauseReading();
  // After the action, whatever its outcome: reading that was on runs again
  // (no full read, the chart's counter going on, the log in the same file)
  // while the chosen controller answers.
  void ResumeReading(bool wasReading);
  // Continuous reading is on.
  bool Running() const;
  // The open measure log's file, empty when none is open.
  std::string LogFile() const;
  // After the device selection: a measure log is one controller's, so a log
  // of another than the one now chosen stops, and its file takes no rows of
  // any other controller in this run. Returns the stopped log's file, empty
  // when none stopped.
  std::string ControllerChosen();
  // Stops the tick and closes the state window (the main window closes).
  void Stop();
  // While the chosen controller's link is given up: looks for it once now
  // (by its serial, on any connection). When it answers, the link is live
  // again, on the connection it answers on; if it was lost while reading was
  // on, the status bar says after how long, and reading and the measure log
  // go on in the same run and file. True when it answers.
  bool LookAgain();
  // The lost controller is being looked for.
  bool Looking() const { return watch_.Looking(); }

  TrendChart* Chart() const { return chart_; }
  frm_etat* Etat() const;

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

 private:
  // Appends the tick's measures to the open log; a failure stops the log.
  void AppendMeasureLog();
  // The four measure boxes' texts in chart series order.
  std::array<std::string, 4> ChartTexts() const;
  // Continuous reading found the link given up: looks for the controller
  // every few seconds.
  void StartLooking();
  void StopLooking();
  // Stops continuous reading after a step of the tick failed, and says
  // which step and why in the status bar.
  void TickFailed(const char* step, const std::string& reason);

  FrameContext& ctx_;
  QTimer* Timer;
  QTimer* lookTimer_;  // looks for a lost controller while reading was on
  ReturnWatch watch_;
  ReturnWatch::Clock::time_point lastAnswered_{};  // the last tick the controller answered whole
  TrendChart* chart_;
  QAction* mnuJournal_;
  QPointer<frm_etat> etat_;
  MeasureLog measureLog_;
  std::int32_t logController_ = 0;  // the controller the open log is of, 0 none yet
  // The files logged to in this run, with the controller each is of.
  std::map<std::filesystem::path, std::int32_t> logFiles_;
  bool measuresShown_ = false;
  std::string notReading_;  // why the last measures are not a reading, "" when they are
  // An output choice the operator made that the ticks must not overwrite
  // (solenoid, relay), and the states the controller last reported.
  std::array<bool, 2> outputChosen_{};
  std::array<int, 2> outputReported_{};
};

}  // namespace hx
