// Placeholders until the layer lands; each is removed when its routine is built.
#include <stdexcept>

#include "simulation/simulated_power.h"

namespace kestrel::simulation {
SimulationResult GSDSIMDF(int, SimulationInput&, numerics::UniformGenerator&, mvn::MvnState&, std::ostream&, std::ostream&) { throw std::logic_error("GSDSIMDF not built yet"); }
}  // namespace kestrel::simulation
