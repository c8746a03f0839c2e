// What the deck checks accept and refuse, and that every problem of a deck is reported.
#include <gtest/gtest.h>

#include <cmath>

#include "deck/deck.h"

namespace kestrel::deck {
namespace {

// One calendar-time design; `fields` replaces values by position (0-based, deck order).
std::string deck_with(std::vector<std::pair<int, std::string>> fields, std::string extra = "") {
  std::vector<std::string> v = {"0",   "3",   "1",     "1",   "1",   "0",   "2.0", "1.25", "0.5",
                                "2.0", "1.25", "0.4",  "2.0", "3.0", "0.3", "0.4", "0.5",  "1",
                                "0.025", "0", "0.8",   "1",   "3",   "3",   "1",   "2",    "1.0",
                                "2.0", "5.0"};
  for (auto& [i, s] : fields) v[static_cast<size_t>(i)] = s;
  std::string s = "0 0 0 0\nT\n";
  for (size_t i = 0; i < v.size(); ++i) s += v[i] + (i % 6 == 5 ? "\n" : " ");
  return s + "\n" + extra;
}

std::vector<DeckProblem> problems(const std::string& text) { return check_deck(read_deck(text)); }

TEST(DeckCheck, ReferenceDesignPasses) { EXPECT_TRUE(problems(deck_with({})).empty()); }

TEST(DeckCheck, EveryProblemOfADesignIsReported) {
  auto p = problems(deck_with({{CPL, "0"}, {RHO, "1.5"}, {POWER, "1.2"}, {TLOOK1 + 1, "0.5"}}));
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[0].field, "CPL");
  EXPECT_EQ(p[0].line, 3);
  EXPECT_EQ(p[1].field, "RHO");
  EXPECT_EQ(p[1].line, 4);
  EXPECT_EQ(p[2].field, "POWER");
  EXPECT_EQ(p[2].line, 6);
  EXPECT_EQ(p[3].field, "TLOOK(2)");
  EXPECT_EQ(p[3].value, "0.5");
  EXPECT_NE(p[3].allowed.find("strictly increasing"), std::string::npos);
}

TEST(DeckCheck, HazardRatioRules) {
  // The simulation ratios may be 1 or below 1; the design ratios may not be 1.
  EXPECT_TRUE(problems(deck_with({{HR1TR, "1"}, {HR2TR, "0.8"}})).empty());
  auto one = problems(deck_with({{HR2, "1.0"}}));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].field, "HR2");
  // Below 1: refused when the size is searched, with the reciprocal to write instead...
  auto harmful = problems(deck_with({{HR1, "0.8"}}));
  ASSERT_EQ(harmful.size(), 1u);
  EXPECT_NE(harmful[0].allowed.find("control over treatment"), std::string::npos);
  EXPECT_NE(harmful[0].allowed.find("reciprocal 1.25 "), std::string::npos);
  // ... but the power of a given size may be computed.
  EXPECT_TRUE(problems(deck_with({{HR1, "0.8"}, {MSSG, "500"}})).empty());
  EXPECT_EQ(problems(deck_with({{HR1, "-2"}, {MSSG, "500"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{HR1TR, "0"}})).size(), 1u);
}

