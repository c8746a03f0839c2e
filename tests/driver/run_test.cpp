// The order of the run: which calculation is called with what, and which lines appear where.
// The calculations are stand-ins that log their calls, so the run's own behaviour is checked
// apart from the numbers.
#include "driver/run.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/test_dirs.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "reports/report_file.h"

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
    log.calls.push_back("fractions theta=" + std::to_string(in.model.copula_parameter) +
                        " HR1=" + std::to_string(in.model.hazard_ratio[0]));
    rep.main() << " ROWS\n";
    survival::InformationSets s;
    s.ep1_driven.TCAL[0] = 1;
    s.ep2_driven.TCAL[0] = 2;
    return s;
  };
  c.calendar = [&log](const survival::InformationInput& in, numerics::UniformGenerator&,
                      Reports& rep) {
    log.calls.push_back("calendar theta=" + std::to_string(in.model.copula_parameter));
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

// The message of a stop, or "" when the run went through.
std::string stop_message(const std::filesystem::path& dir, const Calculations& calc) {
  std::ostringstream console, notes;
  try {
    run_directory(dir, {}, console, notes, calc);
  } catch (const RunError& e) {
    return e.what();
  }
  return "";
}

// Names in `dir` that start with a dot: the temporary files of the reports.
std::vector<std::string> hidden_files(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (n[0] == '.') out.push_back(n);
  }
  return out;
}

// A calendar set of three analyses at the deck's times whose values are plain numbers.
InformationSet plain_set(const survival::InformationInput& in) {
  InformationSet s;
  s.K = in.K;
  for (int k = 0; k < in.K; ++k) {
    s.TCAL[k] = in.TLOOK[k];
    s.FINF1[k] = s.FINF2[k] = s.FENR[k] = (k + 1.0) / in.K;
    s.VAR01[k] = s.VAR02[k] = s.VAR11[k] = s.VAR12[k] = 0.1 * (k + 1);
  }
  return s;
}

// The first point at or after time t of the grid of the information integrals, from its
// definition: equally spaced in the allocation-weighted event probability of each endpoint, the
// two endpoints' times mixed by the arm weights; `spacing` receives its distance to the point
// before.
double grid_point_at_or_after(const survival::InformationInput& in, double t, double& spacing) {
  const double T = in.model.accrual_period + in.model.follow_up, q = in.model.treatment_share;
  double lbar[2], P[2];
  const double S[2] = {in.model.control_survival[0], in.model.control_survival[1]}, HR[2] = {in.model.hazard_ratio[0], in.model.hazard_ratio[1]};
  for (int e = 0; e < 2; ++e) {
    const double lc = -std::log(S[e]) / T;
    lbar[e] = (1 - q) * lc * HR[e] + q * lc;
    P[e] = 1 - std::exp(-lbar[e] * T);
  }
  auto X = [&](int i) {
    const double t1 = -std::log(1 - P[0] * i / 1000) / lbar[0];
    const double t2 = -std::log(1 - P[1] * i / 1000) / lbar[1];
    return (1 - q) * t2 + q * t1;
  };
  int i = 1;
  while (X(i) < t) ++i;
  spacing = X(i) - X(i - 1);
  return X(i);
}

