// The exact boundary method: the sequential score's density on composite Gauss-Legendre nodes,
// erfc tails, Newton bound searches inside a bracket. See exact_boundary.h for the accuracy.
#include "boundaries/exact_boundary.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>

#include "common/errors.h"

namespace kestrel::boundaries {
namespace {

constexpr double kMinusInfinity = -8.0;  // the lower bound of one-sided designs (z scale)
constexpr double kTruncation = 8.0;      // bounds above this are truncated
constexpr int kNodesPerPanel = 20;
// An exit probability is solved to a relative tolerance: the alpha to spend at an early analysis
// of an O'Brien-Fleming type design can be 1e-12 and less, where an absolute tolerance would
// leave the bound wrong in its fifth digit. (A relative 1e-12 on the tail moves z by about
// 1e-12 / z.)
constexpr double kProbabilityTolerance = 1e-12;  // relative, on an exit probability
constexpr double kBoundTolerance = 1e-13;        // on the z scale
// The nodes of a continuation region are spaced by the increments' standard deviations, so two
// analyses with almost the same information need a great many of them, and a step of the
// recursion costs the product of two regions' node counts. Beyond this many panels the analyses
// are too close for the recursion, as the grid method refuses more than its grid intervals.
constexpr int kMaxPanels = 250;

thread_local std::uint64_t kernel_count = 0;

double upper_tail(double z) { return 0.5 * std::erfc(z / std::numbers::sqrt2); }
double density(double z) {
  return std::exp(-0.5 * z * z) / (std::numbers::sqrt2 * std::sqrt(std::numbers::pi));
}

// Gauss-Legendre rule on [-1, 1] by Newton's method on the Legendre recurrence.
struct Rule {
  std::vector<double> x, w;
};
const Rule& gauss_legendre() {
  static const Rule rule = [] {
    const int n = kNodesPerPanel;
    Rule r;
    r.x.resize(n);
    r.w.resize(n);
    for (int i = 0; i < n; ++i) {
      double x = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5));
      double dp = 1.0;
      for (int it = 0; it < 100; ++it) {
        double p0 = 1.0, p1 = x;
        for (int k = 2; k <= n; ++k) {
          const double p2 = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / k;
          p0 = p1;
          p1 = p2;
        }
        dp = n * (x * p1 - p0) / (x * x - 1.0);
        const double dx = p1 / dp;
        x -= dx;
        if (std::fabs(dx) < 1e-16) break;
      }
      r.x[i] = x;
      r.w[i] = 2.0 / ((1.0 - x * x) * dp * dp);
    }
    return r;
  }();
  return rule;
}

// The density of the paths that have stayed inside the bounds, at the nodes of the last
// continuation region (weights included: wf = weight times density).
class Recursion {
 public:
  explicit Recursion(const std::vector<double>& t) : t_(t) {
    const size_t K = t.size();
    sigma_.resize(K);
    s_.resize(K);
    for (size_t i = 0; i < K; ++i) {
      sigma_[i] = std::sqrt(i == 0 ? t[0] : t[i] - t[i - 1]);
      s_[i] = std::sqrt(t[i]);
    }
  }
  double s(size_t i) const { return s_[i]; }

  // P(inside up to analysis i-1, score at i above y) for i >= 1 (zero-mean score scale); for
  // i = 0 the normal tail. `slope` receives the derivative in y.
  double upper_exit(size_t i, double y, double* slope = nullptr) const {
    if (i == 0) {
      if (slope) *slope = -density(y / sigma_[0]) / sigma_[0];
      return upper_tail(y / sigma_[0]);
    }
    double sum = 0.0, d = 0.0;
    const double inv = 1.0 / sigma_[i];
    kernel_count += x_.size();
    for (size_t k = 0; k < x_.size(); ++k) {
      const double z = (y - x_[k]) * inv;
      sum += wf_[k] * upper_tail(z);
      if (slope) d += wf_[k] * density(z);
    }
    if (slope) *slope = -d * inv;
    return sum;
  }
  double lower_exit(size_t i, double y) const {
    if (i == 0) return upper_tail(-y / sigma_[0]);
    double sum = 0.0;
    kernel_count += x_.size();
    for (size_t k = 0; k < x_.size(); ++k) sum += wf_[k] * upper_tail((x_[k] - y) / sigma_[i]);
    return sum;
  }

