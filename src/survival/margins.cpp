// Piecewise-exponential margins (see margins.h).
#include "survival/margins.h"

#include <algorithm>
#include <cmath>

namespace kestrel::survival {

PiecewiseExponential::PiecewiseExponential(double lambda)
    : start_{0.0}, hazard_{lambda}, cum_{0.0} {}

PiecewiseExponential::PiecewiseExponential(std::vector<double> start, std::vector<double> hazard)
    : start_(std::move(start)), hazard_(std::move(hazard)) {
  if (start_.empty()) {
    start_ = {0.0};
    hazard_ = {1.0};
  }
  start_[0] = 0.0;
  cum_.assign(start_.size(), 0.0);
  for (size_t p = 1; p < start_.size(); ++p)
    cum_[p] = cum_[p - 1] + hazard_[p - 1] * (start_[p] - start_[p - 1]);
}

int PiecewiseExponential::piece(double t) const {
  // start_ has at most 10 entries: a linear scan from the end.
  size_t p = start_.size() - 1;
  while (p > 0 && t < start_[p]) --p;
  return static_cast<int>(p);
}

double PiecewiseExponential::cumulative(double t) const {
  const size_t p = static_cast<size_t>(piece(t));
  if (p == 0) return hazard_[0] * t;  // the exponential law's lambda t
  return cum_[p] + hazard_[p] * (t - start_[p]);
}

double PiecewiseExponential::survival(double t) const { return std::exp(-cumulative(t)); }

double PiecewiseExponential::inverse(double H) const {
  size_t p = cum_.size() - 1;
  while (p > 0 && H < cum_[p]) --p;
  if (p == 0) return H / hazard_[0];
  return start_[p] + (H - cum_[p]) / hazard_[p];
}

// Within piece p (start s, hazard h, c = h + d) the integrand is k exp(-c (x - s)) with
// k = h S(s) exp(-d s), so over [s, s + w] it integrates to k (1 - exp(-c w)) / c, and the
// integral of O over [s, s + w] is O(s) w + k / c (w + expm1(-c w) / c).
double PiecewiseExponential::observed(double d, double u) const {
  if (!(u > 0.0)) return 0.0;
  double O = 0.0;
  for (size_t p = 0; p < start_.size() && start_[p] < u; ++p) {
    const double s = start_[p], h = hazard_[p], c = h + d;
    const double end = p + 1 < start_.size() ? std::min(start_[p + 1], u) : u;
    const double k = h * std::exp(-cum_[p] - d * s);
    O += -k / c * std::expm1(-c * (end - s));
  }
  return O;
}

double PiecewiseExponential::observed_integral(double d, double u) const {
  if (!(u > 0.0)) return 0.0;
  double O = 0.0, G = 0.0;
  for (size_t p = 0; p < start_.size() && start_[p] < u; ++p) {
    const double s = start_[p], h = hazard_[p], c = h + d;
    const double end = p + 1 < start_.size() ? std::min(start_[p + 1], u) : u;
    const double w = end - s;
    const double k = h * std::exp(-cum_[p] - d * s);
    const double e = std::expm1(-c * w);
    G += O * w + k / c * (w + e / c);
    O += -k / c * e;
  }
  return G;
}

PiecewiseExponential endpoint_margin(const EntryAndLoss& el, int e, int arm, double hr, double S,
                                     double T) {
  const EndpointHazards& h = el.hazards[static_cast<size_t>(e)];
  if (!h.given()) {
    const double lc = -std::log(S) / T;
    return PiecewiseExponential(arm == 0 ? lc : lc * hr);
  }
  std::vector<double> start{0.0}, hazard;
  for (double c : h.change) start.push_back(c);
  for (size_t p = 0; p < h.control.size(); ++p)
    hazard.push_back(arm == 0 ? h.control[p] : h.control[p] * h.ratio[p]);
  start.resize(hazard.size());
  return PiecewiseExponential(start, hazard);
}

PiecewiseExponential pooled_margin(const PiecewiseExponential& control,
                                   const PiecewiseExponential& treatment, double q) {
  std::vector<double> start, hazard;
  for (int p = 0; p < control.pieces(); ++p) {
    start.push_back(control.start(p));
    hazard.push_back((1.0 - q) * treatment.hazard(p) + q * control.hazard(p));
  }
  return PiecewiseExponential(start, hazard);
}

}  // namespace kestrel::survival
