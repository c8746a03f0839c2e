#include "numerics/normal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "common/errors.h"

namespace kestrel::numerics {
namespace {

// The C library's erfc is an independent implementation accurate to about one ulp.
double phi_reference(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }
double density(double x) { return std::exp(-0.5 * x * x) / std::sqrt(2.0 * M_PI); }

TEST(Gausscdf, ExactValuesAndSaturation) {
  EXPECT_EQ(GAUSSCDF(0.0), 0.5);
  EXPECT_EQ(GAUSSCDF(-40.0), 0.0);
  EXPECT_EQ(GAUSSCDF(-38.0), 0.0);
  EXPECT_EQ(GAUSSCDF(9.0), 1.0);
  EXPECT_EQ(GAUSSCDF(8.6), 1.0);
  EXPECT_GT(GAUSSCDF(-37.5), 0.0);  // still representable just inside the underflow limit
  EXPECT_EQ(GAUSSCDF(std::numeric_limits<double>::infinity()), 1.0);
  EXPECT_EQ(GAUSSCDF(-std::numeric_limits<double>::infinity()), 0.0);
}

TEST(Gausscdf, NotANumberGivesNotANumberWithoutFailing) {
  // The function never fails: a NaN argument, quiet or signalling, of either sign, is answered
  // with NaN, as a comparison with the limits cannot place it.
  using limits = std::numeric_limits<double>;
  for (double x : {limits::quiet_NaN(), -limits::quiet_NaN(), limits::signaling_NaN()}) {
    double p = 0;
    EXPECT_NO_THROW(p = GAUSSCDF(x));
    EXPECT_TRUE(std::isnan(p));
  }
}

TEST(Gausscdf, FarTailsMatchPublishedValues) {
  // Phi(-10) and Phi(-20) to 17 digits, from tables of the normal tail. The argument x/sqrt(2)
  // is formed with the rounded constant 1/sqrt(2), an absolute error of about |y| 1.1e-16 that
  // erfc turns into a relative error of about x^2 1.1e-16; the tolerance allows for it.
  EXPECT_NEAR(GAUSSCDF(-10.0) / 7.6198530241605261e-24, 1.0, 4e-15 + 100 * 1.2e-16);
  EXPECT_NEAR(GAUSSCDF(-20.0) / 2.7536241186062337e-89, 1.0, 4e-15 + 400 * 1.2e-16);
  // Phi(-1.959963984540054) = 0.025 and Phi(-3) = 0.0013498980316300946.
  EXPECT_NEAR(GAUSSCDF(-3.0), 0.0013498980316300946, 4e-18);
  EXPECT_NEAR(GAUSSCDF(-1.959963984540054), 0.025, 1e-17);
}

TEST(Gausscdf, AgreesWithLibraryErfcOverWholeRange) {
  // Each erfc branch (|y| <= 1, 1 < y^2 <= 4, y^2 > 4, tiny |y|, negative y) is crossed.
  for (double x = -37.0; x <= 8.5; x += 0.0173) {
    const double ref = phi_reference(x);
    const double tol = 6e-16 * std::max(1.0, x * x);  // erfc of the scaled argument loses ~x^2 ulps
    EXPECT_NEAR(GAUSSCDF(x) / ref, 1.0, tol) << "x = " << x;
  }
  EXPECT_NEAR(GAUSSCDF(1e-9), 0.5 + 1e-9 * density(0.0), 1e-17);
}

TEST(Erfcomp, BranchesAndUnderflowNotice) {
  EXPECT_EQ(ERFCOMP(-7.0), 2.0);
  EXPECT_NEAR(ERFCOMP(0.5), std::erfc(0.5), 2e-16);
  EXPECT_NEAR(ERFCOMP(-1.5), std::erfc(-1.5), 4e-16);
  EXPECT_NEAR(ERFCOMP(1.5) / std::erfc(1.5), 1.0, 4e-16);
  EXPECT_NEAR(ERFCOMP(5.0) / std::erfc(5.0), 1.0, 1e-15);
  std::string notice;
  EXPECT_EQ(ERFCOMP(26.0, &notice), std::erfc(26.0) == 0 ? 0.0 : ERFCOMP(26.0));
  EXPECT_TRUE(notice.empty());
  EXPECT_EQ(ERFCOMP(27.0, &notice), 0.0);
  EXPECT_NE(notice.find("The function underflows because X = 27 is greater than 26.53"),
            std::string::npos)
      << notice;
  EXPECT_NE(notice.find("The result is set to zero."), std::string::npos);
}

TEST(Erfcomp, TermCountRuleKeepsFewerTermsThanTables) {
  // Tails below a tenth of 2^-53 are dropped; no table is too short for that accuracy.
  for (int table = 1; table <= 4; ++table) {
    EXPECT_FALSE(detail::erfc_table_too_short(table)) << table;
  }
  EXPECT_LT(detail::erfc_term_count(1), 21);
  EXPECT_LT(detail::erfc_term_count(2), 49);
  EXPECT_LT(detail::erfc_term_count(3), 59);
  EXPECT_LT(detail::erfc_term_count(4), 44);
  EXPECT_GT(detail::erfc_term_count(1), 10);
}

TEST(Gaussinv, KnownQuantiles) {
  EXPECT_EQ(GAUSSINV(0.5), 0.0);
  // To double precision: within a few ulps (one ulp is 2.2e-16 here) of the true quantile.
  EXPECT_NEAR(GAUSSINV(0.975), 1.959963984540054, 1e-15);
  EXPECT_NEAR(GAUSSINV(0.025), -1.959963984540054, 1e-15);
  EXPECT_NEAR(GAUSSINV(0.995), 2.5758293035489004, 8e-16);
  EXPECT_NEAR(GAUSSINV(1e-10), -6.3613409024040557, 4e-15);
  const double hi = GAUSSINV(1.0 - 1e-12);
  EXPECT_TRUE(std::isfinite(hi));
  EXPECT_NEAR(hi, 7.034, 1e-3);
}

TEST(Gaussinv, RoundTripOfGausscdfNegativeHalf) {
  // For z <= 0, p = Phi(z) is held with full relative precision, so z comes back to about 1e-15
  // relative; near 0 the absolute floor is what the rounding of p (about 0.5 + z phi(0)) allows.
  for (double z = -8.0; z <= 0.0; z += 0.00391) {
    const double back = GAUSSINV(GAUSSCDF(z));
    const double p_rounding = 0.5 * std::nextafter(GAUSSCDF(z), 1.0) - 0.5 * GAUSSCDF(z);
    const double bound = 1e-15 * std::fabs(z) + 2.0 * p_rounding / density(z);
    EXPECT_NEAR(back, z, bound) << "z = " << z;
  }
  for (double z = -37.0; z <= -8.0; z += 0.37) {
    EXPECT_NEAR(GAUSSINV(GAUSSCDF(z)) / z, 1.0, 1e-15) << "z = " << z;
  }
}

TEST(Gaussinv, RoundTripOfGausscdfPositiveHalfWithinRoundingOfP) {
  // For z > 0 the double p = Phi(z) near 1 is only known to its spacing ulp(p), which moves the
  // quantile by ulp(p)/phi(z). Bound tested: |z' - z| <= 1e-15 |z| + 1.0 ulp(p)/phi(z).
  for (double z = 0.0; z <= 8.0; z += 0.00391) {
    const double p = GAUSSCDF(z);
    if (p >= 1.0) break;
    const double ulp = std::nextafter(p, 2.0) - p;
    const double bound = 1e-15 * z + ulp / density(z);
    EXPECT_NEAR(GAUSSINV(p), z, bound) << "z = " << z;
  }
}

TEST(Gaussinv, DeepTailInvertsLibraryErfc) {
  for (double p : {1e-300, 1e-200, 1e-100, 1e-50, 1e-20, 1e-5, 0.01, 0.1, 0.2}) {
    const double z = GAUSSINV(p);
    EXPECT_NEAR(phi_reference(z) / p, 1.0, 4e-15 * std::max(1.0, z * z)) << "p = " << p;
  }
}

TEST(Gaussinv, ArgumentOutsideOpenUnitIntervalStopsTheRun) {
  for (double p : {0.0, 1.0, -0.5, 1.5}) {
    try {
      GAUSSINV(p);
      ADD_FAILURE() << "no error for p = " << p;
    } catch (const RunError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(
                    "The argument to the function must be greater than 0.0 and less than 1.0.  P = ",
                    0),
                0u)
          << e.what();
    }
  }
  try {
    GAUSSINV(0.0);
  } catch (const RunError& e) {
    EXPECT_STREQ(e.what(),
                 "The argument to the function must be greater than 0.0 and less than 1.0.  P = 0.");
  }
  EXPECT_THROW(GAUSSINV(std::nan("")), RunError);
}

TEST(Erfcinv, InvertsErfcAndFlagsArgumentsNearTwo) {
  for (double x : {1e-300, 1e-30, 0.01, 0.2, 0.25, 0.26, 0.7, 1.0, 1.3, 1.74, 1.76, 1.9999}) {
    const double y = ERFCINV(x);
    EXPECT_NEAR(std::erfc(y) / x, 1.0, 4e-15 * std::max(1.0, y * y)) << "x = " << x;
  }
  std::string notice;
  ERFCINV(1.9, &notice);
  EXPECT_TRUE(notice.empty());
  ERFCINV(2.0 - 1e-12, &notice);
  EXPECT_NE(notice.find("is too close to 2.0."), std::string::npos) << notice;
  EXPECT_THROW(ERFCINV(0.0), RunError);
  EXPECT_THROW(ERFCINV(2.0), RunError);
}

}  // namespace
}  // namespace kestrel::numerics
