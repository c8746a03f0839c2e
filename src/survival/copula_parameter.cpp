// Copula parameter for a stated Pearson correlation of the two event times under
// unit-exponential margins. The correlation of θ is TERM4(θ, 0, 0, N, code) - 1; Clayton and
// positive stable invert it by the secant method, Frank by a damped Newton method with step
// halving and a derivative refresh, writing its trace to the main report. Each search starts
// from a 101-row table of correlations and parameters.
#include "survival/copula_parameter.h"

#include <cmath>

#include "common/format.h"
#include "survival/copula_start.h"
#include "survival/model.h"

namespace kestrel::survival {
namespace copula_start {
namespace {

struct Start {
  double x;   // start value from the table
  int index;  // 1-based row; one past the scanned rows when the correlation lies beyond them
};

// First row (among the first `rows`) whose correlation is at least rho.
Start scan(const StartTable& t, int rows, double rho) {
  for (int k = 1; k <= rows; ++k) {
    if (rho <= t.rho[static_cast<size_t>(k - 1)]) return {t.theta[static_cast<size_t>(k - 1)], k};
  }
  return {t.beyond, rows + 1};
}

constexpr int kMaxSecant = 200;
constexpr double kSecantTolerance = 1e-9;

}  // namespace

CopulaParameter clayton(const StartTable& table, int N, double rho) {
  CopulaParameter out;
  if (rho <= 1e-9) {
    out.theta = 0.0;  // independence
    return out;
  }
  const Start s = scan(table, kRows, rho);
  double x0 = rho, x1 = s.x, x2 = x1;
  double f0 = TERM4(x0, 0.0, 0.0, N, 1) - 1.0 - rho;
  int it = 0;
  for (;;) {
    ++it;
    const double f1 = TERM4(x1, 0.0, 0.0, N, 1) - 1.0 - rho;
    if (f1 == f0) {
      // Two equal values leave the secant undefined: keep the latest point.
      x2 = x1;
      break;
    }
    x2 = (x0 * f1 - x1 * f0) / (f1 - f0);
    if (x2 <= 0.0) x2 = 1e-9;
    const double e = std::fabs(x2 / x1 - 1.0);
    if (it > kMaxSecant || e <= kSecantTolerance) break;
    f0 = f1;
    x0 = x1;
    x1 = x2;
  }
  out.theta = x2;
  out.iterations = it;
  return out;
}

CopulaParameter positive_stable(const StartTable& table, int N, double rho) {
  CopulaParameter out;
  if (rho <= 1e-9) {
    out.theta = 1.0;  // independence
    return out;
  }
  constexpr int kScanned = kRows - 1;  // the last row serves only as the value beyond the grid
  const Start s = scan(table, kScanned, rho);
  const bool beyond = s.index > kScanned;
  double x0 = (s.index == 1 || beyond) ? 1.0 - rho : table.theta[static_cast<size_t>(s.index - 2)];
  double x1 = s.x, x2 = x1;
  double f0 = TERM4(x0, 0.0, 0.0, N, 2) - 1.0 - rho;
  int it = 0;
  for (;;) {
    ++it;
    const double f1 = TERM4(x1, 0.0, 0.0, N, 2) - 1.0 - rho;
    if (f1 == f0) {
      x2 = x1;
      break;
    }
    x2 = (x0 * f1 - x1 * f0) / (f1 - f0);
    // The parameter lives in (0, 1]: a step outside ends the search at the bound.
    if (x2 <= 0.0) {
      out.theta = 1e-9;
      out.iterations = it;
      return out;
    }
    if (x2 > 1.0) {
      out.theta = 1.0;
      out.iterations = it;
      return out;
    }
    const double e = std::fabs(x2 / x1 - 1.0);
    if (it > kMaxSecant || e <= kSecantTolerance) break;
    f0 = f1;
    x0 = x1;
    x1 = x2;
  }
  out.theta = x2;
  out.iterations = it;
  return out;
}

CopulaParameter frank(const StartTable& table, double rho, std::ostream& main_report) {
  CopulaParameter out;
  if (std::fabs(rho) <= 0.001) {
    out.theta = 0.0;  // independence
    return out;
  }
  const int N = kFrankGrid;
  const Start s = scan(table, kRows, rho);
  // Label "IN( F θ)" with the Greek letter in Shift-JIS.
  static constexpr char kInLabel[] = "IN( F \x83\xC6)";

  double x = s.x;
  double lambda = 1.0;  // step factor
  double best = 100.0, f_prev = 100.0;
  int updates = 0;
  double x_prev = x;
  double d = 0.0;  // derivative of the correlation at the last Newton point
  double x_best = x, g_best = 0.0;
  const int kSteps = 100;
  int steps = 0;

  auto derivative = [&](double at) { return DTERM4(at, 0.0, 0.0, N, 3); };

  int restarts = 0;
  for (;;) {
    // Restarts halve the step each time; a bound keeps a pathological start from cycling.
    if (restarts > 10000) break;
    const double g = TERM4(x, 0.0, 0.0, N, 3) - 1.0;
    double f = g - rho;
    bool newton = true;
    // A step beyond the range where the quadrature is finite: retreat along the last step with
    // the last finite residual (the step formula below would carry the NaN into every later
    // point and never end).
    if (!std::isfinite(f)) f = f_prev;
    if (std::fabs(f) > std::fabs(f_prev) || !std::isfinite(g)) {
      // The last step made things worse: go back and halve the step.
      x = x_prev;
      lambda = lambda / 2.0;
      if (std::fabs(lambda * f / d) < 0.1) {
        main_report << fmt::list({std::string_view("DF UPDATE")}) << '\n';
        ++updates;
        d = derivative(x);
        if (updates <= 5) {
          x = x - lambda * f / d;
          newton = false;
        }
      } else {
        x = x - lambda * f / d;
        newton = false;
      }
    } else {
      lambda = 1.0;
      updates = 0;
    }
    if (!newton) {
      ++restarts;
      continue;  // restarts are not counted as steps
    }

    main_report << fmt::Record().a("newton", 7).i(3, 2).i(s.index, 2).i(steps + 1, 3).f(x, 15, 7).f(f, 15, 7).str()
                << '\n';
    main_report << fmt::Record().a(kInLabel, 10).f(f, 20, 10).f(x, 20, 10).str() << '\n';
    d = derivative(x);
    main_report << fmt::Record().a("OUT( DF )", 10).f(d, 20, 10).str() << '\n';
    x_prev = x;
    x = x - lambda * f / d;

    best = std::min(best, std::fabs(f));
    if (std::fabs(f) == best) {
      x_best = x;
      g_best = g;
      if (best <= 1e-9) break;
    }
    f_prev = f;
    if (++steps >= kSteps) break;
  }

  main_report << fmt::Record().a("K", 4).a("I", 4).a("RHO", 15).a("CORREL", 15).a("THETA", 15).str() << '\n';
  main_report << fmt::Record().i(3, 4).i(s.index, 4).f(g_best, 15, 7).f(rho, 15, 7).f(x_best, 15, 7).str()
              << '\n';
  out.theta = x;
  // A search that ended without reaching its tolerance is said so; the caller names it when the
  // parameter then gives information that is not a number.
  out.converged = best <= 1e-9;
  out.reached = g_best;
  out.best_theta = x_best;
  return out;
}

}  // namespace copula_start

CopulaParameter CORRCLYTN(int N, double rho) {
  return copula_start::clayton(copula_start::kClayton, N, rho);
}

CopulaParameter CORRPSTBL(int N, double rho) {
  return copula_start::positive_stable(copula_start::kPositiveStable, N, rho);
}

CopulaParameter CORRFRANK(int /*N*/, double rho, std::ostream& main_report) {
  return copula_start::frank(copula_start::kFrank, rho, main_report);
}

}  // namespace kestrel::survival
