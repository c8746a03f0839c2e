// Cost of futility stops: one information-fraction design end to end (both single-endpoint
// designs, the size search, the expected values and, with futility, the stops per analysis and
// the figures under the nulls) for its EP1-driven information set, without and with
// beta-spending futility bounds (code 1, non-binding). Args: K, rule, futility 0/1. Counters:
// rectangle probabilities of the search, its power evaluations and the size found.
// futility_power: one power evaluation of that design at its size, with its futility bounds or
// without them (the same efficacy bounds, as non-binding futility keeps them). Counter: the
// rectangle probabilities of one evaluation.
#include <benchmark/benchmark.h>

#include <vector>

#include "common/design.h"
#include "common/reports.h"
#include "common/run_context.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "samplesize/engine.h"
#include "survival/copula_parameter.h"
#include "survival/information.h"

namespace {

using namespace kestrel;

Design design(int K, int rule, bool futility) {
  Design d;
  DeckValues& v = d.stored;
  v.ITIME = 1;
  v.CPL = 1;
  v.CPRSK = 1;
  v.CMPST = 1;
  v.HR1 = v.HR1TR = 0.7;  // treatment over control, as stored
  v.HR2 = v.HR2TR = 0.75;
  v.RHO = v.RHOTR = 0.5;
  v.TA = 2.0;
  v.TF = 3.0;
  v.SRVR1 = 0.4;
  v.SRVR2 = 0.55;
  v.SR = 0.5;
  v.CNSRD = 1;
  v.TYPE1 = 0.025;
  v.POWER = 0.8;
  v.DF = rule;
  v.LOOK = K;
  v.CRIVL = 3;
  v.ESF1 = 1;
  v.ESF2 = 2;
  for (int k = 1; k <= K; ++k) v.TLOOK[static_cast<size_t>(k - 1)] = static_cast<double>(k) / K;
  d.read = v;
  SpendingStatement s1, s2;
  s1.deck_code = 1;
  s2.deck_code = 2;
  d.spending = {{s1, s2}, {s1, s2}};
  if (futility) {
    d.futility.kind = FutilityRule::Kind::spending;
    d.futility.code = 1;
  }
  return d;
}

void futility_design(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  const Design d = design(K, static_cast<int>(state.range(1)), state.range(2) == 1);
  MemoryReports setup;
  numerics::UniformGenerator g0{[] { return 123457; }};
  const double theta = survival::CORRCLYTN(1000, d.stored.RHO).theta;
  const survival::InformationSets sets =
      survival::BVRLGRNK02(survival::information_input(trial_model(d, theta), d.stored), g0, setup.reports);
  samplesize::EngineOptions opt;
  opt.simulate = false;
  samplesize::Evaluation e;
  for (auto _ : state) {
    MemoryReports mem;
    numerics::UniformGenerator gen{[] { return 123457; }};
    mvn::MvnState mvn;
    RunContext ctx{mem.reports, gen, mvn};
    e = samplesize::evaluate_design(d, sets.ep1_driven, d.spending[0], theta, theta, ctx, opt);
  }
  state.counters["integrals"] = static_cast<double>(e.integrals);
  state.counters["evaluations"] = e.power_evaluations;
  state.counters["MSS"] = e.MSS;
}

void futility_power(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  const Design d = design(K, static_cast<int>(state.range(1)), true);
  MemoryReports setup;
  numerics::UniformGenerator g0{[] { return 123457; }};
  const double theta = survival::CORRCLYTN(1000, d.stored.RHO).theta;
  const survival::InformationSets sets =
      survival::BVRLGRNK02(survival::information_input(trial_model(d, theta), d.stored), g0, setup.reports);
  samplesize::EngineOptions opt;
  opt.simulate = false;
  mvn::MvnState mvn0;
  RunContext ctx0{setup.reports, g0, mvn0};
  const samplesize::Evaluation e =
      samplesize::evaluate_design(d, sets.ep1_driven, d.spending[0], theta, theta, ctx0, opt);
  samplesize::PowerProblem pb = samplesize::power_problem(d, trial_model(d, theta), sets.ep1_driven, e);
  if (state.range(2) == 0) {
    pb.ZF1.clear();
    pb.ZF2.clear();
  }
  MemoryReports mem;
  numerics::UniformGenerator gen{[] { return 123457; }};
  mvn::MvnState mvn;
  RunContext ctx{mem.reports, gen, mvn};
  const samplesize::RectangleProbability rect = samplesize::mvn_rectangles(ctx);
  samplesize::PowerResult p;
  for (auto _ : state) p = samplesize::power_by_first_crossings(pb, e.MSS, rect, mem.main);
  state.counters["rectangles"] = static_cast<double>(p.integrals);
  state.counters["power"] = p.power;
}

BENCHMARK(futility_power)
    ->ArgsProduct({{3, 5}, {1, 2, 3, 4}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(futility_design)
    ->ArgsProduct({{3}, {1, 2, 3, 4}, {0, 1}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(futility_design)
    ->ArgsProduct({{5}, {4, 1, 3, 2}, {0, 1}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
