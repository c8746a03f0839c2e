// The R package's entry points: R values in, the core's calculation, R lists out. No numbers are
// computed here; everything comes from the same library the program runs.
#include <Rcpp.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "boundaries/bounds_request.h"
#include "boundaries/futility.h"
#include "boundaries/spending.h"
#include "common/errors.h"
#include "common/sha256.h"
#include "deck/deck.h"
#include "numerics/normal.h"
#include "driver/design_calculation.h"
#include "reports/html_report.h"
#include "reports/report_lines.h"
#include "reports/result_fields.h"
#include "reports/results_json.h"
#include "survival/entry_loss.h"

using namespace kestrel;

namespace {

// A named list built field by field (the values stay protected while the list grows).
class Fields {
 public:
  template <typename T>
  Fields& add(const std::string& name, const T& value) {
    names_.push_back(name);
    values_.push_back(Rcpp::wrap(value));
    return *this;
  }
  Fields& add_null(const std::string& name) {
    names_.push_back(name);
    values_.push_back(R_NilValue);
    return *this;
  }
  Rcpp::List list() const {
    Rcpp::List out(values_.size());
    for (size_t i = 0; i < values_.size(); ++i) out[i] = values_[i];
    out.attr("names") = Rcpp::CharacterVector(names_.begin(), names_.end());
    return out;
  }

 private:
  std::vector<std::string> names_;
  std::vector<Rcpp::RObject> values_;
};

std::vector<double> head(const AnalysisArray& a, int K) {
  return std::vector<double>(a.begin(), a.begin() + std::max(0, std::min(K, NMAXA)));
}

std::vector<double> head(const std::vector<double>& v, int K) {
  std::vector<double> out(v.begin(), v.begin() + std::min<size_t>(v.size(), std::max(0, K)));
  return out;
}

using reports::describe;
using reports::describe_bounds_used;
using reports::describe_figures;
using reports::describe_futility;

// A described result structure (reports/result_fields.h) as a named list under its R names;
// per-analysis arrays hold their K values.
class RList {
 public:
  template <typename T>
  void scalar(const reports::Field& f, const T& x) {
    if (f.r_name) fields_.add(f.r_name, x);
  }
  template <typename A>
  void analyses(const reports::Field& f, const A& a, reports::Count K) {
    if (f.r_name) fields_.add(f.r_name, head(a, K.n));
  }
  void values(const reports::Field& f, const std::vector<double>& v, reports::Count) {
    if (f.r_name) fields_.add(f.r_name, v);
  }
  template <typename Rows>
  void matrix(const reports::Field& f, const Rows& rows, reports::Count K) {
    Rcpp::NumericMatrix m(K.n, K.n);
    for (int i = 0; i < K.n; ++i)
      for (int j = 0; j < K.n; ++j) m(i, j) = rows[static_cast<size_t>(i)][static_cast<size_t>(j)];
    fields_.add(f.r_name, m);
  }
  template <typename T, typename Describe>
  void object(const reports::Field& f, const T& x, Describe describe) {
    RList sub;
    describe(sub, x);
    fields_.add(f.r_name, sub.list());
  }
  template <typename E, size_t N>
  void kind(const reports::Field& f, E e, const char* const (&)[N]) {
    fields_.add(f.r_name, static_cast<int>(e));
  }
  bool optional(const char*, bool present) { return present; }

  Fields& fields() { return fields_; }
  Rcpp::List list() const { return fields_.list(); }

 private:
  Fields fields_;
};

template <typename T, typename... Context>
Rcpp::List r_list(const T& x, Context... context) {
  RList out;
  describe(out, x, context...);
  return out.list();
}

// A described structure read back from its named list (the deck values of a design).
class RIn {
 public:
  explicit RIn(const Rcpp::List& l) : l_(l) {}
  void scalar(const reports::Field& f, int& x) {
    const double v = Rcpp::as<double>(l_[f.r_name]);
    if (!std::isfinite(v) || v != std::floor(v) || std::fabs(v) > 2147483647.0)
      Rcpp::stop(std::string("deck value ") + f.r_name + " must be a whole number");
    x = static_cast<int>(v);
  }
  void scalar(const reports::Field& f, double& x) { x = Rcpp::as<double>(l_[f.r_name]); }
  void analyses(const reports::Field& f, AnalysisArray& a, reports::Count) {
    const std::vector<double> t = Rcpp::as<std::vector<double>>(l_[f.r_name]);
    if (t.size() > static_cast<size_t>(NMAXA)) Rcpp::stop("at most 10 analysis points");
    for (size_t k = 0; k < t.size(); ++k) a[k] = t[k];
  }

