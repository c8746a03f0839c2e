#include "driver/run.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/errors.h"
#include "common/format.h"
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

void run_deck(const Deck& deck, RunContext& ctx, const RunOptions& options,
              const Calculations& calc) {
  Reports& rep = ctx.reports;
  if (options.seed) {
    ctx.generator.SETSEED(*options.seed);
    put(rep.main(), fmt::Record().lit(" SEED OF THE UNIFORM GENERATOR (--seed):").x(1)
                        .i(*options.seed, 10));
  }
  if (options.mvn_accuracy) {
    ctx.mvn.set_accuracy(*options.mvn_accuracy);
    char text[32];
    std::snprintf(text, sizeof text, "%.2e", *options.mvn_accuracy);
    put(rep.main(), fmt::Record().lit(" ACCURACY OF THE NORMAL PROBABILITIES (--mvn-accuracy):").x(1)
                        .lit(text));
  }
  put(rep.summary(), summary_header());
  rep.summary().flush();

  RunStore store;
  for (const DeckRecord& rec : deck.designs) {
    const Design& design = rec.design;
    const DeckValues& v = design.stored;
    record_design_start(options.record, design);
    write_design_banner(rep.console());
    write_input_summary(rep.main(), v);
    write_copula_banner(rep.console(), v.CPL);
    if (v.CPL >= 1 && v.CPL <= 3) {
      store.THETA = calc.copula(v.CPL, NGRID, v.RHO, rep.main()).theta;
      store.THETATR = calc.copula(v.CPL, NGRID, v.RHOTR, rep.main()).theta;
    }
    record_copula(options.record, store.THETA, store.THETATR);
    const survival::InformationInput in = survival::information_input(v, store.THETA);
    auto evaluate = [&](const InformationSet& set, std::size_t which, std::string_view label) {
      const auto& spending = design.spending.at(which);
      samplesize::Evaluation e =
          calc.evaluate(design, set, spending, store.THETA, store.THETATR, ctx);
      keep_results(e, store.results);
      record_evaluation(options.record, label, set, e);
      put(rep.summary(), summary_line(label, v, store.results));
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
    record_design_end(options.record);
    // A later terminal error loses nothing of the designs already done.
    rep.main().flush();
    rep.summary().flush();
    rep.matrix().flush();
    rep.console().flush();
  }
}

DeckRejected::DeckRejected(std::vector<std::string> problems)
    : std::runtime_error(problems.empty() ? std::string("bad deck") : problems.front()),
      problems_(std::move(problems)) {}

std::vector<std::string> deck_problems(const Deck& deck) {
  std::vector<std::string> out;
  for (const DeckProblem& p : check_deck(deck)) out.push_back(p.message(kDeckPath));
  return out;
}

void run_directory(const std::filesystem::path& dir, const RunOptions& options,
                   std::ostream& console, std::ostream& notes, const Calculations& calc) {
  std::string text;
  DeckProblem unreadable;
  if (!read_deck_file(dir / kDeckPath, text, unreadable))
    throw DeckRejected({unreadable.message(kDeckPath)});
  const Deck deck = read_deck(text);
  std::vector<std::string> problems = deck_problems(deck);
  if (!problems.empty()) throw DeckRejected(std::move(problems));
  if (deck.incomplete_record_line > 0) {
    notes << kDeckPath << ':' << deck.incomplete_record_line << ": design "
          << deck.incomplete_record_number
          << ": the deck ends inside this record; it is not calculated\n";
  }

  auto open = [&](const char* name) {
    std::ofstream f(dir / name, std::ios::binary | std::ios::trunc);
    if (!f) throw RunError(std::string("cannot create the report file ") + name);
    return f;
  };
  std::ofstream main = open(kMainReportPath);
  std::ofstream summary = open(kSummaryPath);
  std::ofstream matrix = open(kMatrixPath);
  std::ofstream unit60;
  auto unit60_stream = [&]() -> std::ostream& {
    if (!unit60.is_open()) {
      unit60.open(dir / kUnit60Path, std::ios::binary | std::ios::trunc);
      if (!unit60) throw RunError(std::string("cannot create ") + kUnit60Path);
    }
    return unit60;
  };
  Reports reports(main, summary, matrix, console, unit60_stream);
  // What the run computed, for the results file and the HTML report beside the reports.
  RunRecord record;
  record.version = KESTREL_VERSION;
  record.header = deck.header;
  record.seed = options.seed;
  if (options.mvn_accuracy) record.mvn_accuracy = *options.mvn_accuracy;
  RunOptions run_options = options;
  run_options.record = &record;
  numerics::UniformGenerator generator([&record] {
    const std::int32_t seed = numerics::UniformGenerator::wall_clock_seed();
    if (!record.seed) record.seed = seed;
    return seed;
  });
  mvn::MvnState mvn_state;
  RunContext ctx{reports, generator, mvn_state};
  try {
    run_deck(deck, ctx, run_options, calc);
  } catch (...) {
    for (std::ostream* os : {static_cast<std::ostream*>(&main), static_cast<std::ostream*>(&summary),
                             static_cast<std::ostream*>(&matrix), &console})
      os->flush();
    if (unit60.is_open()) unit60.flush();
    record_error(record, std::current_exception());
    write_run_record(record, dir / "a", notes);
    throw;
  }
  write_run_record(record, dir / "a", notes);
  console.flush();
}

}  // namespace kestrel::driver
