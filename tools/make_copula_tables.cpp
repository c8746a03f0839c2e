// Writes src/survival/copula_start_tables.cpp: the 101-row start tables of the copula parameter
// searches (Clayton, positive stable, Frank).
//
// The rows 1-3, the telling rows at correlations 0.10, 0.20, 0.30, 0.50, 0.70, 0.90 and the
// rows 100-101 are the design's own start values. Every other row is solved once by the search
// itself (N = 1000; Frank uses its fixed 399), moving up the grid: the start of each row is
// extrapolated from the two rows below it, so the result does not depend on any guess.
//
// Build and run from the repository root, after building kestrel_survival in build-model:
//   g++ -std=c++20 -O2 -ffp-contract=off -Isrc tools/make_copula_tables.cpp \
//       build-model/libkestrel_survival.a build-model/libkestrel_numerics.a \
//       build-model/libkestrel_common.a -o build-model/make_copula_tables
//   ./build-model/make_copula_tables > src/survival/copula_start_tables.cpp
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "survival/copula_start.h"

using kestrel::survival::CopulaParameter;
using kestrel::survival::copula_start::kRows;
using kestrel::survival::copula_start::StartTable;

namespace {

struct Family {
  const char* name;     // C++ name of the table
  const char* comment;  // one-line description
  double first_rho;     // correlation of row 1
  std::map<int, std::string> given;  // 1-based row -> design start value, as written
  bool log_scale;       // extrapolate ln|θ| instead of θ
};

std::string rho_text(const Family& f, int k) {
  char buf[32];
  if (k == 1) std::snprintf(buf, sizeof buf, f.first_rho == 0.0 ? "0.00" : "%.3f", f.first_rho);
  else if (k == kRows) std::snprintf(buf, sizeof buf, "0.995");
  else std::snprintf(buf, sizeof buf, "0.%02d", k - 1);
  return buf;
}

CopulaParameter solve(int family, const StartTable& t, double rho) {
  namespace cs = kestrel::survival::copula_start;
  if (family == 1) return cs::clayton(t, 1000, rho);
  if (family == 2) return cs::positive_stable(t, 1000, rho);
  std::ostringstream trace;
  return cs::frank(t, rho, trace);
}

StartTable build(int family, const Family& f, std::vector<bool>& solved) {
  StartTable t{};
  for (int k = 1; k <= kRows; ++k) t.rho[k - 1] = std::strtod(rho_text(f, k).c_str(), nullptr);
  t.beyond = std::strtod(f.given.at(kRows).c_str(), nullptr);
  solved.assign(kRows + 1, false);
  for (const auto& [k, v] : f.given) t.theta[k - 1] = std::strtod(v.c_str(), nullptr);
  for (int k = 1; k <= kRows; ++k) {
    if (f.given.count(k)) continue;
    const double a = t.theta[k - 3], b = t.theta[k - 2];
    // Extrapolated start from the two rows below.
    t.theta[k - 1] = f.log_scale ? -std::exp(2 * std::log(-b) - std::log(-a)) : 2 * b - a;
    const CopulaParameter p = solve(family, t, t.rho[k - 1]);
    t.theta[k - 1] = p.theta;
    solved[k] = true;
    std::fprintf(stderr, "%s row %3d rho %s theta %.10g iterations %d\n", f.name, k,
                 rho_text(f, k).c_str(), p.theta, p.iterations);
  }
  return t;
}

void emit(const Family& f, const StartTable& t, const std::vector<bool>& solved) {
  std::printf("\n// %s\nconst StartTable %s = {\n    {", f.comment, f.name);
  for (int k = 1; k <= kRows; ++k)
    std::printf("%s%s", rho_text(f, k).c_str(), k < kRows ? (k % 10 == 0 ? ",\n     " : ", ") : "},\n");
  std::printf("    {\n");
  for (int k = 1; k <= kRows; ++k) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", t.theta[k - 1]);
    const std::string value = solved[k] ? std::string(buf) : f.given.at(k);
    std::printf("        %s,  // %3d %s%s\n", value.c_str(), k, rho_text(f, k).c_str(),
                solved[k] ? "" : " (design start value)");
  }
  std::printf("    },\n    %s};\n", f.given.at(kRows).c_str());
}

}  // namespace

int main() {
  std::vector<Family> families = {
      {"kClayton", "Clayton: θ grows above 0 with the correlation.", 0.0,
       {{1, "1e-08"}, {2, "0.010001"}, {3, "0.020008"}, {11, "0.10100046"}, {21, "0.20804783"},
        {31, "0.32765568"}, {51, "0.64150366"}, {71, "1.19632202"}, {91, "2.95590337"},
        {100, "12.00184031"}, {101, "17.656249507"}},
       false},
      {"kPositiveStable", "Positive stable: θ falls from 1 towards 0 with the correlation.", 0.001,
       {{1, "0.99900035"}, {2, "0.99003521"}, {3, "0.98013965"}, {11, "0.903266"}, {21, "0.81203443"},
        {31, "0.72493847"}, {51, "0.55819961"}, {71, "0.39183965"}, {91, "0.19912799"},
        {100, "0.05482376"}, {101, "0.03697808"}},
       false},
      {"kFrank", "Frank: θ falls below 0 with the correlation.", 0.001,
       {{1, "-1.2e-06"}, {2, "-0.079620983"}, {3, "-0.159310205"}, {11, "-0.795023539"},
        {21, "-1.609055594"}, {31, "-2.487731154"}, {51, "-4.728778736"}, {71, "-9.113985746"},
        {91, "-28.55248225"}, {100, "-284.4002601"}, {101, "-561.6042381"}},
       true},
  };
  std::printf(
      "// Start tables of the copula parameter searches: correlation grid and a start parameter per\n"
      "// row. Rows marked as design start values come with the design; the others were solved once\n"
      "// by the searches themselves (N = 1000, Frank 399). Generated by tools/make_copula_tables.cpp;\n"
      "// do not edit by hand.\n"
      "#include \"survival/copula_start.h\"\n\n"
      "namespace kestrel::survival::copula_start {\n");
  for (size_t i = 0; i < families.size(); ++i) {
    std::vector<bool> solved;
    const StartTable t = build(static_cast<int>(i) + 1, families[i], solved);
    emit(families[i], t, solved);
  }
  std::printf("\n}  // namespace kestrel::survival::copula_start\n");
  return 0;
}
