// Nodes made under a NodeArenaScope: where they come from, and that the arena goes exactly when
// its owner and its last node are gone, whichever thread drops them and however the trees mix
// nodes of arenas and of the general allocator.
#include "openqasm3/detail/node_arena.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "tree_builders.hpp"

namespace {

using namespace qasm_test;
using openqasm3::ast::detail::NodeArena;

std::size_t live() { return NodeArena::live_arenas(); }

// A chain `x + 1 + 1 + ...` of `depth` operators: deep enough that recursive freeing would
// exhaust the stack.
ExprPtr chain(int depth) {
  ExprPtr e = id("x");
  for (int i = 0; i < depth; ++i) e = bin("+", e, num(1));
  return e;
}

TEST(NodeArena, LivesAsLongAsItsOwnerOrItsLastNode) {
  struct Case {
    const char* what;
    std::function<NodePtr()> make;  // run inside the scope; the result is held past it
  };
  const std::vector<Case> cases{
      {"nothing made", [] { return NodePtr(); }},
      {"a node made and dropped", [] { (void)id("x"); return NodePtr(); }},
      {"a node kept", [] { return NodePtr(id("x")); }},
      {"a parsed tree kept", [] { return NodePtr(openqasm3::parse("qubit q; x q;")); }},
      {"a copy of a tree kept", [] { return NodePtr(deep_copy(bin("*", id("a"), num(2)))); }},
      {"a deep chain kept", [] { return NodePtr(chain(200000)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = live();
    NodePtr kept;
    {
      NodeArenaScope scope(100);
      EXPECT_EQ(live(), before + 1);
      kept = c.make();
    }
    EXPECT_EQ(live(), before + (kept ? 1 : 0));
    kept.reset();
    EXPECT_EQ(live(), before);
  }
}

TEST(NodeArena, ANodeDroppedWhileTheScopeRunsLeavesItsSlotToTheNextOfItsSize) {
  const std::size_t before = live();
  NodePtr kept;
  {
    NodeArenaScope scope(100);
    auto first = id("a");
    const void* slot = first.get();
    first.reset();
    auto same_size = id("b");
    EXPECT_EQ(same_size.get(), slot);
    auto other_size = bin("+", same_size, num(1));
    EXPECT_NE(static_cast<const void*>(other_size.get()), slot);
    // Slots left unused when the scope ends do not keep the arena alive.
    other_size.reset();
    same_size.reset();
    kept = id("c");
  }
  EXPECT_EQ(live(), before + 1);
  kept.reset();
  EXPECT_EQ(live(), before);
}

TEST(NodeArena, OneArenaPerScopeNestingOrParsingInside) {
  const std::size_t before = live();
  Ptr<Program> parsed;
  NodePtr inner_node;
  {
    NodeArenaScope outer(1 << 20);
    {
      NodeArenaScope inner(10);  // joins the outer arena
      inner_node = id("y");
    }
    parsed = openqasm3::parse("OPENQASM 3.0;\nqubit[2] q;\ncx q[0], q[1];\n");
    EXPECT_EQ(live(), before + 1);
  }
  EXPECT_EQ(live(), before + 1);
  parsed.reset();
  EXPECT_EQ(live(), before + 1);  // the node of the inner scope still holds the shared arena
  inner_node.reset();
  EXPECT_EQ(live(), before);
  // Without a scope, a parse has an arena of its own that its tree alone holds.
  auto alone = openqasm3::parse("qubit q;");
  EXPECT_EQ(live(), before + 1);
  alone.reset();
  EXPECT_EQ(live(), before);
}

TEST(NodeArena, TreesMixNodesOfArenasAndOfTheGeneralAllocator) {
  const std::size_t before = live();
  auto outside = id("shared");  // made without a scope
  Ptr<Program> program;
  ExprPtr deep;
  {
    NodeArenaScope scope(100);
    program = make<Program>(std::vector<NodePtr>{make<ExpressionStatement>(outside),
                                                 make<ExpressionStatement>(bin("+", outside, outside))}, "3.0");
    deep = chain(200000);
  }
  // A node of the general allocator takes an arena's node as its child, and the other way round.
  auto holder = make<ExpressionStatement>(std::static_pointer_cast<BinaryExpression>(
      std::static_pointer_cast<ExpressionStatement>(program->statements[1])->expression)->lhs);
  auto long_outside = bin("-", deep, outside);
  deep.reset();
  EXPECT_NE(openqasm3::dumps(*program).find("shared;\nshared + shared;\n"), std::string::npos);
  program.reset();
  EXPECT_EQ(live(), before + 1);  // long_outside holds the chain
  long_outside.reset();
  EXPECT_EQ(live(), before);
  EXPECT_EQ(holder->expression.get(), outside.get());
}

TEST(NodeArena, ThreadsMakeNodesInTheirOwnArenasAndFreeEachOthers) {
  const std::size_t before = live();
  constexpr int kTrees = 50;
  std::vector<Ptr<Program>> made_by_a(kTrees), made_by_b(kTrees);
  auto build = [](std::vector<Ptr<Program>>& out, const std::string& name) {
    NodeArenaScope scope(1 << 20);
    for (auto& tree : out) {
      tree = openqasm3::parse("qubit " + name + ";\nh " + name + ";\n");
      tree->statements.push_back(make<ExpressionStatement>(chain(1000)));
    }
  };
  std::thread a([&] { build(made_by_a, "a"); });
  std::thread b([&] { build(made_by_b, "b"); });
  a.join();
  b.join();
  EXPECT_EQ(live(), before + 2);
  for (int i = 0; i < kTrees; ++i) {
    EXPECT_NE(openqasm3::dumps(*made_by_a[i]).find("qubit a;\nh a;\n"), std::string::npos);
    EXPECT_NE(openqasm3::dumps(*made_by_b[i]).find("qubit b;\nh b;\n"), std::string::npos);
  }
  // Each thread drops the other's trees.
  std::thread free_a([&] { made_by_b.clear(); });
  std::thread free_b([&] { made_by_a.clear(); });
  free_a.join();
  free_b.join();
  EXPECT_EQ(live(), before);
}

}  // namespace

namespace {

// Fills about `blocks` arena blocks with literals numbered from `first`, in the current scope.
std::vector<Ptr<IntegerLiteral>> fill_blocks(int blocks, std::int64_t first) {
  std::vector<Ptr<IntegerLiteral>> nodes;
  const std::size_t per_block = NodeArena::kBlockSize / sizeof(IntegerLiteral);  // at least
  for (std::size_t i = 0; i < per_block * static_cast<std::size_t>(blocks); ++i)
    nodes.push_back(num(first + static_cast<std::int64_t>(i)));
  return nodes;
}

}  // namespace

// Blocks of finished arenas are kept for the next ones, beyond the first few handed to the kernel
// as free-if-needed: arenas made from them hold their nodes intact and go when their nodes go.
TEST(NodeArena, BlocksOfFinishedArenasServeTheNextArenas) {
  const std::size_t before = live();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<std::vector<Ptr<IntegerLiteral>>> held;
    for (int arena = 0; arena < 2; ++arena) {
      NodeArenaScope scope(NodeArena::kSmallSourceBytes);
      held.push_back(fill_blocks(12, arena * 1000000));
    }
    for (int arena = 0; arena < 2; ++arena) {
      const auto& nodes = held[static_cast<std::size_t>(arena)];
      for (std::size_t i = 0; i < nodes.size(); i += 997)
        ASSERT_EQ(nodes[i]->value, arena * 1000000 + static_cast<std::int64_t>(i));
    }
    EXPECT_EQ(live(), before + 2);
    held.clear();  // both arenas go, and their blocks to the cache
    EXPECT_EQ(live(), before);
  }
}
