#include "vell_qasm/passes/code_resolving/gate_inlining.hpp"

#include <gtest/gtest.h>

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
    rz(1) q[1]; h q[1]; cx q[1], q[0]; rz(2) q[0]; h q[0];
  )"));
  EXPECT_EQ(debug_texts(capture), (std::vector<std::string>{
                                      "Node rz is built-in, and will stay as is.",
                                      "Node h is built-in, and will stay as is.",
                                      "Added the definition of \"a\" to the bank.",
                                      "Node x is built-in, and will stay as is.",
                                      "Added the definition of \"unused\" to the bank.",
                                      "Transforming gate call \"a\" to \"a(x0) q0\"",
                                      "Node cx is built-in, and will stay as is.",
                                      "Transforming gate call \"a\" to \"a(x0) q0\"",
                                      "Added the definition of \"b\" to the bank.",
                                      "Transforming gate call \"b\" to \"b(x0, x1) q0, q1\"",
                                      "Transforming gate call \"b\" to \"b(x0, x1) q0, q1\"",
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

TEST(GateInlining, ABankedBodyWithSharedNodesExpandsEachPlaceOnce) {
  // Banking `outer` expands `inner(a - b)`, so its body holds the node a - b twice. A copy that
  // kept that sharing would substitute the one node twice and swap a and b back.
  auto root = inline_gates("gate inner(t) q { rz(t + t) q; } gate outer(a, b) q { inner(a - b) q; } outer(b, a) $0;");
  EXPECT_EQ(printed(root), printed("rz((b - a) + (b - a)) $0;"));
  auto rz = statement<ast::QuantumGate>(root, 0);
  auto sum = ast::dyn_cast<ast::BinaryExpression>(rz->arguments[0]);
  EXPECT_NE(sum->lhs, sum->rhs);

  auto twice = inline_gates(R"(
    gate g1(t) q { rz(t * t) q; }
    gate g2(t) q { g1(t + 1) q; g1(t) q; }
    gate g3(t) q { g2(t - 2) q; }
    g3(x) q; g3(y) r;
  )");
  EXPECT_EQ(printed(twice), printed(R"(
    rz((x - 2 + 1) * (x - 2 + 1)) q; rz((x - 2) * (x - 2)) q;
    rz((y - 2 + 1) * (y - 2 + 1)) r; rz((y - 2) * (y - 2)) r;
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
  // Identifiers are matched wherever they stand, a called gate's name included; others stay.
  EXPECT_EQ(printed(inline_gates("gate n(t) h, q { h h; rz(pi * t) q; } n(c) a, b;")), printed("a a; rz(pi * c) b;"));
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
  EXPECT_EQ(printed(root), printed("rz(1) r;"));
  EXPECT_EQ(debug_texts(capture), (std::vector<std::string>{"Node rz is built-in, and will stay as is.",
                                                            "Added the definition of \"g\" to the bank.",
                                                            "Node rz is built-in, and will stay as is.",
                                                            "Ignoring duplicated definition",
                                                            "Transforming gate call \"g\" to \"g(x0) q0\""}));

  // Resolved bodies are compared: both expand to the same built-in calls.
  inline_gates("gate a q { h q; } gate g q { a q; } gate g q { h q; }");

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

}  // namespace
}  // namespace vell_qasm::passes::code_resolving
