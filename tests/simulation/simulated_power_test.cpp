


#include "common/errors.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "simulation/final_critical_value.h"
#include "simulation/seeded_generator.h"
#include "simulation/simdata.h"
#include "simulation/simulated_power.h"
#include "survival/event_probability.h"
#include <cmath>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace kestrel::simulation {
namespace {

std::int32_t advanced(std::int32_t seed, int n) {
  numerics::UniformGenerator g = seeded(seed);
  for (int i = 0; i < n; ++i) g.UNIRAND();
  return g.GETSEED();
}

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream is(s);
  for (std::string l; std::getline(is, l);) out.push_back(l);
  return out;
}

// Three analyses at calendar times 2, 2.5, 3 with accrual 2 and follow-up 1: all patients are
// enrolled at every analysis.
SimulationInput three_looks(int nrep, double hr1, double hr2, double c) {
  SimulationInput in;
  in.NREP = nrep;
  in.truth.copula = 1;
  in.truth.copula_parameter = 1.0;
  in.truth.hazard_ratio[0] = hr1;
  in.truth.hazard_ratio[1] = hr2;
  in.truth.treatment_share = 0.5;
  in.N = 120;
  in.truth.control_survival[0] = 0.4;
  in.truth.control_survival[1] = 0.5;
  in.truth.accrual_period = 2;
  in.truth.follow_up = 1;
  in.K = 3;
  in.t = {2.0, 2.5, 3.0};
  in.u = {1.0, 1.0, 1.0};
  in.v = {0.6, 0.8, 1.0};
  in.w = {0.6, 0.8, 1.0};
  in.c1 = {c, c, c};
  in.c2 = {c, c, c};
  in.final_adjust = false;
  in.alpha = 0.025;
  return in;
}

SimulationResult run(int rule, SimulationInput& in, numerics::UniformGenerator& g,
                     std::string* console_text = nullptr) {
  mvn::MvnState mvn;
  std::ostringstream console, report;
  SimulationResult r = GSDSIMDF(decision_rule(rule), in, g, mvn, console, report);
  if (console_text) *console_text = console.str();
  return r;
}

TEST(SimulatedPower, SameSeedSameResultsDifferentSeedsDiffer) {
  for (int rule = 1; rule <= 4; ++rule) {
    SimulationInput a = three_looks(60, 0.6, 0.7, 2.2), b = a, c = a;
    numerics::UniformGenerator ga = seeded(1000), gb = seeded(1000), gc = seeded(2000);
    std::string ta, tb, tc;
    const SimulationResult ra = run(rule, a, ga, &ta);
    const SimulationResult rb = run(rule, b, gb, &tb);
    const SimulationResult rc = run(rule, c, gc, &tc);
    EXPECT_EQ(ta, tb) << rule;
    EXPECT_EQ(ra.PW1, rb.PW1);
    EXPECT_EQ(ra.E2, rb.E2);
    EXPECT_EQ(ga.GETSEED(), gb.GETSEED());
    EXPECT_NE(ta, tc) << rule;
  }
}

TEST(SimulatedPower, TotalsAreConsistentUnderEachRule) {
  for (int rule = 1; rule <= 4; ++rule) {
    SimulationInput in = three_looks(300, 0.65, 0.7, 2.3);
    numerics::UniformGenerator g = seeded(5);
    const SimulationResult r = run(rule, in, g);
    double s[3] = {0, 0, 0};
    for (const auto& row : r.R) for (int c = 0; c < 3; ++c) s[c] += row[c];
    EXPECT_NEAR(s[0], r.PW1, 1e-12);
    EXPECT_NEAR(s[1], r.PW2, 1e-12);
    EXPECT_NEAR(s[2], r.PWC, 1e-12);
    EXPECT_LE(r.PWC, std::min(r.PW1, r.PW2) + 1e-12) << rule;
    EXPECT_GE(r.PWD, std::max(r.PW1, r.PW2) - 1e-12) << rule;
    if (rule == 1 || rule == 3) EXPECT_NEAR(r.PWD, r.PW1 + r.PW2 - r.PWC, 1e-12) << rule;
    if (rule == 3 || rule == 4) {
      EXPECT_NEAR(r.PWD, r.PW1, 1e-12) << rule;  // EP2 never without EP1
      EXPECT_NEAR(r.PW2, r.PWC, 1e-12) << rule;
    }
    if (rule == 4) {
      EXPECT_EQ(r.R[0][1], 0.0);
      EXPECT_EQ(r.R[1][1], 0.0);  // EP2 only at the final analysis
    }
    EXPECT_GT(r.PW1, 0.1) << rule;
  }
}

