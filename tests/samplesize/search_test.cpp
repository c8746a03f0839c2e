// The secant search on integer sizes, its safeguards, and the expected values. The power is a
// scripted function of the size here, so every step can be checked by hand.
#include "samplesize/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::samplesize {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream is(text);
  for (std::string l; std::getline(is, l);) out.push_back(l);
  return out;
}

// A power function that records the sizes it was asked for.
struct Scripted {
  explicit Scripted(std::function<double(int)> power) : p(std::move(power)) {}
  std::function<double(int)> p;
  std::vector<int> calls;
  PowerAtSize fn(int K = 2) {
    return [this, K](int N) {
      calls.push_back(N);
      PowerResult r;
      r.power = p(N);
      r.QSTOP.assign(static_cast<size_t>(K), 0.0);
      r.QEP.assign(static_cast<size_t>(K), {0.0, 0.0});
      r.QSTOP.back() = r.power;  // marks which evaluation the result came from
      r.integrals = 1;
      return r;
    };
  }
};

TEST(SizeSearch, GivenSizeEvaluatesOnlyThatSize) {
  Scripted s{[](int) { return 0.5; }};
  std::ostringstream console;
  SearchInput in{1, 300, 0.8, 480, 520};
  SearchResult r = size_search(in, s.fn(), console);
  EXPECT_EQ(s.calls, std::vector<int>{300});
  EXPECT_EQ(r.MSS, 300);
  EXPECT_DOUBLE_EQ(r.APW, 0.5);
  EXPECT_EQ(r.end, SearchEnd::given_size);
  const std::vector<std::string> want = {
      "", " ITERATION STARTS", "", "     0     300       50.00", " FINAL     300       50.00", ""};
  EXPECT_EQ(lines_of(console.str()), want);
}

TEST(SizeSearch, HeadingLineOnlyForRulesTwoToFour) {
  for (int rule : {1, 2, 3, 4, 7}) {
    Scripted s{[](int) { return 0.875; }};
    std::ostringstream console;
    size_search(SearchInput{rule, 400, 0.8, 1, 2}, s.fn(), console);
    const auto lines = lines_of(console.str());
    const bool heading = rule >= 2 && rule <= 4;
    ASSERT_EQ(lines.size(), heading ? 7u : 6u) << rule;
    if (heading) EXPECT_EQ(lines[3], "  ITER     MSS       POWER");
    EXPECT_EQ(lines[heading ? 4 : 3], "     0     400       87.50");
  }
}

TEST(SizeSearch, SecantStepFromTheBracketThenSettles) {
  // Powers 0.5 at 480 and 1.0 at 520 with target 0.75: the secant gives exactly 500, whose power
  // is the target; the next estimate repeats 500 and the search ends there.
  Scripted s{[](int N) { return 0.5 + (N - 480) / 80.0; }};
  std::ostringstream console;
  SearchResult r = size_search(SearchInput{1, 0, 0.75, 480, 520}, s.fn(), console);
  EXPECT_EQ(s.calls, (std::vector<int>{480, 520, 500}));
  EXPECT_EQ(r.MSS, 500);
  EXPECT_DOUBLE_EQ(r.APW, 0.75);
  EXPECT_EQ(r.end, SearchEnd::settled);
  ASSERT_EQ(r.trace.size(), 3u);
  EXPECT_EQ(r.trace[2].iteration, 1);
  const std::vector<std::string> want = {"",
                                         " ITERATION STARTS",
                                         "",
                                         "     0     480       50.00",
                                         "     0     520      100.00",
                                         "     1     500       75.00",
                                         " FINAL     500       75.00",
                                         ""};
  EXPECT_EQ(lines_of(console.str()), want);
  // The arrays are those of the last evaluation, at the result.
  EXPECT_DOUBLE_EQ(r.QSTOP.back(), 0.75);
}

TEST(SizeSearch, FractionalEstimateMovesUpToTheCeiling) {
  // p(N) = (N - 400)/10, target 0.25: from 400 and 410 the estimate is 402.5, evaluated as 403;
  // the next estimate from 410 and 403 is 402.5 again, whose ceiling repeats 403.
  Scripted s{[](int N) { return (N - 400) / 10.0; }};
  std::ostringstream console;
  SearchResult r = size_search(SearchInput{3, 0, 0.25, 400, 410}, s.fn(), console);
  EXPECT_EQ(s.calls, (std::vector<int>{400, 410, 403}));
  EXPECT_EQ(r.MSS, 403);
  EXPECT_NEAR(r.APW, 0.3, 1e-15);
  EXPECT_EQ(r.end, SearchEnd::settled);
}

