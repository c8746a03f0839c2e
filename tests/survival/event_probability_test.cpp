// Event probability over the study with uniform accrual.
#include "survival/event_probability.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel::survival {
namespace {

// 1 - (1/a) * integral of the pooled survival over [f, a + f], in closed form.
double exact_pev(double h, double S, double R, double a, double f) {
  const double T = a + f, lc = -std::log(S) / T, le = lc * h;
  auto mean_surv = [&](double l) { return (std::exp(-l * f) - std::exp(-l * T)) / (l * a); };
  return 1.0 - ((1 - R) * mean_surv(lc) + R * mean_surv(le));
}

TEST(EventProbability, SimpsonAgreesWithTheExactAverageWithinItsErrorBound) {
  struct Case { double h, S, R, a, f; };
  for (Case c : {Case{0.7, 0.4, 0.5, 2.0, 1.0}, Case{1.3, 0.2, 0.6, 3.0, 2.0},
                 Case{0.5, 0.8, 0.5, 1.0, 4.0}, Case{1.0, 0.1, 0.3, 5.0, 0.5}}) {
    const EventProbability p = PREVENT(c.h, c.S, c.R, c.a, c.f);
    const double lmax = -std::log(c.S) / (c.a + c.f) * std::max(1.0, c.h);
    // One-panel Simpson: error <= (b - a)^4 / 2880 * max |fourth derivative| (of the mean).
    const double bound = std::pow(c.a, 4) / 2880 * std::pow(lmax, 4);
    EXPECT_NEAR(p.Pev, exact_pev(c.h, c.S, c.R, c.a, c.f), bound + 1e-15) << c.a << " " << c.f;
    EXPECT_GT(p.Pev, 0.0);
    EXPECT_LT(p.Pev, p.Pend);  // later entrants are followed for less time
  }
}

TEST(EventProbability, FullFollowUpProbability) {
  const EventProbability p = PREVENT(0.6, 0.3, 0.5, 2.0, 3.0);
  const double lc = -std::log(0.3) / 5.0;
  EXPECT_DOUBLE_EQ(p.Pend, 0.5 * 0.7 + 0.5 * (1 - std::exp(-0.6 * lc * 5.0)));
}

TEST(EventProbability, NoAccrualSpanFollowsEveryoneTheWholePeriod) {
  const EventProbability p = PREVENT(0.8, 0.35, 0.4, 0.0, 4.0);
  EXPECT_NEAR(p.Pev, p.Pend, 1e-15);
}

TEST(EventProbability, EqualHazardsGiveTheControlArmProbability) {
  const EventProbability p = PREVENT(1.0, 0.25, 0.7, 2.0, 2.0);
  EXPECT_NEAR(p.Pend, 0.75, 1e-15);
}

}  // namespace
}  // namespace kestrel::survival