TEST(DeckCheck, RangesAtTheirEdges) {
  EXPECT_TRUE(problems(deck_with({{RHO, "0"}, {RHOTR, "0.99"}, {TF, "0"}, {TLOOK1 + 2, "2"}, {TLOOK1 + 1, "1.5"}})).empty());
  EXPECT_EQ(problems(deck_with({{RHOTR, "1"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{SRVR2, "0"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{TYPE1, "1"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{CNSRD, "-1"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{CMPST, "0"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{DF, "0"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{CRIVL, "4"}})).size(), 1u);
  // Calendar times reach TA + TF exactly, not beyond.
  EXPECT_TRUE(problems(deck_with({{TLOOK1 + 2, "5.0"}})).empty());
  EXPECT_EQ(problems(deck_with({{TLOOK1 + 2, "5.0001"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{TLOOK1, "0"}})).size(), 1u);
  // Information fractions end at 1 at most.
  EXPECT_TRUE(problems(deck_with({{ITIME, "2"}, {TLOOK1, "0.3"}, {TLOOK1 + 1, "0.6"}, {TLOOK1 + 2, "1"}})).empty());
  EXPECT_EQ(problems(deck_with({{ITIME, "2"}, {TLOOK1, "0.3"}, {TLOOK1 + 1, "0.6"}, {TLOOK1 + 2, "1.01"}})).size(), 1u);
  // ... and the last is 1: the final analysis is at full information.
  auto early = problems(deck_with({{ITIME, "1"}, {TLOOK1, "0.3"}, {TLOOK1 + 1, "0.6"}, {TLOOK1 + 2, "0.9"}}));
  ASSERT_EQ(early.size(), 1u);
  EXPECT_EQ(early[0].field, "TLOOK(3)");
  EXPECT_NE(early[0].allowed.find("last information fraction must be 1"), std::string::npos);
  // A final calendar time written as TA + TF is not lost to the rounding of the sum
  // (1.2 + 1.4 < 2.6 in double precision), nor is a time a few units in the last place above.
  ASSERT_LT(1.2 + 1.4, 2.6);
  EXPECT_TRUE(problems(deck_with({{TA, "1.2"}, {TF, "1.4"}, {TLOOK1 + 1, "1.3"}, {TLOOK1 + 2, "2.6"}})).empty());
  EXPECT_TRUE(problems(deck_with({{TLOOK1 + 2, "5.000000000000002"}})).empty());
  EXPECT_EQ(problems(deck_with({{TLOOK1 + 2, "5.00000000001"}})).size(), 1u);
  // Simulated trials up to ten million.
  EXPECT_TRUE(problems(deck_with({{NSIM, "10000000"}})).empty());
  EXPECT_EQ(problems(deck_with({{NSIM, "10000001"}})).size(), 1u);
}

TEST(DeckCheck, SignificanceLevelAndPowerLimits) {
  // 1e-17 is lost next to 1 in double precision: the one-sided bound would become z = 0.
  ASSERT_EQ(1.0 - 1e-17 / 2, 1.0);
  auto tiny = problems(deck_with({{TYPE1, "1e-17"}}));
  ASSERT_EQ(tiny.size(), 1u);
  EXPECT_EQ(tiny[0].field, "TYPE1");
  EXPECT_EQ(tiny[0].allowed, "the one-sided significance level must lie in [1e-6, 0.5]");
  EXPECT_TRUE(problems(deck_with({{TYPE1, "1e-6"}})).empty());
  EXPECT_EQ(problems(deck_with({{TYPE1, "9.99e-7"}})).size(), 1u);
  EXPECT_TRUE(problems(deck_with({{TYPE1, "0.5"}})).empty());
  EXPECT_EQ(problems(deck_with({{TYPE1, "0.5000001"}})).size(), 1u);
  // The power must exceed the significance level; a level out of range is the one problem.
  auto low = problems(deck_with({{TYPE1, "0.4"}, {POWER, "0.3"}}));
  ASSERT_EQ(low.size(), 1u);
  EXPECT_EQ(low[0].field, "POWER");
  EXPECT_EQ(low[0].allowed, "the targeted power must exceed the significance level TYPE1 = 0.4");
  EXPECT_EQ(problems(deck_with({{TYPE1, "0.4"}, {POWER, "0.4"}})).size(), 1u);
  EXPECT_TRUE(problems(deck_with({{TYPE1, "0.4"}, {POWER, "0.41"}})).empty());
  auto both = problems(deck_with({{TYPE1, "0.6"}, {POWER, "0.3"}}));
  ASSERT_EQ(both.size(), 1u);
  EXPECT_EQ(both[0].field, "TYPE1");
}

TEST(DeckCheck, HazardRatioLimits) {
  // The reciprocal of 1e-310 is not a finite number.
  ASSERT_TRUE(std::isinf(1.0 / 1e-310));
  auto sub = problems(deck_with({{HR1, "1e-310"}}));
  ASSERT_EQ(sub.size(), 1u);
  EXPECT_EQ(sub[0].field, "HR1");
  EXPECT_EQ(sub[0].allowed, "a hazard ratio (control over treatment) must lie in [0.001, 1000]");
  EXPECT_EQ(problems(deck_with({{HR1, "1e-310"}, {MSSG, "500"}})).size(), 1u);
  EXPECT_TRUE(problems(deck_with({{HR2, "1000"}, {HR1TR, "1e-3"}, {HR2TR, "1e3"}})).empty());
  EXPECT_TRUE(problems(deck_with({{HR1, "0.001"}, {MSSG, "500"}})).empty());
  for (int f : {HR1, HR2, HR1TR, HR2TR}) {
    SCOPED_TRACE(field_name(f));
    auto big = problems(deck_with({{f, "1000.001"}}));
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].field, field_name(f));
    EXPECT_EQ(problems(deck_with({{f, "0.000999"}, {MSSG, "500"}})).size(), 1u);
  }
}

TEST(DeckCheck, NoFollowOnProblemOfAnUnreadableOrBadValue) {
  // Each deck has exactly one fault; nothing that depends on the faulty value is reported.
  struct Case {
    std::vector<std::pair<int, std::string>> fields;
    std::string extra;
    std::string field;
  };
  const std::vector<Case> cases = {
      {{{TA, "2.x"}}, "", "TA"},            // the calendar times' upper end TA + TF is unknown
      {{{TF, "3.0.0"}}, "", "TF"},
      {{{TA, "-2"}}, "", "TA"},
      {{{NSIM, "1e3"}, {SR, "0.33"}}, "", "NSIM"},  // whether simulation runs is unknown
      {{{MSSG, "x"}, {HR1, "0.8"}}, "", "MSSG"},    // whether the size is searched is unknown
      {{{ESF1, "3"}}, "0.5x\n", "phi of EP1 (ESF1)"},
      {{{ESF1, "5"}}, "0.001 0.0l 0.025\n", "cumulative alpha(2) of EP1 (ESF1)"},
      {{{ESF1, "5"}, {TYPE1, "0.6"}}, "0.001 0.01 0.025\n", "TYPE1"},
  };
  for (const Case& c : cases) {
    auto p = problems(deck_with(c.fields, c.extra));
    ASSERT_EQ(p.size(), 1u) << c.field << ": " << (p.size() > 1 ? p[1].message("deck") : "");
    EXPECT_EQ(p[0].field, c.field);
  }
  // An unreadable phi, then a lost replacement code in the same evaluated set: each once, and
  // the deck's end is no further problem nor a part left unchecked.
  auto two = problems(deck_with({{ITIME, "1"}, {ESF1, "3"}, {ESF2, "7"}, {TLOOK1, "0.3"},
                                 {TLOOK1 + 1, "0.6"}, {TLOOK1 + 2, "1"}},
                                "0.5x\n0\n"));
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].field, "phi of EP1 (ESF1, EP1-driven evaluation)");
  EXPECT_EQ(two[1].field, "replacement spending code of EP2 (ESF2, EP1-driven evaluation)");
  EXPECT_EQ(two[1].allowed.find("the rest of the deck"), std::string::npos) << two[1].allowed;
}

TEST(DeckCheck, SamplingRatioIsFreeWithoutSimulation) {
  EXPECT_TRUE(problems(deck_with({{SR, "0.33"}})).empty());
  EXPECT_EQ(problems(deck_with({{NSIM, "1000"}, {SR, "0.33"}})).size(), 1u);
  EXPECT_TRUE(problems(deck_with({{NSIM, "1000"}, {SR, "0.75"}})).empty());
  EXPECT_EQ(problems(deck_with({{SR, "1"}})).size(), 1u);
}

TEST(DeckCheck, KeptValuesAreShownAsKept) {
  // "1 ,, 1": after CPL's value the first comma separates, the second gives CPRSK a null value.
  auto p = problems(
      "0 0 0 0\nT\n0 3 1 ,, 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 "
      "3 1 2 1 2 5\n");
  // The first record has nothing to keep: CPRSK stays 0 and is refused as such.
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].field, "CPRSK");
  EXPECT_EQ(p[0].value, "0 (left unchanged by a null value or a slash)");
  // The number of analyses left unchanged is shown with the value in force, whether the slash
  // comes before it or a null value stands in its place.
  for (const char* rec : {"0 3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 "
                          "0.8 1 /\n",
                          "0 3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 "
                          "0.8 1 ,, 3 1 2 1 2 5\n"}) {
    auto look = problems(std::string("0 0 0 0\nT\n") + rec);
    ASSERT_FALSE(look.empty()) << rec;
    EXPECT_EQ(look[0].field, "LOOK");
    EXPECT_EQ(look[0].value, "0 (left unchanged by a null value or a slash)");
  }
}

TEST(DeckCheck, EchoedValuesAreCutAndEscaped) {
  // A megabyte of digits where HR1 belongs gives a message of ordinary length.
  const std::string huge = "1" + std::string(1 << 20, '2') + "x";
  auto p = problems(deck_with({{HR1, huge}}));
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].value, huge.substr(0, 40) + "...");
  EXPECT_LT(p[0].message("a/input.txt").size(), 200u);
  // Terminal control characters are shown escaped, never written as they are.
  auto esc = problems(deck_with({{CPL, "\x1b[2J\x07"}}));
  ASSERT_EQ(esc.size(), 1u);
  EXPECT_EQ(esc[0].value, "\\x1b[2J\\x07");
  for (char c : esc[0].message("a/input.txt")) EXPECT_GE(static_cast<unsigned char>(c), 0x20);
  // Exactly 40 characters are shown whole.
  const std::string forty = "0." + std::string(37, '1') + "x";
  EXPECT_EQ(problems(deck_with({{RHO, forty}}))[0].value, forty);
  EXPECT_EQ(problems(deck_with({{RHO, forty + "y"}}))[0].value, forty + "...");
}

