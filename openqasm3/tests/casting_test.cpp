#include "openqasm3/casting.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "tree_builders.hpp"

namespace {

using namespace qasm_test;

// An outside class derived from another outside class: is-a walks both.
struct OutsideSubQubit : NodeImpl<OutsideSubQubit, OutsideQubit> {
  static constexpr std::string_view kName = "OutsideSubQubit";
  static constexpr std::string_view kModule = "tests.outside";
};

struct Row {
  NodePtr node;
  // isa<...> for Identifier, Expression, Statement, QuantumStatement, OutsideQubit, OutsideSubQubit
  bool identifier, expression, statement, quantum_statement, outside_qubit, outside_sub;
  bool exactly_identifier;
};

TEST(Casting, IsAFollowsTheClassHierarchyIsExactlyTheClassItself) {
  const Row rows[] = {
      {id("a"), true, true, false, false, false, false, true},
      {make<OutsideQubit>("$0", 0), true, true, false, false, true, false, false},
      {make<OutsideSubQubit>(), true, true, false, false, true, true, false},
      {make<IntegerLiteral>(1), false, true, false, false, false, false, false},
      {make<QuantumGate>(), false, false, true, true, false, false, false},
      {make<BreakStatement>(), false, false, true, false, false, false, false},
      {make<OutsideDeclaration>(), false, false, true, false, false, false, false},
      {make<IntType>(), false, false, false, false, false, false, false},
      {make<Program>(), false, false, false, false, false, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.node->class_name());
    const QASMNode& n = *r.node;
    EXPECT_EQ(isa<Identifier>(n), r.identifier);
    EXPECT_EQ(isa<Expression>(n), r.expression);
    EXPECT_EQ(isa<Statement>(n), r.statement);
    EXPECT_EQ(isa<QuantumStatement>(n), r.quantum_statement);
    EXPECT_EQ(isa<OutsideQubit>(n), r.outside_qubit);
    EXPECT_EQ(isa<OutsideSubQubit>(n), r.outside_sub);
    EXPECT_TRUE(isa<QASMNode>(n));
    EXPECT_EQ(is_exactly<Identifier>(n), r.exactly_identifier);
    EXPECT_EQ(isa<Identifier>(r.node), r.identifier);
    EXPECT_EQ(dyn_cast<Identifier>(r.node) != nullptr, r.identifier);
    EXPECT_EQ(dyn_cast<Statement>(r.node.get()) != nullptr, r.statement);
    EXPECT_EQ(dyn_cast<OutsideQubit>(static_cast<const QASMNode*>(r.node.get())) != nullptr, r.outside_qubit);
  }
  auto sub = make<OutsideSubQubit>();
  EXPECT_TRUE(is_exactly<OutsideSubQubit>(*sub));
  EXPECT_FALSE(is_exactly<OutsideQubit>(*sub));
}

TEST(Casting, CastsKeepTheObjectConstnessAndOwnershipNullGivesNull) {
  ExprPtr e = make<OutsideQubit>("$3", 3);
  std::shared_ptr<OutsideQubit> q = dyn_cast<OutsideQubit>(e);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q.get(), e.get());
  EXPECT_EQ(q.use_count(), 2);
  EXPECT_EQ(q->index, 3);
  const Expression* ce = e.get();
  const Identifier* ci = dyn_cast<Identifier>(ce);
  EXPECT_EQ(ci, q.get());
  EXPECT_EQ(dyn_cast<BinaryExpression>(e), nullptr);

  ExprPtr none;
  EXPECT_FALSE(isa<Identifier>(none));
  EXPECT_EQ(dyn_cast<Identifier>(none), nullptr);
  EXPECT_EQ(dyn_cast<Identifier>(static_cast<QASMNode*>(nullptr)), nullptr);
}

}  // namespace