TEST(SimulatedPower, AnalysesOfOneReplicationSeeTheSamePatients) {
  // A sure rejection of both endpoints at the first analysis ends each replication there: the
  // next replication starts where the first analysis' data generation left the generator.
  SimulationInput in = three_looks(1, 0.15, 0.15, 0.0);
  in.u = {0.5, 1.0, 1.0};
  numerics::UniformGenerator g = seeded(77);
  const SimulationResult r = run(1, in, g);
  ASSERT_EQ(r.PWC, 1.0);
  ASSERT_EQ(r.R[0][2], 1.0);
  EXPECT_EQ(g.GETSEED(), advanced(77, 60 * 3));  // 60 patients, three draws each

  // Never rejecting: every analysis regenerates from the saved seed, so the state afterwards is
  // that of one trial of the final analysis' size.
  SimulationInput none = three_looks(1, 1.0, 1.0, 40.0);
  none.u = {0.5, 0.75, 1.0};
  numerics::UniformGenerator h = seeded(77);
  const SimulationResult q = run(1, none, h);
  EXPECT_EQ(q.PWD, 0.0);
  EXPECT_EQ(h.GETSEED(), advanced(77, 120 * 3));

  // The statistics at analysis 1 are those of a SIMDATA call from the saved seed.
  SimulationInput one = three_looks(1, 0.7, 0.8, 0.0);
  one.K = 1;
  one.c1 = {-40.0};  // nominal level 1 - Phi(40) = 0: nothing is rejected
  one.c2 = {-40.0};
  numerics::UniformGenerator g1 = seeded(4242);
  run(1, one, g1);
  numerics::UniformGenerator g2 = seeded(4242);
  TrialSettings ts;
  ts.N = 120;
  ts.HR1 = 0.7;
  ts.HR2 = 0.8;
  ts.theta = 1;
  ts.a = 2;
  ts.s = 0;
  ts.lambda1 = -std::log(0.4) / 3;
  ts.lambda2 = -std::log(0.5) / 3;
  TrialWork work;
  std::ostringstream c, rep;
  SIMDATA(ts, g2, c, rep, work);
  EXPECT_EQ(g1.GETSEED(), g2.GETSEED());
}

