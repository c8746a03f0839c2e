// The words of the optional statements: one table, and the rules that hold for every word of
// it. A statement word written after the last value of a line (where the rest of the line is
// skipped as a comment) is refused, whatever the statement and its case.
#include <gtest/gtest.h>

#include <algorithm>

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

// A statement short of values on its lines does not take the start of what follows: the line
// that holds more values than it still needs starts the next design, which is read as written.
TEST(StatementWords, AStatementShortOfValuesLeavesTheNextDesignWhole) {
  struct Case {
    std::string statement;
    std::string needed;  // the values still needed, as the message names them
  };
  const std::vector<Case> cases = {
      {"CONTROL MEDIAN 2", "1 value still needed (CONTROL median of EP2)"},
      {"futility z 0", "1 value still needed (FUTILITY Z(2))"},
      {"FUTILITY SPENDING 5 0.001", "2 values still needed (FUTILITY SPENDING cumulative beta(2) onwards)"},
      {"HAZARDS EP1 2 1.0\n 0.2 0.1", "2 values still needed (HAZARDS EP1 ratio(1) onwards)"},
      {"ACCRUAL 2 1.0 2.0 1", "1 value still needed (ACCRUAL intensity(2))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    const std::string text = deck_with(1, "\n" + c.statement);
    const Deck d = read_deck(text);
    std::vector<std::string> got;
    for (const DeckProblem& p : check_deck(d)) got.push_back(p.message("d"));
    const int last = 8 + static_cast<int>(std::count(c.statement.begin(), c.statement.end(), '\n'));
    ASSERT_EQ(got.size(), 1u) << got[0];
    EXPECT_EQ(got[0], "d:8: design 1: " + upper(c.statement.substr(0, c.statement.find(' '))) +
                          ": the statement's values end on line " + std::to_string(last) +
                          " with " + c.needed + "; line " + std::to_string(last + 1) +
                          " holds more values than that, so it starts the next design record or "
                          "statement, which is read from there: give every value of the "
                          "statement before it");
    ASSERT_EQ(d.designs.size(), 2u);
    EXPECT_EQ(d.designs[1].design.first_line, last + 1);
  }
  // Values that run over lines, each holding only the statement's values, are one statement.
  EXPECT_TRUE(messages(deck_with(1, "\nACCRUAL 3\n 0.5 1.2 2.0\n 1 2 4  pieces")).empty());
  EXPECT_TRUE(messages(deck_with(1, "\nCONTROL MEDIAN\n 2\n 3")).empty());
}

// A DROPOUT statement takes its treatment arm's value only from the line of the control arm's:
// spread one value a line, its last value starts the next design, and the message says why.
TEST(StatementWords, ADropoutSpreadOneValueALineIsNamedWhereItsLastValueIsRead) {
  const std::vector<std::string> got =
      messages("0 0 0 0\nT\n0 3 1 1 1 0\n2.0 1.25 0.5 2.0 1.25 0.4\n2.0 3.0 0.3 0.4 0.5 1\n"
               "0.025 0 0.8 1 3 3 1 2\n1.0 2.0 5.0\nDROPOUT HAZARD\n0.05\n0.1\n");
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0], "d:10: design 2: NSIM = 0.1: cannot be read as an integer; the DROPOUT "
                    "statement on line 8 runs over several lines and takes the treatment arm's "
                    "value only from the line of the control arm's (one value: both arms), so "
                    "this line was read as the start of design 2");
}

// A CONTROL statement whose law leaves a survival of 0 or 1 at the end of the study (TA + TF = 5
// here) is refused naming the statement; the record's own survival is not blamed.
TEST(StatementWords, AControlLawWithoutAnEventOrWithoutASurvivorIsNamed) {
  auto refused = [](const std::string& field, const std::string& survival) {
    return "d:8: design 1: " + field + ": the control arm's law it states gives a survival of " +
           survival + " at the end of the study (TA + TF = 5), where it must lie strictly "
           "between 0 and 1";
  };
  const struct {
    std::string statement;
    std::vector<std::string> messages;
  } cases[] = {
      {"CONTROL MEDIAN 1e-300 3", {refused("CONTROL median of EP1 = 1e-300", "0")}},
      {"CONTROL SURVIVAL 1e300 0.5 0.5",
       {refused("CONTROL survival of EP1 = 0.5", "1"), refused("CONTROL survival of EP2 = 0.5", "1")}},
      {"CONTROL HAZARD 0.2 1e-320", {refused("CONTROL hazard of EP2 = 9.999888672e-321", "1")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(messages(deck_with(1, "\n" + c.statement)), c.messages);
  }
}

}  // namespace
}  // namespace kestrel::deck
