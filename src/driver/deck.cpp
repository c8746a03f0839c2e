#include "driver/deck.h"

#include <cstdio>
#include <limits>
#include <type_traits>

#include "driver/deck_scanner.h"

namespace kestrel::driver {
namespace {

constexpr const char* kScalarNames[26] = {
    "NSIM", "ITIME", "CPL", "CPRSK", "CMPST", "MSSG", "HR1", "HR2", "RHO", "HR1TR", "HR2TR",
    "RHOTR", "TA", "TF", "SRVR1", "SRVR2", "SR", "CNSRD", "TYPE1", "RSV1", "POWER", "DF",
    "LOOK", "CRIVL", "ESF1", "ESF2"};

enum class Item { Read, Kept, Unreadable, End };

// One read statement: items are taken one after the other; after a slash every further item
// is left unchanged; the end of the deck ends it.
class Statement {
 public:
  explicit Statement(DeckScanner& sc) : sc_(sc) { sc_.begin_statement(); }

  Item take(DeckScanner::Token& t) {
    if (end_) return Item::End;
    if (slashed_) {
      t = DeckScanner::Token{};
      t.kind = DeckScanner::Kind::Slash;
      t.line = slash_line_;
      return Item::Kept;
    }
    t = sc_.next();
    switch (t.kind) {
      case DeckScanner::Kind::End:
        end_ = true;
        return Item::End;
      case DeckScanner::Kind::Slash:
        slashed_ = true;
        slash_line_ = t.line;
        return Item::Kept;
      case DeckScanner::Kind::Null:
        return Item::Kept;
      case DeckScanner::Kind::Value:
        break;
    }
    if (!t.fault.empty()) return Item::Unreadable;
    touched_ = true;
    return Item::Read;
  }
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
  }
  if (!ok) {
    src.state = FieldSource::Unreadable;
    return Item::Unreadable;
  }
  src.state = FieldSource::Read;
  return Item::Read;
}

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

std::string ep_name(int ep) { return ep == 0 ? "EP1" : "EP2"; }

std::string extra_suffix(int ep, int set, int nsets) {
  std::string s = " of " + ep_name(ep) + " (ESF" + std::to_string(ep + 1);
  if (nsets == 2) s += set == 0 ? ", EP1-driven evaluation" : ", EP2-driven evaluation";
  return s + ")";
}

class Reader {
 public:
  explicit Reader(std::string_view text) : sc_(text) {}

  Deck run() {
    if (!read_header()) return std::move(deck_);
    DeckValues previous{};
    for (int number = 1;; ++number) {
      DeckRecord rec;
      rec.design.number = number;
      rec.design.read = previous;
      bool go_on = read_record(rec);
      if (!complete_) break;
      rec.design.stored = stored_values(rec.design.read);
      previous = rec.design.read;
      deck_.designs.push_back(std::move(rec));
      if (!go_on) break;
    }
    return std::move(deck_);
  }

 private:
  void problem(int design, int line, std::string field, std::string value, std::string allowed) {
    deck_.problems.push_back(
        DeckProblem{design, line, std::move(field), std::move(value), std::move(allowed)});
  }

  bool read_header() {
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
        if (r == Item::Unreadable) problem(0, src.line, names[i], src.text, why);
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
      problem(0, t.line, "TITLE", t.text, t.fault);
    } else if (r == Item::Read) {
      std::string title = t.text.substr(0, 80);
      title.resize(80, ' ');
      h.TITLE = title;
    }
    return true;
  }

  // Reads one record and its extra statements. complete_ tells whether a whole record was
  // read; the result tells whether reading can go on after it.
  bool read_record(DeckRecord& rec) {
    complete_ = false;
    DeckValues& d = rec.design.read;
    const int number = rec.design.number;
    Statement st(sc_);
    bool layout_known = true;
    auto read_field = [&](int f) -> Item {
      FieldSource& src = rec.source[static_cast<size_t>(f)];
      std::string why;
      Item r;
      if (int* iv = int_field(d, f)) {
        r = numeric_item(st, *iv, src, why);
      } else {
        r = numeric_item(st, *real_field(d, f), src, why);
      }
      if (r == Item::Unreadable) {
        problem(number, src.line, field_name(f), src.text, why);
        if (f == ITIME || f == LOOK || f == ESF1 || f == ESF2) layout_known = false;
      }
      return r;
    };
    for (int f = 0; f < 26; ++f) {
      if (read_field(f) == Item::End) return end_inside(st, rec);
      if (f == 0) rec.design.first_line = rec.source[0].line;
    }
    if (rec.source[LOOK].state == FieldSource::Unreadable) {
      rec.tlook_read = false;
      rec.extras_read = false;
      complete_ = true;
      return false;
    }
    if (d.LOOK < 1 || d.LOOK > NMAXA) {
      // The record's length is not known: report the design and read no further.
      rec.tlook_read = false;
      rec.extras_read = false;
      complete_ = true;
      problem(number, rec.source[LOOK].line, "LOOK", value_text(rec, LOOK),
              "the number of analyses must be 1 to 10; the rest of the deck is not read");
      rec.look_reported = true;
      return false;
    }
    for (int k = 0; k < d.LOOK; ++k) {
      if (read_field(TLOOK1 + k) == Item::End) return end_inside(st, rec);
    }
    complete_ = true;
    if (!layout_known) {
      rec.extras_read = false;
      return false;
    }
    return read_extras(rec);
  }

