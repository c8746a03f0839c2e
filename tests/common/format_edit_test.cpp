// Fixed-column editing of the summary and input-summary fields: signs, rounding, overflow, and
// the zero-decimal fields of the expected event counts.
#include <gtest/gtest.h>

#include "common/format.h"

namespace kestrel::fmt {
namespace {

TEST(FixedPointEditing, NegativeValuesTakeOneColumnForTheSign) {
  EXPECT_EQ(F(-1.25, 6, 2), " -1.25");
  EXPECT_EQ(F(-12.5, 5, 1), "-12.5");
  EXPECT_EQ(F(-12.5, 4, 1), "****");
  EXPECT_EQ(F(-0.4, 5, 0), "  -0.");
  EXPECT_EQ(I(-5, 3), " -5");
  EXPECT_EQ(I(-100, 3), "***");
  EXPECT_EQ(I(-100, 4), "-100");
}

TEST(FixedPointEditing, RoundsToTheNearestAndCarriesIntoNewDigits) {
  EXPECT_EQ(F(2.675, 5, 2), " 2.67");  // 2.675 is held just below 2.675
  EXPECT_EQ(F(0.80123 * 100, 7, 4), "80.1230");
  EXPECT_EQ(F(9.9999, 5, 2), "10.00");
  EXPECT_EQ(F(0.0049, 5, 2), " 0.00");
  EXPECT_EQ(F(1.0 / 0.7, 6, 2), "  1.43");
  EXPECT_EQ(F(0.7, 5, 2), " 0.70");
  EXPECT_EQ(F(1.0 / 1.4286, 5, 2), " 0.70");
}

TEST(FixedPointEditing, TooWideValuesFillTheFieldWithAsterisks) {
  EXPECT_EQ(F(99.999, 5, 2), "*****");  // rounds to 100.00, six characters
  EXPECT_EQ(F(100.0, 7, 4), "*******");
  EXPECT_EQ(F(12345.0, 5, 0), "*****");
  EXPECT_EQ(F(1e300, 6, 2), "******");
  EXPECT_EQ(I(28386, 5), "28386");
  EXPECT_EQ(I(100000, 5), "*****");
}

TEST(FixedPointEditing, ZeroDecimalsKeepTheDecimalPoint) {
  EXPECT_EQ(F(435.0, 5, 0), " 435.");
  EXPECT_EQ(F(234.6, 5, 0), " 235.");
  EXPECT_EQ(F(0.0, 5, 0), "   0.");
  EXPECT_EQ(F(9999.4, 5, 0), "9999.");
}

TEST(TextEditing, ShortTextRightJustifiedLongTextCut) {
  EXPECT_EQ(A("CALND", 5), "CALND");
  EXPECT_EQ(A("", 3), "   ");
  EXPECT_EQ(A("AT ANY INTERIMS", 4), "AT A");
  EXPECT_EQ(X(3), "   ");
  EXPECT_EQ(X(0), "");
}

TEST(RepeatedGroup, EndsAfterTheValuesGiven) {
  double v[2] = {0.3, 1.0};
  Record r;
  r.lit("T:");
  for (double x : v) r.x(1).f(x, 6, 2);
  EXPECT_EQ(r.str(), "T:   0.30   1.00");
  EXPECT_EQ(Record().fs(v, 0, 6, 2).str(), "");
}

}  // namespace
}  // namespace kestrel::fmt
