// The boundary calculator of one endpoint: the design of the request by the boundary routines of
// a full run (gsdesign.h), the calendar time of each analysis, and the operating characteristics
// of its futility stops.
#include "boundaries/bounds_request.h"

#include <cmath>
#include <sstream>

#include "boundaries/futility.h"
#include "boundaries/gsdesign.h"
#include "boundaries/piecewise_design.h"
#include "common/errors.h"
#include "survival/entry_loss.h"

namespace kestrel::boundaries {
namespace {

// The calendar time at which `events` events are expected among N subjects (bisection; the end
// of the search window when they never come).
double analysis_time(const survival::EntryLoss& m, const BoundsRequest& o, double hr, double N,
                     double events) {
  auto expected = [&](double tau) {
    return N * m.enrolled(tau) *
           survival::pooled_event_probability(m, hr, o.survival, o.allocation, o.accrual,
                                              o.follow_up, tau);
  };
  double lo = 0.0, hi = o.accrual + o.follow_up;
  for (int k = 0; k < 60 && expected(hi) < events; ++k) hi *= 2.0;
  if (expected(hi) < events) return hi;
  for (int it = 0; it < 100 && hi - lo > 1e-12 * hi; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (expected(mid) < events) lo = mid; else hi = mid;
  }
  return 0.5 * (lo + hi);
}

}  // namespace

BoundsResult calculate_bounds(const BoundsRequest& request) {
  GsDesignInput in;
  in.K = static_cast<int>(request.times.size());
  in.alpha = request.alpha;
  in.sides = request.sides;
  in.spending.deck_code = request.spending;
  if (request.phi) {
    in.spending.has_phi = true;
    in.spending.phi = *request.phi;
  }
  if (request.cumulative) in.spending.cumulative = *request.cumulative;
  in.power = request.power;
  in.hr = request.hr;
  in.t = request.times;
  in.ta = request.accrual;
  in.tf = request.follow_up;
  in.control_survival = request.survival;
  in.allocation = request.allocation;
  in.exact = request.exact;
  const bool pieces = request.entry_loss.has_hazards();
  const PiecewiseEndpoint endpoint{request.entry_loss, request.hr, request.survival,
                                   request.allocation, request.accrual, request.follow_up};
  if (pieces) in.hr = design_hazard_ratio(endpoint);
  in.futility = request.futility;
  if (!request.entry_loss.plain()) {
    const survival::EntryLoss el(request.entry_loss, request.accrual);
    const double T = request.accrual + request.follow_up;
    in.event_probability_given = survival::pooled_event_probability(
        el, request.entry_loss, 0, request.hr, request.survival, request.allocation,
        request.accrual, request.follow_up, T);
  }

  BoundsResult table;
  table.request = request;
  table.futility_in_force = request.futility.any();
  std::ostringstream messages;
  BoundaryWork work;
  table.result = design_with_code(in, request.spending, request.phi.value_or(0.0), work, messages);
  if (pieces) {
    table.design_hr = in.hr;
    table.analysis_times = analysis_times(endpoint, table.result.subjects, table.result.events,
                                          request.times);
    for (double t : request.times) table.analysis_events.push_back(table.result.events * t);
    table.analysis_time = table.analysis_times;
  } else {
    // Per analysis: D t_k events, reached at the calendar time where N L(tau) P(tau) = D t_k (the
    // probability of an observed event among those enrolled by tau, rising in tau), by bisection.
    const survival::EntryLoss el(request.entry_loss, request.accrual);
    const double end = request.accrual + request.follow_up;
    const double N = table.result.subjects;
    auto events_by = [&](double tau) {
      if (!(tau > 0.0)) return 0.0;
      return N * el.enrolled(tau) *
             survival::pooled_event_probability(el, request.hr, request.survival,
                                                request.allocation, request.accrual,
                                                request.follow_up, tau);
    };
    for (size_t k = 0; k < request.times.size(); ++k) {
      const double target = table.result.events * request.times[k];
      double lo = 0.0, hi = end;
      if (events_by(hi) <= target) {
        lo = hi;  // the whole study (the rounding up of N leaves it at or above D)
      } else {
        for (int it = 0; it < 200 && hi - lo > 1e-12 * end; ++it) {
          const double mid = 0.5 * (lo + hi);
          (events_by(mid) < target ? lo : hi) = mid;
        }
      }
      table.analysis_events.push_back(target);
      table.analysis_time.push_back(0.5 * (lo + hi));
    }
  }
  // Warnings of the recursion and of the drift search.
  std::istringstream lines(messages.str());
  for (std::string line; std::getline(lines, line);) {
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) table.warnings.push_back(line.substr(first));
  }
  return table;
}

FutilityFigures futility_figures(const BoundsResult& table) {
  const BoundsRequest& o = table.request;
  const GsDesignResult& r = table.result;
  const size_t K = o.times.size();
  const survival::EntryLoss m(o.entry_loss, o.accrual);
  const double N = r.subjects, D = r.events;
  FutilityFigures f;
  f.events_alt = r.expected_events;
  f.events_null = r.expected_events_null;
  double left_alt = 1.0, left_null = 1.0;
  for (size_t i = 0; i < K; ++i) {
    const double ta = analysis_time(m, o, o.hr, N, D * o.times[i]);
    const double t0 = analysis_time(m, o, 1.0, N, D * o.times[i]);
    f.time_alt.push_back(ta);
    f.time_null.push_back(t0);
    f.enrolled_alt.push_back(N * m.enrolled(ta));
    f.enrolled_null.push_back(N * m.enrolled(t0));
    const bool last = i + 1 == K;
    const double stop_alt = last ? left_alt : r.qpos[i] + r.qneg[i];
    const double stop_null = last ? left_null : r.null_qpos[i] + r.null_qneg[i];
    left_alt -= stop_alt;
    left_null -= stop_null;
    f.subjects_alt += stop_alt * f.enrolled_alt.back();
    f.subjects_null += stop_null * f.enrolled_null.back();
    f.duration_alt += stop_alt * ta;
    f.duration_null += stop_null * t0;
    f.type1 += r.null_qpos[i];
  }
  return f;
}

}  // namespace kestrel::boundaries
