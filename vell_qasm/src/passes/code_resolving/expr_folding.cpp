#include "vell_qasm/passes/code_resolving/expr_folding.hpp"

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>

#include "vell_qasm/logging.hpp"
#include "vell_qasm/passes/code_resolving/binop_rules.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

namespace {

using Int = std::int64_t;
constexpr Int kIntMin = std::numeric_limits<Int>::min();
// 2**63 as a double: the least double above every int64.
constexpr double kTwoTo63 = 9223372036854775808.0;

spdlog::logger& logger() {
  static const auto instance = logging::get_logger("vell_qasm.passes.code_resolving.expr_folding");
  return *instance;
}

// ---- values. A boolean counts as the integer 0 or 1 everywhere below.

bool is_integer(const PlainValue& v) { return !std::holds_alternative<double>(v); }
bool is_bool(const PlainValue& v) { return std::holds_alternative<bool>(v); }
Int as_int(const PlainValue& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  return std::get<Int>(v);
}
double as_real(const PlainValue& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  return static_cast<double>(as_int(v));
}
// Zero and false are false; everything else, NaN included, is true.
bool truth(const PlainValue& v) {
  if (auto* d = std::get_if<double>(&v)) return *d != 0.0;
  return as_int(v) != 0;
}
const char* type_name(const PlainValue& v) {
  if (is_bool(v)) return "bool";
  return is_integer(v) ? "int" : "float";
}

[[noreturn]] void operand_type_error(std::string_view op, const PlainValue& x, const PlainValue& y) {
  throw TypeError("unsupported operand type(s) for " + std::string(op) + ": '" + type_name(x) + "' and '" +
                  type_name(y) + "'");
}
[[noreturn]] void int_overflow() { throw OverflowError("integer result out of the 64-bit range"); }

// -1, 0 or 1 as i is below, at or above d, exactly (no rounding of i); nullopt for NaN.
std::optional<int> compare_int_real(Int i, double d) {
  if (std::isnan(d)) return std::nullopt;
  if (d >= kTwoTo63) return -1;
  if (d < -kTwoTo63) return 1;
  double whole = std::trunc(d);  // now within int64, so the conversion is exact
  Int w = static_cast<Int>(whole);
  if (i != w) return i < w ? -1 : 1;
  double fraction = d - whole;  // exact
  if (fraction == 0.0) return 0;
  return fraction > 0.0 ? -1 : 1;
}

std::optional<int> compare(const PlainValue& x, const PlainValue& y) {
  if (is_integer(x) && is_integer(y)) {
    Int a = as_int(x), b = as_int(y);
    return a < b ? -1 : (a > b ? 1 : 0);
  }
  if (is_integer(x)) return compare_int_real(as_int(x), std::get<double>(y));
  if (is_integer(y)) {
    auto c = compare_int_real(as_int(y), std::get<double>(x));
    if (c) return -*c;
    return c;
  }
  double a = std::get<double>(x), b = std::get<double>(y);
  if (std::isnan(a) || std::isnan(b)) return std::nullopt;
  return a < b ? -1 : (a > b ? 1 : 0);
}

// ---- the binary table

PlainValue greater(const PlainValue& x, const PlainValue& y) {
  auto c = compare(x, y);
  return c && *c > 0;
}
PlainValue less(const PlainValue& x, const PlainValue& y) {
  auto c = compare(x, y);
  return c && *c < 0;
}
PlainValue greater_equal(const PlainValue& x, const PlainValue& y) {
  auto c = compare(x, y);
  return c && *c >= 0;
}
PlainValue less_equal(const PlainValue& x, const PlainValue& y) {
  auto c = compare(x, y);
  return c && *c <= 0;
}
PlainValue equal_to(const PlainValue& x, const PlainValue& y) {
  auto c = compare(x, y);
  return c && *c == 0;
}
PlainValue not_equal_to(const PlainValue& x, const PlainValue& y) {
  auto c = compare(x, y);
  return !(c && *c == 0);
}
PlainValue logical_and(const PlainValue& x, const PlainValue& y) { return truth(x) && truth(y); }
PlainValue logical_or(const PlainValue& x, const PlainValue& y) { return truth(x) || truth(y); }

// Integers only; two booleans give a boolean.
template <class Op> PlainValue bitwise(std::string_view symbol, const PlainValue& x, const PlainValue& y, Op op) {
  if (!is_integer(x) || !is_integer(y)) operand_type_error(symbol, x, y);
  Int r = op(as_int(x), as_int(y));
  if (is_bool(x) && is_bool(y)) return r != 0;
  return r;
}
PlainValue bit_or(const PlainValue& x, const PlainValue& y) {
  return bitwise("|", x, y, [](Int a, Int b) { return a | b; });
}
PlainValue bit_xor(const PlainValue& x, const PlainValue& y) {
  return bitwise("^", x, y, [](Int a, Int b) { return a ^ b; });
}
PlainValue bit_and(const PlainValue& x, const PlainValue& y) {
  return bitwise("&", x, y, [](Int a, Int b) { return a & b; });
}

Int shift_count(std::string_view symbol, const PlainValue& x, const PlainValue& y) {
  if (!is_integer(x) || !is_integer(y)) operand_type_error(symbol, x, y);
  Int count = as_int(y);
  if (count < 0) throw ValueError("negative shift count");
  return count;
}
PlainValue shift_left(const PlainValue& x, const PlainValue& y) {
  Int count = shift_count("<<", x, y);
  Int value = as_int(x);
  if (value == 0) return Int{0};
  // Exact: the shift must not move any bit into or past the sign bit.
  if (count >= 64 || value > (std::numeric_limits<Int>::max() >> count) || value < (kIntMin >> count))
    int_overflow();
  return static_cast<Int>(static_cast<std::uint64_t>(value) << count);
}
PlainValue shift_right(const PlainValue& x, const PlainValue& y) {
  Int count = shift_count(">>", x, y);
  Int value = as_int(x);
  // Rounds toward negative infinity: the arithmetic shift, saturating at 0 or -1.
  if (count >= 63) return Int{value < 0 ? -1 : 0};
  return Int{value >> count};
}

PlainValue plus(const PlainValue& x, const PlainValue& y) {
  if (is_integer(x) && is_integer(y)) {
    Int r;
    if (__builtin_add_overflow(as_int(x), as_int(y), &r)) int_overflow();
    return r;
  }
  return as_real(x) + as_real(y);
}
PlainValue minus(const PlainValue& x, const PlainValue& y) {
  if (is_integer(x) && is_integer(y)) {
    Int r;
    if (__builtin_sub_overflow(as_int(x), as_int(y), &r)) int_overflow();
    return r;
  }
  return as_real(x) - as_real(y);
}
PlainValue times(const PlainValue& x, const PlainValue& y) {
  if (is_integer(x) && is_integer(y)) {
    Int r;
    if (__builtin_mul_overflow(as_int(x), as_int(y), &r)) int_overflow();
    return r;
  }
  return as_real(x) * as_real(y);
}

// The remainder of the division rounded toward negative infinity: the divisor's sign.
PlainValue modulo(const PlainValue& x, const PlainValue& y) {
  if (is_integer(x) && is_integer(y)) {
    Int a = as_int(x), b = as_int(y);
    if (b == 0) throw ZeroDivisionError("integer division or modulo by zero");
    if (b == -1) return Int{0};  // least int64 % -1 would trap
    Int r = a % b;
    if (r != 0 && ((r < 0) != (b < 0))) r += b;
    return r;
  }
  double a = as_real(x), b = as_real(y);
  if (b == 0.0) throw ZeroDivisionError("float modulo");
  double r = std::fmod(a, b);
  if (r != 0.0) {
    if ((b < 0.0) != (r < 0.0)) r += b;
  } else {
    r = std::copysign(0.0, b);
  }
  return r;
}

bool is_odd_integer(double v) { return std::fmod(std::fabs(v), 2.0) == 1.0; }

// Real powers, special values included, as IEEE pow gives them except where the result is no real
// number or no finite one: 0.0 to a negative power, a negative base with a non-integral exponent
// (a complex number) and an overflow from finite operands are errors.
double real_power(double x, double y) {
  if (y == 0.0) return 1.0;
  if (std::isnan(x)) return x;
  if (std::isnan(y)) return x == 1.0 ? 1.0 : y;
  if (std::isinf(y)) {
    double ax = std::fabs(x);
    if (ax == 1.0) return 1.0;
    return (y > 0.0) == (ax > 1.0) ? std::fabs(y) : 0.0;
  }
  if (std::isinf(x)) {
    bool odd = is_odd_integer(y);
    if (y > 0.0) return odd ? x : std::fabs(x);
    return odd ? std::copysign(0.0, x) : 0.0;
  }
  if (x == 0.0) {
    if (y < 0.0) throw ZeroDivisionError("0.0 cannot be raised to a negative power");
    return is_odd_integer(y) ? x : 0.0;
  }
  bool negate = false;
  if (x < 0.0) {
    if (y != std::floor(y)) throw ValueError("a negative base with a non-integral exponent has a complex power");
    x = -x;
    negate = is_odd_integer(y);
  }
  if (x == 1.0) return negate ? -1.0 : 1.0;
  double r = std::pow(x, y);
  if (std::isinf(r)) throw OverflowError("Numerical result out of range");
  return negate ? -r : r;
}

Int integer_power(Int base, Int exponent) {
  Int result = 1;
  while (exponent > 0) {
    if (exponent & 1)
      if (__builtin_mul_overflow(result, base, &result)) int_overflow();
    exponent >>= 1;
    // Squared only when another bit needs it: then an overflow here means the result overflows.
    if (exponent > 0 && __builtin_mul_overflow(base, base, &base)) int_overflow();
  }
  return result;
}

PlainValue power(const PlainValue& x, const PlainValue& y) {
  if (is_integer(x) && is_integer(y) && as_int(y) >= 0) return integer_power(as_int(x), as_int(y));
  return real_power(as_real(x), as_real(y));
}

// ---- the unary table

PlainValue logical_not(const PlainValue& x) { return !truth(x); }
PlainValue negate(const PlainValue& x) {
  if (auto* d = std::get_if<double>(&x)) return -*d;
  Int v = as_int(x);
  if (v == kIntMin) int_overflow();
  return Int{-v};
}
PlainValue bit_not(const PlainValue& x) {
  if (!is_integer(x)) throw TypeError(std::string("bad operand type for unary ~: '") + type_name(x) + "'");
  return Int{~as_int(x)};
}

// ---- the math functions

using Arguments = FunctionCallModifier::Arguments;

void expect_arguments(const char* name, const Arguments& args, std::size_t count) {
  if (args.size() != count)
    throw TypeError(std::string(name) + "() takes exactly " + std::to_string(count) + " argument" +
                    (count == 1 ? "" : "s") + " (" + std::to_string(args.size()) + " given)");
}

// A real function of one real: a NaN from a number is a domain error, an infinity from a finite
// number a range error (or a domain error for functions that have no overflow, such as tan at a
// pole, which binary64 never reaches).
double real_function(const char* name, const Arguments& args, double (*f)(double), bool can_overflow) {
  expect_arguments(name, args, 1);
  double x = as_real(args[0]);
  double r = f(x);
  if (std::isnan(r) && !std::isnan(x)) throw ValueError("math domain error");
  if (std::isinf(r) && std::isfinite(x)) {
    if (can_overflow) throw OverflowError("math range error");
    throw ValueError("math domain error");
  }
  return r;
}

PlainValue exp_function(const Arguments& args) {
  return real_function("exp", args, [](double x) { return std::exp(x); }, true);
}
PlainValue cos_function(const Arguments& args) {
  return real_function("cos", args, [](double x) { return std::cos(x); }, false);
}
PlainValue sin_function(const Arguments& args) {
  return real_function("sin", args, [](double x) { return std::sin(x); }, false);
}
PlainValue tan_function(const Arguments& args) {
  return real_function("tan", args, [](double x) { return std::tan(x); }, false);
}
PlainValue arccos_function(const Arguments& args) {
  return real_function("arccos", args, [](double x) { return std::acos(x); }, false);
}
PlainValue arcsin_function(const Arguments& args) {
  return real_function("arcsin", args, [](double x) { return std::asin(x); }, false);
}
PlainValue arctan_function(const Arguments& args) {
  return real_function("arctan", args, [](double x) { return std::atan(x); }, false);
}
PlainValue sqrt_function(const Arguments& args) {
  return real_function("sqrt", args, [](double x) { return std::sqrt(x); }, false);
}

// The natural logarithm of a positive number (infinity included).
double positive_log(const PlainValue& v) {
  double x = as_real(v);
  if (std::isnan(x)) return x;
  if (!(x > 0.0)) throw ValueError("math domain error");
  return std::log(x);
}
PlainValue log_function(const Arguments& args) {
  if (args.size() != 1 && args.size() != 2)
    throw TypeError("log() takes 1 or 2 arguments (" + std::to_string(args.size()) + " given)");
  double value = positive_log(args[0]);
  if (args.size() == 1) return value;
  double base = positive_log(args[1]);
  if (base == 0.0) throw ZeroDivisionError("float division by zero");  // base 1
  return value / base;
}

PlainValue mod_function(const Arguments& args) {
  expect_arguments("mod", args, 2);
  return modulo(args[0], args[1]);
}
PlainValue pow_function(const Arguments& args) {
  expect_arguments("pow", args, 2);
  return power(args[0], args[1]);
}

// An integer stays itself (a boolean becomes 0 or 1); a real is rounded by `round` to an integer,
// which must fit int64.
PlainValue to_integer(const char* name, const Arguments& args, double (*round)(double)) {
  expect_arguments(name, args, 1);
  if (is_integer(args[0])) return as_int(args[0]);
  double x = std::get<double>(args[0]);
  if (std::isnan(x)) throw ValueError("cannot convert float NaN to integer");
  if (std::isinf(x)) throw OverflowError("cannot convert float infinity to integer");
  double r = round(x);
  if (r >= kTwoTo63 || r < -kTwoTo63) int_overflow();
  return static_cast<Int>(r);
}
PlainValue ceiling_function(const Arguments& args) {
  return to_integer("ceiling", args, [](double x) { return std::ceil(x); });
}
PlainValue floor_function(const Arguments& args) {
  return to_integer("floor", args, [](double x) { return std::floor(x); });
}

}  // namespace

