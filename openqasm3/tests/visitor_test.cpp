#include "openqasm3/visitor.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "openqasm3/printer.hpp"
#include "tree_builders.hpp"

namespace {

using namespace qasm_test;

// Records, in visiting order, which handler saw which node.
struct Recorder : QASMVisitor {
  std::vector<std::string> seen;
  void generic_visit(QASMNode& node) override {
    seen.push_back("generic " + std::string(node.class_name()));
    QASMVisitor::generic_visit(node);
  }
  void visit_Identifier(Identifier& node) override { seen.push_back("Identifier " + node.name); }
  void visit_Statement(Statement& node) override {
    seen.push_back("Statement " + std::string(node.class_name()));
  }
};

struct OutsideRecorder : Recorder, ExternalVisit<OutsideQubit>, ExternalVisit<OutsideDeclaration> {
  void visit_external(OutsideQubit& node) override { seen.push_back("OutsideQubit " + node.name); }
  void visit_external(OutsideDeclaration& node) override {
    seen.push_back("OutsideDeclaration");
    generic_visit(node);
  }
};

std::vector<std::string> names_seen(QASMNode& root) {
  struct Names : VisitorFor<Names> {
    std::vector<std::string> names;
    void visit_Identifier(Identifier& n) override { names.push_back(n.name); }
  } v;
  v.visit(root);
  return v.names;
}

TEST(VisitorDispatch, OutsideClassesReachTheirOwnHandlerNeverTheBases) {
  auto q = make<OutsideQubit>("$1", 1);
  auto decl = make<OutsideDeclaration>(q, std::vector<StmtPtr>{stmt(id("a"))});
  auto program = make<Program>(std::vector<NodePtr>{decl});

  OutsideRecorder with_handlers;
  with_handlers.visit(*program);
  EXPECT_EQ(with_handlers.seen, (std::vector<std::string>{"generic Program", "OutsideDeclaration",
                                                          "generic OutsideDeclaration", "OutsideQubit $1",
                                                          "generic ExpressionStatement", "Identifier a"}));

  // Without handlers of their own, both go to the generic visit, which enters their fields;
  // visit_Identifier and visit_Statement are never called for them.
  Recorder without;
  without.visit(*program);
  EXPECT_EQ(without.seen, (std::vector<std::string>{"generic Program", "generic OutsideDeclaration",
                                                    "generic OutsideQubit", "generic ExpressionStatement",
                                                    "Identifier a"}));

  // The is-a relation still holds, but the class identity is the outside class's own.
  EXPECT_TRUE(isa<Identifier>(q));
  EXPECT_FALSE(is_exactly<Identifier>(*q));
  EXPECT_EQ(q->class_name(), "OutsideQubit");
  EXPECT_EQ(q->kind(), NodeKind::External);
  EXPECT_EQ(q->library_kind(), NodeKind::Identifier);
  EXPECT_EQ(decl->library_kind(), NodeKind::Statement);
  EXPECT_FALSE(q->node_class() == node_class_of<Identifier>());
  EXPECT_EQ(q->node_class().text(), "<class 'tests.outside.OutsideQubit'>");
}

TEST(VisitorDispatch, EachWalkerObjectReachesItsOwnOutsideHandler) {
  // The handler's place in a walker is found once per walker class: walkers of the same class,
  // and of another class in between, still each receive their own calls.
  auto program = make<Program>(std::vector<NodePtr>{make<OutsideQubit>("$1", 1)});
  OutsideRecorder first, second;
  Recorder without;
  for (int round = 0; round < 2; ++round) {
    first.visit(*program);
    without.visit(*program);
    second.visit(*program);
  }
  const std::vector<std::string> twice{"generic Program", "OutsideQubit $1", "generic Program", "OutsideQubit $1"};
  EXPECT_EQ(first.seen, twice);
  EXPECT_EQ(second.seen, twice);
  EXPECT_EQ(without.seen, (std::vector<std::string>{"generic Program", "generic OutsideQubit",
                                                    "generic Program", "generic OutsideQubit"}));
}

TEST(VisitorDispatch, LibraryClassesNeverReachABaseClassHandler) {
  auto program = make<Program>(std::vector<NodePtr>{make<BreakStatement>(), stmt(id("x"))});
  Recorder r;
  r.visit(*program);
  EXPECT_EQ(r.seen, (std::vector<std::string>{"generic Program", "generic BreakStatement",
                                              "generic ExpressionStatement", "Identifier x"}));
}

// Which handlers a VisitorFor<D> leaves to the generic walk is read from D at compile time.
struct OnlyIdentifiers : VisitorFor<OnlyIdentifiers> {
  std::vector<std::string> seen;
  void visit_Identifier(Identifier& n) override { seen.push_back("Identifier " + n.name); }
};
static_assert(!detail::kVisitorDefaults<OnlyIdentifiers>.generic[static_cast<std::size_t>(NodeKind::Identifier)]);
static_assert(detail::kVisitorDefaults<OnlyIdentifiers>.generic[static_cast<std::size_t>(NodeKind::IntegerLiteral)]);
static_assert(!detail::kVisitorDefaults<OnlyIdentifiers>.generic[static_cast<std::size_t>(NodeKind::External)]);

// The same walk seen by walkers that override handlers at different places of their class
// hierarchy: no override is skipped, whichever base the walker derives from.
TEST(VisitorDispatch, EveryOverrideIsCalledWhereverItIsDeclared) {
  struct MoreInDerived : OnlyIdentifiers {
    void visit_IntegerLiteral(IntegerLiteral& n) override { seen.push_back("Int " + std::to_string(n.value)); }
  };
  struct GenericInDerived : OnlyIdentifiers {
    void generic_visit(QASMNode& n) override {
      seen.push_back("generic " + std::string(n.class_name()));
      OnlyIdentifiers::generic_visit(n);
    }
  };
  struct GenericInCrtp : VisitorFor<GenericInCrtp> {
    std::vector<std::string> seen;
    void generic_visit(QASMNode& n) override {
      seen.push_back("generic " + std::string(n.class_name()));
      QASMVisitor::generic_visit(n);
    }
    void visit_Identifier(Identifier& n) override { seen.push_back("Identifier " + n.name); }
  };
  auto tree = [] { return stmt(bin("+", id("a"), num(1))); };
  const std::vector<std::string> generic_seen{"generic ExpressionStatement", "generic BinaryExpression",
                                              "Identifier a", "generic IntegerLiteral"};
  OnlyIdentifiers only;
  only.visit(*tree());
  EXPECT_EQ(only.seen, (std::vector<std::string>{"Identifier a"}));
  MoreInDerived more;
  more.visit(*tree());
  EXPECT_EQ(more.seen, (std::vector<std::string>{"Identifier a", "Int 1"}));
  GenericInDerived generic_derived;
  generic_derived.visit(*tree());
  EXPECT_EQ(generic_derived.seen, generic_seen);
  GenericInCrtp generic_crtp;
  generic_crtp.visit(*tree());
  EXPECT_EQ(generic_crtp.seen, generic_seen);
}

// A walk from the base's constructor, while the object is still of the base class, does not
// decide for the finished object.
TEST(VisitorDispatch, AWalkDuringConstructionDoesNotHideTheDerivedClassOverrides) {
  struct WalksWhenMade : VisitorFor<WalksWhenMade> {
    std::vector<std::string> seen;
    explicit WalksWhenMade(QASMNode& tree) { visit(tree); }
    void visit_Identifier(Identifier& n) override { seen.push_back("Identifier " + n.name); }
  };
  struct AlsoNumbers : WalksWhenMade {
    explicit AlsoNumbers(QASMNode& tree) : WalksWhenMade(tree) {}
    void visit_IntegerLiteral(IntegerLiteral& n) override { seen.push_back("Int " + std::to_string(n.value)); }
  };
  auto tree = stmt(bin("+", id("a"), num(1)));
  AlsoNumbers v(*tree);
  EXPECT_EQ(v.seen, (std::vector<std::string>{"Identifier a"}));
  v.visit(*tree);
  EXPECT_EQ(v.seen, (std::vector<std::string>{"Identifier a", "Identifier a", "Int 1"}));
}

TEST(TransformerDispatch, AnOverrideInAClassDerivedFromTheWalkerIsCalled) {
  struct Doubler : TransformerFor<Doubler> {
    Rewrite visit_Identifier(const Ptr<Identifier>& n) override { return id(n->name + n->name); }
  };
  struct DoublerAndNegator : Doubler {
    Rewrite visit_IntegerLiteral(const Ptr<IntegerLiteral>& n) override { return num(-n->value); }
  };
  auto sum = bin("+", id("a"), num(1));
  DoublerAndNegator t;
  t.visit(sum);
  EXPECT_EQ(openqasm3::dumps(*sum), "aa + -1");
}

struct Renamer : TransformerFor<Renamer> {
  Rewrite visit_Identifier(const Ptr<Identifier>& node) override { return id(node->name + "'"); }
};
struct OutsideRenamer : Renamer, ExternalTransform<OutsideQubit> {
  Rewrite visit_external(const Ptr<OutsideQubit>& node) override {
    return make<OutsideQubit>(node->name, node->index + 10);
  }
};

TEST(TransformerDispatch, OutsideClassesReachTheirOwnHandlerOrTheGenericWalk) {
  auto make_tree = [] {
    return make<BinaryExpression>(BinaryOperator::plus, make<OutsideQubit>("$1", 1), id("a"));
  };

  auto tree = make_tree();
  OutsideRenamer with_handler;
  EXPECT_EQ(with_handler.visit(tree).node(), tree);
  auto lhs = dyn_cast<OutsideQubit>(tree->lhs);
  ASSERT_NE(lhs, nullptr);
  EXPECT_EQ(lhs->index, 11);
  EXPECT_EQ(lhs->name, "$1");  // not renamed: visit_Identifier never saw it
  EXPECT_EQ(std::static_pointer_cast<Identifier>(tree->rhs)->name, "a'");

  auto tree2 = make_tree();
  auto original_lhs = tree2->lhs;
  Renamer without;
  without.visit(tree2);
  EXPECT_EQ(tree2->lhs, original_lhs);  // generic walk keeps the node itself
  EXPECT_EQ(std::static_pointer_cast<Identifier>(tree2->lhs)->name, "$1");
}

TEST(GenericWalk, VisitsFieldsInOrderAnnotationsFirst) {
  auto g = make<QuantumGate>(
      std::vector<Ptr<QuantumGateModifier>>{make<QuantumGateModifier>(GateModifierName::pow, id("p"))},
      id("rx"), std::vector<ExprPtr>{id("theta")}, std::vector<NodePtr>{id("q"), indexed("r", {IndexList{id("i")}})},
      id("d"));
  annotate(g, "first");
  Recorder r;
  r.visit(*g);
  EXPECT_EQ(r.seen, (std::vector<std::string>{"generic QuantumGate", "generic Annotation",
                                              "generic QuantumGateModifier", "Identifier p", "Identifier rx",
                                              "Identifier theta", "Identifier q", "generic IndexedIdentifier",
                                              "Identifier r", "Identifier d"}));
}

// A handler reads the handle its node was reached through, also after visiting the children;
// the root of a walk started by reference has none.
TEST(GenericWalk, AHandlerReadsTheHandleItsNodeWasReachedThrough) {
  struct Handles : QASMVisitor {
    std::vector<NodePtr> seen;
    void generic_visit(QASMNode& node) override {
      QASMVisitor::generic_visit(node);
      seen.push_back(handle());
    }
  };
  auto lhs = id("a");
  auto rhs = id("b");
  auto sum = make<BinaryExpression>(BinaryOperator::plus, lhs, rhs);
  auto statement = make<ExpressionStatement>(sum);
  Handles by_handle;
  by_handle.visit(NodePtr(statement));
  EXPECT_EQ(by_handle.seen, (std::vector<NodePtr>{lhs, rhs, sum, statement}));

  Handles by_reference;
  by_reference.visit(*statement);
  EXPECT_EQ(by_reference.seen, (std::vector<NodePtr>{lhs, rhs, sum, nullptr}));
}

TEST(GenericWalk, SwitchEntersDefaultButNotCases) {
  auto sw = make<SwitchStatement>(
      id("target"),
      std::vector<SwitchCase>{{{id("label")}, make<CompoundStatement>(std::vector<StmtPtr>{stmt(id("in_case"))})}},
      make<CompoundStatement>(std::vector<StmtPtr>{stmt(id("in_default"))}));
  EXPECT_EQ(names_seen(*sw), (std::vector<std::string>{"target", "in_default"}));

  Renamer t;
  auto case_block = sw->cases[0].block;
  t.visit(sw);
  EXPECT_EQ(std::static_pointer_cast<Identifier>(sw->target)->name, "target'");
  auto in_default = std::static_pointer_cast<ExpressionStatement>(sw->default_->statements[0]);
  EXPECT_EQ(std::static_pointer_cast<Identifier>(in_default->expression)->name, "in_default'");
  ASSERT_EQ(sw->cases.size(), 1u);
  EXPECT_EQ(sw->cases[0].block, case_block);
  EXPECT_EQ(std::static_pointer_cast<Identifier>(sw->cases[0].values[0])->name, "label");
  auto in_case = std::static_pointer_cast<ExpressionStatement>(case_block->statements[0]);
  EXPECT_EQ(std::static_pointer_cast<Identifier>(in_case->expression)->name, "in_case");
}

// switch (outer) { case a { switch (inner) { case b { x; } default { y; } } } default { z; } }
Ptr<SwitchStatement> nested_switches() {
  auto block = [](std::vector<StmtPtr> s) { return make<CompoundStatement>(std::move(s)); };
  auto inner = make<SwitchStatement>(id("inner"), std::vector<SwitchCase>{{{id("b")}, block({stmt(id("x"))})}},
                                     block({stmt(id("y"))}));
  return make<SwitchStatement>(id("outer"), std::vector<SwitchCase>{{{id("a")}, block({inner})}},
                               block({stmt(id("z"))}));
}

TEST(GenericWalk, SwitchCasesAreEnteredOnlyWhenTheWalkerAsks) {
  auto sw = nested_switches();
  EXPECT_EQ(names_seen(*sw), (std::vector<std::string>{"outer", "z"}));

  struct Entering : VisitorFor<Entering> {
    Entering() : VisitorFor(SwitchCases::enter) {}
    std::vector<std::string> names;
    void visit_Identifier(Identifier& n) override { names.push_back(n.name); }
  } v;
  v.visit(*sw);
  EXPECT_EQ(v.names, (std::vector<std::string>{"outer", "a", "inner", "b", "x", "y", "z"}));
}

TEST(GenericTransform, SwitchCasesAreRewrittenOnlyWhenTheTransformerAsks) {
  auto skipping = nested_switches();
  Renamer plain;
  plain.visit(skipping);
  EXPECT_EQ(openqasm3::dumps(*skipping), "switch (outer') {\n  case a {\n    switch (inner) {\n      case b {\n        x;\n      }\n"
                              "      default {\n        y;\n      }\n    }\n  }\n  default {\n    z';\n  }\n}\n");

  // Labels and blocks of every level; a case block's statements are rebuilt as any statement list.
  struct Entering : TransformerFor<Entering> {
    Entering() : TransformerFor(SwitchCases::enter) {}
    Rewrite visit_Identifier(const Ptr<Identifier>& n) override { return id(n->name + "'"); }
    Rewrite visit_ExpressionStatement(const Ptr<ExpressionStatement>& n) override {
      if (std::static_pointer_cast<Identifier>(n->expression)->name == "y") return std::vector<NodePtr>{};
      if (std::static_pointer_cast<Identifier>(n->expression)->name == "x")
        return std::vector<NodePtr>{n, stmt(id("x2"))};
      return generic_visit(n);
    }
  } entering;
  auto sw = nested_switches();
  entering.visit(sw);
  EXPECT_EQ(openqasm3::dumps(*sw), "switch (outer') {\n  case a' {\n    switch (inner') {\n      case b' {\n        x;\n        x2;\n"
                        "      }\n      default {\n      }\n    }\n  }\n  default {\n    z';\n  }\n}\n");
}

TEST(GenericWalk, IndexListsOfAnIndexedIdentifierAreNotEnteredButSetsAndExpressionIndicesAre) {
  auto operand = make<IndexedIdentifier>(
      id("q"), std::vector<IndexElement>{IndexList{id("inner")}, make<DiscreteSet>(std::vector<ExprPtr>{id("in_set")})});
  auto expr = at(id("a"), {id("in_index"), range(id("lo"), id("hi"))});
  auto assign = make<ClassicalAssignment>(operand, AssignmentOperator::assign, expr);
  EXPECT_EQ(names_seen(*assign), (std::vector<std::string>{"q", "in_set", "a", "in_index", "lo", "hi"}));

  auto inner = std::get<IndexList>(operand->indices[0])[0];
  Renamer t;
  t.visit(assign);
  EXPECT_EQ(std::get<IndexList>(operand->indices[0])[0], inner);
  EXPECT_EQ(std::static_pointer_cast<Identifier>(std::get<IndexList>(operand->indices[0])[0])->name, "inner");
  auto set = std::get<Ptr<DiscreteSet>>(operand->indices[1]);
  EXPECT_EQ(std::static_pointer_cast<Identifier>(set->values[0])->name, "in_set'");
  EXPECT_EQ(std::static_pointer_cast<Identifier>(std::get<IndexList>(expr->index)[0])->name, "in_index'");
}

TEST(GenericWalk, AWalkerThatAsksEntersIndexListsAfterTheOtherFieldsWithTheirHandles) {
  // q[a, b][{in_set}][c]: the sets first, as the reference walk has them, then the lists in order.
  auto operand = make<IndexedIdentifier>(
      id("q"), std::vector<IndexElement>{IndexList{id("a"), id("b")}, make<DiscreteSet>(std::vector<ExprPtr>{id("in_set")}),
                                         IndexList{id("c")}});
  struct Entering : VisitorFor<Entering> {
    Entering() { enter_index_lists(); }
    std::vector<std::string> names;
    std::vector<NodePtr> handles;
    void visit_Identifier(Identifier& n) override {
      names.push_back(n.name);
      handles.push_back(handle());
    }
  } v;
  v.visit(*operand);
  EXPECT_EQ(v.names, (std::vector<std::string>{"q", "in_set", "a", "b", "c"}));
  EXPECT_EQ(v.handles[3], std::get<IndexList>(operand->indices[0])[1]);
  EXPECT_EQ(names_seen(*operand), (std::vector<std::string>{"q", "in_set"}));
}

// Drops resets, splices a barrier in front of every `x`, replaces every `y` by a barrier.
struct Rewriter : TransformerFor<Rewriter> {
  Rewrite visit_QuantumReset(const Ptr<QuantumReset>&) override { return {}; }
  Rewrite visit_QuantumGate(const Ptr<QuantumGate>& g) override {
    if (g->name->name == "x")
      return std::vector<StmtPtr>{make<QuantumBarrier>(std::vector<NodePtr>{}), g};
    if (g->name->name == "y") return make<QuantumBarrier>(g->qubits);
    return g;
  }
};

std::vector<std::string> kinds(const std::vector<StmtPtr>& list) {
  std::vector<std::string> out;
  for (const auto& s : list) {
    auto g = dyn_cast<QuantumGate>(s);
    out.push_back(g ? "gate " + g->name->name : std::string(s->class_name()));
  }
  return out;
}

TEST(GenericTransform, DropsSplicesAndReplacesInNestedBlocks) {
  auto reset = [] { return make<QuantumReset>(id("q")); };
  auto loop = make<WhileLoop>(id("c"), std::vector<StmtPtr>{reset(), gate("x", {}, {id("q")}), gate("z", {}, {id("q")})});
  auto branch = make<BranchingStatement>(
      id("c"), std::vector<StmtPtr>{gate("y", {}, {id("q")}), reset(), gate("x", {}, {id("q")})},
      std::vector<StmtPtr>{loop});
  auto def = make<QuantumGateDefinition>(id("g"), std::vector<Ptr<Identifier>>{}, std::vector<Ptr<Identifier>>{id("q")},
                                         std::vector<StmtPtr>{reset(), reset()});
  auto program = make<Program>(std::vector<NodePtr>{branch, reset(), def});

  Rewriter t;
  Rewrite result = t.visit(program);
  ASSERT_TRUE(result.is_node());
  EXPECT_EQ(result.node(), program);
  ASSERT_EQ(program->statements.size(), 2u);
  EXPECT_EQ(program->statements[0], branch);
  EXPECT_EQ(kinds(branch->if_block), (std::vector<std::string>{"QuantumBarrier", "QuantumBarrier", "gate x"}));
  ASSERT_EQ(branch->else_block.size(), 1u);
  EXPECT_EQ(branch->else_block[0], loop);
  EXPECT_EQ(kinds(loop->block), (std::vector<std::string>{"QuantumBarrier", "gate x", "gate z"}));
  EXPECT_TRUE(def->body.empty());
}

TEST(GenericTransform, AFailingVisitLeavesTheListWithTheRewritesMadeBeforeItAndNothingLost) {
  // x; reset; boom; y;  with x spliced, the reset dropped and `boom` failing.
  struct Failing : Rewriter {
    Rewrite visit_QuantumGate(const Ptr<QuantumGate>& g) override {
      if (g->name->name == "boom") throw std::runtime_error("boom");
      return Rewriter::visit_QuantumGate(g);
    }
  } t;
  auto boom = gate("boom", {}, {}), y = gate("y", {}, {});
  auto block = make<CompoundStatement>(std::vector<StmtPtr>{gate("x", {}, {}), make<QuantumReset>(id("q")), boom, y});
  EXPECT_THROW(t.visit(block), std::runtime_error);
  EXPECT_EQ(kinds(block->statements), (std::vector<std::string>{"QuantumBarrier", "gate x", "gate boom", "gate y"}));
  EXPECT_EQ(block->statements[2], boom);
  EXPECT_EQ(block->statements[3], y);
}

// A statement list rewritten in place: every sequence of kept, replaced, dropped and spliced
// elements, with a failure anywhere, ends with each element once, in order.
TEST(GenericTransform, MixedRewritesOfAListKeepOrderAndLoseNothingOnAFailure) {
  // By the first letter of each gate's name: k keeps it, r replaces it (by its name in capitals),
  // d drops it, e yields an empty list, s splices two new gates in front of it, t fails in the
  // visit, x yields an expression, which no statement list takes; `_` stands for a null element.
  struct Ops : TransformerFor<Ops> {
    Rewrite visit_QuantumGate(const Ptr<QuantumGate>& g) override {
      const std::string& n = g->name->name;
      switch (n[0]) {
        case 'r': {
          std::string upper = n;
          upper[0] = 'R';
          return gate(upper, {}, {});
        }
        case 'd': return {};
        case 'e': return std::vector<NodePtr>{};
        case 's': return std::vector<StmtPtr>{gate(n + "a", {}, {}), gate(n + "b", {}, {}), g};
        case 't': throw std::runtime_error("t");
        case 'x': return id("x");
        default: return g;
      }
    }
  };
  auto names = [](const std::vector<StmtPtr>& list) {
    std::string out;
    for (const auto& s : list) {
      if (!out.empty()) out += ' ';
      out += s ? std::static_pointer_cast<QuantumGate>(s)->name->name : "_";
    }
    return out;
  };
  struct Case {
    const char* input;
    const char* output;
    bool fails;
  };
  const Case cases[] = {
      {"k1 k2 k3", "k1 k2 k3", false},
      {"r1 k2 d3 k4 r5", "R1 k2 k4 R5", false},
      {"d1 e2 k3 _ k4 e5", "k3 _ k4", false},
      {"d1 d2 s3 k4 k5", "s3a s3b s3 k4 k5", false},
      {"s1 k2 k3 s4 k5", "s1a s1b s1 k2 k3 s4a s4b s4 k5", false},
      {"s1 s2 d3 d4 d5 d6 d7 k8", "s1a s1b s1 s2a s2b s2 k8", false},
      {"s1 d2 d3 d4 k5", "s1a s1b s1 k5", false},
      {"k1 s2", "k1 s2a s2b s2", false},
      {"_ s1 _", "_ s1a s1b s1 _", false},
      {"k1 s2 t3 k4", "k1 s2a s2b s2 t3 k4", true},
      {"s1 k2 k3 t4", "s1a s1b s1 k2 k3 t4", true},
      {"d1 r2 t3 d4", "R2 t3 d4", true},
      {"d1 d2 d3 s4 t5 k6", "s4a s4b s4 t5 k6", true},
      {"s1 d2 x3 k4", "s1a s1b s1 x3 k4", true},
      {"t1 d2", "t1 d2", true},
  };
  for (const Case& c : cases) {
    std::vector<StmtPtr> list;
    for (std::size_t b = 0, e; b < std::string_view(c.input).size(); b = e + 1) {
      e = std::string_view(c.input).find(' ', b);
      if (e == std::string_view::npos) e = std::string_view(c.input).size();
      std::string name(c.input + b, c.input + e);
      list.push_back(name == "_" ? nullptr : gate(name, {}, {}));
    }
    auto block = make<CompoundStatement>(list);
    Ops t;
    bool failed = false;
    try {
      t.visit(block);
    } catch (const std::exception&) {
      failed = true;
    }
    EXPECT_EQ(failed, c.fails) << c.input;
    EXPECT_EQ(names(block->statements), c.output) << c.input;
    // Kept elements and those left by a failure are the original nodes, not copies.
    for (const auto& s : block->statements) {
      for (const auto& original : list) {
        if (s && original && std::static_pointer_cast<QuantumGate>(s)->name->name ==
                                  std::static_pointer_cast<QuantumGate>(original)->name->name) {
          EXPECT_EQ(s, original) << c.input;
        }
      }
    }
  }
}

TEST(GenericTransform, NodeFieldsAreReplacedOrCleared) {
  struct DropDurations : TransformerFor<DropDurations> {
    Rewrite visit_DurationLiteral(const Ptr<DurationLiteral>&) override { return {}; }
    Rewrite visit_IntegerLiteral(const Ptr<IntegerLiteral>& n) override { return num(n->value * 2); }
  };
  auto g = make<QuantumGate>(std::vector<Ptr<QuantumGateModifier>>{}, id("x"), std::vector<ExprPtr>{num(1)},
                             std::vector<NodePtr>{id("q")}, make<DurationLiteral>(10.0, TimeUnit::ns));
  auto decl = make<ClassicalDeclaration>(make<IntType>(num(8)), id("i"), num(3));
  DropDurations t;
  t.visit(g);
  t.visit(decl);
  EXPECT_EQ(g->duration, nullptr);
  EXPECT_EQ(std::static_pointer_cast<IntegerLiteral>(g->arguments[0])->value, 2);
  EXPECT_EQ(std::static_pointer_cast<IntegerLiteral>(decl->init_expression)->value, 6);
  EXPECT_EQ(std::static_pointer_cast<IntegerLiteral>(std::static_pointer_cast<IntType>(decl->type)->size)->value, 16);
}

TEST(GenericTransform, ResultsThatDoNotFitTheFieldAreRejected) {
  struct IdentifiersToNumbers : TransformerFor<IdentifiersToNumbers> {
    Rewrite visit_Identifier(const Ptr<Identifier>&) override { return num(0); }
  };
  struct StatementsToList : QASMTransformer {
    Rewrite visit_Identifier(const Ptr<Identifier>& n) override { return std::vector<NodePtr>{n, n}; }
  };
  struct StatementToExpression : QASMTransformer {
    Rewrite visit_BreakStatement(const Ptr<BreakStatement>&) override { return id("b"); }
  };

  // An expression field takes a number in place of an identifier...
  auto sum = bin("+", id("a"), id("b"));
  IdentifiersToNumbers to_numbers;
  EXPECT_NO_THROW(to_numbers.visit(sum));
  EXPECT_EQ(sum->lhs->class_name(), "IntegerLiteral");

  // ...but an identifier field, or a list of identifiers, does not.
  try {
    to_numbers.visit(gate("x", {}, {}));
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), "cannot place IntegerLiteral in field 'name' of QuantumGate (expected Identifier)");
  }
  auto def = make<QuantumGateDefinition>(id("g"), std::vector<Ptr<Identifier>>{}, std::vector<Ptr<Identifier>>{id("q")},
                                         std::vector<StmtPtr>{});
  def->name = nullptr;  // so that the list field is the first to fail
  EXPECT_THROW(to_numbers.visit(def), std::invalid_argument);

  StatementsToList to_list;
  EXPECT_THROW(to_list.visit(sum = bin("+", id("a"), id("b"))), std::invalid_argument);

  StatementToExpression to_expression;
  auto loop = make<WhileLoop>(num(1), std::vector<StmtPtr>{make<BreakStatement>()});
  EXPECT_THROW(to_expression.visit(loop), std::invalid_argument);
}

