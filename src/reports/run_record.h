#pragma once
// What a run computed, kept for the machine-readable results file and the HTML report that are
// written beside the fixed-column reports. The run loop fills it as designs finish; on a terminal
// error it holds what was finished and the message.
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/design.h"
#include "common/information_set.h"
#include "samplesize/engine.h"

namespace kestrel::reports {

// One evaluated information set of a design.
struct EvaluatedSet {
  std::string label;  // "EP1" (EP1-driven times), "EP2" (EP2-driven times) or "CALND" (calendar)
  InformationSet information;
  samplesize::Evaluation evaluation;
  std::string warning;  // how the sample-size search ended, when by a safeguard or below target
};

struct DesignRecord {
  Design design;         // values as read and as stored, spending statements
  double THETA = 0;      // copula parameter of the design
  double THETATR = 0;    // copula parameter of the simulation
  std::vector<EvaluatedSet> sets;  // in evaluation order
  bool complete = false;  // false while the design is running (or when an error stopped it)
  // Fields whose value did not fit its report column and was written in full ("APW", "TA").
  std::vector<std::string> overflowed;
  // Calendar times of the information table that fill their six columns (100 to 999.99) and so
  // touch the analysis number before them, as "analysis 1 at 500.13".
  std::vector<std::string> filled;
};

struct RunRecord {
  std::string version;
  // Seed of the process-wide uniform generator when it was first used (from the wall clock
  // unless chosen); empty when the run never drew a random number.
  std::optional<std::int32_t> seed;
  double mvn_accuracy = 1e-8;  // requested accuracy of the multivariate normal probabilities
  // What a merge of shard runs checks: the seed given by --seed (empty for the clock's), the
  // SHA-256 of the deck's bytes, the number of designs in the deck, and the part of the deck
  // the run calculated ("designs 2,5-7", "shard 1/3"; empty for the whole deck).
  std::optional<std::int32_t> seed_given;
  std::string deck_sha256;
  int designs_in_deck = 0;
  std::string selection;
  bool exact = false;  // --exact: exact covariance under the alternative and exact bounds
  bool under_nulls = false;  // --under-nulls: every design also under the nulls
  DeckHeader header;
  std::vector<DesignRecord> designs;  // deck order
  std::optional<std::string> error;   // message of the terminal error that stopped the run
};

// Starts the record of a design (does nothing when `run` is null); the design's calculation
// then fills it.
void record_design_start(RunRecord* run, const Design& design);

// Keeps the message of the exception that stopped the run.
void record_error(RunRecord& run, const std::exception_ptr& error);

// Writes "kestrel-results.json" and "kestrel-report.html" into `dir`; a file that cannot be
// written is noted on `notes` and does not stop anything.
void write_run_record(const RunRecord& run, const std::filesystem::path& dir, std::ostream& notes);

}  // namespace kestrel::reports
