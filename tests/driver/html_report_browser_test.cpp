// The HTML report in a real browser: it loads from the file alone, lays out every table and plot,
// keeps plot texts inside their plots and apart from each other, and fits the window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "driver/browser_probe.h"
#include "driver/example_run.h"
#include "reports/html_report.h"
#include "reports/report_fixture.h"

namespace kestrel::driver {
namespace {

#define KESTREL_REQUIRE_CHROMIUM()                                                              \
  do {                                                                                          \
    if (!testing::browser_present()) {                                                          \
      if (testing::browser_required())                                                          \
        FAIL() << "KESTREL_REQUIRE_BROWSER=1 but " << testing::kChromium << " is missing";     \
      GTEST_SKIP() << testing::kChromium << " is not installed: browser test skipped";         \
    }                                                                                           \
  } while (0)

// Checks common to every rendered report: nothing fetched, plots laid out at their size with
// their texts inside and apart, no horizontal scrolling. Returns the number of SVG plots.
void expect_sound_layout(const reports::testing::Json& r) {
  EXPECT_EQ(r["resources"].number(), 0) << "the page requested other files";
  EXPECT_EQ(r["external"].number(), 0) << "the page refers to other files";
  EXPECT_EQ(r["cssUrls"].number(), 0) << "the style sheet refers to other files";
  EXPECT_LE(r["scrollWidth"].number(), r["innerWidth"].number()) << "the page scrolls sideways";
  for (const auto& t : r["tables"].items) {
    EXPECT_GT(t["w"].number(), 0) << t["id"].str();
    EXPECT_GT(t["h"].number(), 0) << t["id"].str();
  }
  for (const auto& s : r["svgs"].items) {
    EXPECT_NEAR(s["w"].number(), 520, 1) << s["cls"].str();
    EXPECT_NEAR(s["h"].number(), 300, 1) << s["cls"].str();
    EXPECT_EQ(s["outside"].number(), 0) << s["cls"].str() << ": text drawn outside the plot";
    EXPECT_EQ(s["overlaps"].number(), 0) << s["cls"].str() << ": texts overlap";
    EXPECT_GE(s["legend"].number(), 1) << s["cls"].str() << ": no legend";
  }
}

const reports::testing::Json* table(const reports::testing::Json& r, const std::string& id) {
  for (const auto& t : r["tables"].items)
    if (t["id"].str() == id) return &t;
  return nullptr;
}

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::browser_present()) work_ = testing::fresh_dir("kestrel-browser");
  }
  void TearDown() override {
    if (!work_.empty() && !::testing::Test::HasFailure()) std::filesystem::remove_all(work_);
  }
  std::filesystem::path work_;
};

TEST_F(BrowserTest, HandMadeRunRendersEveryTableAndPlot) {
  KESTREL_REQUIRE_CHROMIUM();
  const reports::RunRecord run = reports::testing::stopped_run();
  const std::filesystem::path page = work_ / "kestrel-report.html";
  std::ofstream(page, std::ios::binary) << reports::html_report(run);
  const testing::Probe p = testing::probe_page(page, work_);
  const reports::testing::Json& r = p.result;
  expect_sound_layout(r);
  EXPECT_NE(r["title"].str().find("Kestrel report"), std::string::npos);
  EXPECT_NE(r["error"].str().find("INVERSE NORMAL ARGUMENT"), std::string::npos);
  // Three evaluated sets: two boundary tables, a bounds plot and a success plot each.
  int bounds = 0, qstop = 0, bounds_tables = 0;
  for (const auto& s : r["svgs"].items) {
    if (s["cls"].str() == "bounds-plot") {
      ++bounds;
      EXPECT_GE(s["lines"].number(), 2);
    }
    if (s["cls"].str() == "qstop-plot") ++qstop;
  }
  for (const auto& t : r["tables"].items)
    if (t["cls"].str() == "bounds") ++bounds_tables;
  EXPECT_EQ(bounds, 3);
  EXPECT_EQ(qstop, 3);
  EXPECT_EQ(bounds_tables, 6);
  const reports::testing::Json* t = table(r, "d1-ep2-ep1");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->operator[]("rows").number(), 3);
  ASSERT_NE(table(r, "d2-calnd-stopping"), nullptr);
  EXPECT_EQ((*table(r, "d2-calnd-stopping"))["rows"].number(), 2);
  // The same page in a narrow window still shows everything, scrolled or not.
  const testing::Probe narrow = testing::probe_page(page, work_, 700);
  EXPECT_EQ(narrow.result["svgs"].size(), 6u);
  EXPECT_EQ(narrow.result["resources"].number(), 0);
}

TEST_F(BrowserTest, ScreenshotHasTheWindowSize) {
  KESTREL_REQUIRE_CHROMIUM();
  const std::filesystem::path page = work_ / "kestrel-report.html";
  std::ofstream(page, std::ios::binary) << reports::html_report(reports::testing::sample_run());
  const auto size = testing::screenshot(page, work_ / "shot.png", work_, 1200, 1600);
  ASSERT_TRUE(size.has_value()) << testing::read_file(work_ / "chromium-shot.log");
  EXPECT_EQ(size->first, 1200);
  EXPECT_EQ(size->second, 1600);
  // A rendered page of tables compresses far less than a blank one (a blank PNG of this size
  // is a few kilobytes).
  EXPECT_GT(std::filesystem::file_size(work_ / "shot.png"), 50000u);
}

TEST_F(BrowserTest, ExampleRunReportRendersInBrowser) {
  KESTREL_REQUIRE_CHROMIUM();
  const testing::ExampleRun run = testing::run_example("examples/calendar_times.txt");
  ASSERT_EQ(run.status, 0) << run.stderr_text;
  const reports::testing::Json results = reports::testing::JsonReader::parse(run.json);
  const testing::Probe p = testing::probe_page(run.dir / "a" / "kestrel-report.html", work_);
  const reports::testing::Json& r = p.result;
  expect_sound_layout(r);
  EXPECT_TRUE(r["error"].is_null());
  // Per evaluated set: two boundary tables of K rows, a bounds plot with a line per endpoint,
  // and K bars of the probability of success.
  size_t plot = 0;
  for (const auto& d : results["designs"].items) {
    for (const auto& s : d["sets"].items) {
      const int K = static_cast<int>(s["information"]["K"].number());
      const std::string id = "d" + std::to_string(static_cast<int>(d["number"].number())) + "-calnd";
      for (const char* ep : {"-ep1", "-ep2"}) {
        const reports::testing::Json* t = table(r, id + ep);
        ASSERT_NE(t, nullptr) << id + ep;
        EXPECT_EQ((*t)["rows"].number(), K);
        EXPECT_EQ((*t)["first"].str().substr(0, 1), "1");  // the row of analysis 1
      }
      ASSERT_LT(plot + 1, r["svgs"].size());
      const reports::testing::Json& bounds = r["svgs"][plot++];
      const reports::testing::Json& bars = r["svgs"][plot++];
      EXPECT_EQ(bounds["cls"].str(), "bounds-plot");
      EXPECT_GE(bounds["lines"].number(), 2);
      EXPECT_EQ(bars["cls"].str(), "qstop-plot");
      EXPECT_EQ(bars["bars"].number(), K);
    }
  }
  EXPECT_EQ(plot, r["svgs"].size());
  if (!::testing::Test::HasFailure()) std::filesystem::remove_all(run.dir);
}

}  // namespace
}  // namespace kestrel::driver