 private:
  const Rcpp::List& l_;
};

DeckValues deck_values(const Rcpp::List& l) {
  DeckValues d;
  RIn in(l);
  describe(in, d);
  return d;
}

// A spending statement: list(deck_code, replacement, phi (NA: none), cumulative (may be empty)).
Rcpp::List statement(const SpendingStatement& s) {
  Fields f;
  f.add("deck_code", s.deck_code)
      .add("replacement", s.replacement_code)
      .add("phi", s.has_phi ? s.phi : NA_REAL)
      .add("cumulative", s.cumulative);
  return f.list();
}

SpendingStatement statement(const Rcpp::List& l) {
  SpendingStatement s;
  s.deck_code = Rcpp::as<int>(l["deck_code"]);
  s.replacement_code = Rcpp::as<int>(l["replacement"]);
  const double phi = Rcpp::as<double>(l["phi"]);
  if (!ISNA(phi)) {
    s.has_phi = true;
    s.phi = phi;
  }
  s.cumulative = Rcpp::as<std::vector<double>>(l["cumulative"]);
  return s;
}

// A design as the R side holds it: list(number, values = deck values as read, spending = one
// list(EP1 statement, EP2 statement) per evaluated set).
// Piecewise hazards as the R side holds them: list(EP1, EP2), each NULL or a "kestrel_hazards"
// object (time: the starts of the pieces, hazard, hr; survival_time and survival when stated so).
Rcpp::List hazards_entry(const Design& d) {
  Rcpp::List out(2);
  for (size_t e = 0; e < 2; ++e) {
    const EndpointHazards& h = d.entry_loss.hazards[e];
    if (!h.given()) continue;
    std::vector<double> start{0.0};
    start.insert(start.end(), h.change.begin(), h.change.end());
    Rcpp::List x = Rcpp::List::create(Rcpp::Named("time") = start, Rcpp::Named("hazard") = h.control,
                                      Rcpp::Named("hr") = h.ratio);
    const auto& how = d.entry_loss_statements;
    x["survival_time"] = how.survival_time[e].empty() ? R_NilValue : Rcpp::wrap(how.survival_time[e]);
    x["survival"] = how.survival_value[e].empty() ? R_NilValue : Rcpp::wrap(how.survival_value[e]);
    x.attr("class") = "kestrel_hazards";
    out[e] = x;
  }
  return out;
}

// Futility stops as the R side holds them: list(kind = 1 beta spending, 2 fixed z, 3 hazard
// ratios; binding; code, phi, cumulative of beta spending; values per interim of the others).
Rcpp::List futility_entry(const FutilityRule& r) { return r_list(r, 0); }

FutilityRule futility_rule(const Rcpp::List& l) {
  FutilityRule r;
  const int kind = Rcpp::as<int>(l["kind"]);
  if (kind < 1 || kind > 3) Rcpp::stop("futility stops are of kind 1 (spending), 2 (z) or 3 (hr)");
  r.kind = static_cast<FutilityRule::Kind>(kind);
  r.binding = Rcpp::as<bool>(l["binding"]);
  r.code = Rcpp::as<int>(l["code"]);
  r.phi = Rcpp::as<double>(l["phi"]);
  r.cumulative = Rcpp::as<std::vector<double>>(l["cumulative"]);
  r.values = Rcpp::as<std::vector<double>>(l["values"]);
  return r;
}

Rcpp::List design_entry(const Design& d) {
  Rcpp::List sets(d.spending.size());
  for (size_t i = 0; i < d.spending.size(); ++i)
    sets[i] = Rcpp::List::create(statement(d.spending[i][0]), statement(d.spending[i][1]));
  Fields f;
  f.add("number", d.number).add("values", r_list(d.read)).add("spending", sets);
  // Loss to follow-up and accrual pieces, only for a design that has them.
  if (!d.entry_loss.plain()) {
    const EntryAndLoss& el = d.entry_loss;
    f.add("entry_loss",
          Rcpp::List::create(Rcpp::Named("dropout") = std::vector<double>{el.dropout[0], el.dropout[1]},
                             Rcpp::Named("accrual_end") = el.accrual_end,
                             Rcpp::Named("accrual_intensity") = el.accrual_intensity,
                             Rcpp::Named("dropout_time") = d.entry_loss_statements.dropout_as_probability
                                                               ? d.entry_loss_statements.dropout_time
                                                               : 0.0,
                             Rcpp::Named("dropout_probability") = std::vector<double>{
                                 d.entry_loss_statements.dropout_value[0],
                                 d.entry_loss_statements.dropout_value[1]}));
  }
  // The MODEL and CONTROL statements, only for a design that has them.
  const ModelAndControl& mc = d.model_control;
  if (mc.model != 0) f.add("model", mc.model);
  if (mc.control != ControlForm::EndOfStudy) {
    f.add("control", Rcpp::List::create(
                         Rcpp::Named("form") = static_cast<int>(mc.control),
                         Rcpp::Named("time") = mc.control_time,
                         Rcpp::Named("value") = std::vector<double>{mc.control_value[0],
                                                                    mc.control_value[1]}));
  }
  if (d.entry_loss.has_hazards()) f.add("hazards", hazards_entry(d));
  if (d.futility.any()) f.add("futility", futility_entry(d.futility));
  return f.list();
}

Design design_of(const Rcpp::List& entry) {
  Design d;
  d.number = Rcpp::as<int>(entry["number"]);
  d.read = deck_values(Rcpp::as<Rcpp::List>(entry["values"]));
  d.stored = deck::stored_values(d.read);
  const Rcpp::List sets = entry["spending"];
  for (R_xlen_t i = 0; i < sets.size(); ++i) {
    const Rcpp::List pair = sets[i];
    if (pair.size() != 2) Rcpp::stop("each set of spending statements holds EP1's and EP2's");
    d.spending.push_back({statement(Rcpp::as<Rcpp::List>(pair[0])),
                          statement(Rcpp::as<Rcpp::List>(pair[1]))});
  }
  if (entry.containsElementNamed("entry_loss") && !Rf_isNull(entry["entry_loss"])) {
    const Rcpp::List el = entry["entry_loss"];
    const std::vector<double> drop = Rcpp::as<std::vector<double>>(el["dropout"]);
    if (drop.size() != 2) Rcpp::stop("the loss to follow-up holds one hazard per arm");
    d.entry_loss.dropout = {drop[0], drop[1]};
    d.entry_loss.accrual_end = Rcpp::as<std::vector<double>>(el["accrual_end"]);
    d.entry_loss.accrual_intensity = Rcpp::as<std::vector<double>>(el["accrual_intensity"]);
    // Loss stated as probabilities of being lost by a time: the reports show both forms.
    if (el.containsElementNamed("dropout_time") && Rcpp::as<double>(el["dropout_time"]) > 0) {
      const std::vector<double> p = Rcpp::as<std::vector<double>>(el["dropout_probability"]);
      if (p.size() != 2) Rcpp::stop("the probabilities of loss hold one value per arm");
      EntryAndLossStatements& how = d.entry_loss_statements;
      how.dropout_given = true;
      how.dropout_as_probability = true;
      how.dropout_time = Rcpp::as<double>(el["dropout_time"]);
      how.dropout_value = {p[0], p[1]};
    }
  }
  // The control arm's law as given (SRVR1 and SRVR2 already hold the survival it gives).
  if (entry.containsElementNamed("control") && !Rf_isNull(entry["control"])) {
    const Rcpp::List c = entry["control"];
    const std::vector<double> v = Rcpp::as<std::vector<double>>(c["value"]);
    const int form = Rcpp::as<int>(c["form"]);
    if (v.size() != 2 || form < 1 || form > 3) Rcpp::stop("the control arm holds a form and two values");
    d.model_control.control = static_cast<ControlForm>(form);
    d.model_control.control_time = Rcpp::as<double>(c["time"]);
    d.model_control.control_value = {v[0], v[1]};
  }
  // The model a design asks for (the control arm's law is already in SRVR1, SRVR2).
  if (entry.containsElementNamed("model") && !Rf_isNull(entry["model"]))
    d.model_control.model = Rcpp::as<int>(entry["model"]);
  if (entry.containsElementNamed("futility") && !Rf_isNull(entry["futility"]))
    d.futility = futility_rule(Rcpp::as<Rcpp::List>(entry["futility"]));
  if (entry.containsElementNamed("hazards") && !Rf_isNull(entry["hazards"])) {
    const Rcpp::List hz = entry["hazards"];
    for (R_xlen_t e = 0; e < hz.size() && e < 2; ++e) {
      if (Rf_isNull(hz[e])) continue;
      const Rcpp::List h = hz[e];
      const std::vector<double> start = Rcpp::as<std::vector<double>>(h["time"]);
      EndpointHazards& law = d.entry_loss.hazards[static_cast<size_t>(e)];
      law.change.assign(start.begin() + (start.empty() ? 0 : 1), start.end());
      law.control = Rcpp::as<std::vector<double>>(h["hazard"]);
      law.ratio = Rcpp::as<std::vector<double>>(h["hr"]);
      if (law.control.empty() || law.control.size() != start.size() ||
          law.ratio.size() != start.size() || law.control.size() > 10)
        Rcpp::stop("piecewise hazards need one start, hazard and ratio per piece (1 to 10)");
      if (h.containsElementNamed("survival_time") && !Rf_isNull(h["survival_time"])) {
        d.entry_loss_statements.survival_time[static_cast<size_t>(e)] =
            Rcpp::as<std::vector<double>>(h["survival_time"]);
        d.entry_loss_statements.survival_value[static_cast<size_t>(e)] =
            Rcpp::as<std::vector<double>>(h["survival"]);
      }
    }
  }
  return d;
}

Rcpp::List evaluated_set(const reports::EvaluatedSet& s, const std::string& summary_line) {
  const samplesize::Evaluation& e = s.evaluation;
  const int K = s.information.K;
  std::vector<int> it, size;
  std::vector<double> power;
  for (const auto& step : e.trace) {
    it.push_back(step.iteration);
    size.push_back(step.size);
    power.push_back(step.power);
  }
  Rcpp::DataFrame trace = Rcpp::DataFrame::create(Rcpp::Named("iteration") = it,
                                                  Rcpp::Named("size") = size,
                                                  Rcpp::Named("power") = power);
  Rcpp::NumericMatrix qep(K, 2);
  for (int k = 0; k < K && k < static_cast<int>(e.QEP.size()); ++k) {
    qep(k, 0) = e.QEP[static_cast<size_t>(k)][0];
    qep(k, 1) = e.QEP[static_cast<size_t>(k)][1];
  }
  const reports::Count count{K, "K"};
  RList out;
  Fields& f = out.fields();
  f.add("label", s.label).add("information", r_list(s.information))
      .add("ep1", r_list(e.ep1, count)).add("ep2", r_list(e.ep2, count));
  describe_bounds_used(out, e, count);
  f.add("RCORR", e.RCORR).add("NL", e.NL).add("NU", e.NU).add("trace", trace)
      .add("end", std::string(reports::search_end_name(e.end)))
      .add("below_target", e.below_target).add("warning", s.warning);
  describe_figures(out, e, count);
  f.add("QEP", qep);
  if (e.simulation) {
    const auto& sim = *e.simulation;
    Rcpp::NumericMatrix rej(K, 3);
    for (int k = 0; k < K && k < static_cast<int>(sim.R.size()); ++k)
      for (int j = 0; j < 3; ++j) rej(k, j) = sim.R[static_cast<size_t>(k)][static_cast<size_t>(j)];
    Fields sf;
    sf.add("PW1", sim.PW1).add("PW2", sim.PW2).add("PWC", sim.PWC).add("PWD", sim.PWD)
        .add("E1", sim.E1).add("E2", sim.E2).add("R", rej).add("F", head(sim.F, K));
    f.add("simulation", sf.list());
  } else {
    f.add_null("simulation");
  }
  // Futility stops (designs with them only): the bounds in force, the probabilities of reaching
  // each analysis and of stopping there for futility, and per endpoint its own futility design.
  if (!e.REACH.empty()) {
    RList ff;
    describe_futility(ff, e, count);
    f.add("futility", ff.list());
  } else {
    f.add_null("futility");
  }
  // The trial under the nulls, where the calculation gives it (R's null_figures() reads it).
  Rcpp::List nulls(e.nulls.size());
  for (size_t i = 0; i < e.nulls.size(); ++i) nulls[static_cast<R_xlen_t>(i)] = r_list(e.nulls[i], count);
  f.add("nulls", nulls);
  f.add("summary_line", summary_line);
  return out.list();
}

// Console lines: handed to the R function `line` when one is given (progress or the raw trace);
// every line is also a chance to stop on R's interrupt.
std::function<void(std::string_view)> console_sink(SEXP line) {
  if (Rf_isNull(line)) return [](std::string_view) { Rcpp::checkUserInterrupt(); };
  Rcpp::Function f(line);
  return [f](std::string_view text) {
    f(std::string(text));
    Rcpp::checkUserInterrupt();
  };
}

driver::CalculationOptions options_of(SEXP seed, SEXP accuracy, SEXP line, bool exact,
                                      bool under_nulls = false) {
  driver::CalculationOptions o;
  o.exact = exact;
  o.under_nulls = under_nulls;
  if (!Rf_isNull(seed)) o.seed = Rcpp::as<int>(seed);
  if (!Rf_isNull(accuracy)) o.mvn_accuracy = Rcpp::as<double>(accuracy);
  o.console_line = console_sink(line);
  return o;
}

[[noreturn]] void stop_with(const RunError& e) {
  std::string m = e.what();
  while (!m.empty() && m.front() == ' ') m.erase(m.begin());
  Rcpp::stop(m);
}

}  // namespace

