#include "MainScreen.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <algorithm>

#include "common/busy_cursor.h"
#include "common/paths.h"
#include "hydrix/config/about.h"
#include "hydrix/config/frmAbout.h"
#include "hydrix/mainscreen/elided_label.h"
#include "hydrix/mainscreen/language_pass.h"
#include "hydrix/mainscreen/live_view.h"
#include "hydrix/mainscreen/maintenance_frame.h"
#include "hydrix/mainscreen/qt_process_starter.h"
#include "hydrix/mainscreen/settings_frame.h"
#include "hydrix/mainscreen/status_text.h"
#include "hydrix/selection/frmConnect.h"
#include "ui_MainScreen.h"

using hx::BusyCursor;
using hx::Q;
using hx::S;

namespace {

const std::string kEnglish = "English";
// The widest the status bar's lines get, in pixels.
constexpr int kControllerLineWidth = 520;
constexpr int kLogLineWidth = 300;
// Room left for a window manager's frame around the window.
constexpr int kFrameSide = 4;
constexpr int kFrameTop = 36;

}  // namespace

MainScreen::MainScreen(Services services, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::MainScreen>()),
      services_(services),
      remembered_(services.rememberedState),
      remembering_(services.dialogs, remembered_),
      idle_(remembering_),
      dialogs_(idle_, modal_),
      device_(services.usb, services.config, dialogs_, services.sleeper, services.now),
      selection_(services.usb, device_.link(), device_.state(), dialogs_),
      context_{*this,
               *ui,
               device_,
               dialogs_,
               modal_,
               services.config,
               services.now,
               [this](bool needsAnswer) { return MayCommand(needsAnswer); },
               [this] { UpdateStatus(); },
               [this] { LitTout(); },
               [this](const char* code, const char* english) { return language_->Text(code, english); },
               {},
               {},
               false,
               false,
               false,
               [this] { maintenance_->ProposeSerial(); }} {
  ui->setupUi(this);
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
  selection_.SetTexts(
      [this](const char* code, const char* english) { return S(language_->Text(code, english)); });
  // Built first: it takes the captions as designed, before anything else
  // changes one.
  language_ = std::make_unique<hx::LanguagePass>(context_, [this] {
    if (live_->MeasuresShown()) live_->LitMesures();
  });
  // Controls that would cut their values at the window's minimum width.
  for (int i = 0; i < 2; ++i) {
    QLineEdit* box = Control<QLineEdit>("ValeurHorloge", i);
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance("-16.00000") + 12);
  }
  ui->ComboChargeTempo->view()->setMinimumWidth(
      ui->ComboChargeTempo->fontMetrics().horizontalAdvance("7 to 25 Ah        : 3 Hrs") + 40);

  // Keyboard: reading on single keys, writing only with a modifier, the
  // menu bar on F10 (and Alt, see eventFilter); captions stay the
  // catalogue's texts.
  auto shortcut = [this](QKeySequence key, auto slot) {
    auto* s = new QShortcut(key, this);
    connect(s, &QShortcut::activated, this, slot);
    return s;
  };
  shortcut(QKeySequence(Qt::Key_F5), [this] { settings_->Lire_Click(); });
  shortcut(QKeySequence(Qt::Key_F6), [this] { ui->LectureContinu->toggle(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W), [this] { settings_->Ecrire_Click(); });
  shortcut(QKeySequence(Qt::Key_F10), [this] {
    if (!ui->menubar->actions().isEmpty()) ui->menubar->setActiveAction(ui->menubar->actions().first());
  });
  auto* help = new QAction("Help", this);
  help->setObjectName("mnuHelp");
  help->setShortcut(QKeySequence(Qt::Key_F1));
  ui->MnuAide->insertAction(ui->mnuApropos, help);
  connect(help, &QAction::triggered, this, &MainScreen::mnuHelp_Click);
  qApp->installEventFilter(this);
  PlaceOnScreen();

  // The status bar: on its left the temporary messages and status tips, on
  // its right the controller's line, then the measure log's. Neither line
  // asks for more than a share of the bar: a long one is cut with "…" and
  // whole in its tip, and never widens the window.
  statusLabel_ = new hx::ElidedLabel(kControllerLineWidth, this);
  ui->statusbar->addPermanentWidget(statusLabel_);
  live_ = std::make_unique<hx::LiveView>(context_);
  logLabel_ = new hx::ElidedLabel(kLogLineWidth, this);
  ui->statusbar->addPermanentWidget(logLabel_);
  settings_ = std::make_unique<hx::SettingsFrame>(context_, *live_);
  maintenance_ = std::make_unique<hx::MaintenanceFrame>(context_, *live_, *settings_);

  connect(ui->Sortir, &QPushButton::clicked, this, &MainScreen::Sortir_Click);
  connect(ui->MnuConnect, &QAction::triggered, this, &MainScreen::MnuConnect_Click);
  connect(ui->nmuBootLoad, &QAction::triggered, this, &MainScreen::nmuBootLoad_Click);
  connect(ui->mnuApropos, &QAction::triggered, this, &MainScreen::mnuApropos_Click);
  UpdateStatus();
}

