#include "driver/run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "common/errors.h"
#include "common/format.h"
#include "driver/report_file.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "survival/information_kernel.h"

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
  if (label == kLabelEp1) return "analyses timed by EP1's information";
  if (label == kLabelEp2) return "analyses timed by EP2's information";
  return "analyses at the given calendar times";
}

// The grid of the information integrals (equally spaced in event probability, 1000 intervals).
constexpr int kInformationGrid = 1000;

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
    // The spacing of the grid around that point, in time.
    const survival::detail::InformationModel model(in, kInformationGrid);
    const std::vector<double>& X = model.X();
    double spacing = 0;
    for (size_t i = 1; i < X.size(); ++i) {
      if (X[i] >= set.TCAL[k]) {
        spacing = X[i] - X[i - 1];
        break;
      }
    }
    const bool fractions = design.stored.ITIME <= 2;
    throw RunError(where + ": analyses " + std::to_string(k) + " and " + std::to_string(k + 1) +
                   " fall on the same point of the information grid (spacing " +
                   num(spacing, "%.4f") + " in time" +
                   (fractions ? std::string(", ") + set_name(label) : std::string()) +
                   "); move them further apart");
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
void check_results(const Design& design, const RunResults& r, std::string_view label) {
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

namespace {

void run_design(const Design& design, RunContext& ctx, const RunOptions& options,
                const Calculations& calc, RunStore& store) {
  Reports& rep = ctx.reports;
  const DeckValues& v = design.stored;
  record_design_start(options.record, design);
  write_design_banner(rep.console());
  write_input_summary(rep.main(), v);
  write_copula_banner(rep.console(), v.CPL);
  const std::string where = "design " + std::to_string(design.number);
  if (v.CPL >= 1 && v.CPL <= 3) {
    try {
      store.THETA = calc.copula(v.CPL, NGRID, v.RHO, rep.main()).theta;
      store.THETATR = calc.copula(v.CPL, NGRID, v.RHOTR, rep.main()).theta;
    } catch (const RunError& e) {
      stop_in(where, e);
    }
  }
  record_copula(options.record, store.THETA, store.THETATR);
  const survival::InformationInput in = survival::information_input(v, store.THETA);
  auto evaluate = [&](const InformationSet& set, std::size_t which, std::string_view label) {
    const auto& spending = design.spending.at(which);
    check_information_set(design, in, set, label);
    samplesize::Evaluation e;
    try {
      e = calc.evaluate(design, set, spending, store.THETA, store.THETATR, ctx);
    } catch (const RunError& err) {
      stop_in(where + ", " + set_name(label), err);
    }
    // A search that ended by a safeguard or below its target says so in the main report and on
    // standard error, not only in the results file.
    samplesize::SearchResult ended;
    ended.end = e.end;
    ended.below_target = e.below_target;
    ended.MSS = e.MSS;
    ended.APW = e.APW;
    const std::string warning = samplesize::search_warning(design.number, label, ended, v.POWER);
    if (!warning.empty()) {
      put(rep.main(), fmt::list({std::string_view(warning)}));
      if (options.notes) *options.notes << warning << '\n';
    }
    keep_results(e, store.results);
    check_results(design, store.results, label);
    record_evaluation(options.record, label, set, e);
    put(rep.summary(), summary_line(label, v, store.results));
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
      evaluate(sets.ep1_driven, which++, kLabelEp1);
    }
    put(rep.main(), fmt::list({std::string_view("---> INFORMATION TIME BY ENP2")}));
    evaluate(sets.ep2_driven, which, kLabelEp2);
  } else {
    InformationSet set;
    try {
      set = calc.calendar(in, ctx.generator, rep);
    } catch (const RunError& e) {
      stop_in(where, e);
    }
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

}  // namespace

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
  for (const DeckRecord& rec : deck.designs) run_design(rec.design, ctx, options, calc, store);
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

  // Each report is written beside its final name and renamed into place when it is closed: at
  // the end of the run, or at a terminal error with everything written so far.
  ReportFile main(dir / kMainReportPath, kMainReportPath);
  ReportFile summary(dir / kSummaryPath, kSummaryPath);
  ReportFile matrix(dir / kMatrixPath, kMatrixPath);
  std::optional<ReportFile> unit60;
  auto unit60_stream = [&]() -> std::ostream& {
    if (!unit60) unit60.emplace(dir / kUnit60Path, kUnit60Path);
    return unit60->stream();
  };
  Reports reports(main.stream(), summary.stream(), matrix.stream(), console, unit60_stream);
  // What the run computed, for the results file and the HTML report beside the reports.
  RunRecord record;
  record.version = KESTREL_VERSION;
  record.header = deck.header;
  record.seed = options.seed;
  if (options.mvn_accuracy) record.mvn_accuracy = *options.mvn_accuracy;
  RunOptions run_options = options;
  run_options.record = &record;
  if (!run_options.notes) run_options.notes = &notes;
  numerics::UniformGenerator generator([&record] {
    const std::int32_t seed = numerics::UniformGenerator::wall_clock_seed();
    if (!record.seed) record.seed = seed;
    return seed;
  });
  mvn::MvnState mvn_state;
  RunContext ctx{reports, generator, mvn_state};
  // Closes every report, each on its own, and returns the first problem (or nothing).
  auto close_all = [&]() -> std::string {
    std::string problem;
    for (ReportFile* f : {&main, &summary, &matrix, unit60 ? &*unit60 : nullptr}) {
      if (f == nullptr) continue;
      try {
        f->close();
      } catch (const RunError& e) {
        if (problem.empty()) problem = e.what();
      }
    }
    return problem;
  };
  try {
    run_deck(deck, ctx, run_options, calc);
  } catch (...) {
    console.flush();
    // The calculation's stop is the message of the run; a report that could not be put in
    // place is noted beside it.
    const std::string problem = close_all();
    if (!problem.empty()) notes << "kestrel: " << problem << "\n";
    record_error(record, std::current_exception());
    write_run_record(record, dir / "a", notes);
    throw;
  }
  const std::string problem = close_all();
  if (!problem.empty()) {
    const RunError error(problem);
    record_error(record, std::make_exception_ptr(error));
    write_run_record(record, dir / "a", notes);
    throw error;
  }
  write_run_record(record, dir / "a", notes);
  console.flush();
}

}  // namespace kestrel::driver
