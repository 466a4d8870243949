// Algebraic identities for a binary expression with a known literal operand (x * 0, x + 0, x ** 1,
// false & x, ...): calculate_binop_rules applies the first matching row of
// CASES_TO_RETURN_FUNCTION and returns an operand (the very node, not a copy), a new literal, or
// the expression itself when no row matches. Constant folding calls it for the binary expressions
// that it cannot compute.
//
// A row's pattern names the left operand, the operator and the right operand. An operand that is
// no literal (is_qasm_literal) matches only ANYTHING. A number pattern (0, 1, false) matches a
// literal of the same numeric value whatever its kind: 0 matches 0, 0.0, -0.0 and false; 1
// matches 1, 1.0 and true; false matches false, 0 and 0.0. The pattern `true` matches the boolean
// literal true only.
//
// Folding never changes a type: a matching row is applied only where its result has the type of
// the expression it replaces, with both types known (ValueType; an operand whose type the caller
// cannot tell is `unknown`, and then the expression stays). So x * 0 with a real x stays (its
// value is a real, the literal 0 an integer), and so does b + 0 with a bool b (an integer). The
// rows with the pattern `true` (true & x gives x, x | true gives true) hold for booleans only:
// they need both operands bool (m & true with an integer m is m & 1, not m). 0 ** x gives 0 only
// for a literal x (0 ** 0 is 1).
//
// Trap: nothing else is checked about the other operand. 0 / x gives the literal 0 whatever x is
// at run time.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <variant>

#include "openqasm3/ast.hpp"
#include "vell_qasm/value_text.hpp"

namespace vell_qasm::passes::code_resolving {

// The type of an expression's value as far as folding can tell it.
enum class ValueType { unknown, boolean, integer, real, duration };

// The type of a value of this kind (a bool is boolean, int64 integer, double real).
ValueType type_of_value(const PlainValue& value);
// The type `op` gives to operands of these types: unknown where either is unknown or the language
// defines no such operation. Comparisons and && || give boolean; + - * / % ** give integer for
// two integral operands (bool counts as integer), real with a real, duration for a duration
// added to a duration or scaled by a number (duration / duration is real); & | ^ give boolean for
// two booleans, integer for integral ones; << >> integer.
ValueType binary_result_type(openqasm3::ast::BinaryOperator op, ValueType lhs, ValueType rhs);

// The types of the two operands of the expression being rewritten, asked only when a row matches.
class OperandTypes {
 public:
  virtual ~OperandTypes() = default;
  virtual ValueType lhs() = 0;
  virtual ValueType rhs() = 0;
};

// The wildcard of a pattern: matches every operand, a non-literal one included.
struct Anything {
  friend constexpr bool operator==(Anything, Anything) { return true; }
};
inline constexpr Anything ANYTHING{};

// A pattern operand that only a boolean literal of this value matches.
struct BooleanOnly {
  bool value;
  friend constexpr bool operator==(BooleanOnly, BooleanOnly) = default;
};

// ANYTHING, a number compared by numeric value, or a boolean literal only.
using PatternOperand = std::variant<Anything, PlainValue, BooleanOnly>;

// Whether `pattern` matches an operand whose literal value is `probe` (nullopt: no literal).
bool matches(const PatternOperand& pattern, const std::optional<PlainValue>& probe);

// An answer: the replacement of the expression, from its two operand nodes.
using AnswerFunction = std::function<openqasm3::ast::ExprPtr(const openqasm3::ast::ExprPtr& lhs,
                                                             const openqasm3::ast::ExprPtr& rhs)>;

openqasm3::ast::ExprPtr return_lhs(const openqasm3::ast::ExprPtr& lhs, const openqasm3::ast::ExprPtr& rhs);
openqasm3::ast::ExprPtr return_rhs(const openqasm3::ast::ExprPtr& lhs, const openqasm3::ast::ExprPtr& rhs);
// An answer that makes a new literal of `lit` of the kind of `rhs`: a boolean literal (true unless
// lit is zero), an integer literal or a real literal. Any other kind of `rhs` is a TypeError
// "Type <class '...'> is not supported.".
AnswerFunction return_literal_as_type_of_rhs(PlainValue lit);

struct BinopRule {
  PatternOperand lhs;
  openqasm3::ast::BinaryOperator op;
  PatternOperand rhs;
  AnswerFunction answer;
};

// The 21 rows, in the order they are tried.
extern const std::array<BinopRule, 21> CASES_TO_RETURN_FUNCTION;

// The answer of the first row that matches `node` and keeps its type, or `node` itself. Without
// `types`, an operand that is no literal has an unknown type.
openqasm3::ast::ExprPtr calculate_binop_rules(const openqasm3::ast::Ptr<openqasm3::ast::BinaryExpression>& node);
openqasm3::ast::ExprPtr calculate_binop_rules(const openqasm3::ast::Ptr<openqasm3::ast::BinaryExpression>& node,
                                              OperandTypes& types);
// The same, null where no row applies (the expression stays): for a walk that holds no handle of it.
openqasm3::ast::ExprPtr binop_rule_result(const openqasm3::ast::BinaryExpression& node);
openqasm3::ast::ExprPtr binop_rule_result(const openqasm3::ast::BinaryExpression& node, OperandTypes& types);

}  // namespace vell_qasm::passes::code_resolving
