// Every deck under tests/decks/bad/ holds one fault. Its first line names, after the four header
// values (text there is skipped), the deck line and the field the rejection must point at.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include <regex>
#include <sstream>
#include <vector>

#include "common/test_dirs.h"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

struct BadDeck {
  std::string name;
  std::string text;
  int line = 0;
  std::string field;
};

std::vector<BadDeck> bad_decks() {
  std::vector<BadDeck> out;
  for (const auto& e : fs::directory_iterator(fs::path(KESTREL_SOURCE_DIR) / "tests/decks/bad")) {
    if (e.path().extension() != ".txt") continue;
    BadDeck d;
    d.name = e.path().stem().string();
    d.text = slurp(e.path());
    std::smatch m;
    std::string first = d.text.substr(0, d.text.find('\n'));
    static const std::regex re("expect: line=([0-9]+) field=(.*)$");
    if (std::regex_search(first, m, re)) {
      d.line = std::stoi(m[1]);
      d.field = m[2];
    }
    out.push_back(d);
  }
  return out;
}

TEST(BadDecks, AtLeastFifteenKindsAreKept) {
  auto decks = bad_decks();
  EXPECT_GE(decks.size(), 15u);
  for (const auto& d : decks) EXPECT_GT(d.line, 0) << d.name << " lacks its expectation line";
}

TEST(BadDecks, EachIsRejectedWithLineAndFieldAndLeavesEarlierReportsUntouched) {
  for (const auto& d : bad_decks()) {
    SCOPED_TRACE(d.name);
    ScratchDir dir;
    spit(dir / "a/input.txt", d.text);
    // Reports of an earlier run.
    const std::string earlier_main = "earlier main report\n";
    const std::string earlier_summary = "earlier summary\n";
    const std::string earlier_matrix = "earlier matrices\n";
    spit(dir / "a/TEST_7a.OUT", earlier_main);
    spit(dir / "a/TEST_7b.OUT", earlier_summary);
    spit(dir / "a/CORR_MAT_given_TIME.TXT", earlier_matrix);

    ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("a/input.txt:" + std::to_string(d.line) + ":"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(d.field), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "a/TEST_7a.OUT"), earlier_main);
    EXPECT_EQ(slurp(dir / "a/TEST_7b.OUT"), earlier_summary);
    EXPECT_EQ(slurp(dir / "a/CORR_MAT_given_TIME.TXT"), earlier_matrix);
    EXPECT_FALSE(fs::exists(dir / "fort.60"));
    EXPECT_EQ(r.out, "");  // no calculation started
  }
}

TEST(BadDecks, TwelveProblemsOfFourDesignsAreEachReportedOnce) {
  // Design 1: a hazard ratio whose reciprocal overflows, an unreadable accrual time (the
  // calendar times are then not compared with TA + TF), a level lost next to 1, an unreadable
  // phi. Design 2: an unreadable ITIME (one or two phi statements?) besides two range problems.
  // Design 3: the simulation ratio, a power below the level, times out of order. Design 4: a long
  // value with terminal controls, a last cumulative alpha other than TYPE1.
  ScratchDir dir;
  spit(dir / "a/input.txt",
       slurp(fs::path(KESTREL_SOURCE_DIR) / "tests/decks/bad/twelve_problems.txt"));
  ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
  EXPECT_EQ(r.status, 2);
  const std::vector<std::string> expected = {
      "a/input.txt:4: design 1: HR1 = 1e-310: a hazard ratio (control over treatment) must lie in "
      "[0.001, 1000]",
      "a/input.txt:5: design 1: TA = 2.0a: cannot be read as a real number",
      "a/input.txt:6: design 1: TYPE1 = 1e-17: the one-sided significance level must lie in [1e-6, "
      "0.5]",
      "a/input.txt:8: design 1: phi of EP2 (ESF2) = 0.5x: cannot be read as a real number",
      "a/input.txt:9: design 2: ITIME = one: cannot be read as an integer; the rest of this design "
      "(its analysis times and spending statements) could not be checked; design 3 is taken to "
      "start at line 16",
      "a/input.txt:9: design 2: CPL = 4: must be 1 (Clayton), 2 (positive stable) or 3 (Frank)",
      "a/input.txt:11: design 2: SRVR1 = 1.2: a control-arm survival probability must lie strictly "
      "between 0 and 1",
      "a/input.txt:17: design 3: HR2TR = 5000: a hazard ratio (control over treatment) must lie in "
      "[0.001, 1000]",
      "a/input.txt:19: design 3: POWER = 0.3: the targeted power must exceed the significance level "
      "TYPE1 = 0.4",
      "a/input.txt:20: design 3: TLOOK(3) = 2.0: calendar analysis times must be strictly "
      "increasing (TLOOK(2) = 3)",
      "a/input.txt:22: design 4: RHO = 0.5\\x1b[31m" + std::string(32, '9') +
          "...: cannot be read as a real number",
      "a/input.txt:26: design 4: cumulative alpha(3) of EP1 (ESF1) = 0.02: the last cumulative "
      "alpha value must equal TYPE1 = 0.025",
      "kestrel: the deck was rejected; no report was written",
  };
  std::vector<std::string> lines;
  std::istringstream err(r.err);
  for (std::string line; std::getline(err, line);) lines.push_back(line);
  EXPECT_EQ(lines, expected);
}

