// The HAZARDS statement of a design: the piecewise law it gives each endpoint (also from control
// survivals at stated times), and every problem of it reported at once.
#include <gtest/gtest.h>

#include <cmath>

#include "deck/deck.h"

namespace kestrel::deck {
namespace {

std::string deck_with(const std::string& extra) {
  const std::string record =
      "0 3 1 1 1 0\n2.0 1.25 0.5 2.0 1.25 0.4\n2.0 3.0 0.3 0.4 0.5 1\n0.025 0 0.8 1 3 3 1 2\n"
      "1.0 2.0 5.0\n";
  return "0 0 0 0\nT\n" + record + extra + record;
}

TEST(HazardsStatement, LawsGivenToTheDesignOnly) {
  const std::string extra =
      "hazards ep1 3  0.5 1.5\n 0.9 0.4 0.2\n 1 0.6 0.6    delayed effect\n"
      "DROPOUT HAZARD 0.05 /\n"
      "HAZARDS EP2 SURVIVAL 2  1.0 3.0  0.8 0.4  1 0.7\n";
  const Deck d = read_deck(deck_with(extra));
  ASSERT_TRUE(check_deck(d).empty()) << check_deck(d)[0].message("deck");
  ASSERT_EQ(d.designs.size(), 2u);
  const EntryAndLoss& el = d.designs[0].design.entry_loss;
  EXPECT_EQ(el.hazards[0].change, (std::vector<double>{0.5, 1.5}));
  EXPECT_EQ(el.hazards[0].control, (std::vector<double>{0.9, 0.4, 0.2}));
  EXPECT_EQ(el.hazards[0].ratio, (std::vector<double>{1, 0.6, 0.6}));
  EXPECT_EQ(el.dropout[1], 0.05);
  // Survival 0.8 at 1 and 0.4 at 3: hazards -ln 0.8 and ln 2 / 2, changing at 1.
  EXPECT_EQ(el.hazards[1].change, (std::vector<double>{1.0}));
  ASSERT_EQ(el.hazards[1].control.size(), 2u);
  EXPECT_NEAR(el.hazards[1].control[0], -std::log(0.8), 1e-15);
  EXPECT_NEAR(el.hazards[1].control[1], std::log(2.0) / 2.0, 1e-15);
  EXPECT_EQ(d.designs[0].design.entry_loss_statements.hazards_line, (std::array<int, 2>{8, 12}));
  EXPECT_TRUE(d.designs[1].design.entry_loss.plain());
}

TEST(HazardsStatement, EveryProblemIsReportedWithLineFieldAndValue) {
  const std::string extra =
      "HAZARDS EP1 3  1.0 0.5  1.2 -0.7 0.35  1 0 0.65\n"   // line 8
      "HAZARDS EP2 SURVIVAL 2  1.0 2.0  0.8 0.9  1 0.75\n"  // line 9
      "HAZARDS EP3 1 1 1\n"                                 // line 10
      "HAZARDS EP2 11\n"                                    // line 11
      "HAZARDS EP1 SURVIVAL 1 0 1.5 2\n";                   // line 12
  std::vector<std::string> got;
  for (const DeckProblem& q : check_deck(read_deck(deck_with(extra))))
    got.push_back(q.message("a/input.txt"));
  const std::vector<std::string> want = {
      "a/input.txt:8: design 1: HAZARDS EP1 change(2) = 0.5: the times must increase",
      "a/input.txt:8: design 1: HAZARDS EP1 hazard(2) = -0.7: a control hazard must be above 0 "
      "(per time unit of TA and TF)",
      "a/input.txt:8: design 1: HAZARDS EP1 ratio(2) = 0: a hazard ratio (treatment over "
      "control) must be above 0",
      "a/input.txt:9: design 1: HAZARDS EP2 survival(2) = 0.9: the control survivals must "
      "decrease from one time to the next",
      "a/input.txt:10: design 1: HAZARDS endpoint = EP3: HAZARDS is followed by the endpoint, EP1 "
      "or EP2",
      "a/input.txt:11: design 1: HAZARDS EP2: a design takes one HAZARDS statement per endpoint; "
      "the first for EP2 is on line 9",
      "a/input.txt:11: design 1: HAZARDS EP2 number of pieces = 11: an endpoint's law has 1 to 10 "
      "pieces",
      "a/input.txt:12: design 1: HAZARDS EP1: a design takes one HAZARDS statement per endpoint; "
      "the first for EP1 is on line 8",
      "a/input.txt:12: design 1: HAZARDS EP1 time(1) = 0: the first time must be above 0",
      "a/input.txt:12: design 1: HAZARDS EP1 survival(1) = 1.5: a control survival must lie "
      "strictly between 0 and 1",
  };
  EXPECT_EQ(got, want);
}

// Ratios of 1 or more throughout are refused for a sample-size search (MSSG 0), as a harmful
// record ratio is; harm then benefit, or a fixed size, is not. CONTROL beside HAZARDS of both
// endpoints states nothing in force and is refused; beside HAZARDS of one it gives the other's law.
TEST(HazardsStatement, HarmThroughoutAndAControlArmGivenTwiceAreRefused) {
  const std::string fixed_size = "0 3 1 1 1 500\n";
  struct Case {
    std::string extra;
    bool fixed;
    std::vector<std::string> want;
  };
  const std::vector<Case> cases = {
      {"HAZARDS EP1 2 1.0 0.5 0.5 1 1.25\n", false,
       {"a/input.txt:8: design 1: HAZARDS EP1 ratio(2) = 1.25: the ratios of HAZARDS are "
        "treatment over control, so ratios of 1 or more throughout describe a harmful treatment "
        "and no sample size reaches the target power; for a treatment whose hazard is 0.8 times "
        "the control's write the reciprocal 0.8 instead (or give MSSG > 0 to compute the power "
        "of a fixed size)"}},
      {"HAZARDS EP1 2 1.0 0.5 0.5 1.2 0.8\n", false, {}},
      {"HAZARDS EP1 2 1.0 0.5 0.5 1 1.25\n", true, {}},
      {"CONTROL MEDIAN 2 3\nHAZARDS EP1 1 0.2 0.7\nHAZARDS EP2 1 0.2 0.7\n", false,
       {"a/input.txt:8: design 1: CONTROL: give the control arm once: the HAZARDS statements on "
        "lines 9 and 10 state the control arm of EP1 and EP2, so this statement states nothing in "
        "force; leave out one of them"}},
      // CONTROL gives EP1's law, HAZARDS EP2's.
      {"CONTROL MEDIAN 2 3\nHAZARDS EP2 1 0.2 0.7\n", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    std::string text = deck_with(c.extra);
    if (c.fixed) text.replace(text.find("0 3 1 1 1 0\n"), 12, fixed_size);
    std::vector<std::string> got;
    for (const DeckProblem& p : check_deck(read_deck(text))) got.push_back(p.message("a/input.txt"));
    EXPECT_EQ(got, c.want);
  }
}

}  // namespace
}  // namespace kestrel::deck
