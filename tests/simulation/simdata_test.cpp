


#include "common/errors.h"
#include "numerics/uniform_generator.h"
#include "simulation/seeded_generator.h"
#include "common/limits.h"
#include "simulation/simdata.h"
#include "survival/entry_loss.h"
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <sstream>
#include <vector>

namespace kestrel::simulation {
namespace {

// Seed reached after n draws from `seed`.
std::int32_t advanced(std::int32_t seed, int n) {
  numerics::UniformGenerator g = seeded(seed);
  for (int i = 0; i < n; ++i) g.UNIRAND();
  return g.GETSEED();
}

TEST(Allocation, HalfAlternatesWithoutRandomNumbers) {
  numerics::UniformGenerator g = seeded(1234);
  std::vector<int> arms;
  for (int i = 1; i <= 5; ++i) arms.push_back(allocate_arm(i, 5, 0.5, g));
  EXPECT_EQ(arms, (std::vector<int>{2, 1, 2, 1, 2}));
  EXPECT_EQ(g.GETSEED(), 1234);
}

TEST(Allocation, FortyPercentFillsBlocksThenDrawsForTheRest) {
  numerics::UniformGenerator g = seeded(1234);
  numerics::UniformGenerator shadow = seeded(1234);
  for (int i = 1; i <= 25; ++i) {
    const int arm = allocate_arm(i, 25, 0.4, g);
    if (i <= 8) {
      EXPECT_EQ(arm, 1) << i;
      EXPECT_EQ(g.GETSEED(), 1234) << i;
    } else if (i <= 20) {
      EXPECT_EQ(arm, 2) << i;
      EXPECT_EQ(g.GETSEED(), 1234) << i;
    } else {
      const double u = shadow.UNIRAND();  // each of patients 21..25 consumes one draw
      EXPECT_EQ(arm, 10.0 * u <= 4 ? 1 : 2) << i;
      EXPECT_EQ(g.GETSEED(), shadow.GETSEED()) << i;
    }
  }
}

TEST(Allocation, QuarterBlocksAndTheRemainder) {
  numerics::UniformGenerator g = seeded(77);
  // N = 10: nq = 2; r = 0.25 gives 1,1 | arms 2 for 3..8 | draws for 9, 10.
  std::vector<int> arms;
  for (int i = 1; i <= 8; ++i) arms.push_back(allocate_arm(i, 10, 0.25, g));
  EXPECT_EQ(arms, (std::vector<int>{1, 1, 2, 2, 2, 2, 2, 2}));
  EXPECT_EQ(g.GETSEED(), 77);
  arms.clear();
  for (int i = 1; i <= 8; ++i) arms.push_back(allocate_arm(i, 10, 0.75, g));
  EXPECT_EQ(arms, (std::vector<int>{1, 1, 1, 1, 1, 1, 2, 2}));
  numerics::UniformGenerator shadow = seeded(77);
  const double u = shadow.UNIRAND();
  EXPECT_EQ(allocate_arm(9, 10, 0.75, g), u > 0.25 ? 1 : 2);
  EXPECT_THROW(allocate_arm(1, 10, 0.35, g), RunError);
}

// Treatment shares 0.7, 0.8 and 0.9 give control shares 0.3, 0.2 and 0.1 (computed as 1 - SR,
// so 0.30000000000000004 for 0.7): k*nb patients to arm 1, the rest of the complete blocks to arm
// 2, one draw per patient of the last incomplete block.
TEST(Allocation, SmallControlSharesFillTheirBlocksToo) {
  for (int k : {1, 2, 3}) {
    const double r = 1.0 - (10 - k) / 10.0;
    numerics::UniformGenerator g = seeded(99);
    numerics::UniformGenerator shadow = seeded(99);
    for (int i = 1; i <= 23; ++i) {
      const int arm = allocate_arm(i, 23, r, g);
      if (i <= 2 * k) {
        EXPECT_EQ(arm, 1) << k << " " << i;
      } else if (i <= 20) {
        EXPECT_EQ(arm, 2) << k << " " << i;
      } else {
        EXPECT_EQ(arm, 10.0 * shadow.UNIRAND() <= k ? 1 : 2) << k << " " << i;
      }
      EXPECT_EQ(g.GETSEED(), shadow.GETSEED()) << k << " " << i;
    }
  }
}

TEST(Allocation, ProportionsOverLargeTrialsMatchR) {
  for (double sr : {0.25, 0.4, 0.5, 0.6, 0.7, 0.75, 0.8, 0.9}) {
    const double r = 1.0 - sr;  // control share of every allowed treatment share
    numerics::UniformGenerator g = seeded(5);
    const int n = 1003;
    int arm1 = 0;
    for (int i = 1; i <= n; ++i) arm1 += allocate_arm(i, n, r, g) == 1;
    EXPECT_NEAR(arm1, r * n, 4.0) << r;  // only the last incomplete block is random
  }
}

// Ratios of whole numbers up to 10:10 other than the shares of old: complete blocks of the
// reduced ratio's size hold exactly the ratio (control places first, as the blocks of 10 do),
// the patients after the last complete block draw their arm, m u <= c giving the control arm.
TEST(Allocation, WholeNumberRatiosFillBlocksOfTheirSize) {
  struct Case {
    double r;  // control share
    int block, control;
  } cases[] = {{1.0 / 3, 3, 1}, {1.0 - 2.0 / 3, 3, 1}, {2.0 / 3, 3, 2}, {1.0 - 0.6667, 3, 1},
               {3.0 / 7, 7, 3}, {5.0 / 8, 8, 5}, {10.0 / 19, 19, 10}, {1.0 / 11, 11, 1}};
  for (const Case& c : cases) {
    const ArmPattern p = arm_pattern(100, c.r);
    EXPECT_EQ(p.block, c.block) << c.r;
    EXPECT_EQ(p.share, c.control) << c.r;
    numerics::UniformGenerator g = seeded(31);
    numerics::UniformGenerator shadow = seeded(31);
    const int n = 100, nb = n / c.block;
    int control = 0;
    for (int i = 1; i <= n; ++i) {
      const int arm = allocate_arm(i, n, c.r, g);
      if (i <= c.block * nb) {
        control += arm == 1;
        EXPECT_EQ(g.GETSEED(), 31) << c.r << " " << i;
      } else {
        EXPECT_EQ(arm, c.block * shadow.UNIRAND() <= c.control ? 1 : 2) << c.r << " " << i;
        EXPECT_EQ(g.GETSEED(), shadow.GETSEED()) << c.r << " " << i;
      }
    }
    EXPECT_EQ(control, c.control * nb) << c.r;
  }
  // Beyond 10:10, or not a ratio: refused.
  for (double r : {7.0 / 20, 1.0 / 12, 0.123}) {
    EXPECT_FALSE(arm_pattern(10, r).simulable()) << r;
    EXPECT_FALSE(limits::simulable_share(1.0 - r)) << r;
  }
  for (const Case& c : cases) EXPECT_TRUE(limits::simulable_share(1.0 - c.r)) << c.r;
}

TEST(Simdata, UnirandCallsPerPatientFollowTheDocumentedOrder) {
  TrialSettings in;
  in.N = 25;
  in.r = 0.4;
  in.lambda1 = 0.3;
  in.lambda2 = 0.2;
  in.a = 2;
  in.s = 1;
  std::ostringstream report;
  TrialWork work;
  {
    numerics::UniformGenerator g = seeded(4321);
    in.censoring = 1;
    generate_trial(in, g, report, work);
    // 25 patients x (u1, u2, u3) + one allocation draw for each of patients 21..25.
    EXPECT_EQ(g.GETSEED(), advanced(4321, 25 * 3 + 5));
  }
  {
    numerics::UniformGenerator g = seeded(4321);
    in.censoring = 0;
    in.r = 0.5;
    generate_trial(in, g, report, work);
    EXPECT_EQ(g.GETSEED(), advanced(4321, 25 * 2));
  }
  {
    // The draws of patient 1 with r = 0.5: u1, u2, u3 give T1, T2 and C = u3 a + s.
    numerics::UniformGenerator g = seeded(4321);
    in.censoring = 1;
    in.theta = 0;
    in.family = 1;
    in.HR1 = 1.0;
    generate_trial(in, g, report, work);
    numerics::UniformGenerator s = seeded(4321);
    const double u1 = s.UNIRAND(), u2 = s.UNIRAND(), u3 = s.UNIRAND();
    const double T1 = -std::log(1 - u1) / (0.3 * in.HR1), C = u3 * 2 + 1;
    const double T2 = -std::log(1 - u2) / (0.2 * in.HR2);
    EXPECT_EQ(work.ep1[1], 1.0);  // patient 1 is in arm 2
    EXPECT_EQ(work.ep1[2], std::min(T1, C));
    EXPECT_EQ(work.ep2[2], std::min(T2, C));
    EXPECT_EQ(work.ep1[0], T1 <= C ? 1.0 : 2.0);
  }
}

// With loss to follow-up a fourth number per patient (after u3) gives its loss time, and none is
// drawn without loss. Over many trials the observed events of each endpoint at an analysis during
// and after a ramped accrual match the model's expected events, N times the pooled probability
// of an observed event by then, within three standard errors.
TEST(Simdata, EventsPerAnalysisWithLossAndRampMatchTheModel) {
  EntryAndLoss el;
  el.dropout = {0.05, 0.15};
  el.accrual_end = {1.0, 2.0, 3.0};
  el.accrual_intensity = {1.0, 2.0, 4.0};
  TrialSettings in;
  in.r = 0.5;
  in.lambda1 = 0.3;
  in.lambda2 = 0.2;
  in.HR1 = 0.7;
  in.HR2 = 0.8;
  in.theta = 2.0;
  in.entry_loss = el;
  in.accrual_period = 3.0;
  std::ostringstream report;
  TrialWork work;
  {
    numerics::UniformGenerator g = seeded(4321);
    in.N = 25;
    in.a = 3.0;
    in.s = 1.0;
    generate_trial(in, g, report, work);
    EXPECT_EQ(g.GETSEED(), advanced(4321, 25 * 4));
  }
  const survival::EntryLoss m(el, 3.0);
  for (double tau : {2.0, 4.5}) {
    const int N = 1000, trials = 300;
    in.N = static_cast<int>(N * m.enrolled(tau));
    in.a = std::min(3.0, tau);
    in.s = tau - in.a;
    numerics::UniformGenerator g = seeded(97531);
    double s1 = 0, q1 = 0, s2 = 0, q2 = 0;
    for (int t = 0; t < trials; ++t) {
      const RecordCounts c = generate_trial(in, g, report, work);
      s1 += c.D1;
      q1 += static_cast<double>(c.D1) * c.D1;
      s2 += c.D2;
      q2 += static_cast<double>(c.D2) * c.D2;
    }
    const double n = in.N / 2.0;  // patients per arm
    const double want1 = n * (m.event_probability(0, 0.3, tau) + m.event_probability(1, 0.21, tau));
    const double want2 = n * (m.event_probability(0, 0.2, tau) + m.event_probability(1, 0.16, tau));
    const double m1 = s1 / trials, m2 = s2 / trials;
    const double se1 = std::sqrt((q1 / trials - m1 * m1) / trials);
    const double se2 = std::sqrt((q2 / trials - m2 * m2) / trials);
    EXPECT_NEAR(m1, want1, 3 * se1) << tau;
    EXPECT_NEAR(m2, want2, 3 * se2) << tau;
  }
}

TEST(Simdata, IndependenceValuesUseTheMarginalInversesAlone) {
  std::ostringstream report;
  for (int family : {1, 3}) {
    const EventTimes t = draw_event_times(family, 0.0, 0.5, 2.0, 0.3, 0.8, report);
    EXPECT_EQ(t.T1, -std::log(1 - 0.3) / 0.5);
    EXPECT_EQ(t.T2, -std::log(1 - 0.8) / 2.0);
  }
}

TEST(Simdata, WithoutCensoringEveryPatientHasBothEventsInModeOne) {
  TrialSettings in;
  in.N = 200;
  in.censoring = 0;
  in.mode = 1;
  in.family = 1;
  in.theta = 2;
  in.lambda1 = 0.4;
  in.lambda2 = 0.7;
  in.HR1 = 0.8;
  in.HR2 = 0.6;
  numerics::UniformGenerator g = seeded(11);
  std::ostringstream report;
  TrialWork work;
  const RecordCounts c = generate_trial(in, g, report, work);
  EXPECT_EQ(c.D1, 200);
  EXPECT_EQ(c.D2, 200);
}

TEST(Simdata, FullyCompetingRisksShareOneObservedTime) {
  for (int composite : {1, 2}) {
    TrialSettings in;
    in.N = 400;
    in.mode = 3;
    in.composite = composite;
    in.family = 3;
    in.theta = -4;
    in.lambda1 = 0.3;
    in.lambda2 = 0.4;
    in.a = 2;
    in.s = 1;
    numerics::UniformGenerator g = seeded(12);
    std::ostringstream report;
    TrialWork work;
    generate_trial(in, g, report, work);
    int both = 0;
    for (int i = 0; i < in.N; ++i) {
      const double* r1 = &work.ep1[3 * i];
      const double* r2 = &work.ep2[3 * i];
      EXPECT_EQ(r1[2], r2[2]);
      EXPECT_EQ(r1[1], r2[1]);
      if (r1[0] == 1.0 && r2[0] == 1.0) ++both;
      // A composite first endpoint counts whichever event came first.
      if (composite == 2 && r2[0] == 1.0) EXPECT_EQ(r1[0], 1.0);
    }
    if (composite == 1) EXPECT_EQ(both, 0);
    if (composite == 2) EXPECT_GT(both, 0);
  }
}

TEST(Simdata, SemiCompetingEndsFollowUpOfEp1AtEp2) {
  TrialSettings in;
  in.N = 300;
  in.mode = 2;
  in.family = 2;
  in.theta = 0.6;
  in.lambda1 = 0.3;
  in.lambda2 = 0.5;
  in.a = 2;
  in.s = 2;
  numerics::UniformGenerator g = seeded(13);
  std::ostringstream report;
  TrialWork work;
  generate_trial(in, g, report, work);
  for (int i = 0; i < in.N; ++i) {
    EXPECT_LE(work.ep1[3 * i + 2], work.ep2[3 * i + 2]);
    // An EP2 event before EP1 censors EP1 at that time.
    if (work.ep2[3 * i] == 1.0 && work.ep1[3 * i + 2] == work.ep2[3 * i + 2]) {
      EXPECT_EQ(work.ep1[3 * i], 2.0);
    }
  }
}

// Kendall's tau of a sample with its U-statistic standard error.
struct Tau {
  double tau, se;
};
Tau kendall(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t n = x.size();
  std::vector<double> h(n, 0.0);
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = i + 1; j < n; ++j) {
      const double s = (x[i] - x[j]) * (y[i] - y[j]);
      const double sg = s > 0 ? 1.0 : (s < 0 ? -1.0 : 0.0);
      sum += sg;
      h[i] += sg;
      h[j] += sg;
    }
  }
  const double tau = 2 * sum / (static_cast<double>(n) * (n - 1));
  double var_h = 0;
  for (size_t i = 0; i < n; ++i) {
    const double hi = h[i] / (n - 1) - tau;
    var_h += hi * hi;
  }
  var_h /= (n - 1);
  return {tau, std::sqrt(4.0 * var_h / n)};
}

