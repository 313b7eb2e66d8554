// The trend chart with a long run already plotted. One tick: the update of
// all four series plus the repaint of the chart, and the bytes held for the
// points, with a day, a week and a month of points per series. One zoom or
// pan step with a week: the wheel or mouse event sent to the chart, then the
// repaint. Saving a week as CSV and the chart as PNG. Beside each, plain Qt
// Charts line series that hold every point, with a day.
//
// A tick or a step is measured as the program runs it: the event or update,
// then the return to the event loop, which processes the scene's changes and
// repaints once.
//
// Run: QT_QPA_PLATFORM=offscreen build-bench/bin/chart_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QMouseEvent>
#include <QValueAxis>
#include <QWheelEvent>
#include <filesystem>
#include <memory>

#include "hydrix/mainscreen/trend_chart.h"

namespace {

constexpr int kDay = 86400;
constexpr int kWeek = 7 * kDay;
constexpr int kMonth = 30 * kDay;
constexpr int kSeries = hx::TrendData::kSeries;

// A measure that moves like the simulator's, sample i of series s.
double Measure(int s, int i) {
  static const double base[kSeries] = {21, 13, 600, 200};
  return base[s] + (i % 97) * (s == 1 ? 0.01 : 1.0);
}

// Our chart with `points` ticks of one run, shown.
std::unique_ptr<TrendChart> FilledChart(int points) {
  auto chart = std::make_unique<TrendChart>();
  chart->resize(900, 450);
  chart->Build({"Temperature (°C)", "Batterie Voltage (V)", "Battery Charging Current (mA)",
                "Battery Discharging Current (mA)"});
  chart->StartRun(hx::TrendData::Clock::now());
  for (int i = 0; i < points; ++i) {
    for (int s = 0; s < kSeries; ++s) chart->data().Add(s, kSeries * i + s, Measure(s, i));
  }
  chart->data().SetNumeroPoint(kSeries * points);
  chart->show();
  chart->Trace({"21", "13.00", "600", "200"});
  QApplication::processEvents();
  return chart;
}

void BM_TrendChartTick(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  auto chart = FilledChart(points);
  int i = points;
  for (auto _ : state) {
    ++i;
    chart->Trace({std::to_string(Measure(0, i)), std::to_string(Measure(1, i)), std::to_string(Measure(2, i)),
                  std::to_string(Measure(3, i))});
    // The return to the event loop: the scene's updates and one repaint.
    QApplication::processEvents();
  }
  std::size_t bytes = chart->data().BytesHeld();
  for (int s = 0; s < kSeries; ++s) bytes += chart->Drawn(s).capacity() * sizeof(hx::TrendData::Point);
  state.counters["bytes_held"] = static_cast<double>(bytes);
  state.counters["points_per_series"] = static_cast<double>(chart->data().Count(0));
  state.counters["drawn_per_series"] = static_cast<double>(chart->Drawn(0).size());
}
BENCHMARK(BM_TrendChartTick)->Arg(kDay)->Arg(kWeek)->Arg(kMonth)->Unit(benchmark::kMillisecond);

// One wheel notch (in, then out, in turn) or one pan step of a dragging
// mouse, with a week of points: the event, then the repaint.
void BM_TrendChartZoomOrPanStep(benchmark::State& state) {
  auto chart = FilledChart(kWeek);
  QWidget* viewport = chart->view()->viewport();
  const QPointF centre(viewport->width() / 2.0, viewport->height() / 2.0);
  const bool pan = state.range(0) == 1;
  if (pan) {
    // Zoomed to a day, then dragged to and fro by 40 pixels.
    chart->ShowRange(kSeries * 3.0 * kDay, kSeries * 4.0 * kDay);
    QMouseEvent press(QEvent::MouseButtonPress, centre, viewport->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &press);
  }
  QApplication::processEvents();
  int n = 0;
  for (auto _ : state) {
    ++n;
    if (pan) {
      const QPointF at = centre + QPointF(n % 2 ? 40 : 0, 0);
      QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                       Qt::NoModifier);
      QApplication::sendEvent(viewport, &move);
    } else {
      QWheelEvent wheel(centre, viewport->mapToGlobal(centre), {}, QPoint(0, n % 2 ? 120 : -120),
                        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(viewport, &wheel);
    }
    QApplication::processEvents();
  }
  state.SetLabel(pan ? "pan" : "zoom");
}
BENCHMARK(BM_TrendChartZoomOrPanStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Saving a week: the CSV of every tick, and the PNG of the chart.
void BM_TrendChartSave(benchmark::State& state) {
  auto chart = FilledChart(kWeek);
  const bool png = state.range(0) == 1;
  const auto file = std::filesystem::temp_directory_path() / (png ? "chart_bench.png" : "chart_bench.csv");
  for (auto _ : state) {
    const std::string why = png ? chart->SaveImage(file.string()) : chart->SaveCsv(file.string());
    if (!why.empty()) state.SkipWithError(why.c_str());
  }
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(file));
  state.SetLabel(png ? "png" : "csv");
  std::filesystem::remove(file);
}
BENCHMARK(BM_TrendChartSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// The thinning alone: the four views of one tick, 315 columns each.
void BM_TrendDataThin(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  hx::TrendData data;
  for (int i = 0; i < points; ++i) {
    for (int s = 0; s < kSeries; ++s) data.Add(s, kSeries * i + s, Measure(s, i));
  }
  std::vector<hx::TrendData::Point> view;
  for (auto _ : state) {
    for (int s = 0; s < kSeries; ++s) {
      view.clear();
      data.Thin(s, 0, kSeries * points, 315, view);
      benchmark::DoNotOptimize(view.data());
    }
  }
}
BENCHMARK(BM_TrendDataThin)->Arg(kDay)->Arg(kWeek)->Unit(benchmark::kMicrosecond);

// Plain Qt Charts: four line series that hold every point, one append each
// per tick, as a chart without thinning would do.
void BM_plainQtChartsTick(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  QChartView view;
  view.resize(900, 450);
  auto* axisX = new QValueAxis(&view);
  view.chart()->addAxis(axisX, Qt::AlignBottom);
  QLineSeries* series[kSeries];
  for (int s = 0; s < kSeries; ++s) {
    series[s] = new QLineSeries(&view);
    QList<QPointF> list;
    list.reserve(points);
    for (int i = 0; i < points; ++i) list.append(QPointF(kSeries * i + s, Measure(s, i)));
    series[s]->replace(list);
    view.chart()->addSeries(series[s]);
    auto* axisY = new QValueAxis(&view);
    axisY->setRange(0, s == 1 ? 15 : s == 0 ? 150 : 1000);
    view.chart()->addAxis(axisY, s % 2 ? Qt::AlignRight : Qt::AlignLeft);
    series[s]->attachAxis(axisX);
    series[s]->attachAxis(axisY);
  }
  view.show();
  QApplication::processEvents();
  int i = points;
  for (auto _ : state) {
    ++i;
    axisX->setRange(0, kSeries * i);
    for (int s = 0; s < kSeries; ++s) series[s]->append(kSeries * i + s, Measure(s, i));
    QApplication::processEvents();
  }
  state.counters["bytes_held"] = static_cast<double>(kSeries) * series[0]->count() * sizeof(QPointF);
  state.counters["points_per_series"] = series[0]->count();
  state.counters["drawn_per_series"] = series[0]->count();
}
BENCHMARK(BM_plainQtChartsTick)->Arg(kDay)->Unit(benchmark::kMillisecond)->Iterations(5);

// Plain Qt Charts holding a day: one zoom step (the X range changed, then
// the repaint), and its image grabbed as PNG.
void BM_plainQtChartsZoomAndImage(benchmark::State& state) {
  QChartView view;
  view.resize(900, 450);
  auto* axisX = new QValueAxis(&view);
  view.chart()->addAxis(axisX, Qt::AlignBottom);
  for (int s = 0; s < kSeries; ++s) {
    auto* series = new QLineSeries(&view);
    QList<QPointF> list;
    for (int i = 0; i < kDay; ++i) list.append(QPointF(kSeries * i + s, Measure(s, i)));
    series->replace(list);
    view.chart()->addSeries(series);
    auto* axisY = new QValueAxis(&view);
    view.chart()->addAxis(axisY, s % 2 ? Qt::AlignRight : Qt::AlignLeft);
    series->attachAxis(axisX);
    series->attachAxis(axisY);
  }
  axisX->setRange(0, kSeries * kDay);
  view.show();
  QApplication::processEvents();
  const bool image = state.range(0) == 1;
  int n = 0;
  for (auto _ : state) {
    ++n;
    if (image) {
      QByteArray png;
      QBuffer buffer(&png);
      buffer.open(QIODevice::WriteOnly);
      view.grab().save(&buffer, "PNG");
      benchmark::DoNotOptimize(png.data());
    } else {
      view.chart()->zoom(n % 2 ? 1.25 : 0.8);
      QApplication::processEvents();
    }
  }
  state.SetLabel(image ? "png" : "zoom");
}
BENCHMARK(BM_plainQtChartsZoomAndImage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
