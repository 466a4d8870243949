#include "openqasm3/printer.hpp"

#include <cmath>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "openqasm3/number_text.hpp"
#include "openqasm3/stack_guard.hpp"
#include "precedence.hpp"

namespace openqasm3 {
namespace {

using namespace ast;

// Binding strength of an expression, weakest first; an operand is parenthesised when it binds
// less tightly than its place demands.
constexpr int kConcatenation = 0;
using precedence::kPower;
using precedence::kPrefix;
constexpr int kPostfix = kPower + 1;  // indexing, calls, casts, durationof, sizeof
constexpr int kPrimary = kPower + 2;

int binary_precedence(BinaryOperator op) {
  const int level = precedence::binary(op);
  return level ? level : kPrimary;
}

bool negative(double v) { return std::signbit(v) && !std::isnan(v); }

// The text of a real number that reads back to it. An infinity (a literal beyond the largest
// double, such as 1e999) is written as such a literal: "inf" would read back as a name.
std::string number_text(double v) {
  if (std::isinf(v)) return v > 0 ? "1e999" : "-1e999";
  return float_text(v);
}

int precedence(const QASMNode& n) {
  switch (n.library_kind()) {
    case NodeKind::Concatenation: return kConcatenation;
    case NodeKind::BinaryExpression:
      return binary_precedence(static_cast<const BinaryExpression&>(n).op);
    case NodeKind::UnaryExpression: return kPrefix;
    case NodeKind::IndexExpression:
    case NodeKind::FunctionCall:
    case NodeKind::Cast:
    case NodeKind::DurationOf:
    case NodeKind::SizeOf: return kPostfix;
    // A negative literal prints with a leading minus, which binds like a prefix operator: without
    // parentheses `(-2) ** 2` would print as `-2 ** 2`, that is -(2 ** 2).
    case NodeKind::IntegerLiteral:
      return static_cast<const IntegerLiteral&>(n).value < 0 ? kPrefix : kPrimary;
    case NodeKind::FloatLiteral:
      return negative(static_cast<const FloatLiteral&>(n).value) ? kPrefix : kPrimary;
    case NodeKind::ImaginaryLiteral:
      return negative(static_cast<const ImaginaryLiteral&>(n).value) ? kPrefix : kPrimary;
    case NodeKind::DurationLiteral:
      return negative(static_cast<const DurationLiteral&>(n).value) ? kPrefix : kPrimary;
    default: return kPrimary;
  }
}

class Printer {
 public:
  explicit Printer(const PrinterOptions& options) : opt_(options) {}

  std::string take() { return std::move(out_); }

  void node(const QASMNode& n) {
    check_stack("printing");
    if (n.kind() == NodeKind::External) {
      if (auto text = n.printed_text()) return external(n, *text);
    }
    switch (n.library_kind()) {
#define NODE(Class, Base) \
  case NodeKind::Class: return print_##Class(static_cast<const Class&>(n));
#include "openqasm3/nodes.def"
      case NodeKind::External: break;
    }
    unprintable(n);
  }

 private:
  const PrinterOptions& opt_;
  std::string out_;
  int depth_ = 0;
  bool skip_indent_ = false;  // the next line continues the current one (`} else if`)

  // ---- failures

  [[noreturn]] static void unprintable(const QASMNode& n) {
    throw std::invalid_argument("cannot print a node of the abstract class " +
                                std::string(n.class_name()));
  }
  [[noreturn]] static void missing(const QASMNode& owner, const char* field) {
    throw std::invalid_argument("cannot print " + std::string(owner.class_name()) +
                                ": its field '" + field + "' is empty");
  }
  [[noreturn]] static void null_item(const QASMNode& owner, const char* field) {
    throw std::invalid_argument("cannot print " + std::string(owner.class_name()) +
                                ": its field '" + field + "' holds an empty element");
  }

  template <class T> static const T& need(const Ptr<T>& p, const QASMNode& owner, const char* field) {
    if (!p) missing(owner, field);
    return *p;
  }

  // ---- layout

