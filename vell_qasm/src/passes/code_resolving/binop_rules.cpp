#include "vell_qasm/passes/code_resolving/binop_rules.hpp"

#include <cmath>
#include <cstdint>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

namespace {

// A boolean counts as 0 or 1.
std::optional<std::int64_t> integer_value(const PlainValue& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (auto* i = std::get_if<std::int64_t>(&v)) return *i;
  return std::nullopt;
}

// Equality by numeric value across booleans, integers and reals, without rounding the integer.
bool numerically_equal(const PlainValue& a, const PlainValue& b) {
  auto ia = integer_value(a), ib = integer_value(b);
  if (ia && ib) return *ia == *ib;
  if (!ia && !ib) return std::get<double>(a) == std::get<double>(b);
  std::int64_t i = ia ? *ia : *ib;
  double d = ia ? std::get<double>(b) : std::get<double>(a);
  // Within [-2**63, 2**63) and whole, the double converts to int64 exactly.
  return d >= -9223372036854775808.0 && d < 9223372036854775808.0 && std::trunc(d) == d &&
         static_cast<std::int64_t>(d) == i;
}

}  // namespace

bool matches(const PatternOperand& pattern, const std::optional<PlainValue>& probe) {
  if (std::holds_alternative<Anything>(pattern)) return true;
  if (!probe) return false;
  if (auto* boolean = std::get_if<BooleanOnly>(&pattern)) {
    auto* value = std::get_if<bool>(&*probe);
    return value && *value == boolean->value;
  }
  return numerically_equal(std::get<PlainValue>(pattern), *probe);
}

ast::ExprPtr return_lhs(const ast::ExprPtr& lhs, const ast::ExprPtr&) { return lhs; }
ast::ExprPtr return_rhs(const ast::ExprPtr&, const ast::ExprPtr& rhs) { return rhs; }

AnswerFunction return_literal_as_type_of_rhs(PlainValue lit) {
  return [lit](const ast::ExprPtr&, const ast::ExprPtr& rhs) -> ast::ExprPtr {
    switch (rhs->library_kind()) {
      case ast::NodeKind::BooleanLiteral:
        return utils::create_literal(PlainValue(!numerically_equal(lit, PlainValue(std::int64_t{0}))));
      case ast::NodeKind::IntegerLiteral:
        if (auto* d = std::get_if<double>(&lit)) {
          if (!(*d >= -9223372036854775808.0 && *d < 9223372036854775808.0))
            throw OverflowError("cannot convert " + value_text(*d) + " to a 64-bit integer");
          return utils::create_literal(static_cast<std::int64_t>(*d));
        }
        return utils::create_literal(*integer_value(lit));
      case ast::NodeKind::FloatLiteral:
        if (auto i = integer_value(lit)) return utils::create_literal(static_cast<double>(*i));
        return utils::create_literal(lit);
      default:
        throw TypeError("Type " + rhs->node_class().text() + " is not supported.");
    }
  };
}

using BO = ast::BinaryOperator;
using Value = PlainValue;
constexpr std::int64_t kZero = 0;
constexpr std::int64_t kOne = 1;

const std::array<BinopRule, 21> CASES_TO_RETURN_FUNCTION = {{
    {Value(kZero), BO::divide, ANYTHING, return_lhs},
    {ANYTHING, BO::divide, Value(kOne), return_lhs},
    {Value(kZero), BO::times, ANYTHING, return_lhs},
    {ANYTHING, BO::times, Value(kZero), return_rhs},
    {Value(kOne), BO::times, ANYTHING, return_rhs},
    {ANYTHING, BO::times, Value(kOne), return_lhs},
    {Value(kZero), BO::plus, ANYTHING, return_rhs},
    {ANYTHING, BO::plus, Value(kZero), return_lhs},
    {ANYTHING, BO::minus, Value(kZero), return_lhs},
    {Value(false), BO::bit_and, ANYTHING, return_lhs},
    {ANYTHING, BO::bit_and, Value(false), return_rhs},
    {BooleanOnly{true}, BO::bit_and, ANYTHING, return_rhs},
    {ANYTHING, BO::bit_and, BooleanOnly{true}, return_lhs},
    {Value(false), BO::bit_or, ANYTHING, return_rhs},
    {ANYTHING, BO::bit_or, Value(false), return_lhs},
    {BooleanOnly{true}, BO::bit_or, ANYTHING, return_lhs},
    {ANYTHING, BO::bit_or, BooleanOnly{true}, return_rhs},
    {Value(kZero), BO::power, ANYTHING, return_lhs},
    {ANYTHING, BO::power, Value(kZero), return_literal_as_type_of_rhs(Value(kOne))},
    {Value(kOne), BO::power, ANYTHING, return_lhs},
    {ANYTHING, BO::power, Value(kOne), return_lhs},
}};

ast::ExprPtr calculate_binop_rules(const ast::Ptr<ast::BinaryExpression>& node) {
  std::optional<PlainValue> left = utils::qasm_literal_value(node->lhs);
  std::optional<PlainValue> right = utils::qasm_literal_value(node->rhs);
  for (const auto& row : CASES_TO_RETURN_FUNCTION)
    if (row.op == node->op && matches(row.lhs, left) && matches(row.rhs, right)) return row.answer(node->lhs, node->rhs);
  return node;
}

}  // namespace vell_qasm::passes::code_resolving
