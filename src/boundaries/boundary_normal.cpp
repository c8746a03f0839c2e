// Normal distribution function, its inverse and the density used by the boundary recursion.
//   ZNORM: Wichura's AS 241 (PPND16), about 16 digits.
//   PNORM: Hill's AS 66 with the coefficients of this program's listing (about 1e-9 absolute).
//   NDENS: exp(-x^2/2)/sqrt(2 pi).
// They are deliberately separate from the library pair GAUSSCDF/GAUSSINV: the boundary figures
// depend on these exact approximations.
#include <cmath>

#include "boundaries/spending.h"

namespace kestrel::boundaries {
namespace {
#include "boundaries/as241_coefficients.inc"

double poly7(const double (&c)[8], double r) {
  return (((((((c[7] * r + c[6]) * r + c[5]) * r + c[4]) * r + c[3]) * r + c[2]) * r + c[1]) * r +
          c[0]);
}
}  // namespace

double ZNORM(double p) {
  if (!(p > 0.0 && p < 1.0)) return 0.0;
  const double q = p - 0.5;
  if (std::fabs(q) <= 0.425) {
    const double r = 0.180625 - q * q;
    return q * poly7(kAs241A, r) / poly7(kAs241B, r);
  }
  double r = q < 0.0 ? p : 1.0 - p;
  r = std::sqrt(-std::log(r));
  double value;
  if (r <= 5.0) {
    r -= 1.6;
    value = poly7(kAs241C, r) / poly7(kAs241D, r);
  } else {
    r -= 5.0;
    value = poly7(kAs241E, r) / poly7(kAs241F, r);
  }
  return q < 0.0 ? -value : value;
}

double PNORM(double x) {
  const double z = std::fabs(x);
  if (z > 12.7) return x < 0.0 ? 0.0 : 1.0;
  const double y = 0.5 * x * x;
  double tail;
  if (z <= 1.28) {
    tail =
        0.5 - z * (0.398942280444 -
                   0.399903438504 * y /
                       (y + 5.75885480458 -
                        29.8213557808 / (y + 2.62433121679 + 48.6959930692 / (y + 5.92885724438))));
  } else {
    tail = 0.398942280385 * std::exp(-y) /
           (z - 3.8052e-08 +
            1.00000615302 /
                (z + 0.000398064794 +
                 1.98615381364 /
                     (z - 0.151679116635 +
                      5.29330324926 / (z + 4.8385912808 -
                                       15.1508972451 / (z + 0.742380924027 +
                                                        30.789933034 / (z + 3.99019417011))))));
  }
  return x >= 0.0 ? 1.0 - tail : tail;
}

double NDENS(double x) {
  return std::exp(-0.5 * x * x) / 2.5066282746350725;
}

}  // namespace kestrel::boundaries
