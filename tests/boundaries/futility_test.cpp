// Futility stops of a single-endpoint design against rpact's beta-spending designs (reference
// numbers written by tools/rpact_futility_reference.R, each rpact call quoted), identities of the
// futility design, and the refusal of bad futility options.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "boundaries/bounds_request.h"
#include "boundaries/futility.h"
#include "boundaries/gsdesign.h"
#include "common/errors.h"

namespace kestrel::boundaries {
namespace {

struct RpactCase {
  int K, code;
  double gamma_a, gamma_b;
  bool binding;
  std::vector<double> critical, futility, reject, futility_stop;
  double events, subjects, events_h1, events_h0, subjects_h1;
};

const std::vector<RpactCase>& rpact_cases() {
  static const std::vector<RpactCase> cases = {
#include "boundaries/rpact_futility_reference.inc"
  };
  return cases;
}

BoundsRequest request_for(const RpactCase& c, bool exact) {
  BoundsRequest r;
  r.alpha = 0.025;
  r.power = 0.9;
  r.hr = 0.7;
  r.accrual = 1;
  r.follow_up = 1;
  r.survival = 0.5;
  r.allocation = 0.5;
  r.spending = c.code;
  if (c.code >= 3) r.phi = c.gamma_a;
  r.times.clear();
  for (int k = 1; k <= c.K; ++k) r.times.push_back(static_cast<double>(k) / c.K);
  r.futility.kind = FutilityRule::Kind::spending;
  r.futility.code = c.code;
  r.futility.phi = c.gamma_b;
  r.futility.binding = c.binding;
  r.exact = exact;
  return r;
}

std::string name(const RpactCase& c) {
  return "K " + std::to_string(c.K) + " code " + std::to_string(c.code) +
         (c.binding ? " binding" : " non-binding");
}

// Exact bounds: rpact's critical values, futility bounds and stopping probabilities to 1e-6; its
// events and subjects (unrounded) within 1, the expected events and subjects per maximum.
TEST(FutilityBounds, MatchRpactExactly) {
  ASSERT_EQ(rpact_cases().size(), 32u);
  for (const RpactCase& c : rpact_cases()) {
    SCOPED_TRACE(name(c));
    const BoundsResult t = calculate_bounds(request_for(c, true));
    const GsDesignResult& r = t.result;
    ASSERT_TRUE(r.drift_converged);
    for (int k = 0; k < c.K; ++k) {
      EXPECT_NEAR(r.zb[k], c.critical[k], 1e-6) << "analysis " << k + 1;
      if (k + 1 < c.K) EXPECT_NEAR(r.futility[k], c.futility[k], 1e-6) << "analysis " << k + 1;
      EXPECT_NEAR(r.qpos[k], c.reject[k], 1e-6) << "analysis " << k + 1;
      if (k + 1 < c.K) EXPECT_NEAR(r.qneg[k], c.futility_stop[k], 1e-6) << "analysis " << k + 1;
    }
    EXPECT_EQ(r.futility.back(), r.zb.back());
    const double x = r.drift * r.drift / std::pow(std::log(0.7), 2) / 0.25;
    EXPECT_NEAR(x, c.events, 1e-3);
    EXPECT_GE(r.events, c.events);
    EXPECT_LT(r.events, c.events + c.K);
    EXPECT_NEAR(x / r.pev, c.subjects, 1.0);
    EXPECT_NEAR(r.expected_events / r.events, c.events_h1 / c.events, 1e-6);
    EXPECT_NEAR(r.expected_events_null / r.events, c.events_h0 / c.events, 1e-6);
    const FutilityFigures f = futility_figures(t);
    EXPECT_NEAR(f.subjects_alt / r.subjects, c.subjects_h1 / c.subjects, 2e-3);
    // Binding designs spend exactly alpha with the stops in force; non-binding ones less.
    if (c.binding) EXPECT_NEAR(f.type1, 0.025, 1e-9);
    else EXPECT_LT(f.type1, 0.025);
  }
}

// The default grid recursion: the efficacy bounds of non-binding designs are the grid's, so the
// figures agree within the grid's accuracy.
TEST(FutilityBounds, MatchRpactWithinGridAccuracy) {
  for (const RpactCase& c : rpact_cases()) {
    SCOPED_TRACE(name(c));
    const GsDesignResult r = calculate_bounds(request_for(c, false)).result;
    for (int k = 0; k < c.K; ++k) {
      EXPECT_NEAR(r.zb[k], c.critical[k], 2e-3);
      if (k + 1 < c.K) EXPECT_NEAR(r.futility[k], c.futility[k], 2e-3);
    }
    EXPECT_NEAR(r.drift * r.drift / std::pow(std::log(0.7), 2) / 0.25, c.events, 1.0);
  }
}

GsDesignResult design(const std::vector<double>& t, const FutilityRule& rule, int code = 1) {
  GsDesignInput in;
  in.K = static_cast<int>(t.size());
  in.t = t;
  in.alpha = 0.025;
  in.power = 0.9;
  in.hr = 0.7;
  in.spending.deck_code = code;
  in.exact = true;
  in.futility = rule;
  BoundaryWork work;
  std::ostringstream report;
  return design_with_code(in, code, 0.0, work, report);
}

// Identities: futility at -8 is no futility; a hazard-ratio threshold is the fixed z it converts
// to; a fixed z design has exactly the stopping probability P(Z1 < z) at the first analysis.
TEST(FutilityBounds, Identities) {
  const std::vector<double> t{0.4, 0.7, 1.0};
  const GsDesignResult plain = design(t, {});
  FutilityRule low;
  low.kind = FutilityRule::Kind::fixed_z;
  low.values = {-8, -8};
  for (bool binding : {false, true}) {
    low.binding = binding;
    const GsDesignResult r = design(t, low);
    EXPECT_NEAR(r.drift, plain.drift, 1e-9);
    EXPECT_EQ(r.events, plain.events);
    for (size_t k = 0; k < t.size(); ++k) EXPECT_NEAR(r.zb[k], plain.zb[k], 1e-9);
  }
  FutilityRule z0;
  z0.kind = FutilityRule::Kind::fixed_z;
  z0.values = {0.0, 0.5};
  const GsDesignResult rz = design(t, z0);
  EXPECT_NEAR(rz.null_qneg[0], 0.5, 1e-12);  // P(Z1 < 0) under the null
  EXPECT_NEAR(rz.qneg[0], 0.5 * std::erfc(rz.drift * std::sqrt(0.4) / std::sqrt(2.0)), 1e-12);
  FutilityRule hr;
  hr.kind = FutilityRule::Kind::hazard_ratio;
  hr.values = {1.0, 0.95};
  const GsDesignResult rh = design(t, hr);
  EXPECT_NEAR(rh.futility[0], 0.0, 1e-12);  // hazard ratio 1 is z 0
  EXPECT_NEAR(hr_of_futility_z(rh.futility[1], 0.7, rh.drift, 0.7), 0.95, 1e-12);
  // The power holds with the stops, and the stops cost events: more than without futility.
  double pw = 0;
  for (double q : rh.qpos) pw += q;
  EXPECT_NEAR(pw, 0.9, 1e-9);
  EXPECT_GT(rh.drift, plain.drift);
}

}  // namespace
}  // namespace kestrel::boundaries
