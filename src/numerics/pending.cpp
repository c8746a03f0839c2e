// Placeholders until the layer lands; each is removed when its routine is built.
#include <stdexcept>

#include "numerics/normal.h"
#include "numerics/uniform_generator.h"

namespace kestrel::numerics {
double GAUSSCDF(double) { throw std::logic_error("GAUSSCDF not built yet"); }
double GAUSSINV(double) { throw std::logic_error("GAUSSINV not built yet"); }
double ERFCOMP(double) { throw std::logic_error("ERFCOMP not built yet"); }
double ERFCINV(double) { throw std::logic_error("ERFCINV not built yet"); }
UniformGenerator::UniformGenerator() {}
UniformGenerator::UniformGenerator(std::function<std::int32_t()> c) : clock_seed_(std::move(c)) {}
void UniformGenerator::RANDOPT(std::int32_t) { throw std::logic_error("RANDOPT not built yet"); }
void UniformGenerator::SETSEED(std::int32_t) { throw std::logic_error("SETSEED not built yet"); }
std::int32_t UniformGenerator::GETSEED() { throw std::logic_error("GETSEED not built yet"); }
double UniformGenerator::UNIRAND() { throw std::logic_error("UNIRAND not built yet"); }
std::int32_t UniformGenerator::wall_clock_seed() { return 123457; }
}  // namespace kestrel::numerics
