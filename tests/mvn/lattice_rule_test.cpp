// Randomized lattice rules: the batched integrand against the plain scalar walk, and the
// combined generator of the random shifts against plain modular arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
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

}  // namespace
}  // namespace kestrel::mvn
