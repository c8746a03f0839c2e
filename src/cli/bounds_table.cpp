// The table and the CSV of `kestrel bounds`: fixed columns per analysis, the design's single
// figures, the futility stops and operating characteristics, and the calendar times.
#include "cli/bounds_table.h"

#include <charconv>

#include "boundaries/futility.h"
#include "common/format.h"
#include "numerics/normal.h"

namespace kestrel::cli {

using boundaries::BoundsRequest;
using boundaries::BoundsResult;
using boundaries::FutilityFigures;
using boundaries::GsDesignResult;

std::string shortest(double v) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, p) : std::string("?");
}

namespace {

constexpr const char* kFutilityCsvHeader =
    ",futility,futility_nominal,futility_hr,futility_stop_alternative,futility_stop_null,"
    "efficacy_null,time_alternative,time_null,expected_events_null,expected_subjects_alternative,"
    "expected_subjects_null,type1_with_futility";

const char* spending_name(int code) {
  switch (code) {
    case 1:
      return "O'Brien-Fleming type";
    case 2:
      return "Pocock type";
    case 3:
      return "power family";
    case 4:
      return "Hwang-Shih-DeCani family";
    case 5:
      return "user cumulative values";
    case 6:
      return "alternative O'Brien-Fleming type";
    default:
      return "?";
  }
}

std::string title(const BoundsRequest& o) {
  std::string s = "Group sequential design: alpha " + shortest(o.alpha) +
                  (o.sides == 2 ? " two-sided" : " one-sided") + ", spending " +
                  std::to_string(o.spending) + " (" + spending_name(o.spending);
  if (o.phi) s += ", phi " + shortest(*o.phi);
  s += "), K " + std::to_string(o.times.size()) + ", power " + shortest(o.power) + ", hr " +
       shortest(o.hr) + ", accrual " + shortest(o.accrual) + ", follow-up " +
       shortest(o.follow_up) + ", survival " + shortest(o.survival);
  // The control arm in the form given, after the survival it was converted to.
  if (o.control == ControlForm::Median) s += " (median " + shortest(o.control_value) + ")";
  if (o.control == ControlForm::Hazard) s += " (hazard " + shortest(o.control_value) + ")";
  if (o.control == ControlForm::SurvivalAt)
    s += " (" + shortest(o.control_value) + " at " + shortest(o.control_time) + ")";
  s += ", allocation " + shortest(o.allocation);
  if (o.exact) s += ", exact bounds";
  const EntryAndLoss& el = o.entry_loss;
  if (o.dropout_time) {
    s += ", lost by " + shortest(*o.dropout_time) + " " + shortest(o.dropout_probability[0]) +
         "/" + shortest(o.dropout_probability[1]);
  }
  if (el.has_dropout()) s += ", dropout " + shortest(el.dropout[0]) + "/" + shortest(el.dropout[1]);
  if (el.has_ramp()) {
    s += ", accrual pieces";
    for (size_t p = 0; p < el.accrual_end.size(); ++p) {
      s += p ? "," : " ";
      s += shortest(el.accrual_end[p]) + ":" + shortest(el.accrual_intensity[p]);
    }
  }
  const EndpointHazards& h = el.hazards[0];
  for (size_t p = 0; p < h.control.size(); ++p) {
    s += (p ? "," : ", hazards from:hazard:ratio ") + shortest(p ? h.change[p - 1] : 0.0) + ":" +
         shortest(h.control[p]) + ":" + shortest(h.ratio[p]);
  }
  if (o.futility.any()) s += ", futility " + boundaries::describe_futility(o.futility);
  return s;
}

void print_table(const BoundsRequest& o, const GsDesignResult& r, std::ostream& out) {
  const int K = static_cast<int>(o.times.size());
  const double side = o.sides == 2 ? 2.0 : 1.0;
  out << title(o) << "\n";
  if (o.cumulative) {
    out << "Cumulative alpha:";
    for (double c : *o.cumulative) out << ' ' << shortest(c);
    out << "\n";
  }
  if (o.times.back() < 1) {
    // A trial that stopped before full information spends only part of alpha.
    out << "Last analysis at information fraction " << shortest(o.times.back())
        << " < 1: it spends " << shortest(r.pe[static_cast<size_t>(K - 1)]) << " of alpha "
        << shortest(o.alpha) << "\n";
  }
  out << "\n";
  struct Column {
    const char* top;
    const char* bottom;
    int width;
  };
  const Column cols[] = {{"k", "", 3},
                         {"time", "", 8},
                         {"lower", "z", 9},
                         {"upper", "z", 9},
                         {"nominal", "lower", 11},
                         {"nominal", "upper", 11},
                         {"alpha", "spent", 11},
                         {"alpha", "cumulative", 11},
                         {"crossing", "prob.", 11},
                         {"crossing", "cumulative", 11}};
  fmt::Record top, bottom;
  for (const Column& c : cols) {
    top.a(c.top, c.width);
    bottom.a(c.bottom, c.width);
  }
  out << top.str() << "\n" << bottom.str() << "\n";
  double crossed = 0;
  for (int i = 0; i < K; ++i) {
    crossed += r.qpos[i];
    out << fmt::Record()
               .i(i + 1, 3)
               .f(o.times[i], 8, 4)
               .f(r.za[i], 9, 4)
               .f(r.zb[i], 9, 4)
               .f(r.nominal_lower[i] / side, 11, 7)
               .f(r.nominal_upper[i] / side, 11, 7)
               .f(r.pd[i], 11, 7)
               .f(r.pe[i], 11, 7)
               .f(r.qpos[i], 11, 6)
               .f(crossed, 11, 6)
               .str()
        << "\n";
  }
  out << "\n";
  out << fmt::Record().lit("Drift             ").f(r.drift, 12, 6).str() << "\n";
  out << fmt::Record().lit("Events            ").i(r.events, 12).str() << "\n";
  out << fmt::Record().lit("Subjects          ").i(r.subjects, 12).str() << "\n";
  out << fmt::Record().lit("Expected events   ").f(r.expected_events, 12, 2).str() << "\n";
  out << fmt::Record().lit("Event probability ").f(r.pev, 12, 6).str() << "\n";
}

// The analyses' expected events and calendar times, after the table.
void print_analysis_times(const BoundsResult& t, std::ostream& out) {
  out << "\n" << fmt::Record().a("k", 3).a("events", 12).a("calendar time", 15).str() << "\n";
  for (size_t i = 0; i < t.analysis_events.size(); ++i) {
    out << fmt::Record().i(static_cast<int>(i) + 1, 3).f(t.analysis_events[i], 12, 1)
               .f(t.analysis_time[i], 15, 4).str()
        << "\n";
  }
}

// With piecewise hazards: the ratio behind the events and the calendar times of the analyses.
void print_piecewise(const BoundsResult& t, std::ostream& out) {
  if (t.analysis_times.empty()) return;
  out << fmt::Record().lit("Design hazard ratio").f(t.design_hr, 11, 6).str() << "\n";
  fmt::Record r;
  r.lit("Analysis times    ");
  for (double x : t.analysis_times) r.f(x, 12, 6);
  out << r.str() << "\n";
}

void print_futility_table(const BoundsResult& table, std::ostream& out) {
  const BoundsRequest& o = table.request;
  const GsDesignResult& r = table.result;
  const FutilityFigures f = boundaries::futility_figures(table);
  const int K = static_cast<int>(o.times.size());
  out << "\nFutility stops: " << boundaries::describe_futility(o.futility) << "\n\n";
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
               .f(boundaries::hr_of_futility_z(r.futility[i], o.hr, r.drift, o.times[i]), 9, 4)
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

void write_futility_csv_columns(const BoundsResult& table, int i, std::ostream& out) {
  const BoundsRequest& o = table.request;
  const GsDesignResult& r = table.result;
  const FutilityFigures f = boundaries::futility_figures(table);
  const size_t k = static_cast<size_t>(i);
  out << ',' << shortest(r.futility[k]) << ',' << shortest(numerics::GAUSSCDF(r.futility[k]))
      << ',' << shortest(boundaries::hr_of_futility_z(r.futility[k], o.hr, r.drift, o.times[k]))
      << ','
      << shortest(r.qneg[k]) << ',' << shortest(r.null_qneg[k]) << ','
      << shortest(r.null_qpos[k]) << ',' << shortest(f.time_alt[k]) << ','
      << shortest(f.time_null[k]) << ',' << shortest(f.events_null) << ','
      << shortest(f.subjects_alt) << ',' << shortest(f.subjects_null) << ','
      << shortest(f.type1);
}

}  // namespace

void print_bounds_table(const BoundsResult& table, std::ostream& out) {
  print_table(table.request, table.result, out);
  if (table.futility_in_force) {
    print_futility_table(table, out);
  } else if (table.request.futility.any()) {
    out << "\nFutility stops: " << boundaries::describe_futility(table.request.futility)
        << ": a bound of -8 stops nothing; the design is the one without futility stops\n";
  }
  print_analysis_times(table, out);
  print_piecewise(table, out);
}

void write_bounds_csv(const BoundsResult& table, std::ostream& out) {
  const BoundsRequest& o = table.request;
  const GsDesignResult& r = table.result;
  const int K = static_cast<int>(o.times.size());
  const double side = o.sides == 2 ? 2.0 : 1.0;
  out << "k,time,lower,upper,nominal_lower,nominal_upper,alpha_spent,alpha_cumulative,"
         "crossing_probability,drift,events,subjects,expected_events,analysis_events,"
         "calendar_time";
  if (table.futility_in_force) out << kFutilityCsvHeader;
  out << "\n";
  for (int i = 0; i < K; ++i) {
    out << i + 1 << ',' << shortest(o.times[i]) << ',' << shortest(r.za[i]) << ','
        << shortest(r.zb[i]) << ',' << shortest(r.nominal_lower[i] / side) << ','
        << shortest(r.nominal_upper[i] / side) << ',' << shortest(r.pd[i]) << ','
        << shortest(r.pe[i]) << ',' << shortest(r.qpos[i]) << ',' << shortest(r.drift) << ','
        << r.events << ',' << r.subjects << ',' << shortest(r.expected_events) << ','
        << shortest(table.analysis_events[static_cast<size_t>(i)]) << ','
        << shortest(table.analysis_time[static_cast<size_t>(i)]);
    if (table.futility_in_force) write_futility_csv_columns(table, i, out);
    out << "\n";
  }
}

}  // namespace kestrel::cli
