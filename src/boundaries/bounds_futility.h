#pragma once
// The futility part of `kestrel bounds`: the table of futility bounds and operating
// characteristics under the alternative and the null, and its CSV columns.
#include <ostream>

#include "boundaries/bounds_command.h"

namespace kestrel::boundaries {

inline constexpr const char* kFutilityCsvHeader =
    ",futility,futility_nominal,futility_hr,futility_stop_alternative,futility_stop_null,"
    "efficacy_null,time_alternative,time_null,expected_events_null,expected_subjects_alternative,"
    "expected_subjects_null,type1_with_futility";

void print_futility_table(const BoundsTable& table, std::ostream& out);
// The futility columns of analysis i (0-based), each preceded by a comma.
void write_futility_csv_columns(const BoundsTable& table, int i, std::ostream& out);

}  // namespace kestrel::boundaries