// Calculates the designs one after the other in one run (one generator, carried fields).
// [[export]]
RcppExport SEXP kestrel_calculate(SEXP entries_, SEXP seed_, SEXP accuracy_, SEXP line_,
                                  SEXP exact_, SEXP under_nulls_) {
  BEGIN_RCPP
  const Rcpp::List entries(entries_);
  std::vector<Design> designs;
  for (R_xlen_t i = 0; i < entries.size(); ++i) designs.push_back(design_of(entries[i]));
  driver::DesignCalculator calc(
      options_of(seed_, accuracy_, line_, Rcpp::as<bool>(exact_), Rcpp::as<bool>(under_nulls_)));
  Rcpp::List out(designs.size());
  for (size_t i = 0; i < designs.size(); ++i) {
    driver::DesignCalculation c;
    try {
      c = calc.calculate(designs[i]);
    } catch (const RunError& e) {
      stop_with(e);
    }
    Rcpp::List sets(c.record.sets.size());
    for (size_t j = 0; j < c.record.sets.size(); ++j) {
      sets[j] = evaluated_set(c.record.sets[j], c.summary_lines.at(j));
    }
    Fields f;
    f.add("entry", design_entry(designs[i])).add("THETA", c.record.THETA)
        .add("THETATR", c.record.THETATR).add("sets", sets).add("report", c.main_report)
        .add("matrix", c.matrix);
    out[i] = f.list();
  }
  Rcpp::List result = Rcpp::List::create(Rcpp::Named("designs") = out);
  const auto seed = calc.seed();
  result["seed"] = seed ? Rcpp::wrap(*seed) : Rcpp::wrap(NA_INTEGER);
  return result;
  END_RCPP
}