TEST(DeckCheck, SpendingCodes) {
  EXPECT_EQ(problems(deck_with({{ESF1, "0"}})).size(), 1u);
  EXPECT_EQ(problems(deck_with({{ESF2, "-3"}})).size(), 1u);
  EXPECT_TRUE(problems(deck_with({{ESF1, "9"}}, "6\n")).empty());  // replaced by code 6
  auto bad = problems(deck_with({{ESF1, "9"}}, "7\n"));
  ASSERT_EQ(bad.size(), 1u);
  EXPECT_EQ(bad[0].line, 8);
  EXPECT_EQ(bad[0].value, "7");
  // A null replacement leaves the code above 5.
  EXPECT_EQ(problems(deck_with({{ESF1, "9"}}, ",\n")).size(), 1u);
  // A phi statement without a value.
  EXPECT_EQ(problems(deck_with({{ESF1, "3"}}, "/\n")).size(), 1u);
  EXPECT_TRUE(problems(deck_with({{ESF1, "3"}}, "0.5\n")).empty());
  // Parameters the boundary design would replace by 1 are refused, not reinterpreted.
  EXPECT_EQ(problems(deck_with({{ESF1, "3"}}, "-1\n")).size(), 1u);
  EXPECT_EQ(problems(deck_with({{ESF1, "3"}}, "0\n")).size(), 1u);
  EXPECT_EQ(problems(deck_with({{ESF2, "4"}}, "0\n")).size(), 1u);
  EXPECT_TRUE(problems(deck_with({{ESF2, "4"}}, "-4\n")).empty());
  EXPECT_EQ(problems(deck_with({{ESF1, "9"}}, "6\n")).size(), 0u);
  EXPECT_EQ(problems(deck_with({{ESF1, "9"}}, "3\n-2\n")).size(), 1u);  // replaced, then phi
}

