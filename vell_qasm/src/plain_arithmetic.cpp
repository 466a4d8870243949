#include "vell_qasm/plain_arithmetic.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::plain {

namespace ast = openqasm3::ast;

namespace {

using Int = std::int64_t;
constexpr Int kIntMin = std::numeric_limits<Int>::min();
constexpr Int kIntMax = std::numeric_limits<Int>::max();
// 2**63 as a double: the least double above every int64; -2**63 is the least int64 itself.
constexpr double kTwoTo63 = 9223372036854775808.0;

std::string operation_text(const PlainValue& x, std::string_view op, const PlainValue& y) {
  std::string text = value_text(x);
  text += ' ';
  text += op;
  text += ' ';
  text += value_text(y);
  return text;
}

[[noreturn]] void operand_type_error(std::string_view op, const PlainValue& x, const PlainValue& y) {
  throw TypeError("unsupported operand type(s) for " + std::string(op) + ": '" + type_name(x) + "' and '" +
                  type_name(y) + "'");
}

// Exact comparison of an integer with a double, as arbitrary-precision numbers compare.
std::partial_ordering compare_int_real(Int i, double d) {
  if (std::isnan(d)) return std::partial_ordering::unordered;
  if (d >= kTwoTo63) return std::partial_ordering::less;
  if (d < -kTwoTo63) return std::partial_ordering::greater;
  const double whole = std::trunc(d);  // now within int64, so the conversion is exact
  const auto w = static_cast<Int>(whole);
  if (i != w) return i <=> w;
  return 0.0 <=> (d - whole);  // the fraction is exact
}

Int checked(ast::BinaryOperator op, const PlainValue& x, const PlainValue& y) {
  using Op = ast::BinaryOperator;
  Int result = 0;
  const Int a = as_int(x), b = as_int(y);
  const bool overflow = op == Op::plus    ? __builtin_add_overflow(a, b, &result)
                        : op == Op::minus ? __builtin_sub_overflow(a, b, &result)
                                          : __builtin_mul_overflow(a, b, &result);
  if (overflow) throw_overflow(operation_text(x, ast::symbol(op), y));
  return result;
}

PlainValue shift(ast::BinaryOperator op, const PlainValue& x, const PlainValue& y) {
  const std::string_view symbol = ast::symbol(op);
  if (!is_integral(x) || !is_integral(y)) operand_type_error(symbol, x, y);
  const Int value = as_int(x), count = as_int(y);
  if (count < 0) throw ValueError("negative shift count");
  // >> rounds toward negative infinity: the arithmetic shift, saturating at 0 or -1.
  if (op == ast::BinaryOperator::shr) return count >= 63 ? Int{value < 0 ? -1 : 0} : Int{value >> count};
  if (value == 0) return Int{0};
  // Exact: the shift must not move any bit into or past the sign bit.
  if (count >= 64 || value > (kIntMax >> count) || value < (kIntMin >> count))
    throw_overflow(operation_text(x, symbol, y));
  return static_cast<Int>(static_cast<std::uint64_t>(value) << count);
}

// Integers only; two bools give a bool.
PlainValue bitwise(ast::BinaryOperator op, const PlainValue& x, const PlainValue& y) {
  if (!is_integral(x) || !is_integral(y)) operand_type_error(ast::symbol(op), x, y);
  const Int a = as_int(x), b = as_int(y);
  const Int r = op == ast::BinaryOperator::bit_and ? (a & b) : op == ast::BinaryOperator::bit_or ? (a | b) : (a ^ b);
  if (is_bool(x) && is_bool(y)) return r != 0;
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
    const double ax = std::fabs(x);
    if (ax == 1.0) return 1.0;
    return (y > 0.0) == (ax > 1.0) ? std::fabs(y) : 0.0;
  }
  if (std::isinf(x)) {
    const bool odd = is_odd_integer(y);
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
  const double r = std::pow(x, y);
  if (std::isinf(r)) throw OverflowError("Numerical result out of range");
  return negate ? -r : r;
}

Int integer_power(Int base, Int exponent) {
  const Int base0 = base, exponent0 = exponent;
  Int result = 1;
  bool overflow = false;
  while (exponent > 0 && !overflow) {
    if (exponent & 1) overflow = __builtin_mul_overflow(result, base, &result);
    exponent >>= 1;
    // Squared only when another bit needs it: then an overflow here means the result overflows.
    if (!overflow && exponent > 0) overflow = __builtin_mul_overflow(base, base, &base);
  }
  if (overflow) throw_overflow(value_text(base0) + " ** " + value_text(exponent0));
  return result;
}

}  // namespace

bool is_integral(const PlainValue& v) { return !std::holds_alternative<double>(v); }
bool is_bool(const PlainValue& v) { return std::holds_alternative<bool>(v); }

Int as_int(const PlainValue& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  const auto* i = std::get_if<Int>(&v);
  check(i != nullptr, "A real value is no integer");
  return *i;
}

double as_real(const PlainValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  return static_cast<double>(as_int(v));
}

bool truth(const PlainValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d != 0.0;
  return as_int(v) != 0;
}

