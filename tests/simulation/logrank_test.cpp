#include "simulation/logrank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "common/errors.h"

namespace kestrel::simulation {
namespace {

struct Subject {
  double time;
  bool event;
  int arm;  // 1 or 2
};

std::vector<double> records_of(const std::vector<Subject>& s) {
  std::vector<double> r;
  for (const Subject& x : s) {
    r.push_back(x.event ? 1.0 : 2.0);
    r.push_back(x.arm - 1.0);
    r.push_back(x.time);
  }
  return r;
}

int events_of(const std::vector<Subject>& s) {
  return static_cast<int>(std::count_if(s.begin(), s.end(), [](const Subject& x) { return x.event; }));
}

// The classical two-sample log-rank statistic straight from its textbook definition:
// sum(d2 - Y2 d / Y) / sqrt(sum Y1 Y2 d (Y - d) / (Y^2 (Y - 1))), Y counting everyone with an
// observed time at or after the event time.
struct Classical {
  double score = 0, variance = 0;
  double Z() const { return score / std::sqrt(variance); }
};

Classical classical(const std::vector<Subject>& s, double inverse_n_scale = 0) {
  std::set<double> times;
  for (const Subject& x : s) if (x.event) times.insert(x.time);
  Classical c;
  for (double t : times) {
    double Y = 0, Y1 = 0, Y2 = 0, d = 0, d2 = 0;
    for (const Subject& x : s) {
      if (x.time >= t) {
        Y += 1;
        (x.arm == 1 ? Y1 : Y2) += 1;
      }
      if (x.event && x.time == t) {
        d += 1;
        if (x.arm == 2) d2 += 1;
      }
    }
    c.score += d2 - Y2 * d / Y;
    // inverse_n_scale = 0: the classical Y - 1; otherwise Y - Y(1)/N as in the scaled variance.
    const double ym1 = inverse_n_scale == 0 ? Y - 1 : Y - inverse_n_scale;
    if (Y > 1 && Y - d > 0) c.variance += Y1 * Y2 * d * (Y - d) / (Y * Y * ym1);
  }
  return c;
}

LogrankResult run(std::vector<Subject> s, std::string* console_text = nullptr) {
  std::vector<double> rec = records_of(s);
  std::ostringstream console;
  LogrankTable table;
  const int d = events_of(s);
  LogrankResult r = ALGORITHM(rec.data(), static_cast<int>(s.size()), kRecordWidth, d,
                              static_cast<int>(s.size()) - d, 2, 1, console, table);
  if (console_text) *console_text = console.str();
  return r;
}

// Y(1)/(Y1(1) Y2(1)): the scale between the returned variance and the classical one.
double scale_of(const std::vector<Subject>& s) {
  double first = 1e300;
  for (const Subject& x : s) if (x.event) first = std::min(first, x.time);
  double Y = 0, Y1 = 0, Y2 = 0;
  for (const Subject& x : s) {
    if (x.time >= first) {
      Y += 1;
      (x.arm == 1 ? Y1 : Y2) += 1;
    }
  }
  return Y / (Y1 * Y2);
}

void expect_classical(const std::vector<Subject>& s, const char* what) {
  const LogrankResult r = run(s);
  const Classical c = classical(s);
  EXPECT_NEAR(r.Z, c.Z(), 1e-12) << what;
  EXPECT_NEAR(r.V, scale_of(s) * c.variance, 1e-12 * std::fabs(r.V)) << what;
  EXPECT_NEAR(r.p, 0.5 * std::erfc(-r.Z / std::sqrt(2.0)), 1e-15) << what;
}

TEST(Logrank, HandCheckableSetsMatchClassicalFormula) {
  // Ties across groups at 2 and 5.
  expect_classical({{2, true, 1}, {2, true, 2}, {3, true, 1}, {5, true, 2}, {5, true, 1},
                    {6, false, 2}, {7, true, 2}, {8, false, 1}},
                   "ties across groups");
  // A censoring at exactly an event time (4): that patient is still at risk at 4.
  expect_classical({{1, true, 2}, {4, true, 1}, {4, false, 2}, {4, false, 1}, {6, true, 2},
                    {9, true, 1}, {9, false, 2}},
                   "censoring at an event time");
  // All events in one group.
  expect_classical({{1, true, 1}, {2, true, 1}, {3, true, 1}, {4, false, 2}, {5, false, 2},
                    {6, false, 2}, {7, false, 1}},
                   "all events in group 1");
  // No censoring at all.
  expect_classical({{0.5, true, 1}, {1.5, true, 2}, {2.5, true, 2}, {3.5, true, 1}, {4.5, true, 2},
                    {5.5, true, 1}, {6.5, true, 1}, {7.5, true, 2}},
                   "no censoring");
}

TEST(Logrank, RandomTiedDataMatchClassicalFormula) {
  std::mt19937 rng(7);
  for (int rep = 0; rep < 200; ++rep) {
    const int n = 5 + static_cast<int>(rng() % 60);
    std::vector<Subject> s;
    for (int i = 0; i < n; ++i) {
      // Integer times give many ties; the first record is always an early event so that nobody
      // is censored before the first event time.
      const double t = i == 0 ? 0.0 : 1.0 + rng() % 12;
      s.push_back({t, i == 0 || rng() % 3 != 0, 1 + static_cast<int>(rng() % 2)});
    }
    s.push_back({0.0, true, s[0].arm == 1 ? 2 : 1});  // both groups present at the start
    std::shuffle(s.begin(), s.end(), rng);
    const LogrankResult r = run(s);
    const Classical c = classical(s);
    ASSERT_NEAR(r.Z, c.Z(), 1e-12 * std::max(1.0, std::fabs(c.Z()))) << "rep " << rep;
  }
}

TEST(Logrank, CensoringBeforeFirstEventUsesNumberOfRecordsInVariance) {
  // Two records censored before the first event: the score is the classical one, the variance
  // carries 1/N (N = all records) where the classical form has 1/Y(1).
  std::vector<Subject> s = {{0.1, false, 1}, {0.2, false, 2}, {1, true, 2}, {2, true, 1},
                            {2, true, 2},    {3, false, 1},   {4, true, 1}, {5, true, 2}};
  const LogrankResult r = run(s);
  const double n = static_cast<double>(s.size());
  const double y0 = 6;  // at risk at the first event time
  const Classical c = classical(s, y0 / n);
  const double V = scale_of(s) * c.variance;
  EXPECT_NEAR(r.V, V, 1e-13);
  EXPECT_NEAR(r.Z, c.score * std::sqrt(scale_of(s)) / std::sqrt(V), 1e-12);
}

TEST(Logrank, SignIsNegativeWhenArmTwoHasFewerEventsThanExpected) {
  std::vector<Subject> s;
  for (int i = 0; i < 20; ++i) {
    s.push_back({1.0 + i, true, 1});                // arm 1: all events early
    s.push_back({30.0 + i, i % 2 == 0, 2});          // arm 2: later and fewer events
  }
  const LogrankResult r = run(s);
  EXPECT_LT(r.Z, -3.0);
  EXPECT_LT(r.p, 0.01);
  // Swapping the arms swaps the sign.
  for (Subject& x : s) x.arm = 3 - x.arm;
  const LogrankResult q = run(s);
  EXPECT_NEAR(q.Z, -r.Z, 1e-12);
  EXPECT_GT(q.p, 0.99);
}

TEST(Logrank, AllCensoredGivesNoEventValues) {
  const LogrankResult r = run({{1, false, 1}, {2, false, 2}, {3, false, 1}});
  EXPECT_EQ(r.Z, 0.001);
  EXPECT_EQ(r.p, 0.999999);
  EXPECT_EQ(r.V, 0.0);
}

TEST(Logrank, IdenticalGroupsGiveZeroStatistic) {
  const LogrankResult r = run({{1, true, 1}, {1, true, 2}, {2, true, 1}, {2, true, 2},
                               {3, false, 1}, {3, false, 2}});
  EXPECT_EQ(r.Z, 0.0);
  EXPECT_EQ(r.p, 0.5);
}

TEST(Logrank, SingleTiedTimeWithNobodyLeftHasZeroVariance) {
  // Everyone has the event at one time: rho - delta = 0 drops the only term, V stays 0, and the
  // score d2 - Y2 d/Y is 0 as well, so Z = -U/1e-10 = 0.
  const LogrankResult r = run({{1, true, 2}, {1, true, 2}, {1, true, 1}});
  EXPECT_EQ(r.V, 0.0);
  EXPECT_EQ(r.Z, 0.0);
  EXPECT_EQ(r.p, 0.5);
}

TEST(Logrank, OneGroupOnlyGivesZeroInsteadOfNotANumber) {
  const LogrankResult r = run({{1, true, 2}, {2, true, 2}, {3, false, 2}});
  EXPECT_FALSE(std::isnan(r.V));
  EXPECT_EQ(r.V, 0.0);
  EXPECT_EQ(std::fabs(r.Z), 0.0);
  EXPECT_EQ(r.p, 0.5);
}

TEST(Logrank, UnknownGroupCodeStopsWithRiskError) {
  std::vector<double> rec = {1, 0, 1.0, 1, 1, 2.0, 1, 5, 3.0};  // group code 5 is neither arm
  std::ostringstream console;
  LogrankTable table;
  EXPECT_THROW(ALGORITHM(rec.data(), 3, kRecordWidth, 3, 0, 2, 1, console, table), RunError);
  EXPECT_EQ(console.str(), " RISK:ERROR\n");
}

TEST(Logrank, OtherNumberOfGroupsIsReportedAndTheTestGoesOn) {
  std::vector<double> rec = records_of({{1, true, 1}, {2, true, 2}, {3, true, 1}, {4, false, 2}});
  std::ostringstream console;
  LogrankTable table;
  const LogrankResult r = ALGORITHM(rec.data(), 4, kRecordWidth, 3, 1, 3, 1, console, table);
  EXPECT_NE(console.str().find("ERROR:"), std::string::npos);
  EXPECT_NE(console.str().find("-SAMP\x82\xcd\x82\xdc\x82\xbe"), std::string::npos);
  EXPECT_TRUE(std::isfinite(r.Z));
}

TEST(Sortrows, OrdersRowsLexicographicallyAndCountsGroups) {
  std::mt19937 rng(3);
  const int nrow = 500, ncol = 4, ld = 5;
  std::vector<double> x(nrow * ld);
  for (double& v : x) v = static_cast<double>(rng() % 7);
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < nrow; ++i) rows.emplace_back(x.begin() + i * ld, x.begin() + i * ld + ncol);
  const int keys[2] = {2, 0};
  RowGroups groups;
  SORTROWS(nrow, ncol, x.data(), ld, 2, keys, &groups);
  // Same multiset of rows, ordered by (column 2, column 0).
  std::vector<std::vector<double>> sorted;
  for (int i = 0; i < nrow; ++i) sorted.emplace_back(x.begin() + i * ld, x.begin() + i * ld + ncol);
  for (int i = 1; i < nrow; ++i) {
    const auto& a = sorted[i - 1];
    const auto& b = sorted[i];
    ASSERT_TRUE(a[2] < b[2] || (a[2] == b[2] && a[0] <= b[0])) << i;
  }
  auto all = rows;
  std::sort(all.begin(), all.end());
  auto got = sorted;
  std::sort(got.begin(), got.end());
  EXPECT_EQ(all, got);
  EXPECT_EQ(groups.count, 49);  // 7 x 7 key pairs, all present in 500 rows
  int total = 0;
  for (int g : groups.sizes) total += g;
  EXPECT_EQ(total, nrow);
  EXPECT_THROW(SORTROWS(0, 3, x.data(), 3, 1, keys), RunError);
  EXPECT_THROW(SORTROWS(3, 0, x.data(), 3, 1, keys), RunError);
}

TEST(Survsort, EventsComeBeforeCensoringsAtEqualTimes) {
  std::vector<double> rec = {2, 0, 5.0, 1, 1, 5.0, 2, 1, 1.0, 1, 0, 3.0, 2, 0, 3.0, 1, 1, 3.0};
  SURVSORT(rec.data(), 6, kRecordWidth);
  const std::vector<double> times = {rec[2], rec[5], rec[8], rec[11], rec[14], rec[17]};
  EXPECT_EQ(times, (std::vector<double>{1, 3, 3, 3, 5, 5}));
  EXPECT_EQ(rec[3 * 1 + 0], 1.0);
  EXPECT_EQ(rec[3 * 2 + 0], 1.0);
  EXPECT_EQ(rec[3 * 3 + 0], 2.0);
  EXPECT_EQ(rec[3 * 4 + 0], 1.0);
  EXPECT_EQ(rec[3 * 5 + 0], 2.0);
}

TEST(Survsort, FastPathAgreesWithGeneralRowSort) {
  // Random records with tied times, negative times, signed zeros and both statuses: the order of
  // (time, status) pairs is the one of the general lexicographic sort, and no row is lost.
  std::mt19937 rng(11);
  for (int rep = 0; rep < 50; ++rep) {
    const int n = 1 + static_cast<int>(rng() % 300);
    std::vector<double> a(3 * n);
    for (int i = 0; i < n; ++i) {
      a[3 * i] = rng() % 2 ? 1.0 : 2.0;
      a[3 * i + 1] = rng() % 2;
      const int kind = rng() % 4;
      a[3 * i + 2] = kind == 0 ? static_cast<double>(rng() % 5) - 2.0
                   : kind == 1 ? (rng() % 2 ? 0.0 : -0.0)
                               : std::ldexp(static_cast<double>(rng()), -20 - static_cast<int>(rng() % 40)) *
                                     (rng() % 5 == 0 ? -1.0 : 1.0);
    }
    std::vector<double> b = a;
    SURVSORT(a.data(), n, kRecordWidth);
    const int keys[2] = {kTimeColumn, kStatusColumn};
    SORTROWS(n, 3, b.data(), 3, 2, keys);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(a[3 * i + 2], b[3 * i + 2]) << rep << " " << i;
      ASSERT_EQ(a[3 * i], b[3 * i]) << rep << " " << i;
    }
    auto rows = [n](const std::vector<double>& v) {
      std::vector<std::array<double, 3>> r(n);
      for (int i = 0; i < n; ++i) r[i] = {v[3 * i], v[3 * i + 1], v[3 * i + 2] + 0.0};
      std::sort(r.begin(), r.end());
      return r;
    };
    ASSERT_EQ(rows(a), rows(b));
  }
}

