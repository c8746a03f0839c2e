// Cost per call of the library normal distribution function and its inverse, and of one uniform
// draw. Arguments cycle through a spread of values so that every branch is timed.
#include <benchmark/benchmark.h>

#include <vector>

#include "numerics/normal.h"
#include "numerics/uniform_generator.h"

namespace {

std::vector<double> spread(double lo, double hi, int n) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = lo + (hi - lo) * (i + 0.5) / n;
  return v;
}

void BM_Gausscdf(benchmark::State& state) {
  const std::vector<double> xs = spread(-8.0, 8.0, 1024);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrel::numerics::GAUSSCDF(xs[i++ & 1023]));
  }
}
BENCHMARK(BM_Gausscdf);

void BM_Gaussinv(benchmark::State& state) {
  std::vector<double> ps = spread(0.0, 1.0, 1024);  // central range and both tails
  ps[0] = 1e-12;
  ps[1023] = 1.0 - 1e-12;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrel::numerics::GAUSSINV(ps[i++ & 1023]));
  }
}
BENCHMARK(BM_Gaussinv);

void BM_GaussinvTail(benchmark::State& state) {
  const std::vector<double> ps = spread(1e-8, 0.12, 1024);  // Newton branch only
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrel::numerics::GAUSSINV(ps[i++ & 1023]));
  }
}
BENCHMARK(BM_GaussinvTail);

void BM_Unirand(benchmark::State& state) {
  kestrel::numerics::UniformGenerator g([] { return 12345; });
  g.RANDOPT(5);
  g.SETSEED(12345);
  for (auto _ : state) benchmark::DoNotOptimize(g.UNIRAND());
}
BENCHMARK(BM_Unirand);

}  // namespace

BENCHMARK_MAIN();
