#include "MainScreen.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

#include "common/busy_cursor.h"
#include "common/numbers.h"
#include "common/paths.h"
#include "hydrix/calibration/frmProduction.h"
#include "hydrix/calibration/maintenance.h"
#include "hydrix/config/about.h"
#include "hydrix/config/captions.h"
#include "hydrix/config/frmAbout.h"
#include "hydrix/mainscreen/TrendChart.h"
#include "hydrix/mainscreen/frm_etat.h"
#include "hydrix/mainscreen/output_tempo.h"
#include "hydrix/mainscreen/qt_process_starter.h"
#include "hydrix/selection/frmConnect.h"
#include "hydrix/settings/measures_codec.h"
#include "hydrix/settings/settings_profile.h"
#include "platform/hxusb_config/usb_config.h"
#include "ui_MainScreen.h"

using hx::BusyCursor;

namespace {

const std::string kEnglish = "English";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Labels that show the controller's data rather than a caption: a language
// change must not put a catalogue text over a value read from the controller.
const QStringList kValueLabels = {"NumeroSerie", "DateProgrammation", "Version", "txtCurrentTime", "Message"};

// The caption of a control, for the kinds that have one.
bool Caption(QObject* o, QString& text) {
  if (auto* g = qobject_cast<QGroupBox*>(o)) return text = g->title(), true;
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return text = b->text(), true;
  if (auto* l = qobject_cast<QLabel*>(o)) return text = l->text(), true;
  if (auto* m = qobject_cast<QMenu*>(o)) return text = m->title(), true;
  if (auto* a = qobject_cast<QAction*>(o)) return text = a->text(), true;
  return false;
}

QString Css(const hx::Rgb& c) { return QString("rgb(%1, %2, %3)").arg(c.r).arg(c.g).arg(c.b); }

void SetCaption(QObject* o, const QString& text) {
  if (auto* g = qobject_cast<QGroupBox*>(o)) return g->setTitle(text);
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->setText(text);
  if (auto* l = qobject_cast<QLabel*>(o)) return l->setText(text);
  if (auto* m = qobject_cast<QMenu*>(o)) return m->setTitle(text);
  if (auto* a = qobject_cast<QAction*>(o)) return a->setText(text);
}

}  // namespace

