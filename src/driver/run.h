#pragma once
// The run: read and check the whole deck, open the reports, then for each design its calculation
// (copula parameters, information set(s), one evaluation per set) and its summary lines.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/run_context.h"
#include "deck/deck.h"
#include "driver/design_calculation.h"
#include "driver/design_selection.h"
#include "reports/run_record.h"

namespace kestrel::driver {

struct RunOptions {
  std::optional<std::int32_t> seed;  // --seed: replaces the clock seed of the uniform generator
  // --mvn-accuracy: requested accuracy of the multivariate normal probabilities instead of 1e-8
  std::optional<double> mvn_accuracy;
  // --designs LIST or --shard I/N: the designs calculated (all by default), after the whole deck
  // has been read and checked.
  DesignSelection selection;
  // --exact: the exact covariance of the scores under the alternative and exact bounds
  bool exact = false;
  // --under-nulls: every design is also evaluated under the global and partial nulls
  bool under_nulls = false;
  reports::RunRecord* record = nullptr;  // filled for the results file and the HTML report when set
  std::ostream* notes = nullptr;  // warnings that do not stop the run (standard error)
};

// Runs the designs of a deck that passed the checks, writing to the run's reports.
void run_deck(const deck::Deck& deck, RunContext& ctx, const RunOptions& options,
              const Calculations& calc = Calculations::standard());

// A deck that fails its checks (or cannot be opened): nothing was written.
class DeckRejected : public std::runtime_error {
 public:
  explicit DeckRejected(std::vector<std::string> problems);
  const std::vector<std::string>& problems() const { return problems_; }

 private:
  std::vector<std::string> problems_;
};

// A selection of designs that the deck does not have (--designs 14 of a 12-design deck):
// nothing was written.
class SelectionRejected : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kDeckPath = "a/input.txt";
inline constexpr const char* kMainReportPath = "a/TEST_7a.OUT";
inline constexpr const char* kSummaryPath = "a/TEST_7b.OUT";
inline constexpr const char* kMatrixPath = "a/CORR_MAT_given_TIME.TXT";
inline constexpr const char* kUnit60Path = "fort.60";
inline constexpr const char* kResultsPath = "a/kestrel-results.json";
inline constexpr const char* kHtmlReportPath = "a/kestrel-report.html";

// The whole run in directory `dir`: reads and checks dir/a/input.txt (throws DeckRejected, before
// any file is written), creates the reports, runs every design. Terminal calculation errors
// propagate as RunError after every report has been flushed and closed. `notes` receives
// remarks that do not stop the run (a last record cut short by the end of the deck).
void run_directory(const std::filesystem::path& dir, const RunOptions& options,
                   std::ostream& console, std::ostream& notes,
                   const Calculations& calc = Calculations::standard());

// The deck's problems as messages, or none.
std::vector<std::string> deck_problems(const deck::Deck& deck);

}  // namespace kestrel::driver
