// Placeholders until the layer lands; each is removed when its routine is built.
#include "boundaries/bounds_command.h"

namespace kestrel::boundaries {
int run_bounds_command(const std::vector<std::string>&, std::ostream&, std::ostream& err) { err << "kestrel bounds: not built yet\n"; return 2; }
}  // namespace kestrel::boundaries
