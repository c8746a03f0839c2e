// Placeholders until the layer lands; each is removed when its routine is built.
#include <stdexcept>

#include "survival/copula_parameter.h"
#include "survival/correlation_matrix.h"
#include "survival/event_probability.h"
#include "survival/information.h"
#include "survival/model.h"

namespace kestrel::survival {
[[noreturn]] static void pending(const char* n) { throw std::logic_error(std::string(n) + " not built yet"); }
}  // namespace kestrel::survival
