// Information at calendar times (BVRLGRNK01) and at information fractions (BVRLGRNK02) on the
// run's grid of 1000 intervals, and the shared-kernel evaluation against the cell-by-cell one on
// smaller grids (the cell-by-cell cost grows as K^2 NG^2, so it is measured where it finishes).
#include <benchmark/benchmark.h>

#include <sstream>

#include "../tests/survival/information_reference.h"
#include "common/reports.h"
#include "numerics/uniform_generator.h"
#include "survival/information.h"
#include "survival/information_kernel.h"

namespace {

using namespace kestrel;
using namespace kestrel::survival;

InformationInput bench_design(int K, bool fractions, int cpl = 1, int mode = 2, int flag = 2) {
  InformationInput in;
  in.K = K;
  in.model.copula = cpl;
  in.model.competing_risks = mode;
  in.model.composite = flag;
  in.model.hazard_ratio[0] = 1.0 / 0.7;
  in.model.hazard_ratio[1] = 1.0 / 0.8;
  in.model.copula_parameter = cpl == 1 ? 1.8 : (cpl == 2 ? 0.55 : -5.0);
  in.model.accrual_period = 2.0;
  in.model.follow_up = 1.5;
  in.model.control_survival[0] = 0.45;
  in.model.control_survival[1] = 0.6;
  in.model.treatment_share = 0.5;
  for (int k = 0; k < K; ++k) {
    in.TLOOK[k] = fractions ? (k + 1.0) / K : 3.5 * (k + 1.0) / K;
  }
  return in;
}

void BM_BVRLGRNK01(benchmark::State& st) {
  const InformationInput in = bench_design(static_cast<int>(st.range(0)), false,
                                           static_cast<int>(st.range(1)));
  numerics::UniformGenerator gen([] { return 1; });
  for (auto _ : st) {
    MemoryReports r;
    benchmark::DoNotOptimize(BVRLGRNK01(in, gen, r.reports));
  }
}
BENCHMARK(BM_BVRLGRNK01)
    ->Args({3, 1})
    ->Args({10, 1})
    ->Args({10, 2})
    ->Args({10, 3})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Information fractions (K = 3, Clayton) without and with loss to follow-up (0.05 control, 0.15
// treatment) and a three-piece accrual ramp: the cost the two assumptions add to the information.
void BM_BVRLGRNK02EntryLoss(benchmark::State& st) {
  InformationInput in = bench_design(3, true, 1, static_cast<int>(st.range(1)), 1);
  if (st.range(0) == 1) {
    in.model.entry_loss.dropout = {0.05, 0.15};
    in.model.entry_loss.accrual_end = {0.5, 1.2, 2.0};
    in.model.entry_loss.accrual_intensity = {1.0, 2.0, 4.0};
  }
  numerics::UniformGenerator gen([] { return 1; });
  for (auto _ : st) {
    MemoryReports r;
    benchmark::DoNotOptimize(BVRLGRNK02(in, gen, r.reports));
  }
}
BENCHMARK(BM_BVRLGRNK02EntryLoss)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_BVRLGRNK02(benchmark::State& st) {
  const InformationInput in = bench_design(static_cast<int>(st.range(0)), true,
                                           static_cast<int>(st.range(1)));
  numerics::UniformGenerator gen([] { return 1; });
  for (auto _ : st) {
    MemoryReports r;
    benchmark::DoNotOptimize(BVRLGRNK02(in, gen, r.reports));
  }
}
BENCHMARK(BM_BVRLGRNK02)
    ->Args({3, 1})
    ->Args({10, 1})
    ->Args({10, 2})
    ->Args({10, 3})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Same analyses, same grid: shared kernel against cell by cell.
void BM_CalendarSharedKernel(benchmark::State& st) {
  const int NG = static_cast<int>(st.range(0));
  const InformationInput in = bench_design(3, false);
  for (auto _ : st) {
    MemoryReports r;
    benchmark::DoNotOptimize(detail::CVARGIVTIME(NG, in, r.reports));
  }
}
BENCHMARK(BM_CalendarSharedKernel)->Arg(60)->Arg(120)->Unit(benchmark::kMillisecond);

void BM_CalendarCellByCell(benchmark::State& st) {
  const int NG = static_cast<int>(st.range(0));
  const InformationInput in = bench_design(3, false);
  MemoryReports r;
  const detail::AnalysisSet s = detail::CVARGIVTIME(NG, in, r.reports);
  const detail::InformationModel model(in, NG);
  const testing::ReferenceInformation ref(in, model.X());
  for (auto _ : st) benchmark::DoNotOptimize(ref.set(s.looks));
}
BENCHMARK(BM_CalendarCellByCell)->Arg(60)->Arg(120)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
