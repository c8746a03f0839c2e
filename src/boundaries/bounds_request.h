#pragma once
// The boundary calculator of one endpoint: a request value (the design asked for) in, the bounds,
// drift, events, subjects and calendar times out. The command line (cli/) and the R package fill
// the request; neither reads anything here but the values.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "boundaries/gsdesign.h"
#include "common/control_arm.h"
#include "common/design.h"
#include "common/futility_rule.h"

namespace kestrel::boundaries {

// The design asked for, with the calculator's defaults.
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
  bool exact = false;  // the exact boundary method (exact_boundary.h)
  // Loss to follow-up (hazards per time unit, control then treatment), accrual pieces and
  // piecewise hazards; plain by default. When the loss was given as probabilities of being lost
  // by a time, that time and the probabilities are kept for the title.
  EntryAndLoss entry_loss;
  std::optional<double> dropout_time;
  std::array<double, 2> dropout_probability{0.0, 0.0};
  // The control arm as a median, a hazard or a survival at a stated time; `survival` then holds
  // the survival at the end of the study it was converted to (set_control_arm).
  ControlForm control = ControlForm::EndOfStudy;
  double control_value = 0, control_time = 0;
  // Futility stops; none by default.
  FutilityRule futility;

  // The control arm in `form` (`value`; `time`: the time of a survival, SurvivalAt only),
  // converted to the survival at the end of the study accrual + follow_up (set those first).
  void set_control_arm(ControlForm form, double value, double time = 0.0) {
    control = form;
    control_value = value;
    control_time = time;
    survival = end_of_study_survival(control_hazard(form, value, time), accrual + follow_up);
  }
};

// The calculation: the bounds, spending and crossing probabilities per analysis, the drift and
// the numbers of events and subjects, with the notices of the recursion and drift search
// (result.drift_converged is false when the drift search did not reach the power).
struct BoundsResult {
  BoundsRequest request;
  GsDesignResult result;
  std::vector<std::string> warnings;
  // Whether futility stops are in force: asked for, and not -8 at every interim (a bound of -8
  // stops nothing; the design is then the one without futility stops, and the result carries
  // no futility figures).
  bool futility_in_force = false;
  // Per analysis: the expected events there (events times its information fraction) and the
  // calendar time when the subjects' expected events reach them (loss and pieces included).
  std::vector<double> analysis_events, analysis_time;
  // Piecewise hazards only: the ratio behind the events (the common ratio, or the model's
  // drift-equivalent one) and the calendar times at which the expected events of the subjects
  // reach each information fraction of the events.
  double design_hr = 0;
  std::vector<double> analysis_times;
};
// Problems that stop the calculation throw RunError, in words that name values, not options.
BoundsResult calculate_bounds(const BoundsRequest& request);

// Operating characteristics of a design with futility stops in force, under the alternative and
// the null: calendar time of each analysis, subjects enrolled by then, and the expected events,
// subjects and duration; all empty and zero without futility stops in force.
struct FutilityFigures {
  std::vector<double> time_alt, time_null, enrolled_alt, enrolled_null;
  double events_alt = 0, events_null = 0, subjects_alt = 0, subjects_null = 0;
  double duration_alt = 0, duration_null = 0;
  double type1 = 0;  // the type I error with the futility stops in force
};
FutilityFigures futility_figures(const BoundsResult& result);

}  // namespace kestrel::boundaries
