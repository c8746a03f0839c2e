#pragma once
// Information, information fractions and covariances of the two log-rank statistics per subject,
// at given calendar times (BVRLGRNK01) or at the times that reach given information fractions
// (BVRLGRNK02, once driven by EP1 and once by EP2). Both write their console reports, the rows
// of the main report's information table, and (calendar) the matrix file or (fractions) the
// unit-60 blocks; both select generator variant 5 first.
#include <array>

#include "common/design.h"
#include "common/information_set.h"
#include "common/reports.h"

namespace kestrel::numerics {
class UniformGenerator;
}

namespace kestrel::survival {

struct InformationInput {
  int K = 1;
  int CPL = 1, CPRSK = 1, CMPST = 1;
  double HR1 = 1, HR2 = 1;  // stored (treatment over control) hazard ratios
  double THETA = 0;
  double TA = 1, TF = 0, SRVR1 = 0.5, SRVR2 = 0.5;
  double SR = 0.5;  // share of the treatment arm; the control arm has weight q = 1 - SR
  int CNSRD = 0;
  AnalysisArray TLOOK{};  // calendar times or information fractions
  // The exact covariance of the scores under the alternative (docs/exact-covariance.md): the
  // at-risk fractions' fluctuation added to the martingale part. Off: the covariance of the
  // martingale part alone, as always.
  bool exact = false;
  // Loss to follow-up and accrual pieces; plain (the default) is no loss and uniform entry.
  EntryAndLoss entry_loss;
};

// The information inputs of a design's stored deck values, with copula parameter theta.
InformationInput information_input(const DeckValues& v, double theta,
                                   const EntryAndLoss& entry_loss = {});

InformationSet BVRLGRNK01(const InformationInput& in, numerics::UniformGenerator& gen,
                          Reports& reports);

struct InformationSets {
  InformationSet ep1_driven;  // analyses at the times EP1 reaches the fractions
  InformationSet ep2_driven;  // analyses at the times EP2 reaches them (EP1 still in slots 1)
};
InformationSets BVRLGRNK02(const InformationInput& in, numerics::UniformGenerator& gen,
                           Reports& reports);

// Names the competing-risk mode of an analysis at calendar time tau: "Non-Competing" to the
// console, "Semi-Competing" or "full-Competing" to the main report.
void PREVENT_STM17(int mode, double tau, Reports& reports);

}  // namespace kestrel::survival
