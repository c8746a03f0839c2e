#pragma once
// The patients of one simulated trial, drawn once and cut per analysis.
//
// A replication analyses at every analysis k the first N u(k) patients of one stream of uniform
// numbers started at the replication's generator state, drawn patient by patient in the order
// of SIMDATA: the allocation draw (only for patients of an incomplete last block of the N u(k)),
// u1, u2, u3 when censoring is on, u4 when there is loss to follow-up. A patient with a fixed
// arm therefore finds its numbers at the same place of the stream in every analysis: with d
// draws a patient, patient i's u1 is draw (i - 1) d + 1. Its event times depend only on u1, u2
// and its arm, so they are computed once per arm it takes in some analysis (the arm of a
// patient in a whole block depends on N u(k) when the allocation is not 1:1); only the censoring
// time depends on the analysis (its accrual span and calendar time), and is formed per analysis
// from the stored u3 and u4 with the expressions of SIMDATA. The patients of an incomplete last
// block draw their arm first, which moves their numbers: they are drawn per analysis from their
// own place in the stream (at most 9 of them).
//
// Threads: every thread draws its own run of patients by jumping the stream ahead to its first
// patient's place, and the log-rank test of each (analysis, endpoint) pair is a task of its own;
// with more than two threads the next analyses are computed ahead, half as many as threads. The
// outcomes are handed out analysis by analysis, and the errors of an analysis (an event time that
// cannot be found, a log-rank test that fails) are written and thrown when its outcome is asked
// for, in the order SIMDATA meets them; so the figures, the reports and the generator state are
// those of a run that regenerates every analysis, for any number of threads.
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "simulation/simdata.h"
#include "simulation/task_team.h"

namespace kestrel::simulation {

class TrialCohort {
 public:
  // analyses: the settings of analyses 1..K of the simulation (they differ only in N, a and s);
  // threads: 1 to 256.
  TrialCohort(std::vector<TrialSettings> analyses, int threads);
  ~TrialCohort();

  // False when the cohort cannot reproduce the trials (a generator variant other than 1 or 5, or
  // an allocation share without a pattern): the caller then regenerates every analysis.
  static bool supported(const std::vector<TrialSettings>& analyses, std::int32_t variant);

  // Starts a replication whose first number follows the generator state `state` of `variant`.
  void start(std::int32_t variant, std::int32_t state);

  // The outcome of analysis k (1-based) of the current replication: the statistics SIMDATA gives
  // from the replication's starting state. Time spent drawing patients and in the log-rank tests
  // is added to `profile` when given.
  TrialOutcome outcome(int k, std::ostream& console, std::ostream& main_report,
                       SimulationProfile* profile);

  // The generator state after the draws of analysis k: what SIMDATA of analysis k leaves.
  std::int32_t state_after(int k) const;
  // How many numbers analysis k draws.
  std::uint64_t draws(int k) const;

  int threads() const { return team_.size(); }

 private:
  struct Analysis;
  struct Extra;
  struct Failure;
  struct Slot;

  void compute(int first, int last, SimulationProfile* profile);
  void draw_patients(int first, int last);
  void draw_extras(int k);
  void test(int k, int endpoint, Slot& slot);

  std::vector<Analysis> analyses_;
  int K_ = 0, per_patient_ = 0, window_ = 1;
  bool censored_ = false, lost_ = false;
  int family_ = 1, mode_ = 1, composite_ = 1;
  double theta_ = 0, hazard_[2][2] = {{1, 1}, {1, 1}};
  std::unique_ptr<EventLaws> laws_;  // the arms' laws of both endpoints
  std::int32_t variant_ = 5, start_ = 1;
  int computed_ = 0;  // analyses 1..computed_ have outcomes (or errors) this replication

  // Patients 1..M of the stream (index 0 unused): their numbers, and their event times per arm.
  std::vector<double> u1_, u2_, u3_, loss_;
  std::vector<double> T1_[2], T2_[2];
  std::vector<std::uint8_t> drawn_, have_, failed_;  // have_, failed_: bit arm - 1
  std::vector<int> todo_;
  std::vector<std::uint8_t> todo_arms_;
  std::vector<Failure> failures_;  // event times not found this replication (rare)
  std::mutex failure_mutex_;
  std::vector<std::unique_ptr<Slot>> slots_;    // per (analysis, endpoint) of a window
  TaskTeam team_;
};

}  // namespace kestrel::simulation
