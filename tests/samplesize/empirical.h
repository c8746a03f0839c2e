#pragma once
// An empirical law of the stacked statistics: a fixed set of draws of all 2K statistics from their
// correlation matrix. The probability of a rectangle is the share of draws inside it. The same
// draws serve every rectangle, so this is one probability measure: two formulations that
// partition the same event into different rectangles must agree to rounding, whatever the
// number of draws, and an event contained in another can never get the larger share.
// Each rectangle's correlations are checked against the full matrix at its statistics.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "samplesize/power.h"

namespace kestrel::samplesize::testing {

class EmpiricalLaw {
 public:
  // packed: strict lower triangle by rows of the n x n correlation matrix.
  EmpiricalLaw(int n, const std::vector<double>& packed, int draws, unsigned seed) : n_(n) {
    full_.assign(static_cast<size_t>(n * n), 0.0);
    for (int i = 0; i < n; ++i) {
      at(i, i) = 1.0;
      for (int j = 0; j < i; ++j)
        at(i, j) = at(j, i) = packed[static_cast<size_t>(i * (i - 1) / 2 + j)];
    }
    // Cholesky factor (semi-definite matrices tolerated: a zero pivot leaves its column zero).
    std::vector<double> L(static_cast<size_t>(n * n), 0.0);
    for (int j = 0; j < n; ++j) {
      double d = at(j, j);
      for (int k = 0; k < j; ++k) d -= L[j * n + k] * L[j * n + k];
      const double p = d > 1e-14 ? std::sqrt(d) : 0.0;
      L[j * n + j] = p;
      for (int i = j + 1; i < n; ++i) {
        double s = at(i, j);
        for (int k = 0; k < j; ++k) s -= L[i * n + k] * L[j * n + k];
        L[i * n + j] = p > 0 ? s / p : 0.0;
      }
    }
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> z;
    x_.resize(static_cast<size_t>(draws) * n);
    std::vector<double> e(static_cast<size_t>(n));
    for (int d = 0; d < draws; ++d) {
      for (auto& v : e) v = z(rng);
      for (int i = 0; i < n; ++i) {
        double s = 0;
        for (int k = 0; k <= i; ++k) s += L[i * n + k] * e[static_cast<size_t>(k)];
        x_[static_cast<size_t>(d) * n + i] = s;
      }
    }
    draws_ = draws;
  }

  double operator()(const Rectangle& r) {
    for (int a = 0; a < r.m; ++a)
      for (int b = 0; b < a; ++b) {
        const double want = at(r.stat[a], r.stat[b]);
        mismatch_ = std::max(mismatch_, std::fabs(r.correl[a * (a - 1) / 2 + b] - want));
      }
    long long inside = 0;
    for (int d = 0; d < draws_; ++d) {
      const double* x = &x_[static_cast<size_t>(d) * n_];
      bool in = true;
      for (int a = 0; a < r.m && in; ++a) {
        const double v = x[r.stat[a]];
        if (r.infin[a] == 1)
          in = v >= r.limits[a];
        else if (r.infin[a] == 0)
          in = v <= r.limits[a];
        else if (r.infin[a] == 2)
          in = v >= r.lower_limits()[a] && v <= r.limits[a];
      }
      inside += in;
    }
    ++calls_;
    return static_cast<double>(inside) / draws_;
  }

  RectangleProbability as_function() {
    return [this](const Rectangle& r) { return (*this)(r); };
  }
  double mismatch() const { return mismatch_; }
  // The draws themselves, for replaying a stopping rule on each.
  int draws() const { return draws_; }
  const double* draw(int d) const { return &x_[static_cast<size_t>(d) * n_]; }
  long long calls() const { return calls_; }

 private:
  double& at(int i, int j) { return full_[static_cast<size_t>(i * n_ + j)]; }
  int n_ = 0, draws_ = 0;
  std::vector<double> full_, x_;
  double mismatch_ = 0;
  long long calls_ = 0;
};

}  // namespace kestrel::samplesize::testing
