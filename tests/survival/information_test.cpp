// Information, information fractions and covariances of the two log-rank scores.
#include "survival/information.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "common/errors.h"
#include "numerics/uniform_generator.h"
#include "survival/information_kernel.h"
#include "survival/information_reference.h"

namespace kestrel::survival {
namespace {

using detail::AnalysisSet;
using detail::InformationModel;
using detail::Look;

InformationInput design(int cpl, double theta, int mode, int flag, int K,
                        std::initializer_list<double> looks) {
  InformationInput in;
  in.K = K;
  in.model.copula = cpl;
  in.model.competing_risks = mode;
  in.model.composite = flag;
  in.model.hazard_ratio[0] = 1.0 / 0.7;  // stored as the reciprocal of the deck value
  in.model.hazard_ratio[1] = 1.0 / 0.8;
  in.model.copula_parameter = theta;
  in.model.accrual_period = 2.0;
  in.model.follow_up = 1.5;
  in.model.control_survival[0] = 0.45;
  in.model.control_survival[1] = 0.6;
  in.model.treatment_share = 0.4;
  int k = 0;
  for (double v : looks) in.TLOOK[k++] = v;
  return in;
}

double max_abs(const std::vector<double>& v) {
  double m = 0;
  for (double x : v) m = std::max(m, std::fabs(x));
  return m;
}

// The shared-kernel evaluation equals the cell-by-cell one to rounding, for every family,
// competing-risk mode and composite flag, with analyses before and after the end of accrual and
// pairs of different analyses in both orders.
TEST(InformationKernel, SharedKernelEqualsCellByCellEvaluation) {
  const int NG = 18;
  struct Case {
    int cpl;
    double theta;
  };
  for (Case c : {Case{1, 1.8}, Case{2, 0.55}, Case{3, -5.0}, Case{3, -9.0}}) {
    for (int mode = 1; mode <= 3; ++mode) {
      for (int flag = 1; flag <= 2; ++flag) {
        const InformationInput in = design(c.cpl, c.theta, mode, flag, 3, {});
        const InformationModel model(in, NG);
        std::vector<Look> looks{model.look_at(5), model.look_at(11), model.final_look()};
        AnalysisSet fast;
        fast.K = 3;
        fast.looks = looks;
        model.complete(fast);
        const testing::ReferenceInformation ref(in, model.X());
        const AnalysisSet slow = ref.set(looks);
        const double scale = max_abs(slow.SIG);
        for (size_t i = 0; i < slow.SIG.size(); ++i) {
          ASSERT_NEAR(fast.SIG[i], slow.SIG[i], 1e-13 * scale)
              << "family " << c.cpl << " mode " << mode << " flag " << flag << " entry " << i;
        }
        for (int k = 0; k < 3; ++k) {
          for (int e = 0; e < 2; ++e) {
            EXPECT_NEAR(fast.m[k].mu[e], slow.m[k].mu[e], 1e-14);
            EXPECT_NEAR(fast.m[k].va[e], slow.m[k].va[e], 1e-14);
            EXPECT_NEAR(fast.m[k].v0[e], slow.m[k].v0[e], 1e-14);
          }
        }
      }
    }
  }
}

// Analyses at unequal times sharing the shifted-diagonal cells in many ways: every pair of grid
// points, both orders.
TEST(InformationKernel, CrossCovarianceOfAnyTwoAnalysesMatchesReference) {
  const InformationInput in = design(1, 2.5, 2, 2, 2, {});
  const int NG = 12;
  const InformationModel model(in, NG);
  const testing::ReferenceInformation ref(in, model.X());
  for (int ia = 1; ia <= NG; ia += 2) {
    for (int ib = 1; ib <= NG; ++ib) {
      const Look a = model.look_at(ia), b = model.look_at(ib);
      const double r = ref.cross(a, b);
      EXPECT_NEAR(model.cross(a, b), r, 1e-14 + 1e-12 * std::fabs(r)) << ia << " " << ib;
    }
  }
}

TEST(InformationGrid, EquallySpacedInPooledEventProbabilityAndEndsAtT) {
  InformationInput in = design(1, 1.0, 1, 1, 1, {3.5});
  in.model.treatment_share = 0.0;  // no treatment share: the grid is EP1's control event probability
  const int NG = 40;
  const InformationModel model(in, NG);
  const double T = 3.5, lc1 = -std::log(0.45) / T;
  EXPECT_EQ(model.X().front(), 0.0);
  EXPECT_EQ(model.X().back(), T);
  for (int i = 1; i < NG; ++i) {
    EXPECT_NEAR(1.0 - std::exp(-lc1 * model.X()[i]), 0.55 * i / NG, 1e-14);
  }
  // With an even split the grid increases strictly.
  const InformationModel mixed(design(1, 1.0, 1, 1, 1, {3.5}), 1000);
  for (int i = 1; i <= 1000; ++i) EXPECT_LT(mixed.X()[i - 1], mixed.X()[i]);
}

TEST(CalendarInformation, RequestedTimesMoveUpToTheNextGridPoint) {
  MemoryReports r;
  const int NG = 50;
  InformationInput probe = design(1, 1.0, 1, 1, 1, {3.5});
  const InformationModel model(probe, NG);
  const double onpoint = model.X()[20];
  const double between = 0.5 * model.X()[30] + 0.5 * model.X()[31];
  InformationInput in = design(1, 1.0, 1, 1, 3, {onpoint, between, 3.5});
  const AnalysisSet s = detail::CVARGIVTIME(NG, in, r.reports);
  EXPECT_EQ(s.looks[0].idx, 20);
  EXPECT_EQ(s.looks[0].tau, onpoint);
  EXPECT_EQ(s.looks[1].idx, 31);
  EXPECT_EQ(s.looks[1].tau, model.X()[31]);
  EXPECT_EQ(s.looks[2].tau, 3.5);
}

TEST(CalendarInformation, TimesOutsideTheStudyOrDecreasingStopTheRun) {
  MemoryReports r;
  EXPECT_THROW(detail::CVARGIVTIME(20, design(1, 1, 1, 1, 2, {2.0, 3.6}), r.reports), RunError);
  EXPECT_THROW(detail::CVARGIVTIME(20, design(1, 1, 1, 1, 2, {2.0, 1.0}), r.reports), RunError);
  EXPECT_THROW(detail::CVARGIVTIME(20, design(1, 1, 1, 1, 2, {0.0, 3.5}), r.reports), RunError);
  // The study end written with rounding in the last digit is the study end.
  EXPECT_NO_THROW(detail::CVARGIVTIME(20, design(1, 1, 1, 1, 1, {3.5 + 1e-13}), r.reports));
}

TEST(CalendarInformation, HazardRatioOneGivesZeroMeanAndEqualVariances) {
  MemoryReports r;
  // Mode 1: each endpoint on its own.
  InformationInput in = design(1, 2.0, 1, 1, 3, {1.0, 2.5, 3.5});
  in.model.hazard_ratio[0] = 1.0;
  AnalysisSet s = detail::CVARGIVTIME(200, in, r.reports);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(s.m[k].mu[0], 0.0);
    EXPECT_DOUBLE_EQ(s.m[k].va[0], s.m[k].v0[0]);
    EXPECT_GT(s.m[k].mu[1], 0.0);
    EXPECT_GT(s.m[k].va[1], 0.0);
  }
  // Competing-risk modes, composite or not: both ratios 1.
  for (int mode = 2; mode <= 3; ++mode) {
    for (int flag = 1; flag <= 2; ++flag) {
      InformationInput b = design(2, 0.6, mode, flag, 2, {1.5, 3.5});
      b.model.hazard_ratio[0] = b.model.hazard_ratio[1] = 1.0;
      s = detail::CVARGIVTIME(200, b, r.reports);
      for (int k = 0; k < 2; ++k) {
        for (int e = 0; e < 2; ++e) {
          EXPECT_EQ(s.m[k].mu[e], 0.0);
          EXPECT_DOUBLE_EQ(s.m[k].va[e], s.m[k].v0[e]);
        }
      }
    }
  }
}

TEST(CalendarInformation, SingleAnalysisAtStudyEndHasFractionsOne) {
  MemoryReports r;
  numerics::UniformGenerator gen([] { return 1234; });
  const InformationSet out =
      detail::calendar_information(design(3, -4.0, 2, 1, 1, {3.5}), gen, r.reports, 100);
  EXPECT_EQ(out.K, 1);
  EXPECT_EQ(out.FINF1[0], 1.0);
  EXPECT_EQ(out.FINF2[0], 1.0);
  EXPECT_EQ(out.FENR[0], 1.0);
  EXPECT_GT(out.CORR12[0][0], 0.0);
  EXPECT_LT(out.CORR12[0][0], 1.0);
  EXPECT_EQ(gen.variant(), 5);
}

TEST(CalendarInformation, AnalysisBeforeEndOfAccrualEnrolsTauOverA) {
  MemoryReports r;
  const AnalysisSet s = detail::CVARGIVTIME(300, design(1, 1.0, 1, 1, 3, {0.7, 1.3, 3.5}),
                                            r.reports);
  EXPECT_DOUBLE_EQ(s.looks[0].l, s.looks[0].tau / 2.0);
  EXPECT_DOUBLE_EQ(s.looks[1].l, s.looks[1].tau / 2.0);
  EXPECT_EQ(s.looks[2].l, 1.0);
  // Nobody is followed longer than tau: the interval beyond tau carries no weight, so adding
  // grid intervals past the analysis changes nothing.
  const InformationModel model(design(1, 1.0, 1, 1, 3, {}), 300);
  Look L = model.look_at(60);
  const detail::Moments m1 = model.moments(L);
  L.idx = 200;
  const detail::Moments m2 = model.moments(L);
  EXPECT_EQ(m1.va[0], m2.va[0]);
  EXPECT_EQ(m1.mu[1], m2.mu[1]);
}

// Independent event times without competing risks: the scores of the two endpoints are
// uncorrelated at and across analyses.
TEST(CalendarInformation, IndependenceWithoutCompetingRisksGivesZeroCrossCorrelation) {
  MemoryReports r;
  numerics::UniformGenerator gen([] { return 1234; });
  for (auto [cpl, theta] : {std::pair{1, 0.0}, std::pair{2, 1.0}, std::pair{3, 0.0}}) {
    const InformationSet out = BVRLGRNK01(design(cpl, theta, 1, 1, 3, {1.0, 2.5, 3.5}), gen,
                                          r.reports);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(out.CORR12[i][j], 0.0, 1e-6) << cpl;
  }
}

TEST(CalendarInformation, CompositeFlagHasNoEffectWithoutCompetingRisks) {
  MemoryReports r;
  const AnalysisSet a =
      detail::CVARGIVTIME(60, design(1, 2.0, 1, 1, 3, {1.0, 2.5, 3.5}), r.reports);
  const AnalysisSet b =
      detail::CVARGIVTIME(60, design(1, 2.0, 1, 2, 3, {1.0, 2.5, 3.5}), r.reports);
  EXPECT_EQ(a.SIG, b.SIG);
}

InformationInput exchanged(InformationInput in) {
  std::swap(in.model.hazard_ratio[0], in.model.hazard_ratio[1]);
  std::swap(in.model.control_survival[0], in.model.control_survival[1]);
  return in;
}

// Where the two endpoints play symmetric roles (no competing risk, or each ending the other),
// exchanging their inputs exchanges the outputs. The grid blends the endpoints by the allocation
// weights, so the design uses an even split.
TEST(CalendarInformation, ExchangingTheEndpointsExchangesTheOutputs) {
  for (int mode : {1, 3}) {
    InformationInput in = design(1, 1.5, mode, 1, 3, {1.0, 2.5, 3.5});
    in.model.treatment_share = 0.5;
    MemoryReports r;
    numerics::UniformGenerator gen([] { return 1; });
    const InformationSet a = detail::calendar_information(in, gen, r.reports, 120);
    const InformationSet b = detail::calendar_information(exchanged(in), gen, r.reports, 120);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(a.FINF1[k], b.FINF2[k], 1e-13);
      EXPECT_NEAR(a.DRF1[k], b.DRF2[k], 1e-15);
      EXPECT_NEAR(a.DRF2[k], b.DRF1[k], 1e-15);
      EXPECT_NEAR(a.VAR11[k], b.VAR12[k], 1e-15);
      EXPECT_NEAR(a.VAR01[k], b.VAR02[k], 1e-15);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(a.CORR12[k][j], b.CORR12[j][k], 1e-13);
    }
  }
}

