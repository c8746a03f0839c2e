// The free-format rules of the deck and the layout of header, records and extra statements.
#include "deck/deck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "deck/deck_scanner.h"

namespace kestrel::deck {
namespace {

const char* kHeader = "1 2 3.5 4.5\n'A TITLE'\n";

// A calendar-time design with K = 3 written on one line.
const char* kRecordOneLine =
    "0 3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 1 2 1.0 2.0 5.0\n";

Deck read(const std::string& body) { return read_deck(std::string(kHeader) + body); }

void expect_reference_values(const DeckValues& d) {
  EXPECT_EQ(d.NSIM, 0);
  EXPECT_EQ(d.ITIME, 3);
  EXPECT_EQ(d.CPL, 1);
  EXPECT_EQ(d.MSSG, 0);
  EXPECT_DOUBLE_EQ(d.HR1, 2.0);
  EXPECT_DOUBLE_EQ(d.HR2, 1.25);
  EXPECT_DOUBLE_EQ(d.RHOTR, 0.4);
  EXPECT_DOUBLE_EQ(d.TF, 3.0);
  EXPECT_DOUBLE_EQ(d.SRVR2, 0.4);
  EXPECT_EQ(d.CNSRD, 1);
  EXPECT_DOUBLE_EQ(d.TYPE1, 0.025);
  EXPECT_DOUBLE_EQ(d.POWER, 0.8);
  EXPECT_EQ(d.DF, 1);
  EXPECT_EQ(d.LOOK, 3);
  EXPECT_EQ(d.CRIVL, 3);
  EXPECT_EQ(d.ESF1, 1);
  EXPECT_EQ(d.ESF2, 2);
  EXPECT_DOUBLE_EQ(d.TLOOK[0], 1.0);
  EXPECT_DOUBLE_EQ(d.TLOOK[2], 5.0);
}

TEST(DeckHeader, FourValuesThenTheTitle) {
  Deck deck = read("");
  EXPECT_TRUE(deck.problems.empty());
  EXPECT_EQ(deck.header.NHD1, 1);
  EXPECT_EQ(deck.header.NHD2, 2);
  EXPECT_DOUBLE_EQ(deck.header.XHD2, 4.5);
  EXPECT_EQ(deck.header.TITLE.size(), 80u);
  EXPECT_EQ(deck.header.TITLE.substr(0, 8), "A TITLE ");
  EXPECT_TRUE(deck.designs.empty());
}

TEST(DeckHeader, UnquotedTitleEndsAtBlankAndLongTitleIsCut) {
  Deck a = read_deck("0 0 0 0\nFirst word, then more\n");
  EXPECT_EQ(a.header.TITLE.substr(0, 11), "First      ");
  Deck b = read_deck("0 0 0 0\n'" + std::string(100, 'x') + "'\n");
  EXPECT_EQ(b.header.TITLE, std::string(80, 'x'));
  Deck c = read_deck("0 0 0 0\n'It''s, a/b'\n");
  EXPECT_EQ(c.header.TITLE.substr(0, 11), "It's, a/b  ");
  Deck d = read_deck("0 0 0 0\n\"double \"\"quoted\"\"\"\n");
  EXPECT_EQ(d.header.TITLE.substr(0, 16), "double \"quoted\" ");
}

TEST(DeckHeader, ByteOrderMarkIsSkipped) {
  Deck deck = read_deck("\xEF\xBB\xBF" "7 0 0 0\nT\n");
  EXPECT_TRUE(deck.problems.empty());
  EXPECT_EQ(deck.header.NHD1, 7);
}

TEST(DeckHeader, DeckEndingInTheHeaderIsABadDeck) {
  EXPECT_FALSE(read_deck("").problems.empty());
  EXPECT_FALSE(read_deck("0 0 0\n").problems.empty());
  EXPECT_FALSE(read_deck("0 0 0 0\n").problems.empty());
}

TEST(DeckRecord, OneLineRecordReadsAllValues) {
  Deck deck = read(kRecordOneLine);
  ASSERT_TRUE(deck.problems.empty());
  ASSERT_EQ(deck.designs.size(), 1u);
  expect_reference_values(deck.designs[0].design.read);
  EXPECT_EQ(deck.designs[0].design.number, 1);
  EXPECT_EQ(deck.designs[0].design.first_line, 3);
}

TEST(DeckRecord, RecordSpreadOverManyLinesReadsLikeOneLine) {
  Deck deck = read(
      "0\n3\n\n1 1\n1 0 2.0\n1.25, 0.5 2.0 1.25 0.4\n2.0 3.0 0.3\n0.4 0.5 1 0.025\n0\n0.8 1 3 3 1 2\n"
      "1.0\n2.0\n5.0\n");
  ASSERT_TRUE(deck.problems.empty());
  ASSERT_EQ(deck.designs.size(), 1u);
  expect_reference_values(deck.designs[0].design.read);
  EXPECT_EQ(deck.designs[0].source[TLOOK1 + 2].line, 15);
}

TEST(DeckRecord, RepeatCountGivesCopies) {
  Deck deck = read(
      "0 3 1 1 1 0 2*2.0 0.5 2*2.0 0.4 2.0 3.0 2*0.3 0.5 1 0.025 0 0.8 1 3 3 2*1 1.0 2.0 5.0\n");
  ASSERT_TRUE(deck.problems.empty());
  const DeckValues& d = deck.designs[0].design.read;
  EXPECT_DOUBLE_EQ(d.HR1, 2.0);
  EXPECT_DOUBLE_EQ(d.HR2, 2.0);
  EXPECT_DOUBLE_EQ(d.HR2TR, 2.0);
  EXPECT_DOUBLE_EQ(d.SRVR1, 0.3);
  EXPECT_DOUBLE_EQ(d.SRVR2, 0.3);
  EXPECT_EQ(d.ESF1, 1);
  EXPECT_EQ(d.ESF2, 1);
  Deck fractions = read(
      "0 1 1 1 1 0 2.0 2.0 0.5 2.0 2.0 0.4 2.0 3.0 0.3 0.3 0.5 1 0.025 0 0.8 1 3 3 1 1 3*0.5\n");
  const DeckValues& f = fractions.designs[0].design.read;
  EXPECT_DOUBLE_EQ(f.TLOOK[0], 0.5);
  EXPECT_DOUBLE_EQ(f.TLOOK[1], 0.5);
  EXPECT_DOUBLE_EQ(f.TLOOK[2], 0.5);
}

TEST(DeckRecord, NullValueKeepsThePreviousRecordsDeckValue) {
  // The second record leaves HR1 (two commas), RHO (a leading comma on its line is not a
  // null: the line end already separated) and TA (r* nulls) unchanged.
  Deck deck = read(std::string(kRecordOneLine) +
                   "0 3 1 1 1 0,,1.25 0.5 2.0 1.25 0.4 1* 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 1 2 "
                   "1.0 2.0 5.0\n");
  ASSERT_TRUE(deck.problems.empty());
  ASSERT_EQ(deck.designs.size(), 2u);
  const Design& second = deck.designs[1].design;
  EXPECT_DOUBLE_EQ(second.read.HR1, 2.0);
  EXPECT_DOUBLE_EQ(second.read.TA, 2.0);
  EXPECT_EQ(deck.designs[1].source[HR1].state, FieldSource::Kept);
  EXPECT_EQ(deck.designs[1].source[TA].state, FieldSource::Kept);
  // The stored value is the reciprocal of the deck value, as for a value written out.
  EXPECT_DOUBLE_EQ(second.stored.HR1, 0.5);
}

TEST(DeckRecord, LeadingCommaIsANullValue) {
  Deck deck = read(std::string(kRecordOneLine) +
                   ",3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 "
                   "1 2 1.0 2.0 5.0\n");
  ASSERT_EQ(deck.designs.size(), 2u);
  EXPECT_EQ(deck.designs[1].source[NSIM].state, FieldSource::Kept);
  EXPECT_EQ(deck.designs[1].design.read.ITIME, 3);
}

TEST(DeckRecord, SlashEndsTheRecordAndKeepsTheRest) {
  Deck deck = read(std::string(kRecordOneLine) + "5 3 2 / 99 99 99\n0 3 1\n");
  ASSERT_TRUE(deck.problems.empty());
  ASSERT_EQ(deck.designs.size(), 2u);
  const DeckValues& d = deck.designs[1].design.read;
  EXPECT_EQ(d.NSIM, 5);
  EXPECT_EQ(d.CPL, 2);
  EXPECT_DOUBLE_EQ(d.HR1, 2.0);  // kept
  EXPECT_EQ(d.LOOK, 3);
  EXPECT_DOUBLE_EQ(d.TLOOK[2], 5.0);
  // The text after the slash is skipped; the next statement (the incomplete "0 3 1") starts on
  // the next line and the deck ends inside it.
  EXPECT_EQ(deck.incomplete_record_line, 5);
}

TEST(DeckRecord, TextAfterTheLastValueIsSkipped) {
  Deck deck = read(
      "0 3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 1 2\n"
      "1.0 2.0 5.0 4 1 1 1 0 trailing words, 7/\n" +
      std::string(kRecordOneLine));
  ASSERT_TRUE(deck.problems.empty());
  ASSERT_EQ(deck.designs.size(), 2u);
  expect_reference_values(deck.designs[1].design.read);
  EXPECT_EQ(deck.designs[1].design.first_line, 5);
}

TEST(DeckRecord, TimesBeyondKKeepThePreviousRecordsValues) {
  Deck deck = read(
      "0 3 1 1 1 0 2 2 0.5 2 2 0.5 4 6 0.3 0.3 0.5 1 0.025 0 0.8 1 5 3 1 1 1 2 3 4 5\n"
      "0 3 1 1 1 0 2 2 0.5 2 2 0.5 4 6 0.3 0.3 0.5 1 0.025 0 0.8 1 2 3 1 1 7 8\n");
  ASSERT_EQ(deck.designs.size(), 2u);
  const DeckValues& d = deck.designs[1].design.read;
  EXPECT_EQ(d.LOOK, 2);
  EXPECT_DOUBLE_EQ(d.TLOOK[0], 7);
  EXPECT_DOUBLE_EQ(d.TLOOK[1], 8);
  EXPECT_DOUBLE_EQ(d.TLOOK[2], 3);
  EXPECT_DOUBLE_EQ(d.TLOOK[4], 5);
  EXPECT_DOUBLE_EQ(deck.designs[1].design.stored.TLOOK[4], 5);
}

TEST(DeckRecord, EndOfDeckBeforeARecordEndsNormally) {
  Deck deck = read(std::string(kRecordOneLine) + "\n\n   \n");
  EXPECT_TRUE(deck.problems.empty());
  EXPECT_EQ(deck.designs.size(), 1u);
  EXPECT_EQ(deck.incomplete_record_line, 0);
}

TEST(DeckRecord, EndOfDeckInsideARecordDropsItWithoutAProblem) {
  Deck deck = read(std::string(kRecordOneLine) + "\n0 3 1 1 1 0 2.0 1.25 0.5\n2.0");
  EXPECT_TRUE(deck.problems.empty());
  EXPECT_EQ(deck.designs.size(), 1u);
  EXPECT_EQ(deck.incomplete_record_line, 5);
  EXPECT_EQ(deck.incomplete_record_number, 2);
  EXPECT_TRUE(check_deck(deck).empty());
}

TEST(DeckRecord, RealAndIntegerForms) {
  Deck deck = read(
      "+0 3 1 1 1 -5 2 1.25E0 .5 2.D0 125e-2 4.0d-1 2. 3 0.3 0.4 0.5 1 2.5E-2 0 8e-1 1 3 3 1 2 "
      "1 2 5\n");
  ASSERT_TRUE(deck.problems.empty());
  const DeckValues& d = deck.designs[0].design.read;
  EXPECT_EQ(d.MSSG, -5);
  EXPECT_DOUBLE_EQ(d.HR2, 1.25);
  EXPECT_DOUBLE_EQ(d.RHO, 0.5);
  EXPECT_DOUBLE_EQ(d.HR2TR, 1.25);
  EXPECT_DOUBLE_EQ(d.RHOTR, 0.4);
  EXPECT_DOUBLE_EQ(d.TYPE1, 0.025);
}

TEST(DeckRecord, TabsAndWindowsLineEndsSeparateValues) {
  Deck deck = read(
      "0\t3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4\r\n2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 1 2 1.0 "
      "2.0 5.0\r\n");
  ASSERT_TRUE(deck.problems.empty());
  expect_reference_values(deck.designs[0].design.read);
  // Old Mac line ends (a carriage return alone) end lines too: the text after the record's last
  // value on its line is skipped, and -0 is read as 0.
  Deck mac = read_deck(
      "0 0 0 0\r'title'\r0 3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4\r2.0 3.0 0.3 0.4 0.5 1 0.025 0 "
      "0.8 1 3 3 1 2 1.0 2.0 5.0 text\r0 3 1 1 1 0 2.0 1.25 -0 2.0 1.25 0.4\r2.0 3.0 0.3 0.4 "
      "0.5 1 0.025 0 0.8 1 3 3 1 2 1.0 2.0 5.0\r");
  ASSERT_TRUE(mac.problems.empty());
  ASSERT_EQ(mac.designs.size(), 2u);
  expect_reference_values(mac.designs[0].design.read);
  EXPECT_EQ(mac.designs[1].design.first_line, 5);
  EXPECT_FALSE(std::signbit(mac.designs[1].design.read.RHO));
}

TEST(DeckRecord, UnreadableValueIsReportedWithItsTextAndLine) {
  Deck deck = read(
      "0 3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4\n2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 3 3 1 2 1.0 "
      "2.O 5.0\n");
  ASSERT_EQ(deck.problems.size(), 1u);
  EXPECT_EQ(deck.problems[0].line, 4);
  EXPECT_EQ(deck.problems[0].field, "TLOOK(2)");
  EXPECT_EQ(deck.problems[0].value, "2.O");
  EXPECT_EQ(deck.problems[0].message("a/input.txt"),
            "a/input.txt:4: design 1: TLOOK(2) = 2.O: cannot be read as a real number");
}

TEST(DeckRecord, IntegerItemRejectsARealAndOverflow) {
  Deck a = read("0 3.0 1\n");
  ASSERT_FALSE(a.problems.empty());
  EXPECT_EQ(a.problems[0].field, "ITIME");
  Deck b = read("99999999999 3 1\n");
  ASSERT_FALSE(b.problems.empty());
  EXPECT_EQ(b.problems[0].field, "NSIM");
}

TEST(DeckRecord, OutOfRangeLookStopsReading) {
  Deck deck = read(
      "0 3 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 11 3 1 2\n" +
      std::string(kRecordOneLine));
  auto problems = check_deck(deck);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].field, "LOOK");
  EXPECT_EQ(deck.designs.size(), 1u);
}

