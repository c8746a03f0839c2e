// Piecewise-constant accrual and exponential loss to follow-up (see entry_loss.h).
#include "survival/entry_loss.h"

#include <algorithm>
#include <cmath>

#include "survival/event_probability.h"

namespace kestrel::survival {

EntryLoss::EntryLoss(const EntryAndLoss& given, double TA)
    : TA_(TA), dropout_{given.dropout[0], given.dropout[1]}, plain_(given.plain()) {
  if (given.accrual_end.size() > 1 && given.accrual_end.size() == given.accrual_intensity.size()) {
    ends_ = given.accrual_end;
    ends_.back() = TA;
    double total = 0.0, start = 0.0;
    for (size_t p = 0; p < ends_.size(); ++p) {
      total += given.accrual_intensity[p] * (ends_[p] - start);
      start = ends_[p];
    }
    start = 0.0;
    double cum = 0.0;
    for (size_t p = 0; p < ends_.size(); ++p) {
      density_.push_back(given.accrual_intensity[p] / total);
      cum += density_.back() * (ends_[p] - start);
      cum_.push_back(cum);
      start = ends_[p];
    }
    cum_.back() = 1.0;
  } else {
    ends_ = {TA};
    density_ = {1.0 / TA};
    cum_ = {1.0};
  }
}

double EntryLoss::enrolled(double tau) const {
  if (!(tau > 0.0)) return 0.0;
  if (tau >= TA_) return 1.0;
  if (ends_.size() == 1) return tau / TA_;
  double start = 0.0, before = 0.0;
  for (size_t p = 0; p < ends_.size(); ++p) {
    if (tau <= ends_[p]) return before + density_[p] * (tau - start);
    before = cum_[p];
    start = ends_[p];
  }
  return 1.0;
}

double EntryLoss::entry_quantile(double p) const {
  if (!(p > 0.0)) return 0.0;
  if (p >= 1.0) return TA_;
  if (ends_.size() == 1) return p * TA_;
  double start = 0.0, before = 0.0;
  for (size_t k = 0; k < ends_.size(); ++k) {
    if (p <= cum_[k]) return std::min(ends_[k], start + (p - before) / density_[k]);
    before = cum_[k];
    start = ends_[k];
  }
  return TA_;
}

double EntryLoss::follow_up(double x, double tau) const {
  const double l = enrolled(tau);
  if (!(l > 0.0)) return 0.0;
  if (x <= 0.0) return 1.0;
  return enrolled(tau - x) / l;
}

double EntryLoss::retained(int arm, double x) const {
  const double d = dropout_[arm];
  return d == 0.0 ? 1.0 : std::exp(-d * x);
}

double EntryLoss::censoring_weight(int arm, double x, double tau) const {
  return follow_up(x, tau) * retained(arm, x);
}

double EntryLoss::event_probability(int arm, double lambda, double tau) const {
  const double l = enrolled(tau);
  if (!(l > 0.0) || !(lambda > 0.0)) return 0.0;
  const double k = lambda + dropout_[arm];
  if (!(TA_ > 0.0)) return -lambda / k * std::expm1(-k * tau);  // everybody enters at 0
  // Integral over entries e in [a, b] of 1 - exp(-k (tau - e)):
  // (b - a) + exp(-k (tau - b)) expm1(-k (b - a)) / k.
  double sum = 0.0, start = 0.0;
  for (size_t p = 0; p < ends_.size() && start < tau; ++p) {
    const double b = std::min(ends_[p], tau);
    const double w = b - start;
    sum += density_[p] * (w + std::exp(-k * (tau - b)) * std::expm1(-k * w) / k);
    start = ends_[p];
  }
  return lambda / k * sum / l;
}

double EntryLoss::event_probability(int arm, const PiecewiseExponential& law, double tau) const {
  const double l = enrolled(tau);
  if (!(l > 0.0)) return 0.0;
  const double d = dropout_[arm];
  if (!(TA_ > 0.0)) return law.observed(d, tau);  // everybody enters at 0
  // Entries e in [a, b] are followed for tau - b .. tau - a: the integral of O over that span.
  double sum = 0.0, start = 0.0;
  for (size_t p = 0; p < ends_.size() && start < tau; ++p) {
    const double b = std::min(ends_[p], tau);
    sum += density_[p] * (law.observed_integral(d, tau - start) - law.observed_integral(d, tau - b));
    start = ends_[p];
  }
  return sum / l;
}

double pooled_event_probability(const EntryLoss& m, const EntryAndLoss& given, int e, double hr,
                                double S, double SR, double TA, double TF, double tau) {
  if (!given.hazards[static_cast<size_t>(e)].given())
    return pooled_event_probability(m, hr, S, SR, TA, TF, tau);
  const double T = TA + TF;
  return (1.0 - SR) * m.event_probability(kControlArm, endpoint_margin(given, e, 0, hr, S, T), tau) +
         SR * m.event_probability(kTreatmentArm, endpoint_margin(given, e, 1, hr, S, T), tau);
}

double pooled_event_probability(const EntryLoss& m, double hr, double S, double SR, double TA,
                                double TF, double tau) {
  const double lc = -std::log(S) / (TA + TF);
  return (1.0 - SR) * m.event_probability(kControlArm, lc, tau) +
         SR * m.event_probability(kTreatmentArm, lc * hr, tau);
}

double study_event_probability(const TrialModel& model, int e) {
  const size_t i = static_cast<size_t>(e);
  const double hr = model.hazard_ratio[i], S = model.control_survival[i];
  const double SR = model.treatment_share, TA = model.accrual_period, TF = model.follow_up;
  if (model.entry_loss.plain()) return PREVENT(hr, S, SR, TA, TF).Pev;
  const EntryLoss el(model.entry_loss, TA);
  return pooled_event_probability(el, model.entry_loss, e, hr, S, SR, TA, TF, model.study_end());
}

}  // namespace kestrel::survival
