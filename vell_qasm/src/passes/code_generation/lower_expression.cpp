#include "vell_qasm/passes/code_generation/lower_expression.hpp"

#include <charconv>
#include <cmath>
#include <compare>
#include <limits>
#include <string_view>
#include <system_error>

#include "openqasm3/number_text.hpp"
#include "openqasm3/stack_guard.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;
namespace tavo = vell::tavo;
using programs::VariableSignature;
using programs::VariablesDB;

// ---- LoweredValue ----

bool LoweredValue::is_plain() const {
  const auto* value = std::get_if<tavo::Value>(&value_);
  return value && !std::holds_alternative<tavo::Expr>(*value);
}

bool LoweredValue::is_sdk() const {
  const auto* value = std::get_if<tavo::Value>(&value_);
  return value && std::holds_alternative<tavo::Expr>(*value);
}

const tavo::Value& LoweredValue::scalar() const {
  if (const auto* value = std::get_if<tavo::Value>(&value_)) return *value;
  throw TypeError("Expected a scalar value, got the array literal " + text());
}

std::optional<PlainValue> LoweredValue::plain() const {
  const auto* value = std::get_if<tavo::Value>(&value_);
  if (!value) return std::nullopt;
  return std::visit(
      [](const auto& x) -> std::optional<PlainValue> {
        if constexpr (std::is_same_v<std::decay_t<decltype(x)>, tavo::Expr>) {
          return std::nullopt;
        } else {
          return PlainValue(x);
        }
      },
      *value);
}

const LoweredValue::List& LoweredValue::list() const {
  const auto* list = std::get_if<List>(&value_);
  check(list != nullptr, "Not a list of lowered values");
  return *list;
}

tavo_var::ScalarOrList LoweredValue::to_scalar_or_list() const {
  const auto* list = std::get_if<List>(&value_);
  if (!list) return std::get<tavo::Value>(value_);
  tavo_var::ScalarList out;
  out.reserve(list->size());
  for (const auto& element : *list) {
    if (element.is_list()) throw TypeError("A nested array literal cannot be assigned: " + text());
    out.push_back(element.scalar());
  }
  return out;
}

std::string LoweredValue::text() const {
  if (const auto* value = std::get_if<tavo::Value>(&value_)) return tavo::text(*value);
  std::string out = "[";
  const auto& list = std::get<List>(value_);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i) out += ", ";
    out += list[i].text();
  }
  out += ']';
  return out;
}

// ---- Durations ----

namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

std::int64_t ns_per_unit(ast::TimeUnit unit) {
  for (const auto& [u, ns] : TIME_IN_NS)
    if (u == unit) return ns;
  throw ValueError("Unknown time unit " + ast::enum_repr(unit));
}

// A double to int64, truncating toward zero, as every integer conversion of a plain value does.
std::int64_t truncate_to_int(double value) {
  if (std::isnan(value)) throw ValueError("cannot convert float NaN to integer");
  if (std::isinf(value)) throw OverflowError("cannot convert float infinity to integer");
  const double truncated = std::trunc(value);
  // -2^63 is the only bound that a double can hold exactly.
  if (truncated < -9223372036854775808.0 || truncated >= 9223372036854775808.0)
    throw OverflowError("The value " + openqasm3::float_text(value) + " does not fit in a 64-bit integer");
  return static_cast<std::int64_t>(truncated);
}

}  // namespace

