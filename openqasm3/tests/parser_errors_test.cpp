// Parser: placement and size rules, syntax and lexical errors, versions, literal and nesting
// limits. Every failure is one QASM3ParsingError with a position.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "openqasm3/parser.hpp"
#include "tree_builders.hpp"

namespace {

using openqasm3::parse;
using openqasm3::QASM3ParsingError;
using openqasm3::ast::BitstringLiteral;
using openqasm3::ast::ClassicalAssignment;
using openqasm3::ast::IntegerLiteral;
using openqasm3::ast::NodeKind;

struct Expected {
  std::string source;
  int line;
  int column;
  std::string message;
};

// Parses `source` and checks the error's position and message (exactly).
void expect_error(const Expected& e) {
  try {
    parse(e.source);
    ADD_FAILURE() << "no error for: " << e.source;
  } catch (const QASM3ParsingError& err) {
    EXPECT_EQ(err.message, e.message) << e.source;
    EXPECT_EQ(err.line, e.line) << e.source << " -> " << err.what();
    EXPECT_EQ(err.column, e.column) << e.source << " -> " << err.what();
    EXPECT_EQ(std::string(err.what()), std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.message);
  }
}

void expect_errors(const std::vector<Expected>& cases) {
  for (const auto& c : cases) expect_error(c);
}

// Parses `source` and expects some error starting with `prefix`; returns it.
QASM3ParsingError error_of(const std::string& source) {
  try {
    parse(source);
  } catch (const QASM3ParsingError& err) {
    return err;
  }
  ADD_FAILURE() << "no error for: " << source;
  return QASM3ParsingError("", 0, 0);
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(ParserErrors, StatementsThatMustBeGlobal) {
  expect_errors({
      {"if (c) {\npragma x\n}", 2, 0, "pragmas must be global"},
      {"{\n  pragma inside a bare block\n}", 2, 2, "pragmas must be global"},
      {"def f() { defcalgrammar \"a\"; }", 1, 10, "'defcalgrammar' statements must be global"},
      {"while (1) include \"x\";", 1, 10, "'include' statements must be global"},
      {"if (1) { def f() {} }", 1, 9, "subroutine definitions must be global"},
      {"for int i in [0:1] extern e();", 1, 19, "extern declarations must be global"},
      {"box { gate g q {} }", 1, 6, "gate definitions must be global"},
      {"if (1) input int a;", 1, 7, "'input' declarations must be global"},
      {"if (1) output int a;", 1, 7, "'output' declarations must be global"},
      {"def f() { qubit q; }", 1, 10, "qubit declarations must be global"},
      {"while (1) { qreg q[2]; }", 1, 12, "qubit declarations must be global"},
      {"x = durationof({ qubit q; });", 1, 17, "qubit declarations must be global"},
      {"if (1) { array[int, 2] a; }", 1, 9, "arrays can only be declared globally"},
      {"gate g q { qubit r; }", 1, 11, "qubit declarations must be global"},
  });
  // Bare blocks and switch cases open no scope, as in the reference.
  EXPECT_NO_THROW(parse("{ qubit q; def f() {} gate g a {} }"));
  EXPECT_NO_THROW(parse("switch (x) { case 1 { qubit q; array[int, 1] a; } }"));
}

TEST(ParserErrors, GateBodies) {
  expect_errors({
      {"gate g q { int x; }", 1, 11, "cannot declare classical variables in a gate"},
      {"gate g q { bit c = measure q; }", 1, 11, "cannot declare classical variables in a gate"},
      {"gate g q { x = 1; }", 1, 11, "cannot assign to classical parameters in a gate"},
      {"gate g q { c = measure q; }", 1, 11, "cannot assign to classical parameters in a gate"},
      {"gate g q { c[0] = mq q; }", 1, 11, "cannot assign to classical parameters in a gate"},
      {"gate g q { measure q; }", 1, 11, "cannot have a non-unitary 'measure' instruction in a gate"},
      {"gate g q { measure q -> c; }", 1, 11, "cannot have a non-unitary 'measure' instruction in a gate"},
      {"gate g q {\n  reset q;\n}", 2, 2, "cannot have a non-unitary 'reset' instruction in a gate"},
      {"gate g q { mq q -> c; }", 1, 11,
       "cannot have a non-unitary measure-like quantum call expression instruction in a gate"},
      {"gate g q { return; }", 1, 11, "'return' statement outside subroutine"},
  });
  // What a gate body may hold: gates, loops, branches, boxes, delays, barriers, gphase.
  EXPECT_NO_THROW(parse("gate g(t) q { for int i in [0:1] { rx(t) q; } if (t > 0) x q; box { delay[t] q; } "
                        "barrier q; ctrl @ gphase(t) q; const int c = 1; }"));
}

TEST(ParserErrors, LoopsSubroutinesAndSwitches) {
  expect_errors({
      {"break;", 1, 0, "'break' statement outside loop"},
      {"if (1) continue;", 1, 7, "'continue' statement outside loop"},
      {"def f() { break; }", 1, 10, "'break' statement outside loop"},
      {"return 1;", 1, 0, "'return' statement outside subroutine"},
      {"for int i in [0:1] { return; }", 1, 21, "'return' statement outside subroutine"},
      {"switch (x) { default {} case 1 {} }", 1, 24, "'case' statement after 'default'"},
      {"switch (x) {\n default {}\n default {} }", 3, 1, "multiple 'default' cases"},
  });
  EXPECT_NO_THROW(parse("while (1) { if (x) { break; } else { box { continue; } } }"));
  EXPECT_NO_THROW(parse("def f() { for int i in {1} { while (1) break; } return; }"));
  EXPECT_NO_THROW(parse("for int i in [0:1] { switch (i) { case 0 { break; } } }"));
}

TEST(ParserErrors, BuiltInsSizesAndTypes) {
  expect_errors({
      {"gphase(1, a);", 1, 0,
       "'gphase' takes exactly one argument, but received [IntegerLiteral(span=Span(start_line=1, start_column=7, "
       "end_line=1, end_column=7), value=1), Identifier(span=Span(start_line=1, start_column=10, end_line=1, "
       "end_column=10), name='a')]"},
      {"ctrl @ gphase q;", 1, 0, "'gphase' takes exactly one argument, but received []"},
      {"x = sizeof(a, 1, 2);", 1, 4, "'sizeof' needs either one or two arguments"},
      {"y = sizeof();", 1, 4, "'sizeof' needs either one or two arguments"},
      {"int[-1] x;", 1, 3, "int size must be positive"},
      {"uint[0] x;", 1, 4, "uint size must be positive"},
      {"angle[~1] x;", 1, 5, "angle size must be positive"},
      {"x = int[(-2)](y);", 1, 7, "int size must be positive"},
      {"qreg q[0];", 1, 6, "qreg size must be positive"},
      {"creg c[-2];", 1, 6, "creg size must be positive"},
      {"complex[int] z;", 1, 8, "invalid type of complex components"},
      {"array[stretch, 2] a;", 1, 6, "invalid scalar type for array"},
      {"array[int, 2, -1] a;", 1, 14, "all array dimensions must be non-negative"},
  });
  EXPECT_NO_THROW(parse("array[int, 0] a; int[0.5] f; def f(mutable array[int, #dim = -1] a) {}"));
}

TEST(ParserErrors, SyntaxErrorsSayWhatWasExpectedAndFound) {
  expect_errors({
      {"qubit q;\nint x = 3\nx = 4;", 3, 0, "expected ';' after statement, found identifier 'x'"},
      {"x = (1 + 2;", 1, 10, "expected ')' to close '(', found ';'"},
      {"x = 1 +;", 1, 7, "expected expression, found ';'"},
      {"int;", 1, 3, "expected identifier after the type in a declaration, found ';'"},
      {"a b c;", 1, 4, "expected ';' after statement, found identifier 'c'"},
      {"if x {}", 1, 3, "expected '(' after 'if', found identifier 'x'"},
      {"for i in [0:1] {}", 1, 4, "expected a scalar type (the loop variable's type) after 'for', found identifier 'i'"},
      {"for int i in [5] {}", 1, 15, "expected ':' in the range, found ']'"},
      {"x = q[::];", 1, 8, "expected expression, found ']'"},
      {"x = a[{1, 2}, 3];", 1, 12, "expected ']' to close the index, found ','"},
      {"qubit q", 1, 7, "expected ';' after statement, found end of file"},
      {"gate g q { x q;", 1, 15, "expected '}' to close the block, found end of file"},
      {"}", 1, 0, "expected statement, found '}'"},
      {"x = {1, 2};", 1, 4, "expected expression, found '{'"},
      {"let a = (q ++ r);", 1, 11, "expected ')' to close '(', found '++'"},
      {"x $0[1];", 1, 4, "expected ';' after statement, found '['"},
      {"cx[10ns](a) q;", 1, 8, "expected ';' after statement, found '('"},
      {"mname[d] q -> c;", 1, 11, "expected ';' after statement, found '->'"},
      {"ctrl @x q;", 1, 5, "expected '@' after a gate modifier, found annotation '@x'"},
      {"@a\npragma x", 2, 0, "expected statement, found 'pragma'"},
      {"@a\n", 2, 0, "expected statement, found end of file"},
      {"pragma", 1, 6, "expected text after 'pragma', found end of file"},
      {"x = 1\nim;", 2, 0, "expected ';' after statement, found 'im'"},
      {"x = im;", 1, 4, "expected expression, found 'im'"},
      {"x = 2 sx;", 1, 7, "expected ';' after statement, found identifier 'x'"},
      {"x = a.b;", 1, 5, "expected ';' after statement, found '.'"},
      {"x = 1μs;", 1, 5, "expected ';' after statement, found identifier 'μs'"},
      {"x = 0b12;", 1, 7, "expected ';' after statement, found integer '2'"},
      {"x = 0x_F;", 1, 5, "expected ';' after statement, found identifier 'x_F'"},
      {"OPENQASM 3;\nOPENQASM 3;", 2, 0, "expected statement, found 'OPENQASM'"},
      {"const bit c = measure q;", 1, 14, "a constant cannot be initialised by a measurement"},
      {"defcal rx(theta ** 2) $0 {}", 1, 17, "expected expression, found '*'"},
      {"def f(array[int, 2] a) {}", 1, 6, "expected a parameter type, found 'array'"},
  });
}

TEST(ParserErrors, SyntaxErrorsWinOverPlacementErrors) {
  // The reference checks placement only once the whole text has parsed.
  expect_error({"break;\nx = ;", 2, 4, "expected expression, found ';'"});
  // Of several placement errors, the first in the text is reported.
  expect_error({"if (1) { qubit q; }\nbreak;", 1, 9, "qubit declarations must be global"});
}

TEST(ParserErrors, LexicalErrors) {
  expect_errors({
      {"x = $a;", 1, 4, "invalid hardware qubit: expected digits after '$'"},
      {"x = 1 ? 2;", 1, 6, "unexpected character '?'"},
      {"x = \"012\";", 1, 4, "invalid bitstring literal: expected binary digits between double quotes"},
      {"x = \"\";", 1, 4, "invalid bitstring literal: expected binary digits between double quotes"},
      {"# x", 1, 0, "unexpected character '#'"},
      {"x = 1; /* open", 1, 7, "unterminated comment: '/*' without '*/'"},
      {"\ncal { { }", 2, 4, "unterminated calibration block: '{' without matching '}'"},
      {"cal x", 1, 4, "expected '{' after 'cal', found character 'x'"},
      {"defcal x $0 = {}", 1, 12, "unexpected character '=' in defcal header"},
      {"include ;", 1, 8, "expected a quoted name, found character ';'"},
      {"include \"\";", 1, 8, "empty string"},
      {"include \"a\nb\";", 1, 8, "unterminated string"},
      {"OPENQASM x;", 1, 9, "expected a version number after 'OPENQASM', found character 'x'"},
      {"x = 1;\n\x01", 2, 0, "unexpected character 0x01"},
      {"x = 1;\f", 1, 6, "unexpected character 0x0C"},
      {"θ = \xff;", 1, 4, "invalid UTF-8 byte 0xFF"},
      {"x = \xC0\x80;", 1, 4, "invalid UTF-8 byte 0xC0"},
      {"x = \xED\xA0\x80;", 1, 4, "invalid UTF-8 byte 0xED"},
      {"x = a\xCC\x81;", 1, 5, "unexpected character '\xCC\x81'"},  // a combining mark cannot continue a name
  });
}

TEST(ParserErrors, Versions) {
  expect_errors({
      {"OPENQASM 3.0.1;", 1, 9, "version can only be `<major>` or `<major>.<minor>`, but got '3.0.1'"},
      // The version's form is checked before anything else.
      {"OPENQASM 3.0.1;\n}}}", 1, 9, "version can only be `<major>` or `<major>.<minor>`, but got '3.0.1'"},
      // A comment ended by a lone carriage return does not hide the version line.
      {"// c\rOPENQASM 2.0.1;", 1, 14, "version can only be `<major>` or `<major>.<minor>`, but got '2.0.1'"},
  });
  // Any version number is the parser's to hand on; normalisation raises the ones below 3.
  for (std::string ok : {"OPENQASM 3;", "OPENQASM 3.0;", "OPENQASM 3.1;", "OPENQASM 03.01;", "OPENQASM 2.0;",
                         "// c\nOPENQASM 2;", "OPENQASM 4;", "OPENQASM 99999999999999999999999;"})
    EXPECT_NO_THROW(parse(ok)) << ok;
  EXPECT_EQ(*parse("OPENQASM 2.0;\nqreg q[1];")->version, "2.0");
}

TEST(ParserErrors, ByteOrderMarkIsSkipped) {
  auto program = parse("\xEF\xBB\xBFOPENQASM 3.0;\nqubit q;");
  EXPECT_EQ(*program->version, "3.0");
  EXPECT_EQ(program->statements.at(0)->span->start_line, 2);
  // Only at the very start: elsewhere it is a character like any other.
  EXPECT_THROW(parse("qubit q;\xEF\xBB\xBF"), QASM3ParsingError);
}

TEST(ParserErrors, LiteralsAtTheEdgesOf64Bits) {
  expect_errors({
      {"x = 9223372036854775808;", 1, 4, "integer literal '9223372036854775808' does not fit in 64 bits (signed)"},
      {"x = -9223372036854775809;", 1, 5, "integer literal '9223372036854775809' does not fit in 64 bits (signed)"},
      {"x = 0x1_0000_0000_0000_0000;", 1, 4, "integer literal '0x1_0000_0000_0000_0000' does not fit in 64 bits"},
      {"x = 0b1" + repeat("0", 64) + ";", 1, 4, "integer literal '0b1" + repeat("0", 64) + "' does not fit in 64 bits"},
      {"x = \"1" + repeat("0", 64) + "\";", 1, 4, "bitstring literal \"1" + repeat("0", 64) + "\" does not fit in 64 bits"},
  });
  struct Case {
    std::string text;
    std::int64_t value;
  };
  for (const Case& c : std::vector<Case>{{"-9223372036854775808", INT64_MIN},
                                         {"0xFFFF_FFFF_FFFF_FFFF", -1},
                                         {"0x8000000000000000", INT64_MIN},
                                         {"0b" + repeat("1", 64), -1},
                                         {"0o1777777777777777777777", -1},
                                         {"9223372036854775807", INT64_MAX}}) {
    auto program = parse("x = " + c.text + ";");
    auto& assignment = static_cast<const ClassicalAssignment&>(*program->statements.at(0));
    ASSERT_EQ(assignment.rvalue->kind(), NodeKind::IntegerLiteral) << c.text;
    EXPECT_EQ(static_cast<const IntegerLiteral&>(*assignment.rvalue).value, c.value) << c.text;
  }
  // -2^63 is one literal only where the minus applies to the literal alone.
  auto power = parse("x = -9223372036854775807 ** 1;");
  EXPECT_EQ(static_cast<const ClassicalAssignment&>(*power->statements.at(0)).rvalue->kind(), NodeKind::UnaryExpression);
  auto bits = parse("x = \"" + repeat("1", 64) + "\";");
  auto& literal = static_cast<const BitstringLiteral&>(*static_cast<const ClassicalAssignment&>(*bits->statements.at(0)).rvalue);
  EXPECT_EQ(literal.value, -1);
  EXPECT_EQ(literal.width, 64);
  EXPECT_NO_THROW(parse("x = \"0" + repeat("1", 64) + "\";"));  // leading zeros take no bits
}

TEST(ParserErrors, NestingIsLimitedAndChainsAreNot) {
  const std::string nesting = "nesting deeper than 1000 levels";
  // The stack guard may refuse first where frames are large (sanitizer builds): also a syntax
  // error with a position, never a crash.
  auto expect_limit = [](const std::string& source, const std::string& message) {
    auto err = error_of(source);
    if (err.message != "nesting too deep for the stack left to this thread") {
      EXPECT_EQ(err.message, message) << source.substr(0, 60);
    }
    EXPECT_GE(err.line, 1);
  };
  expect_limit("x = " + repeat("(", 1200) + "1" + repeat(")", 1200) + ";", nesting);
  expect_limit(repeat("{", 1200) + repeat("}", 1200), nesting);
  expect_limit("x = " + repeat("-", 5000) + "1;", nesting);
  expect_limit("x = " + repeat("2 ** ", 3000) + "2;", nesting);
  expect_limit("int x = " + repeat("{", 1500) + repeat("}", 1500) + ";", nesting);
  expect_limit("complex" + repeat("[complex", 1500) + repeat("]", 1500) + " z;", nesting);
  expect_limit(repeat("if (1) ", 1500) + "x q;", nesting);
  // Left-leaning chains are not nested in the text: any length parses (see DeepTrees).
  EXPECT_NO_THROW(parse("x = 1" + repeat(" + 1", 2500) + ";"));
  EXPECT_NO_THROW(parse("x = a" + repeat("[0]", 2500) + ";"));
  EXPECT_NO_THROW(parse("let a = b" + repeat(" ++ b", 2500) + ";"));
  // Just below the limits everything parses, and the tree can be compared, copied and freed.
  auto deep = parse("x = " + repeat("(", 900) + "1" + repeat(")", 900) + ";\ny = 1" + repeat(" + 1", 1900) + ";");
  EXPECT_TRUE(openqasm3::ast::equal(*deep, *openqasm3::ast::deep_copy(deep)));
  EXPECT_NO_THROW(parse(repeat("{", 900) + repeat("}", 900)));
}

}  // namespace
