#pragma once
// The HTML report "a/kestrel-report.html": one self-contained page (no external files, scripts
// or fonts) with a section per design: the inputs, the copula parameters, per evaluated set the
// boundary table of each endpoint, the sample-size results, the simulation results when present,
// and inline SVG plots of the z bounds against information fraction and of the probability of
// success at each analysis.
#include <string>
#include <string_view>

#include "reports/run_record.h"

namespace kestrel::reports {

std::string html_report(const RunRecord& run);

// Text escaped for HTML content and attribute values. Valid UTF-8 passes through; a byte that is
// not part of valid UTF-8 is written as the character of the same value.
std::string html_escape(std::string_view text);

// Fixed-point text with d decimals as the tables show it ("-" for a value that is not finite;
// a negative value that rounds to zero loses its sign).
std::string fixed(double v, int d);

}  // namespace kestrel::reports
