#pragma once
// How a design stops for futility at its interim analyses: beta spending (the spending families
// of the efficacy bounds, spending the type II error), a fixed z per interim, or a hazard-ratio
// threshold per interim; binding or not. The final analysis has no futility bound of its own:
// there the efficacy bound decides.
#include <vector>

namespace kestrel {

struct FutilityRule {
  enum class Kind { none, spending, fixed_z, hazard_ratio };
  Kind kind = Kind::none;
  int code = 0;                    // beta spending code 1..6
  double phi = 0.0;                // parameter of codes 3 and 4
  std::vector<double> cumulative;  // code 5: cumulative beta per analysis, the last 1 - power
  std::vector<double> values;      // fixed z or hazard ratio per interim analysis (K - 1)
  bool binding = false;            // efficacy bounds designed with the futility stops in force
  int line = 0;                    // deck line of the statement (0 when none)

  bool any() const { return kind != Kind::none; }
};

}  // namespace kestrel
