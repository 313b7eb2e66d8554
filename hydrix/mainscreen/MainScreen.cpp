#include "MainScreen.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTimer>

#include "TrendChart.h"
#include "common/busy_cursor.h"
#include "frmConnect.h"
#include "frm_etat.h"
#include "hydrix/mainscreen/measures_codec.h"
#include "hydrix/mainscreen/output_tempo.h"
#include "ui_MainScreen.h"

using hx::BusyCursor;

namespace {

const std::string kEnglish = "English";

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The captions set from fixed keys after the name-keyed pass, in this order.
struct FixedCaption {
  const char* control;
  int index;
  const char* key;
};
constexpr FixedCaption kFixedCaptions[] = {
    {"Label1", 1, "Temperature (°C)"},
    {"Label1", 0, "Battery Voltage (V)"},
    {"Label1", 2, "Battery Charging Current (mA)"},
    {"Label1", 3, "Battery Discharging Current (mA)"},
    {"Label1", 15, "Start @Low Battery Level (V)"},
    {"Label1", 14, "Start Tempo @ High Battery Level (V)"},
    {"Label1", 4, "Solenoid Pulse(ms)"},
    {"Label1", 9, "Forced charge 1 (h)"},
    {"Label1", 10, "Forced charge 2 (h)"},
    {"Label1", 12, "Battery Capacity (Ah)\u00a0: Tempo (Hr)"},
    {"Label1", 6, "Relay"},
    {"Label1", 7, "ON (1)/OFF (0)"},
    {"Label1", 20, "Serial Number"},
    {"Label1", 5, "Not Charging"},
    {"Label1", 8, "Battery Default"},
    {"Label3", -1, "End of Charge Tempo (S)"},
    {"Frame2", -1, "Continuous Reading Graphic"},
};

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
      device_(services.usb, services.config, services.dialogs, services.sleeper, services.now),
      selection_(services.usb, device_.link(), device_.state(), services.dialogs),
      parameters_(device_, [now = services.now] { return hx::DateVersSecondes(now()); }) {
  ui->setupUi(this);
  // Elements of a control array are named "Array_N" in the form; they answer
  // to the array's name, told apart by their index property.
  static const QRegularExpression element("^(.+)_(\\d+)$");
  for (QWidget* w : findChildren<QWidget*>()) {
    const auto m = element.match(w->objectName());
    if (m.hasMatch() && w->property("index").isValid()) w->setObjectName(m.captured(1));
  }

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
  logLabel_ = new QLabel(this);
  ui->statusbar->addPermanentWidget(logLabel_);

  connect(ui->Lire, &QPushButton::clicked, this, &MainScreen::Lire_Click);
  connect(ui->Ecrire, &QPushButton::clicked, this, &MainScreen::Ecrire_Click);
  connect(ui->Raz, &QPushButton::clicked, this, &MainScreen::Raz_Click);
  connect(ui->SetTime, &QPushButton::clicked, this, &MainScreen::SetTime_Click);
  connect(ui->Sortir, &QPushButton::clicked, this, &MainScreen::Sortir_Click);
  connect(ui->MnuConnect, &QAction::triggered, this, &MainScreen::MnuConnect_Click);
  connect(ui->LectureContinu, &QCheckBox::toggled, this, &MainScreen::LectureContinu_Click);
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
    services_.dialogs.Message(
        {*problem, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  }
  const bool read = Connect();
  if (read) LitTout();
  TraduitEcran(Q(kEnglish), true);
  // Without a controller the list shows the largest capacity; after a read
  // it keeps what the controller holds, so that a later write does not
  // change the battery setting behind the operator's back.
  if (!read) ui->ComboChargeTempo->setCurrentIndex(2);
}

bool MainScreen::Connect() {
  frmConnect dialog(selection_, this);
  dialog.exec();
  const auto& list = dialog.List();
  controllerText_.clear();
  for (std::size_t i = 0; i < list.ids.size(); ++i) {
    if (list.ids[i] == device_.UsbID()) controllerText_ = list.texts[i];
  }
  UpdateStatus();
  return !device_.TimeOut() && device_.UsbID() != 0;
}

void MainScreen::MnuConnect_Click() {
  if (Connect()) Lire_Click();
}

void MainScreen::Lire_Click() { LitTout(); }

void MainScreen::LitTout() {
  BusyCursor busy;
  ShowParameters(parameters_.LitParametres());
  device_.LitMesuresEtDate();
  LitMesures();
  ShowClock();
  const auto correction = device_.LitValeurCorrection();
  Control<QLineEdit>("ValeurHorloge", 0)->setText(Q(correction[0]));
  Control<QLineEdit>("ValeurHorloge", 1)->setText(Q(correction[1]));
  setWindowTitle(Q(device_.LitVersion()));
  UpdateStatus();
}

void MainScreen::ShowParameters(const hx::ParameterTexts& texts) {
  using hx::ControlKind;
  for (const auto& f : hx::ParameterMap()) {
    const QString text = Q(texts.at(f.key));
    switch (f.control_kind) {
      case ControlKind::TextBox:
        Control<QLineEdit>(f.control, f.index)->setText(text);
        break;
      case ControlKind::Label:
        Control<QLabel>(f.control, f.index)->setText(text);
        break;
      case ControlKind::HourList: {
        auto* list = Control<QComboBox>(f.control, f.index);
        list->setCurrentIndex(list->findText(text));
        break;
      }
      case ControlKind::CapacityList:
        Control<QComboBox>(f.control, f.index)->setCurrentIndex(text.toInt());
        break;
    }
  }
  ui->ValeurNumeroSerie->setText(Q(texts.at("serial_number")));
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

void MainScreen::ShowClock() { ui->txtCurrentTime->setText(Q(device_.txtCurrentTime())); }

void MainScreen::Ecrire_Click() {
  bool written = false;
  {
    BusyCursor busy;
    ui->LectureContinu->setChecked(false);
    written = parameters_.Ecrire(ScreenParameters());
  }
  (void)written;
  UpdateStatus();
}

void MainScreen::Raz_Click() {
  parameters_.Raz();
  UpdateStatus();
}

void MainScreen::SetTime_Click() {
  ui->LectureContinu->setChecked(false);
  const hx::DateHeure t = device_.MiseAHeure();
  ui->Madate->setDateTime(QDateTime(QDate(t.annee, t.mois, t.jour), QTime(t.heure, t.minute, t.seconde)));
  UpdateStatus();
}

void MainScreen::LectureContinu_Click() {
  if (ui->LectureContinu->isChecked()) {
    LitTout();
    Timer->start();
    chart_->data().SetNumeroPoint(0);
  } else {
    Timer->stop();
  }
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
  step([this] { chart_->Trace(ChartTexts()); });
  step([this] { AppendMeasureLog(); });
  UpdateStatus();
}

void MainScreen::LitMesures() {
  const hx::MeasureView v = hx::DecodeMesures(device_.ImageMesures());
  ui->LabelPower->setText(Q(v.labelPower));
  ui->Power->setText(Q(v.power));
  if (v.powerColour) {
    ui->Power->setStyleSheet("background-color: black; color: " + Css(*v.powerColour) + "; font-size: 24pt;");
  }
  for (int i = 0; i < 4; ++i)
    Control<QLineEdit>("Text1", i)->setText(Q(v.text1[static_cast<std::size_t>(i)]));
  ui->RelayValue->setCurrentIndex(v.relayIndex);
  ui->SolenoidValue->setCurrentIndex(v.solenoidIndex);
  Control<QLabel>("Label1", 7)->setText(Q(v.label7));
  ui->LowCharge->setStyleSheet("background-color: " + Css(v.lowCharge) + ";");
  Control<QLabel>("Label1", 5)->setText(Q(v.label5));
  ui->BatterieDefault->setStyleSheet("background-color: " + Css(v.batterieDefault) + ";");
  Control<QLabel>("Label1", 8)->setText(Q(v.label8));
  measuresShown_ = true;
}

std::array<std::string, 4> MainScreen::ChartTexts() const {
  return {S(Control<QLineEdit>("Text1", 1)->text()), S(Control<QLineEdit>("Text1", 0)->text()),
          S(Control<QLineEdit>("Text1", 2)->text()), S(Control<QLineEdit>("Text1", 3)->text())};
}

void MainScreen::Command1_Click() { chart_->Clear(); }

void MainScreen::ActivateSolenoid_Click() {
  device_.CommandeSortie(0, static_cast<std::int16_t>(ui->SolenoidValue->currentIndex()));
  UpdateStatus();
}

void MainScreen::ActivateRelay_Click() {
  device_.CommandeSortie(1, static_cast<std::int16_t>(ui->RelayValue->currentIndex()));
  UpdateStatus();
}

void MainScreen::SetEndOFChargeTempo_Click() {
  {
    BusyCursor busy;
    ui->LectureContinu->setChecked(false);
    hx::SetTempo(device_, S(ui->EndOfChargeTempo->text()));
  }
  UpdateStatus();
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
  // Selecting the item is a language change of its own.
  ui->ListeLangues->setCurrentIndex(list.selected);
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
    SetCaption(o, Q(services_.config.LitMessage(lang, S(o->objectName()), S(caption))));
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
  for (const auto& c : kFixedCaptions) {
    QObject* o = c.index >= 0 ? static_cast<QObject*>(Control<QWidget>(c.control, c.index))
                              : static_cast<QObject*>(Control<QWidget>(c.control));
    if (o) SetCaption(o, Q(services_.config.LitMessage(shown, c.key, "")));
  }
  // The power, output and lamp labels show the last measures, not captions.
  if (measuresShown_) LitMesures();
  ui->Message->clear();
  if (auto problem = services_.config.TakeProblem()) {
    services_.dialogs.Message(
        {*problem, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  }
}

void MainScreen::ListeLangues_Change() {
  const QString language = ui->ListeLangues->currentText();
  TraduitEcran(language, false);
  services_.config.EcritConfiguration("Langue", S(language));
}

void MainScreen::UpdateStatus() {
  QString text;
  if (device_.UsbID() == 0) {
    text = tr("No controller selected: choose one with USB Connect.");
  } else {
    text = tr("Controller %1").arg(device_.UsbID());
    if (!controllerText_.empty()) text += ": " + Q(controllerText_);
    text += device_.TimeOut() ? tr(" (not answering: choose it again with USB Connect)") : tr(" (answering)");
  }
  statusLabel_->setText(text);
}

void MainScreen::mnuJournal_Click(bool checked) {
  measureLog_.Close();
  logLabel_->clear();
  if (!checked) return;
  const auto file = services_.dialogs.SaveFile(
      {"Measure Log", "CSV Files (*.csv)|*.csv|All Files (*.*)|*.*", "", "measures.csv"});
  std::string why = file ? measureLog_.Open(*file) : std::string();
  if (!why.empty()) {
    services_.dialogs.Message({why, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  }
  mnuJournal_->setChecked(measureLog_.IsOpen());
  if (measureLog_.IsOpen())
    logLabel_->setText(tr("Logging measures to %1").arg(Q(measureLog_.path().string())));
}

void MainScreen::AppendMeasureLog() {
  // Only readings the controller answered: zeros of a lost link are no
  // measures.
  if (!measureLog_.IsOpen() || device_.TimeOut()) return;
  const std::string why = measureLog_.Append(std::chrono::system_clock::now(), device_.ImageMesures());
  if (why.empty()) return;
  mnuJournal_->setChecked(false);
  logLabel_->clear();
  services_.dialogs.Message({why, hx::HydrixDevice::kTitle, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
}

frm_etat* MainScreen::Etat() const { return etat_.data(); }

void MainScreen::State_Click() {
  if (!etat_) etat_ = new frm_etat([this] { return device_.ImageMesures(); }, this);
  etat_->show();
  etat_->raise();
  etat_->activateWindow();
}

void MainScreen::Sortir_Click() { close(); }

void MainScreen::closeEvent(QCloseEvent* event) {
  Timer->stop();
  if (etat_) etat_->close();
  device_.link().UsbClose();
  event->accept();
}
