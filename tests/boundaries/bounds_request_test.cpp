// The boundary calculator without the command line, called with a request value.
#include "boundaries/bounds_request.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel::boundaries {
namespace {

// The calculator without the command line: one analysis is the fixed design, whose bound is the
// normal quantile of 1 - alpha and whose drift is the sum of the quantiles of 1 - alpha and of the
// power; the events follow from the drift by the usual log-rank formula.
TEST(BoundsApi, OneAnalysisIsTheFixedDesign) {
  BoundsRequest r;
  r.alpha = 0.025;
  r.power = 0.9;
  r.hr = 0.7;
  const BoundsResult t = calculate_bounds(r);
  ASSERT_EQ(t.result.zb.size() >= 1, true);
  const double z_alpha = 1.959963984540054, z_power = 1.2815515655446004;
  EXPECT_NEAR(t.result.zb[0], z_alpha, 1e-6);
  EXPECT_NEAR(t.result.pe[0], 0.025, 1e-9);
  EXPECT_NEAR(t.result.drift, z_alpha + z_power, 1e-4);
  const double events = std::pow(z_alpha + z_power, 2) / std::pow(std::log(0.7), 2) / 0.25;
  EXPECT_NEAR(t.result.events, std::ceil(events), 1.0);
  EXPECT_TRUE(t.warnings.empty());
}

}  // namespace
}  // namespace kestrel::boundaries
