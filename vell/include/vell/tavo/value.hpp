// SDK values and expressions: what statement calls take, and what target functions take and
// return.
//
// A `Value` is a plain value (bool, int64, double) or an `Expr`, a handle to an immutable
// expression node: a declared variable, a whole array variable, one array cell, an operator
// applied to values, a math function or a cast. Building an expression records nothing and needs
// no open program scope; only the statement that uses it is recorded (statements.hpp).
//
// Element types. `bool`, `int` (64-bit) and `fixed` (the controller's real number type, `fixed`
// below). A plain double is a fixed value and must be finite: inf and nan are refused wherever a
// plain value enters the SDK.
//
// Type rules of the operators (refusals throw TavoTypeError / TavoValueError, errors.hpp):
// - An operand is a plain value or a scalar expression (never a whole array, never an empty
//   handle); at least one operand of an operator is an expression: the SDK does no constant
//   arithmetic of its own.
// - Wherever a number is expected, a bool operand counts as the int 0 or 1.
// - `+ - *`: int with int gives int; with a fixed on either side the result is fixed.
// - `/`: true division of two numbers, always fixed. A plain divisor of zero is refused.
// - `//`: integer division of two ints, rounding toward negative infinity (-7 // 2 is -4); the
//   result is int. A fixed operand or a plain divisor of zero is refused.
// - `<< >>`: both operands int; the result is int. A plain shift count outside 0..63 is refused.
//   A fixed operand is refused.
// - `& | ^`: bool with bool is the logical operation and gives bool; otherwise both operands are
//   taken as int and the bitwise operation gives int. A fixed operand is refused.
// - `< <= > >= ==`: any two numbers (int and fixed mix freely); the result is bool.
// - unary `-`: negation of a number; int (or bool) gives int, fixed gives fixed.
// - `~`: boolean negation, bool operand only; the result is bool.
// - Math functions: one number (plain or expression); the result is fixed. A plain argument out
//   of the function's domain (sqrt of a negative, ln of zero or a negative) is refused.
// - Casts: any scalar value; the result has the cast's type (to_bool: non-zero is true).
// - Indexing `a[i]`: `a` is an array variable; `i` is a plain int within 0..size-1, or an int
//   expression (a bool or fixed index is refused; an expression index is not range-checked).
// - Combining variables of two different programs in one expression is refused
//   (TavoProgramError).
// - Expressions nest at most `kMaxExpressionDepth` deep, so that rendering and releasing them
//   never exhausts the stack.
//
// Assignment fit, used by assign, declare, for_, for_each_ and case_: a value fits a target of
// its own type, and a narrower value fits a wider target: bool fits int and fixed, int fits
// fixed. Nothing narrows implicitly: fixed into int, or int into bool, needs a Cast.
//
// Trap: the comparison operators of `Expr` build expressions, they do not compare handles. Use
// `node()` to ask whether two handles hold the same expression.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace vell::tavo {

enum class DType { Bool, Int, Fixed };

// The controller's real number type.
inline constexpr DType fixed = DType::Fixed;

// "bool", "int", "fixed".
std::string_view dtype_name(DType type);

namespace detail {
struct ExprNode;
struct Access;
}

class Expr;
using Value = std::variant<bool, std::int64_t, double, Expr>;

inline constexpr int kMaxExpressionDepth = 2000;

class Expr {
 public:
  // An empty handle: using it in an expression or a statement, or asking its dtype, is refused
  // with TavoValueError; its text is "<empty>".
  Expr() = default;
  // The node, for comparing handles: two handles of one expression hold the same node.
  const std::shared_ptr<const detail::ExprNode>& node() const { return node_; }

  bool empty() const { return node_ == nullptr; }

  // Element type (of the elements, for a whole array).
  DType dtype() const;
  bool is_fixed() const { return dtype() == DType::Fixed; }

  bool is_variable() const;  // a declared scalar variable
  bool is_array() const;     // a declared array variable, as a whole
  bool is_cell() const;      // one cell of an array variable
  bool is_scalar() const;    // anything but a whole array

  // The expression as the listing writes it: v0, v3[2], (v0 + 1), ~v2, Math.sqrt(v1),
  // Cast.to_int(v1).
  std::string text() const;

  // One cell of this array variable.
  Expr operator[](const Value& index) const;

 private:
  // Expressions are made by the SDK only (declare, the operators, ...).
  explicit Expr(std::shared_ptr<const detail::ExprNode> node) : node_(std::move(node)) {}
  std::shared_ptr<const detail::ExprNode> node_;
  friend struct detail::Access;
};