void run(Ran& r, const std::string& deck_text, RunOptions options = {}) {
  deck::Deck deck = deck::read_deck(deck_text);
  ASSERT_TRUE(deck::check_deck(deck).empty());
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
  EXPECT_EQ(summary[0], reports::summary_header());
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

// The seed is named once in the main report; design n starts the generator (n - 1) x 1327217884
// draws after it, also in a run of part of the deck, which the main report names.
TEST(RunLoop, SeedIsSetOnceAndNamedInTheMainReport) {
  for (const char* shard : {"", "2/2"}) {
    Ran r;
    deck::Deck deck = deck::read_deck("0 0 0 0\nT\n");
    numerics::UniformGenerator gen([] { return 4711; });
    mvn::MvnState mvn;
    RunContext ctx{r.mem.reports, gen, mvn};
    RunOptions options;
    options.seed = 12345;
    run_deck(deck, ctx, options, stand_ins(r.log));
    EXPECT_EQ(r.mem.main.str(), " SEED OF THE UNIFORM GENERATOR (--seed):      12345\n");

    deck = deck::read_deck("0 0 0 0\nT\n" + design_line(0, 3, 1, 1) + design_line(0, 3, 1, 1) +
                     design_line(0, 3, 1, 1) + design_line(0, 3, 1, 1));
    std::string problem;
    if (*shard) options.selection = *DesignSelection::shard(shard, problem);
    Calculations calc = stand_ins(r.log);
    std::vector<std::int32_t> starts;
    calc.calendar = [&starts](const survival::InformationInput&, numerics::UniformGenerator& g,
                              Reports&) {
      starts.push_back(g.GETSEED());
      g.UNIRAND();  // a draw that the next design must not see
      InformationSet s;
      s.TCAL[0] = 3;
      return s;
    };
    Ran s;
    RunContext ctx2{s.mem.reports, gen, mvn};
    run_deck(deck, ctx2, options, calc);
    std::vector<std::int32_t> expected;
    for (std::uint64_t n = *shard ? 2 : 1; n <= 4; n += *shard ? 2 : 1)
      expected.push_back(numerics::skip_ahead_950706376(12345, (n - 1) * 1327217884u));
    EXPECT_EQ(starts, expected) << shard;
    EXPECT_EQ(s.mem.main.str().find(" DESIGNS OF THIS RUN (shard 2/2 of 4): 2 4\n") !=
                  std::string::npos,
              *shard != 0);
  }
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
  // Every report was put in place; no temporary file is left beside them.
  EXPECT_TRUE(hidden_files(dir / "a").empty());
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

TEST(RunDirectory, TwoAnalysesOnOneGridPointStopWithTheGridSpacing) {
  testing::ScratchDir dir;
  testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 3, 1, 1));
  Log log;
  Calculations calc = stand_ins(log);
  // The calendar times 2.5 and 2.503 both move up to the grid point at or after 2.503.
  double expected_spacing = 0;
  calc.calendar = [&](const survival::InformationInput& in, numerics::UniformGenerator&,
                      Reports&) {
    InformationSet s = plain_set(in);
    s.TCAL[0] = s.TCAL[1] = grid_point_at_or_after(in, 2.503, expected_spacing);
    return s;
  };
  const std::string m = stop_message(dir.path(), calc);
  char text[200];
  std::snprintf(text, sizeof text,
                "design 1: analyses 1 and 2 fall on the same point of the information grid "
                "(spacing %.4f in time); move them further apart",
                expected_spacing);
  EXPECT_EQ(m, text);
  EXPECT_GT(expected_spacing, 0.001);
  EXPECT_EQ(log.evaluations, 0);
  // What was written before the stop is in place: the input summary and the summary header.
  EXPECT_EQ(testing::slurp(dir / "a/TEST_7a.OUT").rfind(" GROUP-SEQUENTIAL", 0), 0u);
  EXPECT_TRUE(hidden_files(dir / "a").empty());
}

TEST(RunDirectory, FiguresThatAreNotNumbersStopBeforeTheyReachAReport) {
  const double nan = std::nan("");
  {  // an information fraction
    testing::ScratchDir dir;
    testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 3, 1, 1));
    Log log;
    Calculations calc = stand_ins(log);
    calc.calendar = [nan](const survival::InformationInput& in, numerics::UniformGenerator&,
                          Reports&) {
      InformationSet s = plain_set(in);
      s.FINF2[1] = nan;
      return s;
    };
    EXPECT_EQ(stop_message(dir.path(), calc),
              "design 1, analyses at the given calendar times: the information fraction of EP2 "
              "at analysis 2 is not a number (nan); the information of the design cannot be "
              "computed");
    EXPECT_EQ(log.evaluations, 0);
  }
  {  // a correlation between the endpoints
    testing::ScratchDir dir;
    testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 3, 1, 1));
    Log log;
    Calculations calc = stand_ins(log);
    calc.calendar = [nan](const survival::InformationInput& in, numerics::UniformGenerator&,
                          Reports&) {
      InformationSet s = plain_set(in);
      s.CORR12[2][0] = nan;
      return s;
    };
    EXPECT_EQ(stop_message(dir.path(), calc).rfind(
                  "design 1, analyses at the given calendar times: the correlation of EP1 at "
                  "analysis 3 with EP2 at analysis 1 is not a number",
                  0),
              0u);
    // The same after a copula search that did not reach its target (Frank, RHO 0.998): the
    // search is named as the cause, with the correlation asked and the one reached.
    calc.copula = [](int, int, double rho, std::ostream&) {
      survival::CopulaParameter p;
      p.theta = -1400.35;
      p.converged = rho != 0.5;
      p.reached = 0.9980004;
      p.best_theta = -1400.17;
      return p;
    };
    EXPECT_EQ(stop_message(dir.path(), calc),
              "design 1: RHO = 0.5: the copula parameter search failed: it reached the "
              "correlation 0.9980004 at best (theta = -1400.17) and ended at theta = -1400.35, "
              "where the information of the design is not a number; give a smaller correlation "
              "or another copula");
  }
  {  // the power of the second design: the first design's summary line stays, no asterisks
    testing::ScratchDir dir;
    testing::spit(dir / "a/input.txt",
                  "0 0 0 0\nT\n" + design_line(0, 3, 1, 1) + design_line(0, 3, 1, 1));
    Log log;
    Calculations calc = stand_ins(log);
    calc.calendar = [](const survival::InformationInput& in, numerics::UniformGenerator&,
                       Reports&) { return plain_set(in); };
    auto evaluate = calc.evaluate;
    calc.evaluate = [&, nan](const Design& d, const InformationSet& set,
                             const std::array<SpendingStatement, 2>& sp, double th, double thtr,
                             RunContext& ctx) {
      samplesize::Evaluation e = evaluate(d, set, sp, th, thtr, ctx);
      if (d.number == 2) e.APW = nan;
      return e;
    };
    EXPECT_EQ(stop_message(dir.path(), calc),
              "design 2, analyses at the given calendar times: APW (the power at the sample "
              "size found) is not a number (nan)");
    const std::string summary = testing::slurp(dir / "a/TEST_7b.OUT");
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 2);
    EXPECT_EQ(summary.find("*"), std::string::npos);
  }
}

