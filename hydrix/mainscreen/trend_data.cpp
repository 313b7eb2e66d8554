#include "hydrix/mainscreen/trend_data.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/numbers.h"

namespace hx {

int TrendData::Trace(const std::array<std::string, kSeries>& texts) {
  for (int i = 0; i < kSeries; ++i) {
    const std::optional<double> v = ParseNumber(texts[static_cast<std::size_t>(i)]);
    if (!v) return i;
    if (Active(i)) Add(i, numeroPoint_, RoundHalfEven(*v));
    ++numeroPoint_;
  }
  return kSeries;
}

void TrendData::Add(int series, std::int32_t x, double y) {
  constexpr double lo = std::numeric_limits<std::int16_t>::min();
  constexpr double hi = std::numeric_limits<std::int16_t>::max();
  const double r = RoundHalfEven(y);
  const auto v = static_cast<std::int16_t>(std::isnan(r) ? 0 : std::clamp(r, lo, hi));
  auto& runs = series_[static_cast<std::size_t>(series)];
  // A point continues the last run when it keeps the run's X step.
  Run* run = runs.empty() ? nullptr : &runs.back();
  if (run && run->y.size() == 1 && x > run->x0) {
    run->stride = x - run->x0;
  } else if (!(run && run->stride > 0 &&
               static_cast<std::int64_t>(x) == static_cast<std::int64_t>(run->LastX()) + run->stride)) {
    run = &runs.emplace_back();
    run->x0 = x;
  }
  const std::size_t at = run->y.size();
  run->y.push_back(v);
  const auto offset = static_cast<std::uint8_t>(at % kBlock);
  if (offset == 0) {
    run->blocks.push_back({v, v, 0, 0});
  } else {
    Block& b = run->blocks.back();
    if (v < b.min) b.min = v, b.minAt = offset;
    if (v > b.max) b.max = v, b.maxAt = offset;
  }
}

void TrendData::Clear() {
  for (auto& runs : series_) runs = {};
}

std::size_t TrendData::Count(int series) const {
  std::size_t n = 0;
  for (const Run& r : series_[static_cast<std::size_t>(series)]) n += r.y.size();
  return n;
}

std::vector<TrendData::Point> TrendData::Points(int series) const {
  std::vector<Point> out;
  for (const Run& r : series_[static_cast<std::size_t>(series)]) {
    for (std::size_t i = 0; i < r.y.size(); ++i) {
      out.push_back({static_cast<double>(r.x0) + static_cast<double>(r.stride) * static_cast<double>(i),
                     static_cast<double>(r.y[i])});
    }
  }
  return out;
}

std::optional<std::pair<std::int32_t, std::int32_t>> TrendData::XRange() const {
  std::optional<std::pair<std::int32_t, std::int32_t>> range;
  for (const auto& runs : series_) {
    for (const Run& r : runs) {
      if (!range) range = {r.x0, r.LastX()};
      range->first = std::min(range->first, r.x0);
      range->second = std::max(range->second, r.LastX());
    }
  }
  return range;
}

void TrendData::Extremes(const Run& run, std::size_t from, std::size_t to, std::size_t& minAt,
                         std::size_t& maxAt) {
  minAt = maxAt = from;
  auto take = [&](std::int16_t lo, std::size_t loAt, std::int16_t hi, std::size_t hiAt) {
    if (lo < run.y[minAt]) minAt = loAt;
    if (hi > run.y[maxAt]) maxAt = hiAt;
  };
  std::size_t i = from;
  // Single points up to a block boundary, whole blocks by their extremes,
  // then the single points of the last partial block.
  for (; i < to && i % kBlock != 0; ++i) take(run.y[i], i, run.y[i], i);
  for (; i + kBlock <= to; i += kBlock) {
    const Block& b = run.blocks[i / kBlock];
    take(b.min, i + b.minAt, b.max, i + b.maxAt);
  }
  for (; i < to; ++i) take(run.y[i], i, run.y[i], i);
}

void TrendData::Thin(int series, double x0, double x1, int columns, std::vector<Point>& out) const {
  columns = std::max(columns, 1);
  const double span = std::max(x1 - x0, 1.0);
  const double width = span / columns;  // X per pixel column
  for (const Run& r : series_[static_cast<std::size_t>(series)]) {
    const auto n = static_cast<std::ptrdiff_t>(r.y.size());
    const double stride = r.stride > 0 ? r.stride : 1;
    auto xOf = [&](std::ptrdiff_t i) { return r.x0 + stride * static_cast<double>(i); };
    // The first index at or after X value v.
    auto indexAt = [&](double v) {
      return static_cast<std::ptrdiff_t>(
          std::clamp(std::ceil((v - r.x0) / stride), 0.0, static_cast<double>(n)));
    };
    std::ptrdiff_t i = indexAt(x0);
    const std::ptrdiff_t end = std::min(n, static_cast<std::ptrdiff_t>(std::floor((x1 - r.x0) / stride)) + 1);
    while (i < end) {
      const double column = std::min(std::floor((xOf(i) - x0) / width), static_cast<double>(columns - 1));
      const std::ptrdiff_t next =
          column >= columns - 1 ? end : std::clamp(indexAt(x0 + (column + 1) * width), i + 1, end);
      if (next - i == 1) {
        out.push_back({xOf(i), static_cast<double>(r.y[static_cast<std::size_t>(i)])});
      } else {
        std::size_t lo = 0, hi = 0;
        Extremes(r, static_cast<std::size_t>(i), static_cast<std::size_t>(next), lo, hi);
        const std::size_t first = std::min(lo, hi), second = std::max(lo, hi);
        out.push_back({xOf(static_cast<std::ptrdiff_t>(first)), static_cast<double>(r.y[first])});
        if (second != first) {
          out.push_back({xOf(static_cast<std::ptrdiff_t>(second)), static_cast<double>(r.y[second])});
        }
      }
      i = next;
    }
    // The run's newest point ends its line, so the live edge shows the
    // latest value.
    if (end > 0 && end > indexAt(x0) && out.back().x != xOf(end - 1)) {
      out.push_back({xOf(end - 1), static_cast<double>(r.y[static_cast<std::size_t>(end - 1)])});
    }
  }
}

std::size_t TrendData::BytesHeld() const {
  std::size_t bytes = sizeof(*this);
  for (const auto& runs : series_) {
    bytes += runs.capacity() * sizeof(Run);
    for (const Run& r : runs)
      bytes += r.y.capacity() * sizeof(std::int16_t) + r.blocks.capacity() * sizeof(Block);
  }
  return bytes;
}

std::optional<std::array<ScaleLayout, TrendData::kSeries>> DecaleSeries(
    const std::array<bool, TrendData::kSeries>& active) {
  if (std::none_of(active.begin(), active.end(), [](bool a) { return a; })) return std::nullopt;
  std::array<ScaleLayout, TrendData::kSeries> layout{};
  for (int i = 0; i < TrendData::kSeries; ++i) {
    auto& s = layout[static_cast<std::size_t>(i)];
    s.visible = active[static_cast<std::size_t>(i)];
    s.right = i % 2 == 1;
    s.offsetPercent = i == 0 ? 0 : 4 * i;
  }
  return layout;
}

}  // namespace hx
