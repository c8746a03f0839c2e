#pragma once
// `kestrel bounds`: the boundary calculator of the command line.
#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "boundaries/gsdesign.h"
#include "common/design.h"

namespace kestrel::boundaries {

// The values of the calculator's options, with their defaults.
struct BoundsRequest {
  double alpha = 0.025;
  int sides = 1;
  int spending = 1;
  std::optional<double> phi;
  std::optional<std::vector<double>> cumulative;
  std::vector<double> times{1.0};
  double power = 0.9;
  double hr = 0.7;
  double accrual = 1.0;
  double follow_up = 1.0;
  double survival = 0.5;
  double allocation = 0.5;
  bool exact = false;  // --exact: the exact boundary method (exact_boundary.h)
  // Loss to follow-up (hazards per time unit, control then treatment) and accrual pieces; plain
  // by default. When the loss was given as probabilities of being lost by a time, that time and
  // the probabilities are kept for the title.
  EntryAndLoss entry_loss;
  std::optional<double> dropout_time;
  std::array<double, 2> dropout_probability{0.0, 0.0};
  // The control arm as --median, --control-hazard or --survival with --survival-time; `survival`
  // then holds the survival at the end of the study it was converted to.
  ControlForm control = ControlForm::EndOfStudy;
  double control_value = 0, control_time = 0;
  // Futility stops (--futility-spending, --futility-z, --futility-hr, --binding); none by default.
  FutilityRule futility;
};

// The options as the command line takes them ("--alpha", "0.05", "--times=0.5,1", ...; neither
// --csv nor --help), checked. A bad option throws RunError whose field() names it.
BoundsRequest parse_bounds_request(const std::vector<std::string>& options);

// The calculator's table: the bounds, spending and crossing probabilities per analysis, the drift
// and the numbers of events and subjects, with the warnings of the recursion and drift search
// (result.drift_converged is false when the drift search did not reach the power).
struct BoundsTable {
  BoundsRequest request;
  GsDesignResult result;
  std::vector<std::string> warnings;
  // Per analysis: the expected events there (events times its information fraction) and the
  // calendar time when the subjects' expected events reach them (loss and pieces included).
  std::vector<double> analysis_events, analysis_time;
  // Piecewise hazards only: the ratio behind the events (the common ratio, or the model's
  // drift-equivalent one) and the calendar times at which the expected events of the subjects
  // reach each information fraction of the events.
  double design_hr = 0;
  std::vector<double> analysis_times;
};
// Terminal problems of the calculation throw RunError.
BoundsTable calculate_bounds(const BoundsRequest& request);

// Operating characteristics of a design with futility stops, under the alternative and the
// null: calendar time of each analysis, subjects enrolled by then, and the expected events,
// subjects and duration.
struct FutilityFigures {
  std::vector<double> time_alt, time_null, enrolled_alt, enrolled_null;
  double events_alt = 0, events_null = 0, subjects_alt = 0, subjects_null = 0;
  double duration_alt = 0, duration_null = 0;
  double type1 = 0;  // the type I error with the futility stops in force
};
FutilityFigures futility_figures(const BoundsTable& table);

// The table as CSV, one line per analysis after a header line.
void write_bounds_csv(const BoundsTable& table, std::ostream& out);

// args: the options after "bounds". Returns the exit status (0, or 2 on bad options).
int run_bounds_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestrel::boundaries
