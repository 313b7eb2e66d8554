#include "hydrix/mainscreen/language_pass.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

#include "common/numbers.h"
#include "hydrix/config/captions.h"
#include "hydrix/mainscreen/trend_chart.h"
#include "hydrix/settings/parameter_map.h"
#include "ui_MainScreen.h"

namespace hx {

namespace {

const std::string kEnglish = "English";

// Labels that show the controller's data rather than a caption: a language
// change must not put a catalogue text over a value read from the controller.
const QStringList kValueLabels = {"NumeroSerie", "DateProgrammation", "Version", "txtCurrentTime", "Message"};

// The caption of a control, for the kinds that have one.
bool Caption(QObject* o, QString& text) {
  if (auto* g = qobject_cast<QGroupBox*>(o)) return text = g->title(), true;
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return text = b->text(), true;
  // A picture has no caption.
  if (auto* l = qobject_cast<QLabel*>(o)) return l->pixmap().isNull() && (text = l->text(), true);
  if (auto* m = qobject_cast<QMenu*>(o)) return text = m->title(), true;
  if (auto* a = qobject_cast<QAction*>(o)) return text = a->text(), true;
  return false;
}

void SetCaption(QObject* o, const QString& text) {
  if (auto* g = qobject_cast<QGroupBox*>(o)) return g->setTitle(text);
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->setText(text);
  if (auto* l = qobject_cast<QLabel*>(o)) return l->setText(text);
  if (auto* m = qobject_cast<QMenu*>(o)) return m->setTitle(text);
  if (auto* a = qobject_cast<QAction*>(o)) return a->setText(text);
}

}  // namespace

LanguagePass::LanguagePass(FrameContext& context, std::function<void()> refreshMeasures)
    : ctx_(context), refreshMeasures_(std::move(refreshMeasures)) {
  // The captions as designed, before any language pass or reading changes
  // a label: what the catalogue's new entries are given.
  for (QObject* o : ctx_.window.findChildren<QObject*>()) {
    QString caption;
    if (Caption(o, caption)) designCaptions_.insert(o, caption);
  }
  connect(ctx_.ui.ListeLangues, &QComboBox::currentIndexChanged, this, [this] {
    if (!fillingLanguages_) ListeLangues_Change();
  });
}

void LanguagePass::RemplitListeLangues(const QString& language) {
  QComboBox* box = ctx_.ui.ListeLangues;
  const LanguageList list = ctx_.config.RemplitListeLangues(S(language));
  fillingLanguages_ = true;
  box->clear();
  for (const auto& name : list.names) box->addItem(Q(name));
  box->setCurrentIndex(-1);
  fillingLanguages_ = false;
  // Selecting the item is a language change of its own; with none to
  // select there is no change (and no empty language is recorded).
  if (list.selected >= 0) box->setCurrentIndex(list.selected);
}

void LanguagePass::TraduitEcran(const QString& language, bool fill) {
  if (fill) RemplitListeLangues(language);
  Ui::MainScreen& ui = ctx_.ui;
  const std::string lang = S(language);
  auto translate = [&](QObject* o) {
    QString caption;
    if (o->objectName().isEmpty() || o->objectName().startsWith("qt_") ||
        kValueLabels.contains(o->objectName()) || !Caption(o, caption)) {
      return;
    }
    // A missing entry gets the form's caption, never a text a reading put there.
    SetCaption(o, Q(ctx_.config.LitMessage(lang, S(o->objectName()), S(designCaptions_.value(o, caption)))));
  };
  // The order of the visit: the menu bar's menus and items from left to
  // right, each menu followed by its items; then every widget of the window
  // in the order of the form, depth first.
  for (QAction* a : ui.menubar->actions()) {
    if (QMenu* menu = a->menu()) {
      translate(menu);
      for (QAction* item : menu->actions()) translate(item);
    } else {
      translate(a);
    }
  }
  for (QWidget* w : ui.centralwidget->findChildren<QWidget*>()) translate(w);

  const std::string shown = S(ui.ListeLangues->currentText());
  for (const auto& c : FixedCaptions()) {
    QObject* o = c.index >= 0 ? static_cast<QObject*>(ctx_.Control<QWidget>(c.control, c.index))
                              : static_cast<QObject*>(ctx_.Control<QWidget>(c.control));
    if (o) SetCaption(o, Q(ctx_.config.LitMessage(shown, c.key, "")));
  }
  // The power, output and lamp labels show the last measures, not captions.
  refreshMeasures_();
  ApplyAddedTexts();
  ui.Message->clear();
  if (auto problem = ctx_.config.TakeProblem()) ctx_.Say(*problem);
}

QString LanguagePass::Text(const char* code, const char* english) const {
  // The texts this window added to the design's go through the catalogue by
  // name, in the language on screen, like the design's captions.
  const QString shown = ctx_.ui.ListeLangues->currentText();
  return Q(ctx_.config.LitMessage(shown.isEmpty() ? kEnglish : S(shown), code, english));
}

void LanguagePass::ApplyAddedTexts() {
  Ui::MainScreen& ui = ctx_.ui;
  ui.Lire->setStatusTip(
      Text("StatusTipLire", "Reads the settings, measures and clock of the controller (F5)."));
  ui.LectureContinu->setStatusTip(Text("StatusTipLectureContinu", "Reads the measures every second (F6)."));
  ui.Ecrire->setStatusTip(Text(
      "StatusTipEcrire", "Writes the settings on screen to the controller, then resets it (Ctrl+Shift+W)."));
  ui.Raz->setStatusTip(Text("StatusTipRaz", "Restores the controller's factory settings (asks first)."));
  ui.SetTime->setStatusTip(Text("StatusTipSetTime", "Sets the controller's clock from this PC's clock."));
  ui.Madate->setStatusTip(
      Text("StatusTipDate", "The time at which the controller's clock was last set from this PC."));
  // Every setting box says its unit and limits in the status bar.
  for (const auto& f : ParameterMap()) {
    if (f.control_kind != ControlKind::TextBox || !f.check) continue;
    const std::string key = f.key;
    const char* unit = key.ends_with("_V") ? "V" : key.ends_with("_ms") ? "ms" : "s";
    ctx_.Control<QLineEdit>(f.control, f.index)
        ->setStatusTip(Text("StatusTipLimits", "%1 to %2 %3.")
                           .arg(Q(ShortestDecimal(f.check->min)), Q(ShortestDecimal(f.check->max)), unit));
  }
  ctx_.Control<QLineEdit>("Text1", 6)
      ->setStatusTip(Text("StatusTipPulse",
                          "Solenoid pulse in ms, 10 to 1000: the controller stores it in steps of 3.2 ms "
                          "(350 is stored as 349)."));
  ctx_.Control<QLineEdit>("Text1", 7)
      ->setStatusTip(Text("StatusTipAlarm", "Alarm level in V, up to 32.767 V."));
  ui.ValeurNumeroSerie->setStatusTip(
      Text("StatusTipSerial",
           "The serial number to write. Once one was written from this PC, the box proposes the next one."));
  // The chart's own buttons and menu; its series keep their design titles.
  if (auto* chart = ctx_.window.findChild<TrendChart*>())
    chart->ApplyTexts([this](const char* code, const char* english) { return Text(code, english); });
  ctx_.updateStatus();
}

void LanguagePass::ListeLangues_Change() {
  const QString language = ctx_.ui.ListeLangues->currentText();
  TraduitEcran(language, false);
  ctx_.config.EcritConfiguration("Langue", S(language));
}

}  // namespace hx
