// Marginal, censoring and joint survival functions of the two event times, the correlation
// quadrature of a copula, the competing-risk indicator tables and the equation solver of the
// positive stable sampler.
//
// The joint survival function is the survival copula C(u, v) of the family applied to the two
// marginal survival probabilities. TERM4 is a product Simpson-type rule on the unit square after
// the substitution x = 1 - u: each cell uses the copula at its two diagonal corners and at its
// midpoint, the 1/(u v) factor is taken at the midpoint only, so the singular corner is never
// evaluated. With cut-offs 0 it approximates E[T1 T2] of two unit-exponential times.
#include "common/fp_contract.h"

#include "survival/model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "common/errors.h"
#include "common/format.h"

namespace kestrel::survival {

double SFUN(double t, double lambda) { return std::exp(-(lambda * t)); }

double CHAZARD(double t, double lambda) { return lambda * t; }

double SCENS(double t, double A, double F, int mode) {
  if (mode != 1) return 1.0;
  if (t < F) return 1.0;
  if (t > F + A) return 0.0;
  if (A == 0.0) return 1.0;
  return 1.0 - (t - F) / A;
}

namespace {

// Below θ = -e² the Frank copula switches to its series form.
const double kFrankSeriesBelow = std::exp(2.0);

// Frank copula from the precomputed exponentials eu = e^(θu), ev = e^(θv) and E = e^θ.
// For -e² <= θ < 0 the closed form ln(R)/θ is used while R > 0; below -e² (or when the closed
// form's argument has lost all its digits) 1/(1 - E) is replaced by its series 1 + E + E², which
// is accurate there because E is tiny. For θ > 0 (negative association) R >= 1 always holds and
// the closed form is exact, so it is used.
inline double frank_from_exp(double theta, double eu, double ev, double E, double u, double v) {
  const double R = (eu - 1.0) * (ev - 1.0) / (E - 1.0) + 1.0;
  if (theta > 0.0) return std::log(R) / theta;
  if (R > 0.0 && std::log(-theta) <= 2.0) return std::log(R) / theta;
  const double series = 1.0 + E + E * E;
  const double c = std::log(series * (eu + ev - std::exp(theta * (u + v))) - E - E * E) / theta;
  if (std::isfinite(c)) return c;
  // For very strong association the exponentials underflow and the logarithm's argument is lost.
  // The same series form with e^(θ min(u, v)) taken out of the argument keeps it representable.
  const double m = std::min(u, v), M = std::max(u, v);
  const double scaled = series * (1.0 + std::exp(theta * (M - m)) - std::exp(theta * M)) -
                        std::exp(theta * (1.0 - m)) - std::exp(theta * (2.0 - m));
  return m + std::log(scaled) / theta;
}

}  // namespace

double SJOINT(double theta, double u, double v, int code) {
  switch (code) {
    case 1: {
      if (theta == 0.0) return u * v;
      double s = std::pow(u, -theta) + std::pow(v, -theta) - 1.0;
      if (s < 0.0) s = 0.0;
      return std::pow(s, -1.0 / theta);
    }
    case 2: {
      if (theta == 1.0) return u * v;
      if (u == 0.0 || v == 0.0) return 0.0;
      const double w = std::pow(-std::log(u), 1.0 / theta) + std::pow(-std::log(v), 1.0 / theta);
      return std::exp(-std::pow(w, theta));
    }
    case 3: {
      if (theta == 0.0) return u * v;
      return frank_from_exp(theta, std::exp(theta * u), std::exp(theta * v), std::exp(theta), u, v);
    }
    default:
      return std::numeric_limits<double>::quiet_NaN();
  }
}

double DSJOINT(double theta, double u, double v, int code) {
  switch (code) {
    case 3: {
      if (theta == 0.0) {
        // Limit of the expression below as θ -> 0 (it is 0/0 at θ = 0 itself).
        return -0.5 * u * v * (1.0 - u) * (1.0 - v);
      }
      const double a = std::exp(theta * u) - 1.0;
      const double b = std::exp(theta * v) - 1.0;
      const double c = std::exp(theta) - 1.0;
      if (theta < -kFrankSeriesBelow) {
        // Strong association: a, b and c round to -1, so a·b + c is formed without its
        // cancelling ones, D = e^θ + e^(θ(u+v)) - e^(θu) - e^(θv).
        const double eu = std::exp(theta * u), ev = std::exp(theta * v), E = std::exp(theta);
        const double D = (E + std::exp(theta * (u + v))) - (eu + ev);
        const double r = D / c;  // 1 + a·b/c
        if (r <= 0.0) return 0.0;
        const double N = theta * (u * eu * c * b + v * ev * c * a - E * a * b) / (D * c);
        return (N - std::log(r)) / (theta * theta);
      }
      if (1.0 + a * b / c <= 0.0) return 0.0;
      const double N = theta *
                       (u * std::exp(theta * u) * c * b + v * std::exp(theta * v) * c * a -
                        std::exp(theta) * a * b) /
                       ((a * b + c) * c);
      return (N - std::log(1.0 + a * b / c)) / (theta * theta);
    }
    case 1: {
      // C = s^(-1/θ), s = u^-θ + v^-θ - 1.
      if (u == 0.0 || v == 0.0) return 0.0;
      const double lu = std::log(u), lv = std::log(v);
      if (theta == 0.0) return u * v * lu * lv;
      const double pu = std::pow(u, -theta), pv = std::pow(v, -theta);
      const double s = pu + pv - 1.0;
      if (s <= 0.0) return 0.0;
      const double C = std::pow(s, -1.0 / theta);
      return C * (std::log(s) / (theta * theta) + (pu * lu + pv * lv) / (theta * s));
    }
    case 2: {
      // C = exp(-w^θ), w = x^(1/θ) + y^(1/θ), x = -ln u, y = -ln v.
      if (u == 0.0 || v == 0.0) return 0.0;
      const double x = -std::log(u), y = -std::log(v);
      const double px = x > 0.0 ? std::pow(x, 1.0 / theta) : 0.0;
      const double py = y > 0.0 ? std::pow(y, 1.0 / theta) : 0.0;
      const double w = px + py;
      if (w == 0.0) return 0.0;
      const double tx = x > 0.0 ? px * std::log(x) : 0.0;
      const double ty = y > 0.0 ? py * std::log(y) : 0.0;
      const double dw = -(tx + ty) / (theta * theta);  // dw/dθ
      const double wt = std::pow(w, theta);
      return -std::exp(-wt) * wt * (std::log(w) + theta * dw / w);
    }
    default:
      return std::numeric_limits<double>::quiet_NaN();
  }
}

void SEQ(std::vector<double>& X, int N, double A, double B) {
  X.resize(static_cast<size_t>(N) + 1);
  for (int i = 0; i <= N; ++i) X[static_cast<size_t>(i)] = A + (B - A) * i / N;
}

namespace {

// The cell sum shared by TERM4 and DTERM4. `node(i, j)` is the integrand at the grid node
// (1 - X(i), 1 - Y(j)), i, j = 0..N, and `mid(i, j)` at the midpoint of cell (i, j), i, j = 1..N.
// Node (i, j) is the upper corner of cell (i, j) and the lower corner of cell (i+1, j+1), so each
// node value is computed once. When both axes carry the same grid the copula's symmetry
// C(u, v) = C(v, u) (exact in floating point: every family combines the two coordinates by
// commutative operations) halves the evaluations. The terms are added in the same order and with
// the same arithmetic as a cell-by-cell evaluation, so the result equals it bit for bit.
template <class Node, class Mid>
double cell_sum(const std::vector<double>& X, const std::vector<double>& Y, int N, bool symmetric,
                Node node, Mid mid) {
  const size_t n = static_cast<size_t>(N);
  const size_t m = n + 1;
  std::vector<double> wy(m);
  for (size_t j = 1; j <= n; ++j) {
    const double ym = 0.5 * Y[j] + 0.5 * Y[j - 1];
    wy[j] = (Y[j] - Y[j - 1]) / (1.0 - ym);
  }
  auto add_row = [&](double& sum, size_t i, const double* cur, const double* prev, const double* md) {
    const double xm = 0.5 * X[i] + 0.5 * X[i - 1];
    const double wx = (X[i] - X[i - 1]) / (1.0 - xm);
    for (size_t j = 1; j <= n; ++j) {
      const double f1 = cur[j], f2 = md[j], f3 = prev[j - 1];
      sum += (f3 + 4.0 * f2 + f1) * wx * wy[j] / 6.0;
    }
  };
  double sum = 0.0;
  if (symmetric) {
    // Full matrices, the lower triangle evaluated and mirrored.
    std::unique_ptr<double[]> nodes(new double[m * m]), mids(new double[m * m]);
    for (size_t i = 0; i <= n; ++i) {
      double* row = nodes.get() + i * m;
      for (size_t j = 0; j <= i; ++j) row[j] = node(i, j);
      for (size_t j = 0; j < i; ++j) nodes[j * m + i] = row[j];
    }
    for (size_t i = 1; i <= n; ++i) {
      double* row = mids.get() + i * m;
      for (size_t j = 1; j <= i; ++j) row[j] = mid(i, j);
      for (size_t j = 1; j < i; ++j) mids[j * m + i] = row[j];
    }
    for (size_t i = 1; i <= n; ++i)
      add_row(sum, i, nodes.get() + i * m, nodes.get() + (i - 1) * m, mids.get() + i * m);
    return sum;
  }
  std::vector<double> prev(m), cur(m), md(m);
  for (size_t j = 0; j <= n; ++j) prev[j] = node(0, j);
  for (size_t i = 1; i <= n; ++i) {
    for (size_t j = 0; j <= n; ++j) cur[j] = node(i, j);
    for (size_t j = 1; j <= n; ++j) md[j] = mid(i, j);
    add_row(sum, i, cur.data(), prev.data(), md.data());
    prev.swap(cur);
  }
  return sum;
}

// Survival arguments of the nodes (1 - X(i)) and the midpoints (1 - xm(i)), exactly as the
// cell-by-cell rule forms them.
struct GridArgs {
  std::vector<double> node, mid;  // node[i], i = 0..N; mid[i], i = 1..N (mid[0] unused)
};

GridArgs grid_args(const std::vector<double>& X, int N) {
  GridArgs g;
  const size_t n = static_cast<size_t>(N);
  g.node.resize(n + 1);
  g.mid.resize(n + 1);
  for (size_t i = 0; i <= n; ++i) g.node[i] = 1.0 - X[i];
  g.mid[0] = 1.0;
  for (size_t i = 1; i <= n; ++i) g.mid[i] = 1.0 - (0.5 * X[i] + 0.5 * X[i - 1]);
  return g;
}

// Applies `f` to every entry (the per-coordinate part of a copula, computed once per axis).
template <class Fn>
std::vector<double> map(const std::vector<double>& in, Fn f) {
  std::vector<double> out(in.size());
  for (size_t k = 0; k < in.size(); ++k) out[k] = f(in[k]);
  return out;
}

struct Grids {
  std::vector<double> X, Y;
  GridArgs gx, gy;
  bool symmetric;
};

Grids grids(double a, double b, int N) {
  Grids g;
  SEQ(g.X, N, 0.0, 1.0 - a);
  SEQ(g.Y, N, 0.0, 1.0 - b);
  g.gx = grid_args(g.X, N);
  g.gy = grid_args(g.Y, N);
  g.symmetric = (a == b);
  return g;
}

// Any copula function evaluated point by point.
double quadrature_generic(double theta, const Grids& g, int N, int code,
                          double (*C)(double, double, double, int)) {
  return cell_sum(
      g.X, g.Y, N, g.symmetric,
      [&](size_t i, size_t j) { return C(theta, g.gx.node[i], g.gy.node[j], code); },
      [&](size_t i, size_t j) { return C(theta, g.gx.mid[i], g.gy.mid[j], code); });
}

}  // namespace

double TERM4(double theta, double a, double b, int N, int code) {
  const Grids g = grids(a, b, N);
  const GridArgs &gx = g.gx, &gy = g.gy;

  if (code == 1 && theta != 0.0) {
    // Clayton: u^-θ once per coordinate; each value is then one power of the pair's sum.
    auto p = [theta](double u) { return std::pow(u, -theta); };
    const std::vector<double> pxn = map(gx.node, p), pxm = map(gx.mid, p);
    const std::vector<double> pyn = map(gy.node, p), pym = map(gy.mid, p);
    const double e = -1.0 / theta;
    auto value = [e](double pu, double pv) {
      double s = pu + pv - 1.0;
      if (s < 0.0) s = 0.0;
      return std::pow(s, e);
    };
    return cell_sum(
        g.X, g.Y, N, g.symmetric, [&](size_t i, size_t j) { return value(pxn[i], pyn[j]); },
        [&](size_t i, size_t j) { return value(pxm[i], pym[j]); });
  }
  if (code == 2 && theta != 1.0) {
    // Positive stable: (-ln u)^(1/θ) once per coordinate; a zero marginal gives 0.
    const double r = 1.0 / theta;
    auto p = [r](double u) { return u == 0.0 ? 0.0 : std::pow(-std::log(u), r); };
    const std::vector<double> pxn = map(gx.node, p), pxm = map(gx.mid, p);
    const std::vector<double> pyn = map(gy.node, p), pym = map(gy.mid, p);
    auto value = [theta](double u, double v, double pu, double pv) {
      if (u == 0.0 || v == 0.0) return 0.0;
      return std::exp(-std::pow(pu + pv, theta));
    };
    return cell_sum(
        g.X, g.Y, N, g.symmetric,
        [&](size_t i, size_t j) { return value(gx.node[i], gy.node[j], pxn[i], pyn[j]); },
        [&](size_t i, size_t j) { return value(gx.mid[i], gy.mid[j], pxm[i], pym[j]); });
  }
  if (code == 3 && theta != 0.0) {
    // Frank: e^(θu) once per coordinate.
    auto p = [theta](double u) { return std::exp(theta * u); };
    const std::vector<double> pxn = map(gx.node, p), pxm = map(gx.mid, p);
    const std::vector<double> pyn = map(gy.node, p), pym = map(gy.mid, p);
    const double E = std::exp(theta);
    return cell_sum(
        g.X, g.Y, N, g.symmetric,
        [&](size_t i, size_t j) {
          return frank_from_exp(theta, pxn[i], pyn[j], E, gx.node[i], gy.node[j]);
        },
        [&](size_t i, size_t j) {
          return frank_from_exp(theta, pxm[i], pym[j], E, gx.mid[i], gy.mid[j]);
        });
  }
  return quadrature_generic(theta, g, N, code, &SJOINT);
}

double DTERM4(double theta, double a, double b, int N, int code) {
  return quadrature_generic(theta, grids(a, b, N), N, code, &DSJOINT);
}

int ONEA(double t, double s, int mode, int kappa) {
  switch (mode) {
    case 1:
      return 1;
    case 2:
      return kappa == 3 ? 1 : (t < s ? 1 : 0);
    case 3:
      if (kappa == 1) return 0;
      if (kappa == 2) return t < s ? 1 : 0;
      return s < t ? 1 : 0;
    default:
      return 0;
  }
}

int ONEB(double t, double s, int flag, int kappa) {
  if (flag != 2) return 0;
  switch (kappa) {
    case 0:
      return t == s ? 1 : 0;
    case 1:
      return t <= s ? 1 : 0;
    case -1:
      return t >= s ? 1 : 0;
    case 2:
      return 1;
    default:
      return 0;
  }
}

double WLAMBERT(double y, double c, std::ostream& main_report) {
  const double ly = std::log(y);
  auto g = [&](double x) { return std::log(1.0 + c * x) - x - ly; };

  // Coarse search over x = e^1 .. e^10; a later point that ties the best replaces it.
  double best = 100000.0;
  double xbest = std::exp(1.0);
  for (int k = 1; k <= 10; ++k) {
    const double x = std::exp(static_cast<double>(k));
    const double gx = std::fabs(g(x));
    if (gx <= best) {
      best = gx;
      xbest = x;
    }
  }

  // Newton's method in s = ln x; the stopping test uses g at the point the step came from.
  double s = std::log(xbest);
  double x = xbest;
  double gs = std::numeric_limits<double>::infinity();
  for (int it = 0; it < 50; ++it) {
    const double es = std::exp(s);
    gs = std::log(1.0 + c * es) - es - ly;
    const double gp = c * es / (c * es + 1.0) - es;
    s = s - gs / gp;
    x = std::exp(s);
    if (std::fabs(gs) <= 0.001) break;
  }
  if (!(std::fabs(gs) <= 0.001)) {
    main_report << fmt::list({std::string_view("ERR:S")}) << '\n';
    main_report.flush();
    throw RunError("ERR:S");
  }
  return x;
}

}  // namespace kestrel::survival