std::int64_t duration_cycles(double value, ast::TimeUnit unit) {
  std::int64_t ns = ns_per_unit(unit);
  if (std::isnan(value)) throw ValueError("cannot convert float NaN to integer");
  if (std::isinf(value)) throw OverflowError("cannot convert float infinity to integer");

  // The exact decimal of the value's shortest round-trip text, D * 10^exponent: the number the
  // source wrote, not the binary double (4.004 is 4004e-3, where the double is a little less).
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  check(error == std::errc());
  std::string_view text(buffer, end - buffer);
  const bool negative = text.front() == '-';
  if (negative) text.remove_prefix(1);
  const auto e_pos = text.find('e');
  std::uint64_t digits = 0;
  int fraction_digits = 0;
  bool after_point = false;
  for (char c : text.substr(0, e_pos)) {
    if (c == '.') {
      after_point = true;
      continue;
    }
    digits = digits * 10 + static_cast<std::uint64_t>(c - '0');  // at most 17 digits
    if (after_point) ++fraction_digits;
  }
  int exponent = 0;
  std::string_view exponent_text = text.substr(e_pos + 1);
  if (exponent_text.front() == '+') exponent_text.remove_prefix(1);
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  exponent -= fraction_digits;
  // The unit in nanoseconds is a power of ten: fold it into the exponent.
  for (; ns > 1; ns /= 10) ++exponent;

  // cycles = trunc(digits * 10^exponent / CYCLES_PER_NS), in unsigned magnitude.
  static_assert(CYCLES_PER_NS == 4);
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : static_cast<std::uint64_t>(kInt64Max);
  std::uint64_t cycles = 0;
  bool overflow = false;
  if (exponent >= 2) {
    cycles = digits * 25;  // 10^2 / 4; digits < 10^17, so no overflow yet
    for (int i = 2; i < exponent && !overflow; ++i) overflow = __builtin_mul_overflow(cycles, 10u, &cycles);
  } else if (exponent == 1) {
    cycles = digits * 10 / 4;
  } else if (exponent > -19) {
    std::uint64_t divisor = 4;
    for (int i = 0; i < -exponent; ++i) divisor *= 10;  // at most 4 * 10^18
    cycles = digits / divisor;
  }  // else: below one cycle whatever the digits
  if (overflow || cycles > limit)
    throw OverflowError("The duration " + openqasm3::float_text(value) + std::string(ast::symbol(unit)) +
                        " is too long: its clock cycles do not fit in a 64-bit integer");
  return negative ? static_cast<std::int64_t>(0 - cycles) : static_cast<std::int64_t>(cycles);
}

// ---- Plain values ----

