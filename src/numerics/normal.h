#pragma once
// Standard normal distribution function and its inverse used everywhere outside the boundary
// recursion and the multivariate normal integration: the SLATEC erfc Chebyshev scheme, and its
// inverse by a central Chebyshev series and Newton refinement in the tails.
namespace kestrel::numerics {

// Phi(x). Never fails; 0 below about -37.52, 1 from about 8.5046 on.
double GAUSSCDF(double x);

// z with Phi(z) = p for 0 < p < 1. Any other p is a terminal error (RunError) with the message
// "The argument to the function must be greater than 0.0 and less than 1.0.  P = <p>."
double GAUSSINV(double p);

// erfc(y) and, for 0 < x < 2, its inverse.
double ERFCOMP(double y);
double ERFCINV(double x);

}  // namespace kestrel::numerics
