#pragma once
// The report streams of a run. The driver opens the files; lower layers only write lines.
//   main     unit 6   "a/TEST_7a.OUT"
//   summary  unit 7   "a/TEST_7b.OUT"
//   matrix   unit 103 "a/CORR_MAT_given_TIME.TXT"
//   unit60   "fort.60", created at its first write
//   console  standard output
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

namespace kestrel {

class Reports {
 public:
  Reports(std::ostream& main, std::ostream& summary, std::ostream& matrix, std::ostream& console,
          std::function<std::ostream&()> unit60)
      : main_(&main), summary_(&summary), matrix_(&matrix), console_(&console),
        unit60_(std::move(unit60)) {}

  std::ostream& main() { return *main_; }
  std::ostream& summary() { return *summary_; }
  std::ostream& matrix() { return *matrix_; }
  std::ostream& console() { return *console_; }
  std::ostream& unit60() { return unit60_(); }

  // Writes one record (the line and its end) to a stream.
  static void line(std::ostream& os, const std::string& text) { os << text << '\n'; }

 private:
  std::ostream* main_;
  std::ostream* summary_;
  std::ostream* matrix_;
  std::ostream* console_;
  std::function<std::ostream&()> unit60_;
};

// Reports held in memory, for tests.
struct MemoryReports {
  std::ostringstream main, summary, matrix, console, unit60;
  Reports reports{main, summary, matrix, console, [this]() -> std::ostream& { return unit60; }};
};

}  // namespace kestrel
