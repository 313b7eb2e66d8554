#include "frmMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <iostream>

#include <string_view>

#include "common/atomic_file.h"
#include "common/busy_cursor.h"
#include "common/safe_file.h"
#include "ui_frmMain.h"

namespace {
const char* const kHexFilter = "INHEX32 Files (*.HEX)|*.HEX|All Files (*.*)|*.*";
const char* const kLastFolderKey = "lastHexFolder";

QSettings Remembered() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, "hydrix", "flashtool");
}
}  // namespace

// Every message box of the window also goes into the log, so that a saved
// log tells the whole story of a run.
class frmMain::LoggingDialogs : public hx::DialogService {
 public:
  LoggingDialogs(hx::DialogService& inner, frmMain& window) : inner_(inner), window_(window) {}
  hx::MsgAnswer Message(const hx::MessageBoxRequest& request) override {
    QString text = QString::fromStdString(request.text).simplified();
    window_.Log("Message: " + text.toStdString());
    return inner_.Message(request);
  }
  std::optional<std::string> OpenFile(const hx::FileDialogRequest& request) override {
    return inner_.OpenFile(request);
  }
  std::optional<std::string> SaveFile(const hx::FileDialogRequest& request) override {
    return inner_.SaveFile(request);
  }

 private:
  hx::DialogService& inner_;
  frmMain& window_;
};

frmMain::frmMain(std::string commandTail, hx::flash::FlashEnvironment env, hx::flash::BootLibrary& library,
                 hx::DialogService& dialogs, hx::flash::FlashClock& clock, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::frmMain>()),
      tail_(std::move(commandTail)),
      env_(std::move(env)),
      library_(library),
      dialogs_(dialogs),
      logged_(std::make_unique<LoggingDialogs>(dialogs, *this)),
      clock_(clock) {
  ui_->setupUi(this);
  ui_->ProgressBar1->setVisible(false);
  ui_->printArea->setVisible(false);
  ui_->fraChoose->setVisible(false);
  ui_->cmdCancel->setEnabled(false);
  core_ = std::make_unique<hx::flash::FlashTool>(env_, library_, *this, *logged_, clock_);
  connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmMain::CancelClick);
  connect(ui_->cmdSaveLog, &QPushButton::clicked, this, &frmMain::SaveLogClick);
  connect(ui_->cmdRefresh, &QPushButton::clicked, this, &frmMain::RefreshControllers);
  connect(ui_->cmdBrowse, &QPushButton::clicked, this, &frmMain::BrowseClick);
  connect(ui_->cmdProgram, &QPushButton::clicked, this, [this] { ProgramClick(false); });
  connect(ui_->cmdIdentify, &QPushButton::clicked, this, [this] { ProgramClick(true); });
  connect(ui_->cboController, &QComboBox::currentIndexChanged, this, &frmMain::EnableRunButtons);
}

frmMain::~frmMain() = default;

void frmMain::SetChooser(hx::flash::IdentityProbe& probe) {
  probe_ = &probe;
  if (!serialProbe_) serialProbe_ = &probe;
  ui_->fraChoose->setVisible(true);
}

void frmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (started_) return;
  started_ = true;
  // Once the window is on screen: the form is filled, or the run starts.
  QTimer::singleShot(0, this, probe_ ? &frmMain::FillForm : &frmMain::Run);
}

hx::flash::RunEnd frmMain::RunTail(const std::string& tail) {
  SetRunning(true);
  // The log keeps earlier runs; this one's lines (its header first) follow them.
  runFirstLine_ = ui_->lstLog->document()->isEmpty() ? 0 : ui_->lstLog->document()->blockCount();
  // A fresh core per run: nothing of an earlier run carries over.
  core_ = std::make_unique<hx::flash::FlashTool>(env_, library_, *this, *logged_, clock_);
  core_->SetSerialProbe(serialProbe_);
  hx::flash::RunEnd end = hx::flash::RunEnd::Failed;
  const bool loaded = core_->Form_Load(tail);
  if (loaded) end = core_->Form_Activate();
  core_->Form_Unload();
  result_ = end;
  const hx::flash::RunOutcome outcome = core_->Outcome(loaded, end);
  exitStatus_ = outcome.exit;
  // A history that cannot be written is said in the log (by the core) and
  // on standard error; the run's result stays what it was.
  if (const std::string why = core_->RecordHistory(outcome); !why.empty()) std::cerr << "flashtool: " << why << "\n";
  Log(outcome.Line());
  SetRunning(false);
  emit runFinished();
  return end;
}

