#pragma once
// The machine-readable results file "a/kestrel-results.json": everything a run computed, per
// design in deck order (layout in docs/results-json.md). Each real is written as the shortest
// decimal (at most 17 significant digits) that reads back to the same double; NaN and
// infinities are written as null.
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "reports/run_record.h"

namespace kestrel::reports {

inline constexpr int kResultsFormatVersion = 1;

// A small streaming JSON writer: objects and arrays nest, keys are written in the order given.
// Arrays opened with `inline_items` keep their items on one line (vectors of numbers).
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array(bool inline_items = false);
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);

  JsonWriter& value(double v);
  JsonWriter& value(long long v);
  JsonWriter& value(int v) { return value(static_cast<long long>(v)); }
  JsonWriter& value(bool v);
  JsonWriter& value(std::string_view v);
  JsonWriter& value(const char* v) { return value(std::string_view(v)); }
  JsonWriter& null();
  JsonWriter& values(const double* v, int n);  // an inline array of n reals

 private:
  struct Level {
    bool array = false;
    bool inline_items = false;
    int count = 0;
  };
  void before_value();
  void newline_indent();
  std::string& out_;
  std::vector<Level> stack_;
  bool after_key_ = false;
};

// A real as JSON: the shortest decimal that reads back to the same double, "null" when not
// finite.
std::string json_number(double v);
// A quoted JSON string. Valid UTF-8 passes through; control characters are escaped, and a byte
// that is not part of valid UTF-8 is written as the code point of the same value (\u00XX).
std::string json_string(std::string_view text);

// How the sample-size search ended: "given_size", "settled", "flat", "alternating", "step_limit".
const char* search_end_name(samplesize::SearchEnd end);

std::string results_json(const RunRecord& run);
void write_results_json(std::ostream& os, const RunRecord& run);

// Writes "kestrel-results.json" and "kestrel-report.html" into `dir` (each first to a temporary
// file that then replaces the old one, so a reader never sees half a file). Returns an empty
// string on success, otherwise what failed; the fixed-column reports are never touched.
std::string write_run_outputs(const RunRecord& run, const std::filesystem::path& dir);

}  // namespace kestrel::reports
