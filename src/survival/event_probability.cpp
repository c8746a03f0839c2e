// Probability that a subject has an event during the study, for exponential survival in both
// arms, uniform accrual over a and a minimum follow-up f. A subject entering at e is followed
// for T - e, T = a + f, so the study-wide probability is 1 - (1/a) times the integral of the
// pooled survival over f .. a + f; Simpson's rule with one panel evaluates it.
#include "survival/event_probability.h"

#include <cmath>

namespace kestrel::survival {

EventProbability PREVENT(double h, double S, double R, double a, double f) {
  const double T = a + f;
  const double lc = -std::log(S) / T;  // control hazard
  const double le = lc * h;            // treatment hazard
  auto sbar = [&](double u) { return (1.0 - R) * std::exp(-lc * u) + R * std::exp(-le * u); };
  EventProbability p;
  p.Pev = 1.0 - (sbar(f) + 4.0 * sbar(f + a / 2.0) + sbar(a + f)) / 6.0;
  p.Pend = (1.0 - S) * (1.0 - R) + (1.0 - std::exp(-le * T)) * R;
  return p;
}

}  // namespace kestrel::survival
