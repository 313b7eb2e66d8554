#include "common/qt_dialog_service.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>
#include <QTextEdit>

namespace hx {

namespace {

// A message box that the operator can resize: Qt fixes a box's size each
// time it lays it out, which would keep a long text in a small box.
class ResizableBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  bool event(QEvent* e) override {
    const bool done = QMessageBox::event(e);
    if (resizable_) {
      setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
      if (auto* details = findChild<QTextEdit*>()) {
        details->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        details->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
      }
    }
    return done;
  }

 public:
  bool resizable_ = false;
};

}  // namespace

BoxText SplitBoxText(const std::string& text) {
  int lines = 1;
  for (char c : text) lines += c == '\n';
  if (text.size() <= kBoxTextLimit && lines <= kBoxLineLimit) return {text, {}};
  // The first sentence (or line) stays in the box; the whole text goes
  // under "Show Details…".
  std::size_t end = std::string::npos;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' ||
        ((c == '.' || c == '?' || c == '!' || c == ':') && (text[i + 1] == ' ' || text[i + 1] == '\n'))) {
      end = c == '\n' ? i : i + 1;
      break;
    }
  }
  std::string first = text.substr(0, end);
  if (first.size() > kBoxTextLimit) {
    // One endless sentence: cut at a blank, and say it goes on.
    std::size_t cut = first.rfind(' ', kBoxTextLimit);
    if (cut == std::string::npos || cut < kBoxTextLimit / 2) cut = kBoxTextLimit;
    while (cut > 0 && (static_cast<unsigned char>(first[cut]) & 0xC0) == 0x80)
      --cut;  // whole UTF-8 characters
    first = first.substr(0, cut) + "…";
  }
  return {first, text};
}

MsgAnswer QtDialogService::Message(const MessageBoxRequest& request) {
  ResizableBox box(parent_);
  const BoxText split = SplitBoxText(request.text);
  box.setText(QString::fromStdString(split.text));
  if (!split.details.empty()) {
    box.setDetailedText(QString::fromStdString(split.details));
    box.setSizeGripEnabled(true);
    box.resizable_ = true;
  }
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
