#include "support/whole_captions.h"

#include <QAbstractButton>
#include <QLabel>

namespace hx::test {

std::vector<std::string> CutCaptions(const QWidget& root) {
  std::vector<std::string> cut;
  for (const QWidget* w : root.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&root)) continue;
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w); label && !label->wordWrap()) text = label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) text = button->text();
    if (text.isEmpty() || w->sizeHint().width() <= w->width()) continue;
    cut.push_back(w->objectName().toStdString() + " \"" + text.toStdString() + "\" " + std::to_string(w->width()) +
                  " < " + std::to_string(w->sizeHint().width()));
  }
  return cut;
}

}  // namespace hx::test
