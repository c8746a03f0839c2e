// The boundary calculator of one endpoint: the design of the request by the boundary routines of
// a full run (gsdesign.h), the calendar time of each analysis, and the operating characteristics
// of its futility stops.
#include "boundaries/bounds_request.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "boundaries/futility.h"
#include "boundaries/gsdesign.h"
#include "boundaries/piecewise_design.h"
#include "common/errors.h"
#include "survival/entry_loss.h"

namespace kestrel::boundaries {
namespace {

std::string shortest(double v) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, p) : std::string("?");
}

std::string list(const std::vector<double>& v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + shortest(v[i]);
  return s;
}

// The event-time law and periods in force, for a message about the events they give.
std::string law_in_force(const BoundsRequest& q) {
  std::string s;
  const EndpointHazards& h = q.entry_loss.hazards[0];
  if (h.given()) {
    s = "piecewise control hazards " + list(h.control);
    if (!h.change.empty()) s += " (changing at " + list(h.change) + ")";
    s += ", hazard ratios " + list(h.ratio);
  } else {
    switch (q.control) {
      case ControlForm::Median: s = "control median " + shortest(q.control_value); break;
      case ControlForm::Hazard: s = "control hazard " + shortest(q.control_value); break;
      case ControlForm::SurvivalAt:
        s = "control survival " + shortest(q.control_value) + " at " + shortest(q.control_time);
        break;
      case ControlForm::EndOfStudy:
        s = "control survival " + shortest(q.survival) + " at the end of the study";
        break;
    }
    s += ", hazard ratio " + shortest(q.hr);
  }
  s += ", allocation " + shortest(q.allocation) + ", accrual " + shortest(q.accrual) +
       ", follow-up " + shortest(q.follow_up);
  if (q.entry_loss.has_dropout())
    s += ", loss to follow-up " + shortest(q.entry_loss.dropout[0]) + "/" +
         shortest(q.entry_loss.dropout[1]) + " per time unit";
  if (q.entry_loss.has_ramp()) s += ", accrual pieces";
  return s;
}

// The notices of the recursion and the drift search, one per line. The pair of lines of an
// analysis whose share of alpha is too small to spend becomes one sentence with its information
// fraction.
std::vector<std::string> notices(const std::string& text, const std::vector<double>& times) {
  std::vector<std::string> lines, out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) lines.push_back(line.substr(first));
  }
  const std::string small = "Type I error spent too small, analysis";
  const std::string zero = "Zero used as approximation for";
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(small, 0) != 0 || i + 1 >= lines.size() || lines[i + 1].rfind(zero, 0) != 0) {
      out.push_back(lines[i]);
      continue;
    }
    const int k = std::atoi(lines[i].c_str() + small.size());
    const double given = std::strtod(lines[i + 1].c_str() + zero.size(), nullptr);
    char text_given[32];
    std::snprintf(text_given, sizeof text_given, "%.3g", given);
    std::string m = "analysis " + std::to_string(k);
    if (k >= 1 && static_cast<size_t>(k) <= times.size())
      m += " (information fraction " + shortest(times[static_cast<size_t>(k - 1)]) + ")";
    m += std::string(": the spending function gives it ") + text_given +
         " of alpha, too little to spend (less than 1e-13); none is spent there and its bound "
         "stays at 8 (no stop for efficacy)";
    out.push_back(m);
    ++i;
  }
  return out;
}

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
  // A loss so strong that nothing is left of the study before its end leaves no events to count.
  const double end = request.accrual + request.follow_up;
  for (size_t a = 0; a < 2; ++a) {
    const double h = request.entry_loss.dropout[a];
    if (!(h * end <= 700.0)) {
      throw RunError("the hazard of loss to follow-up " + shortest(h) + " per time unit (" +
                         (a == 0 ? "control" : "treatment") +
                         " arm) loses every subject long before the end of the study at " +
                         shortest(end) + " (the hazard times the study's length must be at "
                         "most 700)",
                     0, "dropout");
    }
  }
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

  // The event probability the design divides the events by, checked here so that a law that
  // gives no events, or too few to count the subjects, is named as it was given.
  const double pev = in.event_probability_given
                         ? *in.event_probability_given
                         : event_probability(in.hr, in.ta, in.tf, in.control_survival, in.allocation);
  if (!(pev > 0.0 && pev <= 1.0)) {
    throw RunError("no events are expected by the end of the study (event probability " +
                   shortest(pev) + "): " + law_in_force(request));
  }
  in.event_probability_given = 1.0;  // the subjects are formed below, with pev

  BoundsResult table;
  table.request = request;
  std::ostringstream messages;
  BoundaryWork work;
  table.result = design_with_code(in, request.spending, request.phi.value_or(0.0), work, messages);
  // Futility bounds of -8 at every interim stop nothing: the design is the one without them.
  table.futility_in_force = !table.result.futility.empty();
  GsDesignResult& r = table.result;
  const double n = std::ceil(static_cast<double>(r.events) / pev);
  if (!(n <= static_cast<double>(INT_MAX))) {
    char count[32];
    std::snprintf(count, sizeof count, "%.4g", n);
    throw RunError("the number of subjects, " + std::to_string(r.events) +
                   " events over the event probability " + shortest(pev) +
                   " by the end of the study, is " + count +
                   ": more than the largest whole number that can be counted (" +
                   std::to_string(INT_MAX) + "); " + law_in_force(request));
  }
  r.pev = pev;
  r.subjects = static_cast<int>(n);
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
  table.warnings = notices(messages.str(), request.times);
  return table;
}

FutilityFigures futility_figures(const BoundsResult& table) {
  const BoundsRequest& o = table.request;
  const GsDesignResult& r = table.result;
  const size_t K = o.times.size();
  const survival::EntryLoss m(o.entry_loss, o.accrual);
  const double N = r.subjects, D = r.events;
  FutilityFigures f;
  if (!table.futility_in_force) return f;  // no stops, no figures of them
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