PlainValue _div(const PlainValue& x, const PlainValue& y) {
  if (is_integer(x) && is_integer(y)) {
    Int a = as_int(x), b = as_int(y);
    if (b == 0) throw ZeroDivisionError("integer division or modulo by zero");
    if (a == kIntMin && b == -1) int_overflow();
    Int q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --q;
    return q;
  }
  double b = as_real(y);
  if (b == 0.0) throw ZeroDivisionError("float division by zero");
  return as_real(x) / b;
}

IllegalMathExpression::IllegalMathExpression(const std::string& expression)
    : std::runtime_error("The operation " + expression + " is illegal") {}

// ---- the tables

using BO = ast::BinaryOperator;
const std::array<std::pair<BO, BinaryExpressionModifier::Function>, 19>
    BinaryExpressionModifier::BINARY_OPERATOR_TO_FUNCTION = {{
        {BO::gt, greater},
        {BO::lt, less},
        {BO::ge, greater_equal},
        {BO::le, less_equal},
        {BO::eq, equal_to},
        {BO::ne, not_equal_to},
        {BO::logical_and, logical_and},
        {BO::logical_or, logical_or},
        {BO::bit_or, bit_or},
        {BO::bit_xor, bit_xor},
        {BO::bit_and, bit_and},
        {BO::shl, shift_left},
        {BO::shr, shift_right},
        {BO::plus, plus},
        {BO::minus, minus},
        {BO::times, times},
        {BO::divide, _div},
        {BO::modulo, modulo},
        {BO::power, power},
    }};

