// Recursive-descent parser with precedence climbing for expressions.
//
// Where the grammar lets several statement forms begin alike (an identifier can start an
// assignment, an expression, a gate call or a measurement through a quantum call), the parser
// reads the common prefix once and decides on the token after it, so that no token is read
// twice. The choice always matches the reference's: of two forms that fit the same text, the one
// the reference tries first.
//
// Placement and size checks do not stop the parse: the first one found is kept and thrown once
// the whole text has parsed, so that a syntax error anywhere is reported in its place.
// GCC 12 at -O3 reports a false -Wrestrict in std::string concatenation inlined from the
// node classes' repr (GCC bug 105651).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "openqasm3/parser.hpp"
#include "openqasm3/stack_guard.hpp"
#include "parser_lexer.hpp"
#include "precedence.hpp"

namespace openqasm3 {
namespace {

using namespace ast;
using parsing::Tok;
using parsing::Token;

struct BinaryOp {
  BinaryOperator op;
  int level;  // 0 when the token is not a binary operator
};

BinaryOp binary_op(Tok kind) {
  switch (kind) {
#define BINARY(op, token, level) \
    case Tok::token: return {BinaryOperator::op, level};
#include "operators.def"
    default: return {BinaryOperator::plus, 0};
  }
}

bool is_scalar_type_token(Tok k) {
  switch (k) {
    case Tok::KwBit: case Tok::KwInt: case Tok::KwUint: case Tok::KwFloat: case Tok::KwAngle:
    case Tok::KwBool: case Tok::KwDuration: case Tok::KwStretch: case Tok::KwComplex:
      return true;
    default:
      return false;
  }
}

bool is_int_token(Tok k) {
  return k == Tok::DecimalInt || k == Tok::HexInt || k == Tok::OctalInt || k == Tok::BinaryInt;
}

bool is_type_token(Tok k) { return is_scalar_type_token(k) || k == Tok::KwArray; }

bool can_start_expr(Tok k) {
  switch (k) {
    case Tok::LParen: case Tok::Minus: case Tok::Bang: case Tok::Tilde: case Tok::Identifier:
    case Tok::HardwareQubit: case Tok::BinaryInt: case Tok::OctalInt: case Tok::DecimalInt:
    case Tok::HexInt: case Tok::Float: case Tok::Imaginary: case Tok::Timing: case Tok::Bitstring:
    case Tok::KwTrue: case Tok::KwFalse: case Tok::KwDurationof:
      return true;
    default:
      return is_type_token(k);
  }
}

// parse_value gives an expression unless it read a measurement or a quantum call.
bool is_measurement(const QASMNode& n) {
  return isa<QuantumMeasurement>(n) || isa<QuantumCallExpression>(n);
}

bool is_operand_start(Tok k) { return k == Tok::Identifier || k == Tok::HardwareQubit; }

Span span_of(const Token& a, const Token& b) { return Span{a.line, a.col, b.line, b.col}; }

Span span_from(const QASMNode& first, const Token& last) {
  const Span& s = *first.span;
  return Span{s.start_line, s.start_column, last.line, last.col};
}

template <class T> Ptr<T> spanned(Ptr<T> node, const Span& span) {
  node->span = span;
  return node;
}

// Editors on some systems start a UTF-8 file with the encoded U+FEFF; it is no part of the text.
std::string_view without_byte_order_mark(std::string_view text) {
  return text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
}

std::string strip_quotes(std::string_view s) { return std::string(s.substr(1, s.size() - 2)); }

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(without_byte_order_mark(text)), lex_(text_) {}
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  Ptr<Program> run();

 private:
  template <class T, class... A> Ptr<T> mk(A&&... args) {
    return std::allocate_shared<T>(ast::detail::ArenaAllocator<T>(), std::forward<A>(args)...);
  }
  // An identifier made from a name token: its span ends on its last character.
  Ptr<Identifier> name_identifier(const Token& t) {
    return spanned(mk<Identifier>(std::string(t.text)), Span{t.line, t.col, t.line, t.col + t.width - 1});
  }
  // An identifier made by an expression or operand rule: the span of that one token.
  Ptr<Identifier> rule_identifier(const Token& t) { return spanned(mk<Identifier>(std::string(t.text)), span_of(t, t)); }

  enum class ContextKind { Program, Gate, Def };
  struct Context {
    ContextKind kind;
    int scopes;
    int loops;
  };
  struct Group {
    IndexElement element;
    bool designator = false;  // a single plain expression, so it may also be read as `[e]`
  };

  // ---- tokens
  const Token& peek(int k = 0) {
    while (count_ <= k) {
      buf_[(head_ + count_) & 3] = lex_.next();
      ++count_;
    }
    return buf_[(head_ + k) & 3];
  }
  Tok kind(int k = 0) { return peek(k).kind; }
  bool at(Tok k) { return peek().kind == k; }
  Token take() {
    peek();
    prev_ = buf_[head_];
    head_ = (head_ + 1) & 3;
    --count_;
    return prev_;
  }
  bool accept(Tok k) {
    if (!at(k)) return false;
    take();
    return true;
  }
  Token expect(Tok k, std::string_view context) {
    if (!at(k)) expected(std::string(parsing::spelling(k)) + (context.empty() ? "" : " ") + std::string(context), peek());
    return take();
  }

  // ---- errors
  [[noreturn]] void expected(const std::string& what, const Token& found) {
    parsing::fail("expected " + what + ", found " + parsing::describe(found), found.line, found.col);
  }
  [[noreturn]] void error_at(const Token& t, std::string message) { parsing::fail(std::move(message), t.line, t.col); }
  void check(bool ok, int line, int col, const char* message) {
    if (!ok && !deferred_) deferred_.emplace(message, line, col);
  }
  void check(bool ok, const Token& t, const char* message) { check(ok, t.line, t.col, message); }
  void check_deferred(std::string message, const Token& t) {
    if (!deferred_) deferred_.emplace(std::move(message), t.line, t.col);
  }

  // ---- nesting and tree depth
  // Each level of nesting is one recursion. Frames are much larger in some builds (sanitizers,
  // no inlining) and threads may have small stacks, so the level count alone cannot promise that
  // the stack holds out: the stack guard is asked too.
  struct Nest {
    Parser& p;
    explicit Nest(Parser& parser) : p(parser) {
      if (++p.depth_ > kMaxNesting) {
        const Token& t = p.peek();
        parsing::fail("nesting deeper than " + std::to_string(kMaxNesting) + " levels", t.line, t.col);
      }
      if (stack_nearly_full()) {
        const Token& t = p.peek();
        parsing::fail("nesting too deep for the stack left to this thread", t.line, t.col);
      }
    }
    ~Nest() { --p.depth_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;
  };

  // ---- scopes
  bool global() const { return contexts_.size() == 1 && contexts_.back().scopes == 1; }
  bool in_gate() const { return contexts_.back().kind == ContextKind::Gate; }
  bool in_def() const { return contexts_.back().kind == ContextKind::Def; }
  bool in_loop() const { return contexts_.back().loops > 0; }
  struct ScopeGuard {
    Parser& p;
    bool loop;
    ScopeGuard(Parser& parser, bool is_loop) : p(parser), loop(is_loop) {
      ++p.contexts_.back().scopes;
      if (loop) ++p.contexts_.back().loops;
    }
    ~ScopeGuard() {
      --p.contexts_.back().scopes;
      if (loop) --p.contexts_.back().loops;
    }
  };
  struct ContextGuard {
    Parser& p;
    ContextGuard(Parser& parser, ContextKind kind) : p(parser) { p.contexts_.push_back({kind, 1, 0}); }
    ~ContextGuard() { p.contexts_.pop_back(); }
  };
  // Bare blocks and switch cases open no scope (as in the reference), but pragmas stay out.
  struct BareBlock {
    Parser& p;
    explicit BareBlock(Parser& parser) : p(parser) { ++p.bare_blocks_; }
    ~BareBlock() { --p.bare_blocks_; }
  };

