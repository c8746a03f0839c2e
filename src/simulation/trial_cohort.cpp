#include "simulation/trial_cohort.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>

#include "common/errors.h"
#include "numerics/uniform_generator.h"

namespace kestrel::simulation {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Fewest patients a drawing task takes (below it the hand-over costs more than it saves), and
// drawing tasks per thread (so that a thread held up elsewhere delays little).
constexpr int kMinPatientsPerTask = 64;
constexpr int kTasksPerThread = 4;
// Analyses of fewer patients test their two endpoints on the calling thread.
constexpr int kMinParallelTest = 128;
// A stream that is this many draws or fewer behind the next patient wanted draws its way there;
// further behind, it jumps.
constexpr std::int64_t kMostStepsDrawn = 48;

// Where a thread's event-time searches write their failure (kept for the report, in order).
std::ostringstream& failure_report() {
  thread_local std::ostringstream report;
  return report;
}

}  // namespace

// A patient of an incomplete last block of one analysis (drawn for that analysis alone).
struct TrialCohort::Extra {
  int arm = 1;
  double T1 = 0, T2 = 0, u3 = 0, loss = 0;
  bool failed = false;
};

// An event time that could not be found: what it wrote to the main report, and its error.
struct TrialCohort::Failure {
  int analysis = 0;  // 0 for a patient of the stream, else the analysis of an extra patient
  int patient = 0, arm = 0;
  std::string text;
  std::exception_ptr error;
};

// The records and tabulation of one endpoint of one analysis of the window, and what its test
// wrote to the console.
struct TrialCohort::Slot {
  std::vector<double> records;
  LogrankTable table;
  std::ostringstream console;
  std::string text;
  std::exception_ptr error;
  LogrankResult result;
  int D = 0;
};

struct TrialCohort::Analysis {
  TrialSettings settings;
  int n = 0;
  ArmPattern pattern;
  std::optional<CensoringRule> censoring;
  std::vector<Extra> extras;
  int first_failure = 0;  // the first patient (1-based) whose event times failed, 0 if none
  int slot = 0;           // its endpoint-1 slot in the window it was computed in
};

TrialCohort::TrialCohort(std::vector<TrialSettings> analyses, int threads)
    : team_(std::clamp(threads, 1, 256)) {
  K_ = static_cast<int>(analyses.size());
  analyses_.resize(analyses.size());
  int most = 0;
  for (int k = 0; k < K_; ++k) {
    Analysis& A = analyses_[k];
    A.settings = analyses[k];
    A.n = std::max(A.settings.N, 0);
    A.pattern = arm_pattern(A.n, A.settings.r);
    A.censoring.emplace(A.settings);
    most = std::max(most, A.pattern.full);
  }
  if (K_ > 0) {
    const TrialSettings& s = analyses_[0].settings;
    censored_ = s.censoring == 1;
    lost_ = s.entry_loss.has_dropout();
    per_patient_ = 2 + (censored_ ? 1 : 0) + (lost_ ? 1 : 0);
    family_ = s.family;
    theta_ = s.theta;
    mode_ = s.mode;
    composite_ = s.composite;
    hazard_[0][0] = s.lambda1;
    hazard_[0][1] = s.lambda2;
    hazard_[1][0] = s.lambda1 * s.HR1;
    hazard_[1][1] = s.lambda2 * s.HR2;
    laws_ = std::make_unique<EventLaws>(s);
  } else {
    laws_ = std::make_unique<EventLaws>(TrialSettings{});
  }
  const size_t size = static_cast<size_t>(most) + 1;
  for (auto* v : {&u1_, &u2_, &u3_, &loss_, &T1_[0], &T1_[1], &T2_[0], &T2_[1]}) v->resize(size);
  drawn_.assign(size, 0);
  have_.assign(size, 0);
  failed_.assign(size, 0);
  todo_arms_.assign(size, 0);
  window_ = std::max(1, team_.size() / 2);
  slots_.resize(2 * static_cast<size_t>(std::min(window_, std::max(K_, 1))));
  for (auto& s : slots_) s = std::make_unique<Slot>();
}

