#pragma once
// Reads the tables of the HTML report back for the tests: body rows by table id, cell texts
// without markup, and whether a cell shows a value to the digits it prints.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

namespace kestrel::reports::testing {

// ---- a small reader of the page's own markup -------------------------------------------------

inline std::string strip_tags(const std::string& s) {
  std::string out;
  bool in_tag = false;
  for (char c : s) {
    if (c == '<') in_tag = true;
    else if (c == '>') in_tag = false;
    else if (!in_tag) out += c;
  }
  // Entities the tables use for signs and dashes.
  auto replace = [&](const std::string& from, const std::string& to) {
    for (size_t p; (p = out.find(from)) != std::string::npos;) out.replace(p, from.size(), to);
  };
  replace("&#8722;", "-");
  replace("&#8211;", "--");
  replace("&#8201;", "");
  return out;
}

// Body rows of the table with the given id, each a list of cell texts.
inline std::vector<std::vector<std::string>> table_rows(const std::string& html, const std::string& id) {
  std::vector<std::vector<std::string>> rows;
  const size_t start = html.find("id=\"" + id + "\"");
  if (start == std::string::npos) return rows;
  const size_t body = html.find("<tbody>", start);
  const size_t end = html.find("</tbody>", body);
  std::string b = html.substr(body, end - body);
  for (size_t p = b.find("<tr>"); p != std::string::npos; p = b.find("<tr>", p + 1)) {
    const size_t q = b.find("</tr>", p);
    std::string row = b.substr(p, q - p);
    std::vector<std::string> cells;
    static const std::regex cell("<t[dh][^>]*>(.*?)</t[dh]>");
    for (std::sregex_iterator it(row.begin(), row.end(), cell), e; it != e; ++it)
      cells.push_back(strip_tags((*it)[1]));
    rows.push_back(cells);
  }
  return rows;
}

// The cell shows `value` rounded to the decimals it carries.
inline ::testing::AssertionResult shows(const std::string& cell, double value) {
  char* end = nullptr;
  const double shown = std::strtod(cell.c_str(), &end);
  if (end == cell.c_str() || *end != '\0')
    return ::testing::AssertionFailure() << "cell \"" << cell << "\" is not a number";
  const size_t dot = cell.find('.');
  const int decimals = dot == std::string::npos ? 0 : static_cast<int>(cell.size() - dot - 1);
  const double half_unit = 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9);
  if (std::fabs(shown - value) <= half_unit) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "cell \"" << cell << "\" does not show " << value;
}

}  // namespace kestrel::reports::testing
