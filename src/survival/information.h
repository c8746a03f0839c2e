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
#include "common/trial_model.h"

namespace kestrel::numerics {
class UniformGenerator;
}

namespace kestrel::survival {

// The model the information is computed under, and when: K analyses at calendar times or at
// information fractions.
struct InformationInput {
  TrialModel model;
  int K = 1;
  AnalysisArray TLOOK{};  // calendar times or information fractions
};

// The information input of a design's stored deck values (LOOK analyses at TLOOK) under model.
InformationInput information_input(const TrialModel& model, const DeckValues& v);

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
