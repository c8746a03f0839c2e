// The randomized Korobov lattice rules with the baker's transformation (Genz's DKBVRC/DKSMRC):
// the small combined generator that randomizes the rules, the plain scalar walk of the
// separation-of-variables integrand (MVNDFN), one randomized sum (plain, or batched through
// lattice_sum of lattice_rule.cpp), the sharing of an iteration's sums among threads, and the
// iterations over the lattice sizes.
#include "common/fp_contract.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "mvn/integration_detail.h"
#include "mvn/kernels.h"

namespace kestrel::mvn::detail {
#include "mvn/weighted_lattices.inc"
}  // namespace kestrel::mvn::detail

namespace kestrel::mvn {

namespace {
constexpr int kPlim = 28;     // number of lattice sizes
constexpr int kKlim = 100;    // dimensions covered by the generator table
constexpr int kMinsmp = 8;    // minimum number of randomized samples

constexpr int L = kIntegrandLanes;

// The plain loop's running mean carried on over the values of points begin, begin + 1, ...:
// the same expression, in the same order, as the deferred sums of lattice_sum_pack.
double running_mean(double sumkro, const double* values, int begin, int count) {
  for (int i = 0; i < count; ++i) {
    const int p = begin + i;
    const int k = p / 2 + 1;
    sumkro = sumkro + (values[i] - sumkro) / ((p & 1) ? 2 * k : 2 * k - 1);
  }
  return sumkro;
}
}  // namespace

// L'Ecuyer's combined multiple recursive generator (1996), two components of order 3, each
// product formed by Schrage's decomposition.
double MvnState::MVNUNI() {
  constexpr std::int64_t m1 = 2147483647, m2 = 2145483479;
  constexpr std::int64_t a12 = 63308, q12 = 33921, r12 = 12979;
  constexpr std::int64_t a13 = -183326, q13 = 11714, r13 = 2883;
  constexpr std::int64_t a21 = 86098, q21 = 24919, r21 = 7417;
  constexpr std::int64_t a23 = -539608, q23 = 3976, r23 = 2071;
  constexpr double invmp1 = 4.656612873077392578125e-10;  // 1/(m1 + 1)
  std::int64_t h = x10_ / q13;
  std::int64_t p13 = -a13 * (x10_ - h * q13) - h * r13;
  h = x11_ / q12;
  std::int64_t p12 = a12 * (x11_ - h * q12) - h * r12;
  if (p13 < 0) p13 += m1;
  if (p12 < 0) p12 += m1;
  x10_ = x11_;
  x11_ = x12_;
  x12_ = p12 - p13;
  if (x12_ < 0) x12_ += m1;
  h = x20_ / q23;
  std::int64_t p23 = -a23 * (x20_ - h * q23) - h * r23;
  h = x22_ / q21;
  std::int64_t p21 = a21 * (x22_ - h * q21) - h * r21;
  if (p23 < 0) p23 += m2;
  if (p21 < 0) p21 += m2;
  x20_ = x21_;
  x21_ = x22_;
  x22_ = p21 - p23;
  if (x22_ < 0) x22_ += m2;
  std::int64_t z = x12_ - x22_;
  if (z <= 0) z += m1;
  return static_cast<double>(z) * invmp1;
}

double MVNDFN(int ndim, const double* w, const MvnState::Work& work) {
  const double* cov = work.cov.data();
  const double* a = work.a.data();
  const double* b = work.b.data();
  const int* infi = work.infi.data();
  // Expected values are written as the walk goes; the work copy is only read by the caller.
  double* y = const_cast<double*>(work.y.data());
  double value = 1;
  int infa = 0, infb = 0, ik = 1, ij = 0;
  double ai = 0, bi = 0;
  for (int i = 1; i <= ndim + 1; ++i) {
    double sum = 0;
    const int terms = std::min(i - 1, ik - 1);
    for (int j = 1; j <= terms; ++j) sum = sum + cov[ij + j] * y[j];
    ij = ij + i;
    if (infi[i] != 0) {
      if (infa == 1) {
        ai = std::max(ai, a[i] - sum);
      } else {
        ai = a[i] - sum;
        infa = 1;
      }
    }
    if (infi[i] != 1) {
      if (infb == 1) {
        bi = std::min(bi, b[i] - sum);
      } else {
        bi = b[i] - sum;
        infb = 1;
      }
    }
    if (i == ndim + 1 || cov[ij + ik + 1] > 0) {
      double di, ei;
      detail::MVNLMS(ai, bi, 2 * infa + infb - 1, di, ei);
      if (di >= ei) return 0;
      value = value * (ei - di);
      if (i <= ndim) y[ik] = detail::phinvs(di + w[ik] * (ei - di));
      ++ik;
      infa = 0;
      infb = 0;
    }
  }
  return value;
}

namespace {

// The random part of one lattice sum: random reordering of the first generators (kept in vk
// for the next sum) and a random shift in shift[1..ndim].
void draw_sample(int ndim, int klim, double* vk, double* shift, MvnState& state) {
  const int nk = std::min(ndim, klim);
  for (int j = 1; j <= nk - 1; ++j) {
    const int jp = static_cast<int>(static_cast<double>(j) + state.MVNUNI() * static_cast<double>(nk + 1 - j));
    std::swap(vk[j], vk[jp]);
  }
  for (int j = 1; j <= ndim; ++j) shift[j] = state.MVNUNI();
}

// One randomized, symmetrized lattice sum: random reordering of the first generators, a random
// shift, the baker's transformation and the antithetic point of every lattice point.
double DKSMRC(int ndim, int klim, int prime, double* vk, double* x, MvnState& state, bool plain) {
  draw_sample(ndim, klim, vk, x + ndim, state);
  MvnState::Work& work = state.work();
  if (plain) {
    double sumkro = 0;
    for (int k = 1; k <= prime; ++k) {
      for (int j = 1; j <= ndim; ++j) {
        const double t = static_cast<double>(k) * vk[j] + x[ndim + j];
        x[j] = std::fabs(2 * (t - std::trunc(t)) - 1);
      }
      sumkro = sumkro + (MVNDFN(ndim, x, work) - sumkro) / (2 * k - 1);
      for (int j = 1; j <= ndim; ++j) x[j] = 1 - x[j];
      sumkro = sumkro + (MVNDFN(ndim, x, work) - sumkro) / (2 * k);
    }
    return sumkro;
  }
  return lattice_sum(ndim, 0, 2 * prime, vk, x + ndim, work, work.lane_w.data(), work.lane_y.data());
}

// Below this many generator coordinates per sum (lattice size times dimension) the sums of an
// iteration stay on the calling thread: handing them over would cost more than it saves.
constexpr long long kSharedSumSize = 4000;

// Bounds of the pieces a lattice sum is cut into when the sums of an iteration are too few to
// keep every thread busy: at least 1024 points a piece (the hand-over of the running mean costs
// a few microseconds), at most 32768 (each thread keeps the values of one piece).
constexpr long long kMinPiecePoints = 1024, kMaxPiecePoints = 32768;

// The lattice sums of one iteration as tasks taken in turn by whichever thread is free: either
// whole sums (pieces = 1), or each sum cut into `pieces` runs of consecutive points, taken
// piece by piece across the sums (piece 0 of every sum, then piece 1, ...). A thread evaluates
// the values of its piece, waits until the pieces before it in the same sum have been added, and
// carries the running mean on over its own values; so every sum adds its values one at a time,
// in point order, whatever the number of threads, and ends with the bits of the plain loop.
struct SumBatch {
  int ndim = 0, points = 0, samples = 0, pieces = 1, piece_points = 0;
  const double* vk = nullptr;     // sample s at s * (ndim + 1)
  const double* shift = nullptr;  // likewise
  double* sums = nullptr;         // sample s: its sum (running, while its pieces are added)
  std::atomic<int>* added = nullptr;  // sample s: pieces added so far
  const MvnState::Work* work = nullptr;
  std::atomic<int> next{0};

