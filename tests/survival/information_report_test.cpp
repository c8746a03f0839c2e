// Report lines of the information routines: console reports, matrix file, unit-60 blocks and the
// rows of the main report's information table. Numbers are formatted here with printf-style
// editing, independently of the report formatter.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/reports.h"
#include "numerics/uniform_generator.h"
#include "survival/information.h"
#include "survival/information_kernel.h"

namespace kestrel::survival {
namespace {

std::vector<std::string> lines(const std::ostringstream& os) {
  std::vector<std::string> out;
  std::istringstream in(os.str());
  for (std::string s; std::getline(in, s);) out.push_back(s);
  return out;
}

std::string f(double v, int w, int d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*f", w, d, v);
  return buf;
}

std::string values(const double* v, int n, int w = 8, int d = 4) {
  std::string s;
  for (int k = 0; k < n; ++k) s += f(v[k], w, d);
  return s;
}

InformationInput report_design(int mode, int K, std::initializer_list<double> looks) {
  InformationInput in;
  in.K = K;
  in.model.copula = 1;
  in.model.competing_risks = mode;
  in.model.composite = 1;
  in.model.hazard_ratio[0] = 1.0 / 0.7;
  in.model.hazard_ratio[1] = 1.0 / 0.75;
  in.model.copula_parameter = 1.5;
  in.model.accrual_period = 2.0;
  in.model.follow_up = 1.0;
  in.model.control_survival[0] = 0.4;
  in.model.control_survival[1] = 0.5;
  in.model.treatment_share = 0.5;
  int k = 0;
  for (double v : looks) in.TLOOK[k++] = v;
  return in;
}

TEST(InformationReport, CalendarConsoleLinesInTheirColumns) {
  MemoryReports r;
  numerics::UniformGenerator gen([] { return 1; });
  const InformationInput in = report_design(1, 3, {1.0, 2.0, 3.0});
  const InformationSet out = detail::calendar_information(in, gen, r.reports, 60);
  MemoryReports r2;
  const detail::AnalysisSet s = detail::CVARGIVTIME(60, in, r2.reports);
  const auto con = lines(r.console);
  ASSERT_EQ(con.size(), 3u + 6u + 3u + 1u);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(con[k], " Non-Competing");
  const double tau[3] = {s.looks[0].tau, s.looks[1].tau, s.looks[2].tau};
  const double l[3] = {s.looks[0].l, s.looks[1].l, 1.0};
  EXPECT_EQ(con[3], " ------under given analysis times ------");
  EXPECT_EQ(con[4], "  Ac_Time" + values(tau, 3));
  EXPECT_EQ(con[5], "  Prop_Ns" + values(l, 3));
  EXPECT_EQ(con[6], "Infomation Time of logHR_EP1" + values(out.FINF1.data(), 3));
  EXPECT_EQ(con[7], "Infomation Time of logHR_EP2" + values(out.FINF2.data(), 3));
  EXPECT_EQ(con[8], "                  EP2=       1       2       3");
  EXPECT_EQ(con[9], "Correlation[EP1= 1,EP2]" + values(out.CORR12[0].data(), 3));
  EXPECT_EQ(con[11], "Correlation[EP1= 3,EP2]" + values(out.CORR12[2].data(), 3));
  EXPECT_EQ(con[12], " ------------");
  // The calendar set holds the requested times, the moved ones are reported.
  EXPECT_EQ(out.TCAL[0], 1.0);
}

TEST(InformationReport, CalendarMatrixFileAndMainReportRows) {
  MemoryReports r;
  numerics::UniformGenerator gen([] { return 1; });
  const InformationInput in = report_design(2, 3, {1.0, 2.0, 3.0});
  const InformationSet out = detail::calendar_information(in, gen, r.reports, 60);
  MemoryReports r2;
  const detail::AnalysisSet s = detail::CVARGIVTIME(60, in, r2.reports);

  const auto mat = lines(r.matrix);
  ASSERT_EQ(mat.size(), 2u + 12u);
  EXPECT_EQ(mat[0], " COVARIANCE MATRIX");
  for (int i = 0; i < 6; ++i) {
    std::vector<double> row(6);
    for (int j = 0; j < 6; ++j) row[j] = s.sig(i, j);
    EXPECT_EQ(mat[1 + i], values(row.data(), 6, 10, 4));
  }
  EXPECT_EQ(mat[7], " CORRELATION MATRIX");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(mat[8 + i].substr(10 * i, 10), "    1.0000");
  EXPECT_EQ(mat[8].substr(30, 10), f(out.CORR12[0][0], 10, 4));

  // The competing-risk name once per analysis, then one row per analysis whose values end under
  // the last character of their column headings.
  const auto main = lines(r.main);
  ASSERT_EQ(main.size(), 6u);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(main[k], " Semi-Competing");
  const std::string heading =
      std::string(" ") + "#ANAL  TIME     TIME     AVE VAR(H1) VAR(H0)" +
      "       TIME     AVE VAR(H1) VAR(H0)     CORREL" + "     PROP.";
  for (int k = 0; k < 3; ++k) {
    const std::string& row = main[3 + k];
    ASSERT_EQ(row.size(), heading.size());
    const std::string want = " " + std::string(4, ' ') + std::to_string(k + 1) +
                             f(s.looks[k].tau, 6, 2) + f(out.FINF1[k], 9, 4) +
                             f(out.DRF1[k], 8, 4) + f(out.VAR11[k], 8, 4) + f(out.VAR01[k], 8, 4) +
                             f(out.FINF2[k], 11, 4) + f(out.DRF2[k], 8, 4) +
                             f(out.VAR12[k], 8, 4) + f(out.VAR02[k], 8, 4) +
                             f(out.CORR12[k][k], 11, 4) + f(out.FENR[k], 10, 4);
    EXPECT_EQ(row, want);
    // Every value ends where its heading word ends.
    for (size_t c = 1; c < heading.size(); ++c) {
      const bool heading_ends = heading[c - 1] != ' ' && (c == heading.size() || heading[c] == ' ');
      if (heading_ends && c < heading.size()) EXPECT_EQ(row[c], ' ') << k << " col " << c;
    }
    EXPECT_NE(row.back(), ' ');
  }
}

TEST(InformationReport, FractionConsoleShowsEachEndpointUnderItsOwnLabel) {
  MemoryReports r;
  numerics::UniformGenerator gen([] { return 1; });
  const InformationInput in = report_design(3, 3, {0.3, 0.6, 1.0});
  const InformationSets out = detail::fraction_information(in, gen, r.reports, 80);
  const detail::FractionResult res = detail::CVGIVINFO(80, in);
  const auto con = lines(r.console);
  // 1 + 4, then 2 x (1 + 7), then 1 + 2, then 1 + 4, then 4 x (1 + 3), then the closing line.
  ASSERT_EQ(con.size(), 5u + 16u + 3u + 5u + 16u + 1u);
  EXPECT_EQ(con[0], " ------under given IFTs ------");
  EXPECT_EQ(con[1], " (TIME_EP1) T1=" + values(out.ep1_driven.TCAL.data(), 3));
  EXPECT_EQ(con[2], " (TIME_EP2) T2=" + values(out.ep2_driven.TCAL.data(), 3));
  const double ac1[3] = {res.achieved[0][0], res.achieved[1][0], 1.0};
  EXPECT_EQ(con[3], "     AcIFT_EP1=" + values(ac1, 3));
  EXPECT_EQ(con[5], " ------------");
  EXPECT_EQ(con[6], "   Mu_EP1_at_T1" + values(out.ep1_driven.DRF1.data(), 3));
  EXPECT_EQ(con[10], " Cov_EP12_at_T1" + values(std::vector<double>{res.sets[0].sig(0, 3),
                                                                     res.sets[0].sig(1, 4),
                                                                     res.sets[0].sig(2, 5)}
                                                     .data(),
                                                 3));
  EXPECT_EQ(con[14], "   Mu_EP1_at_T2" + values(out.ep2_driven.DRF1.data(), 3));
  EXPECT_EQ(con[15], "   Mu_EP2_at_T2" + values(out.ep2_driven.DRF2.data(), 3));
  EXPECT_EQ(con[16], "   Va_EP1_at_T2" + values(out.ep2_driven.VAR11.data(), 3));
  EXPECT_EQ(con[20], "   V0_EP2_at_T2" + values(out.ep2_driven.VAR02.data(), 3));
  // The nine-column label keeps its first nine characters.
  EXPECT_EQ(con[22], "Prop_Ns_a" + values(out.ep1_driven.FENR.data(), 3));
  EXPECT_EQ(con[23], "Prop_Ns_a" + values(out.ep2_driven.FENR.data(), 3));
  std::vector<double> ift(3);
  for (int k = 0; k < 3; ++k)
    ift[k] = out.ep2_driven.FENR[k] * out.ep2_driven.VAR11[k] / out.ep2_driven.VAR11[2];
  EXPECT_EQ(con[27], "Infomation Time of logHR_EP1 at T2" + values(ift.data(), 3));
  EXPECT_EQ(con[29], "                       EP2=       1       2       3");
  EXPECT_EQ(con[30], "Corr on T1-IFT [EP1= 1,EP2]" + values(out.ep1_driven.CORR12[0].data(), 3));
  EXPECT_EQ(con[34], "Corr on T2-IFT [EP1= 1,EP2]" + values(out.ep2_driven.CORR12[0].data(), 3));
  const std::vector<double> cov{res.sets[1].sig(1, 3), res.sets[1].sig(1, 4),
                                res.sets[1].sig(1, 5)};
  EXPECT_EQ(con[43], " Cov on T2-IFT [EP1= 2,EP2]" + values(cov.data(), 3));
  EXPECT_EQ(con.back(), " ------------");
  // Full competing risks write their name only on the calendar path.
  EXPECT_EQ(lines(r.main).size(), 6u);
}

// Rows of more than ten values continue on the next record.
TEST(InformationReport, UnitSixtyBlocksContinueLongRowsOnTheNextLine) {
  MemoryReports r;
  numerics::UniformGenerator gen([] { return 1; });
  const InformationInput in = report_design(1, 6, {0.2, 0.4, 0.5, 0.7, 0.9, 1.0});
  detail::fraction_information(in, gen, r.reports, 60);
  const detail::FractionResult res = detail::CVGIVINFO(60, in);
  const auto u60 = lines(r.unit60);
  ASSERT_EQ(u60.size(), 2u * (1u + 24u));
  for (int s = 0; s < 2; ++s) {
    const size_t at = static_cast<size_t>(s) * 25;
    EXPECT_EQ(u60[at], "     Cov on TIF   " + std::to_string(s + 1));
    for (int i = 0; i < 12; ++i) {
      std::vector<double> row(12);
      for (int j = 0; j < 12; ++j) row[j] = res.sets[s].sig(i, j);
      EXPECT_EQ(u60[at + 1 + 2 * i], values(row.data(), 10));
      EXPECT_EQ(u60[at + 2 + 2 * i], values(row.data() + 10, 2));
    }
  }
  // The fraction path leaves the matrix file alone.
  EXPECT_TRUE(r.matrix.str().empty());
}

}  // namespace
}  // namespace kestrel::survival
