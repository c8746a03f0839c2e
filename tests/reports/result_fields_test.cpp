// The results described once: every described field of every result structure, given a value of
// its own, is written to the results file and read back equal to itself; every key is documented.
// A field added to a description is then carried everywhere, or one of these tests fails.
#include "reports/result_fields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "reports/results_json.h"
#include "reports/results_reader.h"

namespace kestrel::reports {
namespace {

// Gives every described field a value that no other field has and that its check accepts;
// counts of analyses are 3.
class Filler {
 public:
  void scalar(const Field& f, int& x) { x = f.check == Check::analyses ? 3 : next_int(); }
  void scalar(const Field& f, double& x) { x = real(f); }
  void scalar(const Field&, bool& x) { x = !x; }
  void scalar(const Field&, std::string& x) { x = "text " + std::to_string(next_int()); }
  void scalar(const Field&, std::vector<int>& x) { x = {next_int()}; }
  template <class Array>
  void analyses(const Field& f, Array& a, Count K) {
    if constexpr (requires { a.resize(0); }) a.resize(static_cast<size_t>(K.n));
    for (int i = 0; i < K.n; ++i) a[static_cast<size_t>(i)] = real(f);
  }
  void values(const Field& f, std::vector<double>& v, Count K) { analyses(f, v, K); }
  template <class Rows>
  void matrix(const Field& f, Rows& rows, Count K) {
    for (int i = 0; i < K.n; ++i) analyses(f, rows[static_cast<size_t>(i)], K);
  }
  template <class T, class Describe>
  void object(const Field&, T& x, Describe describe) {
    describe(*this, x);
  }
  template <class E, size_t N>
  void kind(const Field&, E& e, const char* const (&)[N]) {
    e = static_cast<E>(N - 1);
  }
  bool optional(const char*, bool) { return true; }

 private:
  int next_int() { return ++n_; }
  double real(const Field& f) {
    const double u = ++n_ / 1000.0 + 1.0 / 3e6;  // awkward for decimal round trips
    if (f.check == Check::probability) return u;
    if (f.check == Check::positive) return 1 + u;
    return n_ % 2 ? -100 * u : 100 * u;
  }
  int n_ = 0;
};

// Lists every described field as "key = value" in the order of the description.
class Lister {
 public:
  std::vector<std::string> lines;
  std::set<std::string> keys;

  void scalar(const Field&, const std::vector<int>&) {}  // not in the results file
  template <class T>
  void scalar(const Field& f, const T& x) {
    std::ostringstream s;
    s.precision(17);
    s << x;
    add(f, s.str());
  }
  template <class Array>
  void analyses(const Field& f, const Array& a, Count K) {
    std::ostringstream s;
    s.precision(17);
    for (int i = 0; i < K.n; ++i) s << a[static_cast<size_t>(i)] << ' ';
    add(f, s.str());
  }
  void values(const Field& f, const std::vector<double>& v, Count K) { analyses(f, v, K); }
  template <class Rows>
  void matrix(const Field& f, const Rows& rows, Count K) {
    for (int i = 0; i < K.n; ++i) analyses(f, rows[static_cast<size_t>(i)], K);
  }
  template <class T, class Describe>
  void object(const Field& f, const T& x, Describe describe) {
    add(f, "{");
    describe(*this, x);
  }
  template <class E, size_t N>
  void kind(const Field& f, E e, const char* const (&names)[N]) {
    add(f, names[static_cast<size_t>(e)]);
  }
  bool optional(const char*, bool present) { return present; }

 private:
  void add(const Field& f, const std::string& v) {
    if (!f.key) return;  // not in the results file
    keys.insert(f.key);
    lines.push_back(std::string(f.key) + " = " + v);
  }
};

// A run of one design with one set in which every described field has a value of its own (the
// undescribed parts of the record keep the shape a run gives them).
RunRecord filled_run() {
  Filler fill;
  RunRecord run;
  run.version = "0.1.0";
  describe(fill, run.header);
  DesignRecord d;
  d.complete = true;
  describe(fill, d.design.read);
  describe(fill, d.design.stored);
  describe(fill, d.design.futility, d.design.read.LOOK);
  EvaluatedSet set;
  set.label = "EP1";
  describe(fill, set.information);
  const Count K{set.information.K, "K"};
  samplesize::Evaluation& e = set.evaluation;
  describe(fill, e.ep1, K);
  describe(fill, e.ep2, K);
  describe_bounds_used(fill, e, K);
  describe_figures(fill, e, K);
  describe_futility(fill, e, K);
  e.trace.resize(2);
  for (auto& step : e.trace) describe(fill, step);
  e.nulls.resize(2);
  for (auto& f : e.nulls) describe(fill, f, K);
  e.QEP.assign(3, {0.25, 0.5});
  e.simulation.emplace();
  describe(fill, *e.simulation);
  e.simulation->R.assign(3, {0.125, 0.25, 0.0625});
  d.sets.push_back(set);
  run.designs.push_back(d);
  return run;
}

// Every described structure of a record, listed.
Lister listed(const RunRecord& run) {
  Lister l;
  describe(l, run.header);
  for (const DesignRecord& d : run.designs) {
    describe(l, d.design.read);
    describe(l, d.design.stored);
    if (d.design.futility.any()) describe(l, d.design.futility, d.design.read.LOOK);
    for (const EvaluatedSet& s : d.sets) {
      const Count K{s.information.K, "K"};
      const samplesize::Evaluation& e = s.evaluation;
      describe(l, s.information);
      describe(l, e.ep1, K);
      describe(l, e.ep2, K);
      describe_bounds_used(l, e, K);
      describe_figures(l, e, K);
      describe_futility(l, e, K);
      for (const auto& step : e.trace) describe(l, step);
      for (const auto& f : e.nulls) describe(l, f, K);
      if (e.simulation) describe(l, *e.simulation);
    }
  }
  return l;
}

TEST(ResultFields, EveryDescribedFieldReadsBackEqualToItself) {
  const RunRecord run = filled_run();
  const Lister want = listed(run);
  // Every real was given a value of its own: a field read into another's place shows.
  std::set<std::string> reals;
  for (const std::string& line : want.lines) {
    const std::string value = line.substr(line.find(" = "));
    if (value.find('.') != std::string::npos) {
      EXPECT_TRUE(reals.insert(value).second) << line;
    }
  }
  const std::string text = results_json(run);
  const RunRecord back = read_results_json(text);
  EXPECT_EQ(listed(back).lines, want.lines);
  EXPECT_EQ(results_json(back), text);
  EXPECT_GT(want.keys.size(), 100u);
}

TEST(ResultFields, EveryKeyIsDocumented) {
  std::ifstream in(std::string(KESTREL_SOURCE_DIR) + "/docs/results-json.md");
  std::stringstream doc;
  doc << in.rdbuf();
  for (const std::string& key : listed(filled_run()).keys)
    EXPECT_TRUE(doc.str().find("`" + key + "`") != std::string::npos ||
                doc.str().find("\"" + key + "\"") != std::string::npos)
        << key << " is not in docs/results-json.md";
}

}  // namespace
}  // namespace kestrel::reports
