#include "vell_qasm/passes/code_resolving/expr_folding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/logging.hpp"

namespace vell_qasm::passes::code_resolving {
namespace {

namespace ast = openqasm3::ast;
using BO = ast::BinaryOperator;
using UO = ast::UnaryOperator;
using programs::OpenQasmProgram;

const std::string kLogger = "vell_qasm.passes.code_resolving.expr_folding";
constexpr std::int64_t kIntMin = std::numeric_limits<std::int64_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNan = std::nan("");

ast::ExprPtr x() { return ast::make<ast::Identifier>("x"); }
ast::ExprPtr I(std::int64_t v) { return ast::make<ast::IntegerLiteral>(v); }
ast::ExprPtr F(double v) { return ast::make<ast::FloatLiteral>(v); }
ast::ExprPtr bin(BO op, ast::ExprPtr l, ast::ExprPtr r) { return ast::make<ast::BinaryExpression>(op, l, r); }
ast::ExprPtr un(UO op, ast::ExprPtr e) { return ast::make<ast::UnaryExpression>(op, e); }
ast::ExprPtr call(std::string name, std::vector<ast::ExprPtr> args) {
  return ast::make<ast::FunctionCall>(ast::make<ast::Identifier>(std::move(name)), std::move(args));
}

// As the value of an assignment: an expression statement could not start with pow(...).
ast::ExprPtr parse_expression(const std::string& text) {
  auto tree = openqasm3::parse("x = " + text + ";");
  return ast::dyn_cast<ast::ClassicalAssignment>(tree->statements.at(0))->rvalue;
}

// Folds `expression` as the one statement of a program; returns what stands in its place.
ast::ExprPtr fold(const ast::ExprPtr& expression) {
  auto statement = ast::make<ast::ExpressionStatement>(expression);
  auto tree = ast::make<ast::Program>(std::vector<ast::NodePtr>{statement});
  auto given = std::make_shared<OpenQasmProgram>(tree);
  auto result = std::dynamic_pointer_cast<OpenQasmProgram>(ExpressionsOptimizationStep()(given));
  EXPECT_NE(result, given);
  EXPECT_EQ(result->ast(), tree);
  return statement->expression;
}

// Folds `expression` as the statement after the declarations of `declarations`.
ast::ExprPtr fold_declared(const std::string& declarations, const ast::ExprPtr& expression) {
  auto tree = openqasm3::parse(declarations);
  auto statement = ast::make<ast::ExpressionStatement>(expression);
  tree->statements.push_back(statement);
  ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(tree));
  return statement->expression;
}

std::string illegal_message(const ast::ExprPtr& expression) {
  try {
    fold(expression);
  } catch (const IllegalMathExpression& e) {
    return e.what();
  }
  return "(no IllegalMathExpression)";
}

// A row gives a literal of the value's kind, or the refusal that names this expression text.
struct Illegal {
  std::string expression;
};
using Expected = std::variant<PlainValue, Illegal>;
struct Case {
  std::string source;
  Expected expected;
  ast::ExprPtr built = nullptr;  // when the source cannot say it (NaN, infinity, least int64)
};
Expected V(std::int64_t v) { return PlainValue(v); }
Expected V(double v) { return PlainValue(v); }
Expected V(bool v) { return PlainValue(v); }
Expected illegal(std::string expression) { return Illegal{std::move(expression)}; }

void check(const Case& c) {
  SCOPED_TRACE(c.source);
  ast::ExprPtr expression = c.built ? c.built : parse_expression(c.source);
  if (auto* refusal = std::get_if<Illegal>(&c.expected)) {
    EXPECT_EQ(illegal_message(expression), "The operation " + refusal->expression + " is illegal");
    return;
  }
  const auto& value = std::get<PlainValue>(c.expected);
  ast::ExprPtr result = fold(expression);
  ASSERT_NE(result, nullptr);
  std::string got;
  if (auto b = ast::dyn_cast<ast::BooleanLiteral>(result)) {
    EXPECT_TRUE(std::holds_alternative<bool>(value)) << ast::repr(result);
    got = value_text(b->value);
  } else if (auto i = ast::dyn_cast<ast::IntegerLiteral>(result)) {
    EXPECT_TRUE(std::holds_alternative<std::int64_t>(value)) << ast::repr(result);
    got = value_text(i->value);
  } else if (auto f = ast::dyn_cast<ast::FloatLiteral>(result)) {
    EXPECT_TRUE(std::holds_alternative<double>(value)) << ast::repr(result);
    got = value_text(f->value);
  } else {
    ADD_FAILURE() << "no literal: " << ast::repr(result);
  }
  EXPECT_EQ(got, value_text(value));
}

TEST(ExprFolding, BinaryOperators) {
  const std::vector<Case> cases = {
      {"2 > 1", V(true)},
      {"1 > 1.0", V(false)},
      {"9007199254740993 > 9007199254740992.0", V(true)},
      {"9223372036854775807 >= 9223372036854775808.0", V(false)},
      {"9007199254740992.0 < 9007199254740993", V(true)},
      {"false < true", V(true)},
      {"1 >= 1.0", V(true)},
      {"-1 >= 0", V(false)},
      {"2.5 <= 2", V(false)},
      {"-9223372036854775807 <= -9223372036854775808.0", V(false)},
      {"true == 1", V(true)},
      {"1 == 1.0", V(true)},
      {"false == 0.0", V(true)},
      {"9007199254740993 == 9007199254740992.0", V(false)},
      {"1 != 1.0", V(false)},
      {"2 != true", V(true)},
      {"true && 0", V(false)},
      {"2 && 0.5", V(true)},
      {"2 || 0", V(true)},
      {"0 || 0.0", V(false)},
      {"-1 | 4", V(std::int64_t{-1})},
      {"true | false", V(true)},
      {"true | 2", V(std::int64_t{3})},
      {"1.0 | 1", illegal("1.0 | 1")},
      {"6 ^ 3", V(std::int64_t{5})},
      {"true ^ true", V(false)},
      {"1 ^ 0.5", illegal("1 ^ 0.5")},
      {"true & false", V(false)},
      {"true & 3", V(std::int64_t{1})},
      {"12 & 10", V(std::int64_t{8})},
      {"2.0 & 1", illegal("2.0 & 1")},
      {"1 << 62", V(std::int64_t{4611686018427387904})},
      {"true << 2", V(std::int64_t{4})},
      {"(-1) << 63", V(kIntMin)},
      {"0 << 100", V(std::int64_t{0})},
      {"1 << 63", illegal("1 << 63")},
      {"1 << 70", illegal("1 << 70")},
      {"(-3) << 62", illegal("-3 << 62")},
      {"1 << -1", illegal("1 << -1")},
      {"1.5 << 1", illegal("1.5 << 1")},
      {"-8 >> 1", V(std::int64_t{-4})},
      {"-1 >> 5", V(std::int64_t{-1})},
      {"-1 >> 100", V(std::int64_t{-1})},
      {"5 >> 100", V(std::int64_t{0})},
      {"true >> 0", V(std::int64_t{1})},
      {"1 >> -1", illegal("1 >> -1")},
      {"4 >> 1.0", illegal("4 >> 1.0")},
      {"1 + 2", V(std::int64_t{3})},
      {"true + true", V(std::int64_t{2})},
      {"1 + 0.5", V(1.5)},
      {"1e308 + 1e308", V(kInf)},
      {"9223372036854775807 + 1", illegal("9223372036854775807 + 1")},
      {"5 - 7", V(std::int64_t{-2})},
      {"0.5 - 1", V(-0.5)},
      {"-9223372036854775807 - 2", illegal("-9223372036854775807 - 2")},
      {"6 * 7", V(std::int64_t{42})},
      {"true * 2.5", V(2.5)},
      {"4294967296 * 4294967296", illegal("4294967296 * 4294967296")},
      {"7 / 2", V(std::int64_t{3})},
      {"-7 / 2", V(std::int64_t{-4})},
      {"7 / -2", V(std::int64_t{-4})},
      {"-7 / -2", V(std::int64_t{3})},
      {"7.0 / 2", V(3.5)},
      {"true / true", V(std::int64_t{1})},
      {"1 / 0", illegal("1 / 0")},
      {"1.0 / 0", illegal("1.0 / 0")},
      {"0.0 / 0.0", illegal("0.0 / 0.0")},
      {"1 / false", illegal("1 / False")},
      {"7 % 3", V(std::int64_t{1})},
      {"-7 % 3", V(std::int64_t{2})},
      {"7 % -3", V(std::int64_t{-2})},
      {"-6 % 3", V(std::int64_t{0})},
      {"-7.5 % 2", V(0.5)},
      {"7.5 % -2", V(-0.5)},
      {"6.0 % -3", V(-0.0)},
      {"5 % 0", illegal("5 % 0")},
      {"5.0 % 0.0", illegal("5.0 % 0.0")},
      {"2 ** 10", V(std::int64_t{1024})},
      {"(-2) ** 63", V(kIntMin)},
      {"true ** 5", V(std::int64_t{1})},
      {"0 ** 0", V(std::int64_t{1})},
      {"1 ** 1000000000000000000", V(std::int64_t{1})},
      {"(-1) ** 1000000000000000001", V(std::int64_t{-1})},
      {"2 ** 63", illegal("2 ** 63")},
      {"2 ** 64", illegal("2 ** 64")},
      {"3 ** 40", illegal("3 ** 40")},
      {"2 ** -1", V(0.5)},
      {"0 ** -1", illegal("0 ** -1")},
      {"0.0 ** -1", illegal("0.0 ** -1")},
      {"2.0 ** 0.5", V(1.4142135623730951)},
      {"(-2.0) ** 3", V(-8.0)},
      {"10.0 ** -400", V(0.0)},
      {"10.0 ** 400", illegal("10.0 ** 400")},
      {"(-8.0) ** 0.5", illegal("-8.0 ** 0.5")},
      {"(-1) ** 0.5", illegal("-1 ** 0.5")},
  };
  for (const auto& c : cases) check(c);
}

TEST(ExprFolding, UnaryOperators) {
  const std::vector<Case> cases = {
      {"!0.0", V(true)},
      {"!5", V(false)},
      {"!true", V(false)},
      {"-true", V(std::int64_t{-1})},
      {"-false", V(std::int64_t{0})},
      {"-2.5", V(-2.5)},
      {"-(-5)", V(std::int64_t{5})},
      {"~true", V(std::int64_t{-2})},
      {"~false", V(std::int64_t{-1})},
      {"~5", V(std::int64_t{-6})},
      {"~2.5", illegal("~(2.5)")},
  };
  for (const auto& c : cases) check(c);
}

TEST(ExprFolding, MathFunctions) {
  const std::vector<Case> cases = {
      {"exp(0)", V(1.0)},
      {"exp(1)", V(2.718281828459045)},
      {"exp(-1000)", V(0.0)},
      {"exp(1000)", illegal("exp(1000)")},
      {"exp()", illegal("exp()")},
      {"log(1)", V(0.0)},
      {"log(true)", V(0.0)},
      {"log(8, 2)", V(3.0)},
      {"log(0)", illegal("log(0)")},
      {"log(-1.5)", illegal("log(-1.5)")},
      {"log(8, 1)", illegal("log(8, 1)")},
      {"log(8, 0)", illegal("log(8, 0)")},
      {"log(8, 2, 2)", illegal("log(8, 2, 2)")},
      {"log()", illegal("log()")},
      {"mod(-7, 3)", V(std::int64_t{2})},
      {"mod(7.5, 2)", V(1.5)},
      {"mod(1, 0)", illegal("mod(1, 0)")},
      {"mod(1)", illegal("mod(1)")},
      // pow is a keyword of the language (a gate modifier): no source text calls it
      {"pow(2, 3)", V(std::int64_t{8}), call("pow", {I(2), I(3)})},
      {"pow(2, -2)", V(0.25), call("pow", {I(2), I(-2)})},
      {"pow(0, -1)", illegal("pow(0, -1)"), call("pow", {I(0), I(-1)})},
      {"pow(2, 64)", illegal("pow(2, 64)"), call("pow", {I(2), I(64)})},
      {"pow(2, 3, 4)", illegal("pow(2, 3, 4)"), call("pow", {I(2), I(3), I(4)})},
      {"cos(0)", V(1.0)},
      {"cos(false)", V(1.0)},
      {"sin(0)", V(0.0)},
      {"sin()", illegal("sin()")},
      {"sin(1, 2)", illegal("sin(1, 2)")},
      {"tan(1.0)", V(1.5574077246549023)},
      {"arccos(1)", V(0.0)},
      {"arccos(-1)", V(3.141592653589793)},
      {"arccos(2)", illegal("arccos(2)")},
      {"arcsin(1)", V(1.5707963267948966)},
      {"arcsin(-1.5)", illegal("arcsin(-1.5)")},
      {"arctan(1)", V(0.7853981633974483)},
      {"arctan(1e308)", V(1.5707963267948966)},
      // ceiling and floor give reals, as the language's do
      {"ceiling(2.1)", V(3.0)},
      {"ceiling(-2.5)", V(-2.0)},
      {"ceiling(7)", V(7.0)},
      {"ceiling(true)", V(1.0)},
      {"ceiling(1e19)", V(1e19)},
      {"ceiling(2.5) / 2", V(1.5)},
      {"floor(-2.5)", V(-3.0)},
      {"floor(2.9)", V(2.0)},
      {"floor(7) / 2", V(3.5)},
      {"floor(1.0, 2.0)", illegal("floor(1.0, 2.0)")},
      {"sqrt(4)", V(2.0)},
      {"sqrt(2)", V(1.4142135623730951)},
      {"sqrt(-0.0)", V(-0.0)},
      {"sqrt(-1)", illegal("sqrt(-1)")},
  };
  for (const auto& c : cases) check(c);
}

// Values that no source text writes: NaN, the infinities and the least int64.
TEST(ExprFolding, SpecialValues) {
  const std::vector<Case> cases = {
      {"nan > 1", V(false), bin(BO::gt, F(kNan), I(1))},
      {"nan == nan", V(false), bin(BO::eq, F(kNan), F(kNan))},
      {"nan != nan", V(true), bin(BO::ne, F(kNan), F(kNan))},
      {"!nan", V(false), un(UO::logical_not, F(kNan))},
      {"nan || false", V(true), bin(BO::logical_or, F(kNan), ast::make<ast::BooleanLiteral>(false))},
      {"inf > int64 max", V(true), bin(BO::gt, F(kInf), I(std::numeric_limits<std::int64_t>::max()))},
      {"-inf < int64 min", V(true), bin(BO::lt, F(-kInf), I(kIntMin))},
      {"-(least int64)", illegal("-(-9223372036854775808)"), un(UO::negate, I(kIntMin))},
      {"~(least int64)", V(std::numeric_limits<std::int64_t>::max()), un(UO::bit_not, I(kIntMin))},
      {"least / -1", illegal("-9223372036854775808 / -1"), bin(BO::divide, I(kIntMin), I(-1))},
      {"least % -1", V(std::int64_t{0}), bin(BO::modulo, I(kIntMin), I(-1))},
      {"least * -1", illegal("-9223372036854775808 * -1"), bin(BO::times, I(kIntMin), I(-1))},
      {"nan ** 0", V(1.0), bin(BO::power, F(kNan), I(0))},
      {"1.0 ** nan", V(1.0), bin(BO::power, F(1.0), F(kNan))},
      {"inf ** -1", V(0.0), bin(BO::power, F(kInf), I(-1))},
      {"-inf ** 3", V(-kInf), bin(BO::power, F(-kInf), I(3))},
      {"0.5 ** -inf", V(kInf), bin(BO::power, F(0.5), F(-kInf))},
      {"inf % 2", V(kNan), bin(BO::modulo, F(kInf), I(2))},
      {"-5 % inf", V(kInf), bin(BO::modulo, I(-5), F(kInf))},
      {"inf + -inf", V(kNan), bin(BO::plus, F(kInf), F(-kInf))},
      {"exp(inf)", V(kInf), call("exp", {F(kInf)})},
      {"log(inf)", V(kInf), call("log", {F(kInf)})},
      {"log(nan)", V(kNan), call("log", {F(kNan)})},
      {"log(-inf)", illegal("log(-inf)"), call("log", {F(-kInf)})},
      {"cos(inf)", illegal("cos(inf)"), call("cos", {F(kInf)})},
      {"sin(-inf)", illegal("sin(-inf)"), call("sin", {F(-kInf)})},
      {"tan(inf)", illegal("tan(inf)"), call("tan", {F(kInf)})},
      {"sqrt(-inf)", illegal("sqrt(-inf)"), call("sqrt", {F(-kInf)})},
      {"sqrt(nan)", V(kNan), call("sqrt", {F(kNan)})},
      {"ceiling(inf)", V(kInf), call("ceiling", {F(kInf)})},
      {"floor(nan)", V(kNan), call("floor", {F(kNan)})},
      {"arctan(inf)", V(1.5707963267948966), call("arctan", {F(kInf)})},
  };
  for (const auto& c : cases) check(c);
}

TEST(ExprFolding, RefusalKeepsTheComputationsErrorAsCause) {
  try {
    fold(parse_expression("1 / 0"));
    FAIL();
  } catch (const IllegalMathExpression& e) {
    ASSERT_TRUE(e.cause());
    EXPECT_THROW(std::rethrow_exception(e.cause()), ZeroDivisionError);
  }
}

TEST(ExprFolding, FirstFailureInWalkOrderIsReported) {
  EXPECT_EQ(illegal_message(parse_expression("(1 / 0) + (2 / 0)")), "The operation 1 / 0 is illegal");
  EXPECT_EQ(illegal_message(parse_expression("f(2 % 0, 1 / 0)")), "The operation 2 % 0 is illegal");
}

std::vector<std::string> texts(const logging::Capture& capture) {
  std::vector<std::string> out;
  for (auto& r : capture.records(kLogger)) {
    EXPECT_EQ(r.level, spdlog::level::debug);
    out.push_back(r.text);
  }
  return out;
}

TEST(ExprFolding, ComputationsAreRecordedWithTheirValueTexts) {
  logging::Capture capture;
  fold(parse_expression("1 + 2"));
  fold(parse_expression("true && false"));
  fold(bin(BO::divide, call("pow", {I(2), I(10)}), F(4.0)));
  fold(parse_expression("1e-5 * 2"));
  fold(parse_expression("1e15 * 10"));
  EXPECT_EQ(texts(capture), (std::vector<std::string>{"Replaced 1 + 2 by 3", "Replaced True && False by False",
                                                       "Replaced pow(2, 10) by 1024", "Replaced 1024 / 4.0 by 256.0",
                                                       "Replaced 1e-05 * 2 by 2e-05",
                                                       "Replaced 1000000000000000.0 * 10 by 1e+16"}));
}

TEST(ExprFolding, DoubleMinusOfAVariableGivesTheVeryOperand) {
  logging::Capture capture;
  auto operand = x();
  EXPECT_EQ(fold(un(UO::negate, un(UO::negate, operand))), operand);
  EXPECT_EQ(texts(capture),
            (std::vector<std::string>{"Replaced UnaryExpression(span=None, op=<UnaryOperator.-: 3>, "
                                      "expression=UnaryExpression(span=None, op=<UnaryOperator.-: 3>, "
                                      "expression=Identifier(span=None, name='x'))) by Identifier(span=None, name='x')."}));

  // Three minus signs: the inner pair goes first, the outer one stays.
  auto outer = un(UO::negate, un(UO::negate, un(UO::negate, operand)));
  auto result = ast::dyn_cast<ast::UnaryExpression>(fold(outer));
  ASSERT_EQ(result, outer);
  EXPECT_EQ(result->expression, operand);

  // Two literals' minus signs are computed, inner first; no rule fires.
  capture.clear();
  fold(un(UO::negate, un(UO::negate, I(5))));
  EXPECT_EQ(texts(capture), (std::vector<std::string>{"Replaced -(5) by -5", "Replaced -(-5) by 5"}));

  // Other operators are left alone.
  capture.clear();
  auto bang = un(UO::logical_not, un(UO::logical_not, x()));
  auto tilde_minus = un(UO::bit_not, un(UO::negate, x()));
  EXPECT_EQ(fold(bang), bang);
  EXPECT_EQ(fold(tilde_minus), tilde_minus);
  EXPECT_TRUE(texts(capture).empty());
}

TEST(ExprFolding, IdentitiesApplyWhereOperandsAreNotAllLiterals) {
  logging::Capture capture;
  auto operand = x();
  EXPECT_EQ(fold_declared("int x;", bin(BO::plus, operand, I(0))), operand);
  EXPECT_EQ(texts(capture), (std::vector<std::string>{
                                "Replaced BinaryExpression(span=None, op=<BinaryOperator.+: 14>, "
                                "lhs=Identifier(span=None, name='x'), rhs=IntegerLiteral(span=None, value=0)) by "
                                "Identifier(span=None, name='x')."}));
  capture.clear();
  auto times_two = bin(BO::times, x(), I(2));
  EXPECT_EQ(fold(times_two), times_two);
  EXPECT_EQ(ast::repr(fold_declared("int x;", bin(BO::power, x(), bin(BO::minus, I(3), I(3))))),
            "IntegerLiteral(span=None, value=1)");
  EXPECT_EQ(texts(capture).size(), 2u);  // 3 - 3, then x ** 0
  // n & 1 and n | 1 keep their meaning for an integer n.
  auto and_one = bin(BO::bit_and, x(), bin(BO::minus, I(2), I(1)));
  EXPECT_EQ(fold(and_one), and_one);
  auto or_one = bin(BO::bit_or, x(), I(1));
  EXPECT_EQ(fold(or_one), or_one);
}

TEST(ExprFolding, NothingIsReassociated) {
  auto inner = bin(BO::plus, I(1), I(2));
  auto operand = x();
  auto outer = ast::dyn_cast<ast::BinaryExpression>(fold(bin(BO::plus, inner, operand)));
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(ast::repr(outer->lhs), "IntegerLiteral(span=None, value=3)");
  EXPECT_EQ(outer->rhs, operand);

  logging::Capture capture;
  auto unchanged = parse_expression("(x + 1) + 2");
  auto copy = ast::deep_copy(unchanged);
  EXPECT_EQ(fold(unchanged), unchanged);
  EXPECT_TRUE(ast::equal(unchanged, copy));
  EXPECT_TRUE(texts(capture).empty());
}

TEST(ExprFolding, CallsOfOtherFunctionsStayButTheirArgumentsFold) {
  logging::Capture capture;
  auto f = parse_expression("f(x, 1 + 1)");
  auto folded = ast::dyn_cast<ast::FunctionCall>(fold(f));
  ASSERT_EQ(folded, f);
  EXPECT_EQ(openqasm3::dumps(*folded), "f(x, 2)");
  EXPECT_EQ(texts(capture), (std::vector<std::string>{"Replaced 1 + 1 by 2"}));

  capture.clear();
  for (std::string text : {"f(1, 2)", "sin(x)", "g()", "log(x, 2)"}) {
    auto node = parse_expression(text);
    EXPECT_EQ(fold(node), node) << text;
  }
  auto pow_of_x = call("pow", {x(), I(2)});
  EXPECT_EQ(fold(pow_of_x), pow_of_x);
  EXPECT_TRUE(texts(capture).empty());
}

// Everything the tree holds is reached, switch case labels and blocks included.
TEST(ExprFolding, FoldsEverywhereInTheTree) {
  auto tree = openqasm3::parse(
      "OPENQASM 3.0;\n"
      "qubit[2 + 2] q;\n"
      "int[2 * 16] a = 3 * 4;\n"
      "array[int[8], 1 + 1] b;\n"
      "if (1 < 2) { rx(0.5 * 3) q[1]; } else { a = -(-a); }\n"
      "while (a > 2 ** 3) { a = a - 0; }\n"
      "for int i in [0:2 * 2] { b[i % 2] = sqrt(16); }\n"
      "switch (a + 0) {\n"
      "  case 2 * 1, 3 - 0 { a = 7 / 2; }\n"
      "  default { a = mod(-7, 3); }\n"
      "}\n");
  ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(tree));
  EXPECT_EQ(openqasm3::dumps(*tree),
            "OPENQASM 3.0;\n"
            "qubit[4] q;\n"
            "int[32] a = 12;\n"
            "array[int[8], 2] b;\n"
            "if (true) {\n"
            "  rx(1.5) q[1];\n"
            "} else {\n"
            "  a = a;\n"
            "}\n"
            "while (a > 8) {\n"
            "  a = a;\n"
            "}\n"
            "for int i in [0:4] {\n"
            "  b[i % 2] = 4.0;\n"
            "}\n"
            "switch (a) {\n"
            "  case 2, 3 {\n"
            "    a = 3;\n"
            "  }\n"
            "  default {\n"
            "    a = 2;\n"
            "  }\n"
            "}\n");
}