TEST(FractionInformation, ExchangingTheEndpointsExchangesTheDrivenSets) {
  for (int mode : {1, 3}) {
    InformationInput in = design(2, 0.6, mode, 1, 3, {0.3, 0.7, 1.0});
    in.model.treatment_share = 0.5;
    MemoryReports r;
    numerics::UniformGenerator gen([] { return 1; });
    const InformationSets a = detail::fraction_information(in, gen, r.reports, 120);
    const InformationSets b = detail::fraction_information(exchanged(in), gen, r.reports, 120);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(a.ep1_driven.TCAL[k], b.ep2_driven.TCAL[k]);
      EXPECT_NEAR(a.ep1_driven.VAR11[k], b.ep2_driven.VAR12[k], 1e-15);
      EXPECT_NEAR(a.ep1_driven.DRF2[k], b.ep2_driven.DRF1[k], 1e-15);
      EXPECT_NEAR(a.ep1_driven.FENR[k], b.ep2_driven.FENR[k], 0.0);
      for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(a.ep1_driven.CORR12[k][j], b.ep2_driven.CORR12[j][k], 1e-13);
    }
  }
}

// Each driven set, held EP1 first, is the calendar calculation at that set's times.
TEST(FractionInformation, DrivenSetsEqualTheCalendarCalculationAtTheirTimes) {
  const InformationInput in = design(1, 2.0, 2, 2, 3, {0.35, 0.7, 1.0});
  MemoryReports r;
  numerics::UniformGenerator gen([] { return 1; });
  const InformationSets sets = detail::fraction_information(in, gen, r.reports, 150);
  for (const InformationSet* s : {&sets.ep1_driven, &sets.ep2_driven}) {
    InformationInput cal = in;
    cal.TLOOK = s->TCAL;
    const InformationSet c = detail::calendar_information(cal, gen, r.reports, 150);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(s->FINF1[k], c.FINF1[k], 1e-12);
      EXPECT_NEAR(s->FINF2[k], c.FINF2[k], 1e-12);
      EXPECT_NEAR(s->DRF1[k], c.DRF1[k], 1e-14);
      EXPECT_NEAR(s->VAR12[k], c.VAR12[k], 1e-14);
      EXPECT_NEAR(s->VAR01[k], c.VAR01[k], 1e-14);
      EXPECT_EQ(s->FENR[k], c.FENR[k]);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(s->CORR12[k][j], c.CORR12[k][j], 1e-12);
    }
  }
  // EP1 reaches a fraction of its information at a different time than EP2 does.
  EXPECT_NE(sets.ep1_driven.TCAL[0], sets.ep2_driven.TCAL[0]);
}

