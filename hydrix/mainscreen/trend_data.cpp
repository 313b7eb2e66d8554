#include "hydrix/mainscreen/trend_data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/numbers.h"
#include "hydrix/settings/measure_log.h"

namespace hx {

namespace {

constexpr double kScale[TrendData::kSeries] = {1, 100, 1, 1};  // 10 ^ kDecimals
double Scale(int series) { return kScale[static_cast<std::size_t>(series)]; }

}  // namespace

void TrendData::StartRun(Clock::time_point start) {
  numeroPoint_ = 0;
  broken_.fill(true);
  Reading r{start, {}};
  for (int i = 0; i < kSeries; ++i)
    r.firstRun[static_cast<std::size_t>(i)] = series_[static_cast<std::size_t>(i)].size();
  readings_.push_back(r);
}

void TrendData::MissTick() {
  numeroPoint_ += kSeries;
  broken_.fill(true);
}

int TrendData::Trace(const std::array<std::string, kSeries>& texts) {
  for (int i = 0; i < kSeries; ++i) {
    const std::optional<double> v = ParseNumber(texts[static_cast<std::size_t>(i)]);
    if (!v) return i;
    if (Active(i)) Add(i, numeroPoint_, *v);
    ++numeroPoint_;
  }
  return kSeries;
}

void TrendData::Add(int series, std::int32_t x, double y) {
  constexpr double lo = std::numeric_limits<std::int16_t>::min();
  constexpr double hi = std::numeric_limits<std::int16_t>::max();
  // Rounded as the box shows it: the voltage to hundredths, the others to
  // whole numbers, halves to even.
  const double r = RoundHalfEven(y * Scale(series));
  const auto v = static_cast<std::int16_t>(std::isnan(r) ? 0 : std::clamp(r, lo, hi));
  if (readings_.empty()) readings_.push_back({});  // points without a start time
  auto& runs = series_[static_cast<std::size_t>(series)];
  // A point continues the last run when it keeps the run's X step, unless
  // a new run or a missed tick broke the line.
  Run* run = runs.empty() || broken_[static_cast<std::size_t>(series)] ? nullptr : &runs.back();
  broken_[static_cast<std::size_t>(series)] = false;
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
  broken_.fill(true);
  // The run in progress goes on (its start time stays); older ones are gone.
  if (!readings_.empty()) readings_ = {Reading{readings_.back().start, {}}};
}

std::optional<double> TrendData::ValueAt(int series, std::int32_t x) const {
  const auto& runs = series_[static_cast<std::size_t>(series)];
  for (auto r = runs.rbegin(); r != runs.rend(); ++r) {
    if (x < r->x0 || x > r->LastX()) continue;
    const std::int32_t stride = r->stride > 0 ? r->stride : 1;
    if ((x - r->x0) % stride != 0) continue;
    return r->y[static_cast<std::size_t>((x - r->x0) / stride)] / Scale(series);
  }
  return std::nullopt;
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
                     r.y[i] / Scale(series)});
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

void TrendData::Thin(int series, double x0, double x1, int columns, std::vector<Point>& out,
                     std::vector<std::size_t>* starts) const {
  columns = std::max(columns, 1);
  const double scale = Scale(series);
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
    if (starts && i < end) starts->push_back(out.size());
    while (i < end) {
      const double column = std::min(std::floor((xOf(i) - x0) / width), static_cast<double>(columns - 1));
      const std::ptrdiff_t next =
          column >= columns - 1 ? end : std::clamp(indexAt(x0 + (column + 1) * width), i + 1, end);
      if (next - i == 1) {
        out.push_back({xOf(i), r.y[static_cast<std::size_t>(i)] / scale});
      } else {
        std::size_t lo = 0, hi = 0;
        Extremes(r, static_cast<std::size_t>(i), static_cast<std::size_t>(next), lo, hi);
        const std::size_t first = std::min(lo, hi), second = std::max(lo, hi);
        out.push_back({xOf(static_cast<std::ptrdiff_t>(first)), r.y[first] / scale});
        if (second != first) {
          out.push_back({xOf(static_cast<std::ptrdiff_t>(second)), r.y[second] / scale});
        }
      }
      i = next;
    }
    // The run's newest point ends its line, so the live edge shows the
    // latest value.
    if (end > 0 && end > indexAt(x0) && out.back().x != xOf(end - 1)) {
      out.push_back({xOf(end - 1), r.y[static_cast<std::size_t>(end - 1)] / scale});
    }
  }
}