using UO = ast::UnaryOperator;
const std::array<std::pair<UO, UnaryExpressionModifier::Function>, 3>
    UnaryExpressionModifier::UNARY_OPERATOR_TO_FUNCTION = {{
        {UO::logical_not, logical_not},
        {UO::negate, negate},
        {UO::bit_not, bit_not},
    }};

const std::array<std::pair<std::string_view, FunctionCallModifier::Function>, 13>
    FunctionCallModifier::NAME_TO_MATH_FUNCTION = {{
        {"exp", exp_function},
        {"log", log_function},
        {"mod", mod_function},
        {"pow", pow_function},
        {"cos", cos_function},
        {"sin", sin_function},
        {"tan", tan_function},
        {"arccos", arccos_function},
        {"arcsin", arcsin_function},
        {"arctan", arctan_function},
        {"ceiling", ceiling_function},
        {"floor", floor_function},
        {"sqrt", sqrt_function},
    }};

}  // namespace vell_qasm::passes::code_resolving

namespace vell_qasm::passes::code_resolving {

// ---- the modifiers

template <class Modifier, class Node> ast::ExprPtr ExpressionModifier<Modifier, Node>::run(const ast::Ptr<Node>& node) {
  std::optional<typename Modifier::Arguments> arguments = Modifier::_get_literal_arguments(*node);
  typename Modifier::Function func = arguments ? Modifier::_get_func_to_calculate(*node) : nullptr;
  if (!arguments || !func) {
    ast::ExprPtr new_node = Modifier::_calculate_heuristics(node);
    // A rule gives the node itself, one of its operands or a new literal. Only the node itself is
    // structurally equal to the node (no tree equals a part of itself), so identity decides.
    if (new_node != node)
      logging::debug(logger(), [&] { return "Replaced " + ast::repr(*node) + " by " + ast::repr(new_node) + "."; });
    return new_node;
  }
  // The expression's text is needed only for a record or an error: built then, from the values.
  auto expression_str = [&] { return Modifier::_create_expression_string(*node, *arguments); };
  PlainValue new_value;
  try {
    new_value = Modifier::_calculate(func, *arguments);
    logging::debug(logger(), [&] { return "Replaced " + expression_str() + " by " + value_text(new_value); });
  } catch (const std::exception&) {
    IllegalMathExpression error(expression_str());
    error.set_cause(std::current_exception());
    throw error;
  }
  return utils::create_literal(new_value);
}

template class ExpressionModifier<BinaryExpressionModifier, ast::BinaryExpression>;
template class ExpressionModifier<UnaryExpressionModifier, ast::UnaryExpression>;
template class ExpressionModifier<FunctionCallModifier, ast::FunctionCall>;

std::optional<BinaryExpressionModifier::Arguments> BinaryExpressionModifier::_get_literal_arguments(
    const ast::BinaryExpression& node) {
  auto lhs = utils::qasm_literal_value(node.lhs);
  if (!lhs) return std::nullopt;
  auto rhs = utils::qasm_literal_value(node.rhs);
  if (!rhs) return std::nullopt;
  return Arguments{*lhs, *rhs};
}

BinaryExpressionModifier::Function BinaryExpressionModifier::_get_func_to_calculate(const ast::BinaryExpression& node) {
  for (const auto& [op, func] : BINARY_OPERATOR_TO_FUNCTION)
    if (op == node.op) return func;
  return nullptr;
}

ast::ExprPtr BinaryExpressionModifier::_calculate_heuristics(const ast::Ptr<ast::BinaryExpression>& node) {
  return calculate_binop_rules(node);
}

std::string BinaryExpressionModifier::_create_expression_string(const ast::BinaryExpression& node,
                                                                const Arguments& arguments) {
  std::string text = value_text(arguments[0]);
  text += ' ';
  text += ast::symbol(node.op);
  text += ' ';
  text += value_text(arguments[1]);
  return text;
}

std::optional<UnaryExpressionModifier::Arguments> UnaryExpressionModifier::_get_literal_arguments(
    const ast::UnaryExpression& node) {
  auto value = utils::qasm_literal_value(node.expression);
  if (!value) return std::nullopt;
  return Arguments{*value};
}

UnaryExpressionModifier::Function UnaryExpressionModifier::_get_func_to_calculate(const ast::UnaryExpression& node) {
  for (const auto& [op, func] : UNARY_OPERATOR_TO_FUNCTION)
    if (op == node.op) return func;
  return nullptr;
}

ast::ExprPtr UnaryExpressionModifier::_calculate_heuristics(const ast::Ptr<ast::UnaryExpression>& node) {
  return resolve_minus_minus_heuristic(node);
}

std::string UnaryExpressionModifier::_create_expression_string(const ast::UnaryExpression& node,
                                                               const Arguments& arguments) {
  std::string text(ast::symbol(node.op));
  text += '(';
  text += value_text(arguments[0]);
  text += ')';
  return text;
}

ast::ExprPtr UnaryExpressionModifier::resolve_minus_minus_heuristic(const ast::Ptr<ast::UnaryExpression>& node) {
  if (node->op != ast::UnaryOperator::negate) return node;
  auto inner = ast::dyn_cast<ast::UnaryExpression>(node->expression);
  if (!inner || inner->op != ast::UnaryOperator::negate) return node;
  return inner->expression;
}

std::optional<FunctionCallModifier::Arguments> FunctionCallModifier::_get_literal_arguments(
    const ast::FunctionCall& node) {
  Arguments values;
  values.reserve(node.arguments.size());
  for (const auto& argument : node.arguments) {
    auto value = utils::qasm_literal_value(argument);
    if (!value) return std::nullopt;
    values.push_back(*value);
  }
  return values;
}

FunctionCallModifier::Function FunctionCallModifier::_get_func_to_calculate(const ast::FunctionCall& node) {
  if (!node.name) return nullptr;
  for (const auto& [name, func] : NAME_TO_MATH_FUNCTION)
    if (name == node.name->name) return func;
  return nullptr;
}

ast::ExprPtr FunctionCallModifier::_calculate_heuristics(const ast::Ptr<ast::FunctionCall>& node) { return node; }

std::string FunctionCallModifier::_create_expression_string(const ast::FunctionCall& node,
                                                            const Arguments& arguments) {
  std::string text = node.name ? node.name->name : std::string();
  text += '(';
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i) text += ", ";
    text += value_text(arguments[i]);
  }
  text += ')';
  return text;
}

