#include "samplesize/search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

SearchResult size_search(const SearchInput& in, const PowerAtSize& power, std::ostream& console) {
  SearchResult r;
  int NL = in.NL, NU = in.NU;
  if (in.MSSG <= 0 && NL == NU) {
    const Bracket b = widened({NL, NU});
    NU = b.NU;
  }
  double x0 = NL, x1 = NU;
  int iter = 0;

  Reports::line(console, "");
  Reports::line(console, fmt::list({std::string_view("ITERATION STARTS")}));
  Reports::line(console, "");
  if (decision_rule(in.rule) != 1) {
    Reports::line(console, fmt::list({std::string_view(" ITER     MSS       POWER")}));
  }
  if (in.MSSG >= 1) NU = in.MSSG;

  auto evaluate = [&](int N) {
    PowerResult p = power(N);
    ++r.evaluations;
    r.integrals += p.integrals;
    return p;
  };

  PowerResult lower, upper;
  if (in.MSSG <= 0) {
    lower = evaluate(NL);
    r.trace.push_back({iter, NL, lower.power});
    trace_line(console, iter, NL, lower.power);
  }
  upper = evaluate(NU);
  r.trace.push_back({iter, NU, upper.power});
  trace_line(console, iter, NU, upper.power);

  if (in.MSSG >= 1) {
    r.end = SearchEnd::given_size;
  } else {
    int before_lower = 0;  // the size evaluated before NL (0 when none)
    for (;;) {
      if (iter >= kMaxSecantSteps) {
        r.end = SearchEnd::step_limit;
        break;
      }
      ++iter;
      const double d0 = lower.power - in.POWER;
      const double d1 = upper.power - in.POWER;
      if (d1 == d0) {
        r.end = SearchEnd::flat;
        break;
      }
      double x = (x0 * d1 - x1 * d0) / (d1 - d0);
      if (!std::isfinite(x)) {
        r.end = SearchEnd::non_finite;
        break;
      }
      if (x <= 0.0) x = 50.0;
      const int Nnew = ceiling_size(x);
      if (Nnew == NU) {
        r.end = SearchEnd::settled;
        break;
      }
      if (Nnew == NL && NU == before_lower) {
        // The sizes run a, b, a and the next would be b again: the ceiling alternates.
        // Keep the larger of the two with its evaluation.
        if (NL > NU) {
          std::swap(NL, NU);
          std::swap(lower, upper);
        }
        r.end = SearchEnd::alternating;
        break;
      }
      before_lower = NL;
      NL = NU;
      x0 = NL;
      lower = std::move(upper);
      NU = Nnew;
      x1 = NU;
      upper = evaluate(NU);
      r.trace.push_back({iter, NU, upper.power});
      trace_line(console, iter, NU, upper.power);
    }
  }

  r.MSS = NU;
  r.APW = upper.power;
  r.NL = NL;
  r.NU = NU;
  r.QSTOP = std::move(upper.QSTOP);
  r.QEP = std::move(upper.QEP);
  r.below_target = in.MSSG <= 0 && !(r.APW >= in.POWER);
  Reports::line(
      console, fmt::Record().x(1).lit("FINAL").x(2).i(r.MSS, 6).x(2).f(100.0 * r.APW, 10, 2).str());
  Reports::line(console, "");
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
  double Pev1 = 0, Pev2 = 0;
  if (in.entry_loss.plain()) {
    Pev1 = survival::PREVENT(in.HR1, in.SRVR1, in.SR, in.TA, in.TF).Pev;
    Pev2 = survival::PREVENT(in.HR2, in.SRVR2, in.SR, in.TA, in.TF).Pev;
  } else {
    // Observed events by the end of the study, loss to follow-up and accrual pieces included.
    const survival::EntryLoss el(in.entry_loss, in.TA);
    const double T = in.TA + in.TF;
    const EntryAndLoss& g = in.entry_loss;
    Pev1 = survival::pooled_event_probability(el, g, 0, in.HR1, in.SRVR1, in.SR, in.TA, in.TF, T);
    Pev2 = survival::pooled_event_probability(el, g, 1, in.HR2, in.SRVR2, in.SR, in.TA, in.TF, T);
  }
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
