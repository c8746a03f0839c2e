#include "samplesize/engine.h"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <sstream>
#include <string>

#include "boundaries/futility.h"
#include "boundaries/spending.h"
#include "common/format.h"
#include "common/reports.h"
#include "mvn/mvndf.h"
#include "samplesize/operating_characteristics.h"
#include "survival/correlation_matrix.h"
#include "survival/entry_loss.h"

namespace kestrel::samplesize {

namespace {

constexpr int kSides = 1;            // one-sided boundary designs
constexpr int kVariance = 1;         // both variances enter the limits
constexpr bool kFinalAdjust = true;  // the simulation recomputes the final critical values

// The endpoint as a stop of its boundary design names it, with the competing-risk mode that
// shapes its information.
std::string endpoint_name(const char* ep, int CPRSK) {
  static const char* const modes[] = {"both endpoints non-fatal", "one endpoint fatal",
                                      "both endpoints fatal"};
  std::string name = std::string(ep) + " (CPRSK " + std::to_string(CPRSK);
  if (CPRSK >= 1 && CPRSK <= 3) name += std::string(": ") + modes[CPRSK - 1];
  return name + ")";
}

// The hazard ratio behind an endpoint's single-endpoint design. With piecewise hazards whose
// ratios differ it is the ratio the model's drift per unit of null information gives,
// exp(DRF/VAR0) at the final analysis, so that the design's events carry the model's drift; a
// common ratio of every piece is that ratio itself.
double design_ratio(const TrialModel& model, int e, const InformationSet& set) {
  const EndpointHazards& h = model.entry_loss.hazards[static_cast<size_t>(e)];
  if (!h.given()) return model.hazard_ratio[static_cast<size_t>(e)];
  bool common = true;
  for (double r : h.ratio) common = common && r == h.ratio[0];
  if (common) return h.ratio[0];
  const size_t K = static_cast<size_t>(set.K - 1);
  return std::exp(e == 0 ? set.DRF1[K] / set.VAR01[K] : set.DRF2[K] / set.VAR02[K]);
}

// The single-endpoint boundary design of endpoint e (0 EP1, 1 EP2) under the model.
boundaries::GsDesignInput endpoint_design(const Design& design, const TrialModel& model,
                                          const InformationSet& set,
                                          const SpendingStatement& spending, int e) {
  const DeckValues& d = design.stored;
  const AnalysisArray& finf = e == 0 ? set.FINF1 : set.FINF2;
  boundaries::GsDesignInput in;
  in.endpoint = endpoint_name(e == 0 ? "EP1" : "EP2", model.competing_risks);
  in.K = set.K;
  in.alpha = d.TYPE1;
  in.sides = kSides;
  in.spending = spending;
  in.power = d.POWER;
  in.hr = design_ratio(model, e, set);
  in.t.assign(finf.begin(), finf.begin() + set.K);
  in.ta = model.accrual_period;
  in.tf = model.follow_up;
  in.control_survival = model.control_survival[static_cast<size_t>(e)];
  in.allocation = model.treatment_share;
  in.exact = set.exact;  // exact bounds go with the exact covariance
  in.futility = design.futility;
  if (!model.entry_loss.plain())
    in.event_probability_given = survival::study_event_probability(model, e);
  return in;
}

std::vector<double> first(const std::vector<double>& v, int K) {
  std::vector<double> out(static_cast<size_t>(K), 0.0);
  for (int k = 0; k < K && k < static_cast<int>(v.size()); ++k)
    out[static_cast<size_t>(k)] = v[static_cast<size_t>(k)];
  return out;
}

void empty_lines(std::ostream& os, int n) {
  for (int i = 0; i < n; ++i) Reports::line(os, "");
}

// The trial's futility stops per analysis at the size found: at interim k the probability of
// reaching k less those of succeeding at k and of going on; at the final, of reaching it without
// success.
void futility_stops(const PowerProblem& pb, Evaluation& ev, const RectangleProbability& rect,
                    std::ostream& report) {
  const int K = pb.K;
  std::ostringstream quiet;  // the limits' warnings were written by the search
  ev.REACH = continuation_probabilities(pb, ev.MSS, rect, quiet);
  (void)report;
  ev.QFUT.assign(static_cast<size_t>(K), 0.0);
  for (int k = 0; k < K; ++k) {
    const size_t i = static_cast<size_t>(k);
    const double next = k + 1 < K ? ev.REACH[i + 1] : 0.0;
    ev.QFUT[i] = std::max(0.0, ev.REACH[i] - next - (i < ev.QSTOP.size() ? ev.QSTOP[i] : 0.0));
  }
}

// The futility block of the console report: the rule, then per analysis the futility bounds
// in force and the probabilities of reaching the analysis, of success and of a futility stop
// there.
void write_futility_stops(std::ostream& os, const FutilityRule& rule, const Evaluation& ev) {
  std::string what = boundaries::describe_futility(rule);
  for (char& c : what) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Reports::line(os, "");
  Reports::line(os, " FUTILITY STOPS: " + what);
  Reports::line(os, "  #ANAL  EP1 FUT-Z  EP2 FUT-Z    P(REACH)  P(SUCCESS) P(FUTILITY)");
  const size_t K = ev.REACH.size();
  for (size_t i = 0; i < K; ++i) {
    fmt::Record r;
    r.x(1).i(static_cast<int>(i) + 1, 5);
    if (i + 1 < K) r.f(ev.ZF1[i], 11, 4).f(ev.ZF2[i], 11, 4);
    else r.lit("      FINAL      FINAL");
    r.f(ev.REACH[i], 12, 6).f(ev.QSTOP[i], 12, 6).f(ev.QFUT[i], 12, 6);
    Reports::line(os, r.str());
  }
}

// The simulated trials of a design at the size found: the truth (the simulation values, copula
// parameter thetatr), the analyses of the set and the bounds of ev.
simulation::SimulationInput simulation_input(const Design& design, double thetatr,
                                             const InformationSet& set, const Evaluation& ev) {
  const DeckValues& d = design.stored;
  const int K = set.K;
  simulation::SimulationInput s;
  s.truth = true_model(design, thetatr, set.exact);
  s.NREP = d.NSIM;
  s.N = ev.MSS;
  s.K = K;
  s.t = set.TCAL;
  s.u = set.FENR;
  s.v = set.FINF1;
  s.w = set.FINF2;
  s.c1 = ev.ZB1;
  s.c2 = ev.ZB2;
  s.print = true;
  // The final critical-value search spends alpha with the efficacy bounds alone; binding
  // futility bounds were designed with the stops in force, so their final bound is kept.
  s.final_adjust = kFinalAdjust && !(design.futility.binding && !ev.ZF1.empty());
  s.alpha = d.TYPE1;
  // Planned information per randomised subject: an analysis during accrual sees only the
  // enrolled fraction of them.
  for (int k = 0; k < K; ++k) {
    s.J1[k] = set.FENR[k] * set.VAR01[k];
    s.J2[k] = set.FENR[k] * set.VAR02[k];
  }
  s.ME1 = ev.ME1;
  s.ME2 = ev.ME2;
  s.f1 = ev.ZF1;
  s.f2 = ev.ZF2;
  return s;
}

}  // namespace

double coarse_search_accuracy(double requested) {
  const double coarse = std::min(1e-6, 100.0 * requested);
  return coarse > requested ? coarse : 0.0;
}

std::string search_warning(int design, std::string_view set, const Evaluation& e, double POWER) {
  SearchResult ended;
  ended.end = e.end;
  ended.below_target = e.below_target;
  ended.MSS = e.MSS;
  ended.APW = e.APW;
  return search_warning(design, set, ended, POWER);
}

PowerProblem power_problem(const Design& design, const TrialModel& model, const InformationSet& set,
                           const Evaluation& ev) {
  const DeckValues& d = design.stored;
  PowerProblem pb;
  pb.rule = decision_rule(d.DF);
  pb.K = set.K;
  pb.IVAR = kVariance;
  pb.TYPE1 = d.TYPE1;
  pb.model = model;
  pb.set = set;
  pb.RCORR = ev.RCORR;
  pb.ZB1 = ev.ZB1;
  pb.ZB2 = ev.ZB2;
  pb.ZF1 = ev.ZF1;
  pb.ZF2 = ev.ZF2;
  return pb;
}

Evaluation GSDBVRSURV01(const Design& design, const InformationSet& set,
                        const std::array<SpendingStatement, 2>& spending, double theta,
                        double thetatr, RunContext& ctx) {
  return evaluate_design(design, set, spending, theta, thetatr, ctx, EngineOptions{});
}

Evaluation evaluate_design(const Design& design, const InformationSet& set,
                           const std::array<SpendingStatement, 2>& spending, double theta,
                           double thetatr, RunContext& ctx, const EngineOptions& options) {
  const DeckValues& d = design.stored;
  const int K = set.K;
  const TrialModel model = trial_model(design, theta, set.exact);
  std::ostream& main = ctx.reports.main();
  Evaluation ev;

  // Single-endpoint designs: EP1 with its spending function, hazard ratio and information
  // fractions, then EP2 with its own. Every information set holds EP1 in the slots ending in 1.
  boundaries::BoundaryWork work;
  ev.ep1 = boundaries::GSDESIGN01(endpoint_design(design, model, set, spending[0], 0), work, main);
  ev.ZA1 = first(ev.ep1.za, K);
  ev.ZB1 = first(ev.ep1.zb, K);
  empty_lines(main, 2);
  ev.ep2 = boundaries::GSDESIGN01(endpoint_design(design, model, set, spending[1], 1), work, main);
  ev.ZA2 = first(ev.ep2.za, K);
  ev.ZB2 = first(ev.ep2.zb, K);
  empty_lines(main, 2);

  ev.RCORR = survival::ZCORR01(K, set.FINF1, set.FINF2, set.CORR12,
                               set.exact ? &set.CORR11 : nullptr,
                               set.exact ? &set.CORR22 : nullptr);

  // Bracket of the search from the single-endpoint sizes.
  Bracket bracket = search_bracket(ev.ep1.subjects, ev.ep2.subjects);
  if (d.MSSG <= 0) bracket = widened(bracket);
  ev.NL = bracket.NL;
  ev.NU = bracket.NU;

  // Futility bounds (with FUTILITY only) follow their efficacy bounds through the option.
  if (!ev.ep1.futility.empty()) ev.ZF1 = first(ev.ep1.futility, K);
  if (!ev.ep2.futility.empty()) ev.ZF2 = first(ev.ep2.futility, K);
  // Critical-value option.
  if (d.CRIVL == 1) {
    ev.ZA2 = ev.ZA1;
    ev.ZB2 = ev.ZB1;
    ev.ZF2 = ev.ZF1;
  } else if (d.CRIVL == 2) {
    ev.ZA1 = ev.ZA2;
    ev.ZB1 = ev.ZB2;
    ev.ZF1 = ev.ZF2;
  }

  const DecisionRule rule = decision_rule(d.DF);
  const PowerProblem pb = power_problem(design, model, set, ev);

  double error_squares = 0;
  const RectangleProbability rect = mvn_rectangles(ctx, &error_squares);
  const bool by_patterns = options.formulation == PowerFormulation::patterns;
  auto power_with = [&](std::ostream& report) -> PowerAtSize {
    return [&](int N) {
      error_squares = 0;
      PowerResult p = by_patterns ? power_by_patterns(pb, N, rect, report)
                                  : power_by_first_crossings(pb, N, rect, report);
      p.error = std::sqrt(error_squares);
      return p;
    };
  };
  const PowerAtSize power = power_with(main);

  SearchInput sin;
  sin.rule = deck_code(rule);
  sin.MSSG = d.MSSG;
  sin.POWER = d.POWER;
  sin.NL = ev.NL;
  sin.NU = ev.NU;
  const double requested = ctx.mvn.accuracy();
  const double coarse = options.staged_search ? coarse_search_accuracy(requested) : 0.0;
  SearchResult sr;
  if (coarse > 0) {
    // A size evaluated again at the full accuracy has written its warnings already.
    std::ostream quiet(nullptr);
    const PowerAtSize again = power_with(quiet);
    auto at = [&](double eps, const PowerAtSize& f) -> PowerAtSize {
      return [&ctx, eps, &f](int N) {
        ctx.mvn.set_accuracy(eps);
        return f(N);
      };
    };
    StagedPower staged{at(coarse, power), at(requested, power), at(requested, again), {}};
    // Between the two: ten times the requested accuracy, for the other size of the last pair.
    if (10 * requested < coarse) staged.between = at(10 * requested, again);
    try {
      sr = size_search(sin, staged, ctx.reports.console());
    } catch (...) {
      ctx.mvn.set_accuracy(requested);
      throw;
    }
    ctx.mvn.set_accuracy(requested);
  } else {
    sr = size_search(sin, power, ctx.reports.console());
  }
  ev.trace = sr.trace;
  ev.MSS = sr.MSS;
  ev.APW = sr.APW;
  ev.QSTOP = sr.QSTOP;
  ev.QEP = sr.QEP;
  ev.end = sr.end;
  ev.below_target = sr.below_target;
  ev.power_evaluations = sr.evaluations;
  ev.integrals = sr.integrals;

  ExpectedInput ein{model, K, set.FENR, set.FINF1, set.FINF2};
  std::vector<double> stop = ev.QSTOP;
  std::vector<std::array<double, 2>> endpoint_stop = ev.QEP;
  if (pb.has_futility()) {
    // A trial that stops for futility observes no more events of either endpoint: the expected
    // figures count each endpoint's events until the trial stops.
    futility_stops(pb, ev, rect, main);
    write_futility_stops(ctx.reports.console(), design.futility, ev);
    for (int k = 0; k < K; ++k) {
      const size_t i = static_cast<size_t>(k);
      stop[i] = ev.QSTOP[i] + ev.QFUT[i];
      endpoint_stop[i] = {stop[i], stop[i]};
    }
  }
  const ExpectedValues e = expected_values(ein, ev.MSS, stop, endpoint_stop, ctx.reports.console());
  ev.ME1 = e.ME1;
  ev.ME2 = e.ME2;
  ev.AVE1 = e.AVE1;
  ev.AVE2 = e.AVE2;
  ev.ASN = e.ASN;
  if (pb.has_futility() || ctx.under_nulls) {
    operating_characteristics(pb, ev, ctx);
    write_operating_characteristics(ctx.reports.console(), ev);
  }
  empty_lines(main, 2);

  if (d.NSIM >= 1 && options.simulate) {
    // The simulation checks the design under the simulation values of the hazard ratios and
    // the association.
    simulation::SimulationInput s = simulation_input(design, thetatr, set, ev);
    ev.simulation =
        simulation::GSDSIMDF(rule, s, ctx.generator, ctx.mvn, ctx.reports.console(), main);
    empty_lines(main, 2);
  }
  empty_lines(main, 2);
  return ev;
}

}  // namespace kestrel::samplesize
