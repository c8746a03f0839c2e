// Cost of one simulated trial (data and both log-rank tests) and of a whole simulated power
// assessment, with the time split between data generation, log-rank tests and final critical
// values. The whole assessment (10 000 trials, K = 3, 1 000 subjects) runs once per thread count
// (it takes seconds); its figures are the same for every thread count.
#include <benchmark/benchmark.h>

#include <cmath>
#include <sstream>

#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "simulation/simdata.h"
#include "simulation/simulated_power.h"

namespace {

using namespace kestrel;

simulation::TrialSettings trial(int family) {
  simulation::TrialSettings in;
  in.N = 1000;
  in.HR1 = 0.75;
  in.HR2 = 0.8;
  in.family = family;
  in.theta = family == 1 ? 1.0 : (family == 2 ? 0.6 : -4.0);
  in.a = 2;
  in.s = 1;
  in.lambda1 = -std::log(0.4) / 3;
  in.lambda2 = -std::log(0.5) / 3;
  return in;
}

void BM_Simdata(benchmark::State& state) {
  const simulation::TrialSettings in = trial(static_cast<int>(state.range(0)));
  numerics::UniformGenerator gen([] { return 1; });
  gen.RANDOPT(5);
  gen.SETSEED(20261207);
  simulation::TrialWork work;
  std::ostringstream console, report;
  simulation::SimulationProfile profile;
  for (auto _ : state) {
    benchmark::DoNotOptimize(simulation::SIMDATA(in, gen, console, report, work, &profile));
  }
  state.counters["generation_us"] = 1e6 * profile.generation / state.iterations();
  state.counters["logrank_us"] = 1e6 * profile.logrank / state.iterations();
}
// Family 1 Clayton, 2 positive stable, 3 Frank.
BENCHMARK(BM_Simdata)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMicrosecond);

// Arguments: the number of trials and the number of threads.
void BM_WholeSimulation(benchmark::State& state) {
  const int nrep = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  simulation::SimulationProfile profile;
  for (auto _ : state) {
    simulation::SimulationInput in;
    in.NREP = nrep;
    in.truth.copula = 1;
    in.truth.copula_parameter = 1.0;
    in.truth.hazard_ratio[0] = 0.75;
    in.truth.hazard_ratio[1] = 0.8;
    in.N = 1000;
    in.truth.control_survival[0] = 0.4;
    in.truth.control_survival[1] = 0.5;
    in.truth.accrual_period = 2;
    in.truth.follow_up = 1;
    in.K = 3;
    in.t = {2.0, 2.5, 3.0};
    in.u = {1.0, 1.0, 1.0};
    in.v = {0.6, 0.8, 1.0};
    in.w = {0.6, 0.8, 1.0};
    in.c1 = {3.471, 2.454, 2.004};
    in.c2 = {3.471, 2.454, 2.004};
    in.J1 = {0.06, 0.09, 0.12};
    in.J2 = {0.05, 0.075, 0.1};
    in.final_adjust = true;
    in.print = false;
    numerics::UniformGenerator gen([] { return 1; });
    gen.RANDOPT(5);
    gen.SETSEED(20261207);
    mvn::MvnState mvn;
    mvn.set_threads(threads);
    std::ostringstream console, report;
    const simulation::SimulationResult r =
        simulation::GSDSIMDF(DecisionRule::any_interims, in, gen, mvn, console, report, &profile);
    benchmark::DoNotOptimize(r);
    state.counters["PW1"] = r.PW1;
    state.counters["PWC"] = r.PWC;
  }
  state.counters["generation_s"] = profile.generation / state.iterations();
  state.counters["logrank_s"] = profile.logrank / state.iterations();
  state.counters["final_cv_s"] = profile.final_critical_values / state.iterations();
}
BENCHMARK(BM_WholeSimulation)
    ->Args({10000, 1})
    ->Args({10000, 2})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
