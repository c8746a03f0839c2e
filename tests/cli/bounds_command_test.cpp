// `kestrel bounds`: the documented examples (run and compared with docs/bounds.md), the CSV
// against the design routine, and refusal of bad options with exit status 2.
#include "cli/bounds_command.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "boundaries/bounds_request.h"
#include "boundaries/gsdesign.h"
#include "cli/bounds_options.h"
#include "cli/bounds_table.h"
#include "common/errors.h"

namespace kestrel::cli {
namespace {

using namespace boundaries;  // the calculation behind the command line

struct Outcome {
  int status;
  std::string out, err;
};

Outcome bounds(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = run_bounds_command(args, out, err);
  return {status, out.str(), err.str()};
}

std::vector<std::string> words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> w;
  for (std::string x; in >> x;) w.push_back(x);
  return w;
}

// The fenced examples of docs/bounds.md: a "$ kestrel bounds ..." line and the output after it.
struct Example {
  std::vector<std::string> args;
  std::string output;
};

std::vector<Example> documented_examples() {
  std::ifstream doc(std::string(KESTREL_SOURCE_DIR) + "/docs/bounds.md");
  std::vector<Example> examples;
  bool in_block = false;
  Example* current = nullptr;
  for (std::string line; std::getline(doc, line);) {
    if (line.rfind("```", 0) == 0) {
      in_block = !in_block;
      current = nullptr;
      continue;
    }
    if (!in_block) continue;
    if (line.rfind("$ kestrel bounds", 0) == 0) {
      examples.push_back({});
      current = &examples.back();
      std::vector<std::string> w = words(line);
      current->args.assign(w.begin() + 3, w.end());
    } else if (current) {
      current->output += line + "\n";
    }
  }
  return examples;
}

TEST(BoundsCommand, DocumentedExamplesPrintWhatTheDocumentShows) {
  const std::vector<Example> examples = documented_examples();
  ASSERT_EQ(examples.size(), 3u);
  for (const Example& ex : examples) {
    Outcome o = bounds(ex.args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, ex.output);
  }
  // The first example is the published O'Brien-Fleming design: its bounds and its last
  // cumulative crossing probability (the power) show in the table.
  const std::string& table = examples[0].output;
  for (const char* figure : {"3.7103", "2.5114", "1.9930", "0.900000"}) {
    EXPECT_NE(table.find(figure), std::string::npos) << figure;
  }
}

TEST(BoundsCommand, ProgramDispatchesToTheCalculator) {
  const std::string out = testing::TempDir() + "kestrel_bounds_out.txt";
  const std::vector<Example> examples = documented_examples();
  ASSERT_FALSE(examples.empty());
  std::string cmd = std::string("\"") + KESTREL_BINARY + "\" bounds";
  for (const std::string& a : examples[0].args) cmd += " " + a;
  ASSERT_EQ(std::system((cmd + " > \"" + out + "\"").c_str()), 0);
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), examples[0].output);
  const int status = std::system(
      (std::string("\"") + KESTREL_BINARY + "\" bounds --sides 3 > /dev/null 2>&1").c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
  std::remove(out.c_str());
}

