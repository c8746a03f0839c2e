#pragma once
// The marginal law of one endpoint in one arm: piecewise-constant hazards, the exponential law
// being the one-piece case. The information integrals, the event probabilities and the simulated
// trials all read an endpoint's survival, cumulative hazard and its inverse from here.
#include <vector>

#include "common/design.h"

namespace kestrel::survival {

class PiecewiseExponential {
 public:
  // One piece with hazard lambda: cumulative(t) = lambda t exactly as the exponential law forms it.
  explicit PiecewiseExponential(double lambda = 1.0);
  // Piece p runs from start[p] (start[0] = 0) with hazard hazard[p]; start increasing.
  PiecewiseExponential(std::vector<double> start, std::vector<double> hazard);

  int pieces() const { return static_cast<int>(start_.size()); }
  double start(int p) const { return start_[static_cast<size_t>(p)]; }
  double hazard(int p) const { return hazard_[static_cast<size_t>(p)]; }
  // The piece holding time t (the first for t below 0).
  int piece(double t) const;
  double hazard_at(double t) const { return hazard(piece(t)); }
  double cumulative(double t) const;
  double survival(double t) const;
  // The time at which the cumulative hazard reaches H >= 0 (the inverse of cumulative()).
  double inverse(double H) const;

  // With exponential loss at rate d: the probability of an event observed within follow-up u,
  // O(u) = integral over 0..u of h(x) S(x) exp(-d x) dx, and its integral over 0..u (closed forms
  // per piece).
  double observed(double d, double u) const;
  double observed_integral(double d, double u) const;

 private:
  std::vector<double> start_, hazard_, cum_;  // cum_[p]: cumulative hazard at start_[p]
};

// The law of endpoint e (0 EP1, 1 EP2) in arm `arm` (0 control, 1 treatment): its HAZARDS pieces
// when the design states them, otherwise exponential with control hazard -ln(S)/T and the stored
// (treatment over control) hazard ratio hr.
PiecewiseExponential endpoint_margin(const EntryAndLoss& el, int e, int arm, double hr, double S,
                                     double T);

// The allocation-weighted cumulative hazard (1 - q) Lt + q Lc of two laws with the same change
// points, q the control arm's weight: the pooled law the integration grid is spaced by.
PiecewiseExponential pooled_margin(const PiecewiseExponential& control,
                                   const PiecewiseExponential& treatment, double q);

}  // namespace kestrel::survival
