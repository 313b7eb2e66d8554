#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include "common/qt_dialog_service.h"

namespace {

// Shows `text` in a real box and checks, while it is open, that its label
// holds the whole text and the box the whole title.
void ExpectWholeBox(const std::string& text, const std::string& title) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    auto* label = box->findChild<QLabel*>("qt_msgbox_label");
    ASSERT_NE(label, nullptr);
    const QRect need = label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 100000),
                                                         Qt::TextWordWrap, label->text());
    EXPECT_LE(need.width(), label->width()) << text;
    EXPECT_LE(need.height(), label->height()) << text;
    EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(QString::fromStdString(title))) << title;
    seen = true;
    box->done(QMessageBox::No);
  });
  hx::QtDialogService service;
  service.Message({text, title, hx::MsgButtons::YesNo, hx::MsgIcon::Question, true});
  EXPECT_TRUE(seen);
}

TEST(QtDialogServiceTest, ABoxShowsItsWholeTextAndTitle) {
  ExpectWholeBox("Parameters Writed", "HydrixIP");
  ExpectWholeBox("Another controller (serial 23995411) now answers on this connection; read it first.",
                 "HydrixIP");
  ExpectWholeBox(std::string("Some of the boxes hold values outside their limits: ") +
                     "Start @Low Battery Level (V) 3.00 is below 9.00, Alarm Battery Level (V) 40.00 is "
                     "above 32.76, Solenoid Pulse(ms) 5 is below 10. Write them anyway?",
                 "A title long enough to be cut by a narrow box's title bar");
}

}  // namespace
