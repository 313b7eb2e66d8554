#include "frmConnect.h"

#include <QListWidgetItem>

#include "common/busy_cursor.h"
#include "ui_frmConnect.h"

using hx::BusyCursor;

frmConnect::frmConnect(hx::DeviceSelection& selection, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmConnect>()), selection_(selection) {
  ui_->setupUi(this);
  connect(ui_->ViewAll, &QCheckBox::clicked, this, &frmConnect::ViewAll_Click);
  connect(ui_->Listeeline, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { Listeeline_Click(ui_->Listeeline->row(item)); });
  connect(ui_->Listeeline, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { Listeeline_Click(ui_->Listeeline->row(item)); });
  connect(ui_->ExitEtalonnage, &QPushButton::clicked, this, &frmConnect::ExitEtalonnage_Click);
  connect(ui_->Rescan, &QPushButton::clicked, this, &frmConnect::ViewAll_Click);
  // The texts this window added to its design, in the main window's language.
  ui_->heading->setText(Text("SelectionHeading", ui_->heading->text().toStdString()));
  ui_->Rescan->setText(Text("SelectionRescan", ui_->Rescan->text().toStdString()));
  Form_Load();
}

frmConnect::~frmConnect() = default;

void frmConnect::Form_Load() {
  ui_->ViewAll->setChecked(false);
  BusyCursor busy;
  Show(selection_.Load());
}

void frmConnect::ViewAll_Click() {
  BusyCursor busy;
  Show(selection_.ViewAllClick(ui_->ViewAll->isChecked()));
}

void frmConnect::Show(const hx::DeviceList& list) {
  list_ = list;
  ui_->Listeeline->clear();
  for (std::size_t i = 0; i < list.texts.size(); ++i) {
    const std::string detail = i < list.details.size() ? list.details[i] : std::string();
    auto* item = new QListWidgetItem(
        QString::fromStdString(hx::ListedInLanguage(
            list.texts[i] + detail,
            [this](const char* code, const char* english) { return selection_.Text(code, english); })),
        ui_->Listeeline);
    item->setData(Qt::UserRole, list.ids[i]);
  }
  // Selecting the current (or last chosen) controller is not choosing it:
  // the operator still clicks it or presses Enter.
  if (list.selected >= 0) ui_->Listeeline->setCurrentRow(list.selected);
  ui_->Listeeline->setFocus();
  if (list.texts.empty()) {
    ui_->hint->setText(QString::fromStdString(selection_.NothingFoundText()));
  } else {
    ui_->hint->setText(list.texts.size() == 1
                           ? Text("SelectionOneAnswered", "1 controller answered.")
                           : Text("SelectionAnswered", "%1 controllers answered.").arg(list.texts.size()));
  }
}

QString frmConnect::Text(const char* code, const std::string& english) const {
  return QString::fromStdString(selection_.Text(code, english.c_str()));
}

void frmConnect::Listeeline_Click(int row) {
  if (selection_.ListClick(list_, row)) accept();
}

void frmConnect::ExitEtalonnage_Click() {
  selection_.Cancel();
  cancelled_ = true;
  reject();
}

void frmConnect::reject() {
  if (!cancelled_) selection_.CloseBox(list_);
  QDialog::reject();
}