namespace {

bool is_integral(const PlainValue& v) { return !std::holds_alternative<double>(v); }
std::int64_t as_int(const PlainValue& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  return std::get<std::int64_t>(v);
}
double as_double(const PlainValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  return static_cast<double>(as_int(v));
}
bool truthy(const PlainValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d != 0.0;
  return as_int(v) != 0;
}
const char* type_name(const PlainValue& v) {
  if (std::holds_alternative<bool>(v)) return "bool";
  if (std::holds_alternative<std::int64_t>(v)) return "int";
  return "float";
}

[[noreturn]] void throw_overflow(const std::string& operation) {
  throw OverflowError("The result of " + operation + " does not fit in a 64-bit integer");
}
std::string operation_text(const PlainValue& l, std::string_view op, const PlainValue& r) {
  return value_text(l) + " " + std::string(op) + " " + value_text(r);
}

void require_integral(const PlainValue& l, std::string_view op, const PlainValue& r) {
  if (!is_integral(l) || !is_integral(r))
    throw TypeError("unsupported operand type(s) for " + std::string(op) + ": '" + type_name(l) + "' and '" +
                    type_name(r) + "'");
}

// Exact comparison of an integer with a double, as arbitrary-precision numbers compare.
std::partial_ordering compare_int_double(std::int64_t i, double d) {
  if (std::isnan(d)) return std::partial_ordering::unordered;
  if (d >= 9223372036854775808.0) return std::partial_ordering::less;
  if (d < -9223372036854775808.0) return std::partial_ordering::greater;
  const double whole = std::trunc(d);
  const auto w = static_cast<std::int64_t>(whole);
  if (i != w) return i <=> w;
  return 0.0 <=> (d - whole);
}

std::partial_ordering compare(const PlainValue& l, const PlainValue& r) {
  const bool li = is_integral(l), ri = is_integral(r);
  if (li && ri) return as_int(l) <=> as_int(r);
  if (!li && !ri) return std::get<double>(l) <=> std::get<double>(r);
  if (li) return compare_int_double(as_int(l), std::get<double>(r));
  return 0 <=> compare_int_double(as_int(r), std::get<double>(l));
}

PlainValue plain_arithmetic(ast::BinaryOperator op, const PlainValue& l, const PlainValue& r) {
  using Op = ast::BinaryOperator;
  const std::string_view sym = ast::symbol(op);
  switch (op) {
    case Op::plus:
    case Op::minus:
    case Op::times: {
      if (is_integral(l) && is_integral(r)) {
        std::int64_t result = 0;
        const std::int64_t a = as_int(l), b = as_int(r);
        const bool overflow = op == Op::plus    ? __builtin_add_overflow(a, b, &result)
                              : op == Op::minus ? __builtin_sub_overflow(a, b, &result)
                                                : __builtin_mul_overflow(a, b, &result);
        if (overflow) throw_overflow(operation_text(l, sym, r));
        return result;
      }
      const double a = as_double(l), b = as_double(r);
      return op == Op::plus ? a + b : op == Op::minus ? a - b : a * b;
    }
    case Op::divide: {
      if (!truthy(r)) throw ZeroDivisionError("division by zero");
      if (is_integral(l) && is_integral(r))  // both exact in long double: one rounding fewer
        return static_cast<double>(static_cast<long double>(as_int(l)) / static_cast<long double>(as_int(r)));
      return as_double(l) / as_double(r);
    }
    case Op::shl:
    case Op::shr: {
      require_integral(l, sym, r);
      const std::int64_t a = as_int(l), count = as_int(r);
      if (count < 0) throw ValueError("negative shift count");
      if (op == Op::shr) return count >= 63 ? (a < 0 ? -1 : 0) : a >> count;  // floor, as C++20 defines it
      if (a == 0) return std::int64_t{0};
      if (count >= 63 || a > (kInt64Max >> count) || a < (std::numeric_limits<std::int64_t>::min() >> count)) {
        // -1 << 63 is the least int64 itself
        if (!(count == 63 && a == -1)) throw_overflow(operation_text(l, sym, r));
      }
      return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) << count);
    }
    case Op::bit_and:
    case Op::bit_or:
    case Op::bit_xor: {
      require_integral(l, sym, r);
      const std::int64_t a = as_int(l), b = as_int(r);
      const std::int64_t result = op == Op::bit_and ? (a & b) : op == Op::bit_or ? (a | b) : (a ^ b);
      if (std::holds_alternative<bool>(l) && std::holds_alternative<bool>(r)) return result != 0;
      return result;
    }
    case Op::gt: return compare(l, r) > 0;
    case Op::ge: return compare(l, r) >= 0;
    case Op::lt: return compare(l, r) < 0;
    case Op::le: return compare(l, r) <= 0;
    case Op::eq: return compare(l, r) == 0;
    case Op::ne: return compare(l, r) != 0;
    default:
      break;
  }
  throw NotImplementedError("Binary expression undefined: ", ast::enum_repr(op));
}

// The SDK operator of a binary operator, or nullopt for "!=" (built from "==") and the refused ones.
std::optional<tavo::BinaryOp> sdk_operator(ast::BinaryOperator op) {
  using Op = ast::BinaryOperator;
  switch (op) {
    case Op::divide: return tavo::BinaryOp::Div;
    case Op::shr: return tavo::BinaryOp::Shr;
    case Op::shl: return tavo::BinaryOp::Shl;
    case Op::gt: return tavo::BinaryOp::Gt;
    case Op::ge: return tavo::BinaryOp::Ge;
    case Op::lt: return tavo::BinaryOp::Lt;
    case Op::le: return tavo::BinaryOp::Le;
    case Op::plus: return tavo::BinaryOp::Add;
    case Op::bit_xor: return tavo::BinaryOp::Xor;
    case Op::bit_or: return tavo::BinaryOp::Or;
    case Op::bit_and: return tavo::BinaryOp::And;
    case Op::times: return tavo::BinaryOp::Mul;
    case Op::minus: return tavo::BinaryOp::Sub;
    case Op::eq: return tavo::BinaryOp::Eq;
    default: return std::nullopt;
  }
}

bool is_lowered_operator(ast::BinaryOperator op) { return sdk_operator(op) || op == ast::BinaryOperator::ne; }