MainScreen::~MainScreen() = default;

void MainScreen::PlaceOnScreen() {
  const QRect available = screen() ? screen()->availableGeometry() : QRect();
  // A window manager's title bar and borders are not known before the
  // first show: room is left for them.
  const QMargins frame(kFrameSide, kFrameTop, kFrameSide, kFrameSide);
  const QByteArray kept = remembered_.Geometry();
  if (kept.isEmpty() || !restoreGeometry(kept)) {
    // First start: the designed size where the screen has room for it.
    if (!available.isEmpty()) resize(size().boundedTo(available.marginsRemoved(frame).size()));
    return;
  }
  // A size or place kept on a larger screen, or on one that is gone, is
  // brought back within this one.
  const QRect fitted = hx::FitWithin(geometry().marginsAdded(frame), available).marginsRemoved(frame);
  if (fitted != geometry()) setGeometry(fitted);
}

void MainScreen::Form_Load() {
  live_->BuildChart();
  ui->SolenoidValue->setCurrentIndex(0);
  ui->RelayValue->setCurrentIndex(0);
  ui->Heure1->setCurrentIndex(0);
  ui->Heure2->setCurrentIndex(0);
  ui->Madate->setDateTime(QDateTime::currentDateTime());
  ui->FrameMaintenance->setVisible(
      hx::ConfigurationBoolean(services_.config.LitConfiguration("Maintenance")));
  if (auto problem = services_.config.TakeProblem()) context_.Say(*problem);
  const bool read = Connect();
  if (read) LitTout();
  TraduitEcran(Q(kEnglish), true);
  // Without a controller the list shows the largest capacity; after a read
  // it keeps what the controller holds, so that a later write does not
  // change the battery setting behind the operator's back.
  if (!read) ui->ComboChargeTempo->setCurrentIndex(2);
  if (!read) LitMesures();
  // Without a controller too, the box proposes the next serial number.
  if (!read) maintenance_->ProposeSerial();
}

bool MainScreen::Connect() {
  frmConnect dialog(selection_, this);
  {
    const hx::ModalCount::Scope open(modal_);
    dialog.exec();
  }
  const auto& list = dialog.List();
  context_.controllerText.clear();
  context_.controllerSerial.reset();
  context_.partAnswers = false;
  context_.implausible = false;
  context_.notReading = false;
  for (std::size_t i = 0; i < list.ids.size(); ++i) {
    if (device_.Chosen() && list.ids[i] == device_.UsbID()) {
      context_.controllerText = list.texts[i] + (i < list.details.size() ? list.details[i] : std::string());
      if (i < list.serials.size()) context_.controllerSerial = list.serials[i];
    }
  }
  if (device_.Chosen()) remembered_.SetLastController(device_.UsbID());
  UpdateStatus();
  if (const std::string log = live_->ControllerChosen(); !log.empty()) {
    statusBar()->showMessage(language_
                                 ->Text("StatusLogStopped",
                                        "Measure log %1 stopped: another controller was chosen. Its "
                                        "measures go to a new log.")
                                 .arg(Q(log)));
  }
  return device_.Chosen() && !device_.TimeOut();
}