TEST(SizeSearch, EstimateAtOrBelowZeroTriesFiftySubjects) {
  // Powers 0.875 at 100 and 0.9375 at 200 with target 0.75 extrapolate to -100.
  Scripted s{[](int N) { return N <= 50 ? 0.75 : (N == 100 ? 0.875 : 0.9375); }};
  std::ostringstream console;
  SearchResult r = size_search(SearchInput{1, 0, 0.75, 100, 200}, s.fn(), console);
  ASSERT_GE(s.calls.size(), 3u);
  EXPECT_EQ(s.calls[2], 50);
  EXPECT_EQ(r.MSS, 50);
}

TEST(SizeSearch, EqualPowersStopAtTheLastSize) {
  Scripted s{[](int) { return 1.0; }};
  std::ostringstream console;
  SearchResult r = size_search(SearchInput{1, 0, 0.8, 500, 600}, s.fn(), console);
  EXPECT_EQ(s.calls, (std::vector<int>{500, 600}));
  EXPECT_EQ(r.MSS, 600);
  EXPECT_EQ(r.end, SearchEnd::flat);
}

TEST(SizeSearch, AlternatingCeilingKeepsTheLargerSize) {
  // Integration noise: 500 evaluates to 0.805 the first time and 0.795 the second. From
  // (500, 501) the estimate is 499.5 -> 500; from (501, 500) it is 500.25 -> 501; the sizes would
  // alternate between 500 and 501, so 501 is kept with its evaluation.
  std::map<int, std::vector<double>> values = {{500, {0.805, 0.795}}, {501, {0.815}}};
  std::map<int, int> seen;
  Scripted s{[&](int N) { return values.at(N).at(static_cast<size_t>(seen[N]++)); }};
  std::ostringstream console;
  SearchResult r = size_search(SearchInput{1, 0, 0.8, 500, 501}, s.fn(), console);
  EXPECT_EQ(s.calls, (std::vector<int>{500, 501, 500}));
  EXPECT_EQ(r.MSS, 501);
  EXPECT_DOUBLE_EQ(r.APW, 0.815);
  EXPECT_DOUBLE_EQ(r.QSTOP.back(), 0.815);
  EXPECT_EQ(r.end, SearchEnd::alternating);
}

TEST(SizeSearch, ReturnToThePreviousSizeStillSettlesAsWritten) {
  // A deterministic power whose estimate from (500, 501) falls back to 500: 500 is evaluated
  // again, the estimate from (501, 500) repeats 500, and the search settles there.
  Scripted s{[](int N) { return N == 500 ? 0.805 : 0.815; }};
  std::ostringstream console;
  SearchResult r = size_search(SearchInput{1, 0, 0.8, 500, 501}, s.fn(), console);
  EXPECT_EQ(s.calls, (std::vector<int>{500, 501, 500}));
  EXPECT_EQ(r.MSS, 500);
  EXPECT_EQ(r.end, SearchEnd::settled);
}

TEST(SizeSearch, StopsAfterOneHundredSecantSteps) {
  // The distance to the target halves at each new size one subject further on, so every secant
  // estimate is the next integer and the search never settles by itself. The target is 0 so
  // the halving stays exact in double precision for all hundred steps.
  Scripted s{[](int N) { return -std::ldexp(1.0, -(N - 1000)); }};
  std::ostringstream console;
  SearchResult r = size_search(SearchInput{1, 0, 0.0, 1000, 1001}, s.fn(), console);
  EXPECT_EQ(r.end, SearchEnd::step_limit);
  EXPECT_EQ(r.evaluations, 2 + kMaxSecantSteps);
  EXPECT_EQ(r.trace.back().iteration, kMaxSecantSteps);
  EXPECT_EQ(r.MSS, 1001 + kMaxSecantSteps);
  EXPECT_EQ(r.MSS, s.calls.back());
}

