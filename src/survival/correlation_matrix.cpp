// Packed correlation matrices of stacked group-sequential statistics.
//
// Within one endpoint the statistics have independent increments, so the correlation of the
// statistics at analyses u < v is sqrt(I(u)/I(v)) from the information fractions. Between the
// endpoints the correlations come from the information calculation (R(i, j): EP1 at analysis
// i with EP2 at analysis j). The result is the strict lower triangle of the symmetric matrix,
// by rows: Z(2,1), Z(3,1), Z(3,2), Z(4,1), ...
#include "survival/correlation_matrix.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace kestrel::survival {
namespace {

// Symmetric square matrix with unit diagonal, filled block by block and then packed.
class Stack {
 public:
  explicit Stack(int n) : n_(n), z_(static_cast<size_t>(n) * static_cast<size_t>(n), 0.0) {}
  void set(int i, int j, double v) {  // 0-based, both triangles
    z_[idx(i, j)] = v;
    z_[idx(j, i)] = v;
  }
  // Same-endpoint block at rows/columns off..off+k-1 from the fractions I[first..first+k-1].
  // With `exact` (the exact covariance's correlations of the endpoint across analyses) its
  // entries are taken instead.
  void same_endpoint(int off, int k, const AnalysisArray& I, int first,
                     const CrossCorrelation* exact = nullptr) {
    for (int u = 0; u < k; ++u) {
      for (int v = 0; v < u; ++v) {
        if (exact) {
          set(off + u, off + v, (*exact)[static_cast<size_t>(first + u)][static_cast<size_t>(first + v)]);
          continue;
        }
        // v is the earlier analysis: its fraction over the later one's.
        set(off + u, off + v, std::sqrt(I[static_cast<size_t>(first + v)] / I[static_cast<size_t>(first + u)]));
      }
    }
  }
  std::vector<double> packed() const {
    std::vector<double> out;
    out.reserve(static_cast<size_t>(n_) * static_cast<size_t>(n_ - 1) / 2);
    for (int i = 1; i < n_; ++i)
      for (int j = 0; j < i; ++j) out.push_back(z_[idx(i, j)]);
    return out;
  }

 private:
  size_t idx(int i, int j) const { return static_cast<size_t>(i) * static_cast<size_t>(n_) + static_cast<size_t>(j); }
  int n_;
  std::vector<double> z_;
};

void check_count(const char* routine, const char* what, int k, int lo, int hi) {
  if (k < lo || k > hi) {
    throw std::invalid_argument(std::string(routine) + ": " + what + " = " + std::to_string(k) +
                                " outside " + std::to_string(lo) + ".." + std::to_string(hi));
  }
}

double at(const CrossCorrelation& R, int i, int j) {  // 0-based analyses
  return R[static_cast<size_t>(i)][static_cast<size_t>(j)];
}

}  // namespace

std::vector<double> ZCORR01(int K, const AnalysisArray& IF1, const AnalysisArray& IF2,
                            const CrossCorrelation& R, const CrossCorrelation* R11,
                            const CrossCorrelation* R22) {
  check_count("ZCORR01", "K", K, 1, NMAXA);
  Stack z(2 * K);
  z.same_endpoint(0, K, IF1, 0, R11);
  z.same_endpoint(K, K, IF2, 0, R22);
  for (int i = 0; i < K; ++i)
    for (int j = 0; j < K; ++j) z.set(K + j, i, at(R, i, j));
  return z.packed();
}

std::vector<double> ZCORR02(int K1, int K2, int s, const AnalysisArray& IF1,
                            const AnalysisArray& IF2, const CrossCorrelation& R,
                            const CrossCorrelation* R11, const CrossCorrelation* R22) {
  check_count("ZCORR02", "K1", K1, 1, NMAXA);
  check_count("ZCORR02", "s", s, 1, NMAXA);
  check_count("ZCORR02", "K2", K2, 1, NMAXA - s + 1);
  Stack z(K1 + K2);
  z.same_endpoint(0, K1, IF1, 0, R11);
  z.same_endpoint(K1, K2, IF2, s - 1, R22);
  for (int i = 0; i < K1; ++i)
    for (int j = 0; j < K2; ++j) z.set(K1 + j, i, at(R, i, s - 1 + j));
  return z.packed();
}

std::vector<double> ZCORR03(int Kp, const AnalysisArray& IF1, const CrossCorrelation& R,
                            const CrossCorrelation* R11) {
  check_count("ZCORR03", "K'", Kp, 1, NMAXA);
  Stack z(Kp + 1);
  z.same_endpoint(0, Kp, IF1, 0, R11);
  for (int i = 0; i < Kp; ++i) z.set(Kp, i, at(R, i, Kp - 1));
  return z.packed();
}

}  // namespace kestrel::survival
