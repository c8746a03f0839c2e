// The work storage of the integration is sized once per dimension: later calls of the same or a
// smaller dimension allocate nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kestrel::mvn {
namespace {

TEST(MvnWork, NoAllocationAfterTheFirstCallOfADimension) {
  MvnState state;
  numerics::UniformGenerator gen([] { return std::int32_t{99}; });
  const int n = 6;
  std::vector<double> limits = {2.5, 2.2, 2.0, 2.6, 2.3, 1.9};
  std::vector<int> infin = {0, 0, 0, 0, 0, 1};
  // Independent variables: the integrand is constant, so one lattice size settles each call and
  // the test stays quick while walking the whole integration path.
  std::vector<double> correl(n * (n - 1) / 2, 0.0);
  const long start = g_allocations.load();
  MVNDF_detail(n, limits.data(), limits.data(), infin.data(), correl.data(), state, gen);
  const long before = g_allocations.load();
  EXPECT_GT(before, start);  // the first call sizes the storage
  for (int m : {6, 4, 3, 5}) {
    const MvnResult r = MVNDF_detail(m, limits.data(), limits.data(), infin.data(), correl.data(), state, gen);
    // Three and four variables are integrated by conditioning on the first, without the lattice rules.
    if (m > 4) {
      EXPECT_GT(r.evaluations, 0) << m;
    }
    EXPECT_STREQ(r.method, m <= 4 ? "conditioned" : "weighted-lattice") << m;
  }
  EXPECT_EQ(g_allocations.load(), before);
}

}  // namespace
}  // namespace kestrel::mvn
