// The spending statements of a design's boundary designs, in the order the designs run: a
// replacement code after a code above 5, then one phi value (codes 3 and 4) or K cumulative
// alpha values (code 5).
#include <limits>

#include "deck/deck_reader.h"

namespace kestrel::deck {

std::string extra_suffix(int ep, int set, int nsets) {
  std::string s = std::string(" of ") + (ep == 0 ? "EP1" : "EP2") + " (ESF" + std::to_string(ep + 1);
  if (nsets == 2) s += set == 0 ? ", EP1-driven evaluation" : ", EP2-driven evaluation";
  return s + ")";
}

Follow follow_of(int code) {
  if (code == 3 || code == 4) return OneValue;
  if (code == 5) return KValues;
  return Nothing;
}

// The extra statements of the boundary designs, then the design's optional statements. False
// when the layout of the design was lost.
bool DeckReader::read_extras(DeckRecord& rec) {
  const DeckValues& d = rec.design.read;
  const int nsets = d.ITIME == 1 ? 2 : 1;
  for (int set = 0; set < nsets; ++set) {
    std::array<SpendingStatement, 2> pair;
    for (int ep = 0; ep < 2; ++ep) {
      SpendingStatement& sp = pair[static_cast<size_t>(ep)];
      sp.deck_code = ep == 0 ? d.ESF1 : d.ESF2;
      int code = sp.deck_code;
      Extra e = Extra::Read;
      if (code > 5) e = read_replacement(rec, pair, set, ep, code);
      if (e == Extra::Read && (code == 3 || code == 4)) e = read_phi(rec, pair, set, ep, code);
      if (e == Extra::Read && code == 5) e = read_cumulative(rec, pair, set, ep);
      if (e == Extra::Ended) return true;
      if (e == Extra::Lost) return false;
    }
    rec.design.spending.push_back(pair);
  }
  read_statements(statements_, rec.design);
  return true;
}

// The replacement of a spending code above 5, 1 to 6, into `code`.
DeckReader::Extra DeckReader::read_replacement(DeckRecord& rec,
                                               std::array<SpendingStatement, 2>& pair, int set,
                                               int ep, int& code) {
  const DeckValues& d = rec.design.read;
  const int nsets = d.ITIME == 1 ? 2 : 1;
  const int number = rec.design.number;
  SpendingStatement& sp = pair[static_cast<size_t>(ep)];
  Statement st(sc_);
  FieldSource src;
  std::string why;
  sp.replacement_code = code;  // a null value leaves the code as it was
  const std::string field = "replacement spending code" + extra_suffix(ep, set, nsets);
  Item r = numeric_item(st, sp.replacement_code, src, why);
  if (r == Item::End) {
    missing_extra(rec, pair, field, "an integer 1 to 6 (the ESF code is above 5)");
    return Extra::Ended;
  }
  sp.replacement_line = src.line;
  if (r != Item::Unreadable && sp.replacement_code >= 1 && sp.replacement_code <= 6) {
    code = sp.replacement_code;
    return Extra::Read;
  }
  // What this boundary design reads next is not known.
  lost_.problem = static_cast<int>(deck_.problems.size());
  if (r == Item::Unreadable) {
    problem(number, src.line, field, echoed(src.text), why);
  } else {
    std::string shown = std::to_string(sp.replacement_code);
    if (r == Item::Kept) shown += " (left unchanged by a null value or a slash)";
    problem(number, src.line, field, shown,
            "a spending code above 5 is followed by a statement with its replacement, 1 to 6");
  }
  lost_.unchecked = "its further spending statements";
  lost_.look = d.LOOK;
  lost_.nsets = nsets;
  lost_.codes = {d.ESF1, d.ESF2};
  lost_.first_slot = 2 * set + ep;
  lost_.follow_unknown = true;
  rec.spending_slots_checkable = 2 * set + ep;
  rec.design.spending.push_back(pair);
  lost_.after = sc_.line_index();
  walk_slots(lost_.after, lost_.first_slot);
  return Extra::Lost;
}

// The parameter of spending family 3 or 4.
DeckReader::Extra DeckReader::read_phi(DeckRecord& rec, std::array<SpendingStatement, 2>& pair,
                                       int set, int ep, int code) {
  const int nsets = rec.design.read.ITIME == 1 ? 2 : 1;
  SpendingStatement& sp = pair[static_cast<size_t>(ep)];
  Statement st(sc_);
  FieldSource src;
  std::string why;
  const std::string field = "phi" + extra_suffix(ep, set, nsets);
  Item r = numeric_item(st, sp.phi, src, why);
  if (r == Item::End) {
    missing_extra(rec, pair, field,
                  "a real value, the parameter of spending family " + std::to_string(code));
    return Extra::Ended;
  }
  sp.phi_line = src.line;
  sp.has_phi = r == Item::Read;
  if (r == Item::Unreadable) {
    problem(rec.design.number, src.line, field, echoed(src.text), why);
    rec.reported_extras.push_back(field);
  }
  return Extra::Read;
}

// The K cumulative alpha values of code 5.
DeckReader::Extra DeckReader::read_cumulative(DeckRecord& rec,
                                              std::array<SpendingStatement, 2>& pair, int set,
                                              int ep) {
  const DeckValues& d = rec.design.read;
  const int nsets = d.ITIME == 1 ? 2 : 1;
  SpendingStatement& sp = pair[static_cast<size_t>(ep)];
  Statement st(sc_);
  sp.cumulative.assign(static_cast<size_t>(d.LOOK), std::numeric_limits<double>::quiet_NaN());
  for (int k = 0; k < d.LOOK; ++k) {
    FieldSource src;
    std::string why;
    double v = std::numeric_limits<double>::quiet_NaN();
    const std::string field =
        "cumulative alpha(" + std::to_string(k + 1) + ")" + extra_suffix(ep, set, nsets);
    Item r = numeric_item(st, v, src, why);
    if (r == Item::End) {
      missing_extra(rec, pair, field,
                    std::to_string(d.LOOK) +
                        " cumulative alpha values, increasing, the last equal to TYPE1");
      return Extra::Ended;
    }
    if (k == 0) sp.cumulative_line = src.line;
    if (r == Item::Unreadable) {
      problem(rec.design.number, src.line, field, echoed(src.text), why);
      rec.reported_extras.push_back(field);
      v = std::numeric_limits<double>::quiet_NaN();
    }
    sp.cumulative[static_cast<size_t>(k)] = v;
  }
  return Extra::Read;
}

// The deck ends inside the extra statements: a bad deck, and nothing follows to be checked.
void DeckReader::missing_extra(DeckRecord& rec, const std::array<SpendingStatement, 2>& pair,
                               std::string field, std::string expected) {
  problem(rec.design.number, sc_.line(), std::move(field), "",
          "the deck ends inside the extra statements of this design; expected " +
              std::move(expected));
  rec.spending_slots_checkable = static_cast<int>(rec.design.spending.size()) * 2;
  rec.design.spending.push_back(pair);
}

}  // namespace kestrel::deck