TEST(BadDecks, HarmfulHazardRatioMessageShowsTheReciprocal) {
  ScratchDir dir;
  spit(dir / "a/input.txt",
       slurp(fs::path(KESTREL_SOURCE_DIR) / "tests/decks/bad/harmful_hazard_ratio_search.txt"));
  ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("HR2 = 0.7"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("control over treatment"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1.428571429"), std::string::npos) << r.err;
}

TEST(CommandLine, DeckThatIsNotAReadableFileIsNamedWithTheSystemsReason) {
  struct Case {
    const char* what;
    std::function<void(const ScratchDir&)> make;
    std::string message;  // the first line of standard error
  };
  const std::vector<Case> cases = {
      {"missing", [](const ScratchDir&) {},
       std::string("a/input.txt: the input deck is missing: ") + std::strerror(ENOENT)},
      {"a directory", [](const ScratchDir& d) { fs::create_directories(d / "a/input.txt"); },
       std::string("a/input.txt: the input deck is a directory, not a file: ") +
           std::strerror(EISDIR)},
      {"empty", [](const ScratchDir& d) { spit(d / "a/input.txt", ""); },
       "a/input.txt: the input deck is empty: it must hold two header statements (four values NHD1, "
       "NHD2, XHD1, XHD2, then the title), then the design records"},
      {"blank lines only", [](const ScratchDir& d) { spit(d / "a/input.txt", "\n  \n\t\n"); },
       "a/input.txt: the input deck holds only blank lines: it must hold two header statements (four "
       "values NHD1, NHD2, XHD1, XHD2, then the title), then the design records"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    c.make(dir);
    ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.message) << r.err;
    // The problem and the verdict.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_FALSE(fs::exists(dir / "a/TEST_7a.OUT"));
    EXPECT_EQ(r.out, "");
  }
  // A deck the user may not read (not testable as root, who reads every file).
  if (geteuid() != 0) {
    ScratchDir dir;
    spit(dir / "a/input.txt", "0 0 0 0\nT\n");
    fs::permissions(dir / "a/input.txt", fs::perms::none);
    ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              std::string("a/input.txt: the input deck cannot be read: ") + std::strerror(EACCES));
    fs::permissions(dir / "a/input.txt", fs::perms::owner_all);
  }
}

TEST(CommandLine, BadOptionsExitWithTwo) {
  ScratchDir dir;
  EXPECT_EQ(run_kestrel(dir, "--frobnicate").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--seed 0").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--seed 2147483647").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--seed 12x").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy 0").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy 1e-3").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy 1e-11").status, 2);
  EXPECT_EQ(run_kestrel(dir, "--mvn-accuracy=nan").status, 2);
  const ProgramRun bad = run_kestrel(dir, "--mvn-accuracy 1e-6x");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--mvn-accuracy takes a number from 1e-10 to 1e-4, not '1e-6x'"), std::string::npos);
  EXPECT_EQ(run_kestrel(dir, "-C").status, 2);
  EXPECT_EQ(run_kestrel(dir, "-C '" + (dir / "no-such-dir").string() + "'").status, 2);
  // Each with its key words: a repeated option is refused; -C at a file is not "no such directory".
  spit(dir / "plain", "x\n");
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"--seed 5 --seed 6", "option --seed given twice"},
      {"--seed=5 --seed 6", "option --seed given twice"},
      {"--mvn-accuracy 1e-6 --mvn-accuracy=1e-7", "option --mvn-accuracy given twice"},
      {"-C . -C .", "option -C given twice"},
      {"-C '" + (dir / "plain").string() + "'", "-C: not a directory: "},
      {"-C '" + (dir / "no-such-dir").string() + "'", "-C: no such directory: "},
  };
  for (const auto& [args, words] : refused) {
    const ProgramRun r = run_kestrel(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find(words), std::string::npos) << args << ": " << r.err;
  }
}