  void start_line() {
    if (skip_indent_) {
      skip_indent_ = false;
      return;
    }
    for (int i = 0; i < depth_; ++i) out_ += opt_.indent;
  }
  void end_statement() { out_ += ";\n"; }

  // A node of a class defined outside the library, in the text its class gives: a statement on a
  // line of its own, anything else inline.
  void external(const QASMNode& n, const std::string& text) {
    if (auto* s = dyn_cast<Statement>(&n)) {
      begin(*s);
      out_ += text;
      end_line();
    } else {
      out_ += text;
    }
  }
  void end_line() { out_ += '\n'; }

  // The annotations of a statement, each on its own line, then the start of its first line.
  void begin(const Statement& s) {
    for (const auto& a : s.annotations) {
      if (!a) null_item(s, "annotations");
      print_Annotation(*a);
    }
    start_line();
  }

  template <class T> void block(const std::vector<Ptr<T>>& statements, const QASMNode& owner, const char* field) {
    out_ += "{\n";
    ++depth_;
    for (const auto& s : statements) {
      if (!s) null_item(owner, field);
      node(*s);
    }
    --depth_;
    start_line();
    out_ += '}';
  }

  template <class T> void list(const std::vector<Ptr<T>>& items, const QASMNode& owner, const char* field,
                               std::string_view separator = ", ") {
    bool first = true;
    for (const auto& item : items) {
      if (!item) null_item(owner, field);
      if (!first) out_ += separator;
      first = false;
      node(*item);
    }
  }

  void operand(const QASMNode& e, bool parenthesise) {
    if (parenthesise) out_ += '(';
    node(e);
    if (parenthesise) out_ += ')';
  }

  void string_literal(const std::string& text, const QASMNode& owner, const char* field) {
    // The lexer takes either quote and allows no escapes, no line breaks or tabs, and no empty
    // string; a text it could not read back is refused rather than written wrongly.
    bool has_double = text.find('"') != std::string::npos;
    bool has_single = text.find('\'') != std::string::npos;
    if (text.empty() || (has_double && has_single) || text.find_first_of("\r\n\t") != std::string::npos)
      throw std::invalid_argument("cannot print " + std::string(owner.class_name()) + ": its field '" +
                                  field + "' cannot be written as a string literal");
    char quote = has_double ? '\'' : '"';
    out_ += quote;
    out_ += text;
    out_ += quote;
  }

  void sized(std::string_view keyword, const ExprPtr& size) {
    out_ += keyword;
    if (size) {
      out_ += '[';
      node(*size);
      out_ += ']';
    }
  }

  void index_element(const IndexElement& index, const QASMNode& owner, const char* field) {
    out_ += '[';
    if (const auto* set = std::get_if<Ptr<DiscreteSet>>(&index)) {
      node(need(*set, owner, field));
    } else {
      list(std::get<IndexList>(index), owner, field);
    }
    out_ += ']';
  }

  void modifiers(const std::vector<Ptr<QuantumGateModifier>>& mods, const QASMNode& owner) {
    for (const auto& m : mods) {
      if (!m) null_item(owner, "modifiers");
      node(*m);
      out_ += " @ ";
    }
  }

  void designator(const ExprPtr& duration) {
    if (!duration) return;
    out_ += '[';
    node(*duration);
    out_ += ']';
  }

  void operands(const std::vector<NodePtr>& qubits, const QASMNode& owner, const char* field) {
    if (qubits.empty()) return;
    out_ += ' ';
    list(qubits, owner, field);
  }

  void return_type(const TypePtr& type) {
    if (!type) return;
    out_ += " -> ";
    node(*type);
  }

  void access(const std::optional<AccessControl>& a) {
    if (!a) return;
    out_ += symbol(*a);
    out_ += ' ';
  }

  // ---- program level

  void print_Program(const Program& n) {
    if (n.version && !n.version->empty()) {
      start_line();
      out_ += "OPENQASM ";
      out_ += *n.version;
      end_statement();
    }
    for (const auto& s : n.statements) {
      if (!s) null_item(n, "statements");
      node(*s);
    }
  }

