#include "vell_qasm/passes/code_generation/lower_expression.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "openqasm3/parser.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

namespace ast = openqasm3::ast;
namespace tavo = vell::tavo;
using programs::UndeclaredVariableReferenceException;
using programs::VariableSignature;
using programs::VariablesDB;
using openqasm3::ast::TimeUnit;
using tavo_var::DType;

// The expression of the source text `text;`.
ast::ExprPtr expr(const std::string& text) {
  auto root = openqasm3::parse(text + ";");
  auto statement = ast::dyn_cast<ast::ExpressionStatement>(root->statements.at(0));
  if (!statement) throw std::logic_error("not an expression statement: " + text);
  return statement->expression;
}

// The initial value of the declaration `text;` (array literals stand only there).
ast::ExprPtr init(const std::string& text) {
  auto root = openqasm3::parse(text + ";");
  return ast::dyn_cast<ast::Expression>(
      ast::dyn_cast<ast::ClassicalDeclaration>(root->statements.at(0))->init_expression);
}

// Variables declared in a fresh program, in this order: i int (v0), b bool (v1), f fixed (v2),
// arr int[4] (v3), j int (v4). `s` is in the table but never declared.
class LowerExpressionTest : public ::testing::Test {
 protected:
  LowerExpressionTest() {
    declare(std::make_shared<tavo_var::TavoVar>("i", DType::Int));
    declare(std::make_shared<tavo_var::TavoVar>("b", DType::Bool));
    declare(std::make_shared<tavo_var::TavoVar>("f", tavo::fixed));
    declare(std::make_shared<tavo_var::TavoArr>("arr", DType::Int, 4));
    declare(std::make_shared<tavo_var::TavoVar>("j", DType::Int));
    db_.insert_or_assign(VariableSignature{"s"}, std::make_shared<tavo_var::TavoVar>("s", DType::Int));
  }

  void declare(const tavo_var::TavoVarPtr& var) {
    var->declare(false, false);
    db_.insert_or_assign(VariableSignature{var->name()}, var);
  }

  LoweredValue lower(const std::string& text) { return lower_expression(expr(text), db_); }
  std::string lowered(const std::string& text) { return lower(text).text(); }

  // Lowering `text` fails with an `E` whose message is `message`; nothing is emitted.
  template <class E>
  void expect_refusal(const std::string& text, const std::string& message) {
    SCOPED_TRACE(text);
    const std::string before = scope_.program().listing();
    try {
      (void)lower(text);
      ADD_FAILURE() << "no failure; expected: " << message;
    } catch (const E& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
    EXPECT_EQ(scope_.program().listing(), before);
  }

  tavo::ProgramScope scope_ = tavo::program();
  tavo::ScopeGuard entered_ = scope_.enter();
  VariablesDB db_;
};

// ---- plain values ----

TEST_F(LowerExpressionTest, LiteralsAndOperatorsOnPlainValuesStayPlain) {
  struct Case {
    const char* source;
    const char* text;
  };
  const Case cases[] = {
      {"true", "true"},          {"7", "7"},                  {"2.5", "2.5"},
      {"1 / 2", "0"},            {"7 / 7", "1"},              {"7 >> 1", "3"},
      {"-7 / 2", "-4"},          {"7.0 / 2", "3.5"},          {"true / true", "1"},
      {"-5 >> 1", "-3"},         {"-1 >> 70", "-1"},          {"3 << 2", "12"},
      {"true + true", "2"},      {"2 * 1.5", "3.0"},          {"5 - 7", "-2"},
      {"1 == 1.0", "true"},      {"true == 1", "true"},       {"2 > 1.5", "true"},
      {"1 <= 0", "false"},       {"3 >= 3", "true"},          {"-1 < -0.5", "true"},
      {"6 & 3", "2"},            {"6 | 3", "7"},              {"6 ^ 3", "5"},
      {"-1 & 255", "255"},       {"true & false", "false"},   {"true ^ true", "false"},
      {"true | 2", "3"},         {"-true", "-1"},             {"-false", "0"},
      {"-2.5", "-2.5"},          {"!true", "false"},          {"!false", "true"},
      {"!0", "true"},            {"!3", "false"},             {"!0.0", "true"},
      {"1 != 2", "true"},        {"1 != 1.0", "false"},       {"true != false", "true"},
      // Exact comparison: the double 2^63 is not the int64 2^63 - 1.
      {"9223372036854775807 == 9223372036854775808.0", "false"},
      {"9223372036854775807 < 9223372036854775808.0", "true"},
      {"9007199254740993 > 9007199254740992.0", "true"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    LoweredValue value = lower(c.source);
    EXPECT_TRUE(value.is_plain());
    EXPECT_EQ(value.text(), c.text);
  }
  // The kind of the result, not only its text.
  EXPECT_TRUE(std::holds_alternative<bool>(*lower("!true").plain()));
  EXPECT_TRUE(std::holds_alternative<bool>(*lower("1 != 2").plain()));
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(*lower("true + true").plain()));
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(*lower("true | 2").plain()));
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(*lower("4 / 2").plain()));
  EXPECT_TRUE(std::holds_alternative<double>(*lower("4 / 2.0").plain()));
}