// Debye function D1(x) = (1/x) int_0^x t/(e^t - 1) dt by composite Simpson, x > 0.
double debye1(double x) {
  const int n = 20000;
  const double h = x / n;
  auto f = [](double t) { return t == 0 ? 1.0 : t / std::expm1(t); };
  double s = f(0) + f(x);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4 : 2) * f(i * h);
  return s * h / 3 / x;
}

double tau_closed_form(int family, double theta) {
  switch (family) {
    case 1: return theta / (theta + 2);
    case 2: return 1 - theta;
    default: return 1 + 4 * (debye1(-theta) - 1) / (-theta);
  }
}

TEST(Samplers, KendallTauMatchesClosedFormOfEachFamily) {
  struct Case {
    int family;
    double theta;
  };
  const Case cases[] = {{1, 0.5}, {1, 2.0}, {1, 6.0}, {2, 0.9}, {2, 0.5}, {2, 0.2},
                        {3, -1.0}, {3, -5.0}, {3, -12.0}};
  std::ostringstream report;
  numerics::UniformGenerator g = seeded(2024);
  const int n = 1500;
  for (const Case& c : cases) {
    std::vector<double> t1(n), t2(n);
    for (int i = 0; i < n; ++i) {
      const double u1 = g.UNIRAND(), u2 = g.UNIRAND();
      const EventTimes t = draw_event_times(c.family, c.theta, 0.4, 1.3, u1, u2, report);
      t1[i] = t.T1;
      t2[i] = t.T2;
    }
    const Tau k = kendall(t1, t2);
    const double expected = tau_closed_form(c.family, c.theta);
    EXPECT_NEAR(k.tau, expected, 3 * k.se)
        << "family " << c.family << " theta " << c.theta << " se " << k.se;
  }
}

