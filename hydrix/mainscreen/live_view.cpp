#include "hydrix/mainscreen/live_view.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>

#include "common/busy_cursor.h"
#include "hydrix/mainscreen/frm_etat.h"
#include "hydrix/mainscreen/output_tempo.h"
#include "hydrix/mainscreen/status_text.h"
#include "hydrix/mainscreen/trend_chart.h"
#include "hydrix/settings/measures_codec.h"
#include "ui_MainScreen.h"

namespace hx {

namespace {

QString Css(const Rgb& c) { return QString("rgb(%1, %2, %3)").arg(c.r).arg(c.g).arg(c.b); }

}  // namespace

LiveView::LiveView(FrameContext& context) : ctx_(context) {
  Ui::MainScreen& ui = ctx_.ui;
  connect(ui.SolenoidValue, &QComboBox::activated, this,
          [this](int i) { outputChosen_[0] = i != outputReported_[0]; });
  connect(ui.RelayValue, &QComboBox::activated, this,
          [this](int i) { outputChosen_[1] = i != outputReported_[1]; });

  Timer = new QTimer(&ctx_.window);
  Timer->setObjectName("Timer");
  Timer->setInterval(1000);
  connect(Timer, &QTimer::timeout, this, &LiveView::Timer_Timer);
  lookTimer_ = new QTimer(&ctx_.window);
  lookTimer_->setObjectName("LookAgainTimer");
  lookTimer_->setInterval(static_cast<int>(ReturnWatch::kInterval.count()));
  // No look while a box of the window is open, as for the tick.
  connect(lookTimer_, &QTimer::timeout, this, [this] {
    if (!ctx_.modal.Open()) LookAgain();
  });

  chart_ = new TrendChart(ui.TChart1);
  chart_->setObjectName("TChart1View");
  ui.layoutChart->addWidget(chart_);
  connect(ui.Command1, &QPushButton::clicked, this, &LiveView::Command1_Click);
  connect(ui.ActivateSolenoid, &QPushButton::clicked, this, &LiveView::ActivateSolenoid_Click);
  connect(ui.ActivateRelay, &QPushButton::clicked, this, &LiveView::ActivateRelay_Click);
  connect(ui.SetEndOFChargeTempo, &QPushButton::clicked, this, &LiveView::SetEndOFChargeTempo_Click);
  connect(ui.State, &QPushButton::clicked, this, &LiveView::State_Click);
  connect(ui.LectureContinu, &QCheckBox::toggled, this, &LiveView::LectureContinu_Click);
  mnuJournal_ = ui.nmuparametres->addAction("Measure Log");
  mnuJournal_->setObjectName("mnuJournal");
  mnuJournal_->setCheckable(true);
  connect(mnuJournal_, &QAction::triggered, this, &LiveView::mnuJournal_Click);
  QAction* exportChart = ui.nmuparametres->addAction("Export Chart Data…");
  exportChart->setObjectName("mnuExportChart");
  connect(exportChart, &QAction::triggered, this, &LiveView::mnuExportChart_Click);
  connect(chart_, &TrendChart::exportDataRequested, this, &LiveView::mnuExportChart_Click);
  QAction* saveChartImage = ui.nmuparametres->addAction("Save Chart Image…");
  saveChartImage->setObjectName("mnuSaveChartImage");
  connect(saveChartImage, &QAction::triggered, this, &LiveView::mnuSaveChartImage_Click);
  connect(chart_, &TrendChart::saveImageRequested, this, &LiveView::mnuSaveChartImage_Click);
}

void LiveView::BuildChart() {
  // The chart takes its series titles from the captions as they stand, the
  // English ones, before the language pass.
  chart_->Build({ctx_.Control<QLabel>("Label1", 1)->text(), ctx_.Control<QLabel>("Label1", 0)->text(),
                 ctx_.Control<QLabel>("Label1", 2)->text(), ctx_.Control<QLabel>("Label1", 3)->text()});
}

frm_etat* LiveView::Etat() const { return etat_.data(); }

bool LiveView::Running() const { return Timer->isActive(); }

std::string LiveView::LogFile() const {
  return measureLog_.IsOpen() ? measureLog_.path().string() : std::string();
}

void LiveView::Stop() {
  Timer->stop();
  StopLooking();
  if (etat_) etat_->close();
}

void LiveView::MeasuresRead() {
  HydrixDevice& device = ctx_.device;
  // The zeros of a link given up are told by the link itself.
  notReading_ = device.Chosen() && !device.TimeOut() ? NotAReading(device) : std::string();
  ctx_.notReading = !notReading_.empty();
}

bool LiveView::EnsureReading() {
  HydrixDevice& device = ctx_.device;
  if (measuresShown_ && ShowsMeasures() && device.MeasuresWhole()) return true;
  device.LitMesuresEtDate();
  MeasuresRead();
  LitMesures();
  ShowClock();
  ctx_.updateStatus();
  return ShowsMeasures() && device.MeasuresWhole();
}

void LiveView::ShowClock() {
  ctx_.ui.txtCurrentTime->setText(ShowsMeasures() ? Q(ctx_.device.txtCurrentTime()) : "--");
}

bool LiveView::PauseReading() {
  const bool was = ctx_.ui.LectureContinu->isChecked();
  ctx_.ui.LectureContinu->setChecked(false);
  return was;
}

void LiveView::ResumeReading(bool wasReading) {
  if (wasReading && Reading()) {
    // Ticked again without its click handler: no full read, no new run.
    const QSignalBlocker quiet(ctx_.ui.LectureContinu);
    ctx_.ui.LectureContinu->setChecked(true);
    Timer->start();
  }
  ctx_.updateStatus();
}

void LiveView::StartLooking() {
  // The time it is missing counts from its last whole answer.
  const auto now = ReturnWatch::Clock::now();
  watch_.Lost(ctx_.device.UsbID(), ctx_.controllerSerial,
              lastAnswered_ == ReturnWatch::Clock::time_point{} ? now : lastAnswered_);
  lookTimer_->start();
}

void LiveView::StopLooking() {
  watch_.Forget();
  lookTimer_->stop();
}

bool LiveView::LookAgain() {
  HydrixDevice& device = ctx_.device;
  if (!device.Chosen() || !device.TimeOut()) {
    StopLooking();
    return false;
  }
  const bool wasReading = watch_.Looking();
  if (!wasReading) watch_.Lost(device.UsbID(), ctx_.controllerSerial, ReturnWatch::Clock::now());
  std::optional<std::int32_t> found;
  {
    BusyCursor busy;
    found = watch_.Look(device.usb(), device.link(), device.state());
  }
  if (!found) {
    if (!wasReading) watch_.Forget();
    return false;
  }
  const long long seconds = watch_.SecondsSince(ReturnWatch::Clock::now());
  StopLooking();
  const std::int32_t before = device.UsbID();
  if (*found != before) {
    // Plugged into another port: the same controller under another
    // identifier, whose log goes on in the same file.
    for (auto& [file, owner] : logFiles_) {
      if (owner == before) owner = *found;
    }
    if (logController_ == before) logController_ = *found;
    const std::string oldId = " \u00B7 id " + std::to_string(before);
    if (const auto at = ctx_.controllerText.rfind(oldId); at != std::string::npos)
      ctx_.controllerText.replace(at, oldId.size(), " \u00B7 id " + std::to_string(*found));
  }
  device.Choose(*found);
  if (wasReading) {
    // The gap shows in the chart; the log's rows carry their times.
    chart_->MissTick();
    ResumeReading(true);
    ctx_.window.statusBar()->showMessage(
        Q(AnswersAgainText(*found, seconds, [this](const char* code, const char* english) {
          return S(ctx_.text(code, english));
        })));
  }
  ctx_.updateStatus();
  return true;
}

void LiveView::LectureContinu_Click() {
  if (ctx_.ui.LectureContinu->isChecked()) {
    // Ticked by the operator: a new run, with a full read first.
    StopLooking();
    LookAgain();
    if (!ctx_.mayCommand(true)) return ctx_.ui.LectureContinu->setChecked(false);
    ctx_.readAll();
    Timer->start();
    chart_->StartRun();
  } else {
    Timer->stop();
  }
  ctx_.updateStatus();
}

void LiveView::TickFailed(const char* step, const std::string& reason) {
  ctx_.ui.LectureContinu->setChecked(false);
  Timer->stop();
  ctx_.updateStatus();
  // The step's English words are its code, as a message's are.
  const auto text = [this](const char* code, const char* english) { return S(ctx_.text(code, english)); };
  ctx_.window.statusBar()->showMessage(Q(TickFailureText(text(step, step), reason, text)));
}

void LiveView::Timer_Timer() {
  // No tick while a box or dialog of the window is open (the timer fires
  // inside its event loop); the next tick after it closes reads as usual.
  if (ctx_.modal.Open()) return;
  // A step that throws stops continuous reading; the status bar names the
  // step and the reason, and the tick goes no further.
  auto step = [this](const char* what, auto&& f) {
    try {
      f();
      return true;
    } catch (const std::exception& e) {
      TickFailed(what, e.what());
    } catch (...) {
      TickFailed(what, "an unknown error");
    }
    return false;
  };
  HydrixDevice& device = ctx_.device;
  // A link given up stops the reading; this tick still shows the zeros once.
  if (!step("stopping a lost link", [&] {
        if (!device.TimeOut()) return;
        ctx_.ui.LectureContinu->setChecked(false);
        // It is looked for until it answers again or another is chosen.
        StartLooking();
      })) {
    return;
  }
  if (!step("reading the measures", [&] {
        device.LitMesuresEtDate();
        MeasuresRead();
        LitMesures();
        ShowClock();
      })) {
    return;
  }
  // Answers that were not whole, or not a reading (zeros without a date),
  // are no measures: nothing is plotted or logged, and the status bar says so.
  ctx_.partAnswers = !device.TimeOut() && !device.MeasuresWhole();
  if (device.MeasuresWhole() && notReading_.empty()) {
    lastAnswered_ = ReturnWatch::Clock::now();
    if (!step("plotting the measures", [&] { chart_->Trace(ChartTexts()); })) return;
    if (!step("logging the measures", [&] { AppendMeasureLog(); })) return;
  } else {
    chart_->MissTick();
  }
  ctx_.updateStatus();
}

void LiveView::LitMesures() {
  Ui::MainScreen& ui = ctx_.ui;
  const bool reading = ShowsMeasures();
  const MeasureView v = reading ? DecodeMesures(ctx_.device.ImageMesures()) : NoReading();
  auto label = [](QLabel* l, const std::string& text) {
    if (!text.empty()) l->setText(Q(text));
  };
  label(ui.LabelPower, v.labelPower);
  ui.Power->setText(Q(v.power));
  if (v.powerColour) {
    ui.Power->setStyleSheet("background-color: black; color: " + Css(*v.powerColour) + "; font-size: 24pt;");
  }
  for (int i = 0; i < 4; ++i)
    ctx_.Control<QLineEdit>("Text1", i)->setText(Q(v.text1[static_cast<std::size_t>(i)]));
  // An output the operator chose stays chosen until Activate sends it.
  const std::pair<QComboBox*, int> outputs[] = {{ui.SolenoidValue, v.solenoidIndex},
                                                {ui.RelayValue, v.relayIndex}};
  for (std::size_t k = 0; k < 2; ++k) {
    if (outputs[k].second < 0) continue;
    outputReported_[k] = outputs[k].second;
    if (!outputChosen_[k]) outputs[k].first->setCurrentIndex(outputs[k].second);
  }
  label(ctx_.Control<QLabel>("Label1", 7), v.label7);
  ui.LowCharge->setStyleSheet("background-color: " + Css(v.lowCharge) + ";");
  label(ctx_.Control<QLabel>("Label1", 5), v.label5);
  ui.BatterieDefault->setStyleSheet("background-color: " + Css(v.batterieDefault) + ";");
  label(ctx_.Control<QLabel>("Label1", 8), v.label8);
  measuresShown_ = measuresShown_ || reading;
}

std::array<std::string, 4> LiveView::ChartTexts() const {
  return {S(ctx_.Control<QLineEdit>("Text1", 1)->text()), S(ctx_.Control<QLineEdit>("Text1", 0)->text()),
          S(ctx_.Control<QLineEdit>("Text1", 2)->text()), S(ctx_.Control<QLineEdit>("Text1", 3)->text())};
}

void LiveView::Command1_Click() { chart_->Clear(); }

void LiveView::ActivateSolenoid_Click() {
  if (!ctx_.mayCommand(true)) return;
  outputChosen_[0] = false;
  ctx_.device.CommandeSortie(0, static_cast<std::int16_t>(ctx_.ui.SolenoidValue->currentIndex()));
  ctx_.updateStatus();
}

void LiveView::ActivateRelay_Click() {
  if (!ctx_.mayCommand(true)) return;
  outputChosen_[1] = false;
  ctx_.device.CommandeSortie(1, static_cast<std::int16_t>(ctx_.ui.RelayValue->currentIndex()));
  ctx_.updateStatus();
}

void LiveView::SetEndOFChargeTempo_Click() {
  if (!ctx_.mayCommand(true)) return;
  const bool reading = PauseReading();
  {
    BusyCursor busy;
    SetTempo(ctx_.device, S(ctx_.ui.EndOfChargeTempo->text()));
  }
  ResumeReading(reading);
}

void LiveView::mnuJournal_Click(bool checked) {
  measureLog_.Close();
  ctx_.updateStatus();
  if (!checked) return;
  const auto file = ctx_.dialogs.SaveFile(
      {"Measure Log", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*", "", "measures.csv"});
  const std::int32_t id = ctx_.device.Chosen() ? ctx_.device.UsbID() : 0;
  std::string why;
  if (file) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::weakly_canonical(*file, ec);
    const auto owner = logFiles_.find(path);
    if (owner != logFiles_.end() && owner->second != 0 && owner->second != id) {
      why = *file + " holds the measures of controller " + std::to_string(owner->second) +
            ": choose a new file for the measures of controller " + std::to_string(id) + ".";
    } else {
      why = measureLog_.Open(*file);
      if (why.empty()) logFiles_[path] = logController_ = id;
    }
  }
  if (!why.empty()) ctx_.Say(why);
  mnuJournal_->setChecked(measureLog_.IsOpen());
  ctx_.updateStatus();
}

std::string LiveView::ControllerChosen() {
  StopLooking();
  if (!measureLog_.IsOpen() || !ctx_.device.Chosen()) return {};
  const std::int32_t id = ctx_.device.UsbID();
  if (logController_ == 0) {
    // Opened before any choice: it is the log of the first one chosen.
    std::error_code ec;
    logFiles_[std::filesystem::weakly_canonical(measureLog_.path(), ec)] = logController_ = id;
    return {};
  }
  if (id == logController_) return {};
  const std::string file = measureLog_.path().string();
  measureLog_.Close();
  mnuJournal_->setChecked(false);
  ctx_.updateStatus();
  return file;
}

void LiveView::mnuExportChart_Click() {
  const auto file = ctx_.dialogs.SaveFile(
      {"Export Chart Data", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*", "", "chart.csv"});
  if (!file || file->empty()) return;
  BusyCursor busy;
  if (const std::string why = chart_->SaveCsv(*file); !why.empty()) ctx_.Say(why);
}

void LiveView::mnuSaveChartImage_Click() {
  const auto file = ctx_.dialogs.SaveFile(
      {"Save Chart Image", "PNG Images (*.png)|*.png|All Files (*.*)|*.*", "", "chart.png"});
  if (!file || file->empty()) return;
  BusyCursor busy;
  if (const std::string why = chart_->SaveImage(*file); !why.empty()) ctx_.Say(why);
}

void LiveView::AppendMeasureLog() {
  // Only readings the controller answered: zeros of a lost link are no
  // measures.
  if (!measureLog_.IsOpen() || ctx_.device.TimeOut()) return;
  const std::string why = measureLog_.Append(std::chrono::system_clock::now(), ctx_.device.ImageMesures());
  if (why.empty()) return;
  // The log closed itself: the menu and the status bar say so.
  mnuJournal_->setChecked(false);
  ctx_.updateStatus();
  ctx_.Say(why);
}

void LiveView::State_Click() {
  QMainWindow& window = ctx_.window;
  if (!etat_) {
    etat_ = new frm_etat([this] { return ctx_.device.ImageMesures(); }, &window);
    // Beside the main window, not over its buttons: right of it when the
    // screen has room, else left of it, else over the top of the chart.
    const QRect frame = window.frameGeometry();
    const QRect screen = window.screen() ? window.screen()->availableGeometry() : frame;
    const QSize size = etat_->sizeHint();
    QPoint at(frame.right() + 8, frame.top());
    if (at.x() + size.width() > screen.right()) {
      at.setX(frame.left() - size.width() - 8);
      if (at.x() < screen.left()) at = QPoint(frame.right() - size.width() - 16, frame.top() + 60);
    }
    etat_->move(at);
  }
  etat_->show();
  etat_->raise();
  etat_->activateWindow();
}

}  // namespace hx
