#include "frmProduction.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/paths.h"
#include "ui_frmProduction.h"

frmProduction::frmProduction(hx::DialogService& dialogs, std::function<hx::ReportInput()> screen,
                             QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmProduction>()),
      dialogs_(dialogs),
      screen_(std::move(screen)) {
  ui_->setupUi(this);
  connect(ui_->PrintReport, &QPushButton::clicked, this, &frmProduction::PrintReport_Click);
  connect(ui_->Annuler, &QPushButton::clicked, this, &QDialog::reject);
}

frmProduction::~frmProduction() = default;

void frmProduction::PrintReport_Click() {
  const std::string order = ui_->Commande->text().toStdString();
  hx::FileDialogRequest request;
  // The user's documents, else their home; never the program's folder.
  QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (documents.isEmpty() || !QFileInfo(documents).isDir()) documents = QDir::homePath();
  request.initialFolder = documents.toStdString();
  request.title = "Append the production report to a log file";
  request.filter = "Log Files (*.LOG)|*.LOG";
  request.fileName = hx::ProposedLogName(order);
  request.append = true;
  const auto file = dialogs_.SaveFile(request);
  if (!file || file->empty()) return;
  if (order.empty()) {
    dialogs_.Message({hx::kOrderMissing, hx::ProgramTitle(), hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
    return;
  }
  const std::string comments = ui_->Commentaires->toPlainText().toStdString();
  if (const std::string problem = hx::ReportFieldProblem(order, comments); !problem.empty()) {
    dialogs_.Message({problem, hx::ProgramTitle(), hx::MsgButtons::Ok, hx::MsgIcon::Exclamation});
    return;
  }
  hx::ReportInput in = screen_();
  in.orderCaption = ui_->LabelNumeroCommande->text().toStdString();
  in.order = order;
  in.comments = comments;
  const std::string problem = hx::AppendReport(*file, hx::ReportLines(in));
  if (!problem.empty()) {
    // The window stays open so the operator can choose another file.
    dialogs_.Message({problem, hx::ProgramTitle(), hx::MsgButtons::Ok, hx::MsgIcon::Critical});
    return;
  }
  appendedTo_ = *file;
  accept();
}
