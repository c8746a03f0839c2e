#include "samplesize/power.h"

#include <cmath>
#include <map>
#include <stdexcept>

#include "common/format.h"
#include "common/reports.h"
#include "mvn/mvndf.h"
#include "numerics/normal.h"
#include "samplesize/patterns.h"
#include "survival/entry_loss.h"
#include "survival/event_probability.h"

namespace kestrel::samplesize {

RectangleProbability mvn_rectangles(RunContext& ctx, double* error_squares) {
  if (error_squares == nullptr) {
    return [&ctx](const Rectangle& r) {
      return mvn::MVNDF(r.m, r.limits, r.lower_limits(), r.infin, r.correl, ctx.mvn, ctx.generator);
    };
  }
  return [&ctx, error_squares](const Rectangle& r) {
    const mvn::MvnResult res =
        mvn::MVNDF_detail(r.m, r.limits, r.lower_limits(), r.infin, r.correl, ctx.mvn, ctx.generator);
    *error_squares += res.error * res.error;
    return res.value;
  };
}

namespace {

// Standard deviations of an endpoint's score at analysis k under the null (s0) and the
// alternative (s1), after the variance option.
void deviations(int IVAR, double var0, double var1, double& s0, double& s1) {
  s0 = std::sqrt(var0);
  s1 = std::sqrt(var1);
  if (IVAR == 2) s1 = s0;
  if (IVAR == 3) s0 = s1;
}

// Subjects behind the statistic of analysis k: its expected events N Pev FINF(k), divided by the
// event probability Pev(k) of a subject observed up to the calendar time of analysis k. An
// analysis after the end of accrual sees every subject, entered uniformly over the accrual
// period and followed for TCAL(k) - TA at least. An analysis during accrual sees only the
// subjects entered so far, uniformly over 0 .. TCAL(k) and not followed beyond it; the accrual
// period with a negative follow-up in its place would put survival values above one into the
// average (a negative or meaningless Pev(k), and a limit that is not a number).
// With loss to follow-up or accrual pieces both probabilities come from that model: the event
// probability of a subject enrolled by the analysis, observed until it or until lost.
double events_at(int N, int e, const TrialModel& m, double finf, double tcal) {
  const double hr = m.hazard_ratio[static_cast<size_t>(e)];
  const double S = m.control_survival[static_cast<size_t>(e)];
  const double TA = m.accrual_period, TF = m.follow_up, SR = m.treatment_share;
  const double Pev = survival::study_event_probability(m, e);
  if (!m.entry_loss.plain()) {
    const survival::EntryLoss el(m.entry_loss, TA);
    const double Pevk =
        survival::pooled_event_probability(el, m.entry_loss, e, hr, S, SR, TA, TF, tcal);
    return static_cast<double>(N) * Pev * finf / Pevk;
  }
  const double lc = -std::log(S) / m.study_end();
  const double Sk = std::exp(-lc * tcal);
  const double Pevk = tcal >= TA ? survival::PREVENT(hr, Sk, SR, TA, tcal - TA).Pev
                                 : survival::PREVENT(hr, Sk, SR, tcal, 0.0).Pev;
  return static_cast<double>(N) * Pev * finf / Pevk;
}

struct Accumulator {
  PowerResult r;
  explicit Accumulator(int K) {
    r.QSTOP.assign(static_cast<size_t>(K), 0.0);
    r.QEP.assign(static_cast<size_t>(K), {0.0, 0.0});
  }
  // ks, ka, kb are 1-based analyses.
  void add(double P, int ks, int ka, int kb) {
    r.power += P;
    r.QSTOP[static_cast<size_t>(ks - 1)] += P;
    r.QEP[static_cast<size_t>(ka - 1)][0] += P;
    r.QEP[static_cast<size_t>(kb - 1)][1] += P;
  }
};

void check(const PowerProblem& pb) {
  if (pb.K < 1 || pb.K > NMAXA)
    throw std::invalid_argument("power: number of analyses outside 1..10");
  if (static_cast<int>(pb.ZB1.size()) < pb.K || static_cast<int>(pb.ZB2.size()) < pb.K)
    throw std::invalid_argument("power: bounds shorter than the number of analyses");
  const DecisionRule rule = pb.rule;
  if ((rule == DecisionRule::any_interims || rule == DecisionRule::same_interim) && static_cast<int>(pb.RCORR.size()) < pb.K * (2 * pb.K - 1))
    throw std::invalid_argument("power: packed correlation matrix too short");
}

// Packed matrices of rule 3 (EP1 at 1..K, EP2 at k1..K), one per first EP1 rejection k1.
class FixedSequenceMatrices {
 public:
  explicit FixedSequenceMatrices(const PowerProblem& pb) : pb_(pb) {}
  const std::vector<double>& get(int k1) {
    auto it = cache_.find(k1);
    if (it == cache_.end()) {
      it = cache_
               .emplace(k1, survival::ZCORR02(pb_.K, pb_.K - k1 + 1, k1, pb_.set.FINF1,
                                              pb_.set.FINF2, pb_.set.CORR12,
                                              pb_.set.exact ? &pb_.set.CORR11 : nullptr,
                                              pb_.set.exact ? &pb_.set.CORR22 : nullptr))
               .first;
    }
    return it->second;
  }

