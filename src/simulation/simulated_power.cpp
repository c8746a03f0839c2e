// Simulated power of a fixed design under each decision rule. All analyses of one replication
// see the same patients, those of the stream of uniform numbers from the replication's starting
// state (as if the generator were put back to that state before each analysis), each cut off at
// its own calendar time; the decision rule then decides at which analysis each endpoint, and the
// pair, is rejected. The next replication starts from the state the last analysis reached left
// the generator in, moved on by the final critical-value search when there was one.
#include "simulation/simulated_power.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/limits.h"
#include "common/format.h"
#include "mvn/mvndf.h"
#include "numerics/normal.h"
#include "numerics/uniform_generator.h"
#include "simulation/final_critical_value.h"
#include "simulation/simdata.h"
#include "simulation/task_team.h"
#include "simulation/trial_cohort.h"
#include "survival/entry_loss.h"
#include "survival/event_probability.h"

namespace kestrel::simulation {
namespace {

using Clock = std::chrono::steady_clock;

// One endpoint's last final critical-value search: its correlations, earlier bounds and alpha,
// and the value found.
struct FinalSearchMemo {
  bool valid = false;
  std::vector<double> correl, earlier;
  double alpha = 0, value = 0;
};

// True when the last search of `memo` serves a replication with this observed information: the
// same correlations (to 1e-12), earlier bounds and alpha.
bool memo_serves(int K, const AnalysisArray& J, double observed, const std::vector<double>& c,
                 double alpha, bool reuse, const FinalSearchMemo& memo) {
  if (!reuse || !memo.valid || memo.alpha != alpha) return false;
  if (!std::equal(c.begin(), c.begin() + (K - 1), memo.earlier.begin(), memo.earlier.end())) {
    return false;
  }
  std::vector<double> fractions(static_cast<size_t>(K));
  for (int j = 0; j < K; ++j) fractions[j] = J[j] / observed;
  const std::vector<double> correl = fraction_correlations(K, fractions.data());
  for (size_t i = 0; i < correl.size(); ++i) {
    if (!(std::fabs(correl[i] - memo.correl[i]) <= 1e-12)) return false;
  }
  return true;
}

void final_critical_value(int K, const AnalysisArray& J, double observed, std::vector<double>& c,
                          double alpha, bool reuse, FinalSearchMemo& memo, mvn::MvnState& mvn,
                          numerics::UniformGenerator& gen) {
  if (memo_serves(K, J, observed, c, alpha, reuse, memo)) {
    c[K - 1] = memo.value;
    return;
  }
  std::vector<double> fractions(static_cast<size_t>(K));
  for (int j = 0; j < K; ++j) fractions[j] = J[j] / observed;
  const double value = FNLCVL(K, fractions.data(), c.data(), alpha, mvn, gen);
  memo.valid = true;
  memo.correl = fraction_correlations(K, fractions.data());
  memo.earlier.assign(c.begin(), c.begin() + (K - 1));
  memo.alpha = alpha;
  memo.value = value;
}

// Where each endpoint was first rejected and where the rule counts success, analysis by analysis.
struct Decision {
  bool rejected1 = false, rejected2 = false;
  int k1 = 0, k2 = 0, kj = 0;

  // Analysis k with EP1 (pass1) and EP2 (pass2) below their levels, and EP2 below the fixed
  // level (rule 4); true when the replication stops here.
  bool step(DecisionRule rule, int k, int K, bool pass1, bool pass2, bool pass2_fixed) {
    switch (rule) {
      case DecisionRule::any_interims:
        if (!rejected1 && pass1) { rejected1 = true; k1 = k; }
        if (!rejected2 && pass2) { rejected2 = true; k2 = k; }
        if (rejected1 && rejected2) { kj = k; return true; }
        return false;
      case DecisionRule::same_interim:
        if (!rejected1 && pass1) { rejected1 = true; k1 = k; }
        if (!rejected2 && pass2) { rejected2 = true; k2 = k; }
        if (pass1 && pass2) { kj = k; return true; }
        return false;
      case DecisionRule::fixed_sequence:
        if (!rejected1 && pass1) { rejected1 = true; k1 = k; }
        if (rejected1 && !rejected2 && pass2) { rejected2 = true; k2 = k; }
        if (rejected1 && rejected2) { kj = k2; return true; }
        return false;
      default:  // 4
        if (!rejected1 && pass1) { rejected1 = true; k1 = k; }
        if (k == K && rejected1 && pass2_fixed) { rejected2 = true; k2 = K; kj = K; }
        return false;
    }
  }