MainScreen::MainScreen(Services services, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::MainScreen>()),
      services_(services),
      remembered_(services.rememberedState),
      remembering_(services.dialogs, remembered_),
      dialogs_(remembering_),
      device_(services.usb, services.config, dialogs_, services.sleeper, services.now),
      selection_(services.usb, device_.link(), device_.state(), dialogs_),
      parameters_(device_, [now = services.now] { return hx::DateVersSecondes(now()); }) {
  ui->setupUi(this);
  parameters_.SetNames([this](const std::string& key) { return CaptionOf(key); });
  if (services_.starter) {
    starter_ = services_.starter;
  } else {
    ownStarter_ = std::make_unique<hx::QtProcessStarter>();
    starter_ = ownStarter_.get();
  }
  // Elements of a control array are named "Array_N" in the form; they answer
  // to the array's name, told apart by their index property.
  static const QRegularExpression element("^(.+)_(\\d+)$");
  for (QWidget* w : findChildren<QWidget*>()) {
    const auto m = element.match(w->objectName());
    if (m.hasMatch() && w->property("index").isValid()) w->setObjectName(m.captured(1));
  }

  selection_.SetPreferred(remembered_.LastController());
  // The captions as designed, before any language pass or reading changes
  // a label: what the catalogue's new entries are given.
  for (QObject* o : findChildren<QObject*>()) {
    QString caption;
    if (Caption(o, caption)) designCaptions_.insert(o, caption);
  }
  // Controls that would cut their values at the window's minimum width.
  for (int i = 0; i < 2; ++i) {
    QLineEdit* box = Control<QLineEdit>("ValeurHorloge", i);
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance("-16.00000") + 12);
  }
  ui->ComboChargeTempo->view()->setMinimumWidth(
      ui->ComboChargeTempo->fontMetrics().horizontalAdvance("7 to 25 Ah        : 3 Hrs") + 40);
  connect(ui->SolenoidValue, &QComboBox::activated, this,
          [this](int i) { outputChosen_[0] = i != outputReported_[0]; });
  connect(ui->RelayValue, &QComboBox::activated, this,
          [this](int i) { outputChosen_[1] = i != outputReported_[1]; });

  // Keyboard: reading on single keys, writing only with a modifier, the
  // menu bar on F10 (and Alt, see eventFilter); captions stay the
  // catalogue's texts.
  auto shortcut = [this](QKeySequence key, auto slot) {
    auto* s = new QShortcut(key, this);
    connect(s, &QShortcut::activated, this, slot);
    return s;
  };
  shortcut(QKeySequence(Qt::Key_F5), [this] { Lire_Click(); });
  shortcut(QKeySequence(Qt::Key_F6), [this] { ui->LectureContinu->toggle(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W), [this] { Ecrire_Click(); });
  shortcut(QKeySequence(Qt::Key_F10), [this] {
    if (!ui->menubar->actions().isEmpty()) ui->menubar->setActiveAction(ui->menubar->actions().first());
  });
  auto* help = new QAction("Help", this);
  help->setObjectName("mnuHelp");
  help->setShortcut(QKeySequence(Qt::Key_F1));
  ui->MnuAide->insertAction(ui->mnuApropos, help);
  connect(help, &QAction::triggered, this, &MainScreen::mnuHelp_Click);
  qApp->installEventFilter(this);
  if (const QByteArray geometry = remembered_.Geometry(); !geometry.isEmpty()) restoreGeometry(geometry);

  Timer = new QTimer(this);
  Timer->setObjectName("Timer");
  Timer->setInterval(1000);
  connect(Timer, &QTimer::timeout, this, &MainScreen::Timer_Timer);

  statusLabel_ = new QLabel(this);
  ui->statusbar->addPermanentWidget(statusLabel_, 1);

  chart_ = new TrendChart(ui->TChart1);
  chart_->setObjectName("TChart1View");
  ui->layoutChart->addWidget(chart_);
  connect(ui->Command1, &QPushButton::clicked, this, &MainScreen::Command1_Click);
  connect(ui->ActivateSolenoid, &QPushButton::clicked, this, &MainScreen::ActivateSolenoid_Click);
  connect(ui->ActivateRelay, &QPushButton::clicked, this, &MainScreen::ActivateRelay_Click);
  connect(ui->SetEndOFChargeTempo, &QPushButton::clicked, this, &MainScreen::SetEndOFChargeTempo_Click);
  connect(ui->State, &QPushButton::clicked, this, &MainScreen::State_Click);
  mnuJournal_ = ui->nmuparametres->addAction("Measure Log");
  mnuJournal_->setObjectName("mnuJournal");
  mnuJournal_->setCheckable(true);
  connect(mnuJournal_, &QAction::triggered, this, &MainScreen::mnuJournal_Click);
  QAction* exportChart = ui->nmuparametres->addAction("Export Chart Data…");
  exportChart->setObjectName("mnuExportChart");
  connect(exportChart, &QAction::triggered, this, &MainScreen::mnuExportChart_Click);
  connect(chart_, &TrendChart::exportDataRequested, this, &MainScreen::mnuExportChart_Click);
  QAction* saveChartImage = ui->nmuparametres->addAction("Save Chart Image…");
  saveChartImage->setObjectName("mnuSaveChartImage");
  connect(saveChartImage, &QAction::triggered, this, &MainScreen::mnuSaveChartImage_Click);
  connect(chart_, &TrendChart::saveImageRequested, this, &MainScreen::mnuSaveChartImage_Click);
  logLabel_ = new QLabel(this);
  ui->statusbar->addPermanentWidget(logLabel_);

  connect(ui->Lire, &QPushButton::clicked, this, &MainScreen::Lire_Click);
  connect(ui->Ecrire, &QPushButton::clicked, this, &MainScreen::Ecrire_Click);
  connect(ui->Raz, &QPushButton::clicked, this, &MainScreen::Raz_Click);
  connect(ui->SetTime, &QPushButton::clicked, this, &MainScreen::SetTime_Click);
  connect(ui->Sortir, &QPushButton::clicked, this, &MainScreen::Sortir_Click);
  connect(ui->MnuConnect, &QAction::triggered, this, &MainScreen::MnuConnect_Click);
  connect(ui->LectureContinu, &QCheckBox::toggled, this, &MainScreen::LectureContinu_Click);
  connect(ui->Command_tension, &QPushButton::clicked, this, &MainScreen::Command_tension_Click);
  connect(ui->CommandCalibrationCLK, &QPushButton::clicked, this, &MainScreen::CommandCalibrationCLK_Click);
  connect(ui->CheckClockSpeed, &QCheckBox::clicked, this, &MainScreen::CheckClockSpeed_Click);
  connect(ui->Programmer, &QPushButton::clicked, this, &MainScreen::Programmer_Click);
  connect(ui->Rapport, &QPushButton::clicked, this, &MainScreen::Rapport_Click);
  connect(ui->nmuBootLoad, &QAction::triggered, this, &MainScreen::nmuBootLoad_Click);
  connect(ui->mnuApropos, &QAction::triggered, this, &MainScreen::mnuApropos_Click);
  connect(ui->mnuSaveSettings, &QAction::triggered, this, &MainScreen::mnuSaveSettings_Click);
  connect(ui->mnuLoadSettings, &QAction::triggered, this, &MainScreen::mnuLoadSettings_Click);
  connect(ui->mnuCompareSettings, &QAction::triggered, this, &MainScreen::mnuCompareSettings_Click);
  connect(ui->ListeLangues, &QComboBox::currentIndexChanged, this, [this] {
    if (!fillingLanguages_) ListeLangues_Change();
  });
  // The edit hooks: every box of the parameter map that has bounds is
  // checked on each change, including the changes a read makes.
  for (const auto& f : hx::ParameterMap()) {
    if (!f.check || f.control_kind != hx::ControlKind::TextBox) continue;
    QLineEdit* box = Control<QLineEdit>(f.control, f.index);
    const hx::Bounds b = *f.check;
    connect(box, &QLineEdit::textChanged, this, [this, box, b] { ControleValeur(box, b.min, b.max); });
  }
  UpdateStatus();
}

MainScreen::~MainScreen() = default;

