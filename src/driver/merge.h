#pragma once
// `kestrel merge DIR...`: the results files of runs of parts of one deck (--designs, --shard),
// each run in its own directory, put together into the results file, the HTML report and the
// summary table a/TEST_7b.OUT that one run of the whole deck writes.
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "reports/run_record.h"

namespace kestrel::driver {

// Shards that do not make one deck's run (another deck, version or options, a design missing
// or given twice, a run that stopped, a file that is not a results file): nothing is written.
class MergeRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The run of the whole deck from its parts, each named (its directory) for messages, designs in
// deck order. Throws MergeRefused.
reports::RunRecord merge_runs(
    const std::vector<std::pair<std::string, reports::RunRecord>>& shards);

// The summary table a/TEST_7b.OUT of a run: the column header, then one line per evaluated set
// in deck order, the simulated powers of a set without simulation carried from the last set
// that simulated, as the run loop carries them.
std::string summary_table(const reports::RunRecord& run);

// The command: reads DIR/a/kestrel-results.json of every DIR, writes a/kestrel-results.json,
// a/kestrel-report.html and a/TEST_7b.OUT below `out`. Returns the exit status: 0 written,
// 2 bad arguments or shards refused (message on `err`, nothing written), 1 a file that could
// not be written.
int merge_command(const std::vector<std::string>& args, const std::filesystem::path& out,
                  std::ostream& err);

}  // namespace kestrel::driver
