// One tick of the trend chart with a long run already plotted: the tick's
// update of all four series plus the repaint of the chart, and the bytes held
// for the points. Ours (every point kept compactly, a view thinned to the
// plot's width) with a day and a week of points per series, beside plain Qt
// Charts line series that hold every point, with a day.
//
// A tick is measured as the program runs it: the update, then the return to
// the event loop, which processes the scene's changes and repaints once.
//
// Run: QT_QPA_PLATFORM=offscreen build-bench/bin/chart_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#include <memory>

#include "TrendChart.h"

namespace {

constexpr int kDay = 86400;
constexpr int kWeek = 7 * kDay;
constexpr int kSeries = hx::TrendData::kSeries;

// A measure that moves like the simulator's, sample i of series s.
double Measure(int s, int i) {
  static const double base[kSeries] = {21, 13, 600, 200};
  return base[s] + (i % 97) * (s == 1 ? 0.01 : 1.0);
}

void BM_TrendChartTick(benchmark::State& state) {
  const int points = static_cast<int>(state.range(0));
  auto chart = std::make_unique<TrendChart>();
  chart->resize(900, 450);
  chart->Build({"Temperature (°C)", "Batterie Voltage (V)", "Battery Charging Current (mA)",
                "Battery Discharging Current (mA)"});
  for (int i = 0; i < points; ++i) {
    for (int s = 0; s < kSeries; ++s) chart->data().Add(s, kSeries * i + s, Measure(s, i));
  }
  chart->data().SetNumeroPoint(kSeries * points);
  chart->show();
  QApplication::processEvents();
  int i = points;
  for (auto _ : state) {
    ++i;
    chart->Trace({std::to_string(Measure(0, i)), std::to_string(Measure(1, i)), std::to_string(Measure(2, i)),
                  std::to_string(Measure(3, i))});
    // The return to the event loop: the scene's updates and one repaint.
    QApplication::processEvents();
  }
  std::size_t bytes = chart->data().BytesHeld();
  for (int s = 0; s < kSeries; ++s)
    bytes += static_cast<std::size_t>(chart->Series(s)->count()) * sizeof(QPointF);
  state.counters["bytes_held"] = static_cast<double>(bytes);
  state.counters["points_per_series"] = static_cast<double>(chart->data().Count(0));
  state.counters["drawn_per_series"] = chart->Series(0)->count();
}
BENCHMARK(BM_TrendChartTick)->Arg(kDay)->Arg(kWeek)->Unit(benchmark::kMillisecond);

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