// ---- the walk

ConstantExpressionsTransformer::ConstantExpressionsTransformer() {}

ast::Rewrite ConstantExpressionsTransformer::visit_BinaryExpression(const ast::Ptr<ast::BinaryExpression>& node) {
  return generic_modify_node(node);
}
ast::Rewrite ConstantExpressionsTransformer::visit_UnaryExpression(const ast::Ptr<ast::UnaryExpression>& node) {
  return generic_modify_node(node);
}
ast::Rewrite ConstantExpressionsTransformer::visit_FunctionCall(const ast::Ptr<ast::FunctionCall>& node) {
  return generic_modify_node(node);
}

ast::ExprPtr ConstantExpressionsTransformer::generic_modify_node(const ast::NodePtr& node) {
  const ast::NodeClass& before = node->node_class();
  ast::Rewrite visited = generic_visit(node);
  check(visited.is_node() && visited.node()->node_class() == before,
        "Node was modified during the generic visit, aborting.");
  const ast::NodePtr& folded = visited.node();
  if (auto call = ast::dyn_cast<ast::FunctionCall>(folded)) return FunctionCallModifier::run(call);
  if (auto unary = ast::dyn_cast<ast::UnaryExpression>(folded)) return UnaryExpressionModifier::run(unary);
  if (auto binary = ast::dyn_cast<ast::BinaryExpression>(folded)) return BinaryExpressionModifier::run(binary);
  throw NotImplementedError("Unsupported visit node: " + folded->node_class().text());
}

ExpressionsOptimizationStep::ExpressionsOptimizationStep(std::optional<std::string> name)
    : Optimization(std::move(name), "ExpressionsOptimizationStep") {}

programs::ProgramPtr ExpressionsOptimizationStep::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  ConstantExpressionsTransformer transformer;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(transformer, tree));
}

}  // namespace vell_qasm::passes::code_resolving
