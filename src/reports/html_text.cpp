// The text pieces of the HTML report: escaping, the number formats of the tables, and the words
// that name the codes of a design.
#include "reports/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "reports/html_parts.h"

namespace kestrel::reports {

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
          if (c < 0x20 && c != '\n' && c != '\t') out += ' ';
          else out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // Multi-byte UTF-8 passes through when complete and well formed.
    size_t n = (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
             : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    bool ok = n > 0 && i + n <= text.size();
    unsigned cp = n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t j = 1; ok && j < n; ++j) {
      const unsigned char b = static_cast<unsigned char>(text[i + j]);
      ok = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    const unsigned min = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "&#x%X;", c);
      out += buf;
      ++i;
    }
  }
  return out;
}

std::string fixed(double v, int d) {
  if (!std::isfinite(v)) return "&#8211;";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", d, v);
  std::string s = buf;
  // "-0.000" reads as a sign error in a table: show it as zero.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  if (s[0] == '-') s.replace(0, 1, "&#8722;");  // typographic minus
  return s;
}

}  // namespace kestrel::reports

namespace kestrel::reports::html_parts {

std::string gnum(double v, int sig) {
  if (!std::isfinite(v)) return "&#8211;";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", sig, v);
  std::string s = buf;
  if (s[0] == '-') s.replace(0, 1, "&#8722;");
  return s;
}

std::string inum(long long v) {
  std::string s = std::to_string(v);
  if (s[0] == '-') s.replace(0, 1, "&#8722;");
  return s;
}

double at(const std::vector<double>& v, int k) {
  return k >= 0 && k < static_cast<int>(v.size()) ? v[static_cast<size_t>(k)] : std::nan("");
}

int count_k(const EvaluatedSet& s) {
  int K = s.information.K;
  K = std::clamp(K, 0, NMAXA);
  return K;
}

const char* df_title(int df) {
  switch (df) {
    case 2: return "AT THE SAME INTERIM";
    case 3: return "FIXED SEQUENCE: EP1 ---> EP2";
    case 4: return "EP2 IS TESTED ONLY AT THE FINAL";
    default: return "AT ANY INTERIMS";
  }
}

const char* df_text(int df) {
  switch (df) {
    case 2: return "both endpoints cross their bounds at one and the same analysis";
    case 3: return "EP1 crosses its bound; EP2 is tested from that analysis on and crosses its bound";
    case 4: return "EP1 crosses its bound at some analysis and EP2 crosses the fixed-sample critical "
                   "value at the final analysis";
    default: return "each endpoint crosses its bound at some analysis, not necessarily the same one";
  }
}

const char* crivl_text(int c) {
  switch (c) {
    case 1: return "both endpoints are tested with the critical values of EP1";
    case 2: return "both endpoints are tested with the critical values of EP2";
    default: return "each endpoint is tested with its own critical values";
  }
}

const char* copula_text(int cpl) {
  switch (cpl) {
    case 1: return "Clayton (late dependency)";
    case 2: return "positive stable (early dependency)";
    case 3: return "Frank";
    default: return "none (copula parameter not computed)";
  }
}

const char* cprsk_text(int c) {
  switch (c) {
    case 1: return "both endpoints non-fatal";
    case 2: return "one endpoint fatal";
    case 3: return "both endpoints fatal";
    default: return "unknown mode";
  }
}

const char* cmpst_text(int c) {
  return c == 2 ? "first endpoint is the earlier of EP1 and EP2" : "first endpoint is EP1 itself";
}

const char* esf_text(int code) {
  switch (code) {
    case 1: return "O'Brien-Fleming type";
    case 2: return "Pocock type";
    case 3: return "power family";
    case 4: return "Hwang-Shih-DeCani family";
    case 5: return "user-given cumulative alpha";
    case 6: return "alternate O'Brien-Fleming";
    default: return "unknown code";
  }
}

const char* itime_text(int itime) {
  if (itime == 2) return "information fractions; EP2-driven analysis times only";
  if (itime >= 3) return "calendar times";
  return "information fractions; analysis times driven by EP1 and by EP2";
}

std::string set_title(const std::string& label) {
  if (label == "EP1") return "Analysis times set by the information fractions of EP1";
  if (label == "EP2") return "Analysis times set by the information fractions of EP2";
  if (label == "CALND") return "Analysis times given in calendar time";
  return "Evaluated set " + label;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string set_id(const DesignRecord& d, const EvaluatedSet& s) {
  std::string id = "d";
  id += std::to_string(d.design.number);
  id += '-';
  id += lower(s.label);
  return id;
}

// One-sided designs carry -8 as the lower bound: there is no lower bound to show.
bool no_lower(double z) { return !std::isfinite(z) || z <= -8.0; }

}  // namespace kestrel::reports::html_parts
