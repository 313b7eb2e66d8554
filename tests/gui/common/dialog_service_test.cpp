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

TEST(QtDialogServiceTest, ALongReasonShowsItsFirstSentenceAndTheWholeTextUnderDetails) {
  std::string reason = "The firmware could not be written: the boot loader refused row 0x0400.";
  for (int i = 0; i < 12; ++i)
    reason += "\nRow 0x" + std::to_string(4000 + i) + " was not confirmed after 3 tries.";
  ExpectWholeBox(reason, "flashtool");  // the box's own text fits its label
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "The firmware could not be written:");
    EXPECT_EQ(box->detailedText().toStdString(), reason);
    // The operator can make it larger to read the details.
    EXPECT_GT(box->maximumWidth(), box->width());
    EXPECT_GT(box->maximumHeight(), box->height());
    seen = true;
    box->done(QMessageBox::Ok);
  });
  hx::QtDialogService service;
  service.Message({reason, "flashtool", hx::MsgButtons::Ok, hx::MsgIcon::Critical});
  EXPECT_TRUE(seen);
  // One sentence without an end is cut at the limit, and says it goes on.
  const hx::BoxText one = hx::SplitBoxText(std::string(400, 'x') + " tail");
  EXPECT_EQ(one.text, std::string(hx::kBoxTextLimit, 'x') + "…");
  EXPECT_EQ(hx::SplitBoxText("Parameters Writed").details, "");
}

}  // namespace
