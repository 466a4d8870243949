#include "vell_qasm/passes/code_generation/lower_expression.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <compare>
#include <limits>
#include <string_view>
#include <system_error>
#include <vector>

#include "openqasm3/number_text.hpp"
#include "openqasm3/stack_guard.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/utils.hpp"
#include "vell_qasm/plain_arithmetic.hpp"

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;
namespace tavo = vell::tavo;
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

LoweredValue LoweredValue::bit_register(vell::tavo::Expr array, std::string name, std::int64_t size) {
  LoweredValue value(std::move(array));
  value.register_ = std::make_shared<const BitRegister>(BitRegister{std::move(name), size});
  return value;
}

tavo::Value LoweredValue::scalar() const& {
  if (register_) return register_integer();
  if (const auto* value = std::get_if<tavo::Value>(&value_)) return *value;
  throw TypeError("Expected a scalar value, got the array literal " + text());
}

tavo::Value LoweredValue::scalar() && {
  if (!register_) {
    if (auto* value = std::get_if<tavo::Value>(&value_)) return std::move(*value);
  }
  return static_cast<const LoweredValue&>(*this).scalar();
}

// c[0] + (c[1] << 1) + (c[2] << 2) + ...: the unsigned integer of the bits, c[0] the lowest.
tavo::Value LoweredValue::register_integer() const {
  const auto& array = std::get<tavo::Expr>(std::get<tavo::Value>(value_));
  const std::int64_t size = register_->size;
  if (size <= 0) return std::int64_t{0};
  if (size > 63)
    throw ValueError("The bit register " + register_->name + " of " + std::to_string(size) +
                     " bits cannot be read as an integer: a 64-bit integer holds 63 bits of an unsigned value");
  if (size == 1) return tavo::Cast::to_int(array[std::int64_t{0}]);
  tavo::Value sum = array[std::int64_t{0}];
  for (std::int64_t i = 1; i < size; ++i)
    sum = tavo::binary(tavo::BinaryOp::Add, sum, tavo::binary(tavo::BinaryOp::Shl, array[i], i));
  return sum;
}

tavo_var::ScalarOrList LoweredValue::for_target(bool target_is_array) const {
  if (target_is_array || is_list()) return to_scalar_or_list();
  return scalar();
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

// The exact decimal of a finite double's shortest round-trip text, -1^negative * digits *
// 10^exponent: the number the source wrote, not the binary double (4.004 is 4004e-3, where the
// double is a little less).
struct Decimal {
  bool negative = false;
  std::uint64_t digits = 0;  // at most 17 decimal digits
  int exponent = 0;
};

Decimal decimal_of(double value) {
  if (std::isnan(value)) throw ValueError("cannot convert float NaN to integer");
  if (std::isinf(value)) throw OverflowError("cannot convert float infinity to integer");
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  check(error == std::errc());
  std::string_view text(buffer, end - buffer);
  Decimal decimal;
  decimal.negative = text.front() == '-';
  if (decimal.negative) text.remove_prefix(1);
  const auto e_pos = text.find('e');
  int fraction_digits = 0;
  bool after_point = false;
  for (char c : text.substr(0, e_pos)) {
    if (c == '.') {
      after_point = true;
      continue;
    }
    decimal.digits = decimal.digits * 10 + static_cast<std::uint64_t>(c - '0');
    if (after_point) ++fraction_digits;
  }
  std::string_view exponent_text = text.substr(e_pos + 1);
  if (exponent_text.front() == '+') exponent_text.remove_prefix(1);
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), decimal.exponent);
  decimal.exponent -= fraction_digits;
  return decimal;
}

// The exponent of the unit's nanoseconds, a power of ten.
int ns_exponent(ast::TimeUnit unit) {
  int exponent = 0;
  for (std::int64_t ns = ns_per_unit(unit); ns > 1; ns /= 10) ++exponent;
  return exponent;
}

}  // namespace

std::int64_t duration_cycles(double value, ast::TimeUnit unit) {
  Decimal decimal = decimal_of(value);
  const std::uint64_t digits = decimal.digits;
  const int exponent = decimal.exponent + ns_exponent(unit);

  // cycles = trunc(digits * 10^exponent / CYCLES_PER_NS), in unsigned magnitude.
  static_assert(CYCLES_PER_NS == 4);
  const std::uint64_t limit = decimal.negative ? std::uint64_t{1} << 63 : static_cast<std::uint64_t>(kInt64Max);
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
  return decimal.negative ? static_cast<std::int64_t>(0 - cycles) : static_cast<std::int64_t>(cycles);
}

