#pragma once
// The single-endpoint group sequential design for a given power: bounds from the spending
// function, the drift that gives the power, exit probabilities under that drift, and the numbers
// of events and subjects for a two-arm comparison of exponential survival with uniform accrual.
#include <ostream>
#include <vector>

#include "boundaries/spending.h"
#include "common/design.h"

namespace kestrel::boundaries {

struct GsDesignInput {
  int K = 1;
  double alpha = 0.025;
  int sides = 1;             // 2 two-sided symmetric, anything else one-sided
  SpendingStatement spending;  // deck code, replacement code, phi or cumulative values
  double power = 0.8;
  double hr = 1.0;           // experimental over control
  std::vector<double> t;     // information fractions
  double ta = 1, tf = 0;     // accrual, follow-up
  double control_survival = 0.5;  // at ta + tf
  double allocation = 0.5;   // proportion of the experimental arm
};

struct GsDesignResult {
  int code_used = 0;
  double phi_used = 0;
  std::vector<double> za, zb;        // standardized bounds
  std::vector<double> pd, pe;        // alpha spent per analysis, cumulative
  std::vector<double> nominal_lower, nominal_upper;
  std::vector<double> qpos, qneg;    // first-crossing probabilities under the drift
  double drift = 0;
  int events = 0;            // D, a multiple of K
  double expected_events = 0;
  int subjects = 0;          // N
  double pev = 0;            // event probability by the end of the study
};

// Messages are written to `report` (the main report); the documented "stop" cases throw RunError.
GsDesignResult GSDESIGN01(const GsDesignInput& in, BoundaryWork& work, std::ostream& report);

}  // namespace kestrel::boundaries
