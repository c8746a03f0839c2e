// Univariate and bivariate normal kernels against closed forms and a brute-force quadrature
// built on the C library's erfc.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mvn/mvndf.h"

namespace kestrel::mvn {
namespace {

const double kPi = 3.14159265358979323846;

double phi_ref(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// P(X > h, Y > k) = int_h^inf phi(x) P(Y > k | x) dx by composite Simpson on [h, 9] (h >= -9),
// accurate to about 1e-13 for |r| <= 0.999.
double upper_orthant_ref(double h, double k, double r) {
  const double lo = std::max(h, -9.0), hi = 9.0;
  if (lo >= hi) return 0;
  const int m = 20000;
  const double step = (hi - lo) / m;
  const double s = std::sqrt((1 - r) * (1 + r));
  auto f = [&](double x) {
    return std::exp(-x * x / 2) / std::sqrt(2 * kPi) * 0.5 * std::erfc((k - r * x) / s / std::sqrt(2.0));
  };
  double sum = f(lo) + f(hi);
  for (int i = 1; i < m; ++i) sum += f(lo + i * step) * (i % 2 ? 4 : 2);
  return sum * step / 3;
}

TEST(Mvnphi, MatchesLibraryErfcAcrossTheRange) {
  EXPECT_EQ(MVNPHI(0), 0.5);
  for (double z = -38; z <= 9; z += 0.0137) {
    const double ref = phi_ref(z);
    EXPECT_NEAR(MVNPHI(z), ref, 2e-16 + 1e-14 * ref) << z;
  }
  EXPECT_EQ(MVNPHI(-141.5), 0.0);
  EXPECT_EQ(MVNPHI(141.5), 1.0);
  EXPECT_GT(MVNPHI(-141.4), 0.0 - 1e-300);  // still inside the expansion: tiny but computed
}

TEST(Phinvs, InvertsTheDistributionFunction) {
  EXPECT_EQ(PHINVS(0), -9);
  EXPECT_EQ(PHINVS(1), 9);
  EXPECT_EQ(PHINVS(0.5), 0);
  EXPECT_NEAR(PHINVS(0.975), 1.959963984540054, 1e-15);
  // Above zero the probability itself carries an absolute rounding of 1e-16, which the inverse
  // magnifies by 1/density.
  for (double z = -8; z <= 6; z += 0.01) {
    const double density = std::exp(-z * z / 2) / std::sqrt(2 * kPi);
    EXPECT_NEAR(PHINVS(phi_ref(z)), z, 1e-13 * (1 + std::fabs(z)) + (z > 0 ? 2e-16 / density : 0)) << z;
  }
  // Deep lower tail, where the tail rational function is used.
  for (double z = -37; z <= -5; z += 0.5) EXPECT_NEAR(PHINVS(phi_ref(z)), z, 1e-12 * std::fabs(z)) << z;
}

TEST(Bvu, ZeroCorrelationIsTheProductExactly) {
  for (double h : {-3.0, -0.5, 0.0, 1.2, 4.0})
    for (double k : {-2.0, 0.3, 2.5}) EXPECT_EQ(BVU(h, k, 0), MVNPHI(-h) * MVNPHI(-k));
}

TEST(Bvu, OrthantProbabilityIsQuarterPlusArcsine) {
  for (int i = -99; i <= 99; ++i) {
    const double r = i / 100.0;
    EXPECT_NEAR(BVU(0, 0, r), 0.25 + std::asin(r) / (2 * kPi), 1e-12) << r;
  }
}

TEST(Bvu, PerfectCorrelationGivesTheOneDimensionalLimits) {
  for (double h : {-2.0, -0.4, 0.0, 0.7, 3.0})
    for (double k : {-1.5, 0.2, 1.0}) {
      EXPECT_EQ(BVU(h, k, 1), MVNPHI(-std::max(h, k)));
      EXPECT_EQ(BVU(h, k, -1), std::max(0.0, MVNPHI(-h) - MVNPHI(k)));
    }
}

TEST(Bvu, MatchesQuadratureInEveryRuleBand) {
  // Correlations in each band: 6-point (< 0.3), 12-point (< 0.75), 20-point (< 0.925), and the
  // near-one expansion (>= 0.925), both signs.
  for (double r : {-0.999, -0.95, -0.93, -0.8, -0.5, -0.2, 0.1, 0.29, 0.31, 0.6, 0.76, 0.9, 0.926, 0.97, 0.999})
    for (double h : {-2.3, -0.4, 0.0, 1.1, 2.8})
      for (double k : {-1.7, 0.0, 0.6, 3.1}) {
        EXPECT_NEAR(BVU(h, k, r), upper_orthant_ref(h, k, r), 5e-13) << h << " " << k << " " << r;
      }
}

// P(l <= (X, Y) <= u) = int_{l1}^{u1} phi(x) P(l2 <= Y <= u2 | x) dx by composite Simpson, an
// absent end being infinite (the outer range clipped to +-9).
double rectangle_ref(const double* l, const double* u, const int* t, double r) {
  const double inf = INFINITY;
  const double l1 = t[0] == 0 ? -9.0 : l[0], u1 = t[0] == 1 ? 9.0 : u[0];
  const double l2 = t[1] == 0 ? -inf : l[1], u2 = t[1] == 1 ? inf : u[1];
  const double s = std::sqrt((1 - r) * (1 + r));
  auto f = [&](double x) {
    const double cond = 0.5 * std::erfc((l2 - r * x) / s / std::sqrt(2.0)) -
                        0.5 * std::erfc((u2 - r * x) / s / std::sqrt(2.0));
    return std::exp(-x * x / 2) / std::sqrt(2 * kPi) * cond;
  };
  const int m = 20000;
  const double step = (u1 - l1) / m;
  double sum = f(l1) + f(u1);
  for (int i = 1; i < m; ++i) sum += f(l1 + i * step) * (i % 2 ? 4 : 2);
  return sum * step / 3;
}

TEST(Bvnmvn, EveryPairOfLimitTypesMatchesQuadrature) {
  const double lower[2] = {-0.8, -1.3}, upper[2] = {1.1, 0.4};
  for (double r : {-0.7, 0.0, 0.45, 0.95}) {
    for (int t1 = 0; t1 <= 2; ++t1)
      for (int t2 = 0; t2 <= 2; ++t2) {
        const int types[2] = {t1, t2};
        EXPECT_NEAR(BVNMVN(lower, upper, types, r), rectangle_ref(lower, upper, types, r), 2e-12)
            << t1 << t2 << " r=" << r;
      }
  }
}

TEST(Bvnmvn, FreeVariableLeavesTheOtherInterval) {
  const double lower[2] = {-0.8, -1.3}, upper[2] = {1.1, 0.4};
  const int types[2] = {2, -1};
  EXPECT_NEAR(BVNMVN(lower, upper, types, 0.6), MVNPHI(1.1) - MVNPHI(-0.8), 1e-15);
}

}  // namespace
}  // namespace kestrel::mvn
