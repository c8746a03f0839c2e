// The single-endpoint group sequential design for a given power: parameter checks, spending code
// handling, the bounds, the drift search, exit probabilities under the drift, nominal levels, and
// the numbers of events and subjects of a two-arm comparison of exponential survival.
#include "boundaries/gsdesign.h"

#include "boundaries/exact_boundary.h"
#include "boundaries/futility.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>

#include "common/errors.h"
#include "common/format.h"
#include "numerics/normal.h"

namespace kestrel::boundaries {
namespace {

constexpr int kMaxDriftAnalyses = 25;
constexpr int kMaxGridIntervals = 5000;
constexpr double kGridFactor = 0.05;
constexpr double kPowerTolerance = 1e-6;
constexpr double kDriftTolerance = 1e-7;
constexpr double kDriftStep = 0.25;
// The single-precision values 0.05 and 0.80, widened: the replacements of an invalid alpha or
// power are written that way in the original design program.
constexpr double kDefaultAlpha = 0.05000000074505806;
constexpr double kDefaultPower = 0.800000011920929;

void line(std::ostream& os, const std::string& text) {
  os << text << '\n';
}

std::string join(const std::vector<double>& v) {
  std::ostringstream os;
  os.precision(17);
  for (size_t k = 0; k < v.size(); ++k) os << (k ? ", " : "") << v[k];
  return os.str();
}

// The cumulative alpha values of spending code 5: one per analysis, positive and strictly
// increasing, the last equal to alpha.
void check_cumulative(const SpendingStatement& st, int K, double alpha) {
  const auto& c = st.cumulative;
  std::string where = st.cumulative_line > 0
                          ? " (deck line " + std::to_string(st.cumulative_line) + ")"
                          : std::string();
  if (static_cast<int>(c.size()) != K) {
    throw RunError(" Spending code 5 needs " + std::to_string(K) +
                   " cumulative alpha values, one per analysis; got " + std::to_string(c.size()) +
                   where + ".");
  }
  for (int i = 0; i < K; ++i) {
    const bool ok = c[i] > 0.0 && (i == 0 || c[i] > c[i - 1]);
    if (!ok) {
      throw RunError(
          " Spending code 5: the cumulative alpha values must be positive and"
          " strictly increasing; got " +
          join(c) + where + ".");
    }
  }
  if (!(std::fabs(c[K - 1] - alpha) <= 1e-12 * std::max(1.0, alpha))) {
    throw RunError(" Spending code 5: the last cumulative alpha value must equal alpha = " +
                   fmt::list_real(alpha) + "; got " + join(c) + where + ".");
  }
}

// Upper and lower exit probabilities at one analysis (bounds ya, yb, increment standard
// deviation sigma) from the density f of the analysis before on its grid (ya_prev, yb_prev, n):
// the trapezoidal rule over f(u) (1 - PNORM((yb - u)/sigma)) and over f(u) PNORM((ya - u)/sigma).
void CPROB(double ya_prev, double yb_prev, int n, double ya, double yb, double sigma,
           const double* f, double& qpos, double& qneg) {
  const double hh = (yb_prev - ya_prev) / n;
  auto up = [&](double u) { return 1.0 - PNORM((yb - u) / sigma); };
  auto down = [&](double u) { return PNORM((ya - u) / sigma); };
  double inner_up = 0.0, inner_down = 0.0;
  for (int k = 1; k < n; ++k) {
    const double u = ya_prev + k * hh;
    inner_up += f[k] * up(u);
    inner_down += f[k] * down(u);
  }
  const double u0 = ya_prev, un = ya_prev + n * hh;
  qpos = hh / 2.0 * (f[0] * up(u0) + 2.0 * inner_up + f[n] * up(un));
  qneg = hh / 2.0 * (f[0] * down(u0) + 2.0 * inner_down + f[n] * down(un));
}

// Total exit probability. Its report lines belong to a second time scale that is never in use,
// so it writes nothing.
double OUTGL(int K, const std::vector<double>& qpos, const std::vector<double>& qneg) {
  double total = 0.0;
  for (int i = 0; i < K; ++i) total += qpos[i] + qneg[i];
  return total;
}

// A value in a message: six significant digits.
std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// A figure of the design that is not a number would enter the reports and the sample-size
// search; the run stops and names it.
void require_finite(double v, const std::string& what, const std::string& cause) {
  if (std::isfinite(v)) return;
  throw RunError(what + " is not a number (" + num(v) + "): " + cause);
}

void require_finite(const std::vector<double>& v, const std::string& what,
                    const std::string& cause) {
  for (size_t k = 0; k < v.size(); ++k) {
    require_finite(v[k], what + " of analysis " + std::to_string(k + 1), cause);
  }
}

// The spending function settled by the parameter checks.
struct Settled {
  int code = 0;
  double phi = 0.0;
};

}  // namespace

int events_for_drift(double drift, double hr, double p, int K) {
  const double lhr = std::log(hr);
  const double x = drift * drift / (lhr * lhr) / (p * (1.0 - p));
  const float xs = static_cast<float>(x);  // the event count is formed in single precision
  if (!(xs >= 0.0f && xs < 2.0e9f)) {
    throw RunError(" The number of events cannot be formed: drift " + fmt::list_real(drift) +
                   ", hazard ratio " + fmt::list_real(hr) + ", allocation " + fmt::list_real(p) +
                   ".");
  }
  const float D = std::ceil(xs);
  const float q = D / static_cast<float>(K);
  return K * static_cast<int>(std::ceil(q));
}

double event_probability(double hr, double ta, double tf, double S, double p) {
  const double lc = -std::log(S) / (ta + tf);
  const double le = lc * hr;
  auto sbar = [&](double x) { return (1.0 - p) * std::exp(-lc * x) + p * std::exp(-le * x); };
  return 1.0 - (sbar(tf) + 4.0 * sbar(tf + ta / 2.0) + sbar(ta + tf)) / 6.0;
}

bool GLAN(int K, const std::vector<double>& t, const std::vector<double>& za,
          const std::vector<double>& zb, double drift, std::vector<double>& qpos,
          std::vector<double>& qneg, double& total, BoundaryWork& work, std::ostream& report) {
  qpos.assign(static_cast<size_t>(K > 0 ? K : 0), 0.0);
  qneg.assign(static_cast<size_t>(K > 0 ? K : 0), 0.0);
  total = 0.0;
  if (K > kMaxDriftAnalyses) {
    line(report, "");
    line(report, fmt::Record()
                     .x(5)
                     .lit(" glan: No. of analyses too large, n =")
                     .i(K, 5)
                     .lit(">")
                     .i(kMaxDriftAnalyses, 5)
                     .str());
    return false;
  }
  std::vector<double> sigma, s;
  STDINC(K, t, sigma, s);
  std::vector<double> ya(K), yb(K);
  std::vector<int> nints(K);
  for (int i = 0; i < K; ++i) {
    yb[i] = zb[i] * s[i] - drift * t[i];
    ya[i] = za[i] * s[i] - drift * t[i];
    // Bounds crossed at the last analysis (two-sided alpha 1 spends the rest there, and the
    // search leaves the bounds near 0 a little crossed) stop every path: they carry no density
    // on, and meet at their midpoint so that each path is counted once.
    if (i == K - 1 && yb[i] < ya[i]) ya[i] = yb[i] = 0.5 * (ya[i] + yb[i]);
    const double width = (yb[i] - ya[i]) / (kGridFactor * sigma[i]);
    // Crossed or non-numeric bounds cannot be integrated either; they are reported like a grid
    // that does not fit.
    nints[i] = width >= 0.0 && width < kMaxGridIntervals ? static_cast<int>(width) + 1
                                                         : kMaxGridIntervals + 1;
    if (nints[i] > kMaxGridIntervals) {
      line(report, fmt::Record()
                       .x(5)
                       .lit(" glan: Bounds too wide, analysis")
                       .i(i + 1, 3)
                       .lit("            (b-a)/h > ")
                       .i(kMaxGridIntervals, 6)
                       .str());
      line(report, "");
      return false;
    }
  }
  const double m = drift * t[0] / sigma[0];
  qpos[0] = 1.0 - PNORM(zb[0] - m);
  qneg[0] = PNORM(za[0] - m);
  total = qpos[0] + qneg[0];
  for (int i = 1; i < K; ++i) {
    if (i == 1) FIRST(ya[0], yb[0], nints[0], sigma[0], work.f);
    CPROB(ya[i - 1], yb[i - 1], nints[i - 1], ya[i], yb[i], sigma[i], work.f.data(), qpos[i],
          qneg[i]);
    total += qpos[i] + qneg[i];
    if (i < K - 1) {
      OTHER(ya[i - 1], yb[i - 1], nints[i - 1], ya[i], yb[i], nints[i], sigma[i], work.f,
            work.scratch);
    }
  }
  return true;
}

DriftSearch BISECT(int K, const std::vector<double>& t, const std::vector<double>& za,
                   const std::vector<double>& zb, double power, double start, BoundaryWork& work,
                   std::ostream& report, int max_steps) {
  DriftSearch r;
  double drift = start;
  double last = 0.0, lo = 0.0, hi = 0.0;
  bool have_lo = false, have_hi = false;
  std::vector<double> qpos, qneg;
  double total = 0.0;
  for (;;) {
    if (r.steps >= max_steps) {  // the search would otherwise run for ever
      line(report, " Warning: Convergence problem.");
      r.converged = false;
      break;
    }
    ++r.steps;
    if (!GLAN(K, t, za, zb, drift, qpos, qneg, total, work, report)) {
      // Without exit probabilities no drift can match the power.
      line(report, " Warning: Convergence problem.");
      r.converged = false;
      break;
    }
    double pw = 0.0;
    for (int i = 0; i < K; ++i) pw += qpos[i];
    if (std::fabs(pw - power) <= kPowerTolerance) break;
    if (std::fabs(drift - last) <= kDriftTolerance) {
      line(report, " Warning: Convergence problem.");
      r.converged = false;
      break;
    }
    if (pw <= power + kPowerTolerance) {
      lo = drift;
      have_lo = true;
      drift += kDriftStep;
    } else {
      hi = drift;
      have_hi = true;
      drift -= kDriftStep;
    }
    if (have_lo && have_hi) {
      last = drift;
      drift = (lo + hi) / 2.0;
    }
  }
  r.drift = drift;
  return r;
}

DriftSearch ADRIFT(int K, const std::vector<double>& t, const std::vector<double>& za,
                   const std::vector<double>& zb, double power, BoundaryWork& work,
                   std::ostream& report) {
  const double start = (ZNORM(power) + zb[K - 1]) / std::sqrt(t[K - 1]);
  return BISECT(K, t, za, zb, power, start, work, report);
}

namespace {

// The futility bounds, the drift and the crossing probabilities of a design with futility stops;
// binding designs replace the efficacy bounds and the alpha they spend.
void design_with_futility(const GsDesignInput& in, int code, double phi, double power,
                          GsDesignResult& r, std::ostream& report) {
  const int K = in.K;
  if (in.sides == 2) {
    throw RunError("futility stops apply to one-sided designs only (the design is two-sided)");
  }
  FutilityInput f;
  f.t.assign(in.t.begin(), in.t.begin() + K);
  f.zb = r.zb;
  f.rule = in.futility;
  f.power = power;
  f.hr = in.hr;
  if (in.futility.binding) {
    std::ostringstream quiet;  // ALPHAS has already spoken for these values
    std::vector<double> pd, user;
    if (code == 5) user = in.spending.cumulative;
    f.alpha_cumulative = cumulative_target(code, K, in.alpha, phi, 1.0, f.t, user, quiet, pd);
  }
  FutilityDesign d = design_futility(f);
  if (!d.converged) line(report, " Warning: Convergence problem.");
  for (int i : d.capped) {
    line(report, " Futility bound at analysis " + std::to_string(i) +
                     " above the efficacy bound: set to the efficacy bound.");
  }
  require_finite(d.drift, "the drift", "the search of the drift for the power failed");
  r.drift = d.drift;
  r.drift_converged = d.converged;
  r.drift_steps = d.steps;
  r.futility = std::move(d.futility);
  r.qpos = std::move(d.qpos);
  r.qneg = std::move(d.qneg);
  r.null_qpos = std::move(d.null_pos);
  r.null_qneg = std::move(d.null_neg);
  r.futility_capped = std::move(d.capped);
  if (in.futility.binding) {
    r.zb = std::move(d.zb);
    double spent = 0.0;
    for (int i = 0; i < K; ++i) {
      r.pd[i] = r.null_qpos[i];
      spent += r.pd[i];
      r.pe[i] = spent;
    }
  }
}

}  // namespace

GsDesignResult design_with_code(const GsDesignInput& in, int code, double phi, BoundaryWork& work,
                                std::ostream& report) {
  const int K = in.K;
  const double side = in.sides == 2 ? 2.0 : 1.0;
  GsDesignResult r;
  r.code_used = code;
  r.phi_used = phi;

  // Bounds. Code 5 values are the cumulative alpha of both sides; the recursion scales by side.
  std::vector<double> user;
  if (code == 5) {
    for (double c : in.spending.cumulative) user.push_back(c / side);
  }
  LandemResult b = in.exact ? exact_bounds(K, in.t, side, code, in.alpha, phi, user, report)
                            : LANDEM(K, in.t, in.t, side, code, in.alpha, phi, 0.0, user, work,
                                     report);
  r.za = b.za;
  r.zb = b.zb;
  r.pe = b.pe;
  r.pd = b.pd;

  double power = in.power;
  if (!(power > 0.0 && power <= 1.0)) {
    line(report, " Invalid response.");
    line(report, " Power must be > 0 and <= 1.");
    power = kDefaultPower;
    line(report, " Power has been set to 0.80.");
  }

  // Drift for the power, then the exit probabilities at that drift.
  // Fixed futility bounds all at -8 stop nothing: the design without futility, exactly.
  bool futility = in.futility.any();
  if (futility && in.futility.kind == FutilityRule::Kind::fixed_z) {
    futility = false;
    for (double z : in.futility.values) futility = futility || z > -8.0;
  }
  if (futility) {
    design_with_futility(in, code, phi, power, r, report);
  } else if (in.exact) {
    const std::vector<double> t(in.t.begin(), in.t.begin() + K);
    const ExactDrift d = exact_drift(t, r.za, r.zb, power);
    if (!d.converged) line(report, " Warning: Convergence problem.");
    require_finite(d.drift, "the drift", "the search of the drift for the power failed");
    r.drift = d.drift;
    r.drift_converged = d.converged;
    r.drift_steps = d.steps;
    ExactCrossings c = exact_crossings(t, r.za, r.zb, r.drift);
    r.qpos = std::move(c.qpos);
    r.qneg = std::move(c.qneg);
  } else {
    DriftSearch d = ADRIFT(K, in.t, r.za, r.zb, power, work, report);
    require_finite(d.drift, "the drift", "the search of the drift for the power failed");
    r.drift = d.drift;
    r.drift_converged = d.converged;
    r.drift_steps = d.steps;
    double total = 0.0;
    GLAN(K, in.t, r.za, r.zb, r.drift, r.qpos, r.qneg, total, work, report);
  }
  const double exit_total = OUTGL(K, r.qpos, r.qneg);
  require_finite(exit_total, "the exit probability under the drift",
                 "the recursion of the exit probabilities failed");

  // Nominal levels of the bounds: side times the tail beyond each bound.
  r.nominal_lower.resize(K);
  r.nominal_upper.resize(K);
  for (int i = 0; i < K; ++i) {
    r.nominal_lower[i] = side * numerics::GAUSSCDF(r.za[i]);
    r.nominal_upper[i] = side * (1.0 - numerics::GAUSSCDF(r.zb[i]));
  }

  // Events, event probability, subjects and the expected number of events under the drift.
  const double p = in.allocation;
  r.events = events_for_drift(r.drift, in.hr, p, K);
  r.pev = in.event_probability_given
              ? *in.event_probability_given
              : event_probability(in.hr, in.ta, in.tf, in.control_survival, p);
  if (!(r.pev > 0.0 && r.pev <= 1.0)) {
    throw RunError("the probability of an event by the end of the study is " +
                   num(r.pev) +
                   ", not a probability above 0: hazard ratio " + num(in.hr) +
                   ", control survival " + num(in.control_survival) +
                   ", accrual " + num(in.ta) + ", follow-up " +
                   num(in.tf));
  }
  const double n = std::ceil(static_cast<double>(r.events) / r.pev);
  if (!(n >= 0.0 && n <= static_cast<double>(INT_MAX))) {
    throw RunError(" The number of subjects cannot be formed: events " + std::to_string(r.events) +
                   ", event probability " + fmt::list_real(r.pev) + ".");
  }
  r.subjects = static_cast<int>(n);
  const double D = r.events;
  double B = 0.0, E = 0.0;
  for (int i = 0; i < K; ++i) {
    const double e = r.qpos[i] + r.qneg[i];
    B += e;
    E += D * in.t[i] * e;
  }
  r.expected_events = E + (1.0 - B) * D;
  if (!r.futility.empty()) {
    double B0 = 0.0, E0 = 0.0;
    for (int i = 0; i < K; ++i) {
      const double e = r.null_qpos[i] + r.null_qneg[i];
      B0 += e;
      E0 += D * in.t[i] * e;
    }
    r.expected_events_null = E0 + (1.0 - B0) * D;
  }
  require_finite(r.nominal_upper, "the nominal level of the upper bound",
                 "the bound is not a number");
  require_finite(r.expected_events, "the expected number of events",
                 "the exit probabilities are not numbers");
  return r;
}

namespace {

// Parameter checks and completion, in the order of their messages: the number of analyses and
// the times (which stop the run), alpha (replaced by 0.05), then the spending code from the
// deck's extra statements: a code above 5 is replaced by the code of the next statement, codes 3
// and 4 take their parameter phi from the statement after it, code 5 its cumulative values.
Settled INPUT(GsDesignInput& in, std::ostream& report) {
  const int K = in.K;
  if (K <= 0) throw RunError("");
  if (K > in.max_analyses) {
    throw RunError(fmt::Record()
                       .lit(" Number must be <=")
                       .i(in.max_analyses, 3)
                       .lit(" or ndim must be increased in main program.")
                       .str());
  }
  bool times_ok = static_cast<int>(in.t.size()) >= K && in.t[0] > 0.0 && in.t[K - 1] <= 1.0;
  for (int i = 1; times_ok && i < K; ++i) times_ok = in.t[i] > in.t[i - 1];
  if (!times_ok) throw RunError(" Times must be strictly increasing and <=1.");
  in.t.resize(K);

  if (!(in.alpha > 0.0 && in.alpha <= 1.0)) {
    line(report, " Invalid response.");
    line(report, " Alpha must be > 0 and <= 1.");
    in.alpha = kDefaultAlpha;
    line(report, " Alpha has been set to 0.05.");
  }

  const SpendingStatement& st = in.spending;
  Settled out;
  out.code = st.deck_code;
  if (out.code > 5) {
    line(report, in.sides == 2
                     ? " (6) Alternate OBF"
                     : " No other valid choices have been programmed.  Select from 1,2,3,4.");
    if (st.replacement_code == 0 && st.replacement_line == 0) {
      throw RunError(" End of the input deck: spending code " + std::to_string(out.code) +
                     " needs a statement with the replacement code.");
    }
    out.code = st.replacement_code;
  }
  if (out.code == 3 || out.code == 4) {
    if (!st.has_phi) {
      throw RunError(" End of the input deck: spending code " + std::to_string(out.code) +
                     " needs a statement with its parameter phi.");
    }
    out.phi = st.phi;
    if (out.code == 3 && !(out.phi > 0.0)) {
      line(report, " Parameter must be >0!");
      out.phi = 1.0;
    }
    if (out.code == 4 && out.phi == 0.0) {
      line(report, " Parameter must be nonzero!");
      out.phi = 1.0;
    }
    line(report, fmt::Record().x(1).lit("Parameter is ").f(out.phi, 6, 3).str());
  }
  if (out.code == 5) check_cumulative(st, K, in.alpha);
  return out;
}

}  // namespace

GsDesignResult GSDESIGN01(const GsDesignInput& given, BoundaryWork& work, std::ostream& report) {
  GsDesignInput in = given;  // INPUT may replace alpha and trims the times to K
  try {
    const Settled s = INPUT(in, report);
    return design_with_code(in, s.code, s.phi, work, report);
  } catch (const RunError& e) {
    if (given.endpoint.empty()) throw;
    std::string m = e.what();
    m.erase(0, std::min(m.size(), m.find_first_not_of(' ')));
    throw RunError(given.endpoint + ": " + m);
  }
}

}  // namespace kestrel::boundaries
