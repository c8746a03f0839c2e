// The batched separation-of-variables integrand of the randomized lattice rules: its walk,
// planned once per problem (build_integrand_plan), evaluated at 64 points side by side in vectors
// as wide as the processor's, one version per instruction set, and the symmetrized lattice sum
// over those points (lattice_sum). Every value is the plain walk's (MVNDFN, in
// lattice_iterations.cpp) to the last bit; docs/lattice-rule.md says what keeps it so.
#include "common/fp_contract.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "mvn/integration_detail.h"
#include "mvn/kernels.h"

// Inline assembly is written for GCC on x86-64 only. Clang checks the register operands of every
// asm statement, also in branches that are never instantiated, before it knows the instruction
// set of the function, and other processors have none of these instructions: both take the
// plain code next to each asm statement, which gives the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KESTREL_X86_ASM 1
#endif

namespace kestrel::mvn {

void build_integrand_plan(int nd, MvnState::Work& w) {
  const double* cov = w.cov.data();
  const int* infi = w.infi.data();
  w.plan.resize(static_cast<size_t>(nd));
  int ik = 1, ij = 0, infa = 0, infb = 0;
  for (int i = 1; i <= nd; ++i) {
    IntegrandRow& r = w.plan[static_cast<size_t>(i - 1)];
    r = IntegrandRow{};
    r.terms = std::min(i - 1, ik - 1);
    r.cov_offset = ij;
    ij = ij + i;
    if (infi[i] != 0) {
      r.lower_mode = infa == 1 ? 2 : 1;
      infa = 1;
    }
    if (infi[i] != 1) {
      r.upper_mode = infb == 1 ? 2 : 1;
      infb = 1;
    }
    if (i == nd || cov[ij + ik + 1] > 0) {
      r.closes = true;
      r.type = 2 * infa + infb - 1;
      r.draws = i < nd;
      r.run = ik;
      if (ik == 1) {
        // The first run: no expected value enters, so its interval is the same at every point.
        double ai = 0, bi = 0;
        bool has_a = false, has_b = false;
        for (int q = 1; q <= i; ++q) {
          if (infi[q] != 0) {
            ai = has_a ? std::max(ai, w.a[q] - 0.0) : w.a[q] - 0.0;
            has_a = true;
          }
          if (infi[q] != 1) {
            bi = has_b ? std::min(bi, w.b[q] - 0.0) : w.b[q] - 0.0;
            has_b = true;
          }
        }
        detail::MVNLMS(ai, bi, r.type, w.first_d, w.first_e);
      }
      ++ik;
      infa = 0;
      infb = 0;
    }
  }
  w.lane_w.resize(static_cast<size_t>(nd) * kIntegrandLanes);
  w.lane_y.resize(static_cast<size_t>(nd) * kIntegrandLanes);
}

namespace {

constexpr int L = kIntegrandLanes;

// The batched integrand works on packs of G small vectors of W doubles each (G * W = L points),
// W being the width of the vector registers of the instruction set it is built for. Every
// operation on them is the IEEE operation of each element, so a lane computes exactly what the
// scalar code computes for its point. Vectors no wider than the registers stay in registers,
// and the G independent vectors of a pack keep the pipelines busy through the long dependent
// chains of the Clenshaw recurrence.
template <class V, int G>
struct Pack {
  V v[G];
};
template <class V>
using Mask = decltype(V{} < V{});
template <class V>
inline constexpr int kWidth = static_cast<int>(sizeof(V) / sizeof(double));

#define KESTREL_FOR_GROUPS _Pragma("GCC unroll 32") for (int g = 0; g < G; ++g)

// Packs cross function boundaries only by reference, so no vector calling convention is
// involved whatever the instruction set of the caller.
template <class V, int G>
[[gnu::always_inline]] inline void load(Pack<V, G>& v, const double* p) {
  __builtin_memcpy(&v, p, sizeof v);
}
template <class V, int G>
[[gnu::always_inline]] inline void store(double* p, const Pack<V, G>& v) {
  __builtin_memcpy(p, &v, sizeof v);
}

// True when any element of the mask is set.
template <class V>
[[gnu::always_inline]] inline bool any_set(const Mask<V>& m) {
  long long acc = 0;
  for (int l = 0; l < kWidth<V>; ++l) acc |= m[l];
  return acc != 0;
}

template <class V>
[[gnu::always_inline]] inline V abs_of(const V& v) {
  return (V)((Mask<V>)v & 0x7fffffffffffffffLL);
}

// Square roots of nonnegative values (the IEEE square root, so the same bits as std::sqrt). A
// plain sqrt call would also set errno for negative arguments and so stay scalar.
template <class V>
[[gnu::always_inline]] inline V sqrt_of(const V& v) {
  V out{};
#if defined(KESTREL_X86_ASM)
  if constexpr (kWidth<V> == 8 || kWidth<V> == 4) {
    // One instruction on the whole register: vectors of 4 and 8 doubles are only used in the
    // AVX2 and AVX-512 versions, where they live in ymm and zmm registers.
    asm("vsqrtpd %1, %0" : "=v"(out) : "v"(v));
    return out;
  }
#endif
#if defined(__x86_64__)
  // Two at a time by the SSE2 instruction, which every x86-64 version has.
  typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
  for (int l = 0; l < kWidth<V>; l += 2) {
    const Pair r = __builtin_ia32_sqrtpd(Pair{v[l], v[l + 1]});
    out[l] = r[0];
    out[l + 1] = r[1];
  }
#else
  for (int l = 0; l < kWidth<V>; ++l) out[l] = std::sqrt(v[l]);
#endif
  return out;
}

// The Clenshaw recurrence of mvnphi for C vectors side by side: bm, bp as in the scalar code.
template <class V, int C>
[[gnu::always_inline]] inline void clenshaw(const V* t, V* bm_out, V* bp_out) {
  V bm[C], b[C], bp[C];
#pragma GCC unroll 32
  for (int g = 0; g < C; ++g) bm[g] = b[g] = bp[g] = V{};
#pragma GCC unroll 25
  for (int i = 24; i >= 0; --i) {
#pragma GCC unroll 32
    for (int g = 0; g < C; ++g) {
      bp[g] = b[g];
      b[g] = bm[g];
      bm[g] = t[g] * b[g] - bp[g] + detail::kSchonfelder[i];
    }
  }
#pragma GCC unroll 32
  for (int g = 0; g < C; ++g) {
    bm_out[g] = bm[g];
    bp_out[g] = bp[g];
  }
}

// How many vectors of width W go through the recurrence together: the whole pack of eight with
// the 32 registers of AVX-512 (24 live), two with the 16 registers of AVX2, four for the narrow
// generic vectors (measured the faster choice in each case).
template <class V>
inline constexpr int kClenshawChunk = kWidth<V> == 4 ? 2 : kWidth<V> == 8 ? 8 : 4;

// Distribution function of a pack: the same Clenshaw recurrence and tail as mvnphi.
template <class V, int G>
[[gnu::always_inline]] inline void mvnphi_pack(const Pack<V, G>& z, Pack<V, G>& out) {
  V xa[G], t[G], bm[G], bp[G], ex[G];
  KESTREL_FOR_GROUPS {
    xa[g] = abs_of(z.v[g]) / detail::kRootTwo;
    t[g] = (8 * xa[g] - 30) / (4 * xa[g] + 15);
  }
  // The exponential does not depend on the recurrence; coming first, it runs beside it.
  KESTREL_FOR_GROUPS detail::exp_lanes<V>(-xa[g] * xa[g], ex[g]);
  constexpr int C = G < kClenshawChunk<V> ? G : kClenshawChunk<V>;
  static_assert(G % C == 0);
#pragma GCC unroll 32
  for (int g0 = 0; g0 < G; g0 += C) clenshaw<V, C>(t + g0, bm + g0, bp + g0);
  KESTREL_FOR_GROUPS {
    V p = ex[g] * (bm[g] - bp[g]) / 4;
    p = xa[g] <= 100 ? p : V{};
    out.v[g] = z.v[g] > 0 ? 1 - p : p;
  }
}

#if defined(KESTREL_X86_ASM)
// Whether the compress and expand instructions of AVX-512 serve to gather and scatter lanes:
// vectors of 8 doubles are only used in the AVX-512 version.
template <class V>
inline constexpr bool kCompressInstructions = kWidth<V> == 8;
#endif

// The AS 241 tail magnitudes of C vectors of arguments r = min(p, 1 - p) (packed, W to a
// vector), the same operations as as241_tail; arguments r <= 0 (p = 0 or 1) take a harmless
// value instead, for the caller replaces their results. Each step runs across all vectors, so
// their long dependent chains overlap.
template <class V, int C>
[[gnu::always_inline]] inline void as241_tails(const double* r, double* out) {
  constexpr int W = kWidth<V>;
  V s[C], v[C];
#pragma GCC unroll 32
  for (int g = 0; g < C; ++g) {
    V x;
    __builtin_memcpy(&x, r + g * W, sizeof x);
    const V arg = x > 0 ? x : V{} + 0.5;
    detail::log_lanes<V>(arg, s[g]);
  }
#pragma GCC unroll 32
  for (int g = 0; g < C; ++g) s[g] = sqrt_of(-s[g]);
  const double* c = detail::kAs241C;
  const double* d = detail::kAs241D;
#pragma GCC unroll 32
  for (int g = 0; g < C; ++g) {
    const V s1 = s[g] - 1.6;
    v[g] = (((((((c[7] * s1 + c[6]) * s1 + c[5]) * s1 + c[4]) * s1 + c[3]) * s1 + c[2]) * s1 + c[1]) * s1 + c[0]) /
           (((((((d[6] * s1 + d[5]) * s1 + d[4]) * s1 + d[3]) * s1 + d[2]) * s1 + d[1]) * s1 + d[0]) * s1 + 1);
  }
  // The far tail (s > 5, p below about 1.4e-11) is rare: computed only when some element needs it.
  V stop = s[0];
#pragma GCC unroll 32
  for (int g = 1; g < C; ++g) stop = s[g] > stop ? s[g] : stop;
  if (any_set<V>(stop > 5)) {
    const double* e = detail::kAs241E;
    const double* f = detail::kAs241F;
#pragma GCC unroll 32
    for (int g = 0; g < C; ++g) {
      const V s5 = s[g] - 5;
      const V vf = (((((((e[7] * s5 + e[6]) * s5 + e[5]) * s5 + e[4]) * s5 + e[3]) * s5 + e[2]) * s5 + e[1]) * s5 + e[0]) /
                   (((((((f[6] * s5 + f[5]) * s5 + f[4]) * s5 + f[3]) * s5 + f[2]) * s5 + f[1]) * s5 + f[0]) * s5 + 1);
      v[g] = s[g] > 5 ? vf : v[g];
    }
  }
#pragma GCC unroll 32
  for (int g = 0; g < C; ++g) __builtin_memcpy(out + g * W, &v[g], sizeof(V));
}

// Inverse distribution function of a pack: the same rational functions as phinvs. The central
// function is evaluated for every element. The tail function, several times as costly, only
// for the elements that need it (a sixth to a quarter on group-sequential rectangles, spread
// over the pack, so that nearly every vector holds some): these are gathered into as few vectors
// as they fill, computed there, and put back.
template <class V, int G>
[[gnu::always_inline]] inline void phinvs_pack(const Pack<V, G>& p, Pack<V, G>& out) {
  constexpr int W = kWidth<V>;
  const double* a = detail::kAs241A;
  const double* bb = detail::kAs241B;
  V q[G], aq[G], rt[G];
  Mask<V> tail[G];
  KESTREL_FOR_GROUPS {
    q[g] = (2 * p.v[g] - 1) / 2;
    const V r = 0.180625 - q[g] * q[g];
    out.v[g] = q[g] * (((((((a[7] * r + a[6]) * r + a[5]) * r + a[4]) * r + a[3]) * r + a[2]) * r + a[1]) * r + a[0]) /
               (((((((bb[6] * r + bb[5]) * r + bb[4]) * r + bb[3]) * r + bb[2]) * r + bb[1]) * r + bb[0]) * r + 1);
    aq[g] = abs_of(q[g]);
    tail[g] = aq[g] > 0.425;
    rt[g] = p.v[g] < 1 - p.v[g] ? p.v[g] : 1 - p.v[g];
  }
  // Gather the tail arguments, in element order, without branches.
  alignas(64) double packed[G * W + W], result[G * W + W];
  int n = 0;
  [[maybe_unused]] int pos[G];
  [[maybe_unused]] unsigned short km[G];
  [[maybe_unused]] alignas(64) long long tflat[G * W];
#if defined(KESTREL_X86_ASM)
  if constexpr (kCompressInstructions<V>) {
    // AVX-512 moves the selected elements of a register to its front in one instruction.
    const V threshold = V{} + 0.425;
    KESTREL_FOR_GROUPS {
      asm("vcmppd $0x1e, %1, %2, %0" : "=Yk"(km[g]) : "v"(threshold), "v"(aq[g]));
      V front;
      asm("vcompresspd %1, %0%{%2%}%{z%}" : "=v"(front) : "v"(rt[g]), "Yk"(km[g]));
      pos[g] = n;
      __builtin_memcpy(packed + n, &front, sizeof front);
      n += __builtin_popcount(km[g]);
    }
  } else
#endif
  {
    alignas(64) double rflat[G * W];
    KESTREL_FOR_GROUPS {
      __builtin_memcpy(rflat + g * W, &rt[g], sizeof(V));
      __builtin_memcpy(tflat + g * W, &tail[g], sizeof(V));
    }
#pragma GCC unroll 64
    for (int l = 0; l < G * W; ++l) {
      packed[n] = rflat[l];
      n += tflat[l] != 0 ? 1 : 0;
    }
  }
  if (n == 0) return;
  const int vectors = (n + W - 1) / W;
  for (int l = n; l < vectors * W; ++l) packed[l] = 0.5;
  std::fill(result + vectors * W, result + G * W + W, 0.0);  // read (and not used) by the scatter below
  static_assert(G <= 16);
  switch (vectors) {
#define KESTREL_TAILS(C) \
  case C:                \
    if constexpr (C <= G) as241_tails<V, C>(packed, result); \
    break;
    KESTREL_TAILS(1)
    KESTREL_TAILS(2)
    KESTREL_TAILS(3)
    KESTREL_TAILS(4)
    KESTREL_TAILS(5)
    KESTREL_TAILS(6)
    KESTREL_TAILS(7)
    KESTREL_TAILS(8)
    KESTREL_TAILS(9)
    KESTREL_TAILS(10)
    KESTREL_TAILS(11)
    KESTREL_TAILS(12)
    KESTREL_TAILS(13)
    KESTREL_TAILS(14)
    KESTREL_TAILS(15)
    KESTREL_TAILS(16)
#undef KESTREL_TAILS
    default:
      break;
  }
  // Scatter the results back; elements outside the tails take some value that is not used.
  V back[G];
#if defined(KESTREL_X86_ASM)
  if constexpr (kCompressInstructions<V>) {
    KESTREL_FOR_GROUPS {
      V front;
      __builtin_memcpy(&front, result + pos[g], sizeof front);
      asm("vexpandpd %1, %0%{%2%}%{z%}" : "=v"(back[g]) : "v"(front), "Yk"(km[g]));
    }
  } else
#endif
  {
    alignas(64) double vflat[G * W];
    int m = 0;
#pragma GCC unroll 64
    for (int l = 0; l < G * W; ++l) {
      vflat[l] = result[m];
      m += tflat[l] != 0 ? 1 : 0;
    }
    KESTREL_FOR_GROUPS __builtin_memcpy(&back[g], vflat + g * W, sizeof(V));
  }
  KESTREL_FOR_GROUPS {
    const V v = back[g];
    V vt = rt[g] > 0 ? v : V{} + 9.0;
    vt = q[g] < 0 ? -vt : vt;
    out.v[g] = tail[g] ? vt : out.v[g];
  }
}

// The batched integrand at the L points of the lane buffers w (coordinate j of lane l at
// (j - 1) * L + l), expected values in y, values to f. after_row() runs after every row, so a
// caller can slip independent work in between (see lattice_sum_pack).
//
// The L points are M packs of G vectors, taken row by row one after the other. Each row of a pack
// is one long chain of dependent steps (the tails of the inverse at its end are the slowest), and
// the next row waits for it; the other packs' rows, independent of it, fill the gaps.
template <class V, int G, int M, class AfterRow>
[[gnu::always_inline]] inline void integrand_pack(int ndim, const MvnState::Work& work, const double* w, double* y,
                                                  double* f, AfterRow&& after_row) {
  using P = Pack<V, G>;
  constexpr int S = G * kWidth<V>;  // points of a pack
  static_assert(S * M == L);
  const double* cov = work.cov.data();
  const double* a = work.a.data();
  const double* b = work.b.data();
  const int nd = ndim + 1;
  P value[M], ai[M]{}, bi[M]{}, di[M]{}, ei[M]{};
#pragma GCC unroll 8
  for (int m = 0; m < M; ++m) KESTREL_FOR_GROUPS value[m].v[g] = V{} + 1.0;
  bool first_run = true;
  for (int i = 1; i <= nd; ++i) {
    const IntegrandRow& row = work.plan[static_cast<size_t>(i - 1)];
    const double* c = cov + row.cov_offset;
    for (int m = 0; m < M; ++m) {
      const int o = m * S;
      P sum{};
      for (int j = 1; j <= row.terms; ++j) {
        P yj;
        load(yj, y + (j - 1) * L + o);
        const double cj = c[j];
        KESTREL_FOR_GROUPS sum.v[g] = sum.v[g] + cj * yj.v[g];
      }
      if (row.lower_mode != 0) {
        const double ar = a[i];
        if (row.lower_mode == 1) {
          KESTREL_FOR_GROUPS ai[m].v[g] = ar - sum.v[g];
        } else {
          KESTREL_FOR_GROUPS {
            const V lo = ar - sum.v[g];
            ai[m].v[g] = ai[m].v[g] < lo ? lo : ai[m].v[g];
          }
        }
      }
      if (row.upper_mode != 0) {
        const double br = b[i];
        if (row.upper_mode == 1) {
          KESTREL_FOR_GROUPS bi[m].v[g] = br - sum.v[g];
        } else {
          KESTREL_FOR_GROUPS {
            const V up = br - sum.v[g];
            bi[m].v[g] = up < bi[m].v[g] ? up : bi[m].v[g];
          }
        }
      }
      if (!row.closes) continue;
      if (first_run) {
        // No earlier expected value enters the first run: its probabilities are those of the set-up.
        KESTREL_FOR_GROUPS {
          di[m].v[g] = V{} + work.first_d;
          ei[m].v[g] = V{} + work.first_e;
        }
      } else {
        if (row.type >= 0 && row.type != 0) {
          mvnphi_pack(ai[m], di[m]);
        } else {
          KESTREL_FOR_GROUPS di[m].v[g] = V{};
        }
        if (row.type >= 0 && row.type != 1) {
          mvnphi_pack(bi[m], ei[m]);
        } else {
          KESTREL_FOR_GROUPS ei[m].v[g] = V{} + 1.0;
        }
        KESTREL_FOR_GROUPS ei[m].v[g] = di[m].v[g] > ei[m].v[g] ? di[m].v[g] : ei[m].v[g];
      }
      // A point with an empty interval has the value 0 (the scalar walk stops there); later
      // factors ei - di >= 0 keep it 0.
      KESTREL_FOR_GROUPS value[m].v[g] =
          di[m].v[g] >= ei[m].v[g] ? V{} : value[m].v[g] * (ei[m].v[g] - di[m].v[g]);
      if (row.draws) {
        P wr, arg, ynew;
        load(wr, w + (row.run - 1) * L + o);
        KESTREL_FOR_GROUPS arg.v[g] = di[m].v[g] + wr.v[g] * (ei[m].v[g] - di[m].v[g]);
        phinvs_pack(arg, ynew);
        store(y + (row.run - 1) * L + o, ynew);
      }
    }
    if (row.closes) first_run = false;
    after_row();
  }
#pragma GCC unroll 8
  for (int m = 0; m < M; ++m) store(f + m * S, value[m]);
}

// The symmetrized lattice sum for generators vk[1..ndim] and shift[1..ndim] with the baker's
// transformation and the antithetic point of every lattice point, in the batched integrand with
// the lane buffers lw, ly. Draws no random numbers.
//
// Points are numbered 0, 1, 2, ... in the plain loop's order (point 2k - 2 is lattice point k,
// 2k - 1 its antithetic point). With values null the sum runs over points begin..end - 1 (begin
// 0: the whole sum); otherwise the values of those points are written to values[0..end - begin)
// and nothing is summed, for a caller that adds them later (running_mean). begin is even.
template <class V, int G, int M>
[[gnu::always_inline]] inline double lattice_sum_pack(int ndim, int begin, int end, const double* vk,
                                                      const double* shift, const MvnState::Work& work, double* lw,
                                                      double* ly, double* values) {
  using P = Pack<V, G>;
  // Points in the order of the plain loop: lattice point k, then its antithetic point; L of
  // them are evaluated side by side and summed in that order (lane l holds point k = base/2 +
  // l/2 + 1, the odd lanes the antithetic ones). Unused lanes of the last batch take the next
  // lattice points, which are not summed.
  //
  // The running mean takes one division per point, a chain of dependent operations as long as
  // much of the integrand: the values of a batch are therefore added while the next batch is
  // evaluated, a few after each of its rows, in the same order (so with the same result).
  double sumkro = 0;
  double f[L], fprev[L];
  int next = 0, pending_end = 0, pending_base = 0, quota = 0;
  auto add_pending = [&](int upto) {
    for (; next < upto; ++next) {
      const int p = pending_base + next;
      const int k = p / 2 + 1;
      sumkro = sumkro + (fprev[next] - sumkro) / ((p & 1) ? 2 * k : 2 * k - 1);
    }
  };
  auto after_row = [&] { add_pending(std::min(pending_end, next + quota)); };
  double koffset[L], odd[L];
  for (int l = 0; l < L; ++l) {
    koffset[l] = static_cast<double>(l / 2 + 1);
    odd[l] = static_cast<double>(l & 1);
  }
  constexpr int S = G * kWidth<V>;
  P ko[M], an[M];
#pragma GCC unroll 8
  for (int m = 0; m < M; ++m) {
    load(ko[m], koffset + m * S);
    load(an[m], odd + m * S);
  }
  const int rows = ndim + 1;
  for (int base = begin; base < end; base += L) {
    const int count = std::min(L, end - base);
    const double kbase = static_cast<double>(base / 2);
    for (int j = 1; j <= ndim; ++j) {
      const double v = vk[j], u = shift[j];
#pragma GCC unroll 8
      for (int m = 0; m < M; ++m) {
        P wj;
        KESTREL_FOR_GROUPS {
          // t > 0 below 2^21, so its whole part is t rounded to an integer by the 2^52 shift,
          // less one where that rounded up: exactly std::trunc(t).
          const V t = (ko[m].v[g] + kbase) * v + u;
          const V near = (t + 0x1p52) - 0x1p52;
          const V whole = near > t ? near - 1 : near;
          const V xx = abs_of(2 * (t - whole) - 1);
          wj.v[g] = an[m].v[g] > 0 ? 1 - xx : xx;
        }
        store(lw + (j - 1) * L + m * S, wj);
      }
    }
    if (values != nullptr) {
      integrand_pack<V, G, M>(ndim, work, lw, ly, f, [] {});
      std::copy(f, f + count, values + (base - begin));
      continue;
    }
    integrand_pack<V, G, M>(ndim, work, lw, ly, f, after_row);
    add_pending(pending_end);  // what the rows left of the previous batch
    std::copy(f, f + count, fprev);
    next = 0;
    pending_end = count;
    pending_base = base;
    quota = (count + rows - 1) / rows;
  }
  add_pending(pending_end);
  return sumkro;
}

// One version per instruction set, each with vectors as wide as its registers; the numbers are
// the same in every version. Vectors per pack are measured the faster choice in each case; the
// generic version (vectors of two, the only one on processors other than x86-64) takes its 64
// points as two packs.
constexpr int kPackVectors2 = 16;
typedef double Width2 __attribute__((vector_size(2 * sizeof(double))));
void integrand_generic(int ndim, const MvnState::Work& work, const double* w, double* y, double* f) {
  integrand_pack<Width2, kPackVectors2, L / (2 * kPackVectors2)>(ndim, work, w, y, f, [] {});
}
double lattice_sum_generic(int ndim, int begin, int end, const double* vk, const double* shift,
                           const MvnState::Work& work, double* lw, double* ly, double* values) {
  return lattice_sum_pack<Width2, kPackVectors2, L / (2 * kPackVectors2)>(ndim, begin, end, vk, shift, work, lw, ly,
                                                                          values);
}

// The thread checker cannot follow code chosen by processor features at run time, so its
// builds keep the generic version only.
#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define KESTREL_WIDE_VERSIONS 1
constexpr int kPackVectors4 = 16, kPackVectors8 = 8;
typedef double Width4 __attribute__((vector_size(4 * sizeof(double))));
typedef double Width8 __attribute__((vector_size(8 * sizeof(double))));
[[gnu::target("avx2")]] void integrand_avx2(int ndim, const MvnState::Work& work, const double* w, double* y,
                                            double* f) {
  integrand_pack<Width4, kPackVectors4, L / (4 * kPackVectors4)>(ndim, work, w, y, f, [] {});
}
[[gnu::target("avx2")]] double lattice_sum_avx2(int ndim, int begin, int end, const double* vk, const double* shift,
                                                const MvnState::Work& work, double* lw, double* ly, double* values) {
  return lattice_sum_pack<Width4, kPackVectors4, L / (4 * kPackVectors4)>(ndim, begin, end, vk, shift, work, lw, ly,
                                                                          values);
}
[[gnu::target("avx512f")]] void integrand_avx512(int ndim, const MvnState::Work& work, const double* w, double* y,
                                                 double* f) {
  integrand_pack<Width8, kPackVectors8, L / (8 * kPackVectors8)>(ndim, work, w, y, f, [] {});
}
[[gnu::target("avx512f")]] double lattice_sum_avx512(int ndim, int begin, int end, const double* vk,
                                                     const double* shift, const MvnState::Work& work, double* lw,
                                                     double* ly, double* values) {
  return lattice_sum_pack<Width8, kPackVectors8, L / (8 * kPackVectors8)>(ndim, begin, end, vk, shift, work, lw, ly,
                                                                          values);
}
#endif

// The widest version the processor runs (2, 4 or 8 doubles per vector).
int widest_width() {
#if defined(KESTREL_WIDE_VERSIONS)
  static const int width = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return 8;
    if (__builtin_cpu_supports("avx2")) return 4;
    return 2;
  }();
  return width;
#else
  return 2;
#endif
}

std::atomic<int> chosen_width{0};  // 0: the widest

[[maybe_unused]] int vector_width() {
  const int w = chosen_width.load(std::memory_order_relaxed);
  return w != 0 ? w : widest_width();
}

}  // namespace

