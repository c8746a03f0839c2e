#pragma once
// Futility bounds of a single-endpoint group sequential design, found together with the drift
// that gives the power with the futility stops in force, as single-endpoint planners do: at each
// interim analysis the futility bound is the z below which the trial stops (beta spending: the
// bound whose first-crossing probability under the drift is the type II error the spending
// function spends there; or a fixed z; or a hazard-ratio threshold converted to z at the
// analysis' information); the final analysis' futility bound meets its efficacy bound.
// Non-binding designs keep the efficacy bounds designed without futility; binding designs find
// the efficacy bounds with the futility stops in force, so that they spend exactly alpha only if
// the trial does stop. All probabilities come from the Gauss-Legendre recursion of the exact
// boundary method.
#include <string>
#include <vector>

#include "common/futility_rule.h"

namespace kestrel::boundaries {

struct FutilityInput {
  std::vector<double> t;                 // information fractions, K >= 2
  std::vector<double> zb;                // efficacy bounds designed without futility
  std::vector<double> alpha_cumulative;  // cumulative alpha the efficacy bounds are to spend
  FutilityRule rule;
  double power = 0.9;
  double hr = 0.7;  // the design's hazard ratio (hazard-ratio thresholds are converted with it)
};

struct FutilityDesign {
  std::vector<double> futility;  // z-scale futility bounds, the last equal to the efficacy bound
  std::vector<double> zb;        // efficacy bounds in force (binding: found with the futility)
  double drift = 0.0;
  bool converged = true;
  int steps = 0;
  // First crossings of the efficacy (pos) and futility (neg) bounds, under the drift and under
  // the null (drift 0).
  std::vector<double> qpos, qneg, null_pos, null_neg;
  // Analyses (1-based) whose beta-spending futility bound came out above the efficacy bound and
  // was set to it.
  std::vector<int> capped;
};

// A bad combination of the rule with the design (values per interim, a fixed futility bound
// above the efficacy bound) throws RunError naming the analysis and the values.
FutilityDesign design_futility(const FutilityInput& in);

// The z-scale futility bound of a hazard-ratio threshold h at information fraction t of a design
// whose drift is `drift` for the hazard ratio hr: the z at which the estimated hazard ratio is h.
double futility_z_of_hr(double h, double hr, double drift, double t);
// The hazard ratio at a z-scale bound z (the inverse).
double hr_of_futility_z(double z, double hr, double drift, double t);

// A short description of the rule for titles and summaries: "beta spending 1 (O'Brien-Fleming
// type), non-binding", "z -0.5, 0.5, binding", "hazard ratio 1, 0.9, non-binding".
std::string describe_futility(const FutilityRule& rule);

}  // namespace kestrel::boundaries