// Equal single-endpoint sizes of 4 or less give a pair (N, N) from which no secant step can
// move; it is widened to (N, max(N + 10, 2 N)) and the search reaches the target.
TEST(SizeSearch, CollapsedBracketIsWidenedAndReachesTheTarget) {
  Scripted s{[](int N) { return std::min(1.0, N / 16.0); }};
  std::ostringstream console;
  const Bracket b = search_bracket(4, 4);
  ASSERT_EQ(b.NU, 4);
  EXPECT_EQ(widened(b).NU, 14);
  EXPECT_EQ(widened({30, 30}).NU, 60);
  EXPECT_EQ(widened({480, 520}).NU, 520);  // a proper pair is left alone
  SearchResult r = size_search(SearchInput{1, 0, 0.75, b.NL, b.NU}, s.fn(), console);
  EXPECT_EQ(s.calls, (std::vector<int>{4, 14, 12}));
  EXPECT_EQ(r.MSS, 12);
  EXPECT_DOUBLE_EQ(r.APW, 0.75);
  EXPECT_EQ(r.end, SearchEnd::settled);
  EXPECT_FALSE(r.below_target);
  EXPECT_EQ(search_warning(3, "CALND", r, 0.75), "");
}

// Every ending other than a search that settles at or above its target gives a warning naming
// the design, the set, the ending and the power reached.
TEST(SizeSearch, EndingsBySafeguardOrBelowTheTargetAreNamedInAWarning) {
  struct Case {
    std::function<double(int)> p;
    int NL, NU;
    double target;
    SearchEnd end;
    const char* how;
  };
  std::map<int, int> seen;
  const std::vector<Case> cases = {
      {[](int) { return 0.5; }, 500, 600, 0.8, SearchEnd::flat, "the last two powers were equal"},
      {[&](int N) { return N == 501 ? 0.815 : (seen[N]++ == 0 ? 0.805 : 0.795); }, 500, 501, 0.8,
       SearchEnd::alternating, "alternated between two sizes"},
      {[](int N) { return -std::ldexp(1.0, -(N - 1000)); }, 1000, 1001, 0.0, SearchEnd::step_limit,
       "did not settle within its step limit"},
      {[](int N) { return N == 600 ? std::nan("") : 0.5; }, 500, 600, 0.8, SearchEnd::non_finite,
       "secant estimate that is not a number"},
      // Integration noise: 0.805 at 500 and 0.795 at 501 put the root at 500.5, whose ceiling
      // repeats 501: settled, but below the target.
      {[](int N) { return N == 500 ? 0.805 : 0.795; }, 500, 501, 0.8, SearchEnd::settled,
       "settled"},
  };
  for (const Case& c : cases) {
    Scripted s{c.p};
    std::ostringstream console;
    const SearchResult r = size_search(SearchInput{1, 0, c.target, c.NL, c.NU}, s.fn(), console);
    EXPECT_EQ(r.end, c.end) << c.how;
    const std::string w = search_warning(2, "  EP1", r, c.target);
    EXPECT_EQ(w.rfind("WARNING: design 2, set EP1: the sample-size search ", 0), 0u) << w;
    EXPECT_NE(w.find(c.how), std::string::npos) << w;
    EXPECT_NE(w.find("MSS = " + std::to_string(r.MSS)), std::string::npos) << w;
    if (c.end == SearchEnd::settled) {
      EXPECT_TRUE(r.below_target);
      EXPECT_NE(w.find("power reached 79.50% against the target 80.00% (below the target)"),
                std::string::npos)
          << w;
    }
  }
  // A given size has no target to reach.
  Scripted s{[](int) { return 0.1; }};
  std::ostringstream console;
  const SearchResult given = size_search(SearchInput{1, 300, 0.8, 1, 2}, s.fn(), console);
  EXPECT_FALSE(given.below_target);
  EXPECT_EQ(search_warning(1, "CALND", given, 0.8), "");
}

TEST(SearchBracket, SmallerAndLargerSingleEndpointSizes) {
  EXPECT_EQ(search_bracket(500, 500).NL, 500);
  EXPECT_EQ(search_bracket(500, 500).NU, 600);
  EXPECT_EQ(search_bracket(480, 520).NL, 480);
  EXPECT_EQ(search_bracket(480, 520).NU, 520);
  EXPECT_EQ(search_bracket(520, 480).NL, 480);
  EXPECT_EQ(search_bracket(520, 480).NU, 520);
  EXPECT_EQ(search_bracket(7, 7).NU, 8);  // integer part of 8.4
  for (int n = 1; n <= 5000; ++n) {
    ASSERT_EQ(search_bracket(n, n).NU, (12 * n) / 10) << n;
  }
}

