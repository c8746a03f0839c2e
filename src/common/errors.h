#pragma once
// Terminal errors of a calculation: the documented "stop the run" cases. The program catches
// RunError, writes the message, flushes and closes every report, and exits with status 1.
// An error about one value of a design also names the design (1-based) and the field.
#include <stdexcept>
#include <string>

namespace kestrel {

class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& message) : std::runtime_error(message) {}
  RunError(const std::string& message, int design, std::string field)
      : std::runtime_error(message), design_(design), field_(std::move(field)) {}

  int design() const { return design_; }            // 0 when the error is not about one design
  const std::string& field() const { return field_; }  // empty when not about one field

 private:
  int design_ = 0;
  std::string field_;
};

}  // namespace kestrel
