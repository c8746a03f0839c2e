// Placeholders until the layer lands; each is removed when its routine is built.
#include <stdexcept>

#include "boundaries/bounds_command.h"
#include "boundaries/gsdesign.h"

namespace kestrel::boundaries {
GsDesignResult GSDESIGN01(const GsDesignInput&, BoundaryWork&, std::ostream&) { throw std::logic_error("GSDESIGN01 not built yet"); }
int run_bounds_command(const std::vector<std::string>&, std::ostream&, std::ostream& err) { err << "kestrel bounds: not built yet\n"; return 2; }
}  // namespace kestrel::boundaries