// Extra statements of the boundary designs.

std::string record(int itime, int esf1, int esf2, int look = 2) {
  std::string s = "0 " + std::to_string(itime) +
                  " 1 1 1 0 2.0 1.25 0.5 2.0 1.25 0.4 2.0 3.0 0.3 0.4 0.5 1 0.025 0 0.8 1 " +
                  std::to_string(look) + " 3 " + std::to_string(esf1) + " " +
                  std::to_string(esf2);
  if (look == 3) s += itime == 3 ? " 1.0 2.0 5.0" : " 0.3 0.6 1.0";
  else s += itime == 3 ? " 2.0 5.0" : " 0.5 1.0";
  return s + "\n";
}

TEST(SpendingStatements, PhiPerBoundaryDesignInRunOrder) {
  // ITIME = 1: EP1-driven set (EP1 code 3, EP2 code 4), then the EP2-driven set.
  Deck deck = read(record(1, 3, 4) + "0.5\n-2 words\n1.5\n-3\n" + record(3, 1, 1));
  ASSERT_TRUE(check_deck(deck).empty());
  ASSERT_EQ(deck.designs.size(), 2u);
  const auto& sp = deck.designs[0].design.spending;
  ASSERT_EQ(sp.size(), 2u);
  EXPECT_DOUBLE_EQ(sp[0][0].phi, 0.5);
  EXPECT_DOUBLE_EQ(sp[0][1].phi, -2);
  EXPECT_DOUBLE_EQ(sp[1][0].phi, 1.5);
  EXPECT_DOUBLE_EQ(sp[1][1].phi, -3);
  EXPECT_EQ(sp[1][1].phi_line, 7);
  EXPECT_EQ(deck.designs[1].design.first_line, 8);
  EXPECT_EQ(deck.designs[1].design.spending.size(), 1u);
}

