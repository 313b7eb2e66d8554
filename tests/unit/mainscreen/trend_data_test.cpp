#include "hydrix/mainscreen/trend_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace hx {
namespace {

using P = TrendData::Point;

TEST(TrendData, ATickAddsOnePointPerSeriesAtConsecutiveXWithTheDecimalsOfItsBox) {
  TrendData d;
  EXPECT_EQ(d.Trace({"21", "12.48", "1500", "200"}), 4);
  EXPECT_EQ(d.Trace({"22", "13.50", "0", "-3"}), 4);
  EXPECT_EQ(d.Trace({"22.5", "-0.05", "0", "0"}), 4);
  EXPECT_EQ(d.Points(0), (std::vector<P>{{0, 21}, {4, 22}, {8, 22}}));  // halves to even
  EXPECT_EQ(d.Points(1), (std::vector<P>{{1, 12.48}, {5, 13.5}, {9, -0.05}}));
  EXPECT_EQ(d.ValueAt(1, 5), 13.5);
  EXPECT_EQ(d.ValueAt(1, 6), std::nullopt);
  d.Add(1, 13, 400);  // beyond what a 16-bit word of hundredths holds
  EXPECT_EQ(d.Points(1).back().y, 327.67);
  d = TrendData();
  d.Trace({"21", "12.50", "1500", "200"});
  d.Trace({"22", "13.50", "0", "-3"});
  EXPECT_EQ(d.Points(2), (std::vector<P>{{2, 1500}, {6, 0}}));
  EXPECT_EQ(d.Points(3), (std::vector<P>{{3, 200}, {7, -3}}));
  EXPECT_EQ(d.NumeroPoint(), 8);
}

TEST(TrendData, ASwitchedOffSeriesTakesNoPointButTheCounterAdvances) {
  TrendData d;
  d.SetActive(1, false);
  d.Trace({"1", "2", "3", "4"});
  EXPECT_EQ(d.Count(1), 0u);
  EXPECT_EQ(d.Points(2), (std::vector<P>{{2, 3}}));
  EXPECT_EQ(d.NumeroPoint(), 4);
  const auto layout = DecaleSeries(d.ActiveSeries());
  ASSERT_TRUE(layout);
  EXPECT_TRUE((*layout)[0].visible);
  EXPECT_FALSE((*layout)[1].visible);
  EXPECT_TRUE((*layout)[2].visible && !(*layout)[2].right && (*layout)[2].offsetPercent == 8);
  EXPECT_TRUE((*layout)[3].visible && (*layout)[3].right && (*layout)[3].offsetPercent == 12);
  EXPECT_FALSE(DecaleSeries({false, false, false, false}));
}

TEST(TrendData, ATextThatIsNoNumberStopsTheTickAtItsSeries) {
  TrendData d;
  EXPECT_EQ(d.Trace({"1", "x", "3", "4"}), 1);
  EXPECT_EQ(d.Count(0), 1u);
  EXPECT_EQ(d.Count(2), 0u);
  EXPECT_EQ(d.NumeroPoint(), 1);
}

TEST(TrendData, ClearKeepsTheCounterAndRestartingDrawsOverTheOldPoints) {
  TrendData d;
  d.Trace({"1", "2", "3", "4"});
  d.Clear();
  EXPECT_EQ(d.Count(0), 0u);
  d.Trace({"5", "6", "7", "8"});
  EXPECT_EQ(d.Points(0), (std::vector<P>{{4, 5}}));
  d.SetNumeroPoint(0);
  d.Trace({"9", "9", "9", "9"});
  EXPECT_EQ(d.Points(0), (std::vector<P>{{4, 5}, {0, 9}}));
  EXPECT_EQ(d.XRange(), (std::pair<std::int32_t, std::int32_t>{0, 7}));
}

// Runs restart X at 0 and are separate lines; a missed tick advances the
// counter by a tick and breaks the line; each run keeps its start time.
TEST(TrendData, RunsAndMissedTicksAreSeparateSegments) {
  TrendData d;
  const auto t0 = TrendData::Clock::from_time_t(1700000000);
  d.StartRun(t0);
  d.Trace({"20", "12.00", "100", "0"});
  d.Trace({"20", "12.10", "100", "0"});
  d.MissTick();
  d.Trace({"21", "12.20", "100", "0"});
  EXPECT_EQ(d.Points(1), (std::vector<P>{{1, 12}, {5, 12.1}, {13, 12.2}}));
  d.StartRun(t0 + std::chrono::seconds(100));
  d.Trace({"22", "12.30", "100", "0"});
  d.Trace({"22", "12.40", "100", "0"});
  std::vector<P> view;
  std::vector<std::size_t> starts;
  d.Thin(1, 0, 13, 400, view, &starts);
  EXPECT_EQ(view, (std::vector<P>{{1, 12}, {5, 12.1}, {13, 12.2}, {1, 12.3}, {5, 12.4}}));
  EXPECT_EQ(starts, (std::vector<std::size_t>{0, 2, 3}));
  ASSERT_EQ(d.Readings().size(), 2u);
  EXPECT_EQ(d.ValueAt(1, 5), 12.4);  // the newest run wins where runs overlap

  // A single point before a gap is not joined to the next one either.
  TrendData one;
  one.Trace({"1", "1", "1", "1"});
  one.MissTick();
  one.MissTick();
  one.Trace({"2", "2", "2", "2"});
  one.Trace({"3", "3", "3", "3"});
  view.clear(), starts.clear();
  one.Thin(0, 0, 20, 400, view, &starts);
  EXPECT_EQ(starts, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(view, (std::vector<P>{{0, 1}, {12, 2}, {16, 3}}));
}

TEST(TrendData, TheCsvHoldsOneRowPerTickOfEveryRunWithTheDecimalsOfTheBoxes) {
  const char* oldTz = std::getenv("TZ");
  const std::string saved = oldTz ? oldTz : "";
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  ::tzset();
  TrendData d;
  d.SetActive(3, false);
  // 2024-03-31 01:59:59 CET; the next second is 03:00:00 CEST.
  d.StartRun(TrendData::Clock::from_time_t(1711846799));
  d.Trace({"21", "12.48", "776", "189"});
  d.Trace({"22", "-0.05", "0", "189"});
  d.MissTick();
  d.Trace({"22.5", "13", "1", "1"});
  d.StartRun(TrendData::Clock::from_time_t(1711846799 + 3600));
  d.Trace({"5", "11.50", "2", "2"});
  EXPECT_EQ(d.Csv(),
            "time,elapsed_s,battery_voltage_V,temperature_C,charging_current_mA,discharging_current_mA\n"
            "2024-03-31T01:59:59+01:00,0,12.48,21,776,\n"
            "2024-03-31T03:00:00+02:00,1,-0.05,22,0,\n"
            "2024-03-31T03:00:02+02:00,3,13.00,22,1,\n"
            "2024-03-31T03:59:59+02:00,0,11.50,5,2,\n");
  // Clear Graphic: only the run in progress remains, with its start time.
  d.Clear();
  d.Trace({"6", "11.60", "3", "3"});
  EXPECT_EQ(d.Csv().substr(d.Csv().find('\n') + 1), "2024-03-31T04:00:00+02:00,1,11.60,6,3,\n");
  if (oldTz)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(TrendData, TimeLabelsAndScaleStepsAreRound) {
  auto texts = [](const std::vector<TimeLabel>& labels) {
    std::vector<std::string> t;
    for (const auto& l : labels) t.push_back(l.text);
    return t;
  };
  EXPECT_EQ(texts(TimeLabels(0, 90, 8)),
            (std::vector<std::string>{"0:00", "0:15", "0:30", "0:45", "1:00", "1:15", "1:30"}));
  EXPECT_EQ(TimeLabels(0, 90, 8)[1].seconds, 15);
  EXPECT_EQ(texts(TimeLabels(0, 3 * 3600, 8)),
            (std::vector<std::string>{"0:00", "0:30", "1:00", "1:30", "2:00", "2:30", "3:00"}));
  // Zoomed into the third hour: seconds again.
  EXPECT_EQ(texts(TimeLabels(7200, 7230, 4)),
            (std::vector<std::string>{"2:00:00", "2:00:10", "2:00:20", "2:00:30"}));
  EXPECT_TRUE(TimeLabels(0, 0, 8).empty());
  EXPECT_EQ(NiceStep(150, 5), 30);
  EXPECT_EQ(NiceStep(15, 5), 3);
  EXPECT_EQ(NiceStep(1000, 5), 200);
  EXPECT_DOUBLE_EQ(NiceStep(1.3, 5), 0.3);
}

TEST(TrendData, ThinningKeepsEachColumnsExtremesInTheirOrder) {
  TrendData d;
  // A flat day with a one-sample spike up and one down.
  for (int i = 0; i < 86400; ++i) d.Add(0, 4 * i, i == 50001 ? 900 : i == 70007 ? -40 : 20);
  std::vector<P> view;
  d.Thin(0, 0, 4 * 86399, 800, view);
  EXPECT_LE(view.size(), 1601u);
  int spikes = 0;
  for (const P& p : view) {
    if (p.y == 900) {
      EXPECT_EQ(p.x, 4 * 50001);
      ++spikes;
    }
    if (p.y == -40) {
      EXPECT_EQ(p.x, 4 * 70007);
      ++spikes;
    }
  }
  EXPECT_EQ(spikes, 2);
  for (std::size_t i = 1; i < view.size(); ++i) ASSERT_LT(view[i - 1].x, view[i].x);
  EXPECT_EQ(view.front().x, 0);
  EXPECT_EQ(view.back().x, 4 * 86399);

  // With fewer points than columns, every point is drawn as it is.
  TrendData small;
  for (int i = 0; i < 10; ++i) small.Add(0, 4 * i, i);
  view.clear();
  small.Thin(0, 0, 36, 800, view);
  EXPECT_EQ(view, small.Points(0));
}

TEST(TrendData, ThinningAgreesWithAPlainScanOfEveryColumn) {
  TrendData d;
  std::vector<int> ys;
  unsigned seed = 7;
  for (int i = 0; i < 5000; ++i) {
    seed = seed * 1103515245u + 12345u;
    ys.push_back(static_cast<int>((seed >> 16) % 1000));
    d.Add(2, 10 + 4 * i, ys.back());
  }
  std::vector<P> view;
  const int columns = 97;
  const double x0 = 10, x1 = 10 + 4 * 4999;
  d.Thin(2, x0, x1, columns, view);
  // Per column, the extremes of a plain scan are in the view.
  const double w = (x1 - x0) / columns;
  for (int c = 0; c < columns; ++c) {
    int lo = 1 << 30, hi = -1;
    for (int i = 0; i < 5000; ++i) {
      const double x = 10 + 4 * i;
      const int col = std::min(columns - 1, static_cast<int>((x - x0) / w));
      if (col == c) lo = std::min(lo, ys[i]), hi = std::max(hi, ys[i]);
    }
    bool sawLo = false, sawHi = false;
    for (const P& p : view) {
      const int col = std::min(columns - 1, static_cast<int>((p.x - x0) / w));
      if (col == c) sawLo |= p.y == lo, sawHi |= p.y == hi;
    }
    EXPECT_TRUE(sawLo && sawHi) << "column " << c;
  }
}

TEST(TrendData, AWeekOfPointsIsHeldCompactly) {
  TrendData d;
  for (std::int32_t x = 0; x < 4 * 604800; ++x)
    d.Add(x % 4, x, x % 4 == 1 ? 12 + (x % 300) / 100.0 : x % 1000);
  EXPECT_EQ(d.Count(3), 604800u);
  EXPECT_LT(d.BytesHeld(), 24u * 1024 * 1024);
}

}  // namespace
}  // namespace hx
