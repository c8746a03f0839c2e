// The driver's own report lines, checked against lines composed by hand from the column layouts.
#include "reports/report_lines.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "deck/deck.h"

namespace kestrel::reports {
namespace {

// Deck values as written in a deck (control over treatment).
DeckValues deck_values() {
  DeckValues d;
  d.NSIM = 0;
  d.ITIME = 1;
  d.CPL = 2;
  d.CPRSK = 2;
  d.CMPST = 1;
  d.MSSG = 400;
  d.HR1 = 0.5;
  d.HR2 = 1.25;
  d.RHO = 0.3;
  d.HR1TR = 0.5;
  d.HR2TR = 2.0;
  d.RHOTR = 0.2;
  d.TA = 2;
  d.TF = 3;
  d.SRVR1 = 0.3;
  d.SRVR2 = 0.4;
  d.SR = 0.5;
  d.CNSRD = 1;
  d.TYPE1 = 0.025;
  d.POWER = 0.8;
  d.DF = 3;
  d.LOOK = 3;
  d.CRIVL = 2;
  d.ESF1 = 1;
  d.ESF2 = 4;
  d.TLOOK = {0.3, 0.6, 1.0, 7, 7, 7, 7, 7, 7, 7};
  return d;
}

TEST(InputSummary, EveryRowInItsLayout) {
  std::ostringstream os;
  write_input_summary(os, deck::stored_values(deck_values()));
  // HR1 = 0.5 in the deck shows as 2.00; TYPE1 = 0.025 as 2.50; K = 3 gives three times;
  // the bracketed values are 0.3^2 = 0.09 and 0.4^0.8 = 0.4804...
  const std::string expected =
      " GROUP-SEQUENTIAL DESIGNS FOR TWO TIME-TO-EVENT OUTCOMES\n"
      " --- GIVEN INFORMATION TIME:EP1 AND EP2 ---\n"
      "\n"
      " 0: INPUT- PARAMETER VALUES AND SETTINGS \n"
      " _______________________________________ \n"
      "   DECISION-MAKING FRAMEWORK: FIXED SEQUENCE: EP1 ---> EP2" + std::string(12, ' ') + "\n"
      "            DEPENDENCY MODEL:   EARLY (PS)\n"
      "            CENSORING SCHEME:   ONE-FATAL\n"
      "HAZARD RATIO FOR EP1(HYP/TR):   2.00 /   2.00\n"
      "                 EP2(HYP/TR):   0.80 /   0.50\n"
      "   GIVEN MAXIMUM SAMPLE SIZE:   400\n"
      "         CORRELATION(HYP/TR):   0.30 /   0.20\n"
      "                ACCRUAL TIME:   2.00\n"
      "              FOLLOW-UP TIME:   3.00\n"
      " SURV RATE IN C AT T FOR EP1:   0.30  (  0.09)\n"
      "                     FOR EP2:   0.40  (  0.48)\n"
      "    SAMPLING RATIO OF T TO C:   0.50\n"
      "             STUDY CENSORING:   1\n"
      "       SIGNIFICANCE LEVEL(%):   2.50\n"
      "           TARGETED POWER(%):  80.00\n"
      " ERROR-SPENDING FUNC FOR EP1:   1\n"
      "                         EP2:   4\n"
      "             CRITICAL VALUES: BOTH ENDPOINTS ARE TESTED BY CRITICAL VALUES FROM EP2" +
      std::string(27, ' ') + "\n" +
      "      THE NUMBER OF ANALYSES:   3\n"
      "  TIMEPOINTS OF LOOK/ INFORM:   0.30   0.60   1.00\n"
      "\n"
      " 1: CORRESPONDING INFORMATION TIME AND LOGRANK TEST STATISTICS \n"
      "\n"
      "               EP1___________________________     EP2___________________________\n"
      "         CAL    INFOR LOGRANK TEST STATISTICS            LOGRANK TEST STATISTICS"
      "              SUB REC\n"
      " #ANAL  TIME     TIME     AVE VAR(H1) VAR(H0)       TIME     AVE VAR(H1) VAR(H0)"
      "     CORREL     PROP.\n";
  EXPECT_EQ(os.str(), expected);
}

TEST(InputSummary, CalendarTimesClaytonFrankAndSchemes) {
  DeckValues d = deck_values();
  d.ITIME = 3;
  d.CPL = 1;
  d.CPRSK = 3;
  d.LOOK = 2;
  d.TLOOK = {2.5, 5.0};
  std::ostringstream os;
  write_input_summary(os, deck::stored_values(d));
  const std::string s = os.str();
  EXPECT_NE(s.find("\n --- GIVEN CALENDER TIME                ---\n"), std::string::npos);
  EXPECT_EQ(s.find("GIVEN INFORMATION TIME"), std::string::npos);
  EXPECT_NE(s.find("\n            DEPENDENCY MODEL:   LATE  (CL)\n"), std::string::npos);
  EXPECT_NE(s.find("\n            CENSORING SCHEME:   BOTH FATAL\n"), std::string::npos);
  EXPECT_NE(s.find("\n  TIMEPOINTS OF LOOK/CALNDER:   2.50   5.00\n"), std::string::npos);
  EXPECT_EQ(s.find("INFORM:"), std::string::npos);

  d.CPL = 3;  // Frank: no dependency-model row
  d.CPRSK = 1;
  std::ostringstream frank;
  write_input_summary(frank, deck::stored_values(d));
  const std::string f = frank.str();
  EXPECT_EQ(f.find("DEPENDENCY MODEL"), std::string::npos);
  EXPECT_NE(f.find("CENSORING SCHEME:   BOTH NON-FATAL\n"), std::string::npos);
  // 34 rows less the rows that do not apply: one of rows 2/3, two of 8/9, one of 27/28.
  EXPECT_EQ(std::count(f.begin(), f.end(), '\n'), 34 - 1 - 2 - 1);
}

TEST(SummaryFile, HeaderLine) {
  EXPECT_EQ(summary_header(),
            "    ITM   CPL CPRSK CMPST    HR1   HR2 SRVR1 SRVR2    RHO RHOTR     TA    TF     SR"
            "  CNSRD  TYPE1 POWER     DF  LOOK CRIVL  ESF1-2    MSS     APW    ME1   ME2  AVE1"
            "  AVE2      PWCS    PWDS    PW1S     PW2   MSSS    APWS   ME1S  ME2S AVE1S AVE2S");
}

TEST(SummaryFile, LineFieldsInTheirColumns) {
  RunResults r;
  r.MSS = 512;
  r.APW = 0.80123;
  r.ME1 = 300;
  r.ME2 = 250;
  r.AVE1 = 234.6;
  r.AVE2 = 199.4;
  const DeckValues v = deck::stored_values(deck_values());
  EXPECT_EQ(summary_line(kLabelEp1, v, r),
            "    EP1,    2,    2,    1 , 2.00, 0.80, 0.30, 0.40 , 0.30, 0.20 ,  2.0,  3.0 ,  0.5"
            " ,    1 , 2.50,80.00 ,    3,    3,    2,  1,  4 ,  512,80.1230 ,  300,  250"
            " , 235., 199. , 0.0000, 0.0000, 0.0000, 0.0000 ,    0, 0.0000 ,    0,    0 ,   0.,"
            "   0.");
  // The EP2 line shows the simulation hazard ratios in the HR1 and HR2 columns.
  EXPECT_EQ(summary_line(kLabelEp2, v, r).substr(0, 50),
            "    EP2,    2,    2,    1 , 2.00, 0.50, 0.30, 0.40");
  EXPECT_EQ(summary_line(kLabelCalendar, v, r).substr(0, 50),
            "  CALND,    2,    2,    1 , 2.00, 0.80, 0.30, 0.40");
}

TEST(SummaryFile, SimulatedPowersArePercentAndOverflowIsWrittenInFull) {
  RunResults r;
  r.PWCS = 0.5;
  r.PWDS = 0.25;
  r.PW1S = 0.9;
  r.PW2 = 1.0;
  r.MSS = 123456;
  std::vector<std::string> overflowed;
  const std::string s = summary_line(kLabelEp1, deck::stored_values(deck_values()), r, &overflowed);
  EXPECT_NE(s.find(" ,123456,"), std::string::npos);  // MSS too wide for I5: in full
  // 100 % does not fit F7.4: written in full, the line one column longer.
  EXPECT_NE(s.find(",50.0000,25.0000,90.0000,100.0000 "), std::string::npos);
  EXPECT_EQ(overflowed, (std::vector<std::string>{"MSS", "PW2"}));
  EXPECT_EQ(s.find('*'), std::string::npos);
}

// Values that do not fit their columns (a deck in days, a given size of 5000, sizes of 100 000, a
// power of 0.999999, a level of 1e-6 that would show as 0.00) are written in full and named;
// every other field keeps its columns, so the line is as much longer as the values are wider.
TEST(SummaryFile, ValuesTooWideForTheirColumnsAreWrittenInFullAndNamed) {
  struct Case {
    std::function<void(DeckValues&, RunResults&)> set;
    std::vector<std::string> fields;
    std::string shown;  // as the value appears between its commas
    int longer;         // columns the line gains
  };
  const std::vector<Case> cases = {
      {[](DeckValues&, RunResults& r) { r.APW = 1.0; }, {"APW"}, ",100.0000 ", 1},
      {[](DeckValues&, RunResults& r) { r.MSS = 100000; }, {"MSS"}, " ,100000,", 1},
      {[](DeckValues&, RunResults& r) { r.AVE1 = 12345.4; }, {"AVE1"}, " ,12345.,", 1},
      {[](DeckValues& d, RunResults&) { d.TA = 1000; d.TF = 2000; }, {"TA", "TF"}, ",1000.0,2000.0 ", 2},
      {[](DeckValues& d, RunResults&) { d.POWER = 0.999999; }, {"POWER"}, ",100.00 ", 1},
      {[](DeckValues& d, RunResults&) { d.TYPE1 = 1e-6; }, {"TYPE1"}, " ,0.0001,", 1},
      {[](DeckValues& d, RunResults&) { d.TYPE1 = 1e-5; }, {"TYPE1"}, " ,0.001,", 0},
  };
  const std::string plain = summary_line(kLabelEp1, deck::stored_values(deck_values()), RunResults{});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    DeckValues d = deck_values();
    RunResults r;
    c.set(d, r);
    std::vector<std::string> overflowed;
    const std::string s = summary_line(kLabelEp1, deck::stored_values(d), r, &overflowed);
    EXPECT_EQ(overflowed, c.fields);
    EXPECT_NE(s.find(c.shown), std::string::npos) << s;
    EXPECT_EQ(s.size(), plain.size() + static_cast<size_t>(c.longer));
    EXPECT_EQ(s.find('*'), std::string::npos);
  }
}

TEST(InputSummary, ValuesTooWideForTheirFieldsAreWrittenInFullAndNamed) {
  DeckValues d = deck_values();
  d.ITIME = 3;
  d.MSSG = 123456;
  d.TA = 365;
  d.TF = 730;
  d.TLOOK = {365, 1095, 1095};
  d.TYPE1 = 1e-6;
  std::ostringstream os;
  std::vector<std::string> overflowed;
  write_input_summary(os, deck::stored_values(d), &overflowed);
  const std::string s = os.str();
  EXPECT_EQ(overflowed, (std::vector<std::string>{"MSSG", "TYPE1", "TLOOK(2)", "TLOOK(3)"}));
  EXPECT_NE(s.find("   GIVEN MAXIMUM SAMPLE SIZE: 123456\n"), std::string::npos);
  EXPECT_NE(s.find("                ACCRUAL TIME: 365.00\n"), std::string::npos);  // fits F6.2
  EXPECT_NE(s.find("              FOLLOW-UP TIME: 730.00\n"), std::string::npos);  // fits too
  EXPECT_NE(s.find("       SIGNIFICANCE LEVEL(%): 0.0001\n"), std::string::npos);
  EXPECT_NE(s.find("  TIMEPOINTS OF LOOK/CALNDER: 365.00 1095.00 1095.00\n"), std::string::npos);
  EXPECT_EQ(s.find('*'), std::string::npos);
}

TEST(Titles, BlankPaddedToTheirWidths) {
  EXPECT_EQ(df_title(1), "AT ANY INTERIMS" + std::string(25, ' '));
  EXPECT_EQ(df_title(4).substr(0, 31), "EP2 IS TESTED ONLY AT THE FINAL");
  EXPECT_EQ(crivl_title(3).size(), 80u);
  EXPECT_EQ(crivl_title(3).substr(0, 46), "EACH ENDPOINT IS TESTED BY EACH CRITICAL VALUE");
}

}  // namespace
}  // namespace kestrel::reports
