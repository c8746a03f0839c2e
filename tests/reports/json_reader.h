#pragma once
// A strict JSON reader for the tests, written apart from the program's writer: it follows the
// JSON grammar (RFC 8259) exactly and rejects anything else (NaN, Infinity, leading zeros,
// trailing commas, raw control characters, bad escapes, invalid UTF-8). Numbers are converted by
// strtod, which rounds correctly, so a number reads back to the double it came from exactly when
// the text identifies that double.
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::reports::testing {

struct Json {
  enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
  bool b = false;
  double num = 0;
  std::string text;  // string value, or the number as written
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in file order

  // Defined below, where Json is complete: the pairs of `members` need the whole type (clang
  // with libstdc++ checks it when it first meets the implicit ones).
  Json();
  Json(const Json&);
  Json(Json&&) noexcept;
  Json& operator=(const Json&);
  Json& operator=(Json&&) noexcept;
  ~Json();

  bool is_null() const { return kind == Kind::null; }
  const Json& operator[](std::string_view key) const {
    if (kind != Kind::object) throw std::runtime_error("not an object at key " + std::string(key));
    for (const auto& [k, v] : members)
      if (k == key) return v;
    throw std::runtime_error("missing key " + std::string(key));
  }
  bool has(std::string_view key) const {
    for (const auto& [k, v] : members)
      if (k == key) return true;
    return false;
  }
  const Json& operator[](size_t i) const {
    if (kind != Kind::array || i >= items.size()) throw std::runtime_error("bad array index");
    return items[i];
  }
  size_t size() const { return kind == Kind::array ? items.size() : members.size(); }
  double number() const {
    if (kind != Kind::number) throw std::runtime_error("not a number");
    return num;
  }
  const std::string& str() const {
    if (kind != Kind::string) throw std::runtime_error("not a string");
    return text;
  }
  std::vector<double> numbers() const {
    std::vector<double> v;
    for (const auto& x : items) v.push_back(x.number());
    return v;
  }
};

inline Json::Json() = default;
inline Json::Json(const Json&) = default;
inline Json::Json(Json&&) noexcept = default;
inline Json& Json::operator=(const Json&) = default;
inline Json& Json::operator=(Json&&) noexcept = default;
inline Json::~Json() = default;

class JsonReader {
 public:
  static Json parse(std::string_view s) {
    JsonReader r(s);
    r.ws();
    Json v = r.value();
    r.ws();
    if (r.i_ != s.size()) r.fail("text after the value");
    return v;
  }

 private:
  explicit JsonReader(std::string_view s) : s_(s) {}
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(i_));
  }
  char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  void ws() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  void expect(std::string_view word) {
    if (s_.substr(i_, word.size()) != word) fail("expected " + std::string(word));
    i_ += word.size();
  }
  Json value() {
    Json v;
    const char c = peek();
    if (c == '{') {
      v.kind = Json::Kind::object;
      ++i_;
      ws();
      if (peek() == '}') { ++i_; return v; }
      for (;;) {
        ws();
        if (peek() != '"') fail("expected a key");
        std::string k = string();
        ws();
        expect(":");
        ws();
        v.members.emplace_back(std::move(k), value());
        ws();
        if (peek() == ',') { ++i_; continue; }
        expect("}");
        return v;
      }
    }
    if (c == '[') {
      v.kind = Json::Kind::array;
      ++i_;
      ws();
      if (peek() == ']') { ++i_; return v; }
      for (;;) {
        ws();
        v.items.push_back(value());
        ws();
        if (peek() == ',') { ++i_; continue; }
        expect("]");
        return v;
      }
    }
    if (c == '"') {
      v.kind = Json::Kind::string;
      v.text = string();
      return v;
    }
    if (c == 't') { expect("true"); v.kind = Json::Kind::boolean; v.b = true; return v; }
    if (c == 'f') { expect("false"); v.kind = Json::Kind::boolean; return v; }
    if (c == 'n') { expect("null"); return v; }
    return number();
  }
  Json number() {
    const size_t start = i_;
    auto digits = [&] {
      const size_t d = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      if (i_ == d) fail("expected a digit");
    };
    if (peek() == '-') ++i_;
    if (peek() == '0') {
      ++i_;
    } else {
      digits();
    }
    if (peek() == '.') { ++i_; digits(); }
    if (peek() == 'e' || peek() == 'E') {
      ++i_;
      if (peek() == '+' || peek() == '-') ++i_;
      digits();
    }
    Json v;
    v.kind = Json::Kind::number;
    v.text = std::string(s_.substr(start, i_ - start));
    v.num = std::strtod(v.text.c_str(), nullptr);
    return v;
  }
  static void put_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  unsigned hex4() {
    if (i_ + 4 > s_.size()) fail("short \\u escape");
    unsigned v = 0;
    for (int j = 0; j < 4; ++j) {
      const char h = s_[i_++];
      v <<= 4;
      if (h >= '0' && h <= '9') v |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f') v |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') v |= static_cast<unsigned>(h - 'A' + 10);
      else fail("bad hex digit");
    }
    return v;
  }
  std::string string() {
    ++i_;  // opening quote
    std::string out;
    for (;;) {
      if (i_ >= s_.size()) fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(s_[i_]);
      if (c == '"') { ++i_; return out; }
      if (c < 0x20) fail("raw control character in a string");
      if (c == '\\') {
        ++i_;
        const char e = peek();
        ++i_;
        switch (e) {
          case '"': out += '"'; break;
          case '\\': out += '\\'; break;
          case '/': out += '/'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          case 'u': {
            unsigned cp = hex4();
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              expect("\\u");
              const unsigned lo = hex4();
              if (lo < 0xDC00 || lo > 0xDFFF) fail("bad surrogate pair");
              cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
              fail("lone low surrogate");
            }
            put_utf8(out, cp);
            break;
          }
          default: fail("bad escape");
        }
        continue;
      }
      if (c < 0x80) { out += static_cast<char>(c); ++i_; continue; }
      // A UTF-8 sequence must be complete and well formed.
      size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
      if (n == 0 || (c >= 0xE0 && c <= 0xEF && n != 3)) fail("invalid UTF-8 lead byte");
      if (i_ + n > s_.size()) fail("truncated UTF-8");
      for (size_t j = 1; j < n; ++j)
        if ((static_cast<unsigned char>(s_[i_ + j]) & 0xC0) != 0x80) fail("invalid UTF-8 continuation");
      out.append(s_.substr(i_, n));
      i_ += n;
    }
  }

  std::string_view s_;
  size_t i_ = 0;
};

}  // namespace kestrel::reports::testing
