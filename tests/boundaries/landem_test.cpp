// Boundary recursion: published bounds, reductions to the fixed design, agreement with an
// independent quadrature of the sequential statistic, and the messages of the spending and
// search routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <vector>

#include "boundaries/reference_normal.h"
#include "boundaries/spending.h"
#include "common/errors.h"

namespace kestrel::boundaries {
namespace {

LandemResult run(int code, double alpha, double side, const std::vector<double>& t, double phi = 0,
                 const std::vector<double>& user = {}, std::ostream* report = nullptr,
                 double ztrun = 0) {
  BoundaryWork work;
  std::ostringstream sink;
  return LANDEM(static_cast<int>(t.size()), t, t, side, code, alpha, phi, ztrun, user, work,
                report ? *report : sink);
}

std::vector<double> equally_spaced(int K) {
  std::vector<double> t(K);
  for (int i = 0; i < K; ++i) t[i] = (i + 1.0) / K;
  return t;
}

TEST(Landem, ObrienFlemingThreeLooksMatchesPublishedBounds) {
  // One-sided alpha 0.025, O'Brien-Fleming-type spending, three equally spaced analyses: the
  // bounds tabulated in the group sequential literature are 3.7103, 2.5114, 1.9930.
  std::ostringstream report;
  LandemResult r = run(1, 0.025, 1.0, equally_spaced(3), 0, {}, &report);
  const double published[3] = {3.7103, 2.5114, 1.9930};
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(std::round(r.zb[i] * 1e4) / 1e4, published[i], 1e-12) << "analysis " << i + 1;
    EXPECT_EQ(r.za[i], -8.0);
  }
  EXPECT_EQ(report.str(), "");
  EXPECT_NEAR(r.pe[2], 0.025, 1e-9);  // PNORM is good to about 1e-9
}

TEST(Landem, SingleAnalysisGivesTheFixedDesignQuantile) {
  for (int code = 1; code <= 4; ++code) {
    const double phi = code == 3 ? 2.0 : code == 4 ? -4.0 : 0.0;
    LandemResult one = run(code, 0.025, 1.0, {1.0}, phi);
    EXPECT_NEAR(one.zb[0], ZNORM(1 - 0.025), 1e-12) << "code " << code;
    EXPECT_NEAR(one.zb[0], reference::quantile(0.975), 1e-12) << "code " << code;
    LandemResult two = run(code, 0.05, 2.0, {1.0}, phi);
    EXPECT_NEAR(two.zb[0], ZNORM(1 - 0.025), 1e-12) << "two-sided code " << code;
    EXPECT_EQ(two.za[0], -two.zb[0]);
  }
  // The alternative O'Brien-Fleming code spends side*alpha/2 at t = 1: one-sided alpha 0.05
  // spends 0.025.
  LandemResult alt = run(6, 0.05, 1.0, {1.0});
  EXPECT_NEAR(alt.pe[0], 0.025, 1e-9);
  EXPECT_NEAR(alt.zb[0], ZNORM(0.975), 1e-8);
}

TEST(Landem, PocockAndHwangShihDeCaniAgreeWithIndependentQuadrature) {
  struct Case {
    int code;
    double phi;
    double alpha;
    bool two_sided;
    std::vector<double> t;
  };
  const std::vector<Case> cases = {
      {2, 0, 0.025, false, {0.5, 1.0}},      {2, 0, 0.025, false, {1.0 / 3, 2.0 / 3, 1.0}},
      {2, 0, 0.05, true, {0.4, 1.0}},        {4, -4, 0.025, false, {0.5, 1.0}},
      {4, 1, 0.025, false, {0.3, 0.7, 1.0}}, {4, -2, 0.025, false, {1.0 / 3, 2.0 / 3, 1.0}},
      {4, -4, 0.05, true, {0.25, 0.6, 1.0}}, {1, 0, 0.025, false, {0.5, 0.75, 1.0}},
  };
  double largest = 0.0;
  for (const Case& c : cases) {
    const double side = c.two_sided ? 2.0 : 1.0;
    const double a = c.alpha / side;
    // Cumulative spending from the closed forms.
    std::vector<double> pe, pd;
    for (double t : c.t) {
      double v;
      if (c.code == 2) {
        v = a * std::log(1 + (std::numbers::e - 1) * t);
      } else if (c.code == 4) {
        v = a * (1 - std::exp(-c.phi * t)) / (1 - std::exp(-c.phi));
      } else {
        v = 2 * (1 - reference::Phi(reference::quantile(1 - a / 2) / std::sqrt(t)));
      }
      pd.push_back(side * v - (pe.empty() ? 0.0 : pe.back()));
      pe.push_back(side * v);
    }
    const std::vector<double> truth = reference::bounds_by_quadrature(c.t, pd, c.two_sided);
    LandemResult r = run(c.code, c.alpha, side, c.t, c.phi);
    for (size_t i = 0; i < c.t.size(); ++i) {
      const double diff = std::fabs(r.zb[i] - truth[i]);
      largest = std::max(largest, diff);
      EXPECT_LT(diff, 1e-4) << "code " << c.code << " K " << c.t.size() << " analysis " << i + 1
                            << ": " << r.zb[i] << " vs " << truth[i];
      if (c.two_sided) EXPECT_EQ(r.za[i], -r.zb[i]);
    }
  }
  // The largest difference measures the discretisation error of the recursion.
  RecordProperty("largest_bound_difference", std::to_string(largest));
  std::printf("largest bound difference against quadrature: %.3e\n", largest);
}

TEST(Landem, ZeroIncrementGivesBoundEightAndTruncationRespends) {
  std::ostringstream report;
  // Code 5 with no alpha spent at the second analysis.
  LandemResult r = run(5, 0.025, 1.0, {0.5, 0.75, 1.0}, 0, {0.01, 0.01, 0.025}, &report);
  EXPECT_EQ(r.zb[1], 8.0);
  EXPECT_EQ(r.pd[1], 0.0);
  EXPECT_EQ(report.str(),
            " Type I error spent too small, analysis           2\n"
            " Zero used as approximation for    0.0000000000000000    \n");
  // Truncation at 2.5: the first bound (2.576 untruncated for alpha 0.005) is cut and what it
  // really spends replaces the spending function's value.
  LandemResult cut = run(5, 0.025, 1.0, {0.5, 1.0}, 0, {0.005, 0.025}, nullptr, 2.5);
  EXPECT_EQ(cut.zb[0], 2.5);
  EXPECT_NEAR(cut.pd[0], 1 - reference::Phi(2.5), 1e-8);
  EXPECT_NEAR(cut.pd[1], 0.025 - cut.pd[0], 1e-15);
}

TEST(Alphas, BadIncrementsAreClampedWithTheirMessages) {
  std::ostringstream report;
  std::vector<double> pe, pd;
  // Decreasing cumulative values: a negative increment.
  ALPHAS(5, 3, 0.025, 0, 1.0, {0.3, 0.6, 1.0}, {0.01, 0.005, 0.025}, pe, pd, report);
  EXPECT_EQ(pd[1], 0.0);
  EXPECT_NEAR(pd[2], 0.02, 1e-15);
  EXPECT_EQ(report.str(),
            " Error in spending function.\n"
            " Type I error spent too small, analysis           2\n"
            " Zero used as approximation for    0.0000000000000000    \n");
  // An increment above one.
  std::ostringstream big;
  ALPHAS(5, 2, 1.0, 0, 2.0, {0.5, 1.0}, {0.2, 0.9}, pe, pd, big);
  EXPECT_EQ(pd[1], 1.0);
  EXPECT_EQ(big.str(), " Error in spending function.\n");
  // A tiny but positive increment.
  std::ostringstream tiny;
  ALPHAS(5, 2, 0.025, 0, 1.0, {0.5, 1.0}, {1e-14, 0.025}, pe, pd, tiny);
  EXPECT_EQ(pd[0], 0.0);
  EXPECT_EQ(tiny.str(),
            " Type I error spent too small, analysis           1\n"
            " Zero used as approximation for    1.0000000000000000E-14\n");
}

TEST(Alphas, UnknownCodeWarnsAndKeepsTheEntryValues) {
  std::ostringstream report;
  std::vector<double> pe = {0.01, 0.02}, pd;
  ALPHAS(9, 2, 0.025, 0, 1.0, {0.5, 1.0}, {}, pe, pd, report);
  EXPECT_EQ(pe[1], 0.02);
  EXPECT_NEAR(pd[1], 0.01, 1e-15);
  EXPECT_EQ(report.str(), " Warning: invalid use function.\n Warning: invalid use function.\n");
}

TEST(Alphas, SpendingFamiliesReachAlphaAtTheEnd) {
  std::ostringstream report;
  std::vector<double> pe, pd;
  for (int code = 1; code <= 4; ++code) {
    ALPHAS(code, 3, 0.05, 3.0, 2.0, {0.2, 0.6, 1.0}, {}, pe, pd, report);
    EXPECT_NEAR(pe[2], 0.05, 1e-9) << code;
    EXPECT_GT(pd[0], 0.0);
  }
  // Power family: alpha t^phi.
  ALPHAS(3, 2, 0.025, 3.0, 1.0, {0.5, 1.0}, {}, pe, pd, report);
  EXPECT_NEAR(pe[0], 0.025 * 0.125, 1e-16);
  EXPECT_EQ(report.str(), "");
}

TEST(Search, ImpossibleTargetReportsNotConverging) {
  std::ostringstream report;
  BoundaryWork work;
  // Build the density of analysis 1 through a two-look recursion, then ask for an exit
  // probability above one at analysis 2.
  run(1, 0.025, 1.0, {0.5, 1.0});
  LANDEM(2, {0.5, 1.0}, {0.5, 1.0}, 1.0, 1, 0.025, 0, 0, {}, work, report);
  const double before = work.yb[1];
  EXPECT_FALSE(SEARCH(2, 2.0, work, report));
  EXPECT_EQ(work.yb[1], before);
  EXPECT_EQ(report.str(),
            "Large change in bounds, possible error.   2\n"
            "Large change in bounds, possible error.   2\n"
            "Large change in bounds, possible error.   2\n"
            "Large change in bounds, possible error.   2\n"
            "Large change in bounds, possible error.   2\n"
            "Error in search: not converging.  Abort analysis!   2\n");
}

TEST(Other, MovesTheDensityLikeTheDirectTrapezoidalSum) {
  // The density of the next analysis against the trapezoidal sum written out with the exact
  // normal density: even spacing, and a close pair of analyses where the standardized distances
  // are large.
  struct Case {
    double t1, t2, z1;
  };
  for (const Case& c : {Case{0.5, 1.0, 2.8}, Case{0.2, 0.4, 4.0}, Case{0.9, 0.995, 2.0}}) {
    const double s1 = std::sqrt(c.t1), s2 = std::sqrt(c.t2), sg2 = std::sqrt(c.t2 - c.t1);
    const double ya1 = -8 * s1, yb1 = c.z1 * s1, ya2 = -8 * s2, yb2 = 2.0 * s2;
    const int n1 = static_cast<int>((yb1 - ya1) / (0.05 * s1)) + 1;
    const int n2 = static_cast<int>((yb2 - ya2) / (0.05 * sg2)) + 1;
    std::vector<double> f, scratch;
    FIRST(ya1, yb1, n1, s1, f);
    const std::vector<double> g = f;
    OTHER(ya1, yb1, n1, ya2, yb2, n2, sg2, f, scratch);
    ASSERT_EQ(f.size(), static_cast<size_t>(n2 + 1));
    const double h1 = (yb1 - ya1) / n1;
    double worst = 0;
    for (int j = 0; j <= n2; ++j) {
      const double x = ya2 + j * (yb2 - ya2) / n2;
      double sum = 0;
      for (int k = 0; k <= n1; ++k) {
        const double w = k == 0 || k == n1 ? 0.5 : 1.0;
        sum += w * g[k] * std::exp(-0.5 * std::pow((x - (ya1 + k * h1)) / sg2, 2)) /
               2.5066282746350725 / sg2;
      }
      sum *= h1;
      if (sum > 1e-250) worst = std::max(worst, std::fabs(f[j] - sum) / sum);
      const double direct = FCAB(x, ya1, yb1, n1, sg2, g.data());
      if (direct > 1e-250) worst = std::max(worst, std::fabs(f[j] - direct) / direct);
    }
    EXPECT_LT(worst, 1e-13) << c.t1 << " " << c.t2;
    std::printf("density recurrence, t %.3g %.3g: worst relative difference %.2e\n", c.t1, c.t2,
                worst);
  }
}

TEST(Landem, AnalysesTooCloseTogetherStopTheRun) {
  // An increment of 1e-4 in information: the grid step is 0.05 * 0.01 on a range of about 10,
  // some 20000 intervals.
  try {
    run(1, 0.025, 1.0, {0.9999, 1.0});
    FAIL() << "the recursion went on";
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(),
                 "too little information to design the bounds: the information fractions at "
                 "analyses 1 and 2 are 0.9999 and 1, too close together for the boundary "
                 "recursion (the grid of analysis 2 would need more than 5000 intervals)");
  }
  // An increment of 0.01 leaves about 2000 intervals and goes through.
  EXPECT_NO_THROW(run(1, 0.025, 1.0, {0.99, 1.0}));
}