TEST(RunDirectory, StopsInsideACalculationNameTheDesignAndTheSet) {
  testing::ScratchDir dir;
  testing::spit(dir / "a/input.txt",
                "0 0 0 0\nT\n" + design_line(0, 3, 1, 1) + design_line(0, 1, 1, 1));
  Log log;
  log.fail_at_evaluation = 3;  // design 2, the set timed by EP2
  EXPECT_EQ(stop_message(dir.path(), stand_ins(log)),
            "design 2, analyses timed by EP2's information: stand-in stopped the run");
  // Memory that cannot be had names the design, the set and the sizes asked for.
  testing::spit(dir / "a/input.txt",
                "0 0 0 0\nT\n" + design_line(0, 3, 1, 1) + design_line(0, 1, 1, 1));
  Log oom;
  Calculations calc = stand_ins(oom);
  calc.evaluate = [](const Design&, const InformationSet&, const std::array<SpendingStatement, 2>&,
                     double, double, RunContext&) -> samplesize::Evaluation {
    throw std::bad_alloc();
  };
  EXPECT_EQ(stop_message(dir.path(), calc),
            "design 1, analyses at the given calendar times: not enough memory for the "
            "calculation (MSSG = 0: the sample size is searched; NSIM = 0 simulated trials)");
}

// A symbolic link planted under a report's name is replaced by the report; its target stays as
// it was. Here every report is a link to a file outside the run directory.
TEST(RunDirectory, ReportsNeverWriteThroughAPlantedLink) {
  testing::ScratchDir dir;
  testing::ScratchDir elsewhere;
  testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 1, 1, 1));
  const std::vector<std::string> names = {"a/TEST_7a.OUT",           "a/TEST_7b.OUT",
                                           "a/CORR_MAT_given_TIME.TXT", "fort.60",
                                           "a/kestrel-results.json",    "a/kestrel-report.html"};
  auto target = [&](size_t i) { return elsewhere / ("victim" + std::to_string(i)); };
  for (size_t i = 0; i < names.size(); ++i) {
    testing::spit(target(i), "precious\n");
    std::filesystem::create_symlink(target(i), dir / names[i]);
  }
  Log log;
  Calculations calc = stand_ins(log);
  calc.fractions = [](const survival::InformationInput&, numerics::UniformGenerator&,
                      Reports& rep) {
    rep.unit60() << "Cov on TIF\n";
    rep.main() << " ROWS\n";
    return survival::InformationSets{};
  };
  std::ostringstream console, notes;
  run_directory(dir.path(), {}, console, notes, calc);
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(dir / names[i])));
    EXPECT_EQ(testing::slurp(target(i)), "precious\n");
  }
  EXPECT_EQ(testing::slurp(dir / "fort.60"), "Cov on TIF\n");
  EXPECT_NE(testing::slurp(dir / "a/TEST_7a.OUT").find(" ROWS\n"), std::string::npos);
  EXPECT_EQ(testing::slurp(dir / "a/TEST_7b.OUT").rfind("    ITM", 0), 0u);
  EXPECT_TRUE(hidden_files(dir / "a").empty());
  EXPECT_TRUE(hidden_files(dir.path()).empty());
}