  void print_Annotation(const Annotation& n) {
    start_line();
    out_ += '@';
    out_ += n.keyword;
    if (n.command) {
      out_ += ' ';
      out_ += *n.command;
    }
    end_line();
  }

  void print_Pragma(const Pragma& n) {
    start_line();
    out_ += "pragma ";
    out_ += n.command;
    end_line();
  }

  // ---- abstract classes

  void print_Statement(const Statement& n) { unprintable(n); }
  void print_QuantumStatement(const QuantumStatement& n) { unprintable(n); }
  void print_Expression(const Expression& n) { unprintable(n); }
  void print_ClassicalType(const ClassicalType& n) { unprintable(n); }

  // ---- statements

  void print_CompoundStatement(const CompoundStatement& n) {
    begin(n);
    block(n.statements, n, "statements");
    end_line();
  }

  void print_Include(const Include& n) {
    begin(n);
    out_ += "include ";
    string_literal(n.filename, n, "filename");
    end_statement();
  }

  void print_ExpressionStatement(const ExpressionStatement& n) {
    begin(n);
    node(need(n.expression, n, "expression"));
    end_statement();
  }

  void print_QubitDeclaration(const QubitDeclaration& n) {
    begin(n);
    sized("qubit", n.size);
    out_ += ' ';
    node(need(n.qubit, n, "qubit"));
    end_statement();
  }

  void print_QuantumGateDefinition(const QuantumGateDefinition& n) {
    begin(n);
    out_ += "gate ";
    node(need(n.name, n, "name"));
    if (!n.arguments.empty()) {
      out_ += '(';
      list(n.arguments, n, "arguments");
      out_ += ')';
    }
    operands_of(n.qubits, n);
    out_ += ' ';
    block(n.body, n, "body");
    end_line();
  }
  void operands_of(const std::vector<Ptr<Identifier>>& qubits, const QASMNode& owner) {
    if (qubits.empty()) return;
    out_ += ' ';
    list(qubits, owner, "qubits");
  }

  void print_ExternDeclaration(const ExternDeclaration& n) {
    begin(n);
    out_ += "extern ";
    node(need(n.name, n, "name"));
    out_ += '(';
    list(n.arguments, n, "arguments");
    out_ += ')';
    return_type(n.return_type);
    end_statement();
  }

  void print_QuantumGate(const QuantumGate& n) {
    begin(n);
    modifiers(n.modifiers, n);
    node(need(n.name, n, "name"));
    if (!n.arguments.empty()) {
      out_ += '(';
      list(n.arguments, n, "arguments");
      out_ += ')';
    }
    designator(n.duration);
    operands(n.qubits, n, "qubits");
    end_statement();
  }

  void print_QuantumPhase(const QuantumPhase& n) {
    begin(n);
    modifiers(n.modifiers, n);
    out_ += "gphase(";
    node(need(n.argument, n, "argument"));
    out_ += ')';
    designator(n.duration);
    operands(n.qubits, n, "qubits");
    end_statement();
  }

  void print_QuantumNop(const QuantumNop& n) {
    begin(n);
    out_ += "nop";
    operands(n.operands, n, "operands");
    end_statement();
  }

  void print_QuantumMeasurementStatement(const QuantumMeasurementStatement& n) {
    begin(n);
    const QASMNode& measure = need(n.measure, n, "measure");
    if (!n.target) {
      node(measure);
    } else if (opt_.old_measurement) {
      node(measure);
      out_ += " -> ";
      node(*n.target);
    } else {
      node(*n.target);
      out_ += " = ";
      node(measure);
    }
    end_statement();
  }

  void print_QuantumBarrier(const QuantumBarrier& n) {
    begin(n);
    out_ += "barrier";
    operands(n.qubits, n, "qubits");
    end_statement();
  }

  void print_QuantumReset(const QuantumReset& n) {
    begin(n);
    out_ += "reset ";
    node(need(n.qubits, n, "qubits"));
    end_statement();
  }

