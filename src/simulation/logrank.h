#pragma once
// Two-sample weighted log-rank test of the records of one endpoint of a simulated trial.
//
// Records are an N x 3 matrix of doubles stored by rows (row i at records[i * ld]):
//   column 0  status: 2 = censored, any other value = event (the simulation writes 1 and 2)
//   column 1  group code: 0 = group 1 (arm 1), 1 = group 2 (arm 2)
//   column 2  observed time
// The statistic is negative when group 2 has fewer events than expected.
#include <cstdint>
#include <ostream>
#include <vector>

namespace kestrel::simulation {

inline constexpr int kStatusColumn = 0;
inline constexpr int kGroupColumn = 1;
inline constexpr int kTimeColumn = 2;
inline constexpr int kRecordWidth = 3;

// Groups of rows with equal keys found by SORTROWS.
struct RowGroups {
  int count = 0;
  std::vector<int> sizes;
};

// Reorders the rows of the nrow x ncol matrix x (row stride ld >= ncol) into ascending
// lexicographic order of the key columns (0-based). Rows equal in every key keep no particular
// order. Stops the run (RunError) when nrow or ncol is below 1. When `groups` is given, it
// receives the number and sizes of the runs of rows with equal keys.
void SORTROWS(int nrow, int ncol, double* x, int ld, int nkeys, const int* keys,
              RowGroups* groups = nullptr);

// Sorts records by time, then status, so that at equal times events come before censorings.
void SURVSORT(double* records, int n, int ld);

// Scratch storage of the record sort, reused from call to call.
struct SortWork {
  struct Item {
    std::uint64_t key;
    std::uint32_t index;
  };
  std::vector<Item> items, items_tmp;
  std::vector<std::uint32_t> bucket_start;
  std::vector<double> rows;
};
void SURVSORT(double* records, int n, int ld, SortWork& work);

// Tabulation of sorted records at their distinct event times (1-based, index 0 unused except
// where noted), with the scaled quantities handed to WLRTEST.
struct LogrankTable {
  int m = 0;                         // number of distinct event times
  std::vector<double> e;             // e[0] = -1, e[j] the j-th event time
  std::vector<int> d, d1, d2;        // events at e[j], in all and per group
  std::vector<int> c, c1, c2;        // censorings after e[j] before the next event time (j = 0..m)
  std::vector<double> Y, Y1, Y2;     // at risk at e[j], j = 1..m+1
  // Scaled quantities as stored: one_minus_pi_g[j] = 1 - pi_g(j+1), q_g[j] = d_g(j)/Y_g(1),
  // one_minus_rho[j] = 1 - rho(j+1), delta[j] = d(j)/Y(1), delta_sum its running sum.
  std::vector<double> one_minus_pi1, one_minus_pi2, q1, q2, one_minus_rho, delta, delta_sum;
  double A = 0;                      // sqrt(Y1(1) Y2(1) / Y(1)), 0 when a group is empty
  bool no_events = false;            // error flag: D < 1
  std::vector<double> weights;       // w[1..m] of the last test
  SortWork sort;                     // scratch storage of the record sort
};

// Builds the tabulation of n sorted records with D events. The three consistency checks of the
// risk sets, events and censorings write "RISK:ERROR", "dN:ERROR" or "dCEN:ERROR" to the console
// and stop the run.
void INPSDATA(const double* records, int n, int ld, int D, LogrankTable& table,
              std::ostream& console);

struct WlrResult {
  double Z = 0;
  double V = 0;
};

// Weighted log-rank statistic from the tabulation and the weights w[1..m]; n is the number of
// records. A negative direction reverses the sign of the score.
WlrResult WLRTEST(const LogrankTable& table, const std::vector<double>& w, int n, int direction);

struct LogrankResult {
  double Z = 0;
  double p = 0;  // Phi(Z)
  double V = 0;  // variance term; 0 when there is no event
};

// Sorts the records in place, tabulates and tests them with weight 1 at every event time.
// No event gives Z = 0.001, p = 0.999999 and V = 0. A number of groups other than 2 writes
// "ERROR:" with the number and a note and goes on. `table` is work storage reused across calls.
LogrankResult ALGORITHM(double* records, int n, int ld, int D, int ncensored, int ngroups,
                        int direction, std::ostream& console, LogrankTable& table);

}  // namespace kestrel::simulation