// A report that cannot be created stops the run before any calculation, naming the file and the
// system's reason; the reports of an earlier run stay as they were.
TEST(RunDirectory, ReportThatCannotBeCreatedNamesTheFileAndTheReason) {
  testing::ScratchDir dir;
  testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 3, 1, 1));
  testing::spit(dir / "a/TEST_7a.OUT", "earlier main report\n");
  std::filesystem::create_directories(dir / "a/TEST_7b.OUT");
  Log log;
  EXPECT_EQ(stop_message(dir.path(), stand_ins(log)),
            "cannot create the report file a/TEST_7b.OUT: Is a directory");
  EXPECT_TRUE(log.calls.empty());
  EXPECT_EQ(testing::slurp(dir / "a/TEST_7a.OUT"), "earlier main report\n");
  EXPECT_TRUE(hidden_files(dir / "a").empty());
}

// A directory planted at each report's name in turn stops the run before any calculation: every
// report of an earlier run is byte for byte as it was and no temporary file is left.
TEST(RunDirectory, DirectoryAtAnyReportNameStopsBeforeAnythingIsReplaced) {
  const std::vector<std::string> names = {"a/TEST_7a.OUT",           "a/TEST_7b.OUT",
                                           "a/CORR_MAT_given_TIME.TXT", "fort.60",
                                           "a/kestrel-results.json",    "a/kestrel-report.html"};
  for (const std::string& planted : names) {
    SCOPED_TRACE(planted);
    testing::ScratchDir dir;
    // Information fractions: the run would write every report, fort.60 included.
    testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 1, 1, 1));
    for (const std::string& n : names) {
      if (n == planted) {
        std::filesystem::create_directories(dir / n);
      } else {
        testing::spit(dir / n, "earlier " + n + "\n");
      }
    }
    Log log;
    Calculations calc = stand_ins(log);
    calc.fractions = [&log](const survival::InformationInput&, numerics::UniformGenerator&,
                            Reports& rep) {
      log.calls.push_back("fractions");
      rep.unit60() << "Cov on TIF\n";
      return survival::InformationSets{};
    };
    EXPECT_EQ(stop_message(dir.path(), calc),
              "cannot create the report file " + planted + ": " + std::strerror(EISDIR));
    EXPECT_TRUE(log.calls.empty());
    for (const std::string& n : names) {
      if (n != planted) EXPECT_EQ(testing::slurp(dir / n), "earlier " + n + "\n") << n;
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir / planted));
    EXPECT_TRUE(hidden_files(dir / "a").empty());
    EXPECT_TRUE(hidden_files(dir.path()).empty());
  }
}

// A fort.60 of an earlier run that this run does not write is removed, and said so; one this run
// writes is replaced.
TEST(RunDirectory, StaleUnit60IsRemovedWhenTheRunWritesNone) {
  struct Case {
    int itime;
    bool kept;
  };
  for (const Case& c : {Case{3, false}, Case{1, true}}) {
    SCOPED_TRACE(c.itime);
    testing::ScratchDir dir;
    testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, c.itime, 1, 1));
    testing::spit(dir / "fort.60", "earlier blocks\n");
    Log log;
    Calculations calc = stand_ins(log);
    calc.fractions = [](const survival::InformationInput&, numerics::UniformGenerator&,
                        Reports& rep) {
      rep.unit60() << "Cov on TIF\n";
      return survival::InformationSets{};
    };
    std::ostringstream console, notes;
    run_directory(dir.path(), {}, console, notes, calc);
    EXPECT_EQ(std::filesystem::exists(dir / "fort.60"), c.kept);
    if (c.kept) EXPECT_EQ(testing::slurp(dir / "fort.60"), "Cov on TIF\n");
    EXPECT_EQ(notes.str().find("kestrel: removed fort.60 of an earlier run") == 0, !c.kept)
        << notes.str();
    EXPECT_TRUE(hidden_files(dir.path()).empty());
  }
}

