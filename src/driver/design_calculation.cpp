#include "driver/design_calculation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <sstream>

#include "common/errors.h"
#include "common/format.h"
#include "deck/deck.h"
#include "driver/design_selection.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "survival/information_kernel.h"

namespace kestrel::driver {
namespace {

void put(std::ostream& os, const std::string& line) { os << line << '\n'; }


std::string trimmed(std::string_view label) {
  while (!label.empty() && label.front() == ' ') label.remove_prefix(1);
  while (!label.empty() && label.back() == ' ') label.remove_suffix(1);
  return std::string(label);
}

// A stop inside a design's calculation names the design (and the information set) first.
[[noreturn]] void stop_in(const std::string& where, const RunError& e) {
  std::string m = e.what();
  m.erase(0, std::min(m.size(), m.find_first_not_of(' ')));
  throw RunError(where + ": " + m);
}

std::string num(double v, const char* format = "%.6g") {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// How the analyses of an evaluated set were placed, for messages.
std::string set_name(std::string_view label) {
  if (label == reports::kLabelEp1) return "analyses timed by EP1's information";
  if (label == reports::kLabelEp2) return "analyses timed by EP2's information";
  return "analyses at the given calendar times";
}

// The grid of the information integrals (equally spaced in event probability, 1000 intervals).
constexpr int kInformationGrid = 1000;

// The spacing in time of the information grid around time t.
double grid_spacing(const survival::InformationInput& in, double t) {
  const survival::detail::InformationModel grid(in, kInformationGrid);
  const std::vector<double>& X = grid.X();
  for (size_t i = 1; i < X.size(); ++i)
    if (X[i] >= t) return X[i] - X[i - 1];
  return 0;
}

// Before a set is evaluated: every analysis at its own point of the information grid, and every
// quantity of the set a number. Two requested times or fractions that fall on the same grid point
// give two analyses at the same calendar time and the same information, which no boundary design
// can separate.
void check_information_set(const Design& design, const survival::InformationInput& in,
                           const InformationSet& set, std::string_view label) {
  const std::string where = "design " + std::to_string(design.number);
  const int K = set.K;
  for (int k = 1; k < K; ++k) {
    if (!(set.TCAL[k] == set.TCAL[k - 1])) continue;
    const double spacing = grid_spacing(in, set.TCAL[k]);
    const bool fractions = design.stored.ITIME <= 2;
    throw RunError(where + ": analyses " + std::to_string(k) + " and " + std::to_string(k + 1) +
                   " fall on the same point of the information grid (spacing " +
                   num(spacing, "%.4f") + " in time" +
                   (fractions ? std::string(", ") + set_name(label) : std::string()) +
                   "); move them further apart");
  }
  // Calendar times a little apart may still share their point of the grid, or an endpoint may
  // gain no information between them (every event of it had happened): its information fraction
  // then does not increase, which no boundary design can separate either.
  for (int k = 1; k < K; ++k) {
    for (int ep = 0; ep < 2; ++ep) {
      const AnalysisArray& f = ep == 0 ? set.FINF1 : set.FINF2;
      if (!(std::isfinite(f[k]) && std::isfinite(f[k - 1])) || f[k] > f[k - 1]) continue;
      const double spacing = grid_spacing(in, set.TCAL[k]);
      // Both sets hold EP1 in the slots ending in 1 (the EP2-driven set too: only its times
      // are chosen by EP2's information).
      const char* name = ep == 0 ? "EP1" : "EP2";
      throw RunError(where + ", " + set_name(label) + ": the information fraction of " + name +
                     " does not increase from analysis " + std::to_string(k) + " to " +
                     std::to_string(k + 1) + " (" + num(f[k - 1], "%.8g") + " and " +
                     num(f[k], "%.8g") + " at times " + num(set.TCAL[k - 1], "%.8g") + " and " +
                     num(set.TCAL[k], "%.8g") +
                     "): the analyses fall on the same point of the information grid (spacing " +
                     num(spacing, "%.4g") + " in time) or " + name +
                     " has no events left between them; move them further apart");
    }
  }
  struct Row {
    const char* what;
    const AnalysisArray& v;
  };
  const Row rows[] = {{"calendar time", set.TCAL},
                      {"information fraction of EP1", set.FINF1},
                      {"information fraction of EP2", set.FINF2},
                      {"log-rank mean of EP1", set.DRF1},
                      {"log-rank mean of EP2", set.DRF2},
                      {"null variance of EP1", set.VAR01},
                      {"null variance of EP2", set.VAR02},
                      {"alternative variance of EP1", set.VAR11},
                      {"alternative variance of EP2", set.VAR12},
                      {"enrolled fraction", set.FENR}};
  for (const Row& r : rows) {
    for (int k = 0; k < K; ++k) {
      if (std::isfinite(r.v[k])) continue;
      throw RunError(where + ", " + set_name(label) + ": the " + r.what + " at analysis " +
                     std::to_string(k + 1) + " is not a number (" + num(r.v[k]) +
                     "); the information of the design cannot be computed");
    }
  }
  for (int k = 0; k < K; ++k) {
    for (int j = 0; j < K; ++j) {
      if (std::isfinite(set.CORR12[k][j])) continue;
      throw RunError(where + ", " + set_name(label) + ": the correlation of EP1 at analysis " +
                     std::to_string(k + 1) + " with EP2 at analysis " + std::to_string(j + 1) +
                     " is not a number; an endpoint has no information there");
    }
  }
}

// The figures of an evaluation that enter the summary line must be numbers.
void check_results(const Design& design, const reports::RunResults& r, std::string_view label) {
  const std::pair<const char*, double> figures[] = {
      {"APW (the power at the sample size found)", r.APW},
      {"AVE1 (expected events of EP1)", r.AVE1},
      {"AVE2 (expected events of EP2)", r.AVE2},
      {"PWCS (simulated power)", r.PWCS},
      {"PWDS (simulated power)", r.PWDS},
      {"PW1S (simulated power of EP1)", r.PW1S},
      {"PW2 (simulated power of EP2)", r.PW2}};
  for (const auto& [what, v] : figures) {
    if (std::isfinite(v)) continue;
    throw RunError("design " + std::to_string(design.number) + ", " + set_name(label) + ": " +
                   what + " is not a number (" + num(v) + ")");
  }
}

// The control arm's law as a CONTROL statement gave it, and the survival at the end of the study
// it was converted to (the SRVR1 and SRVR2 of the input summary).
void write_control_statement(std::ostream& main, const Design& design) {
  const ModelAndControl& mc = design.model_control;
  if (mc.control == ControlForm::EndOfStudy) return;
  char text[400];
  const auto& v = mc.control_value;
  switch (mc.control) {
    case ControlForm::Median:
      std::snprintf(text, sizeof text, " CONTROL ARM GIVEN AS MEDIANS: EP1 %.6g, EP2 %.6g", v[0], v[1]);
      break;
    case ControlForm::Hazard:
      std::snprintf(text, sizeof text, " CONTROL ARM GIVEN AS HAZARDS: EP1 %.6g, EP2 %.6g", v[0], v[1]);
      break;
    default:
      std::snprintf(text, sizeof text, " CONTROL ARM GIVEN AS SURVIVAL AT TIME %.6g: EP1 %.6g, EP2 %.6g",
                    mc.control_time, v[0], v[1]);
      break;
  }
  Reports::line(main, text);
  std::snprintf(text, sizeof text,
                " CONVERTED TO SURVIVAL AT THE END OF THE STUDY (TIME %.6g): EP1 %.6f, EP2 %.6f",
                design.stored.TA + design.stored.TF, design.stored.SRVR1, design.stored.SRVR2);
  Reports::line(main, text);
}

}  // namespace

Calculations Calculations::standard() {
  Calculations c;
  c.copula = [](int cpl, int n, double rho, std::ostream& main) -> survival::CopulaParameter {
    switch (cpl) {
      case 1: return survival::CORRCLYTN(n, rho);
      case 2: return survival::CORRPSTBL(n, rho);
      default: return survival::CORRFRANK(n, rho, main);
    }
  };
  c.calendar = survival::BVRLGRNK01;
  c.fractions = survival::BVRLGRNK02;
  c.evaluate = [](const Design& d, const InformationSet& set,
                  const std::array<SpendingStatement, 2>& spending, double theta, double thetatr,
                  RunContext& ctx) {
    return samplesize::GSDBVRSURV01(d, set, spending, theta, thetatr, ctx);
  };
  return c;
}

void start_design(RunContext& ctx, const std::optional<std::int32_t>& seed, int number) {
  if (seed) ctx.generator.SETSEED(design_seed(*seed, number));
  ctx.mvn.restart_generator();
}

void calculate_design(const Design& design, RunContext& ctx, RunStore& store,
                      reports::DesignRecord& into, const SetDone& done, const Calculations& calc) {
  Reports& rep = ctx.reports;
  const DeckValues& v = design.stored;
  into.design = design;
  reports::write_design_banner(rep.console());
  reports::write_input_summary(rep.main(), v, &into.overflowed, design.entry_loss,
                               design.entry_loss_statements, &design.futility);
  // The boundary designs write their phi as "Parameter is" in a field of six columns.
  for (const auto& pair : design.spending) {
    for (int ep = 0; ep < 2; ++ep) {
      const SpendingStatement& sp = pair[static_cast<size_t>(ep)];
      const int code = sp.code_in_force();
      bool overflowed = false;
      if ((code == 3 || code == 4) && sp.has_phi) fmt::F_or_full(sp.phi, 6, 3, overflowed);
      const std::string name = std::string("phi of EP") + (ep == 0 ? "1" : "2");
      if (overflowed && std::find(into.overflowed.begin(), into.overflowed.end(), name) ==
                            into.overflowed.end())
        into.overflowed.push_back(name);
    }
  }
  // --exact applies to every design; a design's MODEL EXACT to itself.
  const bool exact = ctx.exact || design.model_control.exact();
  if (ctx.exact) {
    Reports::line(rep.main(),
                  " MODEL IN FORCE (--exact): EXACT COVARIANCE UNDER THE ALTERNATIVE, EXACT BOUNDS");
  } else if (exact) {
    Reports::line(rep.main(),
                  " MODEL IN FORCE (MODEL EXACT): EXACT COVARIANCE UNDER THE ALTERNATIVE, EXACT BOUNDS");
  }
  write_control_statement(rep.main(), design);
  reports::write_copula_banner(rep.console(), v.CPL);
  const std::string where = "design " + std::to_string(design.number);
  std::string copula_failure;  // the message of a copula search that did not converge
  if (v.CPL >= 1 && v.CPL <= 3) {
    try {
      const survival::CopulaParameter p = calc.copula(v.CPL, NGRID, v.RHO, rep.main());
      store.THETA = p.theta;
      if (!p.converged) {
        char text[400];
        std::snprintf(text, sizeof text,
                      "%s: RHO = %.10g: the copula parameter search failed: it reached the "
                      "correlation %.10g at best (theta = %.6g) and ended at theta = %.6g, where "
                      "the information of the design is not a number; give a smaller correlation "
                      "or another copula",
                      where.c_str(), v.RHO, p.reached, p.best_theta, p.theta);
        copula_failure = text;
      }
      store.THETATR = calc.copula(v.CPL, NGRID, v.RHOTR, rep.main()).theta;
    } catch (const RunError& e) {
      stop_in(where, e);
    }
  }
  into.THETA = store.THETA;
  into.THETATR = store.THETATR;
  const TrialModel model = trial_model(design, store.THETA, ctx.exact);
  const survival::InformationInput in = survival::information_input(model, v);
  auto evaluate = [&](const InformationSet& set, std::size_t which, std::string_view label) {
    const auto& spending = design.spending.at(which);
    try {
      check_information_set(design, in, set, label);
    } catch (const RunError&) {
      // Information that is not a number after a failed copula search: the search is the cause.
      bool numbers = true;
      for (int k = 0; k < set.K; ++k) {
        for (const AnalysisArray* a : {&set.FINF1, &set.FINF2, &set.DRF1, &set.DRF2, &set.VAR01,
                                       &set.VAR02, &set.VAR11, &set.VAR12})
          numbers = numbers && std::isfinite((*a)[k]);
        for (int j = 0; j < set.K; ++j) numbers = numbers && std::isfinite(set.CORR12[k][j]);
      }
      if (!numbers && !copula_failure.empty()) throw RunError(copula_failure);
      // The exact model's variance of an endpoint that is not a positive number: its
      // fluctuation terms lose all precision for survival values this extreme. Said so, rather
      // than the correlation it leaves not a number.
      if (model.exact) {
        for (int k = 0; k < set.K; ++k) {
          for (int ep = 0; ep < 2; ++ep) {
            const double var = ep == 0 ? set.VAR11[k] : set.VAR12[k];
            if (var > 0.0 && std::isfinite(var)) continue;
            char text[160];
            std::snprintf(text, sizeof text, "%.6g", var);
            throw RunError(where + ", " + set_name(label) + ": the exact model's variance of EP" +
                           std::to_string(ep + 1) + " at analysis " + std::to_string(k + 1) +
                           " is not a positive number (" + text +
                           "): its fluctuation terms lose all precision for these survival "
                           "values (SRVR1 = " + num(design.stored.SRVR1, "%.6g") +
                           ", SRVR2 = " + num(design.stored.SRVR2, "%.6g") +
                           "); run this design without --exact");
          }
        }
      }
      throw;
    }
    // Figures of the information table too wide for their columns (written in full, parted by a
    // blank) are named like the input summary's: a calendar time of 1000 or more, say.
    {
      struct Column {
        const char* what;
        const AnalysisArray& v;
        int w;
      };
      const Column columns[] = {{"calendar time", set.TCAL, 6},   {"information time of EP1", set.FINF1, 9},
                                {"log-rank mean of EP1", set.DRF1, 8}, {"VAR(H1) of EP1", set.VAR11, 8},
                                {"VAR(H0) of EP1", set.VAR01, 8},  {"information time of EP2", set.FINF2, 11},
                                {"log-rank mean of EP2", set.DRF2, 8}, {"VAR(H1) of EP2", set.VAR12, 8},
                                {"VAR(H0) of EP2", set.VAR02, 8},  {"enrolled fraction", set.FENR, 10}};
      for (const Column& c : columns) {
        for (int k = 0; k < set.K; ++k) {
          bool wide = false;
          const std::string text =
              fmt::F_or_full(c.v[static_cast<size_t>(k)], c.w, c.w == 6 ? 2 : 4, wide);
          // The calendar time follows the analysis number without a blank between them.
          if (c.w == 6 && !wide && !text.empty() && text[0] != ' ')
            into.filled.push_back("analysis " + std::to_string(k + 1) + " at " + text);
          const std::string name = std::string(c.what) + " of the information table";
          if (wide && std::find(into.overflowed.begin(), into.overflowed.end(), name) ==
                          into.overflowed.end())
            into.overflowed.push_back(name);
        }
      }
    }
    samplesize::Evaluation e;
    try {
      e = calc.evaluate(design, set, spending, store.THETA, store.THETATR, ctx);
    } catch (const RunError& err) {
      stop_in(where + ", " + set_name(label), err);
    } catch (const std::bad_alloc&) {
      throw RunError(where + ", " + set_name(label) +
                     ": not enough memory for the calculation (MSSG = " + std::to_string(v.MSSG) +
                     (v.MSSG >= 1 ? std::string(" subjects") : ": the sample size is searched") +
                     "; NSIM = " + std::to_string(v.NSIM) + " simulated trials)");
    }
    // A search that ended by a safeguard or below its target says so in the main report, right
    // after its set, and in the record (the run also puts it on standard error).
    std::string warning = samplesize::search_warning(design.number, label, e, v.POWER);
    if (!warning.empty()) put(rep.main(), fmt::list({std::string_view(warning)}));
    keep_results(e, store.results);
    check_results(design, store.results, label);
    into.sets.push_back({trimmed(label), set, e, std::move(warning)});
    if (done) done(label, set, e);
  };
  if (v.ITIME <= 2) {
    survival::InformationSets sets;
    try {
      sets = calc.fractions(in, ctx.generator, rep);
    } catch (const RunError& e) {
      stop_in(where, e);
    }
    put(rep.main(), fmt::list({std::string_view("<EP1>")}));
    put(rep.main(), fmt::list({std::string_view("<EP2>")}));
    std::size_t which = 0;
    if (v.ITIME != 2) {
      put(rep.main(), fmt::list({std::string_view("---> INFORMATION TIME BY ENP1")}));
      evaluate(sets.ep1_driven, which++, reports::kLabelEp1);
    }
    put(rep.main(), fmt::list({std::string_view("---> INFORMATION TIME BY ENP2")}));
    evaluate(sets.ep2_driven, which, reports::kLabelEp2);
  } else {
    InformationSet set;
    try {
      set = calc.calendar(in, ctx.generator, rep);
    } catch (const RunError& e) {
      stop_in(where, e);
    }
    evaluate(set, 0, reports::kLabelCalendar);
  }
  put(rep.main(), fmt::list({}));
  into.complete = true;
}

void check_design(const Design& design) {
  // What the deck reader guarantees by the layout of a deck: one pair of spending statements per
  // evaluated set, each for its endpoint's code, and K values of code 5.
  const DeckValues& v = design.read;
  const std::string where = "design " + std::to_string(design.number) + ": ";
  if (v.ITIME >= 1 && v.ITIME <= 3 && v.LOOK >= 1 && v.LOOK <= NMAXA) {
    const size_t sets = v.ITIME == 1 ? 2 : 1;
    if (design.spending.size() != sets)
      throw RunError(where + "spending statements: " + std::to_string(design.spending.size()) +
                         " sets given; ITIME = " + std::to_string(v.ITIME) + " evaluates " +
                         std::to_string(sets),
                     design.number, "spending");
    for (const auto& pair : design.spending) {
      for (int ep = 0; ep < 2; ++ep) {
        const SpendingStatement& st = pair[static_cast<size_t>(ep)];
        const std::string field = ep == 0 ? "ESF1" : "ESF2";
        const int code = ep == 0 ? v.ESF1 : v.ESF2;
        if (st.deck_code != code)
          throw RunError(where + "spending statement of " + field + " is for code " +
                             std::to_string(st.deck_code) + ", the record gives " +
                             std::to_string(code),
                         design.number, field);
        if (st.code_in_force() == 5 && st.cumulative.size() != static_cast<size_t>(v.LOOK))
          throw RunError(where + "cumulative alpha values of " + field + ": " +
                             std::to_string(st.cumulative.size()) + " given, LOOK = " +
                             std::to_string(v.LOOK) + " needed",
                         design.number, field);
      }
    }
  }
  deck::Deck deck;
  deck::DeckRecord rec;
  rec.design = design;
  deck.designs.push_back(rec);
  const std::vector<deck::DeckProblem> problems = deck::check_deck(deck);
  if (problems.empty()) return;
  const deck::DeckProblem& p = problems.front();
  std::string message = "design " + std::to_string(design.number) + ": " + p.field;
  if (!p.value.empty()) message += " = " + p.value;
  message += ": " + p.allowed;
  throw RunError(message, design.number, p.field);
}

// A stream buffer that hands every complete line to a callback (and keeps nothing).
class DesignCalculator::LineBuffer : public std::streambuf {
 public:
  explicit LineBuffer(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {}

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    if (ch == '\n') {
      const std::string line = std::move(line_);
      line_.clear();
      if (sink_) sink_(line);
    } else {
      line_.push_back(static_cast<char>(ch));
    }
    return ch;
  }

