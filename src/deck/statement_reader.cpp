#include "deck/statement_reader.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::deck {

Item Statement::take(DeckScanner::Token& t) {
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

std::string upper(std::string_view text) {
  std::string w;
  for (char c : text) w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return w;
}

std::string show_real(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

void StatementReader::problem(int design, int line, std::string field, std::string value,
                              std::string allowed) {
  problems_.push_back(
      DeckProblem{design, line, std::move(field), std::move(value), std::move(allowed)});
}

bool StatementReader::value(Statement& st, int number, const std::string& field, double& v,
                            bool kept_ok, bool& ended, int& line) {
  FieldSource src;
  std::string why;
  const Item r = numeric_item(st, v, src, why);
  line = src.line ? src.line : sc_.line();
  if (r != Item::End) taken_.push_back({line, field});
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

void StatementReader::begin_statement(int line) {
  statement_line_ = line;
  problems_before_ = problems_.size();
  taken_.clear();
}

bool StatementReader::swallowed(int number, const std::string& word) {
  if (taken_.empty() || taken_.back().line <= statement_line_) return false;
  const int last = taken_.back().line;
  const std::string_view rest = sc_.rest_of_line();
  size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t' || rest[i] == ',')) ++i;
  if (i == rest.size()) return false;
  const char c = rest[i];
  if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.'))
    return false;
  size_t first = taken_.size();
  while (first > 0 && taken_[first - 1].line == last) --first;
  const size_t missing = taken_.size() - first;
  // The values taken from that line belong to what starts there: their problems are not the
  // statement's.
  problems_.erase(std::remove_if(problems_.begin() + static_cast<std::ptrdiff_t>(problems_before_),
                                 problems_.end(),
                                 [&](const DeckProblem& p) { return p.line >= last; }),
                  problems_.end());
  const int before = first > 0 ? taken_[first - 1].line : statement_line_;
  problem(number, statement_line_, word, "",
          "the statement's values end on line " + std::to_string(before) + " with " +
              std::to_string(missing) + (missing == 1 ? " value" : " values") +
              " still needed (" + taken_[first].field + (missing > 1 ? " onwards" : "") +
              "); line " + std::to_string(last) +
              " holds more values than that, so it starts the next design record or statement, "
              "which is read from there: give every value of the statement before it");
  sc_.seek(sc_.after_line(static_cast<std::size_t>(last - 2)));
  return true;
}

std::string StatementReader::take_note(int line) {
  std::string note = line == note_line_ ? std::move(note_) : std::string();
  note_line_ = 0;
  note_.clear();
  return note;
}

namespace {

std::vector<StatementWord>& table() {
  static std::vector<StatementWord> words = {
      {"DROPOUT", read_dropout}, {"ACCRUAL", read_accrual}, {"MODEL", read_model},
      {"CONTROL", read_control}, {"HAZARDS", read_hazards}, {"FUTILITY", read_futility},
  };
  return words;
}

// A statement written after the last value of a line would be skipped with the rest of the
// line, as a comment, and the design would run without it: when the text skipped begins (after
// blanks, tabs and commas) with a word of the table, in any case, it is refused.
void statement_in_comment(StatementReader& r, int number) {
  const std::string_view rest = r.scanner().rest_of_line();
  size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t' || rest[i] == ',')) ++i;
  std::string w;
  while (i < rest.size() && std::isalpha(static_cast<unsigned char>(rest[i])))
    w += static_cast<char>(std::toupper(static_cast<unsigned char>(rest[i++])));
  if (!find_statement(w)) return;
  r.problem(number, r.scanner().line(), w, "",
            "written after the last value of the line, it would be read as a comment and the "
            "design would run without it; begin the " + w + " statement on a new line");
}

// The table's row of the word a statement after the current one starts with; null when it
// starts with no statement word. A design record starts with a number, so no deck without these
// statements has such a line where a design record may start.
const StatementWord* statement_ahead(DeckScanner& sc) {
  const DeckScanner::Position here = sc.position();
  sc.begin_statement();
  const DeckScanner::Token t = sc.next();
  sc.seek(here);
  if (t.kind != DeckScanner::Kind::Value || t.quoted || !t.fault.empty()) return nullptr;
  return find_statement(upper(t.text));
}

}  // namespace

const std::vector<StatementWord>& statement_words() { return table(); }

const StatementWord* find_statement(std::string_view word) {
  for (const StatementWord& s : table())
    if (s.word == word) return &s;
  return nullptr;
}

ExtraStatementWord::ExtraStatementWord(std::string word, ReadStatement read) : word_(word) {
  table().push_back({std::move(word), read});
}

ExtraStatementWord::~ExtraStatementWord() {
  auto& t = table();
  t.erase(std::remove_if(t.begin(), t.end(), [&](const StatementWord& s) { return s.word == word_; }),
          t.end());
}

void read_statements(StatementReader& r, Design& g) {
  DeckScanner& sc = r.scanner();
  for (const StatementWord* s = (statement_in_comment(r, g.number), statement_ahead(sc)); s;
       s = (statement_in_comment(r, g.number), statement_ahead(sc))) {
    Statement st(sc);
    DeckScanner::Token key;
    st.take(key);
    r.begin_statement(key.line);
    if (!s->read(r, st, g, key.line)) return;
    r.swallowed(g.number, s->word);
  }
}

}  // namespace kestrel::deck