TEST(SimulatedPower, ConsoleReportLayoutAndProgressEveryReplicationBelowTen) {
  SimulationInput in = three_looks(5, 0.6, 0.6, 2.0);
  numerics::UniformGenerator g = seeded(9);
  std::string text;
  const SimulationResult r = run(1, in, g, &text);
  const std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size(), 4u + 5u + 1u + 1u + 3u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "ASSESSMENT BY SIMULATION");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "   # REPS  EP1 EP2 JNT     PW1     PW2     PWC     PWD");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(lines[4 + i].size(), 1u + 8 + 2 + 3 + 1 + 3 + 1 + 3 + 4 * 8) << lines[4 + i];
    EXPECT_EQ(lines[4 + i].substr(1, 8), std::string(7, ' ') + std::to_string(i + 1));
  }
  // Summary: NREP and the four percentages; the column group of the analyses left blank.
  char buf[128];
  std::snprintf(buf, sizeof buf, " %8d  %3s %3s %3s %7.3f %7.3f %7.3f %7.3f", 5, "", "", "",
                100 * r.PW1, 100 * r.PW2, 100 * r.PWC, 100 * r.PWD);
  EXPECT_EQ(lines[9], buf);
  EXPECT_EQ(lines[10], "");
  std::snprintf(buf, sizeof buf, " %8d  %3s %3s %3s %7.3f %7.3f %7.3f", 2, "", "", "",
                100 * r.R[1][0], 100 * r.R[1][1], 100 * r.R[1][2]);
  EXPECT_EQ(lines[12], buf);

  // 25 replications: a progress line every 25 div 10 = 2 replications.
  SimulationInput more = three_looks(25, 0.6, 0.6, 2.0);
  run(4, more, g, &text);
  const std::vector<std::string> l2 = lines_of(text);
  ASSERT_EQ(l2.size(), 4u + 12u + 1u + 1u + 3u);
  EXPECT_EQ(l2[4].substr(1, 8), "       2");
  EXPECT_EQ(l2[15].substr(1, 8), "      24");
  // Rule 4 prints 0 in its EP2 and JNT columns.
  for (int i = 4; i < 16; ++i) EXPECT_EQ(l2[i].substr(14, 8), "   0   0") << l2[i];

  // Long simulations: at most 10 000 replications between lines, which leaves every NSIM up
  // to 100 000 with the lines of NREP div 10.
  const std::pair<int, int> intervals[] = {{1, 1},         {9, 1},          {25, 2},
                                           {100000, 10000}, {100001, 10000}, {10000000, 10000}};
  for (const auto& [nrep, every] : intervals) EXPECT_EQ(progress_interval(nrep), every) << nrep;

  SimulationInput quiet = three_looks(5, 0.6, 0.6, 2.0);
  quiet.print = false;
  run(2, quiet, g, &text);
  EXPECT_TRUE(text.empty());
}

TEST(SimulatedPower, NullHazardRatiosRejectAtTheNominalLevel) {
  // One analysis at 1.96: each endpoint is rejected in about 2.5% of trials.
  SimulationInput in = three_looks(3000, 1.0, 1.0, 1.959963984540054);
  in.K = 1;
  in.t = {3.0};
  in.N = 160;
  in.print = false;
  numerics::UniformGenerator g = seeded(123);
  const SimulationResult r = run(1, in, g);
  const double se = std::sqrt(0.025 * 0.975 / in.NREP);
  EXPECT_NEAR(r.PW1, 0.025, 3 * se);
  EXPECT_NEAR(r.PW2, 0.025, 3 * se);
}

TEST(SimulatedPower, ExpectedEventsWithoutEarlyStoppingAreTheStudyEvents) {
  // Nothing can be rejected, so the expected events are N times the study event probability.
  SimulationInput in = three_looks(3, 0.7, 0.8, 40.0);
  numerics::UniformGenerator g = seeded(3);
  const SimulationResult r = run(1, in, g);
  EXPECT_DOUBLE_EQ(r.E1, in.N * survival::PREVENT(0.7, 0.4, 0.5, 2, 1).Pev);
  EXPECT_DOUBLE_EQ(r.E2, in.N * survival::PREVENT(0.8, 0.5, 0.5, 2, 1).Pev);
}

TEST(SimulatedPower, StudyEventProbabilityAgreesWithSimulatedFinalEvents) {
  // The simulated trial and the event probability describe one model: uniform entry over the
  // accrual period, exponential events, censoring at the end of the study.
  TrialSettings ts;
  ts.N = 400;
  ts.HR1 = 0.7;
  ts.HR2 = 0.9;
  ts.a = 2;
  ts.s = 1;
  ts.lambda1 = -std::log(0.4) / 3;
  ts.lambda2 = -std::log(0.6) / 3;
  numerics::UniformGenerator g = seeded(8);
  TrialWork work;
  std::ostringstream c, rep;
  double d1 = 0;
  const int reps = 200;
  for (int i = 0; i < reps; ++i) d1 += SIMDATA(ts, g, c, rep, work).D1;
  const double p = survival::PREVENT(0.7, 0.4, 0.5, 2, 1).Pev;
  const double se = std::sqrt(p * (1 - p) / (reps * ts.N));
  EXPECT_NEAR(d1 / (reps * ts.N), p, 4 * se);
}