TEST(Samplers, MarginsAreExponentialWithTheStatedHazards) {
  // Kolmogorov-Smirnov distance of each margin to its exponential law; 1.95/sqrt(n) is the 0.1%
  // critical value, and the means agree with 1/hazard within 4 standard errors.
  struct Case {
    int family;
    double theta;
  };
  const Case cases[] = {{1, 3.0}, {2, 0.4}, {3, -8.0}};
  std::ostringstream report;
  numerics::UniformGenerator g = seeded(99);
  const int n = 4000;
  const double l1 = 0.25, l2 = 1.7;
  for (const Case& c : cases) {
    std::vector<double> t1(n), t2(n);
    for (int i = 0; i < n; ++i) {
      const double u1 = g.UNIRAND(), u2 = g.UNIRAND();
      const EventTimes t = draw_event_times(c.family, c.theta, l1, l2, u1, u2, report);
      t1[i] = t.T1;
      t2[i] = t.T2;
    }
    for (int e = 0; e < 2; ++e) {
      std::vector<double>& t = e == 0 ? t1 : t2;
      const double l = e == 0 ? l1 : l2;
      std::sort(t.begin(), t.end());
      double dmax = 0, mean = 0;
      for (int i = 0; i < n; ++i) {
        const double F = 1 - std::exp(-l * t[i]);
        dmax = std::max({dmax, std::fabs(F - static_cast<double>(i) / n),
                         std::fabs(F - static_cast<double>(i + 1) / n)});
        mean += t[i] / n;
      }
      EXPECT_LT(dmax, 1.95 / std::sqrt(n)) << "family " << c.family << " endpoint " << e + 1;
      EXPECT_NEAR(mean * l, 1.0, 4.0 / std::sqrt(n)) << "family " << c.family << " endpoint " << e + 1;
    }
  }
}

