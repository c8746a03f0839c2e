// Writes src/mvn/weighted_lattices.inc: for each lattice size of the randomized lattice rules, a
// rank-1 lattice generating vector built component by component for product weights
// gamma_j = 0.7^(j-1) (the variables after Genz's ordering matter less the later they come).
//
// Component j (2..kDims) is the z in 1..N-1 that minimises the squared worst-case error of the
// lattice in the weighted Korobov space of smoothness 2,
//   e^2(z_1..z_j) = -1 + (1/N) sum_k prod_{i<=j} (1 + gamma_i 2 pi^2 B2({k z_i / N})),
// B2(x) = x^2 - x + 1/6, the earlier components fixed: every candidate at once by the fast
// construction of Nuyens and Cools (with a primitive root g of N, k = g^b and z = g^a turn the
// sums into one cyclic correlation of length N - 1, done by FFT). The vectors are extensible: the
// first d components serve every dimension d. Nothing is random, so the table is the same on
// every run.
//
//   g++ -O2 -std=c++20 -pthread tools/weighted_lattices.cpp -o /tmp/weighted_lattices
//   /tmp/weighted_lattices > src/mvn/weighted_lattices.inc     (a few minutes on two cores)
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kDims = 100;      // components per vector (dimensions covered)
constexpr double kDecay = 0.7;  // gamma_j = kDecay^(j-1)

// The lattice sizes of the randomized lattice rules (the published table).
constexpr long long kPrimes[28] = {31,     47,     73,     113,    173,    263,    397,     593,     907,    1361,
                                   2053,   3079,   4621,   6947,   10427,  15641,  23473,   35221,   52837,  79259,
                                   118891, 178349, 267523, 401287, 601943, 902933, 1354471, 2031713};

using Complex = std::complex<double>;

// In-place radix-2 FFT of a power-of-two length; inverse without the 1/n factor.
void fft(std::vector<Complex>& a, bool inverse) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = (inverse ? 2 : -2) * M_PI / static_cast<double>(len);
    std::vector<Complex> w(len / 2);
    for (size_t k = 0; k < len / 2; ++k) w[k] = std::polar(1.0, angle * static_cast<double>(k));
    for (size_t i = 0; i < n; i += len)
      for (size_t k = 0; k < len / 2; ++k) {
        const Complex u = a[i + k], v = a[i + k + len / 2] * w[k];
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
  }
}

long long power_mod(long long b, long long e, long long m) {
  long long r = 1;
  for (b %= m; e > 0; e >>= 1, b = b * b % m)
    if (e & 1) r = r * b % m;
  return r;
}

long long primitive_root(long long p) {
  std::vector<long long> factors;
  long long m = p - 1;
  for (long long f = 2; f * f <= m; ++f)
    if (m % f == 0) {
      factors.push_back(f);
      while (m % f == 0) m /= f;
    }
  if (m > 1) factors.push_back(m);
  for (long long g = 2;; ++g) {
    bool ok = true;
    for (const long long f : factors) ok = ok && power_mod(g, (p - 1) / f, p) != 1;
    if (ok) return g;
  }
}

std::vector<long long> construct(long long N) {
  const size_t n = static_cast<size_t>(N - 1);
  const long long g = primitive_root(N);
  std::vector<long long> gp(n);  // g^b mod N
  gp[0] = 1;
  for (size_t b = 1; b < n; ++b) gp[b] = gp[b - 1] * g % N;
  auto omega = [N](long long k) {
    const double x = static_cast<double>(k) / static_cast<double>(N);
    return 2 * M_PI * M_PI * (x * x - x + 1.0 / 6);
  };
  size_t M = 1;
  while (M < 2 * n) M <<= 1;
  // T(a) = sum_b u[b] v[(a + b) mod n], u[b] = prod(g^b), v[c] = omega(g^c): the convolution of
  // u reversed with v repeated twice, read at a + n - 1.
  std::vector<Complex> V(M), U(M);
  for (size_t c = 0; c < 2 * n && c < M; ++c) V[c] = omega(gp[c % n]);
  fft(V, false);
  std::vector<double> prod(n);  // prod(g^b), b = 0..n-1 (k = 0 adds the same to every candidate)
  for (size_t b = 0; b < n; ++b) prod[b] = 1 + omega(gp[b]);  // z_1 = 1
  std::vector<long long> z(kDims, 1);
  double gamma = 1;
  for (int j = 1; j < kDims; ++j) {
    gamma *= kDecay;
    std::fill(U.begin(), U.end(), Complex{});
    for (size_t b = 0; b < n; ++b) U[n - 1 - b] = prod[b];
    fft(U, false);
    for (size_t i = 0; i < M; ++i) U[i] *= V[i];
    fft(U, true);
    size_t best = 0;
    for (size_t a = 1; a < n; ++a)
      if (U[a + n - 1].real() < U[best + n - 1].real()) best = a;
    const long long chosen = gp[best];
    z[static_cast<size_t>(j)] = chosen;
    for (size_t b = 0; b < n; ++b) prod[b] *= 1 + gamma * omega(gp[b] * chosen % N);
  }
  return z;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {  // one lattice size, components on one line (for checking)
    for (const long long v : construct(std::atoll(argv[1]))) std::printf("%lld ", v);
    std::printf("\n");
    return 0;
  }
  std::vector<std::vector<long long>> table(28);
  // The largest sizes first, shared between two threads.
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([t, &table] {
      for (int i = 27 - t; i >= 0; i -= 2) table[static_cast<size_t>(i)] = construct(kPrimes[i]);
    });
  for (auto& th : threads) th.join();
  std::printf("// Generated by tools/weighted_lattices.cpp; do not edit.\n");
  std::printf("// Rank-1 lattice generating vectors, component by component for product weights 0.7^(j-1)\n");
  std::printf("// in the Korobov space of smoothness 2 (every candidate, fast construction), one row per lattice\n");
  std::printf("// size of kLatticePrimes, components 1..%d (the first is 1).\n", kDims);
  std::printf("inline constexpr int kWeightedDims = %d;\n", kDims);
  std::printf("inline constexpr int kWeightedGenerators[28][%d] = {\n", kDims);
  for (int i = 0; i < 28; ++i) {
    std::printf("    {");
    for (int j = 0; j < kDims; ++j) {
      if (j > 0 && j % 10 == 0) std::printf("\n     ");
      std::printf("%lld%s", table[static_cast<size_t>(i)][static_cast<size_t>(j)], j + 1 < kDims ? ", " : "");
    }
    std::printf("}%s\n", i + 1 < 28 ? "," : "");
  }
  std::printf("};\n");
}
