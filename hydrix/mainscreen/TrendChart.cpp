#include "TrendChart.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QGridLayout>
#include <QLegend>
#include <QLineSeries>
#include <QPainter>
#include <QPixmap>
#include <QValueAxis>
#include <cmath>

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
    legend->addWidget(entry, i / 2, i % 2);
    legend_[static_cast<std::size_t>(i)] = entry;
  }
  view_->setRenderHint(QPainter::Antialiasing, false);
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
  axisX_ = new QValueAxis(this);
  axisX_->setLabelFormat("%d");
  axisX_->setLabelsColor(QColor(220, 220, 220));
  axisX_->setRange(0, 10);
  chart()->addAxis(axisX_, Qt::AlignBottom);
  for (int i = 0; i < hx::TrendData::kSeries; ++i) {
    const SeriesLook& look = kLook[i];
    auto* s = new QLineSeries(this);
    s->setName(titles[static_cast<std::size_t>(i)]);
    // A cosmetic pen of one pixel: the fastest line the raster engine draws.
    QPen pen(look.colour);
    pen.setWidth(1);
    pen.setCosmetic(true);
    s->setPen(pen);
    chart()->addSeries(s);
    auto* scale = new QValueAxis(this);
    scale->setRange(0, look.max);
    scale->setTitleText(look.unit);
    scale->setLabelFormat("%g");
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
  DecaleSeries();
}

QChart* TrendChart::chart() const { return view_->chart(); }

int TrendChart::Trace(const std::array<std::string, hx::TrendData::kSeries>& texts) {
  if (!axisX_) return 0;
  const int done = data_.Trace(texts);
  Refresh();
  DecaleSeries();
  return done;
}

void TrendChart::Clear() {
  data_.Clear();
  Refresh();
}

void TrendChart::SetActive(int series, bool active) {
  if (!axisX_ || (data_.Active(series) == active && Series(series)->isVisible() == active)) return;
  data_.SetActive(series, active);
  Series(series)->setVisible(active);
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

void TrendChart::Refresh() {
  if (!series_.back()) return;  // not built yet
  // The X scale grows by steps of a tenth of its span (at least 40 points),
  // so most ticks leave it alone and only the series are redrawn.
  const auto range = data_.XRange();
  const double x0 = range ? range->first : 0;
  double x1 = axisX_->max();
  const double last = range ? range->second : 0;
  if (x0 != axisX_->min() || last > x1 || x1 - last > (x1 - x0) / 2) {
    const double span = std::max(last - x0, 40.0);
    const double step = std::pow(10.0, std::floor(std::log10(span / 10)));
    x1 = std::ceil((last + span / 10) / step) * step;
    axisX_->setRange(x0, x1);
  }
  // Columns of two pixels: each keeps its minimum and maximum, so every
  // spike still shows, and Qt Charts, which spends over a microsecond per
  // drawn point on each update, has half the points to draw.
  const int columns = std::max(1, static_cast<int>(chart()->plotArea().width()) / 2);
  for (int i = 0; i < hx::TrendData::kSeries; ++i) {
    if (!data_.Active(i) && Series(i)->count() == 0) continue;
    thinned_.clear();
    if (data_.Active(i)) data_.Thin(i, x0, x1, columns, thinned_);
    points_.resize(static_cast<qsizetype>(thinned_.size()));
    for (std::size_t k = 0; k < thinned_.size(); ++k)
      points_[static_cast<qsizetype>(k)] = {thinned_[k].x, thinned_[k].y};
    Series(i)->replace(points_);
  }
}
