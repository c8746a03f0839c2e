// Piecewise-exponential margins: the law against its definition, the observed-event probability
// with loss and accrual pieces against a brute-force quadrature, and equal pieces against the
// exponential law.
#include "survival/margins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "survival/entry_loss.h"

namespace kestrel::survival {
namespace {

// Composite 5-point Gauss-Legendre rule of f over [a, b] in n panels.
double gauss(const std::function<double(double)>& f, double a, double b, int n = 64) {
  static const double x[5] = {0.0, -0.5384693101056831, 0.5384693101056831, -0.9061798459386640,
                              0.9061798459386640};
  static const double w[5] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665,
                              0.2369268850561891, 0.2369268850561891};
  double s = 0.0;
  const double h = (b - a) / n;
  for (int i = 0; i < n; ++i) {
    const double m = a + (i + 0.5) * h;
    for (int k = 0; k < 5; ++k) s += w[k] * f(m + 0.5 * h * x[k]) * 0.5 * h;
  }
  return s;
}

TEST(Margins, CumulativeSurvivalAndInverse) {
  const PiecewiseExponential m({0.0, 0.5, 2.0}, {0.8, 0.3, 0.1});
  const struct { double t, H; } rows[] = {
      {0.0, 0.0}, {0.25, 0.2}, {0.5, 0.4}, {1.0, 0.55}, {2.0, 0.85}, {5.0, 1.15}};
  for (const auto& r : rows) {
    EXPECT_NEAR(m.cumulative(r.t), r.H, 1e-15) << r.t;
    EXPECT_NEAR(m.survival(r.t), std::exp(-r.H), 1e-15) << r.t;
    EXPECT_NEAR(m.inverse(r.H), r.t, 1e-14) << r.H;
  }
  EXPECT_EQ(m.hazard_at(0.49), 0.8);
  EXPECT_EQ(m.hazard_at(0.5), 0.3);
  // One piece is the exponential law bit for bit.
  const PiecewiseExponential e(0.37);
  for (double t : {0.1, 1.3, 7.0}) {
    EXPECT_EQ(e.cumulative(t), 0.37 * t);
    EXPECT_EQ(e.survival(t), std::exp(-(0.37 * t)));
  }
}

// P(observed event by tau | enrolled by tau) per arm: piecewise law, loss per arm, two accrual
// pieces, analyses during and after accrual, against a brute-force double quadrature split at
// every change point and piece end.
TEST(Margins, EventProbabilityWithLossAndAccrualPiecesEqualsQuadrature) {
  EntryAndLoss given;
  given.dropout = {0.05, 0.15};
  given.accrual_end = {0.8, 2.0};
  given.accrual_intensity = {1.0, 3.0};
  given.hazards[0] = {{0.5, 1.5}, {0.9, 0.4, 0.2}, {1.0, 0.6, 0.8}};
  const double TA = 2.0, TF = 2.5;
  const EntryLoss el(given, TA);
  for (int arm = 0; arm < 2; ++arm) {
    const PiecewiseExponential law = endpoint_margin(given, 0, arm, 1.0, 0.5, TA + TF);
    const double d = given.dropout[arm];
    auto density = [&](double x) { return law.hazard_at(x) * law.survival(x) * std::exp(-d * x); };
    auto observed = [&](double u) {
      double s = 0.0, a = 0.0;
      for (double b : {0.5, 1.5, 1e300}) {
        const double e = std::min(b, u);
        if (e > a) s += gauss(density, a, e, 8);
        a = b;
      }
      return s;
    };
    for (double tau : {0.3, 0.8, 1.7, 2.0, 3.1, 4.5}) {
      double num = 0.0, den = 0.0, a = 0.0;
      const double ends[2] = {0.8, 2.0}, rate[2] = {1.0, 3.0};
      for (int q = 0; q < 2; ++q) {
        const double b = std::min(ends[q], tau);
        if (b > a) {
          // Split the entries where tau - e crosses a change point.
          std::vector<double> cuts{a};
          for (double c : {tau - 1.5, tau - 0.5})
            if (c > a && c < b) cuts.push_back(c);
          cuts.push_back(b);
          for (size_t k = 1; k < cuts.size(); ++k)
            num += rate[q] * gauss([&](double e) { return observed(tau - e); }, cuts[k - 1], cuts[k]);
          den += rate[q] * (b - a);
        }
        a = ends[q];
      }
      EXPECT_NEAR(el.event_probability(arm, law, tau), num / den, 1e-9) << tau << " arm " << arm;
    }
  }
}

// Pieces that all carry the same hazard and ratio give the exponential law's event probability
// (the exact one of loss and accrual pieces) within 1e-12, per arm and pooled.
TEST(Margins, EqualPiecesReproduceTheExponentialLaw) {
  const double TA = 2.0, TF = 3.0, S = 0.3, hr = 0.7;
  const double lc = -std::log(S) / (TA + TF);
  for (bool ramp : {false, true}) {
    EntryAndLoss plain;
    plain.dropout = {0.05, 0.1};
    if (ramp) {
      plain.accrual_end = {1.0, 2.0};
      plain.accrual_intensity = {1.0, 2.0};
    }
    EntryAndLoss pieces = plain;
    pieces.hazards[1] = {{0.7, 1.9, 3.3}, {lc, lc, lc, lc}, {hr, hr, hr, hr}};
    const EntryLoss el(pieces, TA);
    for (double tau : {0.6, 2.0, 3.7, 5.0}) {
      for (int arm = 0; arm < 2; ++arm) {
        const double want = el.event_probability(arm, arm == 0 ? lc : lc * hr, tau);
        const double got = el.event_probability(arm, endpoint_margin(pieces, 1, arm, 1, 0.5, 5), tau);
        EXPECT_NEAR(got, want, 1e-12 * want) << tau << " arm " << arm;
      }
      EXPECT_NEAR(pooled_event_probability(el, pieces, 1, 9.0, 0.9, 0.5, TA, TF, tau),
                  pooled_event_probability(el, plain, 1, hr, S, 0.5, TA, TF, tau), 1e-12);
    }
  }
}

}  // namespace
}  // namespace kestrel::survival
