#pragma once
// Inline cores of the univariate normal functions of the multivariate normal integration:
// the distribution function by Schonfelder's Chebyshev expansion of erfc (about 1e-15 absolute)
// and its inverse by Wichura's AS 241 (PPND16, about 1e-16 relative). The integrand calls these
// many millions of times, so they live here to be inlined; MVNPHI and PHINVS are the same code.
// Their exponential and logarithm are those of fast_math.h, which the batched integrand shares,
// so a point gives the same bits in the scalar walk and in the lanes.
#include <cmath>

#include "mvn/fast_math.h"

namespace kestrel::mvn::detail {

#include "mvn/mvn_tables.inc"

// Schonfelder's coefficients of erfc; 25 of the 44 terms are summed.
inline constexpr double kSchonfelder[25] = {
    0.6101430819232004,     -0.4348412727125775,     0.1763511936436055,
    -0.06071079560924941,   0.017712068995694115,    -0.004321119385567294,
    0.0008542166768870987,  -0.00012715509060916275, 1.1248167243671189e-05,
    3.1306388542182096e-07, -2.70988068537762e-07,   3.073762270140769e-08,
    2.515620384817623e-09,  -1.0289299213203192e-09, 2.994405211994994e-11,
    2.6051789687266936e-11, -2.6348399241719693e-12, -6.434045098906365e-13,
    1.1245740180166345e-13, 1.7281533389986097e-14,  -4.264101694942375e-15,
    -5.45371977880191e-16,  1.58697607761671e-16,    2.0899837844334e-17,
    -5.900526869409e-18};

inline constexpr double kRootTwo = 1.4142135623730951;

// The tail p of the expansion for xa = |z|/sqrt(2) (xa <= 100): P(X <= -|z|).
inline double schonfelder_tail(double xa) {
  const double t = (8 * xa - 30) / (4 * xa + 15);
  double bm = 0, b = 0, bp = 0;
  for (int i = 24; i >= 0; --i) {
    bp = b;
    b = bm;
    bm = t * b - bp + kSchonfelder[i];
  }
  return exp_scalar(-xa * xa) * (bm - bp) / 4;
}

inline double mvnphi(double z) {
  const double xa = std::fabs(z) / kRootTwo;
  double p = 0;
  if (xa <= 100) p = schonfelder_tail(xa);
  if (z > 0) p = 1 - p;
  return p;
}

// AS 241 central rational function at r = 0.180625 - q*q, times q.
inline double as241_central(double q, double r) {
  const double* a = kAs241A;
  const double* b = kAs241B;
  return q * (((((((a[7] * r + a[6]) * r + a[5]) * r + a[4]) * r + a[3]) * r + a[2]) * r + a[1]) * r + a[0]) /
         (((((((b[6] * r + b[5]) * r + b[4]) * r + b[3]) * r + b[2]) * r + b[1]) * r + b[0]) * r + 1);
}

// AS 241 magnitude in the tails for r = min(p, 1 - p) > 0.
inline double as241_tail(double r) {
  r = std::sqrt(-log_scalar(r));
  if (r <= 5) {
    r = r - 1.6;
    const double* c = kAs241C;
    const double* d = kAs241D;
    return (((((((c[7] * r + c[6]) * r + c[5]) * r + c[4]) * r + c[3]) * r + c[2]) * r + c[1]) * r + c[0]) /
           (((((((d[6] * r + d[5]) * r + d[4]) * r + d[3]) * r + d[2]) * r + d[1]) * r + d[0]) * r + 1);
  }
  r = r - 5;
  const double* e = kAs241E;
  const double* f = kAs241F;
  return (((((((e[7] * r + e[6]) * r + e[5]) * r + e[4]) * r + e[3]) * r + e[2]) * r + e[1]) * r + e[0]) /
         (((((((f[6] * r + f[5]) * r + f[4]) * r + f[3]) * r + f[2]) * r + f[1]) * r + f[0]) * r + 1);
}

// Inverse of mvnphi for 0 < p < 1; -9 at p <= 0 and 9 at p >= 1.
inline double phinvs(double p) {
  const double q = (2 * p - 1) / 2;
  if (std::fabs(q) <= 0.425) return as241_central(q, 0.180625 - q * q);
  const double r = p < 1 - p ? p : 1 - p;
  const double v = r > 0 ? as241_tail(r) : 9.0;
  return q < 0 ? -v : v;
}

// Interval probabilities of one variable with limit type `infin` (negative: free, 0: upper
// only, 1: lower only, 2: both): lower = Phi(a), upper = Phi(b), upper never below lower.
inline void MVNLMS(double a, double b, int infin, double& lower, double& upper) {
  lower = 0;
  upper = 1;
  if (infin >= 0) {
    if (infin != 0) lower = mvnphi(a);
    if (infin != 1) upper = mvnphi(b);
  }
  if (lower > upper) upper = lower;
}

}  // namespace kestrel::mvn::detail