TEST(ExprFolding, ProgramWithoutExpressionsComesBackUnchanged) {
  auto tree = openqasm3::parse("OPENQASM 3.0;\nqubit q;\nh q;\n");
  auto copy = ast::deep_copy(tree);
  auto given = std::make_shared<OpenQasmProgram>(tree);
  auto result = std::dynamic_pointer_cast<OpenQasmProgram>(ExpressionsOptimizationStep()(given));
  ASSERT_NE(result, nullptr);
  EXPECT_NE(result, given);
  EXPECT_EQ(result->ast(), tree);
  EXPECT_TRUE(ast::equal(tree, copy));
}

TEST(ExprFolding, FailurePartWayKeepsTheEarlierReplacements) {
  auto tree = openqasm3::parse("int a = 1 + 2;\nint b = 1 / 0;\nint c = 2 + 2;\n");
  EXPECT_THROW(ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(tree)), IllegalMathExpression);
  EXPECT_EQ(openqasm3::dumps(*tree), "int a = 3;\nint b = 1 / 0;\nint c = 2 + 2;\n");
}

TEST(ExprFolding, StepTakesOnlyOpenQasmPrograms) {
  EXPECT_THROW(ExpressionsOptimizationStep()(std::make_shared<programs::TextualProgram>("1 + 2;")), AssertionError);
  EXPECT_EQ(ExpressionsOptimizationStep().name, "ExpressionsOptimizationStep");
  EXPECT_EQ(ExpressionsOptimizationStep("fold").name, "fold");
}

