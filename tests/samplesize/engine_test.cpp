// One design on one information set, end to end through the boundary design, the correlation
// matrix, the critical-value option, the search and (when asked) the simulation. The information
// set is synthetic (see synthetic.h); the single-endpoint designs are checked against direct
// calls of the boundary design with each endpoint's own inputs.
#include "samplesize/engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "boundaries/gsdesign.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "samplesize/synthetic.h"
#include "survival/copula_parameter.h"
#include "survival/correlation_matrix.h"
#include "survival/information.h"
#include "survival/information_kernel.h"

namespace kestrel::samplesize {
namespace {

struct Session {
  MemoryReports mem;
  numerics::UniformGenerator gen{[] { return 20261207; }};
  mvn::MvnState mvn;
  RunContext ctx{mem.reports, gen, mvn};
  Session() { gen.RANDOPT(5); }
};

Design make_design(int K, int rule, int crivl, int esf1, int esf2, int mssg) {
  Design d;
  DeckValues& v = d.stored;
  v.NSIM = 0;
  v.ITIME = 3;
  v.CPL = 1;
  v.CPRSK = 1;
  v.CMPST = 1;
  v.MSSG = mssg;
  v.HR1 = 0.7;
  v.HR2 = 0.75;
  v.RHO = 0.4;
  v.HR1TR = 0.7;
  v.HR2TR = 0.75;
  v.RHOTR = 0.4;
  v.TA = 2.0;
  v.TF = 3.0;
  v.SRVR1 = 0.4;
  v.SRVR2 = 0.55;
  v.SR = 0.5;
  v.CNSRD = 1;
  v.TYPE1 = 0.025;
  v.POWER = 0.8;
  v.DF = rule;
  v.LOOK = K;
  v.CRIVL = crivl;
  v.ESF1 = esf1;
  v.ESF2 = esf2;
  d.read = v;
  SpendingStatement s1, s2;
  s1.deck_code = esf1;
  s2.deck_code = esf2;
  d.spending = {{s1, s2}};
  return d;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream is(text);
  for (std::string l; std::getline(is, l);) out.push_back(l);
  return out;
}

boundaries::GsDesignResult direct_design(const Design& d, const InformationSet& s, int endpoint) {
  boundaries::GsDesignInput in;
  const DeckValues& v = d.stored;
  in.K = s.K;
  in.alpha = v.TYPE1;
  in.sides = 1;
  in.spending = d.spending[0][static_cast<size_t>(endpoint - 1)];
  in.power = v.POWER;
  in.hr = endpoint == 1 ? v.HR1 : v.HR2;
  const AnalysisArray& f = endpoint == 1 ? s.FINF1 : s.FINF2;
  in.t.assign(f.begin(), f.begin() + s.K);
  in.ta = v.TA;
  in.tf = v.TF;
  in.control_survival = endpoint == 1 ? v.SRVR1 : v.SRVR2;
  in.allocation = v.SR;
  boundaries::BoundaryWork work;
  std::ostringstream sink;
  return boundaries::GSDESIGN01(in, work, sink);
}

TEST(Engine, EachEndpointIsDesignedWithItsOwnInputs) {
  // EP1 with O'Brien-Fleming type spending, HR1, SRVR1 and FINF1; EP2 with Pocock type, HR2,
  // SRVR2 and FINF2: the two designs differ and each matches the direct call.
  Session r;
  const Design d = make_design(2, 1, 3, 1, 2, 400);
  const InformationSet s = testing::synthetic_set(2, 0.4, d.stored.TA, d.stored.TF);
  const Evaluation ev = GSDBVRSURV01(d, s, d.spending[0], 1.0, 1.0, r.ctx);
  const auto e1 = direct_design(d, s, 1), e2 = direct_design(d, s, 2);
  EXPECT_EQ(ev.ep1.zb, e1.zb);
  EXPECT_EQ(ev.ep2.zb, e2.zb);
  EXPECT_EQ(ev.ep1.subjects, e1.subjects);
  EXPECT_EQ(ev.ep2.subjects, e2.subjects);
  EXPECT_NE(ev.ep1.zb[0], ev.ep2.zb[0]);
  EXPECT_EQ(ev.ZB1, std::vector<double>(e1.zb.begin(), e1.zb.begin() + 2));
  EXPECT_EQ(ev.ZB2, std::vector<double>(e2.zb.begin(), e2.zb.begin() + 2));
  EXPECT_EQ(ev.NL, std::min(e1.subjects, e2.subjects));
  EXPECT_EQ(ev.NU, std::max(e1.subjects, e2.subjects));
  // The correlation matrix is that of the set: EP1 at 1, 2 then EP2 at 1, 2.
  ASSERT_EQ(ev.RCORR.size(), 6u);
  EXPECT_DOUBLE_EQ(ev.RCORR[0], std::sqrt(s.FINF1[0] / s.FINF1[1]));
  EXPECT_DOUBLE_EQ(ev.RCORR[1], s.CORR12[0][0]);
  EXPECT_DOUBLE_EQ(ev.RCORR[3], s.CORR12[0][1]);
}

TEST(Engine, CriticalValueOptionChoosesTheBoundsOfTheSearch) {
  const InformationSet s = testing::synthetic_set(2, 0.4);
  for (int crivl : {1, 2, 3}) {
    Session r;
    const Design d = make_design(2, 4, crivl, 1, 2, 400);
    const Evaluation ev = GSDBVRSURV01(d, s, d.spending[0], 1.0, 1.0, r.ctx);
    const std::vector<double> b1(ev.ep1.zb.begin(), ev.ep1.zb.begin() + 2);
    const std::vector<double> b2(ev.ep2.zb.begin(), ev.ep2.zb.begin() + 2);
    EXPECT_EQ(ev.ZB1, crivl == 2 ? b2 : b1) << crivl;
    EXPECT_EQ(ev.ZB2, crivl == 1 ? b1 : b2) << crivl;
  }
}

TEST(Engine, UnknownDecisionRuleIsEvaluatedAsRuleOne) {
  const InformationSet s = testing::synthetic_set(1, 0.4);
  Session a, b;
  const Design d1 = make_design(1, 1, 3, 1, 1, 0);
  const Design d7 = make_design(1, 7, 3, 1, 1, 0);
  const Evaluation e1 = GSDBVRSURV01(d1, s, d1.spending[0], 1.0, 1.0, a.ctx);
  const Evaluation e7 = GSDBVRSURV01(d7, s, d7.spending[0], 1.0, 1.0, b.ctx);
  EXPECT_EQ(e1.MSS, e7.MSS);
  EXPECT_EQ(e1.APW, e7.APW);
  EXPECT_EQ(a.mem.console.str(), b.mem.console.str());
}

TEST(Engine, SingleAnalysisSearchReachesTheTargetAndReportsIt) {
  // K = 1: rules 1, 2 and 3 are the same event, so the same search; the power at the size found
  // is at the target within what one subject changes.
  const InformationSet s = testing::synthetic_set(1, 0.4);
  std::vector<Evaluation> ev;
  std::vector<std::string> console;
  for (int rule : {1, 2, 3}) {
    Session r;
    const Design d = make_design(1, rule, 3, 1, 1, 0);
    ev.push_back(GSDBVRSURV01(d, s, d.spending[0], 1.0, 1.0, r.ctx));
    console.push_back(r.mem.console.str());
    // Main report: one and one empty line after EP1's design, two after EP2's, two after the
    // search, two at the end.
    EXPECT_EQ(r.mem.main.str(), std::string(8, '\n'));
  }
  for (size_t i = 1; i < ev.size(); ++i) {
    EXPECT_EQ(ev[i].MSS, ev[0].MSS);
    EXPECT_DOUBLE_EQ(ev[i].APW, ev[0].APW);
  }
  const Evaluation& e = ev[0];
  EXPECT_NEAR(e.APW, 0.8, 2e-3);
  EXPECT_EQ(e.end, SearchEnd::settled);
  EXPECT_DOUBLE_EQ(e.QSTOP[0], e.APW);
  EXPECT_DOUBLE_EQ(e.QEP[0][0], e.APW);
  EXPECT_DOUBLE_EQ(e.QEP[0][1], e.APW);
  // With one analysis nothing stops early: expected values are the maxima.
  EXPECT_DOUBLE_EQ(e.ASN, e.MSS);
  EXPECT_DOUBLE_EQ(e.AVE1, e.ME1);
  EXPECT_DOUBLE_EQ(e.AVE2, e.ME2);
  // Console: trace lines, final line, per-analysis and expected lines.
  const auto lines = lines_of(console[0]);
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[1], " ITERATION STARTS");
  char final_line[64];
  std::snprintf(final_line, sizeof final_line, " FINAL  %6d  %10.2f", e.MSS, 100 * e.APW);
  EXPECT_NE(console[0].find(std::string(final_line) + "\n\n"), std::string::npos);
  char expected[64];
  std::snprintf(expected, sizeof expected, "  EXP.   %5.0f. %5.0f. %5.0f.", e.ASN, e.AVE1, e.AVE2);
  EXPECT_EQ(lines.back(), expected);
  EXPECT_EQ(lines_of(console[1])[3], "  ITER     MSS       POWER");
}

TEST(Engine, GivenSizeIsTheOnlySizeEvaluated) {
  const InformationSet s = testing::synthetic_set(2, 0.4);
  Session r;
  const Design d = make_design(2, 3, 3, 1, 2, 300);
  const Evaluation ev = GSDBVRSURV01(d, s, d.spending[0], 1.0, 1.0, r.ctx);
  ASSERT_EQ(ev.trace.size(), 1u);
  EXPECT_EQ(ev.trace[0].size, 300);
  EXPECT_EQ(ev.MSS, 300);
  EXPECT_EQ(ev.power_evaluations, 1);
  EXPECT_EQ(ev.end, SearchEnd::given_size);
}

TEST(Engine, AnalysisAtTheEndOfAccrualWarnsInTheMainReport) {
  InformationSet s = testing::synthetic_set(2, 0.4);
  s.TCAL[0] = 2.0;  // equal to the accrual time
  Session r;
  const Design d = make_design(2, 2, 3, 1, 2, 300);
  GSDBVRSURV01(d, s, d.spending[0], 1.0, 1.0, r.ctx);
  const std::string main = r.mem.main.str();
  EXPECT_EQ(main, std::string(4, '\n') + " ER:SET TA > TP(L)           1\n" + std::string(4, '\n'));
}

TEST(Engine, SimulationRunsOnlyWhenRequested) {
  const InformationSet s = testing::synthetic_set(1, 0.4);
  {
    Session r;
    const Design d = make_design(1, 1, 3, 1, 1, 300);
    const Evaluation ev = GSDBVRSURV01(d, s, d.spending[0], 1.0, 1.0, r.ctx);
    EXPECT_FALSE(ev.simulation.has_value());
  }
  Session r;
  Design d = make_design(1, 1, 3, 1, 1, 300);
  d.stored.NSIM = 20;
  const Evaluation ev = GSDBVRSURV01(d, s, d.spending[0], 1.0, 1.0, r.ctx);
  ASSERT_TRUE(ev.simulation.has_value());
  EXPECT_GE(ev.simulation->PWD, ev.simulation->PWC);
  EXPECT_NE(r.mem.console.str().find("ASSESSMENT BY SIMULATION"), std::string::npos);
  // Two more empty lines after the simulation.
  EXPECT_EQ(r.mem.main.str(), std::string(10, '\n'));
}

// Calendar looks at 2 and 5 with accrual 4 and follow-up 1: the interim sees half the subjects.
Design accrual_design() {
  Design d = make_design(2, 1, 3, 2, 2, 1800);
  DeckValues& v = d.stored;
  v.HR1 = 0.7;
  v.HR2 = 0.8;
  v.RHO = v.RHOTR = 0.3;
  v.TA = 4.0;
  v.TF = 1.0;
  v.SRVR1 = 0.3;
  v.SRVR2 = 0.4;
  v.TLOOK[0] = 2.0;
  v.TLOOK[1] = 5.0;
  d.read = v;
  return d;
}

// The score at the interim sums over the subjects enrolled by then: its information fraction
// carries the enrolled fraction, and the correlation matrix the power is integrated under is then
// the correlation matrix of the covariances written to the matrix file. Under hazard ratio 1,
// where the null and alternative variances coincide, the two agree to rounding; before the
// enrolled fraction was in the fractions they differed by 0.19 at (EP1@1, EP1@2).
TEST(InterimDuringAccrual, PowerCorrelationIsTheWrittenCovarianceMatrixsCorrelation) {
  const Design d = accrual_design();
  for (double hr1 : {1.0, 0.7}) {
    survival::InformationInput in =
        survival::information_input(trial_model(d, survival::CORRCLYTN(1000, 0.3).theta), d.stored);
    in.model.hazard_ratio = {hr1, hr1 == 1.0 ? 1.0 : 0.8};
    MemoryReports r;
    const survival::detail::AnalysisSet written = survival::detail::CVARGIVTIME(1000, in, r.reports);
    numerics::UniformGenerator gen([] { return 1; });
    const InformationSet set = survival::BVRLGRNK01(in, gen, r.reports);
    EXPECT_NEAR(set.FENR[0], 0.5, 0.002);
    const std::vector<double> R = survival::ZCORR01(2, set.FINF1, set.FINF2, set.CORR12);
    for (int i = 1; i < 4; ++i) {
      for (int j = 0; j < i; ++j) {
        const double want = written.sig(i, j) / std::sqrt(written.sig(i, i) * written.sig(j, j));
        const double got = R[static_cast<size_t>((i - 1) * i / 2 + j)];
        // Under the alternative the null-variance fractions of the power differ slightly from the
        // alternative-variance correlations of the file; the enrolled fraction is in both.
        EXPECT_NEAR(got, want, hr1 == 1.0 ? 1e-12 : 5e-3) << hr1 << " (" << i << "," << j << ")";
      }
    }
  }
}

// A treatment so strong that each endpoint alone needs 4 subjects: the pair (4, 4) is widened
// and the search reaches the target (before, it stopped at 4 subjects with 12% power).
TEST(Engine, TinySingleEndpointSizesStillReachTheTarget) {
  Session r;
  Design d = make_design(1, 1, 3, 1, 1, 0);
  d.stored.HR1 = d.stored.HR2 = 1.0 / 900.0;
  d.stored.RHO = 0.3;
  d.stored.SRVR1 = d.stored.SRVR2 = 0.3;
  d.stored.TLOOK[0] = 5.0;
  const survival::InformationInput in =
      survival::information_input(trial_model(d, survival::CORRCLYTN(1000, 0.3).theta), d.stored);
  MemoryReports mem;
  numerics::UniformGenerator gen([] { return 1; });
  const InformationSet set = survival::BVRLGRNK01(in, gen, mem.reports);
  const Evaluation ev = GSDBVRSURV01(d, set, d.spending[0], 1.0, 1.0, r.ctx);
  EXPECT_EQ(ev.ep1.subjects, 4);
  EXPECT_EQ(ev.ep2.subjects, 4);
  EXPECT_EQ(ev.NL, 4);
  EXPECT_EQ(ev.NU, 14);
  EXPECT_EQ(ev.end, SearchEnd::settled);
  EXPECT_GE(ev.APW, 0.8);
  EXPECT_FALSE(ev.below_target);
}

// The bounds designed for the interim's information fraction spend each endpoint's one-sided
// alpha when integrated at zero drift under the power's correlation of the two looks.
TEST(InterimDuringAccrual, DesignedBoundsSpendAlphaUnderThePowersCorrelation) {
  Session r;
  const Design d = accrual_design();
  const survival::InformationInput in =
      survival::information_input(trial_model(d, survival::CORRCLYTN(1000, 0.3).theta), d.stored);
  MemoryReports mem;
  numerics::UniformGenerator gen([] { return 1; });
  const InformationSet set = survival::BVRLGRNK01(in, gen, mem.reports);
  EXPECT_NEAR(set.FINF1[0], 0.204, 0.002);  // about half of the per-subject fraction 0.41
  const Evaluation ev = GSDBVRSURV01(d, set, d.spending[0], 1.0, 1.0, r.ctx);
  const std::vector<double> R = survival::ZCORR01(2, set.FINF1, set.FINF2, set.CORR12);
  const double r11 = R[0];               // EP1@1, EP1@2
  const double r22 = R[5];               // EP2@1, EP2@2
  const double spent1 = 1.0 - mvn::BVU(-ev.ZB1[0], -ev.ZB1[1], r11);
  const double spent2 = 1.0 - mvn::BVU(-ev.ZB2[0], -ev.ZB2[1], r22);
  EXPECT_NEAR(spent1, 0.025, 1e-5);
  EXPECT_NEAR(spent2, 0.025, 1e-5);
}

}  // namespace
}  // namespace kestrel::samplesize

