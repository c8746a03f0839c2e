// Survival, censoring and copula functions, the correlation quadrature and the equation solver.
#include "survival/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "common/errors.h"

namespace kestrel::survival {
namespace {

const double kE2 = std::exp(2.0);

TEST(Marginal, ExponentialSurvivalAndCumulativeHazard) {
  EXPECT_DOUBLE_EQ(SFUN(2.0, 0.3), std::exp(-0.6));
  EXPECT_DOUBLE_EQ(CHAZARD(2.0, 0.3), 0.6);
  EXPECT_EQ(SFUN(0.0, 5.0), 1.0);
}

TEST(Censoring, UniformEntryFollowUpEdges) {
  // Entry uniform over A = 2, analysed F = 1 after the last entry.
  EXPECT_EQ(SCENS(0.5, 2.0, 1.0, 1), 1.0);
  EXPECT_EQ(SCENS(1.0, 2.0, 1.0, 1), 1.0);  // t = F
  EXPECT_EQ(SCENS(3.0, 2.0, 1.0, 1), 0.0);  // t = F + A
  EXPECT_EQ(SCENS(3.5, 2.0, 1.0, 1), 0.0);
  EXPECT_DOUBLE_EQ(SCENS(1.5, 2.0, 1.0, 1), 0.75);
  // No accrual span: everyone followed exactly F.
  EXPECT_EQ(SCENS(1.0, 0.0, 1.0, 1), 1.0);
  EXPECT_EQ(SCENS(1.0001, 0.0, 1.0, 1), 0.0);
  // Other modes do not censor.
  EXPECT_EQ(SCENS(10.0, 2.0, 1.0, 0), 1.0);
}

TEST(Copula, EachFamilyAtItsIndependenceValueIsTheProductExactly) {
  for (double u : {0.0, 0.1, 0.37, 0.9, 1.0}) {
    for (double v : {0.0, 0.25, 0.6, 1.0}) {
      EXPECT_EQ(SJOINT(0.0, u, v, 1), u * v);
      EXPECT_EQ(SJOINT(1.0, u, v, 2), u * v);
      EXPECT_EQ(SJOINT(0.0, u, v, 3), u * v);
    }
  }
  EXPECT_EQ(SJOINT(0.5, 0.0, 0.7, 2), 0.0);
  EXPECT_EQ(SJOINT(0.5, 0.7, 0.0, 2), 0.0);
}

struct FamilyTheta {
  int code;
  double theta;
};
const FamilyTheta kDependent[] = {{1, 0.3}, {1, 2.9}, {2, 0.8}, {2, 0.2}, {3, -1.5}, {3, -7.0},
                                  {3, -8.0}, {3, -30.0}};

TEST(Copula, UniformMarginsAndFrechetBounds) {
  for (auto [code, theta] : kDependent) {
    for (double u : {0.05, 0.3, 0.5, 0.85}) {
      // The Frank series form carries a relative error of order e^(3θ) in its log argument.
      const double tol = code == 3 && theta < -kE2 ? 1e-8 : 1e-12;
      EXPECT_NEAR(SJOINT(theta, u, 1.0, code), u, tol) << code << " " << theta;
      EXPECT_NEAR(SJOINT(theta, 1.0, u, code), u, tol) << code << " " << theta;
      for (double v : {0.1, 0.5, 0.95}) {
        const double c = SJOINT(theta, u, v, code);
        EXPECT_GE(c, u * v - 1e-12) << "positive dependence";
        EXPECT_LE(c, std::min(u, v) + 1e-12);
        EXPECT_EQ(c, SJOINT(theta, v, u, code)) << "exchangeable";
      }
    }
  }
}

TEST(Copula, ClosedFormsAtOnePoint) {
  // Hand-evaluated families at u = 0.4, v = 0.7.
  const double u = 0.4, v = 0.7;
  EXPECT_NEAR(SJOINT(2.0, u, v, 1), 1.0 / std::sqrt(1 / (u * u) + 1 / (v * v) - 1), 1e-15);
  const double g = std::exp(-std::sqrt(std::pow(std::log(u), 2) + std::pow(std::log(v), 2)));
  EXPECT_NEAR(SJOINT(0.5, u, v, 2), g, 1e-15);
  const double a = 3.0;  // Frank with association a > 0 has θ = -a
  const double f = -std::log(1 + std::expm1(-a * u) * std::expm1(-a * v) / std::expm1(-a)) / a;
  EXPECT_NEAR(SJOINT(-a, u, v, 3), f, 1e-14);
}

TEST(Copula, FrankSeriesFormBelowMinusESquaredMatchesClosedForm) {
  // Just below -e² the series form applies, just above the closed form: they meet.
  for (double u : {0.02, 0.3, 0.77}) {
    for (double v : {0.05, 0.5, 0.99}) {
      const double below = SJOINT(-kE2 * (1 + 1e-13), u, v, 3);
      const double above = SJOINT(-kE2 * (1 - 1e-13), u, v, 3);
      EXPECT_NEAR(below, above, 2e-8) << u << " " << v;
      // At θ = -8 the series form against the closed form in extended precision.
      const long double t = -8.0L;
      const long double ref = std::log(1.0L + std::expm1(t * u) * std::expm1(t * v) /
                                                    std::expm1(t)) / t;
      EXPECT_NEAR(SJOINT(-8.0, u, v, 3), static_cast<double>(ref), 1e-8);
    }
  }
}

TEST(Copula, FrankVeryStrongAssociationStaysFinite) {
  // At θ = -3000 the exponentials underflow; the copula is min(u, v) + ln(1 + e^(θ|u-v|))/θ
  // to within e^(θ min(u, v)).
  EXPECT_NEAR(SJOINT(-3000.0, 0.3, 0.5, 3), 0.3, 1e-12);
  EXPECT_NEAR(SJOINT(-3000.0, 0.4, 0.4, 3), 0.4 - std::log(2.0) / 3000.0, 1e-12);
  EXPECT_NEAR(SJOINT(-3000.0, 0.9, 1.0, 3), 0.9, 1e-12);
  EXPECT_TRUE(std::isfinite(DSJOINT(-3000.0, 0.3, 0.5, 3)));
}

TEST(Copula, ThetaDerivativeMatchesCentralDifference) {
  for (auto [code, theta] : kDependent) {
    const double h = 1e-5 * std::max(1.0, std::fabs(theta));
    for (double u : {0.1, 0.45, 0.8}) {
      for (double v : {0.2, 0.6, 0.97}) {
        const double fd = (SJOINT(theta + h, u, v, code) - SJOINT(theta - h, u, v, code)) / (2 * h);
        EXPECT_NEAR(DSJOINT(theta, u, v, code), fd, 1e-7) << code << " " << theta;
      }
    }
  }
  // The independence point of Frank and Clayton: the derivative is the limit.
  for (int code : {1, 3}) {
    const double h = 1e-3;  // the Clayton power 1/θ amplifies rounding for tiny θ
    const double fd = (SJOINT(h, 0.3, 0.6, code) - SJOINT(-h, 0.3, 0.6, code)) / (2 * h);
    EXPECT_NEAR(DSJOINT(0.0, 0.3, 0.6, code), fd, 1e-6) << code;
  }
}

TEST(Grid, EquallySpacedFromAToB) {
  std::vector<double> X;
  SEQ(X, 4, 0.0, 0.8);
  ASSERT_EQ(X.size(), 5u);
  EXPECT_EQ(X[0], 0.0);
  EXPECT_DOUBLE_EQ(X[1], 0.2);
  EXPECT_DOUBLE_EQ(X[3], 0.6);
  EXPECT_EQ(X[4], 0.8);
}

// Cell-by-cell evaluation exactly as the rule is stated: three copula values per cell.
double straightforward(double theta, double a, double b, int N, int code, bool derivative) {
  std::vector<double> X, Y;
  SEQ(X, N, 0.0, 1.0 - a);
  SEQ(Y, N, 0.0, 1.0 - b);
  auto C = [&](double u, double v) {
    return derivative ? DSJOINT(theta, u, v, code) : SJOINT(theta, u, v, code);
  };
  double sum = 0.0;
  for (int i = 1; i <= N; ++i) {
    for (int j = 1; j <= N; ++j) {
      const double xm = 0.5 * X[i] + 0.5 * X[i - 1], ym = 0.5 * Y[j] + 0.5 * Y[j - 1];
      const double wx = (X[i] - X[i - 1]) / (1 - xm), wy = (Y[j] - Y[j - 1]) / (1 - ym);
      const double f1 = C(1 - X[i], 1 - Y[j]), f2 = C(1 - xm, 1 - ym),
                   f3 = C(1 - X[i - 1], 1 - Y[j - 1]);
      sum += (f3 + 4 * f2 + f1) * wx * wy / 6;
    }
  }
  return sum;
}

TEST(Quadrature, SharedNodeEvaluationEqualsCellByCellRuleExactly) {
  // Same values added in the same order: equal bit for bit, with and without the symmetric half.
  const FamilyTheta cases[] = {{1, 0.0}, {1, 0.64}, {1, 3.0}, {2, 1.0}, {2, 0.56}, {2, 0.15},
                               {3, 0.0}, {3, -4.7}, {3, -9.0}, {3, -40.0}};
  for (auto [code, theta] : cases) {
    for (auto [a, b] : {std::pair{0.0, 0.0}, std::pair{0.2, 0.5}}) {
      const double ref = straightforward(theta, a, b, 37, code, false);
      EXPECT_EQ(TERM4(theta, a, b, 37, code), ref)
          << code << " " << theta;
    }
  }
  EXPECT_EQ(DTERM4(-4.7, 0.0, 0.0, 29, 3), straightforward(-4.7, 0, 0, 29, 3, true));
}

TEST(Quadrature, IndependenceGivesUnitProductMoment) {
  // E[T1 T2] = 1 for independent unit exponentials, and the integrand is 1 on the cut square.
  EXPECT_NEAR(TERM4(0.0, 0.0, 0.0, 1000, 1), 1.0, 1e-4);
  EXPECT_NEAR(TERM4(1.0, 0.0, 0.0, 1000, 2), 1.0, 1e-4);
  EXPECT_NEAR(TERM4(0.0, 0.0, 0.0, 1000, 3), 1.0, 1e-4);
  EXPECT_NEAR(TERM4(0.0, 0.3, 0.6, 200, 1), 0.7 * 0.4, 1e-4);
}

TEST(Quadrature, ThetaDerivativeOfTheSumIsTheSumOfDerivatives) {
  const double h = 1e-4, theta = -3.0;
  const double fd = (TERM4(theta + h, 0, 0, 60, 3) - TERM4(theta - h, 0, 0, 60, 3)) / (2 * h);
  EXPECT_NEAR(DTERM4(theta, 0, 0, 60, 3), fd, 1e-7);
}

TEST(Indicators, CompetingRiskTable) {
  // mode 1: every term on.
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(ONEA(2, 1, 1, k), 1);
  // mode 2: EP2 ends follow-up of EP1.
  EXPECT_EQ(ONEA(1, 2, 2, 1), 1);
  EXPECT_EQ(ONEA(2, 1, 2, 1), 0);
  EXPECT_EQ(ONEA(2, 2, 2, 2), 0);
  EXPECT_EQ(ONEA(2, 1, 2, 3), 1);
  // mode 3: whichever comes first.
  EXPECT_EQ(ONEA(1, 2, 3, 1), 0);
  EXPECT_EQ(ONEA(1, 2, 3, 2), 1);
  EXPECT_EQ(ONEA(2, 1, 3, 2), 0);
  EXPECT_EQ(ONEA(2, 1, 3, 3), 1);
  EXPECT_EQ(ONEA(1, 2, 3, 3), 0);
}

TEST(Indicators, CompositeTable) {
  for (int k : {0, 1, -1, 2}) EXPECT_EQ(ONEB(1, 1, 1, k), 0);
  EXPECT_EQ(ONEB(1, 1, 2, 0), 1);
  EXPECT_EQ(ONEB(1, 2, 2, 0), 0);
  EXPECT_EQ(ONEB(1, 2, 2, 1), 1);
  EXPECT_EQ(ONEB(2, 2, 2, 1), 1);
  EXPECT_EQ(ONEB(3, 2, 2, 1), 0);
  EXPECT_EQ(ONEB(3, 2, 2, -1), 1);
  EXPECT_EQ(ONEB(1, 2, 2, -1), 0);
  EXPECT_EQ(ONEB(1, 9, 2, 2), 1);
}

TEST(Wlambert, SolvesItsEquation) {
  for (auto [y, c] : {std::pair{0.5, 2.0}, std::pair{0.01, 3.0}, std::pair{2.0, 5.0},
                      std::pair{1e-6, 1.5}}) {
    std::ostringstream out;
    const double x = WLAMBERT(y, c, out);
    EXPECT_GT(x, 0.0);
    EXPECT_NEAR(std::log(1 + c * x) - x, std::log(y), 2e-3) << y << " " << c;
    EXPECT_TRUE(out.str().empty());
  }
}

TEST(Wlambert, NoRootWritesErrorAndStopsTheRun) {
  // c <= 1 and y > 1: ln(1 + c x) - x < 0 < ln y for every x > 0.
  std::ostringstream out;
  EXPECT_THROW(WLAMBERT(2.0, 0.8, out), RunError);
  EXPECT_EQ(out.str(), " ERR:S\n");
}

}  // namespace
}  // namespace kestrel::survival