// A transformer whose child walk hands back another node kind trips the walk's assertion.
class SwappingTransformer : public ConstantExpressionsTransformer {
 public:
  ast::Rewrite generic_visit(const ast::NodePtr&) override { return ast::make<ast::Identifier>("y"); }
};

TEST(ExprFolding, WalkChecksTheNodeKindAndRefusesOtherNodes) {
  SwappingTransformer swapping;
  try {
    swapping.visit(un(UO::negate, I(1)));
    FAIL();
  } catch (const AssertionError& e) {
    EXPECT_STREQ(e.what(), "Node was modified during the generic visit, aborting.");
  }
  ConstantExpressionsTransformer transformer;
  try {
    transformer.generic_modify_node(x());
    FAIL();
  } catch (const NotImplementedError& e) {
    EXPECT_STREQ(e.what(), "Unsupported visit node: <class 'openqasm3.ast.Identifier'>");
  }
}

// A flat chain leans left as deep as it is long, with no limit from the parser.
TEST(ExprFolding, LongFlatChainsFoldWithoutExhaustingTheStack) {
  std::string ones = "1", variable = "x", zeros = "x";
  for (int i = 0; i < 15000; ++i) {
    ones += " + 1";
    variable += " + 1";
    zeros += " * 1 + 0";
  }
  EXPECT_EQ(ast::repr(fold(parse_expression(ones))), "IntegerLiteral(span=None, value=15001)");
  auto chain = parse_expression(variable);
  EXPECT_EQ(fold(chain), chain);  // nothing reassociated, nothing lost
  // Every link an identity of an integer x: the chain collapses to x, in linear time.
  auto collapsed = fold_declared("int x;", parse_expression(zeros));
  EXPECT_EQ(openqasm3::dumps(*collapsed), "x");
}

