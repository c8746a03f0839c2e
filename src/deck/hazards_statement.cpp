// HAZARDS EPe m c(1..m-1) h(1..m) r(1..m), or HAZARDS EPe SURVIVAL m t(1..m) s(1..m) r(1..m):
// the piecewise-exponential law of one endpoint, at most once per endpoint. Every problem of
// the statement is listed.
#include <cmath>

#include "common/limits.h"
#include "deck/statement_reader.h"

namespace kestrel::deck {
namespace {

// The times of a law: its m - 1 change points, or the m times of its stated survivals; above 0,
// increasing. False when the deck ends inside them; `ok` is false when a value is refused.
bool law_times(StatementReader& r, Statement& st, int number, const std::string& f,
               bool by_survival, std::vector<double>& times, int& at, bool& ok) {
  bool ended = false;
  double prev = 0.0;
  for (size_t p = 0; p < times.size(); ++p) {
    const std::string field = f + (by_survival ? "time(" : "change(") + std::to_string(p + 1) + ")";
    double v = 0;
    if (!r.value(st, number, field, v, false, ended, at)) {
      if (ended) return false;
      ok = false;
      prev = -HUGE_VAL;
      continue;
    }
    times[p] = v;
    if (!(std::isfinite(v) && v > 0.0 && v > prev)) {
      r.problem(number, at, field, show_real(v),
                p == 0 ? "the first time must be above 0" : "the times must increase");
      ok = false;
    }
    prev = std::isfinite(v) ? v : -HUGE_VAL;
  }
  return true;
}

// The control hazards of the pieces, or the stated control survivals (decreasing).
bool law_values(StatementReader& r, Statement& st, int number, const std::string& f,
                bool by_survival, std::vector<double>& values, int& at, bool& ok) {
  bool ended = false;
  double last = 1.0;
  for (size_t p = 0; p < values.size(); ++p) {
    const std::string field =
        f + (by_survival ? "survival(" : "hazard(") + std::to_string(p + 1) + ")";
    double v = 0;
    if (!r.value(st, number, field, v, false, ended, at)) {
      if (ended) return false;
      ok = false;
      last = HUGE_VAL;
      continue;
    }
    values[p] = v;
    if (by_survival ? !(v > 0.0 && v < 1.0 && v < last) : !(v > 0.0 && std::isfinite(v))) {
      r.problem(number, at, field, show_real(v),
                by_survival ? (v > 0.0 && v < 1.0
                                   ? "the control survivals must decrease from one time to the next"
                                   : "a control survival must lie strictly between 0 and 1")
                            : "a control hazard must be above 0 (per time unit of TA and TF)");
      ok = false;
    }
    last = v > 0.0 && v < 1.0 ? v : HUGE_VAL;
  }
  return true;
}

// The hazard ratios (treatment over control) of the pieces.
bool law_ratios(StatementReader& r, Statement& st, int number, const std::string& f,
                std::vector<double>& ratios, int& at, bool& ok) {
  bool ended = false;
  for (size_t p = 0; p < ratios.size(); ++p) {
    const std::string field = f + "ratio(" + std::to_string(p + 1) + ")";
    double v = 0;
    if (!r.value(st, number, field, v, false, ended, at)) {
      if (ended) return false;
      ok = false;
      continue;
    }
    ratios[p] = v;
    if (!(v > 0.0 && std::isfinite(v))) {
      r.problem(number, at, field, show_real(v),
                "a hazard ratio (treatment over control) must be above 0");
      ok = false;
    }
  }
  return true;
}

// Gives endpoint `z` of the design the law read.
void keep_law(Design& g, size_t z, bool by_survival, const std::vector<double>& times,
              const std::vector<double>& values, const std::vector<double>& ratios) {
  EndpointHazards& h = g.entry_loss.hazards[z];
  EntryAndLossStatements& how = g.entry_loss_statements;
  h.ratio = ratios;
  if (!by_survival) {
    h.change = times;
    h.control = values;
    return;
  }
  how.survival_time[z] = times;
  how.survival_value[z] = values;
  double t0 = 0.0, s0 = 1.0;
  for (size_t p = 0; p < values.size(); ++p) {
    h.control.push_back(std::log(s0 / values[p]) / (times[p] - t0));
    if (p + 1 < values.size()) h.change.push_back(times[p]);
    t0 = times[p];
    s0 = values[p];
  }
}

// The next item as an upper-case word; empty when it is not an unquoted value.
std::string word(Statement& st, DeckScanner::Token& t, bool& ended) {
  const Item r = st.take(t);
  if (r == Item::End) ended = true;
  return r == Item::Read && !t.quoted ? upper(t.text) : std::string();
}

// The number of pieces, after SURVIVAL or as the form's own item. False when no usable count
// was read (`ended` set when the deck ended).
bool piece_count(StatementReader& r, Statement& st, int number, const std::string& f,
                 bool by_survival, const DeckScanner::Token& form, int line, double& count,
                 int& at, bool& ended) {
  if (by_survival) return r.value(st, number, f + "number of pieces", count, false, ended, at);
  at = form.line ? form.line : line;
  if (form.kind != DeckScanner::Kind::Value) {
    r.problem(number, at, f + "number of pieces", "(a null value or a slash)",
              "the value must be given");
    return false;
  }
  if (!form.fault.empty() || form.quoted || !parse_deck_real(form.text, count)) {
    r.problem(number, at, f + "number of pieces", echoed(form.text),
              "the number of pieces (1 to 10), or SURVIVAL followed by the number of stated "
              "control survivals");
    return false;
  }
  return true;
}

}  // namespace

bool read_hazards(StatementReader& r, Statement& st, Design& g, int line) {
  const int number = g.number;
  EntryAndLossStatements& how = g.entry_loss_statements;
  bool ended = false;
  int at = line;
  DeckScanner::Token ep;
  const std::string e = word(st, ep, ended);
  if (ended) {
    r.problem(number, r.scanner().line(), "HAZARDS", "", "the deck ends inside this statement");
    return false;
  }
  if (e != "EP1" && e != "EP2") {
    r.problem(number, ep.line ? ep.line : line, "HAZARDS endpoint", echoed(ep.text),
              "HAZARDS is followed by the endpoint, EP1 or EP2");
    return true;
  }
  const size_t z = e == "EP1" ? 0 : 1;
  const bool again = how.hazards_line[z] != 0;
  if (again) {
    r.problem(number, line, "HAZARDS " + e, "",
              "a design takes one HAZARDS statement per endpoint; the first for " + e +
                  " is on line " + std::to_string(how.hazards_line[z]));
  } else {
    how.hazards_line[z] = line;
  }
  // SURVIVAL (control survival at stated times) or the number of pieces.
  DeckScanner::Token form;
  const bool by_survival = word(st, form, ended) == "SURVIVAL";
  if (ended) {
    r.problem(number, r.scanner().line(), "HAZARDS " + e, "", "the deck ends inside this statement");
    return false;
  }
  double count = 0;
  const std::string f = "HAZARDS " + e + " ";
  if (!piece_count(r, st, number, f, by_survival, form, line, count, at, ended)) return !ended;
  if (!(count >= 1 && count <= NMAXA && count == std::floor(count))) {
    r.problem(number, at, f + "number of pieces", show_real(count),
              "an endpoint's law has 1 to 10 pieces");
    return true;
  }
  const size_t m = static_cast<size_t>(count);
  bool ok = true;
  std::vector<double> times(by_survival ? m : m - 1), values(m), ratios(m);
  if (!law_times(r, st, number, f, by_survival, times, at, ok)) return false;
  if (!law_values(r, st, number, f, by_survival, values, at, ok)) return false;
  if (!law_ratios(r, st, number, f, ratios, at, ok)) return false;
  if (ok && !again) keep_law(g, z, by_survival, times, values, ratios);
  return true;
}

}  // namespace kestrel::deck
