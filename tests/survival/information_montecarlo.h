#pragma once
// Monte-Carlo check of the information formulas: whole trials of per-subject data (uniform entry,
// random allocation, Clayton-dependent exponential event times drawn by the conditional method),
// the log-rank score of each endpoint at two calendar times, and the empirical covariance matrix
// of the four scaled scores with the standard error of every entry.
#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "survival/entry_loss.h"
#include "survival/information.h"
#include "survival/margins.h"

namespace kestrel::survival::testing {

struct McResult {
  // Scores in the order EP1 at tau1, EP1 at tau2, EP2 at tau1, EP2 at tau2, each divided by
  // sqrt(n l(k)).
  std::array<double, 4> mean{}, mean_se{};
  std::array<std::array<double, 4>, 4> cov{}, se{};
};

struct Subject {
  double entry;
  double loss = HUGE_VAL;  // time from entry to loss to follow-up
  int z;  // 1 treatment, 0 control
  double t1, t2;
};

// Observed time and event indicator of EP1 (e = 0) or EP2 (e = 1) with follow-up c.
inline void observe(const Subject& s, double c, int mode, int flag, int e, double& x, int& d) {
  const double first = std::min(s.t1, s.t2);
  if (e == 0) {
    if (mode == 1) {
      x = std::min(s.t1, c);
      d = s.t1 <= c;
    } else if (flag == 2) {  // the first of the two events
      x = std::min(first, c);
      d = first <= c;
    } else {  // EP2 ends the observation of EP1
      x = std::min(first, c);
      d = s.t1 <= std::min(s.t2, c);
    }
  } else {
    if (mode == 3) {
      x = std::min(first, c);
      d = s.t2 <= std::min(s.t1, c);
    } else {
      x = std::min(s.t2, c);
      d = s.t2 <= c;
    }
  }
}

// Log-rank score sum over events of (z - share of the treatment arm in the risk set); with
// `variance`, also the observed variance, the sum over events of share (1 - share).
inline double logrank_score(std::vector<std::pair<double, int>>& xd_z, std::vector<int>& ev,
                            double* variance = nullptr) {
  const size_t n = xd_z.size();
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return xd_z[a].first > xd_z[b].first; });
  double U = 0.0, V = 0.0;
  int at_risk = 0, treated = 0;
  for (size_t k : order) {
    ++at_risk;
    treated += xd_z[k].second;
    if (ev[k]) {
      const double e = static_cast<double>(treated) / at_risk;
      U += xd_z[k].second - e;
      V += e * (1.0 - e);
    }
  }
  if (variance) *variance = V;
  return U;
}

// The empirical covariance of the scores of both endpoints at the analyses `taus`, in the order
// EP1 at taus[0..], then EP2 at taus[0..], each divided by sqrt(n l(k)). With fixed_arms the
// trial has exactly round(n SR) treated subjects (as trials with blocked randomisation do);
// otherwise each subject's arm is drawn.
// zcov and zse are the same for the standardised statistics U / sqrt(Vhat) of the log-rank test.
struct McMatrix {
  std::vector<double> mean, cov, se;  // cov and se row-major (2K x 2K)
  std::vector<double> zmean, zcov, zse;
  int dim = 0;
  double c(int i, int j) const { return cov[static_cast<size_t>(i * dim + j)]; }
  double s(int i, int j) const { return se[static_cast<size_t>(i * dim + j)]; }
  double zc(int i, int j) const { return zcov[static_cast<size_t>(i * dim + j)]; }
  double zs(int i, int j) const { return zse[static_cast<size_t>(i * dim + j)]; }
};

// The event-time laws of both simulators: accrual a, end of study T, copula parameter th, the
// exponential hazards of each arm (control, treatment) and, with piecewise hazards, each arm's
// law, whose times come by inverting its cumulative hazard.
struct EventLaws {
  explicit EventLaws(const TrialModel& m)
      : a(m.accrual_period), T(m.accrual_period + m.follow_up), th(m.copula_parameter),
        lam1{-std::log(m.control_survival[0]) / T,
             -std::log(m.control_survival[0]) / T * m.hazard_ratio[0]},
        lam2{-std::log(m.control_survival[1]) / T,
             -std::log(m.control_survival[1]) / T * m.hazard_ratio[1]},
        pieces(m.entry_loss.has_hazards()),
        law1{endpoint_margin(m.entry_loss, 0, 0, m.hazard_ratio[0], m.control_survival[0], T),
             endpoint_margin(m.entry_loss, 0, 1, m.hazard_ratio[0], m.control_survival[0], T)},
        law2{endpoint_margin(m.entry_loss, 1, 0, m.hazard_ratio[1], m.control_survival[1], T),
             endpoint_margin(m.entry_loss, 1, 1, m.hazard_ratio[1], m.control_survival[1], T)} {}
  double a, T, th;
  double lam1[2], lam2[2];
  bool pieces;
  PiecewiseExponential law1[2], law2[2];
};

