#pragma once
// Outcome patterns of stacked statistics: pattern p (0-based) holds the base-2 digits of p, least
// significant first; digit j is 1 when statistic j lies above its limit and 0 when it does not.
#include <cstdint>
#include <vector>

namespace kestrel::samplesize {

// A table of 2^digits patterns, each `digits` entries of 0 or 1, stored pattern by pattern.
struct PatternTable {
  int digits = 0;
  std::vector<std::uint8_t> cells;
  long long count() const { return digits > 0 ? (1LL << digits) : 1; }
  const std::uint8_t* operator[](long long p) const { return cells.data() + p * digits; }
};

// All 2^(2K) patterns of EP1 at analyses 1..K (digits 0..K-1) and EP2 at 1..K (digits K..2K-1).
PatternTable PARTN01(int K);
// All 2^K patterns of EP1 at analyses 1..K.
PatternTable PARTN02(int K);

}  // namespace kestrel::samplesize