TEST(Simdata, SameSeedSameTrialAndNullStatisticsAreStandardNormal) {
  TrialSettings in;
  in.N = 200;
  in.family = 1;
  in.theta = 1.0;
  in.lambda1 = 0.35;
  in.lambda2 = 0.5;
  in.a = 2;
  in.s = 1;
  std::ostringstream console, report;
  TrialWork work;
  numerics::UniformGenerator g1 = seeded(31), g2 = seeded(31);
  const TrialOutcome a = SIMDATA(in, g1, console, report, work);
  const TrialOutcome b = SIMDATA(in, g2, console, report, work);
  EXPECT_EQ(a.Z1, b.Z1);
  EXPECT_EQ(a.Z2, b.Z2);
  EXPECT_EQ(a.D1, b.D1);
  EXPECT_EQ(g1.GETSEED(), g2.GETSEED());
  EXPECT_EQ(a.p1, 0.5 * std::erfc(-a.Z1 / std::sqrt(2.0)));
  // V is the classical variance times Y(1)/(Y1(1) Y2(1)), about D/N for equal arms and no
  // censoring before the first event: I = V/4 is near D/(4N).
  EXPECT_NEAR(a.I1, a.D1 / (4.0 * in.N), 0.2 * a.D1 / (4.0 * in.N));

  // Under equal hazards Z is close to N(0, 1): mean and variance over 400 trials.
  const int reps = 400;
  double s1 = 0, s11 = 0, s2 = 0, s22 = 0;
  for (int i = 0; i < reps; ++i) {
    const TrialOutcome o = SIMDATA(in, g1, console, report, work);
    s1 += o.Z1;
    s11 += o.Z1 * o.Z1;
    s2 += o.Z2;
    s22 += o.Z2 * o.Z2;
  }
  EXPECT_NEAR(s1 / reps, 0.0, 4 / std::sqrt(reps));
  EXPECT_NEAR(s2 / reps, 0.0, 4 / std::sqrt(reps));
  EXPECT_NEAR(s11 / reps, 1.0, 4 * std::sqrt(2.0 / reps));
  EXPECT_NEAR(s22 / reps, 1.0, 4 * std::sqrt(2.0 / reps));
  EXPECT_TRUE(console.str().empty());
}

