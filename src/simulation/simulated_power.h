#pragma once
// Monte-Carlo assessment of a fixed design: simulated trials analysed with the log-rank test at
// every analysis, the decision rule applied, and the rejection proportions.
#include <array>
#include <ostream>
#include <vector>

#include "common/decision_rule.h"
#include "common/information_set.h"
#include "common/trial_model.h"
#include "simulation/simdata.h"

namespace kestrel::numerics {
class UniformGenerator;
}
namespace kestrel::mvn {
class MvnState;
}

namespace kestrel::simulation {

struct SimulationInput {
  // The simulated trials' law: the design's model with the simulation values HR1TR, HR2TR and
  // THETATR (true_model()).
  TrialModel truth;
  int NREP = 0;
  int N = 0;                           // MSS
  int K = 1;
  AnalysisArray t{}, u{}, v{}, w{};    // TCAL, FENR, FINF1, FINF2
  std::vector<double> c1, c2;          // upper bounds ZB1, ZB2 (c1, c2 of the last analysis may be
                                       // adjusted by the final critical-value search)
  bool print = true;
  bool final_adjust = true;            // ISIMOPT = 1
  double alpha = 0.025;
  AnalysisArray J1{}, J2{};            // FENR x VAR01, FENR x VAR02: planned information per subject
  int ME1 = 0, ME2 = 0;
  // The final critical value depends on the observed information only through the correlations
  // of the statistics; when a replication meets the same correlations (to 1e-12), the same
  // earlier bounds and alpha as an earlier search of this call, that search's result is reused
  // instead of integrating again. false searches afresh in every replication.
  bool reuse_final_critical_value = true;
  // Futility bounds of the interim analyses on the z scale of the efficacy bounds (empty: no
  // futility stops); a bound at or below -8 stops nothing.
  std::vector<double> f1, f2;
};

struct SimulationResult {
  double PW1 = 0, PW2 = 0, PWC = 0, PWD = 0;
  double E1 = 0, E2 = 0;
  std::vector<std::array<double, 3>> R;  // per analysis: EP1, EP2, joint rejection proportions
  // With futility bounds: the proportion of trials stopped for futility at each analysis, and
  // E1, E2 count each endpoint's events until the trial stops. Empty without.
  std::vector<double> F;
};

// Replications between two progress lines: NREP div 10 (every replication below 10), and at
// most 10 000, so that a long simulation shows a line within seconds; up to 100 000
// replications the lines are those of NREP div 10 alone.
int progress_interval(int nrep);

// rule: the decision rule (decision_rule() of the deck code). The console report goes to `console`,
// the main report receives the documented terminal-error dumps.
SimulationResult GSDSIMDF(DecisionRule rule, SimulationInput& in, numerics::UniformGenerator& gen,
                          mvn::MvnState& mvn, std::ostream& console, std::ostream& main_report);

// The settings of the simulated trial at analysis k (1-based): N u(k) patients, the arm-1
// hazards from the survival rates, and entry uniform over [0, min(a, t(k))] so that the
// censoring time is t(k) minus the entry time.
TrialSettings analysis_trial(const SimulationInput& in, int k);

// The same, accumulating into `profile` the time spent generating data, in the log-rank tests
// and in the final critical-value searches.
SimulationResult GSDSIMDF(DecisionRule rule, SimulationInput& in, numerics::UniformGenerator& gen,
                          mvn::MvnState& mvn, std::ostream& console, std::ostream& main_report,
                          SimulationProfile* profile);

}  // namespace kestrel::simulation
