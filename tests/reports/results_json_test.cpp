// The results file: strict JSON that a reader of its own parses, every real reading back to the
// very same double, the record laid out as documented, and the files replaced whole.
#include "reports/results_json.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "reports/json_reader.h"
#include "reports/report_fixture.h"

namespace kestrel::reports {
namespace {

using testing::Json;
using testing::JsonReader;

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void expect_same_doubles(const std::vector<double>& want, const Json& got, const std::string& what) {
  ASSERT_EQ(got.kind, Json::Kind::array) << what;
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(bits(got[i].number()), bits(want[i])) << what << "[" << i << "] = " << got[i].text;
}

std::vector<double> first(const AnalysisArray& a, int K) { return {a.begin(), a.begin() + K}; }

TEST(JsonNumber, EveryDoubleReadsBackBitForBit) {
  std::vector<double> cases = {0.1, 0.2, 0.1 + 0.2, 1.0 / 3.0, 2.0 / 3.0, 0.025, 1e-300, 5e-324,
                               DBL_MIN, DBL_MAX, -DBL_MAX, 1.0, -1.0, 123456789012345678.0,
                               std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), 1e23, 9007199254740993.0,
                               -8.0, 3.2415155500846544, 0.30000001192092896, 0.0};
  std::mt19937_64 rng(20261207);
  for (int i = 0; i < 20000; ++i) {
    double v = std::bit_cast<double>(rng());
    if (std::isfinite(v)) cases.push_back(v);
  }
  for (double v : cases) {
    const std::string s = json_number(v);
    const Json j = JsonReader::parse(s);  // must be a valid JSON number
    ASSERT_EQ(j.kind, Json::Kind::number) << s;
    EXPECT_EQ(bits(j.number()), bits(v)) << s;
  }
}

TEST(JsonNumber, NegativeZeroKeepsItsSign) {
  const Json j = JsonReader::parse(json_number(-0.0));
  EXPECT_TRUE(std::signbit(j.number()));
}

TEST(JsonNumber, NotFiniteIsNull) {
  EXPECT_EQ(json_number(std::nan("")), "null");
  EXPECT_EQ(json_number(HUGE_VAL), "null");
  EXPECT_EQ(json_number(-HUGE_VAL), "null");
}

TEST(JsonString, EscapesQuotesBackslashesAndControls) {
  const std::string raw = std::string("a\"b\\c\n\t\x01\x1f\x7f/") + '\0' + "z";
  const Json j = JsonReader::parse(json_string(raw));
  EXPECT_EQ(j.str(), raw);
}

TEST(JsonString, KeepsUtf8AndMapsStrayBytesToTheirCodePoints) {
  // "été", a 4-byte emoji, then stray bytes 0x82 and 0xFF, and a truncated sequence.
  const std::string raw = "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80 \x82\xFF \xE2\x82";
  const Json j = JsonReader::parse(json_string(raw));
  EXPECT_EQ(j.str(), "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80 \xC2\x82\xC3\xBF \xC3\xA2\xC2\x82");
  // Overlong encodings and surrogates are not valid UTF-8 either.
  EXPECT_EQ(JsonReader::parse(json_string("\xC0\xAF")).str(), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(JsonReader::parse(json_string("\xED\xA0\x80")).str(), "\xC3\xAD\xC2\xA0\xC2\x80");
}

TEST(JsonWriter, NestsObjectsAndInlineArrays) {
  std::string out;
  JsonWriter w(out);
  w.begin_object();
  w.key("a").begin_array();
  w.begin_array(true).value(1).value(2.5).end_array();
  w.begin_object().end_object();
  w.begin_array().end_array();
  w.end_array();
  w.key("b").null();
  w.key("c").value(true);
  w.end_object();
  const Json j = JsonReader::parse(out);
  ASSERT_EQ(j["a"].size(), 3u);
  EXPECT_EQ(j["a"][0].numbers(), (std::vector<double>{1, 2.5}));
  EXPECT_EQ(j["a"][1].size(), 0u);
  EXPECT_TRUE(j["b"].is_null());
  EXPECT_TRUE(j["c"].b);
}

TEST(ResultsJson, RunHeaderAndDesignsInDeckOrder) {
  const RunRecord run = testing::sample_run();
  const Json j = JsonReader::parse(results_json(run));
  EXPECT_EQ(j["format"].str(), "kestrel-results");
  EXPECT_EQ(j["format_version"].number(), kResultsFormatVersion);
  EXPECT_EQ(j["version"].str(), "0.1.0");
  EXPECT_EQ(j["seed"].number(), 123457);
  EXPECT_EQ(j["status"].str(), "complete");
  EXPECT_TRUE(j["error"].is_null());
  EXPECT_EQ(j["header"]["TITLE"].str(), run.header.TITLE);
  EXPECT_EQ(j["header"]["XHD2"].number(), -2.5e-7);
  ASSERT_EQ(j["designs"].size(), 2u);
  EXPECT_EQ(j["designs"][0]["number"].number(), 1);
  EXPECT_EQ(j["designs"][1]["number"].number(), 2);
  EXPECT_EQ(j["designs"][1]["first_line"].number(), 5);
  EXPECT_TRUE(j["designs"][1]["complete"].b);
  // Sets in evaluation order, labelled as the summary file labels them.
  ASSERT_EQ(j["designs"][0]["sets"].size(), 2u);
  EXPECT_EQ(j["designs"][0]["sets"][0]["label"].str(), "EP1");
  EXPECT_EQ(j["designs"][0]["sets"][1]["label"].str(), "EP2");
  EXPECT_EQ(j["designs"][1]["sets"][0]["label"].str(), "CALND");
}

TEST(ResultsJson, DeckValuesAsReadAndAsStored) {
  const RunRecord run = testing::sample_run();
  const Json d = JsonReader::parse(results_json(run))["designs"][0];
  const DeckValues& r = run.designs[0].design.read;
  const DeckValues& s = run.designs[0].design.stored;
  EXPECT_EQ(bits(d["read"]["HR1"].number()), bits(r.HR1));
  EXPECT_EQ(bits(d["stored"]["HR1"].number()), bits(s.HR1));  // 1/0.75 = 1.3333...
  EXPECT_EQ(bits(d["stored"]["HR2TR"].number()), bits(1 / 0.8));
  EXPECT_EQ(d["read"]["NSIM"].number(), 1000);
  EXPECT_EQ(d["read"]["ESF2"].number(), 1);
  // Only the K analysis times of the record, not the leftovers of earlier records.
  expect_same_doubles(first(r.TLOOK, 3), d["read"]["TLOOK"], "TLOOK");
  // The 26 scalars plus TLOOK, in deck order.
  const char* names[] = {"NSIM", "ITIME", "CPL", "CPRSK", "CMPST", "MSSG", "HR1", "HR2", "RHO",
                         "HR1TR", "HR2TR", "RHOTR", "TA", "TF", "SRVR1", "SRVR2", "SR", "CNSRD",
                         "TYPE1", "RSV1", "POWER", "DF", "LOOK", "CRIVL", "ESF1", "ESF2", "TLOOK"};
  ASSERT_EQ(d["read"].members.size(), std::size(names));
  for (size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(d["read"].members[i].first, names[i]);
  EXPECT_EQ(bits(d["THETA"].number()), bits(run.designs[0].THETA));
  EXPECT_EQ(d["spending"].size(), 2u);
  EXPECT_EQ(d["spending"][0][1]["code_in_force"].number(), 1);
  EXPECT_TRUE(d["spending"][0][1]["phi"].is_null());
}

TEST(ResultsJson, EvaluatedSetNumbersReadBackExactly) {
  const RunRecord run = testing::sample_run();
  const Json j = JsonReader::parse(results_json(run));
  for (size_t di = 0; di < run.designs.size(); ++di) {
    for (size_t si = 0; si < run.designs[di].sets.size(); ++si) {
      const EvaluatedSet& set = run.designs[di].sets[si];
      const samplesize::Evaluation& e = set.evaluation;
      const Json& js = j["designs"][di]["sets"][si];
      const int K = set.information.K;
      const Json& info = js["information"];
      EXPECT_EQ(info["K"].number(), K);
      expect_same_doubles(first(set.information.TCAL, K), info["TCAL"], "TCAL");
      expect_same_doubles(first(set.information.FENR, K), info["FENR"], "FENR");
      expect_same_doubles(first(set.information.FINF2, K), info["FINF2"], "FINF2");
      expect_same_doubles(first(set.information.DRF1, K), info["DRF1"], "DRF1");
      expect_same_doubles(first(set.information.VAR01, K), info["VAR01"], "VAR01");
      expect_same_doubles(first(set.information.VAR12, K), info["VAR12"], "VAR12");
      ASSERT_EQ(info["CORR12"].size(), static_cast<size_t>(K));
      for (int i = 0; i < K; ++i)
        expect_same_doubles(first(set.information.CORR12[i], K), info["CORR12"][i], "CORR12");
      for (const char* ep : {"EP1", "EP2"}) {
        const boundaries::GsDesignResult& r = std::string(ep) == "EP1" ? e.ep1 : e.ep2;
        const Json& je = js["endpoints"][ep];
        expect_same_doubles(r.za, je["za"], "za");
        expect_same_doubles(r.zb, je["zb"], "zb");
        expect_same_doubles(r.pd, je["pd"], "pd");
        expect_same_doubles(r.nominal_upper, je["nominal_upper"], "nominal_upper");
        expect_same_doubles(r.qpos, je["qpos"], "qpos");
        EXPECT_EQ(bits(je["drift"].number()), bits(r.drift));
        EXPECT_EQ(je["events"].number(), r.events);
        EXPECT_EQ(je["subjects"].number(), r.subjects);
      }
      expect_same_doubles(e.ZB2, js["bounds_used"]["ZB2"], "ZB2");
      EXPECT_EQ(js["bracket"]["NL"].number(), e.NL);
      EXPECT_EQ(js["bracket"]["NU"].number(), e.NU);
      ASSERT_EQ(js["trace"].size(), e.trace.size());
      for (size_t t = 0; t < e.trace.size(); ++t) {
        EXPECT_EQ(js["trace"][t]["size"].number(), e.trace[t].size);
        EXPECT_EQ(bits(js["trace"][t]["power"].number()), bits(e.trace[t].power));
      }
      EXPECT_EQ(js["MSS"].number(), e.MSS);
      EXPECT_EQ(bits(js["APW"].number()), bits(e.APW));
      EXPECT_EQ(js["ME1"].number(), e.ME1);
      EXPECT_EQ(bits(js["AVE1"].number()), bits(e.AVE1));
      expect_same_doubles(e.QSTOP, js["QSTOP"], "QSTOP");
      ASSERT_EQ(js["QEP"]["EP2"].size(), e.QEP.size());
      for (size_t k = 0; k < e.QEP.size(); ++k)
        EXPECT_EQ(bits(js["QEP"]["EP2"][k].number()), bits(e.QEP[k][1]));
      if (e.simulation) {
        EXPECT_EQ(js["simulation"]["NSIM"].number(), run.designs[di].design.stored.NSIM);
        EXPECT_EQ(bits(js["simulation"]["PWCS"].number()), bits(e.simulation->PWC));
        EXPECT_EQ(bits(js["simulation"]["PW1S"].number()), bits(e.simulation->PW1));
        EXPECT_EQ(bits(js["simulation"]["R"]["joint"][1].number()), bits(e.simulation->R[1][2]));
      } else {
        EXPECT_TRUE(js["simulation"].is_null());
      }
    }
  }
  // Extremes and non-finite values.
  EXPECT_EQ(bits(j["designs"][1]["THETA"].number()), bits(5e-324));
  EXPECT_EQ(bits(j["designs"][1]["THETATR"].number()), bits(DBL_MAX));
  EXPECT_TRUE(j["designs"][1]["sets"][0]["ASN"].is_null());
  EXPECT_TRUE(j["designs"][1]["sets"][0]["AVE2"].is_null());
}

TEST(ResultsJson, StoppedRunCarriesTheErrorAndWhatFinished) {
  const RunRecord run = testing::stopped_run();
  const Json j = JsonReader::parse(results_json(run));
  EXPECT_EQ(j["status"].str(), "stopped");
  EXPECT_EQ(j["error"].str(), *run.error);  // control byte escaped and restored
  ASSERT_EQ(j["designs"].size(), 3u);
  EXPECT_TRUE(j["designs"][1]["complete"].b);
  EXPECT_FALSE(j["designs"][2]["complete"].b);
  EXPECT_EQ(j["designs"][2]["sets"].size(), 0u);
}

TEST(ResultsJson, SaysHowSearchAndDriftEnded) {
  RunRecord run = testing::sample_run();
  run.designs[1].sets[0].evaluation.end = samplesize::SearchEnd::alternating;
  run.designs[1].sets[0].evaluation.ep2.drift_converged = false;
  const Json j = JsonReader::parse(results_json(run));
  EXPECT_EQ(j["designs"][0]["sets"][0]["search_end"].str(), "settled");
  EXPECT_EQ(j["designs"][1]["sets"][0]["search_end"].str(), "alternating");
  EXPECT_TRUE(j["designs"][1]["sets"][0]["endpoints"]["EP1"]["drift_converged"].b);
  EXPECT_FALSE(j["designs"][1]["sets"][0]["endpoints"]["EP2"]["drift_converged"].b);
}

TEST(ResultsJson, RunWithoutDesignsOrSeed) {
  RunRecord run;
  run.version = "0.1.0";
  const Json j = JsonReader::parse(results_json(run));
  EXPECT_TRUE(j["seed"].is_null());
  EXPECT_EQ(j["designs"].size(), 0u);
}

class OutputFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("kestrel-results-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  static std::string slurp(const std::filesystem::path& p) {
    std::ifstream is(p, std::ios::binary);
    std::stringstream ss;
    ss << is.rdbuf();
    return ss.str();
  }
  std::filesystem::path dir_;
};

TEST_F(OutputFiles, WritesBothFilesAndReplacesOldOnes) {
  {
    std::ofstream(dir_ / "kestrel-results.json") << "old content that is longer than nothing";
    std::ofstream(dir_ / "kestrel-report.html") << "old";
  }
  const RunRecord run = testing::sample_run();
  EXPECT_EQ(write_run_outputs(run, dir_), "");
  EXPECT_EQ(slurp(dir_ / "kestrel-results.json"), results_json(run));
  const std::string html = slurp(dir_ / "kestrel-report.html");
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("</html>"), std::string::npos);
  // No temporary file is left behind.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 2);
}

TEST_F(OutputFiles, MissingDirectoryIsReportedNotThrown) {
  const std::string err = write_run_outputs(testing::sample_run(), dir_ / "no" / "such");
  EXPECT_NE(err.find("kestrel-results.json"), std::string::npos);
  EXPECT_NE(err.find("kestrel-report.html"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::reports
