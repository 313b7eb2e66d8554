#include "frmAbout.h"

#include <QStyle>
#include <cstdlib>

#include "common/paths.h"
#include "hydrix/config/about.h"
#include "ui_frmAbout.h"

frmAbout::frmAbout(hx::DialogService& dialogs, hx::ProcessStarter& starter, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmAbout>()), dialogs_(dialogs), starter_(starter) {
  ui_->setupUi(this);
  ui_->lblVersion->setText(QString::fromStdString(hx::VersionLine()));
  ui_->Image1->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(64, 64));
  connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui_->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

frmAbout::~frmAbout() = default;

void frmAbout::StartSysInfo() {
  const char* path = std::getenv("PATH");
  const auto tool = hx::FindSysInfoTool(path ? path : "");
  std::string error;
  if (tool && starter_.Start(*tool, {}, error)) return;
  dialogs_.Message({hx::kSysInfoUnavailable, hx::ProgramTitle(), hx::MsgButtons::Ok, hx::MsgIcon::None});
}
