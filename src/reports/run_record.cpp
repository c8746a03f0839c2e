#include "reports/run_record.h"

#include "reports/results_json.h"

namespace kestrel::reports {

void record_design_start(RunRecord* run, const Design& design) {
  if (run == nullptr) return;
  DesignRecord d;
  d.design = design;
  run->designs.push_back(std::move(d));
}

void record_error(RunRecord& run, const std::exception_ptr& error) {
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    run.error = e.what();
  } catch (...) {
    run.error = "the run stopped on an unknown error";
  }
}

void write_run_record(const RunRecord& run, const std::filesystem::path& dir, std::ostream& notes) {
  const std::string problem = write_run_outputs(run, dir);
  if (!problem.empty()) notes << "kestrel: warning: " << problem << "\n";
}

}  // namespace kestrel::reports