TEST(Simdata, EmptyTrialIsTreatedAsNoEvents) {
  TrialSettings in;
  in.N = 0;
  std::ostringstream console, report;
  TrialWork work;
  numerics::UniformGenerator g = seeded(1);
  const TrialOutcome o = SIMDATA(in, g, console, report, work);
  EXPECT_EQ(o.Z1, 0.001);
  EXPECT_EQ(o.p2, 0.999999);
  EXPECT_EQ(o.I1, 0.0);
  EXPECT_EQ(g.GETSEED(), 1);
}

TEST(Simdata, NotANumberVarianceDumpsTheRecordsAndStops) {
  const std::vector<double> rec = {1.0, 0.0, 0.5, 2.0, 1.0, 0.75};
  std::ostringstream console;
  stop_on_nan_variance("ep1", 0.25, 1.0, rec.data(), 2, console);  // a number: nothing happens
  EXPECT_TRUE(console.str().empty());
  EXPECT_THROW(stop_on_nan_variance("ep2", std::nan(""), 1.5, rec.data(), 2, console), RunError);
  std::istringstream lines(console.str());
  std::string first, second, third, extra;
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, third);
  EXPECT_EQ(first.substr(0, 4), " ep2");
  EXPECT_NE(second.find("0.5"), std::string::npos);
  EXPECT_NE(third.find("0.75"), std::string::npos);
  EXPECT_FALSE(std::getline(lines, extra));
}

}  // namespace
}  // namespace kestrel::simulation

