#pragma once
// The limits of the significance level, the power, the spending parameters and the number of
// simulated trials. The deck checks, `kestrel bounds` and the R package apply these same limits,
// each refusing in its own words.
#include <cmath>

namespace kestrel::limits {

// One-sided significance level. Below 1e-6 the one-sided bound loses its meaning in double
// precision (1 - alpha/2 rounds to 1 near 1e-16 and the bounds reach their truncation at 8);
// above 0.5 the bounds turn negative and the test is no test.
inline constexpr double kMinSignificance = 1e-6;
inline constexpr double kMaxSignificance = 0.5;
inline bool significance_ok(double one_sided) {
  return one_sided >= kMinSignificance && one_sided <= kMaxSignificance;
}

// Power: above the one-sided significance level (below it the drift turns negative) and below 1.
inline bool power_ok(double power, double one_sided) { return power > one_sided && power < 1; }

// Spending parameters: the power family alpha * t^phi needs phi > 0, the Hwang-Shih-DeCani
// family gamma != 0 (a gamma whose exponentials overflow stops the calculation, naming the
// analysis where the spending is not a number).
inline bool spending_parameter_ok(int code, double phi) {
  if (code == 3) return phi > 0;
  if (code == 4) return phi != 0;
  return true;
}
inline const char* spending_parameter_allowed(int code) {
  return code == 3 ? "the power family needs phi > 0"
                   : "the Hwang-Shih-DeCani family needs phi (gamma) different from 0";
}

// Simulated trials of one design: 10 million take hours already.
inline constexpr int kMaxSimulations = 10'000'000;

// Subjects of one simulated trial: the simulation holds every subject of a trial in memory,
// about 330 bytes each on two threads (more with more threads: up to ten times that with ten
// analyses on twenty threads or more), so the limit needs about 0.33 GB. A trial of a million
// subjects is far beyond any clinical trial; a larger size is refused before the simulation
// starts instead of growing without bound.
inline constexpr int kMaxSimulatedSubjects = 1'000'000;
inline constexpr double kSimulatedBytesPerSubject = 330;

// Shares the simulation can allocate: a ratio of two whole numbers up to 10:10 (treatment :
// control), within 1e-4 of the share, randomised in blocks of the reduced ratio's size. Shares
// that qualify are at least 1/380 apart, so the tolerance never makes one share two.
inline constexpr double kShareTolerance = 1e-4;
inline bool simulable_share(double share) {
  for (int m = 2; m <= 20; ++m)
    for (int c = 1; c < m; ++c)
      if (c <= 10 && m - c <= 10 && std::fabs(share - static_cast<double>(c) / m) <= kShareTolerance)
        return true;
  return false;
}
inline const char* simulable_share_allowed() {
  return "a ratio of two whole numbers up to 10:10, within 1e-4 (such as 0.5, 2/3 written "
         "0.6667, 0.6 or 0.75)";
}

// Calendar analysis times are compared with TA + TF with a tolerance of a few units in the last
// place, so that a final look written as the sum of one-decimal TA and TF is not refused.
inline bool within_study(double t, double end) {
  return t <= end + 4 * std::fabs(end) * 2.220446049250313e-16;
}

}  // namespace kestrel::limits
