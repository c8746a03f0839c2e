#pragma once
// Staggered entry in pieces of constant intensity and exponential loss to follow-up per arm: the
// enrolled fraction, the follow-up distribution of the subjects enrolled by an analysis, the
// censoring weight of each arm and the probability of an observed event.
//
// Entry has density proportional to the intensity of its piece over 0..TA, so the enrolled
// fraction L(tau) is piecewise linear. A subject enrolled at e is followed at calendar time tau
// for tau - e, and is lost to follow-up at an exponential time with the hazard of its arm,
// independent of its event times; loss censors both endpoints at the same moment.
#include <vector>

#include "common/design.h"
#include "common/trial_model.h"
#include "survival/margins.h"

namespace kestrel::survival {

inline constexpr int kControlArm = 0, kTreatmentArm = 1;

class EntryLoss {
 public:
  // The pieces and hazards are taken as checked by the deck or the options (ends increasing,
  // the last equal to TA, intensities and TA above 0, hazards 0 or more).
  EntryLoss(const EntryAndLoss& given, double TA);

  bool plain() const { return plain_; }
  bool uniform_entry() const { return ends_.size() == 1; }
  double accrual() const { return TA_; }
  double dropout(int arm) const { return dropout_[arm]; }

  // L(tau): fraction of the sample enrolled by calendar time tau (1 from TA on).
  double enrolled(double tau) const;
  // The entry time by which the fraction p (0..1) of the sample is enrolled: the inverse of L.
  double entry_quantile(double p) const;
  // P(follow-up at tau >= x | enrolled by tau) = L(tau - x) / L(tau), the administrative part of
  // the censoring; with uniform entry it is the staggered-entry weight of the plain model.
  double follow_up(double x, double tau) const;
  // P(not lost by x after entry) = exp(-dropout(arm) x).
  double retained(int arm, double x) const;
  // The censoring weight of arm `arm` at follow-up x for an analysis at calendar time tau: the
  // probability that a subject of that arm enrolled by tau is still under observation x after
  // its entry, follow_up(x, tau) * retained(arm, x).
  double censoring_weight(int arm, double x, double tau) const;

  // Probability that a subject of arm `arm` with event hazard `lambda`, enrolled by tau, has an
  // observed event (before loss and before tau) by calendar time tau. Exact: per accrual piece,
  // the integral over entry e of lambda/(lambda + d) (1 - exp(-(lambda + d)(tau - e))).
  double event_probability(int arm, double lambda, double tau) const;
  // The same for an event time with the piecewise-exponential law `law`: per accrual piece
  // [a, b], the integral over entry e of O(tau - e), O the law's observed() with the arm's loss.
  double event_probability(int arm, const PiecewiseExponential& law, double tau) const;

 private:
  std::vector<double> ends_, cum_;  // piece ends; enrolled fraction at each end
  std::vector<double> density_;     // entry density of each piece (fraction per time unit)
  double TA_;
  double dropout_[2];
  bool plain_;
};

// Probability that a randomised subject has an observed event of an endpoint by calendar time tau
// among those enrolled by then, the arms pooled by the treatment share SR: hr the stored
// (treatment over control) hazard ratio, S the control survival at TA + TF.
double pooled_event_probability(const EntryLoss& m, double hr, double S, double SR, double TA,
                                double TF, double tau);
// The same for endpoint e (0 EP1, 1 EP2) of a design whose entry, loss and laws are `given`: the
// endpoint's HAZARDS pieces when stated (hr and S then unused), the function above otherwise.
double pooled_event_probability(const EntryLoss& m, const EntryAndLoss& given, int e, double hr,
                                double S, double SR, double TA, double TF, double tau);

// Probability that a randomised subject of a trial under `model` has an observed event of
// endpoint e (0 EP1, 1 EP2) by the end of the study, the arms pooled: PREVENT's for the plain
// model, the model's entry, loss and laws otherwise. Its events are the sample size times this.
double study_event_probability(const TrialModel& model, int e);

}  // namespace kestrel::survival
