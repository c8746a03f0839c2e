// Power of the two-endpoint trial with futility stops, from first crossings. A trial stops for
// futility at the first analysis where an endpoint that must still succeed for the trial to
// succeed lies below its futility bound:
//   rule 1 (at any interims): either endpoint not yet above its efficacy bound;
//   rule 2 (at the same interim): either endpoint;
//   rule 3 (fixed sequence EP1 -> EP2): EP1 until it crosses, then EP2 (from that analysis on);
//   rule 4 (EP2 only at the final): EP1 until it crosses.
// So the success rectangles are those of the design without futility with every statistic that
// had to be "not above" its efficacy limit now between its futility and efficacy limits, and,
// under rule 2, EP2 above its futility limit where it was free before EP1's crossing. A futility
// bound at or below -8 (or none) leaves the statistic's rectangle exactly as without futility.
#include <cmath>
#include <map>
#include <stdexcept>

#include "samplesize/power.h"
#include "survival/correlation_matrix.h"

namespace kestrel::samplesize {
namespace {

constexpr double kNoFutility = -8.0;
constexpr int kFree = -1, kBelow = 0, kAbove = 1, kBetween = 2;

// Limits of one statistic: the efficacy limit U, the futility limit F (when it has one).
struct StatisticLimits {
  std::vector<double> U1, U2, F1, F2;
  std::vector<bool> has1, has2;
};

double ratio(int IVAR, double var0, double var1) {
  double s0 = std::sqrt(var0), s1 = std::sqrt(var1);
  if (IVAR == 2) s1 = s0;
  if (IVAR == 3) s0 = s1;
  return s0 / s1;
}

// The futility limit on the scale of the efficacy limit U = (sqrt(W) DRF + s0 zb)/s1 is the same
// map of the futility bound: U + (s0/s1)(zf - zb).
void futility_limits(const PowerProblem& pb, const std::vector<double>& U,
                     const std::vector<double>& ZB, const std::vector<double>& ZF,
                     const AnalysisArray& VAR0, const AnalysisArray& VAR1, std::vector<double>& F,
                     std::vector<bool>& has) {
  const size_t K = static_cast<size_t>(pb.K);
  F.assign(K, 0.0);
  has.assign(K, false);
  if (ZF.empty() || U.empty()) return;
  if (ZF.size() + 1 < K) throw std::invalid_argument("power: futility bounds shorter than the interims");
  for (size_t k = 0; k + 1 < K; ++k) {
    if (!(ZF[k] > kNoFutility)) continue;
    has[k] = true;
    F[k] = U[k] + ratio(pb.IVAR, VAR0[k], VAR1[k]) * (ZF[k] - ZB[k]);
  }
}

// A rectangle being built: per statistic its limit, lower limit and type; free statistics are
// left out when it is integrated.
class Builder {
 public:
  explicit Builder(int m) : lim_(static_cast<size_t>(m)), low_(lim_.size()), inf_(lim_.size()) {}
  void set(int i, int type, double limit, double lower = 0.0) {
    inf_[static_cast<size_t>(i)] = type;
    lim_[static_cast<size_t>(i)] = limit;
    low_[static_cast<size_t>(i)] = lower;
  }
  // Not above U: between F and U when the statistic has a futility limit, below U otherwise.
  void inside(int i, double U, bool has, double F) {
    if (has) set(i, kBetween, U, F); else set(i, kBelow, U);
  }
  // Not below F: above F when the statistic has a futility limit, free otherwise.
  void not_below(int i, bool has, double F) {
    if (has) set(i, kAbove, F); else set(i, kFree, 0.0);
  }
  double integrate(const RectangleProbability& rect, int m, const double* correl, const int* stat) {
    keep_.clear();
    for (int i = 0; i < m; ++i)
      if (inf_[static_cast<size_t>(i)] >= 0) keep_.push_back(i);
    const int n = static_cast<int>(keep_.size());
    l_.resize(static_cast<size_t>(n));
    lo_.resize(static_cast<size_t>(n));
    in_.resize(static_cast<size_t>(n));
    st_.resize(static_cast<size_t>(n));
    cor_.resize(static_cast<size_t>(n * (n - 1) / 2));
    bool two_sided = false;
    for (int a = 0; a < n; ++a) {
      const size_t i = static_cast<size_t>(keep_[static_cast<size_t>(a)]);
      l_[static_cast<size_t>(a)] = lim_[i];
      lo_[static_cast<size_t>(a)] = inf_[i] == kBetween ? low_[i] : lim_[i];
      in_[static_cast<size_t>(a)] = inf_[i];
      st_[static_cast<size_t>(a)] = stat[i];
      two_sided = two_sided || inf_[i] == kBetween;
      for (int b = 0; b < a; ++b) {
        const int j = keep_[static_cast<size_t>(b)];
        cor_[static_cast<size_t>(a * (a - 1) / 2 + b)] = correl[i * (i - 1) / 2 + static_cast<size_t>(j)];
      }
    }
    Rectangle r{n, l_.data(), in_.data(), cor_.data(), st_.data()};
    if (two_sided) r.lower = lo_.data();
    return rect(r);
  }

