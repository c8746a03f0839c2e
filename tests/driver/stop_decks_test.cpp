// Every deck under tests/decks/stop/ passes the deck checks and then stops in a calculation. Its
// first line names, after the four header values (text there is skipped), the start of the
// message the run must stop with. The run exits with 1, the message names the design and the
// cause, and the reports hold what was written up to the stop, in place, with no temporary file
// left beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/test_dirs.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

struct StopDeck {
  std::string name;
  std::string text;
  std::string message;
};

std::vector<StopDeck> stop_decks() {
  std::vector<StopDeck> out;
  for (const auto& e : fs::directory_iterator(fs::path(KESTREL_SOURCE_DIR) / "tests/decks/stop")) {
    if (e.path().extension() != ".txt") continue;
    StopDeck d;
    d.name = e.path().stem().string();
    d.text = slurp(e.path());
    std::smatch m;
    const std::string first = d.text.substr(0, d.text.find('\n'));
    static const std::regex re("expect: (.*)$");
    if (std::regex_search(first, m, re)) d.message = m[1];
    out.push_back(d);
  }
  return out;
}

// Names in `dir` that start with a dot: the temporary files of the reports.
std::vector<std::string> hidden_files(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string n = e.path().filename().string();
    if (!n.empty() && n[0] == '.') out.push_back(n);
  }
  return out;
}

TEST(StopDecks, EachStopsWithItsCauseAndKeepsWhatWasWritten) {
  const auto decks = stop_decks();
  ASSERT_GE(decks.size(), 3u);
  for (const auto& d : decks) {
    SCOPED_TRACE(d.name);
    ASSERT_FALSE(d.message.empty()) << "the deck lacks its expectation line";
    ScratchDir dir;
    spit(dir / "a/input.txt", d.text);
    spit(dir / "a/TEST_7b.OUT", "earlier summary\n");
    const ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
    EXPECT_EQ(r.status, 1);
    // The stop's message last; before it at most the notes of values written in full because
    // they did not fit their columns (phi = -710 of the spending deck).
    std::vector<std::string> lines;
    std::istringstream err(r.err);
    for (std::string l; std::getline(err, l);) lines.push_back(l);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind(d.message, 0), 0u) << r.err;
    for (size_t i = 0; i + 1 < lines.size(); ++i)
      EXPECT_NE(lines[i].find("does not fit its report column; it is written in full"),
                std::string::npos)
          << lines[i];
    // The main report up to the stop: the design's input summary at least.
    const std::string main = slurp(dir / "a/TEST_7a.OUT");
    EXPECT_EQ(main.rfind(" GROUP-SEQUENTIAL DESIGNS FOR TWO TIME-TO-EVENT OUTCOMES\n", 0), 0u);
    // A figure that is not a number never reaches the report: the stop's message says why.
    EXPECT_EQ(main.find("NaN"), std::string::npos) << main;
    // The summary file of this run replaced the earlier one: its header and no design line.
    const std::string summary = slurp(dir / "a/TEST_7b.OUT");
    EXPECT_EQ(summary.rfind("    ITM   CPL", 0), 0u);
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 1);
    EXPECT_TRUE(fs::is_regular_file(dir / "a/CORR_MAT_given_TIME.TXT"));
    const std::string results = slurp(dir / "a/kestrel-results.json");
    EXPECT_NE(results.find("\"stopped\""), std::string::npos);
    EXPECT_TRUE(hidden_files(dir / "a").empty());
    EXPECT_TRUE(hidden_files(dir.path()).empty());
  }
}

}  // namespace
}  // namespace kestrel::testing
