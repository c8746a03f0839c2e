#pragma once
// One design calculated from its values: the copula parameters, the information set(s) and, per
// evaluated set, both endpoints' bounds and single-endpoint designs, the sample-size search and,
// when asked, the simulated power. The deck run is a loop over `calculate_design` plus the summary
// file; `DesignCalculator` runs the same calculation with every report held in memory, for callers
// that want the figures without files (the R package).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/run_context.h"
#include "reports/report_lines.h"
#include "reports/run_record.h"
#include "samplesize/engine.h"
#include "survival/copula_parameter.h"
#include "survival/information.h"

namespace kestrel::driver {

inline constexpr int NGRID = 1000;  // grid of the copula-parameter quadrature

// The calculating entry points the run calls. `standard()` gives the real routines; tests may
// put their own in to follow the run's order without the cost of the calculations.
struct Calculations {
  // THETA for the copula CPL (1 Clayton, 2 positive stable, 3 Frank) and correlation rho.
  std::function<survival::CopulaParameter(int CPL, int N, double rho, std::ostream& main)> copula;
  std::function<InformationSet(const survival::InformationInput&, numerics::UniformGenerator&,
                               Reports&)>
      calendar;
  std::function<survival::InformationSets(const survival::InformationInput&,
                                          numerics::UniformGenerator&, Reports&)>
      fractions;
  std::function<samplesize::Evaluation(const Design&, const InformationSet&,
                                       const std::array<SpendingStatement, 2>&, double, double,
                                       RunContext&)>
      evaluate;
  static Calculations standard();
};

// What persists from one design to the next.
struct RunStore {
  double THETA = 0, THETATR = 0;
  reports::RunResults results;
};

// Called after each evaluated set with its summary-line label ("  EP1", "  EP2", "CALND").
using SetDone = std::function<void(std::string_view label, const InformationSet& set,
                                   const samplesize::Evaluation& evaluation)>;

// Before design `number`: with a seed S, the uniform generator starts at design_seed(S, number)
// (driver/design_selection.h); the lattice-rule generator restarts. Every run, whole or part of
// a deck, does this, so a design's figures are the same whichever designs ran before it.
void start_design(RunContext& ctx, const std::optional<std::int32_t>& seed, int number);

// Calculates one design that passed the deck checks, writing its lines to ctx.reports (input
// summary, information reports, boundary messages, search trace). `into` receives the copula
// parameters and each evaluated set as soon as it is done, so that a terminal error (RunError)
// leaves in it what was finished; `into.complete` is set at the end. `store` carries THETA,
// THETATR and the result fields from one design to the next.
void calculate_design(const Design& design, RunContext& ctx, RunStore& store,
                      reports::DesignRecord& into, const SetDone& done = {},
                      const Calculations& calc = Calculations::standard());

// The problems of one design's values (ranges, orders, spending statements) as the deck check
// finds them, the first one thrown as RunError naming the design, the field, the value and what
// is allowed. Does nothing for a sound design.
void check_design(const Design& design);

// Carries an evaluation's figures into the summary line's fields; without simulation the
// simulated powers keep an earlier design's values (the summary line's rule).
void keep_results(const samplesize::Evaluation& e, reports::RunResults& r);

// The run options of a calculation without files.
struct CalculationOptions {
  std::optional<std::int32_t> seed;    // seed of the uniform generator; the clock's when empty
  std::optional<double> mvn_accuracy;  // accuracy of the normal probabilities instead of 1e-8
  bool exact = false;  // the exact covariance under the alternative and exact bounds (--exact)
  bool under_nulls = false;  // every design also under the nulls (--under-nulls)
  // Receives every console line as it is written (progress, iteration traces); also the place
  // where a caller can stop a long calculation by throwing.
  std::function<void(std::string_view line)> console_line;
};

// A design's results with the report lines it wrote.
struct DesignCalculation {
  reports::DesignRecord record;
  std::string main_report;  // the design's part of the detailed report
  std::string matrix;       // covariance and correlation matrices (calendar analysis times)
  std::vector<std::string> summary_lines;  // the summary file's line of each evaluated set
};

// A run without files: owns the uniform generator, the lattice-rule state and reports held in
// memory. Designs calculated one after the other start as the designs of a deck do
// (start_design: with a seed, each from the seed and its number; without, the clock's stream
// goes on) and share the carried store fields as they do.
class DesignCalculator {
 public:
  explicit DesignCalculator(const CalculationOptions& options = {});
  ~DesignCalculator();
  DesignCalculator(const DesignCalculator&) = delete;
  DesignCalculator& operator=(const DesignCalculator&) = delete;

  // Checks the design (check_design) and calculates it. Terminal errors come back as RunError.
  DesignCalculation calculate(const Design& design);

  // The seed of the uniform generator: the chosen one, or the clock's once a number was drawn.
  std::optional<std::int32_t> seed() const;

 private:
  class LineBuffer;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kestrel::driver
