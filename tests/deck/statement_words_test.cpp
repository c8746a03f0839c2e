// The words of the optional statements: one table, and the rules that hold for every word of
// it. A statement word written after the last value of a line (where the rest of the line is
// skipped as a comment) is refused, whatever the statement and its case.
#include <gtest/gtest.h>

#include "deck/deck.h"
#include "deck/statement_reader.h"

namespace kestrel::deck {
namespace {

// A calendar-time design of three analyses (its TLOOK line is line 7) with `spending` as ESF1,
// then `extra`, then a second design that states nothing.
std::string deck_with(int spending, const std::string& extra) {
  auto record = [](int esf1) {
    return "0 3 1 1 1 0\n2.0 1.25 0.5 2.0 1.25 0.4\n2.0 3.0 0.3 0.4 0.5 1\n0.025 0 0.8 1 3 3 " +
           std::to_string(esf1) + " 2\n1.0 2.0 5.0";
  };
  return "0 0 0 0\nT\n" + record(spending) + extra + "\n" + record(1) + "\n";
}

std::vector<std::string> messages(const std::string& text) {
  std::vector<std::string> out;
  for (const DeckProblem& p : check_deck(read_deck(text))) out.push_back(p.message("d"));
  return out;
}

std::string in_comment(int line, const std::string& word) {
  return "d:" + std::to_string(line) + ": design 1: " + word +
         ": written after the last value of the line, it would be read as a comment and the "
         "design would run without it; begin the " + word + " statement on a new line";
}

TEST(StatementWords, EveryWordAfterTheLastValueOfALineIsRefused) {
  const std::vector<std::string> statements = {"FUTILITY Z 0 0",     "HAZARDS EP1 1 0.2 0.7",
                                               "CONTROL MEDIAN 2 3", "MODEL EXACT",
                                               "DROPOUT HAZARD 0.1", "ACCRUAL 1 2.0 1"};
  // Where a line's rest is skipped: after the analysis times, after a phi value, after another
  // statement; `line` is the line the word is written on.
  struct Place {
    const char* what;
    int spending;
    std::string before;
    int line;
  };
  const std::vector<Place> places = {
      {"TLOOK line", 1, " ", 7},
      {"phi line", 4, "\n-4.0, ", 8},
      {"another statement's line", 1, "\nMODEL DEFAULT ", 8},
  };
  for (const std::string& s : statements) {
    const std::string word = s.substr(0, s.find(' '));
    std::string lower;
    for (char c : s) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Place& p : places) {
      for (const std::string& written : {s, lower}) {
        SCOPED_TRACE(std::string(p.what) + ": " + written);
        const std::vector<std::string> got = messages(deck_with(p.spending, p.before + written));
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0], in_comment(p.line, word));
      }
    }
    // On a line of its own the same statement is read.
    SCOPED_TRACE(s);
    EXPECT_TRUE(messages(deck_with(1, "\n" + s)).empty());
  }
  // Text after the last value that begins with another word is a comment.
  EXPECT_TRUE(messages(deck_with(1, "  futile hazard: none")).empty());
}

int shifts_read = 0;
bool read_shift(StatementReader& r, Statement& st, Design& g, int line) {
  double v = 0;
  bool ended = false;
  int at = line;
  r.value(st, g.number, "SHIFT value", v, false, ended, at);
  ++shifts_read;
  return !ended;
}

// The rule follows the table: a word added to it is read at the start of a line and refused
// after the last value of one, and a record cannot start with it.
TEST(StatementWords, AWordAddedToTheTableIsCoveredByTheRules) {
  EXPECT_TRUE(messages(deck_with(1, "  Shift 2")).empty());  // not yet a word: a comment
  {
    const ExtraStatementWord shift("SHIFT", read_shift);
    ASSERT_NE(find_statement("SHIFT"), nullptr);
    shifts_read = 0;
    EXPECT_TRUE(messages(deck_with(1, "\nshift 2")).empty());
    EXPECT_EQ(shifts_read, 1);
    EXPECT_EQ(messages(deck_with(1, "  Shift 2")), std::vector<std::string>{in_comment(7, "SHIFT")});
    EXPECT_EQ(messages(deck_with(1, "\nMODEL EXACT, SHIFT 2")),
              std::vector<std::string>{in_comment(8, "SHIFT")});
    const std::vector<std::string> first = messages("0 0 0 0\nT\nSHIFT 2\n");
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first[0].find("a SHIFT statement belongs right after a design record"),
              std::string::npos)
        << first[0];
  }
  EXPECT_EQ(find_statement("SHIFT"), nullptr);
  EXPECT_TRUE(messages(deck_with(1, "  Shift 2")).empty());
}

}  // namespace
}  // namespace kestrel::deck
