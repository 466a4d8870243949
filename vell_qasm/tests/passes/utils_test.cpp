#include "vell_qasm/passes/utils.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "vell/tavo/program.hpp"

namespace vell_qasm::passes::utils {
namespace {

namespace ast = openqasm3::ast;

TEST(IsQasmLiteral, OnlyBooleanIntegerAndFloatLiteralsArePlainValues) {
  EXPECT_TRUE(is_qasm_literal(ast::make<ast::BooleanLiteral>(false)));
  EXPECT_TRUE(is_qasm_literal(ast::make<ast::IntegerLiteral>(0)));
  EXPECT_TRUE(is_qasm_literal(ast::make<ast::FloatLiteral>(0.0)));
  const ast::NodePtr others[] = {
      ast::make<ast::DurationLiteral>(10.0, ast::TimeUnit::ns),
      ast::make<ast::BitstringLiteral>(1, 2),
      ast::make<ast::ImaginaryLiteral>(1.0),
      ast::make<ast::ArrayLiteral>(std::vector<ast::ExprPtr>{ast::make<ast::IntegerLiteral>(1)}),
      ast::make<ast::Identifier>("x"),
      ast::make<ast::UnaryExpression>(ast::UnaryOperator::negate, ast::make<ast::IntegerLiteral>(1)),
      ast::make<ast::Cast>(ast::make<ast::IntType>(nullptr), ast::make<ast::IntegerLiteral>(1)),
      nullptr,
  };
  for (const auto& node : others) {
    SCOPED_TRACE(ast::repr(node));
    EXPECT_FALSE(is_qasm_literal(node));
    EXPECT_FALSE(qasm_literal_value(node).has_value());
  }
}

TEST(CreateLiteral, MakesTheLiteralOfTheValuesKindAndReadsBack) {
  const PlainValue values[] = {true,
                                   false,
                                   std::int64_t{0},
                                   std::int64_t{1},
                                   std::numeric_limits<std::int64_t>::min(),
                                   0.0,
                                   -2.5,
                                   std::numeric_limits<double>::infinity()};
  const char* classes[] = {"BooleanLiteral", "BooleanLiteral", "IntegerLiteral", "IntegerLiteral", "IntegerLiteral",
                           "FloatLiteral",   "FloatLiteral",   "FloatLiteral"};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    SCOPED_TRACE(value_text(values[i]));
    auto node = create_literal(values[i]);
    EXPECT_EQ(node->class_name(), classes[i]);
    EXPECT_FALSE(node->span.has_value());
    auto back = qasm_literal_value(node);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->index(), values[i].index());  // a bool stays a bool, never the integer 0 or 1
    EXPECT_EQ(*back, values[i]);
  }
  EXPECT_NE(create_literal(true), create_literal(true));  // a new node each time
}

TEST(IsInsideScope, FollowsTheEnteredProgramScope) {
  EXPECT_FALSE(is_inside_scope());
  auto scope = vell::tavo::program();
  {
    auto entered = scope.enter();
    EXPECT_TRUE(is_inside_scope());
  }
  EXPECT_FALSE(is_inside_scope());
}

// The screening by length and first character must never hide a member: names that share one
// or both with a member, long names (lengths from 63 up share one screening bit) and the empty
// name are all told apart by the lookup itself.
TEST(NameMap, ScreeningNeverHidesAMember) {
  const std::string long_a(70, 'a'), long_b = std::string(69, 'a') + "b", longer_a(100, 'a');
  NameMap<int> names;
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(names.find("q"), nullptr);
  names.insert_or_assign("q", 1);
  names.insert_or_assign("reg", 2);
  names.insert_or_assign(long_a, 3);
  names.insert_or_assign("reg", 4);  // the last value wins
  struct Case {
    std::string name;
    const int* expected;
  };
  const int one = 1, four = 4, three = 3;
  const std::vector<Case> cases = {
      {"q", &one},         {"reg", &four},     {long_a, &three},   {"x", nullptr},    {"qq", nullptr},
      {"rex", nullptr},    {"re", nullptr},    {"Q", nullptr},     {long_b, nullptr}, {longer_a, nullptr},
      {"", nullptr},       {"regs", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int* found = names.find(c.name);
    ASSERT_EQ(found == nullptr, c.expected == nullptr);
    if (found) {
      EXPECT_EQ(*found, *c.expected);
    }
    EXPECT_EQ(names.contains(c.name), c.expected != nullptr);
  }
  names.insert_or_assign("", 5);
  ASSERT_NE(names.find(""), nullptr);
  EXPECT_EQ(*names.find(""), 5);
  EXPECT_FALSE(names.empty());
}

}  // namespace
}  // namespace vell_qasm::passes::utils
