// Simulated trial data. Event times come from exponential margins joined by the survival copula
// of the chosen family, drawn by the conditional method: T1 from its margin, T2 from the
// conditional law given T1 (Clayton, Frank) or through the Kendall distribution of the
// positive stable (Gumbel) family.
#include "simulation/simdata.h"

#include <chrono>
#include <cmath>
#include <numeric>
#include <string>

#include "common/errors.h"
#include "common/format.h"
#include "common/limits.h"
#include "numerics/uniform_generator.h"
#include "survival/entry_loss.h"
#include "survival/model.h"

namespace kestrel::simulation {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

void stop_on_nan_variance(const char* label, double V, double Z, const double* records, int n,
                          std::ostream& console) {
  if (!std::isnan(V)) return;
  console << fmt::list({std::string_view(label), V, Z}) << '\n';
  for (int i = 0; i < n; ++i) {
    const double* row = records + static_cast<std::ptrdiff_t>(i) * kRecordWidth;
    console << fmt::list({row[kStatusColumn], row[kGroupColumn], row[kTimeColumn]}) << '\n';
  }
  console.flush();
  throw RunError(std::string("The log-rank variance of the simulated ") + label +
                 " data is not a number.");
}

ArmPattern arm_pattern(int n, double r) {
  ArmPattern p;
  // The shares of old are recognised first, each with its own pattern, so that their trials stay
  // exactly as they were; r within 1e-4 of the share (a control share written as 1 - SR,
  // 0.30000000000000004 for SR = 0.7, or SR = 0.6667 for 2:1) finds its pattern. Distinct
  // shares below are at least 1/380 apart, so the match is never ambiguous.
  constexpr double kTolerance = limits::kShareTolerance;
  auto is = [r](double v) { return std::fabs(r - v) <= kTolerance; };
  if (is(0.5)) {
    p.block = 2;
    p.full = n;
    return p;
  }
  if (is(0.25) || is(0.75)) {
    const int nq = n / 4;
    p.block = 4;
    p.share = is(0.25) ? 1 : 3;
    p.ones = p.share * nq;
    p.full = 4 * nq;
    return p;
  }
  for (int k : {1, 2, 3, 4, 6, 7, 8, 9}) {
    if (is(k / 10.0)) {
      const int nb = n / 10;
      p.block = 10;
      p.share = k;
      p.ones = k * nb;
      p.full = 10 * nb;
      return p;
    }
  }
  // Any other ratio of whole numbers up to 10:10, in blocks of the reduced ratio's size (2:1 in
  // blocks of 3): the smallest block whose control places give r.
  for (int m = 3; m <= 19; ++m) {
    for (int c = 1; c < m; ++c) {
      if (c > 10 || m - c > 10 || std::gcd(c, m) != 1 || !is(static_cast<double>(c) / m)) continue;
      const int nb = n / m;
      p.block = m;
      p.share = c;
      p.ones = c * nb;
      p.full = m * nb;
      return p;
    }
  }
  return p;
}

int ArmPattern::drawn_arm(double u) const {
  if (block == 4) return share == 1 ? (u <= 0.25 ? 1 : 2) : (u > 0.25 ? 1 : 2);
  return static_cast<double>(block) * u <= share ? 1 : 2;
}

void throw_unsimulable_share(double r) {
  throw RunError("The allocation proportion " + fmt::list_real(r) +
                 " of the control arm cannot be simulated; the treatment share SR must be a ratio "
                 "of two whole numbers up to 10:10 (within 1e-4), such as 0.5, 2/3 or 0.6.");
}

int allocate_arm(int i, int n, double r, numerics::UniformGenerator& gen) {
  const ArmPattern p = arm_pattern(n, r);
  if (!p.simulable()) throw_unsimulable_share(r);
  if (i <= p.full) return p.arm(i);
  return p.drawn_arm(gen.UNIRAND());
}

CensoringRule::CensoringRule(const TrialSettings& in)
    : censoring_(in.censoring),
      ramp_(in.entry_loss.has_ramp()),
      lost_(in.entry_loss.has_dropout()),
      a_(in.a),
      s_(in.s),
      tau_(in.a + in.s),
      dropout_{in.entry_loss.dropout[0], in.entry_loss.dropout[1]} {
  // Accrual pieces: the patients enrolled by the analysis enter by the inverse of the enrolment
  // curve, restricted to the fraction enrolled by then.
  if (ramp_) {
    pieces_ = std::make_shared<const survival::EntryLoss>(in.entry_loss, in.accrual_period);
    enrolled_ = pieces_->enrolled(tau_);
  }
}

double CensoringRule::ramped(double u3) const {
  return tau_ - pieces_->entry_quantile((1.0 - u3) * enrolled_);
}

EventTimes draw_event_times(int family, double theta, double l1, double l2, double u1, double u2,
                            std::ostream& main_report) {
  EventTimes t;
  switch (family) {
    case 2: {  // positive stable
      const double x = survival::WLAMBERT(1.0 - u2, theta, main_report);
      t.T1 = std::pow(1.0 - u1, theta) * x / l1;
      t.T2 = std::pow(std::pow(x, 1.0 / theta) - std::pow(l1 * t.T1, 1.0 / theta), theta) / l2;
      break;
    }
    case 3: {  // Frank
      t.T1 = -std::log(1.0 - u1) / l1;
      if (theta == 0.0) {
        t.T2 = -std::log(1.0 - u2) / l2;
      } else {
        const double U = 1.0 - u1, W = 1.0 - u2;
        const double e = std::exp(theta);
        const double etu = std::exp(theta * U);
        const double D = etu + W * (e - etu);
        const double V = std::log(D / (D + W * (1.0 - e))) / theta;
        t.T2 = -std::log(V) / l2;
      }
      break;
    }
    default: {  // Clayton
      t.T1 = -std::log(1.0 - u1) / l1;
      if (theta == 0.0) {
        t.T2 = -std::log(1.0 - u2) / l2;
      } else {
        const double S1 = std::exp(-l1 * t.T1);
        const double W = 1.0 - u2;
        t.T2 = std::log(1.0 + std::pow(S1, -theta) * (std::pow(W, -theta / (theta + 1.0)) - 1.0)) /
               (l2 * theta);
      }
      break;
    }
  }
  return t;
}

EventLaws::EventLaws(const TrialSettings& in)
    : on_(in.entry_loss.has_hazards()),
      hazard_{{in.lambda1, in.lambda2}, {in.lambda1 * in.HR1, in.lambda2 * in.HR2}} {
  if (!on_) return;
  for (int arm = 0; arm < 2; ++arm) {
    for (int e = 0; e < 2; ++e) {
      // An endpoint without pieces keeps its exponential hazard in this arm.
      law_.push_back(in.entry_loss.hazards[static_cast<size_t>(e)].given()
                         ? survival::endpoint_margin(in.entry_loss, e, arm, 1.0, 0.5, 1.0)
                         : survival::PiecewiseExponential(hazard_[arm][e]));
    }
  }
}

EventTimes EventLaws::times(int arm, EventTimes unit) const {
  if (!on_) return unit;
  const size_t a = static_cast<size_t>(arm - 1) * 2;
  return {law_[a].inverse(unit.T1), law_[a + 1].inverse(unit.T2)};
}

RecordCounts generate_trial(const TrialSettings& in, numerics::UniformGenerator& gen,
                            std::ostream& main_report, TrialWork& work) {
  const int n = in.N > 0 ? in.N : 0;
  const size_t len = static_cast<size_t>(n) * kRecordWidth;
  if (work.ep1.size() < len) work.ep1.resize(len);
  if (work.ep2.size() < len) work.ep2.resize(len);
  const EventLaws laws(in);
  RecordCounts counts;
  const ArmPattern pattern = arm_pattern(n, in.r);
  if (n >= 1 && !pattern.simulable()) throw_unsimulable_share(in.r);
  const CensoringRule censoring(in);
  for (int i = 1; i <= n; ++i) {
    const int arm = i <= pattern.full ? pattern.arm(i) : pattern.drawn_arm(gen.UNIRAND());
    const double u1 = gen.UNIRAND();
    const double u2 = gen.UNIRAND();
    const double l1 = laws.rate(arm, 0), l2 = laws.rate(arm, 1);
    const EventTimes t =
        laws.times(arm, draw_event_times(in.family, in.theta, l1, l2, u1, u2, main_report));
    const double u3 = censoring.censored() ? gen.UNIRAND() : 0.0;
    const double loss = censoring.lost() ? CensoringRule::unit_loss(gen.UNIRAND()) : 0.0;
    const double C = censoring.censoring_time(arm, u3, loss);
    const PatientRecord p = observe(in.mode, in.composite, t.T1, t.T2, C);
    double* r1 = work.ep1.data() + static_cast<std::ptrdiff_t>(i - 1) * kRecordWidth;
    double* r2 = work.ep2.data() + static_cast<std::ptrdiff_t>(i - 1) * kRecordWidth;
    r1[kStatusColumn] = p.status1;
    r1[kGroupColumn] = arm - 1;
    r1[kTimeColumn] = p.X1;
    r2[kStatusColumn] = p.status2;
    r2[kGroupColumn] = arm - 1;
    r2[kTimeColumn] = p.X2;
    if (p.status1 == 1.0) ++counts.D1; else ++counts.C1;
    if (p.status2 == 1.0) ++counts.D2; else ++counts.C2;
  }
  return counts;
}

TrialOutcome SIMDATA(const TrialSettings& in, numerics::UniformGenerator& gen,
                     std::ostream& console, std::ostream& main_report, TrialWork& work,
                     SimulationProfile* profile) {
  Clock::time_point t0;
  if (profile) t0 = Clock::now();
  const RecordCounts counts = generate_trial(in, gen, main_report, work);
  if (profile) {
    profile->generation += seconds_since(t0);
    t0 = Clock::now();
  }
  const int n = in.N > 0 ? in.N : 0;
  TrialOutcome out;
  const LogrankResult r1 = ALGORITHM(work.ep1.data(), n, kRecordWidth, counts.D1, counts.C1, 2, 1,
                                     console, work.table);
  out.Z1 = r1.Z;
  out.p1 = r1.p;
  out.I1 = r1.V / 4.0;
  out.D1 = counts.D1;
  const LogrankResult r2 = ALGORITHM(work.ep2.data(), n, kRecordWidth, counts.D2, counts.C2, 2, 1,
                                     console, work.table);
  out.Z2 = r2.Z;
  out.p2 = r2.p;
  out.I2 = r2.V / 4.0;
  out.D2 = counts.D2;
  if (profile) profile->logrank += seconds_since(t0);
  stop_on_nan_variance("ep1", r1.V, r1.Z, work.ep1.data(), n, console);
  stop_on_nan_variance("ep2", r2.V, r2.Z, work.ep2.data(), n, console);
  return out;
}

}  // namespace kestrel::simulation