TEST(GenericTransform, NullsAreLeftAlone) {
  Renamer t;
  EXPECT_TRUE(t.visit(NodePtr()).is_none());
  EXPECT_TRUE(t.generic_visit(NodePtr()).is_none());
  auto g = make<QuantumGate>();
  g->qubits = {nullptr, id("q")};
  EXPECT_NO_THROW(t.visit(g));
  EXPECT_EQ(g->qubits[0], nullptr);
  EXPECT_EQ(std::static_pointer_cast<Identifier>(g->qubits[1])->name, "q'");
  Recorder r;
  EXPECT_NO_THROW(r.visit(*g));
}

}  // namespace

namespace {

// ((a0 + a1) + a2) + ... + a(n-1), with the right operand of link 2 itself a chain (b0 + b1) * b2.
ExprPtr flat_chain(std::size_t n) {
  ExprPtr chain = id("a0");
  for (std::size_t i = 1; i < n; ++i) {
    ExprPtr rhs = id("a" + std::to_string(i));
    if (i == 2) rhs = bin("*", bin("+", id("b0"), id("b1")), id("b2"));
    chain = bin("+", chain, rhs);
  }
  return chain;
}

std::vector<std::string> chain_order(std::size_t n) {
  std::vector<std::string> names{"a0", "a1", "b0", "b1", "b2"};
  for (std::size_t i = 3; i < n; ++i) names.push_back("a" + std::to_string(i));
  return names;
}

}  // namespace

