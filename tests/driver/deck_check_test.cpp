// What the deck checks accept and refuse, and that every problem of a deck is reported.
#include <gtest/gtest.h>

#include "driver/deck.h"

namespace kestrel::driver {
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
}

TEST(DeckCheck, CumulativeAlphaValues) {
  EXPECT_TRUE(problems(deck_with({{ESF1, "5"}}, "0.001 0.01 0.025\n")).empty());
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0.001 0.01 0.02\n")).size(), 1u);   // last != TYPE1
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0.01 0.01 0.025\n")).size(), 1u);   // not increasing
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0.001 0.03 0.025\n")).size(), 2u);  // above TYPE1
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0.001 , 0.025\n")).size(), 1u);     // null
  EXPECT_EQ(problems(deck_with({{ESF1, "5"}}, "0 0.01 0.025\n")).size(), 1u);
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
}  // namespace kestrel::driver
