#pragma once
// Probability that a subject has an event during the study: exponential survival, uniform
// accrual over a, minimum follow-up f (Simpson's rule over the entry times).
namespace kestrel::survival {

struct EventProbability {
  double Pev = 0;   // event by the end of the study, averaged over entry times
  double Pend = 0;  // event by T for a subject followed the whole period
};

// h: treatment over control hazard ratio; S: control survival at a + f; R: allocation weight of
// the treatment arm.
EventProbability PREVENT(double h, double S, double R, double a, double f);

}  // namespace kestrel::survival
