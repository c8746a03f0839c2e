// Placeholders until the layer lands; each is removed when its routine is built.
#include <stdexcept>

#include "samplesize/engine.h"

namespace kestrel::samplesize {
Evaluation GSDBVRSURV01(const Design&, const InformationSet&, const std::array<SpendingStatement, 2>&, double, double, RunContext&) { throw std::logic_error("GSDBVRSURV01 not built yet"); }
}  // namespace kestrel::samplesize
