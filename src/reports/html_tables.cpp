// The tables of the HTML report: the inputs, each endpoint's boundaries, the sample-size results
// and search, the per-analysis figures, the simulation, the futility stops and the nulls.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "boundaries/futility.h"
#include "reports/html_parts.h"
#include "reports/html_report.h"

namespace kestrel::reports::html_parts {

namespace {

// The HAZARDS statements in the inputs table: per endpoint and piece its start, control hazard
// and ratio (treatment over control).
void hazards_rows(Page& p, const Design& d) {
  for (size_t e = 0; e < 2; ++e) {
    const EndpointHazards& h = d.entry_loss.hazards[e];
    const std::string ep = e == 0 ? "EP1" : "EP2";
    for (size_t k = 0; k < h.control.size(); ++k) {
      const std::string piece = ep + " piece " + std::to_string(k + 1) + " from time " +
                                gnum(k == 0 ? 0.0 : h.change[k - 1]);
      p << "<tr><th><code>HAZARDS</code></th>" << td_text("control hazard of " + piece)
        << td_num(gnum(h.control[k])) << td_num(gnum(h.control[k])) << "</tr>";
      p << "<tr><th><code>HAZARDS</code></th>"
        << td_text("hazard ratio (treatment over control) of " + piece)
        << td_num(gnum(h.ratio[k])) << td_num(gnum(h.ratio[k])) << "</tr>";
    }
  }
}

}  // namespace

void inputs_table(Page& p, const Design& d) {
  const DeckValues& r = d.read;
  const DeckValues& s = d.stored;
  p << "<table class=\"inputs\"><caption>Inputs as read from the deck and as stored (hazard ratios "
       "are held as their reciprocals, treatment over control)</caption>"
       "<thead><tr><th class=\"text\">Field</th><th class=\"text\">Meaning</th>"
       "<th class=\"num\">As read</th><th class=\"num\">As stored</th></tr></thead><tbody>";
  auto row_i = [&](const char* name, const std::string& meaning, int a, int b) {
    p << "<tr><th><code>" << name << "</code></th>" << td_text(meaning) << td_num(inum(a))
      << td_num(inum(b)) << "</tr>";
  };
  auto row_r = [&](const char* name, const std::string& meaning, double a, double b) {
    p << "<tr><th><code>" << name << "</code></th>" << td_text(meaning) << td_num(gnum(a))
      << td_num(gnum(b)) << "</tr>";
  };
  row_i("NSIM", s.NSIM > 0 ? "number of simulated trials" : "number of simulated trials (no simulation)",
        r.NSIM, s.NSIM);
  row_i("ITIME", std::string("analysis times given as ") + itime_text(s.ITIME), r.ITIME, s.ITIME);
  row_i("CPL", std::string("copula: ") + copula_text(s.CPL), r.CPL, s.CPL);
  row_i("CPRSK", std::string("censoring scheme: ") + cprsk_text(s.CPRSK), r.CPRSK, s.CPRSK);
  row_i("CMPST", std::string("composite flag: ") + cmpst_text(s.CMPST), r.CMPST, s.CMPST);
  row_i("MSSG", s.MSSG >= 1 ? "given maximum sample size (no search)" : "given maximum sample size (0: search)",
        r.MSSG, s.MSSG);
  row_r("HR1", "hazard ratio of EP1, design", r.HR1, s.HR1);
  row_r("HR2", "hazard ratio of EP2, design", r.HR2, s.HR2);
  row_r("RHO", "correlation of the event times, design", r.RHO, s.RHO);
  row_r("HR1TR", "hazard ratio of EP1, simulation", r.HR1TR, s.HR1TR);
  row_r("HR2TR", "hazard ratio of EP2, simulation", r.HR2TR, s.HR2TR);
  row_r("RHOTR", "correlation of the event times, simulation", r.RHOTR, s.RHOTR);
  row_r("TA", "accrual time", r.TA, s.TA);
  row_r("TF", "follow-up time after accrual", r.TF, s.TF);
  row_r("SRVR1", "control-arm survival of EP1 at the end of the study", r.SRVR1, s.SRVR1);
  row_r("SRVR2", "control-arm survival of EP2 at the end of the study", r.SRVR2, s.SRVR2);
  row_r("SR", "allocation weight of the treatment arm", r.SR, s.SR);
  row_i("CNSRD", "study censoring in the simulation (1: at the analysis time)", r.CNSRD, s.CNSRD);
  row_r("TYPE1", "one-sided significance level", r.TYPE1, s.TYPE1);
  row_r("RSV1", "reserved (not used)", r.RSV1, s.RSV1);
  row_r("POWER", "targeted power", r.POWER, s.POWER);
  row_i("DF", std::string("decision rule: ") + html_escape(df_title(s.DF)), r.DF, s.DF);
  row_i("LOOK", "number of analyses K", r.LOOK, s.LOOK);
  row_i("CRIVL", std::string("critical values: ") + crivl_text(s.CRIVL), r.CRIVL, s.CRIVL);
  row_i("ESF1", std::string("spending function of EP1: ") + esf_text(s.ESF1), r.ESF1, s.ESF1);
  row_i("ESF2", std::string("spending function of EP2: ") + esf_text(s.ESF2), r.ESF2, s.ESF2);
  const int K = std::clamp(s.LOOK, 0, NMAXA);
  for (int k = 0; k < K; ++k) {
    const std::string name = "TLOOK(" + std::to_string(k + 1) + ")";
    p << "<tr><th><code>" << name << "</code></th>"
      << td_text(s.ITIME >= 3 ? "calendar time of the analysis" : "information fraction of the analysis")
      << td_num(gnum(r.TLOOK[static_cast<size_t>(k)])) << td_num(gnum(s.TLOOK[static_cast<size_t>(k)]))
      << "</tr>";
  }
  const EntryAndLoss& el = d.entry_loss;
  const EntryAndLossStatements& how = d.entry_loss_statements;
  if (el.has_dropout()) {
    const char* arm[2] = {"control", "treatment"};
    for (int a = 0; a < 2; ++a) {
      std::string meaning = std::string("hazard of loss to follow-up per time unit, ") + arm[a] + " arm";
      double given = el.dropout[static_cast<size_t>(a)];
      if (how.dropout_as_probability) {
        meaning += " (given as the probability of being lost by time " + gnum(how.dropout_time) + ")";
        given = how.dropout_value[static_cast<size_t>(a)];
      }
      p << "<tr><th><code>DROPOUT</code></th>" << td_text(meaning) << td_num(gnum(given))
        << td_num(gnum(el.dropout[static_cast<size_t>(a)])) << "</tr>";
    }
  }
  // The MODEL and CONTROL statements: the form given, and the value in force.
  const ModelAndControl& mc = d.model_control;
  if (mc.model != 0) {
    p << "<tr><th><code>MODEL</code></th>"
      << td_text(mc.exact() ? "exact covariance under the alternative and exact bounds"
                            : "the default model")
      << td_text(mc.exact() ? "EXACT" : "DEFAULT") << td_text(mc.exact() ? "EXACT" : "DEFAULT")
      << "</tr>";
  }
  if (mc.control != ControlForm::EndOfStudy) {
    for (int ep = 0; ep < 2; ++ep) {
      const std::string e = ep == 0 ? "EP1" : "EP2";
      const std::string meaning =
          mc.control == ControlForm::Median   ? "control-arm median of " + e
          : mc.control == ControlForm::Hazard ? "control-arm hazard of " + e + " per time unit"
                                              : "control-arm survival of " + e + " at time " +
                                                    gnum(mc.control_time);
      p << "<tr><th><code>CONTROL</code></th>"
        << td_text(meaning + " (gives SRVR" + std::to_string(ep + 1) + ")")
        << td_num(gnum(mc.control_value[static_cast<size_t>(ep)]))
        << td_num(gnum(ep == 0 ? s.SRVR1 : s.SRVR2)) << "</tr>";
    }
  }
  if (d.futility.any()) {
    p << "<tr><th><code>FUTILITY</code></th>" << td_text("futility stops at the interim analyses")
      << td_num(html_escape(boundaries::describe_futility(d.futility))) << td_num("") << "</tr>";
  }
  if (el.has_ramp()) {
    for (size_t k = 0; k < el.accrual_end.size(); ++k) {
      const std::string piece = "accrual piece " + std::to_string(k + 1);
      p << "<tr><th><code>ACCRUAL</code></th>" << td_text("end of " + piece)
        << td_num(gnum(el.accrual_end[k])) << td_num(gnum(el.accrual_end[k])) << "</tr>";
      p << "<tr><th><code>ACCRUAL</code></th>" << td_text("relative intensity of " + piece)
        << td_num(gnum(el.accrual_intensity[k])) << td_num(gnum(el.accrual_intensity[k]))
        << "</tr>";
    }
  }
  hazards_rows(p, d);
  p << "</tbody></table>";
}

void boundary_table(Page& p, const std::string& id, const std::string& ep, const EvaluatedSet& set,
                    const boundaries::GsDesignResult& r, const std::vector<double>& za_used,
                    const std::vector<double>& zb_used, const AnalysisArray& finf) {
  const int K = count_k(set);
  bool differs = false;
  for (int k = 0; k < K; ++k)
    if (at(za_used, k) != at(r.za, k) || at(zb_used, k) != at(r.zb, k)) differs = true;
  bool one_sided = true;
  for (int k = 0; k < K; ++k)
    if (!no_lower(at(r.za, k))) one_sided = false;
  p << "<table class=\"bounds\" id=\"" << id << "\"><caption>" << ep << ": "
    << esf_text(r.code_used) << " spending";
  if (r.code_used == 3 || r.code_used == 4) p << " (&#966; = " << gnum(r.phi_used, 6) << ")";
  p << "</caption><thead><tr><th class=\"num\">Analysis</th><th class=\"num\">Calendar<br>time</th>"
       "<th class=\"num\">Information<br>fraction</th><th class=\"num\">Enrolled<br>fraction</th>"
       "<th class=\"num\">Lower<br>z bound</th><th class=\"num\">Upper<br>z bound</th>";
  if (differs) p << "<th class=\"num\">Upper z<br>used</th>";
  p << "<th class=\"num\">Nominal<br>one-sided level</th><th class=\"num\">Alpha<br>spent</th>"
       "<th class=\"num\">Cumulative<br>alpha</th><th class=\"num\">P(first crossing)<br>under the design</th>"
       "</tr></thead><tbody>";
  double total = 0;
  for (int k = 0; k < K; ++k) {
    const size_t kk = static_cast<size_t>(k);
    p << "<tr>" << td_num(std::to_string(k + 1)) << td_num(fixed(set.information.TCAL[kk], 3))
      << td_num(fixed(finf[kk], 4)) << td_num(fixed(set.information.FENR[kk], 4))
      << td_num(no_lower(at(r.za, k)) ? "&#8211;" : fixed(at(r.za, k), 4)) << td_num(fixed(at(r.zb, k), 4));
    if (differs) p << td_num(fixed(at(zb_used, k), 4));
    p << td_num(fixed(at(r.nominal_upper, k), 6)) << td_num(fixed(at(r.pd, k), 6))
      << td_num(fixed(at(r.pe, k), 6)) << td_num(fixed(at(r.qpos, k), 4)) << "</tr>";
    if (std::isfinite(at(r.qpos, k))) total += at(r.qpos, k);
  }
  p << "</tbody></table>";
  p << "<p class=\"note\">Single-endpoint design of " << ep << ": drift " << fixed(r.drift, 4)
    << ", " << inum(r.events) << " events, expected " << fixed(r.expected_events, 1) << " events, "
    << inum(r.subjects) << " subjects (event probability " << fixed(r.pev, 4)
    << "); total probability of crossing " << fixed(total, 4) << ".";
  if (one_sided) p << " One-sided design: no lower bound.";
  if (!r.drift_converged)
    p << " <strong>The drift search stopped without matching the power (convergence problem); "
         "the last drift is used.</strong>";
  if (differs) p << " The two-endpoint trial tests " << ep << " with the bounds in the column "
                    "&#8220;Upper z used&#8221; (critical-value option).";
  p << "</p>";
}

void results_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set) {
  const samplesize::Evaluation& e = set.evaluation;
  p << "<table class=\"kv results\" id=\"" << id << "\"><caption>Two-endpoint design: "
    << html_escape(df_title(d.design.stored.DF)) << "</caption><tbody>";
  auto row = [&](const char* name, const std::string& meaning, const std::string& value) {
    p << "<tr><th>" << meaning << "</th><td class=\"text\"><code>" << name << "</code></td>"
      << td_num(value) << "</tr>";
  };
  row("NL..NU", "Search bracket from the single-endpoint sizes", inum(e.NL) + "&#8201;&#8211;&#8201;" + inum(e.NU));
  row("MSS", d.design.stored.MSSG >= 1 ? "Maximum sample size (given)" : "Maximum sample size", inum(e.MSS));
  row("APW", "Power at the maximum sample size", fixed(e.APW, 4));
  row("ME1", "Maximum number of EP1 events", inum(e.ME1));
  row("ME2", "Maximum number of EP2 events", inum(e.ME2));
  row("ASN", "Expected sample size", fixed(e.ASN, 1));
  row("AVE1", "Expected number of EP1 events", fixed(e.AVE1, 1));
  row("AVE2", "Expected number of EP2 events", fixed(e.AVE2, 1));
  p << "</tbody></table>";
  switch (e.end) {
    case samplesize::SearchEnd::flat:
      p << "<p class=\"note\"><strong>The search stopped because the last two powers were equal; "
           "the last size is kept.</strong></p>";
      break;
    case samplesize::SearchEnd::alternating:
      p << "<p class=\"note\"><strong>The search alternated between two sizes; the larger is kept."
           "</strong></p>";
      break;
    case samplesize::SearchEnd::step_limit:
      p << "<p class=\"note\"><strong>The search did not settle within its step limit; the last size "
           "is kept.</strong></p>";
      break;
    case samplesize::SearchEnd::non_finite:
      p << "<p class=\"note\"><strong>The search stopped at a secant estimate that is not a number; "
           "the last size is kept.</strong></p>";
      break;
    default:
      break;
  }
  if (e.below_target)
    p << "<p class=\"note\"><strong>The power at this size stays below the targeted power."
         "</strong></p>";
}

