#pragma once
// Exact group sequential figures for the accuracy statements of the boundary calculator: the
// density of the score process carried from analysis to analysis on composite Gauss-Legendre
// nodes (20 per panel, panels no wider than a chosen fraction of the smaller of the two
// increment standard deviations the density meets), normal tails from the standard library's
// erfc, bounds by bisection to machine precision. Halving the panel width changes no figure by
// more than about 1e-13 (the tests check it on their designs), so these serve as exact values.
// Nothing here shares code with the boundary layer.
#include <algorithm>
#include <cmath>
#include <vector>

#include "boundaries/reference_normal.h"

namespace kestrel::boundaries::exact {

inline double upper_tail(double z) { return 0.5 * std::erfc(z / std::numbers::sqrt2); }

struct Density {
  std::vector<double> x, w, f;  // nodes, weights, density of the continuing paths at the nodes
};

class Recursion {
 public:
  // t: information fractions; panel: panel width as a fraction of the increment standard
  // deviation (1 is already converged; 0.5 checks it).
  explicit Recursion(std::vector<double> t, double panel = 1.0)
      : t_(std::move(t)), panel_(panel), rule_(reference::gauss_legendre(20)) {
    const size_t K = t_.size();
    sigma_.resize(K);
    s_.resize(K);
    for (size_t i = 0; i < K; ++i) {
      sigma_[i] = std::sqrt(i == 0 ? t_[0] : t_[i] - t_[i - 1]);
      s_[i] = std::sqrt(t_[i]);
    }
  }

  // Probability of continuing to analysis i (0-based, i >= 1) and ending above y there (score
  // scale of the zero-mean process), from the density of analysis i-1.
  double upper_exit(size_t i, double y) const {
    double sum = 0;
    for (size_t k = 0; k < d_.x.size(); ++k) {
      sum += d_.w[k] * d_.f[k] * upper_tail((y - d_.x[k]) / sigma_[i]);
    }
    return sum;
  }
  double lower_exit(size_t i, double y) const {
    double sum = 0;
    for (size_t k = 0; k < d_.x.size(); ++k) {
      sum += d_.w[k] * d_.f[k] * upper_tail((d_.x[k] - y) / sigma_[i]);
    }
    return sum;
  }

  // Moves the density to analysis i with continuation region (a, b) on the score scale.
  void advance(size_t i, double a, double b) {
    const double scale =
        i + 1 < t_.size() ? std::min(sigma_[i], sigma_[i + 1]) : sigma_[i];
    const int panels = std::max(1, static_cast<int>(std::ceil((b - a) / (panel_ * scale))));
    Density next;
    reference::composite(a, b, panels, rule_, next.x, next.w);
    next.f.resize(next.x.size());
    for (size_t j = 0; j < next.x.size(); ++j) {
      if (i == 0) {
        next.f[j] = reference::phi(next.x[j] / sigma_[0]) / sigma_[0];
        continue;
      }
      double sum = 0;
      for (size_t k = 0; k < d_.x.size(); ++k) {
        sum += d_.w[k] * d_.f[k] * reference::phi((next.x[j] - d_.x[k]) / sigma_[i]);
      }
      next.f[j] = sum / sigma_[i];
    }
    d_ = std::move(next);
  }

  const std::vector<double>& s() const { return s_; }
  const std::vector<double>& t() const { return t_; }

 private:
  std::vector<double> t_;
  double panel_;
  reference::Rule rule_;
  std::vector<double> sigma_, s_;
  Density d_;
};

// Upper bounds (z scale) whose upper exit probabilities under the null are pd[i]/side, the lower
// bound being -8 (one-sided) or minus the upper bound (two-sided).
inline std::vector<double> bounds(const std::vector<double>& t, const std::vector<double>& pd,
                                  double side, double panel = 1.0) {
  Recursion r(t, panel);
  const size_t K = t.size();
  std::vector<double> zb(K);
  for (size_t i = 0; i < K; ++i) {
    const double target = pd[i] / side;
    if (i == 0) {
      zb[0] = reference::bisect([&](double z) { return upper_tail(z) - target; }, -10.0, 12.0);
    } else {
      const double s = r.s()[i];
      zb[i] = reference::bisect([&](double z) { return r.upper_exit(i, z * s) - target; }, -10.0,
                                12.0);
    }
    const double s = r.s()[i];
    const double za = side == 2.0 ? -zb[i] : -8.0;
    if (i + 1 < K) r.advance(i, za * s, zb[i] * s);
  }
  return zb;
}

// First-crossing probabilities of given z-scale bounds under the drift theta (the statistic at
// information fraction t has mean theta*t on the score scale): upper (qpos) and lower (qneg).
struct Crossings {
  std::vector<double> qpos, qneg;
};
inline Crossings crossings(const std::vector<double>& t, const std::vector<double>& za,
                           const std::vector<double>& zb, double theta, double panel = 1.0) {
  Recursion r(t, panel);
  const size_t K = t.size();
  Crossings c;
  c.qpos.resize(K);
  c.qneg.resize(K);
  for (size_t i = 0; i < K; ++i) {
    const double s = r.s()[i];
    const double a = za[i] * s - theta * t[i], b = zb[i] * s - theta * t[i];
    if (i == 0) {
      c.qpos[0] = upper_tail(b / s);
      c.qneg[0] = upper_tail(-a / s);
    } else {
      c.qpos[i] = r.upper_exit(i, b);
      c.qneg[i] = r.lower_exit(i, a);
    }
    if (i + 1 < K) r.advance(i, a, b);
  }
  return c;
}

}  // namespace kestrel::boundaries::exact
