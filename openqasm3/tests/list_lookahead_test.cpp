// The walks along a list: their look-ahead reads the kinds of the elements ahead (to fetch only
// the subtrees the walker enters), and the rewrite takes a handler's results over. Neither may
// change what a walk reaches or what a rewrite leaves: a pruned walk is compared with one that
// skips nothing, on lists of every length around the look-ahead's reach and many mixes of
// elements entered and skipped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "openqasm3/prefetch.hpp"
#include "openqasm3/visitor.hpp"
#include "tree_builders.hpp"

namespace {

using namespace qasm_test;

// One statement per letter: g a gate (nothing below it concerns the walkers here), d a classical
// declaration, b a branch holding a declaration, w a loop holding a gate, o a statement of an
// outside class holding a declaration (while one lives, no walk skips anything), _ a null element.
NodePtr statement(char c, int n) {
  const std::string name = std::string(1, c) + std::to_string(n);
  switch (c) {
    case 'g': return gate(name, {num(n)}, {id("q")});
    case 'd': return make<ClassicalDeclaration>(make<IntType>(), id(name), num(n));
    case 'b':
      return make<BranchingStatement>(id("c"), std::vector<StmtPtr>{make<ClassicalDeclaration>(make<IntType>(), id(name), nullptr)},
                                      std::vector<StmtPtr>{});
    case 'w': return make<WhileLoop>(num(1), std::vector<StmtPtr>{gate(name, {}, {id("q")})});
    case 'o':
      return make<OutsideDeclaration>(num(n), std::vector<StmtPtr>{make<ClassicalDeclaration>(make<IntType>(), id(name), nullptr)});
    default: return nullptr;
  }
}

// The element at position j of a list of `length` in mix `mix`: runs of skipped statements longer
// than the look-ahead, runs of entered ones longer than the run after which kinds are read only
// now and then, alternations, nulls.
char element(std::size_t mix, std::size_t j, std::size_t length) {
  switch (mix) {
    case 0: return 'g';
    case 1: return 'd';
    case 2: return j + 1 == length ? 'd' : 'g';
    case 3: return j % 5 == 4 ? 'd' : 'g';
    case 4: return j < 20 ? 'b' : (j % 7 == 0 ? 'd' : 'w');
    case 5: return "gd_bwgggd"[j % 9];
    case 6: return j % 11 == 10 ? 'o' : (j % 3 == 0 ? 'd' : 'g');
    default: return (j * 7919 % 13) < 3 ? 'd' : ((j * 7919 % 13) < 5 ? '_' : 'g');
  }
}
constexpr std::size_t kMixes = 8;

Ptr<Program> program_of(std::size_t mix, std::size_t length) {
  std::vector<NodePtr> statements;
  for (std::size_t j = 0; j < length; ++j) statements.push_back(statement(element(mix, j, length), static_cast<int>(j)));
  return make<Program>(statements);
}

// Records the declarations it meets; in a declaration named "d<cut>" it drops the last ten
// statements of a program of twenty or more (the declaration, a third of the way in, stays), as a
// handler may change the list it is walked from.
template <class D> struct DeclarationsOf : VisitorFor<D> {
  Program* root = nullptr;
  std::string cut;
  std::vector<std::string> seen;
  void visit_ClassicalDeclaration(ClassicalDeclaration& node) override {
    seen.push_back(node.identifier->name);
    if (root && node.identifier->name == cut && root->statements.size() >= 20)
      root->statements.resize(root->statements.size() - 10);
  }
};
struct PrunedDeclarations : DeclarationsOf<PrunedDeclarations> {};
struct AllDeclarations : DeclarationsOf<AllDeclarations>, EveryNode {};

// Splits a declaration into itself and a gate, or drops it, or keeps it, by its number; the
// gate's own number makes the results tell apart.
template <class D> struct SplitsOf : TransformerFor<D> {
  Rewrite visit_ClassicalDeclaration(const Ptr<ClassicalDeclaration>& node) override {
    const int n = std::stoi(node->identifier->name.substr(1));
    if (n % 3 == 0) return std::vector<StmtPtr>{node, gate("after" + std::to_string(n), {}, {})};
    if (n % 3 == 1) return {};
    return node;
  }
};
struct PrunedSplits : SplitsOf<PrunedSplits> {};
struct AllSplits : SplitsOf<AllSplits>, EveryNode {};

TEST(ListLookahead, PrunedWalksReachWhatAWalkOfEveryNodeReachesAtEveryLength) {
  for (std::size_t mix = 0; mix < kMixes; ++mix) {
    for (std::size_t length = 0; length <= 3 * kSubtreeAhead + 40; ++length) {
      const std::string where = "mix " + std::to_string(mix) + " length " + std::to_string(length);
      const auto original = program_of(mix, length);

      PrunedDeclarations pruned;
      AllDeclarations all;
      pruned.visit(original);
      all.visit(original);
      EXPECT_EQ(pruned.seen, all.seen) << where;

      // With the list cut short by a handler partway.
      const auto cut_a = deep_copy(original);
      const auto cut_b = deep_copy(original);
      PrunedDeclarations pruned_cut;
      AllDeclarations all_cut;
      pruned_cut.root = cut_a.get();
      all_cut.root = cut_b.get();
      pruned_cut.cut = all_cut.cut = "d" + std::to_string(length / 3);
      pruned_cut.visit(cut_a);
      all_cut.visit(cut_b);
      EXPECT_EQ(pruned_cut.seen, all_cut.seen) << where;
      EXPECT_TRUE(equal(*cut_a, *cut_b)) << where;

      // Rewritten: the program's list and the blocks below it.
      const auto split_a = deep_copy(original);
      const auto split_b = deep_copy(original);
      PrunedSplits().visit(split_a);
      AllSplits().visit(split_b);
      EXPECT_EQ(repr(*split_a), repr(*split_b)) << where;
    }
  }
}

TEST(ListLookahead, ASkippingWalkSkipsTheStatementsItHasNoUseFor) {
  PrunedDeclarations pruned;
  AllDeclarations all;
  EXPECT_EQ(pruned.walk_of(NodeKind::QuantumGate), detail::NodeWalk::skip);
  EXPECT_EQ(pruned.walk_of(NodeKind::BranchingStatement), detail::NodeWalk::children);
  EXPECT_EQ(all.walk_of(NodeKind::QuantumGate), detail::NodeWalk::children);
}

// The rewrite takes a handler's results over: what it puts in a list or a field is held there
// alone (no handle of the walk's left behind), by as many places as the handler gave it.
TEST(ListRewrite, ResultsAreTakenOverWithoutHandlesLeftBehind) {
  struct Results : TransformerFor<Results> {
    Ptr<QuantumGate> kept = gate("kept", {}, {});
    Rewrite visit_QuantumGate(const Ptr<QuantumGate>& g) override {
      const std::string& n = g->name->name;
      if (n == "one") return gate("ONE", {}, {});
      if (n == "two") return std::vector<StmtPtr>{gate("TWO_A", {}, {}), gate("TWO_B", {}, {})};
      if (n == "twice") {
        auto again = gate("TWICE", {}, {});
        return std::vector<StmtPtr>{again, nullptr, again};
      }
      if (n == "keep") return kept;
      return generic_visit(g);
    }
    Rewrite visit_IntegerLiteral(const Ptr<IntegerLiteral>& n) override { return real(static_cast<double>(n->value)); }
  };
  auto x = gate("x", {num(1), num(2)}, {id("q")});
  auto block = make<CompoundStatement>(
      std::vector<StmtPtr>{gate("one", {}, {}), x, gate("two", {}, {}), gate("twice", {}, {}), gate("keep", {}, {})});
  Results t;
  t.visit(block);
  std::vector<std::string> names;
  for (const auto& s : block->statements) names.push_back(std::static_pointer_cast<QuantumGate>(s)->name->name);
  EXPECT_EQ(names, (std::vector<std::string>{"ONE", "x", "TWO_A", "TWO_B", "TWICE", "TWICE", "kept"}));
  EXPECT_EQ(block->statements[0].use_count(), 1);
  EXPECT_EQ(block->statements[1], x);
  EXPECT_EQ(block->statements[2].use_count(), 1);
  EXPECT_EQ(block->statements[3].use_count(), 1);
  EXPECT_EQ(block->statements[4], block->statements[5]);
  EXPECT_EQ(block->statements[4].use_count(), 2);
  EXPECT_EQ(block->statements[6], t.kept);
  EXPECT_EQ(t.kept.use_count(), 2);
  // Replaced list elements below a statement, as a folded call argument is.
  ASSERT_EQ(x->arguments.size(), 2u);
  for (const auto& argument : x->arguments) {
    EXPECT_EQ(argument->class_name(), "FloatLiteral");
    EXPECT_EQ(argument.use_count(), 1);
  }
  // A replaced node field.
  auto sum = bin("+", num(3), id("a"));
  t.visit(sum);
  EXPECT_EQ(sum->lhs->class_name(), "FloatLiteral");
  EXPECT_EQ(sum->lhs.use_count(), 1);
}

}  // namespace
