// The results file and the HTML report of a run: building the text of each, and writing both
// files. Target: a run of ten designs with two evaluated sets of ten analyses each written in well
// under 10 ms (a run of the example decks takes seconds).
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "reports/html_report.h"
#include "reports/results_json.h"

namespace {

using namespace kestrel;
using namespace kestrel::reports;

boundaries::GsDesignResult endpoint(int K) {
  boundaries::GsDesignResult r;
  r.code_used = 1;
  for (int k = 1; k <= K; ++k) {
    const double t = static_cast<double>(k) / K;
    r.zb.push_back(1.959963984540054 / std::sqrt(t));
    r.za.push_back(-8.0);
    r.pd.push_back(0.0025 / 3.0);
    r.pe.push_back(0.025 * t);
    r.nominal_upper.push_back(0.5 * std::erfc(r.zb.back() / std::sqrt(2.0)));
    r.nominal_lower.push_back(0.0);
    r.qpos.push_back(0.08 + 0.001 * k);
    r.qneg.push_back(0.0);
  }
  r.drift = 2.9;
  r.events = 300;
  r.expected_events = 250.0 / 3.0;
  r.subjects = 500;
  r.pev = 0.6;
  return r;
}

reports::RunRecord run_of(int designs, int K) {
  reports::RunRecord run;
  run.version = "bench";
  run.seed = 12345;
  for (int d = 1; d <= designs; ++d) {
    reports::DesignRecord dr;
    dr.design.number = d;
    dr.design.read.LOOK = dr.design.stored.LOOK = K;
    dr.complete = true;
    for (const char* label : {"EP1", "EP2"}) {
      reports::EvaluatedSet s;
      s.label = label;
      s.information.K = K;
      for (int k = 0; k < K; ++k) {
        s.information.TCAL[k] = 1 + k / 3.0;
        s.information.FENR[k] = s.information.FINF1[k] = s.information.FINF2[k] = (k + 1.0) / K;
      }
      s.evaluation.ep1 = endpoint(K);
      s.evaluation.ep2 = endpoint(K);
      s.evaluation.ZA1 = s.evaluation.ZA2 = s.evaluation.ep1.za;
      s.evaluation.ZB1 = s.evaluation.ZB2 = s.evaluation.ep1.zb;
      for (int i = 0; i < 6; ++i) s.evaluation.trace.push_back({i, 500 + i, 0.8 + i / 1000.0});
      for (int k = 0; k < K; ++k) {
        s.evaluation.QSTOP.push_back(0.08);
        s.evaluation.QEP.push_back({0.09, 0.085});
      }
      dr.sets.push_back(s);
    }
    run.designs.push_back(dr);
  }
  return run;
}

void BM_ResultsJson(benchmark::State& state) {
  const reports::RunRecord run = run_of(static_cast<int>(state.range(0)), 10);
  for (auto _ : state) {
    std::string s = reports::results_json(run);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_ResultsJson)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond);

void BM_HtmlReport(benchmark::State& state) {
  const reports::RunRecord run = run_of(static_cast<int>(state.range(0)), 10);
  for (auto _ : state) {
    std::string s = reports::html_report(run);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_HtmlReport)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond);

void BM_WriteBothFiles(benchmark::State& state) {
  const reports::RunRecord run = run_of(static_cast<int>(state.range(0)), 10);
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestrel-report-files-bench";
  std::filesystem::create_directories(dir);
  for (auto _ : state) {
    std::string problem = reports::write_run_outputs(run, dir);
    benchmark::DoNotOptimize(problem.data());
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WriteBothFiles)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
