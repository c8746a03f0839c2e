#pragma once
// The reader of a whole deck: the header, each design record with its spending statements and
// optional statements, and, where a design's layout was lost, the search for the next design.
// Its parts live in record_statement.cpp, spending_statement.cpp and layout_recovery.cpp; the
// optional statements are read through the table of statement_reader.h.
#include <array>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

#include "deck/deck.h"
#include "deck/statement_reader.h"

namespace kestrel::deck {

// The item of a record's integer or real field; null when the field is of the other kind.
int* int_field(DeckValues& d, int f);
double* real_field(DeckValues& d, int f);

// The name of an endpoint's spending statement in messages: " of EP1 (ESF1)", with the
// evaluation when the design evaluates two sets.
std::string extra_suffix(int ep, int set, int nsets);

// What a boundary design reads after its replacement code: nothing (codes 1, 2, 6), one phi
// value (3, 4) or K cumulative values (5).
enum Follow { Nothing = 0, OneValue = 1, KValues = 2 };
Follow follow_of(int code);

// Where the layout of a design was lost, and what is still known of it. A code of 0 is unknown.
struct LostLayout {
  int problem = -1;          // the problem the note about the rest of the design is added to
  std::string unchecked;     // what of the design could not be checked
  bool look_known = true;    // false: the analysis times are still to be read, K unknown
  int look = 0;
  int nsets = 0;             // 1 or 2 evaluated sets, 0 unknown
  std::array<int, 2> codes{};
  int first_slot = 0;        // the first boundary design whose statements are still to be read
  bool follow_unknown = false;  // what the first slot reads after its lost replacement code
  std::size_t after = 0;        // 0-based line where reading stopped
};

class DeckReader {
 public:
  explicit DeckReader(std::string_view text) : sc_(text), statements_(sc_, deck_.problems) {}
  Deck run();

 private:
  // record_statement.cpp: the header and the design records.
  Deck read();
  void problem(int design, int line, std::string field, std::string value, std::string allowed);
  bool read_header();
  bool read_record(DeckRecord& rec);
  Item read_field(Statement& st, DeckRecord& rec, int f);
  bool layout_known(DeckRecord& rec);
  bool end_inside(const Statement& st, DeckRecord& rec);

  // spending_statement.cpp: the spending statements of the boundary designs.
  enum class Extra { Read, Ended, Lost };
  bool read_extras(DeckRecord& rec);
  Extra read_replacement(DeckRecord& rec, std::array<SpendingStatement, 2>& pair, int set,
                         int ep, int& code);
  Extra read_phi(DeckRecord& rec, std::array<SpendingStatement, 2>& pair, int set, int ep,
                 int code);
  Extra read_cumulative(DeckRecord& rec, std::array<SpendingStatement, 2>& pair, int set, int ep);
  void missing_extra(DeckRecord& rec, const std::array<SpendingStatement, 2>& pair,
                     std::string field, std::string expected);

  // layout_recovery.cpp: where the next design starts after a design lost its layout.
  enum class Shape { Whole, Incomplete, Nothing, Unreadable };
  bool look_statement(std::size_t after, int n, bool integer, std::size_t& end, int* ivalue);
  void walk_times(Statement& st);
  void walk_slots(std::size_t after, int slot);
  void walk_slot(std::size_t after, int slot, int nslots, bool follow_unknown);
  Shape look_record(std::size_t after, const DeckValues& previous, int& line, int& faults);
  bool find_next_design(int number, const DeckValues& previous);

  DeckScanner sc_;
  Deck deck_;
  StatementReader statements_;
  bool complete_ = false;
  LostLayout lost_;
  std::array<int, FIELD_COUNT> reported_{};  // per field of the record: its problem, or -1
  std::set<std::size_t> ends_;  // lines after which the next design may start
  std::set<std::tuple<std::size_t, int, int, int, bool>> visited_;
};

// A CONTROL statement gives SRVR1 and SRVR2: the survival at the end of the study (TA + TF)
// of the law it states, before anything reads them. A law that gives 0 or 1 there is refused,
// naming the statement.
void apply_control(StatementReader& r, DeckRecord& rec);

}  // namespace kestrel::deck