// Reads and checks a deck's text: the designs as entries, or an R error listing every problem.
RcppExport SEXP kestrel_read_deck(SEXP text_, SEXP name_) {
  BEGIN_RCPP
  const std::string text = Rcpp::as<std::string>(text_);
  const std::string name = Rcpp::as<std::string>(name_);
  const deck::Deck deck = deck::read_deck(text);
  const std::vector<deck::DeckProblem> problems = deck::check_deck(deck);
  if (!problems.empty()) {
    std::string m = "the deck has " + std::to_string(problems.size()) + " problem" +
                    (problems.size() == 1 ? "" : "s") + ":";
    for (const auto& p : problems) m += "\n  " + p.message(name);
    Rcpp::stop(m);
  }
  Rcpp::List designs(deck.designs.size());
  for (size_t i = 0; i < deck.designs.size(); ++i) designs[i] = design_entry(deck.designs[i].design);
  std::string title = deck.header.TITLE;
  while (!title.empty() && title.back() == ' ') title.pop_back();
  return Rcpp::List::create(Rcpp::Named("title") = title, Rcpp::Named("designs") = designs,
                            Rcpp::Named("incomplete_record_line") = deck.incomplete_record_line);
  END_RCPP
}

namespace {

// The boundary calculator's request from the values kestrel_bounds() checked: list(alpha, sides,
// spending (code), phi, cumulative (NULL when not used), times, power, hr, accrual, follow_up,
// survival, control (NULL, or list(form, time, value) as a design's), allocation, exact, dropout
// (hazards of both arms), accrual_end, accrual_intensity (empty for uniform entry), hazards (NULL
// or list(time = starts of the pieces, hazard, hr)), futility (NULL or as a design's)).
boundaries::BoundsRequest bounds_request(const Rcpp::List& l) {
  const auto real_of = [&l](const char* name) { return Rcpp::as<double>(l[name]); };
  boundaries::BoundsRequest q;
  q.alpha = real_of("alpha");
  q.sides = Rcpp::as<int>(l["sides"]);
  q.spending = Rcpp::as<int>(l["spending"]);
  if (!Rf_isNull(l["phi"])) q.phi = real_of("phi");
  if (!Rf_isNull(l["cumulative"])) q.cumulative = Rcpp::as<std::vector<double>>(l["cumulative"]);
  q.times = Rcpp::as<std::vector<double>>(l["times"]);
  q.power = real_of("power");
  q.hr = real_of("hr");
  q.accrual = real_of("accrual");
  q.follow_up = real_of("follow_up");
  q.survival = real_of("survival");
  if (!Rf_isNull(l["control"])) {
    const Rcpp::List c = l["control"];
    const int form = Rcpp::as<int>(c["form"]);
    if (form < 1 || form > 3) Rcpp::stop("the control arm's form is 1, 2 or 3");
    q.set_control_arm(static_cast<ControlForm>(form), Rcpp::as<std::vector<double>>(c["value"]).at(0),
                      Rcpp::as<double>(c["time"]));
  }
  q.allocation = real_of("allocation");
  q.exact = Rcpp::as<bool>(l["exact"]);
  const std::vector<double> drop = Rcpp::as<std::vector<double>>(l["dropout"]);
  if (drop.size() != 2) Rcpp::stop("the loss to follow-up holds one hazard per arm");
  q.entry_loss.dropout = {drop[0], drop[1]};
  q.entry_loss.accrual_end = Rcpp::as<std::vector<double>>(l["accrual_end"]);
  q.entry_loss.accrual_intensity = Rcpp::as<std::vector<double>>(l["accrual_intensity"]);
  if (!Rf_isNull(l["hazards"])) {
    const Rcpp::List h = l["hazards"];
    const std::vector<double> start = Rcpp::as<std::vector<double>>(h["time"]);
    EndpointHazards& e = q.entry_loss.hazards[0];
    e.change.assign(start.begin() + (start.empty() ? 0 : 1), start.end());
    e.control = Rcpp::as<std::vector<double>>(h["hazard"]);
    e.ratio = Rcpp::as<std::vector<double>>(h["hr"]);
  }
  if (!Rf_isNull(l["futility"])) q.futility = futility_rule(Rcpp::as<Rcpp::List>(l["futility"]));
  return q;
}

}  // namespace