TEST(MaximumEvents, CeilingOfSizeTimesEventProbability) {
  EXPECT_EQ(maximum_events(500, 0.6001), 301);
  EXPECT_EQ(maximum_events(500, 0.6), 300);
  EXPECT_EQ(maximum_events(1, 1e-9), 1);
}

TEST(ExpectedValues, StoppingProbabilitiesWeightTheAnalyses) {
  // Two analyses at half and full information; success at analysis 1 with probability 0.25,
  // at analysis 2 with 0.5; EP1 first rejected at 1 with 0.5, EP2 at 1 with 0.25 and at 2 0.25.
  ExpectedInput in;
  in.K = 2;
  in.model.hazard_ratio[0] = 0.7;
  in.model.hazard_ratio[1] = 0.8;
  in.model.control_survival[0] = 0.4;
  in.model.control_survival[1] = 0.6;
  in.model.treatment_share = 0.5;
  in.model.accrual_period = 2;
  in.model.follow_up = 3;
  in.FENR = {0.75, 1.0};
  in.FINF1 = {0.5, 1.0};
  in.FINF2 = {0.5, 1.0};
  std::vector<double> QSTOP = {0.25, 0.5};
  std::vector<std::array<double, 2>> QEP = {{0.5, 0.25}, {0.25, 0.25}};
  std::ostringstream console;
  ExpectedValues e = expected_values(in, 400, QSTOP, QEP, console);

  // Event probability by Simpson's rule over the entry times, written out independently.
  auto pev = [&](double h, double S) {
    const double TA = in.model.accrual_period, TF = in.model.follow_up;
    const double T = TA + TF, lc = -std::log(S) / T, le = lc * h;
    auto sbar = [&](double u) { return 0.5 * std::exp(-lc * u) + 0.5 * std::exp(-le * u); };
    return 1.0 - (sbar(TF) + 4.0 * sbar(TF + TA / 2.0) + sbar(TA + TF)) / 6.0;
  };
  const int ME1 = static_cast<int>(std::ceil(400 * pev(0.7, 0.4)));
  const int ME2 = static_cast<int>(std::ceil(400 * pev(0.8, 0.6)));
  EXPECT_EQ(e.ME1, ME1);
  EXPECT_EQ(e.ME2, ME2);
  EXPECT_DOUBLE_EQ(e.ASN, 400 * 0.75 * 0.25 + 400 * 0.5 + 0.25 * 400);
  EXPECT_DOUBLE_EQ(e.AVE1, ME1 * 0.5 * 0.5 + ME1 * 0.25 + 0.25 * ME1);
  EXPECT_DOUBLE_EQ(e.AVE2, ME2 * 0.5 * 0.25 + ME2 * 0.25 + 0.5 * ME2);

  char l1[64], l2[64], l3[64];
  std::snprintf(l1, sizeof l1, "     1   %6.0f. %6.0f. %6.0f.", 300.0, ME1 * 0.5, ME2 * 0.5);
  std::snprintf(l2, sizeof l2, "     2   %6.0f. %6.0f. %6.0f.", 400.0, 1.0 * ME1, 1.0 * ME2);
  std::snprintf(l3, sizeof l3, "  EXP.   %6.0f. %6.0f. %6.0f.", e.ASN, e.AVE1, e.AVE2);
  // printf's %6.0f has no point; the report's F6.0 does, within the same six columns.
  auto f6 = [](std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '.' && i >= 6) {
        // drop one leading blank of the six-column number to make room for the point
        size_t start = out.size() - 6;
        out.erase(start, 1);
      }
      out += s[i];
    }
    return out;
  };
  const std::vector<std::string> want = {f6(l1), f6(l2), f6(l3)};
  EXPECT_EQ(lines_of(console.str()), want);
}

}  // namespace
}  // namespace kestrel::samplesize