void trace_table(Page& p, const std::string& id, const samplesize::Evaluation& e) {
  p << "<table class=\"trace\" id=\"" << id << "\"><caption>Sample-size search</caption><thead><tr>"
       "<th class=\"num\">Step</th><th class=\"num\">Sample size</th><th class=\"num\">Power</th>"
       "</tr></thead><tbody>";
  for (const auto& s : e.trace)
    p << "<tr>" << td_num(inum(s.iteration)) << td_num(inum(s.size)) << td_num(fixed(s.power, 4)) << "</tr>";
  p << "</tbody></table>";
}

void per_analysis_table(Page& p, const std::string& id, const EvaluatedSet& set) {
  const samplesize::Evaluation& e = set.evaluation;
  const int K = count_k(set);
  p << "<table class=\"stopping\" id=\"" << id << "\"><caption>Per analysis at the maximum sample size"
       "</caption><thead><tr><th class=\"num\">Analysis</th><th class=\"num\">Calendar<br>time</th>"
       "<th class=\"num\">Subjects<br>enrolled</th><th class=\"num\">EP1<br>events</th>"
       "<th class=\"num\">EP2<br>events</th><th class=\"num\">P(success<br>at analysis)</th>"
       "<th class=\"num\">Cumulative</th><th class=\"num\">P(EP1 first<br>rejected)</th>"
       "<th class=\"num\">P(EP2 first<br>rejected)</th></tr></thead><tbody>";
  double cum = 0;
  for (int k = 0; k < K; ++k) {
    const size_t kk = static_cast<size_t>(k);
    const double q = at(e.QSTOP, k);
    if (std::isfinite(q)) cum += q;
    const double q1 = kk < e.QEP.size() ? e.QEP[kk][0] : std::nan("");
    const double q2 = kk < e.QEP.size() ? e.QEP[kk][1] : std::nan("");
    p << "<tr>" << td_num(std::to_string(k + 1)) << td_num(fixed(set.information.TCAL[kk], 3))
      << td_num(fixed(e.MSS * set.information.FENR[kk], 1)) << td_num(fixed(e.ME1 * set.information.FINF1[kk], 1))
      << td_num(fixed(e.ME2 * set.information.FINF2[kk], 1)) << td_num(fixed(q, 4)) << td_num(fixed(cum, 4))
      << td_num(fixed(q1, 4)) << td_num(fixed(q2, 4)) << "</tr>";
  }
  p << "</tbody></table>";
}

