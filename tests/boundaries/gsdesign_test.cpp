// Single-endpoint design: the drift against the fixed-design closed form and an independent
// quadrature, self-consistency of the exit probabilities, the event and subject counts, and the
// messages of the parameter checks and of the drift search.
#include "boundaries/gsdesign.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "boundaries/reference_normal.h"
#include "common/errors.h"

namespace kestrel::boundaries {
namespace {

GsDesignInput design(int code, std::vector<double> t, double alpha = 0.025, int sides = 1,
                     double power = 0.9) {
  GsDesignInput in;
  in.K = static_cast<int>(t.size());
  in.t = std::move(t);
  in.alpha = alpha;
  in.sides = sides;
  in.spending.deck_code = code;
  in.power = power;
  in.hr = 0.7;
  in.ta = 2;
  in.tf = 1;
  in.control_survival = 0.4;
  in.allocation = 0.5;
  return in;
}

GsDesignResult run(const GsDesignInput& in, std::ostream* report = nullptr) {
  BoundaryWork work;
  std::ostringstream sink;
  return GSDESIGN01(in, work, report ? *report : sink);
}

std::string run_error(const GsDesignInput& in) {
  try {
    run(in);
  } catch (const RunError& e) {
    return e.what();
  }
  return "no error";
}

double sum(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s;
}

TEST(GsDesign, SingleAnalysisDriftIsTheSumOfTheQuantiles) {
  for (double alpha : {0.025, 0.05, 0.01}) {
    for (double power : {0.8, 0.9, 0.95}) {
      GsDesignResult r = run(design(1, {1.0}, alpha, 1, power));
      const double closed = reference::quantile(1 - alpha) + reference::quantile(power);
      EXPECT_NEAR(r.drift, closed, 1e-5) << alpha << " " << power;
      EXPECT_TRUE(r.drift_converged);
      // With one analysis nobody stops early: the expected number of events is D.
      EXPECT_EQ(r.expected_events, r.events);
    }
  }
}

TEST(GsDesign, CrossingProbabilitiesAtTheDriftSumToThePower) {
  std::vector<GsDesignInput> cases = {
      design(1, {1.0 / 3, 2.0 / 3, 1.0}), design(2, {0.2, 0.4, 0.6, 0.8, 1.0}, 0.025, 1, 0.8),
      design(4, {0.25, 0.5, 0.75, 1.0}, 0.05, 2, 0.9), design(3, {0.3, 0.65, 1.0}, 0.025, 1, 0.85)};
  cases[2].spending.has_phi = true;
  cases[2].spending.phi = -4;
  cases[3].spending.has_phi = true;
  cases[3].spending.phi = 2;
  for (const GsDesignInput& in : cases) {
    GsDesignResult r = run(in);
    EXPECT_TRUE(r.drift_converged);
    EXPECT_NEAR(sum(r.qpos), in.power, 1e-6) << "code " << in.spending.deck_code;
  }
}

TEST(GsDesign, PowerAtTheDriftAgreesWithIndependentQuadrature) {
  // Two analyses: P(Z1 >= c1) + P(Z1 < c1, Z2 >= c2) under the drift, Z(t) = S(t)/sqrt(t) with
  // S(t) ~ N(drift t, t), by Gauss-Legendre quadrature over the first score.
  GsDesignResult r = run(design(2, {0.5, 1.0}));
  const double t1 = 0.5, t2 = 1.0, d = r.drift;
  const double c1 = r.zb[0], c2 = r.zb[1];
  const double s1 = std::sqrt(t1), sg2 = std::sqrt(t2 - t1);
  std::vector<double> x, w;
  reference::composite(d * t1 - 12 * s1, c1 * s1, 80, reference::gauss_legendre(20), x, w);
  double second = 0;
  for (size_t k = 0; k < x.size(); ++k) {
    const double dens = reference::phi((x[k] - d * t1) / s1) / s1;
    second += w[k] * dens * (1 - reference::Phi((c2 * std::sqrt(t2) - x[k] - d * (t2 - t1)) / sg2));
  }
  const double first = 1 - reference::Phi(c1 - d * std::sqrt(t1));
  EXPECT_NEAR(r.qpos[0], first, 1e-8);
  EXPECT_NEAR(r.qpos[1], second, 1e-4);
  EXPECT_NEAR(first + second, 0.9, 1e-4);
}

TEST(Glan, NullDriftReproducesTheAlphaSpent) {
  for (int sides : {1, 2}) {
    GsDesignInput in = design(2, {0.2, 0.45, 0.7, 1.0}, 0.05, sides);
    GsDesignResult r = run(in);
    BoundaryWork work;
    std::ostringstream report;
    std::vector<double> qpos, qneg;
    double total = 0;
    ASSERT_TRUE(GLAN(in.K, in.t, r.za, r.zb, 0.0, qpos, qneg, total, work, report));
    for (int i = 0; i < in.K; ++i) {
      // Each bound was searched to 1e-7 in probability.
      const double crossed = sides == 2 ? qpos[i] + qneg[i] : qpos[i];
      EXPECT_NEAR(crossed, r.pd[i], 2.5e-7) << "sides " << sides << " analysis " << i + 1;
    }
    EXPECT_NEAR(sides == 2 ? total : sum(qpos), r.pe.back(), 1e-6);
    EXPECT_EQ(report.str(), "");
  }
}

TEST(GsDesign, EventCountsOfTheWorkedExample) {
  const double drift = 3.2415155500846544;
  const double x = drift * drift / (std::log(0.7) * std::log(0.7)) / 0.25;
  EXPECT_NEAR(x, 330.3779, 5e-5);
  const int expected[5] = {331, 332, 333, 332, 335};
  for (int K = 1; K <= 5; ++K) {
    EXPECT_EQ(events_for_drift(drift, 0.7, 0.5, K), expected[K - 1]) << "K = " << K;
  }
}

TEST(GsDesign, SubjectsFollowFromTheEventProbability) {
  // No accrual period: everybody is followed for tf, so the event probability is closed-form.
  GsDesignInput in = design(1, {0.5, 1.0});
  in.ta = 0;
  in.tf = 3;
  in.control_survival = 0.4;
  in.hr = 0.7;
  GsDesignResult r = run(in);
  const double pev = 1 - (0.5 * 0.4 + 0.5 * std::pow(0.4, 0.7));
  EXPECT_NEAR(r.pev, pev, 1e-15);
  EXPECT_EQ(r.subjects, static_cast<int>(std::ceil(r.events / pev)));
  EXPECT_EQ(r.events % 2, 0);
  // Uniform accrual: Simpson's rule over the entry time against the exact integral
  // 1 - (1/ta) * int_0^ta Sbar(tf + u) du.
  const double ta = 2, tf = 1, S = 0.4, hr = 0.7, p = 0.5;
  const double lc = -std::log(S) / (ta + tf), le = lc * hr;
  auto mean_surv = [&](double l) { return std::exp(-l * tf) * (1 - std::exp(-l * ta)) / (l * ta); };
  const double exact = 1 - ((1 - p) * mean_surv(lc) + p * mean_surv(le));
  EXPECT_NEAR(event_probability(hr, ta, tf, S, p), exact, 1e-4);
}

TEST(GsDesign, ExpectedEventsLieBetweenTheFirstLookAndTheMaximum) {
  GsDesignResult r = run(design(2, {0.25, 0.5, 0.75, 1.0}));
  EXPECT_LT(r.expected_events, r.events);
  EXPECT_GT(r.expected_events, 0.25 * r.events);
  // E = sum D t(i) e(i) + (1 - sum e(i)) D.
  double e = 0, b = 0;
  const double t[4] = {0.25, 0.5, 0.75, 1.0};
  for (int i = 0; i < 4; ++i) {
    e += r.events * t[i] * (r.qpos[i] + r.qneg[i]);
    b += r.qpos[i] + r.qneg[i];
  }
  EXPECT_NEAR(r.expected_events, e + (1 - b) * r.events, 1e-9);
}

TEST(GsDesign, NominalLevelsAreTheTailsOfTheBounds) {
  GsDesignInput in = design(4, {0.5, 1.0}, 0.05, 2);
  in.spending.has_phi = true;
  in.spending.phi = 1;
  GsDesignResult r = run(in);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NEAR(r.nominal_upper[i], 2 * (1 - reference::Phi(r.zb[i])), 1e-15);
    EXPECT_NEAR(r.nominal_lower[i], 2 * reference::Phi(r.za[i]), 1e-15);
  }
  // One-sided designs: the lower bound -8 has a nominal level of about 6e-16.
  GsDesignResult one = run(design(1, {0.5, 1.0}));
  EXPECT_NEAR(one.nominal_lower[0], reference::Phi(-8.0), 1e-20);
}

TEST(GsDesign, SidednessOtherThanTwoGivesOneSidedBounds) {
  GsDesignResult one = run(design(2, {0.5, 1.0}, 0.025, 1));
  for (int sides : {0, 3, -1}) {
    GsDesignResult r = run(design(2, {0.5, 1.0}, 0.025, sides));
    EXPECT_EQ(r.zb, one.zb) << sides;
    EXPECT_EQ(r.za, std::vector<double>({-8.0, -8.0})) << sides;
    EXPECT_EQ(r.drift, one.drift) << sides;
  }
}

TEST(GsDesign, InvalidAlphaIsReplacedWithItsMessages) {
  std::ostringstream report;
  GsDesignResult r = run(design(1, {1.0}, 0.0), &report);
  EXPECT_EQ(report.str(),
            " Invalid response.\n Alpha must be > 0 and <= 1.\n Alpha has been set to 0.05.\n");
  EXPECT_NEAR(r.zb[0], reference::quantile(1 - 0.05000000074505806), 1e-9);
  std::ostringstream big;
  run(design(1, {1.0}, 1.5), &big);
  EXPECT_EQ(big.str(),
            " Invalid response.\n Alpha must be > 0 and <= 1.\n Alpha has been set to 0.05.\n");
}

TEST(GsDesign, InvalidPowerIsReplacedWithItsMessages) {
  std::ostringstream report;
  GsDesignResult r = run(design(1, {0.5, 1.0}, 0.025, 1, 1.2), &report);
  EXPECT_EQ(report.str(),
            " Invalid response.\n Power must be > 0 and <= 1.\n Power has been set to 0.80.\n");
  EXPECT_NEAR(sum(r.qpos), 0.800000011920929, 1e-6);
  std::ostringstream zero;
  run(design(1, {1.0}, 0.025, 1, 0.0), &zero);
  EXPECT_EQ(zero.str(),
            " Invalid response.\n Power must be > 0 and <= 1.\n Power has been set to 0.80.\n");
}

TEST(GsDesign, TimesMustBeStrictlyIncreasingAndAtMostOne) {
  const std::string message = " Times must be strictly increasing and <=1.";
  EXPECT_EQ(run_error(design(1, {0.5, 0.5, 1.0})), message);
  EXPECT_EQ(run_error(design(1, {0.6, 0.4, 1.0})), message);
  EXPECT_EQ(run_error(design(1, {0.0, 1.0})), message);
  EXPECT_EQ(run_error(design(1, {0.5, 1.01})), message);
  // Information fractions ending below one are accepted.
  EXPECT_NO_THROW(run(design(1, {0.5, 0.9})));
}

// Inside a run the stop names the endpoint it belongs to, whatever the step that stopped.
TEST(GsDesign, StopsNameTheEndpoint) {
  GsDesignInput close = design(1, {0.99995, 1.0});
  close.endpoint = "EP2 (CPRSK 3: both endpoints fatal)";
  EXPECT_EQ(run_error(close),
            "EP2 (CPRSK 3: both endpoints fatal): too little information to design the bounds: "
            "the information fractions at analyses 1 and 2 are 0.99995 and 1, too close "
            "together for the boundary recursion (the grid of analysis 2 would need more than "
            "5000 intervals)");
  GsDesignInput order = design(1, {0.6, 0.4, 1.0});
  order.endpoint = "EP1";
  EXPECT_EQ(run_error(order), "EP1: Times must be strictly increasing and <=1.");
  // Without a name (the calculator on its own) the message stands alone.
  EXPECT_EQ(run_error(design(1, {0.6, 0.4, 1.0})), " Times must be strictly increasing and <=1.");
}

// The event probability of a design whose control survival is not a probability would divide
// the events into a number of subjects of no meaning.
TEST(GsDesign, EventProbabilityThatIsNotAProbabilityStops) {
  GsDesignInput in = design(1, {1.0});
  in.control_survival = 1.0;  // no events at all
  EXPECT_EQ(run_error(in).rfind("the probability of an event by the end of the study is 0, not a "
                                "probability above 0: hazard ratio",
                                0),
            0u)
      << run_error(in);
}

TEST(GsDesign, NumberOfAnalysesIsChecked) {
  GsDesignInput none = design(1, {1.0});
  none.K = 0;
  EXPECT_EQ(run_error(none), "");
  std::vector<double> t(26);
  for (int i = 0; i < 26; ++i) t[i] = (i + 1) / 26.0;
  EXPECT_EQ(run_error(design(1, t)),
            " Number must be <= 25 or ndim must be increased in main program.");
}

TEST(GsDesign, CodesAboveFiveAreReplacedFromTheDeck) {
  GsDesignInput in = design(7, {0.5, 1.0});
  in.spending.replacement_code = 2;
  in.spending.replacement_line = 12;
  std::ostringstream report;
  GsDesignResult r = run(in, &report);
  EXPECT_EQ(report.str(), " No other valid choices have been programmed.  Select from 1,2,3,4.\n");
  EXPECT_EQ(r.code_used, 2);
  EXPECT_EQ(r.zb, run(design(2, {0.5, 1.0})).zb);
  // Two-sided designs show the alternative O'Brien-Fleming entry of the menu.
  GsDesignInput two = design(6, {0.5, 1.0}, 0.05, 2);
  two.spending.replacement_code = 6;
  two.spending.replacement_line = 12;
  std::ostringstream menu;
  GsDesignResult alt = run(two, &menu);
  EXPECT_EQ(menu.str(), " (6) Alternate OBF\n");
  EXPECT_NEAR(alt.pe.back(), 0.05, 1e-9);
}

TEST(GsDesign, FamilyParametersAreCheckedAndReported) {
  GsDesignInput power = design(3, {0.5, 1.0});
  power.spending.has_phi = true;
  power.spending.phi = -1;
  std::ostringstream report;
  GsDesignResult r = run(power, &report);
  EXPECT_EQ(report.str(), " Parameter must be >0!\n Parameter is  1.000\n");
  EXPECT_EQ(r.phi_used, 1.0);
  EXPECT_NEAR(r.pe[0], 0.0125, 1e-15);  // alpha t^1

  GsDesignInput hsd = design(4, {0.5, 1.0});
  hsd.spending.has_phi = true;
  hsd.spending.phi = 0;
  std::ostringstream zero;
  run(hsd, &zero);
  EXPECT_EQ(zero.str(), " Parameter must be nonzero!\n Parameter is  1.000\n");
  hsd.spending.phi = -4;
  std::ostringstream neg;
  run(hsd, &neg);
  EXPECT_EQ(neg.str(), " Parameter is -4.000\n");

  hsd.spending.has_phi = false;
  EXPECT_NE(run_error(hsd).find("phi"), std::string::npos);
}

TEST(GsDesign, CodeFiveSpendsTheCumulativeValuesOfItsStatement) {
  GsDesignInput in = design(5, {0.3, 0.6, 1.0});
  in.spending.cumulative = {0.002, 0.01, 0.025};
  GsDesignResult r = run(in);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(r.pe[i], in.spending.cumulative[i], 1e-15);
  EXPECT_NEAR(r.zb[0], reference::quantile(1 - 0.002), 1e-12);
  // Two-sided: the values are the alpha of both sides together.
  GsDesignInput two = design(5, {0.5, 1.0}, 0.05, 2);
  two.spending.cumulative = {0.01, 0.05};
  GsDesignResult t = run(two);
  EXPECT_NEAR(t.pe[1], 0.05, 1e-15);
  EXPECT_NEAR(t.zb[0], reference::quantile(1 - 0.005), 1e-12);

  GsDesignInput bad = in;
  bad.spending.cumulative = {0.01, 0.005, 0.025};
  EXPECT_NE(run_error(bad).find("strictly increasing"), std::string::npos);
  bad.spending.cumulative = {0.002, 0.01, 0.02};
  EXPECT_NE(run_error(bad).find("must equal alpha"), std::string::npos);
  bad.spending.cumulative = {0.01, 0.025};
  EXPECT_NE(run_error(bad).find("needs 3 cumulative"), std::string::npos);
}

TEST(Bisect, StopsWithTheConvergenceWarningAfterItsStepLimit) {
  GsDesignResult r = run(design(1, {0.5, 1.0}));
  BoundaryWork work;
  std::ostringstream report;
  // Started far from the root, two evaluations cannot reach it.
  DriftSearch d = BISECT(2, {0.5, 1.0}, r.za, r.zb, 0.9, 1.0, work, report, 2);
  EXPECT_FALSE(d.converged);
  EXPECT_EQ(d.steps, 2);
  EXPECT_EQ(report.str(), " Warning: Convergence problem.\n");
  // With the default limit the same search converges.
  std::ostringstream quiet;
  DriftSearch ok = BISECT(2, {0.5, 1.0}, r.za, r.zb, 0.9, 1.0, work, quiet);
  EXPECT_TRUE(ok.converged);
  EXPECT_NEAR(ok.drift, r.drift, 1e-5);
  EXPECT_EQ(quiet.str(), "");
  // A start at exactly 0 equals the initial "last" drift: the search stops at once.
  std::ostringstream at_zero;
  DriftSearch z = BISECT(2, {0.5, 1.0}, r.za, r.zb, 0.9, 0.0, work, at_zero);
  EXPECT_FALSE(z.converged);
  EXPECT_EQ(z.steps, 1);
  EXPECT_EQ(at_zero.str(), " Warning: Convergence problem.\n");
}

TEST(Glan, ReportsWhatItCannotCompute) {
  BoundaryWork work;
  std::ostringstream many;
  std::vector<double> t(26), za(26, -8.0), zb(26, 3.0), qpos, qneg;
  for (int i = 0; i < 26; ++i) t[i] = (i + 1) / 26.0;
  double total = 1;
  EXPECT_FALSE(GLAN(26, t, za, zb, 1.0, qpos, qneg, total, work, many));
  EXPECT_EQ(many.str(), "\n      glan: No. of analyses too large, n =   26>   25\n");
  EXPECT_EQ(total, 0.0);

  std::ostringstream wide;
  EXPECT_FALSE(GLAN(2, {0.9999, 1.0}, {-8, -8}, {3, 2}, 1.0, qpos, qneg, total, work, wide));
  EXPECT_EQ(wide.str(), "      glan: Bounds too wide, analysis  2            (b-a)/h >   5000\n\n");
  // The drift search cannot use such bounds and says so.
  std::ostringstream search;
  DriftSearch d = BISECT(2, {0.9999, 1.0}, {-8, -8}, {3, 2}, 0.9, 3.0, work, search);
  EXPECT_FALSE(d.converged);
  EXPECT_NE(search.str().find(" Warning: Convergence problem.\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::boundaries