TEST(SimulatedPower, NoObservedInformationKeepsThePlannedFinalValue) {
  // Survival so close to 1 that no event occurs: the final search is skipped (it would divide by
  // a zero variance) and the planned values stay.
  SimulationInput in = three_looks(4, 1.0, 1.0, 2.0);
  in.truth.control_survival[0] = 1 - 1e-12;
  in.truth.control_survival[1] = 1 - 1e-12;
  in.final_adjust = true;
  in.J1 = {0.1, 0.2, 0.3};
  in.J2 = {0.1, 0.2, 0.3};
  in.c1 = {3.0, 2.5, 2.0};
  in.c2 = {3.1, 2.6, 2.1};
  numerics::UniformGenerator g = seeded(3);
  const SimulationResult r = run(1, in, g);
  EXPECT_EQ(in.c1[2], 2.0);
  EXPECT_EQ(in.c2[2], 2.1);
  EXPECT_EQ(r.PWD, 0.0);
}

// P(Z1 <= c1, Z2 <= x) for a standard bivariate normal with correlation rho, by Simpson's rule
// over z1 (independent of the integration routine under test).
double bivariate_below(double c1, double x, double rho) {
  const int n = 20000;
  const double lo = -9.0, h = (c1 - lo) / n;
  auto f = [&](double z) {
    const double phi = std::exp(-0.5 * z * z) / std::sqrt(2 * M_PI);
    return phi * 0.5 * std::erfc(-((x - rho * z) / std::sqrt(1 - rho * rho)) / std::sqrt(2.0));
  };
  double s = f(lo) + f(c1);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4 : 2) * f(lo + i * h);
  return s * h / 3;
}

TEST(FinalCriticalValue, SingleAnalysisGivesTheNormalQuantile) {
  mvn::MvnState mvn;
  numerics::UniformGenerator g = seeded(1);
  const double t[1] = {1.0};
  double c[1] = {2.3};
  FinalCriticalValueTrace tr;
  const double x = FNLCVL(1, t, c, 0.025, mvn, g, &tr);
  EXPECT_TRUE(tr.converged);
  EXPECT_EQ(c[0], x);
  // |P - alpha| <= 1e-5 means |x - 1.95996| <= 1e-5 / phi(1.96).
  EXPECT_NEAR(x, 1.959963984540054, 1e-5 / 0.0584 + 1e-9);
}

TEST(FinalCriticalValue, TwoAnalysesSpendExactlyAlpha) {
  mvn::MvnState mvn;
  numerics::UniformGenerator g = seeded(1);
  const double t[2] = {0.5, 1.0};
  double c[2] = {2.797, 2.5};
  FinalCriticalValueTrace tr;
  const double x = FNLCVL(2, t, c, 0.025, mvn, g, &tr);
  EXPECT_TRUE(tr.converged);
  EXPECT_LE(tr.secant_steps, 50);
  const double exit = 1 - bivariate_below(2.797, x, std::sqrt(0.5));
  EXPECT_NEAR(exit, 0.025, 2e-5);
  EXPECT_NEAR(x, 1.98, 0.02);  // O'Brien-Fleming type final bound for two looks
}

