#pragma once
// The single-endpoint design of an endpoint with piecewise hazards: the hazard ratio whose
// events carry the model's drift, and the calendar times at which the expected events reach the
// information fractions.
#include <vector>

#include "common/design.h"

namespace kestrel::boundaries {

// Endpoint 0 of `el` (piecewise when el.hazards[0] is given, else exponential with control
// survival S at ta + tf and ratio hr), allocation p to treatment, accrual ta, follow-up tf.
struct PiecewiseEndpoint {
  EntryAndLoss el;
  double hr = 0.7, S = 0.5, p = 0.5, ta = 1, tf = 1;
};

// The ratio behind the events drift^2 / (ln r)^2 / (p (1 - p)): the common ratio of the pieces
// when they share one, otherwise exp(DRF / VAR0) of the model's log-rank score at the study end
// (the drift per unit of null information, the score's mean under the alternative).
double design_hazard_ratio(const PiecewiseEndpoint& e);

// The expected events of `subjects` subjects by calendar time tau (0 <= tau <= ta + tf).
double expected_events(const PiecewiseEndpoint& e, double subjects, double tau);

// The calendar times at which the expected events of `subjects` subjects reach times[k] of
// `events` (bisection to 1e-12 of the study length; the study end when not reached before).
std::vector<double> analysis_times(const PiecewiseEndpoint& e, double subjects, double events,
                                   const std::vector<double>& times);

}  // namespace kestrel::boundaries