  // ---- program and statements
  void check_version();
  NodePtr parse_statement_or_scope();
  NodePtr parse_statement();
  NodePtr parse_pragma();
  std::vector<Ptr<Annotation>> parse_annotations();
  StmtPtr parse_core(const Token& first);
  StmtPtr stmt_let(const Token& first);
  StmtPtr stmt_barrier(const Token& first);
  StmtPtr stmt_box(const Token& first);
  StmtPtr stmt_break(const Token& first);
  StmtPtr stmt_continue(const Token& first);
  StmtPtr stmt_end(const Token& first);
  StmtPtr stmt_cal(const Token& first);
  StmtPtr stmt_defcalgrammar(const Token& first);
  StmtPtr stmt_include(const Token& first);
  StmtPtr stmt_const(const Token& first);
  StmtPtr stmt_delay(const Token& first);
  StmtPtr stmt_if(const Token& first);
  StmtPtr stmt_input(const Token& first);
  StmtPtr stmt_measure(const Token& first);
  StmtPtr stmt_nop(const Token& first);
  StmtPtr stmt_qreg(const Token& first);
  StmtPtr stmt_qubit(const Token& first);
  StmtPtr stmt_reset(const Token& first);
  StmtPtr stmt_return(const Token& first);
  StmtPtr stmt_while(const Token& first);
  std::vector<StmtPtr> parse_block_contents();  // after '{', through '}'
  std::vector<StmtPtr> parse_body(bool loop);   // statement or scope of if/else/for/while
  std::vector<StmtPtr> parse_scope(bool push_scope, std::string_view context);
  Ptr<CompoundStatement> parse_compound(std::string_view context);
  StmtPtr parse_type_led(const Token& first);
  StmtPtr parse_identifier_led(const Token& first);
  StmtPtr parse_modified_gate(const Token& first);
  StmtPtr finish_gate_call(std::vector<Ptr<QuantumGateModifier>> mods, const Token& name,
                           std::vector<ExprPtr> args, ExprPtr duration);
  StmtPtr finish_quantum_call(const Token& name, std::vector<ExprPtr> args);
  StmtPtr parse_assignment(NodePtr lvalue, const Token& first);
  StmtPtr parse_for(const Token& first);
  StmtPtr parse_switch();
  StmtPtr parse_def(const Token& first);
  StmtPtr parse_defcal();
  StmtPtr parse_extern(const Token& first);
  StmtPtr parse_gate_definition(const Token& first);
  NodePtr parse_value(bool array_literal);
  NodePtr parse_measure();
  NodePtr parse_arg_def(bool allow_expression);
  std::vector<Ptr<Identifier>> parse_name_list();

  // ---- expressions
  ExprPtr parse_expr(int min_level = 0);
  ExprPtr parse_binary_tail(ExprPtr lhs, int min_level);
  ExprPtr parse_postfix(ExprPtr e);
  ExprPtr parse_primary();
  ExprPtr parse_durationof();
  ExprPtr literal(const Token& t);
  ExprPtr continue_expr(ExprPtr primary);
  ExprPtr make_call(const Token& name, std::vector<ExprPtr> args);
  std::vector<ExprPtr> parse_expr_list();
  std::vector<ExprPtr> parse_call_args();  // after '(', through ')'
  ExprPtr parse_designator();
  Group parse_index_group();
  NodePtr parse_range_item(bool require_colon);
  Ptr<DiscreteSet> parse_set();
  ExprPtr parse_array_literal();
  ExprPtr parse_alias_value();
  NodePtr parse_operand();
  NodePtr parse_indexed_identifier();
  std::vector<NodePtr> parse_operands(bool required);
  TypePtr parse_scalar_type(std::string_view context);
  TypePtr parse_array_type();
  TypePtr parse_array_reference_type();
  TypePtr parse_any_type(std::string_view context) {
    return at(Tok::KwArray) ? parse_array_type() : parse_scalar_type(context);
  }
  ExprPtr parse_cast(TypePtr type, const Token& first);
  void check_size(const ExprPtr& size, const Token& bracket, const char* message);

  // ---- literals
  ExprPtr integer_literal(const Token& t);
  // The value an integer literal token spells, none beyond 64 bits.
  static std::optional<std::uint64_t> literal_magnitude(const Token& t);
  static constexpr std::uint64_t kInt64MinMagnitude = std::uint64_t{1} << 63;
  double float_value(std::string_view text, const Token& t);

  std::string_view text_;
  parsing::Lexer lex_;
  // Every node of this parse comes from an arena: its own, or the one of the compilation it runs in.
  ast::NodeArenaScope arena_scope_{text_.size()};
  Token buf_[4];
  int head_ = 0;
  int count_ = 0;
  Token prev_;

