#pragma once
// The calculation behind BVRLGRNK01 and BVRLGRNK02, with the grid count NG as an argument.
//
// Every quantity is per randomised subject. The integration grid is equally spaced in event
// probability; per grid interval the at-risk probabilities and hazard increments of each endpoint
// and arm are formed once. The cross-endpoint covariance is a double sum over (EP1 interval, EP2
// interval) cells of a per-cell kernel that does not depend on the analysis pair, times a
// censoring weight that does. The kernel is therefore formed once per design, with its row and
// column prefix sums; a pair of analyses then costs one pass over the rows and columns plus the
// few cells that straddle the shifted diagonal.
#include <array>
#include <cmath>
#include <ostream>
#include <vector>

#include "common/reports.h"
#include "survival/entry_loss.h"
#include "survival/information.h"
#include "survival/margins.h"

namespace kestrel::survival::detail {

// Mean and variances of both endpoints' scores at one analysis.
struct Moments {
  std::array<double, 2> mu{}, va{}, v0{};
};

// One analysis: grid index, calendar time, censoring span and minimum follow-up, enrolled fraction.
struct Look {
  int idx = 0;
  double tau = 0, A = 0, F = 0, l = 0;
};

// The analyses of one information set with their moments and the 2K x 2K covariance matrix of the
// scaled scores, EP1 at analyses 1..K then EP2 at analyses 1..K.
struct AnalysisSet {
  int K = 0;
  std::vector<Look> looks;
  std::vector<Moments> m;
  // Without the exact model SIG is the martingale covariance of the scaled scores. With it
  // (exact), SIGU is the first-order covariance of the scaled raw scores (the at-risk fractions'
  // fluctuation included) and SIG that of the scores as the test standardises them: score k
  // divided by the square root of its observed variance, times sqrt(V0(k)), i.e. of
  // xi - mu eta / (2 V0) with the variance estimate's fluctuation eta (docs/exact-covariance.md).
  // SIG is what the power and the reports use.
  bool exact = false;
  std::vector<double> SIG, SIGU;  // row-major, 2K x 2K
  double sig(int i, int j) const { return SIG[static_cast<size_t>(i) * 2 * K + j]; }
  double& sig(int i, int j) { return SIG[static_cast<size_t>(i) * 2 * K + j]; }
  double sigu(int i, int j) const { return SIGU[static_cast<size_t>(i) * 2 * K + j]; }
  // Correlation of EP1 at analysis k1 with EP2 at analysis k2 (0-based).
  double corr12(int k1, int k2) const {
    return sig(k1, K + k2) / std::sqrt(sig(k1, k1) * sig(K + k2, K + k2));
  }
};

class InformationModel {
 public:
  InformationModel(const InformationInput& in, int NG);
  InformationModel(const TrialModel& model, int NG);

  int NG() const { return NG_; }
  const std::vector<double>& X() const { return X_; }
  double T() const { return T_; }
  double accrual() const { return a_; }
  double follow_up() const { return f_; }
  const EntryLoss& entry_loss() const { return el_; }

  // The analysis at grid index idx (calendar time X(idx)) with censoring A = min(a, tau),
  // F = tau - A, and the enrolled fraction at tau.
  Look look_at(int idx) const;
  // The final analysis at T with the censoring of the study end.
  Look final_look() const;

  // Mean and variances integrated over intervals 1..look.idx with the look's censoring.
  Moments moments(const Look& look) const;
  // The information-weighted average hazard ratio of endpoint e up to the look, for reference:
  // exp of the mean of the log ratio of the arms' marginal hazards weighted by the null variance
  // increments (1 for equal laws).
  double average_ratio(int e, const Look& look) const;

  // Cross-endpoint covariance (before the enrolment scaling) of the EP1 score at analysis `a`
  // and the EP2 score at analysis `b`: EP1 cells up to a.idx, EP2 cells up to b.idx, weighted by
  // the censoring of the earlier analysis with the later endpoint's time moved back by the gap.
  double cross(const Look& a, const Look& b) const;

  // Fills the moments and the covariance matrix of a set whose looks are given; with the exact
  // model (InformationInput::exact) the fluctuation terms are added (fluctuation()).
  void complete(AnalysisSet& set) const;

  // What the exact covariance adds to the martingale part, before the enrolment scaling, for the
  // score of endpoint e1 at analysis a and of endpoint e2 at analysis b: the cross moments of the
  // martingale and at-risk parts of the two influence functions, weighted by the joint
  // censoring, less the product of the means (docs/exact-covariance.md). Zero when both hazard
  // ratios are 1.
  double fluctuation(int e1, const Look& a, int e2, const Look& b) const;

  // The two influence functions of a score: the score itself (kScore) and its observed variance
  // (kVariance), each of the form  int alpha dM + int beta Y  per arm.
  enum Kind { kScore = 0, kVariance = 1 };
  // Exact model: the first-order covariance, per planned subject before the enrolment scaling and
  // less the arms' products of means only through complete(), of the influence of kind t1 of
  // endpoint e1 at analysis a with that of kind t2 of endpoint e2 at analysis b, martingale parts
  // included; not for two scores (fluctuation() and the martingale model give that).
  double influence_sum(int t1, int e1, const Look& a, int t2, int e2, const Look& b) const;

