#include "reports/results_reader.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "reports/results_json.h"

namespace kestrel::reports {
namespace {

// A JSON value as read: numbers keep their text.
struct Value {
  enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
  bool b = false;
  std::string text;  // string value, or the number as written
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;
  mutable bool used = false;  // the reader took this value (unread keys are refused)

  // Defined below, where Value is complete: the pairs of `members` need the whole type (clang
  // with libstdc++ checks it when it first meets the implicit ones).
  Value();
  Value(const Value&);
  Value(Value&&) noexcept;
  Value& operator=(const Value&);
  Value& operator=(Value&&) noexcept;
  ~Value();
};

Value::Value() = default;
Value::Value(const Value&) = default;
Value::Value(Value&&) noexcept = default;
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&&) noexcept = default;
Value::~Value() = default;

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}
  Value document() {
    ws();
    Value v = value(0);
    ws();
    if (i_ != s_.size()) fail("text after the end of the document");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw ResultsFileError("not valid JSON at byte " + std::to_string(i_) + ": " + what);
  }
  char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  void ws() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t'))
      ++i_;
  }
  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++i_;
  }
  void word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) fail("expected " + std::string(w));
    i_ += w.size();
  }
  Value value(int depth) {
    if (depth > 64) fail("nested too deeply");
    Value v;
    switch (peek()) {
      case '{':
        v.kind = Value::Kind::object;
        ++i_;
        ws();
        if (peek() == '}') return ++i_, v;
        for (;;) {
          ws();
          if (peek() != '"') fail("expected a key");
          std::string key = string();
          ws();
          expect(':');
          ws();
          v.members.emplace_back(std::move(key), value(depth + 1));
          ws();
          if (peek() == ',') { ++i_; continue; }
          expect('}');
          return v;
        }
      case '[':
        v.kind = Value::Kind::array;
        ++i_;
        ws();
        if (peek() == ']') return ++i_, v;
        for (;;) {
          ws();
          v.items.push_back(value(depth + 1));
          ws();
          if (peek() == ',') { ++i_; continue; }
          expect(']');
          return v;
        }
      case '"':
        v.kind = Value::Kind::string;
        v.text = string();
        return v;
      case 't': word("true"); v.kind = Value::Kind::boolean; v.b = true; return v;
      case 'f': word("false"); v.kind = Value::Kind::boolean; return v;
      case 'n': word("null"); return v;
      default: return number();
    }
  }
  Value number() {
    const size_t start = i_;
    auto digits = [&] {
      const size_t d = i_;
      while (peek() >= '0' && peek() <= '9') ++i_;
      if (i_ == d) fail("expected a digit");
    };
    if (peek() == '-') ++i_;
    if (peek() == '0') ++i_; else digits();
    if (peek() == '.') { ++i_; digits(); }
    if (peek() == 'e' || peek() == 'E') {
      ++i_;
      if (peek() == '+' || peek() == '-') ++i_;
      digits();
    }
    Value v;
    v.kind = Value::Kind::number;
    v.text = std::string(s_.substr(start, i_ - start));
    return v;
  }
  unsigned hex4() {
    if (i_ + 4 > s_.size()) fail("short \\u escape");
    unsigned v = 0;
    for (int j = 0; j < 4; ++j) {
      const char h = s_[i_++];
      v <<= 4;
      if (h >= '0' && h <= '9') v |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f') v |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') v |= static_cast<unsigned>(h - 'A' + 10);
      else fail("bad hexadecimal digit");
    }
    return v;
  }
  static void put_utf8(std::string& out, unsigned cp) {
    if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
    } else {
      if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
      } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      }
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  std::string string() {
    ++i_;
    std::string out;
    for (;;) {
      if (i_ >= s_.size()) fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(s_[i_]);
      if (c == '"') return ++i_, out;
      if (c < 0x20) fail("control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        ++i_;
        continue;
      }
      ++i_;
      const char e = peek();
      ++i_;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp = hex4();
          // The writer escapes a control character, and a byte that is not part of valid
          // UTF-8, as the code point of the byte's value: that is the byte itself again.
          if (cp < 0x100) {
            out += static_cast<char>(cp);
          } else if (cp >= 0xD800 && cp <= 0xDBFF) {
            word("\\u");
            const unsigned lo = hex4();
            if (lo < 0xDC00 || lo > 0xDFFF) fail("bad surrogate pair");
            put_utf8(out, 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00));
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            fail("lone low surrogate");
          } else {
            put_utf8(out, cp);
          }
          break;
        }
        default: fail("bad escape");
      }
    }
  }

  std::string_view s_;
  size_t i_ = 0;
};

