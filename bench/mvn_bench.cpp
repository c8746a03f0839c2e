// Multivariate normal rectangle probabilities for group-sequential designs with two endpoints:
// K analyses per endpoint (dimension 2K), statistics stacked EP1 then EP2, within an endpoint
// corr(Z_i, Z_j) = sqrt(t_i / t_j) (i <= j), across endpoints 0.5 times that. The rectangle is
// a typical power term: no crossing of either endpoint at the interims, both cross at the final.
// Reports per call the error estimate reached, the integrand values used and the time per
// integrand value per dimension.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "mvn/integration_detail.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"

namespace {

using kestrel::mvn::MvnResult;

struct Problem {
  int n = 0;
  std::vector<double> limits, correl;
  std::vector<int> infin;
};

Problem group_sequential(int k_analyses) {
  Problem p;
  const int k = k_analyses;
  p.n = 2 * k;
  std::vector<double> t(static_cast<size_t>(k));
  for (int i = 0; i < k; ++i) t[static_cast<size_t>(i)] = (i + 1.0) / k;
  auto corr = [&](int a, int b) {  // stacked indices 0..2k-1
    const int ea = a / k, eb = b / k;
    const double ta = t[static_cast<size_t>(a % k)], tb = t[static_cast<size_t>(b % k)];
    const double c = std::sqrt(std::min(ta, tb) / std::max(ta, tb));
    return ea == eb ? c : 0.5 * c;
  };
  for (int i = 1; i < p.n; ++i)
    for (int j = 0; j < i; ++j) p.correl.push_back(corr(i, j));
  // O'Brien-Fleming-like bounds 2.0 / sqrt(t) and a drift of 2.8 on both endpoints.
  for (int e = 0; e < 2; ++e)
    for (int i = 0; i < k; ++i) {
      const double ti = t[static_cast<size_t>(i)];
      p.limits.push_back(2.0 / std::sqrt(ti) - 2.8 * std::sqrt(ti));
      p.infin.push_back(i + 1 < k ? 0 : 1);
    }
  return p;
}

void time_mvndf(benchmark::State& state, int k_analyses) {
  const Problem p = group_sequential(k_analyses);
  kestrel::mvn::MvnState mvn;
  kestrel::numerics::UniformGenerator gen([] { return std::int32_t{4711}; });
  MvnResult last;
  long long evaluations = 0, calls = 0;
  double error = 0;
  for (auto _ : state) {
    last = kestrel::mvn::MVNDF_detail(p.n, p.limits.data(), p.limits.data(), p.infin.data(), p.correl.data(),
                                      mvn, gen);
    benchmark::DoNotOptimize(&last);  // (the double overload of this release corrupts the value)
    evaluations += last.total_evaluations;
    error += last.error;
    ++calls;
  }
  if (calls == 0) return;
  state.SetLabel("P=" + std::to_string(last.value));
  state.counters["error"] = error / static_cast<double>(calls);
  // Integrand values of all attempts of one call.
  state.counters["evals"] = static_cast<double>(evaluations) / static_cast<double>(calls);
  // Seconds per integrand value and dimension, averaged over the iterations.
  state.counters["t_eval_dim"] = benchmark::Counter(static_cast<double>(evaluations) * p.n,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Mvndf(benchmark::State& state) { time_mvndf(state, static_cast<int>(state.range(0))); }

// The same call in each version of the batched integrand (second argument: doubles per vector,
// 8 for AVX-512, 4 for AVX2, 2 for the generic version); all give the same numbers. Versions
// the processor cannot run are reported as skipped.
void BM_MvndfVectorWidth(benchmark::State& state) {
  const int width = static_cast<int>(state.range(1));
  const std::vector<int> widths = kestrel::mvn::integrand_widths();
  if (std::find(widths.begin(), widths.end(), width) == widths.end()) {
    state.SkipWithError("this processor does not run that version");
    return;
  }
  kestrel::mvn::choose_integrand_width(width);
  time_mvndf(state, static_cast<int>(state.range(0)));
  kestrel::mvn::choose_integrand_width(0);
}

// A full call at 20 analyses (dimension 40) would take up to four attempts with budgets of
// 5000, 15000, 30000 and 50000 times 40^3 integrand values (the last two capped at 2^31 - 1):
// far too long for a benchmark. Genz's driver is timed there with a budget of 2e7 values, which
// measures the cost per integrand value and the error reached for that budget.
void BM_MvndstBudget(benchmark::State& state) {
  const Problem p = group_sequential(static_cast<int>(state.range(0)));
  const long long budget = state.range(1);
  kestrel::mvn::MvnState mvn;
  MvnResult last;
  long long evaluations = 0, calls = 0;
  double error = 0;
  for (auto _ : state) {
    last = kestrel::mvn::MVNDST(p.n, p.limits.data(), p.limits.data(), p.infin.data(), p.correl.data(), budget,
                                1e-8, 1e-8, mvn);
    benchmark::DoNotOptimize(&last);  // (the double overload of this release corrupts the value)
    evaluations += last.evaluations;
    error += last.error;
    ++calls;
  }
  state.SetLabel("P=" + std::to_string(last.value));
  state.counters["error"] = error / static_cast<double>(calls);
  state.counters["evals"] = static_cast<double>(evaluations) / static_cast<double>(calls);
  state.counters["t_eval_dim"] = benchmark::Counter(static_cast<double>(evaluations) * p.n,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_Mvndf)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Mvndf)->Arg(5)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_MvndfVectorWidth)->Args({3, 8})->Args({3, 4})->Args({3, 2})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MvndstBudget)->Args({5, 20000000})->Args({20, 20000000})->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
