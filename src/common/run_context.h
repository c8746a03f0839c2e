#pragma once
// What a calculation needs from the run besides its inputs: the report streams, the process-wide
// uniform generator and the state of the lattice-rule generator. All are owned by the run.
#include "common/reports.h"

namespace kestrel::numerics {
class UniformGenerator;
}
namespace kestrel::mvn {
class MvnState;
}

namespace kestrel {

struct RunContext {
  Reports& reports;
  numerics::UniformGenerator& generator;
  mvn::MvnState& mvn;
  // --exact: the exact covariance of the scores under the alternative and the exact boundary
  // method, together, instead of the martingale covariance and the grid recursion.
  bool exact = false;
  // --under-nulls: every design is also evaluated under the global and partial nulls (a design
  // with futility stops always is).
  bool under_nulls = false;
};

}  // namespace kestrel
