#include "reports/report_lines.h"

#include <cmath>

#include "common/format.h"

namespace kestrel::reports {
namespace {

std::string padded(std::string_view text, std::size_t width) {
  std::string s(text.substr(0, width));
  s.resize(width, ' ');
  return s;
}

void put(std::ostream& os, const std::string& line) { os << line << '\n'; }

// Writes a record and keeps the names of its fields that did not fit.
void put(std::ostream& os, const fmt::Record& r, std::vector<std::string>* overflowed) {
  os << r.str() << '\n';
  if (overflowed) overflowed->insert(overflowed->end(), r.overflowed().begin(), r.overflowed().end());
}

}  // namespace

std::string df_title(int DF) {
  static constexpr std::string_view titles[4] = {
      "AT ANY INTERIMS", "AT THE SAME INTERIM", "FIXED SEQUENCE: EP1 ---> EP2",
      "EP2 IS TESTED ONLY AT THE FINAL"};
  return padded(DF >= 1 && DF <= 4 ? titles[DF - 1] : std::string_view(), 40);
}

std::string crivl_title(int CRIVL) {
  static constexpr std::string_view titles[3] = {
      "BOTH ENDPOINTS ARE TESTED BY CRITICAL VALUES FROM EP1",
      "BOTH ENDPOINTS ARE TESTED BY CRITICAL VALUES FROM EP2",
      "EACH ENDPOINT IS TESTED BY EACH CRITICAL VALUE"};
  return padded(CRIVL >= 1 && CRIVL <= 3 ? titles[CRIVL - 1] : std::string_view(), 80);
}

// The HAZARDS statements of a design in the input summary: per endpoint the start of each piece,
// the control hazards and the ratios (treatment over control), and the control survivals they
// came from when the deck stated those.
void write_hazards_summary(std::ostream& os, const EntryAndLoss& el,
                           const EntryAndLossStatements& how) {
  using fmt::Record;
  for (size_t e = 0; e < 2; ++e) {
    const EndpointHazards& h = el.hazards[e];
    if (!h.given()) continue;
    Record from, hz, ratio;
    from.lit(e == 0 ? "  PIECEWISE HAZARDS EP1 FROM:" : "  PIECEWISE HAZARDS EP2 FROM:");
    hz.lit("             CONTROL HAZARDS:");
    ratio.lit("        HAZARD RATIOS (T/C) :");
    for (size_t p = 0; p < h.control.size(); ++p) {
      from.x(1).f(p == 0 ? 0.0 : h.change[p - 1], 8, 3);
      hz.x(1).f(h.control[p], 8, 4);
      ratio.x(1).f(h.ratio[p], 8, 3);
    }
    put(os, from);
    put(os, hz);
    put(os, ratio);
    if (!how.survival_time[e].empty()) {
      Record t, sv;
      t.lit("    GIVEN AS CONTROL SURV AT:");
      sv.lit("            CONTROL SURVIVAL:");
      for (size_t p = 0; p < how.survival_time[e].size(); ++p) {
        t.x(1).f(how.survival_time[e][p], 8, 3);
        sv.x(1).f(how.survival_value[e][p], 8, 4);
      }
      put(os, t);
      put(os, sv);
    }
  }
}

namespace {

// The futility statement in the input summary: the way, its values and binding or not.
void write_futility_summary(std::ostream& os, const FutilityRule& f) {
  using fmt::Record;
  Record r;
  r.lit("              FUTILITY STOPS:");
  switch (f.kind) {
    case FutilityRule::Kind::spending:
      r.x(1).lit("BETA SPENDING").i(f.code, 3);
      if (f.code == 3 || f.code == 4) r.lit("  PARAMETER").f(f.phi, 8, 3);
      if (f.code == 5)
        for (double c : f.cumulative) r.x(1).f(c, 8, 4);
      break;
    case FutilityRule::Kind::fixed_z:
      r.x(1).lit("Z AT INTERIMS:");
      for (double v : f.values) r.x(1).f(v, 6, 2);
      break;
    case FutilityRule::Kind::hazard_ratio:
      r.x(1).lit("HR ABOVE AT INTERIMS:");
      for (double v : f.values) r.x(1).f(v, 6, 3);
      break;
    case FutilityRule::Kind::none:
      break;
  }
  put(os, r);
  put(os, Record().lit("                             ").x(1).lit(
              f.binding ? "BINDING (TYPE I ERROR HOLDS ONLY IF THE TRIAL DOES STOP)"
                        : "NON-BINDING"));
}

}  // namespace

void write_input_summary(std::ostream& os, const DeckValues& v,
                         std::vector<std::string>* overflowed, const EntryAndLoss& el,
                         const EntryAndLossStatements& how, const FutilityRule* futility) {
  using fmt::Record;
  put(os, " GROUP-SEQUENTIAL DESIGNS FOR TWO TIME-TO-EVENT OUTCOMES");
  if (v.ITIME == 3) put(os, " --- GIVEN CALENDER TIME                ---");
  if (v.ITIME <= 2) put(os, " --- GIVEN INFORMATION TIME:EP1 AND EP2 ---");
  put(os, fmt::list({}));
  put(os, " 0: INPUT- PARAMETER VALUES AND SETTINGS ");
  put(os, " _______________________________________ ");
  put(os, Record().lit("   DECISION-MAKING FRAMEWORK:").x(1).a(df_title(v.DF), 40));
  if (v.CPL == 1) put(os, Record().lit("            DEPENDENCY MODEL:").x(1).lit("  LATE  (CL)"));
  if (v.CPL == 2) put(os, Record().lit("            DEPENDENCY MODEL:").x(1).lit("  EARLY (PS)"));
  static constexpr std::string_view schemes[3] = {"  BOTH NON-FATAL", "  ONE-FATAL", "  BOTH FATAL"};
  if (v.CPRSK >= 1 && v.CPRSK <= 3)
    put(os, Record().lit("            CENSORING SCHEME:").x(1).lit(schemes[v.CPRSK - 1]));
  auto pair = [&](std::string_view label, const char* a_name, double a, const char* b_name,
                  double b) {
    put(os, Record().lit(label).x(1).name(a_name).f(a, 6, 2).x(1).lit("/").x(1).name(b_name)
                .f(b, 6, 2), overflowed);
  };
  pair("HAZARD RATIO FOR EP1(HYP/TR):", "HR1", v.HR1, "HR1TR", v.HR1TR);
  pair("                 EP2(HYP/TR):", "HR2", v.HR2, "HR2TR", v.HR2TR);
  put(os, Record().lit("   GIVEN MAXIMUM SAMPLE SIZE:").x(1).name("MSSG").i(v.MSSG, 5), overflowed);
  pair("         CORRELATION(HYP/TR):", "RHO", v.RHO, "RHOTR", v.RHOTR);
  put(os, Record().lit("                ACCRUAL TIME:").x(1).name("TA").f(v.TA, 6, 2), overflowed);
  put(os, Record().lit("              FOLLOW-UP TIME:").x(1).name("TF").f(v.TF, 6, 2), overflowed);
  put(os, Record().lit(" SURV RATE IN C AT T FOR EP1:").x(1).f(v.SRVR1, 6, 2).x(2).lit("(")
              .f(std::pow(v.SRVR1, v.HR1), 6, 2).lit(")"));
  put(os, Record().lit("                     FOR EP2:").x(1).f(v.SRVR2, 6, 2).x(2).lit("(")
              .f(std::pow(v.SRVR2, v.HR2), 6, 2).lit(")"));
  put(os, Record().lit("    SAMPLING RATIO OF T TO C:").x(1).f(v.SR, 6, 2));
  put(os, Record().lit("             STUDY CENSORING:").x(1).i(v.CNSRD, 3));
  put(os, Record().lit("       SIGNIFICANCE LEVEL(%):").x(1).name("TYPE1")
              .f_nonzero(100 * v.TYPE1, 6, 2), overflowed);
  put(os, Record().lit("           TARGETED POWER(%):").x(1).name("POWER").f(100 * v.POWER, 6, 2),
      overflowed);
  put(os, Record().lit(" ERROR-SPENDING FUNC FOR EP1:").x(1).i(v.ESF1, 3));
  put(os, Record().lit("                         EP2:").x(1).i(v.ESF2, 3));
  put(os, Record().lit("             CRITICAL VALUES:").x(1).a(crivl_title(v.CRIVL), 80));
  put(os, Record().lit("      THE NUMBER OF ANALYSES:").x(1).i(v.LOOK, 3));
  const int k = v.LOOK < 0 ? 0 : (v.LOOK > NMAXA ? NMAXA : v.LOOK);
  auto times = [&](std::string_view label) {
    Record r;
    r.lit(label);
    for (int i = 0; i < k; ++i)
      r.x(1).name("TLOOK(" + std::to_string(i + 1) + ")").f(v.TLOOK[static_cast<size_t>(i)], 6, 2);
    put(os, r, overflowed);
  };
  if (v.ITIME == 1 || v.ITIME == 2) times("  TIMEPOINTS OF LOOK/ INFORM:");
  if (v.ITIME == 3) times("  TIMEPOINTS OF LOOK/CALNDER:");
  if (el.has_dropout()) {
    put(os, Record().lit("   LOSS TO FOLLOW-UP HAZARD C:").x(1)
                .name("DROPOUT hazard of the control arm").f(el.dropout[0], 8, 4)
                .lit("   T:").x(1).name("DROPOUT hazard of the treatment arm").f(el.dropout[1], 8, 4)
                .lit("  PER TIME UNIT"), overflowed);
    if (how.dropout_as_probability) {
      put(os, Record().lit("      GIVEN AS LOST BY TIME :").x(1).name("DROPOUT time")
                  .f(how.dropout_time, 8, 2)
                  .lit("   C:").x(1).f(100 * how.dropout_value[0], 6, 2).lit("%")
                  .lit("   T:").x(1).f(100 * how.dropout_value[1], 6, 2).lit("%"), overflowed);
    }
  }
  if (el.has_ramp()) {
    Record ends, rates;
    ends.lit("   ACCRUAL PIECES ENDING AT:");
    rates.lit("     RELATIVE INTENSITIES   :");
    for (size_t p = 0; p < el.accrual_end.size(); ++p) {
      const std::string piece = "(" + std::to_string(p + 1) + ")";
      ends.x(1).name("ACCRUAL end" + piece).f(el.accrual_end[p], 6, 2);
      rates.x(1).name("ACCRUAL intensity" + piece).f(el.accrual_intensity[p], 6, 2);
    }
    put(os, ends, overflowed);
    put(os, rates, overflowed);
  }
  write_hazards_summary(os, el, how);
  if (futility != nullptr && futility->any()) write_futility_summary(os, *futility);
  put(os, fmt::list({}));
  put(os, Record().lit(" 1: CORRESPONDING INFORMATION TIME AND LOGRANK TEST").lit(" STATISTICS "));
  put(os, fmt::list({}));
  put(os, Record().x(1).lit("              EP1___________________________")
              .lit("     EP2___________________________"));
  put(os, Record().x(1).lit("        CAL    INFOR LOGRANK TEST STATISTICS")
              .lit("            LOGRANK TEST STATISTICS").lit("              SUB REC"));
  put(os, Record().x(1).lit("#ANAL  TIME     TIME     AVE VAR(H1) VAR(H0)")
              .lit("       TIME     AVE VAR(H1) VAR(H0)     CORREL").lit("     PROP."));
}

std::string summary_header() {
  return std::string("    ITM   CPL CPRSK CMPST    HR1   HR2 SRVR1 SRVR2") +
         "    RHO RHOTR     TA    TF     SR  CNSRD  TYPE1 POWER" +
         "     DF  LOOK CRIVL  ESF1-2    MSS     APW    ME1   ME2" +
         "  AVE1  AVE2      PWCS    PWDS    PW1S     PW2   MSSS" +
         "    APWS   ME1S  ME2S AVE1S AVE2S";
}

std::string summary_line(std::string_view label, const DeckValues& v, const RunResults& r,
                         std::vector<std::string>* overflowed) {
  const bool ep2 = label == kLabelEp2;
  fmt::Record s;
  s.x(2).a(label, 5);
  s.lit(",").name("CPL").i(v.CPL, 5).lit(",").name("CPRSK").i(v.CPRSK, 5);
  s.lit(",").name("CMPST").i(v.CMPST, 5);
  s.x(1);
  s.lit(",").name(ep2 ? "HR1TR" : "HR1").f(ep2 ? v.HR1TR : v.HR1, 5, 2);
  s.lit(",").name(ep2 ? "HR2TR" : "HR2").f(ep2 ? v.HR2TR : v.HR2, 5, 2);
  s.lit(",").name("SRVR1").f(v.SRVR1, 5, 2).lit(",").name("SRVR2").f(v.SRVR2, 5, 2);
  s.x(1).lit(",").name("RHO").f(v.RHO, 5, 2).lit(",").name("RHOTR").f(v.RHOTR, 5, 2);
  s.x(1).lit(",").name("TA").f(v.TA, 5, 1).lit(",").name("TF").f(v.TF, 5, 1);
  s.lit(" ,").name("SR").f(v.SR, 5, 1);
  s.lit(" ,").name("CNSRD").i(v.CNSRD, 5);
  s.x(1).lit(",").name("TYPE1").f_nonzero(100 * v.TYPE1, 5, 2);
  s.lit(",").name("POWER").f(100 * v.POWER, 5, 2);
  s.x(1);
  s.lit(",").name("DF").i(v.DF, 5).lit(",").name("LOOK").i(v.LOOK, 5);
  s.lit(",").name("CRIVL").i(v.CRIVL, 5);
  s.lit(",").name("ESF1").i(v.ESF1, 3).lit(",").name("ESF2").i(v.ESF2, 3);
  s.lit(" ,").name("MSS").i(r.MSS, 5);
  s.lit(",").name("APW").f(100 * r.APW, 7, 4);
  s.x(1).lit(",").name("ME1").i(r.ME1, 5).lit(",").name("ME2").i(r.ME2, 5);
  s.x(1).lit(",").name("AVE1").f(r.AVE1, 5, 0).lit(",").name("AVE2").f(r.AVE2, 5, 0);
  s.x(1);
  s.lit(",").name("PWCS").f(100 * r.PWCS, 7, 4).lit(",").name("PWDS").f(100 * r.PWDS, 7, 4);
  s.lit(",").name("PW1S").f(100 * r.PW1S, 7, 4).lit(",").name("PW2").f(100 * r.PW2, 7, 4);
  s.lit(" ,").name("MSSS").i(r.MSSS, 5);
  s.lit(",").name("APWS").f(100 * r.APWS, 7, 4);
  s.x(1).lit(",").name("ME1S").i(r.ME1S, 5).lit(",").name("ME2S").i(r.ME2S, 5);
  s.x(1).lit(",").name("AVE1S").f(r.AVE1S, 5, 0).lit(",").name("AVE2S").f(r.AVE2S, 5, 0);
  if (overflowed) overflowed->insert(overflowed->end(), s.overflowed().begin(), s.overflowed().end());
  return s.str();
}

void write_design_banner(std::ostream& console) {
  put(console, fmt::list({}));
  put(console, fmt::list({}));
  put(console, fmt::list({std::string_view("<----- NEW CALCULATION START ----->")}));
  put(console, fmt::list({}));
}

void write_copula_banner(std::ostream& console, int CPL) {
  put(console, fmt::list({std::string_view("CALCULATING THE ASSOCIATION PARAMETER FOR COLULA")}));
  if (CPL == 1) put(console, fmt::list({std::string_view("LATE DEPENDENCY BY CLAYTON")}));
  if (CPL == 2) put(console, fmt::list({std::string_view("EARLY DEPENDENCY BY POSITIVE STABLE")}));
}

}  // namespace kestrel::reports
