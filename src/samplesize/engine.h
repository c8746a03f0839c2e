#pragma once
// Evaluation of one design for one information set: both single-endpoint designs, the bracket,
// the critical-value option, the sample-size search of the decision rule and, when asked, the
// simulated power.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "boundaries/gsdesign.h"
#include "common/design.h"
#include "common/information_set.h"
#include "common/run_context.h"
#include "samplesize/search.h"
#include "simulation/simulated_power.h"

namespace kestrel::samplesize {

struct Evaluation {
  boundaries::GsDesignResult ep1, ep2;     // single-endpoint designs as designed
  std::vector<double> ZA1, ZB1, ZA2, ZB2;  // bounds used after the critical-value option
  // With futility stops (empty without): the futility bounds used, the probability of reaching
  // each analysis and of stopping there for futility (at the final: of ending without success).
  std::vector<double> ZF1, ZF2, REACH, QFUT;
  // The trial at the size found under the alternative, then under the global null (both hazard
  // ratios 1) and, for rules 1 to 3, under the partial nulls (EP1 at 1 and EP2 at its
  // alternative, then the reverse): always with futility stops, with --under-nulls for every
  // design (empty otherwise). The probability of success (the power under the alternative, the
  // type I error spent under a null) with the futility stops in force and without them; per
  // analysis the probability of reaching it, of succeeding there and of stopping there for
  // futility (at the final: of ending without success); the expected sample size, events of each
  // endpoint and calendar time at which the trial stops (for success, for futility or at the
  // final analysis).
  struct NullFigures {
    std::string hypothesis;  // "alternative", "global", "EP1 null", "EP2 null"
    double success = 0, success_without_futility = 0;
    double ASN = 0, AVE1 = 0, AVE2 = 0, duration = 0;
    std::vector<double> REACH, QSTOP, QFUT;
  };
  std::vector<NullFigures> nulls;
  std::vector<double> RCORR;
  int NL = 0, NU = 0;  // the bracket from the single-endpoint sizes
  std::vector<SearchStep> trace;
  int MSS = 0;
  double APW = 0;
  int ME1 = 0, ME2 = 0;
  double AVE1 = 0, AVE2 = 0;
  double ASN = 0;                          // expected sample size
  std::vector<double> QSTOP;               // per analysis
  std::vector<std::array<double, 2>> QEP;  // per analysis: EP1, EP2
  std::optional<simulation::SimulationResult> simulation;
  SearchEnd end = SearchEnd::settled;  // how the sample-size search ended
  bool below_target = false;           // the searched size's power stays below POWER
  int power_evaluations = 0;
  long long integrals = 0;  // rectangle probabilities of all power evaluations
};

// The power problem of a design's information set under model with the bounds of ev (its
// correlations RCORR, efficacy and futility bounds in force).
PowerProblem power_problem(const Design& design, const TrialModel& model, const InformationSet& set,
                           const Evaluation& ev);

// theta, thetatr: copula parameters of the design and of the simulation.
Evaluation GSDBVRSURV01(const Design& design, const InformationSet& set,
                        const std::array<SpendingStatement, 2>& spending, double theta,
                        double thetatr, RunContext& ctx);

// Which power formulation the search uses: first crossings (what the program runs) or the
// enumeration of outcome patterns (the reference, exponential in K).
enum class PowerFormulation { first_crossings, patterns };

struct EngineOptions {
  PowerFormulation formulation = PowerFormulation::first_crossings;
  bool simulate = true;  // false skips the simulated power even when NSIM >= 1
  // The size search in two stages: the secant steps at a coarser accuracy (100 times the
  // requested one, at most 1e-6), the last pair and any further step at the requested accuracy.
  // false: every step at the requested accuracy.
  bool staged_search = true;
};

// The accuracy of the coarse stage of the search for a requested accuracy; 0 when the requested
// one is already that coarse (one stage).
double coarse_search_accuracy(double requested);

// The warning of an evaluation whose search ended by a safeguard or below POWER (empty when none),
// naming the design and the set.
std::string search_warning(int design, std::string_view set, const Evaluation& e, double POWER);

// GSDBVRSURV01 with a choice of power formulation.
Evaluation evaluate_design(const Design& design, const InformationSet& set,
                           const std::array<SpendingStatement, 2>& spending, double theta,
                           double thetatr, RunContext& ctx, const EngineOptions& options);

}  // namespace kestrel::samplesize