// A flat chain leans left as deep as it is long; generic walks take its links in a loop, in the
// order a recursive walk takes, so that no chain is too long for the stack.
TEST(GenericWalk, LeftLeaningChainsAreWalkedInOrderAtAnyLength) {
  for (std::size_t n : {std::size_t{4}, std::size_t{200000}}) {
    auto statement = stmt(flat_chain(n));
    EXPECT_EQ(names_seen(*statement), chain_order(n)) << n;

    struct Upper : TransformerFor<Upper> {
      Rewrite visit_Identifier(const Ptr<Identifier>& node) override {
        if (node->name.front() != 'b') return node;
        return id("B" + node->name.substr(1));
      }
    } upper;
    upper.visit(statement);
    auto expected = chain_order(n);
    for (auto& name : expected)
      if (name.front() == 'b') name.front() = 'B';
    EXPECT_EQ(names_seen(*statement), expected) << n;
  }
}

// A walker with a handler of its own for binary expressions still meets every link.
TEST(GenericWalk, ABinaryExpressionHandlerMeetsEveryLinkOfAChain) {
  struct Links : VisitorFor<Links> {
    int links = 0;
    void visit_BinaryExpression(BinaryExpression& node) override {
      ++links;
      generic_visit(node);
    }
  } v;
  auto statement = stmt(flat_chain(6));
  v.visit(*statement);
  EXPECT_EQ(v.links, 5 + 2);  // five links of the chain, two of the chain in its right operand
}

// A failure inside a chain's walk leaves the chain whole: the rewrites made before it stay, the
// rest as it was.
TEST(GenericTransform, AFailureInsideAChainLeavesItWhole) {
  struct UpperUntilA3 : TransformerFor<UpperUntilA3> {
    Rewrite visit_Identifier(const Ptr<Identifier>& node) override {
      if (node->name == "a3") throw std::runtime_error("a3");
      return id("X" + node->name);
    }
  } t;
  auto statement = stmt(flat_chain(6));
  EXPECT_THROW(t.visit(statement), std::runtime_error);
  EXPECT_EQ(names_seen(*statement),
            (std::vector<std::string>{"Xa0", "Xa1", "Xb0", "Xb1", "Xb2", "a3", "a4", "a5"}));
}
