// The per-cell kernels of the cross-endpoint covariance, formed once per design: the martingale
// kernel H(i, j) of EP1 interval i against EP2 interval j with its row and column prefix sums, and
// with the exact model the EP1-EP2 fluctuation kernels formed row by row beside it from the same
// per-cell moments. The joint survival of each cell's corners and midpoints comes from a table of
// the copula's per-coordinate parts (CopulaRows), computed once per grid value.
#include "common/fp_contract.h"

#include "survival/information_kernel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/errors.h"
#include "survival/model.h"

namespace kestrel::survival::detail {
namespace {

// The joint survival C(u, v) with the per-coordinate part computed once per grid value. The
// arithmetic is that of SJOINT, so every table value equals the direct evaluation bit for bit.
class CopulaRows {
 public:
  CopulaRows(double theta, int code) : theta_(theta), code_(code) {
    if (code_ == 1 && theta_ != 0.0) kind_ = Kind::kClayton;
    else if (code_ == 2 && theta_ != 1.0) kind_ = Kind::kStable;
    else if (code_ == 3 && theta_ != 0.0) kind_ = Kind::kFrank;
    else if (code_ >= 1 && code_ <= 3) kind_ = Kind::kProduct;
    else kind_ = Kind::kOther;
    E_ = std::exp(theta_);
  }

  double part(double u) const {
    switch (kind_) {
      case Kind::kClayton: return std::pow(u, -theta_);
      case Kind::kStable: return u == 0.0 ? 0.0 : std::pow(-std::log(u), 1.0 / theta_);
      case Kind::kFrank: return std::exp(theta_ * u);
      default: return 0.0;
    }
  }

  double value(double u, double pu, double v, double pv) const {
    switch (kind_) {
      case Kind::kClayton: {
        double s = pu + pv - 1.0;
        if (s < 0.0) s = 0.0;
        return std::pow(s, -1.0 / theta_);
      }
      case Kind::kStable:
        if (u == 0.0 || v == 0.0) return 0.0;
        return std::exp(-std::pow(pu + pv, theta_));
      case Kind::kFrank: {
        const double R = (pu - 1.0) * (pv - 1.0) / (E_ - 1.0) + 1.0;
        if (theta_ > 0.0) return std::log(R) / theta_;
        if (R > 0.0 && std::log(-theta_) <= 2.0) return std::log(R) / theta_;
        const double series = 1.0 + E_ + E_ * E_;
        return std::log(series * (pu + pv - std::exp(theta_ * (u + v))) - E_ - E_ * E_) / theta_;
      }
      case Kind::kProduct: return u * v;
      default: return SJOINT(theta_, u, v, code_);
    }
  }