 private:
  std::vector<double> lim_, low_;
  std::vector<int> inf_;
  std::vector<int> keep_, in_, st_;
  std::vector<double> l_, lo_, cor_;
};

std::vector<int> stacking(int K, int ep2_from, int ep2_count) {
  std::vector<int> st;
  for (int k = 0; k < K; ++k) st.push_back(k);
  for (int j = 0; j < ep2_count; ++j) st.push_back(K + ep2_from - 1 + j);
  return st;
}

}  // namespace

namespace {

// The limits of a problem with futility stops and the pieces of its rectangles.
class Limits {
 public:
  Limits(const PowerProblem& pb, int N, std::ostream& report) : pb_(pb), K_(pb.K) {
    const DecisionRule rule = pb.rule;
    if (K_ < 1 || K_ > NMAXA) throw std::invalid_argument("power: number of analyses outside 1..10");
    if (static_cast<int>(pb.ZB1.size()) < K_ || static_cast<int>(pb.ZB2.size()) < K_)
      throw std::invalid_argument("power: bounds shorter than the number of analyses");
    if ((rule == DecisionRule::any_interims || rule == DecisionRule::same_interim) && static_cast<int>(pb.RCORR.size()) < K_ * (2 * K_ - 1))
      throw std::invalid_argument("power: packed correlation matrix too short");
    L = power_limits(pb, N, report);
    futility_limits(pb, L.U1, pb.ZB1, pb.ZF1, pb.set.VAR01, pb.set.VAR11, S.F1, S.has1);
    if (rule != DecisionRule::ep2_at_final) futility_limits(pb, L.U2, pb.ZB2, pb.ZF2, pb.set.VAR02, pb.set.VAR12, S.F2, S.has2);
  }
  double u1(int k) const { return L.U1[static_cast<size_t>(k - 1)]; }
  double u2(int k) const { return L.U2[static_cast<size_t>(k - 1)]; }
  // EP1's statistics 1..K at positions 0..K-1: between the limits before `first`, above at it,
  // free after it and after `last` (first > last: between up to last, the trial going on).
  void ep1(Builder& b, int first, int last) const {
    for (int k = 1; k <= K_; ++k) {
      const size_t i = static_cast<size_t>(k - 1);
      if (k < first && k <= last) b.inside(k - 1, u1(k), S.has1[i], S.F1[i]);
      else if (k == first) b.set(k - 1, kAbove, u1(k));
      else b.set(k - 1, kFree, 0.0);
    }
  }
  // EP2's statistics from..K at positions K..: the same.
  void ep2(Builder& b, int from, int first, int last) const {
    for (int k = from; k <= K_; ++k) {
      const size_t i = static_cast<size_t>(k - 1);
      const int at = K_ + (k - from);
      if (k < first && k <= last) b.inside(at, u2(k), S.has2[i], S.F2[i]);
      else if (k == first) b.set(at, kAbove, u2(k));
      else b.set(at, kFree, 0.0);
    }
  }
  // Rule 2 before a joint crossing at analyses 1..last (bit k-1 of c: EP1 above at k, EP2
  // between; clear: EP1 between, EP2 not below), everything after free.
  void same_interim_prefix(Builder& b, long long c, int last) const {
    for (int k = 1; k <= K_; ++k) {
      const size_t i = static_cast<size_t>(k - 1);
      if (k > last) {
        b.set(k - 1, kFree, 0.0);
        b.set(K_ + k - 1, kFree, 0.0);
      } else if (((c >> (k - 1)) & 1) != 0) {
        b.set(k - 1, kAbove, u1(k));
        b.inside(K_ + k - 1, u2(k), S.has2[i], S.F2[i]);
      } else {
        b.inside(k - 1, u1(k), S.has1[i], S.F1[i]);
        b.not_below(K_ + k - 1, S.has2[i], S.F2[i]);
      }
    }
  }
  std::vector<double> fixed_sequence_matrix(int k1) const {
    return survival::ZCORR02(K_, K_ - k1 + 1, k1, pb_.set.FINF1, pb_.set.FINF2, pb_.set.CORR12,
                             pb_.set.exact ? &pb_.set.CORR11 : nullptr,
                             pb_.set.exact ? &pb_.set.CORR22 : nullptr);
  }
  std::vector<double> final_matrix() const {
    return survival::ZCORR03(K_, pb_.set.FINF1, pb_.set.CORR12,
                             pb_.set.exact ? &pb_.set.CORR11 : nullptr);
  }