// The boundary calculator with the request of bounds_request().
RcppExport SEXP kestrel_bounds_table(SEXP request_) {
  BEGIN_RCPP
  boundaries::BoundsResult t;
  try {
    t = boundaries::calculate_bounds(bounds_request(Rcpp::List(request_)));
  } catch (const RunError& e) {
    stop_with(e);
  }
  const int K = static_cast<int>(t.request.times.size());
  const double side = t.request.sides == 2 ? 2.0 : 1.0;
  std::vector<double> nl = head(t.result.nominal_lower, K), nu = head(t.result.nominal_upper, K);
  for (double& v : nl) v /= side;
  for (double& v : nu) v /= side;
  std::vector<int> k(static_cast<size_t>(K));
  for (int i = 0; i < K; ++i) k[static_cast<size_t>(i)] = i + 1;
  Fields f;
  f.add("k", k).add("time", t.request.times).add("lower", head(t.result.za, K))
      .add("upper", head(t.result.zb, K)).add("nominal_lower", nl).add("nominal_upper", nu)
      .add("alpha_spent", head(t.result.pd, K)).add("alpha_cumulative", head(t.result.pe, K))
      .add("crossing_probability", head(t.result.qpos, K))
      .add("drift", std::vector<double>(static_cast<size_t>(K), t.result.drift))
      .add("events", std::vector<int>(static_cast<size_t>(K), t.result.events))
      .add("subjects", std::vector<int>(static_cast<size_t>(K), t.result.subjects))
      .add("expected_events", std::vector<double>(static_cast<size_t>(K), t.result.expected_events))
      .add("analysis_events", t.analysis_events).add("calendar_time", t.analysis_time);
  // The futility columns of the program's CSV, with futility stops only.
  if (t.futility_in_force) {
    const boundaries::GsDesignResult& r = t.result;
    const boundaries::FutilityFigures ff = boundaries::futility_figures(t);
    std::vector<double> nominal, hr;
    for (int i = 0; i < K; ++i) {
      const size_t j = static_cast<size_t>(i);
      nominal.push_back(numerics::GAUSSCDF(r.futility[j]));
      hr.push_back(boundaries::hr_of_futility_z(r.futility[j], t.request.hr, r.drift,
                                                t.request.times[j]));
    }
    const auto each = [K](double v) { return std::vector<double>(static_cast<size_t>(K), v); };
    f.add("futility", head(r.futility, K)).add("futility_nominal", nominal).add("futility_hr", hr)
        .add("futility_stop_alternative", head(r.qneg, K))
        .add("futility_stop_null", head(r.null_qneg, K)).add("efficacy_null", head(r.null_qpos, K))
        .add("time_alternative", ff.time_alt).add("time_null", ff.time_null)
        .add("expected_events_null", each(ff.events_null))
        .add("expected_subjects_alternative", each(ff.subjects_alt))
        .add("expected_subjects_null", each(ff.subjects_null))
        .add("type1_with_futility", each(ff.type1));
  }
  Rcpp::List out = f.list();
  return Rcpp::List::create(Rcpp::Named("table") = out,
                            Rcpp::Named("warnings") = t.warnings,
                            Rcpp::Named("converged") = t.result.drift_converged);
  END_RCPP
}