void frmMain::Run() {
  RunTail(tail_);
  // Started from hydrix, the window stays until the operator has read (or
  // saved) its log; hydrix learns nothing of the run otherwise.
  if (hx::flash::StartedFromHydrix(tail_)) {
    SetStatus(ui_->txtOpStatus->text().toStdString() + "\n" + (exitStatus_ == 0 ? "Done" : "Ended") +
              ": close this window when you have read or saved the log.");
    return;
  }
  close();
}

void frmMain::SetRunning(bool running) {
  running_ = running;
  stopRequested_ = false;
  ui_->cmdCancel->setEnabled(running);
  ui_->fraChoose->setEnabled(!running);
}

void frmMain::FillForm() {
  std::string why;
  if (!core_->ReadParameterFile(why)) {
    logged_->Message(
        {"Parameter file " + env_.title + ".INI missing\n" + core_->IniPath().string() + ": " + why,
         env_.title, hx::MsgButtons::Ok, hx::MsgIcon::Critical});
    close();
    return;
  }
  // The tail's choices fill the form; its other options go with every run.
  std::string tail = tail_, device, usbid, prg;
  while (!hx::flash::Trim(tail).empty()) {
    std::string option = hx::flash::GetToken(tail, ";");
    std::string rest = option;
    const std::string key = hx::flash::ToUpper(hx::flash::Trim(hx::flash::GetToken(rest, "=")));
    const std::string value = hx::flash::Trim(rest);
    if (key == "DEVICE") {
      device = hx::flash::ToUpper(value);
    } else if (key == "USBID") {
      usbid = value;
    } else if (key == "PRG") {
      prg = value;
    } else if (!key.empty()) {
      extraOptions_ += hx::flash::Trim(option) + ";";
    }
  }
  ui_->cboProduct->clear();
  for (const auto& p : core_->Products()) ui_->cboProduct->addItem(QString::fromStdString(p));
  if (!device.empty()) ui_->cboProduct->setCurrentText(QString::fromStdString(device));
  ui_->txtHexFile->setText(QString::fromStdString(prg));
  // usbid= chooses the controller; without it the operator does.
  std::optional<std::int32_t> chosen;
  bool numeric = false;
  const int id = QString::fromStdString(usbid).toInt(&numeric);
  if (numeric) chosen = id;
  ShowControllers(chosen);
}

void frmMain::RefreshControllers() {
  std::optional<std::int32_t> chosen;
  if (ui_->cboController->currentIndex() >= 0) chosen = ui_->cboController->currentData().toInt();
  ShowControllers(chosen);
}

void frmMain::ShowControllers(std::optional<std::int32_t> chosen) {
  if (!probe_) return;
  std::vector<hx::flash::ListedController> list;
  {
    hx::BusyCursor busy;
    SetStatus("Looking for controllers ...");
    DoEvents();
    list = hx::flash::ListControllers(*probe_, library_);
  }
  ui_->cboController->clear();
  for (const auto& c : list) ui_->cboController->addItem(QString::fromStdString(c.Text()), c.UsbID);
  // Adding lines makes the first one current: only the chosen controller may be.
  const int kept = hx::flash::KeptChoice(list, chosen);
  ui_->cboController->setCurrentIndex(kept);
  EnableRunButtons();
  if (list.empty()) {
    ui_->cboController->setPlaceholderText("No controller found");
    const std::string problem = probe_->Problem();
    SetStatus("No controller found: check the USB cable, then press Refresh" +
              (problem.empty() ? std::string() : "\n" + problem));
    return;
  }
  ui_->cboController->setPlaceholderText("Choose the controller");
  std::string status =
      std::to_string(list.size()) + (list.size() == 1 ? " controller found" : " controllers found");
  if (chosen && kept < 0) {
    status += "\nConnection " + std::to_string(*chosen) + " is not listed: choose the controller again";
  }
  SetStatus(status);
}

void frmMain::EnableRunButtons() {
  const bool chosen = ui_->cboController->currentIndex() >= 0;
  ui_->cmdProgram->setEnabled(chosen);
  ui_->cmdIdentify->setEnabled(chosen);
}

void frmMain::BrowseClick() {
  QString folder = Remembered().value(kLastFolderKey).toString();
  const QFileInfo typed(ui_->txtHexFile->text());
  if (!ui_->txtHexFile->text().isEmpty() && typed.dir().exists()) folder = typed.absolutePath();
  if (folder.isEmpty()) folder = QString::fromStdString(env_.hexBaseFolder.string());
  const auto file = dialogs_.OpenFile({"Open HEX File", kHexFilter, folder.toStdString(), ""});
  if (!file || file->empty()) return;
  ui_->txtHexFile->setText(QString::fromStdString(*file));
}

