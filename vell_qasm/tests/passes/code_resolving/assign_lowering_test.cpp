#include "vell_qasm/passes/code_resolving/assign_lowering.hpp"

#include <gtest/gtest.h>

#include "resolving_test_support.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::code_resolving {
namespace {

using namespace vell_qasm::testing;

ast::Ptr<ast::Program> lower(const std::string& source) {
  ClassicalAssignLowering step;
  return run_step(step, source);
}

TEST(ClassicalAssignLowering, EachCompoundOperatorBecomesItsBinaryTwin) {
  struct Case {
    const char* compound;
    const char* plain;
  };
  for (auto c : {Case{"x += 1;", "x = x + 1;"}, Case{"x -= y + 1;", "x = x - (y + 1);"}, Case{"x *= 2;", "x = x * 2;"},
                 Case{"x /= 2;", "x = x / 2;"}, Case{"x &= m;", "x = x & m;"}, Case{"x |= m;", "x = x | m;"},
                 Case{"x ^= m;", "x = x ^ m;"}, Case{"x <<= 1;", "x = x << 1;"}, Case{"x >>= 1;", "x = x >> 1;"},
                 Case{"x %= 3;", "x = x % 3;"}, Case{"x **= 2;", "x = x ** 2;"}}) {
    auto root = openqasm3::parse(c.compound);
    auto old = std::static_pointer_cast<ast::ClassicalAssignment>(root->statements[0]);
    ClassicalAssignLowering step;
    run_step(step, root);
    EXPECT_EQ(printed(root), printed(c.plain)) << c.compound;
    auto now = std::static_pointer_cast<ast::ClassicalAssignment>(root->statements[0]);
    ASSERT_NE(now, old);
    EXPECT_EQ(now->op, BASIC_ASSIGNMENT_OP);
    auto rhs = std::static_pointer_cast<ast::BinaryExpression>(now->rvalue);
    // One target node, as lvalue and left operand; the old right-hand side whole.
    EXPECT_EQ(now->lvalue, old->lvalue);
    EXPECT_EQ(rhs->lhs, old->lvalue);
    EXPECT_EQ(rhs->rhs, old->rvalue);
  }
}

TEST(ClassicalAssignLowering, TheOperatorLookupGoesBySymbol) {
  using ast::AssignmentOperator;
  using ast::BinaryOperator;
  EXPECT_EQ(ClassicalAssignmentToBinaryExpression::_extract_binary_operation(AssignmentOperator::shl_assign),
            BinaryOperator::shl);
  EXPECT_EQ(ClassicalAssignmentToBinaryExpression::_extract_binary_operation(AssignmentOperator::power_assign),
            BinaryOperator::power);
  // "~=" has no binary twin: "~" is unary only.
  if (auto bit_not_assign = ast::from_symbol<AssignmentOperator>("~=")) {
    expect_throw<KeyError>([&] { ClassicalAssignmentToBinaryExpression::_extract_binary_operation(*bit_not_assign); },
                           [](const KeyError& e) { EXPECT_STREQ(e.what(), "'~'"); });
    expect_throw<KeyError>([] { lower("x ~= 1;"); });
  }
}

TEST(ClassicalAssignLowering, PlainAssignmentsStayAndIndexedTargetsAreRefused) {
  auto root = openqasm3::parse("x = y; a[0] = 1; b = measure q;");
  auto before = root->statements;
  auto copy = ast::deep_copy(root);
  ClassicalAssignLowering step;
  EXPECT_EQ(step.name, "ClassicalAssignLowering");
  run_step(step, root);
  EXPECT_EQ(root->statements, before);
  EXPECT_TRUE(ast::equal(root, copy));

  auto indexed = openqasm3::parse("if (c) { x += 1; } a[0] += 1;");
  auto target = std::static_pointer_cast<ast::ClassicalAssignment>(indexed->statements[1])->lvalue;
  expect_throw<NotImplementedError>([&] { run_step(step, indexed); }, [&](const NotImplementedError& e) {
    EXPECT_EQ(e.text, "Indexed identifier is not supported:");
    ASSERT_TRUE(std::holds_alternative<ast::NodePtr>(e.subject));
    EXPECT_EQ(std::get<ast::NodePtr>(e.subject), target);
  });
  // What the walk reached before the failure stays rewritten.
  EXPECT_EQ(printed(indexed), printed("if (c) { x = x + 1; } a[0] += 1;"));
  expect_throw<AssertionError>([&] { step(std::make_shared<programs::TextualProgram>("x += 1;")); });
}

TEST(ClassicalAssignLowering, CompoundAssignmentsInEveryBlockAreLoweredInPlace) {
  auto root = lower(R"(
    if (c) { x += 1; } else { x -= 1; }
    for int i in [0:2] { x *= i; }
    while (c) { x /= 2; }
    box { x |= 1; }
    def f(int p) { p <<= 1; }
    switch (i) { case 0 { x %= 2; } default { x ^= 1; } }
  )");
  EXPECT_EQ(printed(root), printed(R"(
    if (c) { x = x + 1; } else { x = x - 1; }
    for int i in [0:2] { x = x * i; }
    while (c) { x = x / 2; }
    box { x = x | 1; }
    def f(int p) { p = p << 1; }
    switch (i) { case 0 { x = x % 2; } default { x = x ^ 1; } }
  )"));
}

// The program's own assignments are lowered without the walk: the tree ends as the generic walk
// leaves it, failures (and their lines) included.
TEST(ClassicalAssignLowering, TheProgramListIsLoweredAsTheWalkLowersIt) {
  struct Walked : ClassicalAssignmentToBinaryExpression {
    ast::Rewrite visit_Program(const ast::Ptr<ast::Program>& node) override { return generic_visit(node); }
  };
  // A long list too, with blocks of every kind whose arrays the walk asks for ahead, and a
  // failure far down it.
  std::string long_source;
  for (int k = 0; k < 300; ++k) {
    const std::string n = std::to_string(k);
    switch (k % 6) {
      case 0: long_source += "x += " + n + ";\n"; break;
      case 1: long_source += "if (c) { x -= " + n + "; } else { h q; y *= 2; }\n"; break;
      case 2: long_source += "while (c) { y /= " + n + "; }\n"; break;
      case 3: long_source += "for int i in [0:" + n + "] { x |= i; }\n"; break;
      case 4: long_source += "box { x <<= 1; } { y %= 3; }\n"; break;
      default: long_source += "z = x;\n"; break;
    }
  }
  for (const std::string& source : {std::string(), std::string("x = 1; y += 2; while (c) { y -= 1; } h q; z = y;"),
                                   std::string("x *= 2;\nif (c) { x += 1; }\na[0] += 1;\nx -= 1;"),
                                   std::string("x ~= 1;"), long_source, long_source + "a[1] -= 2;\nx += 1;"}) {
    auto outcome = [&](ast::QASMTransformer& lowering) {
      auto root = openqasm3::parse(source);
      root->statements.push_back(nullptr);
      int line = 0;
      try {
        lowering.visit(root);
      } catch (const std::exception& e) {
        const auto location = failure_location(std::current_exception());
        line = location ? location->line : -1;
      }
      root->statements.pop_back();
      return std::make_pair(printed(root), line);
    };
    ClassicalAssignmentToBinaryExpression direct;
    Walked walked;
    EXPECT_EQ(outcome(direct), outcome(walked)) << source;
  }
}

}  // namespace
}  // namespace vell_qasm::passes::code_resolving