bool MainScreen::MayCommand(bool needsAnswer) {
  std::string refusal = device_.CommandRefusal(needsAnswer);
  if (refusal.empty()) return true;
  refusal += " Nothing was sent.";
  UpdateStatus();
  statusBar()->showMessage(Q(refusal), 15000);
  context_.Say(refusal);
  return false;
}

void MainScreen::MnuConnect_Click() {
  if (Connect()) settings_->Lire_Click();
}

void MainScreen::LitTout() {
  BusyCursor busy;
  settings_->ShowParameters(settings_->parameters().LitParametres());
  const bool whole = device_.ImageComplete();
  device_.LitMesuresEtDate();
  context_.partAnswers = !device_.TimeOut() && !(whole && device_.MeasuresWhole());
  context_.implausible = whole && !device_.ImageImplausible().empty();
  live_->MeasuresRead();
  live_->LitMesures();
  live_->ShowClock();
  maintenance_->ShowCorrection();
  setWindowTitle(Q(device_.LitVersion()));
  UpdateStatus();
}

bool MainScreen::ControleValeur(QLineEdit* Valeur, double Min, double Max) {
  return settings_->ControleValeur(Valeur, Min, Max);
}

void MainScreen::TraduitEcran(const QString& language, bool fill) { language_->TraduitEcran(language, fill); }

void MainScreen::LitMesures() { live_->LitMesures(); }

TrendChart* MainScreen::Chart() const { return live_->Chart(); }

frm_etat* MainScreen::Etat() const { return live_->Etat(); }

void MainScreen::UpdateStatus() {
  hx::StatusFacts facts;
  facts.usbId = device_.UsbID();
  facts.chosen = device_.Chosen();
  facts.controller = context_.controllerText;
  facts.timeOut = device_.TimeOut();
  facts.partAnswers = context_.partAnswers;
  facts.implausible = context_.implausible;
  facts.notReading = context_.notReading;
  facts.logFile = live_->LogFile();
  facts.reading = live_->Running();
  facts.looking = live_->Looking();
  const hx::StatusLine line = hx::StatusText(
      facts, [this](const char* code, const char* english) { return S(language_->Text(code, english)); });
  statusLabel_->SetWholeText(Q(line.controller));
  logLabel_->SetWholeText(Q(line.log));
}

void MainScreen::nmuBootLoad_Click() {
  // A controller left in its boot loader does not answer, yet must be
  // reachable for an update: only the choice is needed.
  if (!MayCommand(false)) return;
  // The controller is about to leave its application: no reading meanwhile.
  const bool reading = live_->PauseReading();
  if (!hx::LanceMiseAJour(dialogs_, services_.config, *starter_, hx::ProgramFolder(), device_.UsbID()))
    live_->ResumeReading(reading);
  UpdateStatus();
}

void MainScreen::mnuApropos_Click() {
  frmAbout about(
      dialogs_, [this] { return SystemInformation(); }, this);
  const hx::ModalCount::Scope open(modal_);
  about.exec();
}

void MainScreen::Sortir_Click() { close(); }

void MainScreen::closeEvent(QCloseEvent* event) {
  // An edit not yet written, or a measure log being written, is not lost
  // by a stray click: one question, No (or Escape) keeps the window.
  const bool edits = !closing_ && settings_->UnwrittenEdits();
  const bool logging = !closing_ && !live_->LogFile().empty() && live_->Running();
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
  live_->Stop();
  device_.link().UsbClose();
  event->accept();
}

