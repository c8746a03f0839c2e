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

// Builds one fixed-column record.
class Record {
 public:
  Record& i(long long v, int w) { s_ += I(v, w); return *this; }
  Record& f(double v, int w, int d) { s_ += F(v, w, d); return *this; }
  Record& a(std::string_view t, int w) { s_ += A(t, w); return *this; }
  Record& x(int n) { s_ += X(n); return *this; }
  Record& lit(std::string_view t) { s_ += t; return *this; }
  // A repeated group such as 10F8.4: written only as far as there are values.
  Record& fs(const double* v, int n, int w, int d) {
    for (int k = 0; k < n; ++k) s_ += F(v[k], w, d);
    return *this;
  }
  Record& is(const int* v, int n, int w) {
    for (int k = 0; k < n; ++k) s_ += I(v[k], w);
    return *this;
  }
  const std::string& str() const { return s_; }
  operator const std::string&() const { return s_; }

 private:
  std::string s_;
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
