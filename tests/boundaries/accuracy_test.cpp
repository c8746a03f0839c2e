// How close the boundary design comes to exact values: for every spending family, K = 1 to 5
// (equally and unequally spaced), one- and two-sided, the bounds, the alpha the bounds really
// spend and the power of the printed design are compared with an independent recursion on
// Gauss-Legendre nodes (exact_recursion.h). The tolerances asserted here are the ones
// docs/bounds.md states, with a little margin; the test prints what it measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "boundaries/exact_recursion.h"
#include "boundaries/gsdesign.h"
#include "boundaries/reference_normal.h"

namespace kestrel::boundaries {
namespace {

// What docs/bounds.md states (section "How the figures are computed").
constexpr double kBoundTolerance = 1.2e-4;  // |z - exact z|
constexpr double kAlphaTolerance = 2e-4;    // relative error of the alpha spent at the end
constexpr double kPowerTolerance = 1e-4;    // |printed power - exact power of the design|

struct Family {
  int code;
  double phi;
  const char* name;
};

const Family kFamilies[] = {{1, 0, "O'Brien-Fleming type"}, {2, 0, "Pocock type"},
                            {3, 1, "power phi 1"},          {3, 3, "power phi 3"},
                            {4, -4, "HSD phi -4"},          {4, 1, "HSD phi 1"},
                            {6, 0, "alternative OBF"}};

std::vector<std::vector<double>> time_sets() {
  std::vector<std::vector<double>> out;
  for (int K = 1; K <= 5; ++K) {
    std::vector<double> t(K);
    for (int i = 0; i < K; ++i) t[i] = (i + 1.0) / K;
    out.push_back(t);
  }
  out.push_back({0.3, 1.0});
  out.push_back({0.25, 0.6, 1.0});
  out.push_back({0.2, 0.45, 0.7, 1.0});
  out.push_back({0.1, 0.3, 0.5, 0.8, 1.0});
  return out;
}

// Cumulative alpha of both sides together, from the closed forms with the exact normal law.
double cumulative_alpha(const Family& f, double alpha, double side, double t) {
  const double a = alpha / side;
  switch (f.code) {
    case 1:
      return side * 2 * exact::upper_tail(reference::quantile(1 - a / 2) / std::sqrt(t));
    case 2: return side * a * std::log(1 + (std::numbers::e - 1) * t);
    case 3: return side * a * std::pow(t, f.phi);
    case 4: return side * a * (1 - std::exp(-f.phi * t)) / (1 - std::exp(-f.phi));
    default:  // 6: alpha not divided by side, no factor 2
      return side * exact::upper_tail(reference::quantile(1 - alpha / 2) / std::sqrt(t));
  }
}

struct Worst {
  double value = 0;
  std::string where;
  void see(double v, const std::string& w) {
    if (v > value) {
      value = v;
      where = w;
    }
  }
};

TEST(BoundaryAccuracy, BoundsAlphaAndPowerAgainstExactRecursion) {
  Worst bound, alpha_rel, power;
  double final_low_min = 1, final_low_max = 0;  // how far below exact the final bounds lie
  int designs = 0, over_5e5 = 0;
  for (const Family& f : kFamilies) {
    for (const auto& t : time_sets()) {
      for (double side : {1.0, 2.0}) {
        const int K = static_cast<int>(t.size());
        const double alpha = side == 1.0 ? 0.025 : 0.05;
        std::ostringstream id;
        id << f.name << (side == 1.0 ? ", one-sided" : ", two-sided") << ", t =";
        for (double x : t) id << ' ' << x;

        GsDesignInput in;
        in.K = K;
        in.t = t;
        in.alpha = alpha;
        in.sides = static_cast<int>(side);
        in.spending.deck_code = f.code;
        in.spending.has_phi = f.code == 3 || f.code == 4;
        in.spending.phi = f.phi;
        in.power = 0.9;
        in.hr = 0.7;
        BoundaryWork work;
        std::ostringstream messages;
        const GsDesignResult r = GSDESIGN01(in, work, messages);
        ASSERT_EQ(messages.str(), "") << id.str();
        ++designs;

        // Bounds against the exact bounds of the exact spending.
        std::vector<double> pe(K), pd(K);
        for (int i = 0; i < K; ++i) {
          pe[i] = cumulative_alpha(f, alpha, side, t[i]);
          pd[i] = pe[i] - (i ? pe[i - 1] : 0.0);
        }
        const std::vector<double> zb = exact::bounds(t, pd, side);
        double worst_here = 0;
        for (int i = 0; i < K; ++i) worst_here = std::max(worst_here, std::fabs(r.zb[i] - zb[i]));
        bound.see(worst_here, id.str());
        if (worst_here > 5e-5) ++over_5e5;
        if (K >= 2) {
          const double low = zb[K - 1] - r.zb[K - 1];
          final_low_min = std::min(final_low_min, low);
          final_low_max = std::max(final_low_max, low);
        }

        // The alpha the printed bounds really spend, both sides.
        const exact::Crossings null = exact::crossings(t, r.za, r.zb, 0.0);
        double spent = 0;
        for (int i = 0; i < K; ++i) spent += null.qpos[i] + (side == 2.0 ? null.qneg[i] : 0.0);
        alpha_rel.see(std::fabs(spent - pe[K - 1]) / pe[K - 1], id.str());

        // The printed power against the exact power of the printed bounds and drift.
        const exact::Crossings alt = exact::crossings(t, r.za, r.zb, r.drift);
        double printed = 0, truth = 0;
        for (int i = 0; i < K; ++i) {
          printed += r.qpos[i];
          truth += alt.qpos[i];
        }
        power.see(std::fabs(printed - truth), id.str());

        // The exact figures are converged: halving the panels changes nothing that matters.
        if (K == 5 && side == 1.0) {
          const std::vector<double> fine = exact::bounds(t, pd, side, 0.5);
          for (int i = 0; i < K; ++i) EXPECT_NEAR(fine[i], zb[i], 1e-11) << id.str();
          const exact::Crossings alt_fine = exact::crossings(t, r.za, r.zb, r.drift, 0.5);
          for (int i = 0; i < K; ++i) EXPECT_NEAR(alt_fine.qpos[i], alt.qpos[i], 1e-13) << id.str();
        }
      }
    }
  }
  std::printf("%d designs; bounds: worst %.2e (%s), %d designs beyond 5e-5\n", designs,
              bound.value, bound.where.c_str(), over_5e5);
  std::printf("final bounds of K >= 2 below exact by %.2e to %.2e\n", final_low_min,
              final_low_max);
  std::printf("alpha spent by the printed bounds: worst relative error %.2e (%s)\n",
              alpha_rel.value, alpha_rel.where.c_str());
  std::printf("printed power against the exact power: worst %.2e (%s)\n", power.value,
              power.where.c_str());
  EXPECT_LT(bound.value, kBoundTolerance) << bound.where;
  EXPECT_LT(alpha_rel.value, kAlphaTolerance) << alpha_rel.where;
  EXPECT_LT(power.value, kPowerTolerance) << power.where;
}

}  // namespace
}  // namespace kestrel::boundaries
