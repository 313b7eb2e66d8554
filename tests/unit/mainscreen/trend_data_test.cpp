#include "hydrix/mainscreen/trend_data.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

using P = TrendData::Point;

TEST(TrendData, ATickAddsOnePointPerSeriesAtConsecutiveX) {
  TrendData d;
  EXPECT_EQ(d.Trace({"21", "12.50", "1500", "200"}), 4);
  EXPECT_EQ(d.Trace({"22", "13.50", "0", "-3"}), 4);
  EXPECT_EQ(d.Points(0), (std::vector<P>{{0, 21}, {4, 22}}));
  EXPECT_EQ(d.Points(1), (std::vector<P>{{1, 12}, {5, 14}}));  // halves to even
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
  for (std::int32_t x = 0; x < 4 * 604800; ++x) d.Add(x % 4, x, x % 1000);
  EXPECT_EQ(d.Count(3), 604800u);
  EXPECT_LT(d.BytesHeld(), 24u * 1024 * 1024);
}

}  // namespace
}  // namespace hx
