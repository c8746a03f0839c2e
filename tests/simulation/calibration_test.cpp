// The whole program on small decks with simulation: the simulated power of a design, with the
// simulation values equal to the design values, agrees with the analytic power of the sample-size
// search; with hazard ratios of 1 each endpoint is rejected at its alpha; the same seed repeats a
// run byte for byte. The decks keep one analysis so that a run takes well under a second; a larger
// run with two analyses and 4000 trials per design is tests/simulation/calibration_run.sh.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct DeckRun {
  int status = -1;
  std::string main, summary, console;
};

DeckRun run_deck(const std::string& name, const std::string& deck, int seed) {
  // The process id keeps two suites run at once (two builds, two checkouts) out of each other's
  // folders.
  const fs::path dir = fs::temp_directory_path() / ("kestrel_calibration_" + name + "_" +
                                                    std::to_string(seed) + "_" +
                                                    std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "a");
  std::ofstream(dir / "a" / "input.txt") << deck;
  const std::string cmd = std::string("\"") + KESTREL_BINARY + "\" -C \"" + dir.string() +
                          "\" --seed " + std::to_string(seed) + " > \"" +
                          (dir / "console.txt").string() + "\" 2>&1";
  DeckRun r;
  r.status = std::system(cmd.c_str());
  r.main = slurp(dir / "a" / "TEST_7a.OUT");
  r.summary = slurp(dir / "a" / "TEST_7b.OUT");
  r.console = slurp(dir / "console.txt");
  fs::remove_all(dir);
  return r;
}

// Fields of the summary line of design `index` (1-based), split at the commas.
std::vector<std::string> summary_fields(const std::string& summary, int index) {
  std::istringstream is(summary);
  std::string line;
  std::getline(is, line);  // header
  for (int i = 0; i < index; ++i) std::getline(is, line);
  std::vector<std::string> out;
  std::string cur;
  for (char c : line + ",") {
    if (c == ',') {
      const auto b = cur.find_first_not_of(' ');
      const auto e = cur.find_last_not_of(' ');
      out.push_back(b == std::string::npos ? "" : cur.substr(b, e - b + 1));
      cur.clear();
    } else {
      cur += c;
    }
  }
  return out;
}

// Columns of the summary line: MSS, APW and the simulated PWCS, PWDS, PW1S, PW2 (percent).
struct Summary {
  int MSS = 0;
  double APW = 0, PWCS = 0, PWDS = 0, PW1S = 0, PW2 = 0;
};
Summary summary_of(const std::string& summary, int index) {
  const std::vector<std::string> f = summary_fields(summary, index);
  Summary s;
  if (f.size() < 31) return s;
  s.MSS = std::stoi(f[21]);
  s.APW = std::stod(f[22]) / 100;
  s.PWCS = std::stod(f[27]) / 100;
  s.PWDS = std::stod(f[28]) / 100;
  s.PW1S = std::stod(f[29]) / 100;
  s.PW2 = std::stod(f[30]) / 100;
  return s;
}

constexpr int kTrials = 1000;

// Design 1: calendar time of the single analysis 5 (accrual 2, follow-up 3), Clayton, rule 1.
// Design 2: information fraction 1 driven by EP2, Frank, rule 3 (fixed sequence).
// Hazard ratios are written control over treatment (1.4286 = a treatment hazard of 0.70).
std::string calibration_deck(const char* hr_sim1, const char* hr_sim2) {
  std::ostringstream d;
  d << "0 0 0.0 0.0\n'calibration of the simulated power'\n"
    << kTrials << " 3 1 1 1 0\n"
    << "1.4286 1.4286 0.3 " << hr_sim1 << " " << hr_sim1 << " 0.3\n"
    << "2.0 3.0 0.3 0.4 0.5 1\n0.025 0 0.8 1 1 3 1 1\n5.0\n"
    << kTrials << " 2 3 1 1 0\n"
    << "1.4286 1.25 0.4 " << hr_sim1 << " " << hr_sim2 << " 0.4\n"
    << "2.0 2.0 0.3 0.4 0.5 1\n0.025 0 0.8 3 1 3 2 2\n1.0\n";
  return d.str();
}

TEST(Calibration, SimulatedPowerAgreesWithAnalyticPower) {
  const DeckRun r = run_deck("power", calibration_deck("1.4286", "1.25"), 20261207);
  ASSERT_EQ(r.status, 0) << r.console;
  for (int design = 1; design <= 2; ++design) {
    const Summary s = summary_of(r.summary, design);
    ASSERT_GT(s.MSS, 0) << r.summary;
    EXPECT_GE(s.APW, 0.8);
    const double se = std::sqrt(s.APW * (1 - s.APW) / kTrials);
    EXPECT_NEAR(s.PWCS, s.APW, 3 * se) << "design " << design << "\n" << r.summary;
    EXPECT_GE(s.PWDS, s.PWCS);
  }
  EXPECT_NE(r.console.find("ASSESSMENT BY SIMULATION"), std::string::npos);
  std::printf("%s", r.summary.c_str());
}

TEST(Calibration, NullHazardRatiosRejectEachEndpointAtAlpha) {
  // The simulation ratios 1 describe no effect: each endpoint is rejected in about 2.5% of the
  // trials whatever the size the design asked for.
  const DeckRun r = run_deck("null", calibration_deck("1.0", "1.0"), 777);
  ASSERT_EQ(r.status, 0) << r.console;
  const double se = std::sqrt(0.025 * 0.975 / kTrials);
  const Summary s1 = summary_of(r.summary, 1);
  EXPECT_NEAR(s1.PW1S, 0.025, 3 * se) << r.summary;
  EXPECT_NEAR(s1.PW2, 0.025, 3 * se) << r.summary;
  // Under the fixed sequence EP2 is only tested after EP1, so only EP1 is rejected at alpha.
  const Summary s2 = summary_of(r.summary, 2);
  EXPECT_NEAR(s2.PW1S, 0.025, 3 * se) << r.summary;
  EXPECT_LE(s2.PW2, s2.PW1S);
  std::printf("%s", r.summary.c_str());
}

TEST(Calibration, SameSeedSameReportsDifferentSeedDifferentFigures) {
  // The first design alone.
  std::string deck = calibration_deck("1.4286", "1.25");
  deck = deck.substr(0, deck.find("5.0\n") + 4);
  const DeckRun a = run_deck("seed_a", deck, 31337);
  const DeckRun b = run_deck("seed_b", deck, 31337);
  const DeckRun c = run_deck("seed_c", deck, 31338);
  ASSERT_EQ(a.status, 0);
  EXPECT_EQ(a.main, b.main);
  EXPECT_EQ(a.summary, b.summary);
  EXPECT_EQ(a.console, b.console);
  const Summary sa = summary_of(a.summary, 1), sc = summary_of(c.summary, 1);
  EXPECT_EQ(sa.APW, sc.APW);  // the analytic figures do not depend on the seed
  EXPECT_NE(a.console, c.console);
  EXPECT_TRUE(sa.PWCS != sc.PWCS || sa.PW1S != sc.PW1S || sa.PW2 != sc.PW2);
}

}  // namespace