  bool end_inside(const Statement& st, DeckRecord& rec) {
    if (st.touched()) {
      deck_.incomplete_record_line = rec.source[0].line ? rec.source[0].line : sc_.line();
      deck_.incomplete_record_number = rec.design.number;
    }
    complete_ = false;
    return false;
  }

  static std::string value_text(const DeckRecord& rec, int f) {
    const FieldSource& s = rec.source[static_cast<size_t>(f)];
    return s.text;
  }

  // The extra statements of the boundary designs, in the order the designs run.
  bool read_extras(DeckRecord& rec) {
    const DeckValues& d = rec.design.read;
    const int number = rec.design.number;
    const int nsets = d.ITIME == 1 ? 2 : 1;
    for (int set = 0; set < nsets; ++set) {
      std::array<SpendingStatement, 2> pair;
      for (int ep = 0; ep < 2; ++ep) {
        SpendingStatement& sp = pair[static_cast<size_t>(ep)];
        sp.deck_code = ep == 0 ? d.ESF1 : d.ESF2;
        int code = sp.deck_code;
        if (code > 5) {
          Statement st(sc_);
          FieldSource src;
          std::string why;
          sp.replacement_code = code;  // a null value leaves the code as it was
          Item r = numeric_item(st, sp.replacement_code, src, why);
          if (r == Item::End) {
            missing_extra(rec, pair, "replacement spending code" + extra_suffix(ep, set, nsets),
                          "an integer 1 to 6 (the ESF code is above 5)");
            return false;
          }
          sp.replacement_line = src.line;
          if (r == Item::Unreadable) {
            problem(number, src.line, "replacement spending code" + extra_suffix(ep, set, nsets),
                    src.text, why);
            rec.extras_read = false;
            rec.design.spending.push_back(pair);
            return false;
          }
          code = sp.replacement_code;
        }
        if (code == 3 || code == 4) {
          Statement st(sc_);
          FieldSource src;
          std::string why;
          Item r = numeric_item(st, sp.phi, src, why);
          if (r == Item::End) {
            missing_extra(rec, pair, "phi" + extra_suffix(ep, set, nsets),
                          "a real value, the parameter of spending family " +
                              std::to_string(code));
            return false;
          }
          sp.phi_line = src.line;
          sp.has_phi = r == Item::Read;
          if (r == Item::Unreadable)
            problem(number, src.line, "phi" + extra_suffix(ep, set, nsets), src.text, why);
        } else if (code == 5) {
          Statement st(sc_);
          sp.cumulative.assign(static_cast<size_t>(d.LOOK), std::numeric_limits<double>::quiet_NaN());
          for (int k = 0; k < d.LOOK; ++k) {
            FieldSource src;
            std::string why;
            double v = std::numeric_limits<double>::quiet_NaN();
            Item r = numeric_item(st, v, src, why);
            if (r == Item::End) {
              missing_extra(rec, pair,
                            "cumulative alpha(" + std::to_string(k + 1) + ")" +
                                extra_suffix(ep, set, nsets),
                            std::to_string(d.LOOK) +
                                " cumulative alpha values, increasing, the last equal to TYPE1");
              return false;
            }
            if (k == 0) sp.cumulative_line = src.line;
            if (r == Item::Unreadable) {
              problem(number, src.line,
                      "cumulative alpha(" + std::to_string(k + 1) + ")" +
                          extra_suffix(ep, set, nsets),
                      src.text, why);
              v = std::numeric_limits<double>::quiet_NaN();
            }
            sp.cumulative[static_cast<size_t>(k)] = v;
          }
        }
      }
      rec.design.spending.push_back(pair);
    }
    return true;
  }

  void missing_extra(DeckRecord& rec, const std::array<SpendingStatement, 2>& pair,
                     std::string field, std::string expected) {
    problem(rec.design.number, sc_.line(), std::move(field), "",
            "the deck ends inside the extra statements of this design; expected " +
                std::move(expected));
    rec.extras_read = false;
    rec.design.spending.push_back(pair);
  }

  DeckScanner sc_;
  Deck deck_;
  bool complete_ = false;
};

}  // namespace

std::string field_name(int field) {
  if (field >= 0 && field < 26) return kScalarNames[field];
  if (field >= TLOOK1 && field < FIELD_COUNT) return "TLOOK(" + std::to_string(field - TLOOK1 + 1) + ")";
  return "?";
}

std::string DeckProblem::message(std::string_view deck_name) const {
  std::string s(deck_name);
  s += ':' + std::to_string(line) + ": ";
  s += design > 0 ? "design " + std::to_string(design) + ": " : std::string("header: ");
  s += field;
  if (!value.empty()) s += " = " + value;
  s += ": " + allowed;
  return s;
}

DeckValues stored_values(const DeckValues& read) {
  DeckValues s = read;
  s.HR1 = 1.0 / read.HR1;
  s.HR2 = 1.0 / read.HR2;
  s.HR1TR = 1.0 / read.HR1TR;
  s.HR2TR = 1.0 / read.HR2TR;
  return s;
}

Deck read_deck(std::string_view text) { return Reader(text).run(); }

}  // namespace kestrel::driver