// A whole deck run as the program runs it, with the program's HTML report and results file held
// in memory instead of written: list(html, json). The same record the program fills (version,
// header, seed, the deck's SHA-256), so that the page is the one `kestrel --seed` writes.
RcppExport SEXP kestrel_run_outputs(SEXP text_, SEXP name_, SEXP seed_, SEXP accuracy_,
                                    SEXP exact_, SEXP under_nulls_) {
  BEGIN_RCPP
  const std::string text = Rcpp::as<std::string>(text_);
  const std::string name = Rcpp::as<std::string>(name_);
  const deck::Deck deck = deck::read_deck(text);
  const std::vector<deck::DeckProblem> problems = deck::check_deck(deck);
  if (!problems.empty()) Rcpp::stop(problems.front().message(name));
  const bool exact = Rcpp::as<bool>(exact_);
  reports::RunRecord record;
  record.version = KESTREL_VERSION;
  record.header = deck.header;
  if (!Rf_isNull(seed_)) record.seed = record.seed_given = Rcpp::as<int>(seed_);
  record.deck_sha256 = sha256_hex(text);
  record.designs_in_deck = static_cast<int>(deck.designs.size());
  if (!Rf_isNull(accuracy_)) record.mvn_accuracy = Rcpp::as<double>(accuracy_);
  record.exact = exact;
  record.under_nulls = Rcpp::as<bool>(under_nulls_);
  driver::DesignCalculator calc(options_of(seed_, accuracy_, R_NilValue, exact, record.under_nulls));
  for (const auto& rec : deck.designs) {
    try {
      record.designs.push_back(calc.calculate(rec.design).record);
    } catch (const RunError& e) {
      stop_with(e);
    }
  }
  if (!record.seed) record.seed = calc.seed();
  return Rcpp::List::create(Rcpp::Named("html") = reports::html_report(record),
                            Rcpp::Named("json") = reports::results_json(record));
  END_RCPP
}

