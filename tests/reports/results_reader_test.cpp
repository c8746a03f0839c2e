// Reading a results file back: what the writer wrote is read into the record it came from, so
// that writing it again gives the file byte for byte (the truth being the writer's own output),
// and text that is not such a file is refused with a message naming the place.
#include <gtest/gtest.h>

#include <cmath>

#include "reports/html_report.h"
#include "reports/report_fixture.h"
#include "reports/results_json.h"
#include "reports/results_reader.h"

namespace kestrel::reports {
namespace {

// The sample run with the figures a complete run cannot have (not numbers) made numbers: the
// reader takes null for a number only from a run that stopped.
RunRecord finite_run() {
  RunRecord run = testing::sample_run();
  run.designs[1].sets[0].evaluation.ASN = 1.5;
  run.designs[1].sets[0].evaluation.AVE2 = -2.5;
  return run;
}

TEST(ResultsReader, WritingWhatWasReadGivesTheSameFiles) {
  RunRecord odd = finite_run();
  // Run-level fields of a part of a deck, and title bytes that are not UTF-8 or are controls.
  odd.seed_given = 7;
  odd.deck_sha256 = std::string(64, 'f');
  odd.designs_in_deck = 12;
  odd.selection = "shard 2/3";
  odd.header.TITLE = "\x93quoted\x94 \x01\x7f tab\t \xE2\x82\xAC \xF0\x9F\x98\x80 \\ \"";
  odd.header.TITLE.resize(80, ' ');
  odd.designs[0].design.spending.push_back({});
  odd.designs[0].design.spending[0][0].deck_code = 7;
  odd.designs[0].design.spending[0][0].replacement_code = 4;
  odd.designs[0].design.spending[0][0].has_phi = true;
  odd.designs[0].design.spending[0][0].phi = -0.1;
  odd.designs[0].design.spending[0][1].deck_code = 5;
  odd.designs[0].design.spending[0][1].cumulative = {0.001, 1.0 / 3.0 * 0.075};
  // A run with every design under the nulls: the figures of each hypothesis.
  odd.under_nulls = true;
  for (const char* h : {"alternative", "global", "EP1 null"})
    odd.designs[0].sets[0].evaluation.nulls.push_back(
        {h, 0.8 / 3, 0.9 / 7, 612.5, 301.25, 1.0 / 3, 4.75, {1.0, 0.5, 0.25}, {0.1, 0.2, 0.3}, {0.4, 0.05, 0.0}});
  // Loss to follow-up as hazards with accrual pieces, and as probabilities of being lost by a
  // time without pieces: every key of the entry_loss object.
  RunRecord lost = odd;
  lost.designs[0].design.entry_loss.dropout = {0.05, 0.15};
  lost.designs[0].design.entry_loss.accrual_end = {0.5, 1.0, 2.0};
  lost.designs[0].design.entry_loss.accrual_intensity = {1, 2, 4};
  RunRecord lost_by = finite_run();
  lost_by.designs[0].design.entry_loss.dropout = {0.0512932943875505, 0.1053605156578263};
  lost_by.designs[0].design.entry_loss_statements.dropout_as_probability = true;
  lost_by.designs[0].design.entry_loss_statements.dropout_time = 2;
  lost_by.designs[0].design.entry_loss_statements.dropout_value = {0.0975, 0.19};
    // Piecewise hazards on both endpoints, EP2's from control survivals, and the average ratios.
  RunRecord pieces = finite_run();
  EntryAndLoss& el = pieces.designs[0].design.entry_loss;
  el.hazards[0] = {{0.25, 1.0}, {1.2, 0.7, 0.35}, {1.0, 0.65, 0.65}};
  el.hazards[1] = {{1.0}, {-std::log(0.8), std::log(2.0) / 2.0}, {1.0, 0.7}};
  pieces.designs[0].design.entry_loss_statements.survival_time[1] = {1.0, 3.0};
  pieces.designs[0].design.entry_loss_statements.survival_value[1] = {0.8, 0.4};
  pieces.designs[0].sets[0].information.AHR1 = 0.7504499110186116;
  pieces.designs[0].sets[0].information.AHR2 = 0.8;
    for (const RunRecord& run : {finite_run(), testing::stopped_run(), odd, lost, lost_by, pieces}) {
    const std::string text = results_json(run);
    const RunRecord back = read_results_json(text);
    EXPECT_EQ(results_json(back), text);
    EXPECT_EQ(html_report(back), html_report(run));
  }
}

// finite_run() with futility stops by hazard ratios and piecewise hazards on EP1 in its first
// design (K = 3): the values a merge must check against K and the pieces.
RunRecord run_with_stops() {
  RunRecord run = finite_run();
  Design& d = run.designs[0].design;
  d.futility.kind = FutilityRule::Kind::hazard_ratio;
  d.futility.values = {0.9, 0.95};
  d.entry_loss.hazards[0] = {{0.25}, {1.2, 0.7}, {1.0, 0.65}};
  samplesize::Evaluation& e = run.designs[0].sets[0].evaluation;
  e.ZF1 = e.ZF2 = {-0.5, 0.25, 2.0};
  e.REACH = {1.0, 0.75, 0.5};
  e.QFUT = {0.125, 0.0625, 0.25};
  for (auto* ep : {&e.ep1, &e.ep2}) ep->futility = ep->null_qpos = ep->null_qneg = e.QFUT;
  return run;
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(ResultsReader, RefusesWhatIsNotAResultsFile) {
  const std::string good = results_json(finite_run());
  const std::string stops = results_json(run_with_stops());
  auto replaced = [&](const std::string& from, const std::string& to, bool with_stops = false) {
    std::string s = with_stops ? stops : good;
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return s.replace(at, from.size(), to);
  };
  struct Case {
    std::string text;
    std::string words;  // what the message must say
  };
  const Case cases[] = {
      {"", "not valid JSON at byte 0"},
      {good.substr(0, good.size() / 2), "not valid JSON"},
      {good + "x", "text after the end"},
      {"[1, 2]", "not a kestrel results file"},
      {replaced("\"kestrel-results\"", "\"other\""), "not a kestrel results file"},
      {replaced("\"format_version\": 1", "\"format_version\": 2"), "format 2; this kestrel reads 1"},
      {replaced("\"MSS\"", "\"MSX\""), "key .designs[0].sets[0].MSS is missing"},
      {replaced("\"ITIME\": 1", "\"ITIME\": 1.5"), "key .designs[0].read.ITIME is not an integer"},
      {replaced("\"search_end\": \"settled\"", "\"search_end\": \"gone\""), "is not a way a search ends"},
      {replaced("\"complete\": true", "\"complete\": 1"), "is not true or false"},
      // Edited figures of a complete run, counts beyond what the file holds, keys it cannot carry.
      {results_json(testing::sample_run()), "AVE2 is null where a complete run writes a finite number"},
      {replaced("\"APW\": ", "\"APW\": null, \"x\": "), "APW is null where a complete run writes a finite number"},
      {replaced("\"MSSG\": ", "\"MSSG\": 1, \"y\": "), "key .designs[0].read.y is not one this kestrel reads"},
      {replaced("\"TA\": ", "\"TA\": 1e999, \"z\": "), "TA is 1e999, beyond the range of a double"},
      {replaced("\"K\": 3", "\"K\": 2147483647"), "K claims 2147483647 analyses; a set holds 0 to 10"},
      {replaced("\"K\": 3", "\"K\": 2"), "holds 3 values where K claims 2"},
      {replaced("\"LOOK\": 3", "\"LOOK\": 2"), "TLOOK holds 3 values where LOOK claims 2"},
      {replaced("\"status\": \"complete\"", "\"status\": \"done\""), "neither 'complete' nor 'stopped'"},
      {replaced("\"code_in_force\": ", "\"code_in_force\": 9, \"w\": "), "does not match the deck and replacement codes"},
      // Edited values a run never writes: a hazard ratio below 0, a probability outside [0, 1],
      // counts that do not match K or the pieces.
      {replaced("\"HR1\": 0.75", "\"HR1\": -0.75"), "read.HR1 is -0.75; a hazard ratio lies above 0"},
      {replaced("\"POWER\": 0.8", "\"POWER\": 2.0"), "read.POWER is 2.0; a probability lies in [0, 1]"},
      {replaced("\"APW\": ", "\"APW\": 1.5, \"x\": "), "sets[0].APW is 1.5; a probability lies in [0, 1]"},
      {replaced("\"pd\": [", "\"pd\": [-0.01, "), "pd holds 4 values where K claims 3"},
      {replaced("\"pd\": [", "\"pd\": [-0.01, 0.5, 0.5], \"v\": ["), "pd[0] is -0.01; a probability lies in [0, 1]"},
      {replaced("\"reach\": [1, 0.75", "\"reach\": [1, -0.5", true), "futility.reach[1] is -0.5; a probability"},
      {replaced("\"values\": [0.9, 0.95]", "\"values\": [" + repeated("0.9, ", 99999) + "0.9]", true),
       "futility.values holds 100000 values where LOOK, one value per interim analysis, claims 2"},
      {replaced("\"values\": [0.9, 0.95]", "\"values\": [0.9, -0.95]", true), "futility.values[1] is -0.95; a hazard ratio lies above 0"},
      {replaced("\"control_hazard\": [1.2, 0.7]", "\"control_hazard\": [1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1]", true),
       "control_hazard holds 11 pieces; a law has 1 to 10"},
      {replaced("\"ratio\": [1, 0.65]", "\"ratio\": [1, 0.65, 0.5]", true), "hazards[0].ratio holds 3 values where control_hazard claims 2"},
      {replaced("\"ratio\": [1, 0.65]", "\"ratio\": [1, -0.65]", true), "hazards[0].ratio[1] is -0.65; a hazard ratio lies above 0"},
  };
  for (const Case& c : cases) {
    try {
      read_results_json(c.text);
      ADD_FAILURE() << "accepted: " << c.words;
    } catch (const ResultsFileError& e) {
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace kestrel::reports