TEST(CommandLine, HelpAndVersion) {
  ScratchDir dir;
  ProgramRun h = run_kestrel(dir, "--help");
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("--seed"), std::string::npos);
  EXPECT_NE(h.out.find("--mvn-accuracy EPS"), std::string::npos);
  EXPECT_NE(h.out.find("-C DIR"), std::string::npos);
  ProgramRun v = run_kestrel(dir, "--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, std::string("kestrel ") + KESTREL_VERSION + "\n");
}

TEST(CommandLine, BoundsSubcommandIsHandedItsOptions) {
  ScratchDir dir;
  ProgramRun help = run_kestrel(dir, "bounds --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--alpha"), std::string::npos);
  ProgramRun bad = run_kestrel(dir, "bounds --alpha 2");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--alpha"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "a/TEST_7a.OUT"));
}

// A deck without a complete design has nothing to calculate: it is refused and the reports of an
// earlier run, fort.60 included, stay as they were.
TEST(CommandLine, DeckWithoutADesignIsRefusedAndEarlierReportsStay) {
  struct Case {
    const char* deck;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"0 0 0 0\n'no designs'\n",
       "a/input.txt: the input deck holds no design record after its two header statements: "
       "nothing to calculate"},
      {"0 0 0 0\n'cut short'\n0 3 1 1 1 0\n1.4286 1.4286\n",
       "a/input.txt:3: design 1: the deck ends inside this record, so it holds no complete "
       "design to calculate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deck);
    ScratchDir dir;
    spit(dir / "a/input.txt", c.deck);
    spit(dir / "a/TEST_7a.OUT", "earlier main\n");
    spit(dir / "a/TEST_7b.OUT", "earlier summary\n");
    spit(dir / "fort.60", "left from before\n");
    ProgramRun r = run_kestrel(dir, "-C '" + dir.path().string() + "'");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.message) << r.err;
    EXPECT_EQ(slurp(dir / "a/TEST_7a.OUT"), "earlier main\n");
    EXPECT_EQ(slurp(dir / "a/TEST_7b.OUT"), "earlier summary\n");
    EXPECT_EQ(slurp(dir / "fort.60"), "left from before\n");
    EXPECT_EQ(r.out, "");
  }
}

// Under a file-size limit the process is not killed: the write that goes past the limit fails,
// the run stops naming the report and the reason, the earlier report stays and no temporary file
// is left.
TEST(CommandLine, WriteBeyondAFileSizeLimitStopsWithItsReasonAndLeavesNoTemporaryFile) {
  ScratchDir dir;
  spit(dir / "a/input.txt",
       "0 0 0 0\n'small'\n0 3 1 1 1 300\n1.4286 1.4286 0 1.4286 1.4286 0\n"
       "2.0 3.0 0.3 0.3 0.5 1\n0.025 0 0.8 1 1 3 1 1\n5.0\n");
  spit(dir / "a/TEST_7a.OUT", "earlier main report\n");
  // Two blocks of 512 bytes: the input summary of the main report alone is longer.
  const std::string cmd = "ulimit -f 2; '" + std::string(KESTREL_BINARY) + "' -C '" +
                          dir.path().string() + "' > /dev/null 2> '" +
                          (dir / "stderr.txt").string() + "'";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc)) << "killed by signal " << (WIFSIGNALED(rc) ? WTERMSIG(rc) : 0);
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  const std::string err = slurp(dir / "stderr.txt");
  EXPECT_NE(err.find(std::string("cannot write the report file a/TEST_7a.OUT: ") +
                     std::strerror(EFBIG)),
            std::string::npos)
      << err;
  EXPECT_EQ(slurp(dir / "a/TEST_7a.OUT"), "earlier main report\n");
  for (const fs::path& d : {dir.path(), dir / "a"}) {
    for (const auto& e : fs::directory_iterator(d))
      EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
}

}  // namespace
}  // namespace kestrel::testing
