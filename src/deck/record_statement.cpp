// The two header statements and the design records: 26 scalars, then TLOOK(1..LOOK), then the
// design's spending statements and optional statements.
#include "deck/deck_reader.h"

namespace kestrel::deck {
namespace {

const char* const kItimeAllowed =
    "must be 1 (information fractions, evaluated by EP1 and by EP2), 2 (information fractions, "
    "evaluated by EP2) or 3 (calendar times)";
const char* const kLookAllowed = "the number of analyses must be 1 to 10";
const char* const kSpendingAllowed =
    "the spending code must be 1 (O'Brien-Fleming type), 2 (Pocock type), 3 (power family), 4 "
    "(Hwang-Shih-DeCani family), 5 (cumulative values given) or above 5 (a replacement code "
    "follows)";
const char* const kDeckShape =
    "it must hold two header statements (four values NHD1, NHD2, XHD1, XHD2, then the title), "
    "then the design records";

}  // namespace

int* int_field(DeckValues& d, int f) {
  switch (f) {
    case NSIM: return &d.NSIM;
    case ITIME: return &d.ITIME;
    case CPL: return &d.CPL;
    case CPRSK: return &d.CPRSK;
    case CMPST: return &d.CMPST;
    case MSSG: return &d.MSSG;
    case CNSRD: return &d.CNSRD;
    case DF: return &d.DF;
    case LOOK: return &d.LOOK;
    case CRIVL: return &d.CRIVL;
    case ESF1: return &d.ESF1;
    case ESF2: return &d.ESF2;
    default: return nullptr;
  }
}

double* real_field(DeckValues& d, int f) {
  switch (f) {
    case HR1: return &d.HR1;
    case HR2: return &d.HR2;
    case RHO: return &d.RHO;
    case HR1TR: return &d.HR1TR;
    case HR2TR: return &d.HR2TR;
    case RHOTR: return &d.RHOTR;
    case TA: return &d.TA;
    case TF: return &d.TF;
    case SRVR1: return &d.SRVR1;
    case SRVR2: return &d.SRVR2;
    case SR: return &d.SR;
    case TYPE1: return &d.TYPE1;
    case RSV1: return &d.RSV1;
    case POWER: return &d.POWER;
    default:
      if (f >= TLOOK1 && f < FIELD_COUNT) return &d.TLOOK[static_cast<size_t>(f - TLOOK1)];
      return nullptr;
  }
}

Deck DeckReader::run() {
  Deck d = read();
  d.work = sc_.work();
  return d;
}

Deck DeckReader::read() {
  if (sc_.line_count() == 0 || sc_.blank()) {
    problem(0, 0, "", "",
            std::string(sc_.line_count() == 0 ? "the input deck is empty: "
                                              : "the input deck holds only blank lines: ") +
                kDeckShape);
    return std::move(deck_);
  }
  if (!read_header()) return std::move(deck_);
  DeckValues previous{};
  for (int number = 1;; ++number) {
    DeckRecord rec;
    rec.design.number = number;
    rec.design.read = previous;
    lost_ = LostLayout{};
    bool lost = !read_record(rec);
    if (!complete_) break;
    previous = rec.design.read;
    apply_control(statements_, rec);
    rec.design.stored = stored_values(rec.design.read);
    deck_.designs.push_back(std::move(rec));
    if (lost && !find_next_design(number, previous)) break;
  }
  return std::move(deck_);
}

void DeckReader::problem(int design, int line, std::string field, std::string value,
                         std::string allowed) {
  statements_.problem(design, line, std::move(field), std::move(value), std::move(allowed));
}

bool DeckReader::read_header() {
  DeckHeader& h = deck_.header;
  const char* names[4] = {"NHD1", "NHD2", "XHD1", "XHD2"};
  {
    Statement st(sc_);
    for (int i = 0; i < 4; ++i) {
      FieldSource src;
      std::string why;
      Item r = i < 2 ? numeric_item(st, i == 0 ? h.NHD1 : h.NHD2, src, why)
                     : numeric_item(st, i == 2 ? h.XHD1 : h.XHD2, src, why);
      if (r == Item::End) {
        problem(0, sc_.line(), names[i], "",
                "the deck ends inside its first header statement (four values NHD1, NHD2, "
                "XHD1, XHD2, then a title statement, then the design records)");
        return false;
      }
      if (r == Item::Unreadable) problem(0, src.line, names[i], echoed(src.text), why);
    }
  }
  Statement st(sc_);
  DeckScanner::Token t;
  Item r = st.take(t);
  if (r == Item::End) {
    problem(0, sc_.line(), "TITLE", "",
            "the deck ends before its title statement (the second header statement)");
    return false;
  }
  if (r == Item::Unreadable) {
    problem(0, t.line, "TITLE", echoed(t.text), t.fault);
  } else if (r == Item::Read) {
    std::string title = t.text.substr(0, 80);
    title.resize(80, ' ');
    h.TITLE = title;
  }
  return true;
}

// One field of the record; an unreadable value is reported (reported_ keeps its problem).
Item DeckReader::read_field(Statement& st, DeckRecord& rec, int f) {
  DeckValues& d = rec.design.read;
  FieldSource& src = rec.source[static_cast<size_t>(f)];
  std::string why;
  Item r;
  if (int* iv = int_field(d, f)) {
    r = numeric_item(st, *iv, src, why);
  } else {
    r = numeric_item(st, *real_field(d, f), src, why);
  }
  if (r == Item::Unreadable) {
    reported_[static_cast<size_t>(f)] = static_cast<int>(deck_.problems.size());
    const std::string word = upper(src.text);
    if (f == NSIM && find_statement(word)) {
      why += "; a " + word +
             " statement belongs right after a design record and its spending statements";
    }
    if (f == NSIM) why += statements_.take_note(src.line);
    problem(rec.design.number, src.line, field_name(f), echoed(src.text), why);
  }
  if (f == NSIM) statements_.take_note(0);  // a note serves only the record right after it
  return r;
}

// The values that decide the layout of the design: first the record's own length, then the
// number of evaluated sets and what each boundary design reads. False when one is not usable;
// lost_ then says what is still known.
bool DeckReader::layout_known(DeckRecord& rec) {
  const DeckValues& d = rec.design.read;
  auto layout_value = [&](int f, bool ok, const char* allowed) {
    FieldSource& src = rec.source[static_cast<size_t>(f)];
    if (src.state == FieldSource::Unreadable) return false;
    if (ok) return true;
    reported_[static_cast<size_t>(f)] = static_cast<int>(deck_.problems.size());
    problem(rec.design.number, src.line ? src.line : rec.design.first_line, field_name(f),
            shown_value(rec, f), allowed);
    return false;
  };
  const bool itime_ok = layout_value(ITIME, d.ITIME >= 1 && d.ITIME <= 3, kItimeAllowed);
  const bool look_ok = layout_value(LOOK, d.LOOK >= 1 && d.LOOK <= NMAXA, kLookAllowed);
  const bool esf1_ok = layout_value(ESF1, d.ESF1 >= 1, kSpendingAllowed);
  const bool esf2_ok = layout_value(ESF2, d.ESF2 >= 1, kSpendingAllowed);
  if (itime_ok && look_ok && esf1_ok && esf2_ok) return true;
  const int first = !itime_ok ? ITIME : !look_ok ? LOOK : !esf1_ok ? ESF1 : ESF2;
  lost_.problem = reported_[static_cast<size_t>(first)];
  lost_.unchecked = itime_ok && look_ok ? "its spending statements"
                                        : "its analysis times and spending statements";
  lost_.look_known = look_ok;
  lost_.look = look_ok ? d.LOOK : 0;
  lost_.nsets = itime_ok ? (d.ITIME == 1 ? 2 : 1) : 0;
  lost_.codes = {esf1_ok ? d.ESF1 : 0, esf2_ok ? d.ESF2 : 0};
  rec.times_checkable = itime_ok && look_ok;
  rec.spending_slots_checkable = 0;
  return false;
}

// Reads one record and its extra statements. complete_ tells whether a whole record was
// read; the result is false when the layout of the design was lost (lost_ says where).
bool DeckReader::read_record(DeckRecord& rec) {
  complete_ = false;
  Statement st(sc_);
  reported_.fill(-1);
  for (int f = 0; f < 26; ++f) {
    if (read_field(st, rec, f) == Item::End) return end_inside(st, rec);
    if (f == 0) rec.design.first_line = rec.source[0].line;
  }
  const bool lost = !layout_known(rec);
  if (lost) {
    complete_ = true;
    if (!lost_.look_known) {
      // The analysis times are read while looking for the next design.
      lost_.after = sc_.line_index();
      walk_times(st);
      return false;
    }
  }
  for (int k = 0; k < rec.design.read.LOOK; ++k) {
    if (read_field(st, rec, TLOOK1 + k) == Item::End) return end_inside(st, rec);
  }
  complete_ = true;
  if (lost) {
    lost_.after = sc_.line_index();
    walk_slots(lost_.after, 0);
    return false;
  }
  return read_extras(rec);
}

bool DeckReader::end_inside(const Statement& st, DeckRecord& rec) {
  if (st.touched()) {
    deck_.incomplete_record_line = rec.source[0].line ? rec.source[0].line : sc_.line();
    deck_.incomplete_record_number = rec.design.number;
  }
  complete_ = false;
  return false;
}

}  // namespace kestrel::deck
