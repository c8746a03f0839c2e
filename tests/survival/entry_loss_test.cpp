// Piecewise accrual and loss to follow-up: the event probability against its closed form, the
// enrolment curve against its inverse, and the plain model against the staggered-entry weight.
#include "survival/entry_loss.h"

#include <gtest/gtest.h>

#include <cmath>

#include "survival/model.h"

namespace kestrel::survival {
namespace {

// P(observed event by tau) for one endpoint with hazard l and loss hazard d, of subjects whose
// follow-up at tau is uniform over [F, F + A]: l/(l+d) (1 - exp(-k F) (1 - exp(-k A))/(k A)).
double closed_uniform(double l, double d, double F, double A) {
  const double k = l + d;
  return l / k * (1.0 - std::exp(-k * F) * (1.0 - std::exp(-k * A)) / (k * A));
}

// Uniform entry over a = 2 and, separately, two pieces (0..0.8 at intensity 1, 0.8..2 at
// intensity 3): analyses during and after accrual, each arm with its own loss hazard.
TEST(EntryLoss, EventProbabilityEqualsTheClosedFormDuringAndAfterAccrual) {
  const double a = 2.0, e1 = 0.8, c1 = 1.0, c2 = 3.0;
  const double lambda[2] = {0.35, 0.21}, drop[2] = {0.05, 0.15};
  EntryAndLoss uni;
  uni.dropout = {drop[0], drop[1]};
  EntryAndLoss two = uni;
  two.accrual_end = {e1, a};
  two.accrual_intensity = {c1, c2};
  const EntryLoss mu(uni, a), m2(two, a);
  for (double tau : {0.3, 0.8, 1.5, 2.0, 2.7, 4.0}) {
    for (int arm = 0; arm < 2; ++arm) {
      const double l = lambda[arm], d = drop[arm];
      const double A = std::min(a, tau);
      EXPECT_NEAR(mu.event_probability(arm, l, tau), closed_uniform(l, d, tau - A, A), 1e-9)
          << tau << " arm " << arm;
      // Two pieces: each piece's subjects enrolled by tau have a uniform follow-up; the pieces
      // are weighted by the subjects they enrolled by tau.
      const double w1 = c1 * std::min(tau, e1);
      const double w2 = tau > e1 ? c2 * (std::min(tau, a) - e1) : 0.0;
      double want = w1 * closed_uniform(l, d, tau - std::min(tau, e1), std::min(tau, e1));
      if (w2 > 0) want += w2 * closed_uniform(l, d, tau - std::min(tau, a), std::min(tau, a) - e1);
      want /= w1 + w2;
      EXPECT_NEAR(m2.event_probability(arm, l, tau), want, 1e-9) << tau << " arm " << arm;
      EXPECT_NEAR(m2.enrolled(tau), (w1 + w2) / (c1 * e1 + c2 * (a - e1)), 1e-15) << tau;
    }
  }
}

// The enrolment curve and its inverse, the follow-up distribution of uniform entry against the
// staggered-entry weight, and the censoring weight as their product with the loss survival.
TEST(EntryLoss, EnrolmentCurveFollowUpAndCensoringWeight) {
  EntryAndLoss three;
  three.dropout = {0.05, 0.15};
  three.accrual_end = {1.0, 2.0, 3.0};
  three.accrual_intensity = {1.0, 2.0, 4.0};
  const EntryLoss m(three, 3.0);
  EXPECT_NEAR(m.enrolled(1.0), 1.0 / 7.0, 1e-15);
  EXPECT_NEAR(m.enrolled(2.0), 3.0 / 7.0, 1e-15);
  for (double p : {0.0, 0.05, 1.0 / 7.0, 0.3, 0.9, 1.0}) EXPECT_NEAR(m.enrolled(m.entry_quantile(p)), p, 1e-14);
  const EntryLoss u(EntryAndLoss{}, 2.0);
  for (double tau : {0.7, 2.0, 3.5})
    for (double x : {0.0, 0.3, 1.4, 2.5, 4.0})
      EXPECT_NEAR(u.follow_up(x, tau), SCENS(x, std::min(2.0, tau), tau - std::min(2.0, tau), 1),
                  1e-15) << tau << " " << x;
  EXPECT_NEAR(m.censoring_weight(1, 0.5, 2.5),
              m.enrolled(2.0) / m.enrolled(2.5) * std::exp(-0.15 * 0.5), 1e-15);
  EXPECT_TRUE(u.plain());
  EXPECT_FALSE(m.plain());
}

}  // namespace
}  // namespace kestrel::survival
