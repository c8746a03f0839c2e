#include "deck/deck_scanner.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kestrel::deck {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
bool ends_value(char c) { return is_blank(c) || c == ',' || c == '/'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

DeckScanner::DeckScanner(std::string_view deck) {
  // A byte-order mark that some editors put at the start of a text file is not part of a value.
  if (deck.substr(0, 3) == "\xEF\xBB\xBF") deck.remove_prefix(3);
  std::size_t start = 0;
  // Lines end at a line feed (a carriage return before it is a blank) or, in files with the old
  // Mac line ends, at a carriage return alone.
  while (start < deck.size()) {
    std::size_t end = deck.find_first_of("\r\n", start);
    while (end != std::string_view::npos && deck[end] == '\r' && end + 1 < deck.size() &&
           deck[end + 1] == '\n')
      end = deck.find_first_of("\r\n", end + 1);
    if (end == std::string_view::npos) end = deck.size();
    lines_.push_back(deck.substr(start, end - start));
    start = end + 1;
  }
}

int DeckScanner::line() const {
  if (lines_.empty()) return 0;
  if (line_ >= lines_.size()) return static_cast<int>(lines_.size());
  return static_cast<int>(line_) + 1;
}

bool DeckScanner::blank() const {
  for (std::string_view ln : lines_)
    for (char c : ln)
      if (!is_blank(c)) return false;
  return true;
}

void DeckScanner::seek(const Position& p) {
  line_ = p.line;
  col_ = p.col;
  fresh_ = p.fresh;
  after_value_ = p.after_value;
  repeat_left_ = p.repeat_left;
  repeat_ = p.repeat;
}

DeckScanner::Position DeckScanner::after_line(std::size_t line0) const {
  Position p;
  p.line = line0;
  p.col = line0 < lines_.size() ? lines_[line0].size() : 0;
  p.fresh = false;
  return p;
}

void DeckScanner::begin_statement() {
  if (!fresh_ && line_ < lines_.size()) ++line_;
  fresh_ = false;
  col_ = 0;
  after_value_ = false;
  repeat_left_ = 0;
}

DeckScanner::Token DeckScanner::next() {
  ++work_;
  if (repeat_left_ > 0) {
    --repeat_left_;
    return repeat_;
  }
  for (;;) {
    if (line_ >= lines_.size()) {
      Token t;
      t.kind = Kind::End;
      t.line = line();
      return t;
    }
    std::string_view ln = lines_[line_];
    while (col_ < ln.size() && is_blank(ln[col_])) ++col_;
    if (col_ >= ln.size()) {  // the end of a line separates values like a blank
      ++line_;
      col_ = 0;
      continue;
    }
    char c = ln[col_];
    if (c == ',') {
      ++col_;
      if (after_value_) {  // the comma separating the previous value from the next
        after_value_ = false;
        continue;
      }
      Token t;
      t.kind = Kind::Null;
      t.line = line();
      return t;
    }
    if (c == '/') {
      ++col_;
      Token t;
      t.kind = Kind::Slash;
      t.line = line();
      return t;
    }
    return scan_value();
  }
}

DeckScanner::Token DeckScanner::scan_value() {
  std::string_view ln = lines_[line_];
  Token tok;
  tok.kind = Kind::Value;
  tok.line = line();
  after_value_ = true;

  // A repeat count: digits directly followed by '*'.
  std::int64_t repeat = 1;
  std::size_t p = col_;
  while (p < ln.size() && is_digit(ln[p])) ++p;
  if (p > col_ && p < ln.size() && ln[p] == '*') {
    std::string_view digits = ln.substr(col_, p - col_);
    std::int64_t r = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), r);
    col_ = p + 1;
    if (ec != std::errc() || r < 1 || r > std::numeric_limits<std::int32_t>::max()) {
      tok.fault = "the repeat count before '*' must be a positive integer";
      // Skip the rest of the value so reading can go on.
      while (col_ < ln.size() && !ends_value(ln[col_])) ++col_;
      tok.text = std::string(digits) + "*";
      return tok;
    }
    repeat = r;
    if (col_ >= ln.size() || ends_value(ln[col_])) {
      tok.kind = Kind::Null;  // r* stands for r null values
    }
  }

  if (tok.kind == Kind::Value) {
    char c = ln[col_];
    if (c == '\'' || c == '"') {
      tok.quoted = true;
      tok.text = scan_quoted(tok);
    } else {
      std::size_t s = col_;
      while (col_ < ln.size() && !ends_value(ln[col_])) ++col_;
      tok.text = std::string(ln.substr(s, col_ - s));
    }
  }
  if (repeat > 1) {
    repeat_ = tok;
    repeat_left_ = repeat - 1;
  }
  return tok;
}

std::string DeckScanner::scan_quoted(Token& tok) {
  const char q = lines_[line_][col_];
  ++col_;
  std::string out;
  for (;;) {
    std::string_view ln = lines_[line_];
    while (col_ < ln.size()) {
      char c = ln[col_++];
      if (c == q) {
        if (col_ < ln.size() && ln[col_] == q) {  // a doubled quote stands for one
          out += q;
          ++col_;
          continue;
        }
        return out;
      }
      out += c;
    }
    // The text goes on on the next line; the line end is not part of it.
    if (line_ + 1 >= lines_.size()) {
      tok.fault = "quoted text is not closed before the end of the deck";
      col_ = ln.size();
      return out;
    }
    ++line_;
    col_ = 0;
  }
}

bool parse_deck_int(std::string_view text, int& out) {
  std::size_t i = 0;
  bool neg = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
  if (i >= text.size()) return false;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (!is_digit(text[i])) return false;
    v = v * 10 + (text[i] - '0');
    if (v > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) return false;
  }
  if (neg) v = -v;
  if (v > std::numeric_limits<std::int32_t>::max() || v < std::numeric_limits<std::int32_t>::min())
    return false;
  out = static_cast<int>(v);
  return true;
}

bool parse_deck_real(std::string_view text, double& out) {
  // [sign] (digits [. [digits]] | . digits) [(E|D|Q) [sign] digits]
  std::string s;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') s += '-';
    ++i;
  }
  std::size_t mant = 0;
  while (i < text.size() && is_digit(text[i])) s += text[i++], ++mant;
  if (i < text.size() && text[i] == '.') {
    s += text[i++];
    while (i < text.size() && is_digit(text[i])) s += text[i++], ++mant;
  }
  if (mant == 0) return false;
  if (i < text.size()) {
    char e = text[i];
    if (e != 'e' && e != 'E' && e != 'd' && e != 'D' && e != 'q' && e != 'Q') return false;
    s += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) s += text[i++];
    std::size_t ed = 0;
    while (i < text.size() && is_digit(text[i])) s += text[i++], ++ed;
    if (ed == 0 || i != text.size()) return false;
  }
  double v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ptr != s.data() + s.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Too small a magnitude reads as zero; too large cannot be held.
    std::size_t epos = s.find('e');
    if (epos != std::string::npos && s.find('-', epos) != std::string::npos) {
      out = s[0] == '-' ? -0.0 : 0.0;
      return true;
    }
    return false;
  }
  if (ec != std::errc() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace kestrel::deck
