// Which subtrees a walk may leave alone: the kind table and the walks that use it.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "openqasm3/visitor.hpp"
#include "tree_builders.hpp"

namespace {

using namespace qasm_test;
using detail::NodeWalk;

constexpr const detail::KindReach& kReach = detail::KindReachOf<void>::value;
bool below(NodeKind from, NodeKind to) {
  return kReach.below[static_cast<std::size_t>(from)][static_cast<std::size_t>(to)];
}

TEST(KindReach, WhatMayStandBelowEachKind) {
  struct Row {
    NodeKind from, to;
    bool expected;
  };
  const Row rows[] = {
      {NodeKind::BinaryExpression, NodeKind::Identifier, true},
      {NodeKind::BinaryExpression, NodeKind::RangeDefinition, true},  // through an index list
      {NodeKind::BinaryExpression, NodeKind::IntType, true},          // through a cast
      {NodeKind::BinaryExpression, NodeKind::ClassicalAssignment, false},
      {NodeKind::BinaryExpression, NodeKind::CompoundStatement, false},
      {NodeKind::QuantumGate, NodeKind::IndexedIdentifier, true},  // operands, typed NodePtr
      {NodeKind::QuantumGate, NodeKind::QuantumGateModifier, true},
      {NodeKind::QuantumGate, NodeKind::QuantumGate, false},
      {NodeKind::ClassicalDeclaration, NodeKind::QuantumMeasurement, true},
      {NodeKind::ClassicalDeclaration, NodeKind::ClassicalAssignment, false},
      {NodeKind::BranchingStatement, NodeKind::QuantumGate, true},
      {NodeKind::SwitchStatement, NodeKind::ClassicalAssignment, true},
      {NodeKind::ForInLoop, NodeKind::DiscreteSet, true},
      {NodeKind::Program, NodeKind::Pragma, true},
      {NodeKind::Identifier, NodeKind::Identifier, false},
      {NodeKind::IntegerLiteral, NodeKind::Identifier, false},
      // A statement inside an expression is a bridge's doing: left out of the table.
      {NodeKind::Cast, NodeKind::DurationOf, false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(below(r.from, r.to), r.expected)
        << static_cast<int>(r.from) << " -> " << static_cast<int>(r.to);
  }
  EXPECT_TRUE(kReach.bridge[static_cast<std::size_t>(NodeKind::DurationOf)]);
  EXPECT_FALSE(kReach.bridge[static_cast<std::size_t>(NodeKind::BinaryExpression)]);
  EXPECT_FALSE(kReach.bridge[static_cast<std::size_t>(NodeKind::CompoundStatement)]);
}

struct Assignments : VisitorFor<Assignments> {
  int seen = 0;
  void visit_ClassicalAssignment(ClassicalAssignment& n) override {
    ++seen;
    generic_visit(n);
  }
};
struct MoreAssignments : Assignments {};  // may override more than Assignments: nothing skipped
struct Identifiers : VisitorFor<Identifiers> {
  std::vector<std::string> names;
  void visit_Identifier(Identifier& n) override { names.push_back(n.name); }
};
struct Everything : VisitorFor<Everything> {
  void generic_visit(QASMNode& n) override { QASMVisitor::generic_visit(n); }
};
struct AssignmentsAndOutside : VisitorFor<AssignmentsAndOutside>, ExternalVisit<OutsideQubit> {
  void visit_ClassicalAssignment(ClassicalAssignment& n) override { generic_visit(n); }
  void visit_external(OutsideQubit&) override {}
};
struct AssignmentRewrites : TransformerFor<AssignmentRewrites> {
  AssignmentRewrites() : TransformerFor(SwitchCases::enter) {}
  Rewrite visit_ClassicalAssignment(const Ptr<ClassicalAssignment>& n) override { return generic_visit(n); }
};

TEST(WalkPruning, EachWalkerSkipsOnlyWhatHoldsNothingItHandles) {
  Assignments assignments;
  MoreAssignments more;
  Identifiers identifiers;
  Everything everything;
  AssignmentsAndOutside outside;
  AssignmentRewrites rewrites;
  struct Row {
    const char* walker;
    NodeWalk walk;
    NodeKind kind;
    NodeWalk expected;
  };
  const Row rows[] = {
      {"assignments", assignments.walk_of(NodeKind::BinaryExpression), NodeKind::BinaryExpression, NodeWalk::skip},
      {"assignments", assignments.walk_of(NodeKind::QuantumGate), NodeKind::QuantumGate, NodeWalk::skip},
      {"assignments", assignments.walk_of(NodeKind::BranchingStatement), NodeKind::BranchingStatement, NodeWalk::children},
      {"assignments", assignments.walk_of(NodeKind::Program), NodeKind::Program, NodeWalk::children},
      {"assignments", assignments.walk_of(NodeKind::ClassicalAssignment), NodeKind::ClassicalAssignment, NodeWalk::handler},
      {"derived", more.walk_of(NodeKind::BinaryExpression), NodeKind::BinaryExpression, NodeWalk::handler},
      {"identifiers", identifiers.walk_of(NodeKind::BinaryExpression), NodeKind::BinaryExpression, NodeWalk::children},
      {"identifiers", identifiers.walk_of(NodeKind::QuantumGate), NodeKind::QuantumGate, NodeWalk::children},
      {"identifiers", identifiers.walk_of(NodeKind::IntegerLiteral), NodeKind::IntegerLiteral, NodeWalk::skip},
      {"generic_visit", everything.walk_of(NodeKind::IntegerLiteral), NodeKind::IntegerLiteral, NodeWalk::handler},
      {"outside handler", outside.walk_of(NodeKind::BinaryExpression), NodeKind::BinaryExpression, NodeWalk::children},
      {"transformer", rewrites.walk_of(NodeKind::SwitchStatement), NodeKind::SwitchStatement, NodeWalk::children},
      {"transformer", rewrites.walk_of(NodeKind::Cast), NodeKind::Cast, NodeWalk::skip},
  };
  for (const Row& r : rows) EXPECT_EQ(r.walk, r.expected) << r.walker << " at kind " << static_cast<int>(r.kind);
}

TEST(WalkPruning, AWalkerOfEveryNodeFindsAStatementAgainstItsFieldTypes) {
  // A tree built by hand: a statement in an inner index list and one in an operand field.
  struct Resets : VisitorFor<Resets>, EveryNode {
    Resets() { enter_index_lists(); }
    int seen = 0;
    void visit_QuantumReset(QuantumReset& n) override {
      ++seen;
      generic_visit(n);
    }
  } every;
  EXPECT_EQ(every.walk_of(NodeKind::BinaryExpression), NodeWalk::children);
  auto in_list = make<IndexedIdentifier>(id("q"), std::vector<IndexElement>{IndexList{make<QuantumReset>(id("a"))}});
  auto program = make<Program>(std::vector<NodePtr>{
      make<QuantumReset>(in_list), make<ClassicalAssignment>(make<QuantumReset>(id("b")), AssignmentOperator::assign,
                                                             make<IntegerLiteral>(1))});
  every.visit(*program);
  EXPECT_EQ(every.seen, 3);  // under the pruning, the two standing in an expression's place go unseen
}

TEST(WalkPruning, NodesTheTableDoesNotDescribeStopAllSkippingWhileAlive) {
  Assignments walker;
  ASSERT_EQ(walker.walk_of(NodeKind::BinaryExpression), NodeWalk::skip);
  struct Row {
    const char* what;
    NodePtr (*make_node)();
    NodeWalk expected;
  };
  const Row rows[] = {
      {"DurationOf", []() -> NodePtr { return make<DurationOf>(std::vector<StmtPtr>{}); }, NodeWalk::children},
      {"outside statement with node fields", []() -> NodePtr { return make<OutsideDeclaration>(); }, NodeWalk::children},
      {"outside identifier without node fields", []() -> NodePtr { return make<OutsideQubit>("$0", 0); }, NodeWalk::skip},
  };
  for (const Row& r : rows) {
    NodePtr alive = r.make_node();
    EXPECT_EQ(walker.walk_of(NodeKind::BinaryExpression), r.expected) << r.what;
  }
  // Copies count as well; once all are gone, skipping resumes.
  {
    auto copy = deep_copy(make<DurationOf>(std::vector<StmtPtr>{}));
    EXPECT_EQ(walker.walk_of(NodeKind::BinaryExpression), NodeWalk::children);
  }
  EXPECT_EQ(walker.walk_of(NodeKind::BinaryExpression), NodeWalk::skip);
}

// Every handler a full walk would call is called by the pruned walks, wherever it stands.
TEST(WalkPruning, PrunedWalksReachEveryHandledNode) {
  auto assign = [](std::string name) {
    return make<ClassicalAssignment>(id(std::move(name)), AssignmentOperator::assign, num(1));
  };
  // x = durationof({ y = 1; }) + a[b];  with an assignment in an if block and in a switch case.
  auto duration = make<DurationOf>(std::vector<StmtPtr>{assign("y")});
  auto outer = make<ClassicalAssignment>(id("x"), AssignmentOperator::assign,
                                         bin("+", duration, at(id("a"), IndexList{id("b")})));
  auto branch = make<BranchingStatement>(id("c"), std::vector<StmtPtr>{assign("z")});
  auto sw = make<SwitchStatement>(id("s"), std::vector<SwitchCase>{
                                               {{num(0)}, make<CompoundStatement>(std::vector<StmtPtr>{assign("w")})}});
  auto program = make<Program>(std::vector<NodePtr>{outer, branch, sw, gate("h", {id("theta")}, {id("q")})});

  Assignments assignments;
  assignments.visit(*program);
  EXPECT_EQ(assignments.seen, 3);  // x, y (inside the expression), z; switch cases skipped
  Identifiers identifiers;
  identifiers.visit(*program);
  EXPECT_EQ(identifiers.names,
            (std::vector<std::string>{"x", "y", "a", "b", "c", "z", "s", "h", "theta", "q"}));

  duration.reset();
  outer->rvalue = bin("+", num(1), at(id("a"), IndexList{id("b")}));
  Assignments pruned;
  pruned.visit(*program);
  EXPECT_EQ(pruned.seen, 2);
}

TEST(WalkPruning, TheGenericRewriteKeepsStatementsOutOfOperandFields) {
  struct StatementForIdentifier : TransformerFor<StatementForIdentifier> {
    Rewrite visit_Identifier(const Ptr<Identifier>&) override { return make<BreakStatement>(); }
  } rewrite;
  auto index = at(num(1), IndexList{id("i")});
  auto program = make<Program>(std::vector<NodePtr>{stmt(index)});
  EXPECT_THROW(rewrite.visit(program), std::invalid_argument);
  // A program's statement list takes one.
  auto top = make<Program>(std::vector<NodePtr>{id("i")});
  EXPECT_NO_THROW(rewrite.visit(top));
  EXPECT_TRUE(isa<BreakStatement>(top->statements[0]));
}

}  // namespace
