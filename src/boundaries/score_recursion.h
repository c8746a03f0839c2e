#pragma once
// The density of the sequential score of the paths that have stayed inside the bounds, carried
// from analysis to analysis on composite Gauss-Legendre nodes (20 nodes per panel, panels no
// wider than the smaller of the two increment standard deviations the density meets), with
// normal tails from erfc. The exact boundary method and the futility designs share it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "boundaries/spending.h"
#include "common/errors.h"

namespace kestrel::boundaries {

inline constexpr int kNodesPerPanel = 20;
// The nodes of a continuation region are spaced by the increments' standard deviations, so two
// analyses with almost the same information need a great many of them, and a step of the
// recursion costs the product of two regions' node counts. Beyond this many panels the analyses
// are too close for the recursion, as the grid method refuses more than its grid intervals.
inline constexpr int kMaxPanels = 250;

// Evaluations of the normal kernel by the recursion on this thread so far (a measure of its work
// that does not depend on the machine's speed).
inline thread_local std::uint64_t recursion_kernel_count = 0;

inline double upper_tail(double z) { return 0.5 * std::erfc(z / std::numbers::sqrt2); }
inline double density(double z) {
  return std::exp(-0.5 * z * z) / (std::numbers::sqrt2 * std::sqrt(std::numbers::pi));
}

// Gauss-Legendre rule on [-1, 1] by Newton's method on the Legendre recurrence.
struct Rule {
  std::vector<double> x, w;
};
inline const Rule& gauss_legendre() {
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
class ScoreRecursion {
 public:
  explicit ScoreRecursion(const std::vector<double>& t) : t_(t) {
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
    recursion_kernel_count += x_.size();
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
    recursion_kernel_count += x_.size();
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
    recursion_kernel_count +=
        static_cast<std::uint64_t>(panels) * rule.x.size() * std::max<size_t>(x_.size(), 1);
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

// Illinois steps (regula falsi with the stale end's value halved) on a bracket lo < hi whose
// values flo and fhi have opposite signs, until the value is within 1e-12 of zero or the bracket
// narrower than 1e-12, at most `max_steps` steps. d and f receive the last point and its value.
template <class F>
void illinois_steps(F&& g, double lo, double flo, double hi, double fhi, int max_steps, double& d,
                    double& f) {
  int stale = 0;
  for (int it = 0; it < max_steps; ++it) {
    d = hi - fhi * (hi - lo) / (fhi - flo);
    f = g(d);
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
}

// The drift whose power excess g(d) is zero: from the fixed-design start value d0, steps of 0.25
// towards the sign change (at most 200, as the grid method steps), then Illinois steps (at most
// max_steps). d and f receive the last point and its value; false when no sign change was found.
template <class F>
bool drift_root(F&& g, double d0, int max_steps, double& d, double& f) {
  d = d0;
  f = g(d);
  double lo = d, flo = f;
  const double step = f < 0.0 ? 0.25 : -0.25;
  for (int k = 0; k < 200 && (f < 0.0) == (flo < 0.0) && f != 0.0; ++k) {
    lo = d;
    flo = f;
    d += step;
    f = g(d);
  }
  if (f == 0.0) return true;
  if ((f < 0.0) == (flo < 0.0)) return false;
  double hi = d, fhi = f;
  if (lo > hi) {
    std::swap(lo, hi);
    std::swap(flo, fhi);
  }
  illinois_steps(g, lo, flo, hi, fhi, max_steps, d, f);
  return true;
}

}  // namespace kestrel::boundaries