  // After step at interim k without success: whether the trial stops for futility, an endpoint
  // that must still succeed lying below its futility bound (low1, low2).
  int kf = 0;
  bool futile(DecisionRule rule, int k, bool low1, bool low2) {
    bool stop = false;
    switch (rule) {
      case DecisionRule::any_interims: stop = (!rejected1 && low1) || (!rejected2 && low2); break;
      case DecisionRule::same_interim: stop = low1 || low2; break;
      case DecisionRule::fixed_sequence: stop = rejected1 ? (!rejected2 && low2) : low1; break;
      default: stop = !rejected1 && low1; break;
    }
    if (stop) kf = k;
    return stop;
  }
};

// Whether the statistic with Phi(Z) = p lies below the futility bound f of the z scale of the
// bounds (which counts an effect in the direction of benefit as positive).
bool below_futility(const std::vector<double>& f, int k, double p) {
  if (f.empty() || !(f[static_cast<size_t>(k - 1)] > -8.0)) return false;
  return p > 1.0 - numerics::GAUSSCDF(f[static_cast<size_t>(k - 1)]);
}

bool futility_stop(DecisionRule rule, const SimulationInput& in, int k, const TrialOutcome& o, Decision& d) {
  if (k >= in.K || (in.f1.empty() && in.f2.empty())) return false;
  return d.futile(rule, k, below_futility(in.f1, k, o.p1), rule != DecisionRule::ep2_at_final && below_futility(in.f2, k, o.p2));
}

// Replications a thread runs ahead in one batch.
constexpr int kAheadPerThread = 32;

struct AheadOutcome {
  bool ok = false;  // false: run it again in turn
  Decision decision;
};

// One replication run ahead from the generator state `start`, on a cohort of its own: its
// decision, or not ok when it would search for a final critical value afresh, fails, or writes
// anything (the replication run in turn then does all that).
AheadOutcome replicate_ahead(DecisionRule rule, const SimulationInput& in, TrialCohort& cohort,
                             std::int32_t variant, std::int32_t start, const FinalSearchMemo& memo1,
                             const FinalSearchMemo& memo2, SimulationProfile* profile) {
  AheadOutcome out;
  const int K = in.K;
  std::ostringstream console, report;
  try {
    cohort.start(variant, start);
    for (int k = 1; k <= K; ++k) {
      const TrialOutcome o = cohort.outcome(k, console, report, profile);
      double c1 = in.c1[k - 1];
      double c2 = rule == DecisionRule::ep2_at_final ? 0.0 : in.c2[k - 1];
      if (in.final_adjust && k == K) {
        if (o.I1 > 0) {
          if (!memo_serves(K, in.J1, o.I1, in.c1, in.alpha, in.reuse_final_critical_value, memo1)) {
            return out;
          }
          c1 = memo1.value;
        }
        if (rule != DecisionRule::ep2_at_final && o.I2 > 0) {
          if (!memo_serves(K, in.J2, o.I2, in.c2, in.alpha, in.reuse_final_critical_value, memo2)) {
            return out;
          }
          c2 = memo2.value;
        }
      }
      const double alpha1 = 1.0 - numerics::GAUSSCDF(std::fabs(c1));
      const double alpha2 = rule == DecisionRule::ep2_at_final ? in.alpha : 1.0 - numerics::GAUSSCDF(std::fabs(c2));
      if (out.decision.step(rule, k, K, o.p1 < alpha1, o.p2 < alpha2, o.p2 < in.alpha)) break;
      if (futility_stop(rule, in, k, o, out.decision)) break;
    }
  } catch (...) {
    return out;
  }
  out.ok = console.str().empty() && report.str().empty();
  return out;
}

void write(std::ostream& os, const std::string& line) {
  os << line << '\n';
}

// (1X, I8, 2X, I3, 1X, I3, 1X, I3, 4(1X, F7.3)); a blank column group when `show_k` is false,
// and the repeated group ends after the values given.
std::string report_line(int count, const int* k3, const double* values, int nvalues) {
  fmt::Record r;
  r.x(1).i(count, 8).x(2);
  if (k3) {
    r.i(k3[0], 3).x(1).i(k3[1], 3).x(1).i(k3[2], 3);
  } else {
    r.x(3).x(1).x(3).x(1).x(3);
  }
  for (int i = 0; i < nvalues; ++i) r.x(1).f(values[i], 7, 3);
  return r.str();
}

}  // namespace

int progress_interval(int nrep) {
  constexpr int kMostBetweenLines = 10000;
  return std::clamp(nrep / 10, 1, kMostBetweenLines);
}

TrialSettings analysis_trial(const SimulationInput& in, int k) {
  TrialSettings trial;
  const TrialModel& m = in.truth;
  trial.HR1 = m.hazard_ratio[0];
  trial.HR2 = m.hazard_ratio[1];
  trial.theta = m.copula_parameter;
  trial.r = 1.0 - m.treatment_share;  // arm 1 is the control arm
  trial.lambda1 = -std::log(m.control_survival[0]) / m.study_end();
  trial.lambda2 = -std::log(m.control_survival[1]) / m.study_end();
  trial.censoring = m.censoring;
  trial.family = m.copula;
  trial.mode = m.competing_risks;
  trial.composite = m.composite;
  const double t = in.t[k - 1];
  trial.N = static_cast<int>(in.N * in.u[k - 1]);
  // The N u(k) patients enrolled by an analysis during accrual entered uniformly over [0, t(k)],
  // not over the whole accrual period: drawing their entry over [0, a] would leave a further
  // fraction (a - t(k))/a of them with a censoring time below 0, counting the shortfall of
  // enrolment twice. From the end of accrual on this is entry over [0, a], s = t(k) - a.
  trial.a = std::min(m.accrual_period, t);
  trial.s = t - trial.a;
  trial.entry_loss = m.entry_loss;
  trial.accrual_period = m.accrual_period;
  return trial;
}

SimulationResult GSDSIMDF(DecisionRule rule, SimulationInput& in, numerics::UniformGenerator& gen,
                          mvn::MvnState& mvn, std::ostream& console, std::ostream& main_report) {
  return GSDSIMDF(rule, in, gen, mvn, console, main_report, nullptr);
}

SimulationResult GSDSIMDF(DecisionRule rule, SimulationInput& in, numerics::UniformGenerator& gen,
                          mvn::MvnState& mvn, std::ostream& console, std::ostream& main_report,
                          SimulationProfile* profile) {
  const int K = in.K;
  if (K < 1 || K > NMAXA || static_cast<int>(in.c1.size()) < K ||
      (rule != DecisionRule::ep2_at_final && static_cast<int>(in.c2.size()) < K)) {
    throw RunError("The simulation needs 1 to 10 analyses with a critical value for each.");
  }
  const int nrep = in.NREP;
  if (in.N > limits::kMaxSimulatedSubjects) {
    char need[32];
    std::snprintf(need, sizeof need, "%.3g", limits::kSimulatedBytesPerSubject * in.N / 1e9);
    throw RunError("the simulation of " + std::to_string(in.N) +
                   " subjects a trial is refused: at most " +
                   std::to_string(limits::kMaxSimulatedSubjects) +
                   " subjects are simulated (every subject of a trial is held in memory, about " +
                   need + " GB for this size); give NSIM = 0 for this design");
  }

  if (in.print) {
    write(console, "");
    write(console, "ASSESSMENT BY SIMULATION");
    write(console, "");
    write(console, "   # REPS  EP1 EP2 JNT     PW1     PW2     PWC     PWD");
    console.flush();
  }

  // Expected events at the end of the study.
  const double D1e = in.N * survival::study_event_probability(in.truth, 0);
  const double D2e = in.N * survival::study_event_probability(in.truth, 1);

  TrialWork work;
  // Each replication's patients are drawn once and cut per analysis, on every thread the
  // lattice sums use; a generator or allocation the cohort cannot follow regenerates every
  // analysis from the replication's starting state instead. Both give the same numbers.
  std::vector<TrialSettings> trials;
  for (int k = 1; k <= K; ++k) trials.push_back(analysis_trial(in, k));
  const std::int32_t variant = gen.variant() == 0 ? 1 : gen.variant();
  std::optional<TrialCohort> cohort;
  if (TrialCohort::supported(trials, variant)) cohort.emplace(trials, mvn.threads());

  std::vector<std::array<long long, 3>> per_analysis(static_cast<size_t>(K), {0, 0, 0});
  long long total1 = 0, total2 = 0, total_joint = 0, total_any = 0;
  const int progress_every = progress_interval(nrep);
  FinalSearchMemo memo1, memo2;

  // Counts one replication and writes the progress line that falls on it.
  // With futility bounds: trials stopped for futility, and trials ended, per analysis.
  std::vector<long long> futile(static_cast<size_t>(K), 0), ended(static_cast<size_t>(K), 0);
  auto count = [&](int rep, const Decision& d) {
    if (d.kf > 0) ++futile[static_cast<size_t>(d.kf - 1)];
    ++ended[static_cast<size_t>((d.kj > 0 ? d.kj : d.kf > 0 ? d.kf : K) - 1)];
    if (d.kj > 0) {
      ++per_analysis[d.kj - 1][2];
      ++total_joint;
    }
    if (d.rejected1 || d.rejected2) ++total_any;
    if (d.rejected1) {
      ++per_analysis[d.k1 - 1][0];
      ++total1;
    }
    if (d.rejected2) {
      ++per_analysis[d.k2 - 1][1];
      ++total2;
    }
    if (in.print && rep % progress_every == 0) {
      const int ks[3] = {d.k1, rule == DecisionRule::ep2_at_final ? 0 : d.k2, rule == DecisionRule::ep2_at_final ? 0 : d.kj};
      const double pct[4] = {100.0 * (static_cast<double>(total1) / rep),
                             100.0 * (static_cast<double>(total2) / rep),
                             100.0 * (static_cast<double>(total_joint) / rep),
                             100.0 * (static_cast<double>(total_any) / rep)};
      write(console, report_line(rep, ks, pct, 4));
      // A long simulation shows its progress also when standard output goes to a file.
      console.flush();
    }
  };

  // Replications run ahead on every thread. When every analysis draws the same numbers and no
  // final critical-value search draws any (there is none, or each endpoint's last search is
  // reused), every replication draws the same count, so replication r + i starts i such counts
  // further on in the stream: whole replications then run at once, each on a thread of its own,
  // and are counted in turn. One that would search afresh, fail or write anything is run again
  // in turn below, which gives its reports and moves the generator as always.
  const int threads = cohort ? mvn.threads() : 1;
  const std::uint64_t rep_draws = cohort ? cohort->draws(K) : 0;
  bool same_draws = cohort.has_value() && threads > 1;
  for (int k = 1; k < K && same_draws; ++k) same_draws = cohort->draws(k) == rep_draws;
  std::optional<TaskTeam> team;
  std::vector<std::unique_ptr<TrialCohort>> cohorts;
  std::vector<AheadOutcome> ahead;
  std::vector<SimulationProfile> ahead_profiles;
  auto searches_draw = [&] {
    if (!in.final_adjust) return false;
    return !(in.reuse_final_critical_value && memo1.valid && (rule == DecisionRule::ep2_at_final || memo2.valid));
  };

  int rep = 1;
  while (rep <= nrep) {
    if (same_draws && nrep - rep + 1 >= threads && !searches_draw()) {
      if (!team) {
        team.emplace(threads);
        for (int t = 0; t < team->size(); ++t) {
          cohorts.push_back(std::make_unique<TrialCohort>(trials, 1));
        }
        ahead_profiles.resize(cohorts.size());
      }
      const int lanes = team->size();
      const int batch = std::min(nrep - rep + 1, lanes * kAheadPerThread);
      ahead.assign(static_cast<size_t>(batch), AheadOutcome{});
      const std::int32_t base = gen.GETSEED();
      team->run(lanes, [&](int lane) {
        for (int i = lane; i < batch; i += lanes) {
          const std::int32_t start =
              numerics::skip_ahead(gen.variant(), base, static_cast<std::uint64_t>(i) * rep_draws);
          ahead[static_cast<size_t>(i)] =
              replicate_ahead(rule, in, *cohorts[static_cast<size_t>(lane)], gen.variant(), start,
                              memo1, memo2, profile ? &ahead_profiles[lane] : nullptr);
        }
      });
      int i = 0;
      for (; i < batch && ahead[static_cast<size_t>(i)].ok; ++i) {
        count(rep + i, ahead[static_cast<size_t>(i)].decision);
      }
      gen.SETSEED(
          numerics::skip_ahead(gen.variant(), base, static_cast<std::uint64_t>(i) * rep_draws));
      rep += i;
      if (profile) {
        for (SimulationProfile& p : ahead_profiles) {
          profile->generation += p.generation;
          profile->logrank += p.logrank;
          p = SimulationProfile{};
        }
      }
      if (i == batch) continue;
    }

    const std::int32_t saved_seed = gen.GETSEED();
    if (cohort) cohort->start(gen.variant(), saved_seed);
    Decision d;
    int last = K;           // the analysis whose data the generator state follows
    bool searched = false;  // the final critical-value search has moved the generator on
    for (int k = 1; k <= K; ++k) {
      TrialOutcome o;
      if (cohort) {
        o = cohort->outcome(k, console, main_report, profile);
      } else {
        gen.SETSEED(saved_seed);
        o = SIMDATA(trials[k - 1], gen, console, main_report, work, profile);
      }

      if (in.final_adjust && k == K) {
        if (cohort) gen.SETSEED(cohort->state_after(K));
        searched = true;
        const Clock::time_point t0 = Clock::now();
        // The final critical value from the observed information; an endpoint without any
        // observed information keeps its planned value.
        if (o.I1 > 0) {
          final_critical_value(K, in.J1, o.I1, in.c1, in.alpha, in.reuse_final_critical_value,
                               memo1, mvn, gen);
        }
        if (rule != DecisionRule::ep2_at_final && o.I2 > 0) {
          final_critical_value(K, in.J2, o.I2, in.c2, in.alpha, in.reuse_final_critical_value,
                               memo2, mvn, gen);
        }
        if (profile) {
          profile->final_critical_values +=
              std::chrono::duration<double>(Clock::now() - t0).count();
        }
      }
      const double alpha1 = 1.0 - numerics::GAUSSCDF(std::fabs(in.c1[k - 1]));
      const double alpha2 =
          rule == DecisionRule::ep2_at_final ? in.alpha : 1.0 - numerics::GAUSSCDF(std::fabs(in.c2[k - 1]));
      if (d.step(rule, k, K, o.p1 < alpha1, o.p2 < alpha2, o.p2 < in.alpha) ||
          futility_stop(rule, in, k, o, d)) {
        last = k;
        break;
      }
    }
    // The next replication starts where this one's last analysis (or final search) left off.
    if (cohort && !searched) gen.SETSEED(cohort->state_after(last));
    count(rep, d);
    ++rep;
  }

  SimulationResult res;
  const double n = nrep > 0 ? static_cast<double>(nrep) : 1.0;
  res.PW1 = total1 / n;
  res.PW2 = total2 / n;
  res.PWC = total_joint / n;
  res.PWD = total_any / n;
  res.R.resize(static_cast<size_t>(K));
  double sum_r1 = 0, sum_r2 = 0, e1 = 0, e2 = 0;
  for (int k = 0; k < K; ++k) {
    for (int c = 0; c < 3; ++c) res.R[k][c] = per_analysis[k][c] / n;
    e1 += D1e * in.v[k] * res.R[k][0];
    e2 += D2e * in.w[k] * res.R[k][1];
    sum_r1 += res.R[k][0];
    sum_r2 += res.R[k][1];
  }
  res.E1 = e1 + (1.0 - sum_r1) * D1e;
  res.E2 = e2 + (1.0 - sum_r2) * D2e;
  const bool with_futility = !in.f1.empty() || !in.f2.empty();
  if (with_futility) {
    res.F.resize(static_cast<size_t>(K));
    res.E1 = res.E2 = 0.0;
    for (int k = 0; k < K; ++k) {
      res.F[static_cast<size_t>(k)] = static_cast<double>(futile[static_cast<size_t>(k)]) / n;
      const double stop = static_cast<double>(ended[static_cast<size_t>(k)]) / n;
      res.E1 += D1e * in.v[k] * stop;
      res.E2 += D2e * in.w[k] * stop;
    }
  }

  if (in.print) {
    const double pct[4] = {100.0 * res.PW1, 100.0 * res.PW2, 100.0 * res.PWC, 100.0 * res.PWD};
    write(console, report_line(nrep, nullptr, pct, 4));
    write(console, "");
    for (int k = 0; k < K; ++k) {
      const double r3[3] = {100.0 * res.R[k][0], 100.0 * res.R[k][1], 100.0 * res.R[k][2]};
      write(console, report_line(k + 1, nullptr, r3, 3));
    }
    if (with_futility) {
      write(console, "");
      write(console, "   FUTILITY STOPS (%)");
      for (int k = 0; k < K; ++k) {
        const double f[1] = {100.0 * res.F[static_cast<size_t>(k)]};
        write(console, report_line(k + 1, nullptr, f, 1));
      }
    }
  }
  return res;
}

}  // namespace kestrel::simulation
