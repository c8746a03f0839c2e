#include "samplesize/search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "common/format.h"
#include "common/reports.h"
#include "survival/entry_loss.h"
#include "survival/event_probability.h"

namespace kestrel::samplesize {

namespace {

void trace_line(std::ostream& console, int iter, int size, double power) {
  Reports::line(console,
                fmt::Record().x(1).i(iter, 5).x(2).i(size, 6).x(2).f(100.0 * power, 10, 2).str());
}

// The ceiling of a secant estimate as a size; estimates beyond any usable size are held at a
// bound that still fits an integer.
int ceiling_size(double x) {
  constexpr double kLargest = 1.0e9;
  if (x > kLargest) x = kLargest;
  return static_cast<int>(std::ceil(x));
}

}  // namespace

namespace {

// The secant iteration from the pair (NL, NU) with their evaluations, steps 7.1 to 7.6 with the
// safeguards; `evaluate` gives the power at a new size and `emit` reports its trace line.
struct Secant {
  int NL = 0, NU = 0;
  double x0 = 0, x1 = 0;
  PowerResult lower, upper;
  int iter = 0;
  int before_lower = 0;  // the size evaluated before NL (0 when none)
};

SearchEnd secant(Secant& st, double POWER, const PowerAtSize& evaluate,
                 const std::function<void(int, int, double)>& emit) {
  for (;;) {
    if (st.iter >= kMaxSecantSteps) return SearchEnd::step_limit;
    ++st.iter;
    const double d0 = st.lower.power - POWER;
    const double d1 = st.upper.power - POWER;
    if (d1 == d0) return SearchEnd::flat;
    double x = (st.x0 * d1 - st.x1 * d0) / (d1 - d0);
    if (!std::isfinite(x)) return SearchEnd::non_finite;
    if (x <= 0.0) x = 50.0;
    const int Nnew = ceiling_size(x);
    if (Nnew == st.NU) return SearchEnd::settled;
    if (Nnew == st.NL && st.NU == st.before_lower) {
      // The sizes run a, b, a and the next would be b again: the ceiling alternates.
      // Keep the larger of the two with its evaluation.
      if (st.NL > st.NU) {
        std::swap(st.NL, st.NU);
        std::swap(st.lower, st.upper);
      }
      return SearchEnd::alternating;
    }
    st.before_lower = st.NL;
    st.NL = st.NU;
    st.x0 = st.NL;
    st.lower = std::move(st.upper);
    st.NU = Nnew;
    st.x1 = st.NU;
    st.upper = evaluate(st.NU);
    emit(st.iter, st.NU, st.upper.power);
  }
}

// Whether the secant step from the pair settles at NU for every power of NL within its error
// estimate (none known: no).
bool settles_within_error(const Secant& st, double POWER) {
  const double e = st.lower.error;
  if (!(e >= 0) || !std::isfinite(e)) return false;
  const double d1 = st.upper.power - POWER;
  for (const double d0 : {st.lower.power - e - POWER, st.lower.power + e - POWER}) {
    if (!(std::fabs(d1 - d0) > 0) || (d1 - d0) * (st.upper.power - st.lower.power) <= 0) return false;
    double x = (st.x0 * d1 - st.x1 * d0) / (d1 - d0);
    if (!std::isfinite(x)) return false;
    if (x <= 0.0) x = 50.0;
    if (ceiling_size(x) != st.NU) return false;
  }
  return true;
}

// Search state shared by both forms of the search: starting pair, console heading.
struct SearchStart {
  int NL = 0, NU = 0;
};

SearchStart start_search(const SearchInput& in, std::ostream& console) {
  SearchStart s{in.NL, in.NU};
  if (in.MSSG <= 0 && s.NL == s.NU) s.NU = widened({s.NL, s.NU}).NU;
  Reports::line(console, "");
  Reports::line(console, fmt::list({std::string_view("ITERATION STARTS")}));
  Reports::line(console, "");
  if (decision_rule(in.rule) != DecisionRule::any_interims) {
    Reports::line(console, fmt::list({std::string_view(" ITER     MSS       POWER")}));
  }
  if (in.MSSG >= 1) s.NU = in.MSSG;
  return s;
}

void finish_search(SearchResult& r, const SearchInput& in, Secant& st, std::ostream& console) {
  r.MSS = st.NU;
  r.APW = st.upper.power;
  r.NL = st.NL;
  r.NU = st.NU;
  r.QSTOP = std::move(st.upper.QSTOP);
  r.QEP = std::move(st.upper.QEP);
  r.below_target = in.MSSG <= 0 && !(r.APW >= in.POWER);
  Reports::line(
      console, fmt::Record().x(1).lit("FINAL").x(2).i(r.MSS, 6).x(2).f(100.0 * r.APW, 10, 2).str());
  Reports::line(console, "");
}

}  // namespace

SearchResult size_search(const SearchInput& in, const PowerAtSize& power, std::ostream& console) {
  SearchResult r;
  const SearchStart start = start_search(in, console);
  Secant st;
  st.NL = start.NL;
  st.NU = start.NU;
  st.x0 = st.NL;
  st.x1 = st.NU;

  auto evaluate = [&](int N) {
    PowerResult p = power(N);
    ++r.evaluations;
    r.integrals += p.integrals;
    return p;
  };
  auto emit = [&](int iter, int N, double P) {
    r.trace.push_back({iter, N, P});
    trace_line(console, iter, N, P);
  };

  if (in.MSSG <= 0) {
    st.lower = evaluate(st.NL);
    emit(0, st.NL, st.lower.power);
  }
  st.upper = evaluate(st.NU);
  emit(0, st.NU, st.upper.power);

  r.end = in.MSSG >= 1 ? SearchEnd::given_size : secant(st, in.POWER, evaluate, emit);
  finish_search(r, in, st, console);
  return r;
}

SearchResult size_search(const SearchInput& in, const StagedPower& power, std::ostream& console) {
  SearchResult r;
  const SearchStart start = start_search(in, console);
  Secant st;
  st.NL = start.NL;
  st.NU = start.NU;
  st.x0 = st.NL;
  st.x1 = st.NU;

  auto counted = [&](const PowerAtSize& f) {
    return [&r, &f](int N) {
      PowerResult p = f(N);
      ++r.evaluations;
      r.integrals += p.integrals;
      return p;
    };
  };
  auto emit = [&](int iter, int N, double P) {
    r.trace.push_back({iter, N, P});
    trace_line(console, iter, N, P);
  };

  if (in.MSSG >= 1) {
    st.upper = counted(power.full)(st.NU);
    emit(0, st.NU, st.upper.power);
    r.end = SearchEnd::given_size;
    finish_search(r, in, st, console);
    return r;
  }

  // Coarse stage. The newest trace line is held back until the next one comes, so that the line
  // of a size evaluated again at the full accuracy shows the full power.
  bool pending = false;
  SearchStep held;
  auto flush = [&] {
    if (pending) emit(held.iteration, held.size, held.power);
    pending = false;
  };
  auto hold = [&](int iter, int N, double P) {
    flush();
    held = {iter, N, P};
    pending = true;
  };
  st.lower = counted(power.coarse)(st.NL);
  hold(0, st.NL, st.lower.power);
  st.upper = counted(power.coarse)(st.NU);
  hold(0, st.NU, st.upper.power);
  const SearchEnd coarse_end = secant(st, in.POWER, counted(power.coarse), hold);

  // Full stage: the last pair again at the full accuracy, and on from there.
  st.upper = counted(power.full_again)(st.NU);
  if (pending && held.size == st.NU) held.power = st.upper.power;
  if (coarse_end != SearchEnd::settled) {
    // A search that ended by a safeguard keeps its size; only the reported power is made full.
    flush();
    r.end = coarse_end;
    finish_search(r, in, st, console);
    return r;
  }
  flush();
  --st.iter;  // the settling step is taken again with the full powers
  if (settles_within_error(st, in.POWER)) {
    // The coarse power of NL, anywhere within its error estimate, and the full power of NU settle
    // at NU: the full power of NL would too.
    ++st.iter;
    r.end = SearchEnd::settled;
    finish_search(r, in, st, console);
    return r;
  }
  if (power.between) {
    // The other size at an accuracy between the two: if its power there, anywhere within its
    // error estimate, settles at NU too, that is the result.
    const PowerResult coarse_lower = st.lower;
    st.lower = counted(power.between)(st.NL);
    if (settles_within_error(st, in.POWER)) {
      ++st.iter;
      r.end = SearchEnd::settled;
      finish_search(r, in, st, console);
      return r;
    }
    st.lower = coarse_lower;
  }
  st.lower = counted(power.full_again)(st.NL);
  r.end = secant(st, in.POWER, counted(power.full), emit);
  finish_search(r, in, st, console);
  return r;
}

Bracket search_bracket(int N1, int N2) {
  Bracket b{N1 < N2 ? N1 : N2, N1 < N2 ? N2 : N1};
  if (b.NL == b.NU) b.NU = static_cast<int>(1.2 * b.NL);
  return b;
}

Bracket widened(Bracket b) {
  if (b.NL == b.NU) b.NU = std::max(b.NL + 10, 2 * b.NL);
  return b;
}

std::string search_warning(int design, std::string_view set, const SearchResult& r,
                           double POWER) {
  const char* how = nullptr;
  switch (r.end) {
    case SearchEnd::given_size: return {};
    case SearchEnd::settled: how = "settled"; break;
    case SearchEnd::flat: how = "stopped because the last two powers were equal"; break;
    case SearchEnd::alternating: how = "alternated between two sizes"; break;
    case SearchEnd::step_limit: how = "did not settle within its step limit"; break;
    case SearchEnd::non_finite: how = "stopped at a secant estimate that is not a number"; break;
  }
  if (r.end == SearchEnd::settled && !r.below_target) return {};
  std::string set_name(set);
  while (!set_name.empty() && set_name.front() == ' ') set_name.erase(set_name.begin());
  char power[64];
  std::snprintf(power, sizeof power, "%.2f%% against the target %.2f%%", 100.0 * r.APW,
                100.0 * POWER);
  return "WARNING: design " + std::to_string(design) + ", set " + set_name +
         ": the sample-size search " + how + " at MSS = " + std::to_string(r.MSS) +
         "; power reached " + power + (r.below_target ? " (below the target)" : "");
}

int maximum_events(int MSS, double Pev) {
  return static_cast<int>(std::ceil(static_cast<double>(MSS) * Pev));
}

ExpectedValues expected_values(const ExpectedInput& in, int MSS, const std::vector<double>& QSTOP,
                               const std::vector<std::array<double, 2>>& QEP,
                               std::ostream& console) {
  ExpectedValues e;
  const double Pev1 = survival::study_event_probability(in.model, 0);
  const double Pev2 = survival::study_event_probability(in.model, 1);
  e.ME1 = maximum_events(MSS, Pev1);
  e.ME2 = maximum_events(MSS, Pev2);

  double S0 = 0, S1 = 0, S2 = 0, asn = 0, ave1 = 0, ave2 = 0;
  for (int k = 1; k <= in.K; ++k) {
    const size_t i = static_cast<size_t>(k - 1);
    S0 += QSTOP[i];
    S1 += QEP[i][0];
    S2 += QEP[i][1];
    asn += MSS * in.FENR[i] * QSTOP[i];
    ave1 += e.ME1 * in.FINF1[i] * QEP[i][0];
    ave2 += e.ME2 * in.FINF2[i] * QEP[i][1];
  }
  e.ASN = asn + (1.0 - S0) * MSS;
  e.AVE1 = ave1 + (1.0 - S1) * e.ME1;
  e.AVE2 = ave2 + (1.0 - S2) * e.ME2;

  for (int k = 1; k <= in.K; ++k) {
    const size_t i = static_cast<size_t>(k - 1);
    Reports::line(console, fmt::Record()
                               .x(1)
                               .i(k, 5)
                               .x(2)
                               .x(1)
                               .f(MSS * in.FENR[i], 6, 0)
                               .x(1)
                               .f(e.ME1 * in.FINF1[i], 6, 0)
                               .x(1)
                               .f(e.ME2 * in.FINF2[i], 6, 0)
                               .str());
  }
  Reports::line(console, fmt::Record()
                             .x(1)
                             .lit(" EXP.")
                             .x(2)
                             .x(1)
                             .f(e.ASN, 6, 0)
                             .x(1)
                             .f(e.AVE1, 6, 0)
                             .x(1)
                             .f(e.AVE2, 6, 0)
                             .str());
  return e;
}

}  // namespace kestrel::samplesize
