#include <gtest/gtest.h>

#include "openqasm3/ast.hpp"

using namespace openqasm3::ast;

TEST(Ast, BuildsComparesAndCopies) {
  auto b = make<BinaryExpression>(BinaryOperator::plus, make<Identifier>("a"), make<IntegerLiteral>(3));
  auto c = deep_copy(b);
  EXPECT_TRUE(equal(*b, *c));
  EXPECT_NE(b.get(), c.get());
}
