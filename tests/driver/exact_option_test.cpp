// --exact through the program: the same deck run with and without it. The exact run names the
// model in force in each design's input summary, the results file and the HTML report, and its
// power differs from the default's (SR 0.75, where the two models part); the default run names
// nothing (its reports are the stored ones, checked byte for byte by the deck tests).
#include <gtest/gtest.h>

#include <string>

#include "common/test_dirs.h"

namespace kestrel::testing {
namespace {

const char* const kDeck =
    "0 0 0.0 0.0\n"
    "'exact model'\n"
    "0 3 1 1 1 0\n"
    "1.4286 1.4286 0.5 1.4286 1.4286 0.5\n"
    "2.0 3.0 0.3 0.4 0.75 1\n"
    "0.025 0 0.8 1 2 3 1 1\n"
    "3.0 5.0\n";

TEST(ExactOption, ReportsNameTheModelAndThePowerMoves) {
  ScratchDir plain, exact;
  spit(plain / "a/input.txt", kDeck);
  spit(exact / "a/input.txt", kDeck);
  const ProgramRun p = run_kestrel(plain, "-C '" + plain.path().string() + "' --mvn-accuracy 1e-6");
  const ProgramRun e =
      run_kestrel(exact, "-C '" + exact.path().string() + "' --mvn-accuracy 1e-6 --exact");
  ASSERT_EQ(p.status, 0) << p.err;
  ASSERT_EQ(e.status, 0) << e.err;
  const std::string line = "MODEL IN FORCE (--exact)";
  EXPECT_NE(slurp(exact / "a/TEST_7a.OUT").find(line), std::string::npos);
  EXPECT_EQ(slurp(plain / "a/TEST_7a.OUT").find(line), std::string::npos);
  EXPECT_NE(slurp(exact / "a/kestrel-results.json").find("\"model\""), std::string::npos);
  EXPECT_EQ(slurp(plain / "a/kestrel-results.json").find("\"model\""), std::string::npos);
  EXPECT_NE(slurp(exact / "a/kestrel-report.html").find("(--exact)"), std::string::npos);
  EXPECT_EQ(slurp(plain / "a/kestrel-report.html").find("(--exact)"), std::string::npos);
  // The summary lines (MSS, APW and what follows) differ.
  EXPECT_NE(slurp(exact / "a/TEST_7b.OUT"), slurp(plain / "a/TEST_7b.OUT"));
  const ProgramRun h = run_kestrel(plain, "--help");
  EXPECT_NE(h.out.find("--exact"), std::string::npos);
}

// Loss to follow-up and accrual pieces are covered by the exact model: the deck with both runs
// with --exact (it was refused before they were), names the model and the statements, and its
// size differs from the same design without them.
TEST(ExactOption, LossToFollowUpAndAccrualPiecesRunWithTheExactModel) {
  ScratchDir plain, lossy;
  spit(plain / "a/input.txt", kDeck);
  spit(lossy / "a/input.txt", std::string(kDeck) +
                                  "DROPOUT HAZARD 0.05 0.15\n"
                                  "ACCRUAL 3  0.5 1.2 2.0  1 2 4\n");
  const std::string opts = " --mvn-accuracy 1e-6 --exact";
  const ProgramRun p = run_kestrel(plain, "-C '" + plain.path().string() + "'" + opts);
  const ProgramRun e = run_kestrel(lossy, "-C '" + lossy.path().string() + "'" + opts);
  ASSERT_EQ(p.status, 0) << p.err;
  ASSERT_EQ(e.status, 0) << e.err;
  const std::string main = slurp(lossy / "a/TEST_7a.OUT");
  EXPECT_NE(main.find("MODEL IN FORCE (--exact)"), std::string::npos);
  EXPECT_NE(main.find("LOSS TO FOLLOW-UP HAZARD"), std::string::npos);
  EXPECT_NE(slurp(lossy / "a/TEST_7b.OUT"), slurp(plain / "a/TEST_7b.OUT"));
}

// A survival so extreme that the exact model's fluctuation terms lose all precision: the stop
// names the exact model's variance and the way out, not the correlation it leaves not a number;
// the default model computes the design.
TEST(ExactOption, ExtremeSurvivalStopsNamingTheExactVariance) {
  std::string deck = kDeck;
  deck.replace(deck.find("0 3 1 1 1 0"), 11, "0 3 1 3 1 0");
  deck.replace(deck.find("2.0 3.0 0.3 0.4 0.75 1"), 22, "2.0 3.0 1e-200 0.4 0.5 1");
  deck.replace(deck.find("3.0 5.0"), 7, "5.0");
  deck.replace(deck.find("0.025 0 0.8 1 2 3 1 1"), 21, "0.025 0 0.8 1 1 3 1 1");
  ScratchDir plain, exact;
  spit(plain / "a/input.txt", deck);
  spit(exact / "a/input.txt", deck);
  EXPECT_EQ(run_kestrel(plain, "-C '" + plain.path().string() + "' --mvn-accuracy 1e-6").status, 0);
  const ProgramRun e =
      run_kestrel(exact, "-C '" + exact.path().string() + "' --mvn-accuracy 1e-6 --exact");
  EXPECT_EQ(e.status, 1);
  EXPECT_NE(e.err.find("the exact model's variance of EP1 at analysis 1 is not a positive number"),
            std::string::npos)
      << e.err;
  EXPECT_NE(e.err.find("SRVR1 = 1e-200, SRVR2 = 0.4); run this design without --exact"),
            std::string::npos)
      << e.err;
}

// MODEL EXACT in the deck gives the design exactly what --exact gives it; MODEL DEFAULT under
// --exact still runs the exact model (the option applies to every design).
TEST(ExactOption, ModelStatementOfTheDeck) {
  ScratchDir option, statement, both;
  spit(option / "a/input.txt", kDeck);
  spit(statement / "a/input.txt", std::string(kDeck) + "MODEL EXACT\n");
  spit(both / "a/input.txt", std::string(kDeck) + "MODEL DEFAULT\n");
  const ProgramRun o = run_kestrel(option, "-C '" + option.path().string() + "' --mvn-accuracy 1e-6 --exact");
  const ProgramRun s = run_kestrel(statement, "-C '" + statement.path().string() + "' --mvn-accuracy 1e-6");
  const ProgramRun b = run_kestrel(both, "-C '" + both.path().string() + "' --mvn-accuracy 1e-6 --exact");
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(s.status, 0) << s.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(slurp(statement / "a/TEST_7b.OUT"), slurp(option / "a/TEST_7b.OUT"));
  EXPECT_EQ(slurp(both / "a/TEST_7b.OUT"), slurp(option / "a/TEST_7b.OUT"));
  EXPECT_NE(slurp(statement / "a/TEST_7a.OUT").find("MODEL IN FORCE (MODEL EXACT)"), std::string::npos);
}

// A loss that is almost surely a slip is warned about on standard error, per design, and the
// design is still calculated as given; a likely value says nothing.
TEST(LossWarnings, LikelySlipsGoToStandardErrorAndTheRunGoesOn) {
  struct Case {
    const char* statement;
    const char* says;  // empty: no warning
  };
  const Case cases[] = {
      {"DROPOUT HAZARD 1.2 0.05\n", "design 1: a hazard of loss of 1.2 per time unit"},
      {"DROPOUT PROBABILITY 12 0.05 /\n", "design 1: the probabilities of loss are stated at time 12"},
      {"DROPOUT HAZARD 0.4 0.05\n", "design 1: the loss to follow-up loses 79% of an arm's patients"},
      {"DROPOUT HAZARD 0.05 0.1\n", ""},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::string deck = kDeck;
    deck.replace(deck.find("0 3 1 1 1 0"), 11, "0 3 1 1 1 300");  // a given size: no search
    spit(dir / "a/input.txt", deck + c.statement);
    const ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "' --mvn-accuracy 1e-5");
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(r.status, 0) << r.err;
    if (*c.says) {
      EXPECT_NE(r.err.find(std::string("kestrel: warning: ") + c.says), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    }
  }
}

}  // namespace
}  // namespace kestrel::testing
