#pragma once
// Rectangle probabilities of a standard multivariate normal law by Genz's method: variable
// prioritisation and Cholesky factorisation, separation of variables, randomized Korobov lattice
// rules with the baker's transformation. One and two effective dimensions are answered directly.
#include <cstdint>
#include <memory>

namespace kestrel::numerics {
class UniformGenerator;
}

namespace kestrel::mvn {

// State carried across probability calls of a run: the lattice-rule generator (MVNUNI) and the
// work storage reused between calls. The generator restarts with each design of a deck run.
// How the lattice rules run. `continued`: a probability that misses its accuracy within a budget
// goes on from the sums it has under the next, larger budget, so no integrand value is computed
// twice and the worst case costs the sum of the four budgets. `weighted` (the default): the same,
// with lattices whose generating vectors were built component by component for weights that fall
// with the variable's place in Genz's ordering (0.7^(j-1)), in that order and randomly shifted,
// instead of Genz's optimal Korobov generators in a random order: on the rectangles of the power
// sums their error estimates are about half as large for the same lattice size. `restart`: each
// of the four attempts starts the Korobov lattice rules afresh with its own budget (Genz's wrapper
// as first written; the earlier attempts' work is thrown away).
enum class LatticeMethod { weighted, continued, restart };

class MvnState {
 public:
  MvnState();
  ~MvnState();
  MvnState(const MvnState&) = delete;
  MvnState& operator=(const MvnState&) = delete;
  double MVNUNI();
  // Puts the lattice-rule generator back to its starting state. A deck run does so before each
  // design, so that a design's probabilities do not depend on the designs calculated before it.
  // It also forgets the rectangles remembered for reuse (below).
  void restart_generator() {
    x10_ = kStart[0], x11_ = kStart[1], x12_ = kStart[2];
    x20_ = kStart[3], x21_ = kStart[4], x22_ = kStart[5];
    forget_rectangles();
  }
  // Reuse of computed rectangles (off unless set; a deck run sets it): a probability asked again, since the generator
  // last restarted, with the same dimension, limit types, accuracy and method and with limits and
  // correlations equal after rounding to 1e-12, is answered with the value computed the first
  // time (the profile line's method "reused") and draws no random numbers.
  void set_reuse(bool on) { reuse_ = on; }
  bool reuse() const { return reuse_; }
  void forget_rectangles();
  struct Memo;
  Memo& memo() { return *memo_; }
  // Threads used by the lattice sums, 1 to 256. The default is the number of hardware threads,
  // or the environment variable KESTREL_THREADS when it is a whole number of at least 1 (above
  // 256 taken as 256). The numbers are the same for every setting.
  void set_threads(int n);
  int threads() const;
  // Requested absolute and relative accuracy of every probability (1e-8 unless set). A coarser
  // accuracy lets the lattice rules stop sooner: the probabilities then carry errors of about
  // that size, and the values change with it.
  void set_accuracy(double eps) { accuracy_ = eps; }
  double accuracy() const { return accuracy_; }
  void set_method(LatticeMethod m) { method_ = m; }
  LatticeMethod method() const { return method_; }
  struct Work;
  Work& work() { return *work_; }

 private:
  static constexpr std::int64_t kStart[6] = {15485857, 17329489, 36312197,
                                             55911127, 75906931, 96210113};
  std::int64_t x10_ = kStart[0], x11_ = kStart[1], x12_ = kStart[2];
  std::int64_t x20_ = kStart[3], x21_ = kStart[4], x22_ = kStart[5];
  double accuracy_ = 1e-8;
  LatticeMethod method_ = LatticeMethod::weighted;
  bool reuse_ = false;
  std::unique_ptr<Work> work_;
  std::unique_ptr<Memo> memo_;
};

struct MvnResult {
  double value = 0;
  double error = 0;
  int inform = 0;
  long long evaluations = 0;        // integrand values used (by the last attempt; continued: all)
  long long total_evaluations = 0;  // integrand values used by all attempts together
  int attempts = 0;                 // budgets tried (1 to 4)
  const char* method = "";          // what gave the value: "direct", "lattice", "lattice-continued",
                                    // "weighted-lattice", "conditioned", "reused"
};

// P(lower <= X <= upper) with limit types infin: negative free, 0 (-inf, b], 1 [a, inf), 2 [a, b];
// correl: strict lower triangle by rows (n(n-1)/2 values). Four budgets, growing, each asking for
// the state's accuracy; the state's method says whether a later budget goes on from the sums of
// the earlier ones or starts afresh.
double MVNDF(int n, const double* upper, const double* lower, const int* infin,
             const double* correl, MvnState& state, numerics::UniformGenerator& gen);
// The same, also returning the error estimate, status and number of integrand values of the
// last attempt.
MvnResult MVNDF_detail(int n, const double* upper, const double* lower, const int* infin,
                       const double* correl, MvnState& state, numerics::UniformGenerator& gen);

// Genz's driver: the same probability with requested absolute and relative accuracy and a
// budget of maxpts integrand values. inform 0: accuracy reached; 1: budget spent first;
// 2: n outside 1..500 (value 0, error 1).
MvnResult MVNDST(int n, const double* lower, const double* upper, const int* infin, const double* correl,
                 long long maxpts, double abseps, double releps, MvnState& state);

double MVNPHI(double z);
double PHINVS(double p);
double BVU(double h, double k, double r);
double BVNMVN(const double* lower, const double* upper, const int* infin, double r);

}  // namespace kestrel::mvn