TEST(SpendingStatements, OneSetUnlessBothFractionEvaluationsRun) {
  Deck deck = read(record(2, 3, 1) + "2\n" + record(3, 1, 3) + "4\n");
  ASSERT_TRUE(check_deck(deck).empty());
  ASSERT_EQ(deck.designs.size(), 2u);
  ASSERT_EQ(deck.designs[0].design.spending.size(), 1u);
  EXPECT_DOUBLE_EQ(deck.designs[0].design.spending[0][0].phi, 2);
  EXPECT_FALSE(deck.designs[0].design.spending[0][1].has_phi);
  EXPECT_DOUBLE_EQ(deck.designs[1].design.spending[0][1].phi, 4);
}

TEST(SpendingStatements, CodeAboveFiveReadsItsReplacementThenPhi) {
  Deck deck = read(record(3, 7, 6) + "3\n0.75\n6\n");
  ASSERT_TRUE(check_deck(deck).empty());
  const auto& sp = deck.designs[0].design.spending[0];
  EXPECT_EQ(sp[0].deck_code, 7);
  EXPECT_EQ(sp[0].replacement_code, 3);
  EXPECT_EQ(sp[0].code_in_force(), 3);
  EXPECT_DOUBLE_EQ(sp[0].phi, 0.75);
  EXPECT_EQ(sp[1].code_in_force(), 6);
  EXPECT_EQ(sp[1].replacement_line, 6);
}