TrialCohort::~TrialCohort() = default;

bool TrialCohort::supported(const std::vector<TrialSettings>& analyses, std::int32_t variant) {
  if (variant != 1 && variant != 5) return false;
  for (const TrialSettings& s : analyses) {
    if (s.N >= 1 && !arm_pattern(s.N, s.r).simulable()) return false;
  }
  return true;
}

void TrialCohort::start(std::int32_t variant, std::int32_t state) {
  variant_ = variant;
  start_ = state;
  computed_ = 0;
  std::fill(drawn_.begin(), drawn_.end(), 0);
  std::fill(have_.begin(), have_.end(), 0);
  std::fill(failed_.begin(), failed_.end(), 0);
  failures_.clear();
}

std::uint64_t TrialCohort::draws(int k) const {
  const Analysis& A = analyses_[static_cast<size_t>(k) - 1];
  // Every patient draws per_patient_ numbers, and those of the incomplete last block one more.
  return static_cast<std::uint64_t>(A.n) * per_patient_ +
         static_cast<std::uint64_t>(A.n - A.pattern.full);
}

std::int32_t TrialCohort::state_after(int k) const {
  return numerics::skip_ahead(variant_, start_, draws(k));
}

// Draws the stream's patients todo_[first..last) (ascending) with the arms todo_arms_ asks for.
void TrialCohort::draw_patients(int first, int last) {
  if (first >= last) return;
  const std::int64_t d = per_patient_;
  std::int64_t place = (static_cast<std::int64_t>(todo_[first]) - 1) * d;
  numerics::UniformStream s(variant_, numerics::skip_ahead(variant_, start_, place));
  std::ostringstream& report = failure_report();
  for (int t = first; t < last; ++t) {
    const int i = todo_[t];
    if (!drawn_[i]) {
      const std::int64_t target = (static_cast<std::int64_t>(i) - 1) * d;
      if (target - place > kMostStepsDrawn) {
        s.skip(static_cast<std::uint64_t>(target - place));
      } else {
        for (; place < target; ++place) s.next();
      }
      u1_[i] = s.next();
      u2_[i] = s.next();
      u3_[i] = censored_ ? s.next() : 0.0;
      loss_[i] = lost_ ? CensoringRule::unit_loss(s.next()) : 0.0;
      place = target + d;
      drawn_[i] = 1;
    }
    const std::uint8_t wanted = todo_arms_[i] & static_cast<std::uint8_t>(~have_[i]);
    for (int arm = 1; arm <= 2; ++arm) {
      if (!(wanted & (1u << (arm - 1)))) continue;
      try {
        const EventTimes e = laws_->times(
            arm, draw_event_times(family_, theta_, laws_->rate(arm, 0), laws_->rate(arm, 1),
                                  u1_[i], u2_[i], report));
        T1_[arm - 1][i] = e.T1;
        T2_[arm - 1][i] = e.T2;
      } catch (...) {
        failed_[i] |= static_cast<std::uint8_t>(1u << (arm - 1));
        Failure f{0, i, arm, report.str(), std::current_exception()};
        report.str("");
        std::lock_guard<std::mutex> lock(failure_mutex_);
        failures_.push_back(std::move(f));
      }
      have_[i] |= static_cast<std::uint8_t>(1u << (arm - 1));
    }
  }
}

