// A design's run time with three-piece hazards on both endpoints against the one-piece
// (exponential) law of the same record:
//   design/K/law   one calendar design end to end (copula parameter, information with the
//                  covariance matrix, both endpoints' bounds, the sample-size search under rule 1,
//                  expected values), K analyses; law 0 the record's exponential law, 1 three
//                  pieces with the record's ratio in each, 2 three pieces with a delayed effect
// The design: Clayton correlation 0.5, hazard ratios 0.7 and 0.75, TA 2, TF 3, SR 0.5.
#include <benchmark/benchmark.h>

#include <cmath>

#include "common/design.h"
#include "driver/design_calculation.h"

namespace {

using namespace kestrel;

Design bench_design(int K, int law) {
  Design d;
  DeckValues& v = d.stored;
  v.ITIME = 3;
  v.CPL = 1;
  v.CPRSK = 1;
  v.CMPST = 1;
  v.HR1 = 0.7;
  v.HR2 = 0.75;
  v.RHO = 0.5;
  v.HR1TR = v.HR1;
  v.HR2TR = v.HR2;
  v.RHOTR = 0.5;
  v.TA = 2.0;
  v.TF = 3.0;
  v.SRVR1 = 0.3;
  v.SRVR2 = 0.4;
  v.SR = 0.5;
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
  if (law > 0) {
    // Fast early events, slower later: control hazards 1.5, 1 and 0.6 times the record's.
    const double l1 = -std::log(v.SRVR1) / 5.0, l2 = -std::log(v.SRVR2) / 5.0;
    d.entry_loss.hazards[0] = {{0.5, 2.0}, {1.5 * l1, l1, 0.6 * l1}, {0.7, 0.7, 0.7}};
    d.entry_loss.hazards[1] = {{0.5, 2.0}, {1.5 * l2, l2, 0.6 * l2}, {0.75, 0.75, 0.75}};
    if (law == 2) {
      d.entry_loss.hazards[0].ratio = {1.0, 0.7, 0.6};
      d.entry_loss.hazards[1].ratio = {1.0, 0.75, 0.7};
    }
  }
  return d;
}

void design(benchmark::State& state) {
  const Design d = bench_design(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  driver::CalculationOptions o;
  o.seed = 7;
  for (auto _ : state) {
    driver::DesignCalculator calc(o);
    benchmark::DoNotOptimize(calc.calculate(d));
  }
}
BENCHMARK(design)->ArgsProduct({{2, 3}, {0, 1, 2}})->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
