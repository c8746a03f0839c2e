// Options of `kestrel bounds` read into the calculator's request: --exact, and the refusal of bad
// futility options.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "boundaries/bounds_request.h"
#include "cli/bounds_command.h"
#include "cli/bounds_options.h"

namespace kestrel::cli {
namespace {

using boundaries::BoundsRequest;
using boundaries::BoundsResult;
using boundaries::calculate_bounds;

TEST(ExactBounds, BoundsCommandTakesTheOptionAndSaysSo) {
  BoundsRequest q = parse_bounds_request({"--times", "0.5,0.75,1", "--exact"});
  ASSERT_TRUE(q.exact);
  const BoundsResult t = calculate_bounds(q);
  EXPECT_NEAR(t.result.zb[1], 2.359018, 5e-7);
  EXPECT_NEAR(t.result.pe[2], 0.025, 1e-10);
  std::ostringstream out, err;
  EXPECT_EQ(run_bounds_command({"--times=0.5,1", "--exact"}, out, err), 0);
  EXPECT_NE(out.str().find(", exact bounds"), std::string::npos) << out.str();
  EXPECT_EQ(run_bounds_command({"--exact=1"}, out, err), 2);
}

struct Refusal {
  std::vector<std::string> args;
  std::string needle;
};

TEST(FutilityBounds, BadOptionsRefused) {
  const std::vector<Refusal> cases = {
      {{"--futility-z", "0"}, "at least one interim analysis"},
      {{"--times", "0.5,1", "--futility-z", "0,0"}, "1 value, one per interim"},
      {{"--times", "0.5,1", "--futility-hr", "-1"}, "hazard ratios above 0"},
      {{"--times", "0.5,1", "--futility-spending", "3"}, "with its phi"},
      {{"--times", "0.5,1", "--futility-spending", "7"}, "a beta-spending code 1 to 6"},
      {{"--times", "0.5,1", "--futility-spending", "5,0.05"}, "2 cumulative beta values"},
      {{"--times", "0.5,1", "--futility-z", "0", "--futility-hr", "1"}, "one way"},
      {{"--times", "0.5,1", "--binding"}, "--binding needs futility stops"},
      {{"--times", "0.5,1", "--sides", "2", "--futility-z", "0"}, "one-sided"},
  };
  for (const Refusal& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(run_bounds_command(c.args, out, err), 2) << c.needle;
    EXPECT_NE(err.str().find(c.needle), std::string::npos) << err.str();
  }
  // A fixed futility bound above the efficacy bound is an input error of the calculation.
  std::ostringstream out, err;
  EXPECT_EQ(run_bounds_command({"--times", "0.5,1", "--futility-z", "3"}, out, err), 1);
  EXPECT_NE(err.str().find("lies above the efficacy bound"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace kestrel::cli