// An operand that stands at several places (as constant inlining leaves a constant's value) is
// folded where it stands each time and stays whole for its other places.
TEST(ExprFolding, AnOperandSharedByTwoExpressionsStaysWholeForTheOther) {
  auto shared = bin(BO::plus, I(1), I(2));
  auto first = ast::make<ast::ExpressionStatement>(bin(BO::times, bin(BO::minus, shared, I(1)), x()));
  auto second = ast::make<ast::ExpressionStatement>(bin(BO::plus, x(), bin(BO::times, shared, I(4))));
  auto tree = ast::make<ast::Program>(std::vector<ast::NodePtr>{first, second});
  ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(tree));
  EXPECT_EQ(openqasm3::dumps(*tree), "2 * x;\nx + 12;\n");
  EXPECT_EQ(openqasm3::dumps(*shared), "1 + 2");
}

// A computed value goes into a literal operand that only the replaced expression holds, where the
// literal's class is the value's: never into a literal or a link that stands elsewhere too, and
// the result has no span, as a new literal would. Each row folds its statements (built with the
// shared node) and prints them and the shared node afterwards.
TEST(ExprFolding, ComputedValuesReuseOnlyOperandsHeldNowhereElse) {
  struct Row {
    std::function<std::vector<ast::ExprPtr>(const ast::ExprPtr& shared)> statements;
    ast::ExprPtr shared;
    std::string folded, shared_after;
  };
  const std::vector<Row> rows = {
      // a literal standing in two expressions, at the top and down a chain
      {[](const ast::ExprPtr& l) { return std::vector{bin(BO::plus, I(1), l), bin(BO::minus, bin(BO::times, I(5), l), I(1))}; },
       I(2), "3;\n9;\n", "2"},
      // a link standing in two chains: its own literals stay
      {[](const ast::ExprPtr& b) { return std::vector{bin(BO::times, b, I(4)), bin(BO::times, bin(BO::times, b, I(5)), I(1))}; },
       bin(BO::plus, I(1), I(2)), "12;\n15;\n", "1 + 2"},
      // a value of another class than the operands: a new literal (or the other operand)
      {[](const ast::ExprPtr& l) { return std::vector{bin(BO::times, I(0), l), bin(BO::lt, I(1), bin(BO::plus, I(1), I(1)))}; },
       F(0.125), "0.0;\ntrue;\n", "0.125"},
  };
  for (const auto& row : rows) {
    std::vector<ast::NodePtr> statements;
    for (const auto& expression : row.statements(row.shared)) statements.push_back(ast::make<ast::ExpressionStatement>(expression));
    auto tree = ast::make<ast::Program>(statements);
    ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(tree));
    EXPECT_EQ(openqasm3::dumps(*tree), row.folded);
    EXPECT_EQ(openqasm3::dumps(*row.shared), row.shared_after);
  }
  // Parsed operands carry spans; the computed literal does not.
  for (const char* text : {"(1 + 2) * 3 + x", "x + 7 / 2 * 2.0", "(1 < 2) == (3 > 4) && x"}) {
    auto tree = openqasm3::parse(std::string("x = ") + text + ";");
    ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(tree));
    auto sum = ast::dyn_cast<ast::BinaryExpression>(ast::dyn_cast<ast::ClassicalAssignment>(tree->statements.at(0))->rvalue);
    ASSERT_NE(sum, nullptr) << text;
    const ast::ExprPtr& computed = ast::isa<ast::Identifier>(*sum->lhs) ? sum->rhs : sum->lhs;
    EXPECT_FALSE(computed->span.has_value()) << text;
  }
}

