#include "simulation/task_team.h"

#include <system_error>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kestrel::simulation {
namespace {

// Spins of a waiting thread before it sleeps: some tens of microseconds, about the time between
// two batches of one simulated trial.
constexpr int kSpins = 4000;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#else
  std::this_thread::yield();
#endif
}

}  // namespace

TaskTeam::TaskTeam(int threads) {
  const int count = threads > 1 ? threads - 1 : 0;
  // More threads than the processor runs at once: a spinning thread would take the time of one
  // with work to do, so waiting threads sleep at once.
  const unsigned cores = std::thread::hardware_concurrency();
  spins_ = cores == 0 || static_cast<unsigned>(threads) <= cores ? kSpins : 0;
  helpers_.reserve(static_cast<size_t>(count));
  try {
    for (int i = 0; i < count; ++i) helpers_.emplace_back([this] { loop(); });
  } catch (const std::system_error&) {
    // Goes on with the threads it has.
  }
}

TaskTeam::~TaskTeam() {
  stop_.store(true, std::memory_order_release);
  posted_.fetch_add(1, std::memory_order_release);
  posted_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void TaskTeam::take_tasks(std::uint32_t batch) {
  for (;;) {
    std::uint64_t s = state_.load(std::memory_order_acquire);
    if (static_cast<std::uint32_t>(s >> 32) != batch) return;
    const int tasks = tasks_.load(std::memory_order_acquire);
    void* context = context_.load(std::memory_order_acquire);
    const Call call = call_.load(std::memory_order_acquire);
    const int t = static_cast<int>(s & 0xFFFFFFFFu);
    if (t >= tasks) return;
    // The task and the batch's description belong together only if the batch is still the one
    // read: a batch ends only after all its tasks are taken and done.
    if (!state_.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel)) continue;
    try {
      call(context, t);
    } catch (...) {
      std::lock_guard<std::mutex> lock(error_mutex_);
      if (!error_) error_ = std::current_exception();
    }
    if (done_.fetch_add(1, std::memory_order_acq_rel) + 1 == tasks) done_.notify_one();
  }
}

void TaskTeam::run_batch(int tasks, void* context, Call call) {
  if (tasks <= 0) return;
  if (helpers_.empty() || tasks == 1) {
    for (int t = 0; t < tasks; ++t) call(context, t);
    return;
  }
  const std::uint32_t batch = posted_.load(std::memory_order_relaxed) + 1;
  // The new batch is first marked with no task to take: a helper late for the last batch, which
  // read its state before, then cannot take a task under the old number once it sees this
  // batch's description (whose stores come after this one and which it reads with acquire).
  state_.store((static_cast<std::uint64_t>(batch) << 32) | 0xFFFFFFFFu, std::memory_order_seq_cst);
  error_ = nullptr;
  done_.store(0, std::memory_order_relaxed);
  tasks_.store(tasks, std::memory_order_release);
  context_.store(context, std::memory_order_release);
  call_.store(call, std::memory_order_release);
  state_.store(static_cast<std::uint64_t>(batch) << 32, std::memory_order_release);
  posted_.store(batch, std::memory_order_release);
  posted_.notify_all();
  take_tasks(batch);
  int spins = 0;
  for (int d = done_.load(std::memory_order_acquire); d != tasks;
       d = done_.load(std::memory_order_acquire)) {
    if (++spins < spins_) {
      relax();
    } else {
      done_.wait(d, std::memory_order_acquire);
    }
  }
  if (error_) std::rethrow_exception(error_);
}

void TaskTeam::loop() {
  std::uint32_t seen = 0;
  for (;;) {
    int spins = 0;
    std::uint32_t now = posted_.load(std::memory_order_acquire);
    while (now == seen) {
      if (++spins < spins_) {
        relax();
      } else {
        posted_.wait(seen, std::memory_order_acquire);
      }
      now = posted_.load(std::memory_order_acquire);
    }
    seen = now;
    if (stop_.load(std::memory_order_acquire)) return;
    take_tasks(now);
  }
}

}  // namespace kestrel::simulation
