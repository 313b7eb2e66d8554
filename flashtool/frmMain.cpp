#include "frmMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QTimer>

#include "ui_frmMain.h"

frmMain::frmMain(std::string commandTail, hx::flash::FlashEnvironment env, hx::flash::BootLibrary& library,
                 hx::DialogService& dialogs, hx::flash::FlashClock& clock, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::frmMain>()), tail_(std::move(commandTail)) {
  ui_->setupUi(this);
  ui_->ProgressBar1->setVisible(false);
  ui_->printArea->setVisible(false);
  core_ = std::make_unique<hx::flash::FlashTool>(std::move(env), library, *this, dialogs, clock);
}

frmMain::~frmMain() = default;

void frmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (started_) return;
  started_ = true;
  // Once the window is on screen: load, then the run.
  QTimer::singleShot(0, this, &frmMain::Run);
}

void frmMain::Run() {
  running_ = true;
  hx::flash::RunEnd end = hx::flash::RunEnd::Failed;
  if (core_->Form_Load(tail_)) end = core_->Form_Activate();
  core_->Form_Unload();
  result_ = end;
  running_ = false;
  emit runFinished();
  close();
}

void frmMain::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The run closes the window itself; an endless loop (spy, boot mode)
    // ends at the operator's request.
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
