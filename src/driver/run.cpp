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

std::string read_file(const std::filesystem::path& p, bool& ok) {
  std::ifstream in(p, std::ios::binary);
  ok = static_cast<bool>(in);
  std::ostringstream ss;
  if (ok) ss << in.rdbuf();
  return ss.str();
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
  for (const DeckRecord& rec : deck.designs) {
    const Design& design = rec.design;
    DesignRecord scratch;
    record_design_start(options.record, design);
    DesignRecord& into = options.record ? options.record->designs.back() : scratch;
    calculate_design(
        design, ctx, store, into,
        [&](std::string_view label, const InformationSet&, const samplesize::Evaluation&) {
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
  bool ok = false;
  const std::string text = read_file(dir / kDeckPath, ok);
  if (!ok) throw DeckRejected({std::string("cannot open the input deck ") + kDeckPath});
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