// Folding never changes a type: an identity applies only where its result has the type of the
// expression it replaces, as the declarations seen so far tell it.
TEST(ExprFolding, IdentitiesKeepTheTypeOfWhatTheyReplace) {
  struct TypedCase {
    const char* program;  // the last statement is `r = ...;`
    const char* folded;   // the printed value of r
  };
  const TypedCase cases[] = {
      {"float x; r = (x * 0 + 7) / 2;", "(x * 0 + 7) / 2"},
      {"int x; r = (x * 0 + 7) / 2;", "3"},
      {"int m; r = m & true;", "m & true"},
      {"bool m; r = m & true;", "m"},
      {"bool m; r = m | true;", "true"},
      {"int m; r = m | false;", "m"},
      {"int m; r = m & false;", "m & false"},  // 0, not false
      {"int m; r = m | 0;", "m"},
      {"bool b; r = b + 0;", "b + 0"},
      {"float x; r = x + 0;", "x"},
      {"float x; r = x * 1.0;", "x"},
      {"int x; r = x * 1.0;", "x * 1.0"},
      {"float x; r = x ** 0;", "x ** 0"},
      {"input int n; r = n * 1;", "n"},
      {"duration d; r = d * 0;", "d * 0"},
      {"duration d; r = d * 1;", "d"},
      {"for int i in [0:2] { r = i + 0; }", "i"},
      {"r = y + 0;", "y + 0"},  // never declared: no type
      // one name, two types in two scopes: neither
      {"int x; if (true) { float x; } r = x * 0;", "x * 0"},
      {"int x; r = (x + 1) * 0;", "0"},
      {"int x; r = -x * 1;", "-x"},
      {"int x; r = float(x) * 1;", "float(x)"},
      {"int x; r = sin(x) * 0;", "sin(x) * 0"},
      {"int x; r = (x < 2) & true;", "x < 2"},
      {"int x; r = 0 ** x;", "0 ** x"},  // 0 ** 0 is 1
  };
  for (const TypedCase& c : cases) {
    SCOPED_TRACE(c.program);
    auto tree = openqasm3::parse(c.program);
    ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(tree));
    ast::NodePtr last = tree->statements.back();
    if (auto loop = ast::dyn_cast<ast::ForInLoop>(last)) last = loop->block.back();
    auto assignment = ast::dyn_cast<ast::ClassicalAssignment>(last);
    ASSERT_NE(assignment, nullptr);
    EXPECT_EQ(openqasm3::dumps(*assignment->rvalue), c.folded);
  }
}