void simulation_section(Page& p, const std::string& id, const DesignRecord& d,
                        const simulation::SimulationResult& s) {
  p << "<h4>Simulation</h4>";
  p << "<table class=\"kv simulation\" id=\"" << id << "\"><caption>Simulated trials at the maximum "
       "sample size, under the simulation values (hazard ratios, correlation)</caption><tbody>";
  auto row = [&](const char* name, const std::string& meaning, const std::string& value) {
    p << "<tr><th>" << meaning << "</th><td class=\"text\"><code>" << name << "</code></td>"
      << td_num(value) << "</tr>";
  };
  row("NSIM", "Number of simulated trials", inum(d.design.stored.NSIM));
  row("PWCS", "Proportion rejecting both endpoints", fixed(s.PWC, 4));
  row("PWDS", "Proportion rejecting at least one endpoint", fixed(s.PWD, 4));
  row("PW1S", "Proportion rejecting EP1", fixed(s.PW1, 4));
  row("PW2", "Proportion rejecting EP2", fixed(s.PW2, 4));
  row("E1", "Expected number of EP1 events", fixed(s.E1, 1));
  row("E2", "Expected number of EP2 events", fixed(s.E2, 1));
  for (size_t k = 0; k < s.F.size(); ++k)
    row("F", "Proportion stopped for futility at analysis " + std::to_string(k + 1), fixed(s.F[k], 4));
  p << "</tbody></table>";
  p << "<table class=\"simulation-r\" id=\"" << id << "-r\"><caption>Simulated rejections per analysis"
       "</caption><thead><tr><th class=\"num\">Analysis</th><th class=\"num\">EP1</th>"
       "<th class=\"num\">EP2</th><th class=\"num\">Both</th></tr></thead><tbody>";
  for (size_t k = 0; k < s.R.size(); ++k)
    p << "<tr>" << td_num(std::to_string(k + 1)) << td_num(fixed(s.R[k][0], 4)) << td_num(fixed(s.R[k][1], 4))
      << td_num(fixed(s.R[k][2], 4)) << "</tr>";
  p << "</tbody></table>";
}

