// The trend chart as a technician reads it: decimals, runs apart, the time
// axis and round scales, zoom, pan and the readout by the mouse, and the
// chart taken away as CSV and PNG through the window's menus.
#include <QAction>
#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QGraphicsPathItem>
#include <QImage>
#include <QMenu>
#include <QPainterPath>
#include <QToolButton>
#include <QValueAxis>
#include <QWheelEvent>

#include <cmath>
#include <fstream>
#include <sstream>

#include "hydrix/mainscreen/trend_chart.h"
#include "hydrix/settings/measure_log.h"
#include "live_view_fixture.h"

namespace hx::test {
namespace {

using P = TrendData::Point;

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int Subpaths(const QPainterPath& path) {
  int n = 0;
  for (int i = 0; i < path.elementCount(); ++i) n += path.elementAt(i).isMoveTo();
  return n;
}

TEST_F(LiveViewTest, RunsAreDrawnApartWithDecimalsAndTheChartIsExportedAsCsvAndPng) {
  usb.Add(5);
  Word(5, 0, 12480), Word(5, 2, 21), Word(5, 4, 776), Word(5, 6, 189);
  Start();
  TrendChart* chart = window_->Chart();
  auto* reading = Get<QCheckBox>("LectureContinu");
  reading->setChecked(true);
  Tick();
  Tick();
  reading->setChecked(false);  // a second run, without Clear Graphic
  Word(5, 0, 11960);
  reading->setChecked(true);
  Tick();
  EXPECT_EQ(chart->data().Points(1), (std::vector<P>{{1, 12.48}, {5, 12.48}, {1, 11.96}}));
  // Two segments, nothing joining the end of the first run to the second.
  EXPECT_EQ(chart->DrawnStarts(1), (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(Subpaths(chart->Line(1)->path()), 2);
  EXPECT_EQ(chart->Line(1)->path().elementCount(), 3);
  EXPECT_EQ(chart->Scale(0)->tickInterval(), 30);
  EXPECT_EQ(chart->Scale(1)->tickInterval(), 3);
  EXPECT_EQ(chart->Scale(2)->tickInterval(), 200);

  // The data, one row per tick of each run, as the boxes showed it.
  const auto& runs = chart->data().Readings();
  ASSERT_EQ(runs.size(), 2u);
  const auto csv = folder_ / "chart.csv";
  dialogs.files.push_back(csv.string());
  window_->findChild<QAction*>("mnuExportChart")->trigger();
  using std::chrono::seconds;
  EXPECT_EQ(ReadFile(csv),
            "time,elapsed_s,battery_voltage_V,temperature_C,charging_current_mA,discharging_current_mA\n" +
                IsoLocalTime(runs[0].start) + ",0,12.48,21,776,189\n" +
                IsoLocalTime(runs[0].start + seconds(1)) + ",1,12.48,21,776,189\n" +
                IsoLocalTime(runs[1].start) + ",0,11.96,21,776,189\n");
  EXPECT_EQ(dialogs.fileDialogs.back().title, "Export Chart Data");
  EXPECT_TRUE(dialogs.messages.empty());

  // The image, the size the chart has on screen.
  const auto png = folder_ / "chart.png";
  dialogs.files.push_back(png.string());
  window_->findChild<QAction*>("mnuSaveChartImage")->trigger();
  const QImage image(QString::fromStdString(png.string()), "PNG");
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), chart->view()->size() * chart->view()->devicePixelRatio());

  // The chart's own menu asks the same way; a folder is refused by name and
  // a cancelled dialog does nothing.
  ASSERT_NE(chart->ContextMenu(), nullptr);
  dialogs.files.push_back(folder_.string());
  chart->ContextMenu()->findChild<QAction*>("chartExportData")->trigger();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].text.find("cannot save " + folder_.string()), std::string::npos)
      << dialogs.messages[0].text;
  chart->ContextMenu()->findChild<QAction*>("chartSaveImage")->trigger();  // cancelled
  EXPECT_EQ(dialogs.fileDialogs.back().title, "Save Chart Image");
  EXPECT_EQ(dialogs.messages.size(), 1u);
  EXPECT_TRUE(std::filesystem::is_directory(folder_));
}

// A chart of its own, the size the main window gives it.
class ChartViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chart.Build({"Temperature (°C)", "Batterie Voltage (V)", "Battery Charging Current (mA)",
                 "Battery Discharging Current (mA)"});
    chart.resize(760, 420);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
  }
  // `ticks` ticks of a run, the voltage rising from 12.00 V by 0.01 V a tick.
  void Run(int ticks) {
    chart.StartRun(TrendData::Clock::from_time_t(1700000000));
    for (int t = 0; t < ticks; ++t) {
      for (int s = 0; s < TrendData::kSeries; ++s)
        chart.data().Add(s, 4 * t + s, s == 1 ? 12 + t / 100.0 : 20);
    }
    chart.data().SetNumeroPoint(4 * ticks);
    chart.Trace({"20", QString::number(12 + ticks / 100.0, 'f', 2).toStdString(), "20", "20"});
    QApplication::processEvents();
  }
  QWidget* Viewport() { return chart.view()->viewport(); }
  // The viewport X of the plot's fraction `f` of its width.
  int At(double f) {
    const QRectF plot = chart.chart()->plotArea();
    return chart.view()
        ->mapFromScene(chart.chart()->mapToScene(QPointF(plot.left() + f * plot.width(), 0)))
        .x();
  }
  int MidY() {
    const QRectF plot = chart.chart()->plotArea();
    return chart.view()->mapFromScene(chart.chart()->mapToScene(plot.center())).y();
  }
  void Mouse(QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons buttons,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF at(x, MidY());
    QMouseEvent e(type, at, Viewport()->mapToGlobal(at), button, buttons, modifiers);
    QApplication::sendEvent(Viewport(), &e);
  }
  void Wheel(int x, int notches) {
    const QPointF at(x, MidY());
    QWheelEvent e(at, Viewport()->mapToGlobal(at), {}, QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(Viewport(), &e);
  }
  TrendChart chart;
};