namespace kestrel::simulation {
namespace {

// Piecewise hazards: the simulated event times of each arm and endpoint follow the stated law
// (the fraction of events before each change point within 4 SE of 1 - S(c)), for every copula
// family, and the copula keeps the two times dependent as before.
TEST(Simdata, PiecewiseHazardsGiveTheStatedLaws) {
  for (int family : {1, 2, 3}) {
    TrialSettings in;
    in.N = 20000;
    in.r = 0.5;
    in.censoring = 0;
    in.family = family;
    in.theta = family == 1 ? 1.5 : (family == 2 ? 0.6 : -4.0);
    in.entry_loss.hazards[0] = {{0.5, 1.5}, {0.9, 0.4, 0.2}, {1.0, 0.6, 0.5}};
    in.entry_loss.hazards[1] = {{1.0}, {0.15, 0.3}, {1.0, 0.7}};
    std::ostringstream report;
    TrialWork work;
    numerics::UniformGenerator g = seeded(97);
    generate_trial(in, g, report, work);
    for (int e = 0; e < 2; ++e) {
      const std::vector<double>& rec = e == 0 ? work.ep1 : work.ep2;
      for (int arm = 0; arm < 2; ++arm) {
        const survival::PiecewiseExponential law =
            survival::endpoint_margin(in.entry_loss, e, arm, 1.0, 0.5, 1.0);
        for (double c : {0.5, 1.0, 1.5, 3.0}) {
          int n = 0, below = 0;
          for (int i = 0; i < in.N; ++i) {
            const double* r = rec.data() + static_cast<size_t>(i) * kRecordWidth;
            if (static_cast<int>(r[kGroupColumn]) != arm) continue;
            ++n;
            below += r[kTimeColumn] < c;
          }
          const double p = 1.0 - law.survival(c);
          EXPECT_NEAR(static_cast<double>(below) / n, p, 4.0 * std::sqrt(p * (1 - p) / n))
              << "family " << family << " EP" << e + 1 << " arm " << arm << " c " << c;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kestrel::simulation
