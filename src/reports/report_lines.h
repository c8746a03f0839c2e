#pragma once
// The lines the run driver writes itself: the input summary of a design on the main report, the
// column header and the summary lines of the summary file, and the start-of-design console lines.
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/design.h"

namespace kestrel::reports {

// The result fields of the run parameter store that the summary line shows. They are not reset
// between designs: a field a design does not compute keeps the value of an earlier design.
struct RunResults {
  int MSS = 0;
  double APW = 0;
  int ME1 = 0, ME2 = 0;
  double AVE1 = 0, AVE2 = 0;
  double PWCS = 0, PWDS = 0, PW1S = 0, PW2 = 0;  // simulated power: joint, ..., EP1, EP2
  int MSSS = 0;  // the six fields below are written by no calculation and print as 0
  double APWS = 0;
  int ME1S = 0, ME2S = 0;
  double AVE1S = 0, AVE2S = 0;
};

inline constexpr std::string_view kLabelEp1 = "  EP1";
inline constexpr std::string_view kLabelEp2 = "  EP2";
inline constexpr std::string_view kLabelCalendar = "CALND";

std::string df_title(int DF);        // 40 characters, blank-padded
std::string crivl_title(int CRIVL);  // 80 characters, blank-padded

// The input summary of one design (stored values: hazard ratios as reciprocals) and the
// heading block of the information table that follows it. A value too wide for its column is
// written in full and its field named in `overflowed` (when given). A design with loss to
// follow-up or accrual pieces gets their lines after the analysis times.
void write_input_summary(std::ostream& main, const DeckValues& stored,
                         std::vector<std::string>* overflowed = nullptr,
                         const EntryAndLoss& entry_loss = {},
                         const EntryAndLossStatements& statements = {},
                         const FutilityRule* futility = nullptr);

// The column header line of the summary file.
std::string summary_header();

// One summary line. The line labelled "  EP2" shows HR1TR and HR2TR in the hazard-ratio columns.
// A value too wide for its column is written in full and its field named in `overflowed`.
std::string summary_line(std::string_view label, const DeckValues& stored, const RunResults& r,
                         std::vector<std::string>* overflowed = nullptr);

// The console lines at the start of a design, and before its copula parameters.
void write_design_banner(std::ostream& console);
void write_copula_banner(std::ostream& console, int CPL);

}  // namespace kestrel::reports