  void print_ClassicalDeclaration(const ClassicalDeclaration& n) {
    begin(n);
    node(need(n.type, n, "type"));
    out_ += ' ';
    node(need(n.identifier, n, "identifier"));
    if (n.init_expression) {
      out_ += " = ";
      node(*n.init_expression);
    }
    end_statement();
  }

  void print_IODeclaration(const IODeclaration& n) {
    begin(n);
    out_ += symbol(n.io_identifier);
    out_ += ' ';
    node(need(n.type, n, "type"));
    out_ += ' ';
    node(need(n.identifier, n, "identifier"));
    end_statement();
  }

  void print_ConstantDeclaration(const ConstantDeclaration& n) {
    begin(n);
    out_ += "const ";
    node(need(n.type, n, "type"));
    out_ += ' ';
    node(need(n.identifier, n, "identifier"));
    out_ += " = ";
    node(need(n.init_expression, n, "init_expression"));
    end_statement();
  }

  void print_CalibrationGrammarDeclaration(const CalibrationGrammarDeclaration& n) {
    begin(n);
    out_ += "defcalgrammar ";
    string_literal(n.name, n, "name");
    end_statement();
  }

  void print_CalibrationStatement(const CalibrationStatement& n) {
    begin(n);
    out_ += "cal {";
    out_ += n.body;
    out_ += "}\n";
  }

  void print_CalibrationDefinition(const CalibrationDefinition& n) {
    begin(n);
    out_ += "defcal ";
    node(need(n.name, n, "name"));
    out_ += '(';
    list(n.arguments, n, "arguments");
    out_ += ')';
    operands_of(n.qubits, n);
    return_type(n.return_type);
    out_ += " {";
    out_ += n.body;
    out_ += "}\n";
  }

  void print_SubroutineDefinition(const SubroutineDefinition& n) {
    begin(n);
    out_ += "def ";
    node(need(n.name, n, "name"));
    out_ += '(';
    list(n.arguments, n, "arguments");
    out_ += ')';
    return_type(n.return_type);
    out_ += ' ';
    block(n.body, n, "body");
    end_line();
  }

  void print_ReturnStatement(const ReturnStatement& n) {
    begin(n);
    out_ += "return";
    if (n.expression) {
      out_ += ' ';
      node(*n.expression);
    }
    end_statement();
  }

  void print_BreakStatement(const BreakStatement& n) {
    begin(n);
    out_ += "break";
    end_statement();
  }
  void print_ContinueStatement(const ContinueStatement& n) {
    begin(n);
    out_ += "continue";
    end_statement();
  }
  void print_EndStatement(const EndStatement& n) {
    begin(n);
    out_ += "end";
    end_statement();
  }

  void print_BranchingStatement(const BranchingStatement& n) {
    begin(n);
    out_ += "if (";
    node(need(n.condition, n, "condition"));
    out_ += ") ";
    block(n.if_block, n, "if_block");
    if (n.else_block.empty()) {
      end_line();
      return;
    }
    out_ += " else ";
    const StmtPtr& only = n.else_block.front();
    // An annotated inner `if` must not be chained: its annotation lines would land between
    // `else` and `if`.
    if (opt_.chain_else_if && n.else_block.size() == 1 && only &&
        isa<BranchingStatement>(only) && n.annotations.empty() &&
        only->annotations.empty()) {
      skip_indent_ = true;
      node(*only);  // ends the line itself
      return;
    }
    block(n.else_block, n, "else_block");
    end_line();
  }

  void print_WhileLoop(const WhileLoop& n) {
    begin(n);
    out_ += "while (";
    node(need(n.while_condition, n, "while_condition"));
    out_ += ") ";
    block(n.block, n, "block");
    end_line();
  }

