// Two-sample log-rank test of simulated survival records: sort, tabulate the distinct event
// times with the numbers at risk per group, and form the weighted score and its variance on
// the scale of the fractions still at risk.
#include "simulation/logrank.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <numeric>
#include <string>

#include "common/errors.h"
#include "common/format.h"
#include "numerics/normal.h"

namespace kestrel::simulation {

void SORTROWS(int nrow, int ncol, double* x, int ld, int nkeys, const int* keys,
              RowGroups* groups) {
  if (nrow < 1) {
    throw RunError("NROW = " + std::to_string(nrow) +
                   ".  The number of rows of X, NROW, must be greater than 0.");
  }
  if (ncol < 1) {
    throw RunError("NCOL = " + std::to_string(ncol) +
                   ".  The number of columns of X, NCOL, must be greater than 0.");
  }
  auto less = [&](int a, int b) {
    const double* ra = x + static_cast<std::ptrdiff_t>(a) * ld;
    const double* rb = x + static_cast<std::ptrdiff_t>(b) * ld;
    for (int k = 0; k < nkeys; ++k) {
      const double va = ra[keys[k]], vb = rb[keys[k]];
      if (va < vb) return true;
      if (vb < va) return false;
    }
    return false;
  };
  std::vector<int> perm(static_cast<size_t>(nrow));
  std::iota(perm.begin(), perm.end(), 0);
  std::sort(perm.begin(), perm.end(), less);
  std::vector<double> copy(x, x + static_cast<std::ptrdiff_t>(nrow) * ld);
  for (int i = 0; i < nrow; ++i) {
    std::copy_n(copy.data() + static_cast<std::ptrdiff_t>(perm[i]) * ld, ncol,
                x + static_cast<std::ptrdiff_t>(i) * ld);
  }
  if (groups) {
    groups->count = 0;
    groups->sizes.clear();
    for (int i = 0; i < nrow; ++i) {
      if (i == 0 || less(i - 1, i)) {
        ++groups->count;
        groups->sizes.push_back(1);
      } else {
        ++groups->sizes.back();
      }
    }
  }
}

void SURVSORT(double* records, int n, int ld) {
  SortWork work;
  SURVSORT(records, n, ld, work);
}

namespace {

// Stable least-significant-digit radix sort of w.items by key, a byte at a time; a byte that is
// the same in every key needs no pass.
void radix_sort(SortWork& w) {
  const size_t un = w.items.size();
  std::uint32_t hist[8][256];
  std::memset(hist, 0, sizeof hist);
  for (size_t i = 0; i < un; ++i) {
    const std::uint64_t k = w.items[i].key;
    for (int d = 0; d < 8; ++d) ++hist[d][(k >> (8 * d)) & 0xFF];
  }
  for (int d = 0; d < 8; ++d) {
    const int shift = 8 * d;
    if (hist[d][(w.items[0].key >> shift) & 0xFF] == un) continue;
    std::uint32_t offset = 0;
    for (int b = 0; b < 256; ++b) {
      const std::uint32_t c = hist[d][b];
      hist[d][b] = offset;
      offset += c;
    }
    for (size_t i = 0; i < un; ++i) {
      const SortWork::Item it = w.items[i];
      w.items_tmp[hist[d][(it.key >> shift) & 0xFF]++] = it;
    }
    w.items.swap(w.items_tmp);
  }
}

// The time whose key is k (the inverse of the mapping in SURVSORT).
inline double key_time(std::uint64_t k) {
  const std::uint64_t bits = (k >> 63) ? k ^ (std::uint64_t{1} << 63) : ~k;
  double t;
  std::memcpy(&t, &bits, sizeof t);
  return t;
}

// The same order in fewer passes for times spread over their range: a stable counting sort into
// about one bucket per item by (t - tmin) / (tmax - tmin) (rounded arithmetic that never puts a
// later time into an earlier bucket), then a stable insertion sort, whose moves stay within a
// bucket. Gives up (false, w.items untouched) when the buckets are so uneven that the insertion
// sort would do much more work than the radix sort.
bool bucket_sort(SortWork& w, std::uint64_t kmin, std::uint64_t kmax) {
  const size_t un = w.items.size();
  if (un < 64) return false;
  const double tmin = key_time(kmin), range = key_time(kmax) - tmin;
  if (!(range > 0.0) || !std::isfinite(range)) return false;
  const size_t buckets = un;
  const double scale = static_cast<double>(buckets) / range;
  if (!std::isfinite(scale)) return false;
  auto bucket = [&](std::uint64_t k) {
    const double b = (key_time(k) - tmin) * scale;
    return b < static_cast<double>(buckets) ? static_cast<size_t>(b) : buckets - 1;
  };
  std::vector<std::uint32_t>& start = w.bucket_start;
  start.assign(buckets + 1, 0);
  for (size_t i = 0; i < un; ++i) ++start[bucket(w.items[i].key) + 1];
  for (size_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
  for (size_t i = 0; i < un; ++i) {
    const SortWork::Item it = w.items[i];
    w.items_tmp[start[bucket(it.key)]++] = it;
  }
  const size_t budget = 8 * un;
  size_t moves = 0;
  SortWork::Item* a = w.items_tmp.data();
  for (size_t i = 1; i < un; ++i) {
    const SortWork::Item it = a[i];
    size_t j = i;
    while (j > 0 && a[j - 1].key > it.key) {
      a[j] = a[j - 1];
      --j;
    }
    a[j] = it;
    moves += i - j;
    if (moves > budget) return false;
  }
  w.items.swap(w.items_tmp);
  return true;
}

}  // namespace

void SURVSORT(double* records, int n, int ld, SortWork& w) {
  // Simulated records carry statuses 1 and 2 only. They are ordered by a stable sort on the
  // time, applied to the rows arranged events first: a bucket sort when the times spread evenly
  // enough over their range, else a least-significant-digit radix sort (fresh random times defeat
  // the branch prediction of a comparison sort). Both give the one stable order, so the rows
  // come out the same whichever runs. Any other status values go through the general row sort.
  bool simple = n >= 1 && ld >= kRecordWidth;
  std::size_t events = 0;
  for (int i = 0; i < n && simple; ++i) {
    const double st = records[static_cast<std::ptrdiff_t>(i) * ld + kStatusColumn];
    const double t = records[static_cast<std::ptrdiff_t>(i) * ld + kTimeColumn];
    simple = (st == 1.0 || st == 2.0) && !std::isnan(t);
    events += st == 1.0;
  }
  if (!simple) {
    const int keys[2] = {kTimeColumn, kStatusColumn};
    SORTROWS(n, kRecordWidth, records, ld, 2, keys);
    return;
  }
  const size_t un = static_cast<size_t>(n);
  w.items.resize(un);
  w.items_tmp.resize(un);
  // Events first, each part in its original order (written without branches); the time mapped
  // onto unsigned integers in the same order (-0 taken as +0).
  size_t next[2] = {0, events};
  std::uint64_t kmin = ~std::uint64_t{0}, kmax = 0;
  for (int i = 0; i < n; ++i) {
    const double* row = records + static_cast<std::ptrdiff_t>(i) * ld;
    const int censored = row[kStatusColumn] != 1.0;
    const double t = row[kTimeColumn] + 0.0;
    std::uint64_t bits;
    std::memcpy(&bits, &t, sizeof bits);
    const std::uint64_t flip = (bits >> 63) ? ~std::uint64_t{0} : (std::uint64_t{1} << 63);
    const std::uint64_t key = bits ^ flip;
    kmin = std::min(kmin, key);
    kmax = std::max(kmax, key);
    w.items[next[censored]++] = {key, static_cast<std::uint32_t>(i)};
  }
  if (!bucket_sort(w, kmin, kmax)) radix_sort(w);
  w.rows.assign(records, records + static_cast<std::ptrdiff_t>(n) * ld);
  for (int i = 0; i < n; ++i) {
    const double* src = w.rows.data() + static_cast<std::ptrdiff_t>(w.items[i].index) * ld;
    double* dst = records + static_cast<std::ptrdiff_t>(i) * ld;
    for (int c = 0; c < ld; ++c) dst[c] = src[c];
  }
}

namespace {

[[noreturn]] void tabulation_error(const char* what, std::ostream& console) {
  console << fmt::list({std::string_view(what)}) << '\n';
  console.flush();
  throw RunError(what);
}

}  // namespace

void INPSDATA(const double* records, int n, int ld, int D, LogrankTable& t,
              std::ostream& console) {
  t.no_events = D < 1;
  // Arrays sized by the number of events, with room for index 0 and for Y(m+1); every entry
  // used below is written before it is read, so the storage of an earlier call is not cleared.
  auto fit = [](auto& v, size_t size) {
    if (v.size() < size) v.resize(size);
  };
  size_t cap = static_cast<size_t>(std::max(D, 0)) + 2;
  auto fit_counts = [&](size_t size) {
    fit(t.e, size);
    fit(t.d, size);
    fit(t.d1, size);
    fit(t.d2, size);
    fit(t.c, size);
    fit(t.c1, size);
    fit(t.c2, size);
  };
  fit_counts(cap);
  t.e[0] = -1.0;
  t.c[0] = t.c1[0] = t.c2[0] = 0;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const double* row = records + static_cast<std::ptrdiff_t>(i) * ld;
    const double status = row[kStatusColumn];
    const double group = row[kGroupColumn];
    const double time = row[kTimeColumn];
    if (status != 2.0) {
      if (m == 0 || time != t.e[m]) {
        if (static_cast<size_t>(m) + 2 >= cap) {
          cap *= 2;  // more events than announced: grow rather than write past the end
          fit_counts(cap);
        }
        ++m;
        t.e[m] = time;
        t.d[m] = t.d1[m] = t.d2[m] = 0;
        t.c[m] = t.c1[m] = t.c2[m] = 0;
      }
      ++t.d[m];
      t.d1[m] += group == 0.0;
      t.d2[m] += group == 1.0;
    } else {
      ++t.c[m];
      t.c1[m] += group == 0.0;
      t.c2[m] += group == 1.0;
    }
  }
  t.m = m;
  const size_t ysz = static_cast<size_t>(m) + 2;
  fit(t.Y, ysz);
  fit(t.Y1, ysz);
  fit(t.Y2, ysz);
  t.Y[m + 1] = t.Y1[m + 1] = t.Y2[m + 1] = 0.0;
  for (int j = m; j >= 1; --j) {
    t.Y[j] = t.c[j] + t.d[j] + t.Y[j + 1];
    t.Y1[j] = t.c1[j] + t.d1[j] + t.Y1[j + 1];
    t.Y2[j] = t.c2[j] + t.d2[j] + t.Y2[j + 1];
  }
  t.Y[m + 1] = t.c[m];
  t.Y1[m + 1] = t.c1[m];
  t.Y2[m + 1] = t.c2[m];
  for (int j = 1; j <= m; ++j) {
    if (t.Y1[j] + t.Y2[j] != t.Y[j]) tabulation_error("RISK:ERROR", console);
    if (t.d1[j] + t.d2[j] != t.d[j]) tabulation_error("dN:ERROR", console);
    if (t.c1[j] + t.c2[j] != t.c[j]) tabulation_error("dCEN:ERROR", console);
  }