  PowerLimits L;
  StatisticLimits S;

 private:
  const PowerProblem& pb_;
  int K_;
};

}  // namespace

PowerResult power_with_futility(const PowerProblem& pb, int N, const RectangleProbability& rect,
                                std::ostream& report) {
  const int K = pb.K;
  const DecisionRule rule = pb.rule;
  const Limits lim(pb, N, report);
  PowerResult r;
  r.QSTOP.assign(static_cast<size_t>(K), 0.0);
  r.QEP.assign(static_cast<size_t>(K), {0.0, 0.0});
  auto add = [&](double P, int ks, int ka, int kb) {
    ++r.integrals;
    r.power += P;
    r.QSTOP[static_cast<size_t>(ks - 1)] += P;
    r.QEP[static_cast<size_t>(ka - 1)][0] += P;
    r.QEP[static_cast<size_t>(kb - 1)][1] += P;
  };

  switch (rule) {
    case DecisionRule::ep2_at_final: {
      const std::vector<double> R = lim.final_matrix();
      const std::vector<int> st = stacking(K, K, 1);
      Builder b(K + 1);
      for (int k1 = 1; k1 <= K; ++k1) {
        lim.ep1(b, k1, K);
        b.set(K, kAbove, lim.L.U2F);
        add(b.integrate(rect, K + 1, R.data(), st.data()), K, k1, K);
      }
      break;
    }
    case DecisionRule::fixed_sequence: {
      for (int k1 = 1; k1 <= K; ++k1) {
        const int m = K + (K - k1 + 1);
        const std::vector<double> R = lim.fixed_sequence_matrix(k1);
        const std::vector<int> st = stacking(K, k1, K - k1 + 1);
        Builder b(m);
        for (int k2 = k1; k2 <= K; ++k2) {
          lim.ep1(b, k1, K);
          lim.ep2(b, k1, k2, K);
          add(b.integrate(rect, m, R.data(), st.data()), k2, k1, k2);
        }
      }
      break;
    }
    case DecisionRule::same_interim: {
      const std::vector<int> all = stacking(K, 1, K);
      Builder b(2 * K);
      for (int kstar = 1; kstar <= K; ++kstar) {
        const long long choices = 1LL << (kstar - 1);
        for (long long c = 0; c < choices; ++c) {
          lim.same_interim_prefix(b, c, kstar - 1);
          b.set(kstar - 1, kAbove, lim.u1(kstar));
          b.set(K + kstar - 1, kAbove, lim.u2(kstar));
          add(b.integrate(rect, 2 * K, pb.RCORR.data(), all.data()), kstar, kstar, kstar);
        }
      }
      break;
    }
    default: {
      const std::vector<int> all = stacking(K, 1, K);
      Builder b(2 * K);
      for (int k1 = 1; k1 <= K; ++k1) {
        for (int k2 = 1; k2 <= K; ++k2) {
          lim.ep1(b, k1, K);
          lim.ep2(b, 1, k2, K);
          add(b.integrate(rect, 2 * K, pb.RCORR.data(), all.data()), k1 > k2 ? k1 : k2, k1, k2);
        }
      }
      break;
    }
  }
  return r;
}

std::vector<double> continuation_probabilities(const PowerProblem& pb, int N,
                                               const RectangleProbability& rect,
                                               std::ostream& report) {
  const int K = pb.K;
  const DecisionRule rule = pb.rule;
  const Limits lim(pb, N, report);
  std::vector<double> reach(static_cast<size_t>(K), 0.0);
  reach[0] = 1.0;
  constexpr int kNone = 1 << 20;  // no crossing up to the analysis
  for (int k = 1; k < K; ++k) {
    double P = 0.0;
    switch (rule) {
      case DecisionRule::ep2_at_final: {
        const std::vector<double> R = lim.final_matrix();
        const std::vector<int> st = stacking(K, K, 1);
        Builder b(K + 1);
        for (int r1 = 1; r1 <= k + 1; ++r1) {
          lim.ep1(b, r1 == k + 1 ? kNone : r1, k);
          b.set(K, kFree, 0.0);
          P += b.integrate(rect, K + 1, R.data(), st.data());
        }
        break;
      }
      case DecisionRule::fixed_sequence: {
        for (int r1 = 1; r1 <= k + 1; ++r1) {
          const int k1 = r1 <= k ? r1 : K;
          const int m = K + (K - k1 + 1);
          const std::vector<double> R = lim.fixed_sequence_matrix(k1);
          const std::vector<int> st = stacking(K, k1, K - k1 + 1);
          Builder b(m);
          lim.ep1(b, r1 <= k ? r1 : kNone, k);
          if (r1 <= k) lim.ep2(b, k1, kNone, k);
          else for (int j = K; j < m; ++j) b.set(j, kFree, 0.0);
          P += b.integrate(rect, m, R.data(), st.data());
        }
        break;
      }
      case DecisionRule::same_interim: {
        const std::vector<int> all = stacking(K, 1, K);
        Builder b(2 * K);
        for (long long c = 0; c < (1LL << k); ++c) {
          lim.same_interim_prefix(b, c, k);
          P += b.integrate(rect, 2 * K, pb.RCORR.data(), all.data());
        }
        break;
      }
      default: {
        const std::vector<int> all = stacking(K, 1, K);
        Builder b(2 * K);
        for (int r1 = 1; r1 <= k + 1; ++r1) {
          for (int r2 = 1; r2 <= k + 1; ++r2) {
            if (r1 <= k && r2 <= k) continue;  // both crossed: the trial succeeded
            lim.ep1(b, r1 <= k ? r1 : kNone, k);
            lim.ep2(b, 1, r2 <= k ? r2 : kNone, k);
            P += b.integrate(rect, 2 * K, pb.RCORR.data(), all.data());
          }
        }
        break;
      }
    }
    reach[static_cast<size_t>(k)] = P;
  }
  return reach;
}

}  // namespace kestrel::samplesize
