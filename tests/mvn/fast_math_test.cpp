// Exponential and logarithm of the normal kernels against the long double library functions
// over the ranges the kernels use, and the same bits from every vector width.
#include "common/fp_contract.h"

#include "mvn/fast_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace kestrel::mvn::detail {
namespace {

// Distance of y from the (near) exact value in units of the last place of the double nearest it.
double ulp_error(double y, long double exact) {
  const double nearest = static_cast<double>(exact);
  double ulp = std::nextafter(std::fabs(nearest), std::numeric_limits<double>::infinity()) - std::fabs(nearest);
  if (nearest == 0) ulp = std::numeric_limits<double>::denorm_min();
  return static_cast<double>(std::fabs(static_cast<long double>(y) - exact) / ulp);
}

std::vector<double> exp_arguments() {
  std::mt19937_64 gen(20261207);
  std::uniform_real_distribution<double> wide(-10000, 0), normal(-745, 0), small(-1, 0);
  std::vector<double> x;
  for (int i = 0; i < 100000; ++i) {
    x.push_back(wide(gen));
    x.push_back(normal(gen));
    x.push_back(small(gen));
  }
  // Multiples of ln 2 and the half-way points of the argument reduction, where it switches.
  for (int k = 0; k <= 1080; ++k) {
    const double c = -k * 0.6931471805599453;
    for (double d : {-0.5, 0.0, 0.5}) x.push_back(c + d * 0.6931471805599453);
    x.push_back(std::nextafter(c, 0.0));
    x.push_back(std::nextafter(c, -1.0));
  }
  for (double v : {0.0, -0.0, -1e-300, -1e-17, -708.4, -708.39641853226408, -709.0, -744.44007192138121, -745.0,
                   -745.1332191019411, -745.13321910194122, -746.0, -1000.0, -9999.999})
    x.push_back(v);
  return x;
}

TEST(FastMath, ExponentialWithinOneUlpOverTheTailRangeAndZeroBeyondUnderflow) {
  double worst = 0;
  for (double x : exp_arguments()) {
    const double y = exp_scalar(x);
    const long double exact = std::exp(static_cast<long double>(x));
    if (exact < 0x1p-1075L) {
      // Below half the smallest subnormal the double result is exactly zero.
      ASSERT_EQ(y, 0.0) << x;
      continue;
    }
    const double e = ulp_error(y, exact);
    ASSERT_LE(e, 1.0) << x;
    worst = std::max(worst, e);
  }
  EXPECT_EQ(exp_scalar(0.0), 1.0);
  EXPECT_EQ(exp_scalar(-746.0), 0.0);
  EXPECT_EQ(exp_scalar(-10000.0), 0.0);
  EXPECT_GT(exp_scalar(-745.0), 0.0);  // still a subnormal
  // A faithful polynomial of this degree is typically within about 0.5 ulp; far above that
  // would mean a wrong constant.
  EXPECT_LT(worst, 0.95);
}

std::vector<double> log_arguments() {
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> x;
  for (int i = 0; i < 100000; ++i) {
    x.push_back(unit(gen));
    // Every binade, subnormals included.
    x.push_back(std::ldexp(1 + unit(gen), -1 - static_cast<int>(gen() % 1074)));
    // Just below 1, where log x is tiny.
    x.push_back(1 - std::ldexp(unit(gen), -static_cast<int>(gen() % 53)));
  }
  for (int k = 0; k <= 1074; ++k) {
    const double p = std::ldexp(1.0, -k);
    x.push_back(p);
    if (k > 0) x.push_back(std::nextafter(p, 1.0));
    if (k < 1074) x.push_back(std::nextafter(p, 0.0));
    // Near the switch points of the reduction (1 + f about sqrt(2)/2 and 1.38 to 1.42).
    for (double m : {0.70710678118654752, 1.3819, 1.4181, 1.41421356237309505})
      if (std::ldexp(m, -k - 1) > 0) x.push_back(std::ldexp(m, -k - 1));
  }
  x.push_back(std::numeric_limits<double>::denorm_min());
  x.push_back(1.0);
  return x;
}

TEST(FastMath, LogarithmWithinOneUlpOnTheUnitInterval) {
  double worst = 0;
  for (double x : log_arguments()) {
    if (!(x > 0 && x <= 1)) continue;
    const double y = log_scalar(x);
    const double e = ulp_error(y, std::log(static_cast<long double>(x)));
    ASSERT_LE(e, 1.0) << x;
    worst = std::max(worst, e);
  }
  EXPECT_EQ(log_scalar(1.0), 0.0);
  EXPECT_LT(worst, 0.95);
}

// The kernels are built with vectors of 2, 4 and 8 doubles and in several instruction sets:
// every element must give the bits of the scalar form.
template <int W>
struct Vec {
  typedef double V __attribute__((vector_size(W * sizeof(double))));
};

template <int W>
[[gnu::always_inline]] inline void apply(const double* x, double* ex, double* lg, size_t n) {
  typedef typename Vec<W>::V V;
  for (size_t i = 0; i + W <= n; i += W) {
    V v, e, l;
    __builtin_memcpy(&v, x + i, sizeof v);
    exp_lanes<V>(-v, e);
    log_lanes<V>(v, l);
    __builtin_memcpy(ex + i, &e, sizeof e);
    __builtin_memcpy(lg + i, &l, sizeof l);
  }
}

void apply_generic2(const double* x, double* e, double* l, size_t n) { apply<2>(x, e, l, n); }
void apply_generic8(const double* x, double* e, double* l, size_t n) { apply<8>(x, e, l, n); }
#if defined(__x86_64__)
[[gnu::target("avx2")]] void apply_avx2(const double* x, double* e, double* l, size_t n) { apply<4>(x, e, l, n); }
// With fused multiply-adds at hand, as in AVX-512 and on most other processors.
[[gnu::target("avx2,fma")]] void apply_avx2_fma(const double* x, double* e, double* l, size_t n) {
  apply<4>(x, e, l, n);
}
[[gnu::target("avx512f")]] void apply_avx512(const double* x, double* e, double* l, size_t n) {
  apply<8>(x, e, l, n);
}
#endif

TEST(FastMath, EveryVectorWidthAndInstructionSetGivesTheScalarBits) {
  std::mt19937_64 gen(99);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> x;
  for (int i = 0; i < 4096; ++i) x.push_back(std::ldexp(unit(gen), -static_cast<int>(gen() % 1100)));
  for (int i = 0; i < 4096; ++i) x.push_back(unit(gen) * 800);  // exp arguments down to -800
  x.resize(x.size() / 8 * 8);
  for (double& v : x)
    if (!(v > 0)) v = 0.5;
  const size_t n = x.size();
  std::vector<double> e_ref(n), l_ref(n);
  for (size_t i = 0; i < n; ++i) {
    e_ref[i] = exp_scalar(-x[i]);
    l_ref[i] = log_scalar(x[i]);
  }
  std::vector<void (*)(const double*, double*, double*, size_t)> versions = {apply_generic2, apply_generic8};
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) versions.push_back(apply_avx2);
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) versions.push_back(apply_avx2_fma);
  if (__builtin_cpu_supports("avx512f")) versions.push_back(apply_avx512);
