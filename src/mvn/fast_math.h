#pragma once
// Exponential and natural logarithm of the multivariate normal kernels, built from IEEE +, -, *,
// / and exact bit manipulation only. They are written once for vectors of doubles (GCC vector
// extensions of any width; vectors pass by reference only, so no vector calling convention
// shows whatever the instruction set of the caller); the scalar forms run the same code on a vector of one element. So a
// point gives the same bits in the scalar walk and in every lane of every instruction set, which
// no library exp or log promises. Both use the argument reductions and minimax polynomials of
// Sun's fdlibm (error below one unit in the last place).
#include "common/fp_contract.h"

#include <cstdint>

namespace kestrel::mvn::detail {

// Element-wise integer companion of a vector of doubles (same number of 64-bit elements).
template <class V>
struct LaneInts {
  typedef std::uint64_t Unsigned __attribute__((vector_size(sizeof(V))));
  typedef decltype(V{} < V{}) Signed;  // what comparisons give
};

namespace fm {
inline constexpr double kRoundMagic = 0x1.8p52;  // adding it rounds |x| < 2^51 to an integer
inline constexpr double kLn2Hi = 0x1.62e42feep-1;       // 32 leading bits of ln 2
inline constexpr double kLn2Lo = 0x1.a39ef35793c76p-33;  // ln 2 - kLn2Hi
inline constexpr double kInvLn2 = 0x1.71547652b82fep+0;
// exp(x) rounds to 0 below this (half the smallest subnormal).
inline constexpr double kExpUnderflow = -0x1.74910d52d3051p+9;
inline constexpr double kExpP1 = 0x1.555555555553ep-3, kExpP2 = -0x1.6c16c16bebd93p-9,
                        kExpP3 = 0x1.1566aaf25de2cp-14, kExpP4 = -0x1.bbd41c5d26bf1p-20,
                        kExpP5 = 0x1.6376972bea4dp-25;
inline constexpr double kLg1 = 0x1.5555555555593p-1, kLg2 = 0x1.999999997fa04p-2, kLg3 = 0x1.2492494229359p-2,
                        kLg4 = 0x1.c71c51d8e78afp-3, kLg5 = 0x1.7466496cb03dep-3, kLg6 = 0x1.39a09d078c69fp-3,
                        kLg7 = 0x1.2f112df3e5244p-3;
inline constexpr double kTwo54 = 0x1p54;
inline constexpr double kSmallestNormal = 0x1p-1022;
}  // namespace fm

// exp(x) element by element for x <= 0 (also right for small positive x): exactly 0 where the
// result underflows, subnormal results rounded once.
template <class V>
[[gnu::always_inline]] inline void exp_lanes(const V& x, V& out) {
  using U = typename LaneInts<V>::Unsigned;
  using S = typename LaneInts<V>::Signed;
  const S underflow = x < fm::kExpUnderflow;
  const V xc = underflow ? V{} - 746.0 : x;  // keeps the scale factors below in range
  // x = n ln2 + r with n the nearest integer of x / ln2 and |r| <= ln2 / 2 (Cody and Waite).
  const V t = xc * fm::kInvLn2 + fm::kRoundMagic;
  const V n = t - fm::kRoundMagic;
  const V hi = xc - n * fm::kLn2Hi;  // exact: n ln2hi has at most 43 bits
  const V lo = n * fm::kLn2Lo;
  const V r = hi - lo;
  const V z = r * r;
  const V c = r - z * (fm::kExpP1 + z * (fm::kExpP2 + z * (fm::kExpP3 + z * (fm::kExpP4 + z * fm::kExpP5))));
  const V y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
  // y 2^n as y 2^n1 2^n2 with n1 + n2 = n, both at least -540: the first product is exact and
  // the second rounds only when the result is subnormal.
  const U ni = (U)t - (U)(V{} + fm::kRoundMagic) + 1100;  // n + 1100 >= 0
  const U n1 = (ni >> 1) - 550;
  const U n2 = ni - 1100 - n1;
  const V s1 = (V)((n1 + 1023) << 52);
  const V s2 = (V)((n2 + 1023) << 52);
  const V e = (y * s1) * s2;
  out = underflow ? V{} : e;
}

// Natural logarithm element by element for positive finite x (subnormals included).
template <class V>
[[gnu::always_inline]] inline void log_lanes(const V& x, V& out) {
  using U = typename LaneInts<V>::Unsigned;
  using S = typename LaneInts<V>::Signed;
  // Subnormals are first scaled into the normal range.
  const S tiny = x < fm::kSmallestNormal;
  const V xs = tiny ? x * fm::kTwo54 : x;
  const U bits = (U)xs;
  U hx = bits >> 32;
  // k counts powers of two, offset by 2048 so it stays nonnegative.
  U k = (hx >> 20) - 1023 + 2048 - (tiny ? U{} + 54 : U{});
  hx = hx & 0x000fffff;
  // x = 2^k (1 + f) with 1 + f in [sqrt(2)/2, sqrt(2)).
  const U i = (hx + 0x95f64) & 0x100000;
  const V m = (V)((bits & 0xffffffffULL) | ((hx | (i ^ 0x3ff00000)) << 32));
  k = k + (i >> 20);
  const V f = m - 1.0;
  const V s = f / (2.0 + f);
  const V dk = (V)((k - 2048) + (U)(V{} + fm::kRoundMagic)) - fm::kRoundMagic;
  const V z = s * s;
  const V w = z * z;
  const V t1 = w * (fm::kLg2 + w * (fm::kLg4 + w * fm::kLg6));
  const V t2 = z * (fm::kLg1 + w * (fm::kLg3 + w * (fm::kLg5 + w * fm::kLg7)));
  const V R = t2 + t1;
  // Two forms of log(1 + f), the first for 1 + f between about 1.38 and 1.42 and the second
  // elsewhere, as chosen by fdlibm for the smaller rounding error.
  const V hfsq = 0.5 * f * f;
  const V wide = dk * fm::kLn2Hi - ((hfsq - (s * (hfsq + R) + dk * fm::kLn2Lo)) - f);
  const V narrow = dk * fm::kLn2Hi - ((s * (f - R) - dk * fm::kLn2Lo) - f);
  // The test is on the leading 20 fraction bits of x, 0x6147a to 0x6b851. It is made on the
  // fraction as a double in [1, 2) by one comparison, since vector code handles the conjunction
  // of two comparisons poorly: e = frac - lo is exact and a multiple of 2^-52, so lo <= frac < hi
  // exactly when e (e - (hi - lo - 2^-52)) <= 0.
  const V frac = (V)((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);
  const V e = frac - (1 + 0x6147a * 0x1p-20);
  out = e * (e - ((0x6b852 - 0x6147a) * 0x1p-20 - 0x1p-52)) <= 0 ? wide : narrow;
}

// Scalar forms: a vector of one element, so exactly the lane code.
typedef double OneLane __attribute__((vector_size(sizeof(double))));
inline double exp_scalar(double x) {
  OneLane out;
  exp_lanes(OneLane{x}, out);
  return out[0];
}
inline double log_scalar(double x) {
  OneLane out;
  log_lanes(OneLane{x}, out);
  return out[0];
}

}  // namespace kestrel::mvn::detail