TEST(BoundsCommand, CsvRowsCarryTheDesignFigures) {
  Outcome o = bounds({"--alpha", "0.05", "--sides", "2", "--spending", "4", "--phi", "-2",
                      "--times", "0.3,0.6,1", "--hr", "0.8", "--csv"});
  ASSERT_EQ(o.status, 0) << o.err;
  std::istringstream lines(o.out);
  std::string header;
  std::getline(lines, header);
  EXPECT_EQ(header,
            "k,time,lower,upper,nominal_lower,nominal_upper,alpha_spent,alpha_cumulative,"
            "crossing_probability,drift,events,subjects,expected_events,analysis_events,"
            "calendar_time");
  GsDesignInput in;
  in.K = 3;
  in.alpha = 0.05;
  in.sides = 2;
  in.spending.deck_code = 4;
  in.spending.has_phi = true;
  in.spending.phi = -2;
  in.power = 0.9;
  in.hr = 0.8;
  in.t = {0.3, 0.6, 1};
  in.ta = 1;
  in.tf = 1;
  in.control_survival = 0.5;
  in.allocation = 0.5;
  BoundaryWork work;
  std::ostringstream report;
  GsDesignResult r = GSDESIGN01(in, work, report);
  int rows = 0;
  for (std::string row; std::getline(lines, row); ++rows) {
    std::vector<double> v;
    std::stringstream ss(row);
    for (std::string cell; std::getline(ss, cell, ',');) v.push_back(std::stod(cell));
    ASSERT_EQ(v.size(), 15u);
    const int i = rows;
    EXPECT_EQ(v[0], i + 1);
    EXPECT_EQ(v[1], in.t[i]);
    EXPECT_EQ(v[2], r.za[i]);
    EXPECT_EQ(v[3], r.zb[i]);
    EXPECT_EQ(v[4], r.nominal_lower[i] / 2);  // one-sided levels of a two-sided design
    EXPECT_EQ(v[5], r.nominal_upper[i] / 2);
    EXPECT_EQ(v[6], r.pd[i]);
    EXPECT_EQ(v[7], r.pe[i]);
    EXPECT_EQ(v[8], r.qpos[i]);
    EXPECT_EQ(v[9], r.drift);
    EXPECT_EQ(v[10], r.events);
    EXPECT_EQ(v[11], r.subjects);
    EXPECT_EQ(v[12], r.expected_events);
    EXPECT_EQ(v[13], r.events * in.t[i]);
    // Uniform entry over 0..1, no loss: the expected events of the subjects by calendar time tau
    // in closed form, at the analysis's time, are the events of the analysis.
    const double tau = v[14], lc = -std::log(0.5) / 2.0;
    double events = 0;
    for (const double l : {lc, lc * 0.8}) {  // control, treatment: half the subjects each
      const double m = std::min(tau, 1.0);
      events += 0.5 * (m - (std::exp(-l * (tau - m)) - std::exp(-l * tau)) / l);  // entry density 1
    }
    EXPECT_NEAR(r.subjects * events, v[13], 1e-6 * v[13]) << i;
  }
  EXPECT_EQ(rows, 3);
}

// The control arm as a median, a hazard or a survival at a stated time gives the table of the
// survival at the end of the study that it describes; a slip in the loss is warned about.
TEST(BoundsCommand, ControlArmFormsOfOneLawGiveOneTable) {
  const double h = 0.3, end = 3.0;
  char survival[40], median[40], at[40];
  std::snprintf(survival, sizeof survival, "%.17g", std::exp(-h * end));
  std::snprintf(median, sizeof median, "%.17g", std::log(2.0) / h);
  std::snprintf(at, sizeof at, "%.17g", std::exp(-h * 1.5));
  const std::vector<std::string> base = {"--times", "0.5,1", "--accrual", "2", "--follow-up", "1",
                                         "--csv"};
  auto with = [&](std::vector<std::string> extra) {
    extra.insert(extra.end(), base.begin(), base.end());
    return bounds(extra);
  };
  const Outcome plain = with({"--survival", survival});
  ASSERT_EQ(plain.status, 0) << plain.err;
  for (const auto& form : std::vector<std::vector<std::string>>{
           {"--median", median}, {"--control-hazard", "0.3"},
           {"--survival", at, "--survival-time", "1.5"}}) {
    const Outcome o = with(form);
    EXPECT_EQ(o.status, 0) << form[0] << o.err;
    EXPECT_EQ(o.out, plain.out) << form[0];
  }
  EXPECT_EQ(with({"--median", "2", "--survival", "0.5"}).status, 2);
  EXPECT_EQ(with({"--survival-time", "2"}).status, 2);
  EXPECT_EQ(with({"--median", "0"}).status, 2);
  const Outcome text = bounds({"--median", median});
  EXPECT_NE(text.out.find("(median " + std::string(median).substr(0, 5)), std::string::npos)
      << text.out;
  // Warnings for likely slips, on standard error; the run goes on.
  struct Slip {
    std::vector<std::string> args;
    std::string says;
  };
  for (const Slip& s : std::vector<Slip>{
           {{"--dropout", "5"}, "was a percentage meant"},
           {{"--dropout-probability", "0.05", "--dropout-time", "12"}, "beyond the end of the study"},
           {{"--dropout", "0.5"}, "loses 62% of an arm's patients"}}) {
    const Outcome o = with(s.args);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find(s.says), std::string::npos) << o.err;
  }
  EXPECT_EQ(with({"--dropout", "0.05"}).err, "");
}

