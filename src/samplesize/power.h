#pragma once
// Power of the two-endpoint group sequential trial at a given maximum sample size under one
// decision rule, with the analysis of success (QSTOP) and of each endpoint's first rejection (QEP).
//
// The stacked statistics of EP1 and EP2 over the K analyses are standard multivariate normal on
// the scale of the limits U1, U2 (U2F: EP2's fixed-sample limit at the final, rule 4). Two
// formulations give the same probabilities:
//   - by patterns: every 0/1 outcome pattern of the statistics is enumerated and each pattern
//     that the rule counts as a success is one rectangle probability (2^(2K) patterns, 2^K for
//     rule 4). Kept as the reference.
//   - by first crossings: the patterns that share the success analysis and the first-rejection
//     analyses form one rectangle whose later statistics are free, so rule 1 needs K^2
//     rectangles, rule 3 K(K+1)/2, rule 4 K and rule 2 2^K - 1. The free statistics are
//     integrated out exactly by leaving them out of the rectangle (the marginal law of the others
//     is normal with their correlations), so most rectangles are also of lower dimension. This is
//     what runs.
#include <array>
#include <functional>
#include <ostream>
#include <vector>

#include "common/decision_rule.h"
#include "common/design.h"
#include "common/information_set.h"
#include "common/run_context.h"
#include "common/trial_model.h"
#include "survival/correlation_matrix.h"

namespace kestrel::samplesize {

struct PowerProblem {
  DecisionRule rule = DecisionRule::any_interims;
  int K = 1;
  int IVAR = 1;          // 1 both variances, 2 null variance only, 3 alternative variance only
  double TYPE1 = 0.025;  // rule 4: EP2's fixed-sample level
  TrialModel model;              // the trial's model (laws, allocation, accrual, loss)
  InformationSet set;            // TCAL, FINF1, FINF2, DRF1, DRF2, VAR01..VAR12, CORR12
  std::vector<double> RCORR;     // packed matrix of the 2K statistics (rules 1 and 2)
  std::vector<double> ZB1, ZB2;  // upper bounds in force (the lower bounds do not enter)
  // Futility bounds in force at the interim analyses (one per analysis, the final's unused);
  // empty: the endpoint has no futility stops. A bound at or below -8 stops nothing.
  std::vector<double> ZF1, ZF2;
  bool has_futility() const { return !ZF1.empty() || !ZF2.empty(); }
};

struct PowerLimits {
  std::vector<double> U1, U2;  // per analysis; rule 4 leaves U2 empty
  double U2F = 0;              // rule 4 only
};

struct PowerResult {
  double power = 0;
  std::vector<double> QSTOP;               // per analysis: success there
  std::vector<std::array<double, 2>> QEP;  // per analysis: first rejection of EP1, of EP2
  long long integrals = 0;                 // rectangle probabilities computed
  // Error estimate of the power: the root of the sum of the squared error estimates of its
  // probabilities (each is 3.5 standard errors of an independently randomized estimate, and
  // the power adds each probability once, so this is 3.5 standard errors of the power);
  // negative: not known.
  double error = -1;
};

// One rectangle of the stacked statistics: m statistics with their limits, limit types (1 above
// the limit, 0 not above, 2 between lower[a] and limits[a]) and packed correlation matrix; stat
// names each statistic in the stacking EP1 at analyses 1..K (0..K-1), then EP2 at analyses 1..K
// (K..2K-1). Without `lower` the same vector serves as lower and upper limit, as it does for every
// rectangle of a design without futility stops; a two-sided statistic (type 2, a futility bound
// below and an efficacy bound above) needs both.
struct Rectangle {
  int m = 0;
  const double* limits = nullptr;
  const int* infin = nullptr;
  const double* correl = nullptr;
  const int* stat = nullptr;
  const double* lower = nullptr;  // lower limits of type-2 statistics; nullptr: `limits`

  const double* lower_limits() const { return lower != nullptr ? lower : limits; }
};

// Probability of a rectangle under the standard multivariate normal law.
using RectangleProbability = std::function<double(const Rectangle&)>;

// The run's multivariate normal integration (lattice-rule state and process generator of ctx).
// With error_squares, the square of each probability's error estimate is added to *error_squares.
RectangleProbability mvn_rectangles(RunContext& ctx, double* error_squares = nullptr);

// The limits at size N. An analysis not after the end of accrual writes the warning line to
// `report` and is computed anyway.
PowerLimits power_limits(const PowerProblem& pb, int N, std::ostream& report);

PowerResult power_by_patterns(const PowerProblem& pb, int N, const RectangleProbability& rect,
                              std::ostream& report);
PowerResult power_by_first_crossings(const PowerProblem& pb, int N,
                                     const RectangleProbability& rect, std::ostream& report);

// The power of a trial that also stops for futility (power_futility.cpp): at the first analysis
// where an endpoint that must still succeed lies below its futility bound. First-crossing
// rectangles whose statistics before a crossing lie between the two bounds; as many rectangles
// as without futility.
PowerResult power_with_futility(const PowerProblem& pb, int N, const RectangleProbability& rect,
                                std::ostream& report);

// With futility stops: the probability that the trial reaches each analysis (1 for the first),
// neither successful nor stopped for futility before it. Success at analysis k is QSTOP(k); the
// futility stop at interim k is reach(k) - reach(k + 1) - QSTOP(k).
std::vector<double> continuation_probabilities(const PowerProblem& pb, int N,
                                               const RectangleProbability& rect,
                                               std::ostream& report);

// The power routine the search uses (first crossings).
inline PowerResult GSDMCPDFPW(const PowerProblem& pb, int N, const RectangleProbability& rect,
                              std::ostream& report) {
  return power_by_first_crossings(pb, N, rect, report);
}

// Number of rectangles each formulation integrates for rule and K (patterns: those that count).
long long rectangles_by_first_crossings(int rule, int K);

}  // namespace kestrel::samplesize