  void print_ForInLoop(const ForInLoop& n) {
    begin(n);
    out_ += "for ";
    node(need(n.type, n, "type"));
    out_ += ' ';
    node(need(n.identifier, n, "identifier"));
    out_ += " in ";
    const QASMNode& set = need(n.set_declaration, n, "set_declaration");
    if (isa<RangeDefinition>(set)) {
      out_ += '[';
      node(set);
      out_ += ']';
    } else {
      node(set);
    }
    out_ += ' ';
    block(n.block, n, "block");
    end_line();
  }

  void print_SwitchStatement(const SwitchStatement& n) {
    begin(n);
    out_ += "switch (";
    node(need(n.target, n, "target"));
    out_ += ") {\n";
    ++depth_;
    for (const auto& c : n.cases) {
      start_line();
      out_ += "case ";
      list(c.values, n, "cases");
      out_ += ' ';
      if (!c.block) null_item(n, "cases");
      block(c.block->statements, n, "cases");
      end_line();
    }
    if (n.default_) {
      start_line();
      out_ += "default ";
      block(n.default_->statements, n, "default");
      end_line();
    }
    --depth_;
    start_line();
    out_ += "}\n";
  }

  void print_DelayInstruction(const DelayInstruction& n) {
    begin(n);
    out_ += "delay[";
    node(need(n.duration, n, "duration"));
    out_ += ']';
    operands(n.qubits, n, "qubits");
    end_statement();
  }

  void print_Box(const Box& n) {
    begin(n);
    out_ += "box";
    designator(n.duration);
    out_ += ' ';
    block(n.body, n, "body");
    end_line();
  }

  void print_AliasStatement(const AliasStatement& n) {
    begin(n);
    out_ += "let ";
    node(need(n.target, n, "target"));
    out_ += " = ";
    node(need(n.value, n, "value"));
    end_statement();
  }

  void print_ClassicalAssignment(const ClassicalAssignment& n) {
    begin(n);
    node(need(n.lvalue, n, "lvalue"));
    out_ += ' ';
    out_ += symbol(n.op);
    out_ += ' ';
    node(need(n.rvalue, n, "rvalue"));
    end_statement();
  }

  // ---- expressions

  void print_Identifier(const Identifier& n) { out_ += n.name; }

  // A prefix operator applies to another one without parentheses (`--x`, `!~b`), so that a
  // long run of them prints no deeper than it was written. A negative number literal, which a
  // prefix minus would turn into two nodes, keeps its parentheses.
  void print_UnaryExpression(const UnaryExpression& n) {
    const QASMNode& e = need(n.expression, n, "expression");
    out_ += symbol(n.op);
    operand(e, precedence(e) < kPrefix || (precedence(e) == kPrefix && !isa<UnaryExpression>(e)));
  }

