// The FUTILITY statement of a design: what it gives the design, and every problem of it reported
// at once with its line, field, value and what is allowed.
#include <gtest/gtest.h>

#include "deck/deck.h"

namespace kestrel::deck {
namespace {

// One calendar-time design with K = LOOK (POWER 0.8, no spending statements) followed by `extra`,
// then a second design that states nothing.
std::string deck_with(const std::string& extra, int K = 3) {
  const std::string times = K == 3 ? "1.0 2.0 5.0\n" : "5.0\n";
  const std::string record = "0 3 1 1 1 0\n2.0 1.25 0.5 2.0 1.25 0.4\n2.0 3.0 0.3 0.4 0.5 1\n"
                             "0.025 0 0.8 1 " + std::to_string(K) + " 3 1 2\n" + times;
  return "0 0 0 0\nT\n" + record + extra + record;
}

TEST(FutilityStatement, ValuesGivenToTheDesignOnly) {
  using Kind = FutilityRule::Kind;
  struct Case {
    std::string extra;
    Kind kind;
    bool binding;
    int code;
    double phi;
    std::vector<double> values, cumulative;
  };
  const std::vector<Case> cases = {
      {"FUTILITY SPENDING 1   comment\n", Kind::spending, false, 1, 0, {}, {}},
      {"futility binding spending 3 2.5\n", Kind::spending, true, 3, 2.5, {}, {}},
      {"FUTILITY NONBINDING SPENDING 5 0.02 0.1 0.2\n", Kind::spending, false, 5, 0, {},
       {0.02, 0.1, 0.2}},
      {"FUTILITY Z 0 0.5\n", Kind::fixed_z, false, 0, 0, {0, 0.5}, {}},
      {"FUTILITY BINDING HR\n 1.0 0.9\nDROPOUT HAZARD 0.1 0.1\n", Kind::hazard_ratio, true, 0, 0,
       {1.0, 0.9}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    const Deck d = read_deck(deck_with(c.extra));
    ASSERT_TRUE(check_deck(d).empty()) << check_deck(d)[0].message("deck");
    ASSERT_EQ(d.designs.size(), 2u);
    const FutilityRule& f = d.designs[0].design.futility;
    EXPECT_EQ(f.kind, c.kind);
    EXPECT_EQ(f.binding, c.binding);
    EXPECT_EQ(f.code, c.code);
    EXPECT_EQ(f.phi, c.phi);
    EXPECT_EQ(f.values, c.values);
    EXPECT_EQ(f.cumulative, c.cumulative);
    EXPECT_EQ(f.line, 8);
    EXPECT_FALSE(d.designs[1].design.futility.any());  // nothing carries over
  }
}

TEST(FutilityStatement, EveryProblemIsReportedWithLineFieldAndValue) {
  auto messages = [](const std::string& deck) {
    std::vector<std::string> got;
    for (const DeckProblem& q : check_deck(read_deck(deck))) got.push_back(q.message("a/input.txt"));
    return got;
  };
  EXPECT_EQ(messages(deck_with("FUTILITY Z 0 9\nFUTILITY HR -1 1\n")),
            (std::vector<std::string>{
                "a/input.txt:8: design 1: FUTILITY Z(2) = 9: a futility z must lie from -8 (no "
                "stop) up to 8",
                "a/input.txt:9: design 1: FUTILITY: a design takes one FUTILITY statement; the "
                "first is on line 8",
                "a/input.txt:9: design 1: FUTILITY HR(1) = -1: a hazard-ratio threshold must be "
                "above 0"}));
  EXPECT_EQ(messages(deck_with("FUTILITY SPENDING 7\n")),
            (std::vector<std::string>{
                "a/input.txt:8: design 1: FUTILITY SPENDING code = 7: the beta-spending code "
                "must be an integer from 1 to 6 (the codes of the alpha spending)"}));
  EXPECT_EQ(messages(deck_with("FUTILITY SPENDING 3 0\n")),
            (std::vector<std::string>{"a/input.txt:8: design 1: FUTILITY SPENDING phi = 0: "
                                      "the power family needs phi > 0"}));
  const auto five = messages(deck_with("FUTILITY SPENDING 5 0.02 0.1 0.3\n"));
  ASSERT_EQ(five.size(), 1u);
  EXPECT_NE(five[0].find("the last equal to 1 - POWER = 0.2"), std::string::npos) << five[0];
  const auto look = messages(deck_with("FUTILITY Z 0\n", 1));
  ASSERT_EQ(look.size(), 1u);
  EXPECT_NE(look[0].find("need at least one interim analysis; the design has LOOK = 1"),
            std::string::npos) << look[0];
  const auto form = messages(deck_with("FUTILITY SOMETIMES 0 0\n"));
  ASSERT_EQ(form.size(), 1u);
  EXPECT_NE(form[0].find("FUTILITY = SOMETIMES: FUTILITY is followed by BINDING"),
            std::string::npos) << form[0];
}

}  // namespace
}  // namespace kestrel::deck
