#include "common/trial_model.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

// A design whose every model value differs, so that a value landing in the wrong field shows.
Design distinct_design() {
  Design d;
  DeckValues& v = d.stored;
  v.CPL = 2, v.CPRSK = 3, v.CMPST = 2, v.CNSRD = 1;
  v.HR1 = 1 / 0.7, v.HR2 = 1 / 0.8, v.RHO = 0.3;
  v.HR1TR = 1 / 0.6, v.HR2TR = 1.0, v.RHOTR = 0.45;
  v.TA = 2.5, v.TF = 1.25, v.SRVR1 = 0.35, v.SRVR2 = 0.55, v.SR = 2.0 / 3.0;
  d.entry_loss.dropout = {0.02, 0.04};
  d.entry_loss.accrual_end = {1.0, 2.5};
  d.entry_loss.accrual_intensity = {1.0, 2.0};
  d.entry_loss.hazards[0] = {{1.0}, {0.4, 0.2}, {0.5, 0.8}};
  d.entry_loss.hazards[1] = {{1.5}, {0.3, 0.1}, {0.9, 0.7}};
  return d;
}

TEST(TrialModel, EveryDesignValueLandsInItsNamedField) {
  const Design d = distinct_design();
  const TrialModel m = trial_model(d, 1.75);
  EXPECT_EQ(m.control_survival, (std::array<double, 2>{0.35, 0.55}));
  EXPECT_EQ(m.hazard_ratio, (std::array<double, 2>{1 / 0.7, 1 / 0.8}));
  EXPECT_EQ(m.copula, 2);
  EXPECT_EQ(m.correlation, 0.3);
  EXPECT_EQ(m.copula_parameter, 1.75);
  EXPECT_EQ(m.competing_risks, 3);
  EXPECT_EQ(m.composite, 2);
  EXPECT_EQ(m.censoring, 1);
  EXPECT_EQ(m.treatment_share, 2.0 / 3.0);
  EXPECT_EQ(m.accrual_period, 2.5);
  EXPECT_EQ(m.follow_up, 1.25);
  EXPECT_EQ(m.study_end(), 3.75);
  EXPECT_EQ(m.entry_loss.dropout, d.entry_loss.dropout);
  EXPECT_EQ(m.entry_loss.accrual_end, d.entry_loss.accrual_end);
  EXPECT_EQ(m.entry_loss.hazards[1].ratio, d.entry_loss.hazards[1].ratio);
  EXPECT_FALSE(m.exact);
}

// The exact model: asked by the run for every design, or by the design's own MODEL EXACT.
TEST(TrialModel, ExactWhenTheRunOrTheDesignAsks) {
  Design d = distinct_design();
  const struct {
    int model;
    bool run_exact, expected;
  } cases[] = {{0, false, false}, {1, false, false}, {2, false, true}, {0, true, true}, {1, true, true}};
  for (const auto& c : cases) {
    d.model_control.model = c.model;
    EXPECT_EQ(trial_model(d, 0.0, c.run_exact).exact, c.expected) << c.model << c.run_exact;
    EXPECT_EQ(true_model(d, 0.0, c.run_exact).exact, c.expected) << c.model << c.run_exact;
  }
}

// The simulated trials' truth: the simulation's ratios and correlation; an endpoint's pieces keep
// their ratios when its simulation ratio is the design's, become 1 under its null, and are scaled
// by simulation over design otherwise.
TEST(TrialModel, TruthTakesTheSimulationValues) {
  Design d = distinct_design();
  const struct {
    double hr1tr, hr2tr;
    std::vector<double> ratio1, ratio2;
  } cases[] = {
      {1 / 0.7, 1 / 0.8, {0.5, 0.8}, {0.9, 0.7}},                         // as designed
      {1.0, 1.0, {1.0, 1.0}, {1.0, 1.0}},                                 // global null
      {2 / 0.7, 1 / 0.8, {0.5 * 2.0, 0.8 * 2.0}, {0.9, 0.7}},              // EP1 doubled
  };
  for (const auto& c : cases) {
    d.stored.HR1TR = c.hr1tr, d.stored.HR2TR = c.hr2tr;
    const TrialModel t = true_model(d, 0.9);
    EXPECT_EQ(t.hazard_ratio, (std::array<double, 2>{c.hr1tr, c.hr2tr}));
    EXPECT_EQ(t.copula_parameter, 0.9);
    EXPECT_EQ(t.correlation, 0.45);
    for (size_t p = 0; p < 2; ++p) {
      EXPECT_DOUBLE_EQ(t.entry_loss.hazards[0].ratio[p], c.ratio1[p]) << c.hr1tr;
      EXPECT_DOUBLE_EQ(t.entry_loss.hazards[1].ratio[p], c.ratio2[p]) << c.hr2tr;
    }
    // The rest of the truth is the design's.
    EXPECT_EQ(t.control_survival, trial_model(d, 0.9).control_survival);
    EXPECT_EQ(t.entry_loss.hazards[0].control, d.entry_loss.hazards[0].control);
    EXPECT_EQ(t.treatment_share, d.stored.SR);
  }
}

}  // namespace
}  // namespace kestrel
