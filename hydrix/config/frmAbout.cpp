#include "frmAbout.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <cstdlib>

#include "common/paths.h"
#include "hydrix/config/about.h"
#include "ui_frmAbout.h"

frmAbout::frmAbout(hx::DialogService& dialogs, std::function<std::string()> systemInfo, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmAbout>()),
      dialogs_(dialogs),
      systemInfo_(std::move(systemInfo)) {
  ui_->setupUi(this);
  ui_->lblVersion->setText(QString::fromStdString(hx::VersionLine()));
  ui_->Image1->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(64, 64));
  connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

frmAbout::~frmAbout() = default;

void frmAbout::StartSysInfo() {
  const std::string text = systemInfo_ ? systemInfo_() : std::string();
  if (text.empty()) {
    dialogs_.Message({hx::kSysInfoUnavailable, hx::ProgramTitle(), hx::MsgButtons::Ok, hx::MsgIcon::None});
    return;
  }
  QDialog info(this);
  info.setObjectName("SystemInfo");
  info.setWindowTitle("System Information");
  auto* layout = new QVBoxLayout(&info);
  auto* box = new QPlainTextEdit(QString::fromStdString(text), &info);
  box->setObjectName("SystemInfoText");
  box->setReadOnly(true);
  box->setMinimumSize(560, 180);
  layout->addWidget(box);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &info);
  QPushButton* copy = buttons->addButton("Copy", QDialogButtonBox::ActionRole);
  copy->setObjectName("cmdCopy");
  connect(copy, &QPushButton::clicked, &info,
          [box] { QGuiApplication::clipboard()->setText(box->toPlainText()); });
  connect(buttons, &QDialogButtonBox::rejected, &info, &QDialog::reject);
  layout->addWidget(buttons);
  info.exec();
}
