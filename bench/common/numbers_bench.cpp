// Cost of the number texts that every screen refresh makes.
#include <benchmark/benchmark.h>

#include "common/numbers.h"

static void BM_FormatNumber(benchmark::State& state) {
  double v = 13.456;
  for (auto _ : state) {
    benchmark::DoNotOptimize(hx::FormatNumber(v, "0.00"));
    v += 0.001;
  }
}
BENCHMARK(BM_FormatNumber);

static void BM_IsNumeric(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(hx::IsNumeric(" -12,5e3 "));
}
BENCHMARK(BM_IsNumeric);
