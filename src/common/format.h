#pragma once
// Fixed-column edit descriptors and list-directed lines of the reports.
//   I(v, w)     integer right-justified in w columns
//   F(v, w, d)  fixed point, d decimals, right-justified in w columns
//   A(s, w)     text in w columns: shorter right-justified, longer cut to its first w characters
//   X(n)        n blanks
// A value too wide for its field fills the field with asterisks. Every report line is built
// from these, so no line is padded by hand.
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrel::fmt {

std::string I(long long value, int w);
std::string F(double value, int w, int d);
std::string A(std::string_view text, int w);
inline std::string X(int n) { return std::string(static_cast<size_t>(n > 0 ? n : 0), ' '); }

// A report never loses a value to asterisks: these give the field's text when the value fits,
// and otherwise the value in full (d decimals, as many columns as it needs, so the line is
// longer), setting `overflowed`.
std::string F_or_full(double value, int w, int d, bool& overflowed);
std::string I_or_full(long long value, int w, bool& overflowed);
// As F_or_full; in addition a value other than 0 that the field would show as 0 (a level of
// 1e-6 as "0.00") is written with as many more decimals as its first significant digit needs.
std::string F_nonzero(double value, int w, int d, bool& overflowed);

// A real written in full (too wide for its field) never runs into a number before it: "2" then
// "1095.00" would read as 21095.00, so a blank parts them.
inline void separate_full_value(std::string& line, const std::string& text) {
  if (!line.empty() && !text.empty() && text.front() != ' ' &&
      ((line.back() >= '0' && line.back() <= '9') || line.back() == '.'))
    line += ' ';
}

// Builds one fixed-column record. A value that does not fit its field is written in full and
// noted: overflowed() names the fields (by name() given before them, else by their column).
class Record {
 public:
  Record& name(std::string_view n) { name_ = n; return *this; }
  Record& i(long long v, int w) {
    bool o = false;
    const size_t col = s_.size() + 1;
    s_ += I_or_full(v, w, o);  // integers keep the traces' columns as they always were
    return note(o, col);
  }
  Record& f(double v, int w, int d) {
    bool o = false;
    const size_t col = s_.size() + 1;
    const std::string text = F_or_full(v, w, d, o);
    return put_field(text, o, col);
  }
  Record& f_nonzero(double v, int w, int d) {
    bool o = false;
    const size_t col = s_.size() + 1;
    const std::string text = F_nonzero(v, w, d, o);
    return put_field(text, o, col);
  }
  Record& a(std::string_view t, int w) { s_ += A(t, w); return *this; }
  Record& x(int n) { s_ += X(n); return *this; }
  Record& lit(std::string_view t) { s_ += t; return *this; }
  // A repeated group such as 10F8.4: written only as far as there are values.
  Record& fs(const double* v, int n, int w, int d) {
    for (int k = 0; k < n; ++k) f(v[k], w, d);
    return *this;
  }
  Record& is(const int* v, int n, int w) {
    for (int k = 0; k < n; ++k) i(v[k], w);
    return *this;
  }
  const std::string& str() const { return s_; }
  operator const std::string&() const { return s_; }
  const std::vector<std::string>& overflowed() const { return overflowed_; }

 private:
  Record& put_field(const std::string& text, bool overflowed, size_t column) {
    if (overflowed) separate_full_value(s_, text);
    s_ += text;
    return note(overflowed, column);
  }
  Record& note(bool overflowed, size_t column) {
    if (overflowed)
      overflowed_.push_back(name_.empty() ? "column " + std::to_string(column) : name_);
    name_.clear();
    return *this;
  }
  std::string s_;
  std::string name_;
  std::vector<std::string> overflowed_;
};

// Values repeated by a group of `per_line` fields (e.g. the format (10F8.4)): when there are more
// values than the group holds, format reversion continues them on the next record.
std::vector<std::string> repeated(const double* v, int n, int per_line, int w, int d);

// List-directed (free-form) output: one leading blank, then the items. Integers take 12
// columns, reals 25 columns (17 significant digits), texts are written as they are.
using ListItem = std::variant<long long, int, double, std::string_view>;
std::string list(std::initializer_list<ListItem> items);
std::string list_real(double v);  // one real as list-directed output writes it
std::string list_int(long long v);

}  // namespace kestrel::fmt