LoweredValue apply_binary(ast::BinaryOperator op, const LoweredValue& l, const LoweredValue& r) {
  if (!is_lowered_operator(op)) throw NotImplementedError("Binary expression undefined: ", ast::enum_repr(op));
  if (l.is_list() || r.is_list())
    throw TypeError("An array literal cannot be an operand of \"" + std::string(ast::symbol(op)) + "\": " +
                    (l.is_list() ? l : r).text());
  if (l.is_sdk() || r.is_sdk()) {
    if (op == ast::BinaryOperator::ne)
      return tavo::unary(tavo::UnaryOp::Inv, tavo::binary(tavo::BinaryOp::Eq, l.scalar(), r.scalar()));
    return tavo::binary(*sdk_operator(op), l.scalar(), r.scalar());
  }
  return std::visit([](auto x) { return LoweredValue(x); }, plain_arithmetic(op, *l.plain(), *r.plain()));
}

LoweredValue apply_unary(ast::UnaryOperator op, const LoweredValue& operand) {
  if (op != ast::UnaryOperator::negate && op != ast::UnaryOperator::logical_not)
    throw NotImplementedError("Unary expression undefined: ", ast::enum_repr(op));
  if (operand.is_list())
    throw TypeError("An array literal cannot be an operand of \"" + std::string(ast::symbol(op)) +
                    "\": " + operand.text());
  if (operand.is_sdk())
    return tavo::unary(op == ast::UnaryOperator::negate ? tavo::UnaryOp::Neg : tavo::UnaryOp::Inv, operand.scalar());
  const PlainValue value = *operand.plain();
  if (op == ast::UnaryOperator::logical_not) return !truthy(value);
  if (const auto* d = std::get_if<double>(&value)) return -*d;
  const std::int64_t i = as_int(value);
  if (i == std::numeric_limits<std::int64_t>::min()) throw_overflow("-(" + value_text(i) + ")");
  return -i;
}

// ---- The recursion ----

class Lowering {
 public:
  explicit Lowering(const VariablesDB& variables_db) : db_(variables_db) {}

  LoweredValue lower(const ast::ExprPtr& node) {
    check(node != nullptr);
    return lower(*node);
  }

  LoweredValue lower(const ast::Expression& node) {
    // The level count alone does not promise that a small thread stack holds out.
    openqasm3::check_stack("expression lowering");
    if (depth_ >= kMaxLoweringDepth)
      throw ValueError("Expression nested more than " + std::to_string(kMaxLoweringDepth) +
                       " levels deep cannot be lowered");
    ++depth_;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{depth_};
    return dispatch(node);
  }

  LoweredValue binary(const ast::BinaryExpression& node) {
    // Both operands first: a failure inside an operand comes before any operator failure.
    LoweredValue l = lower(node.lhs);
    LoweredValue r = lower(node.rhs);
    return apply_binary(node.op, l, r);
  }

  LoweredValue unary(const ast::UnaryExpression& node) { return apply_unary(node.op, lower(node.expression)); }

 private:
  const tavo_var::TavoVarPtr& variable(const std::string& name) { return db_[VariableSignature{name}]; }

  LoweredValue dispatch(const ast::Expression& node) {
    if (auto value = utils::qasm_literal_value(node)) return std::visit([](auto x) { return LoweredValue(x); }, *value);
    switch (node.library_kind()) {
      case ast::NodeKind::DurationLiteral: {
        const auto& duration = static_cast<const ast::DurationLiteral&>(node);
        return duration_cycles(duration.value, duration.unit);
      }
      case ast::NodeKind::BinaryExpression:
        return binary(static_cast<const ast::BinaryExpression&>(node));
      case ast::NodeKind::UnaryExpression:
        return unary(static_cast<const ast::UnaryExpression&>(node));
      case ast::NodeKind::Identifier:
        return variable(static_cast<const ast::Identifier&>(node).name)->tavo_value_exp();
      case ast::NodeKind::IndexExpression:
        return index(static_cast<const ast::IndexExpression&>(node));
      case ast::NodeKind::Cast: {
        const auto& cast = static_cast<const ast::Cast&>(node);
        if (cast.argument && ast::isa<ast::ArrayLiteral>(*cast.argument))
          throw NotImplementedError("Casting array types is not supported");
        check(cast.type != nullptr);
        return _cast_expression(lower(cast.argument), *cast.type);
      }
      case ast::NodeKind::ArrayLiteral: {
        const auto& literal = static_cast<const ast::ArrayLiteral&>(node);
        LoweredValue::List values;
        values.reserve(literal.values.size());
        for (const auto& element : literal.values) values.push_back(lower(element));
        return values;
      }
      default:
        throw located_at(node, NotImplementedError("Unsupported expression type: " + node.node_class().text() +
                                                   " at: " + ast::repr(node)));
    }
  }

