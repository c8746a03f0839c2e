#pragma once
// Information sets built from a Gaussian process rather than the survival layer: the two
// endpoints' score processes are Brownian motions B1, B2 on a common clock with cross-covariance
// rho d(clock); EP1 is observed at clock values FINF1, EP2 at FINF2. Then the statistic of
// analysis u and v of one endpoint correlate as sqrt(I(u)/I(v)) and EP1 at i with EP2 at j as
// rho min(FINF1(i), FINF2(j)) / sqrt(FINF1(i) FINF2(j)), a valid joint law for any rho in [-1, 1].
#include <cmath>
#include <vector>

#include "common/information_set.h"
#include "samplesize/power.h"
#include "survival/correlation_matrix.h"

namespace kestrel::samplesize::testing {

inline InformationSet synthetic_set(int K, double rho, double ta = 2.0, double tf = 3.0) {
  InformationSet s;
  s.K = K;
  for (int k = 1; k <= K; ++k) {
    const size_t i = static_cast<size_t>(k - 1);
    const double f = static_cast<double>(k) / K;
    s.TCAL[i] = ta + tf * f;
    s.FENR[i] = 1.0;
    s.FINF1[i] = f;
    s.FINF2[i] = std::pow(f, 0.8);  // EP2's information runs ahead of EP1's
    s.DRF1[i] = -0.13;
    s.DRF2[i] = -0.11;
    s.VAR01[i] = 1.0;
    s.VAR11[i] = 0.95;
    s.VAR02[i] = 1.0;
    s.VAR12[i] = 0.97;
  }
  for (int i = 0; i < K; ++i)
    for (int j = 0; j < K; ++j) {
      const double a = s.FINF1[static_cast<size_t>(i)], b = s.FINF2[static_cast<size_t>(j)];
      s.CORR12[static_cast<size_t>(i)][static_cast<size_t>(j)] =
          rho * std::min(a, b) / std::sqrt(a * b);
    }
  return s;
}

// Bounds of the O'Brien-Fleming shape 2.0 / sqrt(t): any bounds serve the identities tested.
inline std::vector<double> shaped_bounds(const AnalysisArray& t, int K, double c) {
  std::vector<double> z(static_cast<size_t>(K));
  for (int k = 0; k < K; ++k) z[static_cast<size_t>(k)] = c / std::sqrt(t[static_cast<size_t>(k)]);
  return z;
}

inline PowerProblem synthetic_problem(int rule, int K, double rho) {
  PowerProblem pb;
  pb.rule = decision_rule(rule);
  pb.K = K;
  pb.TYPE1 = 0.025;
  pb.model.treatment_share = 0.5;
  pb.model.hazard_ratio[0] = 0.7;
  pb.model.hazard_ratio[1] = 0.75;
  pb.model.control_survival[0] = 0.4;
  pb.model.control_survival[1] = 0.55;
  pb.model.accrual_period = 2.0;
  pb.model.follow_up = 3.0;
  pb.set = synthetic_set(K, rho, pb.model.accrual_period, pb.model.follow_up);
  pb.RCORR = survival::ZCORR01(K, pb.set.FINF1, pb.set.FINF2, pb.set.CORR12);
  pb.ZB1 = shaped_bounds(pb.set.FINF1, K, 2.0);
  pb.ZB2 = shaped_bounds(pb.set.FINF2, K, 2.1);
  return pb;
}

}  // namespace kestrel::samplesize::testing