  // Scaled quantities. A group with nobody at risk at the first event time contributes nothing
  // (its fractions are held at 0 instead of 0/0), which gives a zero score and variance.
  const size_t sz = static_cast<size_t>(m) + 1;
  fit(t.one_minus_pi1, sz);
  fit(t.one_minus_pi2, sz);
  fit(t.one_minus_rho, sz);
  fit(t.q1, sz);
  fit(t.q2, sz);
  fit(t.delta, sz);
  fit(t.delta_sum, sz);
  t.q1[0] = t.q2[0] = t.delta[0] = t.delta_sum[0] = 0.0;
  if (m == 0) {
    t.one_minus_pi1[0] = t.one_minus_pi2[0] = t.one_minus_rho[0] = 0.0;
    t.A = 0.0;
    return;
  }
  const double y1 = t.Y1[1], y2 = t.Y2[1], y = t.Y[1];
  for (int j = 0; j < m; ++j) {
    t.one_minus_pi1[j] = y1 > 0 ? 1.0 - t.Y1[j + 1] / y1 : 1.0;
    t.one_minus_pi2[j] = y2 > 0 ? 1.0 - t.Y2[j + 1] / y2 : 1.0;
    t.one_minus_rho[j] = 1.0 - t.Y[j + 1] / y;
  }
  for (int j = 1; j <= m; ++j) {
    t.q1[j] = y1 > 0 ? t.d1[j] / y1 : 0.0;
    t.q2[j] = y2 > 0 ? t.d2[j] / y2 : 0.0;
    t.delta[j] = t.d[j] / y;
    t.delta_sum[j] = t.delta_sum[j - 1] + t.delta[j];
  }
  const double prod = y1 * y2;
  t.A = prod > 0 ? std::sqrt(prod / y) : 0.0;
}

WlrResult WLRTEST(const LogrankTable& t, const std::vector<double>& w, int n, int direction) {
  double score = 0.0, V = 0.0;
  const double inv_n = 1.0 / n;
  for (int j = 1; j <= t.m; ++j) {
    const double pi1 = 1.0 - t.one_minus_pi1[j - 1];
    const double pi2 = 1.0 - t.one_minus_pi2[j - 1];
    const double rho = 1.0 - t.one_minus_rho[j - 1];
    score += w[j] * (pi2 * t.q1[j] - pi1 * t.q2[j]) / rho;
    const double num = pi1 * pi2 * w[j] * w[j] * (rho - t.delta[j]) * t.delta[j];
    if (num != 0.0) V += num / (rho * rho * (rho - inv_n));
  }
  double U = t.A * score;
  if (direction < 0) U = -U;
  WlrResult r;
  r.V = V;
  r.Z = V > 0 ? -U / std::sqrt(V) : -U / 1e-10;
  return r;
}

LogrankResult ALGORITHM(double* records, int n, int ld, int D, int /*ncensored*/, int ngroups,
                        int direction, std::ostream& console, LogrankTable& table) {
  if (ngroups != 2) {
    // "-SAMP" and the Japanese for "not yet", in Shift-JIS bytes.
    static const char kNote[] = "-SAMP\x82\xcd\x82\xdc\x82\xbe";
    console << fmt::list({std::string_view("ERROR:"), ngroups, std::string_view(kNote)}) << '\n';
  }
  LogrankResult r;
  if (n < 1 || D < 1) {
    // No event (or no record at all): nothing to test.
    if (n >= 1) SURVSORT(records, n, ld, table.sort);
    r.Z = 0.001;
    r.p = 0.999999;
    r.V = 0.0;
    return r;
  }
  SURVSORT(records, n, ld, table.sort);
  INPSDATA(records, n, ld, D, table, console);
  if (table.no_events || table.m == 0) {
    r.Z = 0.001;
    r.p = 0.999999;
    r.V = 0.0;
    return r;
  }
  table.weights.assign(static_cast<size_t>(table.m) + 1, 1.0);
  const WlrResult s = WLRTEST(table, table.weights, n, direction);
  r.Z = s.Z;
  r.V = s.V;
  r.p = 1.0 - numerics::GAUSSCDF(std::fabs(r.Z));
  if (r.Z > 0) r.p = numerics::GAUSSCDF(std::fabs(r.Z));
  return r;
}

}  // namespace kestrel::simulation
