#include "frm_etat.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QShortcut>
#include <QTimer>

#include "ui_frm_etat.h"

namespace {

void Show(QLineEdit* box, const std::string& text) { box->setText(QString::fromStdString(text)); }

void ShowLamp(QLineEdit* box, const std::string& text, const hx::Rgb& c) {
  Show(box, text);
  box->setStyleSheet(QString("background-color: rgb(%1, %2, %3); color: black;").arg(c.r).arg(c.g).arg(c.b));
}

}  // namespace

frm_etat::frm_etat(std::function<hx::MeasureBlock()> block, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::frm_etat>()), block_(std::move(block)) {
  ui->setupUi(this);
  setAttribute(Qt::WA_DeleteOnClose);
  // Elements of a control array answer to the array's name.
  static const QRegularExpression element("^(.+)_(\\d+)$");
  for (QWidget* w : findChildren<QWidget*>()) {
    const auto m = element.match(w->objectName());
    if (m.hasMatch() && w->property("index").isValid()) w->setObjectName(m.captured(1));
  }
  connect(ui->Sortir, &QPushButton::clicked, this, &QWidget::close);
  // Escape closes it, as it would a dialog.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &frm_etat::Timer1_Timer);
  Timer1->start();
}

frm_etat::~frm_etat() = default;

void frm_etat::Timer1_Timer() {
  const hx::StateView v = hx::DecodeEtat(block_());
  // An unknown state code leaves the last text.
  if (v.state) Show(Control<QLineEdit>("State", 0), *v.state);
  ShowLamp(ui->Turbine, v.turbine, v.turbineColour);
  ShowLamp(ui->Relay, v.relay, v.relayColour);
  Show(ui->Tension_Batterie, v.tension);
  for (int i = 0; i < 4; ++i) Show(Control<QLineEdit>("State", i + 1), v.delays[static_cast<std::size_t>(i)]);
}