TEST(SpendingStatements, CodeFiveReadsKCumulativeValues) {
  Deck deck = read(record(3, 5, 1, 3) + "0.001\n0.01\n0.025 extra words\n" + record(3, 1, 1));
  ASSERT_TRUE(check_deck(deck).empty());
  ASSERT_EQ(deck.designs.size(), 2u);
  const auto& c = deck.designs[0].design.spending[0][0].cumulative;
  ASSERT_EQ(c.size(), 3u);
  EXPECT_DOUBLE_EQ(c[0], 0.001);
  EXPECT_DOUBLE_EQ(c[2], 0.025);
}

TEST(SpendingStatements, DeckEndingInsideAnExtraStatementIsABadDeck) {
  Deck a = read(record(1, 3, 1) + "0.5\n");  // the EP2-driven set's phi is missing
  auto pa = check_deck(a);
  ASSERT_EQ(pa.size(), 1u);
  EXPECT_NE(pa[0].field.find("phi of EP1"), std::string::npos);
  EXPECT_NE(pa[0].field.find("EP2-driven"), std::string::npos);
  Deck b = read(record(3, 5, 1, 3) + "0.001 0.01\n");
  ASSERT_EQ(check_deck(b).size(), 1u);
  Deck c = read(record(3, 8, 1));
  ASSERT_EQ(check_deck(c).size(), 1u);
  EXPECT_NE(check_deck(c)[0].field.find("replacement"), std::string::npos);
}

