#include "vell_qasm/passes/code_resolving/binop_rules.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_resolving {
namespace {

namespace ast = openqasm3::ast;
using BO = ast::BinaryOperator;

ast::ExprPtr x() { return ast::make<ast::Identifier>("x"); }
ast::ExprPtr I(std::int64_t v) { return ast::make<ast::IntegerLiteral>(v); }
ast::ExprPtr F(double v) { return ast::make<ast::FloatLiteral>(v); }
ast::ExprPtr B(bool v) { return ast::make<ast::BooleanLiteral>(v); }

// What a rule gives: an operand node itself, the expression itself, or a new literal (its repr).
enum class Gives { lhs, rhs, node, literal };
struct Row {
  const char* text;
  ast::ExprPtr lhs;
  BO op;
  ast::ExprPtr rhs;
  Gives gives;
  std::string literal = "";
  ValueType x = ValueType::integer;  // the declared type of x
};

constexpr ValueType kBool = ValueType::boolean;
constexpr ValueType kReal = ValueType::real;

// Literals have their own type, every other operand the type given.
class Types : public OperandTypes {
 public:
  Types(const ast::BinaryExpression& node, ValueType others) : node_(node), others_(others) {}
  ValueType lhs() override { return of(node_.lhs); }
  ValueType rhs() override { return of(node_.rhs); }

