#include "trend_chart.h"

#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QGraphicsLineItem>
#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QGridLayout>
#include <QLegend>
#include <QLineSeries>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QToolButton>
#include <QValueAxis>
#include <QWheelEvent>
#include <cmath>

#include "hydrix/settings/settings_profile.h"

namespace {

struct SeriesLook {
  const char* unit;  // the scale's title
  double max;
  QColor colour;
};
// In series order: temperature, battery voltage, charging, discharging.
const SeriesLook kLook[hx::TrendData::kSeries] = {
    {"°C", 150, QColor(0, 255, 0)},
    {"Vbat", 15, QColor(255, 0, 0)},
    {"mA in", 1000, QColor(0, 0, 255)},
    {"mA Out", 1000, QColor(255, 255, 0)},
};
constexpr double kTick = hx::TrendData::kSeries;  // X per one-second tick
constexpr int kScaleTicks = 5;                    // intervals of a value scale

// The time of a tick as the axis shows it.
QString TickTime(long long seconds) {
  const long long h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
  return h > 0 ? QString::asprintf("%lld:%02lld:%02lld", h, m, sec)
               : QString::asprintf("%lld:%02lld", m, sec);
}

}  // namespace

TrendChart::TrendChart(QWidget* parent) : QWidget(parent), view_(new QChartView(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_, 1);
  auto* legend = new QGridLayout;
  legend->setContentsMargins(6, 0, 6, 0);
  legend->setVerticalSpacing(0);
  legend->setHorizontalSpacing(4);
  layout->addLayout(legend);
  for (int i = 0; i < hx::TrendData::kSeries; ++i) {
    auto* entry = new QCheckBox(this);
    // No object name: the language pass leaves the series titles alone.
    entry->setProperty("index", i);
    entry->setChecked(true);
    QPixmap swatch(12, 12);
    swatch.fill(kLook[i].colour);
    QPainter(&swatch).drawRect(0, 0, 11, 11);
    entry->setIcon(swatch);
    entry->setIconSize(swatch.size());
    entry->setVisible(false);  // until Build names it
    connect(entry, &QCheckBox::toggled, this, [this, i](bool on) { SetActive(i, on); });
    QFont small = entry->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    entry->setFont(small);
    // One series a row: two side by side would cut the longer titles in
    // the chart's column on a laptop's screen.
    legend->addWidget(entry, i, 0);
    legend_[static_cast<std::size_t>(i)] = entry;
  }
  // The view's two buttons, right of the legend (no object names either:
  // they are the chart's own controls).
  wholeButton_ = new QToolButton(this);
  connect(wholeButton_, &QToolButton::clicked, this, &TrendChart::ShowWholeRun);
  fitButton_ = new QToolButton(this);
  fitButton_->setCheckable(true);
  connect(fitButton_, &QToolButton::toggled, this, &TrendChart::SetFitScales);
  for (QToolButton* b : {wholeButton_, fitButton_}) {
    QFont small = b->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    b->setFont(small);
  }
  // Under the legend, on the right, so the series titles keep their width.
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(wholeButton_);
  buttons->addWidget(fitButton_);
  legend->addLayout(buttons, hx::TrendData::kSeries, 0);

  menu_ = new QMenu(this);
  QAction* exportData = menu_->addAction(QString());
  exportData->setObjectName("chartExportData");
  connect(exportData, &QAction::triggered, this, &TrendChart::exportDataRequested);
  QAction* saveImage = menu_->addAction(QString());
  saveImage->setObjectName("chartSaveImage");
  connect(saveImage, &QAction::triggered, this, &TrendChart::saveImageRequested);
  menu_->addSeparator();
  QAction* whole = menu_->addAction(QString());
  whole->setObjectName("chartWholeRun");
  connect(whole, &QAction::triggered, this, &TrendChart::ShowWholeRun);
  QAction* fit = menu_->addAction(QString());
  fit->setObjectName("chartFitScales");
  fit->setCheckable(true);
  connect(fit, &QAction::triggered, fitButton_, &QToolButton::setChecked);
  connect(fitButton_, &QToolButton::toggled, fit, &QAction::setChecked);
  // English until the window's language pass words them.
  ApplyTexts([](const char*, const char* english) { return QString::fromUtf8(english); });
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { menu_->popup(view_->viewport()->mapToGlobal(at)); });

  view_->setRenderHint(QPainter::Antialiasing, false);
  view_->setMouseTracking(true);
  view_->viewport()->installEventFilter(this);
  // The default look: a dark plot, on which the four colours all read well.
  chart()->setTheme(QChart::ChartThemeDark);
  chart()->setBackgroundRoundness(0);
  // Flat colours: a gradient would be filled again on every repaint.
  chart()->setBackgroundBrush(QColor(40, 40, 46));
  chart()->setMargins(QMargins(4, 4, 4, 4));
  chart()->legend()->setVisible(false);
  chart()->setAnimationOptions(QChart::NoAnimation);
  connect(chart(), &QChart::plotAreaChanged, this, &TrendChart::Refresh);
}

