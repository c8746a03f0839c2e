#pragma once
// The smallest maximum sample size whose power under the decision rule reaches the target, by a
// secant search on integers started from the two single-endpoint sizes; or, when a size is
// given, its power. Then the maximum numbers of events and the expected sample size and numbers
// of events under early stopping. The iteration trace goes to the console.
#include <array>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/design.h"
#include "common/information_set.h"
#include "samplesize/power.h"

namespace kestrel::samplesize {

struct SearchStep {
  int iteration = 0;
  int size = 0;
  double power = 0;
};

// How the secant iteration ended.
enum class SearchEnd {
  given_size,   // MSSG >= 1: one evaluation, no search
  settled,      // the ceiling of the secant estimate repeated the current size
  flat,         // the last two powers were equal, so no secant step exists; the last size is kept
  alternating,  // the ceiling alternated between two sizes; the larger is kept
  step_limit,   // 100 secant steps without settling; the last size is kept
  non_finite,   // the secant estimate was not a number; the last size is kept
};

struct SearchInput {
  int rule = 1;        // heading line for rules 2 to 4 only
  int MSSG = 0;        // given maximum sample size (>= 1: no search)
  double POWER = 0.8;  // targeted power
  int NL = 0, NU = 0;  // bracket from the single-endpoint designs
};

struct SearchResult {
  int MSS = 0;
  double APW = 0;
  int NL = 0, NU = 0;  // the search's last pair of sizes
  std::vector<double> QSTOP;
  std::vector<std::array<double, 2>> QEP;
  std::vector<SearchStep> trace;
  SearchEnd end = SearchEnd::settled;
  bool below_target = false;  // a searched size whose power stays below POWER
  int evaluations = 0;
  long long integrals = 0;
};

inline constexpr int kMaxSecantSteps = 100;

// The starting pair of the search from the single-endpoint sizes: the smaller and the larger;
// equal sizes give the pair (N, integer part of 1.2 N).
struct Bracket {
  int NL = 0, NU = 0;
};
Bracket search_bracket(int N1, int N2);

// A pair that has collapsed to one size (equal sizes of 4 or less) gives no secant step: its
// upper size moves to max(NL + 10, 2 NL).
Bracket widened(Bracket b);

// The warning of a search that ended by a safeguard or below its target, naming the design,
// the information set, how the search ended and the power reached; empty for a search that
// settled at or above the target and for a given size.
std::string search_warning(int design, std::string_view set, const SearchResult& r, double POWER);

using PowerAtSize = std::function<PowerResult(int N)>;

// Steps 1 to 9 of the search: console heading, trace lines, final line.
SearchResult size_search(const SearchInput& in, const PowerAtSize& power, std::ostream& console);

// The powers of a staged search: `coarse` at an accuracy that tells neighbouring sizes apart,
// `full` at the requested accuracy, and `full_again` the same for a size whose evaluation the
// coarse search has already reported (its warnings not written twice).
struct StagedPower {
  PowerAtSize coarse, full, full_again;
  PowerAtSize between;  // optional: an accuracy between the two, for the other size of the last pair
};

// The same search in two stages: the secant iteration at the coarse accuracy until it settles;
// then both sizes of its last pair at the full accuracy, and the iteration goes on from that
// pair at the full accuracy until it settles again (at once when the full powers agree with
// the coarse decision). MSS, APW, QSTOP and QEP come from full-accuracy evaluations only; so do
// the trace lines from the last pair on (the earlier steps show their coarse powers). A given
// size is evaluated once, at the full accuracy.
SearchResult size_search(const SearchInput& in, const StagedPower& power, std::ostream& console);

struct ExpectedInput {
  TrialModel model;  // the trial's model: its events by the end of the study
  int K = 1;
  AnalysisArray FENR{}, FINF1{}, FINF2{};
};

struct ExpectedValues {
  int ME1 = 0, ME2 = 0;       // maximum numbers of events
  double AVE1 = 0, AVE2 = 0;  // expected numbers of events under early stopping
  double ASN = 0;             // expected sample size
};

// Maximum and expected numbers of events at MSS, with the per-analysis and expected console lines.
ExpectedValues expected_values(const ExpectedInput& in, int MSS, const std::vector<double>& QSTOP,
                               const std::vector<std::array<double, 2>>& QEP,
                               std::ostream& console);

// ceiling(MSS x Pev) of an endpoint.
int maximum_events(int MSS, double Pev);

}  // namespace kestrel::samplesize
