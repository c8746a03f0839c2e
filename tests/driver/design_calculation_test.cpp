// The calculation of designs without files: the same figures and report lines as the deck run,
// the same simulated results for the same seed, and bad values refused with the core's error.
#include "driver/design_calculation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/errors.h"
#include "deck/deck.h"
#include "driver/run.h"
#include "common/test_dirs.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"

namespace kestrel::driver {
namespace {

deck::Deck source_deck(const std::string& path) {
  deck::Deck deck = deck::read_deck(testing::slurp(std::filesystem::path(KESTREL_SOURCE_DIR) / path));
  EXPECT_TRUE(deck::check_deck(deck).empty());
  return deck;
}

// A simulated design followed by one without simulation, both at a given size: the calculator
// fed the designs one by one writes the deck run's main report (after its seed line) and its
// summary lines, the second carrying the first design's simulated powers as the deck run does.
TEST(DesignCalculator, DesignsOneByOneGiveTheDeckRun) {
  const deck::Deck deck = source_deck("tests/decks/report/simulated_then_not.txt");
  ASSERT_EQ(deck.designs.size(), 2u);
  MemoryReports mem;
  numerics::UniformGenerator gen([] { return 4711; });
  mvn::MvnState mvn;
  RunContext ctx{mem.reports, gen, mvn};
  RunOptions options;
  options.seed = 24680;
  run_deck(deck, ctx, options);

  CalculationOptions copts;
  copts.seed = 24680;
  std::string console;
  copts.console_line = [&](std::string_view line) { console += std::string(line) + "\n"; };
  DesignCalculator calc(copts);
  std::string main, summary;
  std::vector<DesignCalculation> done;
  for (const deck::DeckRecord& rec : deck.designs) {
    done.push_back(calc.calculate(rec.design));
    main += done.back().main_report;
    for (const std::string& l : done.back().summary_lines) summary += l + "\n";
  }
  const std::string deck_main = mem.main.str();
  ASSERT_EQ(deck_main.rfind(" SEED OF THE UNIFORM GENERATOR", 0), 0u);
  EXPECT_EQ(main, deck_main.substr(deck_main.find('\n') + 1));
  const std::string deck_summary = mem.summary.str();
  EXPECT_EQ(summary, deck_summary.substr(deck_summary.find('\n') + 1));
  EXPECT_EQ(console, mem.console.str());
  ASSERT_TRUE(done[0].record.complete);
  ASSERT_EQ(done[0].record.sets.size(), 1u);
  EXPECT_TRUE(done[0].record.sets[0].evaluation.simulation.has_value());
  EXPECT_FALSE(done[1].record.sets[0].evaluation.simulation.has_value());
  EXPECT_EQ(done[0].record.sets[0].evaluation.MSS, 300);  // the given size
  EXPECT_EQ(calc.seed(), std::optional<std::int32_t>(24680));
  // Each design starts the generators as the deck run does, so the second design alone gives
  // the same figures to the last bit (only its summary line lacks the first one's simulation).
  DesignCalculator alone(copts);
  const DesignCalculation second = alone.calculate(deck.designs[1].design);
  EXPECT_EQ(second.main_report, done[1].main_report);
  EXPECT_EQ(second.record.sets[0].evaluation.APW, done[1].record.sets[0].evaluation.APW);
  EXPECT_EQ(second.record.sets[0].evaluation.trace.size(), done[1].record.sets[0].evaluation.trace.size());
}

// The same seed repeats every simulated figure; another seed moves them.
TEST(DesignCalculator, SameSeedRepeatsTheSimulation) {
  const deck::Deck deck = source_deck("tests/decks/report/simulated_then_not.txt");
  auto simulate = [&](std::int32_t seed) {
    CalculationOptions o;
    o.seed = seed;
    DesignCalculator calc(o);
    return *calc.calculate(deck.designs[0].design).record.sets[0].evaluation.simulation;
  };
  const auto a = simulate(111), b = simulate(111), c = simulate(112);
  EXPECT_EQ(a.PWC, b.PWC);
  EXPECT_EQ(a.PW1, b.PW1);
  EXPECT_EQ(a.E1, b.E1);
  EXPECT_EQ(a.R, b.R);
  EXPECT_TRUE(a.PWC != c.PWC || a.PW1 != c.PW1 || a.PW2 != c.PW2 || a.E1 != c.E1);
}

// Statements of no loss and one accrual piece leave the simulated design exactly as it was (main
// report, summary line and every simulated figure for the same seed); real loss moves the
// simulated figures and the expected events.
TEST(DesignCalculator, NoLossAndOnePieceAreThePlainDesign) {
  const std::string path = "tests/decks/report/simulated_then_not.txt";
  const std::string text = testing::slurp(std::filesystem::path(KESTREL_SOURCE_DIR) / path);
  const std::string first = text.substr(0, text.find("\n0 3 1") + 1);  // header + design 1
  auto calculate = [&](const std::string& extra) {
    const deck::Deck deck = deck::read_deck(first + extra);
    EXPECT_TRUE(deck::check_deck(deck).empty());
    CalculationOptions o;
    o.seed = 13579;
    DesignCalculator calc(o);
    return calc.calculate(deck.designs[0].design);
  };
  const DesignCalculation plain = calculate("");
  const DesignCalculation zero = calculate("DROPOUT HAZARD 0 /\nACCRUAL 1 2.0 1\n");
  EXPECT_EQ(zero.main_report, plain.main_report);
  EXPECT_EQ(zero.summary_lines, plain.summary_lines);
  const auto& a = *plain.record.sets[0].evaluation.simulation;
  const auto& b = *zero.record.sets[0].evaluation.simulation;
  EXPECT_EQ(a.PWC, b.PWC);
  EXPECT_EQ(a.R, b.R);
  const DesignCalculation lossy = calculate("DROPOUT HAZARD 0.1 0.2\n");
  EXPECT_LT(lossy.record.sets[0].evaluation.ME1, plain.record.sets[0].evaluation.ME1);
  EXPECT_NE(lossy.record.sets[0].evaluation.simulation->E1, a.E1);
}

// A value out of range is refused before any calculation, naming the design, the field and the
// value; the calculator stays usable.
TEST(DesignCalculator, BadValueIsRefusedNamingDesignAndField) {
  const deck::Deck deck = source_deck("tests/decks/report/simulated_then_not.txt");
  Design d = deck.designs[1].design;
  d.number = 7;
  d.read.RHO = 1.0;
  d.stored = deck::stored_values(d.read);
  DesignCalculator calc;
  try {
    calc.calculate(d);
    ADD_FAILURE() << "RHO = 1 accepted";
  } catch (const RunError& e) {
    EXPECT_EQ(e.design(), 7);
    EXPECT_EQ(e.field(), "RHO");
    EXPECT_NE(std::string(e.what()).find("design 7: RHO = 1"), std::string::npos) << e.what();
  }
  Design s = deck.designs[1].design;
  s.spending.clear();  // the statements of the boundary designs are missing
  EXPECT_THROW(check_design(s), RunError);
  EXPECT_NO_THROW(check_design(deck.designs[1].design));
}

// The line callback is where a caller stops a long calculation: what it throws comes out of
// calculate() unchanged (the console stream does not swallow it).
TEST(DesignCalculator, CallerStopsTheCalculationFromTheConsoleLine) {
  const deck::Deck deck = source_deck("tests/decks/report/simulated_then_not.txt");
  struct Stop {};
  int lines = 0;
  CalculationOptions o;
  o.console_line = [&](std::string_view) {
    if (++lines == 2) throw Stop{};
  };
  DesignCalculator calc(o);
  EXPECT_THROW(calc.calculate(deck.designs[1].design), Stop);
  EXPECT_EQ(lines, 2);
}

}  // namespace
}  // namespace kestrel::driver