// The patients of the incomplete last block of analysis k, from their own place in the stream.
void TrialCohort::draw_extras(int k) {
  Analysis& A = analyses_[static_cast<size_t>(k) - 1];
  const int count = A.n - A.pattern.full;
  A.extras.assign(static_cast<size_t>(count), Extra{});
  if (count == 0) return;
  numerics::UniformStream s(
      variant_, numerics::skip_ahead(variant_, start_,
                                     static_cast<std::uint64_t>(A.pattern.full) * per_patient_));
  std::ostringstream& report = failure_report();
  for (Extra& x : A.extras) {
    x.arm = A.pattern.drawn_arm(s.next());
    const double u1 = s.next();
    const double u2 = s.next();
    try {
      const EventTimes e = laws_->times(
          x.arm, draw_event_times(family_, theta_, laws_->rate(x.arm, 0), laws_->rate(x.arm, 1),
                                  u1, u2, report));
      x.T1 = e.T1;
      x.T2 = e.T2;
    } catch (...) {
      x.failed = true;
      Failure f{k, A.pattern.full + static_cast<int>(&x - A.extras.data()) + 1, x.arm,
                report.str(), std::current_exception()};
      report.str("");
      std::lock_guard<std::mutex> lock(failure_mutex_);
      failures_.push_back(std::move(f));
      // Nothing after a failed patient is used: the analysis stops the run there.
      return;
    }
    x.u3 = censored_ ? s.next() : 0.0;
    x.loss = lost_ ? CensoringRule::unit_loss(s.next()) : 0.0;
  }
}

// The records of one endpoint (0 or 1) of analysis k and their log-rank test.
void TrialCohort::test(int k, int endpoint, Slot& slot) {
  const Analysis& A = analyses_[static_cast<size_t>(k) - 1];
  const int n = A.n;
  slot.records.resize(static_cast<size_t>(n) * kRecordWidth);
  slot.console.str("");
  slot.error = nullptr;
  slot.text.clear();
  const CensoringRule& rule = *A.censoring;
  int D = 0, censored = 0;
  double* row = slot.records.data();
  for (int i = 1; i <= n; ++i, row += kRecordWidth) {
    int arm;
    double T1, T2, u3, loss;
    if (i <= A.pattern.full) {
      arm = A.pattern.arm(i);
      T1 = T1_[arm - 1][i];
      T2 = T2_[arm - 1][i];
      u3 = u3_[i];
      loss = loss_[i];
    } else {
      const Extra& x = A.extras[static_cast<size_t>(i - A.pattern.full - 1)];
      arm = x.arm;
      T1 = x.T1;
      T2 = x.T2;
      u3 = x.u3;
      loss = x.loss;
    }
    const PatientRecord p = observe(mode_, composite_, T1, T2, rule.censoring_time(arm, u3, loss));
    const double status = endpoint == 0 ? p.status1 : p.status2;
    row[kStatusColumn] = status;
    row[kGroupColumn] = arm - 1;
    row[kTimeColumn] = endpoint == 0 ? p.X1 : p.X2;
    if (status == 1.0) ++D; else ++censored;
  }
  slot.D = D;
  try {
    slot.result = ALGORITHM(slot.records.data(), n, kRecordWidth, D, censored, 2, 1, slot.console,
                            slot.table);
  } catch (...) {
    slot.error = std::current_exception();
  }
  slot.text = slot.console.str();
}

