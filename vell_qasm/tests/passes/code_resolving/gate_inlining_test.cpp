#include "vell_qasm/passes/code_resolving/gate_inlining.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "resolving_test_support.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/logging.hpp"

namespace vell_qasm::passes::code_resolving {
namespace {

using namespace vell_qasm::testing;

const std::string kLogger = "vell_qasm.passes.code_resolving.gate_inlining";

std::shared_ptr<GateSignatures> built_ins(std::initializer_list<const char*> names = {"h", "x", "cx", "rz", "rx", "U"}) {
  auto set = std::make_shared<GateSignatures>();
  for (auto* name : names) set->insert(GateSignature{name});
  return set;
}

ast::Ptr<ast::Program> inline_gates(const std::string& source) {
  GateInlining step(built_ins());
  return run_step(step, source);
}

std::vector<std::string> debug_texts(const logging::Capture& capture) {
  std::vector<std::string> texts;
  for (auto& record : capture.records(kLogger)) {
    EXPECT_EQ(record.level, spdlog::level::debug);
    texts.push_back(record.text);
  }
  return texts;
}

template <class T> ast::Ptr<T> statement(const ast::Ptr<ast::Program>& root, std::size_t i) {
  return ast::dyn_cast<T>(root->statements.at(i));
}

TEST(GateSignature, ValueByNameWithItsText) {
  EXPECT_EQ(GateSignature{"h"}, GateSignature{"h"});
  EXPECT_NE(GateSignature{"h"}, GateSignature{"x"});
  EXPECT_EQ(std::hash<GateSignature>()({"cx"}), std::hash<std::string>()("cx"));
  EXPECT_EQ(GateSignature{"h"}.text(), "GateSignature(name='h')");
  auto root = openqasm3::parse("gate cu(a, b) q, r { }");
  EXPECT_EQ(GateSignature::from_quantum_gate_definition(*statement<ast::QuantumGateDefinition>(root, 0)),
            GateSignature{"cu"});
}

// A set of signatures is asked by bare name as by signature, with the same answer.
TEST(GateSignature, SetsAreAskedByName) {
  const GateSignatures set{{"h"}, {"cx"}, {""}};
  for (const char* name : {"h", "cx", "", "x", "hh", "c"}) {
    const bool expected = set.count(GateSignature{name}) == 1;
    EXPECT_EQ(set.contains(std::string_view(name)), expected) << name;
    EXPECT_EQ(set.find(std::string(name)) != set.end(), expected) << name;
  }
  EXPECT_EQ(set.size(), 3u);
}

TEST(GateInlining, BuiltInCallsStayAsTheyAreWithoutArityChecks) {
  logging::Capture capture;
  auto root = openqasm3::parse("qubit[2] q; h q[0]; rz(0.5, 7) q[0], q[1], q[1]; cx q; U(1, 2, 3) $0;");
  auto before = root->statements;
  auto copy = ast::deep_copy(root);
  GateInlining step(built_ins());
  EXPECT_EQ(step.name, "GateInlining");
  run_step(step, root);
  EXPECT_EQ(root->statements, before);
  EXPECT_TRUE(ast::equal(root, copy));
  EXPECT_EQ(debug_texts(capture), (std::vector<std::string>{"Node h is built-in, and will stay as is.",
                                                            "Node rz is built-in, and will stay as is.",
                                                            "Node cx is built-in, and will stay as is.",
                                                            "Node U is built-in, and will stay as is."}));
}

TEST(GateInlining, ExpandsNestedCallsWithTheCallsOwnNodes) {
  logging::Capture capture;
  auto root = inline_gates(R"(
    gate a(t) q { rz(t) q; h q; }
    gate unused q { x q; }
    gate b(s, u) p, r { a(s) p; cx p, r; a(u) r; }
    qubit[2] q;
    b(0.5, 0.25) q[0], q[1];
    b(1, 2) q[1], q[0];
  )");
  EXPECT_EQ(printed(root), printed(R"(
    qubit[2] q;
    rz(0.5) q[0]; h q[0]; cx q[0], q[1]; rz(0.25) q[1]; h q[1];
    rz(1.0) q[1]; h q[1]; cx q[1], q[0]; rz(2.0) q[0]; h q[0];
  )"));
  EXPECT_EQ(debug_texts(capture), (std::vector<std::string>{
                                      "Node rz is built-in, and will stay as is.",
                                      "Node h is built-in, and will stay as is.",
                                      "Added the definition of \"a\" to the bank.",
                                      "Node x is built-in, and will stay as is.",
                                      "Added the definition of \"unused\" to the bank.",
                                      "Node cx is built-in, and will stay as is.",
                                      "Added the definition of \"b\" to the bank.",
                                      "Transforming gate call \"b\" to \"b(x0, x1) q0, q1\"",
                                      "Transforming gate call \"a\" to \"a(x0) q0\"",
                                      "Transforming gate call \"a\" to \"a(x0) q0\"",
                                      "Transforming gate call \"b\" to \"b(x0, x1) q0, q1\"",
                                      "Transforming gate call \"a\" to \"a(x0) q0\"",
                                      "Transforming gate call \"a\" to \"a(x0) q0\"",
                                  }));

  // The first expansion holds the call's own operand and parameter nodes, one object per formal.
  auto first_rz = statement<ast::QuantumGate>(root, 1);
  auto first_h = statement<ast::QuantumGate>(root, 2);
  auto first_cx = statement<ast::QuantumGate>(root, 3);
  EXPECT_EQ(first_rz->qubits[0], first_h->qubits[0]);
  EXPECT_EQ(first_rz->qubits[0], first_cx->qubits[0]);
  EXPECT_EQ(first_cx->qubits[1], statement<ast::QuantumGate>(root, 4)->qubits[0]);
  // Each call gets fresh statements: nothing is shared between two expansions but what the calls share.
  EXPECT_NE(first_h, statement<ast::QuantumGate>(root, 7));
  EXPECT_NE(first_h->name, statement<ast::QuantumGate>(root, 7)->name);
}

TEST(GateInlining, EachLevelSubstitutesItsOwnFormalsOnce) {
  // outer's formals are put in before inner is expanded, and a substituted node is not visited
  // again: a and b are swapped once, not swapped back.
  auto root = inline_gates("gate inner(t) q { rz(t + t) q; } gate outer(a, b) q { inner(a - b) q; } outer(b, a) $0;");
  EXPECT_EQ(printed(root), printed("rz(float(b) - float(a) + (float(b) - float(a))) $0;"));
  auto rz = statement<ast::QuantumGate>(root, 0);
  auto sum = ast::dyn_cast<ast::BinaryExpression>(rz->arguments[0]);
  EXPECT_EQ(sum->lhs, sum->rhs);  // one node for every occurrence of t

  // A name of the body that is no formal of its own gate is not one of the caller's formals.
  EXPECT_EQ(printed(inline_gates("gate inner q { rz(c) q; } gate outer(c) q { inner q; rx(c) q; } outer(0.5) r;")),
            printed("rz(c) r; rx(0.5) r;"));

  auto twice = inline_gates(R"(
    gate g1(t) q { rz(t * t) q; }
    gate g2(t) q { g1(t + 1) q; g1(t) q; }
    gate g3(t) q { g2(t - 2) q; }
    g3(x) q; g3(y) r;
  )");
  EXPECT_EQ(printed(twice), printed(R"(
    rz((float(x) - 2 + 1) * (float(x) - 2 + 1)) q; rz((float(x) - 2) * (float(x) - 2)) q;
    rz((float(y) - 2 + 1) * (float(y) - 2 + 1)) r; rz((float(y) - 2) * (float(y) - 2)) r;
  )"));
}

TEST(GateInlining, AFormalUsedTwiceIsOneNodeAndQubitsWinOverParameters) {
  auto root = inline_gates("gate g(t) q { rz(t) q; rx(t * 2) q; } g(0.5 + y) $1;");
  auto rz = statement<ast::QuantumGate>(root, 0);
  auto rx = statement<ast::QuantumGate>(root, 1);
  EXPECT_EQ(rz->arguments[0], ast::dyn_cast<ast::BinaryExpression>(rx->arguments[0])->lhs);
  EXPECT_EQ(rz->qubits[0], rx->qubits[0]);

  // `s` is a parameter and a qubit: every `s` becomes the qubit operand.
  auto merged = inline_gates("gate m(s) s { rz(s) s; } m(0.5) r;");
  EXPECT_EQ(printed(merged), printed("rz(r) r;"));
  auto call = statement<ast::QuantumGate>(merged, 0);
  EXPECT_EQ(call->arguments[0], call->qubits[0]);
  // An operand that is no expression cannot stand as a parameter: an error naming the field.
  expect_throw<std::invalid_argument>([] { inline_gates("gate m(s) s { rz(s) s; } m(0.5) q[3];"); },
                                      [](const std::invalid_argument& e) {
                                        EXPECT_STREQ(e.what(),
                                                     "cannot place IndexedIdentifier in field 'arguments' of "
                                                     "QuantumGate (expected Expression)");
                                      });
  // A called gate's name is never a formal's, be the formal a parameter or a qubit; others stay.
  EXPECT_EQ(printed(inline_gates("gate n(t) h, q { h h; rz(pi * t) q; } n(c) a, b;")),
            printed("h a; rz(pi * float(c)) b;"));
  EXPECT_EQ(printed(inline_gates("gate g(x) a { x a; rz(x) a; } gate k x { h x; x x; } g(0.5) q; k r;")),
            printed("x q; rz(0.5) q; h r; x r;"));
}

TEST(GateInlining, EveryBodyShapeExpandsIntoFreshNodesWithTheBodysSpans) {
  // Calls on names with arithmetic are copied with the formals put in as they are copied; other
  // shapes are copied and then walked. Either way: the body's text with the call's nodes, no node
  // of the banked body in the program, spans of the body kept.
  std::string deep = "t", deep_expanded = "y";
  for (int i = 0; i < 40; ++i) deep += " + t", deep_expanded += " + y";
  struct Case {
    std::string body;
    std::string expected;
  };
  const std::vector<Case> cases{
      {"rz(-t * 2 + 1.5) a; cx a, b; h b;", "rz(-y * 2 + 1.5) q; cx q, r; h r;"},
      {"rz(t / 4) a; rx(-(t - 1)) b; cx b, a;", "rz(y / 4) q; rx(-(y - 1)) r; cx r, q;"},
      {"rz(pi * t) a; rx(k) b;", "rz(pi * y) q; rx(k) r;"},
      {"rz(sin(t)) a; rx(float(t) + t) b;", "rz(sin(y)) q; rx(float(y) + y) r;"},
      {"@note\n rz(t) a; h b;", "@note\nrz(y) q; h r;"},
      {"rz(" + deep + ") a;", "rz(" + deep_expanded + ") q;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    auto tree = openqasm3::parse("float y; gate g(t) a, b { " + c.body + " } g(y) q, r;");
    auto definition = statement<ast::QuantumGateDefinition>(tree, 1);
    const auto call = statement<ast::QuantumGate>(tree, 2);
    GateInlining step(built_ins());
    run_step(step, tree);
    EXPECT_EQ(printed(tree), printed("float y;" + c.expected));
    std::vector<ast::NodePtr> banked = all_nodes(definition);
    for (auto& node : all_nodes(tree))
      EXPECT_EQ(std::find(banked.begin(), banked.end(), node), banked.end()) << ast::repr(node);
    for (std::size_t i = 0; i < definition->body.size(); ++i)
      EXPECT_EQ(tree->statements.at(i + 1)->span, definition->body[i]->span);
    // Every use of a formal is the call's own node.
    for (std::size_t i = 1; i < tree->statements.size(); ++i)
      for (auto& y : identifiers_named(tree->statements[i], "y")) EXPECT_EQ(y, call->arguments[0]);
  }
}

TEST(GateInlining, OnlyTheParametersAndOperandsOfTheCallAreCarried) {
  auto root = inline_gates("gate g q { h q; }\n@dur 1\ng[100ns] r; gate e q { } e r; x r;");
  EXPECT_EQ(printed(root), printed("h r; x r;"));
  auto h = statement<ast::QuantumGate>(root, 0);
  EXPECT_TRUE(h->annotations.empty());
  EXPECT_EQ(h->duration, nullptr);
}

TEST(GateInlining, CallsInEveryBlockAreExpandedInTheirOwnBlock) {
  auto root = inline_gates(R"(
    gate g q { h q; x q; }
    if (c) { g a; } else { g b; }
    for int i in [0:2] { g c; }
    while (c) { g d; }
    box { g e; }
    def f(qubit p) { g p; }
    switch (i) { case 0 { g f; } case 1, 2 { x s; g s; } default { g z; } }
  )");
  EXPECT_EQ(printed(root), printed(R"(
    if (c) { h a; x a; } else { h b; x b; }
    for int i in [0:2] { h c; x c; }
    while (c) { h d; x d; }
    box { h e; x e; }
    def f(qubit p) { h p; x p; }
    switch (i) { case 0 { h f; x f; } case 1, 2 { x s; h s; x s; } default { h z; x z; } }
  )"));
  // A call in a block of a gate's body is expanded where it stands, with the call's operands.
  EXPECT_EQ(printed(inline_gates("gate k a { h a; } gate g(t) a { for int i in [0:1] { k a; rz(t) a; } } g(1) q;")),
            printed("for int i in [0:1] { h q; rz(1.0) q; }"));
}

// Statements leave a list (definitions, calls of empty gates) and come into it (expansions) in
// any order; the rest keep theirs.
TEST(GateInlining, ListsTakeExpansionsAndLoseStatementsInOrder) {
  EXPECT_EQ(printed(inline_gates(R"(
    x q; gate e a { } gate two a { h a; x a; }
    e q; two q; rz(1) q; e q; e q; two q; two q; e q;
    if (c) { two q; e q; rz(2) q; e q; two q; } else { e q; }
    for int i in [0:1] { e q; e q; rz(3) q; two q; }
    while (c) { e q; rz(4) q; two q; rz(5) q; two q; }
    { two q; rz(6) q; two q; }
  )")),
            printed(R"(
    x q;
    h q; x q; rz(1) q; h q; x q; h q; x q;
    if (c) { h q; x q; rz(2) q; h q; x q; } else { }
    for int i in [0:1] { rz(3) q; h q; x q; }
    while (c) { rz(4) q; h q; x q; rz(5) q; h q; x q; }
    { h q; x q; rz(6) q; h q; x q; }
  )"));
}

TEST(GateInlining, EachRunStartsWithAnEmptyBankAndReadsTheCallersSet) {
  auto set = built_ins({"h"});
  GateInlining step(set);
  EXPECT_EQ(step.built_in_gates, set);
  run_step(step, "gate g q { h q; } g q;");
  expect_throw<SignatureNotFoundException>([&] { run_step(step, "g q;"); });

  // The set is the caller's: a gate added after the step was built counts.
  expect_throw<SignatureNotFoundException>([&] { run_step(step, "y q;"); });
  set->insert(GateSignature{"y"});
  EXPECT_EQ(printed(run_step(step, "y q;")), printed("y q;"));

  expect_throw<TypeError>([] { GateInlining{nullptr}; }, [](const TypeError& e) {
    EXPECT_STREQ(e.what(), "Argument 'built_in_gates' has incorrect type (expected set, got NoneType)");
  });
  expect_throw<AssertionError>([&] { step(std::make_shared<programs::TextualProgram>("h q;")); });
}

TEST(GateInlining, DefinitionsBankedOnceDuplicatesDroppedConflictsRefused) {
  logging::Capture capture;
  auto root = inline_gates("gate g(t) q { rz(t) q; } gate g(t) q { rz(t) q; } g(1) r;");
  EXPECT_EQ(printed(root), printed("rz(1.0) r;"));
  EXPECT_EQ(debug_texts(capture), (std::vector<std::string>{"Node rz is built-in, and will stay as is.",
                                                            "Added the definition of \"g\" to the bank.",
                                                            "Node rz is built-in, and will stay as is.",
                                                            "Ignoring duplicated definition",
                                                            "Transforming gate call \"g\" to \"g(x0) q0\""}));

  // Bodies that differ as written are compared expanded: both give the same built-in calls.
  inline_gates("gate a q { h q; } gate g q { a q; } gate g q { h q; }");
  inline_gates("gate k(s) a { h a; } gate m(s) a { h a; } gate g(t) a { k(t) a; } gate g(t) a { m(t) a; }");

  for (std::string second : {"gate g(s) q { rz(s) q; }", "gate g(t) r { rz(t) r; }", "gate g(t) q { rx(t) q; }",
                             "gate g q { h q; }"}) {
    auto tree = openqasm3::parse("gate g(t) q { rz(t) q; } " + second);
    auto later = tree->statements[1];
    GateInlining step(built_ins());
    expect_throw<MultipleDefinitionsException>([&] { run_step(step, tree); }, [&](const MultipleDefinitionsException& e) {
      EXPECT_EQ(e.node, later);
      EXPECT_EQ(e.definition_signature, GateSignature{"g"});
      EXPECT_EQ(std::string(e.what()),
                "Two definitions of the same signature: GateSignature(name='g'), second signature found at " +
                    ast::repr(later) + ".");
    });
  }
  // A built-in name cannot be defined, not even once.
  expect_throw<MultipleDefinitionsException>([] { inline_gates("gate h q { x q; }"); });
}

TEST(GateInlining, UnknownCallsAtTopLevelAndInBodies) {
  auto early = openqasm3::parse("g q; gate g q { h q; }");
  auto call = early->statements[0];
  GateInlining step(built_ins());
  expect_throw<SignatureNotFoundException>([&] { run_step(step, early); }, [&](const SignatureNotFoundException& e) {
    EXPECT_EQ(e.node, call);
    EXPECT_EQ(std::string(e.what()), "Didn't find a signature for " + ast::repr(call) + ".");
  });

  for (std::string source : {"gate g q { h q; g q; }", "gate g q { later q; } gate later q { h q; }"}) {
    auto tree = openqasm3::parse(source);
    auto inner = std::static_pointer_cast<ast::QuantumGateDefinition>(tree->statements[0])->body.back();
    expect_throw<MissingDefinitionException>([&] { run_step(step, tree); }, [&](const MissingDefinitionException& e) {
      EXPECT_EQ(e.node, inner);
      EXPECT_EQ(e.definition_signature, GateSignature{"g"});
      EXPECT_EQ(std::string(e.what()), "Error at GateSignature(name='g'): Unresolved gate call: " + ast::repr(inner));
      ASSERT_TRUE(e.cause());
      try {
        std::rethrow_exception(e.cause());
      } catch (const SignatureNotFoundException& cause) {
        EXPECT_EQ(cause.node, inner);
      } catch (...) {
        ADD_FAILURE() << "cause of another type";
      }
    });
  }
}

TEST(GateInlining, ArityMismatchesAndModifiers) {
  struct Case {
    std::string call;
    std::string type;
    std::string message;
  };
  const std::string definition = "gate g(a, b) p, q { h p; } ";
  for (const auto& c : std::vector<Case>{
           {"g(1) r, s;", "argument", "The gate definition of 'g' requires 2 arguments, but 1 were provided."},
           {"g(1, 2) r;", "qubit", "The gate definition of 'g' requires 2 qubits, but 1 were provided."},
           {"g(1, 2, 3) r, s, t;", "argument", "The gate definition of 'g' requires 2 arguments, but 3 were provided."},
           {"gate k r { g(1) r, r; }", "argument",
            "The gate definition of 'g' requires 2 arguments, but 1 were provided."},
       }) {
    auto tree = openqasm3::parse(definition + c.call);
    GateInlining step(built_ins());
    expect_throw<ArgumentsMismatchException>([&] { run_step(step, tree); }, [&](const ArgumentsMismatchException& e) {
      EXPECT_EQ(e.argument_type, c.type);
      EXPECT_EQ(e.gate_definition->name->name, "g");
      EXPECT_EQ(e.node->kind(), ast::NodeKind::QuantumGate);
      EXPECT_EQ(std::string(e.what()), c.message);
    });
  }

  for (std::string source : {"ctrl @ x a, b;", "gate g q { h q; } inv @ g q;", "gate k q { pow(2) @ h q; }"}) {
    expect_throw<NotImplementedError>([&] { inline_gates(source); }, [](const NotImplementedError& e) {
      EXPECT_STREQ(e.what(), "Modifiers are not yet implemented");
    });
  }
}


TEST(GateInlining, ParametersAreRealNumbers) {
  // A parameter is an angle: c / 2 of half(1) is 0.5, never the integer division 1 / 2.
  auto root = inline_gates(R"(
    gate half(c) a { rz(c / 2) a; }
    float f; int i; const float k = 2;
    half(1) q; half(-1) q; half(i) q; half(i * 2) q; half(3 / 2) q;
    half(0.5) q; half(f) q; half(k) q; half(pi) q; half(f * 2) q; half(sin(i)) q;
  )");
  EXPECT_EQ(printed(root), printed(R"(
    float f; int i; const float k = 2;
    rz(1.0 / 2) q; rz(float(-1) / 2) q; rz(float(i) / 2) q; rz(float(i * 2) / 2) q; rz(float(3 / 2) / 2) q;
    rz(0.5 / 2) q; rz(f / 2) q; rz(k / 2) q; rz(pi / 2) q; rz(f * 2 / 2) q; rz(sin(i) / 2) q;
  )"));
  // A name declared both real and not (in two scopes) is cast.
  EXPECT_EQ(printed(inline_gates("gate g(c) a { rz(c) a; } float f; if (b) { int f; g(f) q; }")),
            printed("float f; if (b) { int f; rz(float(f)) q; }"));
}

// Many declarations: each name keeps whether it is real, its redeclaration included, however
// many names come between; an undeclared name stays undeclared.
TEST(GateInlining, ManyDeclaredNamesKeepTheirTypes) {
  std::string declarations, expected;
  for (int i = 0; i < 700; ++i)
    declarations += (i % 2 ? "int n" : "float n") + std::to_string(i) + ";\n";
  declarations += "int n0;\n";  // n0 is no longer surely real
  const std::string gates = "gate half(c) a { rz(c / 2) a; } gate g(t) a { h a; }\n";
  EXPECT_EQ(printed(inline_gates(gates + declarations + "half(n0) q; half(n1) q; half(n698) q; half(n699) q;")),
            printed(declarations + "rz(float(n0) / 2) q; rz(float(n1) / 2) q; rz(n698 / 2) q; rz(float(n699) / 2) q;"));
  EXPECT_EQ(printed(inline_gates(gates + declarations + "g(n350 + n699) q;")), printed(declarations + "h q;"));
  EXPECT_THROW(inline_gates(gates + declarations + "g(n700) q;"), UndeclaredArgumentException);
}

// Names are asked about as the declarations come: a name asked about early sees its later
// declarations, one asked about late the earlier ones, past the first few names asked about too.
TEST(GateInlining, NamesAskedAboutSeeEveryDeclarationBeforeTheCall) {
  EXPECT_EQ(printed(inline_gates(R"(
    gate half(c) x { rz(c / 2) x; }
    float a; half(a) q; { int a; half(a) q; } half(a) q;
    float b; float c; float d; float e; float f;
    half(b) q; half(c) q; half(d) q; int b; half(b) q;
    half(e) q; half(f) q; int f; half(f) q; half(e) q;
    float g; half(g) q; int g; half(g) q;
  )")),
            printed(R"(
    float a; rz(a / 2) q; { int a; rz(float(a) / 2) q; } rz(float(a) / 2) q;
    float b; float c; float d; float e; float f;
    rz(b / 2) q; rz(c / 2) q; rz(d / 2) q; int b; rz(float(b) / 2) q;
    rz(e / 2) q; rz(f / 2) q; int f; rz(float(f) / 2) q; rz(e / 2) q;
    float g; rz(g / 2) q; int g; rz(float(g) / 2) q;
  )"));
}

std::string doubling_chain(int levels, const std::string& link) {
  std::string source = "gate g0(t) a { rz(t) a; }\n";
  for (int i = 1; i <= levels; ++i) {
    std::string body = link;
    for (std::size_t at; (at = body.find('@')) != std::string::npos;) body.replace(at, 1, "g" + std::to_string(i - 1));
    source += "gate g" + std::to_string(i) + "(t) a { " + body + " }\n";
  }
  return source;
}

TEST(GateInlining, ExpansionIsBoundedBeforeAnythingIsExpanded) {
  // Defining gates that double at each level costs their definitions; calling them is refused
  // at the call, with its position, before anything is built.
  for (const std::string link : {"@(t) a; @(t) a;", "@(t + t) a;", "@(t) a; @(t * 2) a; @(-t) a;"}) {
    const std::string chain = doubling_chain(60, link);
    EXPECT_TRUE(inline_gates(chain)->statements.empty());
    auto tree = openqasm3::parse(chain + "qubit q;\ng60(0.5) q;");
    auto call = std::static_pointer_cast<ast::QuantumGate>(tree->statements.back());
    GateInlining step(built_ins());
    expect_throw<ExpansionLimitException>([&] { run_step(step, tree); }, [&](const ExpansionLimitException& e) {
      EXPECT_EQ(e.node, call);
      EXPECT_EQ(e.limit, kDefaultMaxExpansion);
      EXPECT_GT(e.expansion, std::uint64_t(kDefaultMaxExpansion));
      EXPECT_EQ(call->span->start_line, 63);
      EXPECT_NE(std::string(e.what()).find("The call of gate 'g60' would take the program's gate expansion to "),
                std::string::npos);
      EXPECT_NE(std::string(e.what()).find("syntax nodes, beyond the limit of 5000000 (max_expansion)"),
                std::string::npos);
    });
  }

  // The bound holds for the run's expansions together: `g q;` expands to 2 statements of 3 nodes.
  const std::string twice = "gate g a { h a; x a; } g q; g r;";
  GateInlining exact(built_ins(), 12);
  EXPECT_EQ(printed(run_step(exact, twice)), printed("h q; x q; h r; x r;"));
  auto tree = openqasm3::parse(twice);
  auto second = tree->statements.back();
  GateInlining tight(built_ins(), 11);
  expect_throw<ExpansionLimitException>([&] { run_step(tight, tree); }, [&](const ExpansionLimitException& e) {
    EXPECT_EQ(e.node, second);
    EXPECT_EQ(e.expansion, 12u);
  });
  expect_throw<ValueError>([] { GateInlining(built_ins(), -1); });

  // A chain of ten thousand gates each calling the previous one banks and expands in linear time.
  std::string chain = "gate c0(t) a { rz(t) a; }\n";
  for (int i = 1; i <= 10000; ++i)
    chain += "gate c" + std::to_string(i) + "(t) a { c" + std::to_string(i - 1) + "(t) a; }\n";
  EXPECT_EQ(printed(inline_gates(chain + "c10000(0.5) q;")), printed("rz(0.5) q;"));
}

// A call's charge counts the syntax nodes of its operands as a walk of them finds them, whatever
// their shape (the common shapes are counted without a walk).
TEST(GateInlining, TheChargeCountsEveryShapeOfOperandAsAWalkDoes) {
  // `g(arg) qubit;` expands to rz(arg) qubit: the call, its name, the argument (as an angle: a
  // cast or real literal around it, or the argument itself), and the qubit.
  const std::string gate = "gate g(t) a { rz(t) a; }\nqubit[4] q;\nfloat x; int k; bit[2] b;\n";
  const std::vector<std::pair<std::string, std::string>> calls = {
      {"x", "q"},          {"1.5", "q[1]"},         {"-x", "q[k]"},        {"x + 2.0 * k", "q[1 + k]"},
      {"k", "q"},          {"b[0] + x", "q[{0, 1}]"}, {"sin(x) - x", "q[0][1]"}, {"float(k) ** 2", "q[0:2]"},
      {"(x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + "
       "(x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + (x + x))))))))))))))))))))))))))))))))))",
       "q"},
  };
  for (const auto& operands : calls) {
    const std::string& argument = operands.first;
    const std::string& qubit = operands.second;
    auto tree = openqasm3::parse(gate + "g(" + argument + ") " + qubit + ";");
    auto call = std::static_pointer_cast<ast::QuantumGate>(tree->statements.back());
    const std::uint64_t expected = 2 + (all_nodes(call->arguments[0]).size() + 1) + all_nodes(call->qubits[0]).size();
    GateInlining exact(built_ins(), static_cast<std::int64_t>(expected));
    EXPECT_NO_THROW(run_step(exact, ast::deep_copy(tree))) << argument << " " << qubit;
    GateInlining tight(built_ins(), static_cast<std::int64_t>(expected) - 1);
    expect_throw<ExpansionLimitException>([&] { run_step(tight, tree); }, [&](const ExpansionLimitException& e) {
      EXPECT_EQ(e.expansion, expected) << argument << " " << qubit;
    });
  }
}

// Formals are looked up in place for a few of them and hashed past that: both ways find every
// formal, and a name that is both a parameter and a qubit names the qubit.
TEST(GateInlining, FormalsOfEveryCountAreFound) {
  for (int count : {1, 2, 8, 9, 12}) {
    std::string parameters, qubits, arguments, operands, body, expected;
    for (int i = 0; i < count; ++i) {
      const std::string n = std::to_string(i);
      parameters += (i ? ", p" : "p") + n;
      qubits += (i ? ", a" : "a") + n;
      arguments += (i ? ", " : "") + n + ".5";
      operands += (i ? ", q[" : "q[") + n + "]";
      body += "rz(p" + n + ") a" + n + "; ";
      expected += "rz(" + n + ".5) q[" + n + "]; ";
    }
    // The last parameter's name is a qubit's too: the qubit's wins in the body.
    parameters += ", a0";
    arguments += ", 9.0";
    body += "x a0; rz(p0) a0;";
    expected += "x q[0]; rz(0.5) q[0];";
    const std::string source = "qubit[12] q;\ngate g(" + parameters + ") " + qubits + " { " + body + " }\ng(" +
                               arguments + ") " + operands + ";";
    EXPECT_EQ(printed(inline_gates(source)), printed("qubit[12] q;\n" + expected)) << count;
  }
}

TEST(GateInlining, UnreadParametersMustNameDeclarations) {
  const std::string gates = "gate g(t) a { h a; } gate g2(t) a { g(t) a; } qubit q;\n";
  for (const std::string call : {"g(nosuch + 1) q;", "g2(2 * nosuch) q;", "g(nosuch) q; int nosuch;",
                                 "if (true) { g(sin(nosuch)) q; }"}) {
    expect_throw<UndeclaredArgumentException>([&] { inline_gates(gates + call); },
                                             [&](const UndeclaredArgumentException& e) {
                                               EXPECT_EQ(static_cast<const ast::Identifier&>(*e.node).name, "nosuch");
                                               EXPECT_EQ(e.node->span->start_line, 2);
                                               EXPECT_STREQ(e.what(), ("Undeclared name 'nosuch' in an argument of "
                                                                       "a call of gate '" + e.gate + "'").c_str());
                                             });
  }
  // Declarations of every kind, built-in constants and function names pass.
  EXPECT_EQ(printed(inline_gates(gates + R"(
    const int k = 1; int j; input float w; bit[2] b;
    g(k + j * w + pi + tau + sin(0.5) + b[0]) q; for int i in [0:1] { g2(i) q; }
  )")),
            printed("qubit q; const int k = 1; int j; input float w; bit[2] b; h q; for int i in [0:1] { h q; }"));
}

}  // namespace
}  // namespace vell_qasm::passes::code_resolving