// Declarations are noted and taken in at the next question, the table growing on the way: a
// second declaration counts whether it comes before or after a question.
TEST(ExprFolding, DeclaredTypesAcrossQuestionsAndGrowth) {
  DeclaredTypes types;
  EXPECT_EQ(types.find("a"), ValueType::unknown);
  const ValueType kinds[] = {ValueType::integer, ValueType::real, ValueType::boolean};
  for (int i = 0; i < 1000; ++i) {
    types.declare("v" + std::to_string(i), kinds[i % 3]);
    if (i % 97 == 0) {
      EXPECT_EQ(types.find("v" + std::to_string(i / 2)), kinds[(i / 2) % 3]);
    }
  }
  types.declare("v1", ValueType::real);     // its own type again: kept
  types.declare("v2", ValueType::integer);  // another type: none
  types.declare("", ValueType::duration);
  for (int i = 0; i < 1000; ++i)
    EXPECT_EQ(types.find("v" + std::to_string(i)), i == 2 ? ValueType::unknown : kinds[i % 3]) << i;
  EXPECT_EQ(types.find(""), ValueType::duration);
  EXPECT_EQ(types.find("v1000"), ValueType::unknown);
  types.declare("v1", ValueType::integer);
  EXPECT_EQ(types.find("v1"), ValueType::unknown);
}

