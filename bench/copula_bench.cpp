// Cost of the correlation quadrature (N = 1000) and of each copula parameter search at
// correlation 0.5. The cell-by-cell rule (three copula values per cell, every power taken
// afresh) is timed beside the shared-node evaluation for the speed-up.
#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "survival/copula_parameter.h"
#include "survival/model.h"

namespace {

using namespace kestrel::survival;

double cell_by_cell(double theta, int N, int code) {
  std::vector<double> X, Y;
  SEQ(X, N, 0.0, 1.0);
  SEQ(Y, N, 0.0, 1.0);
  double sum = 0.0;
  for (int i = 1; i <= N; ++i) {
    for (int j = 1; j <= N; ++j) {
      const double xm = 0.5 * X[i] + 0.5 * X[i - 1], ym = 0.5 * Y[j] + 0.5 * Y[j - 1];
      const double wx = (X[i] - X[i - 1]) / (1 - xm), wy = (Y[j] - Y[j - 1]) / (1 - ym);
      const double f1 = SJOINT(theta, 1 - X[i], 1 - Y[j], code);
      const double f2 = SJOINT(theta, 1 - xm, 1 - ym, code);
      const double f3 = SJOINT(theta, 1 - X[i - 1], 1 - Y[j - 1], code);
      sum += (f3 + 4 * f2 + f1) * wx * wy / 6;
    }
  }
  return sum;
}

// Parameters near the solutions for correlation 0.5.
constexpr double kTheta[] = {0.0, 0.6430381171, 0.5580753319, -4.7288077939};

void BM_Term4(benchmark::State& state) {
  const int code = static_cast<int>(state.range(0)), N = static_cast<int>(state.range(1));
  for (auto _ : state) benchmark::DoNotOptimize(TERM4(kTheta[code], 0.0, 0.0, N, code));
}
BENCHMARK(BM_Term4)->ArgNames({"code", "N"})->Args({1, 1000})->Args({2, 1000})->Args({3, 1000})
    ->Args({3, 399})->Unit(benchmark::kMillisecond);

void BM_Term4CellByCell(benchmark::State& state) {
  const int code = static_cast<int>(state.range(0)), N = static_cast<int>(state.range(1));
  for (auto _ : state) benchmark::DoNotOptimize(cell_by_cell(kTheta[code], N, code));
}
BENCHMARK(BM_Term4CellByCell)->ArgNames({"code", "N"})->Args({1, 1000})->Args({2, 1000})
    ->Args({3, 399})->Unit(benchmark::kMillisecond);

void BM_Dterm4Frank(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(DTERM4(kTheta[3], 0.0, 0.0, 399, 3));
}
BENCHMARK(BM_Dterm4Frank)->Unit(benchmark::kMillisecond);

void BM_CopulaParameter(benchmark::State& state) {
  const int code = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::ostringstream trace;
    const CopulaParameter p = code == 1   ? CORRCLYTN(1000, 0.5)
                              : code == 2 ? CORRPSTBL(1000, 0.5)
                                          : CORRFRANK(1000, 0.5, trace);
    benchmark::DoNotOptimize(p.theta);
  }
}
BENCHMARK(BM_CopulaParameter)->ArgName("code")->Arg(1)->Arg(2)->Arg(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
