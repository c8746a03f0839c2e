// Placeholders until the layer lands; each is removed when its routine is built.
#include <stdexcept>

#include "mvn/mvndf.h"

namespace kestrel::mvn {
struct MvnState::Work {};
MvnState::MvnState() : work_(std::make_unique<Work>()) {}
MvnState::~MvnState() = default;
double MvnState::MVNUNI() { throw std::logic_error("MVNUNI not built yet"); }
double MVNDF(int, const double*, const double*, const int*, const double*, MvnState&, numerics::UniformGenerator&) { throw std::logic_error("MVNDF not built yet"); }
}  // namespace kestrel::mvn
