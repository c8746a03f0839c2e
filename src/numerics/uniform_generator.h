#pragma once
// The process-wide uniform generator: multiplicative congruential x <- 950706376 x mod (2^31 - 1)
// (variant 5), computed by Schrage decompositions, with seed put and take and a clock seed on
// first use when no seed was chosen. Owned by the run and passed by reference.
#include <cstdint>
#include <functional>

namespace kestrel::numerics {

// One step x -> 950706376 x mod (2^31 - 1) by Schrage decompositions (exposed for tests).
std::int32_t schrage_step_950706376(std::int32_t x);

// The state `steps` draws of variant 5 after x: x 950706376^steps mod (2^31 - 1), by repeated
// squaring (the exponent is taken modulo 2^31 - 2, the order of every multiplier).
std::int32_t skip_ahead_950706376(std::int32_t x, std::uint64_t steps);

// The state `steps` draws after x of the generator of `variant` (1: multiplier 16807, 5:
// 950706376; 0 for any other variant, whose draws are not available).
std::int32_t skip_ahead(std::int32_t variant, std::int32_t x, std::uint64_t steps);

// A stretch of the generator's stream drawn apart from the generator itself, from a state the
// stream reached after some number of draws: a thread that draws its own share of the numbers
// of a simulated trial. next() gives the number UNIRAND gives from the same state (variants 1
// and 5 only).
class UniformStream {
 public:
  UniformStream(std::int32_t variant, std::int32_t state)
      : multiplier_(variant == 5 ? 950706376u : 16807u), variant_(variant), state_(state) {}
  double next() {
    state_ = static_cast<std::int32_t>(multiplier_ * static_cast<std::uint64_t>(state_) %
                                       2147483647u);
    return static_cast<double>(state_) * 4.656612875245797e-10;
  }
  void skip(std::uint64_t steps) { state_ = skip_ahead(variant_, state_, steps); }
  std::int32_t state() const { return state_; }

 private:
  std::uint64_t multiplier_;
  std::int32_t variant_;
  std::int32_t state_;
};

class UniformGenerator {
 public:
  // `clock_seed` returns the seed taken from the wall clock (10000 h + 100 m + s + 1, or
  // 123457 when that is <= 1); tests may replace it.
  UniformGenerator();
  explicit UniformGenerator(std::function<std::int32_t()> clock_seed);

  void RANDOPT(std::int32_t variant);  // 1..7; this system selects 5
  void SETSEED(std::int32_t seed);
  std::int32_t GETSEED();
  double UNIRAND();

  std::int32_t variant() const { return variant_; }
  bool seed_chosen() const { return seed_chosen_; }

  // The clock seed of the current local time.
  static std::int32_t wall_clock_seed();

 private:
  void first_touch();
  std::function<std::int32_t()> clock_seed_;
  std::int32_t seed_ = 0;
  std::int32_t variant_ = 0;
  bool seed_chosen_ = false;
  bool initialised_ = false;
};

}  // namespace kestrel::numerics
