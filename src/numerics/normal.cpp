// Standard normal distribution function and its inverse, built on the complementary error
// function.
//
// erfc follows the SLATEC double-precision scheme: three Chebyshev expansions (|y| <= 1,
// 1 < y^2 <= 4, y^2 > 4), each truncated once by the term-count rule to the terms that matter
// at one tenth of half the machine epsilon. Relative accuracy is a few ulps over the whole range
// where erfc is a normal double.
//
// The inverse uses a central Chebyshev series of erfinv for |1 - x| < 0.75 and, in the tails, an
// asymptotic start refined by Newton steps on the scaled function exp(y^2) erfc(y), which keeps
// full relative accuracy down to the smallest normal double.
#include "numerics/normal.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "common/errors.h"

namespace kestrel::numerics {
namespace {

#include "numerics/erfc_tables.inc"

constexpr double kSqrtPi = 1.772453850905516;
constexpr double kHalfSqrtPi = 0.886226925452758;
constexpr double kInvSqrt2 = 0.7071067811865476;
constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kSmallestNormal = 2.2250738585072014e-308;
constexpr double kHalfEpsilon = 1.1102230246251565e-16;  // 2^-53
constexpr double kEpsilon = 2.220446049250313e-16;       // 2^-52

std::string number_text(double v) {
  std::array<char, 64> buf{};
  auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  return std::string(buf.data(), res.ptr);
}

// Chebyshev series value by the Clenshaw recurrence, c(1) carrying the factor 1/2.
double chebyshev_series(double t, const double* c, int n) {
  if (!(std::fabs(t) <= 1.1)) {
    throw RunError("The argument X = " + number_text(t) + " is outside the interval (-1.1,+1.1).");
  }
  if (n < 1) {
    throw RunError("The number of terms in the series is not positive. N = " + std::to_string(n) +
                   ".");
  }
  if (n > 1000) {
    throw RunError("The number of terms in the series is greater than 1000. N = " +
                   std::to_string(n) + ".");
  }
  double b0 = 0.0, b1 = 0.0, b2 = 0.0;
  const double twot = 2.0 * t;
  for (int i = n - 1; i >= 0; --i) {
    b2 = b1;
    b1 = b0;
    b0 = twot * b1 - b2 + c[i];
  }
  return 0.5 * (b0 - b2);
}

// Term-count rule: the number of leading coefficients to sum so that the neglected tail, added
// up in single precision from the last coefficient backwards, stays within eta.
struct TermCount {
  int n;
  bool too_short;  // the tail exceeded eta already at the last coefficient
};

TermCount term_count(const double* c, int size) {
  const float eta = static_cast<float>(0.1f * static_cast<float>(kHalfEpsilon));
  float err = 0.0f;
  int i = size;
  for (; i >= 1; --i) {
    err += std::fabs(static_cast<float>(c[i - 1]));
    if (err > eta) break;
  }
  if (i < 1) i = 1;
  return {i, i == size};
}

struct Constants {
  int n1, n2, n3, ninv;
  double xsml, xmax, sqeps;
  double xlim;  // beyond this the inverse near 2 is accurate to less than half precision
};

const Constants& constants() {
  static const Constants k = [] {
    Constants c{};
    c.n1 = term_count(kErfcSeries1, 21).n;
    c.n2 = term_count(kErfcSeries2, 49).n;
    c.n3 = term_count(kErfcSeries3, 59).n;
    c.ninv = term_count(kInverseErfcCentral, 44).n;
    c.xsml = -std::sqrt(-std::log(kSqrtPi * kHalfEpsilon));
    const double txmax = std::sqrt(-std::log(kSqrtPi * kSmallestNormal));
    c.xmax = txmax - 0.5 * std::log(txmax) / txmax - 0.01;
    c.sqeps = std::sqrt(2.0 * kHalfEpsilon);
    const double s = std::sqrt(kEpsilon / 12.566);
    const double a = -s / std::log(1.77 * s);
    const double b = std::log(1.77 * a);
    c.xlim = 2.0 - (a - (a * b + s) / (b + 1.0));
    return c;
  }();
  return k;
}

// exp(y^2) erfc(y) over the same three ranges, without ever forming exp(-y^2).
double scaled_erfc(double y) {
  const Constants& k = constants();
  const double ay = std::fabs(y);
  if (ay <= 1.0) {
    const double e = ay < k.sqeps ? 1.0 - 2.0 * y / kSqrtPi
                                  : 1.0 - y * (1.0 + chebyshev_series(2.0 * y * y - 1.0,
                                                                      kErfcSeries1, k.n1));
    return std::exp(y * y) * e;
  }
  const double y2 = y * y;
  double v = y2 <= 4.0
                 ? (0.5 + chebyshev_series((8.0 / y2 - 5.0) / 3.0, kErfcSeries2, k.n2)) / ay
                 : (0.5 + chebyshev_series(8.0 / y2 - 1.0, kErfcSeries3, k.n3)) / ay;
  if (y < 0.0) v = 2.0 * std::exp(y2) - v;
  return v;
}

}  // namespace

namespace detail {
int erfc_term_count(int table) {
  const Constants& k = constants();
  switch (table) {
    case 1: return k.n1;
    case 2: return k.n2;
    case 3: return k.n3;
    default: return k.ninv;
  }
}
bool erfc_table_too_short(int table) {
  switch (table) {
    case 1: return term_count(kErfcSeries1, 21).too_short;
    case 2: return term_count(kErfcSeries2, 49).too_short;
    case 3: return term_count(kErfcSeries3, 59).too_short;
    default: return term_count(kInverseErfcCentral, 44).too_short;
  }
}
}  // namespace detail

double ERFCOMP(double y, std::string* notice) {
  const Constants& k = constants();
  if (y <= k.xsml) return 2.0;
  if (y > k.xmax) {
    if (notice) {
      *notice = "The function underflows because X = " + number_text(y) + " is greater than " +
                number_text(k.xmax) + ". The result is set to zero.";
    }
    return 0.0;
  }
  const double ay = std::fabs(y);
  if (ay <= 1.0) {
    if (ay < k.sqeps) return 1.0 - 2.0 * y / kSqrtPi;
    return 1.0 - y * (1.0 + chebyshev_series(2.0 * y * y - 1.0, kErfcSeries1, k.n1));
  }
  const double y2 = y * y;
  double v = y2 <= 4.0
                 ? std::exp(-y2) / ay *
                       (0.5 + chebyshev_series((8.0 / y2 - 5.0) / 3.0, kErfcSeries2, k.n2))
                 : std::exp(-y2) / ay * (0.5 + chebyshev_series(8.0 / y2 - 1.0, kErfcSeries3, k.n3));
  if (y < 0.0) v = 2.0 - v;
  return v;
}

double ERFCOMP(double y) { return ERFCOMP(y, nullptr); }

double ERFCINV(double x, std::string* notice) {
  if (!(x > 0.0)) throw RunError("X = " + number_text(x) + " must be greater than zero.");
  if (!(x < 2.0)) throw RunError("X = " + number_text(x) + " must be less than 2.0.");
  const Constants& k = constants();
  if (x > k.xlim && notice) {
    *notice = "The result is accurate to less than one half precision because X = " +
              number_text(x) + " is too close to 2.0.";
  }
  const double z = 1.0 - x;
  if (std::fabs(z) < 0.75) {
    return z * (1.0 + chebyshev_series(32.0 * z * z / 9.0 - 1.0, kInverseErfcCentral, k.ninv));
  }
  const double w = z >= 0.0 ? x : z + 1.0;  // the smaller tail
  const double lw = std::log(w);
  const double t = -std::log(kSqrtPi * w);
  const double lt = std::log(t);
  double y = std::sqrt(t - 0.5 * lt + (0.25 * lt - 0.5) / t);
  const double tol = 10.0 * kEpsilon;
  bool converged = false;
  for (int step = 0; step < 100; ++step) {
    const double v = (scaled_erfc(y) - std::exp(y * y + lw)) * kHalfSqrtPi;
    y += v;
    if (std::fabs(v) < tol * y) {
      converged = true;
      break;
    }
  }
  if (!converged && notice) {
    *notice =
        "Sufficiently accurate result was not achieved in a reasonable number of iterations. An "
        "algorithmic problem exists.";
  }
  return z < 0.0 ? -y : y;
}

double ERFCINV(double x) { return ERFCINV(x, nullptr); }

double GAUSSCDF(double x) {
  // Never fails: a NaN has no place among the limits below and is passed through.
  if (std::isnan(x)) return x;
  // An underflow of erfc for x below about -37.52 is no error here: Phi(x) is then 0.
  return 0.5 * ERFCOMP(-(x * kInvSqrt2));
}

double GAUSSINV(double p) {
  if (!(p > 0.0 && p < 1.0)) {
    throw RunError("The argument to the function must be greater than 0.0 and less than 1.0.  P = " +
                   number_text(p) + ".");
  }
  // The accuracy notice near 2 (p near 1) is cleared: the rounding of p itself dominates there.
  return -kSqrt2 * ERFCINV(2.0 * p);
}

}  // namespace kestrel::numerics
