#include "parser_lexer.hpp"

#include <algorithm>
#include <climits>
#include <iterator>
#include <cstring>

#include "openqasm3/parser.hpp"

namespace openqasm3 {

QASM3ParsingError::QASM3ParsingError(std::string message_, int line_, int column_)
    : std::runtime_error(std::to_string(line_) + ":" + std::to_string(column_) + ": " + message_),
      message(std::move(message_)),
      line(line_),
      column(column_) {}

}  // namespace openqasm3

namespace openqasm3::parsing {

void fail(std::string message, int line, int column) {
  throw QASM3ParsingError(std::move(message), line, column);
}

namespace {

// Character classes of the ASCII range.
enum : std::uint8_t { kIdStart = 1, kDigit = 2, kBlank = 4, kNewline = 8 };

constexpr auto kAscii = [] {
  struct Table {
    std::uint8_t v[256] = {};
  } t;
  for (int c = 'a'; c <= 'z'; ++c) t.v[c] = kIdStart;
  for (int c = 'A'; c <= 'Z'; ++c) t.v[c] = kIdStart;
  t.v[static_cast<unsigned char>('_')] = kIdStart;
  for (int c = '0'; c <= '9'; ++c) t.v[c] = kDigit;
  t.v[static_cast<unsigned char>(' ')] = kBlank;
  t.v[static_cast<unsigned char>('\t')] = kBlank;
  t.v[static_cast<unsigned char>('\r')] = kNewline;
  t.v[static_cast<unsigned char>('\n')] = kNewline;
  return t;
}();

inline std::uint8_t cls(char c) { return kAscii.v[static_cast<unsigned char>(c)]; }

bool is_digit_of(char c, int base) {
  switch (base) {
    case 2: return c == '0' || c == '1';
    case 8: return c >= '0' && c <= '7';
    case 10: return c >= '0' && c <= '9';
    default: return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
}

struct Keyword {
  std::string_view text;
  Tok kind;
};

constexpr Keyword kKeywords[] = {
#define TOKEN(Name, text)
#define KEYWORD(Name, text) {text, Tok::Name},
#include "tokens.def"
};

constexpr std::size_t kLongestKeyword = [] {
  std::size_t n = 0;
  for (const auto& k : kKeywords) n = std::max(n, k.text.size());
  return n;
}();

// Keywords grouped by first letter, so that a word is compared with a few candidates at most.
struct KeywordIndex {
  // For each first byte, the range of its keywords in `sorted`.
  std::uint8_t begin[128] = {};
  std::uint8_t end[128] = {};
  Keyword sorted[std::size(kKeywords)] = {};
};

constexpr KeywordIndex kKeywordIndex = [] {
  KeywordIndex index;
  std::size_t n = 0;
  for (int c = 0; c < 128; ++c) {
    index.begin[c] = static_cast<std::uint8_t>(n);
    for (const auto& k : kKeywords)
      if (k.text[0] == c) index.sorted[n++] = k;
    index.end[c] = static_cast<std::uint8_t>(n);
  }
  return index;
}();

Tok keyword_kind(std::string_view word) {
  const auto c = static_cast<unsigned char>(word[0]);
  if (c >= 128 || word.size() < 2 || word.size() > kLongestKeyword) return Tok::Identifier;
  for (std::size_t i = kKeywordIndex.begin[c]; i < kKeywordIndex.end[c]; ++i) {
    const std::string_view k = kKeywordIndex.sorted[i].text;
    if (k.size() != word.size()) continue;
    std::size_t j = 1;  // the first letters are equal
    while (j < k.size() && k[j] == word[j]) ++j;
    if (j == k.size()) return kKeywordIndex.sorted[i].kind;
  }
  return Tok::Identifier;
}

// The words that the defcal header knows as keywords; every other word is an identifier there.
bool is_defcal_keyword(Tok kind) {
  switch (kind) {
    case Tok::KwQreg: case Tok::KwQubit: case Tok::KwCreg: case Tok::KwBool: case Tok::KwBit:
    case Tok::KwInt: case Tok::KwUint: case Tok::KwAngle: case Tok::KwFloat: case Tok::KwComplex:
    case Tok::KwArray: case Tok::KwDuration: case Tok::KwMeasure: case Tok::KwDelay:
    case Tok::KwReset:
      return true;
    default:
      return false;
  }
}

std::string quoted(std::string_view text) {
  constexpr std::size_t kMax = 40;
  std::string out = "'";
  if (text.size() > kMax) {
    std::size_t cut = kMax;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole code points
    out.append(text.substr(0, cut));
    out += "...";
  } else {
    out.append(text);
  }
  out += "'";
  return out;
}

std::string char_text(std::string_view src, std::size_t pos) {
  unsigned char c = static_cast<unsigned char>(src[pos]);
  if (c < 0x20 || c == 0x7F) {
    static const char* hex = "0123456789ABCDEF";
    return std::string("character 0x") + hex[c >> 4] + hex[c & 15];
  }
  std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  return "character " + quoted(src.substr(pos, len));
}

}  // namespace

std::string_view spelling(Tok kind) {
  switch (kind) {
#define TOKEN(Name, text) case Tok::Name: return text;
#define SYMBOL(Name, text) case Tok::Name: return "'" text "'";
#define KEYWORD(Name, text) SYMBOL(Name, text)
#include "tokens.def"
  }
  return "token";
}

std::string describe(const Token& t) {
  switch (t.kind) {
    case Tok::Eof: return "end of file";
    case Tok::Identifier: case Tok::HardwareQubit: case Tok::BinaryInt: case Tok::OctalInt:
    case Tok::DecimalInt: case Tok::HexInt: case Tok::Float: case Tok::Imaginary: case Tok::Timing:
    case Tok::Bitstring: case Tok::Version: case Tok::String: case Tok::Annotation:
      return std::string(spelling(t.kind)) + " " + quoted(t.text);
    case Tok::LineRest: return "text " + quoted(t.text);
    case Tok::CalBody: return "calibration body";
    case Tok::CompoundAssign: return quoted(t.text);
    default: return std::string(spelling(t.kind));
  }
}

// ---------------------------------------------------------------------------------------------

Lexer::Lexer(std::string_view source) : src_(source) {
  if (src_.size() >= static_cast<std::size_t>(INT_MAX)) fail("source text too large", 1, 0);
  // Reject malformed UTF-8 once, up front, so that no later step sees broken text.
  const auto* s = reinterpret_cast<const unsigned char*>(src_.data());
  const std::size_t n = src_.size();
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, s + i, 8);
      if ((w & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    ascii_ = false;
    std::size_t len = 0;
    std::uint32_t cp = 0, min = 0;
    if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07, min = 0x10000;
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      int line, col;
      locate_anywhere(i, line, col);
      static const char* hex = "0123456789ABCDEF";
      fail(std::string("invalid UTF-8 byte 0x") + hex[c >> 4] + hex[c & 15], line, col);
    }
    i += len;
  }
}

void Lexer::locate(std::size_t pos, int& line, int& col) {
  const char* s = src_.data();
  if (ascii_) {
    // Columns are byte offsets: only the newlines matter.
    for (std::size_t i = scanned_; i < pos; ++i) {
      if (s[i] == '\n') {
        ++line_;
        line_start_ = i + 1;
      }
    }
    if (pos > scanned_) scanned_ = pos;
    line = line_;
    col = static_cast<int>(pos - line_start_);
    return;
  }
  for (std::size_t i = scanned_; i < pos; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\n') {
      ++line_;
      line_start_ = i + 1;
      continuation_bytes_ = 0;
    } else if ((c & 0xC0) == 0x80) {
      ++continuation_bytes_;
    }
  }
  if (pos > scanned_) scanned_ = pos;
  line = line_;
  col = static_cast<int>(pos - line_start_ - continuation_bytes_);
}

