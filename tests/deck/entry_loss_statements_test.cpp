// The DROPOUT and ACCRUAL statements of a design: what they give the design, and every problem of
// them reported at once with its line, field, value and what is allowed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "deck/deck.h"

namespace kestrel::deck {
namespace {

// One calendar-time design (TA = 2, no spending statements) followed by `extra`, then a second
// design that states nothing.
std::string deck_with(const std::string& extra) {
  const std::string record =
      "0 3 1 1 1 0\n2.0 1.25 0.5 2.0 1.25 0.4\n2.0 3.0 0.3 0.4 0.5 1\n0.025 0 0.8 1 3 3 1 2\n"
      "1.0 2.0 5.0\n";
  return "0 0 0 0\nT\n" + record + extra + record;
}

TEST(EntryLossStatements, ValuesGivenToTheDesignOnly) {
  struct Case {
    std::string extra;
    double hc, ht;
    std::vector<double> ends, rates;
  };
  const double p10 = -std::log(0.9) / 2.0;  // 10 % lost by time 2
  const std::vector<Case> cases = {
      {"DROPOUT HAZARD 0.05 0.15   comment\n", 0.05, 0.15, {}, {}},
      {"dropout hazard 0.05 /\n", 0.05, 0.05, {}, {}},  // one value: both arms
      // One value on its line: both arms; the next design's NSIM is never taken for the second.
      {"DROPOUT HAZARD 0.05\n", 0.05, 0.05, {}, {}},
      {"DROPOUT PROBABILITY 2 0.1\n", p10, p10, {}, {}},
      {"DROPOUT HAZARD 2*0.07\n", 0.07, 0.07, {}, {}},
      {"DROPOUT PROBABILITY 2 0.1 0.1\n", p10, p10, {}, {}},
      {"ACCRUAL 3\n 0.5 1.2 2.0\n 1 2 4\nDROPOUT HAZARD 0 0.1\n", 0.0, 0.1, {0.5, 1.2, 2.0},
       {1, 2, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    const Deck d = read_deck(deck_with(c.extra));
    ASSERT_TRUE(check_deck(d).empty()) << check_deck(d)[0].message("deck");
    ASSERT_EQ(d.designs.size(), 2u);
    const EntryAndLoss& el = d.designs[0].design.entry_loss;
    EXPECT_NEAR(el.dropout[0], c.hc, 1e-15);
    EXPECT_NEAR(el.dropout[1], c.ht, 1e-15);
    EXPECT_EQ(el.accrual_end, c.ends);
    EXPECT_EQ(el.accrual_intensity, c.rates);
    EXPECT_TRUE(d.designs[1].design.entry_loss.plain());  // nothing carries over
  }
}

TEST(EntryLossStatements, EveryProblemIsReportedWithLineFieldAndValue) {
  const std::string extra =
      "DROPOUT HAZARD -0.1 0.2\n"              // line 8
      "ACCRUAL 3 1.0 0.8 2.5 1 0 2\n"          // line 9
      "DROPOUT PROBABILITY 0 1.0 0.5\n";       // line 10
  const std::vector<DeckProblem> p = check_deck(read_deck(deck_with(extra)));
  std::vector<std::string> got;
  for (const DeckProblem& q : p) got.push_back(q.message("a/input.txt"));
  const std::vector<std::string> want = {
      "a/input.txt:8: design 1: DROPOUT hazard of the control arm = -0.1: a hazard of loss must "
      "be 0 or more (per time unit of TA and TF)",
      "a/input.txt:9: design 1: ACCRUAL end(2) = 0.8: the ends of the accrual pieces must increase",
      "a/input.txt:9: design 1: ACCRUAL end(3) = 2.5: the last accrual piece must end at the "
      "accrual time TA = 2",
      "a/input.txt:9: design 1: ACCRUAL intensity(2) = 0: the relative intensity of an accrual "
      "piece must be above 0",
      "a/input.txt:10: design 1: DROPOUT: a design takes one DROPOUT statement; the first is on "
      "line 8",
      "a/input.txt:10: design 1: DROPOUT time = 0: the time by which the probabilities of loss are "
      "stated must be above 0",
      "a/input.txt:10: design 1: DROPOUT probability of the control arm = 1: a probability of "
      "loss must lie in [0, 1)",
  };
  EXPECT_EQ(got, want);
  // More than ten pieces, an unknown form of loss.
  const auto q = check_deck(read_deck(deck_with("ACCRUAL 11\nDROPOUT RATE 0.1\n")));
  ASSERT_EQ(q.size(), 2u);
  EXPECT_EQ(q[0].field, "ACCRUAL number of pieces");
  EXPECT_NE(q[0].allowed.find("1 to 10 pieces"), std::string::npos);
  EXPECT_EQ(q[1].value, "RATE");
  // A statement where no design has just ended (before the first design) says where it belongs.
  const auto r = check_deck(read_deck("0 0 0 0\nT\nDROPOUT HAZARD 0.1 0.1\n"));
  ASSERT_FALSE(r.empty());
  EXPECT_NE(r[0].allowed.find("belongs right after a design record"), std::string::npos);
  // Extreme values that the ranges allow but no calculation can use, refused naming the loss or
  // the piece (TA + TF = 5 in this deck).
  const struct {
    std::string extra, field, words;
  } extreme[] = {
      {"DROPOUT PROBABILITY 1e-320 0.5 0.5\n", "DROPOUT time", "hazard times TA + TF must be at most 700"},
      {"DROPOUT HAZARD 1e300 1e300\n", "DROPOUT hazard of the control arm", "loses every subject"},
      {"DROPOUT HAZARD 0 141\n", "DROPOUT hazard of the treatment arm", "at TA + TF = 5"},
      {"ACCRUAL 2 1 2 1e308 1e308\n", "ACCRUAL intensity(1)", "between 1e-100 and 1e100"},
  };
  for (const auto& c : extreme) {
    const auto e = check_deck(read_deck(deck_with(c.extra)));
    ASSERT_FALSE(e.empty()) << c.extra;
    EXPECT_EQ(e[0].line, 8) << c.extra;
    EXPECT_EQ(e[0].field, c.field) << c.extra;
    EXPECT_NE(e[0].allowed.find(c.words), std::string::npos) << e[0].allowed;
  }
}

// MODEL and CONTROL: the model a design asks for, and the control arm as a median, a hazard or
// a survival at a stated time, each turned into the survival at the end of the study (TA + TF =
// 5 here) that SRVR1 and SRVR2 then hold; the three forms of one law give the same values.
TEST(ModelAndControlStatements, FormsOfOneLawGiveTheSameSurvival) {
  const double h1 = 0.2, h2 = 0.1;  // control hazards of EP1, EP2
  struct Case {
    std::string extra;
    int model;
    double s1, s2;
  };
  char median[96], survival_at[96];
  std::snprintf(median, sizeof median, "CONTROL MEDIAN %.17g %.17g\n", std::log(2.0) / h1,
                std::log(2.0) / h2);
  std::snprintf(survival_at, sizeof survival_at, "control survival 1.5 %.17g %.17g\n",
                std::exp(-1.5 * h1), std::exp(-1.5 * h2));
  const std::vector<Case> cases = {
      {"MODEL EXACT\n", 2, 0.3, 0.4},
      {"model default\nDROPOUT HAZARD 0.1 /\n", 1, 0.3, 0.4},
      {"CONTROL HAZARD 0.2 0.1\n", 0, std::exp(-5 * h1), std::exp(-5 * h2)},
      {median, 0, std::exp(-5 * h1), std::exp(-5 * h2)},
      {survival_at, 0, std::exp(-5 * h1), std::exp(-5 * h2)},
      {"CONTROL HAZARD 0.2 /\nMODEL EXACT\n", 2, std::exp(-5 * h1), std::exp(-5 * h1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    const Deck d = read_deck(deck_with(c.extra));
    ASSERT_TRUE(check_deck(d).empty()) << check_deck(d)[0].message("deck");
    ASSERT_EQ(d.designs.size(), 2u);
    const Design& g = d.designs[0].design;
    EXPECT_EQ(g.model_control.model, c.model);
    EXPECT_NEAR(g.read.SRVR1, c.s1, 1e-14);
    EXPECT_NEAR(g.read.SRVR2, c.s2, 1e-14);
    EXPECT_EQ(g.stored.SRVR1, g.read.SRVR1);
    // Nothing carries over: the next design has its record's own survival and no model.
    EXPECT_EQ(d.designs[1].design.model_control.model, 0);
    EXPECT_EQ(d.designs[1].design.read.SRVR1, 0.3);
  }
  const std::vector<DeckProblem> p = check_deck(read_deck(deck_with(
      "MODEL FAST\nCONTROL MEDIAN 0 2\nCONTROL SURVIVAL 1 1.2 0.5\n")));
  std::vector<std::string> got;
  for (const DeckProblem& q : p) got.push_back(q.message("a/input.txt"));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].substr(0, 43), "a/input.txt:8: design 1: MODEL = FAST: MODE");
  EXPECT_EQ(got[1], "a/input.txt:9: design 1: CONTROL median of EP1 = 0: a control-arm median must "
                    "be above 0 (in time units of TA and TF)");
  EXPECT_EQ(got[2], "a/input.txt:10: design 1: CONTROL: a design takes one CONTROL statement; the "
                    "first is on line 9");
  EXPECT_EQ(got[3], "a/input.txt:10: design 1: CONTROL survival of EP1 = 1.2: a control-arm "
                    "survival probability must lie strictly between 0 and 1");
}

}  // namespace
}  // namespace kestrel::deck
