#pragma once
// Loss to follow-up that is legal but almost surely a slip: a hazard above 1 per time unit (a
// percentage written as a whole number), probabilities stated at a time beyond the end of the
// study (a time in months in a study measured in years), and a loss that takes most patients of
// an arm before the end of the study (on average over uniform entry). The values are still taken as given.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/design.h"

namespace kestrel {

// The share of an arm's patients lost before the end of the study, entry uniform over TA:
// 1 - exp(-h TF) (1 - exp(-h TA)) / (h TA).
inline double lost_by_end(double h, double TA, double TF) {
  if (!(h > 0)) return 0.0;
  return 1.0 - std::exp(-h * TF) * (TA > 0 ? -std::expm1(-h * TA) / (h * TA) : 1.0);
}

// `el`: the hazards in force; `how`: how they were stated; TA, TF: accrual and follow-up.
inline std::vector<std::string> loss_warnings(const EntryAndLoss& el,
                                              const EntryAndLossStatements& how, double TA,
                                              double TF) {
  const double end = TA + TF;
  std::vector<std::string> out;
  char text[320];
  const double h = std::max(el.dropout[0], el.dropout[1]);
  if (!how.dropout_as_probability && h > 1.0) {
    std::snprintf(text, sizeof text,
                  "a hazard of loss of %.6g per time unit loses %.0f%% of an arm within one time "
                  "unit; was a percentage meant (5 %% per time unit is the hazard 0.05)?",
                  h, 100.0 * (1.0 - std::exp(-h)));
    out.emplace_back(text);
  }
  if (how.dropout_as_probability && how.dropout_time > end * (1 + 1e-12)) {
    std::snprintf(text, sizeof text,
                  "the probabilities of loss are stated at time %.6g, beyond the end of the study "
                  "(%.6g): are they in the time unit of the accrual and follow-up?",
                  how.dropout_time, end);
    out.emplace_back(text);
  }
  if (lost_by_end(h, TA, TF) > 0.5) {
    std::snprintf(text, sizeof text,
                  "the loss to follow-up loses %.0f%% of an arm's patients before the end of the "
                  "study (on average over uniform entry)",
                  100.0 * lost_by_end(h, TA, TF));
    out.emplace_back(text);
  }
  return out;
}

}  // namespace kestrel
