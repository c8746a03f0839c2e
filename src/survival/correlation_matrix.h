#pragma once
// Packed correlation matrices of stacked group-sequential statistics: the strict lower triangle by
// rows, entry (i, j), j < i (1-based), at 0-based position (i-1)(i-2)/2 + j - 1.
#include <vector>

#include "common/information_set.h"

namespace kestrel::survival {

using CrossCorrelation = std::array<AnalysisArray, NMAXA>;

// R11, R22 (optional): the same-endpoint correlations of the exact covariance (CORR11, CORR22 of
// an exact information set), used instead of the square roots of the information fractions.
// EP1 at analyses 1..K, then EP2 at 1..K (dimension 2K).
std::vector<double> ZCORR01(int K, const AnalysisArray& IF1, const AnalysisArray& IF2,
                            const CrossCorrelation& R, const CrossCorrelation* R11 = nullptr,
                            const CrossCorrelation* R22 = nullptr);
// EP1 at 1..K1, then EP2 at s..s+K2-1 (1-based s).
std::vector<double> ZCORR02(int K1, int K2, int s, const AnalysisArray& IF1,
                            const AnalysisArray& IF2, const CrossCorrelation& R,
                            const CrossCorrelation* R11 = nullptr,
                            const CrossCorrelation* R22 = nullptr);
// EP1 at 1..Kp, then EP2 at Kp.
std::vector<double> ZCORR03(int Kp, const AnalysisArray& IF1, const CrossCorrelation& R,
                            const CrossCorrelation* R11 = nullptr);

}  // namespace kestrel::survival
