#pragma once
// The input deck: two header statements, then design records of 26 + K values, each followed by
// the extra statements of its boundary designs. The whole deck is read before any calculation,
// so that no calculation reads input and a faulty deck is found before anything is written.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "common/design.h"

namespace kestrel::driver {

// The fields of a design record, in deck order; TLOOK(1..10) follow the 26 scalars.
enum Field : int {
  NSIM, ITIME, CPL, CPRSK, CMPST, MSSG, HR1, HR2, RHO, HR1TR, HR2TR, RHOTR, TA, TF, SRVR1, SRVR2,
  SR, CNSRD, TYPE1, RSV1, POWER, DF, LOOK, CRIVL, ESF1, ESF2, TLOOK1,
  FIELD_COUNT = TLOOK1 + NMAXA
};
std::string field_name(int field);  // "HR1", "TLOOK(3)"

// Where a field's value came from.
struct FieldSource {
  enum State { Unset, Read, Kept, Unreadable };
  State state = Unset;  // Kept: a null value or a slash left the previous record's value
  int line = 0;         // deck line of the value (or of the null or slash)
  std::string text;     // the value as written (Read, Unreadable)
};

// One problem of the deck: what is wrong, where, and what is allowed.
struct DeckProblem {
  int design = 0;      // 1-based design number; 0 for the header
  int line = 0;        // deck line
  std::string field;   // "HR1", "TLOOK(2)", "phi of EP1", ...
  std::string value;   // the value as written or as kept
  std::string allowed; // what the field accepts, or what went wrong
  std::string message(std::string_view deck_name) const;
};

struct DeckRecord {
  Design design;
  std::array<FieldSource, FIELD_COUNT> source{};
  bool tlook_read = true;     // false when LOOK left the record's length unknown
  bool extras_read = true;    // false when the extra statements could not all be read
  bool look_reported = false; // the reader already reported LOOK out of range
};

struct Deck {
  DeckHeader header;
  std::vector<DeckRecord> designs;    // complete records with their extra statements
  std::vector<DeckProblem> problems;  // problems met while reading
  // The deck ended inside a design record (which is not calculated): the line where it started.
  int incomplete_record_line = 0;
  int incomplete_record_number = 0;
};

// Reads a whole deck. Reading stops at the end of the deck, and after a record whose layout
// cannot be known (an unreadable or out-of-range LOOK, ITIME or spending code).
Deck read_deck(std::string_view text);

// The stored form of a record's values: hazard ratios replaced by their reciprocals.
DeckValues stored_values(const DeckValues& read);

// Every value problem of the designs read (ranges, orders, the extra statements), in deck
// order, together with the problems met while reading.
std::vector<DeckProblem> check_deck(const Deck& deck);

}  // namespace kestrel::driver
