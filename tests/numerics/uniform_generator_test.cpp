#include "numerics/uniform_generator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kestrel::numerics {
namespace {

std::int32_t exact_step(std::int32_t x) {
  return static_cast<std::int32_t>((static_cast<std::int64_t>(950706376) * x) % 2147483647);
}

UniformGenerator fixed_clock(std::int32_t clock) {
  return UniformGenerator([clock] { return clock; });
}

TEST(UniformGenerator, SeedOneGivesFirstValueOfRecurrence) {
  UniformGenerator g = fixed_clock(777);
  g.RANDOPT(5);
  g.SETSEED(1);
  EXPECT_EQ(g.UNIRAND(), 950706376.0 / 2147483647.0);
  EXPECT_EQ(g.GETSEED(), 950706376);
  EXPECT_EQ(g.variant(), 5);
}

TEST(UniformGenerator, SchrageStepsEqualExactProductForMillionStates) {
  // States from the generator's own orbit plus the extremes of the range.
  std::int32_t x = 12345;
  for (int i = 0; i < 1000000; ++i) {
    const std::int32_t s = schrage_step_950706376(x);
    ASSERT_EQ(s, exact_step(x)) << "x = " << x;
    x = s;
  }
  for (std::int32_t e : {1, 2, 65534, 65535, 65536, 255895, 74017, 2147483645, 2147483646}) {
    EXPECT_EQ(schrage_step_950706376(e), exact_step(e)) << e;
  }
  // Evenly spread states across the whole range as well.
  for (std::int64_t s = 1; s < 2147483647; s += 2147) {
    ASSERT_EQ(schrage_step_950706376(static_cast<std::int32_t>(s)),
              exact_step(static_cast<std::int32_t>(s)));
  }
}

TEST(UniformGenerator, DrawsFollowTheSchrageSequence) {
  // The generator steps by the 64-bit product; its states must be those of the Schrage steps.
  UniformGenerator g = fixed_clock(777);
  g.RANDOPT(5);
  g.SETSEED(424242);
  std::int32_t x = 424242;
  for (int i = 0; i < 200000; ++i) {
    x = schrage_step_950706376(x);
    const double u = g.UNIRAND();
    ASSERT_EQ(g.GETSEED(), x) << "draw " << i;
    ASSERT_EQ(u, static_cast<double>(x) * 4.656612875245797e-10);
  }
}

TEST(UniformGenerator, ExtremeOutputsStayStrictlyInsideUnitInterval) {
  // The states whose successors are 1 and M - 1 give the smallest and largest possible values.
  const std::int64_t m = 2147483647;
  std::int64_t inv = 1, base = 950706376, e = m - 2;  // multiplier^(M-2) = its inverse mod M
  while (e > 0) {
    if (e & 1) inv = inv * base % m;
    base = base * base % m;
    e >>= 1;
  }
  UniformGenerator g = fixed_clock(1);
  g.RANDOPT(5);
  g.SETSEED(static_cast<std::int32_t>(inv));
  const double lo = g.UNIRAND();
  EXPECT_EQ(g.GETSEED(), 1);
  EXPECT_GT(lo, 0.0);
  EXPECT_NEAR(lo, 4.66e-10, 1e-12);
  g.SETSEED(static_cast<std::int32_t>(m - inv));
  const double hi = g.UNIRAND();
  EXPECT_EQ(g.GETSEED(), 2147483646);
  EXPECT_LT(hi, 1.0);
  EXPECT_NEAR(1.0 - hi, 4.66e-10, 1e-12);
}

TEST(UniformGenerator, GetseedSetseedReplaysTheSequence) {
  UniformGenerator g = fixed_clock(4242);
  g.RANDOPT(5);
  const std::int32_t saved = g.GETSEED();
  EXPECT_EQ(saved, 4242);  // no seed chosen yet: the clock seed is taken
  std::vector<double> first;
  for (int i = 0; i < 50; ++i) first.push_back(g.UNIRAND());
  g.SETSEED(saved);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(g.UNIRAND(), first[i]);
  // GETSEED then SETSEED of the returned value changes nothing in the sequence.
  UniformGenerator a = fixed_clock(9), b = fixed_clock(9);
  a.RANDOPT(5);
  b.RANDOPT(5);
  a.SETSEED(31337);
  b.SETSEED(31337);
  for (int i = 0; i < 7; ++i) {
    a.UNIRAND();
    b.UNIRAND();
  }
  a.SETSEED(a.GETSEED());
  for (int i = 0; i < 20; ++i) EXPECT_EQ(a.UNIRAND(), b.UNIRAND());
}

TEST(UniformGenerator, ClockSeedOnFirstUseAndOnSetseedZero) {
  std::int32_t clock = 100;
  UniformGenerator g([&clock] { return clock; });
  g.RANDOPT(5);
  EXPECT_FALSE(g.seed_chosen());
  const double u = g.UNIRAND();  // first use seeds from the clock
  EXPECT_TRUE(g.seed_chosen());
  EXPECT_EQ(g.GETSEED(), exact_step(100));
  EXPECT_EQ(u, exact_step(100) * 4.656612875245797e-10);
  g.SETSEED(555);
  clock = 200;
  g.SETSEED(0);  // a new clock seed even though one was chosen before
  EXPECT_EQ(g.GETSEED(), 200);
  // An out-of-range seed leaves a chosen seed alone.
  g.SETSEED(-5);
  EXPECT_EQ(g.GETSEED(), 200);
  g.SETSEED(2147483647);
  EXPECT_EQ(g.GETSEED(), 200);
  // ...but takes the clock when nothing was chosen yet.
  UniformGenerator h([] { return 321; });
  h.SETSEED(-1);
  EXPECT_TRUE(h.seed_chosen());
  EXPECT_EQ(h.GETSEED(), 321);
}

TEST(UniformGenerator, WallClockSeedFollowsTimeOfDayFormula) {
  const std::int32_t s = UniformGenerator::wall_clock_seed();
  // 10000 h + 100 m + s + 1 with h < 24, m < 60, s < 61, or 123457 at midnight.
  EXPECT_TRUE(s == 123457 || (s >= 2 && s <= 235961)) << s;
  EXPECT_LE(s % 100, 61);
  EXPECT_LT((s / 100) % 100, 60);
}

TEST(UniformGenerator, VariantSelectionAndRange) {
  UniformGenerator g = fixed_clock(1);
  g.SETSEED(1);
  EXPECT_EQ(g.variant(), 1);  // first touch sets variant 1
  EXPECT_EQ(g.UNIRAND(), 16807.0 * 4.656612875245797e-10);
  EXPECT_ANY_THROW(g.RANDOPT(0));
  EXPECT_ANY_THROW(g.RANDOPT(8));
  EXPECT_EQ(g.variant(), 1);
  g.RANDOPT(5);
  EXPECT_EQ(g.variant(), 5);
}


// Jumping ahead is the same as drawing: against repeated steps, and the period.
TEST(UniformGenerator, SkipAheadEqualsRepeatedDraws) {
  for (std::int32_t seed : {1, 4711, 2147483646}) {
    UniformGenerator g;
    g.RANDOPT(5);
    g.SETSEED(seed);
    for (std::uint64_t n = 1; n <= 200000; ++n) {
      g.UNIRAND();
      if (n <= 100 || n % 9973 == 0) ASSERT_EQ(skip_ahead_950706376(seed, n), g.GETSEED()) << n;
    }
    EXPECT_EQ(skip_ahead_950706376(seed, 0), seed);
    EXPECT_EQ(skip_ahead_950706376(seed, 2147483646u), seed);
    EXPECT_EQ(skip_ahead_950706376(skip_ahead_950706376(seed, 1000000007u), 1147483639u), seed);
  }
}

// A stream taken at any state draws what the generator draws from there, for both variants, and
// the general skip-ahead agrees with drawing.
TEST(UniformGenerator, StreamFromAnyStateFollowsTheGenerator) {
  for (std::int32_t variant : {1, 5}) {
    for (std::int32_t seed : {1, 4711, 2147483646}) {
      UniformGenerator g;
      g.RANDOPT(variant);
      g.SETSEED(seed);
      UniformStream s(variant, seed);
      UniformStream jumper(variant, seed);
      for (std::uint64_t n = 1; n <= 5000; ++n) {
        ASSERT_EQ(s.next(), g.UNIRAND()) << variant << " " << n;
        if (n % 997 == 0) {
          jumper.skip(997);
          ASSERT_EQ(jumper.state(), g.GETSEED()) << variant << " " << n;
          ASSERT_EQ(skip_ahead(variant, seed, n), g.GETSEED()) << variant << " " << n;
        }
      }
    }
  }
  EXPECT_EQ(skip_ahead(3, 4711, 1), 0);  // no stream for the other variants
}

}  // namespace
}  // namespace kestrel::numerics