// Empirical covariance (row-major, dim x dim) and the standard error of each entry of the rows
// of `S` (trials x dim).
inline void empirical_covariance(const std::vector<double>& S, int trials, int D,
                                 std::vector<double>& mean, std::vector<double>& cov,
                                 std::vector<double>& se) {
  mean.assign(D, 0.0);
  cov.assign(static_cast<size_t>(D * D), 0.0);
  se.assign(static_cast<size_t>(D * D), 0.0);
  for (int r = 0; r < trials; ++r)
    for (int i = 0; i < D; ++i) mean[i] += S[static_cast<size_t>(r) * D + i] / trials;
  for (int i = 0; i < D; ++i) {
    for (int j = 0; j < D; ++j) {
      double c = 0, c2 = 0;
      for (int r = 0; r < trials; ++r) {
        const double p = (S[static_cast<size_t>(r) * D + i] - mean[i]) *
                         (S[static_cast<size_t>(r) * D + j] - mean[j]);
        c += p;
        c2 += p * p;
      }
      c /= trials;
      cov[static_cast<size_t>(i * D + j)] = c;
      se[static_cast<size_t>(i * D + j)] = std::sqrt(std::max(0.0, c2 / trials - c * c) / trials);
    }
  }
}
inline McMatrix simulate_score_matrix(const InformationInput& in, const std::vector<double>& taus,
                                      int n, int trials, unsigned seed, bool fixed_arms);

inline McResult simulate_scores(const InformationInput& in, double tau1, double tau2, int n,
                                int trials, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> U01(0.0, 1.0);
  auto u = [&] {
    double v;
    do v = U01(rng);
    while (v <= 0.0);
    return v;
  };
  const EventLaws laws(in.model);
  const double a = laws.a, th = laws.th;
  const double(&lam1)[2] = laws.lam1;
  const double(&lam2)[2] = laws.lam2;
  const bool pieces = laws.pieces;
  const PiecewiseExponential(&law1)[2] = laws.law1;
  const PiecewiseExponential(&law2)[2] = laws.law2;
  const double taus[2] = {tau1, tau2};
  // Entry uniform over 0..a, or by the accrual pieces; an exponential loss time per subject when
  // the design has loss to follow-up (no draw without it, so the plain streams stay as they are).
  const EntryLoss el(in.model.entry_loss, a);
  const bool ramp = !el.uniform_entry(), lost = in.model.entry_loss.has_dropout();
  const double l[2] = {ramp ? el.enrolled(tau1) : std::min(a, tau1) / a,
                       ramp ? el.enrolled(tau2) : std::min(a, tau2) / a};
  std::vector<Subject> subj(static_cast<size_t>(n));
  std::vector<std::array<double, 4>> S(static_cast<size_t>(trials));
  std::vector<std::pair<double, int>> xz;
  std::vector<int> ev;
  for (int r = 0; r < trials; ++r) {
    for (Subject& s : subj) {
      s.entry = ramp ? el.entry_quantile(u()) : a * u();
      s.z = u() < in.model.treatment_share ? 1 : 0;  // SR is the share of the treatment arm
      if (lost) {
        const double d = in.model.entry_loss.dropout[static_cast<size_t>(s.z)];
        const double v = u();
        s.loss = d > 0.0 ? -std::log(v) / d : HUGE_VAL;
      }
      // Clayton copula (as the joint law of the survival probabilities) by the conditional method.
      const double U1 = u(), W = u();
      double U2 = W;
      if (th != 0.0) {
        U2 = std::pow(std::pow(U1, -th) * (std::pow(W, -th / (1.0 + th)) - 1.0) + 1.0, -1.0 / th);
      }
      s.t1 = pieces ? law1[s.z].inverse(-std::log(U1)) : -std::log(U1) / lam1[s.z];
      s.t2 = pieces ? law2[s.z].inverse(-std::log(U2)) : -std::log(U2) / lam2[s.z];
    }
    for (int e = 0; e < 2; ++e) {
      for (int k = 0; k < 2; ++k) {
        xz.clear();
        ev.clear();
        for (const Subject& s : subj) {
          if (s.entry > taus[k]) continue;
          double x;
          int d;
          observe(s, std::min(taus[k] - s.entry, s.loss), in.model.competing_risks, in.model.composite, e, x, d);
          xz.emplace_back(x, s.z);
          ev.push_back(d);
        }
        S[r][2 * e + k] = logrank_score(xz, ev) / std::sqrt(n * l[k]);
      }
    }
  }
  McResult res;
  for (int i = 0; i < 4; ++i) {
    double m = 0;
    for (const auto& s : S) m += s[i];
    res.mean[i] = m / trials;
  }
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      double c = 0, c2 = 0;
      for (const auto& s : S) {
        const double p = (s[i] - res.mean[i]) * (s[j] - res.mean[j]);
        c += p;
        c2 += p * p;
      }
      c /= trials;
      res.cov[i][j] = c;
      res.se[i][j] = std::sqrt(std::max(0.0, c2 / trials - c * c) / trials);
    }
    res.mean_se[i] = std::sqrt(res.cov[i][i] / trials);
  }
  return res;
}

