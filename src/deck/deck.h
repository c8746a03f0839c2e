#pragma once
// The input deck: two header statements, then design records of 26 + K values, each followed by
// the extra statements of its boundary designs. The whole deck is read before any calculation,
// so that no calculation reads input and a faulty deck is found before anything is written.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/design.h"

namespace kestrel::deck {

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
  int design = 0;      // 1-based design number; 0 for the header or the deck as a whole
  int line = 0;        // deck line; 0 when the problem concerns the whole deck
  std::string field;   // "HR1", "TLOOK(2)", "phi of EP1", ...; empty for the whole deck
  std::string value;   // the value as written (see echoed()) or as kept
  std::string allowed; // what the field accepts, or what went wrong
  std::string message(std::string_view deck_name) const;
};

struct DeckRecord {
  Design design;
  std::array<FieldSource, FIELD_COUNT> source{};
  // The analysis times were read and their meaning (fractions or calendar times) is known.
  bool times_checkable = true;
  // Boundary designs (pairs of design.spending, EP1 then EP2, in run order) whose extra
  // statements were all read; the checks stop where the layout of the statements was lost.
  int spending_slots_checkable = 2 * 2;
  // Extra statements whose problem the reader already reported (an unreadable value).
  std::vector<std::string> reported_extras;
};

struct Deck {
  DeckHeader header;
  std::vector<DeckRecord> designs;    // records read with their extra statements
  std::vector<DeckProblem> problems;  // problems met while reading
  // The deck ended inside a design record (which is not calculated): the line where it started.
  int incomplete_record_line = 0;
  int incomplete_record_number = 0;
  // Items taken while reading (the reader's work, bounded by the deck's length).
  std::uint64_t work = 0;
};

// A value written in the deck as it is shown in a message: its first 40 characters (followed by
// "..." when there are more), bytes other than printable ASCII written as \xHH.
std::string echoed(std::string_view written);

// A field's value as a message shows it: as written, or the value in force when a null value or
// a slash left it unchanged.
std::string shown_value(const DeckRecord& rec, int field);

// Reads the file of the input deck. When it cannot (missing, a directory, not readable, not a
// plain file) returns false and fills `problem` with the cause and the system's reason.
bool read_deck_file(const std::filesystem::path& path, std::string& text, DeckProblem& problem);

// Reads a whole deck. When a value that decides the layout of a design (ITIME, LOOK, a spending
// or replacement code) cannot be read or lies out of range, the rest of that design is not
// checked; reading goes on with the next design when its start can be found, and stops otherwise.
Deck read_deck(std::string_view text);

// The stored form of a record's values: hazard ratios replaced by their reciprocals.
DeckValues stored_values(const DeckValues& read);

// Every value problem of the designs read (ranges, orders, the extra statements), in deck
// order, together with the problems met while reading.
std::vector<DeckProblem> check_deck(const Deck& deck);

}  // namespace kestrel::deck
