#pragma once
// The exact boundary method: the density of the sequential score carried from analysis to
// analysis on composite Gauss-Legendre nodes (20 nodes per panel, panels no wider than the smaller
// of the two increment standard deviations the density meets), normal tails from erfc, bounds
// found by safeguarded Newton steps to a relative 1e-12 on the exit probability (so also the far
// tail's bounds, where an O'Brien-Fleming type design spends 1e-12 at its first analysis, are
// right to 1e-9 in z). Analyses so close that a region would need more than 250 panels are
// refused, with the grid method's message. Halving the panels changes
// no bound by more than about 1e-12 and no exit probability by more than about 1e-14, so the
// alpha the bounds spend matches the spending function to 1e-9 and better. It stands beside the
// grid recursion of LANDEM (trapezoidal rule on a grid of step 0.05 sigma), which the default
// keeps.
#include <cstdint>
#include <ostream>
#include <vector>

#include "boundaries/spending.h"

namespace kestrel::boundaries {

// Bounds of spending code iuse at the information fractions t (1..nn), one-sided (side 1, lower
// bound -8) or two-sided symmetric (side 2), truncated at 8. The spending function is evaluated
// with the exact normal law; the messages of ALPHAS go to `report`. In the result pe and pd are
// the alpha the bounds really spend (cumulative, per analysis), both sides together; they equal
// the spending function's except where a bound is truncated at 8 (the alpha not spent there is
// carried to the next analysis, as the grid recursion does).
LandemResult exact_bounds(int nn, const std::vector<double>& t, double side, int iuse,
                          double alpha, double phi, const std::vector<double>& user,
                          std::ostream& report);

// Cumulative alpha (both sides together) of spending code iuse at the times t(1..nn), with the
// exact normal law for codes 1 and 6 (ALPHAS gives the others exactly, and its messages and
// clamps, written to `report`); pd_spending receives ALPHAS's increments. Stops the run
// (RunError) when the formula gives a value that is not a number.
std::vector<double> cumulative_target(int iuse, int nn, double alpha, double phi, double side,
                                      const std::vector<double>& t,
                                      const std::vector<double>& user, std::ostream& report,
                                      std::vector<double>& pd_spending);

// First-crossing probabilities of the z-scale bounds (za, zb) at the information fractions t when
// the score at fraction t has mean drift*t: qpos upper, qneg lower.
struct ExactCrossings {
  std::vector<double> qpos, qneg;
};
ExactCrossings exact_crossings(const std::vector<double>& t, const std::vector<double>& za,
                               const std::vector<double>& zb, double drift);

// The drift whose total upper crossing probability equals `power` (to 1e-12), by secant steps
// inside a bracket. converged is false when no bracket is found.
struct ExactDrift {
  double drift = 0;
  bool converged = true;
  int steps = 0;
};
ExactDrift exact_drift(const std::vector<double>& t, const std::vector<double>& za,
                       const std::vector<double>& zb, double power);

// Evaluations of the normal kernel by the exact recursion on this thread so far (a measure of
// its work that does not depend on the machine's speed).
std::uint64_t exact_kernel_evaluations();

}  // namespace kestrel::boundaries
