// Futility bounds found together with the drift: one pass over the analyses per trial drift
// carries the density of the continuing paths under the null and under the drift, finding at
// each analysis the efficacy bound (binding designs) and then the futility bound; the drift is
// the root of the power.
#include "boundaries/futility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>

#include "boundaries/exact_boundary.h"
#include "boundaries/score_recursion.h"
#include "boundaries/spending.h"
#include "common/errors.h"

namespace kestrel::boundaries {
namespace {

constexpr double kMinusInfinity = -8.0;  // no futility stop
constexpr double kTruncation = 8.0;      // efficacy bounds above this are truncated

std::string num(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// The z in [lo, hi] where the increasing function g reaches `target` (bisection to 1e-12).
double solve_increasing(const std::function<double(double)>& g, double target, double lo,
                        double hi) {
  if (g(lo) >= target) return lo;
  if (g(hi) <= target) return hi;
  for (int it = 0; it < 200 && hi - lo > 1e-12; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (g(mid) < target) lo = mid; else hi = mid;
  }
  return 0.5 * (lo + hi);
}

struct Pass {
  std::vector<double> futility, zb, qpos, qneg, null_pos, null_neg;
  std::vector<int> capped;
};

class Designer {
 public:
  explicit Designer(const FutilityInput& in) : in_(in), K_(in.t.size()) {
    if (in.rule.kind == FutilityRule::Kind::spending) {
      std::ostringstream quiet;  // ALPHAS's messages speak of the type I error
      std::vector<double> pd;
      std::vector<double> user = in.rule.cumulative;
      beta_cumulative_ = cumulative_target(in.rule.code, static_cast<int>(K_), 1.0 - in.power,
                                           in.rule.phi, 1.0, in.t, user, quiet, pd);
      for (size_t i = 0; i < K_; ++i)
        if (pd[i] == 0.0 && i > 0) beta_cumulative_[i] = beta_cumulative_[i - 1];
    }
  }

  Pass pass(double drift) const {
    const FutilityRule& rule = in_.rule;
    ScoreRecursion null_rec(in_.t), alt_rec(in_.t);
    Pass p;
    p.futility.assign(K_, 0.0);
    p.zb.assign(K_, 0.0);
    p.qpos.assign(K_, 0.0);
    p.qneg.assign(K_, 0.0);
    p.null_pos.assign(K_, 0.0);
    p.null_neg.assign(K_, 0.0);
    double alpha_spent = 0.0, beta_spent = 0.0;
    for (size_t i = 0; i < K_; ++i) {
      const double s = std::sqrt(in_.t[i]);
      const double shift = drift * in_.t[i];
      double c = in_.zb[i];
      if (rule.binding) {
        const double want = in_.alpha_cumulative[i] - alpha_spent;
        if (want <= 0.0) {
          c = kTruncation;
        } else {
          // The upper exit probability falls as the bound rises: solve on its complement.
          c = solve_increasing([&](double z) { return -null_rec.upper_exit(i, z * s); }, -want,
                               -12.0, kTruncation);
        }
      }
      double a = c;
      if (i + 1 < K_) {
        switch (rule.kind) {
          case FutilityRule::Kind::spending: {
            const double want = beta_cumulative_[i] - beta_spent;
            a = want <= 0.0 ? kMinusInfinity
                            : solve_increasing(
                                  [&](double z) { return alt_rec.lower_exit(i, z * s - shift); },
                                  want, kMinusInfinity, 12.0);
            break;
          }
          case FutilityRule::Kind::fixed_z:
            a = rule.values[i];
            break;
          case FutilityRule::Kind::hazard_ratio:
            // A threshold so far on the side of harm that its z lies below -8 stops nothing,
            // as a z of -8 does (the recursion would otherwise span the whole of its range).
            a = std::max(futility_z_of_hr(rule.values[i], in_.hr, drift, in_.t[i]),
                         kMinusInfinity);
            break;
          case FutilityRule::Kind::none:
            a = kMinusInfinity;
            break;
        }
        if (a > c) {
          a = c;
          p.capped.push_back(static_cast<int>(i) + 1);
        }
      }
      p.futility[i] = a;
      p.zb[i] = c;
      p.qpos[i] = alt_rec.upper_exit(i, c * s - shift);
      p.qneg[i] = alt_rec.lower_exit(i, a * s - shift);
      p.null_pos[i] = null_rec.upper_exit(i, c * s);
      p.null_neg[i] = null_rec.lower_exit(i, a * s);
      alpha_spent += p.null_pos[i];
      beta_spent += p.qneg[i];
      if (i + 1 < K_) {
        alt_rec.advance(i, a * s - shift, c * s - shift);
        null_rec.advance(i, a * s, c * s);
      }
    }
    return p;
  }

 private:
  const FutilityInput& in_;
  size_t K_;
  std::vector<double> beta_cumulative_;
};

}  // namespace

double futility_z_of_hr(double h, double hr, double drift, double t) {
  return drift * std::sqrt(t) * std::log(h) / std::log(hr) + 0.0;  // +0.0: no "-0" at h = 1
}

double hr_of_futility_z(double z, double hr, double drift, double t) {
  return std::exp(z * std::log(hr) / (drift * std::sqrt(t)));
}

FutilityDesign design_futility(const FutilityInput& in) {
  const size_t K = in.t.size();
  const FutilityRule& rule = in.rule;
  if (K < 2) throw RunError("futility stops need at least one interim analysis (K = 1)");
  if ((rule.kind == FutilityRule::Kind::fixed_z || rule.kind == FutilityRule::Kind::hazard_ratio) &&
      rule.values.size() != K - 1) {
    throw RunError("the futility bounds need one value per interim analysis (" +
                   std::to_string(K - 1) + "); got " + std::to_string(rule.values.size()));
  }
  Designer designer(in);
  FutilityDesign r;
  auto excess = [&](double d) {
    ++r.steps;
    const Pass p = designer.pass(d);
    double pw = 0.0;
    for (double q : p.qpos) pw += q;
    return pw - in.power;
  };
  double d = 0.0, f = 0.0;
  r.converged = drift_root(excess, (ZNORM(in.power) + in.zb[K - 1]) / std::sqrt(in.t[K - 1]), 200,
                           d, f) &&
                std::fabs(f) <= 1e-9;
  Pass p = designer.pass(d);
  r.drift = d;
  if (rule.kind == FutilityRule::Kind::fixed_z || rule.kind == FutilityRule::Kind::hazard_ratio) {
    if (!p.capped.empty()) {
      const size_t i = static_cast<size_t>(p.capped.front() - 1);
      const std::string given = rule.kind == FutilityRule::Kind::fixed_z
                                    ? "z " + num(rule.values[i])
                                    : "hazard ratio " + num(rule.values[i]) + " (z " +
                                          num(futility_z_of_hr(rule.values[i], in.hr, d,
                                                               in.t[i])) + ")";
      throw RunError("the futility bound at analysis " + std::to_string(i + 1) + ", " + given +
                     ", lies above the efficacy bound " + num(p.zb[i]) +
                     ": a futility bound must lie below the efficacy bound at each interim");
    }
  }
  r.futility = std::move(p.futility);
  r.zb = std::move(p.zb);
  r.qpos = std::move(p.qpos);
  r.qneg = std::move(p.qneg);
  r.null_pos = std::move(p.null_pos);
  r.null_neg = std::move(p.null_neg);
  r.capped = std::move(p.capped);
  return r;
}

std::string describe_futility(const FutilityRule& rule) {
  std::string s;
  auto list = [](const std::vector<double>& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) out += (i ? ", " : "") + num(v[i]);
    return out;
  };
  switch (rule.kind) {
    case FutilityRule::Kind::none:
      return "none";
    case FutilityRule::Kind::spending:
      s = "beta spending " + std::to_string(rule.code);
      if (rule.code == 3 || rule.code == 4) s += " (phi " + num(rule.phi) + ")";
      if (rule.code == 5) s += " (cumulative " + list(rule.cumulative) + ")";
      break;
    case FutilityRule::Kind::fixed_z:
      s = "z " + list(rule.values);
      break;
    case FutilityRule::Kind::hazard_ratio:
      s = "hazard ratio " + list(rule.values);
      break;
  }
  return s + (rule.binding ? ", binding" : ", non-binding");
}

}  // namespace kestrel::boundaries
