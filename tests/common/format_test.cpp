#include "common/format.h"

#include <gtest/gtest.h>
#include <cmath>
#include <string>
#include <vector>

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

namespace kestrel::fmt {
namespace {

// A record never loses a value to asterisks: a value too wide is written in full (the edit
// descriptors F and I alone keep the asterisks), and the record names the field, by the name
// given before it or by its column.
TEST(Record, ValueTooWideIsWrittenInFullAndNamed) {
  Record r;
  r.lit("x").name("MSS").i(100000, 5).lit(",").f(1234.5, 5, 1).lit(",").name("P").f(0.5, 5, 2);
  EXPECT_EQ(r.str(), "x100000,1234.5, 0.50");
  EXPECT_EQ(r.overflowed(), (std::vector<std::string>{"MSS", "column 9"}));
  Record phi;
  phi.x(1).lit("Parameter is ").f(1e300, 6, 3);
  EXPECT_EQ(phi.str().size(), 14u + 301u + 4u);
  EXPECT_EQ(phi.str().substr(14, 4), "1000");
  EXPECT_EQ(phi.str().substr(phi.str().size() - 4), ".000");
  // Not-a-number keeps its text; a negative value too wide keeps its sign.
  EXPECT_EQ(Record().f(std::nan(""), 5, 2).str(), "  NaN");
  EXPECT_EQ(Record().f(-123.25, 5, 2).str(), "-123.25");
  bool o = false;
  EXPECT_EQ(F_nonzero(1e-4, 6, 2, o), "0.0001");
  EXPECT_TRUE(o);
  EXPECT_EQ(F_nonzero(0.0, 6, 2, o), "  0.00");
  EXPECT_FALSE(o);
}

// A value written in full never runs into the number before it (analysis 2 at day 1095 read as
// 21095.00; intensities 1000 after 100.00), in a record and in a repeated group.
TEST(Record, ValueWrittenInFullIsPartedFromTheNumberBeforeIt) {
  EXPECT_EQ(Record().x(1).i(2, 5).f(1095.0, 6, 2).str(), "     2 1095.00");
  EXPECT_EQ(Record().f(100.0, 6, 2).f(1000.0, 6, 2).f(12345.5, 8, 4).str(),
            "100.00 1000.00 12345.5000");
  EXPECT_EQ(Record().lit("T:").f(12345.5, 8, 4).str(), "T:12345.5000");
  const double v[] = {1.5, 123456.0, 2.0};
  EXPECT_EQ(repeated(v, 3, 10, 8, 4), (std::vector<std::string>{"  1.5000 123456.0000  2.0000"}));
}

}  // namespace
}  // namespace kestrel::fmt
