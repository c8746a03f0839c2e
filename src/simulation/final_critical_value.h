#pragma once
// Final critical value of one endpoint recomputed so that the group sequential test spends
// exactly alpha for the given information fractions, the earlier critical values kept.
#include <vector>

namespace kestrel::numerics {
class UniformGenerator;
}
namespace kestrel::mvn {
class MvnState;
}

namespace kestrel::simulation {

struct FinalCriticalValueTrace {
  int evaluations = 0;     // probability evaluations (MVNDF calls)
  int secant_steps = 0;
  bool converged = false;  // |P - alpha| <= 1e-5 reached
};

// t[0..K-1]: information fractions; c[0..K-1]: critical values, c[K-1] the starting point.
// Finds x with P(some Z_k > c_k, c_K = x) = alpha by secant steps from c[K-1] and c[K-1] + 0.001,
// the statistics having correlation sqrt(t_i / t_j) (i < j). Stops when within 1e-5 of alpha,
// after 50 secant steps, or when two successive probabilities are equal; in the last two cases
// the point closest to alpha so far is taken. The result is also left in c[K-1].
// The strict lower triangle, by rows, of the correlations sqrt(t_j / t_i), j < i.
std::vector<double> fraction_correlations(int K, const double* t);

double FNLCVL(int K, const double* t, double* c, double alpha, mvn::MvnState& mvn,
              numerics::UniformGenerator& gen, FinalCriticalValueTrace* trace = nullptr);

}  // namespace kestrel::simulation