// Access to the values with the key path in every message.
// A number is read only when it is a finite number; null (what the writer writes for a figure
// that is not a number) only in the record of a run that stopped, where `nulls_allowed` is set.
class Node {
 public:
  Node(const Value& v, std::string path, const bool* nulls_allowed)
      : v_(v), path_(std::move(path)), nulls_allowed_(nulls_allowed) {}

  Node operator[](std::string_view key) const {
    if (v_.kind != Value::Kind::object) fail("is not an object");
    for (const auto& [k, v] : v_.members) {
      if (k == key) {
        v.used = true;
        return Node(v, path_ + "." + std::string(key), nulls_allowed_);
      }
    }
    throw ResultsFileError("key " + path_ + "." + std::string(key) + " is missing");
  }
  bool has(std::string_view key) const {
    if (v_.kind != Value::Kind::object) return false;
    for (const auto& [k, v] : v_.members)
      if (k == key) return v.used = true;
    return false;
  }
  Node at(size_t i) const {
    return Node(v_.items.at(i), path_ + "[" + std::to_string(i) + "]", nulls_allowed_);
  }
  size_t size() const {
    if (v_.kind != Value::Kind::array) fail("is not an array");
    return v_.items.size();
  }
  bool null() const { return v_.kind == Value::Kind::null; }
  double real() const {
    if (null()) {
      if (!*nulls_allowed_)
        fail("is null where a complete run writes a finite number (edited or damaged file)");
      return std::numeric_limits<double>::quiet_NaN();  // written for NaN, infinities
    }
    if (v_.kind != Value::Kind::number) fail("is not a number");
    const double x = std::strtod(v_.text.c_str(), nullptr);
    if (!std::isfinite(x)) fail("is " + v_.text + ", beyond the range of a double");
    return x;
  }
  int integer() const {
    if (v_.kind != Value::Kind::number) fail("is not a number");
    char* end = nullptr;
    const long long n = std::strtoll(v_.text.c_str(), &end, 10);
    if (*end != '\0' || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
      fail("is not an integer");
    return static_cast<int>(n);
  }
  bool boolean() const {
    if (v_.kind != Value::Kind::boolean) fail("is not true or false");
    return v_.b;
  }
  const std::string& text() const {
    if (v_.kind != Value::Kind::string) fail("is not a string");
    return v_.text;
  }
  std::vector<double> reals() const {
    std::vector<double> out;
    for (size_t i = 0; i < size(); ++i) out.push_back(at(i).real());
    return out;
  }
  // An array of at most NMAXA reals into a per-analysis array.
  void into(AnalysisArray& a) const {
    if (size() > a.size()) fail("has more than " + std::to_string(a.size()) + " values");
    for (size_t i = 0; i < size(); ++i) a[i] = at(i).real();
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw ResultsFileError("key " + path_ + " " + what);
  }

 private:
  const Value& v_;
  std::string path_;
  const bool* nulls_allowed_;
};

// Every key of the file must have been read: a key this program does not read would be lost by
// the merge, so it is refused (a field added to the writer and forgotten by the reader fails the
// round-trip test at once).
void refuse_unread(const Value& v, const std::string& path) {
  if (v.kind == Value::Kind::object) {
    for (const auto& [k, m] : v.members) {
      if (!m.used)
        throw ResultsFileError("key " + path + "." + k +
                               " is not one this kestrel reads; it would be lost");
      refuse_unread(m, path + "." + k);
    }
  } else if (v.kind == Value::Kind::array) {
    for (size_t i = 0; i < v.items.size(); ++i)
      refuse_unread(v.items[i], path + "[" + std::to_string(i) + "]");
  }
}

// The analyses an array of per-analysis values holds must be the count its record claims.
void expect_count(const Node& n, size_t count, const std::string& claim) {
  if (n.size() != count)
    n.fail("holds " + std::to_string(n.size()) + " values where " + claim + " claims " +
           std::to_string(count));
}

DeckValues deck_values(const Node& n) {
  DeckValues d;
  d.NSIM = n["NSIM"].integer();
  d.ITIME = n["ITIME"].integer();
  d.CPL = n["CPL"].integer();
  d.CPRSK = n["CPRSK"].integer();
  d.CMPST = n["CMPST"].integer();
  d.MSSG = n["MSSG"].integer();
  d.HR1 = n["HR1"].real();
  d.HR2 = n["HR2"].real();
  d.RHO = n["RHO"].real();
  d.HR1TR = n["HR1TR"].real();
  d.HR2TR = n["HR2TR"].real();
  d.RHOTR = n["RHOTR"].real();
  d.TA = n["TA"].real();
  d.TF = n["TF"].real();
  d.SRVR1 = n["SRVR1"].real();
  d.SRVR2 = n["SRVR2"].real();
  d.SR = n["SR"].real();
  d.CNSRD = n["CNSRD"].integer();
  d.TYPE1 = n["TYPE1"].real();
  d.RSV1 = n["RSV1"].real();
  d.POWER = n["POWER"].real();
  d.DF = n["DF"].integer();
  d.LOOK = n["LOOK"].integer();
  d.CRIVL = n["CRIVL"].integer();
  d.ESF1 = n["ESF1"].integer();
  d.ESF2 = n["ESF2"].integer();
  n["TLOOK"].into(d.TLOOK);
  if (d.LOOK >= 0 && d.LOOK <= NMAXA) expect_count(n["TLOOK"], static_cast<size_t>(d.LOOK), "LOOK");
  return d;
}

SpendingStatement spending_statement(const Node& n) {
  SpendingStatement s;
  s.deck_code = n["deck_code"].integer();
  if (!n["replacement_code"].null()) {
    s.replacement_code = n["replacement_code"].integer();
    s.replacement_line = 1;  // read from a statement of the deck (its line is not recorded)
  }
  if (!n["phi"].null()) {
    s.has_phi = true;
    s.phi = n["phi"].real();
  }
  if (!n["cumulative"].null()) s.cumulative = n["cumulative"].reals();
  if (n["code_in_force"].integer() != s.code_in_force())
    n["code_in_force"].fail("does not match the deck and replacement codes");
  return s;
}

InformationSet information(const Node& n) {
  InformationSet s;
  s.K = n["K"].integer();
  if (s.K < 0 || s.K > NMAXA)
    n["K"].fail("claims " + std::to_string(s.K) + " analyses; a set holds 0 to " +
                std::to_string(NMAXA));
  for (const char* key : {"TCAL", "FENR", "FINF1", "FINF2", "DRF1", "DRF2", "VAR01", "VAR02",
                          "VAR11", "VAR12", "CORR12"})
    expect_count(n[key], static_cast<size_t>(s.K), "K");
  n["TCAL"].into(s.TCAL);
  n["FENR"].into(s.FENR);
  n["FINF1"].into(s.FINF1);
  n["FINF2"].into(s.FINF2);
  n["DRF1"].into(s.DRF1);
  n["DRF2"].into(s.DRF2);
  n["VAR01"].into(s.VAR01);
  n["VAR02"].into(s.VAR02);
  n["VAR11"].into(s.VAR11);
  n["VAR12"].into(s.VAR12);
  const Node corr = n["CORR12"];
  if (corr.size() > s.CORR12.size()) corr.fail("has too many rows");
  for (size_t i = 0; i < corr.size(); ++i) corr.at(i).into(s.CORR12[i]);
  if (n.has("AHR1")) {
    s.AHR1 = n["AHR1"].real();
    s.AHR2 = n["AHR2"].real();
  }
  return s;
}

boundaries::GsDesignResult endpoint_design(const Node& n) {
  boundaries::GsDesignResult r;
  r.code_used = n["code_used"].integer();
  r.phi_used = n["phi_used"].real();
  r.za = n["za"].reals();
  r.zb = n["zb"].reals();
  r.pd = n["pd"].reals();
  r.pe = n["pe"].reals();
  r.nominal_lower = n["nominal_lower"].reals();
  r.nominal_upper = n["nominal_upper"].reals();
  r.qpos = n["qpos"].reals();
  r.qneg = n["qneg"].reals();
  r.drift = n["drift"].real();
  r.events = n["events"].integer();
  r.expected_events = n["expected_events"].real();
  r.subjects = n["subjects"].integer();
  r.pev = n["pev"].real();
  r.drift_converged = n["drift_converged"].boolean();
  return r;
}

samplesize::SearchEnd search_end(const Node& n) {
  using samplesize::SearchEnd;
  for (SearchEnd e : {SearchEnd::given_size, SearchEnd::settled, SearchEnd::flat,
                      SearchEnd::alternating, SearchEnd::step_limit, SearchEnd::non_finite})
    if (n.text() == search_end_name(e)) return e;
  n.fail("is not a way a search ends: '" + n.text() + "'");
}

// Three per-analysis columns into rows.
template <size_t N>
std::vector<std::array<double, N>> rows(const std::array<std::vector<double>, N>& columns,
                                        const Node& where) {
  std::vector<std::array<double, N>> out(columns[0].size());
  for (size_t c = 0; c < N; ++c) {
    if (columns[c].size() != out.size()) where.fail("has columns of different lengths");
    for (size_t k = 0; k < out.size(); ++k) out[k][c] = columns[c][k];
  }
  return out;
}

// The futility statement of a design and the futility figures of a set (written only for
// designs with futility stops).
FutilityRule futility_statement(const Node& n) {
  FutilityRule f;
  const std::string kind = n["kind"].text();
  f.kind = kind == "spending"       ? FutilityRule::Kind::spending
           : kind == "z"            ? FutilityRule::Kind::fixed_z
           : kind == "hazard_ratio" ? FutilityRule::Kind::hazard_ratio
                                    : FutilityRule::Kind::none;
  if (!f.any()) n["kind"].fail("is not a kind of futility stop");
  f.binding = n["binding"].boolean();
  f.code = n["code"].integer();
  f.phi = n["phi"].real();
  f.cumulative = n["cumulative"].reals();
  f.values = n["values"].reals();
  f.line = n["line"].integer();
  return f;
}

void futility_figures(const Node& n, samplesize::Evaluation& e) {
  e.ZF1 = n["ZF1"].reals();
  e.ZF2 = n["ZF2"].reals();
  e.REACH = n["reach"].reals();
  e.QFUT = n["QFUT"].reals();
  boundaries::GsDesignResult* eps[] = {&e.ep1, &e.ep2};
  for (int ep = 0; ep < 2; ++ep) {
    const Node m = n[ep == 0 ? "EP1" : "EP2"];
    eps[ep]->futility = m["futility"].reals();
    eps[ep]->null_qpos = m["null_qpos"].reals();
    eps[ep]->null_qneg = m["null_qneg"].reals();
    eps[ep]->expected_events_null = m["expected_events_null"].real();
  }
}

// The trial under the alternative and the nulls.
std::vector<samplesize::Evaluation::NullFigures> null_figures(const Node& nulls) {
  std::vector<samplesize::Evaluation::NullFigures> out;
  for (size_t i = 0; i < nulls.size(); ++i) {
    const Node m = nulls.at(i);
    samplesize::Evaluation::NullFigures f;
    f.hypothesis = m["hypothesis"].text();
    f.success = m["success"].real();
    f.success_without_futility = m["success_without_futility"].real();
    f.ASN = m["ASN"].real();
    f.AVE1 = m["AVE1"].real();
    f.AVE2 = m["AVE2"].real();
    f.duration = m["duration"].real();
    f.REACH = m["reach"].reals();
    f.QSTOP = m["QSTOP"].reals();
    f.QFUT = m["QFUT"].reals();
    out.push_back(std::move(f));
  }
  return out;
}

EvaluatedSet evaluated_set(const Node& n) {
  EvaluatedSet set;
  set.label = n["label"].text();
  set.information = information(n["information"]);
  samplesize::Evaluation& e = set.evaluation;
  e.ep1 = endpoint_design(n["endpoints"]["EP1"]);
  e.ep2 = endpoint_design(n["endpoints"]["EP2"]);
  const Node b = n["bounds_used"];
  e.ZA1 = b["ZA1"].reals();
  e.ZB1 = b["ZB1"].reals();
  e.ZA2 = b["ZA2"].reals();
  e.ZB2 = b["ZB2"].reals();
  e.NL = n["bracket"]["NL"].integer();
  e.NU = n["bracket"]["NU"].integer();
  e.end = search_end(n["search_end"]);
  e.below_target = n["below_target"].boolean();
  const Node trace = n["trace"];
  for (size_t i = 0; i < trace.size(); ++i) {
    samplesize::SearchStep step;
    step.iteration = trace.at(i)["iteration"].integer();
    step.size = trace.at(i)["size"].integer();
    step.power = trace.at(i)["power"].real();
    e.trace.push_back(step);
  }
  e.MSS = n["MSS"].integer();
  e.APW = n["APW"].real();
  e.ME1 = n["ME1"].integer();
  e.ME2 = n["ME2"].integer();
  e.AVE1 = n["AVE1"].real();
  e.AVE2 = n["AVE2"].real();
  e.ASN = n["ASN"].real();
  e.QSTOP = n["QSTOP"].reals();
  e.QEP = rows<2>({n["QEP"]["EP1"].reals(), n["QEP"]["EP2"].reals()}, n["QEP"]);
  const Node sim = n["simulation"];
  if (!sim.null()) {
    sim["NSIM"].integer();  // the design's NSIM, written beside the figures for the reader
    simulation::SimulationResult r;
    r.PWC = sim["PWCS"].real();
    r.PWD = sim["PWDS"].real();
    r.PW1 = sim["PW1S"].real();
    r.PW2 = sim["PW2"].real();
    r.E1 = sim["E1"].real();
    r.E2 = sim["E2"].real();
    const Node R = sim["R"];
    r.R = rows<3>({R["EP1"].reals(), R["EP2"].reals(), R["joint"].reals()}, R);
    if (sim.has("F")) r.F = sim["F"].reals();
    e.simulation = std::move(r);
  }
  if (n.has("futility")) futility_figures(n["futility"], e);
  if (n.has("nulls")) e.nulls = null_figures(n["nulls"]);
  return set;
}

// The HAZARDS statements of a design, as results_json writes them.
void read_hazards(const Node& list, Design& d) {
  for (size_t i = 0; i < list.size(); ++i) {
    const Node h = list.at(i);
    const std::string ep = h["endpoint"].text();
    if (ep != "EP1" && ep != "EP2") h.fail("names no endpoint EP1 or EP2");
    const size_t e = ep == "EP1" ? 0 : 1;
    EndpointHazards& law = d.entry_loss.hazards[e];
    law.change = h["change"].reals();
    law.control = h["control_hazard"].reals();
    law.ratio = h["ratio"].reals();
    if (h.has("survival_time")) {
      d.entry_loss_statements.survival_time[e] = h["survival_time"].reals();
      d.entry_loss_statements.survival_value[e] = h["survival"].reals();
    }
  }
}

std::optional<std::int32_t> optional_integer(const Node& n) {
  if (n.null()) return std::nullopt;
  return n.integer();
}


// Loss to follow-up and accrual pieces, as the writer writes them for designs that have either.
void entry_loss(const Node& n, Design& d) {
  EntryAndLoss& el = d.entry_loss;
  EntryAndLossStatements& how = d.entry_loss_statements;
  const Node hazard = n["dropout_hazard"];
  expect_count(hazard, 2, "the two arms");
  el.dropout = {hazard.at(0).real(), hazard.at(1).real()};
  how.dropout_given = el.has_dropout();
  how.dropout_value = el.dropout;
  if (n.has("dropout_time")) {
    how.dropout_as_probability = true;
    how.dropout_time = n["dropout_time"].real();
    const Node p = n["dropout_probability"];
    expect_count(p, 2, "the two arms");
    how.dropout_value = {p.at(0).real(), p.at(1).real()};
  }
  el.accrual_end = n["accrual_end"].reals();
  el.accrual_intensity = n["accrual_intensity"].reals();
  expect_count(n["accrual_intensity"], el.accrual_end.size(), "accrual_end");
  how.accrual_given = el.has_ramp();
  if (el.plain()) n.fail("holds neither loss to follow-up nor accrual pieces");
}

// The MODEL and CONTROL statements of a design, for the inputs of the merged reports.
void model_control(const Node& mc, Design& d) {
  ModelAndControl& m = d.model_control;
  const std::string& model = mc["model"].text();
  m.model = model == "exact" ? 2 : model == "default" ? 1 : 0;
  if (mc.has("control")) {
    const std::string& form = mc["control"].text();
    m.control = form == "median"   ? ControlForm::Median
                : form == "hazard" ? ControlForm::Hazard
                                   : ControlForm::SurvivalAt;
    if (mc.has("control_time")) m.control_time = mc["control_time"].real();
    const Node v = mc["control_value"];
    expect_count(v, 2, "the two endpoints");
    m.control_value = {v.at(0).real(), v.at(1).real()};
  }
}

}  // namespace