  int tasks() const { return samples * pieces; }

  // values: room for piece_points values (unused when pieces = 1).
  void run(double* lw, double* ly, double* values) {
    const size_t stride = static_cast<size_t>(ndim) + 1;
    for (;;) {
      const int t = next.fetch_add(1, std::memory_order_relaxed);
      if (t >= tasks()) return;
      const int s = t % samples, piece = t / samples;
      const size_t o = static_cast<size_t>(s) * stride;
      if (pieces == 1) {
        sums[s] = lattice_sum(ndim, 0, points, vk + o, shift + o, *work, lw, ly);
        continue;
      }
      const int begin = piece * piece_points;
      const int end = std::min(points, begin + piece_points);
      lattice_sum(ndim, begin, end, vk + o, shift + o, *work, lw, ly, values);
      // The earlier pieces of this sum were taken before this one, by threads that wait only for
      // pieces taken before theirs; so the wait ends.
      std::atomic<int>& done = added[s];
      for (int seen = done.load(std::memory_order_acquire); seen != piece;
           seen = done.load(std::memory_order_acquire)) {
        done.wait(seen, std::memory_order_acquire);
      }
      sums[s] = running_mean(piece == 0 ? 0.0 : sums[s], values, begin, end - begin);
      done.store(piece + 1, std::memory_order_release);
      done.notify_all();
    }
  }
};

// How many pieces each of `samples` sums of `points` points is cut into for `threads` threads.
// Whole sums when they share out evenly or are many (no waiting; the running mean is added while
// the next values are computed); otherwise about eight tasks per thread.
int pieces_per_sum(long long samples, long long points, int threads) {
  if (samples % threads == 0 || samples >= 8LL * threads) return 1;
  long long pieces = (8LL * threads + samples - 1) / samples;
  pieces = std::max(pieces, (points + kMaxPiecePoints - 1) / kMaxPiecePoints);
  pieces = std::min(pieces, points / kMinPiecePoints);
  return static_cast<int>(std::max(pieces, 1LL));
}

}  // namespace

// The extra threads of the lattice sums (threads - 1 of them). They sleep between iterations;
// each owns its lane buffers and room for the values of one piece.
class LatticeWorkers {
 public:
  // Starts up to `count` threads; size() says how many could be started.
  explicit LatticeWorkers(int count) {
    buffers_.resize(static_cast<size_t>(count));
    threads_.reserve(static_cast<size_t>(count));
    try {
      for (int i = 0; i < count; ++i) threads_.emplace_back([this, i] { loop(i); });
    } catch (const std::system_error&) {
      // Goes on with the threads it has.
    }
  }
  ~LatticeWorkers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    start_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  LatticeWorkers(const LatticeWorkers&) = delete;
  LatticeWorkers& operator=(const LatticeWorkers&) = delete;

