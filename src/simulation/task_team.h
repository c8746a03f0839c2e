#pragma once
// A team of threads for the short tasks of one simulated trial: the calling thread and up to
// `threads - 1` helpers take numbered tasks in turn until all are done. Between batches the
// helpers spin for a short while (a simulated trial posts its next batch within microseconds),
// then sleep.
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace kestrel::simulation {

class TaskTeam {
 public:
  // Starts up to threads - 1 helpers; size() says how many threads (the caller included) run.
  explicit TaskTeam(int threads);
  ~TaskTeam();
  TaskTeam(const TaskTeam&) = delete;
  TaskTeam& operator=(const TaskTeam&) = delete;

  int size() const { return 1 + static_cast<int>(helpers_.size()); }

  // Runs f(task) for task = 0..tasks-1 on the team and returns when all are done. Tasks may run
  // in any order and on any thread; the first exception a task throws is thrown here.
  template <class F>
  void run(int tasks, F&& f) {
    using Fn = std::remove_reference_t<F>;
    run_batch(tasks, const_cast<void*>(static_cast<const void*>(&f)),
              [](void* c, int t) { (*static_cast<Fn*>(c))(t); });
  }

 private:
  using Call = void (*)(void*, int);
  void run_batch(int tasks, void* context, Call call);
  // Takes tasks of batch `batch` until none is left (or another batch has started).
  void take_tasks(std::uint32_t batch);
  void loop();

  // The batch number (high 32 bits) and the next task to take (low 32 bits): a helper takes a
  // task only by moving this on within the batch it woke for, so one that wakes late for a
  // batch already done takes nothing.
  std::atomic<std::uint64_t> state_{0};
  std::atomic<std::uint32_t> posted_{0};  // the last batch posted; helpers wake on a change
  std::atomic<int> done_{0};              // tasks of the current batch finished
  std::atomic<int> tasks_{0};
  std::atomic<void*> context_{nullptr};
  std::atomic<Call> call_{nullptr};
  std::atomic<bool> stop_{false};
  int spins_ = 0;  // spins of a waiting thread before it sleeps
  std::mutex error_mutex_;
  std::exception_ptr error_;
  std::vector<std::thread> helpers_;  // last, so everything they use exists before they start
};

}  // namespace kestrel::simulation
