#include "vell_qasm/plain_arithmetic.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::plain {
namespace {

using BO = openqasm3::ast::BinaryOperator;
using I = std::int64_t;
constexpr I kMax = std::numeric_limits<I>::max();
constexpr I kMin = std::numeric_limits<I>::min();

// The division rule is the one parameter: the rest is the same table for every caller.
TEST(PlainArithmetic, DivisionRule) {
  struct Case {
    PlainValue x, y;
    Division division;
    const char* result;
  };
  const Case cases[] = {
      {I{7}, I{2}, Division::floor_for_integers, "3"},   {I{-7}, I{2}, Division::floor_for_integers, "-4"},
      {I{7}, I{-2}, Division::floor_for_integers, "-4"}, {I{-7}, I{-2}, Division::floor_for_integers, "3"},
      {true, true, Division::floor_for_integers, "1"},   {7.0, I{2}, Division::floor_for_integers, "3.5"},
      {I{7}, I{2}, Division::real, "3.5"},               {I{1}, I{3}, Division::real, "0.3333333333333333"},
      {kMax, I{1}, Division::real, "9.223372036854776e+18"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    EXPECT_EQ(value_text(apply(BO::divide, c.x, c.y, c.division)), c.result);
  }
  EXPECT_THROW(apply(BO::divide, I{1}, I{0}), ZeroDivisionError);
  EXPECT_THROW(apply(BO::divide, I{1}, I{0}, Division::real), ZeroDivisionError);
}

TEST(PlainArithmetic, OverflowsNameTheOperation) {
  struct Case {
    BO op;
    PlainValue x, y;
    const char* operation;
  };
  const Case cases[] = {
      {BO::plus, kMax, I{1}, "9223372036854775807 + 1"},
      {BO::times, kMin, I{-1}, "-9223372036854775808 * -1"},
      {BO::divide, kMin, I{-1}, "-9223372036854775808 / -1"},
      {BO::power, I{2}, I{64}, "2 ** 64"},
      {BO::shl, I{1}, I{63}, "1 << 63"},
  };
  for (const Case& c : cases) {
    try {
      apply(c.op, c.x, c.y);
      ADD_FAILURE() << c.operation;
    } catch (const OverflowError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("The result of ") + c.operation + " does not fit in a 64-bit integer");
    }
  }
  EXPECT_EQ(std::get<I>(apply(BO::shl, I{-1}, I{63})), kMin);
  EXPECT_EQ(std::get<I>(apply(BO::power, I{-2}, I{63})), kMin);
}

TEST(PlainArithmetic, TruthComparisonAndConversion) {
  EXPECT_FALSE(truth(-0.0));
  EXPECT_TRUE(truth(std::nan("")));
  EXPECT_FALSE(truth(false));
  EXPECT_TRUE(truth(I{-1}));
  // Exact: the double 2^63 is above every int64, and 2^53 + 1 is not the double 2^53.
  EXPECT_TRUE(compare(kMax, 9223372036854775808.0) < 0);
  EXPECT_TRUE(compare(I{9007199254740993}, 9007199254740992.0) > 0);
  EXPECT_TRUE(compare(std::nan(""), I{0}) == std::partial_ordering::unordered);
  EXPECT_EQ(truncate_to_int(-2.7), -2);
  EXPECT_THROW(truncate_to_int(9223372036854775808.0), OverflowError);
  EXPECT_THROW(truncate_to_int(std::nan("")), ValueError);
}

}  // namespace
}  // namespace vell_qasm::plain