TEST_F(LowerExpressionTest, Int64ArithmeticNeverWrapsAround) {
  const std::string max = "9223372036854775807";
  const std::string suffix = " does not fit in a 64-bit integer";
  expect_refusal<OverflowError>(max + " + 1", "The result of " + max + " + 1" + suffix);
  expect_refusal<OverflowError>("-" + max + " - 2", "The result of -" + max + " - 2" + suffix);
  expect_refusal<OverflowError>(max + " * 2", "The result of " + max + " * 2" + suffix);
  expect_refusal<OverflowError>("1 << 63", "The result of 1 << 63" + suffix);
  expect_refusal<OverflowError>("3 << 62", "The result of 3 << 62" + suffix);
  expect_refusal<OverflowError>("1 << 64", "The result of 1 << 64" + suffix);
  expect_refusal<OverflowError>("-(-" + max + " - 1)", "The result of -(-9223372036854775808)" + suffix);
  EXPECT_EQ(lowered("-1 << 63"), "-9223372036854775808");
  EXPECT_EQ(lowered("0 << 100"), "0");
  EXPECT_EQ(lowered("1 << 62"), "4611686018427387904");
  EXPECT_EQ(lowered("-" + max + " - 1"), "-9223372036854775808");
  EXPECT_EQ(lowered(max + " * 2.0"), "18446744073709551616.0");
}

TEST_F(LowerExpressionTest, PlainValueRefusals) {
  expect_refusal<ZeroDivisionError>("1 / 0", "integer division or modulo by zero");
  expect_refusal<ZeroDivisionError>("1.5 / 0.0", "float division by zero");
  expect_refusal<ZeroDivisionError>("1 / false", "integer division or modulo by zero");
  expect_refusal<OverflowError>("(-9223372036854775807 - 1) / -1",
                                "The result of -9223372036854775808 / -1 does not fit in a 64-bit integer");
  expect_refusal<TypeError>("1.5 << 1", "unsupported operand type(s) for <<: 'float' and 'int'");
  expect_refusal<TypeError>("1 >> 0.5", "unsupported operand type(s) for >>: 'int' and 'float'");
  expect_refusal<TypeError>("true & 1.0", "unsupported operand type(s) for &: 'bool' and 'float'");
  expect_refusal<ValueError>("1 << -1", "negative shift count");
  expect_refusal<ValueError>("1 >> -1", "negative shift count");
}

// ---- durations ----