// A bound search that fails used to leave the bound at 0, which rejects whenever the statistic
// is positive. A second time scale far from the first makes the increment's standard deviation
// 1000, so fifty steps of 1 on the score scale cannot reach the exit probability to spend.
TEST(Landem, FailedBoundSearchStopsTheRunInsteadOfLeavingZero) {
  std::ostringstream report;
  BoundaryWork work;
  try {
    LANDEM(2, {0.5, 1.0}, {0.5, 1e6}, 1.0, 1, 0.025, 0, 0, {}, work, report);
    FAIL() << "the recursion went on";
  } catch (const RunError& e) {
    // The alpha to spend at analysis 2: O'Brien-Fleming type, 0.025 in all, t = 0.5.
    const double pd2 =
        0.025 - 2 * (1 - reference::Phi(reference::quantile(1 - 0.0125) / std::sqrt(0.5)));
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "the search of the upper bound of analysis 2 did not converge: the alpha to "
                  "spend there gives an exit probability of %.6g to reach, and the last bound "
                  "tried (z = ",
                  pd2);
    EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
  }
  // The search's own lines come first in the report.
  EXPECT_NE(report.str().find("Error in search: not converging.  Abort analysis!   2\n"),
            std::string::npos);
}

// The Hwang-Shih-DeCani family with phi = -710: exp(710) overflows, so the cumulative alpha at
// t = 1 is inf/inf. Before, the search got a target that is not a number, stored nothing and the
// bound of the final analysis stayed 0.
TEST(Landem, SpendingThatIsNotANumberStopsTheRun) {
  try {
    run(4, 0.025, 1.0, {0.5, 1.0}, -710);
    FAIL() << "the recursion went on";
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(),
                 "the spending function 4 with phi = -710 gives a cumulative alpha that is not a "
                 "number at analysis 2 (information fraction 1); its formula overflows there");
  }
  // phi = -700 stays finite and spends alpha at the end.
  const LandemResult r = run(4, 0.025, 1.0, {0.5, 1.0}, -700);
  EXPECT_NEAR(r.pe[1], 0.025, 1e-12);
  EXPECT_GT(r.zb[1], 1.9);
}

}  // namespace
}  // namespace kestrel::boundaries