TEST_F(ChartViewTest, TheTimeAxisCountsMinutesThenHours) {
  Run(90);
  QStringList labels = chart.TimeLabels();
  ASSERT_GE(labels.size(), 3);
  EXPECT_TRUE(labels.contains("0:30") && labels.contains("1:00") && labels.contains("1:30"))
      << labels.join(" ").toStdString();
  for (const QString& l : labels)
    EXPECT_TRUE(QRegularExpression("^[0-9]:[0-5][0-9]$").match(l).hasMatch()) << l.toStdString();

  Run(3 * 3600);
  labels = chart.TimeLabels();
  EXPECT_TRUE(labels.contains("1:00") && labels.contains("2:00") && labels.contains("3:00"))
      << labels.join(" ").toStdString();
  EXPECT_LE(labels.size(), 12);
  for (const QString& l : labels)
    EXPECT_TRUE(QRegularExpression("^[0-9]:[0-5][0-9]$").match(l).hasMatch()) << l.toStdString();
}

TEST_F(ChartViewTest, TheMouseZoomsPansAndReadsOutAndADoubleClickShowsTheWholeRun) {
  Run(600);
  const auto whole = chart.Shown();
  EXPECT_FALSE(chart.Zoomed());

  // Two notches in around the middle of the plot: the time there stays put.
  const int mid = At(0.5);
  const double before = whole.first + (whole.second - whole.first) * 0.5;
  Wheel(mid, 2);
  auto shown = chart.Shown();
  EXPECT_TRUE(chart.Zoomed());
  EXPECT_NEAR(shown.second - shown.first, (whole.second - whole.first) * 0.64, 1);
  EXPECT_NEAR(shown.first + (shown.second - shown.first) * 0.5, before, (whole.second - whole.first) / 100);
  EXPECT_LT(chart.Drawn(1).front().x, shown.first + 8);

  // A drag to the right shows earlier times.
  Mouse(QEvent::MouseButtonPress, At(0.5), Qt::LeftButton, Qt::LeftButton);
  Mouse(QEvent::MouseMove, At(0.75), Qt::NoButton, Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, At(0.75), Qt::LeftButton, Qt::NoButton);
  const auto panned = chart.Shown();
  EXPECT_NEAR(panned.first, shown.first - (shown.second - shown.first) * 0.25, 2);
  EXPECT_NEAR(panned.second - panned.first, shown.second - shown.first, 0.01);

  // A rectangle drawn with Shift shows just its time span.
  const double a = panned.first + (panned.second - panned.first) * 0.2;
  const double b = panned.first + (panned.second - panned.first) * 0.4;
  Mouse(QEvent::MouseButtonPress, At(0.2), Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
  Mouse(QEvent::MouseMove, At(0.4), Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);
  Mouse(QEvent::MouseButtonRelease, At(0.4), Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
  shown = chart.Shown();
  EXPECT_NEAR(shown.first, a, (b - a) / 20);
  EXPECT_NEAR(shown.second, b, (b - a) / 20);

  // Hovering: a cursor with the time and the four values of that tick.
  Mouse(QEvent::MouseMove, At(0.5), Qt::NoButton, Qt::NoButton);
  const QString readout = chart.Readout();
  const int tick = static_cast<int>(std::lround(((a + b) / 2 - 1.5) / 4));
  EXPECT_TRUE(readout.startsWith(QString::asprintf("%d:%02d\n", tick / 60, tick % 60)))
      << readout.toStdString();
  EXPECT_TRUE(readout.contains(QString::asprintf("Batterie Voltage (V): %.2f", 12 + tick / 100.0)))
      << readout.toStdString();
  EXPECT_TRUE(readout.contains("Temperature (°C): 20"));

  // Fitting the scales to what is shown: the voltage scale closes in on it,
  // on round values.
  chart.FitButton()->click();
  EXPECT_GT(chart.Scale(1)->min(), 10);
  EXPECT_LT(chart.Scale(1)->max(), 16);
  EXPECT_LE(chart.Scale(1)->max() - chart.Scale(1)->min(), 2);
  const double step = chart.Scale(1)->tickInterval();
  EXPECT_NEAR(std::remainder(chart.Scale(1)->min(), step), 0, 1e-9);

  // A double-click: the whole run again.
  QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, QPoint(At(0.5), MidY()));
  EXPECT_FALSE(chart.Zoomed());
  EXPECT_EQ(chart.Shown(), whole);
  chart.FitButton()->click();
  EXPECT_EQ(chart.Scale(1)->max(), 15);
  EXPECT_EQ(chart.Scale(1)->tickInterval(), 3);
}

}  // namespace
}  // namespace hx::test