void frmMain::ProgramClick(bool identifyOnly) {
  auto refuse = [this](const std::string& text) {
    dialogs_.Message({text, env_.title, hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
  };
  if (ui_->cboController->currentIndex() < 0) {
    refuse(ui_->cboController->count() == 0
               ? "Choose a controller. None is listed: check the USB cable, then press Refresh."
               : "Choose the controller to program in the list.");
    return;
  }
  const std::string product = ui_->cboProduct->currentText().toStdString();
  if (product.empty()) {
    refuse("Choose a product. The parameter file " + core_->IniPath().string() + " offers none.");
    return;
  }
  const std::string hex = ui_->txtHexFile->text().trimmed().toStdString();
  if (!identifyOnly && hex.empty()) {
    refuse("Choose the HEX file to program.");
    return;
  }
  // Options are separated by ";": a path holding one cannot be passed on.
  if (!identifyOnly && hex.find(';') != std::string::npos) {
    refuse(
        "The path of the HEX file contains \";\", which flashtool cannot take. Rename the file or its "
        "folder.");
    return;
  }
  std::string tail = extraOptions_ + "device=" + product +
                     ";usbid=" + std::to_string(ui_->cboController->currentData().toInt());
  if (identifyOnly) {
    tail += ";idonly";
  } else {
    tail += ";prg=" + hex;
    Remembered().setValue(kLastFolderKey, QFileInfo(QString::fromStdString(hex)).absolutePath());
  }
  ui_->ProgressBar1->setVisible(false);
  ui_->ProgressBar1->setValue(0);
  RunTail(tail);
  RefreshControllers();
}

void frmMain::SaveLogClick() {
  QString folder = Remembered().value(kLastFolderKey).toString();
  const std::string name =
      "flashtool-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toStdString() + ".txt";
  const auto file = dialogs_.SaveFile(
      {"Save Log", "Text Files (*.txt)|*.txt|All Files (*.*)|*.*", folder.toStdString(), name});
  if (!file || file->empty()) return;
  auto fail = [&](const std::string& why) {
    dialogs_.Message({"The log could not be saved to " + *file + ": " + why, env_.title, hx::MsgButtons::Ok,
                      hx::MsgIcon::Critical});
  };
  // Replaced as one step: an old log is never half replaced, and a full
  // disk or a file-size limit leaves no temporary file behind.
  const QByteArray text = (ui_->lstLog->toPlainText() + "\n").toUtf8();
  if (const auto status = hx::AtomicReplace(*file, std::string_view(text.constData(), text.size()));
      !status.ok()) {
    return fail(status.reason);
  }
}

void frmMain::CancelClick() {
  if (running_) stopRequested_ = true;
}

void frmMain::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The run closes the window itself; an endless loop (spy, boot mode)
    // ends, and a run is cancelled, at the operator's request.
    stopRequested_ = true;
    event->ignore();
    return;
  }
  core_->Form_Unload();
  event->accept();
}

void frmMain::PrintLine(const std::string& line) {
  ui_->printArea->setVisible(true);
  ui_->printArea->appendPlainText(QString::fromStdString(line));
}

void frmMain::SetStatus(const std::string& text) { ui_->txtOpStatus->setText(QString::fromStdString(text)); }

void frmMain::ShowProgress() { ui_->ProgressBar1->setVisible(true); }

void frmMain::SetProgressRange(int min, int max) { ui_->ProgressBar1->setRange(min, max); }

void frmMain::SetProgressValue(int value) { ui_->ProgressBar1->setValue(value); }

void frmMain::DoEvents() { QCoreApplication::processEvents(); }

void frmMain::ShowRawBytes(const std::string& hex) {
  ui_->printArea->setVisible(true);
  ui_->printArea->appendPlainText(QString::fromStdString(hex));
}

void frmMain::LogHeader(const std::string& line) {
  const QString text = QString::fromStdString(line);
  QTextDocument* document = ui_->lstLog->document();
  if (document->isEmpty() || runFirstLine_ >= document->blockCount()) {
    ui_->lstLog->appendPlainText(text);
    return;
  }
  QTextCursor at(document->findBlockByNumber(runFirstLine_));
  at.insertText(text + "\n");
}

void frmMain::Log(const std::string& line) {
  ui_->lstLog->appendPlainText(QTime::currentTime().toString("HH:mm:ss") + "  " +
                               QString::fromStdString(line));
}