void TrialCohort::compute(int first, int last, SimulationProfile* profile) {
  Clock::time_point t0;
  if (profile) t0 = Clock::now();
  // The arms each patient of the stream takes in the analyses of the window.
  int most = 0;
  for (int k = first; k <= last; ++k) most = std::max(most, analyses_[k - 1].pattern.full);
  std::fill(todo_arms_.begin(), todo_arms_.begin() + most + 1, 0);
  for (int k = first; k <= last; ++k) {
    const ArmPattern& p = analyses_[k - 1].pattern;
    for (int i = 1; i <= p.full; ++i) todo_arms_[i] |= static_cast<std::uint8_t>(1u << (p.arm(i) - 1));
  }
  todo_.clear();
  for (int i = 1; i <= most; ++i) {
    if (todo_arms_[i] & ~have_[i]) todo_.push_back(i);
  }
  const int patients = static_cast<int>(todo_.size());
  const int threads = team_.size();
  const int parts =
      threads == 1 ? 1
                   : std::clamp(patients / kMinPatientsPerTask, 1, kTasksPerThread * threads);
  std::vector<int> extras;
  for (int k = first; k <= last; ++k) {
    if (analyses_[k - 1].n > analyses_[k - 1].pattern.full) extras.push_back(k);
    else analyses_[k - 1].extras.clear();
  }
  team_.run(parts + static_cast<int>(extras.size()), [&](int t) {
    if (t < parts) {
      draw_patients(static_cast<int>(static_cast<long long>(patients) * t / parts),
                    static_cast<int>(static_cast<long long>(patients) * (t + 1) / parts));
    } else {
      draw_extras(extras[static_cast<size_t>(t - parts)]);
    }
  });
  // The first patient of each analysis whose event times could not be found: that analysis
  // stops the run there, without a log-rank test.
  for (int k = first; k <= last; ++k) {
    Analysis& A = analyses_[k - 1];
    A.first_failure = 0;
    if (failures_.empty()) continue;
    for (int i = 1; i <= A.pattern.full && !A.first_failure; ++i) {
      if (failed_[i] & (1u << (A.pattern.arm(i) - 1))) A.first_failure = i;
    }
    for (size_t j = 0; j < A.extras.size() && !A.first_failure; ++j) {
      if (A.extras[j].failed) A.first_failure = A.pattern.full + static_cast<int>(j) + 1;
    }
  }
  if (profile) {
    profile->generation += seconds_since(t0);
    t0 = Clock::now();
  }
  std::vector<int> pairs;  // analysis * 2 + endpoint
  int largest = 0;
  for (int k = first; k <= last; ++k) {
    Analysis& A = analyses_[k - 1];
    A.slot = 2 * (k - first);
    if (A.first_failure) continue;
    pairs.push_back(2 * k);
    pairs.push_back(2 * k + 1);
    largest = std::max(largest, A.n);
  }
  auto run_pair = [&](int t) {
    const int k = pairs[static_cast<size_t>(t)] / 2, e = pairs[static_cast<size_t>(t)] % 2;
    test(k, e, *slots_[static_cast<size_t>(analyses_[k - 1].slot + e)]);
  };
  if (largest >= kMinParallelTest) {
    team_.run(static_cast<int>(pairs.size()), run_pair);
  } else {
    for (int t = 0; t < static_cast<int>(pairs.size()); ++t) run_pair(t);
  }
  if (profile) profile->logrank += seconds_since(t0);
  computed_ = last;
}

TrialOutcome TrialCohort::outcome(int k, std::ostream& console, std::ostream& main_report,
                                  SimulationProfile* profile) {
  if (k > computed_) compute(k, std::min(K_, k + window_ - 1), profile);
  const Analysis& A = analyses_[static_cast<size_t>(k) - 1];
  if (A.first_failure) {
    const int i = A.first_failure;
    const bool extra = i > A.pattern.full;
    const int arm = extra ? A.extras[static_cast<size_t>(i - A.pattern.full - 1)].arm
                          : A.pattern.arm(i);
    for (const Failure& f : failures_) {
      if (f.patient == i && f.arm == arm && f.analysis == (extra ? k : 0)) {
        main_report << f.text;
        main_report.flush();
        std::rethrow_exception(f.error);
      }
    }
    throw RunError("The event times of a simulated patient could not be found.");
  }
  const Slot& s1 = *slots_[static_cast<size_t>(A.slot)];
  const Slot& s2 = *slots_[static_cast<size_t>(A.slot) + 1];
  for (const Slot* s : {&s1, &s2}) {
    console << s->text;
    if (s->error) {
      console.flush();
      std::rethrow_exception(s->error);
    }
  }
  TrialOutcome out;
  out.Z1 = s1.result.Z;
  out.p1 = s1.result.p;
  out.I1 = s1.result.V / 4.0;
  out.D1 = s1.D;
  out.Z2 = s2.result.Z;
  out.p2 = s2.result.p;
  out.I2 = s2.result.V / 4.0;
  out.D2 = s2.D;
  stop_on_nan_variance("ep1", s1.result.V, s1.result.Z, s1.records.data(), A.n, console);
  stop_on_nan_variance("ep2", s2.result.V, s2.result.Z, s2.records.data(), A.n, console);
  return out;
}

}  // namespace kestrel::simulation
