#pragma once
// Terminal errors of a calculation: the documented "stop the run" cases. The program catches
// RunError, writes the message, flushes and closes every report, and exits with status 1.
#include <stdexcept>
#include <string>

namespace kestrel {

class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kestrel
