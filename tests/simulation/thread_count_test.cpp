// The simulation with its patients drawn once per replication and cut per analysis, on any
// number of threads, against the plain procedure that puts the generator back to the
// replication's starting state and regenerates every analysis with SIMDATA.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "mvn/mvndf.h"
#include "numerics/normal.h"
#include "numerics/uniform_generator.h"
#include "simulation/final_critical_value.h"
#include "simulation/seeded_generator.h"
#include "simulation/simdata.h"
#include "simulation/simulated_power.h"
#include "simulation/task_team.h"
#include "survival/event_probability.h"

namespace kestrel::simulation {
namespace {

// The final critical-value searches integrate to this accuracy (1e-8 would take a second each
// under the sanitizers).
constexpr double kSearchAccuracy = 1e-4;

struct Outcome {
  SimulationResult result;
  std::vector<double> c1, c2;  // the critical values the run leaves
  std::int32_t state = 0;      // the generator state it leaves
  std::string console;
};

// The plain procedure: every analysis regenerated from the replication's starting state, the
// final critical values searched afresh (reuse off), the decision rules as documented.
Outcome regenerated(int rule, SimulationInput in, std::int32_t seed) {
  numerics::UniformGenerator gen = seeded(seed);
  mvn::MvnState mvn;
  mvn.set_threads(1);
  mvn.set_accuracy(kSearchAccuracy);
  std::ostringstream console, report;
  const int K = in.K;
  std::vector<std::array<double, 3>> counts(static_cast<size_t>(K), {0, 0, 0});
  double n1 = 0, n2 = 0, nj = 0, nany = 0;
  TrialWork work;
  for (int rep = 1; rep <= in.NREP; ++rep) {
    const std::int32_t start = gen.GETSEED();
    bool r1 = false, r2 = false;
    int k1 = 0, k2 = 0, kj = 0;
    for (int k = 1; k <= K; ++k) {
      gen.SETSEED(start);
      const TrialOutcome o = SIMDATA(analysis_trial(in, k), gen, console, report, work);
      if (in.final_adjust && k == K) {
        std::vector<double> f(static_cast<size_t>(K));
        if (o.I1 > 0) {
          for (int j = 0; j < K; ++j) f[j] = in.J1[j] / o.I1;
          FNLCVL(K, f.data(), in.c1.data(), in.alpha, mvn, gen);
        }
        if (rule != 4 && o.I2 > 0) {
          for (int j = 0; j < K; ++j) f[j] = in.J2[j] / o.I2;
          FNLCVL(K, f.data(), in.c2.data(), in.alpha, mvn, gen);
        }
      }
      const bool p1 = o.p1 < 1.0 - numerics::GAUSSCDF(std::fabs(in.c1[k - 1]));
      const bool p2 =
          o.p2 < (rule == 4 ? in.alpha : 1.0 - numerics::GAUSSCDF(std::fabs(in.c2[k - 1])));
      if (!r1 && p1) { r1 = true; k1 = k; }
      bool stop = false;
      if (rule == 1 || rule == 2) {
        if (!r2 && p2) { r2 = true; k2 = k; }
        if (rule == 1 ? (r1 && r2) : (p1 && p2)) { kj = k; stop = true; }
      } else if (rule == 3) {
        if (r1 && !r2 && p2) { r2 = true; k2 = k; }
        if (r1 && r2) { kj = k2; stop = true; }
      } else if (k == K && r1 && p2) {
        r2 = true; k2 = K; kj = K;
      }
      if (stop) break;
    }
    if (kj) { ++counts[kj - 1][2]; ++nj; }
    if (r1 || r2) ++nany;
    if (r1) { ++counts[k1 - 1][0]; ++n1; }
    if (r2) { ++counts[k2 - 1][1]; ++n2; }
  }
  Outcome out;
  const double n = in.NREP;
  out.result.PW1 = n1 / n;
  out.result.PW2 = n2 / n;
  out.result.PWC = nj / n;
  out.result.PWD = nany / n;
  // Expected events: the study's events, less the share of those of each analysis that
  // rejected there (plain designs only, as in the table below when E is compared).
  const TrialModel& m = in.truth;
  const double D1e = in.N * survival::PREVENT(m.hazard_ratio[0], m.control_survival[0],
                                              m.treatment_share, m.accrual_period, m.follow_up).Pev;
  const double D2e = in.N * survival::PREVENT(m.hazard_ratio[1], m.control_survival[1],
                                              m.treatment_share, m.accrual_period, m.follow_up).Pev;
  double e1 = 0, e2 = 0, s1 = 0, s2 = 0;
  for (int k = 0; k < K; ++k) {
    std::array<double, 3> r{};
    for (int c = 0; c < 3; ++c) r[c] = counts[k][c] / n;
    out.result.R.push_back(r);
    e1 += D1e * in.v[k] * r[0];
    e2 += D2e * in.w[k] * r[1];
    s1 += r[0];
    s2 += r[1];
  }
  out.result.E1 = e1 + (1.0 - s1) * D1e;
  out.result.E2 = e2 + (1.0 - s2) * D2e;
  out.c1 = in.c1;
  out.c2 = in.c2;
  out.state = gen.GETSEED();
  return out;
}

Outcome cut_per_analysis(int rule, SimulationInput in, std::int32_t seed, int threads) {
  numerics::UniformGenerator gen = seeded(seed);
  mvn::MvnState mvn;
  mvn.set_threads(threads);
  mvn.set_accuracy(kSearchAccuracy);
  std::ostringstream console, report;
  Outcome out;
  out.result = GSDSIMDF(decision_rule(rule), in, gen, mvn, console, report);
  out.c1 = in.c1;
  out.c2 = in.c2;
  out.state = gen.GETSEED();
  out.console = console.str();
  return out;
}

struct Case {
  const char* name;
  int rule;
  double SR;         // treatment share (the control arm gets 1 - SR)
  int N;
  double u1, u2;     // enrolled fractions of analyses 1 and 2 (analysis 3: all)
  double t1, t2;     // their calendar times (analysis 3 at a + f = 3)
  int CPL, CPRSK, CMPST, CNSRD;
  double loss0, loss1;  // loss hazards per arm
  bool ramp;            // accrual pieces 1, 2, 4 over thirds of the accrual period
  bool final_adjust;
  int NREP;
};

// Accrual period 2, follow-up 1. Interims during accrual enrol N u(k) patients, mostly not a
// whole number of allocation blocks; hazard ratios 0.55 and 0.65 and bounds near 2 make
// replications stop at every analysis.
const Case kCases[] = {
    {"tenths during accrual", 1, 0.6, 87, 0.35, 0.65, 0.7, 1.3, 1, 1, 1, 1, 0, 0, false, false, 60},
    {"quarters, EP2 ends EP1", 2, 0.25, 61, 0.5, 0.9, 1.0, 1.8, 3, 2, 1, 1, 0, 0, false, false, 60},
    {"both fatal, composite", 3, 0.5, 73, 0.45, 1.0, 0.9, 2.5, 2, 3, 2, 1, 0, 0, false, false, 40},
    {"rule 4, composite, loss", 4, 0.7, 95, 0.55, 1.0, 1.1, 2.4, 1, 2, 2, 1, 0.1, 0.3, false, false, 60},
    {"loss and ramp", 1, 0.75, 66, 0.3, 0.8, 1.0, 1.6, 3, 1, 1, 1, 0.05, 0.15, true, false, 50},
    {"final adjustment", 1, 0.4, 118, 0.5, 1.0, 1.0, 2.5, 1, 1, 1, 1, 0, 0, false, true, 5},
    {"final adjustment, rule 3", 3, 0.5, 64, 0.6, 1.0, 1.2, 2.2, 1, 2, 1, 1, 0, 0, false, true, 4},
    {"no censoring, loss", 2, 0.9, 52, 1.0, 1.0, 2.0, 2.5, 3, 1, 1, 0, 0.2, 0.1, false, false, 40},
    // Every analysis after accrual: every replication draws the same count, so whole
    // replications run ahead on the threads (several batches of them).
    {"after accrual, ahead", 3, 0.25, 58, 1.0, 1.0, 2.1, 2.6, 2, 2, 1, 1, 0.1, 0.2, false, false, 300},
};

SimulationInput input(const Case& c) {
  SimulationInput in;
  in.NREP = c.NREP;
  in.truth.copula = c.CPL;
  in.truth.competing_risks = c.CPRSK;
  in.truth.composite = c.CMPST;
  in.truth.censoring = c.CNSRD;
  in.truth.copula_parameter = c.CPL == 1 ? 1.0 : (c.CPL == 2 ? 0.6 : 4.0);
  in.truth.hazard_ratio[0] = 0.55;
  in.truth.hazard_ratio[1] = 0.65;
  in.truth.treatment_share = c.SR;
  in.N = c.N;
  in.truth.control_survival[0] = 0.4;
  in.truth.control_survival[1] = 0.5;
  in.truth.accrual_period = 2;
  in.truth.follow_up = 1;
  in.K = 3;
  in.t = {c.t1, c.t2, 3.0};
  in.u = {c.u1, c.u2, 1.0};
  in.v = {0.4, 0.7, 1.0};
  in.w = {0.4, 0.7, 1.0};
  in.c1 = {2.6, 2.2, 2.0};
  in.c2 = {2.5, 2.1, 1.9};
  in.J1 = {0.03, 0.06, 0.09};
  in.J2 = {0.025, 0.05, 0.08};
  in.final_adjust = c.final_adjust;
  in.reuse_final_critical_value = false;
  in.print = false;
  in.truth.entry_loss.dropout = {c.loss0, c.loss1};
  if (c.ramp) {
    in.truth.entry_loss.accrual_end = {2.0 / 3, 4.0 / 3, 2.0};
    in.truth.entry_loss.accrual_intensity = {1, 2, 4};
  }
  return in;
}

void expect_same(const Outcome& a, const Outcome& b, const std::string& what) {
  EXPECT_EQ(a.result.PW1, b.result.PW1) << what;
  EXPECT_EQ(a.result.PW2, b.result.PW2) << what;
  EXPECT_EQ(a.result.PWC, b.result.PWC) << what;
  EXPECT_EQ(a.result.PWD, b.result.PWD) << what;
  ASSERT_EQ(a.result.R.size(), b.result.R.size()) << what;
  for (size_t k = 0; k < a.result.R.size(); ++k) EXPECT_EQ(a.result.R[k], b.result.R[k]) << what << k;
  EXPECT_EQ(a.c1, b.c1) << what;
  EXPECT_EQ(a.c2, b.c2) << what;
  EXPECT_EQ(a.state, b.state) << what;
}

TEST(CutPerAnalysis, EveryThreadCountGivesTheRegeneratedFiguresBitForBit) {
  for (const Case& c : kCases) {
    const SimulationInput in = input(c);
    const Outcome plain = regenerated(c.rule, in, 9001);
    // The design must exercise stopping: some replications reject at an interim, some go on.
    double interim = 0;
    for (int k = 0; k < 2; ++k) interim += plain.result.R[k][0] + plain.result.R[k][1];
    EXPECT_GT(interim, 0.0) << c.name;
    EXPECT_LT(plain.result.PWC, 1.0) << c.name;
    Outcome one;
    for (int threads : {1, 2, 3, 4, 8}) {
      const Outcome cut = cut_per_analysis(c.rule, in, 9001, threads);
      const std::string what = std::string(c.name) + ", threads " + std::to_string(threads);
      expect_same(cut, plain, what);
      if (in.truth.entry_loss.plain()) {
        EXPECT_EQ(cut.result.E1, plain.result.E1) << what;
        EXPECT_EQ(cut.result.E2, plain.result.E2) << what;
      }
      if (threads == 1) {
        one = cut;
      } else {
        EXPECT_EQ(cut.result.E1, one.result.E1) << what;
        EXPECT_EQ(cut.result.E2, one.result.E2) << what;
      }
    }
  }
}

// With the reuse of the last search, and the console report, the figures still do not depend on
// the thread count.
// After accrual the replications after each endpoint's first search run ahead on the threads.
TEST(CutPerAnalysis, ReusedFinalSearchAndReportDoNotDependOnThreads) {
  for (const bool after_accrual : {false, true}) {
    SimulationInput in = input(kCases[5]);
    in.reuse_final_critical_value = true;
    in.print = true;
    in.NREP = after_accrual ? 250 : 30;
    if (after_accrual) {
      in.u = {1.0, 1.0, 1.0};
      in.t = {2.1, 2.5, 3.0};
    }
    const Outcome one = cut_per_analysis(1, in, 31337, 1);
    for (int threads : {2, 5}) {
      const std::string what = (after_accrual ? "after accrual, threads " : "threads ") +
                               std::to_string(threads);
      const Outcome many = cut_per_analysis(1, in, 31337, threads);
      expect_same(many, one, what);
      EXPECT_EQ(many.console, one.console) << what;
    }
  }
}

TEST(TaskTeam, EveryTaskRunsOnceInEveryBatchAndErrorsReachTheCaller) {
  for (int threads : {1, 2, 3, 8}) {
    TaskTeam team(threads);
    EXPECT_EQ(team.size(), threads);
    std::vector<std::atomic<int>> runs(64);
    for (int batch = 0; batch < 300; ++batch) {
      const int tasks = batch % 64;
      for (auto& r : runs) r.store(0);
      team.run(tasks, [&](int t) { runs[static_cast<size_t>(t)].fetch_add(1); });
      for (int t = 0; t < 64; ++t) ASSERT_EQ(runs[t].load(), t < tasks ? 1 : 0) << batch;
    }
    EXPECT_THROW(team.run(5, [](int t) { if (t == 3) throw std::runtime_error("task 3"); }),
                 std::runtime_error);
    std::atomic<int> after{0};
    team.run(7, [&](int) { after.fetch_add(1); });  // the team goes on after an error
    EXPECT_EQ(after.load(), 7);
  }
}

}  // namespace
}  // namespace kestrel::simulation