// Expected numbers of events of EP1 and EP2 by each calendar time for n subjects of a design:
// n times the enrolled fraction times the core's probability of an observed event among those
// enrolled (loss to follow-up and accrual pieces included), the probability behind ME1 and ME2.
RcppExport SEXP kestrel_expected_events(SEXP entry_, SEXP n_, SEXP times_) {
  BEGIN_RCPP
  const Design d = design_of(Rcpp::List(entry_));
  const double n = Rcpp::as<double>(n_);
  const std::vector<double> times = Rcpp::as<std::vector<double>>(times_);
  const DeckValues& v = d.stored;
  const survival::EntryLoss el(d.entry_loss, v.TA);
  Rcpp::NumericMatrix out(static_cast<int>(times.size()), 2);
  for (size_t i = 0; i < times.size(); ++i) {
    const double tau = times[i];
    const double enrolled = tau <= 0 ? 0.0 : el.enrolled(tau);
    for (int ep = 0; ep < 2; ++ep) {
      const double hr = ep == 0 ? v.HR1 : v.HR2, S = ep == 0 ? v.SRVR1 : v.SRVR2;
      out(static_cast<int>(i), ep) =
          enrolled <= 0 ? 0.0
                        : n * enrolled *
                              survival::pooled_event_probability(el, d.entry_loss, ep, hr, S, v.SR,
                                                                 v.TA, v.TF, tau);
    }
  }
  return out;
  END_RCPP
}

