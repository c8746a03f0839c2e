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
#include "reports/report_file.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "survival/information_kernel.h"

namespace kestrel::driver {
namespace {

void put(std::ostream& os, const std::string& line) { os << line << '\n'; }

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
  if (options.exact) ctx.exact = true;  // each design's input summary names the model
  put(rep.summary(), summary_header());
  rep.summary().flush();

  RunStore store;
  for (const DeckRecord& rec : deck.designs) {
    const Design& design = rec.design;
    DesignRecord scratch;
    record_design_start(options.record, design);
    DesignRecord& into = options.record ? options.record->designs.back() : scratch;
    calculate_design(
        design, ctx, store, into,
        [&](std::string_view label, const InformationSet&, const samplesize::Evaluation&) {
          const std::string& warning = into.sets.back().warning;
          if (!warning.empty() && options.notes) *options.notes << warning << '\n';
          put(rep.summary(), summary_line(label, design.stored, store.results));
        },
        calc);
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
  record.exact = options.exact;
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
