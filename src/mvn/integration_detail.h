#pragma once
// Internal pieces of the multivariate normal integration, shared by its sources and tests.
// Arrays follow the packed conventions of the method: limits and types of variables 1..n kept
// at indices 1..n, the lower-triangular factor packed by rows at 1..n(n+1)/2.
#include <cstdint>
#include <memory>
#include <vector>

#include "mvn/mvndf.h"

namespace kestrel::mvn {

// One step of the integrand walk over the sorted variables, fixed by the set-up: how many earlier
// expected values enter the running sum, how the row's limits join the running interval, and
// whether the row closes a run of dependent rows (and then which type the interval has and whether
// a new expected value is drawn).
struct IntegrandRow {
  int terms = 0;        // number of products cov(row, j) y(j), j = 1..terms
  int cov_offset = 0;   // index of cov(row, 1) minus 1
  int lower_mode = 0;   // 0 none, 1 start the running lower end, 2 take the maximum
  int upper_mode = 0;   // 0 none, 1 start the running upper end, 2 take the minimum
  bool closes = false;  // the row ends a run: probabilities, product, next expected value
  int type = 0;         // limit type of the closed run
  bool draws = false;   // a new expected value y(run) follows from the cube coordinate w(run)
  int run = 0;          // 1-based index of that expected value and coordinate
};

// Number of lattice points the batched integrand evaluates side by side (a multiple of 16: the
// widest version keeps 8 vectors of 8 doubles in flight, the generic one two packs of 16 vectors
// of 2).
inline constexpr int kIntegrandLanes = 64;

// The extra threads that share the randomized lattice sums of an iteration (lattice_iterations.cpp).
class LatticeWorkers;

struct MvnState::Work {
  Work();
  ~Work();
  Work(const Work&) = delete;
  Work& operator=(const Work&) = delete;
  int capacity = -1;
  std::vector<double> cov, a, b, y;
  std::vector<int> infi;
  std::vector<double> vk, x;
  std::vector<IntegrandRow> plan;
  // Interval probabilities of the first run of rows, which do not depend on the point.
  double first_d = 0, first_e = 1;
  // Lane buffers of the batched integrand: coordinate j of lane l at (j - 1) * lanes + l.
  std::vector<double> lane_w, lane_y;
  // Threads that evaluate the lattice sums of an iteration. The random numbers are always drawn
  // in the same order and every sum adds its values in the same order, so the result does not
  // depend on it.
  int threads = 1;
  // Per-sample generator vectors, shifts and sums of one iteration, kept for the largest number
  // of samples seen: sample s at s * (ndim + 1) + j, j = 1..ndim.
  std::vector<double> sample_vk, sample_shift, sample_sum;
  // Values of one piece of a sum, when the sums are cut into pieces (this thread's share).
  std::vector<double> piece_values;
  std::unique_ptr<LatticeWorkers> workers;  // threads - 1 of them, started at the first shared iteration
  void reserve(int n);
};

// Sorting, factorisation and the direct answers for one and two effective variables. Returns
// the number of dropped variables INFIS; d, e are the interval ends in probability scale when one
// effective variable is left (after the two-variable shortcut, d = 0 and e is the answer).
int MVNSETUP(int n, const double* correl, const double* lower, const double* upper, const int* infin,
             MvnState::Work& w, double& d, double& e);

// Genz's variable prioritisation and Cholesky factorisation into w.cov, w.a, w.b, w.infi, w.y.
int COVSRT(int n, const double* lower, const double* upper, const double* correl, const int* infin,
           MvnState::Work& w);

// Swap variables p < q of an n-variable problem: limits, types and rows/columns of the factor.
void RCSWP(int p, int q, double* a, double* b, int* infin, int n, double* c);

// The integrand at the point w(1..ndim) of the unit cube (plain scalar walk).
double MVNDFN(int ndim, const double* w, const MvnState::Work& work);

// The integrand at kIntegrandLanes points at once (lane buffers of work), with the same
// operations per point as MVNDFN, so every value agrees with it to the last bit.
void integrand_lanes(int ndim, MvnState::Work& work, double* f);
// The same with caller-owned lane buffers (coordinates lw, expected values ly), so two threads
// can share one set-up.
void integrand_lanes(int ndim, const MvnState::Work& work, const double* lw, double* ly, double* f);

// Vector widths (doubles per vector) of the versions of the batched integrand that this
// processor runs, widest first. All give the same numbers; the widest is used unless another
// is chosen (0 or an unknown width: the widest again).
std::vector<int> integrand_widths();
void choose_integrand_width(int width);

// The symmetrized lattice sum of the batched integrand over points begin..end - 1 (point 2k - 2
// lattice point k, point 2k - 1 its antithetic point) for generators vk[1..ndim] and shift
// shift[1..ndim], in the version chosen above, with the lane buffers lw and ly; with `values`,
// the values of the points instead, unsummed, for a caller that adds them later.
double lattice_sum(int ndim, int begin, int end, const double* vk, const double* shift, const MvnState::Work& work,
                   double* lw, double* ly, double* values = nullptr);

// Randomized Korobov lattice rules over ndim dimensions with the integrand MVNDFN.
struct LatticeResult {
  double finest = 0, abserr = 0;
  int inform = 0;
  long long intvls = 0;
};
// `plain` selects the scalar integrand walk instead of the batched one (same numbers, slower).
LatticeResult DKBVRC(int ndim, long long minvls, long long maxvls, double abseps, double releps,
                     MvnState& state, bool plain = false);

// Where a run of the lattice rules stands: the next lattice index and number of samples, the
// integrand values spent and the variance-weighted estimate of all lattices so far. A run that
// stopped at its budget goes on from here when called again with the same progress and a larger
// budget, exactly as one run with the larger budget would have gone (the same lattices, random
// numbers and estimate), so no sum already computed is thrown away.
struct LatticeProgress {
  bool started = false;
  int np = 1;
  long long sampls = 0, intvls = 0;
  double finest = 0, varest = 0, abserr = 0;
};
LatticeResult DKBVRC(int ndim, long long minvls, long long maxvls, double abseps, double releps,
                     MvnState& state, LatticeProgress& progress, bool plain = false);

// Fills the integrand walk of the set-up problem with nd effective variables.
void build_integrand_plan(int nd, MvnState::Work& w);

}  // namespace kestrel::mvn