void TrendChart::Build(const std::array<QString, hx::TrendData::kSeries>& titles) {
  if (axisX_) return;
  axisX_ = new QCategoryAxis(this);
  axisX_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  axisX_->setLabelsColor(QColor(220, 220, 220));
  axisX_->setRange(0, 10 * kTick);
  chart()->addAxis(axisX_, Qt::AlignBottom);
  // The lines, clipped to the plot, above its grid.
  clip_ = new QGraphicsRectItem(chart());
  clip_->setPen(Qt::NoPen);
  clip_->setFlag(QGraphicsItem::ItemClipsChildrenToShape);
  clip_->setZValue(50);
  for (int i = 0; i < hx::TrendData::kSeries; ++i) {
    const SeriesLook& look = kLook[i];
    // The series carries the title, the colour and the scale; the path
    // beside it draws the line.
    auto* s = new QLineSeries(this);
    s->setName(titles[static_cast<std::size_t>(i)]);
    s->setColor(look.colour);
    chart()->addSeries(s);
    auto* line = new QGraphicsPathItem(clip_);
    // A cosmetic pen of one pixel: the fastest line the raster engine draws.
    QPen pen(look.colour);
    pen.setWidth(1);
    pen.setCosmetic(true);
    line->setPen(pen);
    lines_[static_cast<std::size_t>(i)] = line;
    auto* scale = new QValueAxis(this);
    scale->setRange(0, look.max);
    // Labels on round values: 0, 30 ... 150; 0, 3 ... 15; 0, 200 ... 1000.
    scale->setTickType(QValueAxis::TicksDynamic);
    scale->setTickAnchor(0);
    scale->setTickInterval(hx::NiceStep(look.max, kScaleTicks));
    // The voltage scale's labels ("15") would be narrower than the ellipsis
    // Qt Charts keeps beside them, which leaves its title no room: one
    // decimal ("15.0") gives "Vbat" its place.
    scale->setLabelFormat(i == 1 ? "%.1f" : "%g");
    // Labels and titles a shade lighter than the line, so the blue one
    // reads on the dark plot too.
    const QColor text =
        QColor::fromRgbF(0.55f * look.colour.redF() + 0.45f, 0.55f * look.colour.greenF() + 0.45f,
                         0.55f * look.colour.blueF() + 0.45f);
    scale->setLinePenColor(look.colour);
    scale->setLabelsColor(text);
    scale->setTitleBrush(text);
    QFont small = scale->labelsFont();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    scale->setLabelsFont(small);
    scale->setTitleFont(small);
    scale->setTitleText(look.unit);
    // Only the main scale draws the grid; the others would cross it.
    scale->setGridLineVisible(i == 0);
    scale->setTruncateLabels(false);
    chart()->addAxis(scale, i % 2 == 1 ? Qt::AlignRight : Qt::AlignLeft);
    s->attachAxis(axisX_);
    s->attachAxis(scale);
    series_[static_cast<std::size_t>(i)] = s;
    scales_[static_cast<std::size_t>(i)] = scale;
    LegendEntry(i)->setText(titles[static_cast<std::size_t>(i)]);
    LegendEntry(i)->setVisible(true);
  }
  QFont small = axisX_->labelsFont();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  axisX_->setLabelsFont(small);
  cursor_ = new QGraphicsLineItem(clip_);
  cursor_->setPen(QPen(QColor(230, 230, 230), 0, Qt::DashLine));
  readoutBox_ = new QGraphicsRectItem(clip_);
  readoutBox_->setBrush(QColor(20, 20, 24, 220));
  readoutBox_->setPen(QPen(QColor(160, 160, 160), 0));
  readout_ = new QGraphicsSimpleTextItem(readoutBox_);
  readout_->setBrush(QColor(235, 235, 235));
  readout_->setFont(small);
  HideCursor();
  band_ = new QGraphicsRectItem(clip_);
  band_->setPen(QPen(QColor(230, 230, 230), 0, Qt::DotLine));
  band_->setBrush(QColor(255, 255, 255, 40));
  band_->hide();
  DecaleSeries();
  Refresh();
}

