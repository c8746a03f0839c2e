// Whole runs of the kestrel program on small decks. The expected lines were composed by hand
// from the report layouts (deck HR1 = 0.5 is stored as its reciprocal 2.00; TYPE1 = 0.025 shows
// as 2.50; K = 3 gives three time points), not copied from the program's output.
#include <gtest/gtest.h>

#include "common/test_dirs.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

const char* kFractionDeck =
    "0 0 0 0\n"
    "'end to end'\n"
    "0 2 1 1 1 400 0.5 1.4286 0.5 0.5 1.4286 0.5 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 3 3 3 1 1\n"
    "0.4 0.7 1.0\n";

TEST(EndToEnd, InformationFractionDeckWritesEveryReport) {
  ScratchDir dir;
  spit(dir / "a/input.txt", kFractionDeck);
  ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
  ASSERT_EQ(r.status, 0) << r.err;

  const std::string main = slurp(dir / "a/TEST_7a.OUT");
  EXPECT_EQ(main.rfind(" GROUP-SEQUENTIAL DESIGNS FOR TWO TIME-TO-EVENT OUTCOMES\n"
                       " --- GIVEN INFORMATION TIME:EP1 AND EP2 ---\n\n",
                       0),
            0u);
  EXPECT_NE(main.find("\nHAZARD RATIO FOR EP1(HYP/TR):   2.00 /   2.00\n"
                      "                 EP2(HYP/TR):   0.70 /   0.70\n"
                      "   GIVEN MAXIMUM SAMPLE SIZE:   400\n"),
            std::string::npos);
  EXPECT_NE(main.find("\n       SIGNIFICANCE LEVEL(%):   2.50\n"), std::string::npos);
  EXPECT_NE(main.find("\n  TIMEPOINTS OF LOOK/ INFORM:   0.40   0.70   1.00\n"), std::string::npos);
  EXPECT_NE(main.find("\n <EP1>\n <EP2>\n ---> INFORMATION TIME BY ENP2\n"), std::string::npos);
  EXPECT_EQ(main.find("ENP1"), std::string::npos);  // ITIME = 2: the EP2-timed evaluation only

  const std::string summary = slurp(dir / "a/TEST_7b.OUT");
  ASSERT_EQ(std::count(summary.begin(), summary.end(), '\n'), 2);
  const std::string line = summary.substr(summary.find('\n') + 1);
  EXPECT_EQ(line.substr(0, 50), "    EP2,    1,    1,    1 , 2.00, 0.70, 0.30, 0.40");
  EXPECT_NE(line.find(" , 2.50,80.00 ,    3,    3,    3,  1,  1 ,  400,"), std::string::npos);

  // No calendar design: the matrix file exists and is empty; the fraction path fills fort.60.
  EXPECT_TRUE(fs::exists(dir / "a/CORR_MAT_given_TIME.TXT"));
  EXPECT_EQ(slurp(dir / "a/CORR_MAT_given_TIME.TXT"), "");
  EXPECT_TRUE(fs::exists(dir / "fort.60"));
  EXPECT_EQ(r.out.rfind("\n\n <----- NEW CALCULATION START ----->\n\n"
                        " CALCULATING THE ASSOCIATION PARAMETER FOR COLULA\n"
                        " LATE DEPENDENCY BY CLAYTON\n",
                        0),
            0u);
}

TEST(EndToEnd, SeededSimulationRepeatsExactly) {
  const char* deck =
      "0 0 0 0\n'simulated'\n"
      "200 3 1 1 1 300 1.4286 1.4286 0.5 1.4286 1.4286 0.5 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 4 2 "
      "3 1 1 2.5 5.0\n";
  ScratchDir one, two;
  spit(one / "a/input.txt", deck);
  spit(two / "a/input.txt", deck);
  ProgramRun a = run_kestrel(one, "--seed 4711 -C '" + one.path().string() + "'");
  ProgramRun b = run_kestrel(two, "-C '" + two.path().string() + "' --seed=4711");
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  const std::string main = slurp(one / "a/TEST_7a.OUT");
  EXPECT_EQ(main.rfind(" SEED OF THE UNIFORM GENERATOR (--seed):       4711\n", 0), 0u);
  EXPECT_EQ(main, slurp(two / "a/TEST_7a.OUT"));
  const std::string summary = slurp(one / "a/TEST_7b.OUT");
  EXPECT_EQ(summary, slurp(two / "a/TEST_7b.OUT"));
  EXPECT_EQ(a.out, b.out);
  // The simulated powers were computed (they are not the zeros of a run without simulation).
  EXPECT_EQ(summary.find(", 0.0000, 0.0000, 0.0000, 0.0000 "), std::string::npos) << summary;
  EXPECT_NE(slurp(one / "a/CORR_MAT_given_TIME.TXT"), "");
}

}  // namespace
}  // namespace kestrel::testing