TEST(BoundsCommand, CodeFiveSpendsTheGivenCumulativeValues) {
  Outcome o = bounds(
      {"--spending", "5", "--cumulative", "0.005,0.015,0.025", "--times", "0.4,0.7,1", "--csv"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find(",0.005,0.005,"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find(",0.015,"), std::string::npos);
}

TEST(BoundsCommand, BadOptionsAreRefusedWithExitStatusTwo) {
  struct Case {
    std::vector<std::string> args;
    std::string must_mention;
  };
  const std::vector<Case> cases = {
      {{"--alpha", "1.5"}, "'1.5' for --alpha"},
      {{"--alpha", "abc"}, "'abc' for --alpha"},
      {{"--alpha=0"}, "'0' for --alpha"},
      {{"--sides", "3"}, "'3' for --sides"},
      {{"--spending", "7"}, "'7' for --spending"},
      {{"--spending", "2.5"}, "'2.5' for --spending"},
      {{"--phi", "2"}, "'2' for --phi"},
      {{"--spending", "3"}, "needs --phi"},
      {{"--spending", "3", "--phi", "-1"}, "'-1' for --phi"},
      {{"--spending", "4", "--phi", "0"}, "'0' for --phi"},
      {{"--times", "0.5,0.4,1"}, "'0.5,0.4,1' for --times"},
      {{"--times", "0,1"}, "'0,1' for --times"},
      {{"--times", "0.5,1.2"}, "'0.5,1.2' for --times"},
      {{"--times", "0.5,,1"}, "'' is not a number"},
      {{"--cumulative", "0.01,0.025"}, "for --cumulative"},
      {{"--spending", "5"}, "needs --cumulative"},
      {{"--spending", "5", "--times", "0.5,1", "--cumulative", "0.01,0.02"},
       "'0.01,0.02' for --cumulative"},
      {{"--spending", "5", "--times", "0.5,1", "--cumulative", "0.025"}, "needs 2 cumulative"},
      {{"--spending", "5", "--times", "0.5,1", "--cumulative", "0.02,0.01"}, "strictly"},
      {{"--power", "1"}, "'1' for --power"},
      {{"--hr", "1"}, "'1' for --hr"},
      {{"--hr", "-0.7"}, "'-0.7' for --hr"},
      {{"--accrual", "-1"}, "'-1' for --accrual"},
      {{"--accrual", "0", "--follow-up", "0"}, "--accrual 0 and --follow-up 0"},
      {{"--survival", "1"}, "'1' for --survival"},
      {{"--allocation", "0"}, "'0' for --allocation"},
      {{"--bogus", "1"}, "unknown option '--bogus'"},
      {{"--alpha"}, "--alpha needs a value"},
      {{"--alpha", "0.05", "--alpha", "0.01"}, "--alpha given twice"},
      {{"--csv=yes"}, "--csv takes no value"},
      {{"0.05"}, "unexpected argument '0.05'"},
      // The limits shared with the deck checks: the one-sided level in [1e-6, 0.5], the power
      // above it; below 1e-6 the table showed a bound of 0 or 8 and nonsense spending.
      {{"--alpha", "1e-16", "--times", "0.5,1"}, "'1e-16' for --alpha: one-sided alpha must lie"},
      {{"--alpha", "1e-300"}, "'1e-300' for --alpha"},
      {{"--alpha", "5e-324"}, "'5e-324' for --alpha"},
      {{"--alpha", "1e-8"}, "'1e-8' for --alpha"},
      {{"--alpha", "0.6"}, "'0.6' for --alpha"},
      {{"--alpha", "0.9999"}, "'0.9999' for --alpha"},
      {{"--sides", "2", "--alpha", "1.5"}, "two-sided alpha (both sides together) must lie"},
      {{"--power", "1e-9"}, "'1e-9' for --power: the power must exceed the one-sided alpha 0.025"},
      {{"--alpha", "0.5", "--power", "0.4"}, "'0.4' for --power"},
      {{"--csv", "--csv"}, "--csv given twice"},
      {{"--exact", "--exact"}, "--exact given twice"},
      {{"--dropout-probability", "0.5", "--dropout-time", "1e-320"}, "'1e-320' for --dropout-time: the hazard of loss (inf per time unit) loses every subject"},
      {{"--dropout", "1e300"}, "'1e300' for --dropout: the hazard of loss (1e+300 per time unit)"},
      {{"--accrual", "2", "--accrual-pieces", "1,2", "--accrual-intensity", "1e308,1e308"}, "from 1e-100 to 1e100"},
      {{"--dropout", "-0.1"}, "'-0.1' for --dropout"},
      {{"--dropout", "0.1,0.2,0.3"}, "'0.1,0.2,0.3' for --dropout"},
      {{"--dropout-probability", "1", "--dropout-time", "2"}, "'1' for --dropout-probability"},
      {{"--dropout-probability", "0.1", "--dropout-time", "0"}, "'0' for --dropout-time"},
      {{"--dropout-probability", "0.1"}, "go together"},
      {{"--dropout", "0.1", "--dropout-probability", "0.1", "--dropout-time", "1"}, "not both"},
      {{"--accrual-pieces", "0.5,1"}, "go together"},
      {{"--accrual-pieces", "0.5,0.9", "--accrual-intensity", "1,2"}, "'0.5,0.9' for --accrual-pieces"},
      {{"--accrual-pieces", "0.6,0.5,1", "--accrual-intensity", "1,2,3"}, "for --accrual-pieces"},
      {{"--accrual-pieces", "0.5,1", "--accrual-intensity", "1,0"}, "'1,0' for --accrual-intensity"},
      {{"--accrual-pieces", "0.5,1", "--accrual-intensity", "1"}, "for --accrual-intensity"},
      {{"--accrual-pieces", "0.1,0.2,0.3,0.4,0.5,0.6,0.7,0.8,0.9,0.95,1", "--accrual-intensity",
        "1,1,1,1,1,1,1,1,1,1,1"}, "1 to 10 piece ends"},
      // A switch given twice is refused as every other option is.
      {{"--times", "0.5,1", "--futility-z", "0", "--binding", "--binding"},
       "option --binding given twice"},
      // A piecewise law is the control arm: with another form of it, which one holds is unclear.
      {{"--hazards", "0.1", "--survival", "0.3"},
       "give the control arm once: --hazards (the piecewise law) and --survival were both given"},
      {{"--hazard-times", "1", "--hazards", "0.1,0.2", "--median", "2"}, "and --median were both"},
      {{"--hazards", "0.1", "--control-hazard", "0.2"}, "and --control-hazard were both"},
      {{"--hazards", "0.1", "--survival", "0.5", "--survival-time", "2"}, "and --survival were"},
  };
  for (const Case& c : cases) {
    Outcome o = bounds(c.args);
    EXPECT_EQ(o.status, 2) << c.must_mention;
    EXPECT_EQ(o.out, "") << c.must_mention;
    EXPECT_NE(o.err.find(c.must_mention), std::string::npos) << o.err;
    EXPECT_EQ(o.err.rfind("kestrel bounds: ", 0), 0u) << o.err;
  }
}

// Documented values and extremes run, or stop with a message in plain words (status 1, nothing on
// standard output): futility bounds of -8 stop nothing, so the CSV is that of the design without
// futility stops, byte for byte; a law that gives no events names the law in force (not the
// unused default survival); a count of subjects beyond the whole numbers says so; alpha too small
// to spend at an early analysis is one sentence per analysis.
TEST(BoundsCommand, DocumentedValuesAndExtremesRunOrStopInPlainWords) {
  struct Same {
    std::vector<std::string> args, without;
  };
  for (const Same& c : std::vector<Same>{
           {{"--times", "0.5,1", "--futility-z=-8", "--csv"}, {"--times", "0.5,1", "--csv"}},
           {{"--times", "1/3,2/3,1", "--futility-z", "-8,-8", "--exact", "--binding", "--csv"},
            {"--times", "1/3,2/3,1", "--exact", "--csv"}},
           {{"--times", "0.5,1", "--futility-z", "-8", "--hazards", "0.3", "--csv"},
            {"--times", "0.5,1", "--hazards", "0.3", "--csv"}}}) {
    const Outcome o = bounds(c.args), plain = bounds(c.without);
    EXPECT_EQ(o.status, 0) << c.args[3] << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, plain.out) << c.args[3];
  }
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err, not_err;
  };
  std::string t25;
  for (int k = 1; k <= 25; ++k) t25 += (k > 1 ? "," : "") + std::to_string(k) + "/25";
  const std::vector<Case> cases = {
      {{"--times", "0.5,1", "--futility-z", "-8"}, 0,
       "\nFutility stops: z -8, non-binding: a bound of -8 stops nothing; the design is the one "
       "without futility stops\n\n  k      events",
       "", "?"},
      // A hazard-ratio threshold whose z lies below -8 stops nothing, as z = -8 does.
      {{"--times", "0.5,1", "--futility-hr", "1e300"}, 0,
       "\n  1  -8.0000  0.0000000   3.4652", "", "too little information"},
      {{"--dropout", "0,100", "--allocation", "0.999999"}, 1, "",
       "the number of subjects, 82594560 events over the event probability "
       "0.0024205438224192857 by the end of the study, is 3.412e+10: more than the largest whole "
       "number that can be counted (2147483647)",
       "cannot be formed"},
      {{"--hazards", "1e-300"}, 1, "",
       "kestrel bounds: no events are expected by the end of the study (event probability 0): "
       "piecewise control hazards 1e-300, hazard ratios 0.7, allocation 0.5, accrual 1, "
       "follow-up 1\n",
       "survival"},
      {{"--times", t25}, 0, "",
       "kestrel bounds: warning: analysis 2 (information fraction 0.08): the spending function "
       "gives it 2.22e-15 of alpha, too little to spend (less than 1e-13); none is spent there "
       "and its bound stays at 8 (no stop for efficacy)\n",
       "Zero used"},
  };
  for (const Case& c : cases) {
    const Outcome o = bounds(c.args);
    EXPECT_EQ(o.status, c.status) << c.args[0] << o.err;
    if (c.status != 0) EXPECT_EQ(o.out, "");
    EXPECT_NE(o.out.find(c.out), std::string::npos) << o.out;
    EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find(c.not_err), std::string::npos) << o.err;
  }
}

