#pragma once
// `kestrel bounds`: the boundary calculator of the command line.
#include <ostream>
#include <string>
#include <vector>

namespace kestrel::boundaries {

// args: the options after "bounds". Returns the exit status (0, or 2 on bad options).
int run_bounds_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kestrel::boundaries
