// The trend chart of the main window: a thin Qt Charts view over TrendData.
// It keeps every point in TrendData and draws only the view thinned to the
// plot's width, one path per series replaced in one step per tick, so a
// week of points costs no more to draw than a minute. The path breaks
// between runs and where a tick added no point. The horizontal scale is the
// time elapsed since the run started.
//
// The mouse: the wheel zooms the time around the pointer, a drag pans, a
// drag with Shift (or Ctrl) zooms to its rectangle, a double-click goes back
// to the whole run; hovering shows a cursor with the time and the values.
#pragma once

#include <QList>
#include <QPointF>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>

#include "hydrix/mainscreen/trend_data.h"

class QCategoryAxis;
class QChart;
class QChartView;
class QCheckBox;
class QGraphicsLineItem;
class QGraphicsPathItem;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QMenu;
class QToolButton;
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
  // Continuous reading switched on: NumeroPoint back to 0, a new run that
  // starts at `start`, drawn apart from the old ones.
  void StartRun(hx::TrendData::Clock::time_point start = hx::TrendData::Clock::now());
  // A tick without a whole answer: a gap in the lines.
  void MissTick();
  // "Clear Graphic": every point goes; series, scales and NumeroPoint stay.
  void Clear();
  // Back to the whole run: the time axis follows the data again and the
  // scales take their full range (or fit the data when that is chosen).
  void ShowWholeRun();
  // Fits each shown scale to the visible data, or gives it its full range.
  void SetFitScales(bool fit);
  // Shows the time span [x0, x1] (in X units) and stops following the data.
  void ShowRange(double x0, double x1);
  // The X range shown.
  std::pair<double, double> Shown() const;
  bool Zoomed() const { return !whole_; }

  // The data as CSV and the chart as a PNG image the size it has on screen,
  // each written through a temporary file. Empty, or why not.
  std::string SaveCsv(const std::string& path) const;
  std::string SaveImage(const std::string& path) const;

  // The readout of the hovering cursor (empty when it is hidden).
  QString Readout() const;
  // The drawn lines of a series: its thinned points and where each line
  // segment starts.
  const std::vector<hx::TrendData::Point>& Drawn(int series) const {
    return drawn_[static_cast<std::size_t>(series)];
  }
  const std::vector<std::size_t>& DrawnStarts(int series) const {
    return starts_[static_cast<std::size_t>(series)];
  }
  QGraphicsPathItem* Line(int series) const { return lines_[static_cast<std::size_t>(series)]; }
  // The time axis' labels, in order.
  QStringList TimeLabels() const;
  QMenu* ContextMenu() const { return menu_; }
  // Words the buttons, their tips and the context menu in the language on
  // screen: `text` gives the catalogue's text for a code, or the English one.
  void ApplyTexts(const std::function<QString(const char* code, const char* english)>& text);
  QToolButton* WholeRunButton() const { return wholeButton_; }
  QToolButton* FitButton() const { return fitButton_; }

 signals:
  // The context menu's "Export Chart Data…" and "Save Chart Image…": the
  // window asks for the file through its dialog service.
  void exportDataRequested();
  void saveImageRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 public:
  // Shows the scales of the active series only, each on its side.
  void DecaleSeries();
  // Switches a series on or off, as a click on its legend entry does.
  void SetActive(int series, bool active);

  QChartView* view() const { return view_; }
  QChart* chart() const;
  hx::TrendData& data() { return data_; }
  QLineSeries* Series(int i) const { return series_[static_cast<std::size_t>(i)]; }
  QValueAxis* Scale(int i) const { return scales_[static_cast<std::size_t>(i)]; }
  QCategoryAxis* AxisX() const { return axisX_; }
  QCheckBox* LegendEntry(int i) const { return legend_[static_cast<std::size_t>(i)]; }

 private:
  // Gives every active series its thinned view and the X scale its range.
  void Refresh();
  // The time labels for the X range, replaced only when they change.
  void LabelTime(double x0, double x1);
  // The X value under a position of the view's viewport.
  double XAt(double viewportX) const;
  // Shows the cursor and its readout at the tick nearest viewport X.
  void Hover(double viewportX);
  void HideCursor();

  hx::TrendData data_;
  QChartView* view_;
  std::array<QCheckBox*, hx::TrendData::kSeries> legend_{};
  std::array<QLineSeries*, hx::TrendData::kSeries> series_{};
  std::array<QValueAxis*, hx::TrendData::kSeries> scales_{};
  QCategoryAxis* axisX_ = nullptr;
  QGraphicsRectItem* clip_ = nullptr;  // the plot area; the lines are clipped to it
  std::array<QGraphicsPathItem*, hx::TrendData::kSeries> lines_{};
  QGraphicsLineItem* cursor_ = nullptr;
  QGraphicsRectItem* readoutBox_ = nullptr;
  QGraphicsSimpleTextItem* readout_ = nullptr;
  QGraphicsRectItem* band_ = nullptr;  // the zoom rectangle while dragged
  QMenu* menu_ = nullptr;
  QToolButton* wholeButton_ = nullptr;
  QToolButton* fitButton_ = nullptr;
  std::array<std::vector<hx::TrendData::Point>, hx::TrendData::kSeries> drawn_;
  std::array<std::vector<std::size_t>, hx::TrendData::kSeries> starts_;
  std::vector<hx::TimeLabel> labels_;
  bool whole_ = true;  // following the whole run
  bool fit_ = false;
  double x0_ = 0, x1_ = 10;  // the range shown when zoomed
  // A drag in progress: where it started, and the range then.
  enum class Drag { None, Pan, Band } drag_ = Drag::None;
  QPointF dragFrom_;
  std::pair<double, double> dragRange_;
};
