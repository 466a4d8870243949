#include "vell_qasm/passes/code_resolving/binop_rules.hpp"

#include <cmath>
#include <cstdint>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/plain_arithmetic.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

namespace {

// Equality by numeric value across booleans, integers and reals, without rounding the integer.
// Two integral values (the common case: a literal operand against 0 or 1) compare as integers.
bool numerically_equal(const PlainValue& a, const PlainValue& b) {
  if (!std::holds_alternative<double>(a) && !std::holds_alternative<double>(b)) {
    auto integer = [](const PlainValue& v) {
      const bool* boolean = std::get_if<bool>(&v);
      return boolean ? std::int64_t{*boolean} : std::get<std::int64_t>(v);
    };
    return integer(a) == integer(b);
  }
  return plain::compare(a, b) == 0;
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
        return utils::create_literal(PlainValue(plain::truth(lit)));
      case ast::NodeKind::IntegerLiteral:
        if (plain::is_integral(lit)) return utils::create_literal(plain::as_int(lit));
        return utils::create_literal(plain::truncate_to_int(std::get<double>(lit)));
      case ast::NodeKind::FloatLiteral:
        return utils::create_literal(plain::as_real(lit));
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

ValueType type_of_value(const PlainValue& value) {
  if (std::holds_alternative<bool>(value)) return ValueType::boolean;
  if (std::holds_alternative<std::int64_t>(value)) return ValueType::integer;
  return ValueType::real;
}

ValueType binary_result_type(BO op, ValueType lhs, ValueType rhs) {
  using T = ValueType;
  switch (op) {
    case BO::gt:
    case BO::lt:
    case BO::ge:
    case BO::le:
    case BO::eq:
    case BO::ne:
    case BO::logical_and:
    case BO::logical_or:
      return T::boolean;
    default:
      break;
  }
  if (lhs == T::unknown || rhs == T::unknown) return T::unknown;
  const bool durations = lhs == T::duration || rhs == T::duration;
  const bool integral = (lhs == T::boolean || lhs == T::integer) && (rhs == T::boolean || rhs == T::integer);
  const T number = integral ? T::integer : T::real;  // of two numbers
  switch (op) {
    case BO::plus:
    case BO::minus:
      if (durations) return lhs == rhs ? T::duration : T::unknown;
      return number;
    case BO::times:
      if (lhs == T::duration && rhs == T::duration) return T::unknown;
      return durations ? T::duration : number;
    case BO::divide:
      if (lhs == T::duration) return rhs == T::duration ? T::real : T::duration;
      return durations ? T::unknown : number;
    case BO::modulo:
    case BO::power:
      return durations ? T::unknown : number;
    case BO::bit_and:
    case BO::bit_or:
    case BO::bit_xor:
      if (lhs == T::boolean && rhs == T::boolean) return T::boolean;
      return integral ? T::integer : T::unknown;
    case BO::shl:
    case BO::shr:
      return integral ? T::integer : T::unknown;
    default:
      break;  // comparisons and logic: bool, answered above
  }
  return T::unknown;
}

namespace {

// Literal operands have their literal's type; any other operand is unknown.
class LiteralTypesOnly : public OperandTypes {
 public:
  explicit LiteralTypesOnly(const ast::BinaryExpression& node) : node_(node) {}
  ValueType lhs() override { return of(node_.lhs); }
  ValueType rhs() override { return of(node_.rhs); }

 private:
  static ValueType of(const ast::ExprPtr& operand) {
    auto value = utils::qasm_literal_value(operand);
    return value ? type_of_value(*value) : ValueType::unknown;
  }
  const ast::BinaryExpression& node_;
};

// Whether the answer `result` of a row keeps the type of `node`.
bool keeps_type(const BinopRule& row, const ast::BinaryExpression& node, const ast::ExprPtr& result,
                OperandTypes& types) {
  const ValueType lhs = types.lhs(), rhs = types.rhs();
  const ValueType expression = binary_result_type(node.op, lhs, rhs);
  if (expression == ValueType::unknown) return false;
  // true & x is x, and true | x is true, for booleans only.
  if ((std::holds_alternative<BooleanOnly>(row.lhs) || std::holds_alternative<BooleanOnly>(row.rhs)) &&
      (lhs != ValueType::boolean || rhs != ValueType::boolean))
    return false;
  // 0 ** x is 0 only for x above zero: 0 ** 0 is 1.
  if (node.op == BO::power && std::holds_alternative<PlainValue>(row.lhs) && std::holds_alternative<Anything>(row.rhs) &&
      matches(row.lhs, PlainValue(kZero))) {
    auto exponent = utils::qasm_literal_value(node.rhs);
    if (!exponent || !(plain::compare(*exponent, PlainValue(kZero)) > 0)) return false;
  }
  ValueType answer;
  if (result == node.lhs) {
    answer = lhs;
  } else if (result == node.rhs) {
    answer = rhs;
  } else {
    auto value = utils::qasm_literal_value(result);
    answer = value ? type_of_value(*value) : ValueType::unknown;
  }
  return answer == expression;
}

// Whether `value` is a literal numerically equal to 0 or 1 (false and true included), as every
// row's literal operand is: a check of the rows above (the table is fixed).
bool zero_or_one(const std::optional<PlainValue>& value) {
  if (!value) return false;
  if (const double* real = std::get_if<double>(&*value)) return *real == 0.0 || *real == 1.0;
  if (const std::int64_t* integer = std::get_if<std::int64_t>(&*value)) return *integer == 0 || *integer == 1;
  return true;  // a boolean
}

// The rows of each operator stand together in the table: [first, last) by operator, found once.
struct RowRange {
  std::size_t first = 0, last = 0;
};
const std::array<RowRange, 20>& rows_by_operator() {
  static const std::array<RowRange, 20> ranges = [] {
    std::array<RowRange, 20> out{};
    for (std::size_t i = CASES_TO_RETURN_FUNCTION.size(); i-- > 0;) {
      RowRange& range = out.at(static_cast<std::size_t>(CASES_TO_RETURN_FUNCTION[i].op));
      if (range.first == range.last) range.first = range.last = i + 1;
      check(range.first == i + 1, "The rows of an operator stand together");
      range.first = i;
    }
    return out;
  }();
  return ranges;
}

}  // namespace

ast::ExprPtr binop_rule_result(const ast::BinaryExpression& node) {
  LiteralTypesOnly types(node);
  return binop_rule_result(node, types);
}

ast::ExprPtr binop_rule_result(const ast::BinaryExpression& node, OperandTypes& types) {
  const auto& ranges = rows_by_operator();
  const auto op = static_cast<std::size_t>(node.op);
  if (op >= ranges.size()) return nullptr;
  const RowRange range = ranges[op];
  if (range.first == range.last) return nullptr;
  std::optional<PlainValue> left = utils::qasm_literal_value(node.lhs);
  std::optional<PlainValue> right = utils::qasm_literal_value(node.rhs);
  // Every row asks for a literal 0 or 1 (false or true) on one side: most expressions (x * 2,
  // n - 1) have none, and are answered without a look at the rows.
  if (!zero_or_one(left) && !zero_or_one(right)) return nullptr;
  for (std::size_t i = range.first; i < range.last; ++i) {
    const BinopRule& row = CASES_TO_RETURN_FUNCTION[i];
    if (!matches(row.lhs, left) || !matches(row.rhs, right)) continue;
    ast::ExprPtr result = row.answer(node.lhs, node.rhs);
    if (keeps_type(row, node, result, types)) return result;
  }
  return nullptr;
}

ast::ExprPtr calculate_binop_rules(const ast::Ptr<ast::BinaryExpression>& node) {
  ast::ExprPtr result = binop_rule_result(*node);
  if (!result) return node;
  return result;
}

ast::ExprPtr calculate_binop_rules(const ast::Ptr<ast::BinaryExpression>& node, OperandTypes& types) {
  ast::ExprPtr result = binop_rule_result(*node, types);
  if (!result) return node;
  return result;
}

}  // namespace vell_qasm::passes::code_resolving
