#pragma once
// Independent reference computations for the boundary tests: the normal law from the standard
// library's erfc, Gauss-Legendre rules computed from the Legendre recurrence, and exit
// probabilities of the sequential statistic by nested composite Gauss-Legendre quadrature.
// None of this shares code with the boundary layer.
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

namespace kestrel::boundaries::reference {

inline double Phi(double x) {
  return 0.5 * std::erfc(-x / std::numbers::sqrt2);
}
inline double phi(double x) {
  return std::exp(-0.5 * x * x) / std::sqrt(2.0 * std::numbers::pi);
}

// Root of a decreasing or increasing function on [lo, hi] by bisection to machine precision.
inline double bisect(const std::function<double(double)>& g, double lo, double hi) {
  double glo = g(lo);
  for (int it = 0; it < 200; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (mid == lo || mid == hi) break;
    const double gm = g(mid);
    if ((gm > 0) == (glo > 0)) {
      lo = mid;
      glo = gm;
    } else {
      hi = mid;
    }
  }
  return 0.5 * (lo + hi);
}

// Quantile of the normal law by bisection on Phi.
// Above 1/2 the upper tail 1 - p (exact there) is matched instead, so that no digits are lost.
inline double quantile(double p) {
  if (p > 0.5) {
    const double q = 1.0 - p;
    return bisect([q](double z) { return 0.5 * std::erfc(z / std::numbers::sqrt2) - q; }, -40.0,
                  40.0);
  }
  return bisect([p](double z) { return Phi(z) - p; }, -40.0, 40.0);
}

struct Rule {
  std::vector<double> x, w;  // nodes and weights on [-1, 1]
};

// n-point Gauss-Legendre rule by Newton's method on the Legendre recurrence.
inline Rule gauss_legendre(int n) {
  Rule r;
  r.x.resize(n);
  r.w.resize(n);
  for (int i = 0; i < n; ++i) {
    double x = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5));
    double dp = 0.0;
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
}

// Nodes and weights of a composite rule on [a, b]: `panels` panels of an n-point rule.
inline void composite(double a, double b, int panels, const Rule& rule, std::vector<double>& x,
                      std::vector<double>& w) {
  x.clear();
  w.clear();
  const double h = (b - a) / panels;
  for (int p = 0; p < panels; ++p) {
    const double c = a + (p + 0.5) * h;
    for (size_t i = 0; i < rule.x.size(); ++i) {
      x.push_back(c + 0.5 * h * rule.x[i]);
      w.push_back(0.5 * h * rule.w[i]);
    }
  }
}

// Upper bounds of a design (two-sided symmetric when two_sided) whose upper exit probabilities
// under the null are pd[i]/side, for K = 1, 2 or 3, by quadrature of the score process
// S(t) ~ independent normal increments. K = 2 is the bivariate normal integral over the first
// statistic; K = 3 a double integral.
inline std::vector<double> bounds_by_quadrature(const std::vector<double>& t,
                                                const std::vector<double>& pd, bool two_sided) {
  const double side = two_sided ? 2.0 : 1.0;
  const int K = static_cast<int>(t.size());
  const Rule rule = gauss_legendre(20);
  std::vector<double> z(K);
  z[0] = quantile(1.0 - pd[0] / side);
  if (K == 1) return z;
  const double s1 = std::sqrt(t[0]), s2 = std::sqrt(t[1]), sg2 = std::sqrt(t[1] - t[0]);
  std::vector<double> x1, w1;
  const double lo1 = two_sided ? -z[0] : -12.0;
  composite(lo1 * s1, z[0] * s1, 60, rule, x1, w1);
  // P(continue at 1, S2 >= y) for y on the score scale.
  auto exit2 = [&](double y) {
    double sum = 0.0;
    for (size_t k = 0; k < x1.size(); ++k) {
      sum += w1[k] * phi(x1[k] / s1) / s1 * (1.0 - Phi((y - x1[k]) / sg2));
    }
    return sum;
  };
  z[1] = bisect([&](double c) { return exit2(c * s2) - pd[1] / side; }, -10.0, 12.0);
  if (K == 2) return z;
  const double s3 = std::sqrt(t[2]), sg3 = std::sqrt(t[2] - t[1]);
  // Density at analysis 2 of the paths that continued at 1 and 2.
  std::vector<double> x2, w2, g2;
  const double lo2 = two_sided ? -z[1] : -12.0;
  composite(lo2 * s2, z[1] * s2, 60, rule, x2, w2);
  g2.resize(x2.size());
  for (size_t j = 0; j < x2.size(); ++j) {
    double sum = 0.0;
    for (size_t k = 0; k < x1.size(); ++k) {
      sum += w1[k] * phi(x1[k] / s1) / s1 * phi((x2[j] - x1[k]) / sg2) / sg2;
    }
    g2[j] = sum;
  }
  auto exit3 = [&](double y) {
    double sum = 0.0;
    for (size_t j = 0; j < x2.size(); ++j) sum += w2[j] * g2[j] * (1.0 - Phi((y - x2[j]) / sg3));
    return sum;
  };
  z[2] = bisect([&](double c) { return exit3(c * s3) - pd[2] / side; }, -10.0, 12.0);
  return z;
}

}  // namespace kestrel::boundaries::reference