// Every row in the one stable order (time, events before censorings, then the input order), for
// times spread evenly (the bucket sort), piled up at one end or tied (the radix sort it falls
// back to), and tiny sets: against a stable comparison sort of the rows.
TEST(Survsort, RowsComeInTheStableOrderWhateverTheSpreadOfTimes) {
  std::mt19937 rng(29);
  std::exponential_distribution<double> expo(1.0);
  for (int rep = 0; rep < 60; ++rep) {
    const int n = rep % 3 == 0 ? 1 + static_cast<int>(rng() % 70) : 64 + static_cast<int>(rng() % 3000);
    const int spread = rep % 5;
    std::vector<double> a(3 * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      double t = std::min(expo(rng), 2.5);  // censored at 2.5 (ties there)
      if (spread == 1) t = std::floor(t * 10) / 10;                // many ties
      if (spread == 2 && i % 97 == 0) t = 1e-300;                  // outliers stretch the range
      if (spread == 3) t = 1.0 + std::ldexp(static_cast<double>(rng() % 8), -50);  // one pile
      if (spread == 4 && i % 7 == 0) t = i % 2 ? 0.0 : -0.0;       // signed zeros
      a[3 * i] = rng() % 3 ? 1.0 : 2.0;
      a[3 * i + 1] = static_cast<double>(i);  // the input position
      a[3 * i + 2] = t;
    }
    std::vector<std::array<double, 3>> expected(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) expected[i] = {a[3 * i], a[3 * i + 1], a[3 * i + 2]};
    std::stable_sort(expected.begin(), expected.end(), [](const auto& x, const auto& y) {
      return x[2] < y[2] || (x[2] == y[2] && x[0] == 1.0 && y[0] != 1.0);
    });
    SURVSORT(a.data(), n, kRecordWidth);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(a[3 * i + 1], expected[i][1]) << rep << " " << i;
      ASSERT_EQ(a[3 * i], expected[i][0]) << rep << " " << i;
    }
  }
}

}  // namespace
}  // namespace kestrel::simulation
