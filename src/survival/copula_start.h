#pragma once
// Start tables of the copula parameter searches and the searches themselves with an explicit
// table, so that the table generator can run them on a provisional table.
#include <array>
#include <ostream>

#include "survival/copula_parameter.h"

namespace kestrel::survival::copula_start {

inline constexpr int kRows = 101;

// rho[k]: correlation of grid row k+1; theta[k]: a start value close to the routine's own
// solution there; beyond: the start when the correlation lies above the scanned grid.
struct StartTable {
  std::array<double, kRows> rho;
  std::array<double, kRows> theta;
  double beyond;
};

extern const StartTable kClayton;
extern const StartTable kPositiveStable;
extern const StartTable kFrank;

// The grid count of the Frank search, whatever the caller asks for.
inline constexpr int kFrankGrid = 399;

CopulaParameter clayton(const StartTable& table, int N, double rho);
CopulaParameter positive_stable(const StartTable& table, int N, double rho);
CopulaParameter frank(const StartTable& table, double rho, std::ostream& main_report);

}  // namespace kestrel::survival::copula_start
