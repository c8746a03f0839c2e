#include "reports/results_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "common/errors.h"
#include "reports/html_report.h"
#include "reports/report_file.h"
#include "reports/result_fields.h"

namespace kestrel::reports {

// ---------------------------------------------------------------------------------------------
// Writer

void JsonWriter::newline_indent() {
  out_ += '\n';
  out_.append(2 * stack_.size(), ' ');
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (stack_.empty()) return;
  Level& top = stack_.back();
  if (top.count++ > 0) out_ += top.inline_items ? ", " : ",";
  if (!top.inline_items) newline_indent();
}

JsonWriter& JsonWriter::begin_object() {
  before_value();
  out_ += '{';
  stack_.push_back({false, false, 0});
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  const int n = stack_.back().count;
  stack_.pop_back();
  if (n > 0) newline_indent();
  out_ += '}';
  return *this;
}

JsonWriter& JsonWriter::begin_array(bool inline_items) {
  const bool parent_inline = !stack_.empty() && stack_.back().inline_items;
  before_value();
  out_ += '[';
  stack_.push_back({true, inline_items || parent_inline, 0});
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  const Level top = stack_.back();
  stack_.pop_back();
  if (top.count > 0 && !top.inline_items) newline_indent();
  out_ += ']';
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  before_value();
  out_ += json_string(name);
  out_ += ": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(double v) {
  before_value();
  out_ += json_number(v);
  return *this;
}

JsonWriter& JsonWriter::value(long long v) {
  before_value();
  out_ += std::to_string(v);
  return *this;
}

JsonWriter& JsonWriter::value(bool v) {
  before_value();
  out_ += v ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view v) {
  before_value();
  out_ += json_string(v);
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  out_ += "null";
  return *this;
}

JsonWriter& JsonWriter::values(const double* v, int n) {
  begin_array(true);
  for (int i = 0; i < n; ++i) value(v[i]);
  return end_array();
}

std::string json_number(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  // The shortest decimal (at most 17 significant digits) that reads back to the same double:
  // 0.025 stays 0.025. to_chars is independent of the locale.
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the byte starts none.
size_t utf8_length(std::string_view s, size_t i) {
  const auto b = [&](size_t j) { return static_cast<unsigned char>(s[j]); };
  const unsigned c = b(i);
  size_t n = 0;
  unsigned min = 0, cp = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; min = 0x80; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; min = 0x800; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; min = 0x10000; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t j = 1; j < n; ++j) {
    if ((b(i + j) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + j) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string json_string(std::string_view text) {
  std::string out = "\"";
  char buf[8];
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = utf8_length(text, i);
    if (n == 0) {  // a stray byte: keep its value as a code point
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

// ---------------------------------------------------------------------------------------------
// Results

const char* search_end_name(samplesize::SearchEnd end) {
  switch (end) {
    case samplesize::SearchEnd::given_size: return "given_size";
    case samplesize::SearchEnd::settled: return "settled";
    case samplesize::SearchEnd::flat: return "flat";
    case samplesize::SearchEnd::alternating: return "alternating";
    case samplesize::SearchEnd::step_limit: return "step_limit";
    case samplesize::SearchEnd::non_finite: return "non_finite";
  }
  return "settled";
}

namespace {

void vec(JsonWriter& w, std::string_view name, const std::vector<double>& v) {
  w.key(name).values(v.data(), static_cast<int>(v.size()));
}

// Writes the fields of a described structure (result_fields.h) under their keys; a vector is
// written whole, a per-analysis array of fixed size up to its count.
class JsonOut {
 public:
  explicit JsonOut(JsonWriter& w) : w_(w) {}

  template <class T>
  void scalar(const Field& f, const T& x) {
    if constexpr (std::is_same_v<T, std::vector<int>>)
      return;  // not in the results file
    else if (!f.key)
      return;
    else if constexpr (std::is_same_v<T, std::string>)
      w_.key(f.key).value(std::string_view(x));
    else
      w_.key(f.key).value(x);
  }
  void analyses(const Field& f, const std::vector<double>& v, Count) { values(f, v, {}); }
  void analyses(const Field& f, const AnalysisArray& a, Count K) {
    if (f.key) w_.key(f.key).values(a.data(), K.valid() ? K.n : 0);
  }
  void values(const Field& f, const std::vector<double>& v, Count) {
    if (f.key) vec(w_, f.key, v);
  }
  template <class Rows>
  void matrix(const Field& f, const Rows& rows, Count K) {
    w_.key(f.key).begin_array();
    for (int i = 0; i < (K.valid() ? K.n : 0); ++i)
      w_.values(rows[static_cast<size_t>(i)].data(), K.n);
    w_.end_array();
  }
  template <class T, class Describe>
  void object(const Field& f, const T& x, Describe describe) {
    w_.key(f.key).begin_object();
    describe(*this, x);
    w_.end_object();
  }
  template <class E, size_t N>
  void kind(const Field& f, E e, const char* const (&names)[N]) {
    w_.key(f.key).value(names[static_cast<size_t>(e)]);
  }
  bool optional(const char*, bool present) { return present; }

 private:
  JsonWriter& w_;
};

// A described structure as an object.
template <class T, class... Context>
void object(JsonWriter& w, const T& x, Context... context) {
  JsonOut out(w);
  w.begin_object();
  describe(out, x, context...);
  w.end_object();
}

void spending_statement(JsonWriter& w, const SpendingStatement& s) {
  w.begin_object();
  w.key("deck_code").value(s.deck_code);
  w.key("replacement_code");
  if (s.replacement_line > 0 || s.deck_code > 5) w.value(s.replacement_code); else w.null();
  w.key("code_in_force").value(s.code_in_force());
  w.key("phi");
  if (s.has_phi) w.value(s.phi); else w.null();
  w.key("cumulative");
  if (s.cumulative.empty()) w.null(); else w.values(s.cumulative.data(), static_cast<int>(s.cumulative.size()));
  w.end_object();
}

// The HAZARDS statements of a design, one entry per endpoint that has one.
void hazards(JsonWriter& w, const Design& d) {
  const EntryAndLoss& el = d.entry_loss;
  if (!el.has_hazards()) return;
  const EntryAndLossStatements& how = d.entry_loss_statements;
  w.key("hazards").begin_array();
  for (size_t e = 0; e < 2; ++e) {
    const EndpointHazards& h = el.hazards[e];
    if (!h.given()) continue;
    w.begin_object();
    w.key("endpoint").value(e == 0 ? "EP1" : "EP2");
    vec(w, "change", h.change);
    vec(w, "control_hazard", h.control);
    vec(w, "ratio", h.ratio);
    if (!how.survival_time[e].empty()) {
      vec(w, "survival_time", how.survival_time[e]);
      vec(w, "survival", how.survival_value[e]);
    }
    w.end_object();
  }
  w.end_array();
}

void simulation(JsonWriter& w, const simulation::SimulationResult& s, int nsim) {
  w.begin_object();
  w.key("NSIM").value(nsim);
  JsonOut out(w);
  describe(out, s);
  std::vector<double> r1, r2, rj;
  for (const auto& r : s.R) {
    r1.push_back(r[0]);
    r2.push_back(r[1]);
    rj.push_back(r[2]);
  }
  w.key("R").begin_object();
  vec(w, "EP1", r1);
  vec(w, "EP2", r2);
  vec(w, "joint", rj);
  w.end_object();
  if (!s.F.empty()) vec(w, "F", s.F);  // futility stops, designs with FUTILITY only
  w.end_object();
}

void evaluated_set(JsonWriter& w, const EvaluatedSet& set, const Design& design) {
  const samplesize::Evaluation& e = set.evaluation;
  const Count K{set.information.K, "K"};
  JsonOut out(w);
  w.begin_object();
  w.key("label").value(set.label);
  w.key("information");
  object(w, set.information);
  w.key("endpoints").begin_object();
  w.key("EP1");
  object(w, e.ep1, K);
  w.key("EP2");
  object(w, e.ep2, K);
  w.end_object();
  w.key("bounds_used").begin_object();
  describe_bounds_used(out, e, K);
  w.end_object();
  w.key("bracket").begin_object();
  w.key("NL").value(e.NL);
  w.key("NU").value(e.NU);
  w.end_object();
  w.key("search_end").value(search_end_name(e.end));
  w.key("below_target").value(e.below_target);
  w.key("trace").begin_array();
  for (const auto& step : e.trace) object(w, step);
  w.end_array();
  describe_figures(out, e, K);
  std::vector<double> q1, q2;
  for (const auto& q : e.QEP) {
    q1.push_back(q[0]);
    q2.push_back(q[1]);
  }
  w.key("QEP").begin_object();
  vec(w, "EP1", q1);
  vec(w, "EP2", q2);
  w.end_object();
  w.key("simulation");
  if (e.simulation) simulation(w, *e.simulation, design.stored.NSIM); else w.null();
  if (!e.REACH.empty()) {
    w.key("futility").begin_object();
    describe_futility(out, e, K);
    w.end_object();
  }
  if (!e.nulls.empty()) {
    w.key("nulls").begin_array();
    for (const auto& f : e.nulls) object(w, f, K);
    w.end_array();
  }
  w.end_object();
}

}  // namespace

std::string results_json(const RunRecord& run) {
  std::string out;
  out.reserve(16384);
  JsonWriter w(out);
  w.begin_object();
  w.key("format").value("kestrel-results");
  w.key("format_version").value(kResultsFormatVersion);
  w.key("version").value(run.version);
  w.key("seed");
  if (run.seed) w.value(static_cast<long long>(*run.seed)); else w.null();
  w.key("mvn_accuracy").value(run.mvn_accuracy);
  w.key("seed_given");
  if (run.seed_given) w.value(static_cast<long long>(*run.seed_given)); else w.null();
  w.key("deck_sha256").value(run.deck_sha256);
  w.key("designs_in_deck").value(run.designs_in_deck);
  w.key("selection");
  if (run.selection.empty()) w.null(); else w.value(run.selection);
  if (run.exact) w.key("model").value("exact covariance under the alternative, exact bounds");
  if (run.under_nulls) w.key("under_nulls").value(true);
  w.key("status").value(run.error ? "stopped" : "complete");
  w.key("error");
  if (run.error) w.value(*run.error); else w.null();
  w.key("header");
  object(w, run.header);
  w.key("designs").begin_array();
  for (const DesignRecord& d : run.designs) {
    w.begin_object();
    w.key("number").value(d.design.number);
    w.key("first_line").value(d.design.first_line);
    w.key("complete").value(d.complete);
    w.key("read");
    object(w, d.design.read);
    w.key("stored");
    object(w, d.design.stored);
    w.key("THETA").value(d.THETA);
    w.key("THETATR").value(d.THETATR);
    w.key("spending").begin_array();
    for (const auto& pair : d.design.spending) {
      w.begin_array();
      spending_statement(w, pair[0]);
      spending_statement(w, pair[1]);
      w.end_array();
    }
    w.end_array();
    // Only designs with loss to follow-up or accrual pieces carry this entry.
    const EntryAndLoss& el = d.design.entry_loss;
    hazards(w, d.design);
    if (el.has_dropout() || el.has_ramp()) {
      const EntryAndLossStatements& how = d.design.entry_loss_statements;
      w.key("entry_loss").begin_object();
      w.key("dropout_hazard").begin_array();
      w.value(el.dropout[0]).value(el.dropout[1]);
      w.end_array();
      if (how.dropout_as_probability) {
        w.key("dropout_time").value(how.dropout_time);
        w.key("dropout_probability").begin_array();
        w.value(how.dropout_value[0]).value(how.dropout_value[1]);
        w.end_array();
      }
      w.key("accrual_end").begin_array();
      for (double e : el.accrual_end) w.value(e);
      w.end_array();
      w.key("accrual_intensity").begin_array();
      for (double r : el.accrual_intensity) w.value(r);
      w.end_array();
      w.end_object();
    }
    // Only designs with a MODEL or CONTROL statement carry this entry.
    const ModelAndControl& mc = d.design.model_control;
    if (mc.model != 0 || mc.control != ControlForm::EndOfStudy) {
      w.key("model_control").begin_object();
      w.key("model").value(mc.model == 2 ? "exact" : mc.model == 1 ? "default" : "not stated");
      if (mc.control != ControlForm::EndOfStudy) {
        const int form = static_cast<int>(mc.control);
        w.key("control").value(form == 1 ? "median" : form == 2 ? "hazard" : "survival");
        if (mc.control == ControlForm::SurvivalAt) w.key("control_time").value(mc.control_time);
        w.key("control_value").begin_array();
        w.value(mc.control_value[0]).value(mc.control_value[1]);
        w.end_array();
      }
      w.end_object();
    }
    if (d.design.futility.any()) {
      w.key("futility");
      object(w, d.design.futility, d.design.read.LOOK);
    }
    w.key("sets").begin_array();
    for (const EvaluatedSet& s : d.sets) evaluated_set(w, s, d.design);
    w.end_array();
    w.end_object();
  }
  w.end_array();
  w.end_object();
  out += '\n';
  return out;
}

void write_results_json(std::ostream& os, const RunRecord& run) { os << results_json(run); }

namespace {

// Written like the reports: a new temporary file beside the final name, renamed into place, so a
// link planted under either name is never followed.
std::string replace_file(const std::filesystem::path& path, const std::string& content) {
  try {
    ReportFile f(path, path.string());
    f.stream().write(content.data(), static_cast<std::streamsize>(content.size()));
    f.close();
  } catch (const RunError& e) {
    return e.what();
  }
  return {};
}

}  // namespace

std::string write_run_outputs(const RunRecord& run, const std::filesystem::path& dir) {
  std::string err = replace_file(dir / "kestrel-results.json", results_json(run));
  std::string err2 = replace_file(dir / "kestrel-report.html", html_report(run));
  if (!err.empty() && !err2.empty()) return err + "; " + err2;
  return err.empty() ? err2 : err;
}

}  // namespace kestrel::reports