  std::vector<Context> contexts_{{ContextKind::Program, 1, 0}};
  int bare_blocks_ = 0;
  int depth_ = 0;
  std::optional<QASM3ParsingError> deferred_;
};

// ---------------------------------------------------------------------------------------------
// Program

void Parser::check_version() {
  // The version's form is checked on the raw text before anything else, so that a malformed
  // version is reported even when the rest does not parse. Any version number is accepted: an
  // OpenQASM 2 program is read as OpenQASM 3 (source normalisation raises its version).
  std::size_t p = 0;
  const std::size_t n = text_.size();
  for (;;) {
    while (p < n && (text_[p] == ' ' || text_[p] == '\t' || text_[p] == '\r' || text_[p] == '\n')) ++p;
    if (text_.compare(p, 2, "//") == 0) {
      while (p < n && !parsing::ends_line(text_[p])) ++p;
    } else if (text_.compare(p, 2, "/*") == 0) {
      std::size_t e = text_.find("*/", p + 2);
      if (e == std::string_view::npos) return;
      p = e + 2;
    } else {
      break;
    }
  }
  if (text_.compare(p, 8, "OPENQASM") != 0) return;
  p += 8;
  while (p < n && (text_[p] == ' ' || text_[p] == '\t' || text_[p] == '\r' || text_[p] == '\n')) ++p;
  const std::size_t start = p;
  std::vector<std::string> parts;
  for (;;) {
    std::size_t q = p;
    while (q < n && text_[q] >= '0' && text_[q] <= '9') ++q;
    if (q == p) break;
    std::string_view digits = text_.substr(p, q - p);
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    parts.emplace_back(digits);
    p = q;
    if (p + 1 < n && text_[p] == '.' && text_[p + 1] >= '0' && text_[p + 1] <= '9') {
      ++p;
    } else {
      break;
    }
  }
  if (parts.empty()) return;
  std::string joined;
  for (const auto& part : parts) joined += (joined.empty() ? "" : ".") + part;
  int line, col;
  lex_.locate_anywhere(start, line, col);
  if (parts.size() > 2)
    parsing::fail("version can only be `<major>` or `<major>.<minor>`, but got '" + joined + "'", line, col);
}

Ptr<Program> Parser::run() {
  check_version();
  auto program = mk<Program>();
  const Token first = peek();
  if (first.kind == Tok::Eof) return program;
  if (accept(Tok::KwOpenqasm)) {
    Token v = expect(Tok::Version, "after 'OPENQASM'");
    expect(Tok::Semicolon, "after the version");
    program->version = std::string(v.text);
  }
  while (!at(Tok::Eof)) program->statements.push_back(parse_statement_or_scope());
  program->span = span_of(first, prev_);
  if (deferred_) throw *deferred_;
  return program;
}

NodePtr Parser::parse_statement_or_scope() {
  Nest nest(*this);
  if (at(Tok::LBrace)) {
    BareBlock bare(*this);
    return parse_compound("");
  }
  return parse_statement();
}

Ptr<CompoundStatement> Parser::parse_compound(std::string_view context) {
  Token open = expect(Tok::LBrace, context);
  auto stmts = parse_block_contents();
  auto node = spanned(mk<CompoundStatement>(std::move(stmts)), span_of(open, prev_));
  return node;
}

std::vector<StmtPtr> Parser::parse_block_contents() {
  std::vector<StmtPtr> out;
  while (!at(Tok::RBrace)) {
    if (at(Tok::Eof)) expected("'}' to close the block", peek());
    NodePtr s = parse_statement_or_scope();
    // A pragma here has already been reported as misplaced; it cannot stand in a block.
    if (!isa<Pragma>(*s)) out.push_back(std::static_pointer_cast<Statement>(std::move(s)));
  }
  take();
  return out;
}

std::vector<StmtPtr> Parser::parse_scope(bool push_scope, std::string_view context) {
  expect(Tok::LBrace, context);
  if (!push_scope) return parse_block_contents();
  ScopeGuard scope(*this, false);
  return parse_block_contents();
}

std::vector<StmtPtr> Parser::parse_body(bool loop) {
  ScopeGuard scope(*this, loop);
  if (accept(Tok::LBrace)) return parse_block_contents();
  Nest nest(*this);
  std::vector<StmtPtr> out;
  NodePtr s = parse_statement();
  if (!isa<Pragma>(*s)) out.push_back(std::static_pointer_cast<Statement>(std::move(s)));
  return out;
}

NodePtr Parser::parse_statement() {
  const Token first = peek();
  if (first.kind == Tok::KwPragma) return parse_pragma();
  std::vector<Ptr<Annotation>> annotations;
  if (first.kind == Tok::Annotation) annotations = parse_annotations();
  const Token core = peek();
  StmtPtr stmt = parse_core(core);
  stmt->span = span_of(first, prev_);
  stmt->annotations = std::move(annotations);
  return stmt;
}

NodePtr Parser::parse_pragma() {
  const Token first = take();
  check(global() && bare_blocks_ == 0, first, "pragmas must be global");
  Token rest = expect(Tok::LineRest, "after 'pragma'");
  auto node = spanned(mk<Pragma>(std::string(rest.text)), span_of(first, rest));
  return node;
}

std::vector<Ptr<Annotation>> Parser::parse_annotations() {
  std::vector<Ptr<Annotation>> annotations;
  while (at(Tok::Annotation)) {
    Token a = take();
    std::optional<std::string> command;
    if (at(Tok::LineRest)) command = std::string(take().text);
    annotations.push_back(spanned(mk<Annotation>(std::string(a.text.substr(1)), std::move(command)), span_of(a, prev_)));
  }
  return annotations;
}

StmtPtr Parser::parse_core(const Token& first) {
  switch (first.kind) {
    case Tok::KwLet:
      return stmt_let(first);
    case Tok::KwBarrier:
      return stmt_barrier(first);
    case Tok::KwBox:
      return stmt_box(first);
    case Tok::KwBreak:
      return stmt_break(first);
    case Tok::KwContinue:
      return stmt_continue(first);
    case Tok::KwEnd:
      return stmt_end(first);
    case Tok::KwCal:
      return stmt_cal(first);
    case Tok::KwDefcalgrammar:
      return stmt_defcalgrammar(first);
    case Tok::KwInclude:
      return stmt_include(first);
    case Tok::KwConst:
      return stmt_const(first);
    case Tok::KwDef:
      return parse_def(first);
    case Tok::KwDefcal:
      return parse_defcal();
    case Tok::KwDelay:
      return stmt_delay(first);
    case Tok::KwExtern:
      return parse_extern(first);
    case Tok::KwFor:
      return parse_for(first);
    case Tok::KwGate:
      return parse_gate_definition(first);
    case Tok::KwIf:
      return stmt_if(first);
    case Tok::KwInput:
    case Tok::KwOutput:
      return stmt_input(first);
    case Tok::KwMeasure:
      return stmt_measure(first);
    case Tok::KwNop:
      return stmt_nop(first);
    case Tok::KwQreg:
    case Tok::KwCreg:
      return stmt_qreg(first);
    case Tok::KwQubit:
      return stmt_qubit(first);
    case Tok::KwReset:
      return stmt_reset(first);
    case Tok::KwReturn:
      return stmt_return(first);
    case Tok::KwSwitch:
      return parse_switch();
    case Tok::KwWhile:
      return stmt_while(first);
    case Tok::KwGphase:
    case Tok::KwInv:
    case Tok::KwPow:
    case Tok::KwCtrl:
    case Tok::KwNegctrl:
      return parse_modified_gate(first);
    case Tok::Identifier:
      return parse_identifier_led(first);
    default:
      break;
  }
  if (is_type_token(first.kind)) return parse_type_led(first);
  if (!can_start_expr(first.kind)) expected("statement", first);
  ExprPtr e = parse_expr();
  expect(Tok::Semicolon, "after statement");
  return mk<ExpressionStatement>(std::move(e));
}

StmtPtr Parser::stmt_let(const Token&) {
  take();
  Token name = expect(Tok::Identifier, "after 'let'");
  expect(Tok::Equals, "after the alias name");
  ExprPtr value = parse_alias_value();
  expect(Tok::Semicolon, "after statement");
  return mk<AliasStatement>(name_identifier(name), std::move(value));
}

StmtPtr Parser::stmt_barrier(const Token&) {
  take();
  auto qubits = parse_operands(false);
  expect(Tok::Semicolon, "after statement");
  return mk<QuantumBarrier>(std::move(qubits));
}

StmtPtr Parser::stmt_box(const Token&) {
  take();
  ExprPtr duration;
  if (at(Tok::LBracket)) duration = parse_designator();
  auto body = parse_scope(true, "to open the body of 'box'");
  return mk<Box>(std::move(duration), std::move(body));
}

StmtPtr Parser::stmt_break(const Token& first) {
  take();
  expect(Tok::Semicolon, "after statement");
  check(in_loop(), first, "'break' statement outside loop");
  return mk<BreakStatement>();
}

StmtPtr Parser::stmt_continue(const Token& first) {
  take();
  expect(Tok::Semicolon, "after statement");
  check(in_loop(), first, "'continue' statement outside loop");
  return mk<ContinueStatement>();
}

StmtPtr Parser::stmt_end(const Token&) {
  take();
  expect(Tok::Semicolon, "after statement");
  return mk<EndStatement>();
}

StmtPtr Parser::stmt_cal(const Token&) {
  take();
  expect(Tok::LBrace, "after 'cal'");
  std::string body;
  if (at(Tok::CalBody)) body = std::string(take().text);
  expect(Tok::RBrace, "to close the calibration block");
  return mk<CalibrationStatement>(std::move(body));
}

StmtPtr Parser::stmt_defcalgrammar(const Token& first) {
  take();
  check(global(), first, "'defcalgrammar' statements must be global");
  Token name = expect(Tok::String, "after 'defcalgrammar'");
  expect(Tok::Semicolon, "after statement");
  return mk<CalibrationGrammarDeclaration>(strip_quotes(name.text));
}

StmtPtr Parser::stmt_include(const Token& first) {
  take();
  check(global(), first, "'include' statements must be global");
  Token name = expect(Tok::String, "after 'include'");
  expect(Tok::Semicolon, "after statement");
  return mk<Include>(strip_quotes(name.text));
}

StmtPtr Parser::stmt_const(const Token&) {
  take();
  TypePtr type = parse_scalar_type("after 'const'");
  Token name = expect(Tok::Identifier, "after the type of a constant");
  expect(Tok::Equals, "after the constant's name (a constant needs a value)");
  const Token value_start = peek();
  NodePtr value = parse_value(true);
  if (is_measurement(*value)) error_at(value_start, "a constant cannot be initialised by a measurement");
  auto expr = std::static_pointer_cast<Expression>(std::move(value));
  expect(Tok::Semicolon, "after statement");
  return mk<ConstantDeclaration>(std::move(type), name_identifier(name), std::move(expr));
}

StmtPtr Parser::stmt_delay(const Token&) {
  take();
  if (!at(Tok::LBracket)) expected("'[' with a duration after 'delay'", peek());
  ExprPtr duration = parse_designator();
  auto qubits = parse_operands(false);
  expect(Tok::Semicolon, "after statement");
  return mk<DelayInstruction>(std::move(duration), std::move(qubits));
}

StmtPtr Parser::stmt_if(const Token&) {
  take();
  expect(Tok::LParen, "after 'if'");
  ExprPtr condition = parse_expr();
  expect(Tok::RParen, "after the condition");
  auto if_block = parse_body(false);
  std::vector<StmtPtr> else_block;
  if (accept(Tok::KwElse)) else_block = parse_body(false);
  return mk<BranchingStatement>(std::move(condition), std::move(if_block), std::move(else_block));
}

StmtPtr Parser::stmt_input(const Token& first) {
  take();
  check(global(), first,
        first.kind == Tok::KwInput ? "'input' declarations must be global" : "'output' declarations must be global");
  TypePtr type = parse_any_type(first.kind == Tok::KwInput ? "after 'input'" : "after 'output'");
  Token name = expect(Tok::Identifier, "after the type");
  expect(Tok::Semicolon, "after statement");
  return mk<IODeclaration>(first.kind == Tok::KwInput ? IOKeyword::input : IOKeyword::output, std::move(type),
                             name_identifier(name));
}

StmtPtr Parser::stmt_measure(const Token& first) {
  check(!in_gate(), first, "cannot have a non-unitary 'measure' instruction in a gate");
  NodePtr measure = parse_measure();
  NodePtr target;
  if (accept(Tok::Arrow)) target = parse_indexed_identifier();
  expect(Tok::Semicolon, "after statement");
  return mk<QuantumMeasurementStatement>(std::move(measure), std::move(target));
}

StmtPtr Parser::stmt_nop(const Token&) {
  take();
  auto operands = parse_operands(false);
  expect(Tok::Semicolon, "after statement");
  return mk<QuantumNop>(std::move(operands));
}

StmtPtr Parser::stmt_qreg(const Token& first) {
  const bool quantum = first.kind == Tok::KwQreg;
  take();
  if (quantum) check(global(), first, "qubit declarations must be global");
  Token name = expect(Tok::Identifier, quantum ? "after 'qreg'" : "after 'creg'");
  ExprPtr size;
  if (at(Tok::LBracket)) {
    Token bracket = peek();
    size = parse_designator();
    check_size(size, bracket, quantum ? "qreg size must be positive" : "creg size must be positive");
  }
  const Token last = prev_;
  expect(Tok::Semicolon, "after statement");
  if (quantum) return mk<QubitDeclaration>(name_identifier(name), std::move(size));
  auto type = spanned(mk<BitType>(std::move(size)), span_of(first, last));
  return mk<ClassicalDeclaration>(std::move(type), name_identifier(name), nullptr);
}

StmtPtr Parser::stmt_qubit(const Token& first) {
  take();
  check(global(), first, "qubit declarations must be global");
  ExprPtr size;
  if (at(Tok::LBracket)) size = parse_designator();
  Token name = expect(Tok::Identifier, "after 'qubit'");
  expect(Tok::Semicolon, "after statement");
  return mk<QubitDeclaration>(name_identifier(name), std::move(size));
}

StmtPtr Parser::stmt_reset(const Token& first) {
  take();
  check(!in_gate(), first, "cannot have a non-unitary 'reset' instruction in a gate");
  NodePtr operand = parse_operand();
  expect(Tok::Semicolon, "after statement");
  return mk<QuantumReset>(std::move(operand));
}

StmtPtr Parser::stmt_return(const Token& first) {
  take();
  check(in_def(), first, "'return' statement outside subroutine");
  NodePtr value;
  if (!at(Tok::Semicolon)) value = parse_value(false);
  expect(Tok::Semicolon, "after statement");
  return mk<ReturnStatement>(std::move(value));
}

StmtPtr Parser::stmt_while(const Token&) {
  take();
  expect(Tok::LParen, "after 'while'");
  ExprPtr condition = parse_expr();
  expect(Tok::RParen, "after the condition");
  auto block = parse_body(true);
  return mk<WhileLoop>(std::move(condition), std::move(block));
}

// A declaration `T x [= v];`, or an expression statement that begins with a cast `T(v)`.
StmtPtr Parser::parse_type_led(const Token& first) {
  TypePtr type = parse_any_type("");
  if (at(Tok::LParen)) {
    ExprPtr e = continue_expr(parse_cast(std::move(type), first));
    expect(Tok::Semicolon, "after statement");
    return mk<ExpressionStatement>(std::move(e));
  }
  Token name = expect(Tok::Identifier, "after the type in a declaration");
  check(!in_gate(), first, "cannot declare classical variables in a gate");
  if (isa<ArrayType>(type)) check(global(), first, "arrays can only be declared globally");
  NodePtr init;
  if (accept(Tok::Equals)) init = parse_value(true);
  expect(Tok::Semicolon, "after statement");
  return mk<ClassicalDeclaration>(std::move(type), name_identifier(name), std::move(init));
}

StmtPtr Parser::parse_identifier_led(const Token& first) {
  const Token id = take();
  switch (kind()) {
    case Tok::Identifier:
    case Tok::HardwareQubit:
      return finish_quantum_call(id, {});
    case Tok::LParen: {
      take();
      auto args = parse_call_args();
      if (is_operand_start(kind())) return finish_quantum_call(id, std::move(args));
      if (at(Tok::LBracket)) {
        const Token bracket = peek();
        Group g = parse_index_group();
        if (g.designator && is_operand_start(kind())) {
          auto& items = std::get<IndexList>(g.element);
          auto duration = std::static_pointer_cast<Expression>(items.front());
          duration->span = span_of(bracket, prev_);
          return finish_gate_call({}, id, std::move(args), std::move(duration));
        }
        ExprPtr call = make_call(id, std::move(args));
        ExprPtr e = spanned(mk<IndexExpression>(std::move(call), std::move(g.element)), span_of(id, prev_));
        e = continue_expr(std::move(e));
        expect(Tok::Semicolon, "after statement");
        return mk<ExpressionStatement>(std::move(e));
      }
      ExprPtr e = continue_expr(make_call(id, std::move(args)));
      expect(Tok::Semicolon, "after statement");
      return mk<ExpressionStatement>(std::move(e));
    }
    case Tok::LBracket: {
      const Token bracket = peek();
      std::vector<Group> groups;
      std::vector<Token> closers;
      groups.push_back(parse_index_group());
      closers.push_back(prev_);
      if (groups.front().designator && is_operand_start(kind())) {
        auto& items = std::get<IndexList>(groups.front().element);
        auto duration = std::static_pointer_cast<Expression>(items.front());
        duration->span = span_of(bracket, prev_);
        return finish_gate_call({}, id, {}, std::move(duration));
      }
      while (at(Tok::LBracket)) {
        groups.push_back(parse_index_group());
        closers.push_back(prev_);
      }
      if (at(Tok::Equals) || at(Tok::CompoundAssign)) {
        std::vector<IndexElement> indices;
        indices.reserve(groups.size());
        for (auto& g : groups) indices.push_back(std::move(g.element));
        auto lvalue = spanned(mk<IndexedIdentifier>(name_identifier(id), std::move(indices)), span_of(id, prev_));
        return parse_assignment(std::move(lvalue), first);
      }
      ExprPtr e = rule_identifier(id);
      for (std::size_t i = 0; i < groups.size(); ++i)
        e = spanned(mk<IndexExpression>(std::move(e), std::move(groups[i].element)), span_of(id, closers[i]));
      e = continue_expr(std::move(e));
      expect(Tok::Semicolon, "after statement");
      return mk<ExpressionStatement>(std::move(e));
    }
    case Tok::Equals:
    case Tok::CompoundAssign:
      return parse_assignment(rule_identifier(id), first);
    default: {
      ExprPtr e = continue_expr(rule_identifier(id));
      expect(Tok::Semicolon, "after statement");
      return mk<ExpressionStatement>(std::move(e));
    }
  }
}

// `name operands -> target;` (a measurement through a quantum call) or `name operands;` (a gate).
StmtPtr Parser::finish_quantum_call(const Token& name, std::vector<ExprPtr> args) {
  auto operands = parse_operands(true);
  if (!at(Tok::Arrow)) {
    expect(Tok::Semicolon, "after statement");
    return mk<QuantumGate>(std::vector<Ptr<QuantumGateModifier>>{}, name_identifier(name), std::move(args),
                             std::move(operands), nullptr);
  }
  check(!in_gate(), name, "cannot have a non-unitary measure-like quantum call expression instruction in a gate");
  auto call = spanned(mk<QuantumCallExpression>(name_identifier(name), std::move(args), std::move(operands)),
                      span_of(name, prev_));
  take();
  NodePtr target = parse_indexed_identifier();
  expect(Tok::Semicolon, "after statement");
  return mk<QuantumMeasurementStatement>(std::move(call), std::move(target));
}

StmtPtr Parser::finish_gate_call(std::vector<Ptr<QuantumGateModifier>> mods, const Token& name,
                                 std::vector<ExprPtr> args, ExprPtr duration) {
  auto operands = parse_operands(true);
  expect(Tok::Semicolon, "after statement");
  return mk<QuantumGate>(std::move(mods), name_identifier(name), std::move(args), std::move(operands),
                           std::move(duration));
}

StmtPtr Parser::parse_modified_gate(const Token& first) {
  std::vector<Ptr<QuantumGateModifier>> mods;
  for (;;) {
    const Token m = peek();
    GateModifierName name;
    switch (m.kind) {
      case Tok::KwInv: name = GateModifierName::inv; break;
      case Tok::KwPow: name = GateModifierName::pow; break;
      case Tok::KwCtrl: name = GateModifierName::ctrl; break;
      case Tok::KwNegctrl: name = GateModifierName::negctrl; break;
      default: goto modifiers_done;
    }
    take();
    ExprPtr arg;
    if (name == GateModifierName::pow) {
      expect(Tok::LParen, "after 'pow'");
      arg = parse_expr();
      expect(Tok::RParen, "after the exponent");
    } else if (name != GateModifierName::inv && accept(Tok::LParen)) {
      arg = parse_expr();
      expect(Tok::RParen, "after the number of control qubits");
    }
    expect(Tok::At, "after a gate modifier");
    mods.push_back(spanned(mk<QuantumGateModifier>(name, std::move(arg)), span_of(m, prev_)));
  }
modifiers_done:
  if (at(Tok::KwGphase)) {
    take();
    std::vector<ExprPtr> args;
    if (accept(Tok::LParen)) args = parse_call_args();
    if (at(Tok::LBracket)) parse_designator();  // accepted and dropped, as in the reference
    auto operands = parse_operands(false);
    expect(Tok::Semicolon, "after statement");
    if (args.size() != 1) {
      std::string list;
      for (const auto& a : args) list += (list.empty() ? "" : ", ") + repr(*a);
      check_deferred("'gphase' takes exactly one argument, but received [" + list + "]", first);
    }
    ExprPtr arg = args.empty() ? nullptr : args.front();
    return mk<QuantumPhase>(std::move(mods), std::move(arg), std::move(operands));
  }
  const Token name = expect(Tok::Identifier, "(a gate name) after the gate modifiers");
  std::vector<ExprPtr> args;
  if (accept(Tok::LParen)) args = parse_call_args();
  ExprPtr duration;
  if (at(Tok::LBracket)) duration = parse_designator();
  return finish_gate_call(std::move(mods), name, std::move(args), std::move(duration));
}

StmtPtr Parser::parse_assignment(NodePtr lvalue, const Token& first) {
  const Token op = take();
  AssignmentOperator assign = AssignmentOperator::assign;
  if (op.kind == Tok::CompoundAssign) assign = *from_symbol<AssignmentOperator>(op.text);
  check(!in_gate(), first, "cannot assign to classical parameters in a gate");
  NodePtr value = parse_value(false);
  expect(Tok::Semicolon, "after statement");
  if (!is_measurement(*value))
    return mk<ClassicalAssignment>(std::move(lvalue), assign, std::static_pointer_cast<Expression>(std::move(value)));
  // A measurement: the operator is dropped, as in the reference.
  return mk<QuantumMeasurementStatement>(std::move(value), std::move(lvalue));
}

// The value of a declaration, assignment or return: an expression, a measurement, a quantum
// call, or (in declarations) an array literal.
NodePtr Parser::parse_value(bool array_literal) {
  if (at(Tok::KwMeasure)) return parse_measure();
  if (array_literal && at(Tok::LBrace)) return parse_array_literal();
  if (at(Tok::Identifier)) {
    const Tok next = kind(1);
    if (is_operand_start(next) || next == Tok::LParen) {
      const Token id = take();
      std::vector<ExprPtr> args;
      if (next == Tok::LParen) {
        take();
        args = parse_call_args();
      }
      if (is_operand_start(kind())) {
        auto operands = parse_operands(true);
        auto call = spanned(mk<QuantumCallExpression>(name_identifier(id), std::move(args), std::move(operands)),
                            span_of(id, prev_));
        return call;
      }
      if (next != Tok::LParen) expected("qubit operand", peek());
      return continue_expr(make_call(id, std::move(args)));
    }
  }
  return parse_expr();
}

NodePtr Parser::parse_measure() {
  const Token m = expect(Tok::KwMeasure, "");
  NodePtr operand = parse_operand();
  auto node = spanned(mk<QuantumMeasurement>(std::move(operand)), span_of(m, prev_));
  return node;
}

StmtPtr Parser::parse_for(const Token& first) {
  (void)first;
  take();
  TypePtr type = parse_scalar_type("(the loop variable's type) after 'for'");
  Token name = expect(Tok::Identifier, "(the loop variable) after its type");
  expect(Tok::KwIn, "after the loop variable");
  NodePtr set;
  if (at(Tok::LBrace)) {
    set = parse_set();
  } else if (accept(Tok::LBracket)) {
    set = parse_range_item(true);
    expect(Tok::RBracket, "to close the range");
  } else {
    set = parse_expr();
  }
  auto block = parse_body(true);
  return mk<ForInLoop>(std::move(type), name_identifier(name), std::move(set), std::move(block));
}

StmtPtr Parser::parse_switch() {
  take();
  expect(Tok::LParen, "after 'switch'");
  ExprPtr target = parse_expr();
  expect(Tok::RParen, "after the switch value");
  expect(Tok::LBrace, "to open the switch cases");
  std::vector<SwitchCase> cases;
  Ptr<CompoundStatement> default_block;
  bool seen_default = false;
  BareBlock bare(*this);
  while (!at(Tok::RBrace)) {
    const Token item = peek();
    if (item.kind == Tok::KwCase) {
      take();
      check(!seen_default, item, "'case' statement after 'default'");
      auto values = parse_expr_list();
      auto block = parse_compound("to open the case body");
      cases.push_back(SwitchCase{std::move(values), std::move(block)});
    } else if (item.kind == Tok::KwDefault) {
      take();
      check(!seen_default, item, "multiple 'default' cases");
      auto block = parse_compound("to open the default body");
      if (!seen_default) default_block = std::move(block);
      seen_default = true;
    } else {
      expected("'case', 'default' or '}' in switch", item);
    }
  }
  take();
  return mk<SwitchStatement>(std::move(target), std::move(cases), std::move(default_block));
}

StmtPtr Parser::parse_def(const Token& first) {
  take();
  check(global(), first, "subroutine definitions must be global");
  Token name = expect(Tok::Identifier, "after 'def'");
  expect(Tok::LParen, "after the subroutine name");
  std::vector<NodePtr> args;
  while (!at(Tok::RParen)) {
    args.push_back(parse_arg_def(false));
    if (!accept(Tok::Comma)) break;
  }
  expect(Tok::RParen, "after the parameters");
  TypePtr ret;
  if (accept(Tok::Arrow)) ret = parse_scalar_type("(the return type) after '->'");
  ContextGuard context(*this, ContextKind::Def);
  auto body = parse_scope(false, "to open the subroutine body");
  return mk<SubroutineDefinition>(name_identifier(name), std::move(args), std::move(body), std::move(ret));
}

// A parameter of a def (or a defcal, where an expression may stand instead).
NodePtr Parser::parse_arg_def(bool allow_expression) {
  const Token first = peek();
  switch (first.kind) {
    case Tok::KwQubit: {
      take();
      ExprPtr size;
      if (at(Tok::LBracket)) size = parse_designator();
      Token name = expect(Tok::Identifier, "after the parameter type");
      return spanned(mk<QuantumArgument>(name_identifier(name), std::move(size)), span_of(first, prev_));
    }
    case Tok::KwQreg:
    case Tok::KwCreg: {
      take();
      const bool quantum = first.kind == Tok::KwQreg;
      Token name = expect(Tok::Identifier, quantum ? "after 'qreg'" : "after 'creg'");
      ExprPtr size;
      if (at(Tok::LBracket)) {
        Token bracket = peek();
        size = parse_designator();
        check_size(size, bracket, quantum ? "qreg size must be positive" : "creg size must be positive");
      }
      if (quantum) return spanned(mk<QuantumArgument>(name_identifier(name), std::move(size)), span_of(first, prev_));
      auto type = spanned(mk<BitType>(std::move(size)), span_of(first, prev_));
      return spanned(mk<ClassicalArgument>(std::move(type), name_identifier(name), std::nullopt), span_of(first, prev_));
    }
    case Tok::KwReadonly:
    case Tok::KwMutable: {
      TypePtr type = parse_array_reference_type();
      Token name = expect(Tok::Identifier, "after the parameter type");
      auto access = first.kind == Tok::KwReadonly ? AccessControl::readonly : AccessControl::mutable_;
      return spanned(mk<ClassicalArgument>(std::move(type), name_identifier(name), access), span_of(first, prev_));
    }
    default:
      break;
  }
  if (allow_expression && (!is_type_token(first.kind) || first.kind == Tok::KwArray)) {
    if (first.kind != Tok::KwArray) return parse_expr();
    ExprPtr cast = parse_cast(parse_array_type(), first);
    return continue_expr(std::move(cast));
  }
  if (!is_scalar_type_token(first.kind)) expected("a parameter type", first);
  TypePtr type = parse_scalar_type("");
  if (allow_expression && at(Tok::LParen)) return continue_expr(parse_cast(std::move(type), first));
  Token name = expect(Tok::Identifier, "after the parameter type");
  return spanned(mk<ClassicalArgument>(std::move(type), name_identifier(name), std::nullopt), span_of(first, prev_));
}

StmtPtr Parser::parse_defcal() {
  take();
  const Token target = peek();
  if (target.kind != Tok::Identifier && target.kind != Tok::KwMeasure && target.kind != Tok::KwReset &&
      target.kind != Tok::KwDelay)
    expected("a gate name after 'defcal'", target);
  take();
  auto name = rule_identifier(target);
  std::vector<NodePtr> args;
  if (accept(Tok::LParen)) {
    while (!at(Tok::RParen)) {
      args.push_back(parse_arg_def(true));
      if (!accept(Tok::Comma)) break;
    }
    expect(Tok::RParen, "after the defcal parameters");
  }
  std::vector<Ptr<Identifier>> qubits;
  do {
    if (!is_operand_start(kind())) {
      if (!qubits.empty()) break;
      expected("qubit operand", peek());
    }
    qubits.push_back(rule_identifier(take()));
  } while (accept(Tok::Comma));
  TypePtr ret;
  if (accept(Tok::Arrow)) ret = parse_scalar_type("(the return type) after '->'");
  expect(Tok::LBrace, "to open the calibration body");
  std::string body;
  if (at(Tok::CalBody)) body = std::string(take().text);
  expect(Tok::RBrace, "to close the calibration body");
  return mk<CalibrationDefinition>(std::move(name), std::move(args), std::move(qubits), std::move(ret), std::move(body));
}

StmtPtr Parser::parse_extern(const Token& first) {
  take();
  check(global(), first, "extern declarations must be global");
  Token name = expect(Tok::Identifier, "after 'extern'");
  expect(Tok::LParen, "after the extern name");
  std::vector<Ptr<ExternArgument>> args;
  while (!at(Tok::RParen)) {
    const Token a = peek();
    if (a.kind == Tok::KwCreg) {
      take();
      ExprPtr size;
      if (at(Tok::LBracket)) {
        Token bracket = peek();
        size = parse_designator();
        check_size(size, bracket, "creg size must be positive");
      }
      // This BitType gets no span, as in the reference.
      args.push_back(spanned(mk<ExternArgument>(mk<BitType>(std::move(size)), std::nullopt), span_of(a, prev_)));
    } else if (a.kind == Tok::KwReadonly || a.kind == Tok::KwMutable) {
      TypePtr type = parse_array_reference_type();
      auto access = a.kind == Tok::KwReadonly ? AccessControl::readonly : AccessControl::mutable_;
      args.push_back(spanned(mk<ExternArgument>(std::move(type), access), span_of(a, prev_)));
    } else {
      TypePtr type = parse_scalar_type("(a parameter type)");
      args.push_back(spanned(mk<ExternArgument>(std::move(type), std::nullopt), span_of(a, prev_)));
    }
    if (!accept(Tok::Comma)) break;
  }
  expect(Tok::RParen, "after the extern parameters");
  TypePtr ret;
  if (accept(Tok::Arrow)) ret = parse_scalar_type("(the return type) after '->'");
  expect(Tok::Semicolon, "after statement");
  return mk<ExternDeclaration>(name_identifier(name), std::move(args), std::move(ret));
}

std::vector<Ptr<Identifier>> Parser::parse_name_list() {
  std::vector<Ptr<Identifier>> out;
  out.push_back(name_identifier(expect(Tok::Identifier, "")));
  while (accept(Tok::Comma) && at(Tok::Identifier)) out.push_back(name_identifier(take()));
  return out;
}

StmtPtr Parser::parse_gate_definition(const Token& first) {
  take();
  check(global(), first, "gate definitions must be global");
  Token name = expect(Tok::Identifier, "after 'gate'");
  std::vector<Ptr<Identifier>> params;
  if (accept(Tok::LParen)) {
    if (!at(Tok::RParen)) params = parse_name_list();
    expect(Tok::RParen, "after the gate parameters");
  }
  if (!at(Tok::Identifier)) expected("identifier (a qubit name) in the gate definition", peek());
  auto qubits = parse_name_list();
  ContextGuard context(*this, ContextKind::Gate);
  auto body = parse_scope(false, "to open the gate body");
  return mk<QuantumGateDefinition>(name_identifier(name), std::move(params), std::move(qubits), std::move(body));
}

// ---------------------------------------------------------------------------------------------
// Operands

NodePtr Parser::parse_operand() {
  if (at(Tok::HardwareQubit)) {
    return rule_identifier(take());
  }
  if (!at(Tok::Identifier)) expected("qubit operand", peek());
  return parse_indexed_identifier();
}

NodePtr Parser::parse_indexed_identifier() {
  const Token id = expect(Tok::Identifier, "");
  if (!at(Tok::LBracket)) {
    return rule_identifier(id);
  }
  std::vector<IndexElement> indices;
  while (at(Tok::LBracket)) {
    indices.push_back(parse_index_group().element);
  }
  auto node = spanned(mk<IndexedIdentifier>(name_identifier(id), std::move(indices)), span_of(id, prev_));
  return node;
}

std::vector<NodePtr> Parser::parse_operands(bool required) {
  std::vector<NodePtr> out;
  if (!is_operand_start(kind())) {
    if (required) expected("qubit operand", peek());
    return out;
  }
  out.push_back(parse_operand());
  while (accept(Tok::Comma) && is_operand_start(kind())) {
    out.push_back(parse_operand());
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Types

void Parser::check_size(const ExprPtr& size, const Token& bracket, const char* message) {
  bool bad = isa<UnaryExpression>(size);
  if (auto lit = dyn_cast<IntegerLiteral>(size.get())) bad = lit->value == 0;
  check(!bad, bracket, message);
}

ExprPtr Parser::parse_designator() {
  const Token open = expect(Tok::LBracket, "");
  ExprPtr e = parse_expr();
  expect(Tok::RBracket, "to close '['");
  e->span = span_of(open, prev_);
  return e;
}

TypePtr Parser::parse_scalar_type(std::string_view context) {
  Nest nest(*this);
  const Token t = peek();
  auto sized = [&]<class T>(const char* message) -> TypePtr {
    take();
    ExprPtr size;
    if (at(Tok::LBracket)) {
      Token bracket = peek();
      size = parse_designator();
      if (message) check_size(size, bracket, message);
    }
    auto node = spanned(mk<T>(std::move(size)), span_of(t, prev_));
    return node;
  };
  auto leaf = [&]<class T>() -> TypePtr {
    take();
    return spanned(mk<T>(), span_of(t, t));
  };
  switch (t.kind) {
    case Tok::KwBit: return sized.operator()<BitType>(nullptr);
    case Tok::KwInt: return sized.operator()<IntType>("int size must be positive");
    case Tok::KwUint: return sized.operator()<UintType>("uint size must be positive");
    case Tok::KwFloat: return sized.operator()<FloatType>(nullptr);
    case Tok::KwAngle: return sized.operator()<AngleType>("angle size must be positive");
    case Tok::KwBool: return leaf.operator()<BoolType>();
    case Tok::KwDuration: return leaf.operator()<DurationType>();
    case Tok::KwStretch: return leaf.operator()<StretchType>();
    case Tok::KwComplex: {
      take();
      Ptr<FloatType> base;
      if (accept(Tok::LBracket)) {
        const Token inner_start = peek();
        TypePtr inner = parse_scalar_type("inside 'complex[...]'");
        base = dyn_cast<FloatType>(inner);
        check(base != nullptr, inner_start, "invalid type of complex components");
        expect(Tok::RBracket, "to close 'complex['");
      }
      auto node = spanned(mk<ComplexType>(std::move(base)), span_of(t, prev_));
      return node;
    }
    default:
      break;
  }
  expected(std::string("a scalar type") + (context.empty() ? "" : " ") + std::string(context), t);
}

TypePtr Parser::parse_array_type() {
  const Token a = expect(Tok::KwArray, "");
  expect(Tok::LBracket, "after 'array'");
  const Token base_start = peek();
  TypePtr base = parse_scalar_type("(the element type) in 'array[...]'");
  check(!isa<StretchType>(base), base_start, "invalid scalar type for array");
  expect(Tok::Comma, "after the element type");
  auto dims = parse_expr_list();
  expect(Tok::RBracket, "to close 'array['");
  for (const auto& d : dims)
    if (isa<UnaryExpression>(d))
      check(false, d->span->start_line, d->span->start_column, "all array dimensions must be non-negative");
  auto node = spanned(mk<ArrayType>(std::move(base), std::move(dims)), span_of(a, prev_));
  return node;
}

TypePtr Parser::parse_array_reference_type() {
  const Token first = take();  // readonly / mutable
  expect(Tok::KwArray, "after the access keyword");
  expect(Tok::LBracket, "after 'array'");
  const Token base_start = peek();
  TypePtr base = parse_scalar_type("(the element type) in 'array[...]'");
  check(!isa<StretchType>(base), base_start, "invalid scalar type for array");
  expect(Tok::Comma, "after the element type");
  ArrayDimensions dims;
  if (accept(Tok::KwDim)) {
    expect(Tok::Equals, "after '#dim'");
    dims = parse_expr();
  } else {
    dims = parse_expr_list();
  }
  expect(Tok::RBracket, "to close 'array['");
  auto node = spanned(mk<ArrayReferenceType>(std::move(base), std::move(dims)), span_of(first, prev_));
  return node;
}

ExprPtr Parser::parse_cast(TypePtr type, const Token& first) {
  expect(Tok::LParen, "after the type of a cast");
  ExprPtr arg = parse_expr();
  expect(Tok::RParen, "to close the cast");
  auto node = spanned(mk<Cast>(std::move(type), std::move(arg)), span_of(first, prev_));
  return node;
}

// ---------------------------------------------------------------------------------------------
// Expressions

ExprPtr Parser::parse_expr(int min_level) {
  Nest nest(*this);
  const Token first = peek();
  ExprPtr lhs;
  UnaryOperator uop;
  bool prefix = true;
  switch (first.kind) {
    case Tok::Minus: uop = UnaryOperator::negate; break;
    case Tok::Bang: uop = UnaryOperator::logical_not; break;
    case Tok::Tilde: uop = UnaryOperator::bit_not; break;
    default: prefix = false; uop = UnaryOperator::negate; break;
  }
  if (prefix && uop == UnaryOperator::negate && is_int_token(kind(1)) && kind(2) != Tok::DoubleAsterisk &&
      literal_magnitude(peek(1)) == kInt64MinMagnitude) {
    // The least 64-bit integer, -2^63, whose magnitude alone would not fit: one literal.
    take();
    const Token t = take();
    lhs = spanned(mk<IntegerLiteral>(INT64_MIN), span_of(first, t));
  } else if (prefix) {
    take();
    ExprPtr operand = parse_expr(precedence::kPrefix);
    lhs = spanned(mk<UnaryExpression>(uop, std::move(operand)), span_of(first, prev_));
  } else {
    lhs = parse_postfix(parse_primary());
  }
  return parse_binary_tail(std::move(lhs), min_level);
}

ExprPtr Parser::parse_binary_tail(ExprPtr lhs, int min_level) {
  for (;;) {
    const BinaryOp op = binary_op(kind());
    if (op.level == 0 || op.level < min_level) break;
    take();
    // `**` is right-associative; every other operator is left-associative.
    ExprPtr rhs = parse_expr(op.level == precedence::kPower ? precedence::kPower : op.level + 1);
    Span s = span_from(*lhs, prev_);
    lhs = spanned(mk<BinaryExpression>(op.op, std::move(lhs), std::move(rhs)), s);
  }
  return lhs;
}

ExprPtr Parser::continue_expr(ExprPtr primary) { return parse_binary_tail(parse_postfix(std::move(primary)), 0); }

ExprPtr Parser::parse_postfix(ExprPtr e) {
  while (at(Tok::LBracket)) {
    Group g = parse_index_group();
    Span s = span_from(*e, prev_);
    e = spanned(mk<IndexExpression>(std::move(e), std::move(g.element)), s);
  }
  return e;
}

ExprPtr Parser::make_call(const Token& name, std::vector<ExprPtr> args) {
  if (name.text == "sizeof") {
    if (args.size() == 1 || args.size() == 2) {
      ExprPtr index = args.size() == 2 ? args[1] : nullptr;
      auto node = spanned(mk<SizeOf>(args[0], std::move(index)), span_of(name, prev_));
      return node;
    }
    check(false, name, "'sizeof' needs either one or two arguments");
  }
  auto node = spanned(mk<FunctionCall>(name_identifier(name), std::move(args)), span_of(name, prev_));
  return node;
}

std::vector<ExprPtr> Parser::parse_expr_list() {
  std::vector<ExprPtr> out;
  out.push_back(parse_expr());
  while (accept(Tok::Comma) && can_start_expr(kind())) {
    out.push_back(parse_expr());
  }
  return out;
}

std::vector<ExprPtr> Parser::parse_call_args() {
  std::vector<ExprPtr> args;
  if (!at(Tok::RParen)) args = parse_expr_list();
  expect(Tok::RParen, "to close the argument list");
  return args;
}

ExprPtr Parser::parse_primary() {
  const Token t = peek();
  switch (t.kind) {
    case Tok::LParen: {
      take();
      ExprPtr e = parse_expr();
      expect(Tok::RParen, "to close '('");
      e->span = span_of(t, prev_);
      return e;
    }
    case Tok::Identifier:
      take();
      if (accept(Tok::LParen)) return make_call(t, parse_call_args());
      return rule_identifier(t);
    case Tok::HardwareQubit:
      take();
      return rule_identifier(t);
    case Tok::BinaryInt:
    case Tok::OctalInt:
    case Tok::DecimalInt:
    case Tok::HexInt:
    case Tok::Float:
    case Tok::Imaginary:
    case Tok::Timing:
    case Tok::Bitstring:
    case Tok::KwTrue:
    case Tok::KwFalse:
      take();
      return literal(t);
    case Tok::KwDurationof:
      return parse_durationof();
    default:
      break;
  }
  if (is_type_token(t.kind)) return parse_cast(parse_any_type(""), t);
  expected("expression", t);
}

ExprPtr Parser::parse_durationof() {
  const Token t = take();
  expect(Tok::LParen, "after 'durationof'");
  auto stmts = parse_scope(true, "(a block) after 'durationof('");
  expect(Tok::RParen, "to close 'durationof('");
  auto node = spanned(mk<DurationOf>(std::move(stmts)), span_of(t, prev_));
  return node;
}

ExprPtr Parser::literal(const Token& t) {
  switch (t.kind) {
    case Tok::Float:
      return spanned(mk<FloatLiteral>(float_value(t.text, t)), span_of(t, t));
    case Tok::Imaginary: {
      std::string_view num = t.text.substr(0, t.text.size() - 2);
      while (!num.empty() && (num.back() == ' ' || num.back() == '\t')) num.remove_suffix(1);
      return spanned(mk<ImaginaryLiteral>(float_value(num, t)), span_of(t, t));
    }
    case Tok::Timing: {
      std::string_view text = t.text;
      TimeUnit unit;
      std::size_t unit_len = 2;
      if (text.ends_with("\xC2\xB5s")) unit = TimeUnit::us, unit_len = 3;
      else if (text.ends_with("dt")) unit = TimeUnit::dt;
      else if (text.ends_with("ns")) unit = TimeUnit::ns;
      else if (text.ends_with("us")) unit = TimeUnit::us;
      else if (text.ends_with("ms")) unit = TimeUnit::ms;
      else unit = TimeUnit::s, unit_len = 1;
      std::string_view num = text.substr(0, text.size() - unit_len);
      while (!num.empty() && (num.back() == ' ' || num.back() == '\t')) num.remove_suffix(1);
      return spanned(mk<DurationLiteral>(float_value(num, t), unit), span_of(t, t));
    }
    case Tok::Bitstring: {
      std::int64_t value = 0, width = 0;
      for (char c : t.text.substr(1, t.text.size() - 2)) {
        if (c == '_') continue;
        ++width;
        // Up to 64 significant bits, kept as the int64 of that bit pattern (64 fill a bit[64]).
        if (static_cast<std::uint64_t>(value) >> 63) error_at(t, "bitstring literal " + std::string(t.text) + " does not fit in 64 bits");
        value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) << 1 | static_cast<unsigned>(c - '0'));
      }
      return spanned(mk<BitstringLiteral>(value, width), span_of(t, t));
    }
    case Tok::KwTrue:
    case Tok::KwFalse:
      return spanned(mk<BooleanLiteral>(t.kind == Tok::KwTrue), span_of(t, t));
    default:
      return integer_literal(t);
  }
}

std::optional<std::uint64_t> Parser::literal_magnitude(const Token& t) {
  std::string_view digits = t.text;
  int base = 10;
  switch (t.kind) {
    case Tok::BinaryInt: base = 2, digits.remove_prefix(2); break;
    case Tok::OctalInt: base = 8, digits.remove_prefix(2); break;
    case Tok::HexInt: base = 16, digits.remove_prefix(2); break;
    default: break;
  }
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c == '_') continue;
    unsigned d = c <= '9' ? unsigned(c - '0') : c <= 'F' ? unsigned(c - 'A' + 10) : unsigned(c - 'a' + 10);
    if (value > (UINT64_MAX - d) / static_cast<unsigned>(base)) return std::nullopt;
    value = value * static_cast<unsigned>(base) + d;
  }
  return value;
}

