#include "deck/deck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <tuple>
#include <type_traits>

#include "common/limits.h"
#include "deck/deck_scanner.h"

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
      sc_.count_item();
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
    if (ok && v == 0) v = 0.0;  // -0 is 0: reports show "0.00", not "-0.00"
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

// What a boundary design reads after its replacement code: nothing (codes 1, 2, 6), one phi
// value (3, 4) or K cumulative values (5).
enum Follow { Nothing = 0, OneValue = 1, KValues = 2 };
Follow follow_of(int code) {
  if (code == 3 || code == 4) return OneValue;
  if (code == 5) return KValues;
  return Nothing;
}

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

class Reader {
 public:
  explicit Reader(std::string_view text) : sc_(text) {}

  Deck run() {
    Deck d = read();
    d.work = sc_.work();
    return d;
  }

 private:
  Deck read() {
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
      apply_control(rec);
      rec.design.stored = stored_values(rec.design.read);
      deck_.designs.push_back(std::move(rec));
      if (lost && !find_next_design(number, previous)) break;
    }
    return std::move(deck_);
  }

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

  // Reads one record and its extra statements. complete_ tells whether a whole record was
  // read; the result is false when the layout of the design was lost (lost_ says where).
  bool read_record(DeckRecord& rec) {
    complete_ = false;
    DeckValues& d = rec.design.read;
    const int number = rec.design.number;
    Statement st(sc_);
    std::array<int, FIELD_COUNT> reported;
    reported.fill(-1);
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
        reported[static_cast<size_t>(f)] = static_cast<int>(deck_.problems.size());
        std::string upper;
        for (char c : src.text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (f == NSIM && (upper == "DROPOUT" || upper == "ACCRUAL" || upper == "MODEL" ||
                          upper == "CONTROL" || upper == "HAZARDS" || upper == "FUTILITY")) {
          why += "; a " + upper +
                 " statement belongs right after a design record and its spending statements";
        }
        problem(number, src.line, field_name(f), echoed(src.text), why);
      }
      return r;
    };
    for (int f = 0; f < 26; ++f) {
      if (read_field(f) == Item::End) return end_inside(st, rec);
      if (f == 0) rec.design.first_line = rec.source[0].line;
    }

    // The values that decide the layout of the design: first the record's own length, then the
    // number of evaluated sets and what each boundary design reads.
    auto layout_value = [&](int f, bool ok, const char* allowed) {
      FieldSource& src = rec.source[static_cast<size_t>(f)];
      if (src.state == FieldSource::Unreadable) return false;
      if (ok) return true;
      reported[static_cast<size_t>(f)] = static_cast<int>(deck_.problems.size());
      problem(number, src.line ? src.line : rec.design.first_line, field_name(f),
              shown_value(rec, f), allowed);
      return false;
    };
    const bool itime_ok = layout_value(ITIME, d.ITIME >= 1 && d.ITIME <= 3, kItimeAllowed);
    const bool look_ok = layout_value(LOOK, d.LOOK >= 1 && d.LOOK <= NMAXA, kLookAllowed);
    const bool esf1_ok = layout_value(ESF1, d.ESF1 >= 1, kSpendingAllowed);
    const bool esf2_ok = layout_value(ESF2, d.ESF2 >= 1, kSpendingAllowed);
    const bool lost = !(itime_ok && look_ok && esf1_ok && esf2_ok);
    if (lost) {
      const int first = !itime_ok ? ITIME : !look_ok ? LOOK : !esf1_ok ? ESF1 : ESF2;
      lost_.problem = reported[static_cast<size_t>(first)];
      lost_.unchecked = itime_ok && look_ok ? "its spending statements"
                                            : "its analysis times and spending statements";
      lost_.look_known = look_ok;
      lost_.look = look_ok ? d.LOOK : 0;
      lost_.nsets = itime_ok ? (d.ITIME == 1 ? 2 : 1) : 0;
      lost_.codes = {esf1_ok ? d.ESF1 : 0, esf2_ok ? d.ESF2 : 0};
      rec.times_checkable = itime_ok && look_ok;
      rec.spending_slots_checkable = 0;
      complete_ = true;
      if (!look_ok) {
        // The analysis times are read while looking for the next design.
        lost_.after = sc_.line_index();
        walk_times(st);
        return false;
      }
    }
    for (int k = 0; k < d.LOOK; ++k) {
      if (read_field(TLOOK1 + k) == Item::End) return end_inside(st, rec);
    }
    complete_ = true;
    if (lost) {
      lost_.after = sc_.line_index();
      walk_slots(lost_.after, 0);
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
          const std::string field = "replacement spending code" + extra_suffix(ep, set, nsets);
          Item r = numeric_item(st, sp.replacement_code, src, why);
          if (r == Item::End) {
            missing_extra(rec, pair, field, "an integer 1 to 6 (the ESF code is above 5)");
            return true;
          }
          sp.replacement_line = src.line;
          if (r == Item::Unreadable || sp.replacement_code < 1 || sp.replacement_code > 6) {
            // What this boundary design reads next is not known.
            lost_.problem = static_cast<int>(deck_.problems.size());
            if (r == Item::Unreadable) {
              problem(number, src.line, field, echoed(src.text), why);
            } else {
              std::string shown = std::to_string(sp.replacement_code);
              if (r == Item::Kept) shown += " (left unchanged by a null value or a slash)";
              problem(number, src.line, field, shown,
                      "a spending code above 5 is followed by a statement with its replacement, "
                      "1 to 6");
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
            return false;
          }
          code = sp.replacement_code;
        }
        if (code == 3 || code == 4) {
          Statement st(sc_);
          FieldSource src;
          std::string why;
          const std::string field = "phi" + extra_suffix(ep, set, nsets);
          Item r = numeric_item(st, sp.phi, src, why);
          if (r == Item::End) {
            missing_extra(rec, pair, field,
                          "a real value, the parameter of spending family " + std::to_string(code));
            return true;
          }
          sp.phi_line = src.line;
          sp.has_phi = r == Item::Read;
          if (r == Item::Unreadable) {
            problem(number, src.line, field, echoed(src.text), why);
            rec.reported_extras.push_back(field);
          }
        } else if (code == 5) {
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
              return true;
            }
            if (k == 0) sp.cumulative_line = src.line;
            if (r == Item::Unreadable) {
              problem(number, src.line, field, echoed(src.text), why);
              rec.reported_extras.push_back(field);
              v = std::numeric_limits<double>::quiet_NaN();
            }
            sp.cumulative[static_cast<size_t>(k)] = v;
          }
        }
      }
      rec.design.spending.push_back(pair);
    }
    read_entry_loss(rec);
    return true;
  }

  // A DROPOUT or ACCRUAL statement written after the last value of a line would be skipped with
  // the rest of the line, as a comment, and the design would run without it: it is refused.
  void statement_in_comment(int number) {
    const std::string_view rest = sc_.rest_of_line();
    size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t' || rest[i] == ',')) ++i;
    std::string w;
    while (i < rest.size() && std::isalpha(static_cast<unsigned char>(rest[i])))
      w += static_cast<char>(std::toupper(static_cast<unsigned char>(rest[i++])));
    if (w != "DROPOUT" && w != "ACCRUAL") return;
    problem(number, sc_.line(), w, "",
            "written after the last value of the line, it would be read as a comment and the "
            "design would run without it; begin the " + w + " statement on a new line");
  }

  // The word a statement after the current one starts with, upper-cased, when it is DROPOUT or
  // ACCRUAL; empty otherwise. A design record starts with a number, so no deck without these
  // statements has such a line where a design record may start.
  std::string keyword_ahead() {
    const DeckScanner::Position here = sc_.position();
    sc_.begin_statement();
    const DeckScanner::Token t = sc_.next();
    sc_.seek(here);
    if (t.kind != DeckScanner::Kind::Value || t.quoted || !t.fault.empty()) return {};
    std::string w;
    for (char c : t.text) w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return w == "DROPOUT" || w == "ACCRUAL" || w == "MODEL" || w == "CONTROL" || w == "HAZARDS" ||
                   w == "FUTILITY"
               ? w
               : std::string();
  }

  // One real item of a DROPOUT or ACCRUAL statement. `kept_ok`: a null value or a slash leaves
  // the default in place; otherwise the value must be given. False when the item has no usable
  // value (the problem is recorded); `ended` is set when the deck ends first.
  bool entry_loss_item(Statement& st, int number, const std::string& field, double& v,
                       bool kept_ok, bool& ended, int& line) {
    FieldSource src;
    std::string why;
    const Item r = numeric_item(st, v, src, why);
    line = src.line ? src.line : sc_.line();
    if (r == Item::End) {
      ended = true;
      problem(number, sc_.line(), field, "", "the deck ends inside this statement");
      return false;
    }
    if (r == Item::Unreadable) {
      problem(number, src.line, field, echoed(src.text), why);
      return false;
    }
    if (r == Item::Kept && !kept_ok) {
      problem(number, src.line, field, "(a null value or a slash)", "the value must be given");
      return false;
    }
    return true;
  }

  // DROPOUT HAZARD hc [ht] | DROPOUT PROBABILITY t pc [pt] and ACCRUAL n e(1..n) r(1..n), each
  // at most once, after the design record and its spending statements.
  void read_entry_loss(DeckRecord& rec) {
    Design& g = rec.design;
    const int number = g.number;
    EntryAndLoss& el = g.entry_loss;
    EntryAndLossStatements& how = g.entry_loss_statements;
    for (std::string word = (statement_in_comment(number), keyword_ahead()); !word.empty();
         word = (statement_in_comment(number), keyword_ahead())) {
      Statement st(sc_);
      DeckScanner::Token key;
      st.take(key);
      const int line = key.line;
      bool ended = false;
      int at = line;
      if (word == "MODEL" || word == "CONTROL") {
        if (!read_model_control(word, st, g, line)) return;
        continue;
      }
      if (word == "HAZARDS") {
        if (!read_hazards(st, g, line)) return;
        continue;
      }
      if (word == "FUTILITY") {
        if (!read_futility(g, st, line)) return;
        continue;
      }
      if (word == "DROPOUT") {
        if (how.dropout_given) {
          problem(number, line, "DROPOUT", "",
                  "a design takes one DROPOUT statement; the first is on line " +
                      std::to_string(how.dropout_line));
        }
        const bool again = how.dropout_given;
        DeckScanner::Token mode;
        const Item r = st.take(mode);
        std::string m;
        for (char c : mode.text) m += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const char* const kModes =
            "DROPOUT is followed by HAZARD and the hazards of loss per time unit of the control "
            "and the treatment arm, or by PROBABILITY, a time t and the probabilities of being "
            "lost by t of the control and the treatment arm (one value: both arms)";
        if (r == Item::End) {
          problem(number, sc_.line(), "DROPOUT", "", std::string("the deck ends inside this statement; ") + kModes);
          return;
        }
        if (r != Item::Read || mode.quoted || (m != "HAZARD" && m != "PROBABILITY")) {
          problem(number, mode.line ? mode.line : line, "DROPOUT", echoed(mode.text), kModes);
          continue;
        }
        const bool prob = m == "PROBABILITY";
        double t = 1.0;
        bool ok = true;
        if (prob) {
          ok = entry_loss_item(st, number, "DROPOUT time", t, false, ended, at);
          if (ended) return;
          if (ok && !(t > 0.0 && std::isfinite(t))) {
            problem(number, at, "DROPOUT time", show_real(t),
                    "the time by which the probabilities of loss are stated must be above 0");
            ok = false;
          }
        }
        std::array<double, 2> v{std::nan(""), std::nan("")};
        for (int arm = 0; arm < 2; ++arm) {
          const std::string field = std::string("DROPOUT ") + (prob ? "probability" : "hazard") +
                                    (arm == 0 ? " of the control arm" : " of the treatment arm");
          double x = arm == 1 ? v[0] : std::nan("");
          if (arm == 1) {
            // One value on the statement's line: both arms. The treatment arm's value is never
            // taken from a later line (that would be the next design's NSIM).
            const DeckScanner::Position here = sc_.position();
            const DeckScanner::Token ahead = sc_.next();
            sc_.seek(here);
            if (ahead.kind == DeckScanner::Kind::End || ahead.line > at) {
              v[1] = v[0];
              continue;
            }
          }
          if (!entry_loss_item(st, number, field, x, arm == 1, ended, at)) {
            if (ended) return;
            ok = false;
            continue;
          }
          if (arm == 1 && std::isnan(x)) continue;  // left as the control arm's (already refused)
          const bool fine = prob ? (x >= 0.0 && x < 1.0) : (x >= 0.0 && std::isfinite(x));
          if (!fine) {
            problem(number, at, field, show_real(x),
                    prob ? "a probability of loss must lie in [0, 1)"
                         : "a hazard of loss must be 0 or more (per time unit of TA and TF)");
            ok = false;
          }
          v[static_cast<size_t>(arm)] = x;
        }
        if (ok && !again) {
          how.dropout_given = true;
          how.dropout_line = line;
          how.dropout_as_probability = prob;
          how.dropout_time = prob ? t : 0.0;
          how.dropout_value = v;
          for (int arm = 0; arm < 2; ++arm) {
            el.dropout[static_cast<size_t>(arm)] =
                prob ? -std::log1p(-v[static_cast<size_t>(arm)]) / t : v[static_cast<size_t>(arm)];
          }
          // A loss so strong that no subject is left in the study before its end leaves no
          // information to compute (the fractions would be 0/0): refused here, naming the loss.
          const double end = g.read.TA + g.read.TF;
          for (int arm = 0; arm < 2 && std::isfinite(end) && end > 0.0; ++arm) {
            const double h = el.dropout[static_cast<size_t>(arm)];
            if (h * end <= 700.0) continue;
            const std::string arm_name = arm == 0 ? "control" : "treatment";
            problem(number, line,
                    prob ? "DROPOUT time" : "DROPOUT hazard of the " + arm_name + " arm",
                    show_real(prob ? t : h),
                    "the hazard of loss of the " + arm_name + " arm (" + show_real(h) +
                        " per time unit) loses every subject long before the end of the study "
                        "at TA + TF = " + show_real(end) +
                        " (exp(-hazard (TA + TF)) is below 1e-300), leaving no information to "
                        "compute; the hazard times TA + TF must be at most 700");
            el.dropout = {0.0, 0.0};
            break;
          }
        } else if (!again) {
          how.dropout_given = true;
          how.dropout_line = line;
        }
        continue;
      }
      // ACCRUAL n e(1..n) r(1..n)
      if (how.accrual_given) {
        problem(number, line, "ACCRUAL", "",
                "a design takes one ACCRUAL statement; the first is on line " +
                    std::to_string(how.accrual_line));
      }
      const bool again = how.accrual_given;
      how.accrual_given = true;
      if (!again) how.accrual_line = line;
      double count = 0;
      if (!entry_loss_item(st, number, "ACCRUAL number of pieces", count, false, ended, at)) {
        if (ended) return;
        continue;
      }
      if (!(count >= 1 && count <= NMAXA && count == std::floor(count))) {
        problem(number, at, "ACCRUAL number of pieces", show_real(count),
                "the accrual period TA is split into 1 to 10 pieces");
        continue;
      }
      const int n = static_cast<int>(count);
      std::vector<double> ends(static_cast<size_t>(n)), rates(static_cast<size_t>(n));
      bool ok = true;
      double prev = 0.0;
      bool prev_ok = true;
      for (int p = 0; p < n; ++p) {
        const std::string field = "ACCRUAL end(" + std::to_string(p + 1) + ")";
        double e = 0;
        if (!entry_loss_item(st, number, field, e, false, ended, at)) {
          if (ended) return;
          ok = prev_ok = false;
          continue;
        }
        ends[static_cast<size_t>(p)] = e;
        if (!(std::isfinite(e) && e > (prev_ok ? prev : -HUGE_VAL) && e > 0.0)) {
          problem(number, at, field, show_real(e),
                  p == 0 ? "the end of the first accrual piece must be above 0"
                         : "the ends of the accrual pieces must increase");
          ok = false;
        }
        const double TA = g.read.TA;
        if (p == n - 1 && std::isfinite(e) && TA > 0.0 &&
            std::fabs(e - TA) > 1e-9 * std::max(1.0, TA)) {
          problem(number, at, field, show_real(e),
                  "the last accrual piece must end at the accrual time TA = " + show_real(TA));
          ok = false;
        }
        prev = e;
        prev_ok = std::isfinite(e);
      }
      for (int p = 0; p < n; ++p) {
        const std::string field = "ACCRUAL intensity(" + std::to_string(p + 1) + ")";
        double r = 0;
        if (!entry_loss_item(st, number, field, r, false, ended, at)) {
          if (ended) return;
          ok = false;
          continue;
        }
        rates[static_cast<size_t>(p)] = r;
        if (!(r > 0.0 && std::isfinite(r))) {
          problem(number, at, field, show_real(r),
                  "the relative intensity of an accrual piece must be above 0");
          ok = false;
        } else if (!(r >= 1e-100 && r <= 1e100)) {
          // Only the ratios of the intensities matter; sums of values near the largest double
          // overflow and leave the enrolled fractions not a number.
          problem(number, at, field, show_real(r),
                  "the relative intensity of an accrual piece must lie between 1e-100 and "
                  "1e100 (only the ratios of the intensities matter)");
          ok = false;
        }
      }
      if (ok && !again) {
        el.accrual_end = ends;
        el.accrual_intensity = rates;
      }
    }
  }

  // MODEL DEFAULT | MODEL EXACT, and CONTROL MEDIAN m1 [m2] | CONTROL HAZARD h1 [h2] |
  // CONTROL SURVIVAL t s1 [s2], each at most once. False when the deck ends inside it.
  bool read_model_control(const std::string& word, Statement& st, Design& g, int line) {
    const int number = g.number;
    ModelAndControl& mc = g.model_control;
    const bool model = word == "MODEL";
    const int first = model ? mc.model_line : mc.control_line;
    if (first) {
      problem(number, line, word, "",
              "a design takes one " + word + " statement; the first is on line " +
                  std::to_string(first));
    }
    const char* const kForms =
        model ? "MODEL is followed by DEFAULT (the model of the reports) or EXACT (the exact "
                "covariance under the alternative and exact bounds, as --exact)"
              : "CONTROL is followed by MEDIAN and the control-arm medians of EP1 and EP2, by "
                "HAZARD and their hazards per time unit, or by SURVIVAL, a time t and their "
                "survival probabilities at t (one value: both endpoints)";
    DeckScanner::Token form;
    const Item r = st.take(form);
    if (r == Item::End) {
      problem(number, sc_.line(), word, "", std::string("the deck ends inside this statement; ") + kForms);
      return false;
    }
    std::string f;
    for (char c : form.text) f += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (model) {
      if (r != Item::Read || form.quoted || (f != "DEFAULT" && f != "EXACT")) {
        problem(number, form.line ? form.line : line, "MODEL", echoed(form.text), kForms);
      } else if (!first) {
        mc.model = f == "EXACT" ? 2 : 1;
        mc.model_line = line;
      }
      return true;
    }
    if (r != Item::Read || form.quoted || (f != "MEDIAN" && f != "HAZARD" && f != "SURVIVAL")) {
      problem(number, form.line ? form.line : line, "CONTROL", echoed(form.text), kForms);
      return true;
    }
    const ControlForm how = f == "MEDIAN" ? ControlForm::Median
                            : f == "HAZARD" ? ControlForm::Hazard : ControlForm::SurvivalAt;
    bool ended = false, ok = true;
    int at = line;
    double t = 0;
    if (how == ControlForm::SurvivalAt) {
      ok = entry_loss_item(st, number, "CONTROL time", t, false, ended, at);
      if (ended) return false;
      if (ok && !(t > 0.0 && std::isfinite(t))) {
        problem(number, at, "CONTROL time", show_real(t),
                "the time of the control-arm survival probabilities must be above 0");
        ok = false;
      }
    }
    std::array<double, 2> v{std::nan(""), std::nan("")};
    for (int ep = 0; ep < 2; ++ep) {
      const std::string field = std::string("CONTROL ") +
                                (how == ControlForm::Median   ? "median"
                                 : how == ControlForm::Hazard ? "hazard"
                                                              : "survival") +
                                (ep == 0 ? " of EP1" : " of EP2");
      double x = ep == 1 ? v[0] : std::nan("");
      if (!entry_loss_item(st, number, field, x, ep == 1, ended, at)) {
        if (ended) return false;
        ok = false;
        continue;
      }
      if (ep == 1 && std::isnan(x)) continue;  // left as EP1's (already refused)
      const bool fine = how == ControlForm::SurvivalAt ? (x > 0.0 && x < 1.0)
                                                       : (x > 0.0 && std::isfinite(x));
      if (!fine) {
        problem(number, at, field, show_real(x),
                how == ControlForm::SurvivalAt
                    ? "a control-arm survival probability must lie strictly between 0 and 1"
                    : how == ControlForm::Median ? "a control-arm median must be above 0 (in time units of TA and TF)"
                                                 : "a control-arm hazard must be above 0 (per time unit of TA and TF)");
        ok = false;
      }
      v[static_cast<size_t>(ep)] = x;
    }
    if (!first) mc.control_line = line;
    if (ok && !first) {
      mc.control = how;
      mc.control_time = t;
      mc.control_value = v;
    }
    return true;
  }

  // A CONTROL statement gives SRVR1 and SRVR2: the survival at the end of the study (TA + TF)
  // of the law it states, before anything reads them.
  static void apply_control(DeckRecord& rec) {
    const ModelAndControl& mc = rec.design.model_control;
    if (mc.control == ControlForm::EndOfStudy) return;
    DeckValues& d = rec.design.read;
    const double end = d.TA + d.TF;
    if (!(std::isfinite(end) && end > 0.0)) return;  // TA or TF already refused
    d.SRVR1 = end_of_study_survival(control_hazard(mc.control, mc.control_value[0], mc.control_time), end);
    d.SRVR2 = end_of_study_survival(control_hazard(mc.control, mc.control_value[1], mc.control_time), end);
  }

  // HAZARDS EPe m c(1..m-1) h(1..m) r(1..m), or HAZARDS EPe SURVIVAL m t(1..m) s(1..m) r(1..m):
  // the piecewise-exponential law of one endpoint, at most once per endpoint. Every problem of
  // the statement is listed; false when the deck ends inside it.
  bool read_hazards(Statement& st, Design& g, int line) {
    const int number = g.number;
    EntryAndLossStatements& how = g.entry_loss_statements;
    bool ended = false;
    int at = line;
    auto word = [&](DeckScanner::Token& t) {
      const Item r = st.take(t);
      std::string w;
      for (char c : t.text) w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (r == Item::End) ended = true;
      return r == Item::Read && !t.quoted ? w : std::string();
    };
    DeckScanner::Token ep;
    const std::string e = word(ep);
    if (ended) {
      problem(number, sc_.line(), "HAZARDS", "", "the deck ends inside this statement");
      return false;
    }
    if (e != "EP1" && e != "EP2") {
      problem(number, ep.line ? ep.line : line, "HAZARDS endpoint", echoed(ep.text),
              "HAZARDS is followed by the endpoint, EP1 or EP2");
      return true;
    }
    const size_t z = e == "EP1" ? 0 : 1;
    const bool again = how.hazards_line[z] != 0;
    if (again) {
      problem(number, line, "HAZARDS " + e, "",
              "a design takes one HAZARDS statement per endpoint; the first for " + e +
                  " is on line " + std::to_string(how.hazards_line[z]));
    } else {
      how.hazards_line[z] = line;
    }
    // SURVIVAL (control survival at stated times) or the number of pieces.
    DeckScanner::Token form;
    const bool by_survival = word(form) == "SURVIVAL";
    if (ended) {
      problem(number, sc_.line(), "HAZARDS " + e, "", "the deck ends inside this statement");
      return false;
    }
    double count = 0;
    const std::string f = "HAZARDS " + e + " ";
    if (by_survival) {
      if (!entry_loss_item(st, number, f + "number of pieces", count, false, ended, at))
        return !ended;
    } else {
      at = form.line ? form.line : line;
      if (form.kind != DeckScanner::Kind::Value) {
        problem(number, at, f + "number of pieces", "(a null value or a slash)",
                "the value must be given");
        return true;
      }
      if (!form.fault.empty() || form.quoted || !parse_deck_real(form.text, count)) {
        problem(number, at, f + "number of pieces", echoed(form.text),
                "the number of pieces (1 to 10), or SURVIVAL followed by the number of stated "
                "control survivals");
        return true;
      }
    }
    if (!(count >= 1 && count <= NMAXA && count == std::floor(count))) {
      problem(number, at, f + "number of pieces", show_real(count),
              "an endpoint's law has 1 to 10 pieces");
      return true;
    }
    const size_t m = static_cast<size_t>(count);
    bool ok = true;
    // Times: the m - 1 change points, or the m times of the stated survivals; above 0, increasing.
    const size_t nt = by_survival ? m : m - 1;
    std::vector<double> times(nt), values(m), ratios(m);
    double prev = 0.0;
    for (size_t p = 0; p < nt; ++p) {
      const std::string field = f + (by_survival ? "time(" : "change(") + std::to_string(p + 1) + ")";
      double v = 0;
      if (!entry_loss_item(st, number, field, v, false, ended, at)) {
        if (ended) return false;
        ok = false;
        prev = -HUGE_VAL;
        continue;
      }
      times[p] = v;
      if (!(std::isfinite(v) && v > 0.0 && v > prev)) {
        problem(number, at, field, show_real(v),
                p == 0 ? "the first time must be above 0" : "the times must increase");
        ok = false;
      }
      prev = std::isfinite(v) ? v : -HUGE_VAL;
    }
    double last = 1.0;
    for (size_t p = 0; p < m; ++p) {
      const std::string field =
          f + (by_survival ? "survival(" : "hazard(") + std::to_string(p + 1) + ")";
      double v = 0;
      if (!entry_loss_item(st, number, field, v, false, ended, at)) {
        if (ended) return false;
        ok = false;
        last = HUGE_VAL;
        continue;
      }
      values[p] = v;
      if (by_survival ? !(v > 0.0 && v < 1.0 && v < last) : !(v > 0.0 && std::isfinite(v))) {
        problem(number, at, field, show_real(v),
                by_survival ? (v > 0.0 && v < 1.0
                                   ? "the control survivals must decrease from one time to the next"
                                   : "a control survival must lie strictly between 0 and 1")
                            : "a control hazard must be above 0 (per time unit of TA and TF)");
        ok = false;
      }
      last = v > 0.0 && v < 1.0 ? v : HUGE_VAL;
    }
    for (size_t p = 0; p < m; ++p) {
      const std::string field = f + "ratio(" + std::to_string(p + 1) + ")";
      double v = 0;
      if (!entry_loss_item(st, number, field, v, false, ended, at)) {
        if (ended) return false;
        ok = false;
        continue;
      }
      ratios[p] = v;
      if (!(v > 0.0 && std::isfinite(v))) {
        problem(number, at, field, show_real(v),
                "a hazard ratio (treatment over control) must be above 0");
        ok = false;
      }
    }
    if (!ok || again) return true;
    EndpointHazards& h = g.entry_loss.hazards[z];
    h.ratio = ratios;
    if (by_survival) {
      how.survival_time[z] = times;
      how.survival_value[z] = values;
      double t0 = 0.0, s0 = 1.0;
      for (size_t p = 0; p < m; ++p) {
        h.control.push_back(std::log(s0 / values[p]) / (times[p] - t0));
        if (p + 1 < m) h.change.push_back(times[p]);
        t0 = times[p];
        s0 = values[p];
      }
    } else {
      h.change = times;
      h.control = values;
    }
    return true;
  }

  // FUTILITY [BINDING | NONBINDING] SPENDING code [phi | b(1..K)], FUTILITY [...] Z z(1..K-1)
  // or FUTILITY [...] HR h(1..K-1), at most once. False when the deck ends inside it.
  bool read_futility(Design& g, Statement& st, int line) {
    const int number = g.number;
    FutilityRule& fr = g.futility;
    const char* const kForms =
        "FUTILITY is followed by BINDING or NONBINDING (optional; non-binding by default) and "
        "by SPENDING with a beta-spending code 1 to 6 (codes 3 and 4 with their parameter, "
        "code 5 with the cumulative beta of each analysis, the last 1 - POWER), by Z with a "
        "z value per interim analysis, or by HR with a hazard ratio per interim analysis";
    if (fr.line > 0) {
      problem(number, line, "FUTILITY", "",
              "a design takes one FUTILITY statement; the first is on line " +
                  std::to_string(fr.line));
    }
    const bool again = fr.line > 0;
    FutilityRule rule;
    rule.line = line;
    auto word = [&](std::string& w, int& at) {
      DeckScanner::Token t;
      const Item r = st.take(t);
      at = t.line ? t.line : line;
      w.clear();
      for (char c : t.text) w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (r == Item::End) return Item::End;
      return t.quoted ? Item::Unreadable : r;
    };
    std::string w;
    int at = line;
    Item r = word(w, at);
    if (r == Item::Read && (w == "BINDING" || w == "NONBINDING")) {
      rule.binding = w == "BINDING";
      r = word(w, at);
    }
    if (r == Item::End) {
      problem(number, sc_.line(), "FUTILITY", "", std::string("the deck ends inside this statement; ") + kForms);
      return false;
    }
    if (r != Item::Read || (w != "SPENDING" && w != "Z" && w != "HR")) {
      problem(number, at, "FUTILITY", echoed(w), kForms);
      if (!again) fr.line = line;
      return true;
    }
    const int K = g.read.LOOK;
    bool ok = true;
    if (K < 2) {
      problem(number, line, "FUTILITY", w,
              "futility stops need at least one interim analysis; the design has LOOK = " +
                  std::to_string(K));
      if (!again) fr.line = line;
      return true;
    }
    bool ended = false;
    auto values = [&](const std::string& field, int n, std::vector<double>& out) {
      out.assign(static_cast<size_t>(n), std::nan(""));
      for (int i = 0; i < n; ++i) {
        double v = 0;
        const std::string f = field + "(" + std::to_string(i + 1) + ")";
        if (!entry_loss_item(st, number, f, v, false, ended, at)) {
          ok = false;
          if (ended) return;
          continue;
        }
        out[static_cast<size_t>(i)] = v;
      }
    };
    if (w == "SPENDING") {
      rule.kind = FutilityRule::Kind::spending;
      double code = 0;
      if (!entry_loss_item(st, number, "FUTILITY SPENDING code", code, false, ended, at)) {
        if (ended) return false;
        if (!again) fr.line = line;
        return true;
      }
      if (!(code >= 1 && code <= 6 && code == std::floor(code))) {
        problem(number, at, "FUTILITY SPENDING code", show_real(code),
                "the beta-spending code must be an integer from 1 to 6 (the codes of the alpha "
                "spending)");
        if (!again) fr.line = line;
        return true;
      }
      rule.code = static_cast<int>(code);
      if (rule.code == 3 || rule.code == 4) {
        double phi = 0;
        if (!entry_loss_item(st, number, "FUTILITY SPENDING phi", phi, false, ended, at)) {
          if (ended) return false;
          ok = false;
        } else if (!limits::spending_parameter_ok(rule.code, phi)) {
          problem(number, at, "FUTILITY SPENDING phi", show_real(phi),
                  limits::spending_parameter_allowed(rule.code));
          ok = false;
        }
        rule.phi = phi;
      } else if (rule.code == 5) {
        values("FUTILITY SPENDING cumulative beta", K, rule.cumulative);
        if (ended) return false;
        const double beta = 1.0 - g.read.POWER;
        bool fine = ok;
        for (int i = 0; fine && i < K; ++i) {
          const double c = rule.cumulative[static_cast<size_t>(i)];
          fine = c > 0.0 && (i == 0 || c > rule.cumulative[static_cast<size_t>(i - 1)]);
        }
        if (ok && !(fine && std::fabs(rule.cumulative.back() - beta) <= 1e-9)) {
          problem(number, at, "FUTILITY SPENDING cumulative beta", "",
                  "code 5 takes " + std::to_string(K) +
                      " cumulative beta values, positive and increasing, the last equal to "
                      "1 - POWER = " + show_real(beta));
          ok = false;
        }
      }
    } else {
      const bool hr = w == "HR";
      rule.kind = hr ? FutilityRule::Kind::hazard_ratio : FutilityRule::Kind::fixed_z;
      values(std::string("FUTILITY ") + (hr ? "HR" : "Z"), K - 1, rule.values);
      if (ended) return false;
      for (int i = 0; i < K - 1; ++i) {
        const double v = rule.values[static_cast<size_t>(i)];
        if (std::isnan(v)) continue;
        const bool fine = hr ? (v > 0.0 && std::isfinite(v)) : (v >= -8.0 && v < 8.0);
        if (!fine) {
          problem(number, at,
                  std::string("FUTILITY ") + (hr ? "HR" : "Z") + "(" + std::to_string(i + 1) + ")",
                  show_real(v),
                  hr ? "a hazard-ratio threshold must be above 0"
                     : "a futility z must lie from -8 (no stop) up to 8");
          ok = false;
        }
      }
    }
    if (!again) fr = ok ? rule : FutilityRule{FutilityRule::Kind::none, 0, 0.0, {}, {}, false, line};
    return true;
  }

  static std::string show_real(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
  }

  // The deck ends inside the extra statements: a bad deck, and nothing follows to be checked.
  void missing_extra(DeckRecord& rec, const std::array<SpendingStatement, 2>& pair,
                     std::string field, std::string expected) {
    problem(rec.design.number, sc_.line(), std::move(field), "",
            "the deck ends inside the extra statements of this design; expected " +
                std::move(expected));
    rec.spending_slots_checkable = static_cast<int>(rec.design.spending.size()) * 2;
    rec.design.spending.push_back(pair);
  }

  // Looking for the start of the next design after the layout was lost. Every reading the rest
  // of the design may have (number of analyses, sets, spending codes and their replacements) is
  // followed through the deck; each ends on some line, after which the next record would start.
  // The earliest of those lines where a whole record can be read is taken; failing that, the end
  // of the deck, and failing that a record the deck ends inside.

  // Reads, as the statement after 0-based line `after`, `n` real values or one integer. False
  // when a value cannot be read or the deck ends first; `end` receives the line where it ended.
  bool look_statement(std::size_t after, int n, bool integer, std::size_t& end, int* ivalue) {
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
  void walk_times(Statement& st) {
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
  void walk_slots(std::size_t after, int slot) {
    for (int nsets : {1, 2}) {
      if (lost_.nsets != 0 && nsets != lost_.nsets) continue;
      if (slot >= 2 * nsets) {
        ends_.insert(after);
        continue;
      }
      walk_slot(after, slot, 2 * nsets, slot == lost_.first_slot && lost_.follow_unknown);
    }
  }

  void walk_slot(std::size_t after, int slot, int nslots, bool follow_unknown) {
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

  enum class Shape { Whole, Incomplete, Nothing, Unreadable };

  // A record read after a lost layout may carry a few faults of its own; a start that is not
  // a record's start puts reals where integers belong throughout, and many more.
  static constexpr int kFaultsOfARecord = 2;

  // Whether a record can be read after 0-based line `after`: `line` receives its start and
  // `faults` the number of its values that cannot be read as their items.
  Shape look_record(std::size_t after, const DeckValues& previous, int& line, int& faults) {
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
  bool find_next_design(int number, const DeckValues& previous) {
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

  DeckScanner sc_;
  Deck deck_;
  bool complete_ = false;
  LostLayout lost_;
  std::set<std::size_t> ends_;  // lines after which the next design may start
  std::set<std::tuple<std::size_t, int, int, int, bool>> visited_;
};

}  // namespace

std::string field_name(int field) {
  if (field >= 0 && field < 26) return kScalarNames[field];
  if (field >= TLOOK1 && field < FIELD_COUNT) return "TLOOK(" + std::to_string(field - TLOOK1 + 1) + ")";
  return "?";
}

std::string DeckProblem::message(std::string_view deck_name) const {
  std::string s(deck_name);
  if (line > 0) s += ':' + std::to_string(line);
  s += ": ";
  if (design > 0) {
    s += "design " + std::to_string(design) + ": ";
  } else if (!field.empty()) {
    s += "header: ";
  }
  if (!field.empty()) {
    s += field;
    if (!value.empty()) s += " = " + value;
    s += ": ";
  }
  return s + allowed;
}

std::string echoed(std::string_view written) {
  constexpr std::size_t kShown = 40;
  std::string s;
  for (char c : written.substr(0, kShown)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) {
      s += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      s += buf;
    }
  }
  if (written.size() > kShown) s += "...";
  return s;
}

std::string shown_value(const DeckRecord& rec, int f) {
  const FieldSource& s = rec.source[static_cast<size_t>(f)];
  if (s.state == FieldSource::Read || s.state == FieldSource::Unreadable) return echoed(s.text);
  DeckValues d = rec.design.read;
  std::string v;
  if (const int* iv = int_field(d, f)) {
    v = std::to_string(*iv);
  } else {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", *real_field(d, f));
    v = buf;
  }
  return v + " (left unchanged by a null value or a slash)";
}

bool read_deck_file(const std::filesystem::path& path, std::string& text, DeckProblem& problem) {
  problem = DeckProblem{};
  auto fail = [&](std::string what, int err) {
    problem.allowed = "the input deck " + std::move(what) + ": " + std::strerror(err);
    return false;
  };
  // Not blocking: a named pipe without a writer must not hang the run.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return fail(err == ENOENT ? "is missing" : "cannot be read", err);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail("cannot be read", errno);
  if (S_ISDIR(st.st_mode)) return fail("is a directory, not a file", EISDIR);
  if (!S_ISREG(st.st_mode)) {
    problem.allowed = "the input deck is not a plain file (a device, pipe or socket)";
    return false;
  }
  text.clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("cannot be read", errno);
    }
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return true;
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
