// Packed correlation matrices of the stacked statistics.
#include "survival/correlation_matrix.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrel::survival {
namespace {

CrossCorrelation cross(int K) {
  CrossCorrelation R{};
  for (int i = 0; i < K; ++i)
    for (int j = 0; j < K; ++j) R[i][j] = 0.1 + 0.01 * (10 * i + j);  // distinct entries
  return R;
}

TEST(Zcorr, SingleAnalysisGivesTheCrossCorrelation) {
  AnalysisArray I{};
  I[0] = 1.0;
  CrossCorrelation R{};
  R[0][0] = 0.37;
  EXPECT_EQ(ZCORR01(1, I, I, R), std::vector<double>{0.37});
  EXPECT_EQ(ZCORR03(1, I, R), std::vector<double>{0.37});
}

TEST(Zcorr, TwoAnalysesPackedByRows) {
  AnalysisArray I1{0.25, 1.0}, I2{0.64, 1.0};
  CrossCorrelation R = cross(2);
  // Order EP1@1, EP1@2, EP2@1, EP2@2; rows of the strict lower triangle.
  const std::vector<double> want = {0.5,                        // (2,1)
                                    R[0][0], R[1][0],           // (3,1) (3,2)
                                    R[0][1], R[1][1], 0.8};     // (4,1) (4,2) (4,3)
  const std::vector<double> got = ZCORR01(2, I1, I2, R);
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) EXPECT_DOUBLE_EQ(got[k], want[k]) << k;
}

TEST(Zcorr, EqualFractionsGiveUnitCorrelation) {
  AnalysisArray I{0.5, 0.5, 1.0};
  const std::vector<double> z = ZCORR01(3, I, I, cross(3));
  EXPECT_EQ(z[0], 1.0);               // EP1 analyses 1 and 2
  EXPECT_EQ(z[3 * 4 / 2 + 3], 1.0);   // EP2 analyses 1 and 2: entry (5, 4)
}

TEST(Zcorr, IndependentIncrementsStructure) {
  AnalysisArray I1{0.2, 0.45, 0.7, 1.0}, I2{0.3, 0.5, 0.8, 1.0};
  const std::vector<double> z = ZCORR01(4, I1, I2, cross(4));
  auto at = [&](int i, int j) { return z[(i - 1) * (i - 2) / 2 + j - 1]; };  // 1-based, j < i
  for (int u = 1; u <= 4; ++u)
    for (int v = u + 1; v <= 4; ++v) {
      EXPECT_DOUBLE_EQ(at(v, u), std::sqrt(I1[u - 1] / I1[v - 1]));
      EXPECT_DOUBLE_EQ(at(4 + v, 4 + u), std::sqrt(I2[u - 1] / I2[v - 1]));
    }
  const CrossCorrelation R = cross(4);
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(at(4 + j, i), R[i - 1][j - 1]);
}

TEST(Zcorr, SecondEndpointFromItsLastAnalysisEqualsFinalOnlyStack) {
  AnalysisArray I1{0.3, 0.6, 1.0}, I2{0.35, 0.7, 1.0};
  const CrossCorrelation R = cross(3);
  EXPECT_EQ(ZCORR02(3, 1, 3, I1, I2, R), ZCORR03(3, I1, R));
  // From the first analysis it is the full stack.
  EXPECT_EQ(ZCORR02(3, 3, 1, I1, I2, R), ZCORR01(3, I1, I2, R));
}

TEST(Zcorr, SecondEndpointFromAMiddleAnalysis) {
  AnalysisArray I1{0.3, 0.6, 1.0}, I2{0.36, 0.7, 1.0};
  const CrossCorrelation R = cross(3);
  // EP1@1..3, EP2@2..3.
  const std::vector<double> z = ZCORR02(3, 2, 2, I1, I2, R);
  ASSERT_EQ(z.size(), 10u);
  auto at = [&](int i, int j) { return z[(i - 1) * (i - 2) / 2 + j - 1]; };
  EXPECT_EQ(at(4, 1), R[0][1]);
  EXPECT_EQ(at(4, 3), R[2][1]);
  EXPECT_EQ(at(5, 2), R[1][2]);
  EXPECT_DOUBLE_EQ(at(5, 4), std::sqrt(0.7));
}

// With the exact covariance's same-endpoint correlations given, they replace the square roots
// of the fractions in every stacking; the cross block is unchanged.
TEST(Zcorr, ExactSameEndpointCorrelationsReplaceTheFractions) {
  AnalysisArray I1{0.3, 0.6, 1.0}, I2{0.36, 0.7, 1.0};
  const CrossCorrelation R = cross(3);
  CrossCorrelation R11{}, R22{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      R11[i][j] = i == j ? 1.0 : 0.5 + 0.01 * (i + j);
      R22[i][j] = i == j ? 1.0 : 0.4 + 0.02 * (i + j);
    }
  auto at = [](const std::vector<double>& z, int i, int j) {
    return z[(i - 1) * (i - 2) / 2 + j - 1];
  };
  const std::vector<double> z1 = ZCORR01(3, I1, I2, R, &R11, &R22);
  EXPECT_EQ(at(z1, 3, 1), R11[2][0]);
  EXPECT_EQ(at(z1, 6, 5), R22[2][1]);
  EXPECT_EQ(at(z1, 5, 1), R[0][1]);
  const std::vector<double> z2 = ZCORR02(3, 2, 2, I1, I2, R, &R11, &R22);
  EXPECT_EQ(at(z2, 5, 4), R22[2][1]);
  const std::vector<double> z3 = ZCORR03(3, I1, R, &R11);
  EXPECT_EQ(at(z3, 2, 1), R11[1][0]);
  EXPECT_EQ(at(z3, 4, 2), R[1][2]);
}

TEST(Zcorr, CountsOutsideTheArraysAreRejected) {
  AnalysisArray I{};
  CrossCorrelation R{};
  EXPECT_THROW(ZCORR01(0, I, I, R), std::invalid_argument);
  EXPECT_THROW(ZCORR01(NMAXA + 1, I, I, R), std::invalid_argument);
  EXPECT_THROW(ZCORR02(10, 2, 10, I, I, R), std::invalid_argument);
}

}  // namespace
}  // namespace kestrel::survival
