#include "openqasm3/ast.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>

#include "openqasm3/number_text.hpp"
#include "openqasm3/printer.hpp"
#include "tree_builders.hpp"

namespace {

using namespace qasm_test;

Span span(int line) { return Span{line, 0, line, 5}; }

TEST(Equality, IgnoresSpansButComparesEveryField) {
  auto a = bin("+", id("x"), num(1));
  auto b = bin("+", id("x"), num(1));
  a->span = span(1);
  a->lhs->span = span(2);
  b->rhs->span = span(7);
  EXPECT_TRUE(equal(*a, *b));
  EXPECT_TRUE(*a == *b);

  EXPECT_FALSE(equal(*a, *bin("-", id("x"), num(1))));          // enum field
  EXPECT_FALSE(equal(*a, *bin("+", id("y"), num(1))));          // nested string
  EXPECT_FALSE(equal(*a, *bin("+", id("x"), num(2))));          // nested number
  EXPECT_FALSE(equal(*a, *make<BinaryExpression>(BinaryOperator::plus, id("x"), nullptr)));  // null child
  auto not_a_number = real(std::nan(""));
  EXPECT_TRUE(equal(*not_a_number, *deep_copy(not_a_number)));
  EXPECT_TRUE(equal(*real(0.0), *real(-0.0)));
  EXPECT_TRUE(equal(NodePtr(), NodePtr()));
  EXPECT_FALSE(equal(NodePtr(a), NodePtr()));
}

TEST(Equality, DifferentClassesAreNeverEqual) {
  EXPECT_FALSE(equal(*num(1), *real(1.0)));
  EXPECT_TRUE(equal(*make<BoolType>(), *make<BoolType>()));
  EXPECT_FALSE(equal(*make<BoolType>(), *make<DurationType>()));
  EXPECT_FALSE(equal(*make<BreakStatement>(), *make<ContinueStatement>()));
  // An outside subclass never equals its base, from either side, even with the same fields.
  auto q = make<OutsideQubit>("$1", 1);
  EXPECT_FALSE(equal(*q, *id("$1")));
  EXPECT_FALSE(equal(*id("$1"), *q));
  EXPECT_TRUE(equal(*q, *make<OutsideQubit>("$1", 1)));
  EXPECT_FALSE(equal(*q, *make<OutsideQubit>("$1", 2)));  // its own field counts
  EXPECT_FALSE(equal(*q, *make<OutsideQubit>("$2", 1)));  // and its base's
}

TEST(Equality, ComparesAnnotationsCasesAndIndexForms) {
  auto plain = make<BreakStatement>();
  EXPECT_FALSE(equal(*plain, *annotate(make<BreakStatement>(), "a")));
  EXPECT_TRUE(equal(*annotate(make<BreakStatement>(), "a", "x"), *annotate(make<BreakStatement>(), "a", "x")));
  EXPECT_FALSE(equal(*annotate(make<BreakStatement>(), "a", "x"), *annotate(make<BreakStatement>(), "a")));

  auto sw = [](std::int64_t label, bool with_default) {
    return make<SwitchStatement>(
        id("t"), std::vector<SwitchCase>{{{num(label)}, make<CompoundStatement>()}},
        with_default ? make<CompoundStatement>() : nullptr);
  };
  EXPECT_TRUE(equal(*sw(1, true), *sw(1, true)));
  EXPECT_FALSE(equal(*sw(1, true), *sw(2, true)));
  EXPECT_FALSE(equal(*sw(1, true), *sw(1, false)));  // empty default differs from none

  auto with_list = at(id("a"), {num(0), num(1)});
  auto with_set = make<IndexExpression>(id("a"), IndexElement(make<DiscreteSet>(std::vector<ExprPtr>{num(0), num(1)})));
  EXPECT_FALSE(equal(*with_list, *with_set));
  EXPECT_TRUE(equal(*with_set, *deep_copy(with_set)));
  auto one_dim = make<ArrayReferenceType>(make<IntType>(), ArrayDimensions(ExprPtr(num(2))));
  auto two_dims = make<ArrayReferenceType>(make<IntType>(), ArrayDimensions(std::vector<ExprPtr>{num(2)}));
  EXPECT_FALSE(equal(*one_dim, *two_dims));  // `#dim=2` is not `2`
}

// Every node reachable from a root, including switch cases and the inner index lists that the
// generic walk skips.
struct AllNodes : VisitorFor<AllNodes> {
  AllNodes() : VisitorFor(SwitchCases::enter) {}
  std::multiset<const QASMNode*> nodes;
  void generic_visit(QASMNode& node) override {
    nodes.insert(&node);
    QASMVisitor::generic_visit(node);
  }
  void visit_IndexedIdentifier(IndexedIdentifier& node) override {
    for (auto& index : node.indices)
      if (auto* items = std::get_if<IndexList>(&index))
        for (auto& item : *items) visit(item);
    generic_visit(node);
  }
};

TEST(DeepCopy, SharesNoNodeWithTheOriginalAndKeepsSharingWithin) {
  auto shared = id("shared");
  auto sw = make<SwitchStatement>(
      shared, std::vector<SwitchCase>{{{num(1)}, make<CompoundStatement>(std::vector<StmtPtr>{stmt(shared)})}},
      make<CompoundStatement>());
  auto reset = make<QuantumReset>(indexed("q", {IndexList{bin("+", shared, num(1))}}));
  reset->span = span(3);
  auto decl = make<ClassicalDeclaration>(
      make<ArrayType>(make<IntType>(num(8)), std::vector<ExprPtr>{num(2)}), id("arr"),
      make<ArrayLiteral>(std::vector<ExprPtr>{num(1), num(2)}));
  auto outside = make<OutsideDeclaration>(make<OutsideQubit>("$0", 0), std::vector<StmtPtr>{});
  auto program = make<Program>(std::vector<NodePtr>{annotate(sw, "k", "v"), reset, decl, outside}, "3.0");

  auto copy = deep_copy(program);
  EXPECT_TRUE(equal(*program, *copy));

  AllNodes original_nodes, copied_nodes;
  original_nodes.visit(*program);
  copied_nodes.visit(*copy);
  EXPECT_EQ(original_nodes.nodes.size(), copied_nodes.nodes.size());
  for (const QASMNode* n : copied_nodes.nodes) EXPECT_EQ(original_nodes.nodes.count(n), 0u) << repr(*n);

  // `shared` stands at three places in the original; its copy stands at the same three.
  auto sw_copy = std::static_pointer_cast<SwitchStatement>(copy->statements[0]);
  auto in_case = std::static_pointer_cast<ExpressionStatement>(sw_copy->cases[0].block->statements[0])->expression;
  auto reset_copy = std::static_pointer_cast<QuantumReset>(copy->statements[1]);
  auto in_index = std::static_pointer_cast<BinaryExpression>(
                      std::get<IndexList>(std::static_pointer_cast<IndexedIdentifier>(reset_copy->qubits)->indices[0])[0])
                      ->lhs;
  EXPECT_EQ(sw_copy->target, in_case);
  EXPECT_EQ(sw_copy->target, in_index);
  EXPECT_NE(sw_copy->target, shared);

  // Spans and outside classes come across too.
  EXPECT_EQ(reset_copy->span, span(3));
  auto outside_copy = dyn_cast<OutsideDeclaration>(copy->statements[3]);
  ASSERT_NE(outside_copy, nullptr);
  EXPECT_NE(dyn_cast<OutsideQubit>(outside_copy->value), nullptr);

  // The copy is independent: changing it leaves the original alone.
  std::static_pointer_cast<Identifier>(sw_copy->target)->name = "changed";
  EXPECT_EQ(shared->name, "shared");
}

TEST(DeepCopy, UnsharedGivesEveryOccurrenceItsOwnNode) {
  // t + t with one node t, as a rewrite that shares an operand leaves it.
  auto t = id("t");
  auto sum = bin("+", t, t);
  auto program = make<Program>(std::vector<NodePtr>{stmt(sum), stmt(t)});

  auto copy = deep_copy_unshared(program);
  EXPECT_TRUE(equal(*program, *copy));
  AllNodes original_nodes, copied_nodes;
  original_nodes.visit(*program);
  copied_nodes.visit(*copy);
  for (const QASMNode* n : copied_nodes.nodes) EXPECT_EQ(original_nodes.nodes.count(n), 0u) << repr(*n);
  // Every place of the copy holds a node of its own.
  EXPECT_EQ(std::set<const QASMNode*>(copied_nodes.nodes.begin(), copied_nodes.nodes.end()).size(),
            copied_nodes.nodes.size());

  auto sum_copy = std::static_pointer_cast<BinaryExpression>(
      std::static_pointer_cast<ExpressionStatement>(copy->statements[0])->expression);
  EXPECT_NE(sum_copy->lhs, sum_copy->rhs);
  std::static_pointer_cast<Identifier>(sum_copy->lhs)->name = "changed";
  EXPECT_EQ(std::static_pointer_cast<Identifier>(sum_copy->rhs)->name, "t");

  // The sharing copy keeps t + t as one node at both places.
  auto shared_copy = deep_copy(sum);
  EXPECT_EQ(shared_copy->lhs, shared_copy->rhs);
}

TEST(OutsideClasses, PayloadsArePrintedComparedAndSharedByCopiesButNeverWalked) {
  auto tag = std::make_shared<Tag>(Tag{"v"});
  auto note = make<OutsideNote>(tag, id("x"));
  auto program = make<Program>(std::vector<NodePtr>{note, make<OutsideQubit>("$2", 2)});

  EXPECT_EQ(repr(*note), "OutsideNote(span=None, annotations=[], tag=Tag(v), value=Identifier(span=None, name='x'))");
  EXPECT_EQ(openqasm3::dumps(*make<Program>(std::vector<NodePtr>{note})), "note v\n");

  auto copy = deep_copy(note);
  EXPECT_EQ(copy->tag, tag);  // the payload is not a node: the copy holds the very value
  EXPECT_NE(copy->value, note->value);
  EXPECT_TRUE(equal(*note, *copy));
  // Equality compares payloads with ==: here the pointers, so another tag with the same label differs.
  EXPECT_FALSE(equal(*note, *make<OutsideNote>(std::make_shared<Tag>(Tag{"v"}), id("x"))));

  AllNodes nodes;
  nodes.visit(*note);
  EXPECT_EQ(nodes.nodes.size(), 2u);  // the note and its value; the payload is no child
}

TEST(Repr, ReadsLikeTheReferenceFrontEnd) {
  EXPECT_EQ(repr(*make<BreakStatement>()), "BreakStatement(span=None, annotations=[])");
  EXPECT_EQ(repr(*bin("**", id("a"), real(0.5))),
            "BinaryExpression(span=None, op=<BinaryOperator.**: 19>, lhs=Identifier(span=None, name='a'), "
            "rhs=FloatLiteral(span=None, value=0.5))");
  auto include = annotate(make<Include>("it's.inc"), "tag");
  include->span = Span{1, 0, 1, 20};
  EXPECT_EQ(repr(*include),
            "Include(span=Span(start_line=1, start_column=0, end_line=1, end_column=20), "
            "annotations=[Annotation(span=None, keyword='tag', command=None)], filename=\"it's.inc\")");
  EXPECT_EQ(repr(*make<SwitchStatement>(id("x"), std::vector<SwitchCase>{{{num(1)}, make<CompoundStatement>()}}, nullptr)),
            "SwitchStatement(span=None, annotations=[], target=Identifier(span=None, name='x'), "
            "cases=[([IntegerLiteral(span=None, value=1)], CompoundStatement(span=None, annotations=[], statements=[]))], "
            "default=None)");
  EXPECT_EQ(repr(*make<ClassicalArgument>(make<BitType>(), id("b"), AccessControl::mutable_)),
            "ClassicalArgument(span=None, type=BitType(span=None, size=None), name=Identifier(span=None, name='b'), "
            "access=<AccessControl.mutable: 2>)");
  EXPECT_EQ(repr(*make<DurationLiteral>(1e-05, TimeUnit::us)),
            "DurationLiteral(span=None, value=1e-05, unit=<TimeUnit.us: 3>)");
  EXPECT_EQ(repr(*make<OutsideQubit>("$3", 3)), "OutsideQubit(span=None, name='$3', index=3)");
  EXPECT_EQ(repr(NodePtr()), "None");
  EXPECT_EQ(node_class_of<QuantumGate>().text(), "<class 'openqasm3.ast.QuantumGate'>");
}

TEST(Enumerations, SymbolsLookupsAndReprs) {
  EXPECT_EQ(symbol(BinaryOperator::power), "**");
  EXPECT_EQ(symbol(AssignmentOperator::power_assign), "**=");
  EXPECT_EQ(symbol(UnaryOperator::bit_not), "~");
  EXPECT_EQ(symbol(AccessControl::mutable_), "mutable");
  EXPECT_EQ(from_symbol<AssignmentOperator>("<<="), AssignmentOperator::shl_assign);
  EXPECT_EQ(from_symbol<TimeUnit>("us"), TimeUnit::us);
  EXPECT_EQ(from_symbol<TimeUnit>("µs"), std::nullopt);
  EXPECT_EQ(from_symbol<AssignmentOperator>("~="), AssignmentOperator::bitnot_assign);
  EXPECT_EQ(enum_repr(AssignmentOperator::bitxor_assign), "<AssignmentOperator.^=: 9>");
  EXPECT_EQ(enum_repr(BinaryOperator::plus), "<BinaryOperator.+: 14>");
  EXPECT_EQ(enum_repr(GateModifierName::negctrl), "<GateModifierName.negctrl: 4>");
  EXPECT_EQ(enum_repr(IOKeyword::output), "<IOKeyword.output: 2>");
}

TEST(FloatText, ShortestRoundTripInTheHostsLayout) {
  EXPECT_EQ(openqasm3::float_text(1.0), "1.0");
  EXPECT_EQ(openqasm3::float_text(0.1), "0.1");
  EXPECT_EQ(openqasm3::float_text(-2.5), "-2.5");
  EXPECT_EQ(openqasm3::float_text(1e15), "1000000000000000.0");
  EXPECT_EQ(openqasm3::float_text(1e16), "1e+16");
  EXPECT_EQ(openqasm3::float_text(123456789012345678.0), "1.2345678901234568e+17");
  EXPECT_EQ(openqasm3::float_text(0.0001), "0.0001");
  EXPECT_EQ(openqasm3::float_text(1.5e-05), "1.5e-05");
  EXPECT_EQ(openqasm3::float_text(5e-324), "5e-324");
  EXPECT_EQ(openqasm3::float_text(1.7976931348623157e308), "1.7976931348623157e+308");
  EXPECT_EQ(openqasm3::float_text(123.456), "123.456");
  EXPECT_EQ(openqasm3::float_text(-0.0), "-0.0");
  EXPECT_EQ(openqasm3::float_text(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(openqasm3::float_text(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(openqasm3::float_text(std::nan("")), "nan");
}

// Every class, built with no fields at all: the text forms, equality and copying work, and the
// printer either prints it or refuses it with std::invalid_argument.
template <class T> void check_empty_node() {
  auto n = make<T>();
  auto copy = deep_copy(n);
  EXPECT_NE(copy, n);
  EXPECT_TRUE(equal(*n, *copy)) << T::kName;
  EXPECT_EQ(repr(*copy), repr(*n));
  EXPECT_EQ(repr(*n).rfind(std::string(T::kName) + "(span=None", 0), 0u) << repr(*n);
  try {
    (void)openqasm3::dumps(*n);
  } catch (const std::invalid_argument&) {
  }
}

TEST(EmptyNodes, EveryClassCopiesComparesAndPrintsWithoutFields) {
#define NODE(Class, Base) check_empty_node<Class>();
#include "openqasm3/nodes.def"
  check_empty_node<OutsideQubit>();
  check_empty_node<OutsideDeclaration>();
}

}  // namespace
