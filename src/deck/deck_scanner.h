#pragma once
// Free-format (list-directed) reading of the input deck, statement by statement.
//
// Each statement starts at the beginning of a new line and takes items until it is satisfied; its
// values may run over as many lines as needed, and whatever follows the last value on the line
// where it was satisfied is skipped. Values are separated by blanks (or tabs) and/or one comma;
// r*v stands for r copies of v, r* for r null values; two commas in a row (or a leading comma)
// give a null value that leaves the item unchanged; a slash ends the statement and leaves every
// remaining item unchanged. Character values may be quoted ('...' or "...", a doubled quote
// standing for one); an unquoted character value ends at the first blank, comma or slash.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::deck {

class DeckScanner {
 public:
  enum class Kind {
    Value,  // a value (text holds it as written, without quotes when quoted)
    Null,   // a null value: the item keeps its value
    Slash,  // the statement ends here; the remaining items keep their values
    End,    // end of the deck
  };
  struct Token {
    Kind kind = Kind::End;
    std::string text;
    bool quoted = false;
    std::string fault;  // non-empty when the text cannot be a value at all
    int line = 0;       // 1-based deck line where the value starts
  };

  explicit DeckScanner(std::string_view deck);

  // Starts a new statement at the beginning of the line after the one where the previous
  // statement was satisfied (the first statement starts at line 1).
  void begin_statement();
  // The next item of the current statement.
  Token next();

  // 1-based line of the current reading position (the last line when the deck is exhausted).
  int line() const;
  int line_count() const { return static_cast<int>(lines_.size()); }
  // Whether the deck holds no value, null, slash or anything else but blanks.
  bool blank() const;

  // A reading position, to look ahead and come back.
  struct Position {
    std::size_t line = 0, col = 0;
    bool fresh = true, after_value = false;
    std::int64_t repeat_left = 0;
    Token repeat;
  };
  Position position() const { return {line_, col_, fresh_, after_value_, repeat_left_, repeat_}; }
  void seek(const Position& p);
  // The position of a statement that ended on 0-based line `line0`: the next one starts on the
  // line after it.
  Position after_line(std::size_t line0) const;
  // What follows the reading position on its line: after the last value of a statement, the
  // text the reader skips as a comment (empty at the start of a line or of the deck's end).
  std::string_view rest_of_line() const {
    return !fresh_ && line_ < lines_.size() ? lines_[line_].substr(col_ < lines_[line_].size() ? col_ : lines_[line_].size())
                                            : std::string_view();
  }
  // 0-based line of the reading position (line_count() when the deck is exhausted).
  std::size_t line_index() const { return line_; }

  // Items taken so far, by next() and by the reader's items after a slash: the work of reading,
  // which must grow with the deck's length and never with the values it holds.
  std::uint64_t work() const { return work_; }
  void count_item() { ++work_; }

 private:
  Token scan_value();
  std::string scan_quoted(Token& tok);

  std::vector<std::string_view> lines_;
  std::size_t line_ = 0, col_ = 0;
  bool fresh_ = true;
  bool after_value_ = false;  // a value was read and its separating comma is not yet consumed
  std::int64_t repeat_left_ = 0;
  Token repeat_;
  std::uint64_t work_ = 0;
};

// Conversion of a value's text to the type of its item. Each returns false when the text cannot
// be read as that type.
bool parse_deck_int(std::string_view text, int& out);
bool parse_deck_real(std::string_view text, double& out);

}  // namespace kestrel::deck
