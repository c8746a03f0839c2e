// Runs of parts of a deck and their merge. The truth is the program's own run of the whole deck:
// the merged files must equal it byte for byte. The twelve-design deck with GNU parallel is
// tests/driver/scale_out_test.sh; here a three-design deck keeps the cases fast.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>
#include <sstream>

#include "common/test_dirs.h"
#include "driver/design_selection.h"
#include "driver/merge.h"
#include "numerics/uniform_generator.h"

namespace kestrel::driver {
namespace {

namespace fs = std::filesystem;
using kestrel::testing::ProgramRun;
using kestrel::testing::ScratchDir;
using kestrel::testing::slurp;
using kestrel::testing::spit;

TEST(DesignSelection, ListsAndShardsChooseTheirDesigns) {
  struct Case {
    const char* option;  // "designs" or "shard"
    const char* text;
    std::set<int> chosen;  // of designs 1..12; empty: refused
    const char* words;     // what the refusal says
  };
  const Case cases[] = {
      {"designs", "2,5-7", {2, 5, 6, 7}, ""},
      {"designs", "12", {12}, ""},
      {"designs", "3-3,1", {1, 3}, ""},
      {"shard", "1/3", {1, 4, 7, 10}, ""},
      {"shard", "3/3", {3, 6, 9, 12}, ""},
      {"shard", "1/1", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, ""},
      {"shard", "5/20", {5}, ""},
      {"designs", "7-5", {}, "'7-5' is not one"},
      {"designs", "0", {}, "numbers from 1"},
      {"designs", "2,,3", {}, "an empty item"},
      {"designs", "", {}, "an empty item"},
      {"designs", "1-", {}, "'1-' is not one"},
      {"designs", " 2", {}, "such as 2,5-7"},
      {"designs", "9999999999", {}, "is not one"},
      {"shard", "0/3", {}, "1 <= I <= N"},
      {"shard", "4/3", {}, "not '4/3'"},
      {"shard", "1", {}, "I/N"},
      {"shard", "1/0", {}, "I/N"},
      {"shard", "a/b", {}, "I/N"},
      {"designs", "1-2147483647", {}, "numbers from 1 to 999999999"},
      {"shard", "1/1000000000", {}, "1 <= I <= N <= 999999999"},
  };
  for (const Case& c : cases) {
    std::string problem;
    const bool list = std::string(c.option) == "designs";
    const auto sel = list ? DesignSelection::designs(c.text, problem) : DesignSelection::shard(c.text, problem);
    SCOPED_TRACE(std::string(c.option) + " " + c.text);
    if (c.chosen.empty()) {
      EXPECT_FALSE(sel);
      EXPECT_NE(problem.find(c.words), std::string::npos) << problem;
      EXPECT_NE(problem.find(std::string("--") + c.option), std::string::npos) << problem;
      continue;
    }
    ASSERT_TRUE(sel) << problem;
    std::set<int> got;
    for (int n = 1; n <= 12; ++n)
      if (sel->selects(n)) got.insert(n);
    EXPECT_EQ(got, c.chosen);
    EXPECT_EQ(sel->text(), std::string(list ? "designs " : "shard ") + c.text);
    EXPECT_EQ(sel->check_against(12), "");
  }
  std::string problem;
  EXPECT_NE(DesignSelection::designs("2,13-14", problem)->check_against(12).find("no design 13"),
            std::string::npos);
  EXPECT_TRUE(DesignSelection().whole_deck());
}

// Design n starts (n - 1) x 1327217884 draws after the seed; the documented spacing of the
// starting points over the period 2^31 - 2 holds.
TEST(DesignSelection, DesignSeedsFollowTheDocumentedRule) {
  for (std::int32_t S : {1, 7, 2147483646}) {
    EXPECT_EQ(design_seed(S, 1), S);
    std::int32_t x = S;
    for (int n = 2; n <= 40; ++n) {
      x = numerics::skip_ahead_950706376(x, kDesignSeedJump);
      EXPECT_EQ(design_seed(S, n), x) << n;
    }
  }
  const std::uint64_t period = 2147483646u;
  for (const auto& [designs, gap] : {std::pair<int, std::uint64_t>{50, 28000000u}, {100, 10700000u}}) {
    std::vector<std::uint64_t> at;
    for (int n = 1; n <= designs; ++n) at.push_back((n - 1) * kDesignSeedJump % period);
    std::sort(at.begin(), at.end());
    std::uint64_t smallest = at.front() + period - at.back();
    for (size_t i = 1; i < at.size(); ++i) smallest = std::min(smallest, at[i] - at[i - 1]);
    EXPECT_GE(smallest, gap) << designs;
  }
}

// Three small designs: the first simulates, the second and third do not and so carry its
// simulated powers in the summary table; the third takes its values from the second by a slash.
// The first has loss to follow-up; the second accrual pieces, loss stated as probabilities, its
// control arm and its model, so that the merge must carry them as the whole run's inputs do.
const char* kDeck =
    "0 0 0 0\n'three parts'\n"
    "20 3 3 1 1 200 1.4286 1.4286 0.5 1.4286 1.4286 0.5 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 2 2 "
    "3 1 1 2.5 5.0\n"
    "DROPOUT HAZARD 0.05 0.15\n"
    "0 3 3 2 1 220 1.4286 1.4286 0.5 1.4286 1.4286 0.5 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 4 2 "
    "3 1 1 2.0 5.0\n"
    "ACCRUAL 3 0.5 1.0 2.0 1 2 4\n"
    "DROPOUT PROBABILITY 2 0.1 /\n"
    "CONTROL SURVIVAL 2 0.5 0.6\nMODEL EXACT\n"
    "0 3 3 3 1 240 /\n";

struct Runs {
  ScratchDir root;
  std::string options = "--seed 11 --mvn-accuracy 1e-5";
  fs::path dir(const std::string& name) const { return root / name; }
  ProgramRun run(const std::string& name, const std::string& args, const char* deck = kDeck) {
    spit(dir(name) / "a/input.txt", deck);
    return kestrel::testing::run_kestrel(root, "-C '" + dir(name).string() + "' " + args);
  }
};

TEST(ScaleOut, MergedPartsEqualTheWholeRun) {
  // Also with every design under the nulls: the merge carries those figures.
  for (const std::string extra : {"", " --under-nulls"}) {
    SCOPED_TRACE(extra);
    Runs r;
    ASSERT_EQ(r.run("whole", r.options + extra).status, 0);
    // A design list and a shard together take every design once, design 1 apart from the designs
    // that carry its simulated powers.
    ASSERT_EQ(r.run("p1", r.options + extra + " --designs 2-3").status, 0);
    ASSERT_EQ(r.run("p2", r.options + extra + " --shard 1/3").status, 0);
    std::ostringstream err;
    fs::create_directories(r.dir("merged"));
    ASSERT_EQ(merge_command({r.dir("p1").string(), r.dir("p2").string()}, r.dir("merged"), err), 0)
        << err.str();
    for (const char* f : {"a/kestrel-results.json", "a/kestrel-report.html", "a/TEST_7b.OUT"})
      EXPECT_EQ(slurp(r.dir("merged") / f), slurp(r.dir("whole") / f)) << f;
    EXPECT_EQ(slurp(r.dir("merged") / "a/kestrel-results.json").find("\"nulls\"") != std::string::npos,
              !extra.empty());
    // The part's own summary table carries only what the part ran: nothing simulated there.
    const std::string part = slurp(r.dir("p1") / "a/TEST_7b.OUT");
    EXPECT_NE(part.find(" 0.0000, 0.0000, 0.0000, 0.0000 ,"), std::string::npos) << part;
    EXPECT_NE(slurp(r.dir("p1") / "a/TEST_7a.OUT").find(" DESIGNS OF THIS RUN (designs 2-3 of 3): 2 3\n"),
              std::string::npos);
  }
}

TEST(ScaleOut, BadPartsAndShardSetsAreRefusedAndNothingIsWritten) {
  Runs r;
  ASSERT_EQ(r.run("s1", r.options + " --shard 1/2").status, 0);
  ASSERT_EQ(r.run("s2", r.options + " --shard 2/2").status, 0);
  ASSERT_EQ(r.run("d2", r.options + " --designs 2").status, 0);
  ASSERT_EQ(r.run("seed12", "--seed 12 --mvn-accuracy 1e-5 --shard 2/2").status, 0);
  ASSERT_EQ(r.run("coarse", "--seed 11 --mvn-accuracy 1e-4 --designs 2").status, 0);
  ASSERT_EQ(r.run("nulls", r.options + " --under-nulls --shard 2/2").status, 0);
  std::string other = kDeck;
  other.replace(other.find("three parts"), 11, "another deck");
  ASSERT_EQ(r.run("other", r.options + " --shard 2/2", other.c_str()).status, 0);
  // Another version, and a run stopped by an error, written into copies of a part.
  auto edited = [&](const std::string& from, const std::string& name, const std::string& what,
                    const std::string& with) {
    fs::create_directories(r.dir(name) / "a");
    std::string json = slurp(r.dir(from) / "a/kestrel-results.json");
    json.replace(json.find(what), what.size(), with);
    spit(r.dir(name) / "a/kestrel-results.json", json);
  };
  edited("s2", "v2", "\"version\": \"0.1.0\"", "\"version\": \"0.2.0\"");
  edited("s2", "stopped", "\"error\": null", "\"error\": \"design 2: stopped\"");
  edited("s2", "broken", "\"designs\"", "\"designs");
  fs::create_directories(r.dir("empty"));
  // Hostile files: a FIFO in the results file's place (opening it for reading would wait for a
  // writer for ever), a deck claimed to hold 2^31 - 1 designs, figures that are not numbers.
  fs::create_directories(r.dir("fifo") / "a");
  ASSERT_EQ(::mkfifo((r.dir("fifo") / "a/kestrel-results.json").c_str(), 0600), 0);
  edited("s1", "huge1", "\"designs_in_deck\": 3", "\"designs_in_deck\": 2147483647");
  edited("s2", "huge2", "\"designs_in_deck\": 3", "\"designs_in_deck\": 2147483647");
  edited("s2", "null", "\"APW\": ", "\"APW\": null, \"x\": ");
  edited("s2", "inf", "\"APW\": ", "\"APW\": 1e999, \"x\": ");
  // Edited values a run never writes (the reader's table has the counts and the pieces).
  edited("s2", "negative", "\"HR1\": 1.4286", "\"HR1\": -1.4286");
  edited("s2", "two", "\"POWER\": 0.8", "\"POWER\": 2.0");

  struct Case {
    std::vector<std::string> dirs;
    std::string words;
  };
  const Case cases[] = {
      {{"s1"}, "design 2 of the deck's 3 is missing"},
      {{"d2"}, "designs 1, 3 of the deck's 3 are missing"},
      {{"s1", "s2", "d2"}, "design 2 is in two shards"},
      {{"s1", "s1"}, "in two shards"},
      {{"s1", "other"}, "are runs of different decks"},
      {{"s1", "v2"}, "different versions of kestrel (0.1.0 and 0.2.0)"},
      {{"s1", "seed12"}, "different options (--seed 11 and --seed 12)"},
      {{"d2", "coarse"}, "--mvn-accuracy 1e-05 and 0.0001"},
      {{"s1", "nulls"}, "different options (no --under-nulls and --under-nulls)"},
      {{"s1", "stopped"}, "the run stopped (design 2: stopped)"},
      {{"s1", "broken"}, "not valid JSON"},
      {{"s1", "empty"}, "no results file"},
      {{"s1", "fifo"}, "kestrel-results.json is not a regular file (a FIFO"},
      {{"huge1", "huge2"}, "designs 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, ... (2147483644 in all) of the deck's 2147483647 are missing"},
      {{"s1", "null"}, "key .designs[0].sets[0].APW is null where a complete run writes a finite number"},
      {{"s1", "inf"}, "key .designs[0].sets[0].APW is 1e999, beyond the range of a double"},
      {{"s1", "negative"}, "read.HR1 is -1.4286; a hazard ratio lies above 0"},
      {{"s1", "two"}, "read.POWER is 2.0; a probability lies in [0, 1]"},
      {{"s1", "--force"}, "unknown option '--force'"},
      {{}, "name the directories"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args;
    for (const std::string& d : c.dirs) args.push_back(d[0] == '-' ? d : r.dir(d).string());
    ScratchDir out;
    fs::remove_all(out / "a");
    std::ostringstream err;
    EXPECT_EQ(merge_command(args, out.path(), err), 2) << c.words;
    EXPECT_NE(err.str().find(c.words), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(out / "a")) << c.words;
  }
}

// Options choosing designs the deck does not have, or chosen twice: exit status 2, the reason,
// and no report written.
TEST(ScaleOut, BadSelectionsOfTheProgramWriteNothing) {
  struct Case {
    std::string args;
    std::string words;
  };
  const Case cases[] = {
      {"--designs 4", "the deck has 3 designs, numbered 1 to 3, so there is no design 4"},
      {"--designs 2-9", "no design 4"},
      {"--shard 4/3", "--shard takes I/N"},
      {"--designs 1 --shard 1/2", "give one of them, once"},
      {"--designs", "--designs needs a value"},
  };
  for (const Case& c : cases) {
    Runs r;
    const ProgramRun run = r.run("x", c.args);
    EXPECT_EQ(run.status, 2) << c.args;
    EXPECT_NE(run.err.find(c.words), std::string::npos) << run.err;
    EXPECT_EQ(fs::directory_iterator(r.dir("x") / "a")->path().filename(), "input.txt") << c.args;
    EXPECT_FALSE(fs::exists(r.dir("x") / "a/TEST_7b.OUT"));
  }
}

}  // namespace
}  // namespace kestrel::driver
