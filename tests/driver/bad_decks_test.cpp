// Every deck under tests/decks/bad/ holds one fault. Its first line names, after the four header
// values (text there is skipped), the deck line and the field the rejection must point at.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>
#include <vector>

#include "driver/test_dirs.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

struct BadDeck {
  std::string name;
  std::string text;
  int line = 0;
  std::string field;
};

std::vector<BadDeck> bad_decks() {
  std::vector<BadDeck> out;
  for (const auto& e : fs::directory_iterator(fs::path(KESTREL_SOURCE_DIR) / "tests/decks/bad")) {
    if (e.path().extension() != ".txt") continue;
    BadDeck d;
    d.name = e.path().stem().string();
    d.text = slurp(e.path());
    std::smatch m;
    std::string first = d.text.substr(0, d.text.find('\n'));
    static const std::regex re("expect: line=([0-9]+) field=(.*)$");
    if (std::regex_search(first, m, re)) {
      d.line = std::stoi(m[1]);
      d.field = m[2];
    }
    out.push_back(d);
  }
  return out;
}

TEST(BadDecks, AtLeastFifteenKindsAreKept) {
  auto decks = bad_decks();
  EXPECT_GE(decks.size(), 15u);
  for (const auto& d : decks) EXPECT_GT(d.line, 0) << d.name << " lacks its expectation line";
}

TEST(BadDecks, EachIsRejectedWithLineAndFieldAndLeavesEarlierReportsUntouched) {
  for (const auto& d : bad_decks()) {
    SCOPED_TRACE(d.name);
    ScratchDir dir;
    spit(dir / "a/input.txt", d.text);
    // Reports of an earlier run.
    const std::string earlier_main = "earlier main report\n";
    const std::string earlier_summary = "earlier summary\n";
    const std::string earlier_matrix = "earlier matrices\n";
    spit(dir / "a/TEST_7a.OUT", earlier_main);
    spit(dir / "a/TEST_7b.OUT", earlier_summary);
    spit(dir / "a/CORR_MAT_given_TIME.TXT", earlier_matrix);

    ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("a/input.txt:" + std::to_string(d.line) + ":"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(d.field), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "a/TEST_7a.OUT"), earlier_main);
    EXPECT_EQ(slurp(dir / "a/TEST_7b.OUT"), earlier_summary);
    EXPECT_EQ(slurp(dir / "a/CORR_MAT_given_TIME.TXT"), earlier_matrix);
    EXPECT_FALSE(fs::exists(dir / "fort.60"));
    EXPECT_EQ(r.out, "");  // no calculation started
  }
}

TEST(BadDecks, HarmfulHazardRatioMessageShowsTheReciprocal) {
  ScratchDir dir;
  spit(dir / "a/input.txt",
       slurp(fs::path(KESTREL_SOURCE_DIR) / "tests/decks/bad/harmful_hazard_ratio_search.txt"));
  ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("HR2 = 0.7"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("control over treatment"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1.428571429"), std::string::npos) << r.err;
}

TEST(CommandLine, MissingDeckIsRejectedWithoutWritingReports) {
  ScratchDir dir;
  ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("a/input.txt"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "a/TEST_7a.OUT"));
}

TEST(CommandLine, BadOptionsExitWithTwo) {
  ScratchDir dir;
  EXPECT_EQ(run_kestrel(dir, "--frobnicate").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--seed 0").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--seed 2147483647").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--seed 12x").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy 0").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy 1e-3").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy 1e-11").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy=nan").status, 2);
  const ProgramRun bad = run_kestrel(dir, "--mvn-accuracy 1e-6x");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--mvn-accuracy takes a number from 1e-10 to 1e-4, not '1e-6x'"), std::string::npos);
  EXPECT_EQ(run_kestrel(dir, "-C").status, 2);
  EXPECT_EQ(run_kestrel(dir, "-C '" + (dir / "no-such-dir").string() + "'").status, 2);
}

TEST(CommandLine, HelpAndVersion) {
  ScratchDir dir;
  ProgramRun h = run_kestrel(dir, "--help");
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("--seed"), std::string::npos);
  EXPECT_NE(h.out.find("--mvn-accuracy EPS"), std::string::npos);
  EXPECT_NE(h.out.find("-C DIR"), std::string::npos);
  ProgramRun v = run_kestrel(dir, "--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, std::string("kestrel ") + KESTREL_VERSION + "\n");
}

TEST(CommandLine, BoundsSubcommandIsHandedItsOptions) {
  ScratchDir dir;
  ProgramRun help = run_kestrel(dir, "bounds --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--alpha"), std::string::npos);
  ProgramRun bad = run_kestrel(dir, "bounds --alpha 2");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--alpha"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "a/TEST_7a.OUT"));
}

TEST(CommandLine, DeckWithoutDesignsWritesTheStartUpReports) {
  ScratchDir dir;
  spit(dir / "a/input.txt", "0 0 0 0\n'no designs'\n");
  spit(dir / "fort.60", "left from before\n");
  ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(dir / "a/TEST_7a.OUT"), "");
  EXPECT_EQ(slurp(dir / "a/CORR_MAT_given_TIME.TXT"), "");
  std::string summary = slurp(dir / "a/TEST_7b.OUT");
  EXPECT_EQ(summary.substr(0, 12), "    ITM   CP");
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 1);
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace kestrel::testing
