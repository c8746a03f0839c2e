#pragma once
// The results described once. For each result structure, its fields in the order of the results
// file, each with its results-file key, its name in the R package's lists, a caption and what a
// reader checks of it (a probability lies in [0, 1], a hazard ratio above 0, a per-analysis array
// holds K values). The results file's writer, its reader and the R glue walk these descriptions
// with a visitor: a figure added here is written, read back, checked and handed to R, or a
// round-trip test fails at once.
//
// A visitor offers
//   scalar(field, x)                  an int, double, bool or string (or a list of whole numbers
//                                     that the results file does not carry)
//   analyses(field, array, count)     a per-analysis array (std::vector or AnalysisArray) of
//                                     count.n values, count.claimed_by naming the field that
//                                     claims the count
//   values(field, vector, count)      a list of reals of a length the design fixes
//   matrix(field, rows, count)        K rows of K values
//   object(field, x, describe)        a nested structure
//   kind(field, enum, names)          an enumeration written by name (in R by number)
// and is handed the structure itself, or a const one when it only reads it.
#include <concepts>
#include <type_traits>

#include "boundaries/gsdesign.h"
#include "common/design.h"
#include "common/futility_rule.h"
#include "common/information_set.h"
#include "samplesize/engine.h"
#include "simulation/simulated_power.h"

