#pragma once
// The decision rule of a design (the deck's DF): when the trial succeeds.
namespace kestrel {

enum class DecisionRule {
  any_interims = 1,    // both endpoints must cross, each at any analysis
  same_interim = 2,    // both endpoints must cross at the same analysis
  fixed_sequence = 3,  // EP1 first, then EP2 from the analysis at which EP1 crossed on
  ep2_at_final = 4,    // EP1 group-sequentially, EP2 tested once, at the final analysis
  // 5 is kept for dual-primary designs (either endpoint may win).
};

// The rule of a deck code: 2, 3 and 4 are their rules; any other code is rule 1.
constexpr DecisionRule decision_rule(int DF) {
  switch (DF) {
    case 2: return DecisionRule::same_interim;
    case 3: return DecisionRule::fixed_sequence;
    case 4: return DecisionRule::ep2_at_final;
    default: return DecisionRule::any_interims;
  }
}

// The deck code of a rule.
constexpr int deck_code(DecisionRule rule) { return static_cast<int>(rule); }

}  // namespace kestrel