PlainValue duration_ns(double value, ast::TimeUnit unit) {
  const Decimal decimal = decimal_of(value);
  const int exponent = decimal.exponent + ns_exponent(unit);
  // A whole number of nanoseconds that int64 holds stays exact.
  std::uint64_t magnitude = decimal.digits;
  bool whole = true;
  for (int i = 0; i < exponent && whole; ++i) whole = !__builtin_mul_overflow(magnitude, 10u, &magnitude);
  for (int i = 0; i < -exponent && whole; ++i) {
    whole = magnitude % 10 == 0;
    magnitude /= 10;
  }
  if (whole && magnitude <= static_cast<std::uint64_t>(kInt64Max)) {
    const auto ns = static_cast<std::int64_t>(magnitude);
    return decimal.negative ? -ns : ns;
  }
  // Otherwise the double nearest to the exact decimal.
  const std::string text = (decimal.negative ? "-" : "") + std::to_string(decimal.digits) + "e" + std::to_string(exponent);
  double ns = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), ns);
  return ns;
}

// ---- The recursion ----

namespace {

using Op = ast::BinaryOperator;

// The SDK operator of a binary operator, or nullopt for "!=" (built from "==") and the refused
// ones: read from a table by the operator's number, as every operator of every expression asks.
constexpr auto kSdkOperators = [] {
  std::array<std::optional<tavo::BinaryOp>, static_cast<std::size_t>(Op::power) + 1> table{};
  const std::pair<Op, tavo::BinaryOp> pairs[] = {
      {Op::divide, tavo::BinaryOp::Div}, {Op::shr, tavo::BinaryOp::Shr},     {Op::shl, tavo::BinaryOp::Shl},
      {Op::gt, tavo::BinaryOp::Gt},      {Op::ge, tavo::BinaryOp::Ge},       {Op::lt, tavo::BinaryOp::Lt},
      {Op::le, tavo::BinaryOp::Le},      {Op::plus, tavo::BinaryOp::Add},    {Op::bit_xor, tavo::BinaryOp::Xor},
      {Op::bit_or, tavo::BinaryOp::Or},  {Op::bit_and, tavo::BinaryOp::And}, {Op::times, tavo::BinaryOp::Mul},
      {Op::minus, tavo::BinaryOp::Sub},  {Op::eq, tavo::BinaryOp::Eq}};
  for (const auto& [op, sdk] : pairs) table[static_cast<std::size_t>(op)] = sdk;
  return table;
}();

std::optional<tavo::BinaryOp> sdk_operator(Op op) {
  const auto at = static_cast<std::size_t>(op);
  return at < kSdkOperators.size() ? kSdkOperators[at] : std::nullopt;
}

bool is_lowered_operator(Op op) { return op == Op::ne || sdk_operator(op); }

bool is_integral(const tavo::Value& value) { return tavo::dtype_of(value) != tavo::DType::Fixed; }

LoweredValue from_plain(const PlainValue& value) {
  return std::visit([](auto x) { return LoweredValue(x); }, value);
}

// `op` of two scalars, plain or SDK. `division` decides "/" of two integral plain values; of two
// integral SDK operands "/" is the SDK's integer division, which rounds as floor_for_integers.
// The operands are taken over: their expressions move into the one built, no reference count
// changing hands.
LoweredValue combine(Op op, LoweredValue&& l, LoweredValue&& r, plain::Division division) {
  if (l.is_sdk() || r.is_sdk()) {
    tavo::Value a = std::move(l).scalar();
    tavo::Value b = std::move(r).scalar();
    if (op == Op::ne) return tavo::unary(tavo::UnaryOp::Inv, tavo::binary(tavo::BinaryOp::Eq, std::move(a), std::move(b)));
    if (op == Op::divide && division == plain::Division::floor_for_integers && is_integral(a) && is_integral(b))
      return tavo::binary(tavo::BinaryOp::FloorDiv, std::move(a), std::move(b));
    return tavo::binary(*sdk_operator(op), std::move(a), std::move(b));
  }
  return from_plain(plain::apply(op, *l.plain(), *r.plain(), division));
}

// A lowered operand: a value, and whether it is a duration counted in nanoseconds (not yet cycles).
struct Term {
  LoweredValue value;
  bool ns = false;
};

// The clock cycles of a duration of `ns` nanoseconds, truncated toward zero.
LoweredValue to_cycles(const LoweredValue& ns) {
  if (auto plain = ns.plain()) {
    if (const auto* i = std::get_if<std::int64_t>(&*plain)) return *i / CYCLES_PER_NS;
    return duration_cycles(plain::as_real(*plain), ast::TimeUnit::ns);
  }
  return tavo::Cast::to_int(tavo::binary(tavo::BinaryOp::Div, ns.scalar(), CYCLES_PER_NS));
}

// A duration operand as nanoseconds: a value that is not one yet is a duration variable, which
// holds clock cycles.
LoweredValue to_ns(Term&& term) {
  if (term.ns) return std::move(term.value);
  return combine(Op::times, std::move(term.value), LoweredValue(CYCLES_PER_NS), plain::Division::real);
}

LoweredValue finished(Term&& term) { return term.ns ? to_cycles(term.value) : std::move(term.value); }

void refuse_lists(const char* symbol, const LoweredValue& l, const LoweredValue& r) {
  if (l.is_list() || r.is_list())
    throw TypeError("An array literal cannot be an operand of \"" + std::string(symbol) + "\": " +
                    (l.is_list() ? l : r).text());
}

// Both operands are taken over (see combine).
Term apply_binary(Op op, Term&& l, Term&& r) {
  if (!is_lowered_operator(op)) throw NotImplementedError("Binary expression undefined: ", ast::enum_repr(op));
  refuse_lists(ast::symbol(op).data(), l.value, r.value);
  if (!l.ns && !r.ns) return {combine(op, std::move(l.value), std::move(r.value), plain::Division::floor_for_integers)};
  // Duration arithmetic stays in exact nanoseconds; the whole expression is converted once.
  switch (op) {
    case Op::plus:
    case Op::minus:
      return {combine(op, to_ns(std::move(l)), to_ns(std::move(r)), plain::Division::real), true};
    case Op::gt:
    case Op::ge:
    case Op::lt:
    case Op::le:
    case Op::eq:
    case Op::ne:
      return {combine(op, to_ns(std::move(l)), to_ns(std::move(r)), plain::Division::real)};
    case Op::times:
      if (l.ns != r.ns) return {combine(op, std::move(l.value), std::move(r.value), plain::Division::real), true};
      break;
    case Op::divide:
      if (l.ns && !r.ns) return {combine(op, std::move(l.value), std::move(r.value), plain::Division::real), true};
      // a ratio of two durations
      return {combine(op, to_ns(std::move(l)), to_ns(std::move(r)), plain::Division::real)};
    default:
      break;
  }
  return {combine(op, finished(std::move(l)), finished(std::move(r)), plain::Division::floor_for_integers)};
}

Term apply_unary(ast::UnaryOperator op, Term&& operand) {
  if (op != ast::UnaryOperator::negate && op != ast::UnaryOperator::logical_not)
    throw NotImplementedError("Unary expression undefined: ", ast::enum_repr(op));
  if (operand.value.is_list())
    throw TypeError("An array literal cannot be an operand of \"" + std::string(ast::symbol(op)) +
                    "\": " + operand.value.text());
  const bool negate = op == ast::UnaryOperator::negate;
  const bool ns = negate && operand.ns;
  LoweredValue value = negate ? std::move(operand.value) : finished(std::move(operand));
  if (value.is_sdk()) {
    tavo::Value scalar = std::move(value).scalar();
    // ! of a number is whether it is zero: the SDK's ~ negates bools only.
    if (!negate && tavo::dtype_of(scalar) != tavo::DType::Bool)
      return {tavo::binary(tavo::BinaryOp::Eq, std::move(scalar), tavo::Value(std::int64_t{0}))};
    return {tavo::unary(negate ? tavo::UnaryOp::Neg : tavo::UnaryOp::Inv, std::move(scalar)), ns};
  }
  return {from_plain(plain::apply(op, *value.plain())), ns};
}

class Lowering {
 public:
  explicit Lowering(const VariablesDB& variables_db) : db_(variables_db) {}

