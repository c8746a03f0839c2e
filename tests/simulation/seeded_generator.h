#pragma once
// The generator the simulated trials use (variant 5), started at a fixed seed; its clock seed is
// never read.
#include <cstdint>

#include "numerics/uniform_generator.h"

namespace kestrel::simulation {

inline numerics::UniformGenerator seeded(std::int32_t seed) {
  numerics::UniformGenerator g([] { return 99; });
  g.RANDOPT(5);
  g.SETSEED(seed);
  return g;
}

}  // namespace kestrel::simulation
