#include "vell_qasm/configurations/hw_qubit.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <type_traits>

#include "openqasm3/visitor.hpp"

namespace ast = openqasm3::ast;
using namespace vell_qasm::configurations;

namespace {

static_assert(!std::is_default_constructible_v<std::hash<HwQubit>>, "HwQubit must not be hashable");
static_assert(std::is_base_of_v<ast::Identifier, HwQubit>);

TEST(HwQubit, CreateSetsNameAndIndex) {
  for (HwQubitIndex i : {0, 12, -1}) {
    auto q = create_hw_qubit(i);
    EXPECT_EQ(q->name, "$" + std::to_string(i));
    EXPECT_EQ(q->index, i);
    EXPECT_FALSE(q->span.has_value());
  }
  EXPECT_NE(create_hw_qubit(3), create_hw_qubit(3));  // a fresh node on every call
  auto q = create_hw_qubit(7);
  EXPECT_EQ(q->class_name(), "HwQubit");
  EXPECT_EQ(q->node_class(), ast::node_class_of<HwQubit>());
  EXPECT_NE(q->node_class(), ast::node_class_of<ast::Identifier>());
  EXPECT_EQ(q->node_class().text(), "<class 'vell_qasm.configurations.hw_qubit.HwQubit'>");
  EXPECT_EQ(ast::repr(*q), "HwQubit(span=None, name='$7', index=7)");
}

// Nodes are carved from shared slabs: many nodes, freed in any order and on any thread (also
// after the thread that made them has ended), each keep their own fields.
TEST(HwQubit, NodesOutliveEachOtherAndTheirThread) {
  std::vector<ast::Ptr<HwQubit>> kept;
  for (HwQubitIndex i = 0; i < 1000; ++i) {
    auto q = create_hw_qubit(i);
    if (i % 3 != 0) kept.push_back(std::move(q));  // every third freed at once
  }
  std::vector<ast::Ptr<HwQubit>> from_thread;
  std::thread([&] {
    for (HwQubitIndex i = 0; i < 300; ++i) from_thread.push_back(create_hw_qubit(-i));
  }).join();
  for (std::size_t i = 0; i < kept.size(); i += 2) kept[i].reset();
  std::thread([&] { from_thread.resize(100); }).join();  // freed on another thread
  for (std::size_t i = 1; i < kept.size(); i += 2) {
    const auto expected = static_cast<HwQubitIndex>(i / 2 * 3 + 2);  // kept: 1, 2, 4, 5, 7, 8...
    ASSERT_EQ(kept[i]->index, expected);
    ASSERT_EQ(kept[i]->name, "$" + std::to_string(expected));
  }
  for (HwQubitIndex i = 0; i < 100; ++i) ASSERT_EQ(from_thread[static_cast<std::size_t>(i)]->name, "$" + std::to_string(-i));
}

// Within a compilation's node arena a hardware qubit takes the slot of a qubit reference just
// freed (the two are of one size), and like any node outlives the scope it was made in.
TEST(HwQubit, MadeInTheCurrentNodeArena) {
  std::vector<ast::Ptr<HwQubit>> kept;
  {
    ast::NodeArenaScope arena(1 << 20);
    for (HwQubitIndex i = 0; i < 3; ++i) {
      ast::IndexList index{ast::make<ast::IntegerLiteral>(i)};
      auto reference = ast::make<ast::IndexedIdentifier>(ast::make<ast::Identifier>("q"),
                                                         std::vector<ast::IndexElement>{std::move(index)});
      const void* slot = reference.get();
      reference.reset();
      kept.push_back(create_hw_qubit(i));
      EXPECT_EQ(static_cast<const void*>(kept.back().get()), slot) << i;
    }
  }
  for (HwQubitIndex i = 0; i < 3; ++i) {
    EXPECT_EQ(kept[static_cast<std::size_t>(i)]->index, i);
    EXPECT_EQ(kept[static_cast<std::size_t>(i)]->name, "$" + std::to_string(i));
  }
}

// The in-order maker leaves the arena's freed slots alone, even inside a compilation's arena; its
// nodes are fresh, named after their index, and outlive the arena's scope.
TEST(HwQubit, InOrderNodesTakeNoFreedSlot) {
  std::vector<ast::Ptr<HwQubit>> kept;
  {
    ast::NodeArenaScope arena(1 << 20);
    for (HwQubitIndex i : {0, 1, -7, 1}) {
      auto reference = ast::make<ast::Identifier>("q");
      const void* slot = reference.get();
      reference.reset();
      kept.push_back(create_hw_qubit_in_order(i));
      EXPECT_NE(static_cast<const void*>(kept.back().get()), slot) << i;
    }
  }
  EXPECT_NE(kept[1], kept[3]);
  for (const auto& [at, index] : std::vector<std::pair<std::size_t, HwQubitIndex>>{{0, 0}, {1, 1}, {2, -7}, {3, 1}}) {
    EXPECT_EQ(kept[at]->index, index);
    EXPECT_EQ(kept[at]->name, "$" + std::to_string(index));
    EXPECT_EQ(ast::repr(*kept[at]), ast::repr(*create_hw_qubit(index)));
  }
}

TEST(HwQubit, EqualityByValueAndExactClass) {
  auto a = create_hw_qubit(5);
  auto b = create_hw_qubit(5);
  b->span = ast::Span{1, 2, 3, 4};
  EXPECT_TRUE(ast::equal(*a, *b));
  EXPECT_FALSE(ast::equal(*a, *create_hw_qubit(6)));
  b->index = 6;  // same name, other index
  EXPECT_FALSE(ast::equal(*a, *b));

  auto plain = ast::make<ast::Identifier>("$5");
  EXPECT_FALSE(ast::equal(*a, *plain));
  EXPECT_FALSE(ast::equal(*plain, *a));
}

TEST(HwQubit, DeepCopyKeepsClassAndFields) {
  auto q = create_hw_qubit(4);
  auto copy = ast::deep_copy(q);
  EXPECT_NE(copy, q);
  EXPECT_TRUE(ast::equal(*copy, *q));
  copy->index = 9;
  EXPECT_EQ(q->index, 4);
}

// A tree with one hardware qubit and one plain identifier among a gate's operands.
ast::Ptr<ast::QuantumGate> gate_on_hw_qubit() {
  auto gate = ast::make<ast::QuantumGate>();
  gate->name = ast::make<ast::Identifier>("cx");
  gate->qubits = {create_hw_qubit(2), ast::make<ast::Identifier>("q")};
  return gate;
}

struct PlainIdentifiers : ast::QASMVisitor {
  std::vector<std::string> seen;
  int generic = 0;
  void visit_Identifier(ast::Identifier& n) override { seen.push_back(n.name); }
  void generic_visit(ast::QASMNode& n) override {
    if (n.class_name() == "HwQubit") ++generic;
    ast::QASMVisitor::generic_visit(n);
  }
};

struct WithHwQubits : ast::QASMVisitor, HwQubitVisit {
  std::vector<std::string> identifiers;
  std::vector<HwQubitIndex> hw;
  void visit_Identifier(ast::Identifier& n) override { identifiers.push_back(n.name); }
  void visit_HwQubit(HwQubit& n) override { hw.push_back(n.index); }
};

TEST(HwQubitDispatch, VisitorReachesOwnHandlerOrGenericWalkNeverIdentifier) {
  auto gate = gate_on_hw_qubit();

  PlainIdentifiers plain;
  plain.visit(gate);
  EXPECT_EQ(plain.seen, (std::vector<std::string>{"cx", "q"}));
  EXPECT_EQ(plain.generic, 1);

  WithHwQubits with;
  with.visit(gate);
  EXPECT_EQ(with.identifiers, (std::vector<std::string>{"cx", "q"}));
  EXPECT_EQ(with.hw, (std::vector<HwQubitIndex>{2}));
}

struct RenumberHwQubits : ast::QASMTransformer, HwQubitTransform {
  int identifiers = 0;
  ast::Rewrite visit_Identifier(const ast::Ptr<ast::Identifier>& n) override {
    ++identifiers;
    return n;
  }
  ast::Rewrite visit_HwQubit(const ast::Ptr<HwQubit>& n) override { return create_hw_qubit(n->index + 10); }
};

struct DropIdentifiers : ast::QASMTransformer {
  ast::Rewrite visit_Identifier(const ast::Ptr<ast::Identifier>&) override { return {}; }
};

TEST(HwQubitDispatch, TransformerReachesOwnHandlerOrGenericWalkNeverIdentifier) {
  auto gate = gate_on_hw_qubit();
  RenumberHwQubits renumber;
  renumber.visit(gate);
  EXPECT_EQ(renumber.identifiers, 2);  // cx and q, not the hardware qubit
  ASSERT_EQ(gate->qubits.size(), 2u);
  auto hw = ast::dyn_cast<HwQubit>(gate->qubits[0]);
  ASSERT_TRUE(hw);
  EXPECT_EQ(hw->index, 12);
  EXPECT_EQ(hw->name, "$12");

  // Without the mixin the hardware qubit is kept by the generic walk, while plain identifiers go.
  DropIdentifiers drop;
  drop.visit(gate);
  ASSERT_EQ(gate->qubits.size(), 1u);
  EXPECT_EQ(gate->qubits[0], hw);
}

TEST(QubitPatterns, MatchAndText) {
  ExactQubitPattern three(3);
  EXPECT_TRUE(three.matches(3));
  EXPECT_FALSE(three.matches(4));
  EXPECT_EQ(ExactQubitPattern(7).repr(), "ExactQubitPattern(7)");
  EXPECT_EQ(ExactQubitPattern(-2).repr(), "ExactQubitPattern(-2)");

  AllQubitsValues all;
  const QubitPattern& any = all;
  for (HwQubitIndex i : {0, 5, -3}) EXPECT_TRUE(any.matches(i));
  static_assert(std::is_abstract_v<QubitPattern>);
}

}  // namespace