QChart* TrendChart::chart() const { return view_->chart(); }

int TrendChart::Trace(const std::array<std::string, hx::TrendData::kSeries>& texts) {
  if (!axisX_) return 0;
  const int done = data_.Trace(texts);
  Refresh();
  DecaleSeries();
  return done;
}

void TrendChart::StartRun(hx::TrendData::Clock::time_point start) { data_.StartRun(start); }

void TrendChart::MissTick() { data_.MissTick(); }

void TrendChart::Clear() {
  data_.Clear();
  Refresh();
}

void TrendChart::SetActive(int series, bool active) {
  if (!axisX_ || (data_.Active(series) == active && Series(series)->isVisible() == active)) return;
  data_.SetActive(series, active);
  Series(series)->setVisible(active);
  Line(series)->setVisible(active);
  LegendEntry(series)->setChecked(active);
  Refresh();
  DecaleSeries();
}

void TrendChart::DecaleSeries() {
  const auto layout = hx::DecaleSeries(data_.ActiveSeries());
  if (!layout) return;
  // Qt Charts places the scales of one side next to each other, the main one
  // nearest the plot; only which are shown is ours to set.
  for (int i = 0; i < hx::TrendData::kSeries; ++i)
    Scale(i)->setVisible((*layout)[static_cast<std::size_t>(i)].visible);
}

void TrendChart::ApplyTexts(const std::function<QString(const char* code, const char* english)>& text) {
  const QString whole = text("ChartWholeRun", "Whole Run");
  const QString fit = text("ChartFitScales", "Fit Scales");
  wholeButton_->setText(whole);
  wholeButton_->setToolTip(text("ChartWholeRunTip", "Show the whole run again (or double-click the chart)"));
  fitButton_->setText(fit);
  fitButton_->setToolTip(text("ChartFitScalesTip", "Fit each scale to the values shown"));
  // The menu's file items say what the window's menu items of the same
  // name say.
  menu_->findChild<QAction*>("chartExportData")->setText(text("mnuExportChart", "Export Chart Data…"));
  menu_->findChild<QAction*>("chartSaveImage")->setText(text("mnuSaveChartImage", "Save Chart Image…"));
  menu_->findChild<QAction*>("chartWholeRun")->setText(whole);
  menu_->findChild<QAction*>("chartFitScales")->setText(fit);
}

void TrendChart::ShowWholeRun() {
  whole_ = true;
  Refresh();
}

void TrendChart::SetFitScales(bool fit) {
  fit_ = fit;
  if (fitButton_->isChecked() != fit) fitButton_->setChecked(fit);
  Refresh();
}

void TrendChart::ShowRange(double x0, double x1) {
  if (!axisX_) return;
  // At least two ticks shown, and never before the run's start.
  if (x1 - x0 < 2 * kTick) {
    const double mid = (x0 + x1) / 2;
    x0 = mid - kTick, x1 = mid + kTick;
  }
  if (x0 < 0) x1 -= x0, x0 = 0;
  whole_ = false;
  x0_ = x0, x1_ = x1;
  Refresh();
}

std::pair<double, double> TrendChart::Shown() const {
  return axisX_ ? std::pair{axisX_->min(), axisX_->max()} : std::pair{0.0, 0.0};
}