 private:
  const PowerProblem& pb_;
  std::map<int, std::vector<double>> cache_;
};

// Stacked indices of EP1 at analyses 1..K followed by EP2 at analyses from..K.
std::vector<int> stacking(int K, int ep2_from, int ep2_count) {
  std::vector<int> st;
  for (int k = 0; k < K; ++k) st.push_back(k);
  for (int j = 0; j < ep2_count; ++j) st.push_back(K + ep2_from - 1 + j);
  return st;
}

// Integrates a rectangle whose free statistics (negative limit type) are left out: the others
// keep their limits, types and mutual correlations.
class Reducer {
 public:
  double operator()(const RectangleProbability& rect, int m, const double* lim, const int* inf,
                    const double* correl, const int* stat) {
    keep_.clear();
    for (int i = 0; i < m; ++i)
      if (inf[i] >= 0) keep_.push_back(i);
    const int n = static_cast<int>(keep_.size());
    lim_.resize(static_cast<size_t>(n));
    inf_.resize(static_cast<size_t>(n));
    stat_.resize(static_cast<size_t>(n));
    cor_.resize(static_cast<size_t>(n * (n - 1) / 2));
    for (int a = 0; a < n; ++a) {
      const int i = keep_[static_cast<size_t>(a)];
      lim_[static_cast<size_t>(a)] = lim[i];
      inf_[static_cast<size_t>(a)] = inf[i];
      stat_[static_cast<size_t>(a)] = stat[i];
      for (int b = 0; b < a; ++b) {
        const int j = keep_[static_cast<size_t>(b)];  // j < i
        cor_[static_cast<size_t>(a * (a - 1) / 2 + b)] = correl[i * (i - 1) / 2 + j];
      }
    }
    return rect(Rectangle{n, lim_.data(), inf_.data(), cor_.data(), stat_.data()});
  }

