#pragma once
// The table and the CSV of `kestrel bounds`.
#include <ostream>
#include <string>

#include "boundaries/bounds_request.h"

namespace kestrel::cli {

// The shortest text that reads back to the same double ("0.1", "1e-07").
std::string shortest(double v);

// The title, the table per analysis, the futility stops when in force, the events and calendar
// time of each analysis and, with piecewise hazards, the design's hazard ratio.
void print_bounds_table(const boundaries::BoundsResult& result, std::ostream& out);

// The table as CSV, one line per analysis after a header line.
void write_bounds_csv(const boundaries::BoundsResult& result, std::ostream& out);

}  // namespace kestrel::cli
