#include "common/decision_rule.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

// Codes 2 to 4 are their rules and read back as themselves; any other code is rule 1.
TEST(DecisionRule, DeckCodesMapToTheirRulesAndEveryOtherCodeToRuleOne) {
  const struct {
    int DF;
    DecisionRule rule;
    int code;
  } cases[] = {{1, DecisionRule::any_interims, 1},   {2, DecisionRule::same_interim, 2},
               {3, DecisionRule::fixed_sequence, 3}, {4, DecisionRule::ep2_at_final, 4},
               {0, DecisionRule::any_interims, 1},   {5, DecisionRule::any_interims, 1},
               {-3, DecisionRule::any_interims, 1},  {99, DecisionRule::any_interims, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(decision_rule(c.DF), c.rule) << c.DF;
    EXPECT_EQ(deck_code(decision_rule(c.DF)), c.code) << c.DF;
  }
}

}  // namespace
}  // namespace kestrel