// The cumulative one-sided alpha of spending code `code` (1 to 4, 6) at the information
// fractions `times`: the function the boundary design spends (ALPHAS).
RcppExport SEXP kestrel_spending_curve(SEXP code_, SEXP alpha_, SEXP phi_, SEXP times_) {
  BEGIN_RCPP
  const int code = Rcpp::as<int>(code_);
  const std::vector<double> t = Rcpp::as<std::vector<double>>(times_);
  std::vector<double> pe(t.size(), 0.0), pd(t.size(), 0.0);
  std::ostringstream report;
  try {
    boundaries::ALPHAS(code, static_cast<int>(t.size()), Rcpp::as<double>(alpha_),
                       Rcpp::as<double>(phi_), 1.0, t, {}, pe, pd, report);
  } catch (const RunError& e) {
    stop_with(e);
  }
  return Rcpp::wrap(pe);
  END_RCPP
}

static const R_CallMethodDef kCallMethods[] = {
    {"kestrel_spending_curve", reinterpret_cast<DL_FUNC>(&kestrel_spending_curve), 4},
    {"kestrel_expected_events", reinterpret_cast<DL_FUNC>(&kestrel_expected_events), 3},
    {"kestrel_calculate", reinterpret_cast<DL_FUNC>(&kestrel_calculate), 6},
    {"kestrel_read_deck", reinterpret_cast<DL_FUNC>(&kestrel_read_deck), 2},
    {"kestrel_bounds_table", reinterpret_cast<DL_FUNC>(&kestrel_bounds_table), 1},
    {"kestrel_run_outputs", reinterpret_cast<DL_FUNC>(&kestrel_run_outputs), 6},
    {nullptr, nullptr, 0}};

RcppExport void R_init_kestrel(DllInfo* dll) {
  R_registerRoutines(dll, nullptr, kCallMethods, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
}
