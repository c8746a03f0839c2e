// MODEL DEFAULT | MODEL EXACT, and CONTROL MEDIAN m1 [m2] | CONTROL HAZARD h1 [h2] |
// CONTROL SURVIVAL t s1 [s2], each at most once.
#include <cmath>

#include "common/control_arm.h"
#include "deck/deck_reader.h"

namespace kestrel::deck {
namespace {

// The first line of a statement that a design takes once (0: none yet); a second is refused.
int first_of(StatementReader& r, int number, const std::string& word, int first, int line) {
  if (first) {
    r.problem(number, line, word, "",
              "a design takes one " + word + " statement; the first is on line " +
                  std::to_string(first));
  }
  return first;
}

// The control-arm values of EP1 and EP2 in the form `how` (EP2's left out: EP1's). False when
// the deck ends inside them; `ok` is false when a value is refused.
bool control_values(StatementReader& r, Statement& st, int number, ControlForm how,
                    std::array<double, 2>& v, int& at, bool& ok) {
  bool ended = false;
  for (int ep = 0; ep < 2; ++ep) {
    const std::string field = std::string("CONTROL ") +
                              (how == ControlForm::Median   ? "median"
                               : how == ControlForm::Hazard ? "hazard"
                                                            : "survival") +
                              (ep == 0 ? " of EP1" : " of EP2");
    double x = ep == 1 ? v[0] : std::nan("");
    if (!r.value(st, number, field, x, ep == 1, ended, at)) {
      if (ended) return false;
      ok = false;
      continue;
    }
    if (ep == 1 && std::isnan(x)) continue;  // left as EP1's (already refused)
    const bool fine = how == ControlForm::SurvivalAt ? (x > 0.0 && x < 1.0)
                                                     : (x > 0.0 && std::isfinite(x));
    if (!fine) {
      r.problem(number, at, field, show_real(x),
                how == ControlForm::SurvivalAt
                    ? "a control-arm survival probability must lie strictly between 0 and 1"
                : how == ControlForm::Median
                    ? "a control-arm median must be above 0 (in time units of TA and TF)"
                    : "a control-arm hazard must be above 0 (per time unit of TA and TF)");
      ok = false;
    }
    v[static_cast<size_t>(ep)] = x;
  }
  return true;
}

}  // namespace

bool read_model(StatementReader& r, Statement& st, Design& g, int line) {
  const int number = g.number;
  ModelAndControl& mc = g.model_control;
  const int first = first_of(r, number, "MODEL", mc.model_line, line);
  const char* const kForms =
      "MODEL is followed by DEFAULT (the model of the reports) or EXACT (the exact "
      "covariance under the alternative and exact bounds, as --exact)";
  DeckScanner::Token form;
  const Item item = st.take(form);
  if (item == Item::End) {
    r.problem(number, r.scanner().line(), "MODEL", "",
              std::string("the deck ends inside this statement; ") + kForms);
    return false;
  }
  const std::string f = upper(form.text);
  if (item != Item::Read || form.quoted || (f != "DEFAULT" && f != "EXACT")) {
    r.problem(number, form.line ? form.line : line, "MODEL", echoed(form.text), kForms);
  } else if (!first) {
    mc.model = f == "EXACT" ? 2 : 1;
    mc.model_line = line;
  }
  return true;
}

bool read_control(StatementReader& r, Statement& st, Design& g, int line) {
  const int number = g.number;
  ModelAndControl& mc = g.model_control;
  const int first = first_of(r, number, "CONTROL", mc.control_line, line);
  const char* const kForms =
      "CONTROL is followed by MEDIAN and the control-arm medians of EP1 and EP2, by "
      "HAZARD and their hazards per time unit, or by SURVIVAL, a time t and their "
      "survival probabilities at t (one value: both endpoints)";
  DeckScanner::Token form;
  const Item item = st.take(form);
  if (item == Item::End) {
    r.problem(number, r.scanner().line(), "CONTROL", "",
              std::string("the deck ends inside this statement; ") + kForms);
    return false;
  }
  const std::string f = upper(form.text);
  if (item != Item::Read || form.quoted || (f != "MEDIAN" && f != "HAZARD" && f != "SURVIVAL")) {
    r.problem(number, form.line ? form.line : line, "CONTROL", echoed(form.text), kForms);
    return true;
  }
  const ControlForm how = f == "MEDIAN" ? ControlForm::Median
                          : f == "HAZARD" ? ControlForm::Hazard : ControlForm::SurvivalAt;
  bool ended = false, ok = true;
  int at = line;
  double t = 0;
  if (how == ControlForm::SurvivalAt) {
    ok = r.value(st, number, "CONTROL time", t, false, ended, at);
    if (ended) return false;
    if (ok && !(t > 0.0 && std::isfinite(t))) {
      r.problem(number, at, "CONTROL time", show_real(t),
                "the time of the control-arm survival probabilities must be above 0");
      ok = false;
    }
  }
  std::array<double, 2> v{std::nan(""), std::nan("")};
  if (!control_values(r, st, number, how, v, at, ok)) return false;
  if (!first) mc.control_line = line;
  if (ok && !first) {
    mc.control = how;
    mc.control_time = t;
    mc.control_value = v;
  }
  return true;
}

void apply_control(StatementReader& r, DeckRecord& rec) {
  const ModelAndControl& mc = rec.design.model_control;
  if (mc.control == ControlForm::EndOfStudy) return;
  DeckValues& d = rec.design.read;
  const double end = d.TA + d.TF;
  if (!(std::isfinite(end) && end > 0.0)) return;  // TA or TF already refused
  for (int ep = 0; ep < 2; ++ep) {
    const double value = mc.control_value[static_cast<size_t>(ep)];
    const double s = end_of_study_survival(control_hazard(mc.control, value, mc.control_time), end);
    if (s > 0.0 && s < 1.0) {
      (ep == 0 ? d.SRVR1 : d.SRVR2) = s;
      continue;
    }
    // The record's own survival is left in place: the fault is the statement's.
    r.problem(rec.design.number, mc.control_line,
              std::string("CONTROL ") +
                  (mc.control == ControlForm::Median   ? "median"
                   : mc.control == ControlForm::Hazard ? "hazard"
                                                       : "survival") +
                  (ep == 0 ? " of EP1" : " of EP2"),
              show_real(value),
              "the control arm's law it states gives a survival of " + show_real(s) +
                  " at the end of the study (TA + TF = " + show_real(end) +
                  "), where it must lie strictly between 0 and 1");
  }
}

}  // namespace kestrel::deck
