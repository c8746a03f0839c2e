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

namespace {

// The budget of attempt k (5000, 15000, 30000, 50000 times n^3); above n = 34 it exceeds 32 bits
// and is capped at the largest 32-bit value.
long long attempt_budget(long long m, long long n3) {
  return std::min<long long>(m * n3, std::numeric_limits<std::int32_t>::max());
}

// Each attempt starts the lattice rules afresh with its own budget.
MvnResult attempts_restarting(int n, const double* upper, const double* lower, const int* infin,
                              const double* correl, MvnState& state, numerics::UniformGenerator& gen) {
  MvnResult r;
  long long total = 0;
  int attempts = 0;
  const long long n3 = n >= 1 && n <= kMaxDim ? static_cast<long long>(n) * n * n : 0;
  long long m = 0;
  for (int k = 1;; ++k) {
    m = m + 5000LL * k;
    const long long maxpts = attempt_budget(m, n3);
    const std::int32_t seed = gen.GETSEED();
    gen.SETSEED(seed);
    r = MVNDST(n, lower, upper, infin, correl, maxpts, state.accuracy(), state.accuracy(), state);
    total += r.evaluations;
    ++attempts;
    if (m >= 50000 || r.inform != 1) break;
    r.inform = 0;
  }
  r.total_evaluations = total;
  r.attempts = attempts;
  r.method = r.total_evaluations > 0 ? "lattice" : "direct";
  return r;
}

// One set-up; each attempt adds its budget and the lattice rules go on where they stopped.
MvnResult attempts_continuing(int n, const double* upper, const double* lower, const int* infin,
                              const double* correl, MvnState& state, numerics::UniformGenerator& gen) {
  MvnResult r;
  const std::int32_t first_seed = gen.GETSEED();
  gen.SETSEED(first_seed);
  r.attempts = 1;
  r.method = "direct";
  if (n > kMaxDim || n < 1) {
    r.inform = 2;
    r.value = 0;
    r.error = 1;
    return r;
  }
  MvnState::Work& w = state.work();
  w.reserve(n);
  double d = 0, e = 0;
  const int nd = n - MVNSETUP(n, correl, lower, upper, infin, w, d, e);
  if (nd == 0) {
    r.value = 1;
    return r;
  }
  if (nd == 1) {
    r.value = e - d;
    r.error = 2e-16;
    return r;
  }
  build_integrand_plan(nd, w);
  r.method = "lattice-continued";
  const long long n3 = static_cast<long long>(n) * n * n;
  LatticeProgress progress;
  long long m = 0, budget = 0;
  for (int k = 1;; ++k) {
    m = m + 5000LL * k;
    budget += attempt_budget(m, n3);
    if (k > 1) {
      const std::int32_t seed = gen.GETSEED();
      gen.SETSEED(seed);
    }
    const LatticeResult lr = DKBVRC(nd - 1, 0, budget, state.accuracy(), state.accuracy(), state, progress);
    r.value = lr.finest;
    r.error = lr.abserr;
    r.inform = lr.inform;
    r.attempts = k;
    if (m >= 50000 || lr.inform != 1) break;
  }
  r.evaluations = r.total_evaluations = progress.intvls;
  return r;
}

}  // namespace

MvnResult MVNDF_detail(int n, const double* upper, const double* lower, const int* infin,
                       const double* correl, MvnState& state, numerics::UniformGenerator& gen) {
  // The limits, types and correlations are only read, so the caller's arrays stay unchanged.
  const bool profile = profiling();
  const auto started = profile ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
  const MvnResult r = state.method() == LatticeMethod::restart
                          ? attempts_restarting(n, upper, lower, infin, correl, state, gen)
                          : attempts_continuing(n, upper, lower, infin, correl, state, gen);
  if (profile) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr,
                 "mvn n=%d method=%s attempts=%d points=%lld last=%lld inform=%d error=%.3e value=%.10e s=%.4f\n",
                 n, r.method, r.attempts, r.total_evaluations, r.evaluations, r.inform, r.error, r.value, seconds);
  }
  return r;
}

double MVNDF(int n, const double* upper, const double* lower, const int* infin, const double* correl,
             MvnState& state, numerics::UniformGenerator& gen) {
  return MVNDF_detail(n, upper, lower, infin, correl, state, gen).value;
}

}  // namespace kestrel::mvn
