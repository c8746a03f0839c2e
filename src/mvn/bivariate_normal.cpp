// Univariate and bivariate normal kernels of the multivariate normal integration.
// BVU: Drezner and Wesolowsky's method with Genz's changes for double precision and for
// correlations near +-1; Gauss-Legendre rules of 6, 12 or 20 points by |r|; about 1e-15 absolute.
#include "common/fp_contract.h"

#include <algorithm>
#include <cmath>

#include "mvn/kernels.h"
#include "mvn/mvndf.h"

namespace kestrel::mvn {

double MVNPHI(double z) { return detail::mvnphi(z); }

double PHINVS(double p) { return detail::phinvs(p); }

double BVU(double h, double k, double r) {
  using detail::mvnphi;
  constexpr double kTwoPi = 6.283185307179586;
  constexpr double kFourPi = 12.566370614359172;
  constexpr double kSqrtTwoPi = 2.506628274631;
  // The rule-size thresholds 0.3 and 0.925 are single-precision constants widened to double;
  // 0.75 is exact.
  constexpr double kSmallR = 0.30000001192092896;
  constexpr double kLargeR = 0.925000011920929;
  const double* x;
  const double* w;
  int lg;
  const double ar = std::fabs(r);
  if (ar < kSmallR) {
    x = detail::kGaussLegendre6X, w = detail::kGaussLegendre6W, lg = 3;
  } else if (ar < 0.75) {
    x = detail::kGaussLegendre12X, w = detail::kGaussLegendre12W, lg = 6;
  } else {
    x = detail::kGaussLegendre20X, w = detail::kGaussLegendre20W, lg = 10;
  }
  double hk = h * k;
  double bvn = 0;
  if (ar < kLargeR) {
    const double hs = (h * h + k * k) / 2;
    const double asr = std::asin(r);
    for (int i = 0; i < lg; ++i) {
      double sn = std::sin(asr * (x[i] + 1) / 2);
      bvn = bvn + w[i] * std::exp((sn * hk - hs) / (1 - sn * sn));
      sn = std::sin(asr * (-x[i] + 1) / 2);
      bvn = bvn + w[i] * std::exp((sn * hk - hs) / (1 - sn * sn));
    }
    return bvn * asr / kFourPi + mvnphi(-h) * mvnphi(-k);
  }
  if (r < 0) {
    k = -k;
    hk = -hk;
  }
  if (ar < 1) {
    const double as = (1 - r) * (1 + r);
    double a = std::sqrt(as);
    const double bs = (h - k) * (h - k);
    const double c = (4 - hk) / 8;
    const double d = (12 - hk) / 16;
    bvn = a * std::exp(-(bs / as + hk) / 2) * (1 - c * (bs - as) * (1 - d * bs / 5) / 3 + c * d * as * as / 5);
    if (hk > -160) {
      const double b = std::sqrt(bs);
      bvn = bvn - std::exp(-hk / 2) * kSqrtTwoPi * mvnphi(-b / a) * b * (1 - c * bs * (1 - d * bs / 5) / 3);
    }
    a = a / 2;
    for (int i = 0; i < lg; ++i) {
      double xs = (a * (x[i] + 1)) * (a * (x[i] + 1));
      double rs = std::sqrt(1 - xs);
      bvn = bvn + a * w[i] *
                      (std::exp(-bs / (2 * xs) - hk / (1 + rs)) / rs -
                       std::exp(-(bs / xs + hk) / 2) * (1 + c * xs * (1 + d * xs)));
      xs = as * ((-x[i] + 1) * (-x[i] + 1)) / 4;
      rs = std::sqrt(1 - xs);
      bvn = bvn + a * w[i] * std::exp(-(bs / xs + hk) / 2) *
                      (std::exp(-hk * (1 - rs) / (2 * (1 + rs))) / rs - (1 + c * xs * (1 + d * xs)));
    }
    bvn = -bvn / kTwoPi;
  }
  if (r > 0) return bvn + mvnphi(-std::max(h, k));
  if (r < 0) return -bvn + std::max(0.0, mvnphi(-h) - mvnphi(-k));
  return bvn;
}

double BVNMVN(const double* lower, const double* upper, const int* infin, double r) {
  const double l1 = lower[0], l2 = lower[1], u1 = upper[0], u2 = upper[1];
  const int i1 = infin[0], i2 = infin[1];
  if (i1 == 2 && i2 == 2) return BVU(l1, l2, r) - BVU(u1, l2, r) - BVU(l1, u2, r) + BVU(u1, u2, r);
  if (i1 == 2 && i2 == 1) return BVU(l1, l2, r) - BVU(u1, l2, r);
  if (i1 == 1 && i2 == 2) return BVU(l1, l2, r) - BVU(l1, u2, r);
  if (i1 == 2 && i2 == 0) return BVU(-u1, -u2, r) - BVU(-l1, -u2, r);
  if (i1 == 0 && i2 == 2) return BVU(-u1, -u2, r) - BVU(-u1, -l2, r);
  if (i1 == 1 && i2 == 0) return BVU(l1, -u2, -r);
  if (i1 == 0 && i2 == 1) return BVU(-u1, l2, -r);
  if (i1 == 1 && i2 == 1) return BVU(l1, l2, r);
  if (i1 == 0 && i2 == 0) return BVU(-u1, -u2, r);
  // A free variable (negative type) leaves the interval probability of the other one.
  double d1, e1, d2, e2;
  detail::MVNLMS(l1, u1, i1, d1, e1);
  detail::MVNLMS(l2, u2, i2, d2, e2);
  return (e1 - d1) * (e2 - d2);
}

}  // namespace kestrel::mvn
