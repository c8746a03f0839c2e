// Looking for the start of the next design after the layout of a design was lost.
#include "deck/deck_reader.h"

namespace kestrel::deck {
namespace {

// A record read after a lost layout may carry a few faults of its own; a start that is not
// a record's start puts reals where integers belong throughout, and many more.
constexpr int kFaultsOfARecord = 2;

}  // namespace

// Looking for the start of the next design after the layout was lost. Every reading the rest
// of the design may have (number of analyses, sets, spending codes and their replacements) is
// followed through the deck; each ends on some line, after which the next record would start.
// The earliest of those lines where a whole record can be read is taken; failing that, the end
// of the deck, and failing that a record the deck ends inside.

// Reads, as the statement after 0-based line `after`, `n` real values or one integer. False
// when a value cannot be read or the deck ends first; `end` receives the line where it ended.
bool DeckReader::look_statement(std::size_t after, int n, bool integer, std::size_t& end, int* ivalue) {
  sc_.seek(sc_.after_line(after));
  Statement st(sc_);
  for (int i = 0; i < n; ++i) {
    DeckScanner::Token t;
    Item r = st.take(t);
    if (r == Item::End || r == Item::Unreadable) return false;
    if (r == Item::Kept) {
      if (integer) return false;  // a replacement left unchanged stays above 5
      continue;
    }
    if (t.quoted) return false;
    if (integer) {
      if (!parse_deck_int(t.text, *ivalue)) return false;
    } else {
      double v;
      if (!parse_deck_real(t.text, v)) return false;
    }
  }
  end = sc_.line_index();
  return true;
}

// The analysis times of a record whose number of analyses is unknown: every count 1 to 10.
void DeckReader::walk_times(Statement& st) {
  for (int k = 1; k <= NMAXA; ++k) {
    DeckScanner::Token t;
    Item r = st.take(t);
    if (r == Item::End) {
      ends_.insert(sc_.line_index());
      return;
    }
    double v;
    if (r == Item::Unreadable || (r == Item::Read && (t.quoted || !parse_deck_real(t.text, v))))
      return;
    const DeckScanner::Position here = sc_.position();
    lost_.look = k;
    walk_slots(sc_.line_index(), 0);
    sc_.seek(here);
  }
}

// The extra statements of boundary designs `slot` on (set = slot / 2, endpoint = slot % 2).
void DeckReader::walk_slots(std::size_t after, int slot) {
  for (int nsets : {1, 2}) {
    if (lost_.nsets != 0 && nsets != lost_.nsets) continue;
    if (slot >= 2 * nsets) {
      ends_.insert(after);
      continue;
    }
    walk_slot(after, slot, 2 * nsets, slot == lost_.first_slot && lost_.follow_unknown);
  }
}

void DeckReader::walk_slot(std::size_t after, int slot, int nslots, bool follow_unknown) {
  if (slot == nslots) {
    ends_.insert(after);
    return;
  }
  const auto key = std::make_tuple(after, slot, nslots, lost_.look, follow_unknown);
  if (!visited_.insert(key).second) return;
  auto follow = [&](std::size_t from, Follow f) {
    std::size_t end = from;
    if (f == Nothing) {
      walk_slot(from, slot + 1, nslots, false);
    } else if (look_statement(from, f == OneValue ? 1 : lost_.look, false, end, nullptr)) {
      walk_slot(end, slot + 1, nslots, false);
    }
  };
  auto replaced = [&]() {
    std::size_t end;
    int code = 0;
    if (look_statement(after, 1, true, end, &code) && code >= 1 && code <= 6)
      follow(end, follow_of(code));
  };
  const int code = lost_.codes[static_cast<size_t>(slot % 2)];
  if (follow_unknown || code == 0) {
    for (Follow f : {Nothing, OneValue, KValues}) follow(after, f);
    if (!follow_unknown) replaced();
  } else if (code > 5) {
    replaced();
  } else {
    follow(after, follow_of(code));
  }
}

// Whether a record can be read after 0-based line `after`: `line` receives its start and
// `faults` the number of its values that cannot be read as their items.
DeckReader::Shape DeckReader::look_record(std::size_t after, const DeckValues& previous, int& line, int& faults) {
  sc_.seek(sc_.after_line(after));
  Statement st(sc_);
  // The previous record's number of analyses, when it was one: a kept LOOK out of range gives a
  // record of unknown length, read as its 26 scalars.
  int look = previous.LOOK >= 1 && previous.LOOK <= NMAXA ? previous.LOOK : 0;
  faults = 0;
  for (int f = 0; f < 26 + look; ++f) {
    DeckScanner::Token t;
    Item r = st.take(t);
    if (r == Item::End) return f == 0 ? Shape::Nothing : Shape::Incomplete;
    if (f == 0) line = t.line;
    if (r == Item::Kept) continue;
    DeckValues scratch;
    int* iv = f < 26 ? int_field(scratch, f) : nullptr;
    double v;
    const bool ok = r == Item::Read && !t.quoted &&
                    (iv ? parse_deck_int(t.text, *iv) : parse_deck_real(t.text, v));
    if (!ok && ++faults > kFaultsOfARecord) return Shape::Unreadable;
    if (f == LOOK) {
      if (ok) look = *iv;
      if (!ok || look < 1 || look > NMAXA) look = 0;  // its length is not known: 26 values
    }
  }
  return Shape::Whole;
}

// Chooses where reading goes on after design `number` lost its layout, and says so in the
// problem that lost it. False when the rest of the deck cannot be read.
bool DeckReader::find_next_design(int number, const DeckValues& previous) {
  // The record with the fewest faults, the earliest of those; else the end of the deck; else a
  // record the deck ends inside.
  std::size_t best = 0;
  int best_line = 0, best_faults = kFaultsOfARecord + 1;
  bool whole = false, nothing = false, incomplete = false;
  std::size_t incomplete_after = 0;
  int incomplete_line = 0;
  for (std::size_t after : ends_) {  // in deck order
    int line = 0, faults = 0;
    Shape s = look_record(after, previous, line, faults);
    if (s == Shape::Whole && faults < best_faults) {
      best = after;
      best_line = line;
      best_faults = faults;
      whole = true;
    }
    if (s == Shape::Nothing) nothing = true;
    if (s == Shape::Incomplete && !incomplete) {
      incomplete = true;
      incomplete_after = after;
      incomplete_line = line;
    }
  }
  ends_.clear();
  visited_.clear();
  std::string note = "; the rest of this design (" + lost_.unchecked + ") could not be checked";
  bool go_on = true;
  if (whole || (!nothing && incomplete)) {
    if (!whole) {
      best = incomplete_after;
      best_line = incomplete_line;
    }
    note += "; design " + std::to_string(number + 1) + " is taken to start at line " +
            std::to_string(best_line);
    sc_.seek(sc_.after_line(best));
  } else {
    // The deck ends with this design, or what follows cannot be read as a design.
    int line = 0, faults = 0;
    if (!nothing && look_record(lost_.after, previous, line, faults) != Shape::Nothing)
      note += "; the rest of the deck was not checked";
    go_on = false;
  }
  if (lost_.problem >= 0) deck_.problems[static_cast<size_t>(lost_.problem)].allowed += note;
  return go_on;
}

}  // namespace kestrel::deck