void MainScreen::Form_Load() {
  // The chart takes its series titles from the captions as they stand, the
  // English ones, before the language pass.
  chart_->Build({Control<QLabel>("Label1", 1)->text(), Control<QLabel>("Label1", 0)->text(),
                 Control<QLabel>("Label1", 2)->text(), Control<QLabel>("Label1", 3)->text()});
  ui->SolenoidValue->setCurrentIndex(0);
  ui->RelayValue->setCurrentIndex(0);
  ui->Heure1->setCurrentIndex(0);
  ui->Heure2->setCurrentIndex(0);
  ui->Madate->setDateTime(QDateTime::currentDateTime());
  ui->FrameMaintenance->setVisible(
      hx::ConfigurationBoolean(services_.config.LitConfiguration("Maintenance")));
  if (auto problem = services_.config.TakeProblem()) {
    dialogs_.Message({*problem, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  }
  const bool read = Connect();
  if (read) LitTout();
  TraduitEcran(Q(kEnglish), true);
  // Without a controller the list shows the largest capacity; after a read
  // it keeps what the controller holds, so that a later write does not
  // change the battery setting behind the operator's back.
  if (!read) ui->ComboChargeTempo->setCurrentIndex(2);
  if (!read) LitMesures();
}

bool MainScreen::Connect() {
  frmConnect dialog(selection_, this);
  dialog.exec();
  const auto& list = dialog.List();
  controllerText_.clear();
  partAnswers_ = false;
  implausible_ = false;
  for (std::size_t i = 0; i < list.ids.size(); ++i) {
    if (device_.Chosen() && list.ids[i] == device_.UsbID())
      controllerText_ = list.texts[i] + (i < list.details.size() ? list.details[i] : std::string());
  }
  if (device_.Chosen()) remembered_.SetLastController(device_.UsbID());
  UpdateStatus();
  return device_.Chosen() && !device_.TimeOut();
}

bool MainScreen::MayCommand(bool needsAnswer) {
  std::string refusal = device_.CommandRefusal(needsAnswer);
  if (refusal.empty()) return true;
  refusal += " Nothing was sent.";
  UpdateStatus();
  statusBar()->showMessage(Q(refusal), 15000);
  dialogs_.Message({refusal, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  return false;
}

std::string MainScreen::CaptionOf(const std::string& key) const {
  const hx::SettingLabel* label = hx::SettingCaption(key);
  QLabel* shown = label ? Control<QLabel>(label->control, label->index) : nullptr;
  if (!shown) return key;
  // "Battery Capacity (Ah) : Tempo (Hr) " reads as a name without its blanks.
  return S(shown->text().trimmed());
}

void MainScreen::MnuConnect_Click() {
  if (Connect()) Lire_Click();
}

void MainScreen::Lire_Click() {
  if (MayCommand()) LitTout();
}

void MainScreen::LitTout() {
  BusyCursor busy;
  ShowParameters(parameters_.LitParametres());
  const bool whole = device_.ImageComplete();
  device_.LitMesuresEtDate();
  partAnswers_ = !device_.TimeOut() && !(whole && device_.MeasuresWhole());
  implausible_ = whole && !device_.ImageImplausible().empty();
  LitMesures();
  ShowClock();
  ShowCorrection();
  setWindowTitle(Q(device_.LitVersion()));
  UpdateStatus();
}

void MainScreen::ShowSetting(const hx::ParameterField& f, const QString& text) {
  using hx::ControlKind;
  switch (f.control_kind) {
    case ControlKind::TextBox:
      Control<QLineEdit>(f.control, f.index)->setText(text);
      break;
    case ControlKind::Label:
      Control<QLabel>(f.control, f.index)->setText(text);
      break;
    case ControlKind::HourList: {
      auto* list = Control<QComboBox>(f.control, f.index);
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
      const auto index = hx::ParseNumber(hx::ScreenValue(f, S(text)));
      Control<QComboBox>(f.control, f.index)->setCurrentIndex(index ? static_cast<int>(*index) : 0);
      break;
    }
  }
}

bool MainScreen::UnwrittenEdits() const {
  if (shownParameters_.empty()) return false;
  const hx::ParameterTexts screen = ScreenParameters();
  for (const auto& f : hx::ParameterMap()) {
    if (!f.written) continue;
    const auto shown = shownParameters_.find(f.key);
    const auto now = screen.find(f.key);
    if (shown == shownParameters_.end() || now == screen.end()) continue;
    if (hx::ScreenValue(f, shown->second) != hx::ScreenValue(f, now->second)) return true;
  }
  return false;
}

void MainScreen::ShowParameters(const hx::ParameterTexts& texts) {
  for (const auto& f : hx::ParameterMap()) ShowSetting(f, Q(texts.at(f.key)));
  ui->ValeurNumeroSerie->setText(Q(texts.at("serial_number")));
  shownParameters_ = ScreenParameters();
}

hx::ParameterTexts MainScreen::ScreenParameters() const {
  using hx::ControlKind;
  hx::ParameterTexts texts;
  for (const auto& f : hx::ParameterMap()) {
    if (!f.written) continue;
    switch (f.control_kind) {
      case ControlKind::TextBox:
        texts[f.key] = S(Control<QLineEdit>(f.control, f.index)->text());
        break;
      case ControlKind::Label:
        texts[f.key] = S(Control<QLabel>(f.control, f.index)->text());
        break;
      case ControlKind::HourList:
        texts[f.key] = S(Control<QComboBox>(f.control, f.index)->currentText());
        break;
      case ControlKind::CapacityList: {
        const int i = Control<QComboBox>(f.control, f.index)->currentIndex();
        texts[f.key] = i < 0 ? std::string() : std::to_string(i);
        break;
      }
    }
  }
  return texts;
}

void MainScreen::ShowClock() { ui->txtCurrentTime->setText(Reading() ? Q(device_.txtCurrentTime()) : "--"); }

bool MainScreen::PauseReading() {
  const bool was = ui->LectureContinu->isChecked();
  ui->LectureContinu->setChecked(false);
  return was;
}

void MainScreen::ResumeReading(bool wasReading) {
  if (wasReading && Reading()) {
    // Ticked again without its click handler: no full read, no new run.
    const QSignalBlocker quiet(ui->LectureContinu);
    ui->LectureContinu->setChecked(true);
    Timer->start();
  }
  UpdateStatus();
}

void MainScreen::Ecrire_Click() {
  if (!MayCommand()) return;
  const bool reading = PauseReading();
  const hx::ParameterTexts screen = ScreenParameters();
  bool written = false;
  if (parameters_.ConfirmOutOfBounds(screen)) {
    BusyCursor busy;
    written = parameters_.Ecrire(screen);
  }
  if (written) {
    // The boxes show what the controller now holds: the date of this write,
    // and values as stored (a solenoid pulse of 350 ms is stored as 349).
    std::array<std::int32_t, 256> image{};
    std::copy(device_.ImageEcriture().begin(), device_.ImageEcriture().end(), image.begin());
    ShowParameters(hx::DecodeParametres(image));
  }
  ResumeReading(reading);
}

void MainScreen::Raz_Click() {
  if (!MayCommand()) return;
  const std::string question = "Restore the factory values of controller " + std::to_string(device_.UsbID()) +
                               "? Every setting it holds is replaced by its factory value.";
  if (dialogs_.Message({question, hx::HydrixDevice::kTitle, hx::MsgButtons::YesNo, hx::MsgIcon::Question,
                        true}) != hx::MsgAnswer::Yes) {
    return;
  }
  PauseReading();
  {
    BusyCursor busy;
    if (const std::string why = parameters_.Raz(); !why.empty()) return ShowFailure(why);
    // The screen shows what the controller now holds, so that the next
    // Write Parameters cannot undo the reset with the old values.
    LitTout();
  }
  statusBar()->showMessage(Text("StatusFactoryRestored",
                                "Factory values restored: the screen shows what the controller now holds."),
                           15000);
}

void MainScreen::SetTime_Click() {
  if (!MayCommand()) return;
  const bool reading = PauseReading();
  const hx::DateHeure t = device_.MiseAHeure();
  ui->Madate->setDateTime(QDateTime(QDate(t.annee, t.mois, t.jour), QTime(t.heure, t.minute, t.seconde)));
  if (!device_.TimeOut()) {
    // The controller's date on screen is the one just set.
    const std::uint8_t clock[7] = {0,
                                   static_cast<std::uint8_t>(t.jour),
                                   static_cast<std::uint8_t>(t.mois),
                                   static_cast<std::uint8_t>(t.annee % 100),
                                   static_cast<std::uint8_t>(t.heure),
                                   static_cast<std::uint8_t>(t.minute),
                                   static_cast<std::uint8_t>(t.seconde)};
    ui->txtCurrentTime->setText(Q(hx::ClockText(clock)));
  }
  ResumeReading(reading);
}

void MainScreen::LectureContinu_Click() {
  if (ui->LectureContinu->isChecked()) {
    if (!MayCommand()) return ui->LectureContinu->setChecked(false);
    LitTout();
    Timer->start();
    chart_->StartRun();
  } else {
    Timer->stop();
  }
  UpdateStatus();
}

void MainScreen::Timer_Timer() {
  // A step that fails is abandoned and the tick goes on with the next one.
  auto step = [](auto&& f) {
    try {
      f();
    } catch (const std::exception&) {
    }
  };
  // A link given up stops the reading; this tick still shows the zeros once.
  step([this] {
    if (device_.TimeOut()) ui->LectureContinu->setChecked(false);
  });
  step([this] {
    device_.LitMesuresEtDate();
    LitMesures();
    ShowClock();
  });
  // Answers that were not whole are no measures: nothing is plotted or
  // logged, and the status bar says so.
  partAnswers_ = !device_.TimeOut() && !device_.MeasuresWhole();
  if (device_.MeasuresWhole()) {
    step([this] { chart_->Trace(ChartTexts()); });
    step([this] { AppendMeasureLog(); });
  } else {
    chart_->MissTick();
  }
  UpdateStatus();
}

void MainScreen::LitMesures() {
  const bool reading = Reading();
  const hx::MeasureView v = reading ? hx::DecodeMesures(device_.ImageMesures()) : hx::NoReading();
  auto label = [](QLabel* l, const std::string& text) {
    if (!text.empty()) l->setText(Q(text));
  };
  label(ui->LabelPower, v.labelPower);
  ui->Power->setText(Q(v.power));
  if (v.powerColour) {
    ui->Power->setStyleSheet("background-color: black; color: " + Css(*v.powerColour) + "; font-size: 24pt;");
  }
  for (int i = 0; i < 4; ++i)
    Control<QLineEdit>("Text1", i)->setText(Q(v.text1[static_cast<std::size_t>(i)]));
  // An output the operator chose stays chosen until Activate sends it.
  const std::pair<QComboBox*, int> outputs[] = {{ui->SolenoidValue, v.solenoidIndex},
                                                {ui->RelayValue, v.relayIndex}};
  for (std::size_t k = 0; k < 2; ++k) {
    if (outputs[k].second < 0) continue;
    outputReported_[k] = outputs[k].second;
    if (!outputChosen_[k]) outputs[k].first->setCurrentIndex(outputs[k].second);
  }
  label(Control<QLabel>("Label1", 7), v.label7);
  ui->LowCharge->setStyleSheet("background-color: " + Css(v.lowCharge) + ";");
  label(Control<QLabel>("Label1", 5), v.label5);
  ui->BatterieDefault->setStyleSheet("background-color: " + Css(v.batterieDefault) + ";");
  label(Control<QLabel>("Label1", 8), v.label8);
  measuresShown_ = measuresShown_ || reading;
}

std::array<std::string, 4> MainScreen::ChartTexts() const {
  return {S(Control<QLineEdit>("Text1", 1)->text()), S(Control<QLineEdit>("Text1", 0)->text()),
          S(Control<QLineEdit>("Text1", 2)->text()), S(Control<QLineEdit>("Text1", 3)->text())};
}

void MainScreen::Command1_Click() { chart_->Clear(); }

void MainScreen::ActivateSolenoid_Click() {
  if (!MayCommand()) return;
  outputChosen_[0] = false;
  device_.CommandeSortie(0, static_cast<std::int16_t>(ui->SolenoidValue->currentIndex()));
  UpdateStatus();
}

void MainScreen::ActivateRelay_Click() {
  if (!MayCommand()) return;
  outputChosen_[1] = false;
  device_.CommandeSortie(1, static_cast<std::int16_t>(ui->RelayValue->currentIndex()));
  UpdateStatus();
}

void MainScreen::SetEndOFChargeTempo_Click() {
  if (!MayCommand()) return;
  const bool reading = PauseReading();
  {
    BusyCursor busy;
    hx::SetTempo(device_, S(ui->EndOfChargeTempo->text()));
  }
  ResumeReading(reading);
}

bool MainScreen::ControleValeur(QLineEdit* Valeur, double Min, double Max) {
  const hx::Bounds bounds{Min, Max};
  const hx::CheckResult r = hx::CheckValue(S(Valeur->text()), bounds);
  QString text;
  if (!r.ok()) {
    auto& m = services_.config;
    text = Q(hx::CheckMessage(r, bounds, m.LitMessage(kEnglish, "Value must be numeric", ""),
                              m.LitMessage(kEnglish, "Value Must be between ", ""),
                              m.LitMessage(kEnglish, " and ", "")));
  }
  Valeur->setStyleSheet(r.ok() ? "background-color: rgb(255, 255, 255);"
                               : "background-color: rgb(250, 100, 100);");
  ui->Message->setText(text);
  Valeur->setToolTip(text);
  if (!r.ok() && Valeur->isVisible()) Valeur->setFocus();
  return r.ok();
}

void MainScreen::RemplitListeLangues(const QString& language) {
  const hx::LanguageList list = services_.config.RemplitListeLangues(S(language));
  fillingLanguages_ = true;
  ui->ListeLangues->clear();
  for (const auto& name : list.names) ui->ListeLangues->addItem(Q(name));
  ui->ListeLangues->setCurrentIndex(-1);
  fillingLanguages_ = false;
  // Selecting the item is a language change of its own; with none to
  // select there is no change (and no empty language is recorded).
  if (list.selected >= 0) ui->ListeLangues->setCurrentIndex(list.selected);
}

void MainScreen::TraduitEcran(const QString& language, bool fill) {
  if (fill) RemplitListeLangues(language);
  const std::string lang = S(language);
  auto translate = [&](QObject* o) {
    QString caption;
    if (o->objectName().isEmpty() || o->objectName().startsWith("qt_") ||
        kValueLabels.contains(o->objectName()) || !Caption(o, caption)) {
      return;
    }
    // A missing entry gets the form's caption, never a text a reading put there.
    SetCaption(
        o, Q(services_.config.LitMessage(lang, S(o->objectName()), S(designCaptions_.value(o, caption)))));
  };
  // The order of the visit: the menu bar's menus and items from left to
  // right, each menu followed by its items; then every widget of the window
  // in the order of the form, depth first.
  for (QAction* a : ui->menubar->actions()) {
    if (QMenu* menu = a->menu()) {
      translate(menu);
      for (QAction* item : menu->actions()) translate(item);
    } else {
      translate(a);
    }
  }
  for (QWidget* w : ui->centralwidget->findChildren<QWidget*>()) translate(w);

  const std::string shown = S(ui->ListeLangues->currentText());
  for (const auto& c : hx::FixedCaptions()) {
    QObject* o = c.index >= 0 ? static_cast<QObject*>(Control<QWidget>(c.control, c.index))
                              : static_cast<QObject*>(Control<QWidget>(c.control));
    if (o) SetCaption(o, Q(services_.config.LitMessage(shown, c.key, "")));
  }
  // The power, output and lamp labels show the last measures, not captions.
  if (measuresShown_) LitMesures();
  ApplyAddedTexts();
  ui->Message->clear();
  if (auto problem = services_.config.TakeProblem()) {
    dialogs_.Message({*problem, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  }
}

QString MainScreen::Text(const char* code, const char* english) const {
  // The texts this window added to the design's go through the catalogue by
  // name, in the language on screen, like the design's captions.
  const QString shown = ui->ListeLangues->currentText();
  return Q(services_.config.LitMessage(shown.isEmpty() ? kEnglish : S(shown), code, english));
}

void MainScreen::ApplyAddedTexts() {
  ui->Lire->setStatusTip(
      Text("StatusTipLire", "Reads the settings, measures and clock of the controller (F5)."));
  ui->LectureContinu->setStatusTip(Text("StatusTipLectureContinu", "Reads the measures every second (F6)."));
  ui->Ecrire->setStatusTip(Text(
      "StatusTipEcrire", "Writes the settings on screen to the controller, then resets it (Ctrl+Shift+W)."));
  ui->Raz->setStatusTip(Text("StatusTipRaz", "Restores the controller's factory settings (asks first)."));
  ui->SetTime->setStatusTip(Text("StatusTipSetTime", "Sets the controller's clock from this PC's clock."));
  ui->Madate->setStatusTip(
      Text("StatusTipDate", "The time at which the controller's clock was last set from this PC."));
  // Every setting box says its unit and limits in the status bar.
  for (const auto& f : hx::ParameterMap()) {
    if (f.control_kind != hx::ControlKind::TextBox || !f.check) continue;
    const std::string key = f.key;
    const char* unit = key.ends_with("_V") ? "V" : key.ends_with("_ms") ? "ms" : "s";
    Control<QLineEdit>(f.control, f.index)
        ->setStatusTip(
            Text("StatusTipLimits", "%1 to %2 %3.")
                .arg(Q(hx::ShortestDecimal(f.check->min)), Q(hx::ShortestDecimal(f.check->max)), unit));
  }
  Control<QLineEdit>("Text1", 6)
      ->setStatusTip(Text("StatusTipPulse",
                          "Solenoid pulse in ms, 10 to 1000: the controller stores it in steps of 3.2 ms "
                          "(350 is stored as 349)."));
  Control<QLineEdit>("Text1", 7)->setStatusTip(Text("StatusTipAlarm", "Alarm level in V, up to 32.767 V."));
  UpdateStatus();
}

void MainScreen::ListeLangues_Change() {
  const QString language = ui->ListeLangues->currentText();
  TraduitEcran(language, false);
  services_.config.EcritConfiguration("Langue", S(language));
}

void MainScreen::UpdateStatus() {
  QString text;
  if (device_.UsbID() == 0 || !device_.Chosen()) {
    text = Text("StatusNoController", "No controller chosen: choose one with USB Connect.");
  } else {
    text = Text("StatusController", "Controller %1").arg(device_.UsbID());
    if (!controllerText_.empty()) text += ": " + Q(controllerText_);
    if (device_.TimeOut()) {
      text +=
          " " +
          Text("StatusStopped",
               "stopped answering: check its USB cable and power, then choose it again with USB Connect.");
    } else if (partAnswers_) {
      text += " " + Text("StatusIncomplete", "(not answering: its answers come incomplete)");
    } else if (implausible_) {
      text += " " + Text("StatusZeros", "(not answering properly: its settings read as zeros)");
    } else {
      text += " " + Text("StatusAnswering", "(answering)");
    }
  }
  statusLabel_->setText(text);
  // The log's line tells whether rows are being added.
  if (measureLog_.IsOpen()) {
    const QString file = Q(measureLog_.path().string());
    logLabel_->setText(
        Timer->isActive()
            ? Text("StatusLogging", "Logging measures to %1").arg(file)
            : Text("StatusLogPaused", "Measure log %1 paused: Continuous Reading is off").arg(file));
  } else {
    logLabel_->clear();
  }
}

void MainScreen::ShowFailure(const std::string& why) {
  if (!why.empty()) {
    dialogs_.Message({why, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Critical});
  }
  UpdateStatus();
}

void MainScreen::ShowCorrection() {
  const auto correction = device_.LitValeurCorrection();
  Control<QLineEdit>("ValeurHorloge", 0)->setText(Q(correction[0]));
  Control<QLineEdit>("ValeurHorloge", 1)->setText(Q(correction[1]));
}

void MainScreen::Command_tension_Click() {
  if (!MayCommand()) return;
  // The frame carries millivolts in two bytes: 65.535 V at most.
  if (!ControleValeur(ui->ValeurTension, hx::kReferenceVolts.min, hx::kReferenceVolts.max)) return;
  hx::StepOutcome outcome;
  {
    BusyCursor busy;
    outcome = hx::CalibrateVoltage(device_, hx::ParseNumber(S(ui->ValeurTension->text())).value_or(0));
  }
  if (!outcome.done) return ShowFailure(outcome.why);
  ui->correctionV->setText(Q(hx::VoltageCorrectionText(device_)));
  dialogs_.Message({services_.config.LitMessage(kEnglish, "V Calibrated Set", ""), hx::ProgramTitle(),
                    hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  UpdateStatus();
}

void MainScreen::CommandCalibrationCLK_Click() {
  if (!MayCommand()) return;
  const bool reading = PauseReading();
  hx::StepOutcome outcome;
  {
    BusyCursor busy;
    const std::int32_t N = hx::ClockCorrectionNumber(S(Control<QLineEdit>("ValeurHorloge", 1)->text()));
    outcome = hx::CalibrateClock(device_, N);
    if (device_.ImageComplete()) ShowCorrection();
  }
  if (outcome.done) {
    dialogs_.Message({services_.config.LitMessage(kEnglish, "Parameters Writed", ""),
                      hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Information});
  } else {
    ShowFailure(outcome.why);
  }
  ResumeReading(reading);
}

void MainScreen::CheckClockSpeed_Click() {
  if (!MayCommand()) return;
  hx::SetFastClock(device_, ui->CheckClockSpeed->isChecked());
  UpdateStatus();
}

void MainScreen::Programmer_Click() {
  const hx::SerialCheck check = hx::CheckSerial(S(ui->ValeurNumeroSerie->text()));
  if (!check.value) {
    dialogs_.Message({check.message, hx::ProgramTitle(), hx::MsgButtons::Ok, hx::MsgIcon::None});
    return;
  }
  if (!MayCommand()) return;
  hx::StepOutcome outcome;
  {
    BusyCursor busy;
    outcome = hx::ProgramSerial(device_, *check.value);
  }
  if (!outcome.done) return ShowFailure(outcome.why);
  ui->NumeroSerie->setText(QString::number(*check.value));
  UpdateStatus();
}

hx::ReportInput MainScreen::ReportFromScreen() const {
  auto label = [this](const char* name, int index = -1) { return S(Control<QLabel>(name, index)->text()); };
  auto text = [this](const char* name, int index = -1) { return S(Control<QLineEdit>(name, index)->text()); };
  hx::ReportInput in;
  in.date = hx::FormatDateHeure(hx::FormatDateCourte(), services_.now());
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
  in.forced1 = S(ui->Heure1->currentText());
  in.forced2Caption = label("Label1", 10);
  in.forced2 = S(ui->Heure2->currentText());
  in.capacityCaption = label("Label1", 12);
  in.capacity = S(ui->ComboChargeTempo->currentText());
  in.voltageCorrection = S(ui->correctionV->text());
  return in;
}

void MainScreen::Rapport_Click() {
  if (!MayCommand()) return;
  // The report records what the controller holds: only after a whole read
  // of the chosen controller whose settings can be its own.
  std::string why = device_.ImageWriteRefusal();
  if (!why.empty()) return ShowFailure(why + " No report was written.");
  frmProduction dialog(
      dialogs_, [this] { return ReportFromScreen(); }, this);
  dialog.exec();
}

void MainScreen::nmuBootLoad_Click() {
  // A controller left in its boot loader does not answer, yet must be
  // reachable for an update: only the choice is needed.
  if (!MayCommand(false)) return;
  // The controller is about to leave its application: no reading meanwhile.
  const bool reading = PauseReading();
  if (!hx::LanceMiseAJour(dialogs_, services_.config, *starter_, hx::ProgramFolder(), device_.UsbID()))
    ResumeReading(reading);
  UpdateStatus();
}

void MainScreen::mnuApropos_Click() {
  frmAbout about(
      dialogs_, [this] { return SystemInformation(); }, this);
  about.exec();
}

namespace {
const char* const kProfileFilter = "Settings profiles (*.txt)|*.txt|All Files (*.*)|*.*";
std::string Caption(const QAction* a) { return a->text().toStdString(); }
}  // namespace

void MainScreen::mnuSaveSettings_Click() {
  auto say = [this](const std::string& text) {
    dialogs_.Message({text, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  };
  if (!device_.ImageComplete() || device_.ImageUsbID() != device_.UsbID() || device_.UsbID() == 0) {
    return say(
        "Read the parameters of the selected controller first: a profile holds the settings of a whole "
        "read.");
  }
  const hx::ParameterTexts screen = ScreenParameters();
  hx::ProfileOrigin origin;
  origin.controller =
      controllerText_.empty() ? "controller " + std::to_string(device_.UsbID()) : controllerText_;
  origin.firmware = S(ui->Version->text());
  origin.serial = S(ui->NumeroSerie->text());
  origin.saved = hx::FormatDateHeure("yyyy-MM-dd HH:mm:ss", services_.now());
  const std::string text = hx::FormatProfile(screen, origin);
  if (const auto parsed = hx::ParseProfile(text); !parsed.errors.empty()) {
    return say("The screen holds a value a profile cannot carry; nothing was saved.\n" +
               parsed.errors.front());
  }
  hx::FileDialogRequest request;
  request.title = Caption(ui->mnuSaveSettings);
  request.filter = kProfileFilter;
  request.fileName = "hydrix-" + origin.serial + ".txt";
  const auto file = dialogs_.SaveFile(request);
  if (!file || file->empty()) return;
  if (const std::string problem = hx::SaveProfile(*file, text); !problem.empty()) return say(problem);
  statusBar()->showMessage(Text("StatusSaved", "Settings saved to %1").arg(Q(*file)), 10000);
}

bool MainScreen::AskProfile(const QString& title, hx::ParameterTexts& values) {
  hx::FileDialogRequest request;
  request.title = S(title);
  request.filter = kProfileFilter;
  const auto file = dialogs_.OpenFile(request);
  if (!file || file->empty()) return false;
  const hx::ProfileParse parsed = hx::ReadProfile(*file);
  if (!parsed.errors.empty()) {
    std::string text = *file + " cannot be used; nothing was changed:";
    for (const auto& e : parsed.errors) text += "\n" + e;
    dialogs_.Message({text, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Critical});
    return false;
  }
  values = parsed.values;
  return true;
}

void MainScreen::mnuLoadSettings_Click() {
  hx::ParameterTexts values;
  if (!AskProfile(ui->mnuLoadSettings->text(), values)) return;
  for (const auto& [key, text] : values) ShowSetting(*hx::FindParameter(key), Q(text));
  // Nothing goes to the controller until Write Parameters.
  statusBar()->showMessage(
      Text("StatusLoaded", "Settings loaded on screen: Write Parameters sends them to the controller."),
      15000);
}

void MainScreen::mnuCompareSettings_Click() {
  hx::ParameterTexts values;
  if (!AskProfile(ui->mnuCompareSettings->text(), values)) return;
  const auto differences = hx::CompareProfile(ScreenParameters(), values);
  std::string text;
  if (differences.empty()) {
    text = "The screen and the file hold the same settings.";
  } else {
    text = "Settings that differ (screen -> file):";
    for (const auto& d : differences) text += "\n" + CaptionOf(d.key) + ": " + d.current + " -> " + d.file;
  }
  dialogs_.Message({text, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Information});
}

void MainScreen::mnuJournal_Click(bool checked) {
  measureLog_.Close();
  UpdateStatus();
  if (!checked) return;
  const auto file =
      dialogs_.SaveFile({"Measure Log", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*", "", "measures.csv"});
  std::string why = file ? measureLog_.Open(*file) : std::string();
  if (!why.empty()) {
    dialogs_.Message({why, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  }
  mnuJournal_->setChecked(measureLog_.IsOpen());
  UpdateStatus();
}

void MainScreen::mnuExportChart_Click() {
  const auto file = dialogs_.SaveFile(
      {"Export Chart Data", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*", "", "chart.csv"});
  if (!file || file->empty()) return;
  BusyCursor busy;
  if (const std::string why = chart_->SaveCsv(*file); !why.empty()) {
    dialogs_.Message({why, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  }
}

void MainScreen::mnuSaveChartImage_Click() {
  const auto file = dialogs_.SaveFile(
      {"Save Chart Image", "PNG Images (*.png)|*.png|All Files (*.*)|*.*", "", "chart.png"});
  if (!file || file->empty()) return;
  BusyCursor busy;
  if (const std::string why = chart_->SaveImage(*file); !why.empty()) {
    dialogs_.Message({why, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  }
}

void MainScreen::AppendMeasureLog() {
  // Only readings the controller answered: zeros of a lost link are no
  // measures.
  if (!measureLog_.IsOpen() || device_.TimeOut()) return;
  const std::string why = measureLog_.Append(std::chrono::system_clock::now(), device_.ImageMesures());
  if (why.empty()) return;
  mnuJournal_->setChecked(false);
  logLabel_->clear();
  dialogs_.Message({why, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
}

frm_etat* MainScreen::Etat() const { return etat_.data(); }

void MainScreen::State_Click() {
  if (!etat_) {
    etat_ = new frm_etat([this] { return device_.ImageMesures(); }, this);
    // Beside the main window, not over its buttons: right of it when the
    // screen has room, else left of it, else over the top of the chart.
    const QRect frame = frameGeometry();
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : frame;
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

void MainScreen::Sortir_Click() { close(); }

void MainScreen::closeEvent(QCloseEvent* event) {
  // An edit not yet written, or a measure log being written, is not lost
  // by a stray click: one question, No (or Escape) keeps the window.
  const bool edits = !closing_ && UnwrittenEdits();
  const bool logging = !closing_ && measureLog_.IsOpen() && Timer->isActive();
  if (edits || logging) {
    std::string question = "Quit hydrix?";
    if (edits) question += " The settings on screen have changes that were not written to the controller.";
    if (logging) question += " The measure log is still being written.";
    if (dialogs_.Message({question, hx::HydrixDevice::kTitle, hx::MsgButtons::YesNo, hx::MsgIcon::Question,
                          true}) != hx::MsgAnswer::Yes) {
      event->ignore();
      return;
    }
  }
  closing_ = true;
  remembered_.SetGeometry(saveGeometry());
  Timer->stop();
  if (etat_) etat_->close();
  device_.link().UsbClose();
  event->accept();
}

void MainScreen::mnuHelp_Click() {
  // The installed manual first, else the README of the tool set.
  const std::filesystem::path folder = hx::ProgramFolder();
  for (const auto& candidate : {folder / "../share/doc/hydrix/README.md", folder / "README.md",
                                folder / "../README.md", folder / "../../README.md"}) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(candidate, ec)) continue;
    std::string error;
    if (starter_->Start("xdg-open", {std::filesystem::weakly_canonical(candidate, ec).string()}, error))
      return;
    dialogs_.Message({"The help cannot be opened: " + error, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok,
                      hx::MsgIcon::Exclamation});
    return;
  }
  dialogs_.Message({"No help file was found beside the program.", hx::HydrixDevice::kTitle,
                    hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
}

std::string MainScreen::SystemInformation() {
  hx::SystemInfo info;
  info.version = hx::VersionLine();
  info.qtVersion = qVersion();
  info.system = S(QSysInfo::prettyProductName() + " (" + QSysInfo::currentCpuArchitecture() + ", kernel " +
                  QSysInfo::kernelVersion() + ")");
  const std::string library = services_.usb.LibraryPath();
  const auto usb = hx::usbconf::LoadUsbConfig(
      library.empty() ? std::string() : std::filesystem::path(library).parent_path().string());
  info.backend = std::string(usb.backend == hx::usbconf::Backend::Usb ? "usb" : "sim") + ", configuration " +
                 (usb.file.empty() ? std::string("none (defaults)") : usb.file);
  for (const auto& p : usb.problems) info.backend += "; " + p;
  info.usbLibrary = library;
  info.configXml = services_.config.Path().string();
  info.rememberedState = remembered_.File().string();
  return hx::SystemInfoText(info);
}

bool MainScreen::eventFilter(QObject* watched, QEvent* event) {
  // Alt pressed and released alone opens the menu bar, as F10 does.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    altAlone_ = key->key() == Qt::Key_Alt && !key->isAutoRepeat();
  } else if (event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (altAlone_ && key->key() == Qt::Key_Alt && isActiveWindow() && !ui->menubar->actions().isEmpty())
      ui->menubar->setActiveAction(ui->menubar->actions().first());
    altAlone_ = false;
  } else if (event->type() == QEvent::MouseButtonPress) {
    altAlone_ = false;
  }
  return QMainWindow::eventFilter(watched, event);
}