inline McMatrix simulate_score_matrix(const InformationInput& in, const std::vector<double>& taus,
                                      int n, int trials, unsigned seed, bool fixed_arms) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> U01(0.0, 1.0);
  auto u = [&] {
    double v;
    do v = U01(rng);
    while (v <= 0.0);
    return v;
  };
  const EventLaws laws(in.model);
  const double a = laws.a, th = laws.th;
  const double(&lam1)[2] = laws.lam1;
  const double(&lam2)[2] = laws.lam2;
  const bool pieces = laws.pieces;
  const PiecewiseExponential(&law1)[2] = laws.law1;
  const PiecewiseExponential(&law2)[2] = laws.law2;
  const int K = static_cast<int>(taus.size()), D = 2 * K;
  const int treated = static_cast<int>(std::lround(n * in.model.treatment_share));
  const EntryLoss el(in.model.entry_loss, a);
  const bool ramp = !el.uniform_entry(), lost = in.model.entry_loss.has_dropout();
  std::vector<Subject> subj(static_cast<size_t>(n));
  std::vector<double> S(static_cast<size_t>(trials) * D), Z(S.size());
  std::vector<std::pair<double, int>> xz;
  std::vector<int> ev;
  for (int r = 0; r < trials; ++r) {
    for (int i = 0; i < n; ++i) {
      Subject& s = subj[static_cast<size_t>(i)];
      s.entry = ramp ? el.entry_quantile(u()) : a * u();
      s.z = fixed_arms ? (i < treated ? 1 : 0) : (u() < in.model.treatment_share ? 1 : 0);
      if (lost) {
        const double d = in.model.entry_loss.dropout[static_cast<size_t>(s.z)];
        const double v = u();
        s.loss = d > 0.0 ? -std::log(v) / d : HUGE_VAL;
      }
      const double U1 = u(), W = u();
      double U2 = W;
      if (th != 0.0) {
        U2 = std::pow(std::pow(U1, -th) * (std::pow(W, -th / (1.0 + th)) - 1.0) + 1.0, -1.0 / th);
      }
      s.t1 = pieces ? law1[s.z].inverse(-std::log(U1)) : -std::log(U1) / lam1[s.z];
      s.t2 = pieces ? law2[s.z].inverse(-std::log(U2)) : -std::log(U2) / lam2[s.z];
    }
    for (int e = 0; e < 2; ++e) {
      for (int k = 0; k < K; ++k) {
        xz.clear();
        ev.clear();
        for (const Subject& s : subj) {
          if (s.entry > taus[k]) continue;
          double x;
          int d;
          observe(s, std::min(taus[k] - s.entry, s.loss), in.model.competing_risks, in.model.composite, e, x, d);
          xz.emplace_back(x, s.z);
          ev.push_back(d);
        }
        const double l = ramp ? el.enrolled(taus[k]) : std::min(a, taus[k]) / a;
        double v = 0.0;
        const double U = logrank_score(xz, ev, &v);
        S[static_cast<size_t>(r) * D + e * K + k] = U / std::sqrt(n * l);
        Z[static_cast<size_t>(r) * D + e * K + k] = v > 0.0 ? U / std::sqrt(v) : 0.0;
      }
    }
  }
  McMatrix m;
  m.dim = D;
  empirical_covariance(S, trials, D, m.mean, m.cov, m.se);
  empirical_covariance(Z, trials, D, m.zmean, m.zcov, m.zse);
  return m;
}

}  // namespace kestrel::survival::testing
