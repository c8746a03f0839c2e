// Whole runs of the program on the futility example: futility bounds at -8 give the design
// without futility (summary file and console byte for byte), and simulated trials stop for
// futility, analysis by analysis, at the rates the analytic figures give.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "reports/results_reader.h"

namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct DeckOutcome {
  int status = -1;
  std::string summary, console, results;
};

DeckOutcome run(const std::string& deck) {
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("kestrel-futility-" + std::to_string(rd()));
  fs::create_directories(dir / "a");
  std::ofstream(dir / "a" / "input.txt") << deck;
  const std::string cmd = std::string(KESTREL_BINARY) + " -C " + dir.string() + " --seed 2026 >" +
                          (dir / "console.txt").string() + " 2>&1";
  const int rc = std::system(cmd.c_str());
  DeckOutcome r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.summary = read(dir / "a" / "TEST_7b.OUT");
  r.console = read(dir / "console.txt");
  r.results = read(dir / "a" / "kestrel-results.json");
  std::error_code ec;
  fs::remove_all(dir, ec);
  return r;
}

// The example deck's design record, with `nsim` simulated trials, at the given size of 700
// subjects (the power of that size, no search: quick).
std::string record(int nsim) {
  std::string deck = read(fs::path(KESTREL_SOURCE_DIR) / "examples" / "futility.txt");
  deck = deck.substr(0, deck.find("FUTILITY"));
  return deck.replace(deck.find("\n0 2 3 1 1 0") + 1, 11, std::to_string(nsim) + " 2 3 1 1 700");
}

TEST(FutilityDeck, BoundsAtMinusEightGiveTheDesignWithoutFutility) {
  const DeckOutcome plain = run(record(0));
  const DeckOutcome low = run(record(0) + "FUTILITY Z -8 -8\n");
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(low.status, 0);
  EXPECT_EQ(plain.summary, low.summary);
  EXPECT_EQ(plain.console, low.console);
}

TEST(FutilityDeck, SimulatedStopsMatchTheAnalyticOnes) {
  const int nsim = 2000;
  const DeckOutcome r = run(record(nsim) + "FUTILITY SPENDING 1\n");
  ASSERT_EQ(r.status, 0) << r.console;
  const kestrel::driver::RunRecord rec = kestrel::driver::read_results_json(r.results);
  const auto& e = rec.designs.at(0).sets.at(0).evaluation;
  ASSERT_TRUE(e.simulation.has_value());
  const auto& s = *e.simulation;
  ASSERT_EQ(s.F.size(), 3u);
  auto within = [&](double sim, double p) { return std::fabs(sim - p) <= 4 * std::sqrt(p * (1 - p) / nsim); };
  EXPECT_TRUE(within(s.PWC, e.APW)) << s.PWC << " " << e.APW;
  for (int k = 0; k < 2; ++k) {
    EXPECT_TRUE(within(s.F[k], e.QFUT[k])) << "analysis " << k + 1 << ": " << s.F[k] << " " << e.QFUT[k];
    EXPECT_GT(e.QFUT[k], 0.03);
  }
  EXPECT_EQ(s.F[2], 0.0);  // the final analysis decides; no futility stop there
  // Every trial ends: success, futility or the final analysis.
  double total = 0;
  for (int k = 0; k < 3; ++k) total += e.QSTOP[k] + e.QFUT[k];
  EXPECT_NEAR(total, 1.0, 1e-6);
  // Under the nulls: the futility stops only lower the type I error; each endpoint's efficacy
  // bounds spend at most alpha, which the partial nulls (the other endpoint at its alternative)
  // nearly reach, and the trial reaches the later analyses less often than under the alternative.
  ASSERT_EQ(e.nulls.size(), 3u);
  for (const auto& f : e.nulls) {
    SCOPED_TRACE(f.hypothesis);
    EXPECT_LE(f.type1, f.type1_without_futility);
    EXPECT_LE(f.type1_without_futility, 0.025 + 1e-6);
    EXPECT_LT(f.REACH[1], e.REACH[1]);
  }
  EXPECT_GT(e.nulls[1].type1_without_futility, 0.02);
  EXPECT_LT(e.nulls[0].type1_without_futility, e.nulls[1].type1_without_futility);
}

}  // namespace