// A decimal literal is a number and must fit int64. A binary, octal or hexadecimal literal spells
// bits: up to 64 of them are taken as the int64 of that bit pattern (0xFFFF_FFFF_FFFF_FFFF is the
// 64 bits of a uint[64] or bit[64], read as int64 -1).
ExprPtr Parser::integer_literal(const Token& t) {
  const std::optional<std::uint64_t> value = literal_magnitude(t);
  const std::uint64_t limit = t.kind == Tok::DecimalInt ? static_cast<std::uint64_t>(INT64_MAX) : UINT64_MAX;
  if (!value || *value > limit)
    error_at(t, "integer literal '" + std::string(t.text) + "' does not fit in 64 bits" +
                    (t.kind == Tok::DecimalInt ? " (signed)" : ""));
  return spanned(mk<IntegerLiteral>(static_cast<std::int64_t>(*value)), span_of(t, t));
}

double Parser::float_value(std::string_view text, const Token& t) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text)
    if (c != '_') clean += c;
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too large gives infinity and too small gives zero, as the reference's host does.
    std::size_t e = clean.find_first_of("eE");
    std::string_view mantissa = std::string_view(clean).substr(0, e);
    long long exponent = 0;
    if (e != std::string::npos) {
      std::string_view ex = std::string_view(clean).substr(e + 1);
      bool neg = !ex.empty() && ex.front() == '-';
      if (!ex.empty() && (ex.front() == '-' || ex.front() == '+')) ex.remove_prefix(1);
      for (char c : ex) exponent = std::min<long long>(exponent * 10 + (c - '0'), 1'000'000'000);
      if (neg) exponent = -exponent;
    }
    // Decimal magnitude: position of the first significant digit relative to the point.
    std::size_t dot = mantissa.find('.');
    std::size_t int_len = dot == std::string_view::npos ? mantissa.size() : dot;
    std::size_t first_sig = mantissa.find_first_of("123456789");
    long long magnitude = first_sig == std::string_view::npos
                              ? 0
                              : (first_sig < int_len ? static_cast<long long>(int_len - first_sig)
                                                     : -static_cast<long long>(first_sig - int_len - 1));
    value = (magnitude + exponent > 0) ? HUGE_VAL : 0.0;
  } else if (ec != std::errc() || ptr != clean.data() + clean.size()) {
    error_at(t, "malformed number '" + std::string(t.text) + "'");
  }
  return value;
}