TEST_F(LowerExpressionTest, DurationsAreClockCyclesOfTheExactDecimalTruncatedTowardZero) {
  struct Case {
    const char* source;
    std::int64_t cycles;
  };
  const Case cases[] = {
      {"10ns", 2},          {"4ns", 1},      {"3ns", 0},          {"1dt", 0},         {"8dt", 2},
      {"1.5us", 375},       {"2ms", 500000}, {"1s", 250000000},   {"-10ns", -2},      {"4.004us", 1001},
      {"0.1ns", 0},         {"1e-05s", 2500}, {"12345.678us", 3086419}, {"0ns", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    LoweredValue value = lower(c.source);
    ASSERT_TRUE(value.plain().has_value());
    ASSERT_TRUE(std::holds_alternative<std::int64_t>(*value.plain()));
    EXPECT_EQ(std::get<std::int64_t>(*value.plain()), c.cycles);
  }
  // Direct calls reach values that source text cannot write.

  EXPECT_EQ(duration_cycles(-0.0, TimeUnit::ns), 0);
  EXPECT_EQ(duration_cycles(-1.5, TimeUnit::us), -375);
  // The double is 2^65 exactly, whose quarter 2^63 would not fit; its text 3.6893488147419103e+19 fits.
  EXPECT_EQ(duration_cycles(3.6893488147419103e19, TimeUnit::ns), 9223372036854775750);
  EXPECT_EQ(duration_cycles(-3.6893488147419103e19, TimeUnit::ns), -9223372036854775750);
  EXPECT_EQ(duration_cycles(1e-300, TimeUnit::s), 0);
  EXPECT_THROW(duration_cycles(3.69e19, TimeUnit::ns), OverflowError);
  EXPECT_THROW(duration_cycles(1e300, TimeUnit::s), OverflowError);
  EXPECT_THROW(duration_cycles(-1e30, TimeUnit::dt), OverflowError);
  try {
    duration_cycles(1e20, TimeUnit::ms);
    ADD_FAILURE();
  } catch (const OverflowError& e) {
    EXPECT_STREQ(e.what(), "The duration 1e+20ms is too long: its clock cycles do not fit in a 64-bit integer");
  }
  EXPECT_THROW(duration_cycles(std::numeric_limits<double>::infinity(), TimeUnit::ns), OverflowError);
  EXPECT_THROW(duration_cycles(std::numeric_limits<double>::quiet_NaN(), TimeUnit::ns), ValueError);
}

// ---- SDK operands ----

TEST_F(LowerExpressionTest, SdkOperandsUseTheSdkOperatorWithThePlainValueOnEitherSide) {
  struct Case {
    const char* source;
    const char* text;
  };
  const Case cases[] = {
      {"i", "v0"},
      {"i + 1", "(v0 + 1)"},
      {"1 + i", "(1 + v0)"},
      {"2.5 - f", "(2.5 - v2)"},
      {"f * 2", "(v2 * 2)"},
      {"i / 2", "(v0 // 2)"},
      {"1 / i", "(1 // v0)"},
      {"b / i", "(v1 // v0)"},
      {"f / 2", "(v2 / 2)"},
      {"i / 2.0", "(v0 / 2.0)"},
      {"i >> 1", "(v0 >> 1)"},
      {"1 << i", "(1 << v0)"},
      {"i > 0", "(v0 > 0)"},
      {"0 >= i", "(0 >= v0)"},
      {"i < j", "(v0 < v4)"},
      {"f <= 1.5", "(v2 <= 1.5)"},
      {"i ^ 3", "(v0 ^ 3)"},
      {"true | b", "(true | v1)"},
      {"b & false", "(v1 & false)"},
      {"i == 2", "(v0 == 2)"},
      {"i != 2", "~(v0 == 2)"},
      {"2 != i", "~(2 == v0)"},
      {"!b", "~v1"},
      {"-i", "-v0"},
      {"-(1 + 2) * i", "(-3 * v0)"},
      {"(1 + 2) * (i + 1)", "(3 * (v0 + 1))"},
      {"arr[1]", "v3[1]"},
      {"arr[i]", "v3[v0]"},
      {"arr[i + 1] * 2", "(v3[(v0 + 1)] * 2)"},
      {"arr", "v3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    LoweredValue value = lower(c.source);
    EXPECT_TRUE(value.is_sdk());
    EXPECT_EQ(value.text(), c.text);
  }
  // Every SDK operator, with the plain value on the left and on the right.
  for (std::string op : {">>", "<<", ">", ">=", "<", "<=", "+", "^", "|", "&", "*", "-", "=="}) {
    SCOPED_TRACE(op);
    EXPECT_EQ(lowered("i " + op + " 2"), "(v0 " + op + " 2)");
    EXPECT_EQ(lowered("2 " + op + " i"), "(2 " + op + " v0)");
  }
  EXPECT_TRUE(std::get<tavo::Expr>(lower("arr[i]").scalar()).is_cell());
  // Lowering emits nothing.
  EXPECT_EQ(
      scope_.program().listing(),
      "declare v0: int = 0\ndeclare v1: bool = false\ndeclare v2: fixed = 0.0\ndeclare v3: int[4] = [0, 0, 0, 0]\n"
      "declare v4: int = 0\n");
}

TEST_F(LowerExpressionTest, SdkRefusalsPassThrough) {
  EXPECT_EQ(lowered("!i"), "(v0 == 0)");                 // ! of a number: is it zero
  EXPECT_EQ(lowered("!f"), "(v2 == 0)");
  EXPECT_THROW(lower("f << 1"), tavo::TavoTypeError);   // no shift of fixed
  EXPECT_THROW(lower("i / 0"), tavo::TavoValueError);   // plain zero divisor
  EXPECT_THROW(lower("arr[9]"), tavo::TavoValueError);  // plain index outside the array
  EXPECT_THROW(lower("arr + 1"), tavo::TavoTypeError);  // a whole array is no operand
}

// ---- names and indices ----

TEST_F(LowerExpressionTest, NameAndIndexRefusals) {
  expect_refusal<UndeclaredVariableReferenceException>("x", "The variable VariableSignature(name='x') does not exit.");
  // Operands are lowered before the operator is looked at.
  expect_refusal<UndeclaredVariableReferenceException>(
      "undeclared % 2", "The variable VariableSignature(name='undeclared') does not exit.");
  expect_refusal<UndeclaredVariableReferenceException>("nope[0]",
                                                       "The variable VariableSignature(name='nope') does not exit.");
  expect_refusal<tavo_var::FetchingUndeclaredVariableException>("s + 1", "Tried to operate on the variable 's'.");
  expect_refusal<tavo_var::IndexingVariableException>(
      "i[1]", "The variable \"i\" is not an array, and hence cannot be indexed");
  expect_refusal<AssertionError>("arr[1, 2]", "Only single index is supported.");
  expect_refusal<AssertionError>("arr[{0, 1}]", "Only single index is supported.");
  expect_refusal<AssertionError>("arr[0:2]", "A range (slice) as an index is not supported; index one element at a time.");
  expect_refusal<NotImplementedError>("arr[0][1]", "Only direct pointing on an array is supported");
  expect_refusal<NotImplementedError>("f(1)[0]", "Only direct pointing on an array is supported");
}

TEST(ExtractSingleIndex, ReturnsTheOneExpressionUnlowered) {
  auto index = ast::make<ast::Identifier>("k");
  EXPECT_EQ(extract_single_index(ast::IndexList{index}), index);
  EXPECT_THROW(extract_single_index(ast::IndexList{}), AssertionError);
  EXPECT_THROW(extract_single_index(ast::IndexList{nullptr}), AssertionError);
  // The same expression where it stands, refused alike.
  const ast::IndexElement element = ast::IndexList{index};
  EXPECT_EQ(&single_index(element), index.get());
  EXPECT_THROW((void)single_index(ast::IndexList{nullptr}), AssertionError);
  EXPECT_THROW((void)single_index(ast::IndexList{index, index}), AssertionError);
}

// ---- operators refused ----

TEST_F(LowerExpressionTest, UndefinedOperatorsKeepTextAndOperatorApart) {
  struct Case {
    const char* source;
    const char* subject;
  };
  const Case binary[] = {{"i % 2", "<BinaryOperator.%: 18>"},
                         {"i ** 2", "<BinaryOperator.**: 19>"},
                         {"b && b", "<BinaryOperator.&&: 7>"},
                         {"b || true", "<BinaryOperator.||: 8>"},
                         {"1 % 2", "<BinaryOperator.%: 18>"}};
  for (const Case& c : binary) {
    SCOPED_TRACE(c.source);
    try {
      (void)lower(c.source);
      ADD_FAILURE();
    } catch (const NotImplementedError& e) {
      EXPECT_EQ(e.text, "Binary expression undefined: ");
      EXPECT_EQ(std::get<std::string>(e.subject), c.subject);
      EXPECT_EQ(std::string(e.what()), std::string("('Binary expression undefined: ', ") + c.subject + ")");
    }
  }
  for (const char* source : {"~i", "~1"}) {
    SCOPED_TRACE(source);
    try {
      (void)lower(source);
      ADD_FAILURE();
    } catch (const NotImplementedError& e) {
      EXPECT_EQ(e.text, "Unary expression undefined: ");
      EXPECT_EQ(std::get<std::string>(e.subject), "<UnaryOperator.~: 1>");
    }
  }
}

// ---- casts ----

TEST_F(LowerExpressionTest, CastsConvertPlainValuesByValueAndSdkValuesOnlyWhenNeeded) {
  struct Case {
    const char* source;
    const char* text;
  };
  const Case cases[] = {
      {"int(2.7)", "2"},          {"int(-2.7)", "-2"},         {"int(true)", "1"},
      {"uint(-1.5)", "-1"},       {"int[8](300)", "300"},      {"float(3)", "3.0"},
      {"float(false)", "0.0"},    {"float[32](0.1)", "0.1"},   {"bool(0.0)", "false"},
      {"bool(2)", "true"},        {"bool(-0.5)", "true"},      {"bool(0)", "false"},
      {"int(i)", "v0"},           {"uint[8](i)", "v0"},        {"float(f)", "v2"},
      {"bool(b)", "v1"},          {"float(i)", "Cast.to_fixed(v0)"},
      {"bool(i)", "Cast.to_bool(v0)"},                         {"int(f)", "Cast.to_int(v2)"},
      {"int(b)", "Cast.to_int(v1)"},                           {"int(i + 0.5)", "Cast.to_int((v0 + 0.5))"},
      {"bool(i > 1)", "(v0 > 1)"},                             {"int(arr[0])", "v3[0]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(lowered(c.source), c.text);
  }
  EXPECT_TRUE(std::holds_alternative<double>(*lower("float(3)").plain()));
  expect_refusal<OverflowError>("int(1e19)", "The value 1e+19 does not fit in a 64-bit integer");
}

TEST_F(LowerExpressionTest, CastRefusals) {
  try {
    (void)lower_expression(ast::make<ast::Cast>(ast::make<ast::BitType>(nullptr), ast::make<ast::Identifier>("i")),
                           db_);
    ADD_FAILURE();
  } catch (const NotImplementedError& e) {
    EXPECT_EQ(std::string(e.what()), "Unsupported cast type: BitType(span=None, size=None)");
  }
  EXPECT_THROW(lower("bit(i)"), NotImplementedError);
  EXPECT_THROW(lower("angle[8](i)"), NotImplementedError);
  EXPECT_THROW(lower("duration(1.0)"), NotImplementedError);
  auto array_cast = ast::make<ast::Cast>(ast::make<ast::IntType>(nullptr), init("array[int, 2] a = {1, 2}"));
  try {
    (void)lower_expression(array_cast, db_);
    ADD_FAILURE();
  } catch (const NotImplementedError& e) {
    EXPECT_EQ(std::string(e.what()), "Casting array types is not supported");
  }
  EXPECT_THROW(lower("int(arr)"), tavo::TavoTypeError);  // a whole array has no scalar value
  // Inf and nan have no integer.
  EXPECT_THROW(_cast_expression(LoweredValue(std::numeric_limits<double>::infinity()), ast::IntType(nullptr)),
               OverflowError);
  EXPECT_THROW(_cast_expression(LoweredValue(std::nan("")), ast::IntType(nullptr)), ValueError);
}

// ---- array literals and other expressions ----

TEST_F(LowerExpressionTest, ArrayLiteralsBecomeListsOfLoweredValues) {
  LoweredValue value = lower_expression(init("array[int, 3] a = {1, 2 + 3, i}"), db_);
  ASSERT_TRUE(value.is_list());
  EXPECT_EQ(value.text(), "[1, 5, v0]");
  EXPECT_EQ(value.list().size(), 3U);
  EXPECT_TRUE(value.list()[2].is_sdk());
  auto flat = value.to_scalar_or_list();
  ASSERT_TRUE(std::holds_alternative<tavo_var::ScalarList>(flat));
  EXPECT_EQ(std::get<tavo_var::ScalarList>(flat).size(), 3U);

  LoweredValue nested = lower_expression(init("array[int, 2, 2] a = {{1, 2}, {i}}"), db_);
  EXPECT_EQ(nested.text(), "[[1, 2], [v0]]");
  EXPECT_THROW(nested.to_scalar_or_list(), TypeError);
  EXPECT_THROW((void)nested.scalar(), TypeError);
  // Lists are no operands.
  auto list = init("array[int, 2] a = {1, 2}");
  auto sum = ast::make<ast::BinaryExpression>(ast::BinaryOperator::plus, list, ast::make<ast::IntegerLiteral>(1));
  auto negated = ast::make<ast::UnaryExpression>(ast::UnaryOperator::negate, list);
  try {
    (void)lower_expression(sum, db_);
    ADD_FAILURE();
  } catch (const TypeError& e) {
    EXPECT_EQ(std::string(e.what()), "An array literal cannot be an operand of \"+\": [1, 2]");
  }
  EXPECT_THROW(lower_expression(negated, db_), TypeError);
}

TEST_F(LowerExpressionTest, OtherExpressionKindsAreRefusedWithTheirClassAndNode) {
  auto call = ast::make<ast::FunctionCall>(ast::make<ast::Identifier>("sin"),
                                           std::vector<ast::ExprPtr>{ast::make<ast::Identifier>("i")});
  try {
    (void)lower_expression(call, db_);
    ADD_FAILURE();
  } catch (const NotImplementedError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unsupported expression type: <class 'openqasm3.ast.FunctionCall'> at: FunctionCall(span=None, "
              "name=Identifier(span=None, name='sin'), arguments=[Identifier(span=None, name='i')])");
  }
  EXPECT_THROW(lower("sin(i)"), NotImplementedError);
  auto concatenation =
      ast::make<ast::Concatenation>(ast::make<ast::Identifier>("arr"), ast::make<ast::Identifier>("arr"));
  EXPECT_THROW(lower_expression(concatenation, db_), NotImplementedError);
  EXPECT_THROW(lower("\"01\""), NotImplementedError);
  EXPECT_THROW(lower("1.5im"), NotImplementedError);
}

TEST_F(LowerExpressionTest, NestingDeeperThanAnyParsedTreeIsRefusedNotAStackOverflow) {
  // Built by hand: the parser would refuse this depth itself.
  ast::ExprPtr deep = ast::make<ast::Identifier>("i");
  for (int k = 0; k < kMaxLoweringDepth + 10; ++k)
    deep = ast::make<ast::UnaryExpression>(ast::UnaryOperator::negate, deep);
  try {
    (void)lower_expression(deep, db_);
    ADD_FAILURE();
  } catch (const ValueError& e) {
    EXPECT_EQ(std::string(e.what()), "Expression nested more than 2000 levels deep cannot be lowered");
  }
  // Just within the bound, plain values fold all the way.
  ast::ExprPtr within = ast::make<ast::IntegerLiteral>(1);
  for (int k = 0; k < kMaxLoweringDepth - 1; ++k)
    within = ast::make<ast::UnaryExpression>(ast::UnaryOperator::negate, within);
  EXPECT_EQ(lower_expression(within, db_).text(), "-1");
  // Release the deep chains iteratively enough for the test itself.
  while (auto u = ast::dyn_cast<ast::UnaryExpression>(deep)) deep = u->expression;
}

// ---- duration arithmetic, bit registers, long chains ----

TEST_F(LowerExpressionTest, DurationArithmeticIsExactAndConvertedToCyclesOnce) {
  struct Case {
    const char* source;
    const char* text;
  };
  const Case cases[] = {
      {"10ns + 10ns", "5"},      // not 2 + 2
      {"1ns * 8", "2"},          // not 0 * 8
      {"8 * 1ns", "2"},
      {"3 * 1.5ns", "1"},        // 4.5 ns
      {"1us - 2ns", "249"},      // 998 ns
      {"10ns / 2", "1"},         // 5 ns
      {"10ns / 4", "0"},         // 2.5 ns, real division of a duration
      {"-(10ns + 10ns)", "-5"},
      {"20ns / 10ns", "2.0"},    // a ratio, no duration
      {"10ns + 10ns == 20ns", "true"},
      {"1.5ns + 2.5ns", "1"},
      {"4.004us", "1001"},
      {"i * 1ns", "Cast.to_int(((v0 * 1) / 4))"},
      {"1ns * f", "Cast.to_int(((1 * v2) / 4))"},
      // A duration variable holds clock cycles: it joins duration arithmetic as cycles * 4 ns.
      {"f + 10ns", "Cast.to_int((((v2 * 4) + 10) / 4))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(lowered(c.source), c.text);
  }
  EXPECT_EQ(std::get<std::int64_t>(duration_ns(4.004, TimeUnit::us)), 4004);
  EXPECT_EQ(std::get<double>(duration_ns(1.5, TimeUnit::ns)), 1.5);
  EXPECT_EQ(std::get<std::int64_t>(duration_ns(-2, TimeUnit::s)), -2000000000);
}

TEST_F(LowerExpressionTest, BitRegistersReadAsTheUnsignedIntegerOfTheirBits) {
  declare(std::make_shared<tavo_var::TavoArr>("c", DType::Bool, 3));  // v5
  declare(std::make_shared<tavo_var::TavoArr>("one", DType::Bool, 1));  // v6
  declare(std::make_shared<tavo_var::TavoArr>("wide", DType::Bool, 64));  // v7
  struct Case {
    const char* source;
    const char* text;
  };
  const std::string c = "((v5[0] + (v5[1] << 1)) + (v5[2] << 2))";
  const Case cases[] = {
      {"c == 3", "(((v5[0] + (v5[1] << 1)) + (v5[2] << 2)) == 3)"},
      {"c + 1", "(((v5[0] + (v5[1] << 1)) + (v5[2] << 2)) + 1)"},
      {"int(c)", "((v5[0] + (v5[1] << 1)) + (v5[2] << 2))"},
      {"one == 1", "(Cast.to_int(v6[0]) == 1)"},
      {"!c", "(((v5[0] + (v5[1] << 1)) + (v5[2] << 2)) == 0)"},
      {"c[1]", "v5[1]"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.source);
    EXPECT_EQ(lowered(k.source), k.text);
  }
  // As a whole the register stays an array (for whole-register assignment); as a scalar it is read.
  EXPECT_EQ(lowered("c"), "v5");
  EXPECT_EQ(tavo::text(lower("c").scalar()), c);
  EXPECT_TRUE(std::holds_alternative<tavo_var::ScalarList>(
      LoweredValue(LoweredValue::List{LoweredValue(1), LoweredValue(2)}).for_target(false)));
  EXPECT_EQ(tavo::text(std::get<tavo::Value>(lower("c").for_target(false))), c);
  EXPECT_EQ(tavo::text(std::get<tavo::Value>(lower("c").for_target(true))), "v5");
  expect_refusal<ValueError>("wide == 1", "The bit register wide of 64 bits cannot be read as an integer: a 64-bit "
                                          "integer holds 63 bits of an unsigned value");
}

TEST_F(LowerExpressionTest, LongFlatChainsAreLoweredWithoutDeepRecursion) {
  std::string plain = "1", sdk = "i";
  for (int k = 0; k < 15000; ++k) plain += " + 1";
  EXPECT_EQ(lowered(plain), "15001");
  // An SDK chain longer than the SDK nests is the SDK's clear refusal, not a stack overflow.
  for (int k = 0; k < 15000; ++k) sdk += " + 1";
  EXPECT_THROW(lower(sdk), tavo::TavoValueError);
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
