#include "common/format.h"

#include <cmath>
#include <cstdio>

namespace kestrel::fmt {

std::string I(long long value, int w) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) > w) return std::string(static_cast<size_t>(w), '*');
  return std::string(static_cast<size_t>(w) - s.size(), ' ') + s;
}

std::string F(double value, int w, int d) {
  if (std::isnan(value)) {
    return w >= 3 ? std::string(static_cast<size_t>(w - 3), ' ') + "NaN"
                  : std::string(static_cast<size_t>(w), '*');
  }
  if (std::isinf(value)) {
    const char* t = value > 0 ? "Infinity" : "-Infinity";
    std::string s = t;
    if (static_cast<int>(s.size()) > w) s = value > 0 ? "Inf" : "-Inf";
    if (static_cast<int>(s.size()) > w) return std::string(static_cast<size_t>(w), '*');
    return std::string(static_cast<size_t>(w) - s.size(), ' ') + s;
  }
  // Round to d decimals exactly as printf does (correctly rounded decimal conversion).
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", d, std::fabs(value));
  std::string digits = buf;  // e.g. "0.50", "435" (d = 0)
  if (d == 0) digits += '.';  // fixed-point editing always writes the decimal point
  bool negative = std::signbit(value);
  // Negative values that round to zero keep their sign, as fixed-point editing does.
  std::string s = (negative ? "-" : "") + digits;
  if (static_cast<int>(s.size()) > w) {
    // Drop the optional leading zero before the decimal point when the field is too narrow.
    if (digits.size() > 1 && digits[0] == '0' && digits[1] == '.') {
      s = (negative ? "-" : "") + digits.substr(1);
    }
  }
  if (static_cast<int>(s.size()) > w) return std::string(static_cast<size_t>(w), '*');
  return std::string(static_cast<size_t>(w) - s.size(), ' ') + s;
}

std::string A(std::string_view text, int w) {
  if (static_cast<int>(text.size()) >= w) return std::string(text.substr(0, static_cast<size_t>(w)));
  return std::string(static_cast<size_t>(w) - text.size(), ' ') + std::string(text);
}

namespace {

bool asterisks(const std::string& s) { return !s.empty() && s.find_first_not_of('*') == std::string::npos; }

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  return first == std::string::npos ? s : s.substr(first);
}

}  // namespace

std::string F_or_full(double value, int w, int d, bool& overflowed) {
  std::string s = F(value, w, d);
  overflowed = std::isfinite(value) && asterisks(s);
  // 320 columns hold the largest double with 17 decimals.
  if (overflowed) s = trimmed(F(value, 340, d));
  return s;
}

std::string I_or_full(long long value, int w, bool& overflowed) {
  std::string s = I(value, w);
  overflowed = asterisks(s);
  if (overflowed) s = std::to_string(value);
  return s;
}

std::string F_nonzero(double value, int w, int d, bool& overflowed) {
  std::string s = F_or_full(value, w, d, overflowed);
  if (value == 0 || !std::isfinite(value) || s.find_first_of("123456789") != std::string::npos)
    return s;
  // Shown as zero: more decimals, up to the first significant digit.
  int more = d;
  std::string t;
  do {
    ++more;
    t = trimmed(F(value, 340, more));
  } while (t.find_first_of("123456789") == std::string::npos && more < 330);
  overflowed = true;
  return static_cast<int>(t.size()) < w ? std::string(static_cast<size_t>(w) - t.size(), ' ') + t
                                        : t;
}

std::vector<std::string> repeated(const double* v, int n, int per_line, int w, int d) {
  std::vector<std::string> lines;
  for (int start = 0; start < n; start += per_line) {
    std::string s;
    for (int k = start; k < n && k < start + per_line; ++k) {
      bool overflowed;
      const std::string field = F_or_full(v[k], w, d, overflowed);
      if (overflowed) separate_full_value(s, field);
      s += field;
    }
    lines.push_back(s);
  }
  if (lines.empty()) lines.emplace_back();
  return lines;
}

std::string list_int(long long v) { return I(v, 12); }

std::string list_real(double v) {
  // 17 significant digits in a 25-column field: fixed notation for 0.1 <= |v| < 1e17,
  // exponent notation otherwise (zero prints as 0.0000000000000000).
  char buf[64];
  double a = std::fabs(v);
  if (v == 0.0) {
    std::snprintf(buf, sizeof buf, "%.16f", 0.0);
  } else if (a >= 0.1 && a < 1e17) {
    int intdigits = static_cast<int>(std::floor(std::log10(a))) + 1;
    if (intdigits < 1) intdigits = 1;
    int dec = 17 - intdigits;
    if (dec < 1) dec = 1;
    std::snprintf(buf, sizeof buf, "%.*f", dec, v);
  } else {
    std::snprintf(buf, sizeof buf, "%.16E", v);
  }
  std::string s = buf;
  if (s.size() <= 21) {
    s = std::string(21 - s.size(), ' ') + s + "    ";
  } else if (s.size() < 25) {  // exponent forms of 22 to 24 characters
    s = std::string(25 - s.size(), ' ') + s;
  }
  return s;
}

std::string list(std::initializer_list<ListItem> items) {
  if (items.size() == 0) return std::string();  // an empty free-form line is an empty line
  std::string s = " ";
  bool first = true;
  for (const auto& it : items) {
    if (const auto* t = std::get_if<std::string_view>(&it)) {
      s += *t;
    } else if (const auto* i = std::get_if<int>(&it)) {
      s += list_int(*i);
    } else if (const auto* l = std::get_if<long long>(&it)) {
      s += list_int(*l);
    } else {
      s += list_real(std::get<double>(it));
    }
    first = false;
  }
  (void)first;
  return s;
}

}  // namespace kestrel::fmt
