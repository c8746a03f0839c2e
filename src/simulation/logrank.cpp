// Two-sample log-rank test of simulated survival records: sort, tabulate the distinct event
// times with the numbers at risk per group, and form the weighted score and its variance on
// the scale of the fractions still at risk.
#include "simulation/logrank.h"

#include <algorithm>
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
  // Only the record layout of the simulation is sorted here, so a fixed-width row type lets the
  // sort move rows directly instead of through a permutation.
  if (ld == kRecordWidth && n >= 1) {
    struct Row {
      double v[kRecordWidth];
    };
    static_assert(sizeof(Row) == kRecordWidth * sizeof(double));
    Row* rows = reinterpret_cast<Row*>(records);
    std::sort(rows, rows + n, [](const Row& a, const Row& b) {
      if (a.v[kTimeColumn] != b.v[kTimeColumn]) return a.v[kTimeColumn] < b.v[kTimeColumn];
      return a.v[kStatusColumn] < b.v[kStatusColumn];
    });
    return;
  }
  const int keys[2] = {kTimeColumn, kStatusColumn};
  SORTROWS(n, kRecordWidth, records, ld, 2, keys);
}

namespace {

template <typename T>
void reset(std::vector<T>& v, size_t n, T value) {
  v.assign(n, value);
}

[[noreturn]] void tabulation_error(const char* what, std::ostream& console) {
  console << fmt::list({std::string_view(what)}) << '\n';
  console.flush();
  throw RunError(what);
}

}  // namespace

void INPSDATA(const double* records, int n, int ld, int D, LogrankTable& t,
              std::ostream& console) {
  t.no_events = D < 1;
  // Arrays are sized by the number of events (at least one slot beyond it for Y(m+1)).
  const size_t cap = static_cast<size_t>(std::max(D, 0)) + 2;
  reset(t.e, cap, 0.0);
  reset(t.d, cap, 0);
  reset(t.d1, cap, 0);
  reset(t.d2, cap, 0);
  reset(t.c, cap, 0);
  reset(t.c1, cap, 0);
  reset(t.c2, cap, 0);
  t.e[0] = -1.0;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const double* row = records + static_cast<std::ptrdiff_t>(i) * ld;
    const double status = row[kStatusColumn];
    const double group = row[kGroupColumn];
    const double time = row[kTimeColumn];
    if (status != 2.0) {
      if (m == 0 || time != t.e[m]) {
        if (static_cast<size_t>(m) + 2 >= t.e.size()) {
          // More events than announced: grow rather than write past the end.
          const size_t grow = t.e.size() * 2;
          t.e.resize(grow, 0.0);
          t.d.resize(grow, 0);
          t.d1.resize(grow, 0);
          t.d2.resize(grow, 0);
          t.c.resize(grow, 0);
          t.c1.resize(grow, 0);
          t.c2.resize(grow, 0);
        }
        ++m;
        t.e[m] = time;
      }
      ++t.d[m];
      if (group == 0.0) ++t.d1[m];
      if (group == 1.0) ++t.d2[m];
    } else {
      ++t.c[m];
      if (group == 0.0) ++t.c1[m];
      if (group == 1.0) ++t.c2[m];
    }
  }
  t.m = m;
  reset(t.Y, static_cast<size_t>(m) + 2, 0.0);
  reset(t.Y1, static_cast<size_t>(m) + 2, 0.0);
  reset(t.Y2, static_cast<size_t>(m) + 2, 0.0);
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
  reset(t.one_minus_pi1, sz, 0.0);
  reset(t.one_minus_pi2, sz, 0.0);
  reset(t.one_minus_rho, sz, 0.0);
  reset(t.q1, sz, 0.0);
  reset(t.q2, sz, 0.0);
  reset(t.delta, sz, 0.0);
  reset(t.delta_sum, sz, 0.0);
  if (m == 0) {
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
    if (n >= 1) SURVSORT(records, n, ld);
    r.Z = 0.001;
    r.p = 0.999999;
    r.V = 0.0;
    return r;
  }
  SURVSORT(records, n, ld);
  INPSDATA(records, n, ld, D, table, console);
  if (table.no_events || table.m == 0) {
    r.Z = 0.001;
    r.p = 0.999999;
    r.V = 0.0;
    return r;
  }
  std::vector<double> w(static_cast<size_t>(table.m) + 1, 1.0);
  const WlrResult s = WLRTEST(table, w, n, direction);
  r.Z = s.Z;
  r.V = s.V;
  r.p = 1.0 - numerics::GAUSSCDF(std::fabs(r.Z));
  if (r.Z > 0) r.p = numerics::GAUSSCDF(std::fabs(r.Z));
  return r;
}

}  // namespace kestrel::simulation
