// The results file and the HTML report of real runs: the JSON read back agrees with the
// fixed-column summary file of the same run, the report's tables agree with the JSON to the
// digits they show, and the documented reports are byte for byte the same whether or not the
// run keeps its record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/reports.h"
#include "common/run_context.h"
#include "deck/deck.h"
#include "driver/example_run.h"
#include "reports/html_table.h"
#include "reports/json_reader.h"
#include "driver/run.h"
#include "mvn/mvndf.h"
#include "numerics/uniform_generator.h"

namespace kestrel::driver {
namespace {

using reports::testing::Json;
using reports::testing::JsonReader;

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

// A fixed-point field of width w with d decimals shows v: either the value rounded to d decimals,
// or asterisks when the value does not fit the field.
::testing::AssertionResult field_shows(const std::string& token, double v, int w, int d) {
  const std::string t = trim(token);
  if (!t.empty() && t.find_first_not_of('*') == std::string::npos) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", d, v);
    // Fixed-point editing always writes the decimal point, also with no decimals ("7462.").
    const int needed = static_cast<int>(std::string(buf).size()) + (d == 0 ? 1 : 0);
    if (needed > w) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "asterisks for " << v << ", which fits F" << w << "." << d;
  }
  char* end = nullptr;
  const double shown = std::strtod(t.c_str(), &end);
  if (end == t.c_str()) return ::testing::AssertionFailure() << "\"" << token << "\" is no number";
  if (std::fabs(shown - v) <= 0.5 * std::pow(10.0, -d) * (1 + 1e-9) + 1e-12)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << token << "\" does not show " << v;
}

::testing::AssertionResult int_shows(const std::string& token, double v) {
  if (trim(token) == std::to_string(static_cast<long long>(v))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << token << "\" is not " << v;
}

// Every line of the summary file against the evaluated set it belongs to, in order.
void expect_summary_matches_json(const std::string& summary, const Json& run) {
  std::vector<std::string> lines = split(summary, '\n');
  ASSERT_GE(lines.size(), 2u);
  ASSERT_TRUE(lines.back().empty());  // the file ends with a line end
  lines.pop_back();
  lines.erase(lines.begin());  // the column header
  struct Row {
    const Json* design;
    const Json* set;
  };
  std::vector<Row> rows;
  for (const Json& d : run["designs"].items)
    for (const Json& s : d["sets"].items) rows.push_back({&d, &s});
  ASSERT_EQ(lines.size(), rows.size());
  // The summary's simulation columns keep the last simulated values (zero before any).
  double PWCS = 0, PWDS = 0, PW1S = 0, PW2 = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("summary line " + std::to_string(i + 2) + ": " + lines[i]);
    const Json& v = (*rows[i].design)["stored"];
    const Json& s = *rows[i].set;
    const std::vector<std::string> f = split(lines[i], ',');
    ASSERT_EQ(f.size(), 37u);
    EXPECT_EQ(trim(f[0]), s["label"].str());
    EXPECT_TRUE(int_shows(f[1], v["CPL"].number()));
    EXPECT_TRUE(int_shows(f[2], v["CPRSK"].number()));
    EXPECT_TRUE(int_shows(f[3], v["CMPST"].number()));
    const bool ep2 = s["label"].str() == "EP2";
    EXPECT_TRUE(field_shows(f[4], v[ep2 ? "HR1TR" : "HR1"].number(), 5, 2));
    EXPECT_TRUE(field_shows(f[5], v[ep2 ? "HR2TR" : "HR2"].number(), 5, 2));
    EXPECT_TRUE(field_shows(f[6], v["SRVR1"].number(), 5, 2));
    EXPECT_TRUE(field_shows(f[7], v["SRVR2"].number(), 5, 2));
    EXPECT_TRUE(field_shows(f[8], v["RHO"].number(), 5, 2));
    EXPECT_TRUE(field_shows(f[9], v["RHOTR"].number(), 5, 2));
    EXPECT_TRUE(field_shows(f[10], v["TA"].number(), 5, 1));
    EXPECT_TRUE(field_shows(f[11], v["TF"].number(), 5, 1));
    EXPECT_TRUE(field_shows(f[12], v["SR"].number(), 5, 1));
    EXPECT_TRUE(int_shows(f[13], v["CNSRD"].number()));
    EXPECT_TRUE(field_shows(f[14], 100 * v["TYPE1"].number(), 5, 2));
    EXPECT_TRUE(field_shows(f[15], 100 * v["POWER"].number(), 5, 2));
    EXPECT_TRUE(int_shows(f[16], v["DF"].number()));
    EXPECT_TRUE(int_shows(f[17], v["LOOK"].number()));
    EXPECT_TRUE(int_shows(f[18], v["CRIVL"].number()));
    EXPECT_TRUE(int_shows(f[19], v["ESF1"].number()));
    EXPECT_TRUE(int_shows(f[20], v["ESF2"].number()));
    EXPECT_TRUE(int_shows(f[21], s["MSS"].number()));
    EXPECT_TRUE(field_shows(f[22], 100 * s["APW"].number(), 7, 4));
    EXPECT_TRUE(int_shows(f[23], s["ME1"].number()));
    EXPECT_TRUE(int_shows(f[24], s["ME2"].number()));
    EXPECT_TRUE(field_shows(f[25], s["AVE1"].number(), 5, 0));
    EXPECT_TRUE(field_shows(f[26], s["AVE2"].number(), 5, 0));
    if (!s["simulation"].is_null()) {
      const Json& sim = s["simulation"];
      EXPECT_EQ(sim["NSIM"].number(), v["NSIM"].number());
      PWCS = sim["PWCS"].number();
      PWDS = sim["PWDS"].number();
      PW1S = sim["PW1S"].number();
      PW2 = sim["PW2"].number();
    }
    EXPECT_TRUE(field_shows(f[27], 100 * PWCS, 7, 4));
    EXPECT_TRUE(field_shows(f[28], 100 * PWDS, 7, 4));
    EXPECT_TRUE(field_shows(f[29], 100 * PW1S, 7, 4));
    EXPECT_TRUE(field_shows(f[30], 100 * PW2, 7, 4));
  }
}

// The HTML report's boundary, results and overview tables against the JSON of the same run.
void expect_report_matches_json(const std::string& html, const Json& run) {
  using reports::testing::shows;
  using reports::testing::table_rows;
  const auto overview = table_rows(html, "overview");
  size_t row = 0;
  for (const Json& d : run["designs"].items) {
    for (const Json& s : d["sets"].items) {
      const std::string id = "d" + std::to_string(static_cast<int>(d["number"].number())) + "-" +
                             (s["label"].str() == "EP1" ? "ep1" : s["label"].str() == "EP2" ? "ep2" : "calnd");
      SCOPED_TRACE(id);
      const Json& info = s["information"];
      const int K = static_cast<int>(info["K"].number());
      for (const char* ep : {"EP1", "EP2"}) {
        const Json& e = s["endpoints"][ep];
        const bool one = std::string(ep) == "EP1";
        const Json& used = s["bounds_used"][one ? "ZB1" : "ZB2"];
        const Json& finf = info[one ? "FINF1" : "FINF2"];
        bool used_column = false;
        for (int k = 0; k < K; ++k) used_column |= used[k].number() != e["zb"][k].number();
        const auto rows = table_rows(html, id + "-" + (one ? "ep1" : "ep2"));
        ASSERT_EQ(rows.size(), static_cast<size_t>(K));
        for (int k = 0; k < K; ++k) {
          const auto& c = rows[k];
          ASSERT_EQ(c.size(), used_column ? 11u : 10u);
          EXPECT_TRUE(shows(c[1], info["TCAL"][k].number()));
          EXPECT_TRUE(shows(c[2], finf[k].number()));
          EXPECT_TRUE(shows(c[3], info["FENR"][k].number()));
          if (e["za"][k].number() <= -8) EXPECT_EQ(c[4], "--");
          else EXPECT_TRUE(shows(c[4], e["za"][k].number()));
          EXPECT_TRUE(shows(c[5], e["zb"][k].number()));
          size_t i = 6;
          if (used_column) EXPECT_TRUE(shows(c[i++], used[k].number()));
          EXPECT_TRUE(shows(c[i++], e["nominal_upper"][k].number()));
          EXPECT_TRUE(shows(c[i++], e["pd"][k].number()));
          EXPECT_TRUE(shows(c[i++], e["pe"][k].number()));
          EXPECT_TRUE(shows(c[i++], e["qpos"][k].number()));
        }
      }
      const auto results = table_rows(html, id + "-results");
      ASSERT_EQ(results.size(), 8u);
      EXPECT_EQ(results[1][2], std::to_string(static_cast<int>(s["MSS"].number())));
      EXPECT_TRUE(shows(results[2][2], s["APW"].number()));
      EXPECT_TRUE(shows(results[6][2], s["AVE1"].number()));
      const auto stop = table_rows(html, id + "-stopping");
      ASSERT_EQ(stop.size(), static_cast<size_t>(K));
      for (int k = 0; k < K; ++k) {
        EXPECT_TRUE(shows(stop[k][5], s["QSTOP"][k].number()));
        EXPECT_TRUE(shows(stop[k][7], s["QEP"]["EP1"][k].number()));
        EXPECT_TRUE(shows(stop[k][8], s["QEP"]["EP2"][k].number()));
      }
      ASSERT_LT(row, overview.size());
      EXPECT_EQ(overview[row][4], std::to_string(static_cast<int>(s["MSS"].number())));
      EXPECT_TRUE(shows(overview[row][5], s["APW"].number()));
      ++row;
    }
  }
  EXPECT_EQ(row, overview.size());
}

TEST(ExampleRun, CalendarDeckResultsAgreeWithSummaryFileAndReport) {
  const testing::ExampleRun r = testing::run_example("examples/calendar_times.txt");
  ASSERT_EQ(r.status, 0) << r.stderr_text;
  const Json run = JsonReader::parse(r.json);
  EXPECT_EQ(run["status"].str(), "complete");
  EXPECT_EQ(run["seed"].number(), 12345);
  EXPECT_EQ(run["version"].str(), KESTREL_VERSION);
  ASSERT_GE(run["designs"].size(), 1u);
  for (const Json& d : run["designs"].items) {
    EXPECT_TRUE(d["complete"].b);
    EXPECT_EQ(d["read"]["ITIME"].number(), 3);
    ASSERT_EQ(d["sets"].size(), 1u);
    EXPECT_EQ(d["sets"][0]["label"].str(), "CALND");
    // Calendar sets hold the deck's analysis times.
    EXPECT_EQ(d["sets"][0]["information"]["TCAL"].numbers(), d["stored"]["TLOOK"].numbers());
  }
  expect_summary_matches_json(r.summary, run);
  expect_report_matches_json(r.html, run);
  if (!::testing::Test::HasFailure()) std::filesystem::remove_all(r.dir);
}

TEST(ExampleRun, EpTwoTimedDeckResultsAgreeWithSummaryFileAndReport) {
  const testing::ExampleRun r = testing::run_example("examples/fractions_ep2_timed.txt");
  ASSERT_EQ(r.status, 0) << r.stderr_text;
  const Json run = JsonReader::parse(r.json);
  ASSERT_EQ(run["designs"].size(), 1u);
  const Json& d = run["designs"][0];
  ASSERT_EQ(d["sets"].size(), 1u);
  EXPECT_EQ(d["sets"][0]["label"].str(), "EP2");
  // The EP2-driven set reaches the deck's information fractions on EP2, to the nearest point of
  // the time grid of the search.
  const auto finf2 = d["sets"][0]["information"]["FINF2"].numbers();
  const auto tlook = d["stored"]["TLOOK"].numbers();
  ASSERT_EQ(finf2.size(), tlook.size());
  for (size_t k = 0; k < tlook.size(); ++k) EXPECT_NEAR(finf2[k], tlook[k], 5e-3);
  // Each endpoint's design used the spending code in force, with the deck's phi for codes 3, 4.
  for (int ep = 0; ep < 2; ++ep) {
    const Json& st = d["spending"][0][static_cast<size_t>(ep)];
    const Json& used = d["sets"][0]["endpoints"][ep == 0 ? "EP1" : "EP2"];
    EXPECT_EQ(used["code_used"].number(), st["code_in_force"].number());
    const int code = static_cast<int>(st["code_in_force"].number());
    if (code == 3 || code == 4) EXPECT_EQ(used["phi_used"].number(), st["phi"].number());
  }
  expect_summary_matches_json(r.summary, run);
  expect_report_matches_json(r.html, run);
  if (!::testing::Test::HasFailure()) std::filesystem::remove_all(r.dir);
}

// A design with simulation followed by one without: the summary file keeps the simulated
// columns of the first, the results file has the simulation of the first only.
TEST(ExampleRun, SimulatedDesignThenPlainDesign) {
  const testing::ExampleRun r = testing::run_example("tests/decks/report/simulated_then_not.txt", 4711);
  ASSERT_EQ(r.status, 0) << r.stderr_text;
  const Json run = JsonReader::parse(r.json);
  ASSERT_EQ(run["designs"].size(), 2u);
  const Json& sim = run["designs"][0]["sets"][0]["simulation"];
  ASSERT_FALSE(sim.is_null());
  EXPECT_EQ(sim["NSIM"].number(), 200);
  EXPECT_EQ(sim["R"]["EP1"].size(), 2u);
  // Proportions of 200 simulated trials are multiples of 1/200.
  for (const char* k : {"PWCS", "PWDS", "PW1S", "PW2"}) {
    const double x = sim[k].number() * 200;
    EXPECT_NEAR(x, std::round(x), 1e-9) << k;
  }
  EXPECT_TRUE(run["designs"][1]["sets"][0]["simulation"].is_null());
  expect_summary_matches_json(r.summary, run);
  expect_report_matches_json(r.html, run);
  const auto shown = reports::testing::table_rows(r.html, "d1-calnd-simulation");
  ASSERT_EQ(shown.size(), 7u);
  EXPECT_EQ(shown[0][2], "200");
  EXPECT_TRUE(reports::testing::shows(shown[1][2], sim["PWCS"].number()));
  EXPECT_TRUE(reports::testing::table_rows(r.html, "d2-calnd-simulation").empty());
  if (!::testing::Test::HasFailure()) std::filesystem::remove_all(r.dir);
}

// The run's record is only read from: every documented report is byte for byte the same when the
// run keeps no record.
TEST(ExampleRun, KeepingTheRecordLeavesTheReportsUnchanged) {
  const std::string text =
      testing::read_file(std::filesystem::path(KESTREL_SOURCE_DIR) / "examples" / "fractions_ep2_timed.txt");
  const deck::Deck deck = deck::read_deck(text);
  ASSERT_TRUE(deck::check_deck(deck).empty());
  auto run = [&](reports::RunRecord* record) {
    auto reports = std::make_unique<MemoryReports>();
    numerics::UniformGenerator generator([] { return std::int32_t{4321}; });
    mvn::MvnState mvn;
    RunContext ctx{reports->reports, generator, mvn};
    RunOptions options;
    options.seed = 777;
    options.record = record;
    run_deck(deck, ctx, options);
    return reports;
  };
  reports::RunRecord record;
  const auto with = run(&record);
  const auto without = run(nullptr);
  EXPECT_EQ(with->main.str(), without->main.str());
  EXPECT_EQ(with->summary.str(), without->summary.str());
  EXPECT_EQ(with->matrix.str(), without->matrix.str());
  EXPECT_EQ(with->console.str(), without->console.str());
  EXPECT_EQ(with->unit60.str(), without->unit60.str());
  ASSERT_EQ(record.designs.size(), 1u);
  EXPECT_TRUE(record.designs[0].complete);
  ASSERT_EQ(record.designs[0].sets.size(), 1u);
  EXPECT_EQ(record.designs[0].sets[0].label, "EP2");
}

// A terminal error in the second design: both files still appear, holding the finished first
// design, the design that was running and the message; the summary file has the first line only.
TEST(ExampleRun, TerminalErrorWritesWhatFinishedAndTheMessage) {
  const std::filesystem::path dir = testing::fresh_dir("kestrel-stopped");
  std::filesystem::create_directories(dir / "a");
  std::filesystem::copy_file(std::filesystem::path(KESTREL_SOURCE_DIR) / "examples" / "calendar_times.txt",
                             dir / "a" / "input.txt");
  Calculations calc;
  calc.copula = [](int, int, double rho, std::ostream&) { return survival::CopulaParameter{rho * 2, 0}; };
  calc.calendar = [](const survival::InformationInput& in, numerics::UniformGenerator&, Reports&) {
    InformationSet set;
    set.K = in.K;
    set.TCAL = in.TLOOK;
    for (int k = 0; k < set.K; ++k) set.FINF1[k] = set.FINF2[k] = (k + 1.0) / set.K;
    return set;
  };
  calc.evaluate = [](const Design& d, const InformationSet& set, const std::array<SpendingStatement, 2>&,
                     double, double, RunContext&) {
    if (d.number == 2) throw RunError(" Times must be strictly increasing and <=1.");
    samplesize::Evaluation e;
    e.MSS = 321;
    e.APW = 0.8125;
    e.QSTOP.assign(static_cast<size_t>(set.K), 0.25);
    return e;
  };
  std::ostringstream console, notes;
  RunOptions options;
  options.seed = 99;
  EXPECT_THROW(run_directory(dir, options, console, notes, calc), RunError);
  const Json run = JsonReader::parse(testing::read_file(dir / "a" / "kestrel-results.json"));
  EXPECT_EQ(run["status"].str(), "stopped");
  // The stop names the design and its set before the calculation's own message.
  EXPECT_EQ(run["error"].str(),
            "design 2, analyses at the given calendar times: Times must be strictly increasing "
            "and <=1.");
  EXPECT_EQ(run["seed"].number(), 99);
  ASSERT_EQ(run["designs"].size(), 2u);
  EXPECT_TRUE(run["designs"][0]["complete"].b);
  EXPECT_EQ(run["designs"][0]["sets"][0]["MSS"].number(), 321);
  EXPECT_EQ(run["designs"][0]["THETA"].number(), 0.6 * 2);  // RHO of the first design, doubled
  EXPECT_FALSE(run["designs"][1]["complete"].b);
  EXPECT_EQ(run["designs"][1]["sets"].size(), 0u);
  const std::string html = testing::read_file(dir / "a" / "kestrel-report.html");
  EXPECT_NE(html.find("id=\"run-error\""), std::string::npos);
  EXPECT_NE(html.find("Times must be strictly increasing"), std::string::npos);
  // The summary file: its header and the line of the finished design.
  const std::string summary = testing::read_file(dir / "a" / "TEST_7b.OUT");
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 2);
  EXPECT_EQ(notes.str(), "");
  if (!::testing::Test::HasFailure()) std::filesystem::remove_all(dir);
}

