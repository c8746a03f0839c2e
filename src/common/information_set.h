#pragma once
// Per-analysis arrays of one information set (EP1-driven, EP2-driven or calendar).
// Every set holds EP1 in the slots ending in 1 and EP2 in the slots ending in 2, the EP2-driven
// set included: the sets differ only in their analysis times and what follows from them.
// Indices are 0-based: element k-1 belongs to analysis k.
#include <array>

namespace kestrel {

inline constexpr int NMAXA = 10;  // bound of every per-analysis array

using AnalysisArray = std::array<double, NMAXA>;

struct InformationSet {
  int K = 0;             // number of analyses
  AnalysisArray TCAL{};  // calendar time of each analysis
  AnalysisArray FENR{};  // fraction of the subjects enrolled
  AnalysisArray FINF1{}, FINF2{};  // information fractions (null variance ratio) of EP1, EP2
  AnalysisArray DRF1{}, DRF2{};    // mean of the log-rank score per subject
  AnalysisArray VAR01{}, VAR02{};  // variance under the null hypothesis
  AnalysisArray VAR11{}, VAR12{};  // variance under the alternative
  // CORR12[i][j]: correlation of the EP1 statistic at analysis i+1 with EP2 at analysis j+1.
  std::array<AnalysisArray, NMAXA> CORR12{};
  // With the exact covariance: the correlations of each endpoint's statistics across analyses
  // (CORR11 EP1, CORR22 EP2), which then replace the square roots of information fractions.
  bool exact = false;
  std::array<AnalysisArray, NMAXA> CORR11{}, CORR22{};
  // With piecewise hazards: the information-weighted average hazard ratio (treatment over
  // control) of EP1 and EP2 over the study, for reference; 0 without them.
  double AHR1 = 0, AHR2 = 0;
};

}  // namespace kestrel