TEST(Scanner, ValueConversions) {
  int i = 0;
  double x = 0;
  EXPECT_TRUE(parse_deck_int("-42", i));
  EXPECT_EQ(i, -42);
  EXPECT_TRUE(parse_deck_int("2147483647", i));
  EXPECT_FALSE(parse_deck_int("2147483648", i));
  EXPECT_TRUE(parse_deck_int("-2147483648", i));
  EXPECT_FALSE(parse_deck_int("1.0", i));
  EXPECT_FALSE(parse_deck_int("", i));
  EXPECT_FALSE(parse_deck_int("+", i));
  EXPECT_TRUE(parse_deck_real("1", x));
  EXPECT_DOUBLE_EQ(x, 1);
  EXPECT_TRUE(parse_deck_real("-.5E+1", x));
  EXPECT_DOUBLE_EQ(x, -5);
  EXPECT_TRUE(parse_deck_real("1e-400", x));
  EXPECT_EQ(x, 0);
  EXPECT_FALSE(parse_deck_real("1e400", x));
  EXPECT_FALSE(parse_deck_real(".", x));
  EXPECT_FALSE(parse_deck_real("1e", x));
  EXPECT_FALSE(parse_deck_real("nan", x));
  EXPECT_FALSE(parse_deck_real("inf", x));
  EXPECT_FALSE(parse_deck_real("0x10", x));
}

