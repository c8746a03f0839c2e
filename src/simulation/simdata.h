#pragma once
// One simulated two-arm trial at one analysis: allocation, two event times joined by a copula,
// administrative censoring from uniform entry, the observed times and statuses under the
// competing-risk mode, and the log-rank statistic of each endpoint.
//
// Every random number comes from the run's uniform generator, per patient in this order: the
// allocation draw (only for patients of an incomplete last block), u1, u2, and u3 for the
// censoring time when censoring is on, and u4 for the loss time when the design has loss to
// follow-up.
#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <vector>

#include "common/design.h"
#include "simulation/logrank.h"
#include "survival/margins.h"

namespace kestrel::numerics {
class UniformGenerator;
}
namespace kestrel::survival {
class EntryLoss;
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

// The arms of the n patients of a trial for the allocation proportion r of arm 1: r = 0.5
// alternates 2, 1, 2, 1, ...; otherwise whole blocks of 4 (r = 0.25, 0.75) or 10 (tenths) give
// the first r of the block's places in all of them to arm 1 and the rest to arm 2, and each
// patient of an incomplete last block draws its arm from one uniform number.
struct ArmPattern {
  int block = 0;   // 2 (alternating), 3 to 19; 0 when r cannot be simulated
  int share = 0;   // places of arm 1 in a block (blocks of 3 and more)
  int ones = 0;    // patients 1..ones in arm 1 (blocks of 3 and more)
  int full = 0;    // patients 1..full have a fixed arm; the later ones draw theirs
  bool simulable() const { return block != 0; }
  int arm(int i) const { return block == 2 ? (i % 2) + 1 : (i <= ones ? 1 : 2); }  // i <= full
  int drawn_arm(double u) const;  // patient after `full`, from its allocation draw u
};
ArmPattern arm_pattern(int n, double r);

// The message of a control share the simulation cannot allocate (r not among the patterns).
[[noreturn]] void throw_unsimulable_share(double r);

// Arm (1 or 2) of patient i (1-based) of n for the allocation proportion r; draws a uniform
// number only for patients of an incomplete last block. r must be a ratio of two whole numbers
// up to 10:10 within 1e-4 (anything else is a RunError).
int allocate_arm(int i, int n, double r, numerics::UniformGenerator& gen);

// Administrative censoring and loss to follow-up of the patients of one trial: the censoring
// time from the patient's entry uniform u3, and the loss time from its loss uniform u4.
class CensoringRule {
 public:
  explicit CensoringRule(const TrialSettings& in);
  bool censored() const { return censoring_ == 1; }
  bool lost() const { return lost_; }
  // Calendar time of the analysis minus the entry time drawn by u3 (entry by the inverse of the
  // enrolment curve with accrual pieces, uniform over [0, a] otherwise).
  double administrative(double u3) const { return ramp_ ? ramped(u3) : u3 * a_ + s_; }
  // -log(1 - u4): the loss time of a patient whose arm loses at rate 1.
  static double unit_loss(double u4) { return -std::log(1.0 - u4); }
  // The patient's censoring time: the administrative one (1e99 without it), cut by the loss time
  // unit_loss / dropout of the arm when the arm loses patients.
  double censoring_time(int arm, double u3, double unit_loss) const {
    double C = censoring_ == 1 ? administrative(u3) : 1e99;
    if (lost_) {
      const double d = dropout_[arm - 1];
      if (d > 0.0) C = std::min(C, unit_loss / d);
    }
    return C;
  }

 private:
  double ramped(double u3) const;
  int censoring_;
  bool ramp_, lost_;
  double a_, s_, tau_, enrolled_ = 1.0;
  double dropout_[2];
  std::shared_ptr<const survival::EntryLoss> pieces_;
};

// The observed time and status (1 event, 2 censored) of each endpoint of a patient with event
// times t and censoring time C under the competing-risk mode and the composite choice.
struct PatientRecord {
  double X1 = 0, X2 = 0, status1 = 2, status2 = 2;
};
inline PatientRecord observe(int mode, int composite, double T1, double T2, double C) {
  PatientRecord p;
  switch (mode) {
    case 2:
      p.X1 = std::min(std::min(T1, T2), C);
      p.X2 = std::min(T2, C);
      break;
    case 3:
      p.X1 = p.X2 = std::min(std::min(T1, T2), C);
      break;
    default:
      p.X1 = std::min(T1, C);
      p.X2 = std::min(T2, C);
      break;
  }
  if (mode == 1 || composite == 1) {
    if (p.X1 == T1) p.status1 = 1.0;
  } else if (p.X1 == std::min(T1, T2)) {
    p.status1 = 1.0;
  }
  if (p.X2 == T2) p.status2 = 1.0;
  return p;
}

struct EventTimes {
  double T1 = 0, T2 = 0;
};

// The two event times of one patient from its uniforms u1, u2 by the conditional method of the
// copula family; l1, l2 are the patient's hazards. The positive stable family solves its
// equation with WLAMBERT, whose failure writes "ERR:S" to `main_report` and stops the run.
EventTimes draw_event_times(int family, double theta, double l1, double l2, double u1, double u2,
                            std::ostream& main_report);

// Piecewise hazards (TrialSettings::entry_loss.hazards): the copula draws unit-exponential times
// (hazards 1), and each endpoint's time in arm `arm` (1 control, 2 treatment) is the inverse of
// its law's cumulative hazard there; an endpoint without pieces keeps its exponential law.
class EventLaws {
 public:
  explicit EventLaws(const TrialSettings& in);
  bool piecewise() const { return on_; }
  // The hazards draw_event_times takes for a patient of `arm`: 1 with pieces, the arm's otherwise.
  double rate(int arm, int e) const { return on_ ? 1.0 : hazard_[arm - 1][e]; }
  EventTimes times(int arm, EventTimes unit) const;

 private:
  bool on_ = false;
  double hazard_[2][2];
  std::vector<survival::PiecewiseExponential> law_;  // [arm - 1][endpoint], 4 entries
};

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
