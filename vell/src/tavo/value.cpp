#include "vell/tavo/value.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "internal.hpp"
#include "vell/tavo/errors.hpp"

namespace vell::tavo {

using detail::ExprNode;
using detail::NodeKind;

namespace detail {

void append_fixed(std::string& out, double value) {
  std::array<char, 64> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
  out += text;
  // A real must not read as an integer: 2 becomes 2.0; 1e-05, inf and nan stay as they are.
  if (text.find_first_of(".en") == std::string_view::npos) out += ".0";
}

std::string fixed_text(double value) {
  std::string text;
  append_fixed(text, value);
  return text;
}

std::string quoted(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

namespace {

struct StringOut {
  std::string& out;
  void text(std::string_view t) { out += t; }
  void character(char c) { out += c; }
  void integer(std::int64_t v) {
    std::array<char, 24> buffer{};
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
    out.append(buffer.data(), result.ptr);
  }
  void fixed(double v) { append_fixed(out, v); }
};

}  // namespace

void append_text(std::string& out, const Value& value) {
  StringOut sink{out};
  render(sink, value);
}

const VarInfo* foreign_variable(const Value& value, std::uint64_t program_id) {
  const auto* expr = std::get_if<Expr>(&value);
  if (expr == nullptr || expr->empty()) return nullptr;
  return foreign_variable(*expr->node(), program_id);
}

const VarInfo* foreign_variable(const ExprNode& node, std::uint64_t program_id) {
  if (node.program_id == 0 || node.program_id == program_id) return nullptr;
  if (node.has_var()) {
    if (node.var && node.var->program_id != program_id) return node.var.get();
    return foreign_variable(node.lhs, program_id);
  }
  if (const auto* found = foreign_variable(node.lhs, program_id)) return found;
  return foreign_variable(node.rhs, program_id);
}

}  // namespace detail

namespace {

[[noreturn]] void throw_empty(std::string_view operation) {
  throw TavoValueError(std::string(operation), "empty expression handle");
}

std::string described(const Value& value) {
  std::string out(dtype_name(dtype_of(value)));
  out += std::holds_alternative<Expr>(value) ? " expression " : " value ";
  detail::append_text(out, value);
  return out;
}

// One operand of an operator, Math function or cast: a plain value (finite, when a real) or a
// non-empty scalar expression.
struct Operand {
  DType type;
  const ExprNode* node;  // null for a plain value
};

// The refusals are out of line, so that the checks made for every operand inline into the
// operators.
[[noreturn]] [[gnu::cold]] void refuse_array_operand(std::string_view operation, const ExprNode& node) {
  throw TavoTypeError(std::string(operation),
                      "array variable " + node.var->name + " is not a scalar; index it to use one cell");
}

[[noreturn]] [[gnu::cold]] void refuse_infinite(std::string_view operation, double real) {
  throw TavoValueError(std::string(operation), "a fixed value must be finite, got " + detail::fixed_text(real));
}

[[noreturn]] [[gnu::cold]] void refuse_depth(std::string_view operation) {
  throw TavoValueError(std::string(operation),
                       "expression nests deeper than " + std::to_string(kMaxExpressionDepth) + " levels");
}

[[noreturn]] [[gnu::cold]] void refuse_two_programs(std::string_view operation) {
  throw TavoProgramError(std::string(operation), "combines variables of two different programs");
}

inline Operand scalar_operand(std::string_view operation, const Value& value) {
  if (const auto* expr = std::get_if<Expr>(&value)) {
    if (expr->empty()) throw_empty(operation);
    const ExprNode& node = *expr->node();
    if (node.kind == NodeKind::Array) refuse_array_operand(operation, node);
    return {node.dtype, &node};
  }
  if (const auto* real = std::get_if<double>(&value); real != nullptr && !std::isfinite(*real))
    refuse_infinite(operation, *real);
  return {dtype_of(value), nullptr};
}

DType numeric(DType type) { return type == DType::Bool ? DType::Int : type; }

inline std::uint64_t joined_program(std::string_view operation, const Operand& a, const Operand& b) {
  std::uint64_t pa = a.node ? a.node->program_id : 0;
  std::uint64_t pb = b.node ? b.node->program_id : 0;
  if (pa != 0 && pb != 0 && pa != pb) refuse_two_programs(operation);
  return pa != 0 ? pa : pb;
}

inline int joined_depth(std::string_view operation, const Operand& a, const Operand* b) {
  int depth = a.node ? a.node->depth : 0;
  if (b != nullptr && b->node != nullptr) depth = std::max<int>(depth, b->node->depth);
  if (depth + 1 > kMaxExpressionDepth) refuse_depth(operation);
  return depth + 1;
}

bool is_plain_zero(const Value& value) {
  if (const auto* b = std::get_if<bool>(&value)) return !*b;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i == 0;
  if (const auto* d = std::get_if<double>(&value)) return *d == 0.0;
  return false;
}

DType binary_type(BinaryOp op, std::string_view operation, const Value& lhs, const Value& rhs, const Operand& a,
                  const Operand& b) {
  auto refuse_fixed = [&](const char* needs) {
    for (const Value* v : {&lhs, &rhs}) {
      if (dtype_of(*v) == DType::Fixed) {
        throw TavoTypeError(std::string(operation), std::string("needs ") + needs + " operands, got " + described(*v));
      }
    }
  };
  switch (op) {
    case BinaryOp::Add:
    case BinaryOp::Sub:
    case BinaryOp::Mul:
      return numeric(a.type) == DType::Int && numeric(b.type) == DType::Int ? DType::Int : DType::Fixed;
    case BinaryOp::Div:
      if (is_plain_zero(rhs)) throw TavoValueError(std::string(operation), "division by zero");
      return DType::Fixed;
    case BinaryOp::FloorDiv:
      refuse_fixed("int");
      if (is_plain_zero(rhs)) throw TavoValueError(std::string(operation), "division by zero");
      return DType::Int;
    case BinaryOp::Shl:
    case BinaryOp::Shr: {
      refuse_fixed("int");
      if (!b.node) {
        std::int64_t count = std::holds_alternative<bool>(rhs) ? std::get<bool>(rhs) : std::get<std::int64_t>(rhs);
        if (count < 0 || count > 63) {
          throw TavoValueError(std::string(operation), "shift count " + std::to_string(count) + " is outside 0..63");
        }
      }
      return DType::Int;
    }
    case BinaryOp::And:
    case BinaryOp::Or:
    case BinaryOp::Xor:
      refuse_fixed("bool or int");
      return a.type == DType::Bool && b.type == DType::Bool ? DType::Bool : DType::Int;
    case BinaryOp::Gt:
    case BinaryOp::Ge:
    case BinaryOp::Lt:
    case BinaryOp::Le:
    case BinaryOp::Eq:
      return DType::Bool;
  }
  return DType::Int;
}

template <class... A>
Expr make(A&&... args) {
  return detail::Access::expr(detail::make_pooled<const ExprNode>(std::forward<A>(args)...));
}

template <class V>
Expr unary_node(NodeKind kind, int op, DType type, std::string_view operation, V&& operand, const Operand& a) {
  return make(kind, type, joined_depth(operation, a, nullptr), a.node ? a.node->program_id : 0, nullptr, op,
              std::forward<V>(operand), Value());
}

}  // namespace

std::string_view dtype_name(DType type) {
  switch (type) {
    case DType::Bool:
      return "bool";
    case DType::Int:
      return "int";
    case DType::Fixed:
      return "fixed";
  }
  return "?";
}

DType Expr::dtype() const {
  if (empty()) throw_empty("dtype");
  return node_->dtype;
}
bool Expr::is_variable() const { return node_ && node_->kind == NodeKind::Variable; }
bool Expr::is_array() const { return node_ && node_->kind == NodeKind::Array; }
bool Expr::is_cell() const { return node_ && node_->kind == NodeKind::Cell; }
bool Expr::is_scalar() const { return node_ && node_->kind != NodeKind::Array; }

std::string Expr::text() const {
  std::string out;
  detail::append_text(out, Value(*this));
  return out;
}

Expr Expr::operator[](const Value& index) const {
  static constexpr std::string_view kOperation = "operator []";
  if (empty()) throw_empty(kOperation);
  if (node_->kind != NodeKind::Array) {
    throw TavoTypeError(std::string(kOperation), text() + " is not an array variable");
  }
  const detail::VarInfo& array = *node_->var;
  Operand whole{node_->dtype, node_.get()};
  Operand at = scalar_operand(kOperation, index);
  if (at.type != DType::Int) {
    throw TavoTypeError(std::string(kOperation), "index into " + array.name + " must be an integer, got " + described(index));
  }
  if (const auto* i = std::get_if<std::int64_t>(&index); i != nullptr && (*i < 0 || *i >= array.size)) {
    throw TavoValueError(std::string(kOperation), "index " + std::to_string(*i) + " is outside " + array.name +
                                                      " of size " + std::to_string(array.size));
  }
  const std::uint64_t program = joined_program(kOperation, whole, at);
  return make(NodeKind::Cell, array.dtype, joined_depth(kOperation, whole, &at), program, node_->var, 0, index, Value());
}

Value zero(DType type) {
  switch (type) {
    case DType::Bool:
      return false;
    case DType::Int:
      return std::int64_t{0};
    case DType::Fixed:
      return 0.0;
  }
  return std::int64_t{0};
}

DType dtype_of(const Value& value) {
  switch (value.index()) {
    case 0:
      return DType::Bool;
    case 1:
      return DType::Int;
    case 2:
      return DType::Fixed;
    default:
      return std::get<Expr>(value).dtype();
  }
}

std::string text(const Value& value) {
  std::string out;
  detail::append_text(out, value);
  return out;
}

std::string_view symbol(BinaryOp op) {
  static constexpr std::string_view kSymbols[] = {"/", ">>", "<<", ">", ">=", "<", "<=",
                                                  "+", "^",  "|",  "&", "*",  "-", "==", "//"};
  return kSymbols[static_cast<int>(op)];
}

std::string_view symbol(UnaryOp op) { return op == UnaryOp::Neg ? "-" : "~"; }

namespace {
// The name an error gives the operation ("operator +"), not built for every expression made.
std::string_view operation_name(BinaryOp op) {
  static constexpr std::string_view kNames[] = {
      "operator /", "operator >>", "operator <<", "operator >", "operator >=", "operator <", "operator <=", "operator +",
      "operator ^", "operator |",  "operator &",  "operator *", "operator -",  "operator ==", "operator //"};
  return kNames[static_cast<int>(op)];
}
}  // namespace

namespace {

// binary() of operands copied (L, R const Value&) or handed over (Value&&).
template <class L, class R>
Expr make_binary(BinaryOp op, L&& lhs, R&& rhs) {
  const std::string_view operation = operation_name(op);
  Operand a = scalar_operand(operation, lhs);
  Operand b = scalar_operand(operation, rhs);
  if (!a.node && !b.node) {
    throw TavoTypeError(std::string(operation), "needs an SDK expression on at least one side, got two plain values " +
                                       text(lhs) + " and " + text(rhs));
  }
  const DType type = binary_type(op, operation, lhs, rhs, a, b);
  const std::uint64_t program = joined_program(operation, a, b);
  const int depth = joined_depth(operation, a, &b);
  return make(NodeKind::Binary, type, depth, program, nullptr, static_cast<int>(op), std::forward<L>(lhs),
              std::forward<R>(rhs));
}

template <class V>
Expr make_unary(UnaryOp op, V&& operand) {
  const std::string_view operation = op == UnaryOp::Neg ? "operator -" : "operator ~";
  Operand a = scalar_operand(operation, operand);
  if (!a.node) {
    throw TavoTypeError(std::string(operation), "needs an SDK expression, got the plain value " + text(operand));
  }
  DType type = numeric(a.type);
  if (op == UnaryOp::Inv) {
    if (a.type != DType::Bool) {
      throw TavoTypeError(std::string(operation),
                          "is boolean negation and needs a bool operand, got " + described(operand));
    }
    type = DType::Bool;
  }
  return unary_node(NodeKind::Unary, static_cast<int>(op), type, operation, std::forward<V>(operand), a);
}

}  // namespace

Expr binary(BinaryOp op, const Value& lhs, const Value& rhs) { return make_binary(op, lhs, rhs); }
Expr binary(BinaryOp op, Value&& lhs, Value&& rhs) { return make_binary(op, std::move(lhs), std::move(rhs)); }
Expr unary(UnaryOp op, const Value& operand) { return make_unary(op, operand); }
Expr unary(UnaryOp op, Value&& operand) { return make_unary(op, std::move(operand)); }

std::string_view Math::name(MathFunction function) {
  static constexpr std::string_view kNames[] = {"sqrt", "exp", "ln", "sin", "cos", "atan"};
  return kNames[static_cast<int>(function)];
}

Expr Math::apply(MathFunction function, std::span<const Value> arguments) {
  const std::string operation = "Math." + std::string(name(function));
  if (arguments.size() != 1) {
    throw TavoTypeError(operation, "takes exactly 1 argument, got " + std::to_string(arguments.size()));
  }
  const Value& x = arguments.front();
  Operand a = scalar_operand(operation, x);
  if (!a.node) {
    double v = std::holds_alternative<double>(x) ? std::get<double>(x)
               : std::holds_alternative<bool>(x) ? static_cast<double>(std::get<bool>(x))
                                                 : static_cast<double>(std::get<std::int64_t>(x));
    if ((function == MathFunction::Sqrt && v < 0) || (function == MathFunction::Ln && v <= 0)) {
      throw TavoValueError(operation, "argument " + text(x) + " is outside the function's domain");
    }
  }
  return unary_node(NodeKind::Math, static_cast<int>(function), DType::Fixed, operation, x, a);
}

Expr Math::sqrt(const Value& x) { return apply(MathFunction::Sqrt, std::span<const Value>(&x, 1)); }
Expr Math::exp(const Value& x) { return apply(MathFunction::Exp, std::span<const Value>(&x, 1)); }
Expr Math::ln(const Value& x) { return apply(MathFunction::Ln, std::span<const Value>(&x, 1)); }
Expr Math::sin(const Value& x) { return apply(MathFunction::Sin, std::span<const Value>(&x, 1)); }
Expr Math::cos(const Value& x) { return apply(MathFunction::Cos, std::span<const Value>(&x, 1)); }
Expr Math::atan(const Value& x) { return apply(MathFunction::Atan, std::span<const Value>(&x, 1)); }

std::string_view Cast::name(CastKind kind) {
  static constexpr std::string_view kNames[] = {"to_int", "to_fixed", "to_bool"};
  return kNames[static_cast<int>(kind)];
}

Expr Cast::apply(CastKind kind, const Value& x) {
  const std::string operation = "Cast." + std::string(name(kind));
  Operand a = scalar_operand(operation, x);
  if (const auto* real = std::get_if<double>(&x); real != nullptr && kind == CastKind::ToInt) {
    // 2^63 is the first double past the int64 range on either side.
    if (std::trunc(*real) >= 9223372036854775808.0 || std::trunc(*real) < -9223372036854775808.0) {
      throw TavoValueError(operation, text(x) + " does not fit an int");
    }
  }
  static constexpr DType kTypes[] = {DType::Int, DType::Fixed, DType::Bool};
  return unary_node(NodeKind::Cast, static_cast<int>(kind), kTypes[static_cast<int>(kind)], operation, x, a);
}

Expr Cast::to_int(const Value& x) { return apply(CastKind::ToInt, x); }
Expr Cast::to_fixed(const Value& x) { return apply(CastKind::ToFixed, x); }
Expr Cast::to_bool(const Value& x) { return apply(CastKind::ToBool, x); }

}  // namespace vell::tavo