TEST(Scanner, StatementsStartOnNewLinesAndRepeatsDoNotCarryOver) {
  DeckScanner sc("3*7 8\n9\n");
  sc.begin_statement();
  EXPECT_EQ(sc.next().text, "7");
  EXPECT_EQ(sc.next().text, "7");
  sc.begin_statement();  // the third copy and 8 are skipped with the rest of the line
  DeckScanner::Token t = sc.next();
  EXPECT_EQ(t.text, "9");
  EXPECT_EQ(t.line, 2);
  sc.begin_statement();
  EXPECT_EQ(sc.next().kind, DeckScanner::Kind::End);
}

TEST(Scanner, QuotedTextMayContinueOnTheNextLineAndMustClose) {
  DeckScanner sc("'ab\ncd' 5\n'open");
  sc.begin_statement();
  DeckScanner::Token t = sc.next();
  EXPECT_EQ(t.text, "abcd");
  EXPECT_TRUE(t.quoted);
  EXPECT_EQ(sc.next().text, "5");
  sc.begin_statement();
  EXPECT_FALSE(sc.next().fault.empty());
}

TEST(Scanner, ZeroRepeatCountIsAFault) {
  DeckScanner sc("0*5 6\n");
  sc.begin_statement();
  EXPECT_FALSE(sc.next().fault.empty());
  EXPECT_EQ(sc.next().text, "6");
}

}  // namespace
}  // namespace kestrel::deck

namespace kestrel::deck {
namespace {

// A deck found by fuzzing: repeat counts of 10^6 to 7e8 and a LOOK of 700000009 around a lost
// layout. Looking for the next design once took a number of items given by that LOOK (over a
// minute under the sanitizers); the work of reading, counted in items taken, must be bounded by
// the deck's length whatever numbers it holds.
TEST(Scanner, WorkIsBoundedByTheDecksLengthNotByTheNumbersItHolds) {
  std::ifstream in(std::string(KESTREL_SOURCE_DIR) + "/fuzz/corpus/slow-repeat-count.deck",
                   std::ios::binary);
  const std::string deck((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(deck.size(), 227u);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string s = deck;
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
  };
  const std::vector<std::string> decks = {deck, replaced("700000009", "7"),
                                          replaced("1000007*", "1*"), replaced("17867*", "1*")};
  for (const std::string& d : decks) {
    const Deck read = read_deck(d);
    EXPECT_FALSE(check_deck(read).empty());
    EXPECT_LE(read.work, 40 * d.size());
  }
}

}  // namespace
}  // namespace kestrel::deck
