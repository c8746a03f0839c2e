#pragma once
// Lan-DeMets alpha spending: spending functions, recursive numerical integration of the sequential
// statistic under the null, and the decimal stepping search of each upper bound. The grid density
// of the previous analysis and the bound arrays live in a BoundaryWork owned by the caller.
#include <ostream>
#include <vector>

namespace kestrel::boundaries {

double ZNORM(double p);  // AS 241 inverse normal; 0 for p <= 0 or p >= 1
double PNORM(double x);  // AS 66 normal distribution function
double NDENS(double x);  // standard normal density

// Work storage of the boundary recursion (score-scale bounds, grid counts, increment standard
// deviations, and the density of the previous analysis on its grid).
struct BoundaryWork {
  std::vector<double> ya, yb, sigma, s;
  std::vector<int> nints;
  std::vector<double> f;  // density of the previous analysis on its grid (up to 5001 points)
};

struct LandemResult {
  std::vector<double> za, zb;  // lower and upper standardized bounds
  std::vector<double> pe, pd;  // cumulative and incremental alpha spent
};

// side: 1 one-sided, 2 two-sided symmetric. iuse: spending code 1..6. user: code 5 values.
// Messages go to `report` (the main report).
LandemResult LANDEM(int nn, const std::vector<double>& t, const std::vector<double>& t2, double side,
                    int iuse, double alpha, double phi, double ztrun,
                    const std::vector<double>& user, BoundaryWork& work, std::ostream& report);

}  // namespace kestrel::boundaries