// Names asked about keep a table of their own, the others wait until a new name is asked: every
// order of declarations and questions answers as one table of all declarations would. Each row
// is a sequence of steps: "+name:type" declares, "?name:type" asks and expects the answer.
TEST(ExprFolding, DeclaredTypesAnswerAsOneTableWhateverTheOrder) {
  const std::map<char, ValueType> types = {{'u', ValueType::unknown}, {'b', ValueType::boolean},
                                           {'i', ValueType::integer}, {'r', ValueType::real}};
  const std::vector<std::vector<std::string>> rows = {
      // asked before any declaration, then declared: the declaration counts
      {"?a:u", "+a:i", "?a:i", "+a:i", "?a:i", "+a:r", "?a:u"},
      // declared unasked, asked after another name was asked
      {"+a:r", "+b:i", "?b:i", "+a:r", "+c:b", "?a:r", "?c:b", "?b:i"},
      // two types before the first question, or one before and one after it
      {"+a:i", "+a:r", "?a:u", "+b:i", "?b:i", "+b:b", "?b:u", "+b:i", "?b:u"},
      // a declared type that is unknown differs from a known one
      {"+a:u", "?a:u", "+a:i", "?a:u", "+b:i", "+b:u", "?b:u"},
      // waiting notes of a name already asked about and of one asked later, interleaved
      {"?x:u", "+y:i", "+x:r", "+y:i", "?x:r", "+y:r", "+x:r", "?x:r", "?y:u", "?z:u", "+z:b", "?z:b"},
  };
  for (const auto& row : rows) {
    DeclaredTypes table;
    for (const std::string& step : row) {
      const std::size_t colon = step.find(':');
      const std::string name = step.substr(1, colon - 1);
      const ValueType type = types.at(step[colon + 1]);
      if (step[0] == '+') {
        table.declare(name, type);
      } else {
        EXPECT_EQ(table.find(name), type) << step << " in row starting " << row.front();
      }
    }
  }
}

// A derived walker folds calls and unary expressions through the generic walk of their children
// (generic_modify_node) and walks declarations with generic_visit; the walker of the class itself
// folds their fields in place. Both give the same tree, and the same failure after the same
// replacements.
class GenericallyWalkingFolder : public ConstantExpressionsTransformer {};