TEST(DeckCheck, CumulativeAlphaValues) {
  EXPECT_TRUE(problems(deck_with({{ESF1, "5"}}, "0.001 0.01 0.025\n")).empty());
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0.001 0.01 0.02\n")).size(), 1u);   // last != TYPE1
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0.01 0.01 0.025\n")).size(), 1u);   // not increasing
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0.001 0.03 0.025\n")).size(), 2u);  // above TYPE1
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0.001 , 0.025\n")).size(), 1u);     // null
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0 0.01 0.025\n")).size(), 1u);
}

// A design whose only fault is CPL = 0, to follow a design whose layout is lost.
const std::string kSecondDesign =
    "0 3 0 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 1 2 1.0 2.0 5.0\n";

TEST(DeckCheck, LayoutValueThatCannotBeReadEndsItsDesignOnly) {
  struct Case {
    const char* what;
    std::string deck;
    std::string field;
    int line;
    int next_line;  // where design 2 is found; 0: the rest of the deck cannot be checked
  };
  const std::vector<Case> cases = {
      // Two sets or one? Only two phi statements lead to a readable record.
      {"ITIME", deck_with({{ITIME, "1x"}, {ESF1, "3"}}, "0.5\n0.5\n" + kSecondDesign), "ITIME",
       3, 10},
      // Spending codes 1 and 2 read nothing, whatever ITIME is.
      {"ITIME, codes 1 and 2", deck_with({{ITIME, "1x"}}, kSecondDesign), "ITIME", 3, 8},
      {"ITIME out of range",
       deck_with({{ITIME, "0"}, {ESF2, "4"}}, "-2\n-2\n" + kSecondDesign), "ITIME", 3, 10},
      {"ESF2", deck_with({{ESF2, "2.5"}}, kSecondDesign), "ESF2", 7, 8},
      {"LOOK", deck_with({{LOOK, "11"}}, kSecondDesign), "LOOK", 6, 8},
      {"LOOK unreadable",
       deck_with({{LOOK, "three"}, {ESF1, "5"}}, "0.001 0.01 0.025\n" + kSecondDesign), "LOOK",
       6, 9},
      {"replacement code", deck_with({{ESF1, "7"}}, "x\n0.5\n" + kSecondDesign),
       "replacement spending code of EP1 (ESF1)", 8, 10},
      {"nothing readable follows", deck_with({{ESF1, "x"}}, "abc\n" + kSecondDesign), "ESF1", 7, 0},
      // The next design may have faults of its own: two values that cannot be read.
      {"next design with faults",
       deck_with({{ESF1, "x"}}, "0 3 0 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 "
                                "0.025 0 0.8 1 3 3 1 x 1.0 2.0 y\n"),
       "ESF1", 7, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto p = problems(c.deck);
    ASSERT_GE(p.size(), c.next_line ? 2u : 1u) << p.back().message("deck");
    if (!c.next_line) ASSERT_EQ(p.size(), 1u) << p.back().message("deck");
    EXPECT_EQ(p[0].design, 1);
    EXPECT_EQ(p[0].field, c.field);
    EXPECT_EQ(p[0].line, c.line);
    EXPECT_NE(p[0].allowed.find("could not be checked"), std::string::npos) << p[0].allowed;
    if (c.next_line) {
      EXPECT_NE(p[0].allowed.find("design 2 is taken to start at line " +
                                  std::to_string(c.next_line)),
                std::string::npos)
          << p[0].allowed;
      EXPECT_EQ(p[1].design, 2);
      EXPECT_EQ(p[1].field, "CPL");
      EXPECT_EQ(p[1].line, c.next_line);
    } else {
      EXPECT_NE(p[0].allowed.find("the rest of the deck was not checked"), std::string::npos)
          << p[0].allowed;
    }
  }
}

TEST(DeckCheck, ProblemsOfLaterDesignsAreReportedToo) {
  std::string two = deck_with({{DF, "7"}});
  two += "0 3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 1 2 1 2 9\n";
  auto p = problems(two);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].design, 1);
  EXPECT_EQ(p[1].design, 2);
  EXPECT_EQ(p[1].field, "TLOOK(3)");
  EXPECT_EQ(p[1].line, 8);
}

}  // namespace
}  // namespace kestrel::deck