// The time found for each fraction is the nearest grid point (the later one on a tie) by the
// fraction of the alternative variance; the last analysis is the study end.
TEST(FractionInformation, FindsTheNearestGridPointForEachFraction) {
  const int NG = 200;
  const InformationInput in = design(3, -6.0, 3, 1, 4, {0.2, 0.5, 0.8, 1.0});
  const detail::FractionResult res = detail::CVGIVINFO(NG, in);
  const InformationModel model(in, NG);
  const detail::Moments mT = model.moments(model.final_look());
  for (int e = 0; e < 2; ++e) {
    const AnalysisSet& s = res.sets[e];
    for (int k = 0; k < 3; ++k) {
      const int idx = s.looks[k].idx;
      // The information of the score at a look grows with the subjects enrolled by then.
      auto frac = [&](int j) {
        const detail::Look L = model.look_at(j);
        return L.l * model.moments(L).va[e] / mT.va[e];
      };
      const double d = std::fabs(in.TLOOK[k] - frac(idx));
      EXPECT_EQ(res.achieved[k][e], frac(idx));
      EXPECT_LE(d, std::fabs(in.TLOOK[k] - frac(idx - 1)));
      EXPECT_LT(d, std::fabs(in.TLOOK[k] - frac(idx + 1)));
      EXPECT_EQ(s.looks[k].l, std::min(2.0, s.looks[k].tau) / 2.0);
    }
    EXPECT_EQ(s.looks[3].tau, 3.5);
    EXPECT_EQ(res.achieved[3][e], 1.0);
  }
}

