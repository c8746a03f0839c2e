// Randomized lattice rules: the batched integrand against the plain scalar walk, and the
// combined generator of the random shifts against plain modular arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "mvn/integration_detail.h"
#include "mvn/mvndf.h"

namespace kestrel::mvn {
namespace {

TEST(Mvnuni, MatchesTheCombinedRecursionInPlainModularArithmetic) {
  MvnState state;
  std::int64_t s1[3] = {15485857, 17329489, 36312197}, s2[3] = {55911127, 75906931, 96210113};
  const std::int64_t m1 = 2147483647, m2 = 2145483479;
  for (int i = 0; i < 10000; ++i) {
    const std::int64_t p1 = (((63308 * s1[1] - 183326 * s1[0]) % m1) + m1) % m1;
    const std::int64_t p2 = (((86098 * s2[2] - 539608 * s2[0]) % m2) + m2) % m2;
    s1[0] = s1[1], s1[1] = s1[2], s1[2] = p1;
    s2[0] = s2[1], s2[1] = s2[2], s2[2] = p2;
    std::int64_t z = p1 - p2;
    if (z <= 0) z += m1;
    const double u = state.MVNUNI();
    ASSERT_EQ(u, static_cast<double>(z) / 2147483648.0) << i;
    ASSERT_GT(u, 0);
    ASSERT_LT(u, 1);
  }
}


// The batched integrand must reproduce the plain scalar walk bit for bit, in every vector width
// the processor runs: the same integrand values summed in the same order with the same random
// draws.
TEST(LatticeRule, BatchedIntegrandReproducesThePlainWalkExactly) {
  struct Case {
    std::vector<double> lower, upper, correl;
    std::vector<int> infin;
  };
  const std::vector<Case> cases = {
      {{0, 0, 0}, {0, 0, 0}, {0.3, -0.2, 0.5}, {1, 1, 1}},
      {{-1.0, -0.5, 0.1, -2.0, -1.0}, {1.0, 2.0, 1.8, 0.5, 1.5}, {0.3, 0.2, 0.5, -0.1, 0.4, 0.6, 0.2, 0.1, 0.3, 0.5},
       {2, 1, 0, 2, 2}},
      // A perfectly correlated pair (a run of two dependent rows) among four variables.
      {{-1.0, 0.0, 0.0, -0.5}, {1.0, 0.4, 2.0, 1.5}, {0.5, 1.0, 0.5, 0.2, 0.3, 0.2}, {2, 0, 2, 2}},
      // Deep tails: many points fall outside the intervals.
      {{3.0, 2.5, -1.0}, {0, 0, 4.0}, {0.9, 0.7, 0.8}, {1, 1, 2}},
      // A first interval of probability about 1e-12: the inverse takes its far tail (beyond
      // r = 5) at every point, its near tail at others.
      {{7.0, -1.0, -0.5, 0.0}, {0, 1.0, 2.0, 0}, {0.2, 0.1, 0.3, -0.2, 0.1, 0.4}, {1, 2, 2, 0}},
  };
  ASSERT_FALSE(integrand_widths().empty());
  for (int width : integrand_widths()) {
    choose_integrand_width(width);
    for (const Case& c : cases) {
      const int n = static_cast<int>(c.infin.size());
      LatticeResult res[2];
      for (int plain = 0; plain < 2; ++plain) {
        MvnState state;
        state.work().reserve(n);
        double d, e;
        const int infis =
            MVNSETUP(n, c.correl.data(), c.lower.data(), c.upper.data(), c.infin.data(), state.work(), d, e);
        build_integrand_plan(n - infis, state.work());
        res[plain] = DKBVRC(n - infis - 1, 0, 200000, 1e-12, 1e-12, state, plain == 1);
      }
      EXPECT_EQ(res[0].finest, res[1].finest) << n << " width " << width;
      EXPECT_EQ(res[0].abserr, res[1].abserr) << n << " width " << width;
      EXPECT_EQ(res[0].intvls, res[1].intvls) << n << " width " << width;
    }
  }
  choose_integrand_width(0);
}

// Stacked statistics of two endpoints at information fractions t: sqrt(t_i / t_j) within an
// endpoint, rho times that across.
std::vector<double> two_endpoint_correlation(const std::vector<double>& t, double rho) {
  const int k = static_cast<int>(t.size());
  std::vector<double> c;
  for (int i = 1; i < 2 * k; ++i)
    for (int j = 0; j < i; ++j) {
      const double a = t[static_cast<size_t>(i % k)], b = t[static_cast<size_t>(j % k)];
      const double r = std::sqrt(std::min(a, b) / std::max(a, b));
      c.push_back(i / k == j / k ? r : rho * r);
    }
  return c;
}

// Point by point, on the rectangles of group-sequential power sums and with batches whose
// inverse-function arguments fall in the tails in every pattern (none, all, a few lanes, one
// lane, alternating lanes, at random, at 0 and 1 exactly, far beyond r = 5): the batched
// integrand gathers the tail elements into fewer vectors and scatters them back, and every value
// must still be the plain walk's to the last bit, in every vector width.
TEST(LatticeRule, BatchedIntegrandMatchesThePlainWalkPointByPointWhateverTheTailPattern) {
  struct Case {
    std::vector<double> lower, upper, correl;
    std::vector<int> infin;
  };
  const std::vector<double> t3 = {1.0 / 3, 2.0 / 3, 1.0};
  const std::vector<Case> cases = {
      // Neither endpoint crosses at the interims, both cross at the final analysis.
      {{0, 0, -0.4, 0, 0, -0.1}, {3.1, 2.3, 0, 2.9, 2.2, 0}, two_endpoint_correlation(t3, 0.5), {0, 0, 1, 0, 0, 1}},
      // Both cross at the second analysis, neither before: two-sided rows.
      {{0, -1.2, -8, 0, -0.9, -8}, {2.4, 1.9, 8, 2.2, 1.7, 8}, two_endpoint_correlation(t3, 0.3), {0, 2, 2, 0, 2, 2}},
      // A first interval of probability about 1e-12: the far tail at every point.
      {{7.0, -1.0, -0.5, 0.0}, {0, 1.0, 2.0, 0}, {0.2, 0.1, 0.3, -0.2, 0.1, 0.4}, {1, 2, 2, 0}},
  };
  constexpr int L = kIntegrandLanes;
  std::mt19937_64 gen(2024);
  std::uniform_real_distribution<double> unit(0, 1);
  const std::vector<double> extremes = {0.0, 1.0, 1e-300, 1e-17, 1e-9, 0.02, 0.98, 1 - 1e-9, 1 - 1e-16};
  ASSERT_FALSE(integrand_widths().empty());
  for (int width : integrand_widths()) {
    choose_integrand_width(width);
    for (const Case& c : cases) {
      const int n = static_cast<int>(c.infin.size());
      MvnState state;
      MvnState::Work& work = state.work();
      work.reserve(n);
      double d, e;
      const int infis = MVNSETUP(n, c.correl.data(), c.lower.data(), c.upper.data(), c.infin.data(), work, d, e);
      const int nd = n - infis;
      ASSERT_GE(nd, 3);
      build_integrand_plan(nd, work);
      const int ndim = nd - 1;
      for (int pattern = 0; pattern < 8; ++pattern) {
        for (int l = 0; l < L; ++l) {
          for (int j = 1; j <= ndim; ++j) {
            double w = unit(gen);  // pattern 0: at random
            const double ext = extremes[gen() % extremes.size()];
            const double mid = 0.35 + 0.3 * unit(gen);
            if (pattern == 1) w = ext;                          // every lane in the tails
            if (pattern == 2) w = mid;                          // mostly central
            if (pattern == 3) w = l % 2 ? ext : mid;            // alternating lanes
            if (pattern == 4) w = l % 8 == 5 ? ext : mid;       // one lane per vector of 8
            if (pattern == 5) w = l == L - 1 ? ext : mid;       // the last lane only
            if (pattern == 6) w = l == 0 ? 1e-300 : mid;        // the first lane only, far out
            if (pattern == 7) w = l < L / 2 ? mid : ext;        // the second half
            work.lane_w[static_cast<size_t>((j - 1) * L + l)] = w;
          }
        }
        std::vector<double> f(L);
        integrand_lanes(ndim, work, f.data());
        for (int l = 0; l < L; ++l) {
          std::vector<double> w(static_cast<size_t>(ndim) + 1);
          for (int j = 1; j <= ndim; ++j) w[static_cast<size_t>(j)] = work.lane_w[static_cast<size_t>((j - 1) * L + l)];
          const double plain = MVNDFN(ndim, w.data(), work);
          ASSERT_EQ(std::bit_cast<std::uint64_t>(f[static_cast<size_t>(l)]), std::bit_cast<std::uint64_t>(plain))
              << "width " << width << " dimension " << n << " pattern " << pattern << " lane " << l << ": "
              << f[static_cast<size_t>(l)] << " against " << plain;
        }
      }
    }
  }
  choose_integrand_width(0);
}

}  // namespace
}  // namespace kestrel::mvn
