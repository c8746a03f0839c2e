#pragma once
// Reads a results file "kestrel-results.json" back into the record the run wrote it from, so
// that results_json() of what was read gives the file again byte for byte (every real reads
// back to its double; a text byte that the writer escaped as \u0080..\u00ff becomes that byte
// again). Used by the merge of runs of parts of a deck.
#include <stdexcept>
#include <string>
#include <string_view>

#include "reports/run_record.h"

namespace kestrel::reports {

// A text that is not JSON, or not a results file of a format this program reads: the message
// names the place (offset or key path) and what was expected there.
class ResultsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

RunRecord read_results_json(std::string_view text);

}  // namespace kestrel::reports