const char* type_name(const PlainValue& v) {
  if (is_bool(v)) return "bool";
  return is_integral(v) ? "int" : "float";
}

[[noreturn]] void throw_overflow(std::string_view operation) {
  throw OverflowError("The result of " + std::string(operation) + " does not fit in a 64-bit integer");
}

Int truncate_to_int(double value) {
  if (std::isnan(value)) throw ValueError("cannot convert float NaN to integer");
  if (std::isinf(value)) throw OverflowError("cannot convert float infinity to integer");
  const double truncated = std::trunc(value);
  if (truncated < -kTwoTo63 || truncated >= kTwoTo63)
    throw OverflowError("The value " + value_text(value) + " does not fit in a 64-bit integer");
  return static_cast<Int>(truncated);
}

std::partial_ordering compare(const PlainValue& x, const PlainValue& y) {
  const bool xi = is_integral(x), yi = is_integral(y);
  if (xi && yi) return as_int(x) <=> as_int(y);
  if (!xi && !yi) return std::get<double>(x) <=> std::get<double>(y);
  if (xi) return compare_int_real(as_int(x), std::get<double>(y));
  return 0 <=> compare_int_real(as_int(y), std::get<double>(x));
}

PlainValue divide(const PlainValue& x, const PlainValue& y, Division division) {
  if (division == Division::floor_for_integers && is_integral(x) && is_integral(y)) {
    const Int a = as_int(x), b = as_int(y);
    if (b == 0) throw ZeroDivisionError("integer division or modulo by zero");
    if (a == kIntMin && b == -1) throw_overflow(operation_text(x, "/", y));
    Int q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --q;
    return q;
  }
  const double b = as_real(y);
  if (b == 0.0) throw ZeroDivisionError("float division by zero");
  if (is_integral(x) && is_integral(y))  // both exact in long double: one rounding fewer
    return static_cast<double>(static_cast<long double>(as_int(x)) / static_cast<long double>(as_int(y)));
  return as_real(x) / b;
}

PlainValue modulo(const PlainValue& x, const PlainValue& y) {
  if (is_integral(x) && is_integral(y)) {
    const Int a = as_int(x), b = as_int(y);
    if (b == 0) throw ZeroDivisionError("integer division or modulo by zero");
    if (b == -1) return Int{0};  // least int64 % -1 would trap
    Int r = a % b;
    if (r != 0 && ((r < 0) != (b < 0))) r += b;
    return r;
  }
  const double a = as_real(x), b = as_real(y);
  if (b == 0.0) throw ZeroDivisionError("float modulo");
  double r = std::fmod(a, b);
  if (r != 0.0) {
    if ((b < 0.0) != (r < 0.0)) r += b;
  } else {
    r = std::copysign(0.0, b);
  }
  return r;
}

PlainValue power(const PlainValue& x, const PlainValue& y) {
  if (is_integral(x) && is_integral(y) && as_int(y) >= 0) return integer_power(as_int(x), as_int(y));
  return real_power(as_real(x), as_real(y));
}

PlainValue apply(ast::BinaryOperator op, const PlainValue& x, const PlainValue& y, Division division) {
  using Op = ast::BinaryOperator;
  switch (op) {
    case Op::plus:
    case Op::minus:
    case Op::times: {
      if (is_integral(x) && is_integral(y)) return checked(op, x, y);
      const double a = as_real(x), b = as_real(y);
      return op == Op::plus ? a + b : op == Op::minus ? a - b : a * b;
    }
    case Op::divide: return divide(x, y, division);
    case Op::modulo: return modulo(x, y);
    case Op::power: return power(x, y);
    case Op::shl:
    case Op::shr: return shift(op, x, y);
    case Op::bit_and:
    case Op::bit_or:
    case Op::bit_xor: return bitwise(op, x, y);
    case Op::gt: return compare(x, y) > 0;
    case Op::ge: return compare(x, y) >= 0;
    case Op::lt: return compare(x, y) < 0;
    case Op::le: return compare(x, y) <= 0;
    case Op::eq: return compare(x, y) == 0;
    case Op::ne: return compare(x, y) != 0;
    case Op::logical_and: return truth(x) && truth(y);
    case Op::logical_or: return truth(x) || truth(y);
  }
  throw NotImplementedError("Binary expression undefined: ", ast::enum_repr(op));
}

PlainValue apply(ast::UnaryOperator op, const PlainValue& x) {
  switch (op) {
    case ast::UnaryOperator::logical_not: return !truth(x);
    case ast::UnaryOperator::negate: {
      if (const auto* d = std::get_if<double>(&x)) return -*d;
      const Int v = as_int(x);
      if (v == kIntMin) throw_overflow("-(" + value_text(v) + ")");
      return Int{-v};
    }
    case ast::UnaryOperator::bit_not:
      if (!is_integral(x)) throw TypeError(std::string("bad operand type for unary ~: '") + type_name(x) + "'");
      return Int{~as_int(x)};
  }
  throw NotImplementedError("Unary expression undefined: ", ast::enum_repr(op));
}

}  // namespace vell_qasm::plain
