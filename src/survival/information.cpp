// Information at given calendar times (BVRLGRNK01) and at the times that reach given information
// fractions (BVRLGRNK02): the per-subject moments and covariances of the two log-rank scores, the
// console reports, the matrix file or the unit-60 blocks, and the rows of the main report's
// information table.
#include "survival/information.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/format.h"
#include "numerics/uniform_generator.h"
#include "survival/information_kernel.h"

namespace kestrel::survival {

using fmt::Record;

void PREVENT_STM17(int mode, double /*tau*/, Reports& reports) {
  if (mode == 1) Reports::line(reports.console(), fmt::list({std::string_view("Non-Competing")}));
  if (mode == 2) Reports::line(reports.main(), fmt::list({std::string_view("Semi-Competing")}));
  if (mode == 3) Reports::line(reports.main(), fmt::list({std::string_view("full-Competing")}));
}

namespace detail {
namespace {

constexpr int kGrid = 1000;

void check_count(int K) {
  if (K < 1 || K > NMAXA) {
    throw RunError("THE NUMBER OF ANALYSES MUST LIE IN 1.." + std::to_string(NMAXA) +
                   ": LOOK = " + std::to_string(K));
  }
}

// A labelled line of up to ten values, (Aw, 10F8.4).
std::string labelled(std::string_view label, int w, const double* v, int n) {
  return Record().a(label, w).fs(v, n, 8, 4);
}

void put(std::ostream& os, const std::string& s) { Reports::line(os, s); }

// Copies a completed set into the slots of an information set (EP1 in the slots ending in 1).
InformationSet to_slots(const AnalysisSet& s, const AnalysisArray& tcal) {
  InformationSet out;
  const int K = s.K;
  out.K = K;
  const Moments& last = s.m[K - 1];
  for (int k = 0; k < K; ++k) {
    const Moments& m = s.m[k];
    out.TCAL[k] = tcal[k];
    out.FENR[k] = s.looks[k].l;
    // The score of analysis k sums over the l(k) N subjects enrolled by then: its null
    // variance is N l(k) V0(k), and its information fraction l(k) V0(k) / (l(K) V0(K)).
    const double lk = s.looks[k].l / s.looks[K - 1].l;
    out.FINF1[k] = lk * m.v0[0] / last.v0[0];
    out.FINF2[k] = lk * m.v0[1] / last.v0[1];
    out.DRF1[k] = m.mu[0];
    out.DRF2[k] = m.mu[1];
    out.VAR11[k] = s.sig(k, k);
    out.VAR12[k] = s.sig(K + k, K + k);
    out.VAR01[k] = m.v0[0];
    out.VAR02[k] = m.v0[1];
    for (int j = 0; j < K; ++j) out.CORR12[k][j] = s.corr12(k, j);
  }
  out.exact = s.exact;
  if (s.exact) {
    for (int k = 0; k < K; ++k) {
      for (int j = 0; j < K; ++j) {
        out.CORR11[k][j] = s.sig(k, j) / std::sqrt(s.sig(k, k) * s.sig(j, j));
        out.CORR22[k][j] = s.sig(K + k, K + j) / std::sqrt(s.sig(K + k, K + k) * s.sig(K + j, K + j));
      }
    }
  }
  return out;
}

// Rows of 2K values of a 2K x 2K matrix with the given editing.
void matrix_rows(std::ostream& os, int K, const std::function<double(int, int)>& v, int per_line,
                 int w, int d) {
  std::vector<double> row(static_cast<size_t>(2 * K));
  for (int i = 0; i < 2 * K; ++i) {
    for (int j = 0; j < 2 * K; ++j) row[j] = v(i, j);
    for (const std::string& s : fmt::repeated(row.data(), 2 * K, per_line, w, d)) put(os, s);
  }
}

}  // namespace

void write_information_rows(const AnalysisSet& set, const InformationSet& out, std::ostream& os) {
  // Columns end under the headings "#ANAL", "TIME", "TIME", "AVE", "VAR(H1)", "VAR(H0)" (EP1),
  // "TIME", "AVE", "VAR(H1)", "VAR(H0)" (EP2), "CORREL" and "PROP.".
  for (int k = 0; k < set.K; ++k) {
    // A row with a figure that is not a number is not written: the run stops on it (after a
    // failed copula search, or an endpoint without information), with the cause named on
    // standard error, and a NaN in the report would only stand for that message.
    bool numbers = std::isfinite(set.looks[k].tau);
    for (double x : {out.FINF1[k], out.DRF1[k], out.VAR11[k], out.VAR01[k], out.FINF2[k],
                     out.DRF2[k], out.VAR12[k], out.VAR02[k], out.CORR12[k][k], out.FENR[k]})
      numbers = numbers && std::isfinite(x);
    if (!numbers) break;
    put(os, Record()
                .x(1)
                .i(k + 1, 5)
                .f(set.looks[k].tau, 6, 2)
                .f(out.FINF1[k], 9, 4)
                .f(out.DRF1[k], 8, 4)
                .f(out.VAR11[k], 8, 4)
                .f(out.VAR01[k], 8, 4)
                .f(out.FINF2[k], 11, 4)
                .f(out.DRF2[k], 8, 4)
                .f(out.VAR12[k], 8, 4)
                .f(out.VAR02[k], 8, 4)
                .f(out.CORR12[k][k], 11, 4)
                .f(out.FENR[k], 10, 4));
  }
}

// With piecewise hazards, the information-weighted average hazard ratio of each endpoint over
// the whole study, for reference beside the model's drift.
void average_ratios(const InformationInput& in, int NG, InformationSet& out) {
  if (!in.model.entry_loss.has_hazards()) return;
  TrialModel martingale = in.model;
  martingale.exact = false;
  const InformationModel model(martingale, NG);
  out.AHR1 = model.average_ratio(0, model.final_look());
  out.AHR2 = model.average_ratio(1, model.final_look());
}

InformationSet calendar_information(const InformationInput& in, numerics::UniformGenerator& gen,
                                    Reports& reports, int NG) {
  gen.RANDOPT(5);
  check_count(in.K);
  const AnalysisSet set = CVARGIVTIME(NG, in, reports);
  const int K = set.K;
  InformationSet out = to_slots(set, in.TLOOK);
  average_ratios(in, NG, out);

  std::ostream& con = reports.console();
  std::vector<double> tau(K), l(K);
  for (int k = 0; k < K; ++k) {
    tau[k] = set.looks[k].tau;
    l[k] = set.looks[k].l;
  }
  std::vector<int> idx(K);
  for (int k = 0; k < K; ++k) idx[k] = k + 1;
  put(con, fmt::list({std::string_view("------under given analysis times ------")}));
  put(con, labelled("Ac_Time", 9, tau.data(), K));
  put(con, labelled("Prop_Ns", 9, l.data(), K));
  put(con, labelled("Infomation Time of logHR_EP1", 28, out.FINF1.data(), K));
  put(con, labelled("Infomation Time of logHR_EP2", 28, out.FINF2.data(), K));
  put(con, Record().x(18).a("EP2=", 4).is(idx.data(), K, 8));
  for (int k = 0; k < K; ++k) {
    put(con, Record()
                 .a("Correlation[EP1=", 16)
                 .i(k + 1, 2)
                 .a(",EP2]", 5)
                 .fs(out.CORR12[k].data(), K, 8, 4));
  }
  put(con, fmt::list({std::string_view("------------")}));

  std::ostream& mat = reports.matrix();
  put(mat, fmt::list({std::string_view("COVARIANCE MATRIX")}));
  matrix_rows(mat, K, [&](int i, int j) { return set.sig(i, j); }, 99, 10, 4);
  put(mat, fmt::list({std::string_view("CORRELATION MATRIX")}));
  matrix_rows(
      mat, K, [&](int i, int j) { return set.sig(i, j) / std::sqrt(set.sig(i, i) * set.sig(j, j)); },
      99, 10, 4);

  write_information_rows(set, out, reports.main());
  return out;
}

InformationSets fraction_information(const InformationInput& in, numerics::UniformGenerator& gen,
                                     Reports& reports, int NG) {
  gen.RANDOPT(5);
  check_count(in.K);
  const FractionResult res = CVGIVINFO(NG, in);
  const int K = in.K;
  std::array<AnalysisArray, 2> tcal{};
  for (int s = 0; s < 2; ++s)
    for (int k = 0; k < K; ++k) tcal[s][k] = res.sets[s].looks[k].tau;
  InformationSets out{to_slots(res.sets[0], tcal[0]), to_slots(res.sets[1], tcal[1])};
  average_ratios(in, NG, out.ep1_driven);
  average_ratios(in, NG, out.ep2_driven);
  const std::array<const InformationSet*, 2> slots{&out.ep1_driven, &out.ep2_driven};

  std::ostream& con = reports.console();
  const std::string sep = fmt::list({std::string_view("------------")});
  auto row = [&](std::string_view label, int w, auto value) {
    std::vector<double> v(static_cast<size_t>(K));
    for (int k = 0; k < K; ++k) v[k] = value(k);
    put(con, labelled(label, w, v.data(), K));
  };
  put(con, fmt::list({std::string_view("------under given IFTs ------")}));
  row("(TIME_EP1) T1=", 15, [&](int k) { return tcal[0][k]; });
  row("(TIME_EP2) T2=", 15, [&](int k) { return tcal[1][k]; });
  row("AcIFT_EP1=", 15, [&](int k) { return res.achieved[k][0]; });
  row("AcIFT_EP2=", 15, [&](int k) { return res.achieved[k][1]; });
  for (int s = 0; s < 2; ++s) {
    const AnalysisSet& S = res.sets[s];
    const std::string at = s == 0 ? "_at_T1" : "_at_T2";
    put(con, sep);
    row("Mu_EP1" + at, 15, [&](int k) { return S.m[k].mu[0]; });
    row("Mu_EP2" + at, 15, [&](int k) { return S.m[k].mu[1]; });
    row("Va_EP1" + at, 15, [&](int k) { return S.sig(k, k); });
    row("Va_EP2" + at, 15, [&](int k) { return S.sig(K + k, K + k); });
    row("Cov_EP12" + at, 15, [&](int k) { return S.sig(k, K + k); });
    row("V0_EP1" + at, 15, [&](int k) { return S.m[k].v0[0]; });
    row("V0_EP2" + at, 15, [&](int k) { return S.m[k].v0[1]; });
  }
  put(con, sep);
  row("Prop_Ns_at_T1", 9, [&](int k) { return res.sets[0].looks[k].l; });
  row("Prop_Ns_at_T2", 9, [&](int k) { return res.sets[1].looks[k].l; });
  put(con, sep);
  for (int s = 0; s < 2; ++s) {
    const AnalysisSet& S = res.sets[s];
    const std::string at = s == 0 ? " at T1" : " at T2";
    // Fractions of the information of the scores, which grows with the enrolled fraction too.
    auto lk = [&](int k) { return S.looks[k].l / S.looks[K - 1].l; };
    row("Infomation Time of logHR_EP1" + at, 34,
        [&](int k) { return lk(k) * S.sig(k, k) / S.sig(K - 1, K - 1); });
    row("Infomation Time of logHR_EP2" + at, 34,
        [&](int k) { return lk(k) * S.sig(K + k, K + k) / S.sig(2 * K - 1, 2 * K - 1); });
  }
  std::vector<int> idx(K);
  for (int k = 0; k < K; ++k) idx[k] = k + 1;
  for (int what = 0; what < 2; ++what) {  // correlations, then covariances
    for (int s = 0; s < 2; ++s) {
      const AnalysisSet& S = res.sets[s];
      const std::string label = std::string(what == 0 ? "Corr" : "Cov") + " on T" +
                                std::to_string(s + 1) + "-IFT [EP1=";
      put(con, Record().x(23).a("EP2=", 4).is(idx.data(), K, 8));
      for (int k = 0; k < K; ++k) {
        std::vector<double> v(static_cast<size_t>(K));
        for (int j = 0; j < K; ++j) v[j] = what == 0 ? S.corr12(k, j) : S.sig(k, K + j);
        put(con, Record().a(label, 20).i(k + 1, 2).a(",EP2]", 5).fs(v.data(), K, 8, 4));
      }
    }
  }
  for (int s = 0; s < 2; ++s) {
    std::ostream& u60 = reports.unit60();
    put(u60, Record().a("Cov on TIF", 15).i(s + 1, 4));
    const AnalysisSet& S = res.sets[s];
    matrix_rows(u60, K, [&](int i, int j) { return S.sig(i, j); }, 10, 8, 4);
  }
  put(con, sep);

  for (int s = 0; s < 2; ++s) write_information_rows(res.sets[s], *slots[s], reports.main());
  return out;
}

}  // namespace detail

InformationSet BVRLGRNK01(const InformationInput& in, numerics::UniformGenerator& gen,
                          Reports& reports) {
  return detail::calendar_information(in, gen, reports, detail::kGrid);
}

InformationSets BVRLGRNK02(const InformationInput& in, numerics::UniformGenerator& gen,
                           Reports& reports) {
  return detail::fraction_information(in, gen, reports, detail::kGrid);
}

InformationInput information_input(const TrialModel& model, const DeckValues& v) {
  return InformationInput{model, v.LOOK, v.TLOOK};
}

}  // namespace kestrel::survival
