// Copula parameter for a stated correlation, and an independent check of the correlation
// quadrature through the frailty representation of each family.
#include "survival/copula_parameter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "survival/copula_start.h"
#include "survival/model.h"

namespace kestrel::survival {
namespace {

// ---- Exact Pearson correlation of two unit-exponential times joined by each copula -----------
// Each family is a frailty model: given the frailty V the two times are independent, so
// E[T1 T2] = E[m(V)^2] with m(V) = E[T | V].

// Positive stable: T = (E / V)^θ with E unit exponential and V positive stable of index θ, so
// E[T1 T2] = Γ(1+θ)² E[V^(-2θ)] = 2 Γ(1+θ)² / Γ(1+2θ).
double exact_rho_positive_stable(double theta) {
  return 2.0 * std::exp(2.0 * std::lgamma(1.0 + theta) - std::lgamma(1.0 + 2.0 * theta)) - 1.0;
}

// Clayton: gamma frailty Z (mean 1, variance θ), survival exp(-Z (e^(θt) - 1)/θ) given Z, so
// m(Z) = e^y E1(y)/θ with y = Z/θ ~ Gamma(1/θ, 1). The outer integral runs over x = ln y by the
// trapezoidal rule, whose error decays exponentially for this smooth, fast-decaying integrand.
double exact_rho_clayton(double theta) {
  const double k = 1.0 / theta, h = 0.005;
  double s = 0.0;
  for (double x = -60.0; x <= std::log(600.0); x += h) {
    const double y = std::exp(x);
    const double m = std::exp(y) * -std::expint(-y);  // e^y E1(y)
    s += m * m * std::exp(k * x - y - std::lgamma(k)) * h;
  }
  return s / (theta * theta) - 1.0;
}

// Frank (θ = -α < 0): logarithmic frailty P(V = k) = p^k/(k α), p = 1 - e^(-α); given V = k,
// P(T > t) = q(e^(-t))^k with q(w) = (1 - e^(-α w))/p, so m(k) = ∫_0^1 q(w)^k dw/w (composite
// five-point Gauss-Legendre). The series is summed until its terms are negligible.
double exact_rho_frank(double theta) {
  const double a = -theta, p = -std::expm1(-a);
  static const double xg[5] = {-0.9061798459386640, -0.5384693101056831, 0.0, 0.5384693101056831,
                               0.9061798459386640};
  static const double wg[5] = {0.2369268850561891, 0.4786286704993665, 0.5688888888888889,
                               0.4786286704993665, 0.2369268850561891};
  const int panels = 2000;
  std::vector<double> q, wq;
  for (int i = 0; i < panels; ++i)
    for (int g = 0; g < 5; ++g) {
      const double z = (i + 0.5 + 0.5 * xg[g]) / panels;
      q.push_back(-std::expm1(-a * z) / p);
      wq.push_back(0.5 * wg[g] / panels / z);
    }
  double sum = 0.0, pk = 1.0;
  for (int k = 1; k < 1000000; ++k) {
    double m = 0.0;
    for (size_t j = 0; j < q.size(); ++j) m += (wq[j] *= q[j]);
    pk *= p;
    const double term = pk / (k * a) * m * m;
    sum += term;
    if (k > 10 && term < 1e-16) break;
  }
  return sum - 1.0;
}

// The design's start values for correlations 0.1, 0.2, 0.3, 0.5, 0.7 solve the exact
// correlation; the identities above reproduce them, which checks the identities themselves.
TEST(ExactCorrelation, FrailtyIdentitiesReproduceTheDesignStartValues) {
  const double rho[] = {0.1, 0.2, 0.3, 0.5, 0.7};
  const double clayton[] = {0.10100046, 0.20804783, 0.32765568, 0.64150366, 1.19632202};
  const double stable[] = {0.903266, 0.81203443, 0.72493847, 0.55819961, 0.39183965};
  for (int i = 0; i < 5; ++i) {
    EXPECT_NEAR(exact_rho_clayton(clayton[i]), rho[i], 1e-7) << rho[i];
    EXPECT_NEAR(exact_rho_positive_stable(stable[i]), rho[i], 1e-7) << rho[i];
  }
  // Near independence the Frank copula is uv (1 + α (1 - u)(1 - v)/2) + O(α²) with α = -θ, so
  // the correlation is α/8 + O(α²).
  EXPECT_NEAR(exact_rho_positive_stable(1.0), 0.0, 1e-15);
  EXPECT_NEAR(exact_rho_frank(-0.01), 0.01 / 8, 1e-5);
  EXPECT_NEAR(exact_rho_frank(-0.1), 0.1 / 8, 2e-4);
}

// The quadrature against the exact correlation: the difference is its discretisation error,
// which shrinks as the grid is refined.
TEST(Quadrature, CorrelationAgreesWithTheFrailtyIdentity) {
  struct Case {
    int code;
    double theta;
    double exact;
  };
  const Case cases[] = {{1, 0.3, exact_rho_clayton(0.3)},
                        {1, 1.2, exact_rho_clayton(1.2)},
                        {2, 0.8, exact_rho_positive_stable(0.8)},
                        {2, 0.4, exact_rho_positive_stable(0.4)},
                        {3, -1.6, exact_rho_frank(-1.6)},
                        {3, -4.7, exact_rho_frank(-4.7)}};
  for (const Case& c : cases) {
    const double fine = TERM4(c.theta, 0, 0, 1000, c.code) - 1.0;
    const double coarse = TERM4(c.theta, 0, 0, 250, c.code) - 1.0;
    EXPECT_NEAR(fine, c.exact, 1e-3) << c.code << " " << c.theta;
    EXPECT_LT(std::fabs(fine - c.exact), std::fabs(coarse - c.exact)) << c.code << " " << c.theta;
  }
}

TEST(CopulaParameter, ZeroCorrelationIsIndependenceWithoutSearch) {
  EXPECT_EQ(CORRCLYTN(1000, 0.0).theta, 0.0);
  EXPECT_EQ(CORRCLYTN(1000, 0.0).iterations, 0);
  EXPECT_EQ(CORRPSTBL(1000, 0.0).theta, 1.0);
  EXPECT_EQ(CORRPSTBL(1000, 0.0).iterations, 0);
  std::ostringstream trace;
  EXPECT_EQ(CORRFRANK(1000, 0.0, trace).theta, 0.0);
  // Inside Frank's band of 0.001 there is no search either: no trace is written.
  EXPECT_EQ(CORRFRANK(1000, 0.0005, trace).theta, 0.0);
  EXPECT_EQ(CORRFRANK(1000, -0.0009, trace).theta, 0.0);
  EXPECT_TRUE(trace.str().empty());
}

// Solves its own quadrature at N = 1000 (Frank: 399) and stays within 2% of the design's start
// value, which solves the exact correlation instead.
void expect_solves(int code, double rho, double design_theta) {
  std::ostringstream trace;
  const CopulaParameter p = code == 1   ? CORRCLYTN(1000, rho)
                            : code == 2 ? CORRPSTBL(1000, rho)
                                        : CORRFRANK(1000, rho, trace);
  const int N = code == 3 ? copula_start::kFrankGrid : 1000;
  EXPECT_NEAR(TERM4(p.theta, 0, 0, N, code) - 1.0, rho, 1e-9) << code << " " << rho;
  EXPECT_NEAR(p.theta / design_theta, 1.0, 0.02) << code << " " << rho << " " << p.theta;
  if (code != 3) {
    EXPECT_GT(p.iterations, 0);
  }
}

TEST(CopulaParameter, ClaytonSolvesItsQuadrature) {
  expect_solves(1, 0.5, 0.64150366);
  expect_solves(1, 0.2, 0.20804783);
  expect_solves(1, 0.9, 2.95590337);
  // About 0.64304 at 0.5: the quadrature's correlation at θ = 0.6415 is 0.49922.
  EXPECT_NEAR(CORRCLYTN(1000, 0.5).theta, 0.64304, 5e-5);
}

TEST(CopulaParameter, PositiveStableSolvesItsQuadrature) {
  expect_solves(2, 0.5, 0.55819961);
  expect_solves(2, 0.2, 0.81203443);
  expect_solves(2, 0.9, 0.19912799);
}

TEST(CopulaParameter, FrankSolvesItsQuadrature) {
  expect_solves(3, 0.5, -4.728778736);
  expect_solves(3, 0.2, -1.609055594);
  expect_solves(3, 0.9, -28.55248225);
}

TEST(CopulaParameter, SmallCorrelationIsIteratedForClaytonAndPositiveStable) {
  const CopulaParameter c = CORRCLYTN(200, 0.0005);
  EXPECT_GT(c.iterations, 0);
  EXPECT_NEAR(TERM4(c.theta, 0, 0, 200, 1) - 1.0, 0.0005, 1e-9);
  const CopulaParameter s = CORRPSTBL(200, 0.0005);
  EXPECT_GT(s.iterations, 0);
  EXPECT_NEAR(TERM4(s.theta, 0, 0, 200, 2) - 1.0, 0.0005, 1e-9);
}

TEST(CopulaParameter, CorrelationBeyondTheGridStartsFromTheLastRow) {
  // Above 0.995 (positive stable: above 0.99) the search starts from the last θ of the table.
  for (double rho : {0.993, 0.999}) {
    const CopulaParameter c = CORRCLYTN(200, rho);
    EXPECT_GT(c.theta, 12.0);
    EXPECT_NEAR(TERM4(c.theta, 0, 0, 200, 1) - 1.0, rho, 1e-9);
    const CopulaParameter s = CORRPSTBL(200, rho);
    EXPECT_LT(s.theta, 0.05);
    EXPECT_NEAR(TERM4(s.theta, 0, 0, 200, 2) - 1.0, rho, 1e-9);
  }
  // Frank from -561.6 at 0.993: row 101 does not fit the two-column index field of the step
  // lines and is written in full.
  std::ostringstream trace;
  const CopulaParameter f = CORRFRANK(1000, 0.993, trace);
  EXPECT_NEAR(TERM4(f.theta, 0, 0, copula_start::kFrankGrid, 3) - 1.0, 0.993, 1e-9);
  EXPECT_EQ(trace.str().substr(0, 30), " newton 3101  1   -561.6042381");
  EXPECT_NE(trace.str().find("\n   3 101 "), std::string::npos);
}

TEST(CopulaParameter, FrankNegativeCorrelationGivesPositiveParameter) {
  // Frank also covers negative association (θ > 0), down to the bound 1 - π²/6 of exponential
  // margins.
  std::ostringstream trace;
  const CopulaParameter p = CORRFRANK(1000, -0.3, trace);
  EXPECT_GT(p.theta, 0.0);
  EXPECT_NEAR(TERM4(p.theta, 0, 0, copula_start::kFrankGrid, 3) - 1.0, -0.3, 1e-9);
}

TEST(CopulaParameter, StartTablesAreIncreasingInCorrelationAndAssociation) {
  using copula_start::kRows;
  for (int k = 1; k < kRows; ++k) {
    EXPECT_LT(copula_start::kClayton.rho[k - 1], copula_start::kClayton.rho[k]);
    EXPECT_LT(copula_start::kClayton.theta[k - 1], copula_start::kClayton.theta[k]) << k;
    EXPECT_GT(copula_start::kPositiveStable.theta[k - 1], copula_start::kPositiveStable.theta[k]) << k;
    EXPECT_GT(copula_start::kFrank.theta[k - 1], copula_start::kFrank.theta[k]) << k;
  }
  EXPECT_EQ(copula_start::kClayton.theta[50], 0.64150366);
  EXPECT_EQ(copula_start::kFrank.beyond, -561.6042381);
}

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(CopulaParameter, FrankTraceLayout) {
  std::ostringstream trace;
  const double theta = CORRFRANK(1000, 0.5, trace).theta;
  const std::vector<std::string> lines = lines_of(trace.str());
  ASSERT_GE(lines.size(), 5u);
  ASSERT_EQ((lines.size() - 2) % 3, 0u) << trace.str();
  // First Newton step from the table row 51 (correlation 0.50), start -4.728778736.
  EXPECT_EQ(lines[0].substr(0, 14), " newton 351  1");
  EXPECT_EQ(lines[0].substr(14, 15), "     -4.7287787");
  EXPECT_EQ(lines[0].size(), 44u);
  const std::string label = std::string(" IN( F ") + "\x83\xC6" + ")";
  EXPECT_EQ(lines[1].substr(0, 10), label);
  EXPECT_EQ(lines[1].size(), 50u);
  EXPECT_EQ(lines[1].substr(30), "       -4.7287787360");
  EXPECT_EQ(lines[2].substr(0, 10), " OUT( DF )");
  EXPECT_EQ(lines[2].size(), 30u);
  EXPECT_EQ(lines[lines.size() - 2], "   K   I            RHO         CORREL          THETA");
  const std::string& last = lines.back();
  ASSERT_EQ(last.size(), 53u);
  EXPECT_EQ(last.substr(0, 8), "   3  51");
  EXPECT_EQ(last.substr(8, 15), "      0.5000000");
  EXPECT_EQ(last.substr(23, 15), "      0.5000000");
  EXPECT_NEAR(std::stod(last.substr(38)), theta, 1e-6);
}

TEST(CopulaParameter, FrankReachesTheRootFromFarStarts) {
  // From -100 at correlation 0.6 the first Newton step leaves the range where the quadrature is
  // finite; the search goes back, halves the step and still ends at the root.
  for (auto [start, rho] : {std::pair{-60.0, 0.5}, std::pair{-100.0, 0.6}}) {
    copula_start::StartTable table = copula_start::kFrank;
    for (double& t : table.theta) t = start;
    std::ostringstream trace;
    const CopulaParameter p = copula_start::frank(table, rho, trace);
    EXPECT_NEAR(TERM4(p.theta, 0, 0, copula_start::kFrankGrid, 3) - 1.0, rho, 1e-9) << start;
    EXPECT_EQ(trace.str().find("NaN"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrel::survival