 private:
  std::function<void(std::string_view)> sink_;
  std::string line_;
};

struct DesignCalculator::State {
  explicit State(const CalculationOptions& o)
      : console_buffer(o.console_line),
        console(&console_buffer),
        reports(main, summary, matrix, console, [this]() -> std::ostream& { return unit60; }),
        generator([this] {
          const std::int32_t s = numerics::UniformGenerator::wall_clock_seed();
          if (!seed) seed = s;
          return s;
        }),
        ctx{reports, generator, mvn} {
    // A caller that stops the calculation from its line callback throws; the stream passes that
    // on instead of only marking itself bad.
    console.exceptions(std::ios::badbit);
    if (o.seed) {
      seed = *o.seed;
      given_seed = *o.seed;
      generator.SETSEED(*o.seed);
    }
    mvn.set_reuse(true);  // as a deck run
    if (o.mvn_accuracy) mvn.set_accuracy(*o.mvn_accuracy);
    ctx.exact = o.exact;
    ctx.under_nulls = o.under_nulls;
  }

  std::optional<std::int32_t> seed;
  std::optional<std::int32_t> given_seed;
  std::ostringstream main, summary, matrix, unit60;
  LineBuffer console_buffer;
  std::ostream console;
  Reports reports;
  numerics::UniformGenerator generator;
  mvn::MvnState mvn;
  RunContext ctx;
  RunStore store;
};

DesignCalculator::DesignCalculator(const CalculationOptions& options)
    : state_(std::make_unique<State>(options)) {}

DesignCalculator::~DesignCalculator() = default;

DesignCalculation DesignCalculator::calculate(const Design& design) {
  check_design(design);
  State& s = *state_;
  s.main.str("");
  s.matrix.str("");
  s.unit60.str("");
  DesignCalculation out;
  start_design(s.ctx, s.given_seed, design.number);
  calculate_design(
      design, s.ctx, s.store, out.record,
      [&](std::string_view label, const InformationSet&, const samplesize::Evaluation&) {
        out.summary_lines.push_back(reports::summary_line(label, design.stored, s.store.results));
      });
  out.main_report = s.main.str();
  out.matrix = s.matrix.str();
  return out;
}

std::optional<std::int32_t> DesignCalculator::seed() const { return state_->seed; }

void keep_results(const samplesize::Evaluation& e, reports::RunResults& r) {
  r.MSS = e.MSS;
  r.APW = e.APW;
  r.ME1 = e.ME1;
  r.ME2 = e.ME2;
  r.AVE1 = e.AVE1;
  r.AVE2 = e.AVE2;
  if (e.simulation) {  // without simulation the fields keep an earlier design's values
    r.PWCS = e.simulation->PWC;
    r.PWDS = e.simulation->PWD;
    r.PW1S = e.simulation->PW1;
    r.PW2 = e.simulation->PW2;
  }
}

}  // namespace kestrel::driver