void TrendChart::Refresh() {
  if (!series_.back()) return;  // not built yet
  const auto range = data_.XRange();
  double x0 = x0_, x1 = x1_;
  if (whole_) {
    // The X scale grows by steps of a tenth of its span (at least ten
    // ticks), so most ticks leave it alone and only the lines are redrawn.
    x0 = range ? std::min<double>(range->first, 0) : 0;
    x1 = axisX_->max();
    const double last = range ? range->second : 0;
    if (x0 != axisX_->min() || last > x1 || x1 - last > (x1 - x0) / 2) {
      const double span = std::max(last - x0, 10 * kTick);
      const double step = kTick * std::pow(10.0, std::floor(std::log10(span / kTick / 10)));
      x1 = std::ceil((last + span / 10) / step) * step;
    }
  }
  if (axisX_->min() != x0 || axisX_->max() != x1) axisX_->setRange(x0, x1);
  const QRectF plot = chart()->plotArea();
  LabelTime(x0, x1);
  clip_->setRect(plot);
  // Columns of two pixels: each keeps its minimum and maximum, so every
  // spike still shows, at a few points per column whatever the run's length.
  const int columns = std::max(1, static_cast<int>(plot.width()) / 2);
  const double xScale = plot.width() / std::max(x1 - x0, 1e-9);
  for (int i = 0; i < hx::TrendData::kSeries; ++i) {
    auto& drawn = drawn_[static_cast<std::size_t>(i)];
    auto& starts = starts_[static_cast<std::size_t>(i)];
    drawn.clear(), starts.clear();
    if (data_.Active(i)) data_.Thin(i, x0, x1, columns, drawn, &starts);
    // The scale: its full range, or fitted to what is shown.
    double lo = 0, hi = kLook[i].max, interval = hx::NiceStep(hi, kScaleTicks);
    if (fit_ && !drawn.empty()) {
      auto [mn, mx] = std::minmax_element(drawn.begin(), drawn.end(),
                                          [](const auto& a, const auto& b) { return a.y < b.y; });
      // Round values around what is shown, at least a tenth of the full
      // range, so a flat line is not blown up into noise.
      interval = hx::NiceStep(std::max(mx->y - mn->y, kLook[i].max / 10), kScaleTicks);
      lo = std::floor(mn->y / interval) * interval, hi = std::ceil(mx->y / interval) * interval;
      if (hi - lo < interval) lo -= interval, hi += interval;
    }
    QValueAxis* scale = Scale(i);
    if (scale->min() != lo || scale->max() != hi) {
      // The new interval before a wider range: with the old, finer one the
      // scale would first lay out thousands of ticks.
      if (interval > scale->tickInterval()) scale->setTickInterval(interval);
      scale->setRange(lo, hi);
      scale->setTickInterval(interval);
    }
    // The path: one subpath per segment, in the chart's coordinates.
    QPainterPath path;
    const double yScale = plot.height() / std::max(hi - lo, 1e-9);
    std::size_t next = 0;
    for (std::size_t k = 0; k < drawn.size(); ++k) {
      const QPointF at(plot.left() + (drawn[k].x - x0) * xScale, plot.bottom() - (drawn[k].y - lo) * yScale);
      if (next < starts.size() && starts[next] == k) {
        path.moveTo(at);
        ++next;
      } else {
        path.lineTo(at);
      }
    }
    Line(i)->setPath(path);
  }
}

void TrendChart::LabelTime(double x0, double x1) {
  // About one label per 70 pixels.
  const int most = std::max(2, static_cast<int>(chart()->plotArea().width() / 70));
  std::vector<hx::TimeLabel> labels = hx::TimeLabels(x0 / kTick, x1 / kTick, most);
  if (labels == labels_ && axisX_->startValue() == x0) return;
  for (const QString& l : axisX_->categoriesLabels()) axisX_->remove(l);
  // Just before x0, so that a label at x0 itself ("0:00") can be shown.
  const double start = x0 - (x1 - x0) * 1e-6;
  axisX_->setStartValue(start);
  for (const auto& l : labels) {
    if (l.seconds * kTick > start) axisX_->append(QString::fromStdString(l.text), l.seconds * kTick);
  }
  labels_ = std::move(labels);
}

QStringList TrendChart::TimeLabels() const { return axisX_ ? axisX_->categoriesLabels() : QStringList(); }

double TrendChart::XAt(double viewportX) const {
  const QPointF inChart = chart()->mapFromScene(view_->mapToScene(QPoint(static_cast<int>(viewportX), 0)));
  const QRectF plot = chart()->plotArea();
  const auto [x0, x1] = Shown();
  return x0 + (inChart.x() - plot.left()) / std::max(plot.width(), 1.0) * (x1 - x0);
}

