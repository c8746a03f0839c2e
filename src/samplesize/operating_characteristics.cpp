#include "samplesize/operating_characteristics.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>

#include "common/format.h"
#include "common/reports.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"
#include "survival/correlation_matrix.h"
#include "survival/entry_loss.h"
#include "survival/information.h"

namespace kestrel::samplesize {

namespace {

enum Hypothesis { kAlternative, kGlobal, kEp1Null, kEp2Null };
const char* const kNames[] = {"alternative", "global", "EP1 null", "EP2 null"};

double at(const std::vector<double>& v, size_t i) { return i < v.size() ? v[i] : 0.0; }

// The information at the design's analysis times (its calendar times, whatever timed them) when
// the endpoints' hazard ratios are those of hypothesis h: an endpoint under its null has ratio 1
// (every piece of its piecewise hazards too). Its reports go nowhere.
InformationSet information_under(const TrialModel& alternative, const InformationSet& set,
                                 Hypothesis h, const numerics::UniformGenerator& generator) {
  TrialModel model = alternative;
  model.exact = set.exact;  // the model the set was computed under
  for (size_t e = 0; e < 2; ++e) {
    if (!(h == kGlobal || h == (e == 0 ? kEp1Null : kEp2Null))) continue;
    model.hazard_ratio[e] = 1.0;
    for (double& r : model.entry_loss.hazards[e].ratio) r = 1.0;
  }
  const survival::InformationInput in{model, set.K, set.TCAL};
  MemoryReports sink;
  numerics::UniformGenerator g = generator;
  return survival::BVRLGRNK01(in, g, sink.reports);
}

// The problem under hypothesis h at the design's analysis times: the information fractions,
// drifts, variances and correlations of that hypothesis (info), the bounds of the design. Under
// an endpoint's null its statistic has mean 0 and its null variance, so its limits are its
// bounds themselves.
PowerProblem under(const PowerProblem& pb, Hypothesis h, const InformationSet& info) {
  PowerProblem q = pb;
  if (h != kAlternative) {
    InformationSet& s = q.set;
    s.FINF1 = info.FINF1, s.FINF2 = info.FINF2, s.DRF1 = info.DRF1, s.DRF2 = info.DRF2;
    s.VAR01 = info.VAR01, s.VAR02 = info.VAR02, s.VAR11 = info.VAR11, s.VAR12 = info.VAR12;
    s.CORR12 = info.CORR12, s.CORR11 = info.CORR11, s.CORR22 = info.CORR22;
    q.RCORR = survival::ZCORR01(pb.K, s.FINF1, s.FINF2, s.CORR12, s.exact ? &s.CORR11 : nullptr,
                                s.exact ? &s.CORR22 : nullptr);
  }
  for (int k = 0; k < pb.K; ++k) {
    const size_t i = static_cast<size_t>(k);
    if (h == kGlobal || h == kEp1Null) {
      q.set.DRF1[i] = 0.0;
      q.set.VAR11[i] = q.set.VAR01[i];
    }
    if (h == kGlobal || h == kEp2Null) {
      q.set.DRF2[i] = 0.0;
      q.set.VAR12[i] = q.set.VAR02[i];
    }
  }
  return q;
}

}  // namespace

void expected_figures(const AnalysisFigures& at_k, Evaluation::NullFigures& f) {
  const size_t K = f.REACH.size();
  f.QFUT.assign(K, 0.0);
  f.ASN = f.AVE1 = f.AVE2 = f.duration = 0.0;
  for (size_t i = 0; i < K; ++i) {
    const double stop = std::max(0.0, f.REACH[i] - (i + 1 < K ? f.REACH[i + 1] : 0.0));
    f.QFUT[i] = std::max(0.0, stop - at(f.QSTOP, i));
    f.ASN += stop * at(at_k.subjects, i);
    f.AVE1 += stop * at(at_k.events1, i);
    f.AVE2 += stop * at(at_k.events2, i);
    f.duration += stop * at(at_k.time, i);
  }
}

std::vector<double> null_events(const TrialModel& model, const InformationSet& set, int MSS, int e) {
  EntryAndLoss laws = model.entry_loss;
  for (double& r : laws.hazards[static_cast<size_t>(e)].ratio) r = 1.0;
  const double TA = model.accrual_period, TF = model.follow_up;
  const survival::EntryLoss el(laws, TA);
  const double S = model.control_survival[static_cast<size_t>(e)];
  std::vector<double> events(static_cast<size_t>(set.K), 0.0);
  for (int k = 0; k < set.K; ++k) {
    const double tau = set.TCAL[static_cast<size_t>(k)];
    events[static_cast<size_t>(k)] =
        MSS * el.enrolled(tau) *
        survival::pooled_event_probability(el, laws, e, 1.0, S, model.treatment_share, TA, TF, tau);
  }
  return events;
}

std::vector<double> null_events(const Design& design, const InformationSet& set, int MSS, int e) {
  return null_events(trial_model(design, 0.0), set, MSS, e);
}

void operating_characteristics(const PowerProblem& pb, Evaluation& ev, RunContext& ctx) {
  const int K = pb.K;
  const InformationSet& set = pb.set;
  // Copies of the run's generators: the figures leave the rest of the run as it was.
  numerics::UniformGenerator generator = ctx.generator;
  mvn::MvnState state;
  state.set_accuracy(ctx.mvn.accuracy());
  state.set_threads(ctx.mvn.threads());
  state.set_method(ctx.mvn.method());
  RunContext own{ctx.reports, generator, state, ctx.exact, ctx.under_nulls};
  const RectangleProbability rect = mvn_rectangles(own);
  std::ostringstream quiet;  // the limits' warnings were written by the search

  AnalysisFigures planned, at_null[2];
  for (int k = 0; k < K; ++k) {
    const size_t i = static_cast<size_t>(k);
    planned.subjects.push_back(ev.MSS * set.FENR[i]);
    planned.events1.push_back(ev.ME1 * set.FINF1[i]);
    planned.events2.push_back(ev.ME2 * set.FINF2[i]);
    planned.time.push_back(set.TCAL[i]);
  }
  const std::vector<double> null1 = null_events(pb.model, set, ev.MSS, 0);
  const std::vector<double> null2 = null_events(pb.model, set, ev.MSS, 1);

  ev.nulls.clear();
  const int last = pb.rule == DecisionRule::ep2_at_final ? kGlobal : kEp2Null;
  for (int hh = kAlternative; hh <= last; ++hh) {
    const Hypothesis h = static_cast<Hypothesis>(hh);
    const PowerProblem q =
        under(pb, h, h == kAlternative ? set : information_under(pb.model, set, h, generator));
    Evaluation::NullFigures f;
    f.hypothesis = kNames[h];
    if (h == kAlternative) {
      f.success = ev.APW;
      f.QSTOP = ev.QSTOP;
      f.REACH = !ev.REACH.empty() ? ev.REACH : continuation_probabilities(q, ev.MSS, rect, quiet);
    } else {
      const PowerResult with = power_by_first_crossings(q, ev.MSS, rect, quiet);
      f.success = with.power;
      f.QSTOP = with.QSTOP;
      f.REACH = continuation_probabilities(q, ev.MSS, rect, quiet);
    }
    f.success_without_futility = f.success;
    if (pb.has_futility()) {
      PowerProblem without = q;
      without.ZF1.clear();
      without.ZF2.clear();
      f.success_without_futility = power_by_first_crossings(without, ev.MSS, rect, quiet).power;
    }
    AnalysisFigures a = planned;
    if (h == kGlobal || h == kEp1Null) a.events1 = null1;
    if (h == kGlobal || h == kEp2Null) a.events2 = null2;
    expected_figures(a, f);
    ev.nulls.push_back(std::move(f));
  }
}

void write_operating_characteristics(std::ostream& os, const Evaluation& ev) {
  if (ev.nulls.empty()) return;
  Reports::line(os, "");
  Reports::line(os, " OPERATING CHARACTERISTICS AT THE MAXIMUM SAMPLE SIZE (EXPECTED FIGURES UNTIL THE TRIAL STOPS)");
  Reports::line(os, "  UNDER         P(SUCCESS)  WITHOUT FUTILITY      EXP.N     EXP.E1     EXP.E2   EXP.TIME");
  for (const Evaluation::NullFigures& f : ev.nulls) {
    Reports::line(os, fmt::Record()
                          .x(2)
                          .a(f.hypothesis, 11)
                          .f(f.success, 13, 6)
                          .f(f.success_without_futility, 18, 6)
                          .f(f.ASN, 11, 1)
                          .f(f.AVE1, 11, 1)
                          .f(f.AVE2, 11, 1)
                          .f(f.duration, 11, 3)
                          .str());
  }
  Reports::line(os, "  UNDER       #ANAL    P(REACH) P(EFFICACY) P(FUTILITY)");
  for (const Evaluation::NullFigures& f : ev.nulls) {
    for (size_t i = 0; i < f.REACH.size(); ++i) {
      Reports::line(os, fmt::Record()
                            .x(2)
                            .a(f.hypothesis, 11)
                            .i(static_cast<int>(i) + 1, 6)
                            .f(f.REACH[i], 12, 6)
                            .f(at(f.QSTOP, i), 12, 6)
                            .f(at(f.QFUT, i), 12, 6)
                            .str());
    }
  }
}

}  // namespace kestrel::samplesize
