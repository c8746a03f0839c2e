// A design's run time with the exact model and exact bounds (--exact) against the default:
//   design/K/exact   one calendar design end to end (copula parameter, information with the
//                    covariance matrix, both endpoints' bounds, the sample-size search under
//                    rule 1, expected values), K analyses, exact 0 (default) or 1 (--exact)
//   bounds/K/exact   the boundary design of one endpoint (bounds, drift, crossing probabilities)
// The design: Clayton correlation 0.5, hazard ratios 0.7 and 0.75, TA 2, TF 3, SR 0.75.
#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "boundaries/gsdesign.h"
#include "common/design.h"
#include "driver/design_calculation.h"

namespace {

using namespace kestrel;

Design bench_design(int K) {
  Design d;
  DeckValues& v = d.stored;
  v.NSIM = 0;
  v.ITIME = 3;
  v.CPL = 1;
  v.CPRSK = 1;
  v.CMPST = 1;
  v.MSSG = 0;
  v.HR1 = 0.7;  // as stored: treatment over control
  v.HR2 = 0.75;
  v.RHO = 0.5;
  v.HR1TR = v.HR1;
  v.HR2TR = v.HR2;
  v.RHOTR = 0.5;
  v.TA = 2.0;
  v.TF = 3.0;
  v.SRVR1 = 0.3;
  v.SRVR2 = 0.4;
  v.SR = 0.75;
  v.CNSRD = 1;
  v.TYPE1 = 0.025;
  v.POWER = 0.8;
  v.DF = 1;
  v.LOOK = K;
  v.CRIVL = 3;
  v.ESF1 = 1;
  v.ESF2 = 1;
  for (int k = 1; k <= K; ++k) v.TLOOK[static_cast<size_t>(k - 1)] = 1.5 + 3.5 * k / K;
  d.read = v;
  for (double* hr : {&d.read.HR1, &d.read.HR2, &d.read.HR1TR, &d.read.HR2TR}) *hr = 1.0 / *hr;
  SpendingStatement s;
  s.deck_code = 1;
  d.spending = {{s, s}};
  d.number = 1;
  return d;
}

void design(benchmark::State& state) {
  const Design d = bench_design(static_cast<int>(state.range(0)));
  driver::CalculationOptions o;
  o.seed = 7;
  o.exact = state.range(1) != 0;
  for (auto _ : state) {
    driver::DesignCalculator calc(o);
    benchmark::DoNotOptimize(calc.calculate(d));
  }
}
BENCHMARK(design)->ArgsProduct({{2, 3}, {0, 1}})->Unit(benchmark::kSecond)->Iterations(2);

void bounds(benchmark::State& state) {
  boundaries::GsDesignInput in;
  in.K = static_cast<int>(state.range(0));
  for (int k = 1; k <= in.K; ++k) in.t.push_back(static_cast<double>(k) / in.K);
  in.spending.deck_code = 1;
  in.hr = 0.7;
  in.ta = 2;
  in.tf = 3;
  in.exact = state.range(1) != 0;
  for (auto _ : state) {
    boundaries::BoundaryWork work;
    std::ostringstream report;
    benchmark::DoNotOptimize(boundaries::GSDESIGN01(in, work, report));
  }
}
BENCHMARK(bounds)->ArgsProduct({{3, 5, 10}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
