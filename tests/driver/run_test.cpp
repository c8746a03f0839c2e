// The order of the run: which calculation is called with what, and which lines appear where.
// The calculations are stand-ins that log their calls, so the run's own behaviour is checked
// apart from the numbers.
#include "driver/run.h"

#include <gtest/gtest.h>

#include "common/errors.h"
#include "driver/test_dirs.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"

namespace kestrel::driver {
namespace {

struct Log {
  std::vector<std::string> calls;
  int evaluations = 0;
  int fail_at_evaluation = 0;  // throw RunError at this evaluation (1-based), 0: never
  int flat_at_evaluation = 0;  // this evaluation's search ends flat, below the target
};

// Stand-ins: theta = 10 * rho + CPL; information sets marked by TCAL[0] (1 EP1-driven,
// 2 EP2-driven, 3 calendar); MSS counts the evaluations; designs with NSIM > 0 simulate.
Calculations stand_ins(Log& log) {
  Calculations c;
  c.copula = [&log](int cpl, int n, double rho, std::ostream&) {
    log.calls.push_back("copula " + std::to_string(cpl) + " " + std::to_string(n) + " " +
                        std::to_string(rho));
    return survival::CopulaParameter{10 * rho + cpl, 3};
  };
  c.fractions = [&log](const survival::InformationInput& in, numerics::UniformGenerator&,
                       Reports& rep) {
    log.calls.push_back("fractions theta=" + std::to_string(in.THETA) +
                        " HR1=" + std::to_string(in.HR1));
    rep.main() << " ROWS\n";
    survival::InformationSets s;
    s.ep1_driven.TCAL[0] = 1;
    s.ep2_driven.TCAL[0] = 2;
    return s;
  };
  c.calendar = [&log](const survival::InformationInput& in, numerics::UniformGenerator&,
                      Reports& rep) {
    log.calls.push_back("calendar theta=" + std::to_string(in.THETA));
    rep.main() << " ROWS\n";
    InformationSet s;
    s.TCAL[0] = 3;
    return s;
  };
  c.evaluate = [&log](const Design& d, const InformationSet& set,
                      const std::array<SpendingStatement, 2>& sp, double theta, double thetatr,
                      RunContext& ctx) {
    ++log.evaluations;
    if (log.evaluations == log.fail_at_evaluation) throw RunError("stand-in stopped the run");
    log.calls.push_back("evaluate set=" + std::to_string(static_cast<int>(set.TCAL[0])) +
                        " phi=" + std::to_string(sp[0].phi) + " theta=" + std::to_string(theta) +
                        " thetatr=" + std::to_string(thetatr));
    ctx.reports.main() << " ENGINE\n";
    samplesize::Evaluation e;
    e.MSS = 100 * log.evaluations;
    e.APW = 0.8;
    if (log.evaluations == log.flat_at_evaluation) {
      e.end = samplesize::SearchEnd::flat;
      e.APW = 0.5;
      e.below_target = true;
    }
    if (d.stored.NSIM > 0) {
      simulation::SimulationResult r;
      r.PWC = 0.11;
      r.PWD = 0.22;
      r.PW1 = 0.33;
      r.PW2 = 0.44;
      e.simulation = r;
    }
    return e;
  };
  return c;
}

std::string design_line(int nsim, int itime, int cpl, int esf1) {
  std::string t = itime == 3 ? " 1 2 5" : " 0.5 0.75 1";
  return std::to_string(nsim) + " " + std::to_string(itime) + " " + std::to_string(cpl) +
         " 1 1 0 2 1.25 0.5 2 2 0.4 2 3 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 " +
         std::to_string(esf1) + " 1" + t + "\n";
}

struct Ran {
  Log log;
  MemoryReports mem;
  std::vector<std::string> lines(const std::ostringstream& os) const {
    std::vector<std::string> out;
    std::istringstream in(os.str());
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
};

void run(Ran& r, const std::string& deck_text, RunOptions options = {}) {
  Deck deck = read_deck(deck_text);
  ASSERT_TRUE(check_deck(deck).empty());
  numerics::UniformGenerator gen([] { return 4711; });
  mvn::MvnState mvn;
  RunContext ctx{r.mem.reports, gen, mvn};
  run_deck(deck, ctx, options, stand_ins(r.log));
}

TEST(RunLoop, BothFractionEvaluationsInOrder) {
  Ran r;
  run(r, "0 0 0 0\nT\n" + design_line(0, 1, 1, 3) + "0.5\n1.5\n");
  ASSERT_EQ(r.log.calls.size(), 5u);
  EXPECT_EQ(r.log.calls[0], "copula 1 1000 0.500000");
  EXPECT_EQ(r.log.calls[1], "copula 1 1000 0.400000");
  EXPECT_EQ(r.log.calls[2], "fractions theta=6.000000 HR1=0.500000");  // stored reciprocal
  EXPECT_EQ(r.log.calls[3], "evaluate set=1 phi=0.500000 theta=6.000000 thetatr=5.000000");
  EXPECT_EQ(r.log.calls[4], "evaluate set=2 phi=1.500000 theta=6.000000 thetatr=5.000000");

  auto summary = r.lines(r.mem.summary);
  ASSERT_EQ(summary.size(), 3u);
  EXPECT_EQ(summary[0], summary_header());
  EXPECT_EQ(summary[1].substr(0, 7), "    EP1");
  EXPECT_EQ(summary[2].substr(0, 7), "    EP2");
  EXPECT_NE(summary[1].find(" ,  100,80.0000"), std::string::npos);
  EXPECT_NE(summary[2].find(" ,  200,80.0000"), std::string::npos);
  EXPECT_EQ(summary[1].substr(26, 12), ", 0.50, 0.80");  // HR1, HR2
  EXPECT_EQ(summary[2].substr(26, 12), ", 0.50, 0.50");  // HR1TR, HR2TR

  auto main = r.lines(r.mem.main);
  std::vector<std::string> tail(main.end() - 8, main.end());
  EXPECT_EQ(tail, (std::vector<std::string>{" ROWS", " <EP1>", " <EP2>",
                                            " ---> INFORMATION TIME BY ENP1", " ENGINE",
                                            " ---> INFORMATION TIME BY ENP2", " ENGINE", ""}));
  EXPECT_EQ(main[0], " GROUP-SEQUENTIAL DESIGNS FOR TWO TIME-TO-EVENT OUTCOMES");

  EXPECT_EQ(r.mem.console.str(),
            "\n\n <----- NEW CALCULATION START ----->\n\n"
            " CALCULATING THE ASSOCIATION PARAMETER FOR COLULA\n LATE DEPENDENCY BY CLAYTON\n");
  EXPECT_EQ(r.mem.matrix.str(), "");
}

TEST(RunLoop, EP2DrivenOnlyAndCalendarPaths) {
  Ran r;
  run(r, "0 0 0 0\nT\n" + design_line(0, 2, 2, 3) + "0.5\n" + design_line(0, 3, 3, 1));
  ASSERT_EQ(r.log.calls.size(), 8u);
  EXPECT_EQ(r.log.calls[3], "evaluate set=2 phi=0.500000 theta=7.000000 thetatr=6.000000");
  EXPECT_EQ(r.log.calls[6], "calendar theta=8.000000");
  EXPECT_EQ(r.log.calls[7].substr(0, 14), "evaluate set=3");
  auto summary = r.lines(r.mem.summary);
  ASSERT_EQ(summary.size(), 3u);
  EXPECT_EQ(summary[1].substr(0, 7), "    EP2");
  EXPECT_EQ(summary[2].substr(0, 7), "  CALND");
  const std::string main = r.mem.main.str();
  EXPECT_EQ(main.find("ENP1"), std::string::npos);
  EXPECT_NE(main.find(" <EP1>\n <EP2>\n ---> INFORMATION TIME BY ENP2\n ENGINE\n\n"),
            std::string::npos);
  EXPECT_NE(main.find(" ROWS\n ENGINE\n\n"), std::string::npos);  // calendar: no <EP1>
  // Two designs: two banners; the positive stable line, and none for Frank.
  const std::string console = r.mem.console.str();
  EXPECT_EQ(console,
            "\n\n <----- NEW CALCULATION START ----->\n\n"
            " CALCULATING THE ASSOCIATION PARAMETER FOR COLULA\n"
            " EARLY DEPENDENCY BY POSITIVE STABLE\n"
            "\n\n <----- NEW CALCULATION START ----->\n\n"
            " CALCULATING THE ASSOCIATION PARAMETER FOR COLULA\n");
}

// A search that ended by a safeguard is named, with its design and set, in the main report right
// after that set's evaluation and on the notes stream (standard error in the program).
TEST(RunLoop, SearchEndedBySafeguardWarnsInTheMainReportAndTheNotes) {
  Ran r;
  r.log.flat_at_evaluation = 2;
  std::ostringstream notes;
  RunOptions options;
  options.notes = &notes;
  run(r, "0 0 0 0\nT\n" + design_line(0, 1, 1, 3) + "0.5\n1.5\n", options);
  const std::string want =
      " WARNING: design 1, set EP2: the sample-size search stopped because the last two powers "
      "were equal at MSS = 200; power reached 50.00% against the target 80.00% (below the target)";
  EXPECT_NE(r.mem.main.str().find(" ---> INFORMATION TIME BY ENP2\n ENGINE\n" + want + "\n"),
            std::string::npos)
      << r.mem.main.str();
  EXPECT_EQ(notes.str(), want.substr(1) + "\n");
}

TEST(RunLoop, SimulatedPowersKeepEarlierValuesWhenNotComputed) {
  Ran r;
  run(r, "0 0 0 0\nT\n" + design_line(100, 3, 1, 1) + design_line(0, 3, 1, 1));
  auto summary = r.lines(r.mem.summary);
  ASSERT_EQ(summary.size(), 3u);
  const std::string sims = ",11.0000,22.0000,33.0000,44.0000";
  EXPECT_NE(summary[1].find(sims), std::string::npos);
  EXPECT_NE(summary[2].find(sims), std::string::npos);  // not simulated: earlier values stay
  EXPECT_NE(summary[2].find(" ,  200,"), std::string::npos);  // computed fields move on
}

TEST(RunLoop, SeedIsSetOnceAndNamedInTheMainReport) {
  Ran r;
  Deck deck = read_deck("0 0 0 0\nT\n");
  numerics::UniformGenerator gen([] { return 4711; });
  mvn::MvnState mvn;
  RunContext ctx{r.mem.reports, gen, mvn};
  RunOptions options;
  options.seed = 12345;
  run_deck(deck, ctx, options, stand_ins(r.log));
  EXPECT_EQ(gen.GETSEED(), 12345);
  EXPECT_EQ(r.mem.main.str(), " SEED OF THE UNIFORM GENERATOR (--seed):      12345\n");
}

TEST(RunDirectory, TerminalErrorKeepsEverythingWrittenBefore) {
  testing::ScratchDir dir;
  testing::spit(dir / "a/input.txt",
                "0 0 0 0\nT\n" + design_line(0, 3, 1, 1) + design_line(0, 3, 1, 1));
  Log log;
  log.fail_at_evaluation = 2;
  std::ostringstream console, notes;
  EXPECT_THROW(run_directory(dir.path(), {}, console, notes, stand_ins(log)), RunError);
  const std::string main = testing::slurp(dir / "a/TEST_7a.OUT");
  // The first design completely, the second up to its information rows.
  EXPECT_NE(main.find(" ROWS\n ENGINE\n\n GROUP-SEQUENTIAL"), std::string::npos);
  EXPECT_EQ(main.substr(main.size() - 6), " ROWS\n");
  const std::string summary = testing::slurp(dir / "a/TEST_7b.OUT");
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 2);
  EXPECT_TRUE(std::filesystem::exists(dir / "a/CORR_MAT_given_TIME.TXT"));
}

TEST(RunDirectory, IncompleteLastRecordIsNotedAndNotCalculated) {
  testing::ScratchDir dir;
  testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 3, 1, 1) + "0 3 1 1\n");
  Log log;
  std::ostringstream console, notes;
  run_directory(dir.path(), {}, console, notes, stand_ins(log));
  EXPECT_EQ(log.evaluations, 1);
  EXPECT_EQ(notes.str(),
            "a/input.txt:4: design 2: the deck ends inside this record; it is not calculated\n");
}

TEST(RunDirectory, RejectedDeckWritesNothing) {
  testing::ScratchDir dir;
  testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 3, 1, 0) +
                                         "0 5 1 1 1 0 2 1.25 0.5 2 2 0.4 2 3 0.3 0.4 0.5 1 "
                                         "0.025 0 0.8 1 3 3 1 1 1 2 5\n");
  Log log;
  std::ostringstream console, notes;
  try {
    run_directory(dir.path(), {}, console, notes, stand_ins(log));
    FAIL() << "the deck was accepted";
  } catch (const DeckRejected& e) {
    // Every problem of every design, each with its line.
    ASSERT_EQ(e.problems().size(), 2u);
    EXPECT_EQ(e.problems()[0].rfind("a/input.txt:3: design 1: ESF1 = 0:", 0), 0u);
    EXPECT_EQ(e.problems()[1].rfind("a/input.txt:4: design 2: ITIME = 5:", 0), 0u);
  }
  EXPECT_TRUE(log.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "a/TEST_7a.OUT"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a/TEST_7b.OUT"));
  EXPECT_EQ(console.str(), "");
}

}  // namespace
}  // namespace kestrel::driver
