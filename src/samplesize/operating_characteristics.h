#pragma once
// The trial at the size found under the alternative and under the nulls: the global null (both
// hazard ratios 1) and, for rules 1 to 3, the two partial nulls (one endpoint at 1, the other at
// its alternative), where co-primary designs spend their type I error. Per hypothesis the
// probability of success with the futility stops in force and without them, the stops for
// efficacy and for futility at each analysis, the expected sample size, events of each endpoint
// and duration. Computed for every design with futility stops, and for the others with
// --under-nulls.
#include <ostream>
#include <vector>

#include "common/design.h"
#include "common/information_set.h"
#include "common/run_context.h"
#include "samplesize/engine.h"
#include "samplesize/power.h"

namespace kestrel::samplesize {

// What the trial has at each analysis under one hypothesis: subjects enrolled, events of each
// endpoint and the calendar time.
struct AnalysisFigures {
  std::vector<double> subjects, events1, events2, time;
};

// The expected figures of f from its probabilities of reaching each analysis (f.REACH) and of
// succeeding there (f.QSTOP): the futility stops QFUT (at the final: ending without success), and
// the expected subjects, events and calendar time at which the trial stops, for success, for
// futility or at the final analysis.
void expected_figures(const AnalysisFigures& at, Evaluation::NullFigures& f);

// The events of endpoint e (0 EP1, 1 EP2) expected at each analysis of the set at size MSS under
// the endpoint's null (both arms with the control arm's law): the subjects enrolled by the
// analysis times their probability of an observed event by then, loss to follow-up and accrual
// pieces included.
std::vector<double> null_events(const TrialModel& model, const InformationSet& set, int MSS, int e);
std::vector<double> null_events(const Design& design, const InformationSet& set, int MSS, int e);

// Fills ev.nulls at ev.MSS: the alternative first (its success and stops for efficacy those of
// the search, ev.APW and ev.QSTOP; with futility stops its reach ev.REACH), then the nulls, each
// at the design's calendar analysis times with the information, drifts and correlations the
// survival model gives there under that hypothesis (the model of pb with that hypothesis' hazard
// ratios) and the design's bounds. The alternative's events at each analysis are the planned ones, ME x FINF. The
// integrals use their own copies of the run's generators, so that nothing else of the run
// depends on whether they are computed.
void operating_characteristics(const PowerProblem& pb, Evaluation& ev, RunContext& ctx);

// The console block of ev.nulls.
void write_operating_characteristics(std::ostream& console, const Evaluation& ev);

}  // namespace kestrel::samplesize
