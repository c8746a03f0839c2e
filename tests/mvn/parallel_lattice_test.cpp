// The lattice sums of an iteration may run on any number of threads, whole or cut into pieces
// of consecutive points. The random numbers are drawn in the same order either way, every sum
// adds its values in point order and the sums enter the estimate in sample order, so a state with
// any number of threads must give exactly the numbers of a one-thread state, and leave its
// generator at the same point.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "mvn/integration_detail.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"

namespace kestrel::mvn {
namespace {

struct Problem {
  std::vector<double> lower, upper, correl;
  std::vector<int> infin;
  int n() const { return static_cast<int>(infin.size()); }
};

// Statistics of one endpoint at information fractions t: corr = sqrt(t_i / t_j), i < j; with two
// endpoints the cross terms are scaled by rho.
std::vector<double> stacked_correlation(const std::vector<double>& t, int endpoints, double rho) {
  const int k = static_cast<int>(t.size());
  const int n = k * endpoints;
  std::vector<double> c;
  for (int i = 1; i < n; ++i) {
    for (int j = 0; j < i; ++j) {
      const int ei = i / k, ej = j / k;
      const double a = t[static_cast<size_t>(i % k)], b = t[static_cast<size_t>(j % k)];
      const double r = std::sqrt(std::min(a, b) / std::max(a, b));
      c.push_back(ei == ej ? r : rho * r);
    }
  }
  return c;
}

std::vector<Problem> problems() {
  std::vector<Problem> ps;
  // Three looks, continuation region with a crossing at the last look.
  ps.push_back({{-8, -8, 2.0}, {2.5, 2.2, 8}, stacked_correlation({1.0 / 3, 2.0 / 3, 1.0}, 1, 0), {0, 0, 1}});
  // Two endpoints at two looks each.
  ps.push_back({{-1.0, -0.5, -1.5, -0.2}, {2.6, 2.0, 2.4, 1.9}, stacked_correlation({0.5, 1.0}, 2, 0.6), {2, 2, 2, 2}});
  // Two endpoints at three looks: dimension 6.
  ps.push_back({{-8, -8, -8, -8, -8, -8}, {3.2, 2.5, 2.0, 3.0, 2.4, 2.1},
                stacked_correlation({0.3, 0.6, 1.0}, 2, 0.4), {0, 0, 0, 0, 0, 0}});
  // Deep tail: every statistic far above its mean.
  ps.push_back({{3.5, 3.2, 3.0, 3.4}, {0, 0, 0, 0}, stacked_correlation({0.25, 0.5, 0.75, 1.0}, 1, 0), {1, 1, 1, 1}});
  // A perfectly correlated pair (merged into one run of rows) among eight variables.
  {
    Problem p{{-1.0, -0.5, -2.0, -1.2, -0.8, -1.5, -0.3, -1.0},
              {1.5, 2.0, 1.0, 2.2, 1.8, 0.9, 2.5, 1.7},
              stacked_correlation({0.25, 0.5, 0.75, 1.0}, 2, 0.5),
              {2, 2, 2, 2, 2, 2, 2, 2}};
    p.correl[0] = 1.0;  // variables 1 and 2
    ps.push_back(p);
  }
  return ps;
}

void expect_same(const MvnResult& a, const MvnResult& b, int n) {
  // Bitwise: EXPECT_EQ on doubles compares with ==, and the values are finite.
  EXPECT_EQ(a.value, b.value) << n;
  EXPECT_EQ(a.error, b.error) << n;
  EXPECT_EQ(a.inform, b.inform) << n;
  EXPECT_EQ(a.evaluations, b.evaluations) << n;
  EXPECT_EQ(a.total_evaluations, b.total_evaluations) << n;
}

// 3 threads cut the eight sums of an iteration into pieces (eight do not share out evenly);
// 2, 4 and 8 take whole sums; 16 pieces again, with more threads waiting for one another than
// there are cores.
TEST(ParallelLattice, EveryThreadCountGivesTheOneThreadNumbersBitForBit) {
  // A budget large enough for lattices whose sums are shared and cut into pieces, small enough
  // to stay quick; the accuracy cannot be reached, so every call spends it.
  const long long maxpts = 150000;
  MvnState one;
  one.set_threads(1);
  ASSERT_EQ(one.threads(), 1);
  std::vector<MvnResult> expected;
  for (const Problem& p : problems()) {
    expected.push_back(
        MVNDST(p.n(), p.lower.data(), p.upper.data(), p.infin.data(), p.correl.data(), maxpts, 1e-14, 0, one));
    EXPECT_GT(expected.back().value, 0) << p.n();
    EXPECT_EQ(expected.back().inform, 1) << p.n();
  }
  EXPECT_EQ(one.work().workers, nullptr);
  const double next = one.MVNUNI();
  for (const int threads : {2, 3, 4, 8, 16}) {
    SCOPED_TRACE(threads);
    MvnState many;
    many.set_threads(threads);
    ASSERT_EQ(many.threads(), threads);
    size_t i = 0;
    for (const Problem& p : problems()) {
      const MvnResult b =
          MVNDST(p.n(), p.lower.data(), p.upper.data(), p.infin.data(), p.correl.data(), maxpts, 1e-14, 0, many);
      expect_same(expected[i++], b, p.n());
    }
    // The shared path was taken, and the generators stand at the same point after all calls.
    EXPECT_NE(many.work().workers, nullptr);
    EXPECT_EQ(many.MVNUNI(), next);
  }
}

// The four-budget wrapper on two endpoints at three looks, states carried across calls (three
// variables are integrated without the lattice rules).
TEST(ParallelLattice, FourAttemptCallsAgreeBitForBit) {
  MvnState one, two;
  one.set_threads(1);
  two.set_threads(3);
  numerics::UniformGenerator g1([] { return std::int32_t{7}; }), g2([] { return std::int32_t{7}; });
  const Problem p = problems()[2];
  for (int call = 0; call < 2; ++call) {
    const MvnResult a = MVNDF_detail(p.n(), p.upper.data(), p.lower.data(), p.infin.data(), p.correl.data(), one, g1);
    const MvnResult b = MVNDF_detail(p.n(), p.upper.data(), p.lower.data(), p.infin.data(), p.correl.data(), two, g2);
    expect_same(a, b, call);
  }
  EXPECT_NE(two.work().workers, nullptr);
  EXPECT_EQ(one.MVNUNI(), two.MVNUNI());
}

// KESTREL_THREADS sets the number of threads; values that are not a whole number of at least 1
// leave the default, the number of hardware threads.
TEST(ParallelLattice, EnvironmentVariableSetsTheNumberOfThreads) {
  const char* saved = std::getenv("KESTREL_THREADS");
  const std::string keep = saved ? saved : "";
  const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  const struct {
    const char* value;
    int threads;
  } cases[] = {{"1", 1}, {"2", 2}, {"6", 6}, {"64", 64}, {"100000", 256}, {"0", cores}, {"-3", cores}, {"many", cores},
               {"3.5", cores}, {"3junk", cores}, {"1e9", cores}, {"", cores}, {" 3", cores},
               {"99999999999999999999", 256}};
  for (const auto& c : cases) {
    setenv("KESTREL_THREADS", c.value, 1);
    MvnState s;
    EXPECT_EQ(s.threads(), c.threads) << c.value;
  }
  unsetenv("KESTREL_THREADS");
  {
    MvnState s;
    EXPECT_EQ(s.threads(), std::min(cores, 256));
  }
  setenv("KESTREL_THREADS", "1", 1);
  {
    // One thread never starts a worker.
    MvnState s;
    const Problem p = problems()[2];
    MVNDST(p.n(), p.lower.data(), p.upper.data(), p.infin.data(), p.correl.data(), 200000, 1e-14, 0, s);
    EXPECT_EQ(s.work().workers, nullptr);
  }
  if (saved) {
    setenv("KESTREL_THREADS", keep.c_str(), 1);
  } else {
    unsetenv("KESTREL_THREADS");
  }
}

}  // namespace
}  // namespace kestrel::mvn
