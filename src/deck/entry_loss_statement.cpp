// DROPOUT HAZARD hc [ht] | DROPOUT PROBABILITY t pc [pt] and ACCRUAL n e(1..n) r(1..n), each at
// most once, after the design record and its spending statements.
#include <algorithm>
#include <cmath>

#include "common/limits.h"
#include "deck/statement_reader.h"

namespace kestrel::deck {
namespace {

// The values of a DROPOUT statement after its form: the time of the probabilities (PROBABILITY)
// and the two arms' values. False when the deck ends inside them; `ok` is false when a value is
// refused.
bool dropout_values(StatementReader& r, Statement& st, int number, int line, bool prob,
                    double& t, std::array<double, 2>& v, int& at, bool& ok) {
  bool ended = false;
  if (prob) {
    ok = r.value(st, number, "DROPOUT time", t, false, ended, at);
    if (ended) return false;
    if (ok && !(t > 0.0 && std::isfinite(t))) {
      r.problem(number, at, "DROPOUT time", show_real(t),
                "the time by which the probabilities of loss are stated must be above 0");
      ok = false;
    }
  }
  DeckScanner& sc = r.scanner();
  for (int arm = 0; arm < 2; ++arm) {
    const std::string field = std::string("DROPOUT ") + (prob ? "probability" : "hazard") +
                              (arm == 0 ? " of the control arm" : " of the treatment arm");
    double x = arm == 1 ? v[0] : std::nan("");
    if (arm == 1) {
      // One value on the statement's line: both arms. The treatment arm's value is never
      // taken from a later line (that would be the next design's NSIM).
      const DeckScanner::Position here = sc.position();
      const DeckScanner::Token ahead = sc.next();
      sc.seek(here);
      if (ahead.kind == DeckScanner::Kind::End || ahead.line > at) {
        v[1] = v[0];
        if (at > line && ahead.kind != DeckScanner::Kind::End) {
          r.note_next_record(ahead.line,
                             "; the DROPOUT statement on line " + std::to_string(line) +
                                 " runs over several lines and takes the treatment arm's value "
                                 "only from the line of the control arm's (one value: both "
                                 "arms), so this line was read as the start of design " +
                                 std::to_string(number + 1));
        }
        continue;
      }
    }
    if (!r.value(st, number, field, x, arm == 1, ended, at)) {
      if (ended) return false;
      ok = false;
      continue;
    }
    if (arm == 1 && std::isnan(x)) continue;  // left as the control arm's (already refused)
    const bool fine = prob ? (x >= 0.0 && x < 1.0) : (x >= 0.0 && std::isfinite(x));
    if (!fine) {
      r.problem(number, at, field, show_real(x),
                prob ? "a probability of loss must lie in [0, 1)"
                     : "a hazard of loss must be 0 or more (per time unit of TA and TF)");
      ok = false;
    }
    v[static_cast<size_t>(arm)] = x;
  }
  return true;
}

// Gives the design the loss of a DROPOUT statement whose values were all accepted.
void keep_dropout(StatementReader& r, Design& g, int line, bool prob, double t,
                  const std::array<double, 2>& v) {
  EntryAndLoss& el = g.entry_loss;
  EntryAndLossStatements& how = g.entry_loss_statements;
  how.dropout_given = true;
  how.dropout_line = line;
  how.dropout_as_probability = prob;
  how.dropout_time = prob ? t : 0.0;
  how.dropout_value = v;
  for (int arm = 0; arm < 2; ++arm) {
    el.dropout[static_cast<size_t>(arm)] =
        prob ? -std::log1p(-v[static_cast<size_t>(arm)]) / t : v[static_cast<size_t>(arm)];
  }
  // A loss so strong that no subject is left in the study before its end leaves no
  // information to compute (the fractions would be 0/0): refused here, naming the loss.
  const double end = g.read.TA + g.read.TF;
  for (int arm = 0; arm < 2 && std::isfinite(end) && end > 0.0; ++arm) {
    const double h = el.dropout[static_cast<size_t>(arm)];
    if (h * end <= 700.0) continue;
    const std::string arm_name = arm == 0 ? "control" : "treatment";
    r.problem(g.number, line, prob ? "DROPOUT time" : "DROPOUT hazard of the " + arm_name + " arm",
              show_real(prob ? t : h),
              "the hazard of loss of the " + arm_name + " arm (" + show_real(h) +
                  " per time unit) loses every subject long before the end of the study "
                  "at TA + TF = " + show_real(end) +
                  " (exp(-hazard (TA + TF)) is below 1e-300), leaving no information to "
                  "compute; the hazard times TA + TF must be at most 700");
    el.dropout = {0.0, 0.0};
    break;
  }
}

// The ends of the accrual pieces (above 0, increasing, the last at TA) or their relative
// intensities. False when the deck ends inside them; `ok` is false when a value is refused.
bool accrual_values(StatementReader& r, Statement& st, const Design& g, bool ends,
                    std::vector<double>& out, int& at, bool& ok) {
  const int number = g.number;
  const size_t n = out.size();
  bool ended = false;
  double prev = 0.0;
  bool prev_ok = true;
  for (size_t p = 0; p < n; ++p) {
    const std::string field =
        std::string(ends ? "ACCRUAL end(" : "ACCRUAL intensity(") + std::to_string(p + 1) + ")";
    double x = 0;
    if (!r.value(st, number, field, x, false, ended, at)) {
      if (ended) return false;
      ok = prev_ok = false;
      continue;
    }
    out[p] = x;
    if (!ends) {
      if (!(x > 0.0 && std::isfinite(x))) {
        r.problem(number, at, field, show_real(x),
                  "the relative intensity of an accrual piece must be above 0");
        ok = false;
      } else if (!(x >= 1e-100 && x <= 1e100)) {
        // Only the ratios of the intensities matter; sums of values near the largest double
        // overflow and leave the enrolled fractions not a number.
        r.problem(number, at, field, show_real(x),
                  "the relative intensity of an accrual piece must lie between 1e-100 and "
                  "1e100 (only the ratios of the intensities matter)");
        ok = false;
      }
      continue;
    }
    if (!(std::isfinite(x) && x > (prev_ok ? prev : -HUGE_VAL) && x > 0.0)) {
      r.problem(number, at, field, show_real(x),
                p == 0 ? "the end of the first accrual piece must be above 0"
                       : "the ends of the accrual pieces must increase");
      ok = false;
    }
    const double TA = g.read.TA;
    if (p == n - 1 && std::isfinite(x) && TA > 0.0 &&
        std::fabs(x - TA) > 1e-9 * std::max(1.0, TA)) {
      r.problem(number, at, field, show_real(x),
                "the last accrual piece must end at the accrual time TA = " + show_real(TA));
      ok = false;
    }
    prev = x;
    prev_ok = std::isfinite(x);
  }
  return true;
}

}  // namespace

bool read_dropout(StatementReader& r, Statement& st, Design& g, int line) {
  const int number = g.number;
  EntryAndLossStatements& how = g.entry_loss_statements;
  if (how.dropout_given) {
    r.problem(number, line, "DROPOUT", "",
              "a design takes one DROPOUT statement; the first is on line " +
                  std::to_string(how.dropout_line));
  }
  const bool again = how.dropout_given;
  DeckScanner::Token mode;
  const Item item = st.take(mode);
  const std::string m = upper(mode.text);
  const char* const kModes =
      "DROPOUT is followed by HAZARD and the hazards of loss per time unit of the control "
      "and the treatment arm, or by PROBABILITY, a time t and the probabilities of being "
      "lost by t of the control and the treatment arm (one value: both arms)";
  if (item == Item::End) {
    r.problem(number, r.scanner().line(), "DROPOUT", "",
              std::string("the deck ends inside this statement; ") + kModes);
    return false;
  }
  if (item != Item::Read || mode.quoted || (m != "HAZARD" && m != "PROBABILITY")) {
    r.problem(number, mode.line ? mode.line : line, "DROPOUT", echoed(mode.text), kModes);
    return true;
  }
  const bool prob = m == "PROBABILITY";
  double t = 1.0;
  bool ok = true;
  int at = line;
  std::array<double, 2> v{std::nan(""), std::nan("")};
  if (!dropout_values(r, st, number, line, prob, t, v, at, ok)) return false;
  if (ok && !again) {
    keep_dropout(r, g, line, prob, t, v);
  } else if (!again) {
    how.dropout_given = true;
    how.dropout_line = line;
  }
  return true;
}

bool read_accrual(StatementReader& r, Statement& st, Design& g, int line) {
  const int number = g.number;
  EntryAndLossStatements& how = g.entry_loss_statements;
  if (how.accrual_given) {
    r.problem(number, line, "ACCRUAL", "",
              "a design takes one ACCRUAL statement; the first is on line " +
                  std::to_string(how.accrual_line));
  }
  const bool again = how.accrual_given;
  how.accrual_given = true;
  if (!again) how.accrual_line = line;
  bool ended = false;
  int at = line;
  double count = 0;
  if (!r.value(st, number, "ACCRUAL number of pieces", count, false, ended, at)) return !ended;
  if (!(count >= 1 && count <= NMAXA && count == std::floor(count))) {
    r.problem(number, at, "ACCRUAL number of pieces", show_real(count),
              "the accrual period TA is split into 1 to 10 pieces");
    return true;
  }
  const size_t n = static_cast<size_t>(count);
  std::vector<double> ends(n), rates(n);
  bool ok = true;
  if (!accrual_values(r, st, g, true, ends, at, ok)) return false;
  if (!accrual_values(r, st, g, false, rates, at, ok)) return false;
  if (ok && !again) {
    g.entry_loss.accrual_end = ends;
    g.entry_loss.accrual_intensity = rates;
  }
  return true;
}

}  // namespace kestrel::deck