ExprPtr Parser::parse_alias_value() {
  const Token first = peek();
  ExprPtr e = parse_expr();
  while (accept(Tok::DoublePlus)) {
    ExprPtr rhs = parse_expr();
    e = spanned(mk<Concatenation>(std::move(e), std::move(rhs)), span_of(first, prev_));
  }
  e->span = span_of(first, prev_);
  return e;
}

Parser::Group Parser::parse_index_group() {
  const Token open = expect(Tok::LBracket, "");
  Group g;
  if (at(Tok::LBrace)) {
    g.element = parse_set();
    expect(Tok::RBracket, "to close the index");
    return g;
  }
  IndexList items;
  bool trailing = false;
  for (;;) {
    items.push_back(parse_range_item(false));
    trailing = false;
    if (!accept(Tok::Comma)) break;
    trailing = true;
    if (at(Tok::RBracket)) break;
  }
  expect(Tok::RBracket, "to close the index");
  g.designator = items.size() == 1 && !trailing && isa<Expression>(items.front());
  g.element = std::move(items);
  (void)open;
  return g;
}

NodePtr Parser::parse_range_item(bool require_colon) {
  const Token first = peek();
  ExprPtr start, middle, end;
  if (!at(Tok::Colon)) {
    start = parse_expr();
    if (!at(Tok::Colon)) {
      if (require_colon) expected("':' in the range", peek());
      return start;
    }
  }
  take();
  if (can_start_expr(kind())) {
    middle = parse_expr();
  }
  bool stepped = false;
  if (accept(Tok::Colon)) {
    stepped = true;
    end = parse_expr();
  }
  auto node = stepped ? mk<RangeDefinition>(std::move(start), std::move(end), std::move(middle))
                      : mk<RangeDefinition>(std::move(start), std::move(middle), nullptr);
  node->span = span_of(first, prev_);
  return node;
}

Ptr<DiscreteSet> Parser::parse_set() {
  const Token open = expect(Tok::LBrace, "");
  auto values = parse_expr_list();
  expect(Tok::RBrace, "to close the set");
  auto node = spanned(mk<DiscreteSet>(std::move(values)), span_of(open, prev_));
  return node;
}

ExprPtr Parser::parse_array_literal() {
  Nest nest(*this);
  const Token open = expect(Tok::LBrace, "");
  std::vector<ExprPtr> values;
  while (!at(Tok::RBrace)) {
    values.push_back(at(Tok::LBrace) ? parse_array_literal() : parse_expr());
    if (!accept(Tok::Comma)) break;
  }
  expect(Tok::RBrace, "to close the array literal");
  auto node = spanned(mk<ArrayLiteral>(std::move(values)), span_of(open, prev_));
  return node;
}

}  // namespace

std::shared_ptr<ast::Program> parse(std::string_view text) { return Parser(text).run(); }

}  // namespace openqasm3