 private:
  // A per-cell kernel with its row and column prefix sums, each (NG+1)^2.
  struct CellKernel {
    std::vector<double> H, row, col;
  };
  void build_kernel() const;
  void build_fluctuation_kernels() const;
  // Same-endpoint kernel of the influences (alpha1, beta1) and (alpha2, beta2) of endpoint e,
  // per arm and interval, martingale part included.
  void build_same_kernel(CellKernel& F, int e, int t1, int t2) const;
  // Per arm z, endpoint e and interval: alpha and beta of influence kind t.
  double alpha(int t, int z, int e, size_t i) const { return t == kScore ? wa_[z][e][i] : wphi_[e][i]; }
  double beta(int t, int z, int e, size_t i) const {
    return t == kScore ? wa_[z][e][i] * wd_[z][e][i] : wbv_[z][e][i];
  }
  // The sum over EP1-slot cells up to a.idx and EP2-slot cells up to b.idx of the kernel times
  // the joint censoring weight: a subject entered at E contributes its first process up to
  // tau_a - E and its second up to tau_b - E, so the cell (t, s) is weighted by the follow-up
  // distribution of the earlier analysis at max(t, s - gap) (or max(t - gap, s)).
  // This weight is the one place censoring enters the covariance integrals.
  double censored_sum(const CellKernel& k, const Look& a, const Look& b) const;
  // The administrative censoring weight at follow-up x of the analysis `look`: the staggered-entry
  // weight SCENS for uniform entry, the follow-up distribution of the accrual pieces otherwise.
  // Loss to follow-up enters the at-risk averages and the cross kernel of each arm instead, so
  // that the weight stays common to both arms.
  double admin_weight(double x, const Look& look) const;

  int NG_;
  EntryLoss el_;
  // Piecewise hazards stated: every arm and endpoint reads its law from law_[arm][endpoint];
  // otherwise the exponential hazards of Arm, as always.
  bool pieces_ = false;
  std::array<std::array<PiecewiseExponential, 2>, 2> law_;
  int code_, mode_, flag_;
  double q_, theta_, a_, f_, T_;
  std::vector<double> X_, Xm_;
  // Per interval i = 1..NG (index 0 unused): moment coefficients of each endpoint.
  std::array<std::vector<double>, 2> cmu_, cva_, cv0_;
  // Per interval: control and treatment weights of the cross kernel (at-risk share / pooled).
  std::vector<double> rc1_, rt1_, rc2_, rt2_;
  struct Arm {
    double l1 = 0, l2 = 0;
    std::vector<double> pi1, pi2;      // at-risk averages of EP1 and EP2 per interval
    std::vector<double> dl1, dl2;      // hazard increments of the scores per interval
    std::vector<double> kdl1, kx1;     // kernel increments of EP1: own event, composite extra
    std::vector<double> kdl2;          // kernel increment of EP2
    std::vector<double> diag_rc;       // competing-risk mode 3: corner average at (M, M)
    std::vector<double> diag_b1;       // competing-risk mode 3: B1 of a cell below the diagonal
    std::vector<double> kept;          // P(not lost) at the grid nodes; empty without loss
  };
  std::array<Arm, 2> arm_;  // 0 control, 1 treatment
  // Martingale kernel H(i, j) of the cross covariance with its prefix sums.
  mutable CellKernel kernel_;
  mutable bool kernel_built_ = false;
  // Exact model: fluctuation kernels EP1-EP1, EP2-EP2, EP1-EP2, and per arm and interval the
  // score weight a (control share of the risk set, or minus the treatment share) and the hazard
  // increment minus the pooled one (delta). The EP1-EP2 kernel is formed row by row beside the
  // martingale kernel, from the same per-cell moments E[dN1 Y2], E[Y1 dN2], E[Y1 Y2].
  bool exact_ = false;
  mutable std::array<CellKernel, 3> fluct_;
  mutable bool fluct_built_ = false;
  std::array<std::array<std::vector<double>, 2>, 2> wa_, wd_;  // [arm][endpoint][interval]
  // The variance estimate's influence: alpha = e (1 - e) (both arms) and per arm
  // beta = e (1 - e) dL + (1 - 2 e) a dLbar.
  std::array<std::vector<double>, 2> wphi_;                     // [endpoint][interval]
  std::array<std::array<std::vector<double>, 2>, 2> wbv_;       // [arm][endpoint][interval]
  // Kernels with the variance estimate: same endpoint [e][0] score-variance, [e][1]
  // variance-variance; EP1-EP2 [0] score-variance, [1] variance-score, [2] variance-variance.
  mutable std::array<std::array<CellKernel, 2>, 2> same_v_;
  mutable std::array<CellKernel, 3> cross_v_;
};

// The calendar-time calculation: analyses at the grid points at or just after the requested
// times; writes the competing-risk name once per analysis.
AnalysisSet CVARGIVTIME(int NG, const InformationInput& in, Reports& reports);

// The information-fraction calculation: set 0 at the times EP1 reaches the fractions, set 1 at
// the times EP2 reaches them, both held EP1 first. achieved[k][e]: fraction of the alternative
// variance reached by endpoint e in the set driven by e.
struct FractionResult {
  std::array<AnalysisSet, 2> sets;
  std::vector<std::array<double, 2>> achieved;
};
FractionResult CVGIVINFO(int NG, const InformationInput& in);

// The routines with a chosen grid count (the run uses 1000).
InformationSet calendar_information(const InformationInput& in, numerics::UniformGenerator& gen,
                                    Reports& reports, int NG);
InformationSets fraction_information(const InformationInput& in, numerics::UniformGenerator& gen,
                                     Reports& reports, int NG);

// The rows of the main report's information table for one set.
void write_information_rows(const AnalysisSet& set, const InformationSet& out, std::ostream& os);

}  // namespace kestrel::survival::detail
