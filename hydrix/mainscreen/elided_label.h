// A status bar line that never widens the window: it asks for no more than
// `widest` pixels, draws what fits with "…" at its end, and holds the whole
// text in its tool tip (text() stays the whole text).
#pragma once

#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace hx {

class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(int widest, QWidget* parent = nullptr) : QLabel(parent), widest_(widest) {}

  void SetWholeText(const QString& text) {
    setText(text);
    setToolTip(text);
    updateGeometry();
  }

  QSize sizeHint() const override {
    const int room = fontMetrics().horizontalAdvance(text()) + contentsMargins().left() +
                     contentsMargins().right() + 2 * margin() + 4;
    return {std::min(widest_, room), QLabel::sizeHint().height()};
  }
  QSize minimumSizeHint() const override {
    return {std::min(widest_, 60), QLabel::minimumSizeHint().height()};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), shown,
                          foregroundRole());
  }

 private:
  int widest_;
};

}  // namespace hx