RunRecord read_results_json(std::string_view text) {
  const Value root = Parser(text).document();
  bool nulls_allowed = true;  // until the status is known
  const Node run(root, "", &nulls_allowed);
  if (root.kind != Value::Kind::object || run["format"].text() != "kestrel-results")
    throw ResultsFileError("not a kestrel results file (\"format\" is not \"kestrel-results\")");
  const int format = run["format_version"].integer();
  if (format != kResultsFormatVersion)
    throw ResultsFileError("results file format " + std::to_string(format) + "; this kestrel reads " +
                           std::to_string(kResultsFormatVersion));
  RunRecord r;
  r.version = run["version"].text();
  r.seed = optional_integer(run["seed"]);
  r.mvn_accuracy = run["mvn_accuracy"].real();
  r.seed_given = optional_integer(run["seed_given"]);
  r.deck_sha256 = run["deck_sha256"].text();
  r.designs_in_deck = run["designs_in_deck"].integer();
  if (!run["selection"].null()) r.selection = run["selection"].text();
  // The model key is written only by runs with --exact.
  r.exact = run.has("model");
  // Written only by runs with --under-nulls.
  if (run.has("under_nulls")) r.under_nulls = run["under_nulls"].boolean();
  if (!run["error"].null()) r.error = run["error"].text();
  const std::string& status = run["status"].text();
  if (status != "stopped" && status != "complete")
    run["status"].fail("is '" + status + "', neither 'complete' nor 'stopped'");
  nulls_allowed = r.error.has_value();
  const Node h = run["header"];
  r.header.NHD1 = h["NHD1"].integer();
  r.header.NHD2 = h["NHD2"].integer();
  r.header.XHD1 = h["XHD1"].real();
  r.header.XHD2 = h["XHD2"].real();
  r.header.TITLE = h["TITLE"].text();
  const Node designs = run["designs"];
  for (size_t i = 0; i < designs.size(); ++i) {
    const Node d = designs.at(i);
    DesignRecord rec;
    rec.design.number = d["number"].integer();
    rec.design.first_line = d["first_line"].integer();
    rec.complete = d["complete"].boolean();
    rec.design.read = deck_values(d["read"]);
    rec.design.stored = deck_values(d["stored"]);
    rec.THETA = d["THETA"].real();
    rec.THETATR = d["THETATR"].real();
    const Node spending = d["spending"];
    for (size_t j = 0; j < spending.size(); ++j) {
      const Node pair = spending.at(j);
      if (pair.size() != 2) pair.fail("is not a pair of spending statements");
      rec.design.spending.push_back({spending_statement(pair.at(0)), spending_statement(pair.at(1))});
    }
    if (d.has("entry_loss")) entry_loss(d["entry_loss"], rec.design);
    if (d.has("model_control")) model_control(d["model_control"], rec.design);
    if (d.has("hazards")) read_hazards(d["hazards"], rec.design);
    if (d.has("futility")) rec.design.futility = futility_statement(d["futility"]);
    const Node sets = d["sets"];
    for (size_t j = 0; j < sets.size(); ++j) rec.sets.push_back(evaluated_set(sets.at(j)));
    r.designs.push_back(std::move(rec));
  }
  refuse_unread(root, "");
  return r;
}

}  // namespace kestrel::reports
