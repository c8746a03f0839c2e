// Range and order checks of every design of a deck, made before any calculation.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "common/limits.h"
#include "deck/deck.h"

namespace kestrel::deck {
namespace {

std::string show(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

class Checker {
 public:
  Checker(const DeckRecord& rec, std::vector<DeckProblem>& out) : rec_(rec), out_(out) {}

  void run() {
    // ITIME, LOOK and the spending codes decide the layout of the design; the reader checks them.
    const DeckValues& d = rec_.design.read;
    if (usable(NSIM) && d.NSIM > limits::kMaxSimulations)
      bad(NSIM, "at most " + std::to_string(limits::kMaxSimulations) +
                    " simulated trials (0 or less: no simulation)");
    if (usable(NSIM) && usable(MSSG) && d.NSIM > 0 && d.MSSG > limits::kMaxSimulatedSubjects)
      bad(MSSG, "with simulation (NSIM > 0) at most " +
                    std::to_string(limits::kMaxSimulatedSubjects) +
                    " subjects a trial (every simulated subject is held in memory, about " +
                    show(limits::kSimulatedBytesPerSubject * d.MSSG / 1e9) +
                    " GB for this size)");
    in_range(CPL, d.CPL, 1, 3, "must be 1 (Clayton), 2 (positive stable) or 3 (Frank)");
    in_range(CPRSK, d.CPRSK, 1, 3,
             "must be 1 (both non-fatal), 2 (one fatal) or 3 (both fatal)");
    in_range(CMPST, d.CMPST, 1, 2, "must be 1 or 2");
    design_ratio(HR1, d.HR1);
    design_ratio(HR2, d.HR2);
    ratio_in_range(HR1TR, d.HR1TR);
    ratio_in_range(HR2TR, d.HR2TR);
    correlation(RHO, d.RHO);
    correlation(RHOTR, d.RHOTR);
    if (usable(TA) && !(d.TA > 0)) bad(TA, "the accrual time must be above 0");
    if (usable(TF) && !(d.TF >= 0)) bad(TF, "the follow-up time must be 0 or more");
    open_unit(SRVR1, "a control-arm survival probability must lie strictly between 0 and 1");
    open_unit(SRVR2, "a control-arm survival probability must lie strictly between 0 and 1");
    if (usable(SR)) {
      if (!(d.SR > 0 && d.SR < 1)) {
        bad(SR, "the sampling ratio (weight of the treatment arm) must lie strictly between 0 and 1");
      } else if (d.NSIM > 0 && usable(NSIM)) {
        if (!limits::simulable_share(d.SR))
          bad(SR, std::string("with simulation (NSIM > 0) the sampling ratio must be ") +
                      limits::simulable_share_allowed());
      }
    }
    in_range(CNSRD, d.CNSRD, 0, 1, "must be 0 (no study censoring) or 1");
    if (usable(TYPE1) && !type1_ok())
      bad(TYPE1, "the one-sided significance level must lie in [1e-6, 0.5]");
    open_unit(POWER, "the targeted power must lie strictly between 0 and 1");
    if (usable(POWER) && type1_ok() && d.POWER > 0 && d.POWER < 1 &&
        !limits::power_ok(d.POWER, d.TYPE1))
      bad(POWER, "the targeted power must exceed the significance level TYPE1 = " + show(d.TYPE1));
    in_range(DF, d.DF, 1, 4,
             "the decision rule must be 1 (at any interims), 2 (at the same interim), 3 (fixed "
             "sequence EP1 then EP2) or 4 (EP2 tested only at the final)");
    in_range(CRIVL, d.CRIVL, 1, 3,
             "must be 1 (critical values of EP1 for both), 2 (of EP2 for both) or 3 (each its own)");
    if (rec_.times_checkable) times();
    extras();
    hazards();
  }

 private:
  bool usable(int f) const {
    return rec_.source[static_cast<size_t>(f)].state != FieldSource::Unreadable;
  }

  std::string value_of(int f) const { return shown_value(rec_, f); }

  bool type1_ok() const {
    const double a = rec_.design.read.TYPE1;
    return usable(TYPE1) && limits::significance_ok(a);
  }

  double real(int f) const {
    const DeckValues& d = rec_.design.read;
    switch (f) {
      case HR1: return d.HR1;
      case HR2: return d.HR2;
      case RHO: return d.RHO;
      case HR1TR: return d.HR1TR;
      case HR2TR: return d.HR2TR;
      case RHOTR: return d.RHOTR;
      case TA: return d.TA;
      case TF: return d.TF;
      case SRVR1: return d.SRVR1;
      case SRVR2: return d.SRVR2;
      case SR: return d.SR;
      case TYPE1: return d.TYPE1;
      case RSV1: return d.RSV1;
      case POWER: return d.POWER;
      default: return d.TLOOK[static_cast<size_t>(f - TLOOK1)];
    }
  }

  int line_of(int f) const {
    int l = rec_.source[static_cast<size_t>(f)].line;
    return l ? l : rec_.design.first_line;
  }

  void bad(int f, std::string allowed) {
    out_.push_back(DeckProblem{rec_.design.number, line_of(f), field_name(f), value_of(f),
                               std::move(allowed)});
  }

  void in_range(int f, int v, int lo, int hi, const char* allowed) {
    if (usable(f) && (v < lo || v > hi)) bad(f, allowed);
  }

  void open_unit(int f, const char* allowed) {
    double v = real(f);
    if (usable(f) && !(v > 0 && v < 1)) bad(f, allowed);
  }

  void correlation(int f, double v) {
    if (usable(f) && !(v >= 0 && v < 1))
      bad(f, "the correlation of the event times must lie in [0, 1): the copula families model "
             "positive dependence only");
  }

  // Beyond these limits the reciprocal the calculations use overflows or loses all meaning.
  bool ratio_in_range(int f, double v) {
    if (!usable(f)) return false;
    if (v >= 1e-3 && v <= 1e3) return true;
    bad(f, "a hazard ratio (control over treatment) must lie in [0.001, 1000]");
    return false;
  }

  void design_ratio(int f, double v) {
    if (!ratio_in_range(f, v)) return;
    if (v == 1) {
      bad(f, "a design hazard ratio of 1 leaves no effect to design for (the simulation ratios "
             "HR1TR, HR2TR may be 1)");
    } else if (v < 1 && usable(MSSG) && rec_.design.read.MSSG <= 0) {
      bad(f, "the deck holds control over treatment, so a value below 1 describes a harmful "
             "treatment and no sample size reaches the target power; for a treatment whose "
             "hazard is " + show(v) + " times the control's write the reciprocal " +
             show(1.0 / v) + " instead (or give MSSG > 0 to compute the power of a fixed size)");
    }
  }

  void times() {
    const DeckValues& d = rec_.design.read;
    const bool calendar = d.ITIME == 3;
    // Calendar times end at TA + TF, which is known only when both are.
    const bool top_known =
        !calendar || (usable(TA) && usable(TF) && d.TA > 0 && d.TF >= 0);
    const double top = calendar ? d.TA + d.TF : 1.0;
    for (int k = 0; k < d.LOOK; ++k) {
      int f = TLOOK1 + k;
      if (!usable(f)) continue;
      double t = d.TLOOK[static_cast<size_t>(k)];
      if (!(t > 0 && (!top_known || (calendar ? limits::within_study(t, top) : t <= top)))) {
        bad(f, !top_known ? std::string("calendar analysis times must be above 0")
               : calendar
                   ? "calendar analysis times must lie in (0, TA + TF] = (0, " + show(top) + "]"
                   : std::string("information fractions must lie in (0, 1]"));
      } else if (k > 0 && usable(f - 1) && !(t > d.TLOOK[static_cast<size_t>(k - 1)])) {
        bad(f, std::string(calendar ? "calendar analysis times" : "information fractions") +
                   " must be strictly increasing (TLOOK(" + std::to_string(k) + ") = " +
                   show(d.TLOOK[static_cast<size_t>(k - 1)]) + ")");
      } else if (!calendar && k == d.LOOK - 1 && t != 1) {
        // The final analysis is at full information by definition.
        bad(f, "the last information fraction must be 1: the final analysis is at full "
               "information");
      }
    }
  }

  void extra(int line, std::string field, std::string value, std::string allowed) {
    out_.push_back(DeckProblem{rec_.design.number, line ? line : rec_.design.first_line,
                               std::move(field), std::move(value), std::move(allowed)});
  }

  void extras() {
    const DeckValues& d = rec_.design.read;
    const int nsets = static_cast<int>(rec_.design.spending.size());
    const bool alpha_known = type1_ok();
    for (int set = 0; set < nsets; ++set) {
      for (int ep = 0; ep < 2; ++ep) {
        if (2 * set + ep >= rec_.spending_slots_checkable) return;
        const SpendingStatement& sp = rec_.design.spending[static_cast<size_t>(set)][static_cast<size_t>(ep)];
        std::string suffix = std::string(" of ") + (ep == 0 ? "EP1" : "EP2") + " (ESF" +
                             std::to_string(ep + 1);
        // Named as the reader names them, by the sets the design evaluates.
        if (d.ITIME == 1)
          suffix += set == 0 ? ", EP1-driven evaluation" : ", EP2-driven evaluation";
        suffix += ")";
        // Replacement codes decide the layout; the reader checks them.
        int code = sp.code_in_force();
        if ((code == 3 || code == 4) && !sp.has_phi && !reported("phi" + suffix)) {
          extra(sp.phi_line, "phi" + suffix, "",
                "the statement after the record holds no value; spending family " +
                    std::to_string(code) + " needs its parameter phi");
        } else if ((code == 3 || code == 4) && sp.has_phi &&
                   !limits::spending_parameter_ok(code, sp.phi)) {
          extra(sp.phi_line, "phi" + suffix, show(sp.phi),
                limits::spending_parameter_allowed(code));
        }
        if (code == 5) {
          const int n = static_cast<int>(sp.cumulative.size());
          for (int k = 0; k < n; ++k) {
            double c = sp.cumulative[static_cast<size_t>(k)];
            std::string field = "cumulative alpha(" + std::to_string(k + 1) + ")" + suffix;
            if (reported(field)) continue;
            if (std::isnan(c)) {
              extra(sp.cumulative_line, field, "",
                    "no value given; spending code 5 needs LOOK cumulative alpha values");
            } else if (!(c > 0)) {
              extra(sp.cumulative_line, field, show(c), "cumulative alpha values must be above 0");
            } else if (alpha_known && !(c <= d.TYPE1 * (1 + 1e-12))) {
              extra(sp.cumulative_line, field, show(c),
                    "cumulative alpha values must lie in (0, TYPE1] = (0, " + show(d.TYPE1) + "]");
            } else if (k > 0 && !std::isnan(sp.cumulative[static_cast<size_t>(k - 1)]) &&
                       !(c > sp.cumulative[static_cast<size_t>(k - 1)])) {
              extra(sp.cumulative_line, field, show(c),
                    "cumulative alpha values must be strictly increasing");
            } else if (alpha_known && k == n - 1 &&
                       std::fabs(c - d.TYPE1) > 1e-12 * std::max(1.0, d.TYPE1)) {
              extra(sp.cumulative_line, field, show(c),
                    "the last cumulative alpha value must equal TYPE1 = " + show(d.TYPE1));
            }
          }
        }
      }
    }
  }

  // The HAZARDS laws: ratios that describe harm throughout are refused for a sample-size search,
  // as a harmful record ratio is. A CONTROL statement beside HAZARDS of both endpoints states no
  // law in force and is refused; beside HAZARDS of one endpoint it gives the other endpoint's law
  // (the only way to state that one by a median, a hazard or a survival at a time).
  void hazards() {
    const Design& g = rec_.design;
    const std::array<int, 2>& hz = g.entry_loss_statements.hazards_line;
    if (g.model_control.control_line && hz[0] && hz[1]) {
      extra(g.model_control.control_line, "CONTROL", "",
            "give the control arm once: the HAZARDS statements on lines " + std::to_string(hz[0]) +
                " and " + std::to_string(hz[1]) +
                " state the control arm of EP1 and EP2, so this statement states nothing in "
                "force; leave out one of them");
    }
    for (size_t z = 0; z < 2; ++z) {
      const int line = hz[z];
      if (!line) continue;
      const std::string ep = z == 0 ? "EP1" : "EP2";
      const std::vector<double>& ratio = g.entry_loss.hazards[z].ratio;
      if (!usable(MSSG) || g.read.MSSG > 0) continue;
      const auto harm = std::find_if(ratio.begin(), ratio.end(), [](double v) { return v > 1; });
      const bool benefit = std::any_of(ratio.begin(), ratio.end(), [](double v) { return v < 1; });
      if (harm == ratio.end() || benefit) continue;
      const double v = *harm;
      extra(line, "HAZARDS " + ep + " ratio(" + std::to_string(harm - ratio.begin() + 1) + ")",
            show(v),
            "the ratios of HAZARDS are treatment over control, so ratios of 1 or more throughout "
            "describe a harmful treatment and no sample size reaches the target power; for a "
            "treatment whose hazard is " + show(1.0 / v) + " times the control's write the reciprocal " +
            show(1.0 / v) + " instead (or give MSSG > 0 to compute the power of a fixed size)");
    }
  }

  bool reported(const std::string& field) const {
    return std::find(rec_.reported_extras.begin(), rec_.reported_extras.end(), field) !=
           rec_.reported_extras.end();
  }

  const DeckRecord& rec_;
  std::vector<DeckProblem>& out_;
};

}  // namespace

std::vector<DeckProblem> check_deck(const Deck& deck) {
  std::vector<DeckProblem> out = deck.problems;
  for (const DeckRecord& rec : deck.designs) Checker(rec, out).run();
  // In deck order: by design, line, then the field's place in the record (the extra statements,
  // each on its own line, after the record's fields).
  auto rank = [](const DeckProblem& p) {
    for (int f = 0; f < FIELD_COUNT; ++f)
      if (p.field == field_name(f)) return f;
    return static_cast<int>(FIELD_COUNT);
  };
  std::stable_sort(out.begin(), out.end(), [&](const DeckProblem& a, const DeckProblem& b) {
    if (a.design != b.design) return a.design < b.design;
    if (a.line != b.line) return a.line < b.line;
    return rank(a) < rank(b);
  });
  return out;
}

}  // namespace kestrel::deck
