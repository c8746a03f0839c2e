#include "reports/html_report.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "reports/html_parts.h"

namespace kestrel::reports {

using namespace html_parts;

namespace {

// ---------------------------------------------------------------------------------------------
// Page pieces

constexpr const char* kStyle = R"CSS(
:root { --ink:#1b1b1b; --muted:#5a5a5a; --rule:#2b2b2b; --light:#d9d9d9; --ep1:#0b5fa5; --ep2:#c2520c; }
* { box-sizing: border-box; }
body { font-family: "Charter", "Bitstream Charter", "Georgia", "Cambria", "Times New Roman", serif;
       color: var(--ink); background: #fff; max-width: 72rem; margin: 2rem auto; padding: 0 1.5rem;
       line-height: 1.45; font-size: 15px; }
h1 { font-size: 1.55rem; margin: 0 0 .25rem; font-weight: 600; }
h2 { font-size: 1.3rem; margin: 2.5rem 0 .75rem; padding-bottom: .25rem; border-bottom: 2px solid var(--rule); font-weight: 600; }
h3 { font-size: 1.1rem; margin: 1.75rem 0 .5rem; font-weight: 600; }
h4 { font-size: 1rem; margin: 1.25rem 0 .35rem; font-weight: 600; }
p { margin: .35rem 0 .6rem; }
.meta { color: var(--muted); font-size: .9rem; }
.note { color: var(--muted); font-size: .85rem; }
.error { border: 2px solid #a40000; background: #fff3f3; padding: .6rem .9rem; margin: 1rem 0; }
.incomplete { color: #a40000; font-weight: 600; }
table { border-collapse: collapse; margin: .4rem 0 1rem; font-size: .84rem; }
caption { caption-side: top; text-align: left; font-weight: 600; padding-bottom: .3rem; font-size: .92rem;
          white-space: nowrap; }
th, td { padding: .16rem .5rem; vertical-align: baseline; }
thead th { border-top: 2px solid var(--rule); border-bottom: 1px solid var(--rule); font-weight: 600;
           text-align: right; line-height: 1.2; }
thead th.text, td.text { text-align: left; }
tbody tr:last-child td, tbody tr:last-child th { border-bottom: 2px solid var(--rule); }
tfoot td { border-bottom: 2px solid var(--rule); font-weight: 600; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums lining-nums; white-space: nowrap; }
tbody th { text-align: left; font-weight: normal; white-space: nowrap; }
table.kv td.num { min-width: 6rem; }
code, .mono { font-family: "DejaVu Sans Mono", "Menlo", "Consolas", monospace; font-size: .85em; }
.set { margin-left: 0; }
.plots { display: flex; flex-wrap: wrap; gap: 1.5rem; align-items: flex-start; }
figure { margin: .5rem 0 1rem; width: 520px; }
figcaption { font-size: .85rem; color: var(--muted); }
svg text { font-family: "Helvetica Neue", "Arial", "DejaVu Sans", sans-serif; fill: var(--ink); }
nav table { font-size: .85rem; }
a { color: var(--ep1); text-decoration: none; }
footer { margin-top: 3rem; border-top: 1px solid var(--light); padding-top: .5rem; }
@media print { body { margin: 0; max-width: none; } section.design { break-before: page; }
               table, figure { break-inside: avoid; } }
)CSS";

// ---------------------------------------------------------------------------------------------
// Sections

// Futility stops: the futility bounds on the bounds plot (designs with a FUTILITY statement only).
void futility_series(const EvaluatedSet& set, std::vector<Series>& series) {
  const samplesize::Evaluation& e = set.evaluation;
  if (e.ZF1.empty() && e.ZF2.empty()) return;
  Series f1{"EP1 futility bound", "#0b5fa5", "1 3", '^', {}};
  Series f2{"EP2 futility bound", "#c2520c", "1 3", 'd', {}};
  const int K = count_k(set);
  for (int k = 0; k + 1 < K; ++k) {
    const size_t kk = static_cast<size_t>(k);
    if (!no_lower(at(e.ZF1, k))) f1.points.push_back({set.information.FINF1[kk], at(e.ZF1, k)});
    if (!no_lower(at(e.ZF2, k))) f2.points.push_back({set.information.FINF2[kk], at(e.ZF2, k)});
  }
  if (!f1.points.empty()) series.push_back(f1);
  if (!f2.points.empty()) series.push_back(f2);
}

void set_section(Page& p, const DesignRecord& d, const EvaluatedSet& set) {
  const std::string id = set_id(d, set);
  const samplesize::Evaluation& e = set.evaluation;
  const int K = count_k(set);
  p << "<section class=\"set\" id=\"" << id << "\"><h3>" << html_escape(set_title(set.label)) << "</h3>";
  p << "<h4>Boundaries</h4>";
  boundary_table(p, id + "-ep1", "EP1", set, e.ep1, e.ZA1, e.ZB1, set.information.FINF1);
  boundary_table(p, id + "-ep2", "EP2", set, e.ep2, e.ZA2, e.ZB2, set.information.FINF2);

  std::vector<Series> series;
  Series s1{"EP1 upper bound", "#0b5fa5", "", 'o', {}};
  Series s2{"EP2 upper bound", "#c2520c", "6 4", 's', {}};
  Series l1{"EP1 lower bound", "#0b5fa5", "2 3", '^', {}};
  Series l2{"EP2 lower bound", "#c2520c", "2 3", 'd', {}};
  for (int k = 0; k < K; ++k) {
    const size_t kk = static_cast<size_t>(k);
    const double f1 = set.information.FINF1[kk], f2 = set.information.FINF2[kk];
    if (std::isfinite(f1) && std::isfinite(at(e.ZB1, k))) s1.points.push_back({f1, at(e.ZB1, k)});
    if (std::isfinite(f2) && std::isfinite(at(e.ZB2, k))) s2.points.push_back({f2, at(e.ZB2, k)});
    if (std::isfinite(f1) && !no_lower(at(e.ZA1, k))) l1.points.push_back({f1, at(e.ZA1, k)});
    if (std::isfinite(f2) && !no_lower(at(e.ZA2, k))) l2.points.push_back({f2, at(e.ZA2, k)});
  }
  series.push_back(s1);
  series.push_back(s2);
  futility_series(set, series);
  if (!l1.points.empty()) series.push_back(l1);
  if (!l2.points.empty()) series.push_back(l2);
  p << "<div class=\"plots\"><figure>";
  bounds_chart(p, series, "Critical values used");
  p << "<figcaption>Upper z bounds of EP1 and EP2, each against its own information fraction, as "
       "the two-endpoint trial uses them.</figcaption></figure><figure>";
  std::vector<double> q(static_cast<size_t>(K));
  for (int k = 0; k < K; ++k) q[static_cast<size_t>(k)] = at(e.QSTOP, k);
  qstop_chart(p, q, "Probability of success");
  p << "<figcaption>Probability that the trial succeeds at each analysis (" << html_escape(df_title(d.design.stored.DF))
    << ") at the maximum sample size of " << inum(e.MSS) << " subjects.</figcaption>"
       "</figure></div>";

  if (set.information.AHR1 != 0.0 || set.information.AHR2 != 0.0) {
    p << "<p class=\"average-hr\">Information-weighted average hazard ratio (treatment over control), "
         "for reference: EP1 " << fixed(set.information.AHR1, 4) << ", EP2 "
      << fixed(set.information.AHR2, 4)
      << ". The power and the sample size use the model's drift, not these averages.</p>";
  }
  p << "<h4>Sample size</h4>";
  results_table(p, id + "-results", d, set);
  per_analysis_table(p, id + "-stopping", set);
  if (!set.evaluation.REACH.empty()) futility_table(p, id + "-futility", d, set);
  if (!set.evaluation.nulls.empty()) null_table(p, id + "-nulls", d, set);
  trace_table(p, id + "-trace", e);
  if (e.simulation) simulation_section(p, id + "-simulation", d, *e.simulation);
  p << "</section>";
}

void design_section(Page& p, const DesignRecord& d) {
  const DeckValues& s = d.design.stored;
  p << "<section class=\"design\" id=\"d" << d.design.number << "\"><h2>Design " << d.design.number
    << ": " << html_escape(df_title(s.DF)) << "</h2>";
  if (!d.complete) p << "<p class=\"incomplete\">This design did not finish; its results are incomplete.</p>";
  p << "<p>Success requires that " << df_text(s.DF) << "; " << crivl_text(s.CRIVL) << ". K = " << s.LOOK
    << " analyses, one-sided significance level " << gnum(s.TYPE1) << ", targeted power " << gnum(s.POWER)
    << ". Record starts on deck line " << d.design.first_line << ".</p>";
  p << "<h3>Inputs</h3>";
  inputs_table(p, d.design);
  survival_charts(p, d.design);
  p << "<h3>Copula parameter</h3>";
  p << "<table class=\"kv copula\" id=\"d" << d.design.number << "-copula\"><caption>" << copula_text(s.CPL)
    << " copula</caption><tbody>"
    << "<tr><th>Design (correlation " << gnum(s.RHO) << ")</th><td class=\"text\"><code>THETA</code></td>"
    << td_num(gnum(d.THETA, 8)) << "</tr>"
    << "<tr><th>Simulation (correlation " << gnum(s.RHOTR) << ")</th><td class=\"text\"><code>THETATR</code></td>"
    << td_num(gnum(d.THETATR, 8)) << "</tr></tbody></table>";
  for (const EvaluatedSet& set : d.sets) set_section(p, d, set);
  p << "</section>";
}

void overview(Page& p, const RunRecord& run) {
  p << "<nav><table class=\"overview\" id=\"overview\"><caption>Overview</caption><thead><tr>"
       "<th class=\"text\">Design</th><th class=\"text\">Analysis times</th><th class=\"text\">Decision rule</th>"
       "<th class=\"num\">K</th><th class=\"num\">MSS</th><th class=\"num\">Power</th><th class=\"num\">ME1</th>"
       "<th class=\"num\">ME2</th><th class=\"num\">ASN</th><th class=\"num\">Simulated<br>both</th>"
       "</tr></thead><tbody>";
  for (const DesignRecord& d : run.designs) {
    if (d.sets.empty()) {
      p << "<tr><td class=\"text\"><a href=\"#d" << d.design.number << "\">" << d.design.number
        << "</a></td><td class=\"text\" colspan=\"9\">" << (d.complete ? "no evaluation" : "did not finish")
        << "</td></tr>";
      continue;
    }
    for (const EvaluatedSet& set : d.sets) {
      const auto& e = set.evaluation;
      p << "<tr><td class=\"text\"><a href=\"#d" << d.design.number << "\">" << d.design.number
        << "</a></td><td class=\"text\"><a href=\"#" << set_id(d, set) << "\">" << html_escape(set.label)
        << "</a></td><td class=\"text\">" << html_escape(df_title(d.design.stored.DF)) << "</td>"
        << td_num(std::to_string(count_k(set))) << td_num(inum(e.MSS)) << td_num(fixed(e.APW, 4))
        << td_num(inum(e.ME1)) << td_num(inum(e.ME2)) << td_num(fixed(e.ASN, 1))
        << td_num(e.simulation ? fixed(e.simulation->PWC, 4) : "&#8211;") << "</tr>";
    }
  }
  p << "</tbody></table></nav>";
}

}  // namespace

std::string html_report(const RunRecord& run) {
  Page p;
  p.s.reserve(65536);
  std::string title = run.header.TITLE;
  while (!title.empty() && title.back() == ' ') title.pop_back();
  p << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
       "<meta name=\"generator\" content=\"kestrel " << html_escape(run.version) << "\">\n<title>Kestrel report"
    << (title.empty() ? "" : " &#8212; " + html_escape(title)) << "</title>\n<style>" << kStyle
    << "</style>\n</head>\n<body>\n<header><h1>Group-sequential design with two time-to-event endpoints</h1>";
  p << "<p class=\"meta\">" << (title.empty() ? "" : html_escape(title) + " &#183; ") << "Kestrel "
    << html_escape(run.version) << " &#183; seed "
    << (run.seed ? inum(*run.seed) : std::string("not used"));
  if (run.mvn_accuracy != 1e-8) {
    char eps[32];
    std::snprintf(eps, sizeof eps, "%.2g", run.mvn_accuracy);
    p << " &#183; normal probabilities to " << eps << " (--mvn-accuracy)";
  }
  if (run.exact) p << " &#183; exact covariance under the alternative and exact bounds (--exact)";
  if (run.under_nulls) p << " &#183; every design also under the nulls (--under-nulls)";
  p << " &#183; " << run.designs.size()
    << (run.designs.size() == 1 ? " design" : " designs") << "</p></header>\n";
  if (run.error) {
    p << "<div class=\"error\" id=\"run-error\"><strong>The run stopped with an error:</strong> "
      << html_escape(*run.error) << "<br>Results below are those finished before the error.</div>\n";
  }
  overview(p, run);
  for (const DesignRecord& d : run.designs) {
    design_section(p, d);
    p << "\n";
  }
  p << "<footer class=\"note\">Probabilities are given as fractions. z bounds are on the standardized "
       "log-rank scale; a one-sided design has no lower bound. Every figure is reproducible from the "
       "deck and the seed; the same numbers, unrounded, are in kestrel-results.json.</footer>\n"
       "</body>\n</html>\n";
  return std::move(p.s);
}

}  // namespace kestrel::reports