  // Moves the density to analysis i, whose continuation region is (a, b) on the score scale.
  void advance(size_t i, double a, double b) {
    const Rule& rule = gauss_legendre();
    const double width =
        i + 1 < t_.size() ? std::min(sigma_[i], sigma_[i + 1]) : sigma_[i];
    const double span = std::max(b - a, 0.0);
    const double need = std::ceil(span / width);
    if (!(need <= kMaxPanels)) too_close(i, need);
    const int panels = std::max(1, static_cast<int>(need));
    kernel_count += static_cast<std::uint64_t>(panels) * rule.x.size() * std::max<size_t>(x_.size(), 1);
    const double h = span / panels;
    std::vector<double> x, wf;
    x.reserve(static_cast<size_t>(panels) * rule.x.size());
    wf.reserve(x.capacity());
    for (int p = 0; p < panels; ++p) {
      const double c = a + (p + 0.5) * h;
      for (size_t n = 0; n < rule.x.size(); ++n) {
        const double xn = c + 0.5 * h * rule.x[n];
        const double wn = 0.5 * h * rule.w[n];
        double f;
        if (i == 0) {
          f = density(xn / sigma_[0]) / sigma_[0];
        } else {
          const double inv = 1.0 / sigma_[i];
          double sum = 0.0;
          for (size_t k = 0; k < x_.size(); ++k) {
            const double z = (xn - x_[k]) * inv;
            sum += wf_[k] * std::exp(-0.5 * z * z);
          }
          f = sum * inv / (std::numbers::sqrt2 * std::sqrt(std::numbers::pi));
        }
        x.push_back(xn);
        wf.push_back(wn * f);
      }
    }
    x_.swap(x);
    wf_.swap(wf);
  }

 private:
  // Analyses too close together: the same stop as the grid method's, naming the two analyses
  // whose small increment of information asks for the nodes.
  [[noreturn]] void too_close(size_t i, double need) const {
    const bool before = i + 1 >= t_.size() || sigma_[i] <= sigma_[i + 1];
    const size_t later = before ? i : i + 1;  // 0-based analysis after the small increment
    const std::string between =
        later == 0 ? "the information fraction at analysis 1 is " + fraction_text(t_[0])
                   : "the information fractions at analyses " + std::to_string(later) + " and " +
                         std::to_string(later + 1) + " are " + fraction_pair(t_[later - 1], t_[later]);
    char count[32];
    std::snprintf(count, sizeof count, "%.3g", need);
    throw RunError("too little information to design the bounds: " + between +
                   ", too close together for the boundary recursion (the exact recursion at "
                   "analysis " + std::to_string(i + 1) + " would need " + count +
                   " panels of nodes, more than " + std::to_string(kMaxPanels) + ")");
  }

  std::vector<double> t_, sigma_, s_;
  std::vector<double> x_, wf_;
};

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

}  // namespace

std::uint64_t exact_kernel_evaluations() { return kernel_count; }

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
  // Bracket from the fixed-design start value by steps of 0.25, as the grid method does.
  double d = (ZNORM(power) + zb[K - 1]) / std::sqrt(t[K - 1]);
  double f = excess(d);
  double lo = d, flo = f, hi = d, fhi = f;
  const double step = f < 0.0 ? 0.25 : -0.25;
  for (int k = 0; k < 200 && (f < 0.0) == (flo < 0.0) && f != 0.0; ++k) {
    lo = d;
    flo = f;
    d += step;
    f = excess(d);
  }
  if (f == 0.0) {
    r.drift = d;
    return r;
  }
  if ((f < 0.0) == (flo < 0.0)) {
    r.drift = d;
    r.converged = false;
    return r;
  }
  hi = d;
  fhi = f;
  if (lo > hi) {
    std::swap(lo, hi);
    std::swap(flo, fhi);
  }
  // Illinois steps: regula falsi with the stale end's value halved.
  int stale = 0;
  for (int it = 0; it < 100; ++it) {
    d = hi - fhi * (hi - lo) / (fhi - flo);
    f = excess(d);
    if (std::fabs(f) <= 1e-12 || hi - lo <= 1e-12) break;
    if ((f < 0.0) == (flo < 0.0)) {
      lo = d;
      flo = f;
      if (stale == 1) fhi /= 2.0;
      stale = 1;
    } else {
      hi = d;
      fhi = f;
      if (stale == -1) flo /= 2.0;
      stale = -1;
    }
  }
  r.drift = d;
  return r;
}

}  // namespace kestrel::boundaries