  LoweredValue index(const ast::IndexExpression& node) {
    if (!node.collection || !ast::isa<ast::Identifier>(*node.collection))
      throw NotImplementedError("Only direct pointing on an array is supported");
    const std::string& name = static_cast<const ast::Identifier&>(*node.collection).name;
    const auto* array = dynamic_cast<const tavo_var::TavoArr*>(variable(name).get());
    if (!array) throw tavo_var::IndexingVariableException(name);
    LoweredValue idx = lower(extract_single_index(node.index));
    return array->get_single_index(idx.scalar());
  }

  const VariablesDB& db_;
  int depth_ = 0;
};

}  // namespace

// ---- Public operations ----

LoweredValue lower_expression(const ast::Expression& oq_expression, const VariablesDB& variables_db) {
  return Lowering(variables_db).lower(oq_expression);
}

LoweredValue lower_expression(const ast::ExprPtr& oq_expression, const VariablesDB& variables_db) {
  return Lowering(variables_db).lower(oq_expression);
}

ast::ExprPtr extract_single_index(const ast::IndexElement& index) {
  const auto* list = std::get_if<ast::IndexList>(&index);
  check(list != nullptr && list->size() == 1, "Only single index is supported.");
  auto expression = ast::dyn_cast<ast::Expression>(list->front());
  check(expression != nullptr);
  return expression;
}

LoweredValue _parse_binary_expression(const ast::BinaryExpression& oq_expression, const VariablesDB& variables_db) {
  return Lowering(variables_db).binary(oq_expression);
}

LoweredValue _parse_unary_expression(const ast::UnaryExpression& oq_expression, const VariablesDB& variables_db) {
  return Lowering(variables_db).unary(oq_expression);
}

LoweredValue _cast_expression(const LoweredValue& expression, const ast::ClassicalType& target) {
  enum class Target { Int, Float, Bool };
  Target kind;
  switch (target.library_kind()) {
    case ast::NodeKind::IntType:
    case ast::NodeKind::UintType:
      kind = Target::Int;
      break;
    case ast::NodeKind::FloatType:
      kind = Target::Float;
      break;
    case ast::NodeKind::BoolType:
      kind = Target::Bool;
      break;
    default:
      throw located_at(target, NotImplementedError("Unsupported cast type: " + ast::repr(target)));
  }
  if (auto plain = expression.plain()) {
    switch (kind) {
      case Target::Int:
        if (const auto* d = std::get_if<double>(&*plain)) return truncate_to_int(*d);
        return as_int(*plain);
      case Target::Float:
        return as_double(*plain);
      case Target::Bool:
        return truthy(*plain);
    }
  }
  const tavo::Value& value = expression.scalar();  // a list is refused here
  const auto& sdk = std::get<tavo::Expr>(value);
  switch (kind) {
    case Target::Int:
      if (sdk.is_scalar() && sdk.dtype() == tavo::DType::Int) return sdk;
      return tavo::Cast::to_int(value);
    case Target::Float:
      if (sdk.is_scalar() && sdk.is_fixed()) return sdk;
      return tavo::Cast::to_fixed(value);
    case Target::Bool:
      if (sdk.is_scalar() && sdk.dtype() == tavo::DType::Bool) return sdk;
      return tavo::Cast::to_bool(value);
  }
  throw AssertionError();  // unreachable: every target kind returned above
}

}  // namespace vell_qasm::passes::code_generation
