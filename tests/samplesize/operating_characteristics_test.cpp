// The trial under the alternative and the nulls: the events each endpoint has under its null at
// an analysis against a brute-force integral over the entry times, and a one-analysis design,
// whose figures are those of the fixed design (the type I error under the global null the
// bivariate normal orthant above the two critical values with the correlation of the two
// statistics under that null, nothing stopping early).
#include "samplesize/operating_characteristics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "samplesize/synthetic.h"
#include "survival/copula_parameter.h"
#include "survival/information.h"

namespace kestrel::samplesize {
namespace {

// Expected events by calendar time tau when both arms have the control hazard: the integral over
// the entry density of the probability of an observed event (loss to follow-up competing).
double brute_force_events(const Design& d, int e, double tau) {
  const DeckValues& v = d.stored;
  const EntryAndLoss& el = d.entry_loss;
  const double lc = -std::log(e == 0 ? v.SRVR1 : v.SRVR2) / (v.TA + v.TF);
  std::vector<double> ends = el.accrual_end, w = el.accrual_intensity;
  if (ends.empty()) ends = {v.TA}, w = {1.0};
  double total = 0;
  for (size_t p = 0; p < ends.size(); ++p) total += w[p] * (ends[p] - (p ? ends[p - 1] : 0.0));
  double sum = 0;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const double u = (i + 0.5) * v.TA / n;
    size_t p = 0;
    while (u > ends[p]) ++p;
    if (u >= tau) continue;
    double pev = 0;
    for (int arm = 0; arm < 2; ++arm) {
      const double h = lc + el.dropout[static_cast<size_t>(arm)];
      pev += (arm == 0 ? 1 - v.SR : v.SR) * lc / h * (1 - std::exp(-h * (tau - u)));
    }
    sum += w[p] / total * pev * v.TA / n;
  }
  return sum;
}

Design plain_design() {
  Design d;
  DeckValues& v = d.stored;
  v.TA = 2.0, v.TF = 3.0, v.SRVR1 = 0.4, v.SRVR2 = 0.55, v.SR = 0.5;
  v.HR1 = v.HR1TR = 0.7, v.HR2 = v.HR2TR = 0.75, v.RHO = v.RHOTR = 0.4;
  v.CPL = v.CPRSK = v.CMPST = v.CNSRD = 1;
  v.TYPE1 = 0.025, v.POWER = 0.8, v.DF = 1, v.LOOK = 1, v.CRIVL = 3, v.ESF1 = v.ESF2 = 1;
  v.ITIME = 3;
  d.read = v;
  SpendingStatement s;
  s.deck_code = 1;
  d.spending = {{s, s}};
  return d;
}

TEST(OperatingCharacteristics, NullEventsAgainstABruteForceIntegral) {
  struct Case {
    double drop0, drop1;
    std::vector<double> ends, intensity;
  } cases[] = {{0, 0, {}, {}}, {0.1, 0.05, {}, {}}, {0, 0, {0.5, 1.2, 2.0}, {1, 2, 4}},
               {0.02, 0.2, {1.0, 2.0}, {1, 3}}};
  for (const Case& c : cases) {
    Design d = plain_design();
    d.entry_loss.dropout = {c.drop0, c.drop1};
    d.entry_loss.accrual_end = c.ends;
    d.entry_loss.accrual_intensity = c.intensity;
    InformationSet set;
    set.K = 4;
    set.TCAL = {0.7, 2.0, 3.1, 5.0};  // during accrual, at its end, after it, at the end
    for (int e = 0; e < 2; ++e) {
      const std::vector<double> got = null_events(d, set, 1000, e);
      for (int k = 0; k < set.K; ++k)
        EXPECT_NEAR(got[k], 1000 * brute_force_events(d, e, set.TCAL[k]), 1e-3)
            << "dropout " << c.drop0 << " pieces " << c.ends.size() << " EP" << e + 1 << " k " << k;
    }
  }
}

TEST(OperatingCharacteristics, OneAnalysisGivesTheFixedDesign) {
  const InformationSet s = testing::synthetic_set(1, 0.4);
  for (int rule : {1, 4}) {
    MemoryReports mem;
    numerics::UniformGenerator gen{[] { return 20261208; }};
    mvn::MvnState mvn;
    RunContext ctx{mem.reports, gen, mvn};
    ctx.under_nulls = true;
    Design d = plain_design();
    d.stored.DF = rule;
    const double theta = survival::CORRCLYTN(1000, d.stored.RHO).theta;
    const Evaluation ev = GSDBVRSURV01(d, s, d.spending[0], theta, theta, ctx);
    ASSERT_EQ(ev.nulls.size(), rule == 4 ? 2u : 4u);
    const std::vector<double> null1 = null_events(d, s, ev.MSS, 0);
    const std::vector<double> null2 = null_events(d, s, ev.MSS, 1);
    for (const Evaluation::NullFigures& f : ev.nulls) {
      SCOPED_TRACE(f.hypothesis);
      const bool alt = f.hypothesis == "alternative";
      EXPECT_EQ(f.REACH, std::vector<double>{1.0});
      EXPECT_NEAR(f.QFUT[0], 1.0 - f.success, 1e-15);
      EXPECT_EQ(f.success, f.success_without_futility);
      EXPECT_DOUBLE_EQ(f.ASN, ev.MSS);
      EXPECT_DOUBLE_EQ(f.duration, d.stored.TA + d.stored.TF);
      EXPECT_DOUBLE_EQ(f.AVE1, alt || f.hypothesis == "EP2 null" ? ev.ME1 : null1[0]);
      EXPECT_DOUBLE_EQ(f.AVE2, alt || f.hypothesis == "EP1 null" ? ev.ME2 : null2[0]);
      if (alt) EXPECT_EQ(f.success, ev.APW);
      else EXPECT_LE(f.success, d.stored.TYPE1 + 1e-9);
    }
    // Global null: both statistics above their critical values (rule 1: z(0.975) each; rule 4:
    // EP2 at the fixed-sample level too), correlated as the survival model says at the analysis
    // time when both hazard ratios are 1.
    survival::InformationInput in = survival::information_input(trial_model(d, theta), d.stored);
    in.model.hazard_ratio = {1.0, 1.0};
    in.TLOOK[0] = s.TCAL[0];
    MemoryReports sink;
    const double r = survival::BVRLGRNK01(in, gen, sink.reports).CORR12[0][0];
    EXPECT_GT(r, 0.1);
    const double c = 1.959963984540054;
    double orthant = 0;
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
      const double x = c + (i + 0.5) * 10.0 / n;
      orthant += std::exp(-x * x / 2) / std::sqrt(2 * M_PI) *
                 0.5 * std::erfc((c - r * x) / std::sqrt(2 * (1 - r * r))) * 10.0 / n;
    }
    EXPECT_NEAR(ev.nulls[1].success, orthant, 1e-7) << "rule " << rule;
    // The block on the console: one line per hypothesis and one per hypothesis and analysis.
    EXPECT_NE(mem.console.str().find("  alternative     1    1.000000"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrel::samplesize
