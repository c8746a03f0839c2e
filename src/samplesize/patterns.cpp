#include "samplesize/patterns.h"

#include <stdexcept>

namespace kestrel::samplesize {

namespace {

PatternTable enumerate(int digits) {
  if (digits < 0 || digits > 24) throw std::invalid_argument("pattern table: unsupported size");
  PatternTable t;
  t.digits = digits;
  const long long n = t.count();
  t.cells.assign(static_cast<size_t>(n * digits), 0);
  for (long long p = 0; p < n; ++p) {
    // Repeated remainder and division by 2; missing high digits stay 0.
    long long v = p;
    for (int j = 0; j < digits && v > 0; ++j) {
      t.cells[static_cast<size_t>(p * digits + j)] = static_cast<std::uint8_t>(v % 2);
      v /= 2;
    }
  }
  return t;
}

}  // namespace

PatternTable PARTN01(int K) {
  return enumerate(2 * K);
}
PatternTable PARTN02(int K) {
  return enumerate(K);
}

}  // namespace kestrel::samplesize