// The sum over points begin..end - 1, or their values (see lattice_sum_pack).
double lattice_sum(int ndim, int begin, int end, const double* vk, const double* shift, const MvnState::Work& work,
                   double* lw, double* ly, double* values) {
#if defined(KESTREL_WIDE_VERSIONS)
  switch (vector_width()) {
    case 8:
      return lattice_sum_avx512(ndim, begin, end, vk, shift, work, lw, ly, values);
    case 4:
      return lattice_sum_avx2(ndim, begin, end, vk, shift, work, lw, ly, values);
    default:
      break;
  }
#endif
  return lattice_sum_generic(ndim, begin, end, vk, shift, work, lw, ly, values);
}

void integrand_lanes(int ndim, const MvnState::Work& work, const double* w, double* y, double* f) {
#if defined(KESTREL_WIDE_VERSIONS)
  switch (vector_width()) {
    case 8:
      return integrand_avx512(ndim, work, w, y, f);
    case 4:
      return integrand_avx2(ndim, work, w, y, f);
    default:
      break;
  }
#endif
  integrand_generic(ndim, work, w, y, f);
}

void integrand_lanes(int ndim, MvnState::Work& work, double* f) {
  integrand_lanes(ndim, work, work.lane_w.data(), work.lane_y.data(), f);
}

std::vector<int> integrand_widths() {
  std::vector<int> widths;
  for (int w = widest_width(); w >= 2; w /= 2) widths.push_back(w);
  return widths;
}

void choose_integrand_width(int width) {
  const std::vector<int> widths = integrand_widths();
  const bool known = std::find(widths.begin(), widths.end(), width) != widths.end();
  chosen_width.store(known ? width : 0, std::memory_order_relaxed);
}

}  // namespace kestrel::mvn