// The ends of the documented ranges run: two-sided alpha 1 spends the rest at the final analysis,
// whose bounds are 0 (every path stops there), with the grid as with the exact method.
TEST(BoundsCommand, TwoSidedAlphaOneRunsWithEitherMethod) {
  for (bool exact : {false, true}) {
    std::vector<std::string> args = {"--alpha", "1", "--sides", "2", "--times", "0.5,1", "--csv"};
    if (exact) args.push_back("--exact");
    Outcome o = bounds(args);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "") << exact;
  }
}

// A last analysis before full information (a trial that stopped early) is kept, and the table
// says how much of alpha it spends: for the O'Brien-Fleming type, 2 (1 - Phi(z_{a/2} / sqrt(t))).
TEST(BoundsCommand, LastTimeBelowOneSaysHowMuchOfAlphaItSpends) {
  Outcome o = bounds({"--times", "0.5,0.9"});
  EXPECT_EQ(o.status, 0) << o.err;
  const double z = 2.2414027276049464;  // upper 0.0125 point of the normal law
  const double spent = std::erfc(z / std::sqrt(0.9) / std::sqrt(2.0));
  const std::string key = "Last analysis at information fraction 0.9 < 1: it spends ";
  const size_t at = o.out.find(key);
  ASSERT_NE(at, std::string::npos) << o.out;
  EXPECT_NEAR(std::stod(o.out.substr(at + key.size())), spent, 1e-9);
  EXPECT_NE(o.out.find(" of alpha 0.025\n"), std::string::npos);
  EXPECT_EQ(bounds({"--times", "0.5,1"}).out.find("Last analysis"), std::string::npos);
}

