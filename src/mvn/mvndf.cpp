// Rectangle probabilities of the standard multivariate normal law: Genz's driver and the
// four-attempt wrapper with a growing budget of integrand values.
#include "common/fp_contract.h"

#include "mvn/mvndf.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <cstring>
#include <unordered_map>

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

// Rectangles computed since the generator last restarted, by their rounded description.
struct MvnState::Memo {
  struct Hash {
    size_t operator()(const std::vector<std::int64_t>& key) const {
      std::uint64_t h = 1469598103934665603ULL;
      for (const std::int64_t v : key) h = (h ^ static_cast<std::uint64_t>(v)) * 1099511628211ULL;
      return static_cast<size_t>(h);
    }
  };
  std::unordered_map<std::vector<std::int64_t>, MvnResult, Hash> values;
  std::vector<std::int64_t> key;
};

MvnState::MvnState() : work_(std::make_unique<Work>()), memo_(std::make_unique<Memo>()) {}
MvnState::~MvnState() = default;
void MvnState::forget_rectangles() { memo_->values.clear(); }

namespace {

// A real rounded to 1e-12 (its bits when it is too large for that or not finite).
std::int64_t rounded(double x) {
  if (std::isfinite(x) && std::fabs(x) < 1e6) return std::llround(x * 1e12);
  std::int64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

// The description of a rectangle that decides its value: dimension, accuracy, method, per
// variable its type and the limits that type uses, the correlations.
void describe(std::vector<std::int64_t>& key, int n, const double* upper, const double* lower, const int* infin,
              const double* correl, const MvnState& state) {
  key.clear();
  key.push_back(n);
  key.push_back(rounded(state.accuracy() * 1e12));
  key.push_back(static_cast<std::int64_t>(state.method()));
  for (int i = 0; i < n; ++i) {
    const int t = infin[i] < 0 ? -1 : infin[i];
    key.push_back(t);
    if (t == 1 || t == 2) key.push_back(rounded(lower[i]));
    if (t == 0 || t == 2) key.push_back(rounded(upper[i]));
  }
  const long long nc = static_cast<long long>(n) * (n - 1) / 2;
  for (long long i = 0; i < nc; ++i) key.push_back(rounded(correl[i]));
}

constexpr size_t kMemoLimit = 20000;  // rectangles remembered at most (then forgotten together)

}  // namespace

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

// Gauss-Kronrod 7-15 nodes and weights on [-1, 1].
constexpr double kGkNodes[8] = {0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
                                0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
                                0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
                                0.207784955007898467600689403773245, 0.000000000000000000000000000000000};
constexpr double kGkWeights[8] = {0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
                                  0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
                                  0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
                                  0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
constexpr double kGaussWeights[4] = {0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
                                     0.381830050505118944950369775488975, 0.417959183673469387755102040816327};
constexpr double kFar = 10;  // phi(10) < 1e-22: the first variable's interval is cut there
constexpr int kMaxPieces = 400;

// Standard normal density.
double normal_density(double y) { return std::exp(-0.5 * y * y) / 2.5066282746310002; }

// Adaptive Gauss-Kronrod quadrature of f over [lo, hi], starting from pieces of width at most 1
// (so that narrow features are seen) and halving the piece of largest error estimate until the
// estimates add up to at most `tolerance` or kMaxPieces pieces are in use. Returns the sum of
// the estimates as the error.
template <class F>
double adaptive_quadrature(double lo, double hi, double tolerance, const F& f, double& error) {
  struct Piece {
    double lo, hi, value, error;
  };
  auto rule = [&](double l, double h) {
    const double c = (l + h) / 2, hw = (h - l) / 2;
    const double fc = f(c);
    double k = kGkWeights[7] * fc, g = kGaussWeights[3] * fc;
    for (int j = 0; j < 7; ++j) {
      const double f1 = f(c - hw * kGkNodes[j]), f2 = f(c + hw * kGkNodes[j]);
      k += kGkWeights[j] * (f1 + f2);
      if (j % 2 == 1) g += kGaussWeights[j / 2] * (f1 + f2);
    }
    return Piece{l, h, k * hw, std::fabs((k - g) * hw)};
  };
  std::array<Piece, kMaxPieces> pieces;  // on the stack: nothing is allocated per probability
  int count = 0;
  const int n0 = std::max(1, static_cast<int>(std::ceil(hi - lo)));
  for (int i = 0; i < n0; ++i) pieces[static_cast<size_t>(count++)] = rule(lo + (hi - lo) * i / n0, lo + (hi - lo) * (i + 1) / n0);
  for (;;) {
    double total_error = 0;
    size_t worst = 0;
    for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
      total_error += pieces[i].error;
      if (pieces[i].error > pieces[worst].error) worst = i;
    }
    if (total_error <= tolerance || count >= kMaxPieces) {
      double value = 0;
      for (size_t i = 0; i < static_cast<size_t>(count); ++i) value += pieces[i].value;
      error = total_error;
      return value;
    }
    const Piece p = pieces[worst];
    const double mid = (p.lo + p.hi) / 2;
    pieces[worst] = rule(p.lo, mid);
    pieces[static_cast<size_t>(count++)] = rule(mid, p.hi);
  }
}

// Three variables y1 + 0, y2 + c21 y1, y3 + c31 y1 + c32 y2 of independent standard normal y in
// their intervals (lower ends a, upper ends b, limit types as infin): the integral over y1 of its
// density times the bivariate normal probability of the other two given y1 (the same
// transformation as the two-variable shortcut),
//   P = integral over y1 in [a1, b1] of phi(y1) BVN(I2 - c21 y1, (I3 - c31 y1) / d; c32 / d),
//   d = sqrt(1 + c32^2).
// The integrand is smooth (analytic) in y1, so adaptive quadrature reaches the accuracy of the
// bivariate function with a few hundred evaluations.
double trivariate_by_conditioning(const double* a, const double* b, const int* infi, double c21, double c31,
                                  double c32, double tolerance, double& error) {
  const double d = std::sqrt(1 + c32 * c32), r = c32 / d;
  const int types[2] = {infi[1], infi[2]};
  const double lo = infi[0] != 0 ? std::max(a[0], -kFar) : -kFar;
  const double hi = infi[0] != 1 ? std::min(b[0], kFar) : kFar;
  error = 0;
  if (!(lo < hi)) return 0;
  auto f = [&](double y) {
    const double lower[2] = {a[1] - c21 * y, (a[2] - c31 * y) / d};
    const double upper[2] = {b[1] - c21 * y, (b[2] - c31 * y) / d};
    return normal_density(y) * BVNMVN(lower, upper, types, r);
  };
  return adaptive_quadrature(lo, hi, tolerance, f, error);
}

// Three effective variables with a nonsingular factor (rows scaled to a unit diagonal): the
// first sorted variable integrated out numerically against the bivariate probability of the
// other two. The lattice rules, whose integrand has the steep ends of the inverse normal
// function, often miss 1e-8 after millions of values; this reaches 1e-14. Returns false when
// the factor is singular (the lattice rules answer).
bool conditioned_trivariate(const MvnState::Work& w, double& value, double& error) {
  const double* cov = w.cov.data();
  if (!(cov[1] > 0 && cov[3] > 0 && cov[6] > 0)) return false;
  value = trivariate_by_conditioning(w.a.data() + 1, w.b.data() + 1, w.infi.data() + 1, cov[2], cov[4], cov[5],
                                     1e-14, error);
  error = std::max(error, 1e-15);
  return true;
}

// Four effective variables: the first sorted variable y1 integrated out numerically against the
// three-variable probability of the others given y1 (their intervals moved by c_i1 y1, their
// factor rows 2..4 unchanged), itself by conditioning. Each inner probability is asked for a
// tenth of the accuracy, and the outer quadrature for a tenth: the error estimate is the outer
// one plus the largest inner one. Returns false when the factor is singular.
bool conditioned_quadrivariate(const MvnState::Work& w, double accuracy, double& value, double& error) {
  const double* cov = w.cov.data();
  const double* a = w.a.data();
  const double* b = w.b.data();
  const int* infi = w.infi.data();
  if (!(cov[1] > 0 && cov[3] > 0 && cov[6] > 0 && cov[10] > 0)) return false;
  const double lo = infi[1] != 0 ? std::max(a[1], -kFar) : -kFar;
  const double hi = infi[1] != 1 ? std::min(b[1], kFar) : kFar;
  value = 0;
  error = 1e-15;
  if (!(lo < hi)) return true;
  const double inner_tolerance = accuracy / 10;
  double worst_inner = 0;
  auto f = [&](double y) {
    const double lower[3] = {a[2] - cov[2] * y, a[3] - cov[4] * y, a[4] - cov[7] * y};
    const double upper[3] = {b[2] - cov[2] * y, b[3] - cov[4] * y, b[4] - cov[7] * y};
    double e = 0;
    const double p = trivariate_by_conditioning(lower, upper, infi + 2, cov[5], cov[8], cov[9], inner_tolerance, e);
    worst_inner = std::max(worst_inner, e);
    return normal_density(y) * p;
  };
  double outer = 0;
  value = adaptive_quadrature(lo, hi, accuracy / 10, f, outer);
  error = std::max(outer + worst_inner, 1e-15);
  return true;
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
  if ((nd == 3 || nd == 4) && state.method() != LatticeMethod::restart) {
    double v = 0, err = 0;
    const bool done = nd == 3 ? conditioned_trivariate(w, v, err) : conditioned_quadrivariate(w, state.accuracy(), v, err);
    if (done && err <= state.accuracy()) {
      r.value = v;
      r.error = err;
      r.method = "conditioned";
      return r;
    }
  }
  build_integrand_plan(nd, w);
  r.method = state.method() == LatticeMethod::weighted ? "weighted-lattice" : "lattice-continued";
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
  MvnState::Memo* memo = nullptr;
  MvnResult r;
  if (state.reuse() && n >= 4 && n <= kMaxDim) {
    memo = &state.memo();
    describe(memo->key, n, upper, lower, infin, correl, state);
    const auto it = memo->values.find(memo->key);
    if (it != memo->values.end()) {
      r = it->second;
      r.method = "reused";
      r.attempts = 0;
      r.evaluations = r.total_evaluations = 0;
      memo = nullptr;
    }
  }
  if (r.method[0] == '\0') {
    r = state.method() == LatticeMethod::restart
            ? attempts_restarting(n, upper, lower, infin, correl, state, gen)
            : attempts_continuing(n, upper, lower, infin, correl, state, gen);
    if (memo != nullptr) {
      if (memo->values.size() >= kMemoLimit) memo->values.clear();
      memo->values.emplace(memo->key, r);
    }
  }
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