namespace kestrel::samplesize {
namespace {

// A smooth concave power curve; the coarse evaluation carries a deterministic error below its
// stated estimate `e`.
struct StagedScript {
  double e = 2e-6;
  std::vector<int> coarse_calls, full_calls, again_calls, between_calls;
  static double truth(int N) { return 1.0 - std::exp(-static_cast<double>(N) / 400.0); }
  PowerResult at(int N, double p, double err) {
    PowerResult r;
    r.power = p;
    r.error = err;
    r.QSTOP.assign(2, 0.0);
    r.QEP.assign(2, {0.0, 0.0});
    r.QSTOP.back() = p;
    return r;
  }
  StagedPower fns() {
    return {[this](int N) {
              coarse_calls.push_back(N);
              return at(N, truth(N) + 0.9 * e * std::sin(N * 1.7), e);
            },
            [this](int N) {
              full_calls.push_back(N);
              return at(N, truth(N), 1e-9);
            },
            [this](int N) {
              again_calls.push_back(N);
              return at(N, truth(N), 1e-9);
            },
            {}};
  }
  // The accuracy between the two: an error a hundredth of the coarse one, below its estimate.
  StagedPower fns_with_between() {
    StagedPower f = fns();
    f.between = [this](int N) {
      between_calls.push_back(N);
      return at(N, truth(N) - 0.009 * e * std::cos(N * 1.3), e / 100);
    };
    return f;
  }
};

TEST(StagedSizeSearch, SameSizeAsTheFullSearchWithFullPowersReported) {
  // Targets across the curve, some whose root lies a hair from an integer (where the coarse
  // powers cannot decide and the neighbour is evaluated at the full accuracy as well).
  // With an accuracy between the two, the neighbour of the hair is settled there (its power is
  // 1e-7 below the target, its error estimate 2e-8) and not evaluated at the full accuracy.
  const double hair = 1.0 - std::exp(-1000.0005 / 400.0);
  for (const bool between : {false, true})
  for (double target : {0.6, 0.7, 0.75, 0.8, 0.85, 0.9, hair}) {
    Scripted full{StagedScript::truth};
    std::ostringstream c1, c2;
    const SearchInput in{2, 0, target, 300, 500};
    const SearchResult want = size_search(in, full.fn(), c1);
    StagedScript s;
    const SearchResult got = size_search(in, between ? s.fns_with_between() : s.fns(), c2);
    if (between && target == hair) {
      EXPECT_EQ(s.between_calls, std::vector<int>{got.MSS - 1});
      EXPECT_EQ(s.again_calls, std::vector<int>{got.MSS});
    }
    if (!between) {
      EXPECT_EQ(s.again_calls.size(), target == hair ? 2u : 1u) << target;
    }
    EXPECT_EQ(got.MSS, want.MSS) << target;
    EXPECT_EQ(got.end, SearchEnd::settled) << target;
    EXPECT_DOUBLE_EQ(got.APW, StagedScript::truth(got.MSS)) << target;
    EXPECT_DOUBLE_EQ(got.QSTOP.back(), got.APW) << target;
    // No size is evaluated at the full accuracy for the first time unless the full search steps on.
    EXPECT_TRUE(s.full_calls.empty()) << target;
    ASSERT_FALSE(s.again_calls.empty());
    EXPECT_EQ(s.again_calls.front(), got.MSS) << target;
    EXPECT_LE(s.again_calls.size(), 2u) << target;
    // The trace ends with the full power of the result, as the final line does.
    EXPECT_DOUBLE_EQ(got.trace.back().power, got.APW) << target;
    EXPECT_EQ(got.trace.size(), s.coarse_calls.size()) << target;
  }
}

TEST(StagedSizeSearch, GivenSizeIsEvaluatedOnceAtTheFullAccuracy) {
  StagedScript s;
  std::ostringstream console;
  const SearchResult r = size_search(SearchInput{1, 300, 0.8, 480, 520}, s.fns(), console);
  EXPECT_TRUE(s.coarse_calls.empty());
  EXPECT_EQ(s.full_calls, std::vector<int>{300});
  EXPECT_DOUBLE_EQ(r.APW, StagedScript::truth(300));
}

TEST(StagedSizeSearch, CoarsePowersThatMisleadAreCorrectedByFurtherFullSteps) {
  // Coarse powers off by far more than their stated estimate: the full stage must step on from
  // the last pair to the size the full search gives.
  Scripted full{StagedScript::truth};
  std::ostringstream c1, c2;
  const SearchInput in{1, 0, 0.8, 300, 500};
  const SearchResult want = size_search(in, full.fn(), c1);
  StagedScript s;
  StagedPower f = s.fns();
  f.coarse = [&s](int N) {
    s.coarse_calls.push_back(N);
    return s.at(N, StagedScript::truth(N) - 0.004, 1e-7);
  };
  const SearchResult got = size_search(in, f, c2);
  EXPECT_EQ(got.MSS, want.MSS);
  EXPECT_FALSE(s.full_calls.empty());
  EXPECT_DOUBLE_EQ(got.APW, StagedScript::truth(got.MSS));
}

}  // namespace
}  // namespace kestrel::samplesize
