// The exact boundary method: the sequential score's density on composite Gauss-Legendre nodes,
// erfc tails, Newton bound searches inside a bracket. See exact_boundary.h for the accuracy.
#include "boundaries/exact_boundary.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>

#include "boundaries/score_recursion.h"
#include "common/errors.h"

namespace kestrel::boundaries {
namespace {

using Recursion = ScoreRecursion;

constexpr double kMinusInfinity = -8.0;  // the lower bound of one-sided designs (z scale)
constexpr double kTruncation = 8.0;      // bounds above this are truncated
// An exit probability is solved to a relative tolerance: the alpha to spend at an early analysis
// of an O'Brien-Fleming type design can be 1e-12 and less, where an absolute tolerance would
// leave the bound wrong in its fifth digit. (A relative 1e-12 on the tail moves z by about
// 1e-12 / z.)
constexpr double kProbabilityTolerance = 1e-12;  // relative, on an exit probability
constexpr double kBoundTolerance = 1e-13;        // on the z scale


// The z-scale bound whose upper exit probability at analysis i is `target`: Newton steps kept
// inside a bracket that bisection shrinks when a step leaves it.
double solve_bound(const Recursion& r, size_t i, double target) {
  const double s = r.s(i);
  auto g = [&](double z, double* slope) {
    double d = 0.0;
    const double v = r.upper_exit(i, z * s, &d) - target;
    *slope = d * s;
    return v;
  };
  double lo = -12.0, hi = 40.0;  // g(lo) > 0 > g(hi) for any target in (0, exit at lo)
  double z = std::clamp(-std::log(target) > 0 ? std::sqrt(-2.0 * std::log(target)) - 0.5 : 0.0,
                        lo, hi);
  for (int it = 0; it < 200; ++it) {
    double slope = 0.0;
    const double v = g(z, &slope);
    if (std::fabs(v) <= kProbabilityTolerance * target && it > 0) break;
    if (v > 0) lo = z; else hi = z;
    double next = slope < 0.0 ? z - v / slope : 0.5 * (lo + hi);
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    if (std::fabs(next - z) <= kBoundTolerance) {
      z = next;
      break;
    }
    z = next;
  }
  return z;
}

}  // namespace

// Cumulative alpha of the spending function with the exact normal law for codes 1 and 6 (ALPHAS
// gives the others exactly, and its messages and clamps).
std::vector<double> cumulative_target(int iuse, int nn, double alpha, double phi, double side,
                                      const std::vector<double>& t,
                                      const std::vector<double>& user, std::ostream& report,
                                      std::vector<double>& pd_spending) {
  std::vector<double> pe;
  ALPHAS(iuse, nn, alpha, phi, side, t, user, pe, pd_spending, report);
  if (iuse == 1 || iuse == 6) {
    const double a = iuse == 1 ? alpha / side : alpha;
    const double z = ZNORM(1.0 - a / 2.0);
    for (int i = 0; i < nn; ++i) {
      const double tail = upper_tail(z / std::sqrt(t[i]));
      pe[i] = side * (iuse == 1 ? 2.0 * tail : tail);
    }
  }
  for (int i = 0; i < nn; ++i) {
    if (!std::isfinite(pe[i])) {
      throw RunError("the spending function " + std::to_string(iuse) +
                     " gives a cumulative alpha that is not a number at analysis " +
                     std::to_string(i + 1) + "; its formula overflows there");
    }
  }
  return pe;
}


std::uint64_t exact_kernel_evaluations() { return recursion_kernel_count; }

LandemResult exact_bounds(int nn, const std::vector<double>& t, double side, int iuse,
                          double alpha, double phi, const std::vector<double>& user,
                          std::ostream& report) {
  if (nn < 1 || static_cast<int>(t.size()) < nn) {
    throw RunError("exact bounds: needs at least one analysis and a time for each analysis");
  }
  const size_t K = static_cast<size_t>(nn);
  const std::vector<double> times(t.begin(), t.begin() + nn);
  std::vector<double> pd_spending;
  const std::vector<double> target =
      cumulative_target(iuse, nn, alpha, phi, side, times, user, report, pd_spending);
  LandemResult r;
  r.za.assign(K, 0.0);
  r.zb.assign(K, 0.0);
  r.pe.assign(K, 0.0);
  r.pd.assign(K, 0.0);
  Recursion rec(times);
  double spent = 0.0;
  for (size_t i = 0; i < K; ++i) {
    // What is left to spend here: the spending function's cumulative alpha less what the bounds
    // before really spent. ALPHAS's zero (an increment below 1e-13, or a clamped one) stands.
    const double want = pd_spending[i] == 0.0 ? 0.0 : std::min(1.0, target[i] - spent);
    double zb;
    if (want <= 0.0) {
      zb = kTruncation;
    } else if (want >= 1.0) {
      zb = 0.0;
    } else {
      zb = std::min(solve_bound(rec, i, want / side), kTruncation);
    }
    const double s = rec.s(i);
    const double za = side == 2.0 ? -zb : kMinusInfinity;
    const double spent_here = rec.upper_exit(i, zb * s) + rec.lower_exit(i, za * s);
    if (!std::isfinite(zb) || !std::isfinite(spent_here)) {
      throw RunError("the bound of analysis " + std::to_string(i + 1) + " is not a number");
    }
    r.zb[i] = zb;
    r.za[i] = za;
    r.pd[i] = spent_here;
    spent += spent_here;
    r.pe[i] = spent;
    if (i + 1 < K) rec.advance(i, za * s, zb * s);
  }
  return r;
}

ExactCrossings exact_crossings(const std::vector<double>& t, const std::vector<double>& za,
                               const std::vector<double>& zb, double drift) {
  const size_t K = t.size();
  Recursion rec(t);
  ExactCrossings c;
  c.qpos.assign(K, 0.0);
  c.qneg.assign(K, 0.0);
  for (size_t i = 0; i < K; ++i) {
    const double s = rec.s(i);
    const double a = za[i] * s - drift * t[i], b = zb[i] * s - drift * t[i];
    c.qpos[i] = rec.upper_exit(i, b);
    c.qneg[i] = rec.lower_exit(i, a);
    if (i + 1 < K) rec.advance(i, a, b);
  }
  return c;
}

ExactDrift exact_drift(const std::vector<double>& t, const std::vector<double>& za,
                       const std::vector<double>& zb, double power) {
  ExactDrift r;
  const size_t K = t.size();
  auto excess = [&](double d) {
    ++r.steps;
    const ExactCrossings c = exact_crossings(t, za, zb, d);
    double pw = 0.0;
    for (double q : c.qpos) pw += q;
    return pw - power;
  };
  double d = 0.0, f = 0.0;
  r.converged = drift_root(excess, (ZNORM(power) + zb[K - 1]) / std::sqrt(t[K - 1]), 100, d, f);
  r.drift = d;
  return r;
}

}  // namespace kestrel::boundaries