void Lexer::locate_anywhere(std::size_t pos, int& line, int& col) const {
  line = 1;
  std::size_t start = 0, cont = 0;
  for (std::size_t i = 0; i < pos && i < src_.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(src_[i]);
    if (c == '\n') {
      ++line;
      start = i + 1;
      cont = 0;
    } else if ((c & 0xC0) == 0x80) {
      ++cont;
    }
  }
  col = static_cast<int>(pos - start - cont);
}

void Lexer::error_at(std::size_t pos, std::string message) {
  int line, col;
  if (pos >= scanned_) locate(pos, line, col);
  else locate_anywhere(pos, line, col);
  fail(std::move(message), line, col);
}

Token Lexer::make(Tok kind, std::size_t start, std::size_t end) {
  Token t;
  t.kind = kind;
  t.text = src_.substr(start, end - start);
  locate(start, t.line, t.col);
  if (ascii_) {
    t.width = static_cast<int>(t.text.size());
  } else {
    int width = 0;
    for (char c : t.text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    t.width = width;
  }
  pos_ = end;
  return t;
}

std::uint32_t Lexer::decode(std::size_t pos, int& len) const {
  // The text is valid UTF-8 (checked in the constructor).
  const auto* s = reinterpret_cast<const unsigned char*>(src_.data()) + pos;
  unsigned char c = s[0];
  if (c < 0x80) return len = 1, c;
  if (c < 0xE0) return len = 2, ((c & 0x1Fu) << 6) | (s[1] & 0x3Fu);
  if (c < 0xF0) return len = 3, ((c & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
  return len = 4, ((c & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
}

std::size_t Lexer::scan_identifier(std::size_t pos) const {
  const std::size_t n = src_.size();
  std::size_t p = pos;
  bool first = true;
  while (p < n) {
    char c = src_[p];
    std::uint8_t k = cls(c);
    if (k & kIdStart) {
      ++p;
    } else if ((k & kDigit) && !first) {
      ++p;
    } else if (static_cast<unsigned char>(c) >= 0x80) {
      int len;
      std::uint32_t cp = decode(p, len);
      if (!is_identifier_letter(cp)) break;
      p += static_cast<std::size_t>(len);
    } else {
      break;
    }
    first = false;
  }
  return p;
}

std::size_t Lexer::scan_digits(std::size_t pos, int base) const {
  const std::size_t n = src_.size();
  if (pos >= n || !is_digit_of(src_[pos], base)) return pos;
  std::size_t p = pos + 1;
  while (p < n) {
    if (is_digit_of(src_[p], base)) {
      ++p;
    } else if (src_[p] == '_' && p + 1 < n && is_digit_of(src_[p + 1], base)) {
      p += 2;
    } else {
      break;
    }
  }
  return p;
}

// Skips blanks and tabs, newlines if asked, and comments if asked. Returns false at the end of
// the text.
bool Lexer::skip_blanks_and_comments(bool newlines, bool comments) {
  const std::size_t n = src_.size();
  while (pos_ < n) {
    char c = src_[pos_];
    std::uint8_t k = cls(c);
    if (k & kBlank) {
      ++pos_;
    } else if (k & kNewline) {
      if (!newlines) return true;
      ++pos_;
    } else if (comments && c == '/' && pos_ + 1 < n && src_[pos_ + 1] == '/') {
      pos_ += 2;
      while (pos_ < n && !ends_line(src_[pos_])) ++pos_;
    } else if (comments && c == '/' && pos_ + 1 < n && src_[pos_ + 1] == '*') {
      std::size_t end = src_.find("*/", pos_ + 2);
      if (end == std::string_view::npos) error_at(pos_, "unterminated comment: '/*' without '*/'");
      pos_ = end + 2;
    } else {
      return true;
    }
  }
  return false;
}

Token Lexer::next() {
  switch (mode_) {
    case Mode::Default:
      return lex_default();
    case Mode::Version:
      mode_ = Mode::Default;
      return lex_version();
    case Mode::String:
      mode_ = Mode::Default;
      return lex_string();
    case Mode::LineRest: {
      mode_ = Mode::Default;
      skip_blanks_and_comments(false, false);
      if (pos_ >= src_.size() || (cls(src_[pos_]) & kNewline)) return lex_default();
      std::size_t end = pos_;
      while (end < src_.size() && !(cls(src_[end]) & kNewline)) ++end;
      return make(Tok::LineRest, pos_, end);
    }
    case Mode::CalPrelude:
      skip_blanks_and_comments(true, true);
      if (pos_ < src_.size() && src_[pos_] == '{') {
        mode_ = Mode::CalBody;
        return make(Tok::LBrace, pos_, pos_ + 1);
      }
      error_at(pos_, "expected '{' after 'cal', found " +
                         (pos_ < src_.size() ? char_text(src_, pos_) : std::string("end of file")));
    case Mode::DefcalPrelude:
      return lex_defcal_prelude();
    case Mode::CalBody:
      return lex_cal_body();
    case Mode::CalClose:
      mode_ = Mode::Default;
      return make(Tok::RBrace, pos_, pos_ + 1);
  }
  return lex_default();
}

Token Lexer::lex_version() {
  skip_blanks_and_comments(true, false);
  const std::size_t start = pos_;
  std::size_t p = start;
  const std::size_t n = src_.size();
  while (p < n && (cls(src_[p]) & kDigit)) ++p;
  if (p == start)
    error_at(start, "expected a version number after 'OPENQASM', found " +
                        (start < n ? char_text(src_, start) : std::string("end of file")));
  if (p + 1 < n && src_[p] == '.' && (cls(src_[p + 1]) & kDigit)) {
    ++p;
    while (p < n && (cls(src_[p]) & kDigit)) ++p;
  }
  return make(Tok::Version, start, p);
}

Token Lexer::lex_string() {
  skip_blanks_and_comments(true, false);
  const std::size_t start = pos_;
  const std::size_t n = src_.size();
  if (start >= n || (src_[start] != '"' && src_[start] != '\'')) {
    error_at(start, "expected a quoted name, found " +
                        (start < n ? char_text(src_, start) : std::string("end of file")));
  }
  const char quote = src_[start];
  std::size_t p = start + 1;
  while (p < n && src_[p] != quote && src_[p] != '\r' && src_[p] != '\n' && src_[p] != '\t') ++p;
  if (p >= n || src_[p] != quote) error_at(start, "unterminated string");
  if (p == start + 1) error_at(start, "empty string");
  return make(Tok::String, start, p + 1);
}

Token Lexer::lex_cal_body() {
  // pos_ is just after the opening brace.
  const std::size_t start = pos_;
  const std::size_t n = src_.size();
  std::size_t depth = 1;
  std::size_t p = start;
  for (; p < n; ++p) {
    if (src_[p] == '{') {
      ++depth;
    } else if (src_[p] == '}') {
      if (--depth == 0) break;
    }
  }
  if (p >= n) error_at(start - 1, "unterminated calibration block: '{' without matching '}'");
  if (p == start) {
    mode_ = Mode::Default;
    return make(Tok::RBrace, p, p + 1);
  }
  mode_ = Mode::CalClose;
  return make(Tok::CalBody, start, p);
}

Token Lexer::lex_number(std::size_t start) {
  const std::size_t n = src_.size();
  const bool suffixes = mode_ != Mode::DefcalPrelude;
  // Base-prefixed integers. When one matches it is the longest match.
  if (src_[start] == '0' && start + 1 < n) {
    char c1 = src_[start + 1];
    int base = (c1 == 'b' || c1 == 'B') ? 2 : c1 == 'o' ? 8 : (c1 == 'x' || c1 == 'X') ? 16 : 0;
    if (base) {
      std::size_t e = scan_digits(start + 2, base);
      if (e > start + 2)
        return make(base == 2 ? Tok::BinaryInt : base == 8 ? Tok::OctalInt : Tok::HexInt, start, e);
    }
  }
  auto scan_exponent = [&](std::size_t p) {
    if (p < n && (src_[p] == 'e' || src_[p] == 'E')) {
      std::size_t q = p + 1;
      if (q < n && (src_[q] == '+' || src_[q] == '-')) ++q;
      std::size_t r = scan_digits(q, 10);
      if (r > q) return r;
    }
    return p;
  };
  std::size_t p;
  bool is_float = false;
  if (src_[start] == '.') {
    p = scan_exponent(scan_digits(start + 1, 10));
    is_float = true;
  } else {
    p = scan_digits(start, 10);
    if (p < n && src_[p] == '.') {
      p = scan_exponent(scan_digits(p + 1, 10));
      is_float = true;
    } else {
      std::size_t q = scan_exponent(p);
      if (q > p) is_float = true, p = q;
    }
  }
  if (suffixes) {
    std::size_t q = p;
    while (q < n && (cls(src_[q]) & kBlank)) ++q;
    const char u = q < n ? src_[q] : '\0';
    if (u != 'i' && u != 'd' && u != 'n' && u != 'u' && u != 'm' && u != 's' && u != '\xC2')
      return make(is_float ? Tok::Float : Tok::DecimalInt, start, p);
    auto at = [&](std::string_view s) { return src_.compare(q, s.size(), s) == 0; };
    if (at("im")) return make(Tok::Imaginary, start, q + 2);
    if (at("dt") || at("ns") || at("us") || at("ms")) return make(Tok::Timing, start, q + 2);
    if (at("\xC2\xB5s")) return make(Tok::Timing, start, q + 3);
    if (at("s")) return make(Tok::Timing, start, q + 1);
  }
  return make(is_float ? Tok::Float : Tok::DecimalInt, start, p);
}

bool Lexer::starts_number(std::size_t pos) const {
  const std::size_t n = src_.size();
  return (cls(src_[pos]) & kDigit) || (src_[pos] == '.' && pos + 1 < n && (cls(src_[pos + 1]) & kDigit));
}

Token Lexer::lex_bitstring(std::size_t start) {
  const std::size_t n = src_.size();
  std::size_t e = scan_digits(start + 1, 2);
  if (e == start + 1 || e >= n || src_[e] != '"')
    error_at(start, "invalid bitstring literal: expected binary digits between double quotes");
  return make(Tok::Bitstring, start, e + 1);
}

Token Lexer::lex_hardware_qubit(std::size_t start) {
  const std::size_t n = src_.size();
  std::size_t e = start + 1;
  while (e < n && (cls(src_[e]) & kDigit)) ++e;
  if (e == start + 1) error_at(start, "invalid hardware qubit: expected digits after '$'");
  return make(Tok::HardwareQubit, start, e);
}

Token Lexer::lex_default() {
  const std::size_t n = src_.size();
  if (!skip_blanks_and_comments(true, true)) return make(Tok::Eof, n, n);
  const std::size_t start = pos_;
  const char c = src_[start];
  const std::uint8_t k = cls(c);
  auto next_is = [&](char x) { return start + 1 < n && src_[start + 1] == x; };
  auto op = [&](Tok kind, std::size_t len) { return make(kind, start, start + len); };

  if ((k & kIdStart) || static_cast<unsigned char>(c) >= 0x80) {
    std::size_t end = scan_identifier(start);
    if (end == start) error_at(start, "unexpected " + char_text(src_, start));
    Tok kind = keyword_kind(src_.substr(start, end - start));
    switch (kind) {
      case Tok::KwOpenqasm: mode_ = Mode::Version; break;
      case Tok::KwInclude: case Tok::KwDefcalgrammar: mode_ = Mode::String; break;
      case Tok::KwPragma: mode_ = Mode::LineRest; break;
      case Tok::KwCal: mode_ = Mode::CalPrelude; break;
      case Tok::KwDefcal: mode_ = Mode::DefcalPrelude; break;
      default: break;
    }
    return make(kind, start, end);
  }
  if (starts_number(start)) return lex_number(start);

  switch (c) {
    case '"': return lex_bitstring(start);
    case '$': return lex_hardware_qubit(start);
    case '@': {
      std::size_t e = scan_identifier(start + 1);
      if (e == start + 1) return op(Tok::At, 1);
      while (e + 1 < n && src_[e] == '.') {
        std::size_t f = scan_identifier(e + 1);
        if (f == e + 1) break;
        e = f;
      }
      mode_ = Mode::LineRest;
      return make(Tok::Annotation, start, e);
    }
    case '#':
      if (src_.compare(start, 7, "#pragma") == 0) {
        mode_ = Mode::LineRest;
        return op(Tok::KwPragma, 7);
      }
      if (src_.compare(start, 4, "#dim") == 0) return op(Tok::KwDim, 4);
      error_at(start, "unexpected character '#'");
    case '[': return op(Tok::LBracket, 1);
    case ']': return op(Tok::RBracket, 1);
    case '{': return op(Tok::LBrace, 1);
    case '}': return op(Tok::RBrace, 1);
    case '(': return op(Tok::LParen, 1);
    case ')': return op(Tok::RParen, 1);
    case ':': return op(Tok::Colon, 1);
    case ';': return op(Tok::Semicolon, 1);
    case '.': return op(Tok::Dot, 1);
    case ',': return op(Tok::Comma, 1);
    case '=': return next_is('=') ? op(Tok::EqEq, 2) : op(Tok::Equals, 1);
    case '-':
      if (next_is('>')) return op(Tok::Arrow, 2);
      return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Minus, 1);
    case '+':
      if (next_is('+')) return op(Tok::DoublePlus, 2);
      return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Plus, 1);
    case '*':
      if (next_is('*'))
        return (start + 2 < n && src_[start + 2] == '=') ? op(Tok::CompoundAssign, 3) : op(Tok::DoubleAsterisk, 2);
      return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Asterisk, 1);
    case '/': return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Slash, 1);
    case '%': return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Percent, 1);
    case '|':
      if (next_is('|')) return op(Tok::DoublePipe, 2);
      return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Pipe, 1);
    case '&':
      if (next_is('&')) return op(Tok::DoubleAmp, 2);
      return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Amp, 1);
    case '^': return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Caret, 1);
    case '~': return next_is('=') ? op(Tok::CompoundAssign, 2) : op(Tok::Tilde, 1);
    case '!': return next_is('=') ? op(Tok::NotEq, 2) : op(Tok::Bang, 1);
    case '<':
      if (next_is('<'))
        return (start + 2 < n && src_[start + 2] == '=') ? op(Tok::CompoundAssign, 3) : op(Tok::Shl, 2);
      return next_is('=') ? op(Tok::Le, 2) : op(Tok::Lt, 1);
    case '>':
      if (next_is('>'))
        return (start + 2 < n && src_[start + 2] == '=') ? op(Tok::CompoundAssign, 3) : op(Tok::Shr, 2);
      return next_is('=') ? op(Tok::Ge, 2) : op(Tok::Gt, 1);
    default:
      break;
  }
  error_at(start, "unexpected " + char_text(src_, start));
}

