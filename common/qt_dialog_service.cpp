#include "common/qt_dialog_service.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>

namespace hx {

MsgAnswer QtDialogService::Message(const MessageBoxRequest& request) {
  QMessageBox box(parent_);
  box.setText(QString::fromStdString(request.text));
  box.setWindowTitle(QString::fromStdString(request.title));
  switch (request.icon) {
    case MsgIcon::None:
      box.setIcon(QMessageBox::NoIcon);
      break;
    case MsgIcon::Critical:
      box.setIcon(QMessageBox::Critical);
      break;
    case MsgIcon::Question:
      box.setIcon(QMessageBox::Question);
      break;
    case MsgIcon::Exclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case MsgIcon::Information:
      box.setIcon(QMessageBox::Information);
      break;
  }
  QMessageBox::StandardButtons buttons;
  switch (request.buttons) {
    case MsgButtons::Ok:
      buttons = QMessageBox::Ok;
      break;
    case MsgButtons::OkCancel:
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case MsgButtons::YesNo:
      buttons = QMessageBox::Yes | QMessageBox::No;
      break;
    case MsgButtons::YesNoCancel:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
    case MsgButtons::RetryCancel:
      buttons = QMessageBox::Retry | QMessageBox::Cancel;
      break;
  }
  box.setStandardButtons(buttons);
  // A short text makes a narrow box whose title bar would cut the title. A
  // spacer under the text keeps the box as wide as the title needs; the text
  // itself is never given a width, so the box grows to it and wraps it.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const QString title = box.windowTitle().isEmpty() ? QApplication::applicationName() : box.windowTitle();
    grid->addItem(new QSpacerItem(box.fontMetrics().horizontalAdvance(title) + 120, 0, QSizePolicy::Minimum,
                                  QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  if (request.defaultNo && (buttons & QMessageBox::No)) {
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
  }
  switch (box.exec()) {
    case QMessageBox::Ok:
      return MsgAnswer::Ok;
    case QMessageBox::Yes:
      return MsgAnswer::Yes;
    case QMessageBox::No:
      return MsgAnswer::No;
    case QMessageBox::Retry:
      return MsgAnswer::Retry;
    default:
      return MsgAnswer::Cancel;
  }
}

QString QtDialogService::QtFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString desc = parts[i];
    QStringList patterns = QString(parts[i + 1]).split(';', Qt::SkipEmptyParts);
    // File names are case-sensitive here: "*.HEX" also offers "a.hex".
    for (const QString& p : QStringList(patterns)) {
      for (const QString& v : {p.toLower(), p.toUpper()}) {
        if (!patterns.contains(v)) patterns << v;
      }
    }
    const int open = desc.indexOf('(');
    if (open >= 0) desc = desc.left(open).trimmed();
    out << desc + " (" + patterns.join(' ') + ")";
  }
  return out.join(";;");
}

std::optional<std::string> QtDialogService::OpenFile(const FileDialogRequest& request) {
  QString dir = QString::fromStdString(request.initialFolder);
  if (!request.fileName.empty()) dir += (dir.isEmpty() ? "" : "/") + QString::fromStdString(request.fileName);
  const QString file = QFileDialog::getOpenFileName(parent_, QString::fromStdString(request.title), dir,
                                                    QtFilter(request.filter));
  if (file.isEmpty()) return std::nullopt;
  return file.toStdString();
}

std::optional<std::string> QtDialogService::SaveFile(const FileDialogRequest& request) {
  QString dir = QString::fromStdString(request.initialFolder);
  if (!request.fileName.empty()) dir += (dir.isEmpty() ? "" : "/") + QString::fromStdString(request.fileName);
  if (request.append) {
    QFileDialog dialog(parent_, QString::fromStdString(request.title), dir, QtFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setLabelText(QFileDialog::Accept, "Append");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
  }
  const QString file = QFileDialog::getSaveFileName(parent_, QString::fromStdString(request.title), dir,
                                                    QtFilter(request.filter));
  if (file.isEmpty()) return std::nullopt;
  return file.toStdString();
}

}  // namespace hx
