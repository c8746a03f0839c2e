// The boundary layer's own normal functions against the standard library's erfc.
#include <gtest/gtest.h>

#include <cmath>

#include "boundaries/reference_normal.h"
#include "boundaries/spending.h"

namespace kestrel::boundaries {
namespace {

TEST(Znorm, MatchesTheQuantileToSixteenDigits) {
  double worst = 0.0;
  for (double p : {1e-300, 1e-20, 1e-10, 1e-5, 0.001, 0.0125, 0.025, 0.07, 0.075, 0.3, 0.5, 0.6,
                   0.9, 0.925, 0.975, 0.999, 1 - 1e-9}) {
    const double z = ZNORM(p);
    const double ref = reference::quantile(p);
    worst = std::max(worst, std::fabs(z - ref) / std::max(1.0, std::fabs(ref)));
  }
  EXPECT_LT(worst, 1e-14);
  EXPECT_EQ(ZNORM(0.5), 0.0);
  EXPECT_EQ(ZNORM(0.0), 0.0);
  EXPECT_EQ(ZNORM(1.0), 0.0);
  EXPECT_EQ(ZNORM(-0.2), 0.0);
  EXPECT_EQ(ZNORM(0.25), -ZNORM(0.75));
}

TEST(Pnorm, AgreesWithTheNormalLawToItsPublishedAccuracy) {
  double worst = 0.0;
  for (double x = -12.0; x <= 12.0; x += 0.01) {
    worst = std::max(worst, std::fabs(PNORM(x) - reference::Phi(x)));
  }
  EXPECT_LT(worst, 1e-9);
  EXPECT_EQ(PNORM(0.0), 0.5);
  // 12.7 still goes through the tail formula; beyond it the result is exact.
  EXPECT_GT(PNORM(-12.7), 0.0);
  EXPECT_LT(PNORM(-12.7), 1e-35);
  EXPECT_EQ(PNORM(12.71), 1.0);
  EXPECT_EQ(PNORM(-12.71), 0.0);
  // The central formula with this program's coefficients (0.399903438504, 29.8213557808).
  const double y = 0.5;
  const double tail =
      0.5 - 1.0 * (0.398942280444 -
                   0.399903438504 * y /
                       (y + 5.75885480458 -
                        29.8213557808 / (y + 2.62433121679 + 48.6959930692 / (y + 5.92885724438))));
  EXPECT_EQ(PNORM(1.0), 1.0 - tail);
}

TEST(Ndens, IsTheNormalDensityWithThisProgramsConstant) {
  // The constant 2.5066282746350725 stands for sqrt(2 pi) (2.5066282746310002): the density is
  // 1.6e-12 too small, relatively, and the bounds are computed with exactly that.
  for (double x : {-3.0, -0.5, 0.0, 1.0, 7.5}) {
    EXPECT_NEAR(NDENS(x) / reference::phi(x), 2.5066282746310002 / 2.5066282746350725, 1e-15);
  }
  EXPECT_EQ(NDENS(0.0), 1.0 / 2.5066282746350725);
}

}  // namespace
}  // namespace kestrel::boundaries
