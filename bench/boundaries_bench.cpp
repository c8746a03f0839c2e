// Boundary recursion and the single-endpoint design. Targets (release build): LANDEM with five
// analyses under 2 ms, with ten under 10 ms; a whole GSDESIGN01 (bounds and drift search) with
// five analyses under 30 ms.
#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "boundaries/gsdesign.h"
#include "boundaries/spending.h"

namespace {

using namespace kestrel::boundaries;

std::vector<double> equally_spaced(int K) {
  std::vector<double> t(K);
  for (int i = 0; i < K; ++i) t[i] = (i + 1.0) / K;
  return t;
}

void BM_Landem(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  const int code = static_cast<int>(state.range(1));
  const std::vector<double> t = equally_spaced(K);
  BoundaryWork work;
  std::ostringstream report;
  for (auto _ : state) {
    LandemResult r = LANDEM(K, t, t, 1.0, code, 0.025, 0.0, 0.0, {}, work, report);
    benchmark::DoNotOptimize(r.zb.data());
  }
}
BENCHMARK(BM_Landem)
    ->ArgNames({"K", "code"})
    ->Args({5, 1})
    ->Args({10, 1})
    ->Args({5, 2})
    ->Args({10, 2})
    ->Unit(benchmark::kMillisecond);

void BM_Gsdesign(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  GsDesignInput in;
  in.K = K;
  in.t = equally_spaced(K);
  in.alpha = 0.025;
  in.sides = 1;
  in.spending.deck_code = static_cast<int>(state.range(1));
  in.power = 0.9;
  in.hr = 0.7;
  in.ta = 2;
  in.tf = 1;
  in.control_survival = 0.4;
  in.allocation = 0.5;
  BoundaryWork work;
  std::ostringstream report;
  for (auto _ : state) {
    GsDesignResult r = GSDESIGN01(in, work, report);
    benchmark::DoNotOptimize(r.drift);
  }
}
BENCHMARK(BM_Gsdesign)
    ->ArgNames({"K", "code"})
    ->Args({5, 1})
    ->Args({5, 2})
    ->Args({10, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
