// FUTILITY [BINDING | NONBINDING] SPENDING code [phi | b(1..K)], FUTILITY [...] Z z(1..K-1) or
// FUTILITY [...] HR h(1..K-1), at most once.
#include <cmath>

#include "common/limits.h"
#include "deck/statement_reader.h"

namespace kestrel::deck {
namespace {

// How reading the rule's values ended: the deck ended inside them, the statement was refused
// as a whole (its first value), or its values were read (`ok` telling whether all were accepted).
enum class Outcome { Ended, Refused, Read };

// `n` real values into `out` (not a number where a value is not usable). False when the deck
// ends inside them.
bool rule_values(StatementReader& r, Statement& st, int number, const std::string& field, int n,
                 std::vector<double>& out, int& at, bool& ok) {
  bool ended = false;
  out.assign(static_cast<size_t>(n), std::nan(""));
  for (int i = 0; i < n; ++i) {
    double v = 0;
    const std::string f = field + "(" + std::to_string(i + 1) + ")";
    if (!r.value(st, number, f, v, false, ended, at)) {
      ok = false;
      if (ended) return false;
      continue;
    }
    out[static_cast<size_t>(i)] = v;
  }
  return true;
}

// SPENDING code [phi | b(1..K)]: beta spending.
Outcome spending_rule(StatementReader& r, Statement& st, const Design& g, FutilityRule& rule,
                      int& at, bool& ok) {
  const int number = g.number;
  const int K = g.read.LOOK;
  bool ended = false;
  rule.kind = FutilityRule::Kind::spending;
  double code = 0;
  if (!r.value(st, number, "FUTILITY SPENDING code", code, false, ended, at))
    return ended ? Outcome::Ended : Outcome::Refused;
  if (!(code >= 1 && code <= 6 && code == std::floor(code))) {
    r.problem(number, at, "FUTILITY SPENDING code", show_real(code),
              "the beta-spending code must be an integer from 1 to 6 (the codes of the alpha "
              "spending)");
    return Outcome::Refused;
  }
  rule.code = static_cast<int>(code);
  if (rule.code == 3 || rule.code == 4) {
    double phi = 0;
    if (!r.value(st, number, "FUTILITY SPENDING phi", phi, false, ended, at)) {
      if (ended) return Outcome::Ended;
      ok = false;
    } else if (!limits::spending_parameter_ok(rule.code, phi)) {
      r.problem(number, at, "FUTILITY SPENDING phi", show_real(phi),
                limits::spending_parameter_allowed(rule.code));
      ok = false;
    }
    rule.phi = phi;
  } else if (rule.code == 5) {
    if (!rule_values(r, st, number, "FUTILITY SPENDING cumulative beta", K, rule.cumulative, at,
                     ok))
      return Outcome::Ended;
    const double beta = 1.0 - g.read.POWER;
    bool fine = ok;
    for (int i = 0; fine && i < K; ++i) {
      const double c = rule.cumulative[static_cast<size_t>(i)];
      fine = c > 0.0 && (i == 0 || c > rule.cumulative[static_cast<size_t>(i - 1)]);
    }
    if (ok && !(fine && std::fabs(rule.cumulative.back() - beta) <= 1e-9)) {
      r.problem(number, at, "FUTILITY SPENDING cumulative beta", "",
                "code 5 takes " + std::to_string(K) +
                    " cumulative beta values, positive and increasing, the last equal to "
                    "1 - POWER = " + show_real(beta));
      ok = false;
    }
  }
  return Outcome::Read;
}

// Z z(1..K-1) or HR h(1..K-1): a threshold per interim analysis.
Outcome threshold_rule(StatementReader& r, Statement& st, const Design& g, bool hr,
                       FutilityRule& rule, int& at, bool& ok) {
  const int number = g.number;
  const int K = g.read.LOOK;
  rule.kind = hr ? FutilityRule::Kind::hazard_ratio : FutilityRule::Kind::fixed_z;
  if (!rule_values(r, st, number, std::string("FUTILITY ") + (hr ? "HR" : "Z"), K - 1,
                   rule.values, at, ok))
    return Outcome::Ended;
  for (int i = 0; i < K - 1; ++i) {
    const double v = rule.values[static_cast<size_t>(i)];
    if (std::isnan(v)) continue;
    const bool fine = hr ? (v > 0.0 && std::isfinite(v)) : (v >= -8.0 && v < 8.0);
    if (!fine) {
      r.problem(number, at,
                std::string("FUTILITY ") + (hr ? "HR" : "Z") + "(" + std::to_string(i + 1) + ")",
                show_real(v),
                hr ? "a hazard-ratio threshold must be above 0"
                   : "a futility z must lie from -8 (no stop) up to 8");
      ok = false;
    }
  }
  return Outcome::Read;
}

}  // namespace

bool read_futility(StatementReader& r, Statement& st, Design& g, int line) {
  const int number = g.number;
  FutilityRule& fr = g.futility;
  const char* const kForms =
      "FUTILITY is followed by BINDING or NONBINDING (optional; non-binding by default) and "
      "by SPENDING with a beta-spending code 1 to 6 (codes 3 and 4 with their parameter, "
      "code 5 with the cumulative beta of each analysis, the last 1 - POWER), by Z with a "
      "z value per interim analysis, or by HR with a hazard ratio per interim analysis";
  if (fr.line > 0) {
    r.problem(number, line, "FUTILITY", "",
              "a design takes one FUTILITY statement; the first is on line " +
                  std::to_string(fr.line));
  }
  const bool again = fr.line > 0;
  FutilityRule rule;
  rule.line = line;
  auto word = [&](std::string& w, int& at) {
    DeckScanner::Token t;
    const Item item = st.take(t);
    at = t.line ? t.line : line;
    w = upper(t.text);
    if (item == Item::End) return Item::End;
    return t.quoted ? Item::Unreadable : item;
  };
  std::string w;
  int at = line;
  Item item = word(w, at);
  if (item == Item::Read && (w == "BINDING" || w == "NONBINDING")) {
    rule.binding = w == "BINDING";
    item = word(w, at);
  }
  if (item == Item::End) {
    r.problem(number, r.scanner().line(), "FUTILITY", "",
              std::string("the deck ends inside this statement; ") + kForms);
    return false;
  }
  Outcome outcome = Outcome::Refused;
  bool ok = true;
  if (item != Item::Read || (w != "SPENDING" && w != "Z" && w != "HR")) {
    r.problem(number, at, "FUTILITY", echoed(w), kForms);
  } else if (g.read.LOOK < 2) {
    r.problem(number, line, "FUTILITY", w,
              "futility stops need at least one interim analysis; the design has LOOK = " +
                  std::to_string(g.read.LOOK));
  } else {
    outcome = w == "SPENDING" ? spending_rule(r, st, g, rule, at, ok)
                              : threshold_rule(r, st, g, w == "HR", rule, at, ok);
  }
  if (outcome == Outcome::Ended) return false;
  if (outcome == Outcome::Refused) {
    if (!again) fr.line = line;
    return true;
  }
  if (!again) fr = ok ? rule : FutilityRule{FutilityRule::Kind::none, 0, 0.0, {}, {}, false, line};
  return true;
}

}  // namespace kestrel::deck