// Without --seed the results file names the seed the generator took from the clock at its first
// use (here the stand-in calculation draws, and keeps the seed it saw as MSS).
TEST(ExampleRun, ResultsFileNamesTheClockSeed) {
  const std::filesystem::path dir = testing::fresh_dir("kestrel-clock");
  std::filesystem::create_directories(dir / "a");
  std::filesystem::copy_file(std::filesystem::path(KESTREL_SOURCE_DIR) / "examples" / "calendar_times.txt",
                             dir / "a" / "input.txt");
  Calculations calc;
  calc.copula = [](int, int, double, std::ostream&) { return survival::CopulaParameter{1.0, 0}; };
  calc.calendar = [](const survival::InformationInput& in, numerics::UniformGenerator&, Reports&) {
    InformationSet set;
    set.K = in.K;
    set.TCAL = in.TLOOK;  // each analysis at its own time, as the run checks
    for (int k = 0; k < set.K; ++k) set.FINF1[k] = set.FINF2[k] = (k + 1.0) / set.K;  // increasing
    return set;
  };
  calc.evaluate = [](const Design&, const InformationSet&, const std::array<SpendingStatement, 2>&, double,
                     double, RunContext& ctx) {
    samplesize::Evaluation e;
    e.MSS = ctx.generator.GETSEED();
    ctx.generator.UNIRAND();  // moves the generator on: the seed named stays the first one
    return e;
  };
  std::ostringstream console, notes;
  run_directory(dir, RunOptions{}, console, notes, calc);
  const Json run = JsonReader::parse(testing::read_file(dir / "a" / "kestrel-results.json"));
  ASSERT_FALSE(run["seed"].is_null());
  const double first = run["designs"][0]["sets"][0]["MSS"].number();
  EXPECT_EQ(run["seed"].number(), first);
  EXPECT_GE(first, 1);
  EXPECT_LE(first, 235960);  // 10000 h + 100 m + s + 1 of a time of day
  std::filesystem::remove_all(dir);
}

// A deck rejected by its checks writes neither file (nor any report).
TEST(ExampleRun, RejectedDeckWritesNoResultsFile) {
  const std::filesystem::path dir = testing::fresh_dir("kestrel-rejected");
  std::filesystem::create_directories(dir / "a");
  std::ofstream(dir / "a" / "input.txt") << "0 0 0.0 0.0\n'bad'\n0 3 1 1 1 0 1.4 1.2 0.3 1.4 1.2 0.3 "
                                            "2 3 0.3 0.5 0.5 1 0.025 0 0.8 9 2 3 1 1 2.5 5.0\n";
  std::ostringstream console, notes;
  EXPECT_THROW(run_directory(dir, RunOptions{}, console, notes), DeckRejected);
  EXPECT_FALSE(std::filesystem::exists(dir / "a" / "kestrel-results.json"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a" / "kestrel-report.html"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kestrel::driver
