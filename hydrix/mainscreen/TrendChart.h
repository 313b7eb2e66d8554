// The trend chart of the main window: a thin Qt Charts view over TrendData.
// It keeps every point in TrendData and gives each line series only the
// view thinned to the plot's width, replaced in one step per tick, so a week
// of points costs no more to draw than a minute.
#pragma once

#include <QList>
#include <QPointF>
#include <QWidget>
#include <array>
#include <string>

#include "hydrix/mainscreen/trend_data.h"

class QChart;
class QChartView;
class QCheckBox;
class QLineSeries;
class QValueAxis;

// The chart view above a legend of its own: one check box per series, in
// two rows, so the long series titles fit a narrow frame; unticking one
// switches its series off.
class TrendChart : public QWidget {
  Q_OBJECT

 public:
  explicit TrendChart(QWidget* parent = nullptr);

  // Trace(init true): the four series with their titles (temperature,
  // voltage, charging and discharging current), colours and scales.
  void Build(const std::array<QString, hx::TrendData::kSeries>& titles);
  // Trace(init false): one tick from the texts of the four measure boxes
  // (see TrendData::Trace), then the view and the scales.
  int Trace(const std::array<std::string, hx::TrendData::kSeries>& texts);
  // "Clear Graphic": every point goes; series, scales and NumeroPoint stay.
  void Clear();
  // Shows the scales of the active series only, each on its side.
  void DecaleSeries();
  // Switches a series on or off, as a click on its legend entry does.
  void SetActive(int series, bool active);

  QChartView* view() const { return view_; }
  QChart* chart() const;
  hx::TrendData& data() { return data_; }
  QLineSeries* Series(int i) const { return series_[static_cast<std::size_t>(i)]; }
  QValueAxis* Scale(int i) const { return scales_[static_cast<std::size_t>(i)]; }
  QValueAxis* AxisX() const { return axisX_; }
  QCheckBox* LegendEntry(int i) const { return legend_[static_cast<std::size_t>(i)]; }

 private:
  // Gives every active series its thinned view and the X scale its range.
  void Refresh();

  hx::TrendData data_;
  QChartView* view_;
  std::array<QCheckBox*, hx::TrendData::kSeries> legend_{};
  std::array<QLineSeries*, hx::TrendData::kSeries> series_{};
  std::array<QValueAxis*, hx::TrendData::kSeries> scales_{};
  QValueAxis* axisX_ = nullptr;
  std::vector<hx::TrendData::Point> thinned_;
  QList<QPointF> points_;
};
