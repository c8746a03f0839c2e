// The HTML report: one well-formed, self-contained page whose tables show the run's numbers to the
// digits printed and whose plots are drawn to scale.
#include "reports/html_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "reports/html_table.h"
#include "reports/report_fixture.h"

namespace kestrel::reports {
namespace {

using testing::shows;
using testing::strip_tags;
using testing::table_rows;

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

// ---- structure -------------------------------------------------------------------------------

TEST(HtmlReport, EveryElementIsClosedInOrder) {
  const std::string html = html_report(testing::stopped_run());
  static const std::set<std::string> void_elements = {"meta", "br"};
  std::vector<std::string> open;
  size_t p = 0;
  while ((p = html.find('<', p)) != std::string::npos) {
    if (html.compare(p, 2, "<!") == 0) {  // doctype
      p = html.find('>', p);
      continue;
    }
    const size_t q = html.find('>', p);
    ASSERT_NE(q, std::string::npos);
    std::string tag = html.substr(p + 1, q - p - 1);
    const bool closing = tag[0] == '/';
    const bool self_closing = tag.back() == '/';
    std::string name = tag.substr(closing ? 1 : 0);
    name = name.substr(0, name.find_first_of(" /"));
    if (closing) {
      ASSERT_FALSE(open.empty()) << "stray </" << name << ">";
      ASSERT_EQ(open.back(), name) << "at offset " << p;
      open.pop_back();
    } else if (!self_closing && !void_elements.count(name)) {
      open.push_back(name);
    }
    if (name == "style" && !closing) {  // skip the style sheet's text
      p = html.find("</style>", q);
      continue;
    }
    p = q + 1;
  }
  EXPECT_TRUE(open.empty());
}

TEST(HtmlReport, NeedsNoOtherFile) {
  const std::string html = html_report(testing::sample_run());
  for (const char* banned : {"<script", "<link", "<img", "<iframe", "<object", "@import", "url(", "src="})
    EXPECT_EQ(html.find(banned), std::string::npos) << banned;
  // Links only point inside the page; the one "http" is the SVG namespace name.
  const std::regex href("href=\"([^\"]*)\"");
  for (std::sregex_iterator it(html.begin(), html.end(), href), e; it != e; ++it)
    EXPECT_EQ((*it)[1].str()[0], '#') << (*it)[1].str();
  EXPECT_EQ(count(html, "http"), count(html, "xmlns=\"http://www.w3.org/2000/svg\""));
}

TEST(HtmlReport, EscapesDeckTextAndStrayBytes) {
  RunRecord run = testing::stopped_run();
  run.header.TITLE = "A<b>&\"c\" \x93quoted\x94";
  const std::string html = html_report(run);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_NE(html.find("A&lt;b&gt;&amp;&quot;c&quot; &#x93;quoted&#x94;"), std::string::npos);
  EXPECT_EQ(html_escape("\xC3\xA9"), "\xC3\xA9");  // valid UTF-8 kept
}

TEST(HtmlReport, StoppedRunShowsTheErrorAndTheUnfinishedDesign) {
  const std::string html = html_report(testing::stopped_run());
  EXPECT_NE(html.find("id=\"run-error\""), std::string::npos);
  EXPECT_NE(html.find("INVERSE NORMAL ARGUMENT OUT OF (0,1)"), std::string::npos);
  EXPECT_NE(html.find("This design did not finish"), std::string::npos);
  EXPECT_EQ(html_report(testing::sample_run()).find("id=\"run-error\""), std::string::npos);
}

TEST(HtmlReport, WarnsWhenSearchOrDriftDidNotSettle) {
  RunRecord run = testing::sample_run();
  const std::string clean = html_report(run);
  EXPECT_EQ(clean.find("did not settle"), std::string::npos);
  EXPECT_EQ(clean.find("convergence problem"), std::string::npos);
  run.designs[1].sets[0].evaluation.end = samplesize::SearchEnd::step_limit;
  run.designs[1].sets[0].evaluation.ep1.drift_converged = false;
  const std::string html = html_report(run);
  EXPECT_NE(html.find("did not settle within its step limit"), std::string::npos);
  EXPECT_NE(html.find("convergence problem"), std::string::npos);
}

// ---- numbers ---------------------------------------------------------------------------------

TEST(HtmlReport, BoundaryTablesShowTheRecordToTheDigitsPrinted) {
  const RunRecord run = testing::sample_run();
  const std::string html = html_report(run);
  for (const DesignRecord& d : run.designs) {
    for (const EvaluatedSet& set : d.sets) {
      const std::string base = "d" + std::to_string(d.design.number) + "-" +
                               (set.label == "CALND" ? "calnd" : set.label == "EP1" ? "ep1" : "ep2");
      const auto& e = set.evaluation;
      for (int ep = 1; ep <= 2; ++ep) {
        const auto& r = ep == 1 ? e.ep1 : e.ep2;
        const auto& zb_used = ep == 1 ? e.ZB1 : e.ZB2;
        const auto& finf = ep == 1 ? set.information.FINF1 : set.information.FINF2;
        const auto rows = table_rows(html, base + "-ep" + std::to_string(ep));
        ASSERT_EQ(rows.size(), static_cast<size_t>(set.information.K)) << base << " EP" << ep;
        const bool used_column = zb_used != r.zb;
        for (int k = 0; k < set.information.K; ++k) {
          const auto& c = rows[k];
          ASSERT_EQ(c.size(), used_column ? 11u : 10u);
          EXPECT_EQ(c[0], std::to_string(k + 1));
          EXPECT_TRUE(shows(c[1], set.information.TCAL[k]));
          EXPECT_TRUE(shows(c[2], finf[k]));
          EXPECT_TRUE(shows(c[3], set.information.FENR[k]));
          if (r.za[k] <= -8) EXPECT_EQ(c[4], "--");  // one-sided: no lower bound
          else EXPECT_TRUE(shows(c[4], r.za[k]));
          EXPECT_TRUE(shows(c[5], r.zb[k]));
          size_t i = 6;
          if (used_column) EXPECT_TRUE(shows(c[i++], zb_used[k]));
          EXPECT_TRUE(shows(c[i++], r.nominal_upper[k]));
          EXPECT_TRUE(shows(c[i++], r.pd[k]));
          EXPECT_TRUE(shows(c[i++], r.pe[k]));
          EXPECT_TRUE(shows(c[i++], r.qpos[k]));
        }
      }
    }
  }
}

TEST(HtmlReport, NullsTableShowsEachHypothesisAndAnalysis) {
  RunRecord run = testing::sample_run();
  EXPECT_EQ(html_report(run).find("class=\"nulls\""), std::string::npos);  // only with figures
  auto& e = run.designs[0].sets[1].evaluation;
  for (const char* h : {"alternative", "global"})
    e.nulls.push_back({h, 0.0123456, 0.0234567, 612.5, 301.25, 280.5, 4.75, {1.0, 0.5, 0.25},
                       {0.1, 0.2, 0.3}, {0.4, 0.05, 0.0}});
  const auto rows = table_rows(html_report(run), "d1-ep2-nulls");
  ASSERT_EQ(rows.size(), 6u);  // three analyses per hypothesis
  for (size_t h = 0; h < 2; ++h) {
    const auto& f = e.nulls[h];
    ASSERT_EQ(rows[3 * h].size(), 11u);
    EXPECT_EQ(rows[3 * h][0], f.hypothesis);
    const double head[] = {f.success, f.success_without_futility, f.ASN, f.AVE1, f.AVE2, f.duration};
    for (size_t c = 0; c < 6; ++c) EXPECT_TRUE(shows(rows[3 * h][c + 1], head[c]));
    for (size_t k = 0; k < 3; ++k) {
      const auto& r = rows[3 * h + k];
      const size_t at = k == 0 ? 7 : 0;  // the later rows hold only the analysis' cells
      ASSERT_EQ(r.size(), at + 4);
      EXPECT_EQ(r[at], std::to_string(k + 1));
      EXPECT_TRUE(shows(r[at + 1], f.REACH[k]));
      EXPECT_TRUE(shows(r[at + 2], f.QSTOP[k]));
      EXPECT_TRUE(shows(r[at + 3], f.QFUT[k]));
    }
  }
}

TEST(HtmlReport, SampleSizeAndStoppingTablesShowTheRecord) {
  const RunRecord run = testing::sample_run();
  const std::string html = html_report(run);
  const EvaluatedSet& set = run.designs[0].sets[1];
  const auto& e = set.evaluation;
  const auto results = table_rows(html, "d1-ep2-results");
  ASSERT_EQ(results.size(), 8u);
  EXPECT_EQ(results[0][2], std::to_string(e.NL) + "--" + std::to_string(e.NU));
  EXPECT_EQ(results[1][2], std::to_string(e.MSS));
  EXPECT_TRUE(shows(results[2][2], e.APW));
  EXPECT_EQ(results[3][2], std::to_string(e.ME1));
  EXPECT_EQ(results[4][2], std::to_string(e.ME2));
  EXPECT_TRUE(shows(results[5][2], e.ASN));
  EXPECT_TRUE(shows(results[6][2], e.AVE1));
  EXPECT_TRUE(shows(results[7][2], e.AVE2));

  const auto stop = table_rows(html, "d1-ep2-stopping");
  ASSERT_EQ(stop.size(), 3u);
  double cum = 0;
  for (int k = 0; k < 3; ++k) {
    cum += e.QSTOP[k];
    EXPECT_TRUE(shows(stop[k][2], e.MSS * set.information.FENR[k]));
    EXPECT_TRUE(shows(stop[k][3], e.ME1 * set.information.FINF1[k]));
    EXPECT_TRUE(shows(stop[k][4], e.ME2 * set.information.FINF2[k]));
    EXPECT_TRUE(shows(stop[k][5], e.QSTOP[k]));
    EXPECT_TRUE(shows(stop[k][6], cum));
    EXPECT_TRUE(shows(stop[k][7], e.QEP[k][0]));
    EXPECT_TRUE(shows(stop[k][8], e.QEP[k][1]));
  }
  const auto trace = table_rows(html, "d1-ep2-trace");
  ASSERT_EQ(trace.size(), e.trace.size());
  EXPECT_EQ(trace.back()[1], "461");

  const auto sim = table_rows(html, "d1-ep2-simulation");
  ASSERT_EQ(sim.size(), 7u);
  EXPECT_EQ(sim[0][2], "1000");
  EXPECT_TRUE(shows(sim[1][2], e.simulation->PWC));
  EXPECT_TRUE(shows(sim[3][2], e.simulation->PW1));
  const auto r = table_rows(html, "d1-ep2-simulation-r");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_TRUE(shows(r[2][3], e.simulation->R[2][2]));

  // The calendar design has no simulation and a non-finite expected sample size.
  EXPECT_EQ(table_rows(html, "d2-calnd-simulation").size(), 0u);
  EXPECT_EQ(table_rows(html, "d2-calnd-results")[5][2], "--");
  // The copula parameters.
  const auto cop = table_rows(html, "d1-copula");
  EXPECT_TRUE(shows(cop[0][2], run.designs[0].THETA));
}

TEST(HtmlReport, InputsTableListsReadAndStoredValues) {
  const RunRecord run = testing::sample_run();
  const std::string html = html_report(run);
  const size_t start = html.find("<table class=\"inputs\"");
  const std::string tail = html.substr(start, html.find("</table>", start) - start);
  std::vector<std::vector<std::string>> rows;
  const std::regex row("<tr><th><code>([^<]*)</code></th><td[^>]*>[^<]*</td><td[^>]*>([^<]*)</td><td[^>]*>([^<]*)</td>");
  for (std::sregex_iterator it(tail.begin(), tail.end(), row), e; it != e; ++it)
    rows.push_back({(*it)[1], strip_tags((*it)[2]), strip_tags((*it)[3])});
  ASSERT_EQ(rows.size(), 26u + 3u);
  EXPECT_EQ(rows[6][0], "HR1");
  EXPECT_TRUE(shows(rows[6][1], 0.75));
  EXPECT_TRUE(shows(rows[6][2], 1 / 0.75));
  EXPECT_EQ(rows[28][0], "TLOOK(3)");
}

TEST(HtmlReport, FixedPointTextForTables) {
  EXPECT_EQ(fixed(-0.00001, 4), "0.0000");
  EXPECT_EQ(fixed(-1.5, 2), "&#8722;1.50");
  EXPECT_EQ(fixed(std::nan(""), 3), "&#8211;");
  EXPECT_EQ(fixed(0.00034344743411201986, 6), "0.000343");
}

// ---- plots -----------------------------------------------------------------------------------

std::vector<std::pair<double, double>> polyline_points(const std::string& svg, const std::string& series) {
  std::vector<std::pair<double, double>> pts;
  const size_t g = svg.find("data-name=\"" + series + "\"");
  if (g == std::string::npos) return pts;
  const size_t p = svg.find("points=\"", g) + 8;
  const std::string list = svg.substr(p, svg.find('"', p) - p);
  const std::regex pt("([-0-9.]+),([-0-9.]+)");
  for (std::sregex_iterator it(list.begin(), list.end(), pt), e; it != e; ++it)
    pts.push_back({std::stod((*it)[1]), std::stod((*it)[2])});
  return pts;
}

std::vector<std::string> svgs(const std::string& html, const std::string& cls) {
  std::vector<std::string> out;
  for (size_t p = html.find("<svg class=\"" + cls + "\""); p != std::string::npos;
       p = html.find("<svg class=\"" + cls + "\"", p + 1))
    out.push_back(html.substr(p, html.find("</svg>", p) - p));
  return out;
}

TEST(HtmlReport, BoundsPlotIsDrawnToScale) {
  const RunRecord run = testing::sample_run();
  const std::string html = html_report(run);
  const auto plots = svgs(html, "bounds-plot");
  ASSERT_EQ(plots.size(), 3u);  // one per evaluated set
  for (size_t i = 0; i < plots.size(); ++i) {
    EXPECT_NE(plots[i].find(">Information fraction<"), std::string::npos);
    EXPECT_NE(plots[i].find(">Standardized z bound<"), std::string::npos);
    EXPECT_NE(plots[i].find("class=\"legend\""), std::string::npos);
  }
  // First set: pixel positions are affine in (information fraction, z), z pointing up.
  const EvaluatedSet& set = run.designs[0].sets[0];
  for (int ep = 1; ep <= 2; ++ep) {
    const auto pts = polyline_points(plots[0], ep == 1 ? "EP1 upper bound" : "EP2 upper bound");
    const auto& z = ep == 1 ? set.evaluation.ZB1 : set.evaluation.ZB2;
    const auto& f = ep == 1 ? set.information.FINF1 : set.information.FINF2;
    ASSERT_EQ(pts.size(), 3u);
    const double sx = (pts[2].first - pts[0].first) / (f[2] - f[0]);
    const double sy = (pts[2].second - pts[0].second) / (z[2] - z[0]);
    EXPECT_GT(sx, 0);
    EXPECT_LT(sy, 0);
    EXPECT_NEAR(pts[1].first, pts[0].first + sx * (f[1] - f[0]), 0.15);
    EXPECT_NEAR(pts[1].second, pts[0].second + sy * (z[1] - z[0]), 0.15);
  }
  // The same x and y scales for both endpoints: EP1's and EP2's last points share the final
  // analysis (fraction 1) and, with EP1's bounds used for both, the same bound.
  const auto p1 = polyline_points(plots[0], "EP1 upper bound");
  const auto p2 = polyline_points(plots[0], "EP2 upper bound");
  EXPECT_NEAR(p1[2].first, p2[2].first, 0.051);
  EXPECT_NEAR(p1[2].second, p2[2].second, 0.051);
  // One-sided designs draw no lower bound; the two-sided calendar design does.
  EXPECT_EQ(plots[0].find("lower bound"), std::string::npos);
  EXPECT_EQ(polyline_points(plots[2], "EP1 lower bound").size(), 2u);
}

TEST(HtmlReport, SuccessBarsAreProportionalToTheProbabilities) {
  const RunRecord run = testing::sample_run();
  const auto plots = svgs(html_report(run), "qstop-plot");
  ASSERT_EQ(plots.size(), 3u);
  const auto& q = run.designs[0].sets[0].evaluation.QSTOP;
  const std::regex bar("class=\"bar\" x=\"[-0-9.]+\" y=\"([-0-9.]+)\" width=\"[-0-9.]+\" height=\"([-0-9.]+)\"");
  std::vector<double> heights, bottoms;
  for (std::sregex_iterator it(plots[0].begin(), plots[0].end(), bar), e; it != e; ++it) {
    heights.push_back(std::stod((*it)[2]));
    bottoms.push_back(std::stod((*it)[1]) + heights.back());
  }
  ASSERT_EQ(heights.size(), q.size());
  for (size_t k = 1; k < q.size(); ++k) {
    EXPECT_NEAR(heights[k] / heights.back(), q[k] / q.back(), 0.003);
    EXPECT_NEAR(bottoms[k], bottoms[0], 0.11);  // all bars stand on the zero line
  }
  EXPECT_NE(plots[0].find(">Analysis<"), std::string::npos);
  EXPECT_NE(plots[0].find("P(success at analysis)"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::reports
