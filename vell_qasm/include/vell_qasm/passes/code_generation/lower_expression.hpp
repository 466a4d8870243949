// Expression lowering: one OpenQASM expression node becomes the value an SDK statement call
// takes. Lowering only combines values with the SDK's operators and casts: it declares nothing,
// emits nothing, logs nothing and changes neither the tree nor the variables table.
//
// What an expression lowers to (LoweredValue):
// - a plain value (bool, int64, double): a boolean, integer or float literal as stored, a
//   duration as clock cycles, and every operator or cast applied to plain values only;
// - an SDK expression: an operator with at least one SDK operand, a Cast, an array cell;
// - an SDK variable: an identifier, the declared variable of that name (an array as a whole; a
//   bool array, a bit register, reads as the unsigned integer of its bits wherever a scalar is
//   taken: c[0] + (c[1] << 1) + ..., c[0] the lowest bit);
// - a list of lowered values: an array literal, element by element (nested literals nest).
// A LoweredValue that is not a list is a vell::tavo::Value, the SDK's own value type, which the
// statement calls, the variable wrappers and the target functions take as they are.
//
// Operators. When either operand is an SDK value the SDK's operator is used, the plain value on
// whichever side it stands; "!=" is the SDK's `~` of "==", and "!" the SDK's `~` of a bool (of a
// number, "== 0"); "/" of two integral operands is the SDK's integer division `//`, which rounds
// toward negative infinity as folding does (7 / 2 is 3, -7 / 2 is -4), and true division
// otherwise. Between plain values the shared plain arithmetic applies (plain_arithmetic.hpp:
// int64 exact, an overflow is an OverflowError naming the operation, "/" of two integers rounds
// toward negative infinity).
// "%", "**", "&&", "||" and unary "~" are refused (NotImplementedError with the operator).
//
// Casts to int/uint, float and bool convert plain values by value (int truncates toward zero; the
// width and signedness are never read, so uint(-1.5) is -1), return an SDK value that is already
// of the target type unchanged, and otherwise call Cast.to_int / to_fixed / to_bool. Other
// targets are refused.
//
// Durations. Within an expression a duration is kept in nanoseconds, exactly (the literal's
// exact decimal, its shortest round-trip text: 4.004 us is 4004 ns), through + and - of
// durations, scaling by a number, division by a number (a real division) and negation; the value
// of the whole expression is converted to clock cycles of CYCLES_PER_NS nanoseconds once,
// truncated toward zero: 10 ns + 10 ns gives 5, 10 ns gives 2, 1 dt gives 0 (dt counts as 1 ns),
// n * 1 ns for an SDK n gives Cast.to_int((n * 1) / 4). A ratio of two durations is a number, and
// a comparison of durations a bool. A duration variable holds clock cycles: in duration
// arithmetic it counts as cycles * CYCLES_PER_NS nanoseconds. A count beyond int64 is an
// OverflowError; inf and nan are an OverflowError and a ValueError.
//
// Traps:
// - Both operands are lowered before the operator is looked at: an undeclared operand of a
//   refused operator reports the undeclared variable.
// - An index is passed to the SDK as it is: no bound or type check here (the SDK refuses a plain
//   index outside the array).
// - Lists are not operands: an operator or cast applied to a lowered array literal is refused.
// - An expression nested deeper than kMaxLoweringDepth levels is refused with a ValueError, and
//   one that a small thread stack cannot hold with openqasm3::StackExhausted, before the stack
//   could run out. A flat chain `1 + 1 + ...` (left operands) is lowered in a loop and has no
//   length limit here; the SDK bounds how deep the expression it builds may nest.
// - A bit register wider than 63 bits read as an integer is a ValueError.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell/tavo/value.hpp"
#include "vell_qasm/programs.hpp"
#include "vell_qasm/tavo_var.hpp"
#include "vell_qasm/value_text.hpp"

namespace vell_qasm::passes::code_generation {

// One clock cycle lasts CYCLES_PER_NS nanoseconds: N ns are N / CYCLES_PER_NS cycles.
inline constexpr std::int64_t CYCLES_PER_NS = 4;
// Nanoseconds in one unit of a duration literal; the hardware-dependent dt counts as 1 ns.
inline constexpr std::array<std::pair<openqasm3::ast::TimeUnit, std::int64_t>, 5> TIME_IN_NS = {{
    {openqasm3::ast::TimeUnit::dt, 1},
    {openqasm3::ast::TimeUnit::ns, 1},
    {openqasm3::ast::TimeUnit::us, 1000},
    {openqasm3::ast::TimeUnit::ms, 1000000},
    {openqasm3::ast::TimeUnit::s, 1000000000},
}};
// How deep lowering recurses at most: as deep as any tree the parser returns.
inline constexpr int kMaxLoweringDepth = 2000;

class LoweredValue {
 public:
  using List = std::vector<LoweredValue>;

