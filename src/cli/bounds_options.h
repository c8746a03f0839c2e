#pragma once
// The options of `kestrel bounds` read into the calculator's request.
#include <string>
#include <vector>

#include "boundaries/bounds_request.h"

namespace kestrel::cli {

// The request and the command line's own switches.
struct BoundsOptions : boundaries::BoundsRequest {
  bool csv = false;
  bool help = false;
};

// A bad option: the message names the option, the value and what is allowed.
struct OptionError {
  std::string message;
  std::string option = {};  // the option at fault, when one is
};

// The options after "bounds" ("--alpha", "0.05", "--times=0.5,1", ...), checked; a bad one
// throws OptionError. With --help the rest is not read.
BoundsOptions parse_bounds_options(const std::vector<std::string>& args);

// The same options without --csv and --help, as the request alone; a bad option throws RunError
// whose field() names it.
boundaries::BoundsRequest parse_bounds_request(const std::vector<std::string>& options);

}  // namespace kestrel::cli