  // Left-leaning chains (`a + b + ...`, `a[0][1]...`, `a ++ b ++ ...`) are as deep as they are
  // long though nothing in them is bracketed; the printer walks down their left operands in a
  // loop, so that a chain of any length prints with the stack of one level.
  static bool left_chain(const QASMNode& n) {
    switch (n.library_kind()) {
      case NodeKind::BinaryExpression:
      case NodeKind::Concatenation:
      case NodeKind::IndexExpression: return true;
      default: return false;
    }
  }
  static const QASMNode& left_operand(const QASMNode& n) {
    switch (n.library_kind()) {
      case NodeKind::BinaryExpression: return need(static_cast<const BinaryExpression&>(n).lhs, n, "lhs");
      case NodeKind::Concatenation: return need(static_cast<const Concatenation&>(n).lhs, n, "lhs");
      default: return need(static_cast<const IndexExpression&>(n).collection, n, "collection");
    }
  }
  // Whether the left operand `lhs` of the chain node `n` needs parentheses.
  static bool bracket_left(const QASMNode& n, const QASMNode& lhs) {
    switch (n.library_kind()) {
      case NodeKind::BinaryExpression: {
        const BinaryOperator op = static_cast<const BinaryExpression&>(n).op;
        const int p = binary_precedence(op);
        // `**` groups to the right: a `**` on its left needs parentheses.
        return op == BinaryOperator::power ? precedence(lhs) <= p : precedence(lhs) < p;
      }
      case NodeKind::Concatenation: return precedence(lhs) < kConcatenation;
      default: return precedence(lhs) < kPostfix;
    }
  }
  // What follows the left operand of the chain node `n`.
  void chain_rest(const QASMNode& n) {
    switch (n.library_kind()) {
      case NodeKind::BinaryExpression: {
        const auto& b = static_cast<const BinaryExpression&>(n);
        const QASMNode& rhs = need(b.rhs, n, "rhs");
        const int p = binary_precedence(b.op);
        out_ += ' ';
        out_ += symbol(b.op);
        out_ += ' ';
        // On the right of `**` neither a `**` nor a prefix operator needs parentheses (the
        // operand of `-` in `a ** -b ** c` is `b ** c`), which keeps long chains of them as
        // shallow as they were written.
        operand(rhs, b.op == BinaryOperator::power ? precedence(rhs) < kPrefix : precedence(rhs) <= p);
        return;
      }
      case NodeKind::Concatenation: {
        const QASMNode& rhs = need(static_cast<const Concatenation&>(n).rhs, n, "rhs");
        out_ += " ++ ";
        operand(rhs, precedence(rhs) <= kConcatenation);
        return;
      }
      default:
        index_element(static_cast<const IndexExpression&>(n).index, n, "index");
    }
  }
  void print_chain(const QASMNode& top) {
    std::vector<const QASMNode*> chain{&top};
    const QASMNode* lhs = &left_operand(top);
    while (left_chain(*lhs) && !bracket_left(*chain.back(), *lhs)) {
      chain.push_back(lhs);
      lhs = &left_operand(*lhs);
    }
    operand(*lhs, bracket_left(*chain.back(), *lhs));
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) chain_rest(**it);
  }

  void print_BinaryExpression(const BinaryExpression& n) { print_chain(n); }

  void print_IntegerLiteral(const IntegerLiteral& n) { out_ += std::to_string(n.value); }
  void print_FloatLiteral(const FloatLiteral& n) { out_ += number_text(n.value); }
  void print_ImaginaryLiteral(const ImaginaryLiteral& n) {
    out_ += number_text(n.value);
    out_ += "im";
  }
  void print_BooleanLiteral(const BooleanLiteral& n) { out_ += n.value ? "true" : "false"; }

  void print_BitstringLiteral(const BitstringLiteral& n) {
    // Binary digits padded with zeros to the width (all digits when the value is wider); a
    // negative value, which only a hand-built tree holds, keeps its sign in front.
    std::uint64_t magnitude = n.value < 0 ? 0 - static_cast<std::uint64_t>(n.value)
                                          : static_cast<std::uint64_t>(n.value);
    std::string digits;
    do {
      digits.insert(digits.begin(), static_cast<char>('0' + (magnitude & 1)));
      magnitude >>= 1;
    } while (magnitude != 0);
    std::int64_t width = n.value < 0 ? n.width - 1 : n.width;
    out_ += '"';
    if (n.value < 0) out_ += '-';
    if (width > static_cast<std::int64_t>(digits.size()))
      out_.append(static_cast<std::size_t>(width) - digits.size(), '0');
    out_ += digits;
    out_ += '"';
  }

  void print_DurationLiteral(const DurationLiteral& n) {
    out_ += number_text(n.value);
    out_ += symbol(n.unit);
  }

  void print_ArrayLiteral(const ArrayLiteral& n) {
    out_ += '{';
    list(n.values, n, "values");
    out_ += '}';
  }

  void print_FunctionCall(const FunctionCall& n) {
    node(need(n.name, n, "name"));
    out_ += '(';
    list(n.arguments, n, "arguments");
    out_ += ')';
  }

  void print_Cast(const Cast& n) {
    node(need(n.type, n, "type"));
    out_ += '(';
    node(need(n.argument, n, "argument"));
    out_ += ')';
  }

  void print_DiscreteSet(const DiscreteSet& n) {
    out_ += '{';
    list(n.values, n, "values");
    out_ += '}';
  }

