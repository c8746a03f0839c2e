#include "reports/results_reader.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "reports/result_fields.h"
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
  const std::string& number_text() const { return v_.text; }
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

// Reads the fields of a described structure (result_fields.h) from their keys and checks what
// the description declares: a probability in [0, 1], a ratio above 0, the count of a list.
class JsonIn {
 public:
  explicit JsonIn(const Node& n) : n_(n) {}

  void scalar(const Field& f, int& x) {
    if (!f.key) return;
    x = n_[f.key].integer();
    if (f.check == Check::analyses && (x < 0 || x > NMAXA))
      n_[f.key].fail("claims " + std::to_string(x) + " analyses; a set holds 0 to " +
                     std::to_string(NMAXA));
  }
  void scalar(const Field& f, double& x) {
    if (!f.key) return;
    x = n_[f.key].real();
    check(f, n_[f.key], x);
  }
  void scalar(const Field& f, bool& x) {
    if (f.key) x = n_[f.key].boolean();
  }
  void scalar(const Field& f, std::string& x) {
    if (f.key) x = n_[f.key].text();
  }
  void scalar(const Field&, std::vector<int>&) {}  // not in the results file
  void analyses(const Field& f, std::vector<double>& v, Count K) { values(f, v, K); }
  void analyses(const Field& f, AnalysisArray& a, Count K) {
    if (!f.key) return;
    const Node m = n_[f.key];
    m.into(a);
    if (K.valid()) expect_count(m, static_cast<size_t>(K.n), K.claimed_by);
    for (size_t i = 0; i < m.size(); ++i) check(f, m.at(i), a[i]);
  }
  void values(const Field& f, std::vector<double>& v, Count K) {
    if (!f.key) return;
    const Node m = n_[f.key];
    if (K.valid()) expect_count(m, static_cast<size_t>(K.n), K.claimed_by);
    v = m.reals();
    for (size_t i = 0; i < v.size(); ++i) check(f, m.at(i), v[i]);
  }
  template <class Rows>
  void matrix(const Field& f, Rows& rows, Count K) {
    const Node m = n_[f.key];
    if (K.valid()) expect_count(m, static_cast<size_t>(K.n), K.claimed_by);
    if (m.size() > rows.size()) m.fail("has too many rows");
    for (size_t i = 0; i < m.size(); ++i) {
      if (K.valid()) expect_count(m.at(i), static_cast<size_t>(K.n), K.claimed_by);
      m.at(i).into(rows[i]);
    }
  }
  template <class T, class Describe>
  void object(const Field& f, T& x, Describe describe) {
    JsonIn in(n_[f.key]);
    describe(in, x);
  }
  template <class E, size_t N>
  void kind(const Field& f, E& e, const char* const (&names)[N]) {
    const Node m = n_[f.key];
    for (size_t i = 1; i < N; ++i)
      if (m.text() == names[i]) return void(e = static_cast<E>(i));
    m.fail("is not a kind of futility stop");
  }
  bool optional(const char* key, bool) { return n_.has(key); }

 private:
  static void check(const Field& f, const Node& at, double x) {
    if (std::isnan(x)) return;  // null in the record of a run that stopped
    if (f.check == Check::probability && !(x >= 0.0 && x <= 1.0))
      at.fail("is " + at.number_text() + "; a probability lies in [0, 1]");
    if (f.check == Check::positive && !(x > 0.0))
      at.fail("is " + at.number_text() + "; a hazard ratio lies above 0");
  }
  const Node n_;  // a copy: callers hand temporaries
};

// A described structure read from an object.
template <class T, class... Context>
T read(const Node& n, Context... context) {
  T x;
  JsonIn in(n);
  describe(in, x, context...);
  return x;
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
EvaluatedSet evaluated_set(const Node& n) {
  EvaluatedSet set;
  set.label = n["label"].text();
  set.information = read<InformationSet>(n["information"]);
  const Count K{set.information.K, "K"};
  samplesize::Evaluation& e = set.evaluation;
  e.ep1 = read<boundaries::GsDesignResult>(n["endpoints"]["EP1"], K);
  e.ep2 = read<boundaries::GsDesignResult>(n["endpoints"]["EP2"], K);
  JsonIn bounds(n["bounds_used"]);
  describe_bounds_used(bounds, e, K);
  e.NL = n["bracket"]["NL"].integer();
  e.NU = n["bracket"]["NU"].integer();
  e.end = search_end(n["search_end"]);
  e.below_target = n["below_target"].boolean();
  const Node trace = n["trace"];
  for (size_t i = 0; i < trace.size(); ++i)
    e.trace.push_back(read<samplesize::SearchStep>(trace.at(i)));
  JsonIn figures(n);
  describe_figures(figures, e, K);
  const Node qep = n["QEP"];
  expect_count(qep["EP1"], static_cast<size_t>(K.n), "K");
  e.QEP = rows<2>({qep["EP1"].reals(), qep["EP2"].reals()}, qep);
  const Node sim = n["simulation"];
  if (!sim.null()) {
    sim["NSIM"].integer();  // the design's NSIM, written beside the figures for the reader
    simulation::SimulationResult r = read<simulation::SimulationResult>(sim);
    const Node R = sim["R"];
    expect_count(R["EP1"], static_cast<size_t>(K.n), "K");
    r.R = rows<3>({R["EP1"].reals(), R["EP2"].reals(), R["joint"].reals()}, R);
    if (sim.has("F")) {
      JsonIn stops(sim);
      stops.values(Field{"F", nullptr, "simulated futility stops", Check::probability}, r.F, K);
    }
    e.simulation = std::move(r);
  }
  if (n.has("futility")) {
    JsonIn futility(n["futility"]);
    describe_futility(futility, e, K);
  }
  if (n.has("nulls")) {
    const Node nulls = n["nulls"];
    for (size_t i = 0; i < nulls.size(); ++i)
      e.nulls.push_back(read<samplesize::Evaluation::NullFigures>(nulls.at(i), K));
  }
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
    JsonIn in(h);
    const Node control = h["control_hazard"];
    if (control.size() < 1 || control.size() > 10)
      control.fail("holds " + std::to_string(control.size()) + " pieces; a law has 1 to 10");
    const int m = static_cast<int>(control.size());
    in.values(Field{"change", nullptr, "change points"}, law.change,
              Count{m - 1, "control_hazard"});
    in.values(Field{"control_hazard", nullptr, "control hazard", Check::positive}, law.control,
              Count{m, "control_hazard"});
    in.values(Field{"ratio", nullptr, "hazard ratio", Check::positive}, law.ratio,
              Count{m, "control_hazard"});
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
  r.header = read<DeckHeader>(run["header"]);
  const Node designs = run["designs"];
  for (size_t i = 0; i < designs.size(); ++i) {
    const Node d = designs.at(i);
    DesignRecord rec;
    rec.design.number = d["number"].integer();
    rec.design.first_line = d["first_line"].integer();
    rec.complete = d["complete"].boolean();
    rec.design.read = read<DeckValues>(d["read"]);
    rec.design.stored = read<DeckValues>(d["stored"]);
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
    if (d.has("futility"))
      rec.design.futility = read<FutilityRule>(d["futility"], rec.design.read.LOOK);
    const Node sets = d["sets"];
    for (size_t j = 0; j < sets.size(); ++j) rec.sets.push_back(evaluated_set(sets.at(j)));
    r.designs.push_back(std::move(rec));
  }
  refuse_unread(root, "");
  return r;
}

}  // namespace kestrel::reports