TEST(FractionInformation, SingleAnalysisHoldsTheStudyEndInBothSets) {
  MemoryReports r;
  numerics::UniformGenerator gen([] { return 1; });
  const InformationSets s =
      detail::fraction_information(design(1, 1.0, 1, 1, 1, {1.0}), gen, r.reports, 60);
  for (const InformationSet* x : {&s.ep1_driven, &s.ep2_driven}) {
    EXPECT_EQ(x->TCAL[0], 3.5);
    EXPECT_EQ(x->FINF1[0], 1.0);
    EXPECT_EQ(x->FINF2[0], 1.0);
    EXPECT_EQ(x->FENR[0], 1.0);
  }
  EXPECT_EQ(s.ep1_driven.CORR12[0][0], s.ep2_driven.CORR12[0][0]);
  EXPECT_EQ(gen.variant(), 5);
}

}  // namespace
}  // namespace kestrel::survival

namespace kestrel::survival {
namespace {

// Smallest pivot of the Cholesky factorisation of the correlation matrix of a set (negative when
// the matrix is not positive definite).
double smallest_pivot(const AnalysisSet& s) {
  const int n = 2 * s.K;
  std::vector<double> L(static_cast<size_t>(n * n), 0.0);
  double smallest = 1e300;
  for (int j = 0; j < n; ++j) {
    for (int i = j; i < n; ++i) {
      double v = s.sig(i, j) / std::sqrt(s.sig(i, i) * s.sig(j, j));
      for (int k = 0; k < j; ++k) v -= L[i * n + k] * L[j * n + k];
      if (i == j) {
        smallest = std::min(smallest, v);
        if (v <= 0.0) return v;
        L[j * n + j] = std::sqrt(v);
      } else {
        L[i * n + j] = v / L[j * n + j];
      }
    }
  }
  return smallest;
}

// With strong dependence and ten analyses, early ones before the end of accrual, the stacked
// correlation matrix stays positive definite in every competing-risk mode: the covariances across
// analyses are those of one set of per-subject scores.
TEST(CalendarInformation, StrongDependenceKeepsTheStackedCorrelationMatrixPositiveDefinite) {
  for (int mode = 1; mode <= 3; ++mode) {
    for (int flag = 1; flag <= 2; ++flag) {
      MemoryReports r;
      const AnalysisSet s = detail::CVARGIVTIME(
          300, design(1, 8.0, mode, flag, 10, {0.3, 0.6, 0.9, 1.2, 1.5, 1.8, 2.1, 2.6, 3.0, 3.5}),
          r.reports);
      EXPECT_GT(smallest_pivot(s), 0.0) << "mode " << mode << " flag " << flag;
    }
  }
}

}  // namespace
}  // namespace kestrel::survival

