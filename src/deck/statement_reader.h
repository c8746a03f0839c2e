#pragma once
// What every statement of the deck is read with: the items of one statement, their conversion to
// numbers, and the table of the optional statements that follow a design record and its spending
// statements, keyed by their first word. A new statement is a reader function in a file of its
// own and one row of that table; the rules that concern every statement word (it must begin a
// line, it cannot stand where a design record is expected) then hold for it without more.
#include <cctype>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "deck/deck.h"
#include "deck/deck_scanner.h"

namespace kestrel::deck {

enum class Item { Read, Kept, Unreadable, End };

// One read statement: items are taken one after the other; after a slash every further item
// is left unchanged; the end of the deck ends it.
class Statement {
 public:
  explicit Statement(DeckScanner& sc) : sc_(sc) { sc_.begin_statement(); }

  Item take(DeckScanner::Token& t);
  // Whether any item of the statement met a value, a null or a slash before the deck ended.
  bool touched() const { return touched_ || slashed_; }
  void touch() { touched_ = true; }

 private:
  DeckScanner& sc_;
  bool end_ = false, slashed_ = false, touched_ = false;
  int slash_line_ = 0;
};

// Reads one numeric item into `v`, recording its source. The value changes only when read.
template <class T>
Item numeric_item(Statement& st, T& v, FieldSource& src, std::string& why) {
  DeckScanner::Token t;
  Item r = st.take(t);
  if (r == Item::End) return r;
  st.touch();
  src.line = t.line;
  src.text = t.text;
  if (r == Item::Kept) {
    src.state = FieldSource::Kept;
    return r;
  }
  if (r == Item::Unreadable) {
    src.state = FieldSource::Unreadable;
    why = t.fault;
    return r;
  }
  bool ok;
  if constexpr (std::is_same_v<T, int>) {
    ok = !t.quoted && parse_deck_int(t.text, v);
    if (!ok) why = "cannot be read as an integer";
  } else {
    ok = !t.quoted && parse_deck_real(t.text, v);
    if (!ok) why = "cannot be read as a real number";
    if (ok && v == 0) v = 0.0;  // -0 is 0: reports show "0.00", not "-0.00"
  }
  if (!ok) {
    src.state = FieldSource::Unreadable;
    return Item::Unreadable;
  }
  src.state = FieldSource::Read;
  return Item::Read;
}

// A word as the deck's statements compare it: in upper case.
std::string upper(std::string_view text);
// A real value as messages show it ("%.10g").
std::string show_real(double v);

// What the reader of an optional statement works with: the deck's scanner and its problems.
class StatementReader {
 public:
  StatementReader(DeckScanner& sc, std::vector<DeckProblem>& problems)
      : sc_(sc), problems_(problems) {}

  DeckScanner& scanner() { return sc_; }
  void problem(int design, int line, std::string field, std::string value, std::string allowed);
  // One real item of a statement. `kept_ok`: a null value or a slash leaves the default in place;
  // otherwise the value must be given. False when the item has no usable value (the problem is
  // recorded); `ended` is set when the deck ends first. `line` receives the item's line.
  bool value(Statement& st, int number, const std::string& field, double& v, bool kept_ok,
             bool& ended, int& line);

  // A statement starts on deck line `line`: the values it takes are followed from here on.
  void begin_statement(int line);
  // The statement begun last ran short of values on its own lines: it took its last values from
  // a line that holds more values after them (a design record or another statement starts
  // there). Reports the statement with its line and the values it still needed in place of the
  // problems of the values it took from there, and sets reading back to the start of that line.
  bool swallowed(int number, const std::string& word);
  // A note for a problem of the next design record's first value when it starts on deck line
  // `line`: what of the statement before it made that line the record's start.
  void note_next_record(int line, std::string note) {
    note_line_ = line;
    note_ = std::move(note);
  }
  // The note for a record starting on `line` (empty when none); the note is used once.
  std::string take_note(int line);

 private:
  DeckScanner& sc_;
  std::vector<DeckProblem>& problems_;
  struct Taken {
    int line;
    std::string field;
  };
  int statement_line_ = 0;
  std::size_t problems_before_ = 0;
  std::vector<Taken> taken_;  // the values of the statement begun last, in order
  int note_line_ = 0;
  std::string note_;
};

// Reads one optional statement whose first word was taken from `st` on deck line `line`. False
// when the deck ends inside it (nothing more is read for the design).
using ReadStatement = bool (*)(StatementReader& r, Statement& st, Design& g, int line);

struct StatementWord {
  std::string word;  // upper case; the deck may write it in any case
  ReadStatement read;
};

// The optional statements, by their first word.
const std::vector<StatementWord>& statement_words();
// The table's row of an upper-case word; null when it is no statement's word.
const StatementWord* find_statement(std::string_view word);

// For tests of the rules that hold for every statement word: adds a word to the table while it
// lives.
class ExtraStatementWord {
 public:
  ExtraStatementWord(std::string word, ReadStatement read);
  ~ExtraStatementWord();
  ExtraStatementWord(const ExtraStatementWord&) = delete;
  ExtraStatementWord& operator=(const ExtraStatementWord&) = delete;

 private:
  std::string word_;
};

// The optional statements after a design record and its spending statements, each read by the
// table's reader of its first word, until a line starts with no statement word.
void read_statements(StatementReader& r, Design& g);

// The readers of the table, one file each.
bool read_dropout(StatementReader& r, Statement& st, Design& g, int line);
bool read_accrual(StatementReader& r, Statement& st, Design& g, int line);
bool read_hazards(StatementReader& r, Statement& st, Design& g, int line);
bool read_control(StatementReader& r, Statement& st, Design& g, int line);
bool read_model(StatementReader& r, Statement& st, Design& g, int line);
bool read_futility(StatementReader& r, Statement& st, Design& g, int line);

}  // namespace kestrel::deck
