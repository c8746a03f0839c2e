#include "driver/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "common/errors.h"
#include "common/loss_warnings.h"
#include "common/format.h"
#include "common/sha256.h"
#include "reports/html_report.h"
#include "reports/report_file.h"
#include "reports/results_json.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "survival/information_kernel.h"

namespace kestrel::driver {
namespace {

void put(std::ostream& os, const std::string& line) { os << line << '\n'; }

}  // namespace

void run_deck(const deck::Deck& deck, RunContext& ctx, const RunOptions& options,
              const Calculations& calc) {
  Reports& rep = ctx.reports;
  if (options.seed) {
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
  if (!options.selection.whole_deck()) {
    fmt::Record line;
    line.lit(" DESIGNS OF THIS RUN (" + options.selection.text() + " of " +
             std::to_string(deck.designs.size()) + "):");
    for (const deck::DeckRecord& rec : deck.designs)
      if (options.selection.selects(rec.design.number)) line.x(1).lit(std::to_string(rec.design.number));
    put(rep.main(), line);
  }
  if (options.exact) ctx.exact = true;  // each design's input summary names the model
  ctx.under_nulls = options.under_nulls;
  put(rep.summary(), reports::summary_header());
  rep.summary().flush();

  // The store carries the simulated powers of the last design that simulated into the summary
  // lines of later designs without simulation; in a partial run only the designs of the run.
  RunStore store;
  for (const deck::DeckRecord& rec : deck.designs) {
    const Design& design = rec.design;
    if (!options.selection.selects(design.number)) continue;
    start_design(ctx, options.seed, design.number);
    reports::DesignRecord scratch;
    reports::record_design_start(options.record, design);
    reports::DesignRecord& into = options.record ? options.record->designs.back() : scratch;
    // A value too wide for its report column is written in full; say which (also when the
    // design stops).
    auto name_overflows = [&]() {
      if (!options.notes) return;
      std::vector<std::string> named;
      for (const std::string& field : into.overflowed) {
        if (std::find(named.begin(), named.end(), field) != named.end()) continue;
        named.push_back(field);
        *options.notes << "kestrel: design " << design.number << ": " << field
                       << " does not fit its report column; it is written in full (the line is "
                          "longer)\n";
      }
      for (const std::string& at : into.filled) {
        *options.notes << "kestrel: design " << design.number << ": the calendar time of "
                       << at << " fills the six columns of the information table's TIME and "
                          "touches the analysis number before it; read the row's first figures "
                          "as the analysis number and the time (or state the times in a larger "
                          "unit)\n";
      }
    };
    if (options.notes) {
      for (const std::string& w :
           loss_warnings(design.entry_loss, design.entry_loss_statements, design.stored.TA,
                         design.stored.TF))
        *options.notes << "kestrel: warning: design " << design.number << ": " << w << '\n';
    }
    try {
      calculate_design(
          design, ctx, store, into,
          [&](std::string_view label, const InformationSet&, const samplesize::Evaluation&) {
            const std::string& warning = into.sets.back().warning;
            if (!warning.empty() && options.notes) *options.notes << warning << '\n';
            put(rep.summary(),
                reports::summary_line(label, design.stored, store.results, &into.overflowed));
          },
          calc);
    } catch (...) {
      name_overflows();
      throw;
    }
    name_overflows();
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

std::vector<std::string> deck_problems(const deck::Deck& deck) {
  std::vector<std::string> out;
  for (const deck::DeckProblem& p : deck::check_deck(deck)) out.push_back(p.message(kDeckPath));
  return out;
}

void run_directory(const std::filesystem::path& dir, const RunOptions& options,
                   std::ostream& console, std::ostream& notes, const Calculations& calc) {
  std::string text;
  deck::DeckProblem unreadable;
  if (!deck::read_deck_file(dir / kDeckPath, text, unreadable))
    throw DeckRejected({unreadable.message(kDeckPath)});
  const deck::Deck deck = deck::read_deck(text);
  std::vector<std::string> problems = deck_problems(deck);
  if (!problems.empty()) throw DeckRejected(std::move(problems));
  if (deck.designs.empty()) {
    // Nothing to calculate: the reports of an earlier run are not replaced by empty ones.
    if (deck.incomplete_record_line > 0) {
      throw DeckRejected({std::string(kDeckPath) + ":" +
                          std::to_string(deck.incomplete_record_line) +
                          ": design 1: the deck ends inside this record, so it holds no "
                          "complete design to calculate"});
    }
    throw DeckRejected({std::string(kDeckPath) +
                        ": the input deck holds no design record after its two header "
                        "statements: nothing to calculate"});
  }
  const int designs_in_deck = static_cast<int>(deck.designs.size());
  if (const std::string p = options.selection.check_against(designs_in_deck); !p.empty())
    throw SelectionRejected(p);
  if (deck.incomplete_record_line > 0) {
    notes << kDeckPath << ':' << deck.incomplete_record_line << ": design "
          << deck.incomplete_record_number
          << ": the deck ends inside this record; it is not calculated\n";
  }

  // Every report is opened, as a temporary file beside its final name, before the first
  // calculation: a report that cannot be created stops the run before anything is replaced.
  // All are put in place together at the end of the run, or at a terminal error with everything
  // written so far; or none is.
  reports::ReportFile main(dir / kMainReportPath, kMainReportPath);
  reports::ReportFile summary(dir / kSummaryPath, kSummaryPath);
  reports::ReportFile matrix(dir / kMatrixPath, kMatrixPath);
  std::optional<reports::ReportFile> unit60;
  unit60.emplace(dir / kUnit60Path, kUnit60Path);
  reports::ReportFile results(dir / kResultsPath, kResultsPath);
  reports::ReportFile html(dir / kHtmlReportPath, kHtmlReportPath);
  bool unit60_written = false;
  auto unit60_stream = [&]() -> std::ostream& {
    unit60_written = true;
    return unit60->stream();
  };
  Reports reports(main.stream(), summary.stream(), matrix.stream(), console, unit60_stream);
  // What the run computed, for the results file and the HTML report beside the reports.
  reports::RunRecord record;
  record.version = KESTREL_VERSION;
  record.header = deck.header;
  record.seed = options.seed;
  record.seed_given = options.seed;
  record.deck_sha256 = sha256_hex(text);
  record.designs_in_deck = designs_in_deck;
  record.selection = options.selection.text();
  if (options.mvn_accuracy) record.mvn_accuracy = *options.mvn_accuracy;
  record.exact = options.exact;
  record.under_nulls = options.under_nulls;
  RunOptions run_options = options;
  run_options.record = &record;
  if (!run_options.notes) run_options.notes = &notes;
  numerics::UniformGenerator generator([&record] {
    const std::int32_t seed = numerics::UniformGenerator::wall_clock_seed();
    if (!record.seed) record.seed = seed;
    return seed;
  });
  mvn::MvnState mvn_state;
  mvn_state.set_reuse(true);
  RunContext ctx{reports, generator, mvn_state};
  // Writes the results file and the HTML report, then puts every report in place, all or none:
  // each is written out and closed as its temporary file first, and only when all are complete
  // are they renamed onto their names, one after another. A report that cannot be written leaves
  // every earlier report (fort.60 included) as it was; the returned problem names it.
  auto close_all = [&]() -> std::string {
    results.stream() << reports::results_json(record);
    html.stream() << reports::html_report(record);
    if (!unit60_written) unit60.reset();  // fort.60 is written only by designs with fractions
    // fort.60 is written only by designs with information fractions. One left by an earlier
    // run would stand beside reports it does not belong to: it is removed, and said so, once
    // the new reports are complete.
    auto remove_stale_unit60 = [&]() {
      if (unit60_written) return;
      struct stat st;
      const std::filesystem::path stale = dir / kUnit60Path;
      if (::lstat(stale.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (::unlink(stale.c_str()) == 0) {
          notes << "kestrel: removed " << kUnit60Path
                << " of an earlier run: this run wrote no covariance blocks of information "
                   "fractions, and those of the earlier run do not belong to its reports\n";
        } else {
          notes << "kestrel: " << kUnit60Path
                << " is from an earlier run and could not be removed (" << std::strerror(errno)
                << "); it does not belong to these reports\n";
        }
      }
    };
    try {
      reports::ReportFile::put_all_in_place(
          {&main, &summary, &matrix, unit60 ? &*unit60 : nullptr, &results, &html},
          remove_stale_unit60);
    } catch (const RunError& e) {
      return e.what();
    }
    return {};
  };
  try {
    run_deck(deck, ctx, run_options, calc);
  } catch (...) {
    console.flush();
    reports::record_error(record, std::current_exception());
    // The calculation's stop is the message of the run; a report that could not be put in
    // place is noted beside it.
    const std::string problem = close_all();
    if (!problem.empty()) notes << "kestrel: " << problem << "\n";
    throw;
  }
  const std::string problem = close_all();
  console.flush();
  if (!problem.empty()) throw RunError(problem);
}

}  // namespace kestrel::driver