 private:
  ValueType of(const ast::ExprPtr& e) const {
    auto value = utils::qasm_literal_value(e);
    return value ? type_of_value(*value) : others_;
  }
  const ast::BinaryExpression& node_;
  ValueType others_;
};

TEST(BinopRules, EveryRowInOrderAndTheCasesAroundThem) {
  const std::vector<Row> rows = {
      // the 21 rows
      {"0 / x", I(0), BO::divide, x(), Gives::lhs},
      {"x / 1", x(), BO::divide, I(1), Gives::lhs},
      {"0 * x", I(0), BO::times, x(), Gives::lhs},
      {"x * 0", x(), BO::times, I(0), Gives::rhs},
      {"1 * x", I(1), BO::times, x(), Gives::rhs},
      {"x * 1", x(), BO::times, I(1), Gives::lhs},
      {"0 + x", I(0), BO::plus, x(), Gives::rhs},
      {"x + 0", x(), BO::plus, I(0), Gives::lhs},
      {"x - 0", x(), BO::minus, I(0), Gives::lhs},
      {"false & x", B(false), BO::bit_and, x(), Gives::lhs, "", kBool},
      {"x & false", x(), BO::bit_and, B(false), Gives::rhs, "", kBool},
      {"true & x", B(true), BO::bit_and, x(), Gives::rhs, "", kBool},
      {"x & true", x(), BO::bit_and, B(true), Gives::lhs, "", kBool},
      {"false | x", B(false), BO::bit_or, x(), Gives::rhs, "", kBool},
      {"x | false", x(), BO::bit_or, B(false), Gives::lhs, "", kBool},
      {"true | x", B(true), BO::bit_or, x(), Gives::lhs, "", kBool},
      {"x | true", x(), BO::bit_or, B(true), Gives::rhs, "", kBool},
      {"0 ** x: 0 ** 0 is 1", I(0), BO::power, x(), Gives::node},
      {"x ** 0", x(), BO::power, I(0), Gives::literal, "IntegerLiteral(span=None, value=1)"},
      {"1 ** x", I(1), BO::power, x(), Gives::lhs},
      {"x ** 1", x(), BO::power, I(1), Gives::lhs},
      // numbers match by value across kinds
      {"x * 0.0", x(), BO::times, F(0.0), Gives::rhs},
      {"-0.0 * x", F(-0.0), BO::times, x(), Gives::lhs},
      {"x * false: an integer, not false", x(), BO::times, B(false), Gives::node},
      {"x + false", x(), BO::plus, B(false), Gives::lhs},
      {"x * true", x(), BO::times, B(true), Gives::lhs},
      {"x / 1.0: a real", x(), BO::divide, F(1.0), Gives::node},
      {"x / 1.0 of a real x", x(), BO::divide, F(1.0), Gives::lhs, "", kReal},
      {"x & 0", x(), BO::bit_and, I(0), Gives::rhs},
      {"0.0 & x: no such operation", F(0.0), BO::bit_and, x(), Gives::node},
      {"x | 0", x(), BO::bit_or, I(0), Gives::lhs},
      {"x ** 0.0", x(), BO::power, F(0.0), Gives::literal, "FloatLiteral(span=None, value=1.0)"},
      {"x ** -0.0", x(), BO::power, F(-0.0), Gives::literal, "FloatLiteral(span=None, value=1.0)"},
      {"x ** false: an integer, not true", x(), BO::power, B(false), Gives::node},
      {"x ** 1.0: a real", x(), BO::power, F(1.0), Gives::node},
      {"x ** true", x(), BO::power, B(true), Gives::lhs},
      // the rows with true match the boolean literal only: n & 1 is no n, n | 1 no 1
      {"x & 1", x(), BO::bit_and, I(1), Gives::node},
      {"1 & x", I(1), BO::bit_and, x(), Gives::node},
      {"x | 1", x(), BO::bit_or, I(1), Gives::node},
      {"1 | x", I(1), BO::bit_or, x(), Gives::node},
      {"x & 1.0", x(), BO::bit_and, F(1.0), Gives::node},
      {"1.0 | x", F(1.0), BO::bit_or, x(), Gives::node},
      // no row
      {"x * 2", x(), BO::times, I(2), Gives::node},
      {"0 - x", I(0), BO::minus, x(), Gives::node},
      {"1 / x", I(1), BO::divide, x(), Gives::node},
      {"x / 0", x(), BO::divide, I(0), Gives::node},
      {"x * y", x(), BO::times, ast::make<ast::Identifier>("y"), Gives::node},
      {"x % 1", x(), BO::modulo, I(1), Gives::node},
      {"x << 0", x(), BO::shl, I(0), Gives::node},
      {"x ^ 0", x(), BO::bit_xor, I(0), Gives::node},
      {"x && false", x(), BO::logical_and, B(false), Gives::node},
      {"x == 0", x(), BO::eq, I(0), Gives::node},
      {"x * 0.5", x(), BO::times, F(0.5), Gives::node},
      {"x * nan", x(), BO::times, F(std::nan("")), Gives::node},
      {"x + 9007199254740992.0 is no 0", x(), BO::plus, F(9007199254740992.0), Gives::node},
      // two literals: the first matching row decides
      {"0 / 0", I(0), BO::divide, I(0), Gives::lhs},
      {"0 * 1", I(0), BO::times, I(1), Gives::lhs},
      {"1 * 0", I(1), BO::times, I(0), Gives::rhs},
      {"true & true", B(true), BO::bit_and, B(true), Gives::rhs},
      {"0 ** 0", I(0), BO::power, I(0), Gives::literal, "IntegerLiteral(span=None, value=1)"},
      {"0 ** 2", I(0), BO::power, I(2), Gives::lhs},
      // folding never changes a type
      {"x * 0 of a real x", x(), BO::times, I(0), Gives::node, "", kReal},
      {"0 * x of a real x", I(0), BO::times, x(), Gives::node, "", kReal},
      {"x + 0 of a real x", x(), BO::plus, I(0), Gives::lhs, "", kReal},
      {"x * 1 of a real x", x(), BO::times, I(1), Gives::lhs, "", kReal},
      {"x ** 0 of a real x", x(), BO::power, I(0), Gives::node, "", kReal},
      {"x + 0 of a bool x: an integer", x(), BO::plus, I(0), Gives::node, "", kBool},
      {"m & true of an integer m is m & 1", x(), BO::bit_and, B(true), Gives::node},
      {"true | m of an integer m", B(true), BO::bit_or, x(), Gives::node},
      {"m & false of an integer m is 0, not false", x(), BO::bit_and, B(false), Gives::node},
      {"x + 0 of an unknown x", x(), BO::plus, I(0), Gives::node, "", ValueType::unknown},
      {"d * 1 of a duration d", x(), BO::times, I(1), Gives::lhs, "", ValueType::duration},
      {"d * 0 of a duration d", x(), BO::times, I(0), Gives::node, "", ValueType::duration},
      {"d + 0 of a duration d", x(), BO::plus, I(0), Gives::node, "", ValueType::duration},
      {"1 ** 0", I(1), BO::power, I(0), Gives::literal, "IntegerLiteral(span=None, value=1)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    auto node = ast::make<ast::BinaryExpression>(row.op, row.lhs, row.rhs);
    Types types(*node, row.x);
    ast::ExprPtr result = calculate_binop_rules(node, types);
    switch (row.gives) {
      case Gives::lhs:
        EXPECT_EQ(result, row.lhs);
        break;
      case Gives::rhs:
        EXPECT_EQ(result, row.rhs);
        break;
      case Gives::node:
        EXPECT_EQ(result, node);
        break;
      case Gives::literal:
        ASSERT_NE(result, nullptr);
        EXPECT_NE(result, row.lhs);
        EXPECT_NE(result, row.rhs);
        EXPECT_EQ(ast::repr(result), row.literal);
        break;
    }
    // The expression itself is never changed.
    EXPECT_EQ(node->lhs, row.lhs);
    EXPECT_EQ(node->rhs, row.rhs);
  }
}

TEST(BinopRules, EachPowerOfZeroIsAFreshLiteral) {
  auto node = ast::make<ast::BinaryExpression>(BO::power, x(), I(0));
  Types types(*node, ValueType::integer);
  EXPECT_NE(calculate_binop_rules(node, types), calculate_binop_rules(node, types));
}

TEST(BinopRules, WithoutTypesOnlyLiteralsHaveOne) {
  auto unknown = ast::make<ast::BinaryExpression>(BO::plus, x(), I(0));
  EXPECT_EQ(calculate_binop_rules(unknown), unknown);
  auto literals = ast::make<ast::BinaryExpression>(BO::times, I(0), I(5));
  EXPECT_EQ(calculate_binop_rules(literals), literals->lhs);
}

TEST(BinopRules, ResultTypes) {
  using T = ValueType;
  struct Case {
    BO op;
    T lhs, rhs, result;
  };
  const Case cases[] = {
      {BO::plus, T::integer, T::boolean, T::integer},   {BO::plus, T::boolean, T::boolean, T::integer},
      {BO::plus, T::integer, T::real, T::real},         {BO::divide, T::integer, T::integer, T::integer},
      {BO::divide, T::duration, T::integer, T::duration}, {BO::divide, T::duration, T::duration, T::real},
      {BO::divide, T::integer, T::duration, T::unknown}, {BO::times, T::real, T::duration, T::duration},
      {BO::plus, T::duration, T::integer, T::unknown},  {BO::bit_and, T::boolean, T::boolean, T::boolean},
      {BO::bit_and, T::boolean, T::integer, T::integer}, {BO::bit_or, T::real, T::integer, T::unknown},
      {BO::lt, T::unknown, T::integer, T::boolean},     {BO::shl, T::boolean, T::integer, T::integer},
      {BO::power, T::integer, T::unknown, T::unknown},
  };
  for (const Case& c : cases) EXPECT_EQ(binary_result_type(c.op, c.lhs, c.rhs), c.result) << ast::symbol(c.op);
}

TEST(BinopRules, PatternsMatchByValueButTrueOnlyTheBooleanLiteral) {
  const PlainValue zero = std::int64_t{0};
  EXPECT_TRUE(matches(ANYTHING, std::nullopt));
  EXPECT_FALSE(matches(zero, std::nullopt));
  EXPECT_FALSE(matches(BooleanOnly{true}, std::nullopt));
  EXPECT_TRUE(matches(zero, PlainValue(-0.0)));
  EXPECT_TRUE(matches(PlainValue(false), PlainValue(0.0)));
  EXPECT_FALSE(matches(zero, PlainValue(std::numeric_limits<double>::denorm_min())));
  // 2**63 as a double is no int64, so it equals no integer pattern and the comparison is exact.
  EXPECT_FALSE(matches(PlainValue(std::numeric_limits<std::int64_t>::min()), PlainValue(9223372036854775808.0)));
  EXPECT_TRUE(matches(PlainValue(std::numeric_limits<std::int64_t>::min()), PlainValue(-9223372036854775808.0)));
  EXPECT_FALSE(matches(PlainValue(std::int64_t{9007199254740993}), PlainValue(9007199254740992.0)));
  EXPECT_TRUE(matches(BooleanOnly{true}, PlainValue(true)));
  EXPECT_FALSE(matches(BooleanOnly{true}, PlainValue(std::int64_t{1})));
  EXPECT_FALSE(matches(BooleanOnly{true}, PlainValue(false)));
  // A boolean counts as 0 or 1 against a number pattern, and a number pattern as itself.
  EXPECT_TRUE(matches(zero, PlainValue(false)));
  EXPECT_TRUE(matches(PlainValue(true), PlainValue(std::int64_t{1})));
  EXPECT_FALSE(matches(PlainValue(std::int64_t{1}), PlainValue(false)));
  EXPECT_FALSE(matches(zero, PlainValue(std::int64_t{-1})));
}

TEST(BinopRules, LiteralOfTheExponentsKindRefusesOtherNodeKinds) {
  auto answer = return_literal_as_type_of_rhs(PlainValue(std::int64_t{1}));
  try {
    answer(x(), x());
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "Type <class 'openqasm3.ast.Identifier'> is not supported.");
  }
  EXPECT_EQ(ast::repr(return_literal_as_type_of_rhs(PlainValue(0.0))(x(), B(true))),
            "BooleanLiteral(span=None, value=False)");
  EXPECT_EQ(ast::repr(return_literal_as_type_of_rhs(PlainValue(2.5))(x(), I(0))), "IntegerLiteral(span=None, value=2)");
}

}  // namespace
}  // namespace vell_qasm::passes::code_resolving
