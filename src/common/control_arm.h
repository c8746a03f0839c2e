#pragma once
// The control arm's law in the forms planners state it, and the one form every calculation
// reads: the survival at the end of the study (TA + TF). Exponential event times throughout, so
// a median m is the hazard log(2)/m and a survival s at time t the hazard -log(s)/t.
#include <cmath>

namespace kestrel {

enum class ControlForm { EndOfStudy = 0, Median = 1, Hazard = 2, SurvivalAt = 3 };

// The hazard per time unit of a control arm given as `value` in `form` (`time`: the time of a
// survival probability, SurvivalAt only).
inline double control_hazard(ControlForm form, double value, double time) {
  switch (form) {
    case ControlForm::Median: return std::log(2.0) / value;
    case ControlForm::Hazard: return value;
    case ControlForm::SurvivalAt: return -std::log(value) / time;
    case ControlForm::EndOfStudy: break;
  }
  return std::nan("");
}

// Survival at the end of the study `end` = TA + TF of a control arm with hazard `hazard`.
inline double end_of_study_survival(double hazard, double end) { return std::exp(-hazard * end); }

}  // namespace kestrel
