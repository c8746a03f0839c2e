#include "common/trial_model.h"

namespace kestrel {

TrialModel trial_model(const Design& design, double theta, bool exact) {
  const DeckValues& v = design.stored;
  TrialModel m;
  m.control_survival = {v.SRVR1, v.SRVR2};
  m.hazard_ratio = {v.HR1, v.HR2};
  m.copula = v.CPL;
  m.correlation = v.RHO;
  m.copula_parameter = theta;
  m.competing_risks = v.CPRSK;
  m.composite = v.CMPST;
  m.censoring = v.CNSRD;
  m.treatment_share = v.SR;
  m.accrual_period = v.TA;
  m.follow_up = v.TF;
  m.entry_loss = design.entry_loss;
  m.exact = exact || design.model_control.exact();
  return m;
}

TrialModel true_model(const Design& design, double theta_true, bool exact) {
  TrialModel m = trial_model(design, theta_true, exact);
  const DeckValues& v = design.stored;
  m.correlation = v.RHOTR;
  const double truth[2] = {v.HR1TR, v.HR2TR};
  for (size_t e = 0; e < 2; ++e) {
    const double design_ratio = m.hazard_ratio[e];
    m.hazard_ratio[e] = truth[e];
    if (truth[e] == design_ratio) continue;
    for (double& r : m.entry_loss.hazards[e].ratio)
      r = truth[e] == 1.0 ? 1.0 : r * (truth[e] / design_ratio);
  }
  return m;
}

}  // namespace kestrel
