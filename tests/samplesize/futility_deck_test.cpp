// Whole runs of the program on the futility example: futility bounds at -8 give the design
// without futility (summary file and console byte for byte), and simulated trials stop for
// futility, analysis by analysis, at the rates the analytic figures give.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
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
  std::string summary, console, results, main;
};

DeckOutcome run(const std::string& deck, const std::string& options = "") {
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("kestrel-futility-" + std::to_string(rd()));
  fs::create_directories(dir / "a");
  std::ofstream(dir / "a" / "input.txt") << deck;
  const std::string cmd = std::string(KESTREL_BINARY) + " -C " + dir.string() + " --seed 2026 " + options + " >" +
                          (dir / "console.txt").string() + " 2>&1";
  const int rc = std::system(cmd.c_str());
  DeckOutcome r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.summary = read(dir / "a" / "TEST_7b.OUT");
  r.console = read(dir / "console.txt");
  r.results = read(dir / "a" / "kestrel-results.json");
  r.main = read(dir / "a" / "TEST_7a.OUT");
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
  const kestrel::reports::RunRecord rec = kestrel::reports::read_results_json(r.results);
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
  ASSERT_EQ(e.nulls.size(), 4u);
  EXPECT_EQ(e.nulls[0].hypothesis, "alternative");
  EXPECT_EQ(e.nulls[0].success, e.APW);
  EXPECT_EQ(e.nulls[0].QFUT, e.QFUT);
  EXPECT_NEAR(e.nulls[0].AVE1, e.AVE1, 1e-9);
  EXPECT_NEAR(e.nulls[0].AVE2, e.AVE2, 1e-9);
  EXPECT_GT(e.nulls[0].success_without_futility, e.APW);  // the power the futility stops cost
  for (size_t h = 1; h < e.nulls.size(); ++h) {
    const auto& f = e.nulls[h];
    SCOPED_TRACE(f.hypothesis);
    EXPECT_LE(f.success, f.success_without_futility);
    EXPECT_LE(f.success_without_futility, 0.025 + 1e-6);
    EXPECT_LT(f.REACH[1], e.REACH[1]);
    EXPECT_LT(f.duration, e.nulls[0].duration);  // the trial stops sooner under a null
  }
  EXPECT_GT(e.nulls[2].success_without_futility, 0.02);
  EXPECT_LT(e.nulls[1].success_without_futility, e.nulls[2].success_without_futility);
}

// The console without the block of operating characteristics (an empty line, its heading and
// its lines, each starting with two blanks).
std::string without_block(const std::string& console) {
  std::istringstream in(console);
  std::string out, line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind(" OPERATING CHARACTERISTICS", 0) == 0) {
      inside = true;
      out.pop_back();  // the empty line before it
      continue;
    }
    if (inside && line.rfind("  ", 0) == 0) continue;
    inside = false;
    out += line + "\n";
  }
  return out;
}

TEST(FutilityDeck, UnderNullsOnlyAddsTheFiguresUnderTheNulls) {
  // A design without futility stops: --under-nulls leaves the summary, the main report and the
  // console as they were but for its block, and adds the figures to the results file.
  const DeckOutcome plain = run(record(0));
  const DeckOutcome nulls = run(record(0), "--under-nulls");
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(nulls.status, 0);
  EXPECT_EQ(plain.summary, nulls.summary);
  EXPECT_EQ(plain.main, nulls.main);
  EXPECT_EQ(plain.console.find("OPERATING CHARACTERISTICS"), std::string::npos);
  EXPECT_NE(nulls.console.find("OPERATING CHARACTERISTICS"), std::string::npos);
  EXPECT_EQ(plain.console, without_block(nulls.console));
  EXPECT_EQ(plain.results.find("\"nulls\""), std::string::npos);
  EXPECT_EQ(plain.results.find("under_nulls"), std::string::npos);
  const kestrel::reports::RunRecord rec = kestrel::reports::read_results_json(nulls.results);
  EXPECT_TRUE(rec.under_nulls);
  const auto& e = rec.designs.at(0).sets.at(0).evaluation;
  ASSERT_EQ(e.nulls.size(), 4u);
  EXPECT_TRUE(e.REACH.empty());  // no futility stops
  for (const auto& f : e.nulls) {
    double ends = 0;  // every trial ends: success or the final analysis
    for (size_t k = 0; k < f.REACH.size(); ++k) ends += f.QSTOP[k] + f.QFUT[k];
    EXPECT_NEAR(ends, 1.0, 1e-6) << f.hypothesis;
  }
}

TEST(FutilityDeck, SimulatedNullStopsMatchTheAnalyticOnes) {
  // The example design simulated under the global null (HR1TR = HR2TR = 1): its futility stops
  // per analysis and its rejections of both endpoints at the analytic figures under that null.
  const int nsim = 2000;
  std::string deck = record(nsim) + "FUTILITY SPENDING 1\n";
  deck.replace(deck.find("1.4286 1.4286 0.5 1.4286 1.4286 0.5"), 35, "1.4286 1.4286 0.5 1 1 0.5");
  const DeckOutcome r = run(deck);
  ASSERT_EQ(r.status, 0) << r.console;
  const kestrel::reports::RunRecord rec = kestrel::reports::read_results_json(r.results);
  const auto& e = rec.designs.at(0).sets.at(0).evaluation;
  ASSERT_TRUE(e.simulation.has_value());
  ASSERT_EQ(e.nulls.size(), 4u);
  const auto& g = e.nulls[1];
  ASSERT_EQ(g.hypothesis, "global");
  auto within = [&](double sim, double p) {
    return std::fabs(sim - p) <= 4 * std::sqrt(std::max(p * (1 - p), 1e-4) / nsim);
  };
  EXPECT_TRUE(within(e.simulation->PWC, g.success)) << e.simulation->PWC << " " << g.success;
  for (int k = 0; k < 2; ++k)
    EXPECT_TRUE(within(e.simulation->F[k], g.QFUT[k]))
        << "analysis " << k + 1 << ": " << e.simulation->F[k] << " " << g.QFUT[k];
}

}  // namespace