namespace kestrel::reports {

// What a reader checks of a field beyond its type.
enum class Check {
  none,
  probability,  // in [0, 1] (each value of an array)
  positive,     // above 0 (each value of an array)
  analyses,     // a count of analyses, 0 to NMAXA
};

struct Field {
  const char* key;      // results-file key; nullptr: not in the results file
  const char* r_name;   // name in the R package's lists; nullptr: not there
  const char* caption;  // what the figure is
  Check check = Check::none;
};

// The number of values a list holds and the field that claims it (for messages).
struct Count {
  int n;
  const char* claimed_by;
  // A count outside 0..NMAXA claims nothing: the writer writes no values, the reader takes
  // what it finds (at most NMAXA for a per-analysis array).
  bool valid() const { return n >= 0 && n <= NMAXA; }
};

// T is U, or const U.
template <class T, class U>
concept Is = std::same_as<std::remove_const_t<T>, U>;

inline constexpr const char* kFutilityKinds[] = {"none", "spending", "z", "hazard_ratio"};

// The deck values of a design, as read or as stored.
template <class V, Is<DeckValues> D>
void describe(V& v, D& d) {
  const Check p = Check::probability, pos = Check::positive;
  v.scalar(Field{"NSIM", "NSIM", "simulated trials (0: none)"}, d.NSIM);
  v.scalar(Field{"ITIME", "ITIME", "how the analyses are timed"}, d.ITIME);
  v.scalar(Field{"CPL", "CPL", "copula"}, d.CPL);
  v.scalar(Field{"CPRSK", "CPRSK", "competing risks"}, d.CPRSK);
  v.scalar(Field{"CMPST", "CMPST", "composite endpoint"}, d.CMPST);
  v.scalar(Field{"MSSG", "MSSG", "given maximum sample size (0: search)"}, d.MSSG);
  v.scalar(Field{"HR1", "HR1", "hazard ratio of EP1", pos}, d.HR1);
  v.scalar(Field{"HR2", "HR2", "hazard ratio of EP2", pos}, d.HR2);
  v.scalar(Field{"RHO", "RHO", "correlation of the endpoints"}, d.RHO);
  v.scalar(Field{"HR1TR", "HR1TR", "hazard ratio of EP1 in the simulation", pos}, d.HR1TR);
  v.scalar(Field{"HR2TR", "HR2TR", "hazard ratio of EP2 in the simulation", pos}, d.HR2TR);
  v.scalar(Field{"RHOTR", "RHOTR", "correlation in the simulation"}, d.RHOTR);
  v.scalar(Field{"TA", "TA", "accrual period"}, d.TA);
  v.scalar(Field{"TF", "TF", "follow-up period"}, d.TF);
  v.scalar(Field{"SRVR1", "SRVR1", "control survival of EP1 at the end of the study", p}, d.SRVR1);
  v.scalar(Field{"SRVR2", "SRVR2", "control survival of EP2 at the end of the study", p}, d.SRVR2);
  v.scalar(Field{"SR", "SR", "share of subjects on treatment", p}, d.SR);
  v.scalar(Field{"CNSRD", "CNSRD", "censoring"}, d.CNSRD);
  v.scalar(Field{"TYPE1", "TYPE1", "one-sided type I error", p}, d.TYPE1);
  v.scalar(Field{"RSV1", "RSV1", "reserved"}, d.RSV1);
  v.scalar(Field{"POWER", "POWER", "target power", p}, d.POWER);
  v.scalar(Field{"DF", "DF", "decision rule"}, d.DF);
  v.scalar(Field{"LOOK", "LOOK", "number of analyses", Check::analyses}, d.LOOK);
  v.scalar(Field{"CRIVL", "CRIVL", "critical-value option"}, d.CRIVL);
  v.scalar(Field{"ESF1", "ESF1", "spending code of EP1"}, d.ESF1);
  v.scalar(Field{"ESF2", "ESF2", "spending code of EP2"}, d.ESF2);
  v.analyses(Field{"TLOOK", "TLOOK", "analysis times"}, d.TLOOK, Count{d.LOOK, "LOOK"});
}

// The deck's header.
template <class V, Is<DeckHeader> H>
void describe(V& v, H& h) {
  v.scalar(Field{"NHD1", "NHD1", "header value 1"}, h.NHD1);
  v.scalar(Field{"NHD2", "NHD2", "header value 2"}, h.NHD2);
  v.scalar(Field{"XHD1", "XHD1", "header value 3"}, h.XHD1);
  v.scalar(Field{"XHD2", "XHD2", "header value 4"}, h.XHD2);
  v.scalar(Field{"TITLE", "TITLE", "title"}, h.TITLE);
}

// The analyses of an evaluated set: times, fractions, the terms of the information.
template <class V, Is<InformationSet> S>
void describe(V& v, S& s) {
  v.scalar(Field{"K", "K", "number of analyses", Check::analyses}, s.K);
  const Count K{s.K, "K"};
  v.analyses(Field{"TCAL", "TCAL", "calendar time"}, s.TCAL, K);
  v.analyses(Field{"FENR", "FENR", "enrolled fraction", Check::probability}, s.FENR, K);
  v.analyses(Field{"FINF1", "FINF1", "information fraction of EP1"}, s.FINF1, K);
  v.analyses(Field{"FINF2", "FINF2", "information fraction of EP2"}, s.FINF2, K);
  v.analyses(Field{"DRF1", "DRF1", "mean term of EP1 per subject"}, s.DRF1, K);
  v.analyses(Field{"DRF2", "DRF2", "mean term of EP2 per subject"}, s.DRF2, K);
  v.analyses(Field{"VAR01", "VAR01", "variance of EP1 under the null per subject"}, s.VAR01, K);
  v.analyses(Field{"VAR02", "VAR02", "variance of EP2 under the null per subject"}, s.VAR02, K);
  v.analyses(Field{"VAR11", "VAR11", "variance of EP1 under the alternative"}, s.VAR11, K);
  v.analyses(Field{"VAR12", "VAR12", "variance of EP2 under the alternative"}, s.VAR12, K);
  v.matrix(Field{"CORR12", "CORR12", "correlation of EP1 at analysis i and EP2 at analysis j"},
           s.CORR12, K);
  // Piecewise hazards only: the information-weighted average ratios, for reference.
  if (v.optional("AHR1", s.AHR1 != 0.0 || s.AHR2 != 0.0)) {
    v.scalar(Field{"AHR1", nullptr, "average hazard ratio of EP1", Check::positive}, s.AHR1);
    v.scalar(Field{"AHR2", nullptr, "average hazard ratio of EP2", Check::positive}, s.AHR2);
  }
}

// A single-endpoint boundary design as designed.
template <class V, Is<boundaries::GsDesignResult> R>
void describe(V& v, R& r, Count K) {
  const Check p = Check::probability;
  v.scalar(Field{"code_used", "code", "spending code used"}, r.code_used);
  v.scalar(Field{"phi_used", "phi", "spending parameter used"}, r.phi_used);
  v.analyses(Field{"za", "za", "lower z bound"}, r.za, K);
  v.analyses(Field{"zb", "zb", "upper z bound"}, r.zb, K);
  v.analyses(Field{"pd", "pd", "alpha spent", p}, r.pd, K);
  v.analyses(Field{"pe", "pe", "cumulative alpha", p}, r.pe, K);
  v.analyses(Field{"nominal_lower", "nominal_lower", "nominal level of the lower bound", p},
             r.nominal_lower, K);
  v.analyses(Field{"nominal_upper", "nominal_upper", "nominal level of the upper bound", p},
             r.nominal_upper, K);
  v.analyses(Field{"qpos", "qpos", "first crossing of the upper bound under the drift", p}, r.qpos,
             K);
  v.analyses(Field{"qneg", "qneg", "first crossing of the lower bound under the drift", p}, r.qneg,
             K);
  v.scalar(Field{"drift", "drift", "drift"}, r.drift);
  v.scalar(Field{"events", "events", "events (D)"}, r.events);
  v.scalar(Field{"expected_events", "expected_events", "expected events"}, r.expected_events);
  v.scalar(Field{"subjects", "subjects", "subjects (N)"}, r.subjects);
  v.scalar(Field{"pev", "pev", "event probability by the end of the study", p}, r.pev);
  v.scalar(Field{"drift_converged", "drift_converged", "the drift search converged"},
           r.drift_converged);
}

// An endpoint's own futility design (designs with futility stops).
template <class V, Is<boundaries::GsDesignResult> R>
void describe_futility(V& v, R& r, Count K) {
  const Check p = Check::probability;
  v.analyses(Field{"futility", "futility", "futility bound"}, r.futility, K);
  v.analyses(
      Field{"null_qpos", "null_qpos", "first crossing of the efficacy bound under the null", p},
      r.null_qpos, K);
  v.analyses(
      Field{"null_qneg", "null_qneg", "first crossing of the futility bound under the null", p},
      r.null_qneg, K);
  v.scalar(Field{"expected_events_null", "expected_events_null", "expected events under the null"},
           r.expected_events_null);
  // In R only (the results file does not carry it).
  v.scalar(Field{nullptr, "capped", "analyses whose futility bound was set to the efficacy bound"},
           r.futility_capped);
}

// The trial's futility figures at MSS (designs with futility stops).
template <class V, Is<samplesize::Evaluation> E>
void describe_futility(V& v, E& e, Count K) {
  const Check p = Check::probability;
  v.analyses(Field{"ZF1", "ZF1", "futility bound of EP1 in force"}, e.ZF1, K);
  v.analyses(Field{"ZF2", "ZF2", "futility bound of EP2 in force"}, e.ZF2, K);
  v.analyses(Field{"reach", "REACH", "probability of reaching the analysis", p}, e.REACH, K);
  v.analyses(Field{"QFUT", "QFUT", "probability of a futility stop there", p}, e.QFUT, K);
  const auto endpoint = [K](auto& w, auto& r) { describe_futility(w, r, K); };
  v.object(Field{"EP1", "ep1", "EP1's futility design"}, e.ep1, endpoint);
  v.object(Field{"EP2", "ep2", "EP2's futility design"}, e.ep2, endpoint);
}

// The trial under one hypothesis (the alternative or a null) at MSS.
template <class V, Is<samplesize::Evaluation::NullFigures> F>
void describe(V& v, F& f, Count K) {
  const Check p = Check::probability;
  v.scalar(Field{"hypothesis", "hypothesis", "hypothesis"}, f.hypothesis);
  v.scalar(Field{"success", "success", "probability of success", p}, f.success);
  v.scalar(Field{"success_without_futility", "success_without_futility",
                 "probability of success without the futility stops", p},
           f.success_without_futility);
  v.scalar(Field{"ASN", "ASN", "expected sample size"}, f.ASN);
  v.scalar(Field{"AVE1", "AVE1", "expected events of EP1"}, f.AVE1);
  v.scalar(Field{"AVE2", "AVE2", "expected events of EP2"}, f.AVE2);
  v.scalar(Field{"duration", "duration", "expected calendar time of the stop"}, f.duration);
  v.analyses(Field{"reach", "REACH", "probability of reaching the analysis", p}, f.REACH, K);
  v.analyses(Field{"QSTOP", "QSTOP", "probability of success there", p}, f.QSTOP, K);
  v.analyses(Field{"QFUT", "QFUT", "probability of a futility stop there", p}, f.QFUT, K);
}

// The bounds the two-endpoint trial uses after the critical-value option.
template <class V, Is<samplesize::Evaluation> E>
void describe_bounds_used(V& v, E& e, Count K) {
  v.analyses(Field{"ZA1", "ZA1", "lower bound of EP1 used"}, e.ZA1, K);
  v.analyses(Field{"ZB1", "ZB1", "upper bound of EP1 used"}, e.ZB1, K);
  v.analyses(Field{"ZA2", "ZA2", "lower bound of EP2 used"}, e.ZA2, K);
  v.analyses(Field{"ZB2", "ZB2", "upper bound of EP2 used"}, e.ZB2, K);
}

// The sample size found and the figures at it.
template <class V, Is<samplesize::Evaluation> E>
void describe_figures(V& v, E& e, Count K) {
  v.scalar(Field{"MSS", "MSS", "maximum sample size"}, e.MSS);
  v.scalar(Field{"APW", "APW", "power at the maximum sample size", Check::probability}, e.APW);
  v.scalar(Field{"ME1", "ME1", "maximum events of EP1"}, e.ME1);
  v.scalar(Field{"ME2", "ME2", "maximum events of EP2"}, e.ME2);
  v.scalar(Field{"AVE1", "AVE1", "expected events of EP1"}, e.AVE1);
  v.scalar(Field{"AVE2", "AVE2", "expected events of EP2"}, e.AVE2);
  v.scalar(Field{"ASN", "ASN", "expected sample size"}, e.ASN);
  v.analyses(Field{"QSTOP", "QSTOP", "probability of success at the analysis", Check::probability},
             e.QSTOP, K);
}

// A step of the sample-size search.
template <class V, Is<samplesize::SearchStep> S>
void describe(V& v, S& s) {
  v.scalar(Field{"iteration", "iteration", "step"}, s.iteration);
  v.scalar(Field{"size", "size", "sample size tried"}, s.size);
  v.scalar(Field{"power", "power", "its power", Check::probability}, s.power);
}

// The simulated trials' figures (the per-analysis rejections are written by the caller).
template <class V, Is<simulation::SimulationResult> S>
void describe(V& v, S& s) {
  const Check p = Check::probability;
  v.scalar(Field{"PWCS", "PWC", "simulated power: both endpoints rejected", p}, s.PWC);
  v.scalar(Field{"PWDS", "PWD", "simulated power: at least one endpoint rejected", p}, s.PWD);
  v.scalar(Field{"PW1S", "PW1", "simulated power of EP1", p}, s.PW1);
  v.scalar(Field{"PW2", "PW2", "simulated power of EP2", p}, s.PW2);
  v.scalar(Field{"E1", "E1", "expected events of EP1"}, s.E1);
  v.scalar(Field{"E2", "E2", "expected events of EP2"}, s.E2);
}

// A design's FUTILITY statement; K analyses (K - 1 interims).
template <class V, Is<FutilityRule> F>
void describe(V& v, F& f, int K) {
  v.kind(Field{"kind", "kind", "spending, fixed z or hazard ratio"}, f.kind, kFutilityKinds);
  v.scalar(Field{"binding", "binding", "binding"}, f.binding);
  v.scalar(Field{"code", "code", "beta spending code"}, f.code);
  v.scalar(Field{"phi", "phi", "beta spending parameter"}, f.phi);
  const bool spending = f.kind == FutilityRule::Kind::spending;
  v.values(Field{"cumulative", "cumulative", "cumulative beta (code 5)", Check::probability},
           f.cumulative, Count{spending && f.code == 5 ? K : 0, "LOOK"});
  const bool ratios = f.kind == FutilityRule::Kind::hazard_ratio;
  v.values(Field{"values", "values", "fixed z or hazard ratio per interim",
                 ratios ? Check::positive : Check::none},
           f.values, Count{spending ? 0 : K - 1, "LOOK, one value per interim analysis,"});
  v.scalar(Field{"line", nullptr, "deck line of the statement"}, f.line);
}

}  // namespace kestrel::reports
