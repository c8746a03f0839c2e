// The options of `kestrel bounds`: each read, checked against its range and turned into the
// calculator's request; a bad one is refused with the option, the value and what is allowed.
#include "cli/bounds_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>

#include "cli/bounds_table.h"
#include "common/control_arm.h"
#include "common/errors.h"
#include "common/limits.h"

namespace kestrel::cli {
namespace {

constexpr int kMaxAnalyses = 25;

// The options given, each with its value as written.
using Given = std::map<std::string, std::string>;

[[noreturn]] void bad(const std::string& option, const std::string& value,
                      const std::string& allowed) {
  throw OptionError{"invalid value '" + value + "' for " + option + ": " + allowed, option};
}

std::optional<double> parse_real(std::string_view s) {
  std::string_view t = s;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty()) return std::nullopt;
  double v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || p != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

double real_option(const std::string& option, const std::string& value,
                   const std::string& allowed) {
  std::optional<double> v = parse_real(value);
  if (!v) bad(option, value, "not a number; " + allowed);
  return *v;
}

int int_option(const std::string& option, const std::string& value, const std::string& allowed) {
  int v = 0;
  auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
  if (ec != std::errc() || p != value.data() + value.size()) {
    bad(option, value, "not an integer; " + allowed);
  }
  return v;
}

// Comma-separated reals; with `fractions`, "a/b" stands for a divided by b.
std::vector<double> list_option(const std::string& option, const std::string& value, bool fractions,
                                const std::string& allowed) {
  std::vector<double> out;
  size_t start = 0;
  for (;;) {
    const size_t comma = value.find(',', start);
    const std::string item =
        value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    std::optional<double> v;
    const size_t slash = fractions ? item.find('/') : std::string::npos;
    if (slash != std::string::npos) {
      std::optional<double> a = parse_real(std::string_view(item).substr(0, slash));
      std::optional<double> b = parse_real(std::string_view(item).substr(slash + 1));
      if (a && b && *b != 0) v = *a / *b;
    } else {
      v = parse_real(item);
    }
    if (!v) bad(option, value, "'" + item + "' is not a number; " + allowed);
    out.push_back(*v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

// --hazard-times c1,..,c(m-1) --hazards h1,..,hm [--hazard-ratios r1,..,rm]: the endpoint's
// piecewise law (ratios default to --hr in every piece). Every problem of the three options is
// named in one message.
void parse_hazards(BoundsOptions& o, Given& given) {
  const bool times = given.count("--hazard-times") > 0, hazards = given.count("--hazards") > 0,
             ratios = given.count("--hazard-ratios") > 0;
  if (!hazards && !times && !ratios) return;
  if (!hazards) {
    throw OptionError{std::string(times ? "--hazard-times" : "--hazard-ratios") +
                          " goes with --hazards (the control hazard of each piece)",
                      "--hazards"};
  }
  std::vector<std::string> problems;
  auto read = [&](const char* name) {
    std::vector<double> v;
    if (!given.count(name)) return v;
    const std::string text = given[name];
    size_t start = 0;
    for (;;) {
      const size_t comma = text.find(',', start);
      const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      const std::optional<double> x = parse_real(item);
      if (!x) {
        problems.push_back(std::string(name) + " '" + item + "' is not a number");
        v.push_back(std::nan(""));
      } else {
        v.push_back(*x);
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return v;
  };
  const std::vector<double> c = read("--hazard-times"), h = read("--hazards");
  std::vector<double> r = ratios ? read("--hazard-ratios") : std::vector<double>(h.size(), o.hr);
  if (h.size() > 10) problems.push_back("--hazards: at most 10 pieces (got " + std::to_string(h.size()) + ")");
  if (c.size() + 1 != h.size())
    problems.push_back("--hazard-times: " + std::to_string(h.size()) + " pieces need " +
                       std::to_string(h.size() - 1) + " change points (got " +
                       std::to_string(c.size()) + ")");
  if (r.size() != h.size())
    problems.push_back("--hazard-ratios: one ratio per piece (" + std::to_string(h.size()) +
                       "; got " + std::to_string(r.size()) + ")");
  for (size_t p = 0; p < c.size(); ++p)
    if (c[p] == c[p] && !(c[p] > (p ? c[p - 1] : 0.0)))
      problems.push_back("--hazard-times: " + shortest(c[p]) +
                         (p ? " does not follow the previous change point" : " is not above 0"));
  for (double x : h)
    if (x == x && !(x > 0.0)) problems.push_back("--hazards: " + shortest(x) + " is not above 0");
  for (double x : r)
    if (x == x && !(x > 0.0))
      problems.push_back("--hazard-ratios: " + shortest(x) + " is not above 0");
  if (!problems.empty()) {
    std::string m = "bad piecewise hazards: ";
    for (size_t k = 0; k < problems.size(); ++k) m += (k ? "; " : "") + problems[k];
    throw OptionError{m, ratios ? "--hazard-ratios" : "--hazards"};
  }
  o.entry_loss.hazards[0] = {c, h, r};
}

void parse_futility(Given& given, BoundsOptions& o);

// The arguments as option -> value (each option once), the switches set in `o`.
Given read_arguments(const std::vector<std::string>& args, BoundsOptions& o) {
  static const std::vector<std::string> known = {
      "--alpha", "--sides", "--spending", "--phi",       "--cumulative", "--times",
      "--power", "--hr",    "--accrual",  "--follow-up", "--survival",   "--allocation",
      "--dropout", "--dropout-probability", "--dropout-time", "--accrual-pieces",
      "--accrual-intensity", "--median", "--control-hazard", "--survival-time",
      "--hazard-times", "--hazards", "--hazard-ratios", "--futility-spending", "--futility-z",
      "--futility-hr"};
  Given given;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i], value;
    bool has_value = false;
    const size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--csv") {
      if (has_value) throw OptionError{"option --csv takes no value (got '" + value + "')"};
      if (o.csv) throw OptionError{"option --csv given twice"};
      o.csv = true;
      continue;
    }
    if (name == "--binding") {
      if (has_value) throw OptionError{"option --binding takes no value (got '" + value + "')"};
      if (o.futility.binding) throw OptionError{"option --binding given twice"};
      o.futility.binding = true;
      continue;
    }
    if (name == "--exact") {
      if (has_value) throw OptionError{"option --exact takes no value (got '" + value + "')"};
      if (o.exact) throw OptionError{"option --exact given twice"};
      o.exact = true;
      continue;
    }
    bool is_known = false;
    for (const auto& k : known) is_known = is_known || k == name;
    if (!is_known) {
      if (name.rfind("-", 0) == 0) {
        throw OptionError{"unknown option '" + name + "'"};
      }
      throw OptionError{"unexpected argument '" + name + "' (options start with --)"};
    }
    if (!has_value) {
      if (i + 1 >= args.size()) throw OptionError{"option " + name + " needs a value"};
      value = args[++i];
    }
    if (given.count(name)) {
      throw OptionError{"option " + name + " given twice ('" + given[name] + "' and '" + value +
                        "')"};
    }
    given[name] = value;
  }
  return given;
}

// Sides, alpha, the spending function and the analyses.
void read_spending(Given& given, BoundsOptions& o) {
  auto has = [&](const char* n) { return given.count(n) > 0; };
  if (has("--sides")) {
    const std::string allowed = "sides must be 1 (one-sided) or 2 (two-sided symmetric)";
    o.sides = int_option("--sides", given["--sides"], allowed);
    if (o.sides != 1 && o.sides != 2) bad("--sides", given["--sides"], allowed);
  }
  if (has("--alpha")) {
    // The limits bind the level of one side.
    const std::string allowed =
        o.sides == 2 ? "two-sided alpha (both sides together) must lie in [2e-06, 1]"
                     : "one-sided alpha must lie in [1e-06, 0.5]";
    o.alpha = real_option("--alpha", given["--alpha"], allowed);
    if (!limits::significance_ok(o.alpha / o.sides)) bad("--alpha", given["--alpha"], allowed);
  }
  if (has("--spending")) {
    const std::string allowed = "the spending code must be an integer from 1 to 6";
    o.spending = int_option("--spending", given["--spending"], allowed);
    if (o.spending < 1 || o.spending > 6) bad("--spending", given["--spending"], allowed);
  }
  if (has("--phi")) {
    const std::string value = given["--phi"];
    if (o.spending != 3 && o.spending != 4) {
      bad("--phi", value,
          "phi applies only to spending codes 3 and 4 (the code is " + std::to_string(o.spending) +
              ")");
    }
    const std::string allowed = limits::spending_parameter_allowed(o.spending);
    o.phi = real_option("--phi", value, allowed);
    if (!limits::spending_parameter_ok(o.spending, *o.phi)) bad("--phi", value, allowed);
  } else if (o.spending == 3 || o.spending == 4) {
    throw OptionError{"spending code " + std::to_string(o.spending) + " needs --phi (" +
                      (o.spending == 3 ? "phi > 0" : "phi != 0") + ")",
                      "--phi"};
  }
  if (has("--times")) {
    const std::string value = given["--times"];
    const std::string allowed =
        "information fractions must be comma-separated, strictly "
        "increasing, greater than 0 and at most 1, 1 to 25 of them";
    o.times = list_option("--times", value, true, allowed);
    bool ok = static_cast<int>(o.times.size()) <= kMaxAnalyses;
    for (size_t i = 0; ok && i < o.times.size(); ++i) {
      ok = o.times[i] > 0 && o.times[i] <= 1 && (i == 0 || o.times[i] > o.times[i - 1]);
    }
    if (!ok) bad("--times", value, allowed);
  }
  const size_t K = o.times.size();
  if (has("--cumulative")) {
    const std::string value = given["--cumulative"];
    if (o.spending != 5) {
      bad("--cumulative", value,
          "cumulative values apply only to spending code 5 (the code is " +
              std::to_string(o.spending) + ")");
    }
    const std::string allowed = "spending code 5 needs " + std::to_string(K) +
                                " cumulative alpha values (one per analysis), positive, strictly "
                                "increasing, the last equal to alpha = " +
                                shortest(o.alpha);
    std::vector<double> c = list_option("--cumulative", value, false, allowed);
    bool ok = c.size() == K;
    for (size_t i = 0; ok && i < K; ++i) ok = c[i] > 0 && (i == 0 || c[i] > c[i - 1]);
    ok = ok && std::fabs(c.back() - o.alpha) <= 1e-12 * std::max(1.0, o.alpha);
    if (!ok) bad("--cumulative", value, allowed);
    o.cumulative = c;
  } else if (o.spending == 5) {
    throw OptionError{"spending code 5 needs --cumulative with " + std::to_string(K) +
                      " cumulative alpha values, the last equal to alpha",
                      "--cumulative"};
  }
}

// Power, hazard ratio, allocation and the study's periods.
void read_design(Given& given, BoundsOptions& o) {
  auto has = [&](const char* n) { return given.count(n) > 0; };
  auto open_unit = [&](const char* name, double& target, const char* what) {
    if (!has(name)) return;
    const std::string allowed = std::string(what) + " must be greater than 0 and less than 1";
    target = real_option(name, given[name], allowed);
    if (!(target > 0 && target < 1)) bad(name, given[name], allowed);
  };
  if (has("--power")) {
    const std::string allowed = "the power must exceed the one-sided alpha " +
                                shortest(o.alpha / o.sides) + " and be below 1";
    o.power = real_option("--power", given["--power"], allowed);
    if (!limits::power_ok(o.power, o.alpha / o.sides)) bad("--power", given["--power"], allowed);
  }
  open_unit("--survival", o.survival, "the control survival");
  open_unit("--allocation", o.allocation, "the allocation proportion");
  if (has("--hr")) {
    const std::string allowed = "the hazard ratio must be positive and different from 1";
    o.hr = real_option("--hr", given["--hr"], allowed);
    if (!(o.hr > 0 && o.hr != 1)) bad("--hr", given["--hr"], allowed);
  }
  auto period = [&](const char* name, double& target) {
    if (!has(name)) return;
    const std::string allowed = "periods must be 0 or more";
    target = real_option(name, given[name], allowed);
    if (!(target >= 0)) bad(name, given[name], allowed);
  };
  period("--accrual", o.accrual);
  period("--follow-up", o.follow_up);
  if (!(o.accrual + o.follow_up > 0)) {
    throw OptionError{"--accrual " + shortest(o.accrual) + " and --follow-up " +
                      shortest(o.follow_up) + ": the study must last some time (sum > 0)",
                      "--follow-up"};
  }
}

// The control arm in another form, converted to the survival at the end of the study.
void read_control_arm(Given& given, BoundsOptions& o) {
  auto has = [&](const char* n) { return given.count(n) > 0; };
  {
    const int forms = has("--median") + has("--control-hazard") + has("--survival");
    if (forms > 1) {
      throw OptionError{"give the control arm once: --survival (with --survival-time), --median "
                        "or --control-hazard",
                        has("--median") ? "--median" : "--control-hazard"};
    }
    if (forms == 1 && has("--hazards")) {
      const char* form = has("--survival") ? "--survival" : has("--median") ? "--median"
                                                                              : "--control-hazard";
      throw OptionError{std::string("give the control arm once: --hazards (the piecewise law) and ") +
                            form + " were both given; choose one",
                        form};
    }
    if (has("--survival-time") && !has("--survival")) {
      throw OptionError{"--survival-time goes with --survival (the survival at that time)",
                        "--survival-time"};
    }
    auto positive = [&](const char* name, const char* what) {
      const std::string allowed = std::string(what) + " must be above 0";
      const double v = real_option(name, given[name], allowed);
      if (!(v > 0 && std::isfinite(v))) bad(name, given[name], allowed);
      return v;
    };
    if (has("--median")) {
      o.control = ControlForm::Median;
      o.control_value = positive("--median", "the control-arm median");
    } else if (has("--control-hazard")) {
      o.control = ControlForm::Hazard;
      o.control_value = positive("--control-hazard", "the control-arm hazard");
    } else if (has("--survival-time")) {
      o.control = ControlForm::SurvivalAt;
      o.control_time = positive("--survival-time", "the time of the control-arm survival");
      o.control_value = o.survival;
    }
    if (o.control != ControlForm::EndOfStudy) {
      o.set_control_arm(o.control, o.control_value, o.control_time);
      if (!(o.survival > 0 && o.survival < 1)) {
        throw OptionError{"the control arm gives the survival " + shortest(o.survival) +
                              " at the end of the study, which must lie strictly between 0 and 1",
                          o.control == ControlForm::Median ? "--median" : "--control-hazard"};
      }
    }
  }
}

// Loss to follow-up and accrual pieces.
void read_entry_loss(Given& given, BoundsOptions& o) {
  auto has = [&](const char* n) { return given.count(n) > 0; };
  // Loss to follow-up: hazards, or probabilities of being lost by a time.
  auto per_arm = [&](const char* name, bool probability) {
    const std::string allowed =
        probability ? "one or two probabilities of loss (control, treatment) in [0, 1)"
                    : "one or two hazards of loss per time unit (control, treatment), 0 or more";
    std::vector<double> v = list_option(name, given[name], false, allowed);
    if (v.size() == 1) v.push_back(v[0]);
    if (v.size() != 2) bad(name, given[name], allowed);
    for (double x : v)
      if (!(x >= 0 && (probability ? x < 1 : std::isfinite(x)))) bad(name, given[name], allowed);
    return std::array<double, 2>{v[0], v[1]};
  };
  if (has("--dropout") && has("--dropout-probability")) {
    throw OptionError{"give the loss to follow-up either as hazards (--dropout) or as "
                      "probabilities (--dropout-probability with --dropout-time), not both",
                      "--dropout-probability"};
  }
  if (has("--dropout")) o.entry_loss.dropout = per_arm("--dropout", false);
  if (has("--dropout-probability") != has("--dropout-time")) {
    throw OptionError{"--dropout-probability and --dropout-time go together",
                      has("--dropout-time") ? "--dropout-probability" : "--dropout-time"};
  }
  if (has("--dropout-time")) {
    const std::string allowed = "the time of the probabilities of loss must be above 0";
    const double t = real_option("--dropout-time", given["--dropout-time"], allowed);
    if (!(t > 0)) bad("--dropout-time", given["--dropout-time"], allowed);
    o.dropout_time = t;
    o.dropout_probability = per_arm("--dropout-probability", true);
    for (int a = 0; a < 2; ++a)
      o.entry_loss.dropout[static_cast<size_t>(a)] = -std::log1p(-o.dropout_probability[static_cast<size_t>(a)]) / t;
  }
  // A loss so strong that nothing is left of the study before its end leaves no events to count.
  for (int a = 0; a < 2; ++a) {
    const double h = o.entry_loss.dropout[static_cast<size_t>(a)];
    const double end = o.accrual + o.follow_up;
    if (h * end <= 700.0) continue;
    const char* name = o.dropout_time ? "--dropout-time" : "--dropout";
    bad(name, given[name],
        "the hazard of loss (" + shortest(h) + " per time unit) loses every subject long before "
        "the end of the study at accrual + follow-up = " + shortest(end) +
        "; the hazard times that must be at most 700");
  }
  if (has("--accrual-pieces") != has("--accrual-intensity")) {
    throw OptionError{"--accrual-pieces and --accrual-intensity go together",
                      has("--accrual-pieces") ? "--accrual-intensity" : "--accrual-pieces"};
  }
  if (has("--accrual-pieces")) {
    const std::string allowed_ends =
        "1 to 10 piece ends, increasing, above 0, the last equal to --accrual (" +
        shortest(o.accrual) + ")";
    const std::vector<double> ends =
        list_option("--accrual-pieces", given["--accrual-pieces"], false, allowed_ends);
    bool ok = !ends.empty() && ends.size() <= 10 && ends[0] > 0 &&
              std::fabs(ends.back() - o.accrual) <= 1e-9 * std::max(1.0, o.accrual);
    for (size_t p = 1; p < ends.size(); ++p) ok = ok && ends[p] > ends[p - 1];
    if (!ok) bad("--accrual-pieces", given["--accrual-pieces"], allowed_ends);
    const std::string allowed_rates = "one relative intensity from 1e-100 to 1e100 per accrual piece (" +
                                      std::to_string(ends.size()) + ")";
    const std::vector<double> rates =
        list_option("--accrual-intensity", given["--accrual-intensity"], false, allowed_rates);
    ok = rates.size() == ends.size();
    for (double r : rates) ok = ok && r >= 1e-100 && r <= 1e100;
    if (!ok) bad("--accrual-intensity", given["--accrual-intensity"], allowed_rates);
    o.entry_loss.accrual_end = ends;
    o.entry_loss.accrual_intensity = rates;
  }
}

BoundsOptions parse(const std::vector<std::string>& args) {
  BoundsOptions o;
  Given given = read_arguments(args, o);
  if (o.help) return o;
  read_spending(given, o);
  read_design(given, o);
  read_control_arm(given, o);
  read_entry_loss(given, o);
  parse_hazards(o, given);
  parse_futility(given, o);
  return o;
}

// The futility options: one way of three, values per interim analysis, --binding only with one.
void parse_futility(Given& given, BoundsOptions& o) {
  const size_t K = o.times.size();
  const char* ways[] = {"--futility-spending", "--futility-z", "--futility-hr"};
  std::vector<std::string> named;
  for (const char* w : ways)
    if (given.count(w)) named.push_back(w);
  if (named.empty()) {
    if (o.futility.binding) {
      throw OptionError{"--binding needs futility stops (--futility-spending, --futility-z or "
                        "--futility-hr)", "--binding"};
    }
    return;
  }
  if (named.size() > 1) {
    throw OptionError{"give the futility stops one way: " + named[0] + " or " + named[1] +
                      ", not both", named[1]};
  }
  const std::string& name = named[0];
  const std::string value = given[name];
  if (K < 2) {
    bad(name, value, "futility stops need at least one interim analysis (--times with 2 or "
                     "more analyses)");
  }
  if (o.sides == 2) bad(name, value, "futility stops apply to one-sided designs (--sides 1)");
  const std::string interims = std::to_string(K - 1);
  if (name == "--futility-spending") {
    // 1 - power to ten digits (the check's tolerance is 1e-9): 0.1, not 0.09999999999999998.
    char beta[32];
    std::snprintf(beta, sizeof beta, "%.10g", 1.0 - o.power);
    const std::string beta_text = beta;
    const std::string allowed =
        "a beta-spending code 1 to 6, with its phi for codes 3 (phi > 0) and 4 (phi != 0) "
        "as 3,X; code 5 with " + std::to_string(K) + " cumulative beta values, positive, "
        "increasing, the last equal to 1 - power = " + beta_text;
    const std::vector<double> v = list_option(name, value, false, allowed);
    const double code = v[0];
    if (!(code >= 1 && code <= 6 && code == std::floor(code))) bad(name, value, allowed);
    o.futility.kind = FutilityRule::Kind::spending;
    o.futility.code = static_cast<int>(code);
    if (o.futility.code == 3 || o.futility.code == 4) {
      if (v.size() != 2 || !limits::spending_parameter_ok(o.futility.code, v[1])) {
        bad(name, value, allowed);
      }
      o.futility.phi = v[1];
    } else if (o.futility.code == 5) {
      std::vector<double> c(v.begin() + 1, v.end());
      bool ok = c.size() == K;
      for (size_t i = 0; ok && i < K; ++i) ok = c[i] > 0 && (i == 0 || c[i] > c[i - 1]);
      ok = ok && std::fabs(c.back() - (1.0 - o.power)) <= 1e-9;
      if (!ok) bad(name, value, allowed);
      o.futility.cumulative = c;
    } else if (v.size() != 1) {
      bad(name, value, allowed);
    }
    return;
  }
  const bool hr = name == "--futility-hr";
  const std::string allowed =
      interims + " value" + (K > 2 ? "s" : "") + ", one per interim analysis (none for the final)" +
      (hr ? ", hazard ratios above 0" : ", z values");
  const std::vector<double> v = list_option(name, value, false, allowed);
  if (v.size() != K - 1) bad(name, value, allowed);
  for (double x : v)
    if (hr ? !(x > 0) : !(x >= -8 && x < 8)) bad(name, value, allowed);
  o.futility.kind = hr ? FutilityRule::Kind::hazard_ratio : FutilityRule::Kind::fixed_z;
  o.futility.values = v;
}

}  // namespace

BoundsOptions parse_bounds_options(const std::vector<std::string>& args) { return parse(args); }

boundaries::BoundsRequest parse_bounds_request(const std::vector<std::string>& options) {
  try {
    BoundsOptions o = parse_bounds_options(options);
    if (o.help || o.csv) throw OptionError{"options --help and --csv belong to the command line"};
    return o;
  } catch (const OptionError& e) {
    throw RunError(e.message, 0, e.option);
  }
}

}  // namespace kestrel::cli
