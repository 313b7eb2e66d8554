// The trend chart's data, without Qt: four series of (X, Y) points, the
// point counter NumeroPoint, which series are shown, the layout of their
// scales, and a view of each series thinned to the plot's width.
//
// Every point is kept, compactly: a series is a list of runs of points whose
// X values step by a constant stride (one run per stretch of continuous
// reading, broken where a tick added no point), the Y values as 16-bit
// whole numbers in hundredths for the voltage (the decimals of its box) and
// units for the others, with the minimum and
// maximum of each block of 64 points beside them. A thinned view keeps the
// minimum and the maximum of every pixel column, so a one-sample spike stays
// visible whatever the zoom, and costs a few blocks per column rather than
// a pass over every point.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hx {

class TrendData {
 public:
  static constexpr int kSeries = 4;
  static constexpr std::size_t kBlock = 64;

  // The decimals each series keeps: those of its measure box (the voltage
  // shows "0.00", the others whole numbers).
  static constexpr std::array<int, kSeries> kDecimals{0, 2, 0, 0};
  using Clock = std::chrono::system_clock;

  struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
  };

  // A run of continuous reading: when it started. Its points are those added
  // after StartRun; X / kSeries is the tick, counted in seconds from `start`.
  struct Reading {
    Clock::time_point start;
    std::array<std::size_t, kSeries> firstRun{};  // index of its first stored run per series
  };

  // Continuous reading switched on: NumeroPoint goes back to 0 and the next
  // points start a new line (no segment joins them to the old run).
  void StartRun(Clock::time_point start);
  // A tick that added no point (no whole answer): the counter still advances
  // one tick, so the time axis stays true, and the line breaks there.
  void MissTick();
  const std::vector<Reading>& Readings() const { return readings_; }

  // The X value of the next point; 0 when continuous reading starts, never
  // reset by Clear.
  std::int32_t NumeroPoint() const { return numeroPoint_; }
  void SetNumeroPoint(std::int32_t n) { numeroPoint_ = n; }

  // A series is active (shown) or not; an inactive one takes no points.
  bool Active(int series) const { return active_[static_cast<std::size_t>(series)]; }
  void SetActive(int series, bool active) { active_[static_cast<std::size_t>(series)] = active; }
  std::array<bool, kSeries> ActiveSeries() const { return active_; }

  // One tick: the texts of the four measure boxes in series order. Each is
  // rounded to its series' decimals (halves to even) and, when its series is
  // active, added at X = NumeroPoint; NumeroPoint advances after every
  // series, active or not. A text that is not a number stops the tick at
  // that series. Returns the number of series handled (4 when all were).
  int Trace(const std::array<std::string, kSeries>& texts);

  // Appends one point, Y rounded to the series' decimals and saturated to
  // the range they can hold (±327.67 V, ±32767 for the others).
  void Add(int series, std::int32_t x, double y);
  // The value of `series` at X, from the newest run holding that X.
  std::optional<double> ValueAt(int series, std::int32_t x) const;
  // Deletes every point; NumeroPoint and the active flags stay.
  void Clear();

  std::size_t Count(int series) const;
  // Every point of a series in the order added (for tests and small views).
  std::vector<Point> Points(int series) const;
  // The smallest and largest X over all series; nothing when empty.
  std::optional<std::pair<std::int32_t, std::int32_t>> XRange() const;
  // The view of `series` over X in [x0, x1] drawn `columns` pixels wide: in
  // each column, the column's point when it has one, otherwise its minimum
  // and its maximum in the order they were added, at their own X. At most
  // two points per column and run. When `starts` is given, it receives the
  // index in `out` where each line segment (run) begins.
  void Thin(int series, double x0, double x1, int columns, std::vector<Point>& out,
            std::vector<std::size_t>* starts = nullptr) const;
  // The chart's data as CSV: a header, then one row per tick holding a point,
  // run after run: the local time (the run's start plus the elapsed
  // seconds), the elapsed seconds and the four measures with the decimals of
  // their boxes (empty where a series has no point).
  std::string Csv() const;
  // Bytes held for the points and their block extremes.
  std::size_t BytesHeld() const;

 private:
  struct Block {
    std::int16_t min, max;
    std::uint8_t minAt, maxAt;  // offsets in the block
  };
  struct Run {
    std::int32_t x0 = 0;
    std::int32_t stride = 0;  // 0 until the run has two points
    std::vector<std::int16_t> y;
    std::vector<Block> blocks;  // one per started block of kBlock points
    std::int32_t LastX() const { return x0 + stride * static_cast<std::int32_t>(y.size() - 1); }
  };
  // Smallest and largest Y of points [from, to) of a run, with their indexes.
  static void Extremes(const Run& run, std::size_t from, std::size_t to, std::size_t& minAt,
                       std::size_t& maxAt);

  std::array<std::vector<Run>, kSeries> series_;
  std::array<bool, kSeries> broken_{};  // the next point starts a new run
  std::vector<Reading> readings_;
  std::array<bool, kSeries> active_{true, true, true, true};
  std::int32_t numeroPoint_ = 0;
};

// Where the scale of a series goes: shown only for an active series; series
// 0 uses the main left scale, the others a scale of their own, odd ones on
// the right, even ones on the left, 4 x index percent of the plot width from
// their side; each spans the whole height of the plot. Nothing when no series
// is active: the scales stay as they are.
// Labels of the time axis between s0 and s1 seconds: a "nice" step (1, 2,
// 5, 10, 15, 30 s, 1, 2, 5, 10, 15, 30 min, 1, 2, 3, 6, 12 h, days) giving at
// most `maxLabels` labels, each at a multiple of the step. "m:ss" while the
// axis ends before an hour, "h:mm" from then on.
struct TimeLabel {
  double seconds;
  std::string text;
  friend bool operator==(const TimeLabel&, const TimeLabel&) = default;
};
std::vector<TimeLabel> TimeLabels(double s0, double s1, int maxLabels);

// A round step for a value scale spanning `span` with at most `maxTicks`
// intervals: 1, 2, 2.5, 3 or 5 times a power of ten (0, 30, 60 ... 150;
// 0, 3, 6 ... 15; 0, 200 ... 1000).
double NiceStep(double span, int maxTicks);

struct ScaleLayout {
  bool visible = false;
  bool right = false;
  int offsetPercent = 0;
};
std::optional<std::array<ScaleLayout, TrendData::kSeries>> DecaleSeries(
    const std::array<bool, TrendData::kSeries>& active);

}  // namespace hx
