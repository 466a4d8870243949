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

}  // namespace
}  // namespace vell_qasm::passes::utils
