// Rectangle probabilities of the standard multivariate normal law: Genz's driver and the
// four-attempt wrapper with a growing budget of integrand values.
#include "common/fp_contract.h"

#include "mvn/mvndf.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "mvn/integration_detail.h"
#include "numerics/uniform_generator.h"

namespace kestrel::mvn {

namespace {
constexpr int kMaxDim = 500;
constexpr int kLatticeDim = 1000;

// KESTREL_MVN_PROFILE=1 writes one line per probability to standard error: dimension, attempts,
// integrand values of all attempts and of the last, status and error estimate of the last,
// value and seconds. For profiling only; off unless the variable is set.
bool profiling() {
  static const bool on = [] {
    const char* v = std::getenv("KESTREL_MVN_PROFILE");
    return v != nullptr && v[0] == '1';
  }();
  return on;
}
}  // namespace

void MvnState::Work::reserve(int n) {
  if (n <= capacity) return;
  const size_t m = static_cast<size_t>(n);
  cov.resize(m * (m + 1) / 2 + 1);
  a.resize(m + 2);
  b.resize(m + 2);
  y.resize(m + 2);
  infi.resize(m + 2);
  if (vk.empty()) {
    vk.resize(kLatticeDim + 1);
    x.resize(2 * kLatticeDim + 1);
  }
  plan.reserve(m);
  lane_w.reserve(m * kIntegrandLanes);
  lane_y.reserve(m * kIntegrandLanes);
  capacity = n;
}

MvnState::MvnState() : work_(std::make_unique<Work>()) {}
MvnState::~MvnState() = default;

MvnResult MVNDST(int n, const double* lower, const double* upper, const int* infin, const double* correl,
                 long long maxpts, double abseps, double releps, MvnState& state) {
  MvnResult r;
  if (n > kMaxDim || n < 1) {
    r.inform = 2;
    r.value = 0;
    r.error = 1;
    return r;
  }
  MvnState::Work& w = state.work();
  w.reserve(n);
  double d = 0, e = 0;
  const int infis = MVNSETUP(n, correl, lower, upper, infin, w, d, e);
  const int nd = n - infis;
  if (nd == 0) {
    r.value = 1;
    r.error = 0;
  } else if (nd == 1) {
    r.value = e - d;
    r.error = 2e-16;
  } else {
    build_integrand_plan(nd, w);
    const LatticeResult lr = DKBVRC(nd - 1, 0, maxpts, abseps, releps, state);
    r.value = lr.finest;
    r.error = lr.abserr;
    r.inform = lr.inform;
    r.evaluations = lr.intvls;
  }
  r.total_evaluations = r.evaluations;
  return r;
}

MvnResult MVNDF_detail(int n, const double* upper, const double* lower, const int* infin,
                       const double* correl, MvnState& state, numerics::UniformGenerator& gen) {
  // The limits, types and correlations are only read, so the caller's arrays stay unchanged.
  MvnResult r;
  long long total = 0;
  int attempts = 0;
  const bool profile = profiling();
  const auto started = profile ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
  const long long n3 = n >= 1 && n <= kMaxDim ? static_cast<long long>(n) * n * n : 0;
  long long m = 0;
  for (int k = 1;; ++k) {
    m = m + 5000LL * k;
    // The budget m n^3 exceeds 32 bits above n = 34; it is capped at the largest 32-bit value.
    const long long maxpts = std::min<long long>(m * n3, std::numeric_limits<std::int32_t>::max());
    const std::int32_t seed = gen.GETSEED();
    gen.SETSEED(seed);
    r = MVNDST(n, lower, upper, infin, correl, maxpts, state.accuracy(), state.accuracy(), state);
    total += r.evaluations;
    ++attempts;
    if (m >= 50000 || r.inform != 1) break;
    r.inform = 0;
  }
  r.total_evaluations = total;
  if (profile) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "mvn n=%d attempts=%d points=%lld last=%lld inform=%d error=%.3e value=%.10e s=%.4f\n", n,
                 attempts, total, r.evaluations, r.inform, r.error, r.value, seconds);
  }
  return r;
}

double MVNDF(int n, const double* upper, const double* lower, const int* infin, const double* correl,
             MvnState& state, numerics::UniformGenerator& gen) {
  return MVNDF_detail(n, upper, lower, infin, correl, state, gen).value;
}

}  // namespace kestrel::mvn
