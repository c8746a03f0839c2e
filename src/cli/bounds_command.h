#pragma once
// `kestrel bounds`: the boundary calculator on the command line.
#include <ostream>
#include <string>
#include <vector>

namespace kestrel::cli {

// args: the options after "bounds". Prints the table (or CSV, or the help) on `out`, messages
// on `err`; returns the exit status: 0, 1 when the calculation could not be completed or the
// drift search did not reach the power, 2 on bad options.
int run_bounds_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestrel::cli