 private:
  std::vector<int> keep_, inf_, stat_;
  std::vector<double> lim_, cor_;
};

}  // namespace

PowerLimits power_limits(const PowerProblem& pb, int N, std::ostream& report) {
  const int K = pb.K;
  const DecisionRule rule = pb.rule;
  const InformationSet& s = pb.set;
  PowerLimits L;
  L.U1.assign(static_cast<size_t>(K), 0.0);
  if (rule != DecisionRule::ep2_at_final) L.U2.assign(static_cast<size_t>(K), 0.0);
  const char* warning = rule == DecisionRule::any_interims ? "ER:SET TA TP(L)" : "ER:SET TA > TP(L)";
  for (int k = 1; k <= K; ++k) {
    const size_t i = static_cast<size_t>(k - 1);
    if (s.TCAL[i] - pb.model.accrual_period <= 0.0) {
      Reports::line(report, fmt::list({std::string_view(warning), k}));
    }
    double s0, s1;
    const double W1 = events_at(N, 0, pb.model, s.FINF1[i], s.TCAL[i]);
    deviations(pb.IVAR, s.VAR01[i], s.VAR11[i], s0, s1);
    L.U1[i] = (std::sqrt(W1) * s.DRF1[i] + s0 * pb.ZB1[i]) / s1;
    if (rule != DecisionRule::ep2_at_final) {
      const double W2 = events_at(N, 1, pb.model, s.FINF2[i], s.TCAL[i]);
      deviations(pb.IVAR, s.VAR02[i], s.VAR12[i], s0, s1);
      L.U2[i] = (std::sqrt(W2) * s.DRF2[i] + s0 * pb.ZB2[i]) / s1;
    }
  }
  if (rule == DecisionRule::ep2_at_final) {
    // EP2 is tested once, at the final analysis, against the fixed-sample critical value.
    const size_t i = static_cast<size_t>(K - 1);
    const double c = numerics::GAUSSINV(1.0 - pb.TYPE1);
    const double W2 = events_at(N, 1, pb.model, s.FINF2[i], s.TCAL[i]);
    double s0, s1;
    deviations(pb.IVAR, s.VAR02[i], s.VAR12[i], s0, s1);
    L.U2F = (std::sqrt(W2) * s.DRF2[i] + s0 * c) / s1;
  }
  return L;
}

PowerResult power_by_patterns(const PowerProblem& pb, int N, const RectangleProbability& rect,
                              std::ostream& report) {
  check(pb);
  const int K = pb.K;
  const DecisionRule rule = pb.rule;
  Accumulator acc(K);
  const PowerLimits L = power_limits(pb, N, report);

  if (rule == DecisionRule::ep2_at_final) {
    const PatternTable table = PARTN02(K);
    const std::vector<double> R = survival::ZCORR03(K, pb.set.FINF1, pb.set.CORR12,
                                                      pb.set.exact ? &pb.set.CORR11 : nullptr);
    const std::vector<int> st = stacking(K, K, 1);
    std::vector<double> lim(static_cast<size_t>(K + 1));
    std::vector<int> inf(static_cast<size_t>(K + 1));
    for (long long p = 0; p < table.count(); ++p) {
      const auto* d = table[p];
      int k1 = 0;
      for (int k = 1; k <= K && k1 == 0; ++k)
        if (d[k - 1] == 1) k1 = k;
      if (k1 == 0) continue;
      for (int k = 0; k < K; ++k) {
        lim[static_cast<size_t>(k)] = L.U1[static_cast<size_t>(k)];
        inf[static_cast<size_t>(k)] = d[k];
      }
      lim[static_cast<size_t>(K)] = L.U2F;
      inf[static_cast<size_t>(K)] = 1;
      const double P = rect(Rectangle{K + 1, lim.data(), inf.data(), R.data(), st.data()});
      ++acc.r.integrals;
      acc.add(P, K, k1, K);
    }
    return acc.r;
  }

  const PatternTable table = PARTN01(K);
  FixedSequenceMatrices rule3(pb);
  const std::vector<int> all = stacking(K, 1, K);
  std::vector<double> lim(static_cast<size_t>(2 * K));
  std::vector<int> inf(static_cast<size_t>(2 * K));
  for (long long p = 0; p < table.count(); ++p) {
    const auto* d = table[p];
    const auto* e1 = d;      // EP1 at analyses 1..K
    const auto* e2 = d + K;  // EP2 at analyses 1..K
    if (rule == DecisionRule::any_interims || rule == DecisionRule::same_interim) {
      int k1 = 0, k2 = 0, kstar = 0;
      for (int k = 1; k <= K; ++k) {
        if (k1 == 0 && e1[k - 1] == 1) k1 = k;
        if (k2 == 0 && e2[k - 1] == 1) k2 = k;
        if (kstar == 0 && e1[k - 1] == 1 && e2[k - 1] == 1) kstar = k;
      }
      if (rule == DecisionRule::any_interims && (k1 == 0 || k2 == 0)) continue;
      if (rule == DecisionRule::same_interim && kstar == 0) continue;
      for (int k = 0; k < K; ++k) {
        lim[static_cast<size_t>(k)] = L.U1[static_cast<size_t>(k)];
        lim[static_cast<size_t>(K + k)] = L.U2[static_cast<size_t>(k)];
        inf[static_cast<size_t>(k)] = e1[k];
        inf[static_cast<size_t>(K + k)] = e2[k];
      }
      const double P = rect(Rectangle{2 * K, lim.data(), inf.data(), pb.RCORR.data(), all.data()});
      ++acc.r.integrals;
      if (rule == DecisionRule::any_interims)
        acc.add(P, k1 > k2 ? k1 : k2, k1, k2);
      else
        acc.add(P, kstar, kstar, kstar);
    } else {  // rule 3
      int k1 = 0;
      for (int k = 1; k <= K && k1 == 0; ++k)
        if (e1[k - 1] == 1) k1 = k;
      if (k1 == 0) continue;
      bool early = false;  // EP2 above before EP1's first rejection
      for (int k = 1; k < k1; ++k)
        if (e2[k - 1] == 1) early = true;
      if (early) continue;
      int k2 = 0;
      for (int k = k1; k <= K && k2 == 0; ++k)
        if (e2[k - 1] == 1) k2 = k;
      if (k2 == 0) continue;
      const int m = K + (K - k1 + 1);
      for (int k = 0; k < K; ++k) {
        lim[static_cast<size_t>(k)] = L.U1[static_cast<size_t>(k)];
        inf[static_cast<size_t>(k)] = e1[k];
      }
      for (int k = k1; k <= K; ++k) {
        const size_t j = static_cast<size_t>(K + (k - k1));
        lim[j] = L.U2[static_cast<size_t>(k - 1)];
        inf[j] = e2[k - 1];
      }
      const std::vector<int> st = stacking(K, k1, K - k1 + 1);
      const double P = rect(Rectangle{m, lim.data(), inf.data(), rule3.get(k1).data(), st.data()});
      ++acc.r.integrals;
      acc.add(P, k2, k1, k2);
    }
  }
  return acc.r;
}

namespace {

// Limit types of one endpoint's statistics for a first crossing at analysis `first` (1-based)
// among the analyses from..K: not above before it, above at it, free after it.
void first_crossing(int* inf, int from, int K, int first) {
  for (int k = from; k <= K; ++k) inf[k - from] = k < first ? 0 : (k == first ? 1 : -1);
}

}  // namespace

PowerResult power_by_first_crossings(const PowerProblem& pb, int N,
                                     const RectangleProbability& rect, std::ostream& report) {
  if (pb.has_futility()) return power_with_futility(pb, N, rect, report);
  check(pb);
  const int K = pb.K;
  const DecisionRule rule = pb.rule;
  Accumulator acc(K);
  const PowerLimits L = power_limits(pb, N, report);
  Reducer integrate;
  std::vector<double> lim(static_cast<size_t>(2 * K));
  std::vector<int> inf(static_cast<size_t>(2 * K));
  for (int k = 0; k < K; ++k) lim[static_cast<size_t>(k)] = L.U1[static_cast<size_t>(k)];

  switch (rule) {
    case DecisionRule::ep2_at_final: {
      const std::vector<double> R = survival::ZCORR03(K, pb.set.FINF1, pb.set.CORR12,
                                                      pb.set.exact ? &pb.set.CORR11 : nullptr);
      const std::vector<int> st = stacking(K, K, 1);
      lim[static_cast<size_t>(K)] = L.U2F;
      for (int k1 = 1; k1 <= K; ++k1) {
        first_crossing(inf.data(), 1, K, k1);
        inf[static_cast<size_t>(K)] = 1;
        const double P = integrate(rect, K + 1, lim.data(), inf.data(), R.data(), st.data());
        ++acc.r.integrals;
        acc.add(P, K, k1, K);
      }
      break;
    }
    case DecisionRule::fixed_sequence: {
      FixedSequenceMatrices matrices(pb);
      for (int k1 = 1; k1 <= K; ++k1) {
        const int m = K + (K - k1 + 1);
        for (int k = k1; k <= K; ++k)
          lim[static_cast<size_t>(K + (k - k1))] = L.U2[static_cast<size_t>(k - 1)];
        const std::vector<double>& R = matrices.get(k1);
        const std::vector<int> st = stacking(K, k1, K - k1 + 1);
        for (int k2 = k1; k2 <= K; ++k2) {
          first_crossing(inf.data(), 1, K, k1);
          first_crossing(inf.data() + K, k1, K, k2);
          const double P = integrate(rect, m, lim.data(), inf.data(), R.data(), st.data());
          ++acc.r.integrals;
          acc.add(P, k2, k1, k2);
        }
      }
      break;
    }
    case DecisionRule::same_interim: {
      const std::vector<int> all = stacking(K, 1, K);
      for (int k = 0; k < K; ++k) lim[static_cast<size_t>(K + k)] = L.U2[static_cast<size_t>(k)];
      for (int kstar = 1; kstar <= K; ++kstar) {
        // At each earlier analysis: EP1 not above (EP2 free), or EP1 above and EP2 not above.
        const long long choices = 1LL << (kstar - 1);
        for (long long c = 0; c < choices; ++c) {
          for (int k = 1; k < kstar; ++k) {
            const bool ep1_above = ((c >> (k - 1)) & 1) != 0;
            inf[static_cast<size_t>(k - 1)] = ep1_above ? 1 : 0;
            inf[static_cast<size_t>(K + k - 1)] = ep1_above ? 0 : -1;
          }
          for (int k = kstar; k <= K; ++k) {
            const int t = k == kstar ? 1 : -1;
            inf[static_cast<size_t>(k - 1)] = t;
            inf[static_cast<size_t>(K + k - 1)] = t;
          }
          const double P =
              integrate(rect, 2 * K, lim.data(), inf.data(), pb.RCORR.data(), all.data());
          ++acc.r.integrals;
          acc.add(P, kstar, kstar, kstar);
        }
      }
      break;
    }
    default: {
      const std::vector<int> all = stacking(K, 1, K);
      for (int k = 0; k < K; ++k) lim[static_cast<size_t>(K + k)] = L.U2[static_cast<size_t>(k)];
      for (int k1 = 1; k1 <= K; ++k1) {
        for (int k2 = 1; k2 <= K; ++k2) {
          first_crossing(inf.data(), 1, K, k1);
          first_crossing(inf.data() + K, 1, K, k2);
          const double P =
              integrate(rect, 2 * K, lim.data(), inf.data(), pb.RCORR.data(), all.data());
          ++acc.r.integrals;
          acc.add(P, k1 > k2 ? k1 : k2, k1, k2);
        }
      }
      break;
    }
  }
  return acc.r;
}

long long rectangles_by_first_crossings(int rule, int K) {
  switch (decision_rule(rule)) {
    case DecisionRule::same_interim:
      return (1LL << K) - 1;
    case DecisionRule::fixed_sequence:
      return static_cast<long long>(K) * (K + 1) / 2;
    case DecisionRule::ep2_at_final:
      return K;
    default:
      return static_cast<long long>(K) * K;
  }
}

}  // namespace kestrel::samplesize
