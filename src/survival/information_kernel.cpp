// Per-subject means, variances and covariances of the two log-rank scores on the integration grid.
//
// Grid: NG intervals equally spaced in the pooled event probability of each endpoint, blended by
// the allocation weights; X(NG) = T exactly. Per interval and arm the at-risk probabilities are
// Simpson averages and the hazard increments are either the marginal ones (an endpoint observed
// whatever the other does) or the crude ones of the competing-risk modes. Censoring by staggered
// entry enters as the Simpson average of the follow-up distribution over each interval (means and
// variances) or over each cell (cross covariance).
//
// Cross covariance of EP1 at analysis a and EP2 at analysis b (a earlier or equal): a subject
// entered at E contributes its EP1 process up to tau_a - E and its EP2 process up to tau_b - E, so
// the cell (t, s) is weighted by P(E <= tau_a - max(t, s - (tau_b - tau_a)) | enrolled by tau_a),
// the follow-up distribution of the earlier analysis at max(t, s - gap).
// The per-cell kernels themselves are formed once per design in information_cross_kernel.cpp.
#include "common/fp_contract.h"

#include "survival/information_kernel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/errors.h"
#include "survival/model.h"

namespace kestrel::survival::detail {
namespace {

// Simpson average of values at the upper end, the midpoint and the lower end.
inline double simpson(double h1, double hm, double h0) { return (h1 + 4.0 * hm + h0) / 6.0; }

}  // namespace

InformationModel::InformationModel(const InformationInput& in, int NG)
    : InformationModel(in.model, NG) {}

InformationModel::InformationModel(const TrialModel& m, int NG)
    : NG_(NG), el_(m.entry_loss, m.accrual_period), code_(m.copula), mode_(m.competing_risks),
      flag_(m.composite), q_(1.0 - m.treatment_share), theta_(m.copula_parameter),
      a_(m.accrual_period), f_(m.follow_up), exact_(m.exact) {
  if (NG_ < 2) throw RunError("information grid needs at least 2 intervals");
  T_ = a_ + f_;
  const double q = q_;
  const double lc1 = -std::log(m.control_survival[0]) / T_;
  const double lc2 = -std::log(m.control_survival[1]) / T_;
  const double lt1 = lc1 * m.hazard_ratio[0], lt2 = lc2 * m.hazard_ratio[1];
  const double lb1 = (1.0 - q) * lt1 + q * lc1, lb2 = (1.0 - q) * lt2 + q * lc2;

  // Grid equally spaced in event probability; an endpoint without events spaces evenly in time
  // (the limit of the same rule).
  const size_t n = static_cast<size_t>(NG_);
  X_.assign(n + 1, 0.0);
  Xm_.assign(n + 1, 0.0);
  const double P1 = 1.0 - std::exp(-lb1 * T_), P2 = 1.0 - std::exp(-lb2 * T_);
  // Piecewise hazards: each arm and endpoint reads its law (survival, cumulative hazard) from its
  // margin, and the grid is equally spaced in the pooled event probability of the pooled law.
  pieces_ = m.entry_loss.has_hazards();
  if (pieces_) {
    for (int z = 0; z < 2; ++z)
      for (int e = 0; e < 2; ++e)
        law_[z][e] = endpoint_margin(m.entry_loss, e, z, m.hazard_ratio[static_cast<size_t>(e)],
                                     m.control_survival[static_cast<size_t>(e)], T_);
    const PiecewiseExponential pooled1 = pooled_margin(law_[0][0], law_[1][0], q);
    const PiecewiseExponential pooled2 = pooled_margin(law_[0][1], law_[1][1], q);
    const double Q1 = -std::expm1(-pooled1.cumulative(T_)), Q2 = -std::expm1(-pooled2.cumulative(T_));
    for (int i = 0; i <= NG_; ++i) {
      const double t1 = pooled1.inverse(-std::log1p(-Q1 * i / NG_));
      const double t2 = pooled2.inverse(-std::log1p(-Q2 * i / NG_));
      X_[static_cast<size_t>(i)] = std::min(T_, (1.0 - q) * t2 + q * t1);
    }
  }
  for (int i = 0; !pieces_ && i <= NG_; ++i) {
    const double p1 = P1 * i / NG_, p2 = P2 * i / NG_;
    const double t1 = lb1 > 0.0 ? -std::log(1.0 - p1) / lb1 : T_ * i / NG_;
    const double t2 = lb2 > 0.0 ? -std::log(1.0 - p2) / lb2 : T_ * i / NG_;
    X_[static_cast<size_t>(i)] = (1.0 - q) * t2 + q * t1;
  }
  X_[n] = T_;
  for (size_t i = 1; i <= n; ++i) Xm_[i] = 0.5 * X_[i - 1] + 0.5 * X_[i];

  // The cross kernel ignores the composite flag where the scores do (no competing risk).
  const bool composite = mode_ != 1 && flag_ == 2;
  arm_[0].l1 = lc1;
  arm_[0].l2 = lc2;
  arm_[1].l1 = lt1;
  arm_[1].l2 = lt2;
  for (int k = 0; k < 2; ++k) {
    Arm& A = arm_[static_cast<size_t>(k)];
    // Loss to follow-up: a subject of this arm is at risk only while not lost, so every at-risk
    // average carries the arm's probability of not being lost (the hazard increments, which are
    // conditional on being at risk, do not).
    const bool lost = el_.dropout(k) > 0.0;
    if (lost) {
      A.kept.assign(n + 1, 1.0);
      for (size_t i = 0; i <= n; ++i) A.kept[i] = el_.retained(k, X_[i]);
    }
    const PiecewiseExponential& L1 = law_[static_cast<size_t>(k)][0];
    const PiecewiseExponential& L2 = law_[static_cast<size_t>(k)][1];
    auto S1 = [&](double x) { return pieces_ ? L1.survival(x) : SFUN(x, A.l1); };
    auto S2 = [&](double x) { return pieces_ ? L2.survival(x) : SFUN(x, A.l2); };
    auto C = [&](double x, double y) { return SJOINT(theta_, S1(x), S2(y), code_); };
    for (auto* v : {&A.pi1, &A.pi2, &A.dl1, &A.dl2, &A.kdl1, &A.kx1, &A.kdl2, &A.diag_rc,
                    &A.diag_b1})
      v->assign(n + 1, 0.0);
    for (size_t i = 1; i <= n; ++i) {
      const double t0 = X_[i - 1], t1 = X_[i], tm = Xm_[i];
      const double c00 = C(t0, t0), c11 = C(t1, t1), cmm = C(tm, tm);
      const double c01 = C(t0, t1), c10 = C(t1, t0);
      double avS1 = simpson(S1(t1), S1(tm), S1(t0));
      double avS2 = simpson(S2(t1), S2(tm), S2(t0));
      double avC = simpson(c11, cmm, c00);
      if (lost) {
        const double d1 = A.kept[i], d0 = A.kept[i - 1], dm = el_.retained(k, tm);
        avS1 = simpson(S1(t1) * d1, S1(tm) * dm, S1(t0) * d0);
        avS2 = simpson(S2(t1) * d1, S2(tm) * dm, S2(t0) * d0);
        avC = simpson(c11 * d1, cmm * dm, c00 * d0);
      }
      const double lam1 = pieces_ ? L1.cumulative(t1) - L1.cumulative(t0)
                                  : CHAZARD(t1, A.l1) - CHAZARD(t0, A.l1);
      const double lam2 = pieces_ ? L2.cumulative(t1) - L2.cumulative(t0)
                                  : CHAZARD(t1, A.l2) - CHAZARD(t0, A.l2);
      const double crude1 = (c01 - c11) / c11;  // EP1 first, within the interval
      const double crude2 = (c10 - c11) / c11;  // EP2 first, within the interval
      A.pi1[i] = mode_ == 1 ? avS1 : avC;
      A.pi2[i] = mode_ == 3 ? avC : avS2;
      A.dl1[i] = mode_ == 1 ? lam1 : (flag_ == 2 ? crude1 + crude2 : crude1);
      A.dl2[i] = mode_ == 3 ? crude2 : lam2;
      A.kdl1[i] = mode_ == 1 ? lam1 : crude1;
      A.kx1[i] = composite ? crude2 : 0.0;
      A.kdl2[i] = A.dl2[i];
      A.diag_rc[i] = (c11 + c01 + c10 + c00) / 4.0;
      if (mode_ == 3) {
        A.diag_b1[i] = (c11 - c10) / 6.0 + 4.0 * (C(tm, t1) - C(tm, t0)) / 6.0 + (c01 - c00) / 6.0;
      }
    }
  }

  for (int e = 0; e < 2; ++e) {
    cmu_[e].assign(n + 1, 0.0);
    cva_[e].assign(n + 1, 0.0);
    cv0_[e].assign(n + 1, 0.0);
  }
  rc1_.assign(n + 1, 0.0);
  rt1_.assign(n + 1, 0.0);
  rc2_.assign(n + 1, 0.0);
  rt2_.assign(n + 1, 0.0);
  for (size_t i = 1; i <= n; ++i) {
    for (int e = 0; e < 2; ++e) {
      const double pc = e == 0 ? arm_[0].pi1[i] : arm_[0].pi2[i];
      const double pt = e == 0 ? arm_[1].pi1[i] : arm_[1].pi2[i];
      const double dc = e == 0 ? arm_[0].dl1[i] : arm_[0].dl2[i];
      const double dt = e == 0 ? arm_[1].dl1[i] : arm_[1].dl2[i];
      const double pb = (1.0 - q) * pt + q * pc;
      cmu_[e][i] = (pc * pt / pb) * (dt - dc);
      cva_[e][i] = (pc * pt / (pb * pb)) * (q * pc * dt + (1.0 - q) * pt * dc);
      cv0_[e][i] = (pc * pt / (pb * pb)) * (q * pc * dc + (1.0 - q) * pt * dt);
    }
    const double pb1 = (1.0 - q) * arm_[1].pi1[i] + q * arm_[0].pi1[i];
    const double pb2 = (1.0 - q) * arm_[1].pi2[i] + q * arm_[0].pi2[i];
    rc1_[i] = arm_[0].pi1[i] / pb1;
    rt1_[i] = arm_[1].pi1[i] / pb1;
    rc2_[i] = arm_[0].pi2[i] / pb2;
    rt2_[i] = arm_[1].pi2[i] / pb2;
  }

  if (exact_) {
    // Influence-function weights: a subject of the treatment arm carries a = 1 - e = q rc, one of
    // the control arm a = -e = -(1-q) rt (e the treatment share of the risk set); delta is the
    // arm's hazard increment less the pooled one (the risk-set weighted mean of the arms').
    // Censoring by arm (a dropout survival per arm) enters here through the arms' at-risk
    // probabilities pi (rc, rt): the entry censoring common to both arms cancels from e and the
    // pooled hazard, a per-arm one does not.
    for (int z = 0; z < 2; ++z) {
      for (int e = 0; e < 2; ++e) {
        wa_[z][e].assign(n + 1, 0.0);
        wd_[z][e].assign(n + 1, 0.0);
        wbv_[z][e].assign(n + 1, 0.0);
      }
    }
    for (int e = 0; e < 2; ++e) wphi_[e].assign(n + 1, 0.0);
    for (size_t i = 1; i <= n; ++i) {
      for (int e = 0; e < 2; ++e) {
        const double rc = e == 0 ? rc1_[i] : rc2_[i];
        const double rt = e == 0 ? rt1_[i] : rt2_[i];
        const double dc = e == 0 ? arm_[0].dl1[i] : arm_[0].dl2[i];
        const double dt = e == 0 ? arm_[1].dl1[i] : arm_[1].dl2[i];
        const double pooled = (1.0 - q) * rt * dt + q * rc * dc;
        wa_[0][e][i] = -(1.0 - q) * rt;
        wa_[1][e][i] = q * rc;
        wd_[0][e][i] = dc - pooled;
        wd_[1][e][i] = dt - pooled;
        // The observed variance int e(1-e) dNbar: a subject's own events weighted by e(1-e), and
        // its presence in the risk set moving e(1-e) by (1-2e) a / ybar, against the pooled events.
        const double share = (1.0 - q) * rt, phi = share * (q * rc);
        wphi_[e][i] = phi;
        wbv_[0][e][i] = phi * dc + (1.0 - 2.0 * share) * wa_[0][e][i] * pooled;
        wbv_[1][e][i] = phi * dt + (1.0 - 2.0 * share) * wa_[1][e][i] * pooled;
      }
    }
  }
}

Look InformationModel::look_at(int idx) const {
  Look L;
  L.idx = idx;
  L.tau = X_[static_cast<size_t>(idx)];
  L.A = std::min(a_, L.tau);
  L.F = L.tau - L.A;
  L.l = a_ > 0.0 ? L.A / a_ : 1.0;
  if (!el_.uniform_entry()) L.l = el_.enrolled(L.tau);
  return L;
}

double InformationModel::admin_weight(double x, const Look& look) const {
  if (el_.uniform_entry()) return SCENS(x, look.A, look.F, 1);
  return el_.follow_up(x, look.tau);
}

Look InformationModel::final_look() const {
  Look L;
  L.idx = NG_;
  L.tau = T_;
  L.A = a_;
  L.F = f_;
  L.l = 1.0;
  return L;
}

Moments InformationModel::moments(const Look& look) const {
  Moments m;
  const double qq = q_ * (1.0 - q_);
  for (size_t i = 1; i <= static_cast<size_t>(look.idx); ++i) {
    const double g = simpson(admin_weight(X_[i], look), admin_weight(Xm_[i], look),
                             admin_weight(X_[i - 1], look));
    const double w = qq * g;
    for (int e = 0; e < 2; ++e) {
      m.mu[e] += w * cmu_[e][i];
      m.va[e] += w * cva_[e][i];
      m.v0[e] += w * cv0_[e][i];
    }
  }
  return m;
}

double InformationModel::average_ratio(int e, const Look& look) const {
  const size_t z = static_cast<size_t>(e);
  double num = 0.0, den = 0.0;
  for (size_t i = 1; i <= static_cast<size_t>(look.idx); ++i) {
    const double g = simpson(admin_weight(X_[i], look), admin_weight(Xm_[i], look),
                             admin_weight(X_[i - 1], look));
    const double w = g * cv0_[z][i];
    const double ratio = pieces_ ? law_[1][z].hazard_at(Xm_[i]) / law_[0][z].hazard_at(Xm_[i])
                                 : (e == 0 ? arm_[1].l1 / arm_[0].l1 : arm_[1].l2 / arm_[0].l2);
    num += w * std::log(ratio);
    den += w;
  }
  return den > 0.0 ? std::exp(num / den) : 1.0;
}

double InformationModel::cross(const Look& la, const Look& lb) const {
  build_kernel();
  return censored_sum(kernel_, la, lb);
}

double InformationModel::censored_sum(const CellKernel& kern, const Look& la,
                                      const Look& lb) const {
  const std::vector<double>& H_ = kern.H;
  const std::vector<double>& row_ = kern.row;
  const std::vector<double>& col_ = kern.col;
  const size_t w = static_cast<size_t>(NG_) + 1;
  const int Ia = la.idx, Ib = lb.idx;
  // Censoring of the earlier analysis; the later endpoint's time moves back by the gap.
  double dt = 0.0, ds = 0.0;
  const Look& early = la.tau <= lb.tau ? la : lb;
  if (la.tau <= lb.tau) {
    ds = lb.tau - la.tau;
  } else {
    dt = la.tau - lb.tau;
  }
  auto gbar = [&](double hi, double lo) {
    const double md = 0.5 * lo + 0.5 * hi;
    return admin_weight(hi, early) / 6.0 + (2.0 / 3.0) * admin_weight(md, early) +
           admin_weight(lo, early) / 6.0;
  };
  auto xt = [&](int i) { return X_[static_cast<size_t>(i)] - dt; };
  auto xs = [&](int j) { return X_[static_cast<size_t>(j)] - ds; };

  double sum = 0.0;
  // Row by row: cells whose shifted EP2 interval lies wholly below the EP1 interval take the EP1
  // interval's weight (a row prefix sum); cells that straddle are summed one by one.
  int jA = 0, jB = 1;
  for (int i = 1; i <= Ia; ++i) {
    while (jA + 1 <= NG_ && xs(jA + 1) <= xt(i - 1)) ++jA;
    while (jB <= NG_ && xs(jB - 1) < xt(i)) ++jB;
    const int ja = std::min(jA, Ib);
    if (ja > 0) sum += gbar(xt(i), xt(i - 1)) * row_[static_cast<size_t>(i) * w + ja];
    const int jend = std::min(jB - 1, Ib);
    for (int j = ja + 1; j <= jend; ++j) {
      const double hi = std::max(xt(i), xs(j)), lo = std::max(xt(i - 1), xs(j - 1));
      sum += H_[static_cast<size_t>(i) * w + j] * gbar(hi, lo);
    }
  }
  // Column by column: cells whose EP1 interval lies wholly below the shifted EP2 interval take the
  // EP2 interval's weight (a column prefix sum).
  int iB = 0;
  for (int j = 1; j <= Ib; ++j) {
    while (iB + 1 <= NG_ && xt(iB + 1) <= xs(j - 1)) ++iB;
    const int ib = std::min(iB, Ia);
    if (ib > 0) sum += gbar(xs(j), xs(j - 1)) * col_[static_cast<size_t>(ib) * w + j];
  }
  return sum;
}

// Same-endpoint fluctuation kernel of endpoint e. With a, delta, dL and the at-risk probability
// pi of one arm per interval, the moments E[dM(s) Y(u)] = -dL(s) pi(u) for s < u (0 for s > u) and
// E[Y(s) Y(u)] = pi(max(s, u)) give, per arm of share p,
//   p a(s) a(u) [delta(u) E[dM(s) Y(u)] + delta(s) E[Y(s) dM(u)] + delta(s) delta(u) pi(max)],
// the diagonal cell taking half of each ordered part.
void InformationModel::build_fluctuation_kernels() const {
  if (fluct_built_) return;
  build_kernel();  // the EP1-EP2 kernel is formed with the martingale kernel
  const size_t n = static_cast<size_t>(NG_);
  const size_t w = n + 1;
  for (int e = 0; e < 2; ++e) {
    CellKernel& F = fluct_[e];
    F.H.assign(w * w, 0.0);
    F.row.assign(w * w, 0.0);
    F.col.assign(w * w, 0.0);
    // Per arm and interval: p a, delta, dL and pi.
    std::array<std::vector<double>, 2> pa, d, L, pi;
    for (int z = 0; z < 2; ++z) {
      const double p = z == 0 ? q_ : 1.0 - q_;
      pa[z].assign(w, 0.0);
      d[z] = wd_[z][e];
      L[z] = e == 0 ? arm_[z].dl1 : arm_[z].dl2;
      pi[z] = e == 0 ? arm_[z].pi1 : arm_[z].pi2;
      for (size_t i = 1; i <= n; ++i) pa[z][i] = p * wa_[z][e][i];
    }
    for (size_t i = 1; i <= n; ++i) {
      double* X = &F.H[i * w];
      for (size_t j = 1; j <= n; ++j) {
        double x = 0.0;
        for (int z = 0; z < 2; ++z) {
          const double aj = wa_[z][e][j];
          const double di = d[z][i], dj = d[z][j];
          double v;
          if (i < j) {
            v = (-L[z][i] * dj + di * dj) * pi[z][j];
          } else if (i > j) {
            v = (-di * L[z][j] + di * dj) * pi[z][i];
          } else {
            v = (-L[z][i] * di + di * di) * pi[z][i];
          }
          x += pa[z][i] * aj * v;
        }
        X[j] = x;
      }
    }
    for (size_t i = 1; i <= n; ++i) {
      double acc = 0.0;
      for (size_t j = 1; j <= n; ++j) {
        const double x = F.H[i * w + j];
        acc += x;
        F.row[i * w + j] = acc;
        F.col[i * w + j] = F.col[(i - 1) * w + j] + x;
      }
    }
    build_same_kernel(same_v_[e][0], e, kScore, kVariance);
    build_same_kernel(same_v_[e][1], e, kVariance, kVariance);
  }
  fluct_built_ = true;
}

// Same-endpoint kernel of two influences int alpha dM + int beta Y of endpoint e, per arm of
// share p, with E[dM(s) Y(u)] = -dL(s) pi(u) for s < u (0 for s > u), E[Y(s) Y(u)] = pi(max)
// and the martingale's own variance alpha1 alpha2 dL pi on the diagonal cell:
//   s < u:  p (beta1(s) - alpha1(s) dL(s)) beta2(u) pi(u)
//   s > u:  p beta1(s) pi(s) (beta2(u) - alpha2(u) dL(u))
//   s = u:  p pi [alpha1 alpha2 dL - (alpha1 beta2 + beta1 alpha2) dL / 2 + beta1 beta2].
void InformationModel::build_same_kernel(CellKernel& F, int e, int t1, int t2) const {
  const size_t n = static_cast<size_t>(NG_);
  const size_t w = n + 1;
  F.H.assign(w * w, 0.0);
  F.row.assign(w * w, 0.0);
  F.col.assign(w * w, 0.0);
  // Per arm and interval: the factors of the cells below and above the diagonal.
  std::array<std::vector<double>, 2> lo1, b1pi, b2pi, lo2, diag;
  for (int z = 0; z < 2; ++z) {
    const double p = z == 0 ? q_ : 1.0 - q_;
    const std::vector<double>& L = e == 0 ? arm_[z].dl1 : arm_[z].dl2;
    const std::vector<double>& pi = e == 0 ? arm_[z].pi1 : arm_[z].pi2;
    for (auto* v : {&lo1[z], &b1pi[z], &b2pi[z], &lo2[z], &diag[z]}) v->assign(w, 0.0);
    for (size_t i = 1; i <= n; ++i) {
      const double a1 = alpha(t1, z, e, i), b1 = beta(t1, z, e, i);
      const double a2 = alpha(t2, z, e, i), b2 = beta(t2, z, e, i);
      lo1[z][i] = p * (b1 - a1 * L[i]);
      b1pi[z][i] = p * b1 * pi[i];
      b2pi[z][i] = b2 * pi[i];
      lo2[z][i] = b2 - a2 * L[i];
      diag[z][i] = p * pi[i] * (a1 * a2 * L[i] - 0.5 * (a1 * b2 + b1 * a2) * L[i] + b1 * b2);
    }
  }
  for (size_t i = 1; i <= n; ++i) {
    double* X = &F.H[i * w];
    for (size_t j = 1; j <= n; ++j) {
      double x = 0.0;
      for (int z = 0; z < 2; ++z) {
        if (i < j) x += lo1[z][i] * b2pi[z][j];
        else if (i > j) x += b1pi[z][i] * lo2[z][j];
        else x += diag[z][i];
      }
      X[j] = x;
    }
    double acc = 0.0;
    for (size_t j = 1; j <= n; ++j) {
      const double x = X[j];
      acc += x;
      F.row[i * w + j] = acc;
      F.col[i * w + j] = F.col[(i - 1) * w + j] + x;
    }
  }
}

double InformationModel::influence_sum(int t1, int e1, const Look& a, int t2, int e2,
                                       const Look& b) const {
  if (t1 == kScore && t2 == kScore) throw RunError("influence_sum: two scores");
  build_fluctuation_kernels();
  if (e1 == e2) {
    const auto& k = same_v_[static_cast<size_t>(e1)];
    if (t1 == t2) return censored_sum(k[1], a, b);
    return t1 == kScore ? censored_sum(k[0], a, b) : censored_sum(k[0], b, a);
  }
  if (e1 == 1) return influence_sum(t2, e2, b, t1, e1, a);
  const int c = t1 == kScore ? 0 : (t2 == kScore ? 1 : 2);
  return censored_sum(cross_v_[static_cast<size_t>(c)], a, b);
}

double InformationModel::fluctuation(int e1, const Look& a, int e2, const Look& b) const {
  if (!exact_) return 0.0;
  build_fluctuation_kernels();
  if (e1 == 1 && e2 == 0) return fluctuation(0, b, 1, a);
  const CellKernel& k = e1 == e2 ? fluct_[static_cast<size_t>(e1)] : fluct_[2];
  return censored_sum(k, a, b);
}

void InformationModel::complete(AnalysisSet& set) const {
  const int K = set.K;
  set.m.resize(static_cast<size_t>(K));
  for (int k = 0; k < K; ++k) set.m[k] = moments(set.looks[k]);
  set.SIG.assign(static_cast<size_t>(4 * K * K), 0.0);
  for (int k1 = 0; k1 < K; ++k1) {
    for (int k2 = 0; k2 < K; ++k2) {
      const Look& L1 = set.looks[k1];
      const Look& L2 = set.looks[k2];
      const int e = L1.tau <= L2.tau ? k1 : k2;  // the earlier analysis
      const double scale =
          std::sqrt(std::min(L1.l, L2.l) / std::max(L1.l, L2.l));
      set.sig(k1, k2) = k1 == k2 ? set.m[k1].va[0] : scale * set.m[e].va[0];
      set.sig(K + k1, K + k2) = k1 == k2 ? set.m[k1].va[1] : scale * set.m[e].va[1];
      const double c = scale * cross(L1, L2);
      set.sig(k1, K + k2) = c;
      set.sig(K + k2, k1) = c;
    }
  }
  set.exact = exact_;
  if (!exact_) return;
  // The fluctuation of the at-risk fractions: per planned subject the covariance of the two
  // influence functions within the arms is l_min times the censored sum less the arms' products
  // of their means (l d per arm); the scaled scores divide it by sqrt(l1 l2).
  // Mean of each influence function within each arm, d[k][z][e] per enrolled subject: the
  // trial's arms have fixed sizes, so the covariance is taken within the arms. The weight g is
  // the entry censoring of the look (as in moments()).
  // dv[k][z][e] is the same for the variance estimate's influence.
  std::vector<std::array<std::array<double, 2>, 2>> d(static_cast<size_t>(K)), dv(d);
  for (int k = 0; k < K; ++k) {
    const Look& L = set.looks[k];
    for (size_t i = 1; i <= static_cast<size_t>(L.idx); ++i) {
      const double g = simpson(admin_weight(X_[i], L), admin_weight(Xm_[i], L),
                               admin_weight(X_[i - 1], L));
      for (int z = 0; z < 2; ++z) {
        for (int e = 0; e < 2; ++e) {
          const double pi = e == 0 ? arm_[z].pi1[i] : arm_[z].pi2[i];
          d[k][z][e] += g * wa_[z][e][i] * wd_[z][e][i] * pi;
          dv[k][z][e] += g * wbv_[z][e][i] * pi;
        }
      }
    }
  }
  std::vector<double> add(static_cast<size_t>(4 * K * K), 0.0);
  for (int e1 = 0; e1 < 2; ++e1) {
    for (int e2 = 0; e2 < 2; ++e2) {
      for (int k1 = 0; k1 < K; ++k1) {
        for (int k2 = 0; k2 < K; ++k2) {
          const Look& L1 = set.looks[k1];
          const Look& L2 = set.looks[k2];
          const double scale = std::sqrt(std::min(L1.l, L2.l) / std::max(L1.l, L2.l));
          const double mean = std::sqrt(L1.l * L2.l) * (q_ * d[k1][0][e1] * d[k2][0][e2] +
                                                        (1.0 - q_) * d[k1][1][e1] * d[k2][1][e2]);
          add[static_cast<size_t>((e1 * K + k1) * 2 * K + e2 * K + k2)] =
              scale * fluctuation(e1, L1, e2, L2) - mean;
        }
      }
    }
  }
  for (size_t i = 0; i < add.size(); ++i) set.SIG[i] += add[i];
  set.SIGU = set.SIG;
  // The test divides each score by the root of its observed variance: with U = n mu + sqrt(n) xi
  // and Vhat = n V0 + sqrt(n) eta, sqrt(V0) U / sqrt(Vhat) = sqrt(n) mu + xi - c eta + o(1),
  // c = mu / (2 V0), per analysis and endpoint. SIG becomes the covariance of xi - c eta:
  //   SIGU - c2 cov(xi1, eta2) - c1 cov(eta1, xi2) + c1 c2 cov(eta1, eta2),
  // each cov formed as the score's (censored sum less the arms' products of means).
  auto c_of = [&](int k, int e) {
    const Moments& m = set.m[static_cast<size_t>(k)];
    return m.v0[e] > 0.0 ? m.mu[e] / (2.0 * m.v0[e]) : 0.0;
  };
  for (int e1 = 0; e1 < 2; ++e1) {
    for (int k1 = 0; k1 < K; ++k1) {
      const double c1 = c_of(k1, e1);
      for (int e2 = 0; e2 < 2; ++e2) {
        for (int k2 = 0; k2 < K; ++k2) {
          const double c2 = c_of(k2, e2);
          if (c1 == 0.0 && c2 == 0.0) continue;
          const Look& L1 = set.looks[k1];
          const Look& L2 = set.looks[k2];
          const double scale = std::sqrt(std::min(L1.l, L2.l) / std::max(L1.l, L2.l));
          const double rl = std::sqrt(L1.l * L2.l);
          auto cov = [&](int t1, int t2) {
            const auto& m1 = t1 == kScore ? d : dv;
            const auto& m2 = t2 == kScore ? d : dv;
            const double mean =
                rl * (q_ * m1[k1][0][e1] * m2[k2][0][e2] + (1.0 - q_) * m1[k1][1][e1] * m2[k2][1][e2]);
            return scale * influence_sum(t1, e1, L1, t2, e2, L2) - mean;
          };
          double v = 0.0;
          if (c2 != 0.0) v -= c2 * cov(kScore, kVariance);
          if (c1 != 0.0) v -= c1 * cov(kVariance, kScore);
          if (c1 != 0.0 && c2 != 0.0) v += c1 * c2 * cov(kVariance, kVariance);
          set.sig(e1 * K + k1, e2 * K + k2) += v;
        }
      }
    }
  }
}

AnalysisSet CVARGIVTIME(int NG, const InformationInput& in, Reports& reports) {
  const InformationModel model(in, NG);
  const std::vector<double>& X = model.X();
  AnalysisSet set;
  set.K = in.K;
  set.looks.resize(static_cast<size_t>(in.K));
  // Each requested time moves up to the next grid point; times must increase within (0, T].
  const double T = model.T();
  int idx = 1;
  double prev = 0.0;
  for (int k = 0; k < in.K; ++k) {
    double r = in.TLOOK[k];
    if (r > T && r - T <= 1e-9 * std::max(1.0, T)) r = T;
    if (!(r > 0.0) || r > T || r < prev) {
      throw RunError("ANALYSIS TIMES MUST INCREASE WITHIN (0, TA+TF]: TLOOK(" +
                     std::to_string(k + 1) + ") = " + std::to_string(in.TLOOK[k]));
    }
    prev = r;
    while (idx < NG && !(r <= X[static_cast<size_t>(idx)])) ++idx;
    set.looks[k] = model.look_at(idx);
  }
  for (int k = 0; k < in.K; ++k) PREVENT_STM17(in.model.competing_risks, set.looks[k].tau, reports);
  model.complete(set);
  return set;
}

FractionResult CVGIVINFO(int NG, const InformationInput& in) {
  const InformationModel model(in, NG);
  const int K = in.K;
  FractionResult res;
  res.achieved.assign(static_cast<size_t>(K), {1.0, 1.0});
  for (AnalysisSet& s : res.sets) {
    s.K = K;
    s.looks.assign(static_cast<size_t>(K), model.final_look());
  }
  const Look fin = model.final_look();
  const Moments mT = model.moments(fin);
  int j0 = 1;
  for (int k = 0; k + 1 < K; ++k) {
    const double e = in.TLOOK[k];
    double best1 = 1e11, best2 = 1e11;
    for (int j = j0; j <= NG; ++j) {
      const Look L = model.look_at(j);
      const Moments m = model.moments(L);
      // The score at tau sums over the l(tau) N subjects enrolled by then, so its information
      // is l(tau) times the per-subject variance.
      const double F1 = L.l * m.va[0] / mT.va[0], F2 = L.l * m.va[1] / mT.va[1];
      const double d1 = std::fabs(e - F1), d2 = std::fabs(e - F2);
      best1 = std::min(best1, d1);
      best2 = std::min(best2, d2);
      if (d1 == best1) {
        res.sets[0].looks[k] = L;
        res.achieved[k][0] = F1;
      }
      if (d2 == best2) {
        res.sets[1].looks[k] = L;
        res.achieved[k][1] = F2;
      }
      if (F1 >= e && F2 >= e) break;
    }
    j0 = std::min(res.sets[0].looks[k].idx, res.sets[1].looks[k].idx);
  }
  for (AnalysisSet& s : res.sets) model.complete(s);
  return res;
}

}  // namespace kestrel::survival::detail