// A figure of the information table too wide for its column is named on standard error, as
// the input summary's are (a calendar time of 1000 or more in a deck in days); so is a calendar
// time of 100 to 999.99, which fills its six columns and touches the analysis number before it
// ("    2500.13" is analysis 2 at 500.13).
TEST(RunDirectory, InformationTableFiguresTooWideAreNamed) {
  testing::ScratchDir dir;
  testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 3, 1, 1));
  Log log;
  Calculations calc = stand_ins(log);
  calc.calendar = [](const survival::InformationInput& in, numerics::UniformGenerator&, Reports&) {
    InformationSet s = plain_set(in);
    s.TCAL[1] = 500.13;
    s.TCAL[2] = 1095;
    return s;
  };
  std::ostringstream console, notes;
  run_directory(dir.path(), {}, console, notes, calc);
  EXPECT_NE(notes.str().find("kestrel: design 1: calendar time of the information table does not "
                             "fit its report column"),
            std::string::npos)
      << notes.str();
  EXPECT_NE(notes.str().find("kestrel: design 1: the calendar time of analysis 2 at 500.13 fills "
                             "the six columns of the information table's TIME"),
            std::string::npos)
      << notes.str();
  EXPECT_EQ(notes.str().find("analysis 1 at"), std::string::npos) << notes.str();
}

// All reports or none: a report that cannot be written (a full disk, a file-size limit) leaves
// every report of the earlier run as it was, fort.60 included, and no temporary file; the
// message names the report. The same when the run is ended by SIGTERM.
const std::vector<std::string> kEveryReport = {kMainReportPath, kSummaryPath, kMatrixPath,
                                               kUnit60Path,     kResultsPath, kHtmlReportPath};

void plant_earlier_reports(const testing::ScratchDir& dir) {
  for (const std::string& n : kEveryReport) testing::spit(dir / n, "earlier " + n + "\n");
}

void expect_earlier_reports(const testing::ScratchDir& dir) {
  for (const std::string& n : kEveryReport) EXPECT_EQ(testing::slurp(dir / n), "earlier " + n + "\n") << n;
  EXPECT_TRUE(hidden_files(dir / "a").empty());
  EXPECT_TRUE(hidden_files(dir.path()).empty());
}

Calculations unit60_writing(Log& log) {
  Calculations calc = stand_ins(log);
  calc.fractions = [](const survival::InformationInput&, numerics::UniformGenerator&, Reports& rep) {
    rep.main() << " ROWS\n";
    rep.unit60() << "Cov on TIF\n";
    survival::InformationSets s;
    s.ep1_driven.TCAL[0] = 1;
    s.ep2_driven.TCAL[0] = 2;
    return s;
  };
  return calc;
}

TEST(RunDirectory, AReportThatCannotBeWrittenReplacesNone) {
  for (const std::string& failing : kEveryReport) {
    for (bool stopped : {false, true}) {  // at the end of the run, and after a terminal error
      SCOPED_TRACE(failing + (stopped ? " after a stop" : ""));
      testing::ScratchDir dir;
      testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 1, 1, 3) + "0.5\n1.5\n" +
                                              design_line(0, 3, 1, 1));
      plant_earlier_reports(dir);
      Log log;
      log.fail_at_evaluation = stopped ? 3 : 0;
      reports::ReportFile::fail_next_finish_of(failing, ENOSPC);
      std::ostringstream console, notes;
      std::string message;
      try {
        run_directory(dir.path(), {}, console, notes, unit60_writing(log));
      } catch (const RunError& e) {
        message = stopped ? notes.str() : e.what();
      }
      EXPECT_NE(message.find("cannot write the report file " + failing +
                             ": No space left on device; no report was replaced"),
                std::string::npos)
          << message;
      expect_earlier_reports(dir);
    }
  }
}

TEST(RunDirectory, SignalsRemoveTheTemporaryFilesAndReplaceNothing) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    testing::ScratchDir dir;
    testing::spit(dir / "a/input.txt", "0 0 0 0\nT\n" + design_line(0, 1, 1, 3) + "0.5\n1.5\n");
    plant_earlier_reports(dir);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      reports::remove_temporary_files_on_signals();
      Log log;
      Calculations calc = unit60_writing(log);
      calc.evaluate = [&](const Design&, const InformationSet&,
                          const std::array<SpendingStatement, 2>&, double, double,
                          RunContext& ctx) -> samplesize::Evaluation {
        ctx.reports.main() << " ENGINE\n";
        ctx.reports.main().flush();
        if (::write(ready[1], "x", 1) != 1) ::_exit(3);
        for (;;) ::pause();  // the run is ended from outside, in the middle of a calculation
      };
      std::ostringstream console, notes;
      run_directory(dir.path(), {}, console, notes, calc);
      ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(hidden_files(dir / "a").size(), 5u);  // the reports are being written
    ::kill(child, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    expect_earlier_reports(dir);
  }
}

}  // namespace
}  // namespace kestrel::driver