  int size() const { return static_cast<int>(threads_.size()); }

  // Shares the batch between the calling thread (its buffers lw, ly, values) and `helpers` of the
  // workers; returns when every task is done.
  void share(SumBatch& batch, int helpers, double* lw, double* ly, double* values) {
    helpers = std::min(helpers, size());
    const size_t lanes = (static_cast<size_t>(batch.ndim) + 1) * kIntegrandLanes;
    const size_t room = batch.pieces > 1 ? static_cast<size_t>(batch.piece_points) : 0;
    for (int i = 0; i < helpers; ++i) {
      // Grown here, while the workers sleep; never shrunk.
      Buffers& b = buffers_[static_cast<size_t>(i)];
      if (b.lw.size() < lanes) {
        b.lw.resize(lanes);
        b.ly.resize(lanes);
      }
      if (b.values.size() < room) b.values.resize(room);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch_ = &batch;
      helpers_ = helpers;
      finished_ = 0;
      ++posted_;
    }
    if (helpers > 0) start_.notify_all();
    batch.run(lw, ly, values);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return finished_ == helpers_; });
    batch_ = nullptr;
  }

 private:
  struct Buffers {
    std::vector<double> lw, ly, values;
  };

  void loop(int index) {
    std::unique_lock<std::mutex> lock(mutex_);
    unsigned long seen = 0;
    for (;;) {
      start_.wait(lock, [&] { return stop_ || posted_ != seen; });
      if (stop_) return;
      seen = posted_;
      if (index >= helpers_) continue;
      SumBatch* batch = batch_;
      Buffers& b = buffers_[static_cast<size_t>(index)];
      lock.unlock();
      batch->run(b.lw.data(), b.ly.data(), b.values.data());
      lock.lock();
      if (++finished_ == helpers_) done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable start_, done_;
  SumBatch* batch_ = nullptr;
  int helpers_ = 0, finished_ = 0;
  unsigned long posted_ = 0;
  bool stop_ = false;
  std::vector<Buffers> buffers_;
  std::vector<std::thread> threads_;  // last, so everything they use exists before they start
};

namespace {
constexpr int kMaxThreads = 256;
}  // namespace

MvnState::Work::Work() {
  const unsigned cores = std::thread::hardware_concurrency();
  int n = cores >= 1 ? static_cast<int>(std::min<unsigned>(cores, kMaxThreads)) : 1;
  if (const char* env = std::getenv("KESTREL_THREADS")) {
    // Only a whole number written in decimal digits counts ("3.5", "3junk" and "1e9" are not
    // read as 3, 3 and 1); one too large for an int counts as the most threads.
    const std::string_view text(env);
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    const bool digits = !text.empty() && text[0] != '-' && end == text.data() + text.size();
    if (digits && ec == std::errc::result_out_of_range) n = kMaxThreads;
    else if (digits && ec == std::errc() && v >= 1) n = static_cast<int>(std::min<long long>(v, kMaxThreads));
  }
  threads = n;
}

MvnState::Work::~Work() = default;

void MvnState::set_threads(int n) {
  work_->threads = std::clamp(n, 1, kMaxThreads);
  if (work_->workers && work_->workers->size() != work_->threads - 1) work_->workers.reset();
}
int MvnState::threads() const { return work_->threads; }

LatticeResult DKBVRC(int ndim, long long minvls, long long maxvls, double abseps, double releps,
                     MvnState& state, bool plain) {
  LatticeProgress progress;
  return DKBVRC(ndim, minvls, maxvls, abseps, releps, state, progress, plain);
}

LatticeResult DKBVRC(int ndim, long long minvls, long long maxvls, double abseps, double releps,
                     MvnState& state, LatticeProgress& progress, bool plain) {
  using detail::kLatticeGenerators;
  using detail::kLatticePrimes;
  MvnState::Work& work = state.work();
  double* vk = work.vk.data();
  double* x = work.x.data();
  LatticeResult out;
  out.inform = 1;
  // Lattice sizes are prime(np); the starting size is the first with enough points.
  auto prime = [](int i) { return static_cast<long long>(kLatticePrimes[i - 1]); };
  if (!progress.started) {
    progress = LatticeProgress{};
    progress.started = true;
    progress.sampls = kMinsmp;
    if (minvls >= 0) {
      bool found = false;
      for (int i = std::min(ndim, 10); i <= kPlim; ++i) {
        progress.np = i;
        if (minvls < 2 * progress.sampls * prime(i)) {
          found = true;
          break;
        }
      }
      if (!found) progress.sampls = std::max<long long>(kMinsmp, minvls / (2 * prime(progress.np)));
    }
  } else if (progress.intvls + 2 * progress.sampls * prime(progress.np) > maxvls) {
    // A budget that does not reach the next lattice adds nothing.
    out.finest = progress.finest;
    out.abserr = progress.abserr;
    out.intvls = progress.intvls;
    return out;
  }
  long long& intvls = progress.intvls;
  double& finest = progress.finest;
  double& varest = progress.varest;
  double& abserr = progress.abserr;
  long long& sampls = progress.sampls;
  int& np = progress.np;  // 1-based lattice index
  // Weighted lattices keep their components in the order built for the sorted variables (the
  // first matter most), so only the shift is random; Korobov ones also reorder their generators.
  const bool weighted = state.method() == LatticeMethod::weighted;
  const int klim = weighted ? 1 : kKlim;
  for (;;) {
    const long long p = prime(np);
    vk[1] = 1.0 / static_cast<double>(p);
    long long k = 1;
    for (int i = 2; i <= ndim; ++i) {
      if (weighted && i <= detail::kWeightedDims) {
        vk[i] = static_cast<double>(detail::kWeightedGenerators[np - 1][i - 1]) * vk[1];
      } else if (i <= kKlim) {
        k = (kLatticeGenerators[np - 1][std::min(ndim - 1, kKlim - 1) - 1] * k) % p;
        vk[i] = static_cast<double>(k) * vk[1];
      } else {
        double v = std::trunc(static_cast<double>(p) *
                              std::pow(2.0, static_cast<double>(i - kKlim) / static_cast<double>(ndim - kKlim + 1)));
        v = v / static_cast<double>(p);
        vk[i] = v - std::trunc(v);
      }
    }
    double finval = 0, varsqr = 0;
    auto update = [&](long long i, double value) {
      const double difint = (value - finval) / static_cast<double>(i);
      finval = finval + difint;
      varsqr = static_cast<double>(i - 2) * varsqr / static_cast<double>(i) + difint * difint;
    };
    if (plain || work.threads < 2 || p * ndim < kSharedSumSize) {
      for (long long i = 1; i <= sampls; ++i) update(i, DKSMRC(ndim, klim, static_cast<int>(p), vk, x, state, plain));
    } else {
      // The random numbers of every sample are drawn first, in the order of the loop above (the
      // reordered generators carry over from sample to sample); the sums then run on every
      // thread and enter the estimate in sample order, so the numbers are those of the loop.
      const size_t stride = static_cast<size_t>(ndim) + 1;
      const size_t need = static_cast<size_t>(sampls) * stride;
      if (work.sample_vk.size() < need) {
        work.sample_vk.resize(need);
        work.sample_shift.resize(need);
      }
      if (work.sample_sum.size() < static_cast<size_t>(sampls)) work.sample_sum.resize(static_cast<size_t>(sampls));
      for (long long i = 0; i < sampls; ++i) {
        const size_t o = static_cast<size_t>(i) * stride;
        draw_sample(ndim, klim, vk, work.sample_shift.data() + o, state);
        std::copy(vk + 1, vk + ndim + 1, work.sample_vk.data() + o + 1);
      }
      if (!work.workers) {
        work.workers = std::make_unique<LatticeWorkers>(work.threads - 1);
        // Without the threads asked for, this batch and later ones run on those that started.
        work.threads = 1 + work.workers->size();
      }
      SumBatch batch;
      batch.ndim = ndim;
      batch.points = static_cast<int>(2 * p);
      batch.samples = static_cast<int>(sampls);
      batch.pieces = pieces_per_sum(sampls, 2 * p, work.threads);
      batch.piece_points = static_cast<int>(((2 * p + batch.pieces - 1) / batch.pieces + L - 1) / L * L);
      batch.pieces = static_cast<int>((2 * p + batch.piece_points - 1) / batch.piece_points);
      batch.vk = work.sample_vk.data();
      batch.shift = work.sample_shift.data();
      batch.sums = work.sample_sum.data();
      const std::unique_ptr<std::atomic<int>[]> added = std::make_unique<std::atomic<int>[]>(static_cast<size_t>(sampls));
      batch.added = added.get();
      batch.work = &work;
      if (batch.pieces > 1 && work.piece_values.size() < static_cast<size_t>(batch.piece_points))
        work.piece_values.resize(static_cast<size_t>(batch.piece_points));
      work.workers->share(batch, std::min(work.threads, batch.tasks()) - 1, work.lane_w.data(), work.lane_y.data(),
                          work.piece_values.data());
      for (long long i = 1; i <= sampls; ++i) update(i, work.sample_sum[static_cast<size_t>(i - 1)]);
    }
    intvls = intvls + 2 * sampls * p;
    const double varprd = varest * varsqr;
    finest = finest + (finval - finest) / (1 + varprd);
    if (varsqr > 0) varest = (1 + varprd) / varsqr;
    abserr = 7 * std::sqrt(varsqr / (1 + varprd)) / 2;
    if (abserr > std::max(abseps, std::fabs(finest) * releps)) {
      if (np < kPlim) {
        ++np;
      } else {
        sampls = std::min(3 * sampls / 2, (maxvls - intvls) / (2 * p));
        sampls = std::max<long long>(kMinsmp, sampls);
      }
      if (intvls + 2 * sampls * prime(np) <= maxvls) continue;
    } else {
      out.inform = 0;
    }
    break;
  }
  out.finest = finest;
  out.abserr = abserr;
  out.intvls = intvls;
  return out;
}

}  // namespace kestrel::mvn
