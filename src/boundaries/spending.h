#pragma once
// Lan-DeMets alpha spending: spending functions, recursive numerical integration of the sequential
// statistic under the null, and the decimal stepping search of each upper bound. The grid density
// of the previous analysis and the bound arrays live in a BoundaryWork owned by the caller.
#include <ostream>
#include <string>
#include <vector>

namespace kestrel::boundaries {

// An information fraction in a message (six significant digits), and two of them ("a and b")
// with as many digits as they need to differ.
std::string fraction_text(double a);
std::string fraction_pair(double a, double b);

double ZNORM(double p);  // AS 241 inverse normal; 0 for p <= 0 or p >= 1
double PNORM(double x);  // AS 66 normal distribution function
double NDENS(double x);  // standard normal density

// Work storage of the boundary recursion (score-scale bounds, grid counts, increment standard
// deviations, and the density of the previous analysis on its grid).
struct BoundaryWork {
  std::vector<double> ya, yb, sigma, s;
  std::vector<int> nints;
  std::vector<double> f;        // density of the previous analysis on its grid (up to 5001 points)
  std::vector<double> scratch;  // the density of the analysis before, while the next one is built
  double last_tried = 0;        // the last score-scale bound SEARCH evaluated
};

struct LandemResult {
  std::vector<double> za, zb;  // lower and upper standardized bounds
  std::vector<double> pe, pd;  // cumulative and incremental alpha spent
};

// side: 1 one-sided, 2 two-sided symmetric. iuse: spending code 1..6. user: code 5 values
// (cumulative alpha of one side; pe = side*user). Messages go to `report` (the main report).
// Stops the run (RunError) when the spending function gives alpha that is not a number, when a
// bound search fails, or when a grid does not fit the work arrays (too little information
// between two analyses).
LandemResult LANDEM(int nn, const std::vector<double>& t, const std::vector<double>& t2,
                    double side, int iuse, double alpha, double phi, double ztrun,
                    const std::vector<double>& user, BoundaryWork& work, std::ostream& report);

// The pieces of the recursion, for the design driver and for tests. Analysis numbers i run 1..K;
// vectors are 0-based (element i-1 belongs to analysis i).

// Cumulative (pe) and incremental (pd) alpha of spending code iuse at the times t(1..nn). pe is
// in/out: an unknown code keeps the value pe held on entry (scaled by side).
void ALPHAS(int iuse, int nn, double alpha, double phi, double side, const std::vector<double>& t,
            const std::vector<double>& user, std::vector<double>& pe, std::vector<double>& pd,
            std::ostream& report);

// Increment standard deviations sigma(i) = sqrt(t2(i) - t2(i-1)) and s(i) = sqrt(t2(i)).
void STDINC(int nn, const std::vector<double>& t2, std::vector<double>& sigma,
            std::vector<double>& s);

// Trapezoidal rule over n intervals of width h (n + 1 values g[0..n]).
double TRAP(const double* g, int n, double h);

// Density of the score at the first analysis on the grid ya1 + j*(yb1 - ya1)/nints1, j = 0..nints1.
void FIRST(double ya1, double yb1, int nints1, double sigma1, std::vector<double>& f);

// Density at point x of the next analysis (increment standard deviation sigma) from the density
// g on the grid (ya_prev, yb_prev, n_prev): the trapezoidal rule over g(u)
// NDENS((x-u)/sigma)/sigma.
double FCAB(double x, double ya_prev, double yb_prev, int n_prev, double sigma, const double* g);

// Moves the density f from the grid (ya_prev, yb_prev, n_prev) to the grid (ya, yb, n) of the next
// analysis, whose increment has standard deviation sigma. `scratch` receives the old density.
void OTHER(double ya_prev, double yb_prev, int n_prev, double ya, double yb, int n, double sigma,
           std::vector<double>& f, std::vector<double>& scratch);

// Probability of staying inside the bounds up to analysis i-1 and ending above x (score scale) at
// analysis i, from the density of analysis i-1 held in work.f.
double QPOS(double x, int i, const BoundaryWork& work);

// Decimal stepping search of yb(i) with QPOS(yb(i), i) = target; leaves yb(i) unchanged when the
// search fails. Returns whether it stored a bound. LANDEM stops the run (RunError) when it fails.
bool SEARCH(int i, double target, BoundaryWork& work, std::ostream& report);

}  // namespace kestrel::boundaries