  LoweredValue lower(const ast::ExprPtr& node) {
    check(node != nullptr);
    return finished(term(*node));
  }
  LoweredValue lower(const ast::Expression& node) { return finished(term(node)); }

  Term term(const ast::ExprPtr& node) {
    check(node != nullptr);
    return term(*node);
  }

  Term term(const ast::Expression& node) {
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

  // A chain a + b + c + ... leans left as deep as it is long: its links are lowered in a loop,
  // innermost first, each after both of its operands, and only right operands recurse.
  Term binary(const ast::BinaryExpression& node) {
    if (!node.lhs || !ast::isa<ast::BinaryExpression>(*node.lhs)) {  // no chain
      Term lhs = term(node.lhs);
      Term rhs = term(node.rhs);
      return apply_binary(node.op, std::move(lhs), std::move(rhs));
    }
    // The links go on one stack shared by every chain being lowered (right operands nest
    // chains of their own): each chain takes the part above `base`, read by position since
    // nested chains may grow the stack, and gives it back however it leaves.
    std::vector<const ast::BinaryExpression*>& chain = chain_stack_;
    const std::size_t base = chain.size();
    struct Release {
      std::vector<const ast::BinaryExpression*>& chain;
      std::size_t base;
      ~Release() { chain.resize(base); }
    } release{chain, base};
    chain.push_back(&node);
    while (chain.back()->lhs && ast::isa<ast::BinaryExpression>(*chain.back()->lhs))
      chain.push_back(static_cast<const ast::BinaryExpression*>(chain.back()->lhs.get()));
    Term value = term(chain.back()->lhs);
    for (std::size_t i = chain.size(); i-- > base;) {
      const ast::BinaryExpression& link = *chain[i];
      // Both operands first: a failure inside an operand comes before any operator failure.
      Term rhs = term(link.rhs);
      value = apply_binary(link.op, std::move(value), std::move(rhs));
    }
    return value;
  }

  Term unary(const ast::UnaryExpression& node) { return apply_unary(node.op, term(node.expression)); }

 private:
  const tavo_var::TavoVarBase& variable(const std::string& name) { return db_.wrapper(name); }

  Term dispatch(const ast::Expression& node) {
    if (auto value = utils::qasm_literal_value(node)) return {from_plain(*value)};
    switch (node.library_kind()) {
      case ast::NodeKind::DurationLiteral: {
        const auto& duration = static_cast<const ast::DurationLiteral&>(node);
        return {from_plain(duration_ns(duration.value, duration.unit)), true};
      }
      case ast::NodeKind::BinaryExpression:
        return binary(static_cast<const ast::BinaryExpression&>(node));
      case ast::NodeKind::UnaryExpression:
        return unary(static_cast<const ast::UnaryExpression&>(node));
      case ast::NodeKind::Identifier: {
        const tavo_var::TavoVarBase& var = variable(static_cast<const ast::Identifier&>(node).name);
        const tavo_var::TavoArr* array = var.as_array();
        if (array && array->dtype == tavo::DType::Bool)
          return {LoweredValue::bit_register(array->tavo_value_exp(), array->name(), array->size)};
        return {var.tavo_value_exp()};
      }
      case ast::NodeKind::IndexExpression:
        return {index(static_cast<const ast::IndexExpression&>(node))};
      case ast::NodeKind::Cast: {
        const auto& cast = static_cast<const ast::Cast&>(node);
        if (cast.argument && ast::isa<ast::ArrayLiteral>(*cast.argument))
          throw NotImplementedError("Casting array types is not supported");
        check(cast.type != nullptr);
        return {_cast_expression(lower(cast.argument), *cast.type)};
      }
      case ast::NodeKind::ArrayLiteral: {
        const auto& literal = static_cast<const ast::ArrayLiteral&>(node);
        LoweredValue::List values;
        values.reserve(literal.values.size());
        for (const auto& element : literal.values) values.push_back(lower(element));
        return {values};
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
    const tavo_var::TavoArr* array = variable(name).as_array();
    if (!array) throw tavo_var::IndexingVariableException(name);
    LoweredValue idx = lower(single_index(node.index));
    return array->get_single_index(idx.scalar());
  }

  const VariablesDB& db_;
  int depth_ = 0;
  // Scratch of binary(), kept by the thread so that lowering an expression allocates it once.
  static thread_local std::vector<const ast::BinaryExpression*> chain_stack_;
};

thread_local std::vector<const ast::BinaryExpression*> Lowering::chain_stack_;

}  // namespace

// ---- Public operations ----

LoweredValue lower_expression(const ast::Expression& oq_expression, const VariablesDB& variables_db) {
  return Lowering(variables_db).lower(oq_expression);
}

LoweredValue lower_expression(const ast::ExprPtr& oq_expression, const VariablesDB& variables_db) {
  return Lowering(variables_db).lower(oq_expression);
}

namespace {

const ast::NodePtr& single_index_node(const ast::IndexElement& index) {
  const auto* list = std::get_if<ast::IndexList>(&index);
  check(list != nullptr && list->size() == 1, "Only single index is supported.");
  check(list->front() != nullptr && ast::isa<ast::Expression>(*list->front()),
        "A range (slice) as an index is not supported; index one element at a time.");
  return list->front();
}

}  // namespace

ast::ExprPtr extract_single_index(const ast::IndexElement& index) {
  return std::static_pointer_cast<ast::Expression>(single_index_node(index));
}

const ast::Expression& single_index(const ast::IndexElement& index) {
  return static_cast<const ast::Expression&>(*single_index_node(index));
}

LoweredValue _parse_binary_expression(const ast::BinaryExpression& oq_expression, const VariablesDB& variables_db) {
  return finished(Lowering(variables_db).binary(oq_expression));
}

LoweredValue _parse_unary_expression(const ast::UnaryExpression& oq_expression, const VariablesDB& variables_db) {
  return finished(Lowering(variables_db).unary(oq_expression));
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
        if (const auto* d = std::get_if<double>(&*plain)) return plain::truncate_to_int(*d);
        return plain::as_int(*plain);
      case Target::Float:
        return plain::as_real(*plain);
      case Target::Bool:
        return plain::truth(*plain);
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
