#pragma once
// Marginal, censoring and joint survival functions of the two event times, the correlation
// quadrature of a copula, the competing-risk indicator tables and the equation solver used by the
// positive stable sampler. Family codes: 1 Clayton, 2 positive stable, 3 Frank.
#include <ostream>
#include <vector>

namespace kestrel::survival {

double SFUN(double t, double lambda);
double CHAZARD(double t, double lambda);
double SCENS(double t, double A, double F, int mode);
double SJOINT(double theta, double u, double v, int code);
double DSJOINT(double theta, double u, double v, int code);
void SEQ(std::vector<double>& X, int N, double A, double B);  // X(0..N)
double TERM4(double theta, double a, double b, int N, int code);
double DTERM4(double theta, double a, double b, int N, int code);
int ONEA(double t, double s, int mode, int kappa);
int ONEB(double t, double s, int flag, int kappa);
// Root x > 0 of ln(1 + c x) - x = ln y. On failure writes "ERR:S" to the main report and throws
// RunError.
double WLAMBERT(double y, double c, std::ostream& main_report);

}  // namespace kestrel::survival
