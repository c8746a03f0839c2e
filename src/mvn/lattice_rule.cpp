// Randomized Korobov lattice rules with the baker's transformation (Genz's DKBVRC/DKSMRC), the
// separation-of-variables integrand, and the small combined generator that randomizes the rules.
#include <algorithm>
#include <cmath>

#include "mvn/integration_detail.h"
#include "mvn/kernels.h"

namespace kestrel::mvn {

namespace {
constexpr int kPlim = 28;     // number of lattice sizes
constexpr int kNlim = 1000;   // largest lattice dimension
constexpr int kKlim = 100;    // dimensions covered by the generator table
constexpr int kMinsmp = 8;    // minimum number of randomized samples
}  // namespace

// L'Ecuyer's combined multiple recursive generator (1996), two components of order 3, each
// product formed by Schrage's decomposition.
double MvnState::MVNUNI() {
  constexpr std::int64_t m1 = 2147483647, m2 = 2145483479;
  constexpr std::int64_t a12 = 63308, q12 = 33921, r12 = 12979;
  constexpr std::int64_t a13 = -183326, q13 = 11714, r13 = 2883;
  constexpr std::int64_t a21 = 86098, q21 = 24919, r21 = 7417;
  constexpr std::int64_t a23 = -539608, q23 = 3976, r23 = 2071;
  constexpr double invmp1 = 4.656612873077392578125e-10;  // 1/(m1 + 1)
  std::int64_t h = x10_ / q13;
  std::int64_t p13 = -a13 * (x10_ - h * q13) - h * r13;
  h = x11_ / q12;
  std::int64_t p12 = a12 * (x11_ - h * q12) - h * r12;
  if (p13 < 0) p13 += m1;
  if (p12 < 0) p12 += m1;
  x10_ = x11_;
  x11_ = x12_;
  x12_ = p12 - p13;
  if (x12_ < 0) x12_ += m1;
  h = x20_ / q23;
  std::int64_t p23 = -a23 * (x20_ - h * q23) - h * r23;
  h = x22_ / q21;
  std::int64_t p21 = a21 * (x22_ - h * q21) - h * r21;
  if (p23 < 0) p23 += m2;
  if (p21 < 0) p21 += m2;
  x20_ = x21_;
  x21_ = x22_;
  x22_ = p21 - p23;
  if (x22_ < 0) x22_ += m2;
  std::int64_t z = x12_ - x22_;
  if (z <= 0) z += m1;
  return static_cast<double>(z) * invmp1;
}

double MVNDFN(int ndim, const double* w, const MvnState::Work& work) {
  const double* cov = work.cov.data();
  const double* a = work.a.data();
  const double* b = work.b.data();
  const int* infi = work.infi.data();
  // Expected values are written as the walk goes; the work copy is only read by the caller.
  double* y = const_cast<double*>(work.y.data());
  double value = 1;
  int infa = 0, infb = 0, ik = 1, ij = 0;
  double ai = 0, bi = 0;
  for (int i = 1; i <= ndim + 1; ++i) {
    double sum = 0;
    const int terms = std::min(i - 1, ik - 1);
    for (int j = 1; j <= terms; ++j) sum = sum + cov[ij + j] * y[j];
    ij = ij + i;
    if (infi[i] != 0) {
      if (infa == 1) {
        ai = std::max(ai, a[i] - sum);
      } else {
        ai = a[i] - sum;
        infa = 1;
      }
    }
    if (infi[i] != 1) {
      if (infb == 1) {
        bi = std::min(bi, b[i] - sum);
      } else {
        bi = b[i] - sum;
        infb = 1;
      }
    }
    if (i == ndim + 1 || cov[ij + ik + 1] > 0) {
      double di, ei;
      detail::mvnlms(ai, bi, 2 * infa + infb - 1, di, ei);
      if (di >= ei) return 0;
      value = value * (ei - di);
      if (i <= ndim) y[ik] = detail::phinvs(di + w[ik] * (ei - di));
      ++ik;
      infa = 0;
      infb = 0;
    }
  }
  return value;
}

void build_integrand_plan(int nd, MvnState::Work& w) {
  const double* cov = w.cov.data();
  const int* infi = w.infi.data();
  w.plan.resize(static_cast<size_t>(nd));
  int ik = 1, ij = 0, infa = 0, infb = 0;
  for (int i = 1; i <= nd; ++i) {
    IntegrandRow& r = w.plan[static_cast<size_t>(i - 1)];
    r = IntegrandRow{};
    r.terms = std::min(i - 1, ik - 1);
    r.cov_offset = ij;
    ij = ij + i;
    if (infi[i] != 0) {
      r.lower_mode = infa == 1 ? 2 : 1;
      infa = 1;
    }
    if (infi[i] != 1) {
      r.upper_mode = infb == 1 ? 2 : 1;
      infb = 1;
    }
    if (i == nd || cov[ij + ik + 1] > 0) {
      r.closes = true;
      r.type = 2 * infa + infb - 1;
      r.draws = i < nd;
      r.run = ik;
      ++ik;
      infa = 0;
      infb = 0;
    }
  }
}

namespace {

// One randomized, symmetrized lattice sum: random reordering of the first generators, a random
// shift, the baker's transformation and the antithetic point of every lattice point.
double DKSMRC(int ndim, int klim, int prime, double* vk, double* x, MvnState& state) {
  double sumkro = 0;
  const int nk = std::min(ndim, klim);
  for (int j = 1; j <= nk - 1; ++j) {
    const int jp = static_cast<int>(static_cast<double>(j) + state.MVNUNI() * static_cast<double>(nk + 1 - j));
    std::swap(vk[j], vk[jp]);
  }
  for (int j = 1; j <= ndim; ++j) x[ndim + j] = state.MVNUNI();
  const MvnState::Work& work = state.work();
  for (int k = 1; k <= prime; ++k) {
    for (int j = 1; j <= ndim; ++j) {
      const double t = static_cast<double>(k) * vk[j] + x[ndim + j];
      x[j] = std::fabs(2 * (t - std::trunc(t)) - 1);
    }
    sumkro = sumkro + (MVNDFN(ndim, x, work) - sumkro) / (2 * k - 1);
    for (int j = 1; j <= ndim; ++j) x[j] = 1 - x[j];
    sumkro = sumkro + (MVNDFN(ndim, x, work) - sumkro) / (2 * k);
  }
  return sumkro;
}

}  // namespace

LatticeResult DKBVRC(int ndim, long long minvls, long long maxvls, double abseps, double releps,
                     MvnState& state) {
  using detail::kLatticeGenerators;
  using detail::kLatticePrimes;
  MvnState::Work& work = state.work();
  double* vk = work.vk.data();
  double* x = work.x.data();
  LatticeResult out;
  out.inform = 1;
  long long intvls = 0;
  double finest = 0, varest = 0, abserr = 0;
  long long sampls = kMinsmp;
  int np = 1;  // 1-based lattice index
  // Lattice sizes are prime(np); the starting size is the first with enough points.
  auto prime = [](int i) { return static_cast<long long>(kLatticePrimes[i - 1]); };
  if (minvls >= 0) {
    bool found = false;
    for (int i = std::min(ndim, 10); i <= kPlim; ++i) {
      np = i;
      if (minvls < 2 * sampls * prime(i)) {
        found = true;
        break;
      }
    }
    if (!found) sampls = std::max<long long>(kMinsmp, minvls / (2 * prime(np)));
  }
  for (;;) {
    const long long p = prime(np);
    vk[1] = 1.0 / static_cast<double>(p);
    long long k = 1;
    for (int i = 2; i <= ndim; ++i) {
      if (i <= kKlim) {
        k = (kLatticeGenerators[np - 1][std::min(ndim - 1, kKlim - 1) - 1] * k) % p;
        vk[i] = static_cast<double>(k) * vk[1];
      } else {
        double v = std::trunc(static_cast<double>(p) *
                              std::pow(2.0, static_cast<double>(i - kKlim) / static_cast<double>(ndim - kKlim + 1)));
        v = v / static_cast<double>(p);
        vk[i] = v - std::trunc(v);
      }
    }
    double finval = 0, varsqr = 0;
    for (long long i = 1; i <= sampls; ++i) {
      const double value = DKSMRC(ndim, kKlim, static_cast<int>(p), vk, x, state);
      const double difint = (value - finval) / static_cast<double>(i);
      finval = finval + difint;
      varsqr = static_cast<double>(i - 2) * varsqr / static_cast<double>(i) + difint * difint;
    }
    intvls = intvls + 2 * sampls * p;
    const double varprd = varest * varsqr;
    finest = finest + (finval - finest) / (1 + varprd);
    if (varsqr > 0) varest = (1 + varprd) / varsqr;
    abserr = 7 * std::sqrt(varsqr / (1 + varprd)) / 2;
    if (abserr > std::max(abseps, std::fabs(finest) * releps)) {
      if (np < kPlim) {
        ++np;
      } else {
        sampls = std::min(3 * sampls / 2, (maxvls - intvls) / (2 * p));
        sampls = std::max<long long>(kMinsmp, sampls);
      }
      if (intvls + 2 * sampls * prime(np) <= maxvls) continue;
    } else {
      out.inform = 0;
    }
    break;
  }
  out.finest = finest;
  out.abserr = abserr;
  out.intvls = intvls;
  return out;
}

}  // namespace kestrel::mvn