Token Lexer::lex_defcal_prelude() {
  const std::size_t n = src_.size();
  if (!skip_blanks_and_comments(true, true)) return make(Tok::Eof, n, n);
  const std::size_t start = pos_;
  const char c = src_[start];
  const std::uint8_t k = cls(c);
  auto next_is = [&](char x) { return start + 1 < n && src_[start + 1] == x; };
  auto op = [&](Tok kind, std::size_t len) { return make(kind, start, start + len); };
  if ((k & kIdStart) || static_cast<unsigned char>(c) >= 0x80) {
    std::size_t end = scan_identifier(start);
    if (end == start) error_at(start, "unexpected " + char_text(src_, start) + " in defcal header");
    Tok kind = keyword_kind(src_.substr(start, end - start));
    return make(is_defcal_keyword(kind) ? kind : Tok::Identifier, start, end);
  }
  if (starts_number(start)) return lex_number(start);
  switch (c) {
    case '{':
      mode_ = Mode::CalBody;
      return op(Tok::LBrace, 1);
    case '"': return lex_bitstring(start);
    case '$': return lex_hardware_qubit(start);
    case '[': return op(Tok::LBracket, 1);
    case ']': return op(Tok::RBracket, 1);
    case '(': return op(Tok::LParen, 1);
    case ')': return op(Tok::RParen, 1);
    case ',': return op(Tok::Comma, 1);
    case '+': return op(Tok::Plus, 1);
    case '-': return next_is('>') ? op(Tok::Arrow, 2) : op(Tok::Minus, 1);
    case '*': return op(Tok::Asterisk, 1);
    case '/': return op(Tok::Slash, 1);
    case '<':
      if (next_is('<')) return op(Tok::Shl, 2);
      break;
    case '>':
      if (next_is('>')) return op(Tok::Shr, 2);
      break;
    default:
      break;
  }
  error_at(start, "unexpected " + char_text(src_, start) + " in defcal header");
}

}  // namespace openqasm3::parsing