  LoweredValue(vell::tavo::Value value) : value_(std::move(value)) {}
  LoweredValue(bool value) : value_(vell::tavo::Value(value)) {}
  LoweredValue(int value) : value_(vell::tavo::Value(std::int64_t{value})) {}
  LoweredValue(std::int64_t value) : value_(vell::tavo::Value(value)) {}
  LoweredValue(double value) : value_(vell::tavo::Value(value)) {}
  LoweredValue(vell::tavo::Expr value) : value_(vell::tavo::Value(std::move(value))) {}
  LoweredValue(List list) : value_(std::move(list)) {}

  bool is_list() const { return std::holds_alternative<List>(value_); }
  // A bool, int64 or double.
  bool is_plain() const;
  // An SDK expression, variable or array cell.
  bool is_sdk() const;

  // A whole bit register (a bool array variable), which scalar() reads as an integer.
  static LoweredValue bit_register(vell::tavo::Expr array, std::string name, std::int64_t size);

  // The value as the SDK takes it; a TypeError for a list. A bit register gives the unsigned
  // integer of its bits, c[0] the lowest (a ValueError beyond 63 bits).
  vell::tavo::Value scalar() const&;
  vell::tavo::Value scalar() &&;  // moves the scalar out rather than copying it
  // The scalar as held, without a copy; null for a list or a bit register (whose integer is
  // built by scalar()).
  const vell::tavo::Value* held_scalar() const {
    if (register_) return nullptr;
    return std::get_if<vell::tavo::Value>(&value_);
  }
  // The plain value; nullopt for an SDK value or a list.
  std::optional<PlainValue> plain() const;
  // The elements; an AssertionError unless this is a list.
  const List& list() const;
  // What a whole-variable assignment takes: the scalar, or a list of scalars. A list that holds a
  // list is a TypeError.
  tavo_var::ScalarOrList to_scalar_or_list() const;
  // What an assignment to a whole variable takes: to_scalar_or_list() for an array target (or a
  // list), scalar() for a scalar one.
  tavo_var::ScalarOrList for_target(bool target_is_array) const;

  // As the SDK listing writes it: true, 7, 2.5, v0, v1[2], (v0 + 1), ~v2, and [1, 5, v0] for a list.
  std::string text() const;

  const std::variant<vell::tavo::Value, List>& get() const { return value_; }

 private:
  struct BitRegister {
    std::string name;
    std::int64_t size;
  };
  vell::tavo::Value register_integer() const;

  std::variant<vell::tavo::Value, List> value_;
  // Seldom set, and shared by copies: a lowered value stays small to move.
  std::shared_ptr<const BitRegister> register_;
};

// Lowers `oq_expression` with the variables of `variables_db` (read only). A null expression is an
// AssertionError.
LoweredValue lower_expression(const openqasm3::ast::Expression& oq_expression,
                              const programs::VariablesDB& variables_db);
LoweredValue lower_expression(const openqasm3::ast::ExprPtr& oq_expression,
                              const programs::VariablesDB& variables_db);

// The one index expression of an index (not lowered): AssertionError "Only single index is
// supported." unless `index` is a list of exactly one element (a discrete set fails too), and an
// AssertionError without message when that element is not an expression (a range).
openqasm3::ast::ExprPtr extract_single_index(const openqasm3::ast::IndexElement& index);
// The same expression where it stands, without a handle of its own (no reference count changes).
const openqasm3::ast::Expression& single_index(const openqasm3::ast::IndexElement& index);

// The clock cycles of a duration of `value` units (see the top of this file).
std::int64_t duration_cycles(double value, openqasm3::ast::TimeUnit unit);
// The nanoseconds of a duration of `value` units, from its exact decimal: an int64 when whole
// (4.004 us is 4004), else the nearest double.
PlainValue duration_ns(double value, openqasm3::ast::TimeUnit unit);

// The steps of lower_expression, for its own use and its tests.
LoweredValue _parse_binary_expression(const openqasm3::ast::BinaryExpression& oq_expression,
                                      const programs::VariablesDB& variables_db);
LoweredValue _parse_unary_expression(const openqasm3::ast::UnaryExpression& oq_expression,
                                     const programs::VariablesDB& variables_db);
LoweredValue _cast_expression(const LoweredValue& expression, const openqasm3::ast::ClassicalType& target);

}  // namespace vell_qasm::passes::code_generation
