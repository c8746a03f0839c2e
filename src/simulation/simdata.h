#pragma once
// One simulated two-arm trial at one analysis: allocation, two event times joined by a copula,
// administrative censoring from uniform entry, the observed times and statuses under the
// competing-risk mode, and the log-rank statistic of each endpoint.
//
// Every random number comes from the run's uniform generator, per patient in this order: the
// allocation draw (only for patients of an incomplete last block), u1, u2, and u3 for the
// censoring time when censoring is on, and u4 for the loss time when the design has loss to
// follow-up.
#include <ostream>
#include <vector>

#include "common/design.h"
#include "simulation/logrank.h"

namespace kestrel::numerics {
class UniformGenerator;
}

namespace kestrel::simulation {

struct TrialSettings {
  int N = 0;                 // patients in the trial at this analysis
  double HR1 = 1, HR2 = 1;   // hazard ratios of arm 2 against arm 1
  double theta = 0;          // copula association parameter
  double a = 1;              // accrual period
  double s = 0;              // calendar time of the analysis minus the accrual period
  double r = 0.5;            // proportion of patients allocated to arm 1
  double lambda1 = 1, lambda2 = 1;  // arm-1 hazards of EP1 and EP2
  int censoring = 1;         // 0 none, 1 administrative censoring by the analysis time
  int family = 1;            // 1 Clayton, 2 positive stable, 3 Frank
  int mode = 1;              // competing risks: 1 none, 2 EP2 ends EP1's follow-up, 3 both
  int composite = 1;         // 1 EP1 itself, 2 the first of EP1 and EP2
  // Loss to follow-up per arm (arm 1 first) and accrual pieces over accrual_period; plain: entry
  // uniform over [0, a] and nobody lost. With loss a fourth uniform number per patient gives its
  // loss time; without it none is drawn.
  EntryAndLoss entry_loss;
  double accrual_period = 1;  // TA, the end of the last accrual piece
};

struct TrialOutcome {
  double Z1 = 0, Z2 = 0;  // log-rank statistics (negative when arm 2 has fewer events)
  double p1 = 0, p2 = 0;  // Phi(Z1), Phi(Z2)
  int D1 = 0, D2 = 0;     // observed events
  double I1 = 0, I2 = 0;  // variance terms divided by 4
};

// Storage reused from call to call: the two record matrices (N x 3, by rows) and the tabulation.
struct TrialWork {
  std::vector<double> ep1, ep2;
  LogrankTable table;
};

// Time spent (seconds), accumulated when a profile is passed.
struct SimulationProfile {
  double generation = 0;
  double logrank = 0;
  double final_critical_values = 0;
};

// Arm (1 or 2) of patient i (1-based) of n for the allocation proportion r; draws a uniform
// number only for patients of an incomplete last block. r must be one of 0.25, 0.4, 0.5, 0.6,
// 0.7, 0.75, 0.8, 0.9 (anything else is a RunError).
int allocate_arm(int i, int n, double r, numerics::UniformGenerator& gen);

struct EventTimes {
  double T1 = 0, T2 = 0;
};

// The two event times of one patient from its uniforms u1, u2 by the conditional method of the
// copula family; l1, l2 are the patient's hazards. The positive stable family solves its
// equation with WLAMBERT, whose failure writes "ERR:S" to `main_report` and stops the run.
EventTimes draw_event_times(int family, double theta, double l1, double l2, double u1, double u2,
                            std::ostream& main_report);

// Fills work.ep1 and work.ep2 with the records of one trial (status, arm code, observed time)
// and returns the event counts.
struct RecordCounts {
  int D1 = 0, C1 = 0, D2 = 0, C2 = 0;
};
RecordCounts generate_trial(const TrialSettings& in, numerics::UniformGenerator& gen,
                            std::ostream& main_report, TrialWork& work);

// A variance that is not a number writes a list-directed line with `label` ("ep1" or "ep2"),
// V and Z to the console, then one line per record (status, arm code, time), and stops the run.
void stop_on_nan_variance(const char* label, double V, double Z, const double* records, int n,
                          std::ostream& console);

// The whole trial: records, then the log-rank test of EP1 and of EP2. A variance that is not a
// number writes "ep1" (or "ep2") with the variance and the statistic to the console, then the
// records of that endpoint, and stops the run.
TrialOutcome SIMDATA(const TrialSettings& in, numerics::UniformGenerator& gen,
                     std::ostream& console, std::ostream& main_report, TrialWork& work,
                     SimulationProfile* profile = nullptr);

}  // namespace kestrel::simulation