void futility_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set) {
  const samplesize::Evaluation& e = set.evaluation;
  const int K = count_k(set);
  p << "<table class=\"futility\" id=\"" << id << "\"><caption>Futility stops ("
    << html_escape(boundaries::describe_futility(d.design.futility))
    << ") at the maximum sample size</caption><thead><tr><th class=\"num\">Analysis</th>"
       "<th class=\"num\">EP1 futility z</th><th class=\"num\">EP2 futility z</th>"
       "<th class=\"num\">P(reach)</th><th class=\"num\">P(success)</th>"
       "<th class=\"num\">P(futility stop)</th><th class=\"num\">EP1 futility<br>stop, null</th>"
       "<th class=\"num\">EP2 futility<br>stop, null</th></tr></thead><tbody>";
  for (int k = 0; k < K; ++k) {
    const bool last = k + 1 == K;
    p << "<tr>" << td_num(std::to_string(k + 1))
      << td_num(last ? std::string("final") : fixed(at(e.ZF1, k), 4))
      << td_num(last ? std::string("final") : fixed(at(e.ZF2, k), 4))
      << td_num(fixed(at(e.REACH, k), 4)) << td_num(fixed(at(e.QSTOP, k), 4))
      << td_num(fixed(at(e.QFUT, k), 4)) << td_num(fixed(at(e.ep1.null_qneg, k), 4))
      << td_num(fixed(at(e.ep2.null_qneg, k), 4)) << "</tr>";
  }
  p << "</tbody></table>";
  p << "<p class=\"note\">A trial stops for futility at the first analysis where an endpoint that "
       "must still succeed lies below its futility bound; at the final analysis the column gives "
       "the probability of ending without success. The null columns are each endpoint's "
       "single-endpoint design under its null. "
    << (d.design.futility.binding
            ? "Binding: the efficacy bounds were designed with the futility stops in force, so the "
              "type I error holds only if the trial does stop."
            : "Non-binding: the efficacy bounds are those without futility stops.")
    << "</p>";
}

