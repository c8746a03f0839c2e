// Lan-DeMets alpha spending with recursive numerical integration (Armitage-McPherson-Rowe
// recursion on the score scale). The density of the score at the previous analysis is carried on
// a uniform grid of step about 0.05 increment standard deviations and integrated by the
// trapezoidal rule; each upper bound is found by a decimal stepping search to 1e-7 in probability.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>

#include "boundaries/spending.h"
#include "common/errors.h"
#include "common/format.h"

namespace kestrel::boundaries {
namespace {

constexpr double kMinusInfinity = -8.0;  // stands for minus infinity on the z scale
constexpr double kZeroIncrement = 1e-7;  // spent alpha below this counts as none
constexpr double kGridFactor = 0.05;     // grid step in increment standard deviations
constexpr double kE = 2.718281828459045;
constexpr double kSpentFloor = 1e-13;
constexpr double kSearchTolerance = 1e-7;
constexpr int kSearchSteps = 50;
constexpr int kMaxGridIntervals = 5000;
constexpr double kSqrtTwoPi = 2.5066282746350725;  // the density constant of NDENS

void line(std::ostream& os, const std::string& text) {
  os << text << '\n';
}

// Number of grid intervals between ya and yb: truncation toward zero, plus one. A width that is
// not a number, or too large for an int, gives -1.
int grid_intervals(double ya, double yb, double sigma) {
  const double q = (yb - ya) / (kGridFactor * sigma);
  if (!(std::fabs(q) < 1e9)) return -1;
  return static_cast<int>(q) + 1;
}

// A value in a message: six significant digits.
std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

}  // namespace

std::string fraction_text(double a) { return num(a); }

std::string fraction_pair(double a, double b) {
  char x[40], y[40];
  for (int digits = 6; digits <= 17; ++digits) {
    std::snprintf(x, sizeof x, "%.*g", digits, a);
    std::snprintf(y, sizeof y, "%.*g", digits, b);
    if (std::string(x) != y) break;
  }
  return std::string(x) + " and " + y;
}

namespace {

// The bounds of an analysis must be numbers, and its grid must fit the work arrays. The grid
// step is 0.05 standard deviations of the increment since the analysis before, so two analyses
// with almost the same information fraction need a grid far wider than the arrays: the endpoint
// has too little information between them to design a bound there, and the run stops.
void check_grid(int i, int nints, double za, double zb, const std::vector<double>& t) {
  if (!std::isfinite(za) || !std::isfinite(zb)) {
    throw RunError("the bound of analysis " + std::to_string(i) + " is not a number (upper " +
                   num(zb) + ", lower " + num(za) + ")");
  }
  if (!(nints >= 1 && nints <= kMaxGridIntervals)) {
    const std::string between =
        i == 1 ? "the information fraction at analysis 1 is " + num(t[0])
               : "the information fractions at analyses " + std::to_string(i - 1) + " and " +
                     std::to_string(i) + " are " + fraction_pair(t[i - 2], t[i - 1]);
    throw RunError("too little information to design the bounds: " + between +
                   ", too close together for the boundary recursion (the grid of analysis " +
                   std::to_string(i) + " would need more than " +
                   std::to_string(kMaxGridIntervals) + " intervals)");
  }
}

// Spent alpha that is not a number (a spending function that overflows) would give a bound of
// no meaning; the run stops and names the analysis.
void check_spending(int iuse, double phi, const std::vector<double>& t,
                    const std::vector<double>& pe, const std::vector<double>& pd) {
  for (size_t k = 0; k < pd.size(); ++k) {
    if (std::isfinite(pe[k]) && std::isfinite(pd[k])) continue;
    std::string code = "spending function " + std::to_string(iuse);
    if (iuse == 3 || iuse == 4) code += " with phi = " + num(phi);
    throw RunError("the " + code + " gives a cumulative alpha that is not a number at analysis " +
                   std::to_string(k + 1) + " (information fraction " + num(t[k]) +
                   "); its formula overflows there");
  }
}

// Alpha recomputed after a bound was truncated: what the truncated bound really spends.
void respend_truncated(int i, int nn, double side, double ztrun, const BoundaryWork& work,
                       std::vector<double>& pe, std::vector<double>& pd) {
  pd[i - 1] = side * QPOS(ztrun * work.s[i - 1], i, work);
  pe[i - 1] = pe[i - 2] + pd[i - 1];
  if (i < nn) pd[i] = pe[i] - pe[i - 1];
}

}  // namespace

void ALPHAS(int iuse, int nn, double alpha, double phi, double side, const std::vector<double>& t,
            const std::vector<double>& user, std::vector<double>& pe, std::vector<double>& pd,
            std::ostream& report) {
  pe.resize(static_cast<size_t>(nn), 0.0);
  pd.assign(static_cast<size_t>(nn), 0.0);
  const double a = alpha / side;
  for (int i = 1; i <= nn; ++i) {
    const double ti = t[i - 1];
    double value = pe[i - 1];
    switch (iuse) {
      case 1:  // O'Brien-Fleming type
        value = 2.0 * (1.0 - PNORM(ZNORM(1.0 - a / 2.0) / std::sqrt(ti)));
        break;
      case 2:  // Pocock type
        value = a * std::log(1.0 + (kE - 1.0) * ti);
        break;
      case 3:  // power family
        value = a * std::pow(ti, phi);
        break;
      case 4:  // Hwang-Shih-DeCani family
        value = a * (1.0 - std::exp(-phi * ti)) / (1.0 - std::exp(-phi));
        break;
      case 5:  // cumulative values given by the user
        value = i - 1 < static_cast<int>(user.size()) ? user[i - 1] : 0.0;
        break;
      case 6:  // alternative O'Brien-Fleming type: alpha not divided by side, no factor 2
        value = 1.0 - PNORM(ZNORM(1.0 - alpha / 2.0) / std::sqrt(ti));
        break;
      default:
        line(report, " Warning: invalid use function.");
        break;
    }
    pe[i - 1] = side * value;
    pd[i - 1] = i == 1 ? pe[0] : pe[i - 1] - pe[i - 2];
    if (pd[i - 1] < 0.0 || pd[i - 1] > 1.0) {
      line(report, " Error in spending function.");
      pd[i - 1] = pd[i - 1] < 0.0 ? 0.0 : 1.0;
    }
    if (pd[i - 1] < kSpentFloor) {
      line(report, fmt::list({std::string_view("Type I error spent too small, analysis"), i}));
      line(report, fmt::list({std::string_view("Zero used as approximation for "), pd[i - 1]}));
      pd[i - 1] = 0.0;
    }
  }
}

void STDINC(int nn, const std::vector<double>& t2, std::vector<double>& sigma,
            std::vector<double>& s) {
  sigma.resize(static_cast<size_t>(nn));
  s.resize(static_cast<size_t>(nn));
  for (int i = 1; i <= nn; ++i) {
    sigma[i - 1] = i == 1 ? std::sqrt(t2[0]) : std::sqrt(t2[i - 1] - t2[i - 2]);
    s[i - 1] = std::sqrt(t2[i - 1]);
  }
}

double TRAP(const double* g, int n, double h) {
  double inner = 0.0;
  for (int k = 1; k < n; ++k) inner += g[k];
  return h / 2.0 * (g[0] + 2.0 * inner + g[n]);
}

void FIRST(double ya1, double yb1, int nints1, double sigma1, std::vector<double>& f) {
  const double hh = (yb1 - ya1) / nints1;
  f.resize(static_cast<size_t>(nints1) + 1);
  for (int j = 0; j <= nints1; ++j) {
    const double u = ya1 + j * hh;
    f[j] = NDENS(u / sigma1) / sigma1;
  }
}

double FCAB(double x, double ya_prev, double yb_prev, int n_prev, double sigma, const double* g) {
  const double hh = (yb_prev - ya_prev) / n_prev;
  // TRAP over the previous grid, summed in place.
  const double first = g[0] * NDENS((x - ya_prev) / sigma) / sigma;
  const double last = g[n_prev] * NDENS((x - (ya_prev + n_prev * hh)) / sigma) / sigma;
  double inner = 0.0;
  for (int k = 1; k < n_prev; ++k) inner += g[k] * NDENS((x - (ya_prev + k * hh)) / sigma) / sigma;
  return hh / 2.0 * (first + 2.0 * inner + last);
}

void OTHER(double ya_prev, double yb_prev, int n_prev, double ya, double yb, int n, double sigma,
           std::vector<double>& f, std::vector<double>& scratch) {
  f.swap(scratch);  // scratch: the density of the previous analysis
  const double hh_prev = (yb_prev - ya_prev) / n_prev;
  const double hh = (yb - ya) / n;
  f.resize(static_cast<size_t>(n) + 1);
  const double* g = scratch.data();
  // The kernel NDENS((x - u)/sigma)/sigma over the uniform previous grid. Along the grid the
  // standardized distance z falls by delta = hh_prev/sigma per point, so exp(-z^2/2) follows
  // from its neighbour by the factor r = exp(z delta - delta^2/2), and r itself by the constant
  // factor c = exp(-delta^2). Both are recomputed exactly at the start of every block of
  // kBlock points, which keeps the kernel within a few dozen units of the last place of the
  // direct formula while calling exp four times less often. Blocks reaching |z| > 30 (where the
  // products could lose precision) use the direct formula.
  constexpr int kBlock = 8;
  constexpr double kRecurrenceLimit = 30.0;
  const double inv_sigma = 1.0 / sigma;
  const double scale = 1.0 / (kSqrtTwoPi * sigma);
  const double delta = hh_prev * inv_sigma;
  const double c = std::exp(-delta * delta);
  auto kernel = [&](double d) {
    const double z = d * inv_sigma;
    return std::exp(-0.5 * z * z) * scale;
  };
  for (int j = 0; j <= n; ++j) {
    const double x = ya + j * hh;
    // FCAB at x, with the kernel recurrence above.
    const double first = g[0] * kernel(x - ya_prev);
    const double last = g[n_prev] * kernel(x - (ya_prev + n_prev * hh_prev));
    double inner = 0.0;
    for (int k0 = 1; k0 < n_prev; k0 += kBlock) {
      const int k1 = std::min(k0 + kBlock, n_prev);  // block k0 .. k1-1
      const double z0 = (x - (ya_prev + k0 * hh_prev)) * inv_sigma;
      const double zl = (x - (ya_prev + (k1 - 1) * hh_prev)) * inv_sigma;
      if (std::fabs(z0) > kRecurrenceLimit || std::fabs(zl) > kRecurrenceLimit) {
        for (int k = k0; k < k1; ++k) inner += g[k] * kernel(x - (ya_prev + k * hh_prev));
        continue;
      }
      double e = std::exp(-0.5 * z0 * z0);
      double r = std::exp(z0 * delta - 0.5 * delta * delta);
      for (int k = k0; k < k1; ++k) {
        inner += g[k] * (e * scale);
        e *= r;
        r *= c;
      }
    }
    f[j] = hh_prev / 2.0 * (first + 2.0 * inner + last);
  }
}

double QPOS(double x, int i, const BoundaryWork& work) {
  // TRAP over the grid of analysis i-1 of f(u) (1 - PNORM((x - u)/sigma(i))), summed in place.
  const double ya = work.ya[i - 2], yb = work.yb[i - 2];
  const int n = work.nints[i - 2];
  const double hh = (yb - ya) / n;
  const double sigma = work.sigma[i - 1];
  const double* f = work.f.data();
  const double first = f[0] * (1.0 - PNORM((x - ya) / sigma));
  const double last = f[n] * (1.0 - PNORM((x - (ya + n * hh)) / sigma));
  double inner = 0.0;
  for (int k = 1; k < n; ++k) {
    const double u = ya + k * hh;
    inner += f[k] * (1.0 - PNORM((x - u) / sigma));
  }
  return hh / 2.0 * (first + 2.0 * inner + last);
}

bool SEARCH(int i, double target, BoundaryWork& work, std::ostream& report) {
  const double tol = kSearchTolerance;
  double delta = 10.0;
  double x = work.yb[i - 2];
  double q = QPOS(x, i, work);
  work.last_tried = x;
  for (;;) {
    if (std::fabs(q - target) <= tol) {
      work.yb[i - 1] = x;
      return true;
    }
    double direction;
    if (q > target + tol) {
      direction = 1.0;  // bound too low
    } else if (q < target - tol) {
      direction = -1.0;  // bound too high
    } else {
      return false;  // neither (a target that is not a number)
    }
    delta /= 10.0;
    bool crossed = false;
    for (int step = 1; step <= kSearchSteps; ++step) {
      x += direction * delta;
      q = QPOS(x, i, work);
      work.last_tried = x;
      crossed = direction > 0 ? q <= target + tol : q >= target - tol;
      if (crossed) break;
      if (step % 10 == 0) {
        line(report, fmt::Record().lit("Large change in bounds, possible error.").i(i, 4).str());
      }
    }
    if (!crossed) {
      line(report,
           fmt::Record().lit("Error in search: not converging.  Abort analysis!").i(i, 4).str());
      return false;
    }
  }
}

LandemResult LANDEM(int nn, const std::vector<double>& t, const std::vector<double>& t2,
                    double side, int iuse, double alpha, double phi, double ztrun,
                    const std::vector<double>& user, BoundaryWork& work, std::ostream& report) {
  if (nn < 1 || static_cast<int>(t.size()) < nn || static_cast<int>(t2.size()) < nn) {
    throw RunError("LANDEM: needs at least one analysis and a time for each analysis");
  }
  const size_t K = static_cast<size_t>(nn);
  LandemResult r;
  r.za.assign(K, 0.0);
  r.zb.assign(K, 0.0);
  r.pe.assign(K, 0.0);  // an unknown spending code finds zeros here
  auto& pe = r.pe;
  auto& pd = r.pd;
  auto& za = r.za;
  auto& zb = r.zb;
  work.ya.assign(K, 0.0);
  work.yb.assign(K, 0.0);
  work.nints.assign(K, 0);

  // 1. Truncation, spending, standard deviations of the increments.
  if (ztrun <= 0.0) ztrun = 8.0;
  ALPHAS(iuse, nn, alpha, phi, side, t, user, pe, pd, report);
  check_spending(iuse, phi, t, pe, pd);
  STDINC(nn, t2, work.sigma, work.s);
  const auto& sigma = work.sigma;
  const auto& s = work.s;

  // 2. Analysis 1 from the normal quantile.
  if (pd[0] < 0.0 || pd[0] > 1.0) {
    line(report, " Error in spending function.");
    pd[0] = pd[0] < 0.0 ? 0.0 : 1.0;
  }
  if (pd[0] == 0.0) {
    zb[0] = 8.0;
  } else if (pd[0] == 1.0) {
    zb[0] = 0.0;
  } else {
    zb[0] = ZNORM(1.0 - pd[0] / side);
  }
  if (pd[0] != 1.0 && zb[0] > ztrun) {
    zb[0] = ztrun;
    pd[0] = side * (1.0 - PNORM(ztrun));
    pe[0] = pd[0];
    if (nn > 1) pd[1] = pe[1] - pe[0];
  }
  work.yb[0] = sigma[0] * zb[0];

  // 3. Lower bound at analysis 1 (one-sided designs carry minus infinity).
  if (side == 1.0) {
    za[0] = kMinusInfinity;
    work.ya[0] = kMinusInfinity * sigma[0];
  } else {
    za[0] = -zb[0];
    work.ya[0] = -work.yb[0];
  }

  // 4. Grid of analysis 1.
  work.nints[0] = grid_intervals(work.ya[0], work.yb[0], sigma[0]);
  check_grid(1, work.nints[0], za[0], zb[0], t);

  // 5. Later analyses by the recursion.
  for (int i = 2; i <= nn; ++i) {
    const size_t c = static_cast<size_t>(i - 1);
    if (i == 2) FIRST(work.ya[0], work.yb[0], work.nints[0], sigma[0], work.f);
    if (pd[c] < 0.0) pd[c] = 0.0;
    if (pd[c] > 1.0) pd[c] = 1.0;
    if (pd[c] < kZeroIncrement) {
      zb[c] = 8.0;
      if (zb[c] > ztrun) {
        zb[c] = ztrun;
        respend_truncated(i, nn, side, ztrun, work, pe, pd);
      }
      work.yb[c] = zb[c] * s[c];
    } else if (pd[c] == 1.0) {
      zb[c] = 0.0;
      work.yb[c] = 0.0;
    } else {
      if (!SEARCH(i, pd[c] / side, work, report)) {
        // A bound that was not found would stay at 0 and reject whenever the statistic is
        // positive: the run stops instead.
        const double q = QPOS(work.last_tried, i, work);
        throw RunError("the search of the upper bound of analysis " + std::to_string(i) +
                       " did not converge: the alpha to spend there gives an exit probability"
                       " of " + num(pd[c] / side) + " to reach, and the last bound tried (z = " +
                       num(work.last_tried / s[c]) + ") gives " + num(q));
      }
      zb[c] = work.yb[c] / s[c];
      if (zb[c] > ztrun) {
        zb[c] = ztrun;
        work.yb[c] = ztrun * s[c];
        respend_truncated(i, nn, side, ztrun, work, pe, pd);
      }
    }
    if (side == 1.0) {
      za[c] = kMinusInfinity;
      work.ya[c] = kMinusInfinity * s[c];
    } else {
      za[c] = -zb[c];
      work.ya[c] = -work.yb[c];
    }
    work.nints[c] = grid_intervals(work.ya[c], work.yb[c], sigma[c]);
    check_grid(i, work.nints[c], za[c], zb[c], t);
    if (i < nn) {
      OTHER(work.ya[c - 1], work.yb[c - 1], work.nints[c - 1], work.ya[c], work.yb[c],
            work.nints[c], sigma[c], work.f, work.scratch);
    }
  }
  return r;
}

}  // namespace kestrel::boundaries
