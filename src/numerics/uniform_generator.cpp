// The process-wide uniform generator. Variant 5 is the multiplicative congruential generator
// x <- 950706376 x mod (2^31 - 1), evaluated exactly in 32-bit integers by Schrage steps;
// variant 1 (in force before any selection) uses the multiplier 16807.
#include "numerics/uniform_generator.h"

#include <ctime>
#include <string>
#include <utility>

#include "common/errors.h"

namespace kestrel::numerics {
namespace {

constexpr std::int32_t kModulus = 2147483647;
constexpr double kReciprocal = 4.656612875245797e-10;  // nearest double to 1/(2^31 - 1)

// a x mod M for a = M div q ... by Schrage: a (x mod q) - r (x div q), plus M when negative.
inline std::int32_t schrage(std::int32_t x, std::int32_t a, std::int32_t q, std::int32_t r) {
  std::int32_t t = a * (x % q) - r * (x / q);
  if (t < 0) t += kModulus;
  return t;
}

}  // namespace

std::int32_t schrage_step_950706376(std::int32_t x) {
  const std::int32_t t1 = schrage(x, 32768, 65535, 32767);
  const std::int32_t t2 = schrage(x, 8392, 255895, 12807);
  const std::int32_t t3 = schrage(t1, 29013, 74017, 28426);
  std::int32_t next = t3 - kModulus + t2;  // (t3 + t2) mod M without overflow
  if (next < 0) next += kModulus;
  return next;
}

namespace {

std::int32_t skip_ahead_by(std::uint64_t multiplier, std::int32_t x, std::uint64_t steps) {
  constexpr std::uint64_t m = 2147483647u;
  std::uint64_t e = steps % (m - 1);  // a^(m-1) = 1 mod m (Fermat)
  std::uint64_t base = multiplier, power = 1;
  while (e > 0) {
    if (e & 1u) power = power * base % m;
    base = base * base % m;
    e >>= 1;
  }
  return static_cast<std::int32_t>(power * static_cast<std::uint64_t>(x) % m);
}

}  // namespace

std::int32_t skip_ahead_950706376(std::int32_t x, std::uint64_t steps) {
  return skip_ahead_by(950706376u, x, steps);
}

std::int32_t skip_ahead(std::int32_t variant, std::int32_t x, std::uint64_t steps) {
  if (variant == 5) return skip_ahead_by(950706376u, x, steps);
  if (variant == 1) return skip_ahead_by(16807u, x, steps);
  return 0;
}

UniformGenerator::UniformGenerator() : clock_seed_(&UniformGenerator::wall_clock_seed) {}

UniformGenerator::UniformGenerator(std::function<std::int32_t()> clock_seed)
    : clock_seed_(std::move(clock_seed)) {}

void UniformGenerator::first_touch() {
  if (initialised_) return;
  initialised_ = true;
  variant_ = 1;
}

void UniformGenerator::RANDOPT(std::int32_t variant) {
  if (variant < 1 || variant > 7) {
    throw RunError("IOPT = " + std::to_string(variant) +
                   ".  IOPT must be greater than or equal to 1 and less than or equal to 7.");
  }
  first_touch();
  variant_ = variant;
}

void UniformGenerator::SETSEED(std::int32_t seed) {
  if (seed == 0) {
    seed_ = clock_seed_();
    return;
  }
  first_touch();
  if (seed >= 1 && seed <= kModulus - 1) {
    seed_chosen_ = true;
    seed_ = seed;
    return;
  }
  if (!seed_chosen_) {
    seed_ = clock_seed_();
    seed_chosen_ = true;
  }
}

std::int32_t UniformGenerator::GETSEED() {
  first_touch();
  if (!seed_chosen_) {
    seed_ = clock_seed_();
    seed_chosen_ = true;
  }
  return seed_;
}

double UniformGenerator::UNIRAND() {
  if (!seed_chosen_ || !initialised_) GETSEED();
  switch (variant_) {
    case 5:
      // The exact product modulo 2^31 - 1 in 64-bit arithmetic: the same number as the Schrage
      // decomposition (schrage_step_950706376, checked against it in the tests), in fewer steps.
      seed_ = static_cast<std::int32_t>(static_cast<std::uint64_t>(950706376) *
                                        static_cast<std::uint64_t>(seed_) % 2147483647u);
      break;
    case 1:
      seed_ = schrage(seed_, 16807, 127773, 2836);
      break;
    default:
      throw RunError("Generator variant " + std::to_string(variant_) +
                     " is not available; only variants 1 and 5 are.");
  }
  return static_cast<double>(seed_) * kReciprocal;
}

std::int32_t UniformGenerator::wall_clock_seed() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::int32_t seed = 10000 * local.tm_hour + 100 * local.tm_min + local.tm_sec + 1;
  return seed <= 1 ? 123457 : seed;
}

}  // namespace kestrel::numerics