// The operating characteristics under the alternative and each null (designs with futility
// stops, and every design of a run with --under-nulls): one row per hypothesis and analysis.
void null_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set) {
  const samplesize::Evaluation& e = set.evaluation;
  const bool futility = !e.ZF1.empty() || !e.ZF2.empty();
  p << "<table class=\"nulls\" id=\"" << id << "\"><caption>Operating characteristics under the "
       "alternative and the nulls at the maximum sample size</caption><thead><tr>"
       "<th>Hypothesis</th><th class=\"num\">P(success)</th>"
       "<th class=\"num\">without<br>futility</th><th class=\"num\">Expected<br>subjects</th>"
       "<th class=\"num\">EP1<br>events</th><th class=\"num\">EP2<br>events</th>"
       "<th class=\"num\">Duration</th><th class=\"num\">Analysis</th>"
       "<th class=\"num\">P(reach)</th><th class=\"num\">Efficacy<br>stop</th>"
       "<th class=\"num\">Futility<br>stop</th></tr></thead><tbody>";
  for (const auto& f : e.nulls) {
    const size_t K = f.REACH.size();
    for (size_t k = 0; k < K; ++k) {
      p << "<tr>";
      if (k == 0) {
        const std::string rows = " rowspan=\"" + std::to_string(K) + "\"";
        p << "<td" << rows << ">" << html_escape(f.hypothesis) << "</td>";
        for (const std::string& v : {fixed(f.success, 5), fixed(f.success_without_futility, 5),
                                     fixed(f.ASN, 1), fixed(f.AVE1, 1), fixed(f.AVE2, 1),
                                     fixed(f.duration, 3)})
          p << "<td class=\"num\"" << rows << ">" << v << "</td>";
      }
      p << td_num(std::to_string(k + 1)) << td_num(fixed(f.REACH[k], 4))
        << td_num(fixed(at(f.QSTOP, static_cast<int>(k)), 4))
        << td_num(fixed(at(f.QFUT, static_cast<int>(k)), 4)) << "</tr>";
    }
  }
  p << "</tbody></table>";
  p << "<p class=\"note\">P(success) is the power under the alternative and the type I error "
       "spent under a null (global: both hazard ratios 1; EP1 null: EP1 at 1 and EP2 at its "
       "alternative; EP2 null: the reverse), with the futility stops in force and without them. "
       "Subjects, events and duration are expected values until the trial stops, for success, for "
       "futility or at the final analysis; at the final analysis the futility column gives the "
       "probability of ending without success. "
    << (!futility ? "The design has no futility stops."
        : d.design.futility.binding
            ? "Binding futility stops: the type I error holds only if the trial does stop."
            : "Non-binding futility stops: the type I error without them holds whether or not "
              "the trial stops.")
    << "</p>";
}

}  // namespace kestrel::reports::html_parts
