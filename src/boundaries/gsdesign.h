#pragma once
// The single-endpoint group sequential design for a given power: bounds from the spending
// function, the drift that gives the power, exit probabilities under that drift, and the numbers
// of events and subjects for a two-arm comparison of exponential survival with uniform accrual.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "boundaries/spending.h"
#include "common/design.h"
#include "common/futility_rule.h"

namespace kestrel::boundaries {

struct GsDesignInput {
  int K = 1;
  double alpha = 0.025;
  int sides = 1;               // 2 two-sided symmetric, anything else one-sided
  SpendingStatement spending;  // deck code, replacement code, phi or cumulative values
  double power = 0.8;
  double hr = 1.0;                // experimental over control
  std::vector<double> t;          // information fractions
  double ta = 1, tf = 0;          // accrual, follow-up
  double control_survival = 0.5;  // at ta + tf
  double allocation = 0.5;        // proportion of the experimental arm
  // The event probability by the end of the study when the design has loss to follow-up or
  // accrual pieces (computed by the caller); unset: uniform entry without loss.
  std::optional<double> event_probability_given;
  int max_analyses = 25;          // the drift and probability routines hold 25 analyses
  // The exact boundary method (exact_boundary.h) for the bounds, the drift and the crossing
  // probabilities instead of the grid recursion; pd then holds the alpha the bounds spend.
  bool exact = false;
  // Names the endpoint in the messages of a stop ("EP2 (both endpoints fatal)"); empty for a
  // design on its own.
  std::string endpoint;
  // Futility stops at the interim analyses (none by default): the futility bounds and the drift
  // are then found together (futility.h).
  FutilityRule futility;
};

struct GsDesignResult {
  int code_used = 0;
  double phi_used = 0;
  std::vector<double> za, zb;  // standardized bounds
  std::vector<double> pd, pe;  // alpha spent per analysis, cumulative
  std::vector<double> nominal_lower, nominal_upper;
  std::vector<double> qpos, qneg;  // first-crossing probabilities under the drift
  double drift = 0;
  int events = 0;  // D, a multiple of K
  double expected_events = 0;
  int subjects = 0;             // N
  double pev = 0;               // event probability by the end of the study
  bool drift_converged = true;  // false after " Warning: Convergence problem."
  int drift_steps = 0;          // exit-probability evaluations of the drift search
  // With futility stops: the z-scale futility bounds (the last equal to the efficacy bound), the
  // first crossings under the null of the efficacy and futility bounds, the analyses whose
  // beta-spending futility bound was set to the efficacy bound, and the expected number of
  // events under the null. Without: all empty or zero. qneg then holds the futility stops under
  // the drift, and pd, pe the alpha the efficacy bounds spend with the stops in force when
  // binding (without them when not).
  std::vector<double> futility, null_qpos, null_qneg;
  std::vector<int> futility_capped;
  double expected_events_null = 0;
};

// Messages are written to `report` (the main report); the documented "stop" cases throw RunError,
// whose message then starts with in.endpoint. A figure that would not be a number (drift, exit
// probabilities, nominal levels, event probability, expected events) stops the run as well.
GsDesignResult GSDESIGN01(const GsDesignInput& in, BoundaryWork& work, std::ostream& report);

// The steps after the spending code is settled: bounds, the power check, drift, exit
// probabilities, nominal levels, events and subjects. `code` is the code in force (1..6), `phi`
// the parameter of codes 3 and 4; code 5 spends in.spending.cumulative, the cumulative alpha of
// both sides together (already checked). in.alpha must already be valid.
GsDesignResult design_with_code(const GsDesignInput& in, int code, double phi, BoundaryWork& work,
                                std::ostream& report);

// Exit probabilities under a drift: qpos(i), qneg(i) the probabilities of first crossing the
// upper, lower bound at analysis i, and their total. Returns false (after its message, with the
// probabilities zero) when K or the grid exceeds the work arrays.
bool GLAN(int K, const std::vector<double>& t, const std::vector<double>& za,
          const std::vector<double>& zb, double drift, std::vector<double>& qpos,
          std::vector<double>& qneg, double& total, BoundaryWork& work, std::ostream& report);

struct DriftSearch {
  double drift = 0;
  bool converged = true;
  int steps = 0;  // exit-probability evaluations
};

// The drift whose total upper exit probability equals the power (within 1e-6), by stepping 0.25
// until the root is bracketed and then halving. Stops with " Warning: Convergence problem." when
// the drift stops moving, when the probabilities cannot be computed, or after max_steps
// evaluations.
DriftSearch BISECT(int K, const std::vector<double>& t, const std::vector<double>& za,
                   const std::vector<double>& zb, double power, double start, BoundaryWork& work,
                   std::ostream& report, int max_steps = 200);

// Starting value (ZNORM(power) + zb(K))/sqrt(t(K)), then BISECT.
DriftSearch ADRIFT(int K, const std::vector<double>& t, const std::vector<double>& za,
                   const std::vector<double>& zb, double power, BoundaryWork& work,
                   std::ostream& report);

// Events D for a drift: x = drift^2/ln(hr)^2/(p(1-p)) rounded to single precision, then the
// smallest multiple of K not below ceil(x) (quotient in single precision).
int events_for_drift(double drift, double hr, double p, int K);

// Probability of an event by the end of the study under uniform accrual over ta, follow-up tf,
// control survival S at ta + tf, hazard ratio hr and allocation p (Simpson's rule over entry).
double event_probability(double hr, double ta, double tf, double S, double p);

}  // namespace kestrel::boundaries