namespace kestrel::survival {
namespace {

// Piecewise hazards whose pieces all carry the record's control hazard and ratio give today's
// information, fractions, times and correlations within 1e-12, for the default and the exact
// covariance, with and without loss to follow-up and accrual pieces.
TEST(PiecewiseInformation, EqualPiecesReproduceTheExponentialModel) {
  for (bool exact : {false, true}) {
    for (bool loss : {false, true}) {
      InformationInput in = design(1, 2.0, 1, 1, 3, {0.35, 0.7, 1.0});
      in.model.exact = exact;
      if (loss) {
        in.model.entry_loss.dropout = {0.05, 0.1};
        in.model.entry_loss.accrual_end = {1.0, 2.0};
        in.model.entry_loss.accrual_intensity = {1.0, 3.0};
      }
      InformationInput pw = in;
      const double T = in.model.accrual_period + in.model.follow_up;
      const double l1 = -std::log(in.model.control_survival[0]) / T, l2 = -std::log(in.model.control_survival[1]) / T;
      pw.model.entry_loss.hazards[0] = {{0.4, 1.1, 2.9}, {l1, l1, l1, l1}, {in.model.hazard_ratio[0], in.model.hazard_ratio[0], in.model.hazard_ratio[0], in.model.hazard_ratio[0]}};
      pw.model.entry_loss.hazards[1] = {{1.7}, {l2, l2}, {in.model.hazard_ratio[1], in.model.hazard_ratio[1]}};
      MemoryReports r;
      numerics::UniformGenerator gen([] { return 1; });
      const InformationSets a = detail::fraction_information(in, gen, r.reports, 120);
      const InformationSets b = detail::fraction_information(pw, gen, r.reports, 120);
      for (auto sets : {std::pair{&a.ep1_driven, &b.ep1_driven}, std::pair{&a.ep2_driven, &b.ep2_driven}}) {
        const InformationSet &x = *sets.first, &y = *sets.second;
        for (int k = 0; k < 3; ++k) {
          EXPECT_NEAR(x.TCAL[k], y.TCAL[k], 1e-12);
          EXPECT_NEAR(x.FINF1[k], y.FINF1[k], 1e-12);
          EXPECT_NEAR(x.FINF2[k], y.FINF2[k], 1e-12);
          EXPECT_NEAR(x.DRF1[k], y.DRF1[k], 1e-12);
          EXPECT_NEAR(x.DRF2[k], y.DRF2[k], 1e-12);
          EXPECT_NEAR(x.VAR11[k], y.VAR11[k], 1e-12);
          EXPECT_NEAR(x.VAR02[k], y.VAR02[k], 1e-12);
          for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(x.CORR12[k][j], y.CORR12[k][j], 1e-12);
            if (exact) EXPECT_NEAR(x.CORR11[k][j], y.CORR11[k][j], 1e-12);
          }
        }
      }
    }
  }
}

// The information-weighted average ratio: a common ratio is itself; a delayed effect (1, then
// 0.6) lies strictly between 0.6 and 1, nearer 0.6 the later the analysis.
TEST(PiecewiseInformation, AverageHazardRatio) {
  InformationInput in = design(1, 2.0, 1, 1, 2, {1.0, 3.5});
  in.model.entry_loss.hazards[0] = {{0.7}, {0.3, 0.3}, {1.0, 0.6}};
  const InformationModel m(in, 200);
  EXPECT_NEAR(m.average_ratio(1, m.final_look()), in.model.hazard_ratio[1], 1e-12);
  const double early = m.average_ratio(0, m.look_at(60)), late = m.average_ratio(0, m.final_look());
  EXPECT_LT(0.6, late);
  EXPECT_LT(late, early);
  EXPECT_LT(early, 1.0);
}

}  // namespace
}  // namespace kestrel::survival
