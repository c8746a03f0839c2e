// Single-endpoint figures under piecewise hazards (see piecewise_design.h).
#include "boundaries/piecewise_design.h"

#include <cmath>

#include "survival/entry_loss.h"
#include "survival/information_kernel.h"

namespace kestrel::boundaries {

double design_hazard_ratio(const PiecewiseEndpoint& e) {
  const EndpointHazards& h = e.el.hazards[0];
  if (!h.given()) return e.hr;
  bool common = true;
  for (double r : h.ratio) common = common && r == h.ratio[0];
  if (common) return h.ratio[0];
  // The model of the endpoint on its own: EP2 a copy, independent, no competing risk.
  TrialModel alone;
  alone.hazard_ratio = {e.hr, e.hr};
  alone.control_survival = {e.S, e.S};
  alone.treatment_share = e.p;
  alone.accrual_period = e.ta;
  alone.follow_up = e.tf;
  alone.entry_loss = e.el;
  alone.entry_loss.hazards[1] = h;
  const survival::detail::InformationModel model(alone, 1000);
  const survival::detail::Moments m = model.moments(model.final_look());
  return std::exp(m.mu[0] / m.v0[0]);
}

double expected_events(const PiecewiseEndpoint& e, double subjects, double tau) {
  const survival::EntryLoss el(e.el, e.ta);
  return subjects * el.enrolled(tau) *
         survival::pooled_event_probability(el, e.el, 0, e.hr, e.S, e.p, e.ta, e.tf, tau);
}

std::vector<double> analysis_times(const PiecewiseEndpoint& e, double subjects, double events,
                                   const std::vector<double>& times) {
  const double T = e.ta + e.tf;
  std::vector<double> out;
  for (double t : times) {
    const double target = t * events;
    double lo = 0.0, hi = T;
    if (expected_events(e, subjects, T) <= target) {
      out.push_back(T);
      continue;
    }
    while (hi - lo > 1e-12 * T) {
      const double mid = 0.5 * (lo + hi);
      (expected_events(e, subjects, mid) < target ? lo : hi) = mid;
    }
    out.push_back(0.5 * (lo + hi));
  }
  return out;
}

}  // namespace kestrel::boundaries
