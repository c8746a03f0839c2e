// Whole designs at the default accuracy, before and after the staged search and the lattice
// rules that go on from their sums:
//   IssueDeck/K/rule/digits/after   the deck below (EP2-timed looks at equal steps up to 1,
//                                   O'Brien-Fleming type spending for both endpoints) with the
//                                   rule in the sixth line and the probabilities asked to
//                                   10^-digits; after = 1: the program as it runs (staged size
//                                   search, continued lattice rules); after = 0: every search
//                                   step at the requested accuracy and every budget starting
//                                   the lattice rules afresh (as before)
//   ExampleDeck/i/after              the example decks (examples/*.txt) in the same two
//                                   ways
// The times are process CPU seconds (every thread) and wall seconds; KESTREL_THREADS sets the
// threads. The figures of docs/speed-and-accuracy.md: the K = 5 table and the examples,
//   KESTREL_THREADS=2 build/release/fast_designs_bench --benchmark_filter='IssueDeck/5/.*/1|ExampleDeck/./1'
// and the K = 10 rows (minutes each),
//   KESTREL_THREADS=2 build/release/fast_designs_bench --benchmark_filter='IssueDeck/10/' The K = 5 'before' rows take tens of seconds and the K = 10 rows minutes to hours:
// run a selection with --benchmark_filter, e.g. 'IssueDeck/5/./8/1'.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/reports.h"
#include "common/run_context.h"
#include "deck/deck.h"
#include "driver/design_calculation.h"
#include "driver/run.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "samplesize/engine.h"

namespace {

using namespace kestrel;

std::string issue_deck(int K, int rule) {
  std::ostringstream s;
  s << "0 0 0.0 0.0\n'K=" << K << "'\n0 2 1 1 1 0\n1.4286 1.4286 0.5 1.4286 1.4286 0.5\n"
    << "2.0 3.0 0.3 0.4 0.5 1\n0.025 0 0.8 " << rule << ' ' << K << " 3 1 1\n";
  for (int k = 1; k <= K; ++k) s << static_cast<double>(k) / K << (k < K ? ' ' : '\n');
  return s.str();
}

std::string example_deck(int i) {
  static const char* const names[] = {"calendar_times", "dropout_and_ramp", "fractions_both_endpoints",
                                      "fractions_ep2_timed"};
  std::ifstream in(std::filesystem::path(KESTREL_SOURCE_DIR) / "examples" / (std::string(names[i]) + ".txt"));
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs every design of the deck; returns the first design's first MSS through the summary file.
void run(benchmark::State& state, const std::string& text, double accuracy, bool after) {
  driver::Calculations calc = driver::Calculations::standard();
  samplesize::EngineOptions options;
  options.staged_search = after;
  calc.evaluate = [options](const Design& d, const InformationSet& set,
                            const std::array<SpendingStatement, 2>& spending, double theta, double thetatr,
                            RunContext& ctx) {
    return samplesize::evaluate_design(d, set, spending, theta, thetatr, ctx, options);
  };
  const deck::Deck deck = deck::read_deck(text);
  driver::RunOptions ro;
  ro.seed = 12345;
  ro.mvn_accuracy = accuracy;
  for (auto _ : state) {
    MemoryReports mem;
    numerics::UniformGenerator gen{[] { return 12345; }};
    mvn::MvnState mvn;
    mvn.set_method(after ? mvn::LatticeMethod::weighted : mvn::LatticeMethod::restart);
    mvn.set_reuse(after);  // as a deck run
    RunContext ctx{mem.reports, gen, mvn};
    driver::run_deck(deck, ctx, ro, calc);
    benchmark::DoNotOptimize(mem.summary.str());
  }
}

void BM_IssueDeck(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0)), rule = static_cast<int>(state.range(1));
  run(state, issue_deck(K, rule), std::pow(10.0, -static_cast<double>(state.range(2))), state.range(3) != 0);
}
BENCHMARK(BM_IssueDeck)
    ->ArgsProduct({{5}, {1, 2, 3, 4}, {6, 8}, {0, 1}})
    ->ArgsProduct({{10}, {1, 2, 3}, {6, 8}, {1}})
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

void BM_ExampleDeck(benchmark::State& state) {
  run(state, example_deck(static_cast<int>(state.range(0))), 1e-8, state.range(1) != 0);
}
BENCHMARK(BM_ExampleDeck)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
