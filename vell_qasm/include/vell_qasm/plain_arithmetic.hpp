// Arithmetic on plain values (bool, int64, double), the one table that constant folding, expression
// lowering and the demonstration machine's angle arithmetic all compute with.
//
// Values: a bool counts as the integer 0 or 1 wherever a number is expected; integers are int64
// and exact: a result int64 cannot hold is an OverflowError naming the operation ("The result of
// 2 ** 64 does not fit in a 64-bit integer"), never a wrap-around. A double operand makes an
// arithmetic result double.
//
//   + - *          int64 for two integral operands, else double
//   /              by the Division rule: floor_for_integers (two integral operands divide as
//                  integers rounding toward negative infinity, -7 / 2 is -4; else real division)
//                  or real (always real division). A zero divisor is a ZeroDivisionError.
//   %              the remainder of the division rounded toward negative infinity (the divisor's
//                  sign); integers give an integer
//   **             an integral base with a non-negative integral exponent is exact; otherwise
//                  real (0.0 to a negative power, a complex result, or an overflow are errors)
//   << >>          integral operands only (TypeError), non-negative count (ValueError); >> rounds
//                  toward negative infinity
//   & | ^          integral operands only, two's complement; two bools give a bool
//   < <= > >= == !=  exact numeric comparison across the three kinds (NaN is unordered)
//   && ||          on the truth of the operands; a bool
//   unary - ! ~    negation (a bool gives 0 or -1), truth negation, bitwise complement (integral)
//
// The truth of a value: false, 0, 0.0 and -0.0 are false, everything else (NaN included) true.
#pragma once

#include <compare>
#include <cstdint>
#include <string_view>

#include "openqasm3/ast.hpp"
#include "vell_qasm/value_text.hpp"

namespace vell_qasm::plain {

// How "/" divides two integral operands.
enum class Division { floor_for_integers, real };

bool is_integral(const PlainValue& v);
bool is_bool(const PlainValue& v);
// The integer of an integral value (a bool is 0 or 1); an AssertionError for a double.
std::int64_t as_int(const PlainValue& v);
// The value as a double (an integer is rounded to the nearest double).
double as_real(const PlainValue& v);
bool truth(const PlainValue& v);
// "bool", "int", "float".
const char* type_name(const PlainValue& v);

// The int64 of a double, truncated toward zero: ValueError for NaN, OverflowError for an infinity
// or a value beyond int64.
std::int64_t truncate_to_int(double value);

// Exact numeric comparison; unordered when a NaN takes part.
std::partial_ordering compare(const PlainValue& x, const PlainValue& y);

PlainValue apply(openqasm3::ast::BinaryOperator op, const PlainValue& x, const PlainValue& y,
                 Division division = Division::floor_for_integers);
PlainValue apply(openqasm3::ast::UnaryOperator op, const PlainValue& x);

// The pieces of apply() that math functions share.
PlainValue divide(const PlainValue& x, const PlainValue& y, Division division = Division::floor_for_integers);
PlainValue modulo(const PlainValue& x, const PlainValue& y);
PlainValue power(const PlainValue& x, const PlainValue& y);

// The OverflowError of an int64 result that does not fit, naming the operation ("2 ** 64").
[[noreturn]] void throw_overflow(std::string_view operation);

}  // namespace vell_qasm::plain
