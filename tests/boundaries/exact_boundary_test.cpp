// The exact boundary method against independent truth: the spending functions' closed forms with
// the exact normal law, the alpha the bounds spend measured by the independent recursion of
// exact_recursion.h (its own nodes and root search), published O'Brien-Fleming-type bounds, and
// the power at the drift found.
#include "boundaries/exact_boundary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>
#include <vector>

#include "boundaries/exact_recursion.h"
#include "boundaries/reference_normal.h"
#include "common/errors.h"

namespace kestrel::boundaries {
namespace {

// Cumulative alpha of both sides together from the closed forms.
double spending(int code, double phi, double alpha, double side, double t) {
  const double a = alpha / side;
  switch (code) {
    case 1: return side * 2 * exact::upper_tail(reference::quantile(1 - a / 2) / std::sqrt(t));
    case 2: return side * a * std::log(1 + (std::numbers::e - 1) * t);
    case 3: return side * a * std::pow(t, phi);
    case 4: return side * a * (1 - std::exp(-phi * t)) / (1 - std::exp(-phi));
    default: return side * exact::upper_tail(reference::quantile(1 - alpha / 2) / std::sqrt(t));
  }
}

TEST(ExactBounds, SpendTheSpendingFunctionTo1e9ForEveryFamilyAndK) {
  struct Family {
    int code;
    double phi;
  };
  const Family families[] = {{1, 0}, {2, 0}, {3, 2}, {4, -4}, {6, 0}};
  double worst = 0;
  for (const Family& f : families) {
    for (double side : {1.0, 2.0}) {
      for (int K = 1; K <= 10; ++K) {
        std::vector<double> t(K);
        // Unequal spacing: fractions (i/K)^1.3.
        for (int i = 0; i < K; ++i) t[i] = std::pow((i + 1.0) / K, 1.3);
        std::ostringstream report;
        const LandemResult r = exact_bounds(K, t, side, f.code, 0.025, f.phi, {}, report);
        // What the bounds spend, measured by the independent recursion (upper and lower).
        exact::Recursion rec(t);
        double before = 0;
        for (int i = 0; i < K; ++i) {
          const double s = rec.s()[i];
          const double up = i == 0 ? exact::upper_tail(r.zb[0]) : rec.upper_exit(i, r.zb[i] * s);
          const double down =
              i == 0 ? exact::upper_tail(-r.za[0]) : rec.lower_exit(i, r.za[i] * s);
          const double want = spending(f.code, f.phi, 0.025, side, t[i]) - before;
          before += want;
          SCOPED_TRACE("code " + std::to_string(f.code) + " side " + std::to_string(side) +
                       " K " + std::to_string(K) + " analysis " + std::to_string(i + 1));
          EXPECT_NEAR(up + down, want, 1e-9);
          EXPECT_NEAR(r.pd[i], want, 1e-9);  // the alpha-spent column shows it
          worst = std::max(worst, std::fabs(up + down - want));
          if (i + 1 < K) rec.advance(i, r.za[i] * s, r.zb[i] * s);
        }
      }
    }
  }
  std::printf("largest |alpha spent - spending function|: %.2e\n", worst);
}

TEST(ExactBounds, OBrienFlemingThreeLooksMatchesMultivariateNormalIntegration) {
  std::ostringstream report;
  const LandemResult r = exact_bounds(3, {0.5, 0.75, 1.0}, 1.0, 1, 0.025, 0, {}, report);
  EXPECT_NEAR(r.zb[0], 2.962588, 5e-7);
  EXPECT_NEAR(r.zb[1], 2.359018, 5e-7);
  EXPECT_NEAR(r.zb[2], 2.014084, 5e-7);
  EXPECT_NEAR(r.pe[2], 0.025, 1e-10);
}

TEST(ExactBounds, CrossingsAndDriftAgreeWithTheIndependentRecursion) {
  const std::vector<double> t = {0.3, 0.55, 0.8, 1.0};
  std::ostringstream report;
  for (double side : {1.0, 2.0}) {
    const LandemResult r = exact_bounds(4, t, side, 2, 0.025, 0, {}, report);
    const ExactDrift d = exact_drift(t, r.za, r.zb, 0.9);
    ASSERT_TRUE(d.converged);
    const exact::Crossings ref = exact::crossings(t, r.za, r.zb, d.drift, 0.5);
    const ExactCrossings c = exact_crossings(t, r.za, r.zb, d.drift);
    double power = 0;
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(c.qpos[i], ref.qpos[i], 1e-11);
      EXPECT_NEAR(c.qneg[i], ref.qneg[i], 1e-11);
      power += ref.qpos[i];
    }
    EXPECT_NEAR(power, 0.9, 1e-10);
  }
}

// The first bound has a closed form: the upper quantile of the alpha spent there (per side).
// In the far tail (O'Brien-Fleming type at 0.1 spends 1.4e-12) the bound must still be right to
// 1e-9 in z; below 1e-13 nothing is spent and the bound is the truncation at 8.
TEST(ExactBounds, FirstBoundIsTheClosedFormTo1e9InTheFarTail) {
  struct Family {
    int code;
    double phi;
  };
  const Family families[] = {{1, 0}, {2, 0}, {3, 1}, {3, 3}, {4, -4}, {4, 1}};
  double worst = 0;
  for (const Family& f : families) {
    for (double side : {1.0, 2.0}) {
      for (double t1 : {0.01, 0.02, 0.05, 0.1, 0.15, 0.2, 0.3, 0.4, 0.5}) {
        const std::vector<double> t = {t1, t1 + 0.3 * (1 - t1), t1 + 0.6 * (1 - t1), 1};
        std::ostringstream report;
        const LandemResult r = exact_bounds(4, t, side, f.code, 0.025, f.phi, {}, report);
        const double q = spending(f.code, f.phi, 0.025, side, t1) / side;
        const double z = reference::bisect(
            [q](double x) { return 0.5 * std::erfc(x / std::numbers::sqrt2) - q; }, -40, 40);
        SCOPED_TRACE("code " + std::to_string(f.code) + " phi " + std::to_string(f.phi) +
                     " side " + std::to_string(side) + " t1 " + std::to_string(t1));
        // Bounds are truncated at 8, and alpha below 1e-13 (both sides) is spent as none.
        const double expected = q * side < 1e-13 ? 8.0 : std::min(z, 8.0);
        EXPECT_NEAR(r.zb[0], expected, 1e-9) << "alpha per side " << q;
        worst = std::max(worst, std::fabs(r.zb[0] - expected));
      }
    }
  }
  // The case of the report: O'Brien-Fleming type at 0.1, 0.3, 0.45, 0.7, 0.85, 1.
  std::ostringstream report;
  const LandemResult r =
      exact_bounds(6, {0.1, 0.3, 0.45, 0.7, 0.85, 1}, 1, 1, 0.025, 0, {}, report);
  EXPECT_NEAR(r.zb[0], 6.9913517, 1e-7);
  std::printf("largest |first bound - closed form|: %.2e\n", worst);
}

// Analyses too close together are refused as the grid method refuses them, with the same words,
// after a bounded amount of work (counted in kernel evaluations, not in seconds), and with as
// many digits as the fractions need to differ.
TEST(ExactBounds, AnalysesTooCloseAreRefusedAfterBoundedWork) {
  struct Case {
    std::vector<double> t;
    std::string words;
  };
  const Case cases[] = {
      {{0.5, 0.5001, 1}, "the information fractions at analyses 1 and 2 are 0.5 and 0.5001"},
      {{0.5, 0.50001, 1}, "the information fractions at analyses 1 and 2 are 0.5 and 0.50001"},
      {{0.5, 0.5000001, 1}, "the information fractions at analyses 1 and 2 are 0.5 and 0.5000001"},
      {{0.2, 0.6, 0.6000000000001, 1}, "at analyses 2 and 3 are 0.6 and 0.6000000000001"},
      {{0.5, 0.5, 1}, "the information fractions at analyses 1 and 2 are 0.5 and 0.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    const std::uint64_t before = exact_kernel_evaluations();
    for (bool exact : {true, false}) {
      std::ostringstream report;
      BoundaryWork work;
      try {
        const int K = static_cast<int>(c.t.size());
        if (exact) exact_bounds(K, c.t, 1, 1, 0.025, 0, {}, report);
        else LANDEM(K, c.t, c.t, 1, 1, 0.025, 0, 0, {}, work, report);
        ADD_FAILURE() << (exact ? "exact" : "grid") << " method accepted the times";
      } catch (const RunError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("too little information to design the bounds: ", 0), 0u)
            << e.what();
        EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
      }
    }
    // A few million evaluations at most: well under a second on any machine.
    EXPECT_LT(exact_kernel_evaluations() - before, 20'000'000u);
  }
}

}  // namespace
}  // namespace kestrel::boundaries