void TrendChart::Hover(double viewportX) {
  const QRectF plot = chart()->plotArea();
  const auto [x0, x1] = Shown();
  const double x = XAt(viewportX);
  if (x < x0 || x > x1 || !data_.XRange()) return HideCursor();
  const auto tick = static_cast<std::int32_t>(std::max(0.0, std::round((x - 1.5) / kTick)));
  QString text = TickTime(tick);
  bool any = false;
  for (int i = 0; i < hx::TrendData::kSeries; ++i) {
    if (!data_.Active(i)) continue;
    const auto v = data_.ValueAt(i, static_cast<std::int32_t>(tick * kTick) + i);
    any = any || v;
    text += "\n" + Series(i)->name() + ": " +
            (v ? QString::number(*v, 'f', hx::TrendData::kDecimals[static_cast<std::size_t>(i)]) : "--");
  }
  if (!any) return HideCursor();
  const double px = plot.left() + (tick * kTick + 1.5 - x0) / (x1 - x0) * plot.width();
  cursor_->setLine(px, plot.top(), px, plot.bottom());
  cursor_->show();
  readout_->setText(text);
  const QRectF box = readout_->boundingRect().adjusted(-4, -3, 4, 3);
  // Beside the cursor, on the side with room.
  double left = px + 8;
  if (left + box.width() > plot.right()) left = px - 8 - box.width();
  readoutBox_->setRect(QRectF(0, 0, box.width(), box.height()));
  readout_->setPos(4, 3);
  readoutBox_->setPos(std::max(left, plot.left()), plot.top() + 4);
  readoutBox_->show();
}

void TrendChart::HideCursor() {
  if (!cursor_) return;
  cursor_->hide();
  readoutBox_->hide();
  readout_->setText({});
}

QString TrendChart::Readout() const {
  return readout_ && readoutBox_->isVisible() ? readout_->text() : QString();
}

bool TrendChart::eventFilter(QObject* watched, QEvent* event) {
  if (watched != view_->viewport() || !axisX_) return QWidget::eventFilter(watched, event);
  const QRectF plot = chart()->plotArea();
  auto inChart = [this](QPointF viewport) {
    return chart()->mapFromScene(view_->mapToScene(viewport.toPoint()));
  };
  switch (event->type()) {
    case QEvent::Wheel: {
      auto* e = static_cast<QWheelEvent*>(event);
      if (e->angleDelta().y() == 0) return false;
      // Each notch shows 80 % (in) or 125 % (out) of the span, the time
      // under the pointer staying where it is.
      const double factor = std::pow(0.8, e->angleDelta().y() / 120.0);
      const double at = XAt(e->position().x());
      const auto [x0, x1] = Shown();
      ShowRange(at + (x0 - at) * factor, at + (x1 - at) * factor);
      Hover(e->position().x());
      return true;
    }
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() != Qt::LeftButton || !plot.contains(inChart(e->position()))) return false;
      drag_ = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier) ? Drag::Band : Drag::Pan;
      dragFrom_ = e->position();
      dragRange_ = Shown();
      return true;
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (drag_ == Drag::Pan) {
        const double perPixel = (dragRange_.second - dragRange_.first) / std::max(plot.width(), 1.0);
        const double dx = (e->position().x() - dragFrom_.x()) * perPixel;
        ShowRange(dragRange_.first - dx, dragRange_.second - dx);
      } else if (drag_ == Drag::Band) {
        band_->setRect(QRectF(inChart(dragFrom_), inChart(e->position())).normalized().intersected(plot));
        band_->show();
      }
      Hover(e->position().x());
      return drag_ != Drag::None;
    }
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() != Qt::LeftButton || drag_ == Drag::None) return false;
      if (drag_ == Drag::Band) {
        band_->hide();
        const double a = XAt(dragFrom_.x()), b = XAt(e->position().x());
        // A click is no rectangle.
        if (std::abs(e->position().x() - dragFrom_.x()) > 4) ShowRange(std::min(a, b), std::max(a, b));
      }
      drag_ = Drag::None;
      return true;
    }
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
      drag_ = Drag::None;
      ShowWholeRun();
      return true;
    case QEvent::Leave:
      HideCursor();
      return false;
    default:
      return false;
  }
}

std::string TrendChart::SaveCsv(const std::string& path) const { return hx::SaveProfile(path, data_.Csv()); }

std::string TrendChart::SaveImage(const std::string& path) const {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!view_->grab().save(&buffer, "PNG")) return "cannot save " + path + ": the image could not be made";
  return hx::SaveProfile(path, png.toStdString());
}