// The zero of a type (false, 0, 0.0): the initial value of a fresh variable.
Value zero(DType type);

// The type of a value: bool, int, fixed for the plain kinds, the expression's type otherwise.
DType dtype_of(const Value& value);

// A value as the listing writes it: true, false, 42, 2.0, 1e-05, or the expression's text.
std::string text(const Value& value);

enum class BinaryOp { Div, Shr, Shl, Gt, Ge, Lt, Le, Add, Xor, Or, And, Mul, Sub, Eq, FloorDiv };
enum class UnaryOp { Neg, Inv };

// "/", ">>", ..., "==", "//" and "-", "~".
std::string_view symbol(BinaryOp op);
std::string_view symbol(UnaryOp op);

// The operator applied to two values, under the rules above. The C++ operators below call it.
// Operands handed over (Value&&) are moved into the expression rather than shared; when the
// operator is refused they are left as they were.
Expr binary(BinaryOp op, const Value& lhs, const Value& rhs);
Expr binary(BinaryOp op, Value&& lhs, Value&& rhs);
Expr unary(UnaryOp op, const Value& operand);
Expr unary(UnaryOp op, Value&& operand);

namespace detail {
template <class T>
concept IsExpr = std::same_as<std::remove_cvref_t<T>, Expr>;
template <class T>
concept Operand = IsExpr<T> || (!std::same_as<std::remove_cvref_t<T>, Value> && std::constructible_from<Value, T>);
template <class L, class R>
concept OperandPair = Operand<L> && Operand<R> && (IsExpr<L> || IsExpr<R>);
}  // namespace detail

// Operators with an expression on at least one side and an expression or a plain value on the
// other. Two `Value` variants are combined with `binary()`.
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator/(const L& l, const R& r) { return binary(BinaryOp::Div, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator>>(const L& l, const R& r) { return binary(BinaryOp::Shr, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator<<(const L& l, const R& r) { return binary(BinaryOp::Shl, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator>(const L& l, const R& r) { return binary(BinaryOp::Gt, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator>=(const L& l, const R& r) { return binary(BinaryOp::Ge, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator<(const L& l, const R& r) { return binary(BinaryOp::Lt, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator<=(const L& l, const R& r) { return binary(BinaryOp::Le, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator+(const L& l, const R& r) { return binary(BinaryOp::Add, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator^(const L& l, const R& r) { return binary(BinaryOp::Xor, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator|(const L& l, const R& r) { return binary(BinaryOp::Or, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator&(const L& l, const R& r) { return binary(BinaryOp::And, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator*(const L& l, const R& r) { return binary(BinaryOp::Mul, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator-(const L& l, const R& r) { return binary(BinaryOp::Sub, Value(l), Value(r)); }
template <class L, class R>
  requires detail::OperandPair<L, R>
Expr operator==(const L& l, const R& r) { return binary(BinaryOp::Eq, Value(l), Value(r)); }

inline Expr operator-(const Expr& operand) { return unary(UnaryOp::Neg, Value(operand)); }
inline Expr operator~(const Expr& operand) { return unary(UnaryOp::Inv, Value(operand)); }

enum class MathFunction { Sqrt, Exp, Ln, Sin, Cos, Atan };

// Math functions of one number; each gives a fixed expression, also for a plain argument.
struct Math {
  Math() = delete;
  static Expr sqrt(const Value& x);
  static Expr exp(const Value& x);
  static Expr ln(const Value& x);
  static Expr sin(const Value& x);
  static Expr cos(const Value& x);
  static Expr atan(const Value& x);
  // The function applied to an argument list, as a caller that maps names to functions holds
  // it; a list that is not exactly one argument long is refused (TavoTypeError).
  static Expr apply(MathFunction function, std::span<const Value> arguments);
  // "sqrt", "exp", "ln", "sin", "cos", "atan".
  static std::string_view name(MathFunction function);
};

enum class CastKind { ToInt, ToFixed, ToBool };

// Conversions of one scalar value to int (toward zero), fixed, or bool (non-zero is true).
struct Cast {
  Cast() = delete;
  static Expr to_int(const Value& x);
  static Expr to_fixed(const Value& x);
  static Expr to_bool(const Value& x);
  static Expr apply(CastKind kind, const Value& x);
  // "to_int", "to_fixed", "to_bool".
  static std::string_view name(CastKind kind);
};

}  // namespace vell::tavo
