#pragma once
// A cell-by-cell evaluation of the information formulas, written straight from their definitions:
// every copula value through SJOINT, every indicator through ONEA and ONEB, every analysis pair
// summed over all of its cells. Slow (K^2 NG^2 cells, a dozen copula calls each); the tests run it
// on small grids as the reference for the shared-kernel evaluation.
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "survival/information_kernel.h"
#include "survival/model.h"

namespace kestrel::survival::testing {

class ReferenceInformation {
 public:
  // `later_censoring`: censor both endpoints at the later analysis and truncate both at the
  // earlier one (the uncorrected cross-analysis rule), for comparison only.
  ReferenceInformation(const InformationInput& in, std::vector<double> X,
                       bool later_censoring = false)
      : in_(in), X_(std::move(X)), NG_(static_cast<int>(X_.size()) - 1), later_(later_censoring) {
    q_ = 1.0 - in.model.treatment_share;  // control weight; SR is the treatment share
    const double T = in.model.accrual_period + in.model.follow_up;
    l1_[0] = -std::log(in.model.control_survival[0]) / T;
    l2_[0] = -std::log(in.model.control_survival[1]) / T;
    l1_[1] = l1_[0] * in.model.hazard_ratio[0];
    l2_[1] = l2_[0] * in.model.hazard_ratio[1];
  }

  double C(int arm, double x, double y) const {
    return SJOINT(in_.model.copula_parameter, SFUN(x, l1_[arm]), SFUN(y, l2_[arm]), in_.model.copula);
  }
  static double Av(const std::function<double(double)>& h, double x0, double x1) {
    const double xm = 0.5 * x0 + 0.5 * x1;
    return (h(x1) + 4.0 * h(xm) + h(x0)) / 6.0;
  }
  double x(int i) const { return X_[static_cast<size_t>(i)]; }

  // At-risk averages and hazard increments of the scores on interval i.
  double pi1(int arm, int i) const {
    if (in_.model.competing_risks == 1) return Av([&](double t) { return SFUN(t, l1_[arm]); }, x(i - 1), x(i));
    return Av([&](double t) { return C(arm, t, t); }, x(i - 1), x(i));
  }
  double pi2(int arm, int i) const {
    if (in_.model.competing_risks == 3) return Av([&](double t) { return C(arm, t, t); }, x(i - 1), x(i));
    return Av([&](double t) { return SFUN(t, l2_[arm]); }, x(i - 1), x(i));
  }
  double crude1(int arm, int i) const {
    const double t0 = x(i - 1), t1 = x(i);
    return (C(arm, t0, t1) - C(arm, t1, t1)) / C(arm, t1, t1);
  }
  double crude2(int arm, int i) const {
    const double t0 = x(i - 1), t1 = x(i);
    return (C(arm, t1, t0) - C(arm, t1, t1)) / C(arm, t1, t1);
  }
  double dl1(int arm, int i) const {
    if (in_.model.competing_risks == 1) return CHAZARD(x(i), l1_[arm]) - CHAZARD(x(i - 1), l1_[arm]);
    double d = crude1(arm, i);
    if (in_.model.composite == 2) d += crude2(arm, i);
    return d;
  }
  double dl2(int arm, int i) const {
    if (in_.model.competing_risks == 3) return crude2(arm, i);
    return CHAZARD(x(i), l2_[arm]) - CHAZARD(x(i - 1), l2_[arm]);
  }

  detail::Moments moments(const detail::Look& L) const {
    detail::Moments m;
    const double q = q_;
    for (int i = 1; i <= L.idx; ++i) {
      const double G = Av([&](double t) { return SCENS(t, L.A, L.F, 1); }, x(i - 1), x(i));
      const double w = q * (1.0 - q) * G;
      for (int e = 0; e < 2; ++e) {
        const double pc = e == 0 ? pi1(0, i) : pi2(0, i);
        const double pt = e == 0 ? pi1(1, i) : pi2(1, i);
        const double dc = e == 0 ? dl1(0, i) : dl2(0, i);
        const double dt = e == 0 ? dl1(1, i) : dl2(1, i);
        const double pb = (1.0 - q) * pt + q * pc;
        m.mu[e] += w * (pc * pt / pb) * (dt - dc);
        m.va[e] += w * (pc * pt / (pb * pb)) * (q * pc * dt + (1.0 - q) * pt * dc);
        m.v0[e] += w * (pc * pt / (pb * pb)) * (q * pc * dc + (1.0 - q) * pt * dt);
      }
    }
    return m;
  }