TEST(BoundsCommand, HelpListsEveryOption) {
  Outcome o = bounds({"--help"});
  EXPECT_EQ(o.status, 0);
  for (const char* name :
       {"--alpha", "--sides", "--spending", "--phi", "--cumulative", "--times", "--power", "--hr",
        "--accrual", "--follow-up", "--survival", "--allocation", "--csv", "--dropout",
        "--dropout-probability", "--dropout-time", "--accrual-pieces", "--accrual-intensity"}) {
    EXPECT_NE(o.out.find(name), std::string::npos) << name;
  }
}

TEST(BoundsCommand, AnalysesTooCloseTogetherEndWithStatusOne) {
  Outcome o = bounds({"--times", "0.9999,1"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("too close together"), std::string::npos) << o.err;
}

// A spending function that overflows ends the calculator with status 1 and prints no table with
// bounds of no meaning.
TEST(BoundsCommand, SpendingThatOverflowsEndsWithStatusOneAndNoTable) {
  Outcome o = bounds({"--spending", "4", "--phi", "-710", "--times", "0.5,1"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err,
            "kestrel bounds: the spending function 4 with phi = -710 gives a cumulative alpha "
            "that is not a number at analysis 2 (information fraction 1); its formula overflows "
            "there\n");
}

}  // namespace
}  // namespace kestrel::cli

