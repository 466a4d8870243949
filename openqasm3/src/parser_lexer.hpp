// The lexer of the parser: turns source bytes into tokens on demand, without copying the text.
//
// The token language is context-sensitive in a few places (after OPENQASM, include,
// defcalgrammar, pragma, an annotation keyword, cal and defcal), and the switch depends only on
// the previous tokens, so the lexer keeps its own mode and the parser never steers it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace openqasm3::parsing {

// The token kinds, listed with their spellings in tokens.def.
enum class Tok : std::uint8_t {
#define TOKEN(Name, text) Name,
#include "tokens.def"
};

struct Token {
  Tok kind = Tok::Eof;
  int line = 1;
  int col = 0;
  int width = 0;  // length in code points (for spans of name tokens)
  std::string_view text;
};

// Describes a token for messages: "identifier 'x'", "';'", "end of file".
std::string describe(const Token& t);
// The source form of a token kind, for "expected ..." messages: "';'", "identifier".
std::string_view spelling(Tok kind);

bool is_identifier_letter(std::uint32_t code_point);

// A `//` comment ends at a line feed or a lone carriage return alike, for the lexer and for the
// version check that reads the raw text before it.
inline bool ends_line(char c) { return c == '\n' || c == '\r'; }

[[noreturn]] void fail(std::string message, int line, int column);

class Lexer {
 public:
  explicit Lexer(std::string_view source);

  Token next();

  // Line and column of a byte offset that may lie before positions already handed out.
  void locate_anywhere(std::size_t pos, int& line, int& col) const;

 private:
  enum class Mode : std::uint8_t {
    Default, Version, String, LineRest, CalPrelude, DefcalPrelude, CalBody, CalClose
  };

  Token make(Tok kind, std::size_t start, std::size_t end);
  void locate(std::size_t pos, int& line, int& col);
  [[noreturn]] void error_at(std::size_t pos, std::string message);

  Token lex_default();
  Token lex_defcal_prelude();
  Token lex_number(std::size_t start);
  bool starts_number(std::size_t pos) const;  // a digit, or '.' followed by one
  Token lex_bitstring(std::size_t start);      // start is at the opening '"'
  Token lex_hardware_qubit(std::size_t start); // start is at the '$'
  Token lex_version();
  Token lex_string();
  Token lex_cal_body();
  bool skip_blanks_and_comments(bool newlines, bool comments);
  std::size_t scan_identifier(std::size_t pos) const;  // end of the identifier at pos, or pos
  std::size_t scan_digits(std::size_t pos, int base) const;
  std::uint32_t decode(std::size_t pos, int& len) const;

  std::string_view src_;
  std::size_t pos_ = 0;
  Mode mode_ = Mode::Default;

  // Position tracking: scanned lazily and only forward.
  std::size_t scanned_ = 0;
  std::size_t line_start_ = 0;
  std::size_t continuation_bytes_ = 0;  // UTF-8 continuation bytes since line_start_
  int line_ = 1;
  bool ascii_ = true;  // no byte above 0x7F: columns are byte offsets
};

}  // namespace openqasm3::parsing
