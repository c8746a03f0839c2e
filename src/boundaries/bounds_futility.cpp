// Futility bounds and operating characteristics of `kestrel bounds`: each analysis at the
// calendar time its events are expected (under the alternative or with both arms at the control
// hazard), the subjects enrolled by then, and the expected events, subjects and duration.
#include "boundaries/bounds_futility.h"

#include <charconv>
#include <cmath>
#include <string>

#include "boundaries/futility.h"
#include "common/format.h"
#include "numerics/normal.h"
#include "survival/entry_loss.h"

namespace kestrel::boundaries {
namespace {

std::string shortest(double v) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, p) : std::string("?");
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

FutilityFigures futility_figures(const BoundsTable& table) {
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

void print_futility_table(const BoundsTable& table, std::ostream& out) {
  const BoundsRequest& o = table.request;
  const GsDesignResult& r = table.result;
  const FutilityFigures f = futility_figures(table);
  const int K = static_cast<int>(o.times.size());
  out << "\nFutility stops: " << describe_futility(o.futility) << "\n\n";
  struct Column {
    const char* top;
    const char* bottom;
    int width;
  };
  const Column cols[] = {{"k", "", 3},
                         {"futility", "z", 9},
                         {"nominal", "level", 11},
                         {"hazard", "ratio", 9},
                         {"futility", "alt.", 11},
                         {"futility", "null", 11},
                         {"efficacy", "null", 11},
                         {"time", "alt.", 9},
                         {"time", "null", 9}};
  fmt::Record top, bottom;
  for (const Column& c : cols) {
    top.a(c.top, c.width);
    bottom.a(c.bottom, c.width);
  }
  out << top.str() << "\n" << bottom.str() << "\n";
  for (int i = 0; i < K; ++i) {
    out << fmt::Record()
               .i(i + 1, 3)
               .f(r.futility[i], 9, 4)
               .f(numerics::GAUSSCDF(r.futility[i]), 11, 7)
               .f(hr_of_futility_z(r.futility[i], o.hr, r.drift, o.times[i]), 9, 4)
               .f(r.qneg[i], 11, 6)
               .f(r.null_qneg[i], 11, 6)
               .f(r.null_qpos[i], 11, 6)
               .f(f.time_alt[i], 9, 4)
               .f(f.time_null[i], 9, 4)
               .str()
        << "\n";
  }
  out << "\n";
  out << "                      alternative        null\n";
  auto pair = [&](const char* label, double a, double b, int d) {
    out << fmt::Record().lit(label).f(a, 12, d).f(b, 12, d).str() << "\n";
  };
  pair("Expected events     ", f.events_alt, f.events_null, 2);
  pair("Expected subjects   ", f.subjects_alt, f.subjects_null, 2);
  pair("Expected duration   ", f.duration_alt, f.duration_null, 4);
  out << fmt::Record().lit("Type I error with the futility stops ").f(f.type1, 11, 7).str()
      << (o.futility.binding
              ? " (binding: it holds only if the trial does stop at the futility bounds)\n"
              : " (non-binding: the efficacy bounds alone spend alpha)\n");
}

void write_futility_csv_columns(const BoundsTable& table, int i, std::ostream& out) {
  const BoundsRequest& o = table.request;
  const GsDesignResult& r = table.result;
  const FutilityFigures f = futility_figures(table);
  const size_t k = static_cast<size_t>(i);
  out << ',' << shortest(r.futility[k]) << ',' << shortest(numerics::GAUSSCDF(r.futility[k]))
      << ',' << shortest(hr_of_futility_z(r.futility[k], o.hr, r.drift, o.times[k])) << ','
      << shortest(r.qneg[k]) << ',' << shortest(r.null_qneg[k]) << ','
      << shortest(r.null_qpos[k]) << ',' << shortest(f.time_alt[k]) << ','
      << shortest(f.time_null[k]) << ',' << shortest(f.events_null) << ','
      << shortest(f.subjects_alt) << ',' << shortest(f.subjects_null) << ','
      << shortest(f.type1);
}

}  // namespace kestrel::boundaries