namespace kestrel::cli {
namespace {

// The parsed options give the same table as the command line's CSV, and a bad option comes back
// as the core's error naming the option.
// Loss to follow-up and accrual pieces change the subjects only: the events stay those of the
// drift, and the subjects are the events over the event probability, here against the closed form
// of uniform entry over TA with exponential loss (hazards given, or 10 % lost by time 2). Zero
// loss gives the plain design's figures.
TEST(BoundsApi, LossAndPiecesDivideTheEventsByTheirEventProbability) {
  const double TA = 2, TF = 1, S = 0.4, hr = 0.7;
  const double lc = -std::log(S) / (TA + TF), lt = lc * hr;
  auto closed = [&](double l, double d) {  // follow-up uniform over [TF, TA + TF]
    const double k = l + d;
    return l / k * (1 - std::exp(-k * TF) * (1 - std::exp(-k * TA)) / (k * TA));
  };
  const std::vector<std::string> base = {"--times", "0.5,1", "--accrual", "2", "--follow-up", "1",
                                         "--survival", "0.4", "--hr", "0.7"};
  const BoundsResult plain = calculate_bounds(parse_bounds_request(base));
  struct Case {
    std::vector<std::string> extra;
    double dc, dt;
  };
  const double p10 = -std::log(0.9) / 2;
  for (const Case& c : std::vector<Case>{{{"--dropout", "0.05,0.15"}, 0.05, 0.15},
                                         {{"--dropout", "0"}, 0, 0},
                                         {{"--dropout-probability", "0.1", "--dropout-time", "2"},
                                          p10, p10}}) {
    std::vector<std::string> args = base;
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const BoundsResult t = calculate_bounds(parse_bounds_request(args));
    const double pev = 0.5 * closed(lc, c.dc) + 0.5 * closed(lt, c.dt);
    EXPECT_EQ(t.result.events, plain.result.events) << c.extra[0];
    EXPECT_NEAR(t.result.pev, c.dc == 0 ? plain.result.pev : pev, 1e-12) << c.extra[0];
    EXPECT_EQ(t.result.subjects,
              static_cast<int>(std::ceil(t.result.events / (c.dc == 0 ? plain.result.pev : pev))));
  }
  std::vector<std::string> ramp = base;
  for (const char* a : {"--accrual-pieces", "1,2", "--accrual-intensity", "1,3"}) ramp.push_back(a);
  EXPECT_GT(calculate_bounds(parse_bounds_request(ramp)).result.subjects, plain.result.subjects);
}

TEST(BoundsApi, ParsedOptionsMatchTheCommandAndBadOnesNameTheOption) {
  const std::vector<std::string> args = {"--times", "1/3,2/3,1", "--spending", "3", "--phi", "2",
                                         "--hr", "0.75"};
  std::ostringstream csv;
  write_bounds_csv(calculate_bounds(parse_bounds_request(args)), csv);
  std::vector<std::string> with_csv = args;
  with_csv.push_back("--csv");
  const Outcome o = bounds(with_csv);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(csv.str(), o.out);
  struct Case {
    std::vector<std::string> args;
    std::string field;
  };
  for (const Case& c : std::vector<Case>{{{"--alpha", "1.5"}, "--alpha"},
                                         {{"--spending", "3"}, "--phi"},
                                         {{"--accrual", "0", "--follow-up", "0"}, "--follow-up"},
                                         {{"--csv"}, ""}}) {
    try {
      parse_bounds_request(c.args);
      ADD_FAILURE() << "accepted " << c.args[0];
    } catch (const RunError& e) {
      EXPECT_EQ(e.field(), c.field) << e.what();
    }
  }
}

}  // namespace
}  // namespace kestrel::cli