TEST(FinalCriticalValue, EqualSuccessiveProbabilitiesStopTheSearch) {
  // A first bound of -40 is crossed surely: the exit probability is 1 whatever the final bound,
  // so the secant has no slope and the starting point is returned.
  mvn::MvnState mvn;
  numerics::UniformGenerator g = seeded(1);
  const double t[2] = {0.5, 1.0};
  double c[2] = {-40.0, 2.1};
  FinalCriticalValueTrace tr;
  const double x = FNLCVL(2, t, c, 0.025, mvn, g, &tr);
  EXPECT_FALSE(tr.converged);
  EXPECT_EQ(tr.secant_steps, 0);
  EXPECT_EQ(tr.evaluations, 2);
  EXPECT_EQ(x, 2.1);
}

TEST(SimulatedPower, FinalAdjustmentRecomputesTheLastBound) {
  // Two analyses with planned information 0.05 and 0.1 per patient: whatever the observed final
  // information, the fractions J(j)/I(K) correlate the statistics by sqrt(1/2), and the final
  // bound after a first bound of 2.797 is the O'Brien-Fleming type value near 1.98.
  for (bool reuse : {true, false}) {
    SimulationInput in = three_looks(6, 0.8, 0.8, 2.0);
    in.K = 2;
    in.t = {2.5, 3.0};
    in.final_adjust = true;
    in.reuse_final_critical_value = reuse;
    in.J1 = {0.05, 0.1};
    in.J2 = {0.05, 0.1};
    in.c1 = {2.797, 2.3};
    in.c2 = {2.797, 2.2};
    numerics::UniformGenerator g = seeded(17);
    run(1, in, g);
    const double exit1 = 1 - bivariate_below(2.797, in.c1[1], std::sqrt(0.5));
    const double exit2 = 1 - bivariate_below(2.797, in.c2[1], std::sqrt(0.5));
    EXPECT_NEAR(exit1, 0.025, 2e-5) << reuse;
    EXPECT_NEAR(exit2, 0.025, 2e-5) << reuse;
    EXPECT_EQ(in.c1[0], 2.797);
  }
}

}  // namespace
}  // namespace kestrel::simulation

namespace kestrel::simulation {
namespace {

TEST(SimulatedPower, InterimDuringAccrualSeesPatientsEnrolledUpToThen) {
  // Analysis at t = 1.2 of an accrual period of 2: the 60% enrolled entered uniformly over
  // [0, 1.2], so each has an event by then with probability 1 - (1 - exp(-l t))/(l t) (averaged
  // over the arms), and nobody is censored before time 0.
  SimulationInput in = three_looks(1, 0.7, 0.8, 2.0);
  in.N = 1000;
  in.t = {1.2, 2.5, 3.0};
  in.u = {0.6, 1.0, 1.0};
  const TrialSettings ts = analysis_trial(in, 1);
  EXPECT_EQ(ts.N, 600);
  EXPECT_DOUBLE_EQ(ts.a, 1.2);
  EXPECT_DOUBLE_EQ(ts.s, 0.0);
  const TrialSettings late = analysis_trial(in, 3);
  EXPECT_DOUBLE_EQ(late.a, 2.0);
  EXPECT_DOUBLE_EQ(late.s, 1.0);

  auto p_event = [](double l, double t) { return 1 - (1 - std::exp(-l * t)) / (l * t); };
  const double l1 = -std::log(0.4) / 3;
  const double expected = 0.5 * (p_event(l1, 1.2) + p_event(l1 * 0.7, 1.2));
  numerics::UniformGenerator g = seeded(606);
  TrialWork work;
  std::ostringstream c, rep;
  double events = 0;
  const int reps = 100;
  for (int i = 0; i < reps; ++i) {
    generate_trial(ts, g, rep, work);
    for (int p = 0; p < ts.N; ++p) {
      ASSERT_GE(work.ep1[3 * p + 2], 0.0);
      events += work.ep1[3 * p] == 1.0;
    }
  }
  const double rate = events / (reps * ts.N);
  EXPECT_NEAR(rate, expected, 4 * std::sqrt(expected * (1 - expected) / (reps * ts.N)));
}

}  // namespace
}  // namespace kestrel::simulation
