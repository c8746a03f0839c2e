// The sample-size engine's costs:
//   first_crossings/K/rule   one design end to end (both single-endpoint designs, the search and
//                            the expected values) for both information sets of an
//                            information-fraction design, without simulation; counters: power
//                            evaluations and rectangle probabilities per design, sizes found
//   first_crossings_coarse/K/rule/d  the same with the probabilities asked to accuracy 10^-d instead of
//                            1e-8 (--mvn-accuracy)
//   first_crossings_threads/K/rule/t  the same at 1e-8 with the lattice sums on t threads (wall
//                            time; the numbers are the same for every t)
//   power_*/K/rule           one power evaluation at N = 500 by each formulation
//   rectangle/d              one multivariate normal rectangle of dimension d
// Run a selection with --benchmark_filter: the K = 5 and K = 10 designs take very long.
//
// The information sets come from the survival layer (Clayton copula, correlation 0.5, both
// endpoints non-fatal) at equally spaced information fractions.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "common/design.h"
#include "common/reports.h"
#include "common/run_context.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "samplesize/engine.h"
#include "survival/copula_parameter.h"
#include "survival/correlation_matrix.h"
#include "survival/information.h"

namespace {

using namespace kestrel;

Design bench_design(int K, int rule) {
  Design d;
  DeckValues& v = d.stored;
  v.NSIM = 0;
  v.ITIME = 1;
  v.CPL = 1;
  v.CPRSK = 1;
  v.CMPST = 1;
  v.MSSG = 0;
  v.HR1 = 0.7;  // treatment over control, as stored
  v.HR2 = 0.75;
  v.RHO = 0.5;
  v.HR1TR = 0.7;
  v.HR2TR = 0.75;
  v.RHOTR = 0.5;
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
  return d;
}

struct Sets {
  InformationSet ep1, ep2;
  double theta = 0;
};

Sets information(const Design& d) {
  const DeckValues& v = d.stored;
  MemoryReports mem;
  numerics::UniformGenerator gen{[] { return 123457; }};
  Sets s;
  s.theta = survival::CORRCLYTN(1000, v.RHO).theta;
  const survival::InformationInput in = survival::information_input(trial_model(d, s.theta), v);
  survival::InformationSets both = survival::BVRLGRNK02(in, gen, mem.reports);
  s.ep1 = both.ep1_driven;
  s.ep2 = both.ep2_driven;
  return s;
}

void BM_Design(benchmark::State& state, samplesize::PowerFormulation formulation, int digits = 0,
               int threads = 0) {
  const int K = static_cast<int>(state.range(0));
  const int rule = static_cast<int>(state.range(1));
  const Design d = bench_design(K, rule);
  const Sets sets = information(d);
  samplesize::EngineOptions opt;
  opt.formulation = formulation;
  opt.simulate = false;
  long long integrals = 0;
  int evaluations = 0, mss1 = 0, mss2 = 0;
  for (auto _ : state) {
    MemoryReports mem;
    numerics::UniformGenerator gen{[] { return 123457; }};
    mvn::MvnState mvn;
    if (digits > 0) mvn.set_accuracy(std::pow(10.0, -static_cast<double>(digits)));
    if (threads > 0) mvn.set_threads(threads);
    RunContext ctx{mem.reports, gen, mvn};
    const auto e1 =
        samplesize::evaluate_design(d, sets.ep1, d.spending[0], sets.theta, sets.theta, ctx, opt);
    const auto e2 =
        samplesize::evaluate_design(d, sets.ep2, d.spending[1], sets.theta, sets.theta, ctx, opt);
    integrals = e1.integrals + e2.integrals;
    evaluations = e1.power_evaluations + e2.power_evaluations;
    mss1 = e1.MSS;
    mss2 = e2.MSS;
  }
  state.counters["integrals"] = static_cast<double>(integrals);
  state.counters["evaluations"] = evaluations;
  state.counters["MSS_ep1"] = mss1;
  state.counters["MSS_ep2"] = mss2;
}

// A whole design, information included, with and without loss to follow-up (0.05 control, 0.15
// treatment) and a three-piece accrual ramp (intensities 1, 2, 4): args K, rule, loss 0/1,
// accuracy digits (0: the default).
void BM_DesignWithEntryLoss(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  Design d = bench_design(K, static_cast<int>(state.range(1)));
  if (state.range(2) == 1) {
    d.entry_loss.dropout = {0.05, 0.15};
    d.entry_loss.accrual_end = {0.5, 1.2, 2.0};
    d.entry_loss.accrual_intensity = {1.0, 2.0, 4.0};
  }
  samplesize::EngineOptions opt;
  opt.simulate = false;
  int mss = 0;
  for (auto _ : state) {
    MemoryReports mem;
    numerics::UniformGenerator gen{[] { return 123457; }};
    mvn::MvnState mvn;
    if (state.range(3) > 0) mvn.set_accuracy(std::pow(10.0, -static_cast<double>(state.range(3))));
    RunContext ctx{mem.reports, gen, mvn};
    const double theta = survival::CORRCLYTN(1000, d.stored.RHO).theta;
    const survival::InformationInput in =
        survival::information_input(trial_model(d, theta), d.stored);
    const survival::InformationSets both = survival::BVRLGRNK02(in, gen, mem.reports);
    mss = samplesize::evaluate_design(d, both.ep1_driven, d.spending[0], theta, theta, ctx, opt).MSS;
    mss += samplesize::evaluate_design(d, both.ep2_driven, d.spending[1], theta, theta, ctx, opt).MSS;
  }
  state.counters["MSS_sum"] = mss;
}
BENCHMARK(BM_DesignWithEntryLoss)
    ->ArgsProduct({{3}, {1, 4}, {0, 1}, {0, 6}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

void first_crossings(benchmark::State& s) {
  BM_Design(s, samplesize::PowerFormulation::first_crossings);
}
void first_crossings_coarse(benchmark::State& s) {
  BM_Design(s, samplesize::PowerFormulation::first_crossings, static_cast<int>(s.range(2)));
}
void first_crossings_threads(benchmark::State& s) {
  BM_Design(s, samplesize::PowerFormulation::first_crossings, 0, static_cast<int>(s.range(2)));
}

// One power evaluation at N = 500 on the EP1-driven set, by either formulation.
void BM_Power(benchmark::State& state, bool by_patterns) {
  const int K = static_cast<int>(state.range(0));
  const int rule = static_cast<int>(state.range(1));
  const Design d = bench_design(K, rule);
  const Sets sets = information(d);
  samplesize::PowerProblem pb;
  pb.rule = decision_rule(rule);
  pb.K = K;
  pb.TYPE1 = d.stored.TYPE1;
  pb.model = trial_model(d, sets.theta);
  pb.set = sets.ep1;
  pb.RCORR = survival::ZCORR01(K, pb.set.FINF1, pb.set.FINF2, pb.set.CORR12);
  // O'Brien-Fleming-like and Pocock-like bounds; the cost does not depend on their values.
  for (int k = 0; k < K; ++k) {
    pb.ZB1.push_back(2.0 / std::sqrt(pb.set.FINF1[static_cast<size_t>(k)]));
    pb.ZB2.push_back(2.3);
  }
  MemoryReports mem;
  numerics::UniformGenerator gen{[] { return 123457; }};
  mvn::MvnState mvn;
  RunContext ctx{mem.reports, gen, mvn};
  const auto rect = samplesize::mvn_rectangles(ctx);
  samplesize::PowerResult r;
  for (auto _ : state) {
    r = by_patterns ? samplesize::power_by_patterns(pb, 500, rect, mem.main)
                    : samplesize::power_by_first_crossings(pb, 500, rect, mem.main);
  }
  state.counters["integrals"] = static_cast<double>(r.integrals);
  char label[96];
  std::snprintf(label, sizeof label, "power=%.10f QSTOP(K)=%.10f", r.power, r.QSTOP.back());
  state.SetLabel(label);
}
void power_first_crossings(benchmark::State& s) {
  BM_Power(s, false);
}
void power_patterns(benchmark::State& s) {
  BM_Power(s, true);
}

// One rectangle of dimension d (EP1 not above at analyses 1..d-1 and above at d, on a K = d
// EP1-only problem's correlations): what a rectangle costs as its dimension grows.
void rectangle(benchmark::State& state) {
  const int dim = static_cast<int>(state.range(0));
  std::vector<double> t(static_cast<size_t>(dim)), lim(static_cast<size_t>(dim)), cor;
  std::vector<int> inf(static_cast<size_t>(dim), 0);
  for (int i = 0; i < dim; ++i) {
    t[static_cast<size_t>(i)] = (i + 1.0) / dim;
    lim[static_cast<size_t>(i)] =
        2.0 / std::sqrt(t[static_cast<size_t>(i)]) - 2.5 * std::sqrt(t[static_cast<size_t>(i)]);
  }
  inf.back() = 1;
  for (int i = 1; i < dim; ++i)
    for (int j = 0; j < i; ++j)
      cor.push_back(std::sqrt(t[static_cast<size_t>(j)] / t[static_cast<size_t>(i)]));
  numerics::UniformGenerator gen{[] { return 123457; }};
  mvn::MvnState mvn;
  mvn::MvnResult r;
  for (auto _ : state)
    r = mvn::MVNDF_detail(dim, lim.data(), lim.data(), inf.data(), cor.data(), mvn, gen);
  state.counters["value"] = r.value;
  state.counters["error"] = r.error;
  state.counters["points_last_attempt"] = static_cast<double>(r.evaluations);
}

// Design targets: K = 3 under 5 s for every rule, K = 5 under 20 s, K = 10 rule 4 under 60 s.
BENCHMARK(first_crossings)
    ->ArgsProduct({{3}, {4, 1, 2, 3}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(first_crossings)
    ->ArgsProduct({{5}, {4, 1, 2, 3}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(first_crossings)
    ->ArgsProduct({{10}, {4, 1, 3, 2}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
// The same designs with coarser probabilities.
BENCHMARK(first_crossings_coarse)
    ->ArgsProduct({{3, 5, 10}, {4, 1, 2, 3}, {7, 6}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
// The K = 5 rule-1 design on one thread and on two, for the ratio.
BENCHMARK(first_crossings_threads)
    ->ArgsProduct({{5}, {1}, {1, 2}})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);
// One power evaluation by each formulation, for the ratio at K = 3 and 4.
BENCHMARK(power_first_crossings)
    ->ArgsProduct({{3, 4}, {1, 2, 3, 4}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(power_first_crossings)
    ->ArgsProduct({{5}, {3, 1, 2}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(power_first_crossings)
    ->ArgsProduct({{5, 10}, {4}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(power_patterns)
    ->ArgsProduct({{3, 4}, {4, 1, 2, 3}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);
BENCHMARK(rectangle)->DenseRange(2, 10)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
