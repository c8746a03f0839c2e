#pragma once
// The trial's model: what a design assumes about the trial, built once from the design and read
// by every layer (information, boundaries, power, expected figures, operating characteristics,
// simulated trials) by const reference. The per-analysis arrays, the bounds and the options of a
// calculation are not the model; they stay in the inputs of each calculation.
//
// Glossary: the deck's short names (the names of the design record and of the fixed-column
// reports) and the model's names. docs/model-glossary.md holds the same table for readers.
//
//   deck name        model name                          meaning
//   ---------------  ----------------------------------  --------------------------------------
//   SRVR1, SRVR2     control_survival[0], [1]            control arm's survival of EP1, EP2 at
//                                                        the end of the study (TA + TF)
//   HR1, HR2         hazard_ratio[0], [1]                hazard ratios as stored: treatment over
//                                                        control (the deck gives control over
//                                                        treatment)
//   HR1TR, HR2TR     hazard_ratio of true_model()        the simulated trials' hazard ratios
//   CPL              copula                              1 Clayton, 2 positive stable, 3 Frank
//   RHO              correlation                         correlation the copula is chosen for
//   RHOTR            correlation of true_model()         the simulated trials' correlation
//   THETA, THETATR   copula_parameter                    the copula's parameter (design, truth)
//   CPRSK            competing_risks                     1 none, 2 EP2 ends EP1's follow-up,
//                                                        3 each ends the other's
//   CMPST            composite                           1 EP1 itself, 2 the first of EP1, EP2
//   CNSRD            censoring                           simulated trials: 0 none, 1 censored at
//                                                        the analysis time
//   SR               treatment_share                     share of the treatment arm (control
//                                                        arm 1 - SR)
//   TA               accrual_period                      (also `a` in the simulation's formulas)
//   TF               follow_up                           follow-up after the end of accrual
//   TA + TF          study_end()
//   DROPOUT          entry_loss.dropout                  loss to follow-up hazards per arm
//   ACCRUAL          entry_loss.accrual_end, _intensity  accrual pieces
//   HAZARDS          entry_loss.hazards                  piecewise hazards per endpoint
//   MODEL EXACT,     exact                               exact covariance under the alternative
//   --exact                                              and exact bounds
//
// A new assumption of the trial is a field here, filled in trial_model() (and true_model() when
// the simulated trials see it too), and named in the table above.
#include <array>

#include "common/design.h"

namespace kestrel {

struct TrialModel {
  // Each endpoint's law, EP1 then EP2: exponential with the control arm's survival at the end of
  // the study and the hazard ratio, unless entry_loss.hazards gives it piecewise hazards.
  std::array<double, 2> control_survival{0.5, 0.5};
  std::array<double, 2> hazard_ratio{1.0, 1.0};  // treatment over control
  // The association of the two endpoints' times.
  int copula = 1;
  double correlation = 0;
  double copula_parameter = 0;
  int competing_risks = 1;
  int composite = 1;
  int censoring = 1;  // the simulated trials are censored at each analysis time
  // Allocation, enrolment and follow-up.
  double treatment_share = 0.5;
  double accrual_period = 1;
  double follow_up = 0;
  // Loss to follow-up, accrual pieces and piecewise hazards; plain (the default): nobody lost,
  // uniform entry over the accrual period, exponential laws.
  EntryAndLoss entry_loss;
  // The exact covariance of the scores under the alternative (and exact bounds); off: the
  // covariance of the martingale part alone.
  bool exact = false;

  double study_end() const { return accrual_period + follow_up; }
};

// The model a design is planned under: its stored values, loss to follow-up, accrual pieces and
// piecewise hazards, with copula parameter theta. exact: the run asks for the exact model
// (--exact); a design's MODEL EXACT asks for it by itself.
TrialModel trial_model(const Design& design, double theta, bool exact = false);

// The model of the simulated trials: the design's model with the simulation values of the hazard
// ratios and the correlation (copula parameter theta_true). An endpoint with piecewise hazards
// keeps its control hazards; its pieces' ratios are the stated ones when the simulation ratio
// equals the design ratio, all 1 when the simulation ratio is 1 (the null), and otherwise each
// multiplied by the simulation ratio over the design ratio (both as stored).
TrialModel true_model(const Design& design, double theta_true, bool exact = false);

}  // namespace kestrel
