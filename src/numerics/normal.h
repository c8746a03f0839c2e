#pragma once
// Standard normal distribution function and its inverse used everywhere outside the boundary
// recursion and the multivariate normal integration: the SLATEC erfc Chebyshev scheme, and its
// inverse by a central Chebyshev series and Newton refinement in the tails.
#include <string>

namespace kestrel::numerics {

// Phi(x). Never fails; 0 below about -37.52, 1 from about 8.5046 on.
double GAUSSCDF(double x);

// z with Phi(z) = p for 0 < p < 1. Any other p is a terminal error (RunError) with the message
// "The argument to the function must be greater than 0.0 and less than 1.0.  P = <p>."
double GAUSSINV(double p);

// erfc(y) and, for 0 < x < 2, its inverse.
double ERFCOMP(double y);
double ERFCINV(double x);

// The same, handing back the library notice that the public functions clear: the underflow of
// erfc beyond about 26.53, a result near 2 accurate to less than half precision, or Newton
// steps that did not settle. `notice` is left untouched when there is none.
double ERFCOMP(double y, std::string* notice);
double ERFCINV(double x, std::string* notice);

namespace detail {
// Number of terms summed for table 1..3 (erfc ranges) and 4 (central inverse), and whether the
// term-count rule found the table too short for the accuracy asked.
int erfc_term_count(int table);
bool erfc_table_too_short(int table);
}  // namespace detail

}  // namespace kestrel::numerics
