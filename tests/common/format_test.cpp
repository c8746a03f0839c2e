#include "common/format.h"

#include <gtest/gtest.h>

namespace kestrel::fmt {
namespace {

TEST(FixedPoint, RoundsAndRightJustifies) {
  EXPECT_EQ(F(2.0, 5, 2), " 2.00");
  EXPECT_EQ(F(0.5, 6, 2), "  0.50");
  EXPECT_EQ(F(2.5, 6, 2), "  2.50");
  EXPECT_EQ(F(-0.5, 5, 2), "-0.50");
  EXPECT_EQ(F(0.125, 6, 2), "  0.12");  // 0.125 is exact: round half to even as printf does
  EXPECT_EQ(F(1.005, 6, 2), "  1.00");  // 1.005 is stored just below 1.005
}

TEST(FixedPoint, ZeroDecimalsKeepsThePoint) {
  EXPECT_EQ(F(435.0, 5, 0), " 435.");
  EXPECT_EQ(F(434.6, 6, 0), "  435.");
}

TEST(FixedPoint, DropsLeadingZeroOnlyWhenNarrow) {
  EXPECT_EQ(F(0.5, 3, 2), ".50");
  EXPECT_EQ(F(-0.5, 4, 2), "-.50");
}

TEST(FixedPoint, OverflowFillsWithAsterisks) {
  EXPECT_EQ(F(12345.678, 5, 2), "*****");
  EXPECT_EQ(F(-100.0, 5, 2), "*****");
}

TEST(Integer, WidthAndOverflow) {
  EXPECT_EQ(I(42, 5), "   42");
  EXPECT_EQ(I(-42, 4), " -42");
  EXPECT_EQ(I(123456, 5), "*****");
}

TEST(Text, PadsLeftOrCuts) {
  EXPECT_EQ(A("EP1", 5), "  EP1");
  EXPECT_EQ(A("ABCDEFG", 4), "ABCD");
}

TEST(Record, RepeatedGroupEndsAfterTheValues) {
  double v[3] = {0.25, 0.5, 1.0};
  Record r;
  r.lit("  TIMEPOINTS OF LOOK/ INFORM:").fs(v, 3, 7, 2);
  EXPECT_EQ(r.str(), "  TIMEPOINTS OF LOOK/ INFORM:   0.25   0.50   1.00");
}

TEST(Record, FormatReversionContinuesOnTheNextLine) {
  std::vector<double> v(12, 1.0);
  auto lines = repeated(v.data(), 12, 10, 8, 4);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 80u);
  EXPECT_EQ(lines[1], "  1.0000  1.0000");
}

TEST(ListDirected, LeadingBlankAndText) {
  EXPECT_EQ(list({std::string_view("ERR:S")}), " ERR:S");
  EXPECT_EQ(list({}), "");
}

}  // namespace
}  // namespace kestrel::fmt