#endif
  for (size_t v = 0; v < versions.size(); ++v) {
    std::vector<double> e(n), l(n);
    versions[v](x.data(), e.data(), l.data(), n);
    for (size_t i = 0; i < n; ++i) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(e[i]), std::bit_cast<std::uint64_t>(e_ref[i])) << v << " " << x[i];
      ASSERT_EQ(std::bit_cast<std::uint64_t>(l[i]), std::bit_cast<std::uint64_t>(l_ref[i])) << v << " " << x[i];
    }
  }
}

// A product and a sum are rounded one after the other, also where the processor has a fused
// multiply-add: (1 + 2^-30)(1 - 2^-30) = 1 - 2^-60 rounds to 1, so adding -1 gives 0, where a
// single rounding would leave -2^-60. Nothing else keeps the vector widths and processors agreeing.
[[gnu::noinline]] double product_plus(double a, double b, double c) { return a * b + c; }
[[gnu::noinline]] void product_plus_lanes(const double* a, const double* b, const double* c, double* out) {
  typedef double V __attribute__((vector_size(4 * sizeof(double))));
  V va, vb, vc;
  __builtin_memcpy(&va, a, sizeof va);
  __builtin_memcpy(&vb, b, sizeof vb);
  __builtin_memcpy(&vc, c, sizeof vc);
  const V r = va * vb + vc;
  __builtin_memcpy(out, &r, sizeof r);
}
#if defined(__x86_64__)
[[gnu::noinline, gnu::target("avx2,fma")]] double product_plus_fma(double a, double b, double c) {
  return a * b + c;
}
#endif

TEST(FastMath, ProductsAndSumsAreRoundedSeparately) {
  // Read through volatile, so that nothing is folded at compile time.
  volatile double va = 1 + 0x1p-30, vb = 1 - 0x1p-30, vc = -1;
  const double a = va, b = vb, c = vc;
  EXPECT_EQ(product_plus(a, b, c), 0.0);
  const double as[4] = {a, a, b, 3}, bs[4] = {b, b, a, 0.1}, cs[4] = {c, 2 * c, c, -0.3};
  double out[4];
  product_plus_lanes(as, bs, cs, out);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(out[1], -1.0);
  EXPECT_EQ(out[2], 0.0);
  EXPECT_EQ(out[3], 0x1p-54);  // 3 * 0.1 rounds up to 0.3 + 2^-54; a single rounding gives 2^-55
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("fma")) EXPECT_EQ(product_plus_fma(a, b, c), 0.0);
#endif
}

}  // namespace
}  // namespace kestrel::mvn::detail
