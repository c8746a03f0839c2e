#pragma once
// A run record made by hand for the results-file and HTML-report tests: two finished designs
// (information-driven with two sets and a simulation; calendar with a lower bound) and a third
// stopped by an error. The numbers are chosen to be awkward for decimal round trips.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "reports/run_record.h"

namespace kestrel::reports::testing {

inline boundaries::GsDesignResult endpoint_design(int K, double shift, bool two_sided) {
  boundaries::GsDesignResult r;
  r.code_used = 1;
  // Bounds that fall with the analyses, as spending of the O'Brien-Fleming type gives.
  for (int k = 1; k <= K; ++k) {
    const double t = static_cast<double>(k) / K;
    const double zb = 1.959963984540054 / std::sqrt(t) + shift;
    r.zb.push_back(zb);
    r.za.push_back(two_sided ? -zb : -8.0);
    r.pe.push_back(0.025 * t * t);
    r.pd.push_back(0.025 * t * t - (k > 1 ? 0.025 * (t - 1.0 / K) * (t - 1.0 / K) : 0.0));
    r.nominal_upper.push_back(0.5 * std::erfc(zb / std::sqrt(2.0)));
    r.nominal_lower.push_back(two_sided ? r.nominal_upper.back() : 0.0);
    r.qpos.push_back(0.1 + 0.2 * k / 3.0);
    r.qneg.push_back(two_sided ? 1e-3 / 3.0 : 0.0);
  }
  r.drift = 2.8 + shift / 7.0;
  r.events = 264 * K;
  r.expected_events = 230.0 + 1.0 / 3.0;
  r.subjects = 400 + K;
  r.pev = 0.6600000000000001;
  return r;
}

inline EvaluatedSet evaluated_set(const std::string& label, int K, bool simulate, bool two_sided) {
  EvaluatedSet s;
  s.label = label;
  InformationSet& in = s.information;
  in.K = K;
  for (int k = 0; k < K; ++k) {
    const double t = static_cast<double>(k + 1) / K;
    in.TCAL[k] = 1.5 + 2.5 * t + 0.1 / 3.0;
    in.FENR[k] = std::min(1.0, 0.4 + 0.7 * t);
    in.FINF1[k] = t;
    in.FINF2[k] = std::min(1.0, t * 0.9 + 0.1);
    in.DRF1[k] = -0.07 * t - 1e-17;
    in.DRF2[k] = -0.05 * t;
    in.VAR01[k] = 0.25 * t + 0.1 + 0.2;  // 0.1 + 0.2 is not 0.3
    in.VAR02[k] = 0.2 * t;
    in.VAR11[k] = 0.24 * t;
    in.VAR12[k] = 0.19 * t;
    for (int j = 0; j < K; ++j) in.CORR12[k][j] = 0.5 / (1.0 + std::abs(k - j)) + 1e-300;
  }
  samplesize::Evaluation& e = s.evaluation;
  e.ep1 = endpoint_design(K, 0.0, two_sided);
  e.ep2 = endpoint_design(K, 0.125, two_sided);
  e.ZA1 = e.ep1.za;
  e.ZB1 = e.ep1.zb;
  e.ZA2 = e.ep1.za;  // critical-value option 1: EP2 tested with EP1's bounds
  e.ZB2 = e.ep1.zb;
  e.NL = 403;
  e.NU = 484;
  e.trace = {{0, 403, 0.71234567890123456}, {0, 484, 0.83}, {1, 461, 0.8000000000000002}};
  e.MSS = 461;
  e.APW = 0.8000000000000002;
  e.ME1 = 305;
  e.ME2 = 288;
  e.AVE1 = 250.0 / 3.0 + 200.0;
  e.AVE2 = 260.125;
  e.ASN = 430.0 + 2.0 / 3.0;
  for (int k = 0; k < K; ++k) {
    e.QSTOP.push_back(0.05 + 0.3 * k);
    e.QEP.push_back({0.1 + 0.25 * k, 0.07 + 0.2 * k});
  }
  if (simulate) {
    simulation::SimulationResult r;
    r.PW1 = 0.912;
    r.PW2 = 0.871;
    r.PWC = 0.7999;
    r.PWD = 0.95;
    r.E1 = 251.5;
    r.E2 = 233.25;
    for (int k = 0; k < K; ++k) r.R.push_back({0.1 * (k + 1), 0.05 * (k + 1), 0.04 * (k + 1)});
    e.simulation = r;
  }
  return s;
}

inline DeckValues deck_values(int ITIME, int K, int NSIM) {
  DeckValues d;
  d.NSIM = NSIM;
  d.ITIME = ITIME;
  d.CPL = 1;
  d.CPRSK = 1;
  d.CMPST = 1;
  d.MSSG = 0;
  d.HR1 = 0.75;
  d.HR2 = 0.8;
  d.RHO = 0.3;
  d.HR1TR = 0.75;
  d.HR2TR = 0.8;
  d.RHOTR = 0.3;
  d.TA = 2;
  d.TF = 2;
  d.SRVR1 = 0.4;
  d.SRVR2 = 0.5;
  d.SR = 0.5;
  d.CNSRD = 1;
  d.TYPE1 = 0.025;
  d.RSV1 = 0;
  d.POWER = 0.8;
  d.DF = 1;
  d.LOOK = K;
  d.CRIVL = 1;
  d.ESF1 = 1;
  d.ESF2 = 1;
  for (int k = 0; k < NMAXA; ++k) d.TLOOK[k] = k < K ? static_cast<double>(k + 1) / K : 9.5;
  return d;
}

inline Design design(int number, int line, int ITIME, int K, int NSIM) {
  Design d;
  d.number = number;
  d.first_line = line;
  d.read = deck_values(ITIME, K, NSIM);
  d.stored = d.read;
  d.stored.HR1 = 1 / d.read.HR1;
  d.stored.HR2 = 1 / d.read.HR2;
  d.stored.HR1TR = 1 / d.read.HR1TR;
  d.stored.HR2TR = 1 / d.read.HR2TR;
  SpendingStatement s;
  s.deck_code = 1;
  d.spending.push_back({s, s});
  if (ITIME == 1) d.spending.push_back({s, s});
  return d;
}

inline RunRecord sample_run() {
  RunRecord run;
  run.version = "0.1.0";
  run.seed = 123457;
  run.header.NHD1 = 1;
  run.header.NHD2 = 2;
  run.header.XHD1 = 0.1;
  run.header.XHD2 = -2.5e-7;
  run.header.TITLE = "Trial <A> & \"B\" \xC3\xA9t\xC3\xA9";  // "été" in UTF-8
  run.header.TITLE.resize(80, ' ');

  DesignRecord d1;
  d1.design = design(1, 3, 1, 3, 1000);
  d1.THETA = 0.8571428571428571;
  d1.THETATR = 0.8571428571428572;
  d1.sets.push_back(evaluated_set("EP1", 3, true, false));
  d1.sets.push_back(evaluated_set("EP2", 3, true, false));
  d1.complete = true;
  run.designs.push_back(d1);

  DesignRecord d2;
  d2.design = design(2, 5, 3, 2, 0);
  d2.design.read.TLOOK[0] = 2.0;
  d2.design.read.TLOOK[1] = 4.0;
  d2.design.stored.TLOOK = d2.design.read.TLOOK;
  d2.THETA = 5e-324;  // smallest subnormal
  d2.THETATR = std::numeric_limits<double>::max();
  d2.sets.push_back(evaluated_set("CALND", 2, false, true));
  d2.sets[0].evaluation.ASN = std::numeric_limits<double>::quiet_NaN();
  d2.sets[0].evaluation.AVE2 = -std::numeric_limits<double>::infinity();
  d2.complete = true;
  run.designs.push_back(d2);
  return run;
}

// sample_run() with a third design stopped by a terminal error before its evaluation finished.
inline RunRecord stopped_run() {
  RunRecord run = sample_run();
  DesignRecord d3;
  d3.design = design(3, 7, 2, 4, 0);
  d3.THETA = 2.0;
  d3.THETATR = 2.0;
  d3.complete = false;
  run.designs.push_back(d3);
  run.error = "ERROR: INVERSE NORMAL ARGUMENT OUT OF (0,1) \x01 <end>";
  return run;
}

}  // namespace kestrel::reports::testing