  // Kernel of one arm for EP1 interval i and EP2 interval j. The composite flag counts only where
  // an endpoint can end the other's observation; both arms take their own extra increment.
  double kernel(int arm, int i, int j) const {
    const int m = in_.model.competing_risks;
    const int c = m == 1 ? 1 : in_.model.composite;
    const double t0 = x(i - 1), t1 = x(i), tm = 0.5 * t0 + 0.5 * t1;
    const double s0 = x(j - 1), s1 = x(j), sm = 0.5 * s0 + 0.5 * s1;
    const double hi = std::max(t1, s1), lo = std::max(t0, s0), mm = std::max(tm, sm);
    auto Cc = [&](double a, double b) { return C(arm, a, b); };
    const double P11 = (Cc(t1, s1) - Cc(t0, s1)) - (Cc(t1, s0) - Cc(t0, s0));
    double D1, D2, X1 = 0.0, Rc, B1, B2;
    if (m == 1) {
      D1 = CHAZARD(t1, l1_[arm]) - CHAZARD(t0, l1_[arm]);
      D2 = CHAZARD(s1, l2_[arm]) - CHAZARD(s0, l2_[arm]);
      Rc = (Cc(t1, s1) + Cc(t0, s1) + Cc(t1, s0) + Cc(t0, s0)) / 4.0;
      B1 = (Cc(t1, s1) - Cc(t1, s0)) / 6.0 + 4.0 * (Cc(tm, s1) - Cc(tm, s0)) / 6.0 +
           (Cc(t0, s1) - Cc(t0, s0)) / 6.0;
      B2 = (Cc(t1, s1) - Cc(t0, s1)) / 6.0 + 4.0 * (Cc(t1, sm) - Cc(t0, sm)) / 6.0 +
           (Cc(t1, s0) - Cc(t0, s0)) / 6.0;
    } else {
      D1 = (Cc(t0, t1) - Cc(t1, t1)) / Cc(t1, t1);
      if (c == 2) X1 = (Cc(t1, t0) - Cc(t1, t1)) / Cc(t1, t1);
      B2 = (Cc(t1, hi) - Cc(t0, hi)) / 6.0 + 4.0 * (Cc(t1, mm) - Cc(t0, mm)) / 6.0 +
           (Cc(t1, lo) - Cc(t0, lo)) / 6.0;
      if (m == 2) {
        D2 = CHAZARD(s1, l2_[arm]) - CHAZARD(s0, l2_[arm]);
        Rc = (Cc(t1, hi) + Cc(t0, hi) + Cc(t1, lo) + Cc(t0, lo)) / 4.0;
        B1 = (Cc(t1, s1) - Cc(t1, s0)) / 6.0 + 4.0 * (Cc(tm, s1) - Cc(tm, s0)) / 6.0 +
             (Cc(t0, s1) - Cc(t0, s0)) / 6.0;
      } else {
        D2 = (Cc(s1, s0) - Cc(s1, s1)) / Cc(s1, s1);
        Rc = (Cc(hi, hi) + Cc(lo, hi) + Cc(hi, lo) + Cc(lo, lo)) / 4.0;
        B1 = (Cc(hi, s1) - Cc(hi, s0)) / 6.0 + 4.0 * (Cc(mm, s1) - Cc(mm, s0)) / 6.0 +
             (Cc(lo, s1) - Cc(lo, s0)) / 6.0;
      }
    }
    return ONEA(t1, s1, m, 1) * P11 + ONEA(t1, s1, m, 2) * D1 * B1 + ONEA(t1, s1, m, 3) * D2 * B2 +
           D1 * D2 * Rc - ONEB(t1, s1, c, 0) * B1 + ONEB(t1, s1, c, 1) * X1 * B1 -
           ONEB(t1, s1, c, -1) * D2 * X1 * Rc + ONEB(t1, s1, c, 2) * D2 * X1 * Rc;
  }

  // Cross covariance of EP1 at analysis a and EP2 at analysis b, before the enrolment scaling.
  double cross(const detail::Look& a, const detail::Look& b) const {
    const double q = q_;
    const detail::Look& early = a.tau <= b.tau ? a : b;
    const detail::Look& late = a.tau <= b.tau ? b : a;
    double A = early.A, F = early.F, dt = 0.0, ds = 0.0;
    int Ia = a.idx, Ib = b.idx;
    if (later_) {
      A = late.A;
      F = late.F;
      Ia = Ib = early.idx;
    } else if (a.tau <= b.tau) {
      ds = b.tau - a.tau;
    } else {
      dt = a.tau - b.tau;
    }
    double sum = 0.0;
    for (int i = 1; i <= Ia; ++i) {
      for (int j = 1; j <= Ib; ++j) {
        const double hi = std::max(x(i) - dt, x(j) - ds);
        const double lo = std::max(x(i - 1) - dt, x(j - 1) - ds);
        const double md = 0.5 * lo + 0.5 * hi;
        const double G = SCENS(hi, A, F, 1) / 6.0 + (2.0 / 3.0) * SCENS(md, A, F, 1) +
                         SCENS(lo, A, F, 1) / 6.0;
        const double pc1 = pi1(0, i), pt1 = pi1(1, i), pc2 = pi2(0, j), pt2 = pi2(1, j);
        const double pb1 = (1.0 - q) * pt1 + q * pc1, pb2 = (1.0 - q) * pt2 + q * pc2;
        sum += (q * pc1 * pc2 * kernel(1, i, j) + (1.0 - q) * pt1 * pt2 * kernel(0, i, j)) * G /
               (pb1 * pb2) * (1.0 - q) * q;
      }
    }
    return sum;
  }

  // The complete set for the given analyses.
  detail::AnalysisSet set(const std::vector<detail::Look>& looks) const {
    detail::AnalysisSet s;
    s.K = static_cast<int>(looks.size());
    s.looks = looks;
    const int K = s.K;
    for (const auto& L : looks) s.m.push_back(moments(L));
    s.SIG.assign(static_cast<size_t>(4 * K * K), 0.0);
    for (int k1 = 0; k1 < K; ++k1) {
      for (int k2 = 0; k2 < K; ++k2) {
        const int kmin = std::min(k1, k2), kmax = std::max(k1, k2);
        const double r = std::sqrt(looks[kmin].l / looks[kmax].l);
        s.sig(k1, k2) = k1 == k2 ? s.m[k1].va[0] : r * s.m[kmin].va[0];
        s.sig(K + k1, K + k2) = k1 == k2 ? s.m[k1].va[1] : r * s.m[kmin].va[1];
        s.sig(k1, K + k2) = s.sig(K + k2, k1) = r * cross(looks[k1], looks[k2]);
      }
    }
    return s;
  }

 private:
  InformationInput in_;
  std::vector<double> X_;
  int NG_;
  bool later_;
  double q_;
  double l1_[2], l2_[2];
};

}  // namespace kestrel::survival::testing