 private:
  enum class Kind { kClayton, kStable, kFrank, kProduct, kOther };
  double theta_;
  int code_;
  Kind kind_;
  double E_ = 1.0;
};

}  // namespace

// The kernel of one cell, for both arms at once, combined into the score weights:
//   H(i, j) = q (1-q) [q rc1 rc2 K_t + (1-q) rt1 rt2 K_c],
// K the covariance of the EP1 and EP2 martingale increments of one arm over the cell:
//   P11 - dL1 B1 ... as the sum E[dN1 dN2] - dL1 E[Y1 dN2] - dL2 E[dN1 Y2] + dL1 dL2 E[Y1 Y2],
// with the composite first endpoint's extra terms where it applies.
void InformationModel::build_kernel() const {
  if (kernel_built_) return;
  const size_t n = static_cast<size_t>(NG_);
  const size_t w = n + 1;
  kernel_.H.assign(w * w, 0.0);
  kernel_.row.assign(w * w, 0.0);
  kernel_.col.assign(w * w, 0.0);
  CellKernel& F12 = fluct_[2];
  if (exact_) {
    for (CellKernel* k : {&F12, &cross_v_[0], &cross_v_[1], &cross_v_[2]}) {
      k->H.assign(w * w, 0.0);
      k->row.assign(w * w, 0.0);
      k->col.assign(w * w, 0.0);
    }
  }
  const CopulaRows cop(theta_, code_);
  const bool composite = mode_ != 1 && flag_ == 2;
  const double q = q_;

  struct Rows {
    // Survival values and per-coordinate parts of the grid nodes and midpoints.
    std::vector<double> s1n, s1m, p1n, p1m, s2n, s2m, p2n, p2m;
    // Node row i-1 and i at the node columns (n) and midpoint columns (m); midpoint row i at the
    // node columns.
    std::vector<double> n0n, n0m, n1n, n1m, mn;
    std::vector<double> K;  // kernel of the current row
    // Exact model: E[dN1 Y2], E[Y1 dN2] and E[Y1 Y2] of the cells of the current row.
    std::vector<double> EN, EY, ER;
  };
  std::array<Rows, 2> R;
  for (int k = 0; k < 2; ++k) {
    Rows& r = R[k];
    const Arm& A = arm_[k];
    for (auto* v : {&r.s1n, &r.s1m, &r.p1n, &r.p1m, &r.s2n, &r.s2m, &r.p2n, &r.p2m, &r.n0n, &r.n0m,
                    &r.n1n, &r.n1m, &r.mn, &r.K, &r.EN, &r.EY, &r.ER})
      v->assign(w, 0.0);
    const PiecewiseExponential& L1 = law_[static_cast<size_t>(k)][0];
    const PiecewiseExponential& L2 = law_[static_cast<size_t>(k)][1];
    auto S1 = [&](double x) { return pieces_ ? L1.survival(x) : SFUN(x, A.l1); };
    auto S2 = [&](double x) { return pieces_ ? L2.survival(x) : SFUN(x, A.l2); };
    for (size_t i = 0; i <= n; ++i) {
      r.s1n[i] = S1(X_[i]);
      r.s2n[i] = S2(X_[i]);
      r.p1n[i] = cop.part(r.s1n[i]);
      r.p2n[i] = cop.part(r.s2n[i]);
      if (i > 0) {
        r.s1m[i] = S1(Xm_[i]);
        r.s2m[i] = S2(Xm_[i]);
        r.p1m[i] = cop.part(r.s1m[i]);
        r.p2m[i] = cop.part(r.s2m[i]);
      }
    }
  }
  auto node_row = [&](Rows& r, size_t i, std::vector<double>& atn, std::vector<double>& atm) {
    const double u = r.s1n[i], pu = r.p1n[i];
    for (size_t j = 0; j <= n; ++j) atn[j] = cop.value(u, pu, r.s2n[j], r.p2n[j]);
    for (size_t j = 1; j <= n; ++j) atm[j] = cop.value(u, pu, r.s2m[j], r.p2m[j]);
  };
  for (int k = 0; k < 2; ++k) node_row(R[k], 0, R[k].n0n, R[k].n0m);

  for (size_t i = 1; i <= n; ++i) {
    for (int k = 0; k < 2; ++k) {
      Rows& r = R[k];
      const Arm& A = arm_[k];
      node_row(r, i, r.n1n, r.n1m);
      {
        const double u = r.s1m[i], pu = r.p1m[i];
        for (size_t j = 0; j <= n; ++j) r.mn[j] = cop.value(u, pu, r.s2n[j], r.p2n[j]);
      }
      const double* n0 = r.n0n.data();
      const double* n1 = r.n1n.data();
      const double* m0 = r.n0m.data();
      const double* m1 = r.n1m.data();
      const double* mn = r.mn.data();
      const double dl1 = A.kdl1[i], x1 = A.kx1[i];
      double* K = r.K.data();
      // B1 of the rows of interval i against EP2 interval j (the average over t of minus the
      // probability that EP1 is still event-free at t while EP2 falls into the interval).
      auto b1_rows = [&](size_t j) {
        return (n1[j] - n1[j - 1]) / 6.0 + 4.0 * (mn[j] - mn[j - 1]) / 6.0 + (n0[j] - n0[j - 1]) / 6.0;
      };
      // Corner average and B2 with both EP2 ends moved to the EP1 interval's ends.
      auto rc_rows = [&](size_t M) { return (n1[M] + n0[M] + n1[M - 1] + n0[M - 1]) / 4.0; };
      auto b2_rows = [&](size_t M) {
        return (n1[M] - n0[M]) / 6.0 + 4.0 * (m1[M] - m0[M]) / 6.0 + (n1[M - 1] - n0[M - 1]) / 6.0;
      };
      if (mode_ == 1) {
        for (size_t j = 1; j <= n; ++j) {
          const double c11 = n1[j], c01 = n0[j], c10 = n1[j - 1], c00 = n0[j - 1];
          const double P11 = (c11 - c01) - (c10 - c00);
          const double Rc = (c11 + c01 + c10 + c00) / 4.0;
          const double B1 = b1_rows(j);
          const double B2 = (c11 - c01) / 6.0 + 4.0 * (m1[j] - m0[j]) / 6.0 + (c10 - c00) / 6.0;
          const double dl2 = A.kdl2[j];
          K[j] = P11 + dl1 * B1 + dl2 * B2 + dl1 * dl2 * Rc;
          if (exact_) {
            r.EN[j] = -B2;
            r.EY[j] = -B1;
            r.ER[j] = Rc;
          }
        }
      } else {
        // Cells with the EP2 interval below the EP1 interval: hi, lo, mm are EP1's own ends.
        const double RcI = mode_ == 3 ? A.diag_rc[i] : rc_rows(i);
        const double B2I = b2_rows(i);
        for (size_t j = 1; j < i; ++j) {
          const double dl2 = A.kdl2[j];
          double Kc = dl2 * B2I + dl1 * dl2 * RcI;
          if (composite) Kc = Kc - dl2 * x1 * RcI + dl2 * x1 * RcI;
          K[j] = Kc;
          if (exact_) {  // EP2 before EP1: an EP1 (or composite EP2-first) event at s, EP2 at risk
            r.EN[j] = -B2I + x1 * RcI;
            r.EY[j] = 0.0;
            r.ER[j] = RcI;
          }
        }
        {  // the diagonal cell
          const double dl2 = A.kdl2[i];
          const double B1 = b1_rows(i);
          double Kc = (mode_ == 2 ? dl2 * B2I : 0.0) + dl1 * dl2 * RcI;
          if (composite) Kc = Kc - B1 + x1 * B1 - dl2 * x1 * RcI + dl2 * x1 * RcI;
          K[i] = Kc;
          if (exact_) {
            r.EN[i] = (mode_ == 2 ? -B2I : 0.0) + 0.5 * x1 * RcI;
            r.EY[i] = 0.0;
            r.ER[i] = RcI;
          }
        }
        // Cells with the EP2 interval above: hi, lo, mm are EP2's ends.
        for (size_t j = i + 1; j <= n; ++j) {
          const double dl2 = A.kdl2[j];
          double Kc;
          if (mode_ == 2) {
            const double c11 = n1[j], c01 = n0[j], c10 = n1[j - 1], c00 = n0[j - 1];
            const double P11 = (c11 - c01) - (c10 - c00);
            const double B1 = b1_rows(j);
            const double Rc = rc_rows(j);
            Kc = P11 + dl1 * B1 + dl2 * b2_rows(j) + dl1 * dl2 * Rc;
            if (composite) Kc = Kc + x1 * B1 + dl2 * x1 * Rc;
            if (exact_) {
              r.EN[j] = -b2_rows(j);
              r.EY[j] = -B1;
              r.ER[j] = Rc;
            }
          } else {
            const double B1 = A.diag_b1[j];
            const double Rc = A.diag_rc[j];
            Kc = dl1 * B1 + dl1 * dl2 * Rc;
            if (composite) Kc = Kc + x1 * B1 + dl2 * x1 * Rc;
            if (exact_) {
              r.EN[j] = 0.0;
              r.EY[j] = -B1;
              r.ER[j] = Rc;
            }
          }
          K[j] = Kc;
        }
      }
      if (!A.kept.empty()) {
        // Loss censors both endpoints at once: the cell is observed only while the subject is
        // not lost at the later of its two times, averaged as the censoring weight of a cell.
        const double* d = A.kept.data();
        for (size_t j = 1; j <= n; ++j) {
          const double dhi = std::min(d[i], d[j]), dlo = std::min(d[i - 1], d[j - 1]);
          const double kept = dhi / 6.0 + (2.0 / 3.0) * std::sqrt(dhi * dlo) + dlo / 6.0;
          K[j] *= kept;
          if (exact_) {  // so are the cell's joint moments of the at-risk part
            r.EN[j] *= kept;
            r.EY[j] *= kept;
            r.ER[j] *= kept;
          }
        }
      }
    }
    // Combine the arms, then the prefix sums.
    const double* Kc = R[0].K.data();
    const double* Kt = R[1].K.data();
    double* H = &kernel_.H[i * w];
    double* rowp = &kernel_.row[i * w];
    const double* colprev = &kernel_.col[(i - 1) * w];
    double* colp = &kernel_.col[i * w];
    const double a1 = q * rc1_[i], b1 = (1.0 - q) * rt1_[i], qq = (1.0 - q) * q;
    double acc = 0.0;
    for (size_t j = 1; j <= n; ++j) {
      const double h = qq * (a1 * rc2_[j] * Kt[j] + b1 * rt2_[j] * Kc[j]);
      H[j] = h;
      acc += h;
      rowp[j] = acc;
      colp[j] = colprev[j] + h;
    }
    if (exact_) {
      // EP1-EP2 fluctuation kernel of the row: per arm z (share p), with the martingale parts
      // Q1 = E[dN1 Y2] - dL1 E[Y1 Y2] and Q2 = E[Y1 dN2] - dL2 E[Y1 Y2],
      //   p a1 a2 [delta2 Q1 + delta1 Q2 + delta1 delta2 E[Y1 Y2]].
      double* X = &F12.H[i * w];
      double* xrow = &F12.row[i * w];
      const double* xcolprev = &F12.col[(i - 1) * w];
      double* xcol = &F12.col[i * w];
      double xacc = 0.0;
      for (size_t j = 1; j <= n; ++j) {
        double x = 0.0;
        for (int z = 0; z < 2; ++z) {
          const Rows& r = R[z];
          const double p = z == 0 ? q : 1.0 - q;
          const double a1 = wa_[z][0][i], d1 = wd_[z][0][i];
          const double a2 = wa_[z][1][j], d2 = wd_[z][1][j];
          const double L1 = arm_[z].dl1[i], L2 = arm_[z].dl2[j];
          const double Q1 = r.EN[j] - L1 * r.ER[j], Q2 = r.EY[j] - L2 * r.ER[j];
          x += p * a1 * a2 * (d2 * Q1 + d1 * Q2 + d1 * d2 * r.ER[j]);
        }
        X[j] = x;
        xacc += x;
        xrow[j] = xacc;
        xcol[j] = xcolprev[j] + x;
      }
      // EP1-EP2 kernels with the variance estimate's influence on one or both sides: per arm,
      //   p [alpha1 alpha2 K + alpha1 beta2 Q1 + beta1 alpha2 Q2 + beta1 beta2 E[Y1 Y2]],
      // K the arm's martingale cross kernel of the cell.
      for (int c = 0; c < 3; ++c) {
        const int t1 = c == 0 ? kScore : kVariance, t2 = c == 1 ? kScore : kVariance;
        CellKernel& G = cross_v_[static_cast<size_t>(c)];
        double* Y = &G.H[i * w];
        double* yrow = &G.row[i * w];
        const double* ycolprev = &G.col[(i - 1) * w];
        double* ycol = &G.col[i * w];
        double yacc = 0.0;
        for (size_t j = 1; j <= n; ++j) {
          double y = 0.0;
          for (int z = 0; z < 2; ++z) {
            const Rows& r = R[z];
            const double p = z == 0 ? q : 1.0 - q;
            const double al1 = alpha(t1, z, 0, i), be1 = beta(t1, z, 0, i);
            const double al2 = alpha(t2, z, 1, j), be2 = beta(t2, z, 1, j);
            const double L1 = arm_[z].dl1[i], L2 = arm_[z].dl2[j];
            const double Q1 = r.EN[j] - L1 * r.ER[j], Q2 = r.EY[j] - L2 * r.ER[j];
            y += p * (al1 * al2 * r.K[j] + al1 * be2 * Q1 + be1 * al2 * Q2 + be1 * be2 * r.ER[j]);
          }
          Y[j] = y;
          yacc += y;
          yrow[j] = yacc;
          ycol[j] = ycolprev[j] + y;
        }
      }
    }
    for (int k = 0; k < 2; ++k) {
      R[k].n0n.swap(R[k].n1n);
      R[k].n0m.swap(R[k].n1m);
    }
  }
  kernel_built_ = true;
}

}  // namespace kestrel::survival::detail