  void print_RangeDefinition(const RangeDefinition& n) {
    if (n.start) node(*n.start);
    out_ += ':';
    if (n.step) {
      node(*n.step);
      out_ += ':';
    }
    if (n.end) node(*n.end);
  }

  void print_IndexExpression(const IndexExpression& n) { print_chain(n); }

  void print_IndexedIdentifier(const IndexedIdentifier& n) {
    node(need(n.name, n, "name"));
    for (const auto& index : n.indices) index_element(index, n, "indices");
  }

  void print_Concatenation(const Concatenation& n) { print_chain(n); }

  void print_QuantumGateModifier(const QuantumGateModifier& n) {
    out_ += symbol(n.modifier);
    if (n.argument) {
      out_ += '(';
      node(*n.argument);
      out_ += ')';
    }
  }

  void print_QuantumMeasurement(const QuantumMeasurement& n) {
    out_ += "measure ";
    node(need(n.qubit, n, "qubit"));
  }

  void print_QuantumCallExpression(const QuantumCallExpression& n) {
    node(need(n.name, n, "name"));
    if (!n.arguments.empty()) {
      out_ += '(';
      list(n.arguments, n, "arguments");
      out_ += ')';
    }
    operands(n.qubits, n, "qubits");
  }

  void print_DurationOf(const DurationOf& n) {
    out_ += "durationof(";
    block(n.target, n, "target");
    out_ += ')';
  }

  void print_SizeOf(const SizeOf& n) {
    out_ += "sizeof(";
    node(need(n.target, n, "target"));
    if (n.index) {
      out_ += ", ";
      node(*n.index);
    }
    out_ += ')';
  }

  // ---- arguments

  void print_ClassicalArgument(const ClassicalArgument& n) {
    access(n.access);
    node(need(n.type, n, "type"));
    out_ += ' ';
    node(need(n.name, n, "name"));
  }

  void print_ExternArgument(const ExternArgument& n) {
    access(n.access);
    node(need(n.type, n, "type"));
  }

  void print_QuantumArgument(const QuantumArgument& n) {
    sized("qubit", n.size);
    out_ += ' ';
    node(need(n.name, n, "name"));
  }

  // ---- types

  void print_IntType(const IntType& n) { sized("int", n.size); }
  void print_UintType(const UintType& n) { sized("uint", n.size); }
  void print_FloatType(const FloatType& n) { sized("float", n.size); }
  void print_AngleType(const AngleType& n) { sized("angle", n.size); }
  void print_BitType(const BitType& n) { sized("bit", n.size); }
  void print_BoolType(const BoolType&) { out_ += "bool"; }
  void print_DurationType(const DurationType&) { out_ += "duration"; }
  void print_StretchType(const StretchType&) { out_ += "stretch"; }

  void print_ComplexType(const ComplexType& n) {
    out_ += "complex";
    if (n.base_type) {
      out_ += '[';
      node(*n.base_type);
      out_ += ']';
    }
  }

  void print_ArrayType(const ArrayType& n) {
    out_ += "array[";
    node(need(n.base_type, n, "base_type"));
    for (const auto& d : n.dimensions) {
      if (!d) null_item(n, "dimensions");
      out_ += ", ";
      node(*d);
    }
    out_ += ']';
  }

  void print_ArrayReferenceType(const ArrayReferenceType& n) {
    out_ += "array[";
    node(need(n.base_type, n, "base_type"));
    if (const auto* count = std::get_if<ExprPtr>(&n.dimensions)) {
      out_ += ", #dim=";
      node(need(*count, n, "dimensions"));
    } else {
      for (const auto& d : std::get<std::vector<ExprPtr>>(n.dimensions)) {
        if (!d) null_item(n, "dimensions");
        out_ += ", ";
        node(*d);
      }
    }
    out_ += ']';
  }
};

}  // namespace

std::string dumps(const ast::QASMNode& node, const PrinterOptions& options) {
  Printer printer(options);
  printer.node(node);
  return printer.take();
}

}  // namespace openqasm3