namespace {

// A stored value as its box shows it: "12.48", "-0.05", "21".
void AppendFixed(std::string& out, std::int16_t v, int decimals) {
  char text[16];
  if (decimals == 0) {
    std::snprintf(text, sizeof text, "%d", v);
  } else {
    const int whole = std::abs(v) / 100, hundredths = std::abs(v) % 100;
    std::snprintf(text, sizeof text, "%s%d.%02d", v < 0 ? "-" : "", whole, hundredths);
  }
  out += text;
}

}  // namespace

std::string TrendData::Csv() const {
  std::string out =
      "time,elapsed_s,battery_voltage_V,temperature_C,charging_current_mA,discharging_current_mA\n";
  // The CSV's columns in series order: voltage, temperature, charging, discharging.
  constexpr int kColumn[kSeries] = {1, 0, 2, 3};
  constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::min();
  std::vector<std::array<std::int32_t, kSeries>> ticks;
  for (std::size_t k = 0; k < readings_.size(); ++k) {
    // The ticks of this run, each with its four values or none.
    ticks.clear();
    for (int s = 0; s < kSeries; ++s) {
      const auto& runs = series_[static_cast<std::size_t>(s)];
      const std::size_t from = readings_[k].firstRun[static_cast<std::size_t>(s)];
      const std::size_t to =
          k + 1 < readings_.size() ? readings_[k + 1].firstRun[static_cast<std::size_t>(s)] : runs.size();
      for (std::size_t r = from; r < to && r < runs.size(); ++r) {
        const Run& run = runs[r];
        for (std::size_t i = 0; i < run.y.size(); ++i) {
          const std::int64_t x =
              run.x0 + static_cast<std::int64_t>(run.stride) * static_cast<std::int64_t>(i);
          if (x < 0) continue;
          const auto tick = static_cast<std::size_t>(x / kSeries);
          if (tick >= ticks.size()) {
            std::array<std::int32_t, kSeries> none;
            none.fill(kNone);
            ticks.resize(tick + 1, none);
          }
          ticks[tick][static_cast<std::size_t>(kColumn[s])] = run.y[i];
        }
      }
    }
    for (std::size_t t = 0; t < ticks.size(); ++t) {
      const auto& row = ticks[t];
      if (std::all_of(row.begin(), row.end(), [](std::int32_t v) { return v == kNone; })) continue;
      out += IsoLocalTime(readings_[k].start + std::chrono::seconds(t));
      out += ',';
      out += std::to_string(t);
      for (int c = 0; c < kSeries; ++c) {
        out += ',';
        const int s = kColumn[c];  // the mapping is its own inverse
        if (row[static_cast<std::size_t>(c)] != kNone)
          AppendFixed(out, static_cast<std::int16_t>(row[static_cast<std::size_t>(c)]),
                      kDecimals[static_cast<std::size_t>(s)]);
      }
      out += '\n';
    }
  }
  return out;
}

std::vector<TimeLabel> TimeLabels(double s0, double s1, int maxLabels) {
  static constexpr double kSteps[] = {1,     2,     5,     10,    15,     30,     60,
                                      120,   300,   600,   900,   1800,   3600,   7200,
                                      10800, 21600, 43200, 86400, 172800, 432000, 864000};
  std::vector<TimeLabel> labels;
  s0 = std::max(s0, 0.0);
  if (!(s1 > s0)) return labels;
  maxLabels = std::max(maxLabels, 2);
  double step = kSteps[std::size(kSteps) - 1];
  for (double candidate : kSteps) {
    if (std::floor(s1 / candidate) - std::ceil(s0 / candidate) + 1 <= maxLabels) {
      step = candidate;
      break;
    }
  }
  const bool hours = s1 >= 3600;
  for (double t = std::ceil(s0 / step) * step; t <= s1; t += step) {
    const auto whole = static_cast<long long>(t);
    char text[32];
    if (!hours) {
      std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    } else if (step < 60) {
      std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
      std::snprintf(text, sizeof text, "%lld:%02lld", whole / 3600, whole / 60 % 60);
    }
    labels.push_back({t, text});
  }
  return labels;
}

double NiceStep(double span, int maxTicks) {
  if (!(span > 0)) return 1;
  const double raw = span / std::max(maxTicks, 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 3.0, 5.0, 10.0}) {
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  }
  return 10 * power;
}

std::size_t TrendData::BytesHeld() const {
  std::size_t bytes = sizeof(*this) + readings_.capacity() * sizeof(Reading);
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
