// A larger Monte-Carlo check of the information formulas than the test suite runs: per design,
// 10000 simulated trials of 400 subjects analysed with the log-rank test at two calendar times.
// Counters: the largest |empirical - analytic| / standard error over the ten covariances of the
// four scaled scores (max_z), the largest relative difference (max_rel), and the same for the
// cross-analysis covariance of EP1 at the final analysis with EP2 at the first (cross_z).
// Under hazard ratio 1 the analytic values are exact to first order, so max_z should stay near 3;
// under an alternative the first-order variance is a few percent high.
#include <benchmark/benchmark.h>

#include <cmath>

#include "../tests/survival/information_montecarlo.h"
#include "common/reports.h"
#include "survival/information_kernel.h"

namespace {

using namespace kestrel;
using namespace kestrel::survival;

void BM_InformationMonteCarlo(benchmark::State& st) {
  InformationInput in;
  in.K = 2;
  in.model.copula = 1;
  in.model.competing_risks = static_cast<int>(st.range(0));
  in.model.composite = static_cast<int>(st.range(1));
  const bool alternative = st.range(2) != 0;
  in.model.hazard_ratio[0] = alternative ? 1.0 / 0.6 : 1.0;
  in.model.hazard_ratio[1] = alternative ? 1.0 / 0.7 : 1.0;
  in.model.copula_parameter = 3.0;
  in.model.accrual_period = 2.0;
  in.model.follow_up = 1.0;
  in.model.control_survival[0] = 0.35;
  in.model.control_survival[1] = 0.45;
  in.model.treatment_share = 0.5;
  in.TLOOK[0] = 1.2;
  in.TLOOK[1] = 3.0;
  MemoryReports r;
  const detail::AnalysisSet set = detail::CVARGIVTIME(1000, in, r.reports);
  double max_z = 0, max_rel = 0, cross_z = 0;
  for (auto _ : st) {
    const testing::McResult mc =
        testing::simulate_scores(in, set.looks[0].tau, set.looks[1].tau, 400, 10000, 99u);
    for (int i = 0; i < 4; ++i) {
      for (int j = i; j < 4; ++j) {
        const double want = set.sig(i, j);
        max_z = std::max(max_z, std::fabs(mc.cov[i][j] - want) / mc.se[i][j]);
        if (std::fabs(want) > 1e-3)
          max_rel = std::max(max_rel, std::fabs(mc.cov[i][j] / want - 1.0));
      }
    }
    cross_z = (mc.cov[1][2] - set.sig(1, 2)) / mc.se[1][2];
  }
  st.counters["max_z"] = max_z;
  st.counters["max_rel"] = max_rel;
  st.counters["cross_z"] = cross_z;
}
BENCHMARK(BM_InformationMonteCarlo)
    ->ArgNames({"mode", "flag", "alt"})
    ->Args({1, 1, 0})
    ->Args({2, 1, 0})
    ->Args({3, 1, 0})
    ->Args({2, 2, 0})
    ->Args({3, 2, 0})
    ->Args({1, 1, 1})
    ->Args({2, 2, 1})
    ->Args({3, 2, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