TEST(ExprFolding, InPlaceFoldingMatchesTheGenericWalk) {
  const std::string declarations = "qubit q; float th; int n; bool b;\n";
  const std::vector<std::string> bodies = {
      "x = sin(1.0) + cos(0);",
      "x = -(2 + 3) * -n;",
      "x = -(-n) + -(-(-n));",
      "x = !(1 < 2) || b;",
      "x = ~(6 & 3) - ~n;",
      "rz(th * 2 - sin(pi / 2) / 2) q;",
      "rx(-(th) + mod(7, 2), arccos(1)) q;",
      "x = sqrt(mod(9, 5) + exp(0)) + f(1 + 1, -(-2), g(n * 1));",
      "x = f() + log(exp(1.0), 2) + mod(7, -3) + floor(-2.5) + ceiling(th * 0);",
      "if (-(1) < sin(0)) { x = -(n * 0); } else { x = floor(n + 0); }",
      "for int i in [0:-(-2)] { x = -(i + 1 - 1); }",
      "while (n > -(1)) { n = n - sin(0); }",
      "x = b[-(-1) + 1] + n;",
      "x = -(sin(1 + 1) * cos(-(2.0)));",
      "x = 1 + 1; x = log(0);",           // a refused call after a replacement
      "x = sin(1) + -(1 / 0) + cos(2);",  // a refused operand of a unary expression
      "x = 2 ** 64 * -(1);",
      "x = sin(1, 2);",
      // Declarations give types to the identities, and their own expressions fold.
      "const int k = 2 * 3; input float w; output int o; int y = k * 1 + -(2); x = w * 1 + o * 0;",
      "float r = 1.5 * 2; x = r * 1; int r2 = 0 + 0; x = r2 + 0; bool t = !false; x = t & true;",
      "for float i in [0:2] { x = i * 1; } for int j in {1 + 1, -(2)} { x = j * 1; } x = i * 1;",
      "int[8 * 4] y = 1 / 0;",
  };
  for (const std::string& body : bodies) {
    auto in_place = openqasm3::parse(declarations + body);
    auto generic = openqasm3::parse(declarations + body);
    std::string in_place_error, generic_error;
    try {
      ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(in_place));
    } catch (const IllegalMathExpression& e) {
      in_place_error = e.what();
    }
    try {
      GenericallyWalkingFolder folder;
      programs::transform_root(folder, generic);
    } catch (const IllegalMathExpression& e) {
      generic_error = e.what();
    }
    EXPECT_EQ(in_place_error, generic_error) << body;
    EXPECT_EQ(ast::repr(*in_place), ast::repr(*generic)) << body;
    EXPECT_EQ(openqasm3::dumps(*in_place), openqasm3::dumps(*generic)) << body;
  }
}

// A call or unary expression that stands at several places is folded where it stands each time
// and stays whole for its other places, as a binary expression does.
TEST(ExprFolding, ASharedCallOrUnaryExpressionStaysWholeForItsOtherPlaces) {
  for (const ast::ExprPtr& shared : {call("sin", {bin(BO::plus, I(1), I(1))}), un(UO::negate, bin(BO::times, I(2), I(3))),
                                     call("f", {un(UO::negate, I(1))})}) {
    const std::string before = ast::repr(*shared);
    auto first = ast::make<ast::ExpressionStatement>(bin(BO::plus, x(), shared));
    auto second = ast::make<ast::ExpressionStatement>(call("g", {shared}));
    auto tree = ast::make<ast::Program>(std::vector<ast::NodePtr>{first, second});
    ExpressionsOptimizationStep()(std::make_shared<OpenQasmProgram>(tree));
    auto expected = ast::make<ast::Program>(std::vector<ast::NodePtr>{
        ast::make<ast::ExpressionStatement>(bin(BO::plus, x(), ast::deep_copy(shared))),
        ast::make<ast::ExpressionStatement>(call("g", {ast::deep_copy(shared)}))});
    GenericallyWalkingFolder folder;
    programs::transform_root(folder, expected);
    EXPECT_EQ(openqasm3::dumps(*tree), openqasm3::dumps(*expected)) << before;
  }
}

// ---- in a pipeline

std::shared_ptr<PassPipeline> pipeline(configurations::BuildSettings::Fields fields) {
  return std::make_shared<PassPipeline>(std::vector<StepPtr>{std::make_shared<ExpressionsOptimizationStep>()},
                                        std::make_shared<configurations::BuildSettings>(fields), "resolving");
}

TEST(ExprFoldingInPipeline, FailureIsAWarningAndTheRunGoesOnWithThePartlyFoldedTree) {
  logging::Capture capture;
  auto tree = openqasm3::parse("int a = 1 + 2;\nint b = 1 / 0;\n");
  auto given = std::make_shared<OpenQasmProgram>(tree);
  EXPECT_EQ((*pipeline({}))(given), given);
  EXPECT_EQ(openqasm3::dumps(*tree), "int a = 3;\nint b = 1 / 0;\n");
  auto warnings = capture.records("vell_qasm.passes.pass_pipeline");
  ASSERT_FALSE(warnings.empty());
  EXPECT_EQ(warnings.back().level, spdlog::level::warn);
  EXPECT_EQ(warnings.back().text,
            "Pass 'resolving': exception on optimization 'ExpressionsOptimizationStep': The operation 1 / 0 is illegal");
}

TEST(ExprFoldingInPipeline, EnforcedFailureEndsTheRunAndSkippingLeavesTheTree) {
  auto given = std::make_shared<OpenQasmProgram>(openqasm3::parse("int b = 1 / 0;\n"));
  EXPECT_THROW((*pipeline({.optimizations_to_enforce = "Expressions"}))(given), IllegalMathExpression);

  auto tree = openqasm3::parse("int a = 1 + 2;\n");
  auto program = std::make_shared<OpenQasmProgram>(tree);
  EXPECT_EQ((*pipeline({.optimizations_to_skip = "ExpressionsOptimizationStep"}))(program), program);
  EXPECT_EQ(openqasm3::dumps(*tree), "int a = 1 + 2;\n");
}

}  // namespace
}  // namespace vell_qasm::passes::code_resolving
