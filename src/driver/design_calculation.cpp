#include "driver/design_calculation.h"

#include <cstdio>
#include <sstream>

#include "common/errors.h"
#include "common/format.h"
#include "driver/deck.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"

namespace kestrel::driver {
namespace {

void put(std::ostream& os, const std::string& line) { os << line << '\n'; }

void keep_results(const samplesize::Evaluation& e, RunResults& r) {
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

std::string trimmed(std::string_view label) {
  while (!label.empty() && label.front() == ' ') label.remove_prefix(1);
  while (!label.empty() && label.back() == ' ') label.remove_suffix(1);
  return std::string(label);
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

void calculate_design(const Design& design, RunContext& ctx, RunStore& store, DesignRecord& into,
                      const SetDone& done, const Calculations& calc) {
  Reports& rep = ctx.reports;
  const DeckValues& v = design.stored;
  into.design = design;
  write_design_banner(rep.console());
  write_input_summary(rep.main(), v);
  write_copula_banner(rep.console(), v.CPL);
  if (v.CPL >= 1 && v.CPL <= 3) {
    store.THETA = calc.copula(v.CPL, NGRID, v.RHO, rep.main()).theta;
    store.THETATR = calc.copula(v.CPL, NGRID, v.RHOTR, rep.main()).theta;
  }
  into.THETA = store.THETA;
  into.THETATR = store.THETATR;
  const survival::InformationInput in = survival::information_input(v, store.THETA);
  auto evaluate = [&](const InformationSet& set, std::size_t which, std::string_view label) {
    const auto& spending = design.spending.at(which);
    samplesize::Evaluation e = calc.evaluate(design, set, spending, store.THETA, store.THETATR, ctx);
    keep_results(e, store.results);
    into.sets.push_back({trimmed(label), set, e});
    if (done) done(label, set, e);
  };
  if (v.ITIME <= 2) {
    survival::InformationSets sets = calc.fractions(in, ctx.generator, rep);
    put(rep.main(), fmt::list({std::string_view("<EP1>")}));
    put(rep.main(), fmt::list({std::string_view("<EP2>")}));
    std::size_t which = 0;
    if (v.ITIME != 2) {
      put(rep.main(), fmt::list({std::string_view("---> INFORMATION TIME BY ENP1")}));
      evaluate(sets.ep1_driven, which++, kLabelEp1);
    }
    put(rep.main(), fmt::list({std::string_view("---> INFORMATION TIME BY ENP2")}));
    evaluate(sets.ep2_driven, which, kLabelEp2);
  } else {
    InformationSet set = calc.calendar(in, ctx.generator, rep);
    evaluate(set, 0, kLabelCalendar);
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
  Deck deck;
  DeckRecord rec;
  rec.design = design;
  deck.designs.push_back(rec);
  const std::vector<DeckProblem> problems = check_deck(deck);
  if (problems.empty()) return;
  const DeckProblem& p = problems.front();
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
      generator.SETSEED(*o.seed);
    }
    if (o.mvn_accuracy) mvn.set_accuracy(*o.mvn_accuracy);
  }

  std::optional<std::int32_t> seed;
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
  calculate_design(design, s.ctx, s.store, out.record,
                   [&](std::string_view label, const InformationSet&, const samplesize::Evaluation&) {
                     out.summary_lines.push_back(summary_line(label, design.stored, s.store.results));
                   });
  out.main_report = s.main.str();
  out.matrix = s.matrix.str();
  return out;
}

std::optional<std::int32_t> DesignCalculator::seed() const { return state_->seed; }

}  // namespace kestrel::driver
