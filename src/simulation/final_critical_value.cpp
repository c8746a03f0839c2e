// Secant search for the final critical value on the exact multivariate normal exit probability.
#include "simulation/final_critical_value.h"

#include <cmath>
#include <vector>

#include "mvn/mvndf.h"

namespace kestrel::simulation {

std::vector<double> fraction_correlations(int K, const double* t) {
  std::vector<double> correl;
  correl.reserve(static_cast<size_t>(K) * (K - 1) / 2);
  for (int i = 1; i < K; ++i) {
    for (int j = 0; j < i; ++j) correl.push_back(std::sqrt(t[j] / t[i]));
  }
  return correl;
}

double FNLCVL(int K, const double* t, double* c, double alpha, mvn::MvnState& mvn,
              numerics::UniformGenerator& gen, FinalCriticalValueTrace* trace) {
  constexpr int kMaxSecantSteps = 50;
  constexpr double kTolerance = 1e-5;
  const std::vector<double> correl = fraction_correlations(K, t);
  std::vector<double> upper(c, c + K), lower(static_cast<size_t>(K), 0.0);
  std::vector<int> infin(static_cast<size_t>(K), 0);  // (-inf, upper]
  FinalCriticalValueTrace local;
  FinalCriticalValueTrace& tr = trace ? *trace : local;
  tr = FinalCriticalValueTrace{};
  auto P = [&](double x) {
    upper[static_cast<size_t>(K) - 1] = x;
    ++tr.evaluations;
    return 1.0 - mvn::MVNDF(K, upper.data(), lower.data(), infin.data(), correl.data(), mvn, gen);
  };
  double best_x = 0, best_gap = INFINITY;
  auto consider = [&](double x, double p) {
    const double gap = std::fabs(p - alpha);
    if (gap < best_gap) {
      best_gap = gap;
      best_x = x;
    }
  };
  double x1 = c[K - 1];
  double P1 = P(x1);
  double x2 = x1 + 0.001;
  double P2 = P(x2);
  consider(x1, P1);
  consider(x2, P2);
  double result = best_x;
  for (int step = 1; step <= kMaxSecantSteps; ++step) {
    if (P2 == P1) break;  // flat: no secant through two equal probabilities
    const double x3 = ((P2 - alpha) * x1 - (P1 - alpha) * x2) / (P2 - P1);
    const double P3 = P(x3);
    tr.secant_steps = step;
    consider(x3, P3);
    if (std::fabs(P3 - alpha) <= kTolerance) {
      tr.converged = true;
      best_x = x3;
      break;
    }
    x1 = x2;
    P1 = P2;
    x2 = x3;
    P2 = P3;
  }
  result = best_x;
  c[K - 1] = result;
  return result;
}

}  // namespace kestrel::simulation
