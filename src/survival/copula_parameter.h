#pragma once
// The copula parameter whose Pearson correlation of the two event times (unit-exponential margins,
// TERM4 - 1) equals a stated correlation.
#include <ostream>

namespace kestrel::survival {

struct CopulaParameter {
  double theta = 0.0;
  int iterations = 0;  // secant steps (Clayton, positive stable); Frank leaves it 0
  // Frank: whether the Newton search reached its tolerance (1e-9 in correlation), and the
  // correlation it reached closest to the target, with its parameter.
  bool converged = true;
  double reached = 0.0;
  double best_theta = 0.0;
};

CopulaParameter CORRCLYTN(int N, double rho);
CopulaParameter CORRPSTBL(int N, double rho);
// Writes its Newton trace to the main report.
CopulaParameter CORRFRANK(int N, double rho, std::ostream& main_report);

}  // namespace kestrel::survival