void MainScreen::mnuHelp_Click() {
  // The help pages in the desktop's browser; when none opens, the box names
  // the page in full so that it can be opened by hand.
  const std::filesystem::path index = hx::HelpIndex(hx::Layout());
  std::error_code ec;
  if (!std::filesystem::is_regular_file(index, ec)) {
    context_.Say("The help is missing: no page " + index.string());
    return;
  }
  std::string error;
  if (starter_->Start("xdg-open", {index.string()}, error)) return;
  context_.Say("The help cannot be opened in a browser (" + error +
                   "). Open this page in a browser: " + index.string(),
               hx::MsgIcon::Information);
}

std::string MainScreen::SystemInformation() {
  hx::SystemInfo info;
  info.version = hx::VersionLine();
  info.qtVersion = qVersion();
  info.system = S(QSysInfo::prettyProductName() + " (" + QSysInfo::currentCpuArchitecture() + ", kernel " +
                  QSysInfo::kernelVersion() + ")");
  // The interface library names its backend; an older one cannot tell.
  hx::UsbInterface& usb = services_.usb;
  info.backend = usb.BackendName();
  if (info.backend.empty()) info.backend = "unknown";
  if (std::string problem = usb.BackendProblem(); !problem.empty()) {
    std::replace(problem.begin(), problem.end(), '\n', ' ');
    info.backend += "; " + problem;
  }
  info.usbLibrary = usb.LibraryPath();
  info.configXml = services_.config.Path().string();
  info.rememberedState = remembered_.File().string();
  return hx::SystemInfoText(info);
}

bool MainScreen::eventFilter(QObject* watched, QEvent* event) {
  // Alt pressed and released alone opens the menu bar, as F10 does.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    altAlone_ = key->key() == Qt::Key_Alt && !key->isAutoRepeat();
    if (MenuBarKey(watched, key->key())) return true;
  } else if (event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (altAlone_ && key->key() == Qt::Key_Alt && isActiveWindow() && !ui->menubar->actions().isEmpty())
      ui->menubar->setActiveAction(ui->menubar->actions().first());
    altAlone_ = false;
  } else if (event->type() == QEvent::MouseButtonPress) {
    altAlone_ = false;
    barKey_ = nullptr;
  }
  return QMainWindow::eventFilter(watched, event);
}

bool MainScreen::MenuBarKey(QObject* watched, int key) {
  // Qt moves through the menu bar's menus with Left and Right, but an entry
  // without a menu is only highlighted, and the keys after it go to the
  // window: here the keyboard reaches it and triggers it.
  QMenuBar* bar = ui->menubar;
  const QList<QAction*> entries = bar->actions();
  const auto beside = [&](QAction* from, int step) -> QAction* {
    const auto n = static_cast<int>(entries.size());
    for (int i = static_cast<int>(entries.indexOf(from)), k = 0; k < n; ++k) {
      i = (i + step + n) % n;
      if (entries[i]->isVisible() && entries[i]->isEnabled() && !entries[i]->isSeparator()) return entries[i];
    }
    return nullptr;
  };
  const auto highlight = [&](QAction* entry) {
    barKey_ = entry && !entry->menu() ? entry : nullptr;
    bar->setActiveAction(entry);  // opens a menu, only highlights an entry without one
  };
  const int step = key == Qt::Key_Right ? 1 : key == Qt::Key_Left ? -1 : 0;
  if (auto* menu = qobject_cast<QMenu*>(watched); menu && entries.contains(menu->menuAction())) {
    // From a menu of the bar to the entry without a menu beside it.
    QAction* next = step != 0 ? beside(menu->menuAction(), step) : nullptr;
    if (!next || next->menu() || (step > 0 && menu->activeAction() && menu->activeAction()->menu()))
      return false;
    menu->hide();
    highlight(next);
    return true;
  }
  if (!barKey_ || bar->activeAction() != barKey_ || QApplication::activePopupWidget()) {
    barKey_ = nullptr;
    return false;
  }
  if (step != 0) {
    highlight(beside(barKey_, step));
  } else if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space || key == Qt::Key_Down) {
    QAction* entry = barKey_;
    highlight(nullptr);
    entry->trigger();
  } else if (key == Qt::Key_Escape) {
    highlight(nullptr);
  } else {
    barKey_ = nullptr;
    return false;
  }
  return true;
}
