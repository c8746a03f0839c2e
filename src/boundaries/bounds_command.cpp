// `kestrel bounds`: a single-endpoint group sequential design from the command line, printed as a
// table per analysis (or CSV) so that a statistician can check bounds, spending and power.
#include "boundaries/bounds_command.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>

#include "boundaries/bounds_futility.h"
#include "boundaries/futility.h"
#include "boundaries/gsdesign.h"
#include "common/loss_warnings.h"
#include "boundaries/piecewise_design.h"
#include "common/errors.h"
#include "survival/entry_loss.h"
#include "common/format.h"
#include "common/limits.h"

namespace kestrel::boundaries {
namespace {

constexpr int kMaxAnalyses = 25;

constexpr const char* kHelp =
    "usage: kestrel bounds [OPTIONS]\n"
    "\n"
    "Group sequential bounds of one time-to-event endpoint by Lan-DeMets alpha spending, the\n"
    "drift that gives the power, and the numbers of events and subjects of a two-arm trial\n"
    "with exponential survival and uniform accrual.\n"
    "\n"
    "  --alpha A        overall type I error (default 0.025): one-sided from 1e-6 to 0.5,\n"
    "                   two-sided (both sides together) from 2e-6 to 1\n"
    "  --sides S        1 one-sided, 2 two-sided symmetric bounds (default 1)\n"
    "  --spending C     spending function (default 1):\n"
    "                     1 O'Brien-Fleming type, 2 Pocock type, 3 power family alpha*t^phi,\n"
    "                     4 Hwang-Shih-DeCani family, 5 cumulative values given by --cumulative,\n"
    "                     6 alternative O'Brien-Fleming type\n"
    "  --phi X          parameter of codes 3 (X > 0) and 4 (X != 0); required with them\n"
    "  --cumulative L   code 5: cumulative alpha at each analysis, comma-separated, positive,\n"
    "                   strictly increasing, the last equal to alpha (both sides together)\n"
    "  --times L        information fractions of the analyses, comma-separated, strictly\n"
    "                   increasing in (0, 1]; a value may be written as a fraction such as 1/3\n"
    "                   (default 1: a single analysis; at most 25 analyses); a last time below 1\n"
    "                   (a trial that stopped early) spends only part of alpha, and the table\n"
    "                   says how much\n"
    "  --power P        power, above the one-sided alpha and below 1 (default 0.9)\n"
    "  --hr R           hazard ratio, treatment over control, R > 0 and R != 1 (default 0.7)\n"
    "  --accrual TA     accrual period (default 1)\n"
    "  --follow-up TF   additional follow-up after accrual (default 1); TA + TF > 0\n"
    "  --survival S     control-arm survival at the end of the study, 0 < S < 1 (default 0.5),\n"
    "                   or at the time --survival-time T (T > 0)\n"
    "  --median M       control-arm median survival instead, M > 0\n"
    "  --control-hazard H  control-arm hazard per time unit instead, H > 0; each form is\n"
    "                   converted to the survival at the end of the study (exponential)\n"
    "  --allocation P   proportion of subjects on treatment, 0 < P < 1 (default 0.5)\n"
    "  --exact          exact bounds: the recursion on Gauss-Legendre nodes, bounds and the\n"
    "                   alpha they spend to 1e-9 (default: the grid recursion, 1e-4 on a bound)\n"
    "  --dropout L      hazard of loss to follow-up per time unit, control[,treatment], 0 or\n"
    "                   more (one value: both arms; default none)\n"
    "  --dropout-probability L  probability of being lost by the time --dropout-time,\n"
    "                   control[,treatment], in [0, 1); hazard = -log(1 - p)/time\n"
    "  --dropout-time T the time of --dropout-probability, T > 0\n"
    "  --accrual-pieces L  ends of the accrual pieces, comma-separated, increasing, the last\n"
    "                   equal to --accrual (at most 10; default one piece: uniform entry)\n"
    "  --accrual-intensity L  relative intensity of each piece, above 0 (with --accrual-pieces)\n"
    "  --hazards L      piecewise control hazards per time unit, 1 to 10 pieces, above 0 (the\n"
    "                   law then replaces --survival)\n"
    "  --hazard-times L change points c1,..,c(m-1) of the m pieces, increasing, above 0\n"
    "  --hazard-ratios L ratio (treatment over control) of each piece, above 0 (default --hr\n"
    "                   in every piece); the table then adds the design's hazard ratio and\n"
    "                   the calendar times of the analyses\n"
    "  --futility-spending C[,X]  futility stops by beta spending of code C (1 to 6 as\n"
    "                   --spending, spending 1 - power), X the phi of codes 3 and 4; code 5\n"
    "                   takes the cumulative beta per analysis, the last 1 - power:\n"
    "                   5,b1,...,bK\n"
    "  --futility-z L   futility stops below the z of each interim analysis (K - 1 values)\n"
    "  --futility-hr L  futility stops when the estimated hazard ratio is above the value of\n"
    "                   each interim analysis (K - 1 values, above 0)\n"
    "  --binding        binding futility: the efficacy bounds designed with the futility\n"
    "                   stops in force (default non-binding)\n"
    "  --csv            print the table as CSV\n"
    "\n"
    "Events: the number D whose drift gives the power, rounded up to a whole number and then\n"
    "up to a multiple of the number of analyses K. Subjects: D over the probability of an event\n"
    "by the end of the study, rounded up. Per analysis, the events expected there are D times\n"
    "its information fraction, and its calendar time is when the subjects' expected events\n"
    "reach that number (entry, loss to follow-up and accrual pieces as given).\n"
    "  --help           show this text\n"
    "\n"
    "Exit status: 0 success, 1 the calculation did not converge or could not be completed,\n"
    "2 bad options.\n";

// A bad option: the message names the option, the value and what is allowed.
struct OptionError {
  std::string message;
  std::string option = {};  // the option at fault, when one is
};

[[noreturn]] void bad(const std::string& option, const std::string& value,
                      const std::string& allowed) {
  throw OptionError{"invalid value '" + value + "' for " + option + ": " + allowed, option};
}

std::string shortest(double v) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, p) : std::string("?");
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

const char* spending_name(int code) {
  switch (code) {
    case 1:
      return "O'Brien-Fleming type";
    case 2:
      return "Pocock type";
    case 3:
      return "power family";
    case 4:
      return "Hwang-Shih-DeCani family";
    case 5:
      return "user cumulative values";
    case 6:
      return "alternative O'Brien-Fleming type";
    default:
      return "?";
  }
}

struct Options : BoundsRequest {
  bool csv = false;
  bool help = false;
};

// --hazard-times c1,..,c(m-1) --hazards h1,..,hm [--hazard-ratios r1,..,rm]: the endpoint's
// piecewise law (ratios default to --hr in every piece). Every problem of the three options is
// named in one message.
void parse_hazards(Options& o, std::map<std::string, std::string>& given) {
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

void parse_futility(std::map<std::string, std::string>& given, Options& o);

Options parse(const std::vector<std::string>& args) {
  static const std::vector<std::string> known = {
      "--alpha", "--sides", "--spending", "--phi",       "--cumulative", "--times",
      "--power", "--hr",    "--accrual",  "--follow-up", "--survival",   "--allocation",
      "--dropout", "--dropout-probability", "--dropout-time", "--accrual-pieces",
      "--accrual-intensity", "--median", "--control-hazard", "--survival-time",
      "--hazard-times", "--hazards", "--hazard-ratios", "--futility-spending", "--futility-z",
      "--futility-hr"};
  std::map<std::string, std::string> given;
  Options o;
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
  if (o.help) return o;

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
  // The control arm in another form, converted to the survival at the end of the study.
  {
    const int forms = has("--median") + has("--control-hazard") + has("--survival");
    if (forms > 1) {
      throw OptionError{"give the control arm once: --survival (with --survival-time), --median "
                        "or --control-hazard",
                        has("--median") ? "--median" : "--control-hazard"};
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
      o.survival = end_of_study_survival(
          control_hazard(o.control, o.control_value, o.control_time), o.accrual + o.follow_up);
      if (!(o.survival > 0 && o.survival < 1)) {
        throw OptionError{"the control arm gives the survival " + shortest(o.survival) +
                              " at the end of the study, which must lie strictly between 0 and 1",
                          o.control == ControlForm::Median ? "--median" : "--control-hazard"};
      }
    }
  }
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
  parse_hazards(o, given);
  parse_futility(given, o);
  return o;
}

// The futility options: one way of three, values per interim analysis, --binding only with one.
void parse_futility(std::map<std::string, std::string>& given, Options& o) {
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

std::string title(const Options& o) {
  std::string s = "Group sequential design: alpha " + shortest(o.alpha) +
                  (o.sides == 2 ? " two-sided" : " one-sided") + ", spending " +
                  std::to_string(o.spending) + " (" + spending_name(o.spending);
  if (o.phi) s += ", phi " + shortest(*o.phi);
  s += "), K " + std::to_string(o.times.size()) + ", power " + shortest(o.power) + ", hr " +
       shortest(o.hr) + ", accrual " + shortest(o.accrual) + ", follow-up " +
       shortest(o.follow_up) + ", survival " + shortest(o.survival);
  // The control arm in the form given, after the survival it was converted to.
  if (o.control == ControlForm::Median) s += " (median " + shortest(o.control_value) + ")";
  if (o.control == ControlForm::Hazard) s += " (hazard " + shortest(o.control_value) + ")";
  if (o.control == ControlForm::SurvivalAt)
    s += " (" + shortest(o.control_value) + " at " + shortest(o.control_time) + ")";
  s += ", allocation " + shortest(o.allocation);
  if (o.exact) s += ", exact bounds";
  const EntryAndLoss& el = o.entry_loss;
  if (o.dropout_time) {
    s += ", lost by " + shortest(*o.dropout_time) + " " + shortest(o.dropout_probability[0]) +
         "/" + shortest(o.dropout_probability[1]);
  }
  if (el.has_dropout()) s += ", dropout " + shortest(el.dropout[0]) + "/" + shortest(el.dropout[1]);
  if (el.has_ramp()) {
    s += ", accrual pieces";
    for (size_t p = 0; p < el.accrual_end.size(); ++p)
      s += (p ? "," : " ") + shortest(el.accrual_end[p]) + ":" + shortest(el.accrual_intensity[p]);
  }
  const EndpointHazards& h = el.hazards[0];
  for (size_t p = 0; p < h.control.size(); ++p) {
    s += (p ? "," : ", hazards from:hazard:ratio ") + shortest(p ? h.change[p - 1] : 0.0) + ":" +
         shortest(h.control[p]) + ":" + shortest(h.ratio[p]);
  }
  if (o.futility.any()) s += ", futility " + describe_futility(o.futility);
  return s;
}

void print_table(const Options& o, const GsDesignResult& r, std::ostream& out) {
  const int K = static_cast<int>(o.times.size());
  const double side = o.sides == 2 ? 2.0 : 1.0;
  out << title(o) << "\n";
  if (o.cumulative) {
    out << "Cumulative alpha:";
    for (double c : *o.cumulative) out << ' ' << shortest(c);
    out << "\n";
  }
  if (o.times.back() < 1) {
    // A trial that stopped before full information spends only part of alpha.
    out << "Last analysis at information fraction " << shortest(o.times.back())
        << " < 1: it spends " << shortest(r.pe[static_cast<size_t>(K - 1)]) << " of alpha "
        << shortest(o.alpha) << "\n";
  }
  out << "\n";
  struct Column {
    const char* top;
    const char* bottom;
    int width;
  };
  const Column cols[] = {{"k", "", 3},
                         {"time", "", 8},
                         {"lower", "z", 9},
                         {"upper", "z", 9},
                         {"nominal", "lower", 11},
                         {"nominal", "upper", 11},
                         {"alpha", "spent", 11},
                         {"alpha", "cumulative", 11},
                         {"crossing", "prob.", 11},
                         {"crossing", "cumulative", 11}};
  fmt::Record top, bottom;
  for (const Column& c : cols) {
    top.a(c.top, c.width);
    bottom.a(c.bottom, c.width);
  }
  out << top.str() << "\n" << bottom.str() << "\n";
  double crossed = 0;
  for (int i = 0; i < K; ++i) {
    crossed += r.qpos[i];
    out << fmt::Record()
               .i(i + 1, 3)
               .f(o.times[i], 8, 4)
               .f(r.za[i], 9, 4)
               .f(r.zb[i], 9, 4)
               .f(r.nominal_lower[i] / side, 11, 7)
               .f(r.nominal_upper[i] / side, 11, 7)
               .f(r.pd[i], 11, 7)
               .f(r.pe[i], 11, 7)
               .f(r.qpos[i], 11, 6)
               .f(crossed, 11, 6)
               .str()
        << "\n";
  }
  out << "\n";
  out << fmt::Record().lit("Drift             ").f(r.drift, 12, 6).str() << "\n";
  out << fmt::Record().lit("Events            ").i(r.events, 12).str() << "\n";
  out << fmt::Record().lit("Subjects          ").i(r.subjects, 12).str() << "\n";
  out << fmt::Record().lit("Expected events   ").f(r.expected_events, 12, 2).str() << "\n";
  out << fmt::Record().lit("Event probability ").f(r.pev, 12, 6).str() << "\n";
}

// The analyses' expected events and calendar times, after the table.
void print_analysis_times(const BoundsTable& t, std::ostream& out) {
  out << "\n" << fmt::Record().a("k", 3).a("events", 12).a("calendar time", 15).str() << "\n";
  for (size_t i = 0; i < t.analysis_events.size(); ++i) {
    out << fmt::Record().i(static_cast<int>(i) + 1, 3).f(t.analysis_events[i], 12, 1)
               .f(t.analysis_time[i], 15, 4).str()
        << "\n";
  }
}

// With piecewise hazards: the ratio behind the events and the calendar times of the analyses.
void print_piecewise(const BoundsTable& t, std::ostream& out) {
  if (t.analysis_times.empty()) return;
  out << fmt::Record().lit("Design hazard ratio").f(t.design_hr, 11, 6).str() << "\n";
  fmt::Record r;
  r.lit("Analysis times    ");
  for (double x : t.analysis_times) r.f(x, 12, 6);
  out << r.str() << "\n";
}

void print_table(const Options& o, const BoundsTable& table, std::ostream& out) {
  print_table(o, table.result, out);
  if (o.futility.any()) print_futility_table(table, out);
}

}  // namespace

BoundsRequest parse_bounds_request(const std::vector<std::string>& options) {
  try {
    Options o = parse(options);
    if (o.help || o.csv) throw OptionError{"options --help and --csv belong to the command line"};
    return o;
  } catch (const OptionError& e) {
    throw RunError(e.message, 0, e.option);
  }
}

BoundsTable calculate_bounds(const BoundsRequest& request) {
  GsDesignInput in;
  in.K = static_cast<int>(request.times.size());
  in.alpha = request.alpha;
  in.sides = request.sides;
  in.spending.deck_code = request.spending;
  if (request.phi) {
    in.spending.has_phi = true;
    in.spending.phi = *request.phi;
  }
  if (request.cumulative) in.spending.cumulative = *request.cumulative;
  in.power = request.power;
  in.hr = request.hr;
  in.t = request.times;
  in.ta = request.accrual;
  in.tf = request.follow_up;
  in.control_survival = request.survival;
  in.allocation = request.allocation;
  in.exact = request.exact;
  const bool pieces = request.entry_loss.has_hazards();
  const PiecewiseEndpoint endpoint{request.entry_loss, request.hr, request.survival,
                                   request.allocation, request.accrual, request.follow_up};
  if (pieces) in.hr = design_hazard_ratio(endpoint);
  in.futility = request.futility;
  if (!request.entry_loss.plain()) {
    const survival::EntryLoss el(request.entry_loss, request.accrual);
    const double T = request.accrual + request.follow_up;
    in.event_probability_given = survival::pooled_event_probability(
        el, request.entry_loss, 0, request.hr, request.survival, request.allocation,
        request.accrual, request.follow_up, T);
  }

  BoundsTable table;
  table.request = request;
  std::ostringstream messages;
  BoundaryWork work;
  table.result = design_with_code(in, request.spending, request.phi.value_or(0.0), work, messages);
  if (pieces) {
    table.design_hr = in.hr;
    table.analysis_times = analysis_times(endpoint, table.result.subjects, table.result.events,
                                          request.times);
    for (double t : request.times) table.analysis_events.push_back(table.result.events * t);
    table.analysis_time = table.analysis_times;
  } else {
    // Per analysis: D t_k events, reached at the calendar time where N L(tau) P(tau) = D t_k (the
    // probability of an observed event among those enrolled by tau, rising in tau), by bisection.
    const survival::EntryLoss el(request.entry_loss, request.accrual);
    const double end = request.accrual + request.follow_up;
    const double N = table.result.subjects;
    auto events_by = [&](double tau) {
      if (!(tau > 0.0)) return 0.0;
      return N * el.enrolled(tau) *
             survival::pooled_event_probability(el, request.hr, request.survival,
                                                request.allocation, request.accrual,
                                                request.follow_up, tau);
    };
    for (size_t k = 0; k < request.times.size(); ++k) {
      const double target = table.result.events * request.times[k];
      double lo = 0.0, hi = end;
      if (events_by(hi) <= target) {
        lo = hi;  // the whole study (the rounding up of N leaves it at or above D)
      } else {
        for (int it = 0; it < 200 && hi - lo > 1e-12 * end; ++it) {
          const double mid = 0.5 * (lo + hi);
          (events_by(mid) < target ? lo : hi) = mid;
        }
      }
      table.analysis_events.push_back(target);
      table.analysis_time.push_back(0.5 * (lo + hi));
    }
  }
  // Warnings of the recursion and of the drift search.
  std::istringstream lines(messages.str());
  for (std::string line; std::getline(lines, line);) {
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos) table.warnings.push_back(line.substr(first));
  }
  return table;
}

void write_bounds_csv(const BoundsTable& table, std::ostream& out) {
  const BoundsRequest& o = table.request;
  const GsDesignResult& r = table.result;
  const int K = static_cast<int>(o.times.size());
  const double side = o.sides == 2 ? 2.0 : 1.0;
  out << "k,time,lower,upper,nominal_lower,nominal_upper,alpha_spent,alpha_cumulative,"
         "crossing_probability,drift,events,subjects,expected_events,analysis_events,"
         "calendar_time";
  if (o.futility.any()) out << kFutilityCsvHeader;
  out << "\n";
  for (int i = 0; i < K; ++i) {
    out << i + 1 << ',' << shortest(o.times[i]) << ',' << shortest(r.za[i]) << ','
        << shortest(r.zb[i]) << ',' << shortest(r.nominal_lower[i] / side) << ','
        << shortest(r.nominal_upper[i] / side) << ',' << shortest(r.pd[i]) << ','
        << shortest(r.pe[i]) << ',' << shortest(r.qpos[i]) << ',' << shortest(r.drift) << ','
        << r.events << ',' << r.subjects << ',' << shortest(r.expected_events) << ','
        << shortest(table.analysis_events[static_cast<size_t>(i)]) << ','
        << shortest(table.analysis_time[static_cast<size_t>(i)]);
    if (o.futility.any()) write_futility_csv_columns(table, i, out);
    out << "\n";
  }
}

int run_bounds_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = parse(args);
  } catch (const OptionError& e) {
    err << "kestrel bounds: " << e.message << "\nTry 'kestrel bounds --help'.\n";
    return 2;
  }
  if (o.help) {
    out << kHelp;
    return 0;
  }

  BoundsTable table;
  try {
    table = calculate_bounds(o);
  } catch (const RunError& e) {
    std::string m = e.what();
    while (!m.empty() && m.front() == ' ') m.erase(m.begin());
    err << "kestrel bounds: " << m << "\n";
    return 1;
  }
  const GsDesignResult& r = table.result;
  if (o.csv) {
    write_bounds_csv(table, out);
  } else {
    print_table(o, table, out);
    print_analysis_times(table, out);
    print_piecewise(table, out);
  }
  for (const std::string& w : table.warnings) err << "kestrel bounds: warning: " << w << "\n";
  {
    EntryAndLossStatements how;
    how.dropout_as_probability = o.dropout_time.has_value();
    how.dropout_time = o.dropout_time.value_or(0.0);
    for (const std::string& w : loss_warnings(o.entry_loss, how, o.accrual, o.follow_up))
      err << "kestrel bounds: warning: " << w << "\n";
  }
  if (!r.drift_converged) {
    err << "kestrel bounds: the drift search did not reach the power; the figures above are not"
           " reliable\n";
    return 1;
  }
  return 0;
}

}  // namespace kestrel::boundaries