namespace kestrel::samplesize {
namespace {

TEST(Engine, StagedSearchGivesTheOneStageSizesWithPowersWithinTheAccuracy) {
  // A few designs (rules 1 to 4, K = 2 and 3) searched in one stage at the requested accuracy and
  // in two (coarse steps, the result at the requested accuracy): the same sizes, and powers that
  // differ only by the integration error of the rectangles they add up.
  constexpr double kAccuracy = 1e-7;
  for (int K : {2, 3}) {
    const InformationSet s = testing::synthetic_set(K, 0.4);
    for (int rule = 1; rule <= 4; ++rule) {
      if (K == 3 && rule <= 2) continue;  // kept quick: K = 3 for the rules with fewer rectangles
      Evaluation ev[2];
      std::string main_report[2];
      for (int staged = 0; staged < 2; ++staged) {
        Session r;
        r.mvn.set_accuracy(kAccuracy);
        EngineOptions o;
        o.staged_search = staged == 1;
        const Design d = make_design(K, rule, 3, 1, 2, 0);
        ev[staged] = evaluate_design(d, s, d.spending[0], 1.0, 1.0, r.ctx, o);
        main_report[staged] = r.mem.main.str();
        EXPECT_EQ(r.mvn.accuracy(), kAccuracy);  // given back after the coarse stage
      }
      const double bound = 2 * kAccuracy * std::sqrt(static_cast<double>(rectangles_by_first_crossings(rule, K)));
      EXPECT_EQ(ev[1].MSS, ev[0].MSS) << "rule " << rule << " K " << K;
      EXPECT_EQ(ev[1].ME1, ev[0].ME1);
      EXPECT_EQ(ev[1].ME2, ev[0].ME2);
      EXPECT_NEAR(ev[1].APW, ev[0].APW, bound) << "rule " << rule << " K " << K;
      for (int k = 0; k < K; ++k) EXPECT_NEAR(ev[1].QSTOP[static_cast<size_t>(k)], ev[0].QSTOP[static_cast<size_t>(k)], bound);
      EXPECT_EQ(main_report[1], main_report[0]);
      EXPECT_LE(ev[1].power_evaluations, ev[0].power_evaluations + 2);
    }
  }
}

}  // namespace
}  // namespace kestrel::samplesize
