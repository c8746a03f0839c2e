// Set-up of the integrand: Genz's variable prioritisation with a Cholesky factorisation of the
// correlation matrix (smallest expected interval probability first, ties to the later
// variable), handling of singular directions, and the direct answers for one and two effective
// variables.
#include "common/fp_contract.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "mvn/integration_detail.h"
#include "mvn/kernels.h"

namespace kestrel::mvn {

namespace {
constexpr double kEps = 1e-10;
constexpr double kSqrtTwoPi = 2.506628274631001;
}  // namespace

void RCSWP(int p, int q, double* a, double* b, int* infin, int n, double* c) {
  std::swap(a[p], a[q]);
  std::swap(b[p], b[q]);
  std::swap(infin[p], infin[q]);
  int jj = (p * (p - 1)) / 2;
  int ii = (q * (q - 1)) / 2;
  std::swap(c[jj + p], c[ii + q]);
  for (int j = 1; j <= p - 1; ++j) std::swap(c[jj + j], c[ii + j]);
  jj = jj + p;
  for (int i = p + 1; i <= q - 1; ++i) {
    std::swap(c[jj + p], c[ii + i]);
    jj = jj + i;
  }
  ii = ii + q;
  for (int i = q + 1; i <= n; ++i) {
    std::swap(c[ii + p], c[ii + q]);
    ii = ii + i;
  }
}

int COVSRT(int n, const double* lower, const double* upper, const double* correl, const int* infin,
           MvnState::Work& w) {
  double* a = w.a.data();
  double* b = w.b.data();
  double* cov = w.cov.data();
  double* y = w.y.data();
  int* infi = w.infi.data();
  // Inputs are 0-based; work arrays 1-based.
  int ij = 0, ii = 0, infis = 0;
  for (int i = 1; i <= n; ++i) {
    a[i] = 0;
    b[i] = 0;
    infi[i] = infin[i - 1];
    if (infi[i] < 0) {
      ++infis;
    } else {
      if (infi[i] != 0) a[i] = lower[i - 1];
      if (infi[i] != 1) b[i] = upper[i - 1];
    }
    for (int j = 1; j <= i - 1; ++j) {
      ++ij;
      ++ii;
      cov[ij] = correl[ii - 1];
    }
    ++ij;
    cov[ij] = 1;
  }
  if (infis >= n) return infis;
  // Free variables go to the innermost positions.
  for (int i = n; i >= n - infis + 1; --i) {
    if (infi[i] >= 0) {
      for (int j = 1; j <= i - 1; ++j) {
        if (infi[j] < 0) {
          RCSWP(j, i, a, b, infi, n, cov);
          break;
        }
      }
    }
  }
  // Sort the remaining variables and factor.
  const int nd = n - infis;
  ii = 0;
  for (int i = 1; i <= nd; ++i) {
    double dmin = 0, emin = 1, amin = 0, bmin = 0, cvdiag = 0;
    int jmin = i;
    ij = ii;
    for (int j = i; j <= nd; ++j) {
      if (cov[ij + j] > kEps) {
        const double sumsq = std::sqrt(cov[ij + j]);
        double sum = 0;
        for (int k = 1; k <= i - 1; ++k) sum = sum + cov[ij + k] * y[k];
        const double aj = (a[j] - sum) / sumsq;
        const double bj = (b[j] - sum) / sumsq;
        double d, e;
        detail::MVNLMS(aj, bj, infi[j], d, e);
        if (emin + d >= e + dmin) {
          jmin = j;
          amin = aj;
          bmin = bj;
          dmin = d;
          emin = e;
          cvdiag = sumsq;
        }
      }
      ij = ij + j;
    }
    if (jmin > i) RCSWP(i, jmin, a, b, infi, n, cov);
    cov[ii + i] = cvdiag;
    if (cvdiag > 0) {
      // Column i of the factor, the update of the rest, and the expected value of variable i
      // inside its interval.
      int il = ii + i;
      for (int l = i + 1; l <= nd; ++l) {
        cov[il + i] = cov[il + i] / cvdiag;
        ij = ii + i;
        for (int j = i + 1; j <= l; ++j) {
          cov[il + j] = cov[il + j] - cov[il + i] * cov[ij + i];
          ij = ij + j;
        }
        il = il + l;
      }
      if (emin > dmin + kEps) {
        double yl = 0, yu = 0;
        if (infi[i] != 0) yl = -std::exp(-amin * amin / 2) / kSqrtTwoPi;
        if (infi[i] != 1) yu = -std::exp(-bmin * bmin / 2) / kSqrtTwoPi;
        y[i] = (yu - yl) / (emin - dmin);
      } else {
        if (infi[i] == 0) y[i] = bmin;
        if (infi[i] == 1) y[i] = amin;
        if (infi[i] == 2) y[i] = (amin + bmin) / 2;
      }
      for (int j = 1; j <= i; ++j) {
        ++ii;
        cov[ii] = cov[ii] / cvdiag;
      }
      a[i] = a[i] / cvdiag;
      b[i] = b[i] / cvdiag;
    } else {
      // Singular direction: variable i is fixed by earlier ones. Scale its row by the last
      // earlier coefficient that is not negligible, and move it next to the variable it depends on.
      int il = ii + i;
      for (int l = i + 1; l <= nd; ++l) {
        cov[il + i] = 0;
        il = il + l;
      }
      for (int j = i - 1; j >= 1; --j) {
        if (std::fabs(cov[ii + j]) > kEps) {
          a[i] = a[i] / cov[ii + j];
          b[i] = b[i] / cov[ii + j];
          if (cov[ii + j] < 0) {
            std::swap(a[i], b[i]);
            if (infi[i] != 2) infi[i] = 1 - infi[i];
          }
          for (int l = 1; l <= j; ++l) cov[ii + l] = cov[ii + l] / cov[ii + j];
          for (int l = j + 1; l <= i - 1; ++l) {
            if (cov[(l - 1) * l / 2 + j + 1] > 0) {
              ij = ii;
              for (int k = i - 1; k >= l; --k) {
                for (int m = 1; m <= k; ++m) std::swap(cov[ij - k + m], cov[ij + m]);
                std::swap(a[k], a[k + 1]);
                std::swap(b[k], b[k + 1]);
                std::swap(infi[k], infi[k + 1]);
                ij = ij - k;
              }
              break;
            }
          }
          break;
        }
        cov[ii + j] = 0;
      }
      ii = ii + i;
      y[i] = 0;
    }
  }
  return infis;
}

int MVNSETUP(int n, const double* correl, const double* lower, const double* upper, const int* infin,
             MvnState::Work& w, double& d, double& e) {
  int infis = COVSRT(n, lower, upper, correl, infin, w);
  double* a = w.a.data();
  double* b = w.b.data();
  int* infi = w.infi.data();
  const double* cov = w.cov.data();
  d = 0;
  e = 0;
  if (n - infis == 1) {
    detail::MVNLMS(a[1], b[1], infi[1], d, e);
  } else if (n - infis == 2) {
    if (std::fabs(cov[3]) > 0) {
      d = std::sqrt(1 + cov[2] * cov[2]);
      if (infi[2] != 0) a[2] = a[2] / d;
      if (infi[2] != 1) b[2] = b[2] / d;
      e = BVNMVN(a + 1, b + 1, infi + 1, cov[2] / d);
      d = 0;
    } else {
      // The second variable is fixed by the first: intersect the two intervals.
      if (infi[1] != 0) {
        if (infi[2] != 0) a[1] = std::max(a[1], a[2]);
      } else {
        if (infi[2] != 0) a[1] = a[2];
      }
      if (infi[1] != 1) {
        if (infi[2] != 1) b[1] = std::min(b[1], b[2]);
      } else {
        if (infi[2] != 1) b[1] = b[2];
      }
      if (infi[1] != infi[2]) infi[1] = 2;
      detail::MVNLMS(a[1], b[1], infi[1], d, e);
    }
    ++infis;
  }
  return infis;
}

}  // namespace kestrel::mvn
