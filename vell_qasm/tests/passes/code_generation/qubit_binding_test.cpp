#include "vell_qasm/passes/code_generation/qubit_binding.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../front_tree_builders.hpp"
#include "code_generation_support.hpp"
#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

using namespace vell_qasm::testing;
using configurations::HwQubit;
using programs::OpenQasmProgram;

// A machine with the given hardware qubits (one element each) and no operations.
std::shared_ptr<const MachineSetup> machine_with(std::vector<HwQubitIndex> indices) {
  auto qubits = std::make_shared<QubitsMapping>();
  for (HwQubitIndex i : indices) qubits->emplace(i, configurations::Elements{"q" + std::to_string(i)});
  return std::make_shared<const MachineSetup>(OperationsMapping{}, qubits);
}

// Parses `source`, makes "$n" hardware qubits, and returns the program to allocate.
programs::ProgramPtr parsed(const std::string& source) {
  auto tree = openqasm3::parse(source);
  return parsing::HwQubitResolver()(std::make_shared<OpenQasmProgram>(tree));
}

programs::ProgramPtr program_of(std::vector<ast::NodePtr> statements) {
  return std::make_shared<OpenQasmProgram>(program(std::move(statements)));
}

std::string text_of(const programs::ProgramPtr& program) {
  return openqasm3::dumps(*std::dynamic_pointer_cast<OpenQasmProgram>(program)->ast());
}

// The allocated program as source text.
std::string allocate(const std::string& source, std::vector<HwQubitIndex> machine = {0, 1, 2, 3, 4}) {
  auto given = parsed(source);
  auto result = QubitAllocator(machine_with(std::move(machine)))(given);
  EXPECT_NE(result, given);
  EXPECT_EQ(std::dynamic_pointer_cast<OpenQasmProgram>(result)->ast(),
            std::dynamic_pointer_cast<OpenQasmProgram>(given)->ast());
  return text_of(result);
}

TEST(QubitAllocator, RegistersTakeTheLowestFreeQubitsInDeclarationOrder) {
  EXPECT_EQ(allocate("qubit[2] a; qubit b; x $1; h a[1]; cx a[0], b;"), "x $1;\nh $2;\ncx $0, $3;\n");
  // Runs skip the qubits the machine lacks; a one-qubit register used whole is its qubit.
  EXPECT_EQ(allocate("qubit[2] r; qubit s; h r[1]; h s;", {9, 2, 5}), "h $5;\nh $9;\n");
  // Every reference is a fresh node with the hardware index.
  auto program = QubitAllocator(machine_with({0, 1}))(parsed("qubit[2] q; cx q[1], q[1];"));
  auto gate = as<ast::QuantumGate>(std::dynamic_pointer_cast<OpenQasmProgram>(program)->ast()->statements.at(0));
  auto first = as<HwQubit>(gate->qubits.at(0));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->index, 1);
  EXPECT_NE(gate->qubits.at(0), gate->qubits.at(1));
}

TEST(QubitAllocator, WithoutQubitsAnyMachineServes) {
  EXPECT_EQ(allocate("int i; i = 1;", {}), "int i;\ni = 1;\n");
  EXPECT_EQ(allocate("qubit[0] none; int i;", {}), "int i;\n");
}

TEST(QubitAllocator, CapacityIsCheckedBeforeUnsupportedQubits) {
  EXPECT_EQ(allocate("qubit[3] q; x $4; x $4; h q[2];"), "x $4;\nx $4;\nh $2;\n");  // 1 + 3 of 5, $4 once
  expect_throw<TooManyRequiredQubitsException>([] { allocate("qubit[5] q; x $4;"); },
                                               "This code requires 6, but the hardware support only 5 qubits.");
  // 1 + 2 fit three qubits, but $7 is not one of them; 1 + 3 do not fit, whatever $7 is.
  expect_throw<CallingUnsupportedQubitsException>([] { allocate("qubit[2] q; x $7;", {0, 1, 2}); },
                                                  "The explicitly called qubits ['$7'] are not supported by the system.");
  expect_throw<TooManyRequiredQubitsException>([] { allocate("qubit[3] q; x $7;", {0, 1, 2}); },
                                               "This code requires 4, but the hardware support only 3 qubits.");
  // Listed in ascending numeric order; hardware qubits in definitions count too.
  expect_throw<CallingUnsupportedQubitsException>(
      [] { allocate("gate g a { x $9; } x $17; x $7;", {0, 1, 2}); },
      "The explicitly called qubits ['$7', '$9', '$17'] are not supported by the system.");
}

TEST(QubitAllocator, CollectionFailuresLeaveTheTreeUntouched) {
  auto program = parsed("qubit q; h q; qubit[2] q;");
  const std::string before = text_of(program);
  expect_throw<MultipleQubitDefinitionException>([&] { QubitAllocator(machine_with({0, 1, 2}))(program); },
                                                 "Multiple definition of same qubit: 'q'");
  EXPECT_EQ(text_of(program), before);
  expect_throw<AssertionError>([] { allocate("const int n = 2; qubit[n] q;"); }, "No expression size is allowed");

  auto negative = program_of({ast::make<ast::QubitDeclaration>(id("q"), lit(-1))});
  expect_throw<ValueError>([&] { QubitAllocator(machine_with({0}))(negative); },
                           "The qubit register 'q' has a negative size -1");
  expect_throw<AssertionError>([] { QubitAllocator(machine_with({0}))(std::make_shared<programs::TextualProgram>("")); },
                               "");
}

TEST(QubitAllocator, ReferencesThatNameNoSingleQubitAreRefused) {
  struct Case {
    std::string source;
    std::string message;
  };
  const std::vector<Case> assertions = {
      {"qubit[3] q; h q[0][1];", "Only 1-length indexing is allowed"},
      {"qubit[3] q; h q[0, 1];", "Only single index is supported."},
      {"qubit[3] q; h q[{0, 1}];", "Only single index is supported."},
      {"qubit[3] q; h q[0:2];", "A range (slice) as an index is not supported; index one element at a time."},
      {"qubit[3] q; int i; h q[i];", "Only explicit qubit pointers are supported"},
  };
  for (const Case& c : assertions) {
    SCOPED_TRACE(c.source);
    expect_throw<AssertionError>([&] { allocate(c.source); }, c.message);
  }
  // The same forms on a classical array, and names that are no register, stay as they are.
  EXPECT_EQ(allocate("array[int[8], 3] a; int i; a[0][1] = 1; a[i] = a[0:2]; b = q;"),
            "array[int[8], 3] a;\nint i;\na[0][1] = 1;\na[i] = a[0:2];\nb = q;\n");

  expect_throw<IndexError>([] { allocate("qubit[3] q; h q[3];"); },
                           "Index 3 is out of range for the qubit register 'q' of 3 qubits");
  auto negative_index = program_of({ast::make<ast::QubitDeclaration>(id("q"), lit(2)),
                                    gate("h", {ast::make<ast::IndexedIdentifier>(
                                                  id("q"), std::vector<ast::IndexElement>{ast::IndexList{lit(-1)}})})});
  expect_throw<IndexError>([&] { QubitAllocator(machine_with({0, 1}))(negative_index); },
                           "Index -1 is out of range for the qubit register 'q' of 2 qubits");
  expect_throw<IndexError>([] { allocate("qubit[0] q; h q[0];"); },
                           "Index 0 is out of range for the qubit register 'q' of 0 qubits");
}

// A gate call's fields are rewritten in the generic walk's order (its arguments before its
// operands), and an operand that is no qubit reference leaves the rest of the list rewritten too.
TEST(QubitAllocator, GateCallFieldsInWalkOrder) {
  expect_throw<UnindexedQubitRegisterException>(
      [] { allocate("qubit[3] q; rx(q) q[5];"); },
      "The qubit register 'q' of 3 qubits is used without an index where one qubit is expected");
  auto indexed = [](std::int64_t k) {
    return ast::make<ast::IndexedIdentifier>(id("q"), std::vector<ast::IndexElement>{ast::IndexList{lit(k)}});
  };
  auto odd = program_of({ast::make<ast::QubitDeclaration>(id("q"), lit(2)), gate("h", {indexed(1), lit(7), indexed(0)})});
  EXPECT_EQ(text_of(QubitAllocator(machine_with({0, 1}))(odd)), "h $1, 7, $0;\n");
}

// The rewriting looks at every name only when the collection saw one that may name a register
// outside the qubit operands; either way the result is the same.
TEST(QubitAllocator, NamesOutsideOperandsAreFoundWhereverTheyStand) {
  struct Case {
    const char* source;
    const char* rewritten;
  };
  const Case cases[] = {
      // A one-qubit register named in an expression is its qubit.
      {"qubit[1] r; x = r + 1;", "x = $0 + 1;\n"},
      {"qubit[1] r; if (r == 1) { h r[0]; }", "if ($0 == 1) {\n  h $0;\n}\n"},
      // Names that look like a register's (same length and first letter) but are none.
      {"qubit[2] qa; qb = 1; h qa[1];", "qb = 1;\nh $1;\n"},
      {"qubit[2] qa; qb[0] = 1; h qa[1];", "qb[0] = 1;\nh $1;\n"},
      // An indexed register outside the qubit operands: in a measurement that is an expression, also
      // in a block.
      {"qubit[2] q; bit b; b = measure q[1];", "bit b;\nb = measure $1;\n"},
      {"qubit[2] q; if (c[0] == 1) { b = measure q[0]; }", "if (c[0] == 1) {\n  b = measure $0;\n}\n"},
      // Registers named in qubit operands only.
      {"qubit r; qubit[2] q; h r; cx r, q[1]; reset r; measure r -> c[0]; barrier r, q; delay[10ns] r;",
       "h $0;\ncx $0, $2;\nreset $0;\nc[0] = measure $0;\nbarrier $0, $1, $2;\ndelay[10.0ns] $0;\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(allocate(c.source), c.rewritten);
  }
  expect_throw<UnindexedQubitRegisterException>(
      [] { allocate("qubit[2] q; int i; i = q;"); },
      "The qubit register 'q' of 2 qubits is used without an index where one qubit is expected");
}

TEST(QubitAllocator, AWholeRegisterStandsForEachOfItsQubits) {
  struct Case {
    const char* source;
    const char* rewritten;
  };
  // `qubit c;` is one qubit, not a register: it is the same qubit in every repetition.
  const Case cases[] = {
      {"qubit[3] q; qubit[0] z; qubit r; barrier q, $4, z, r[0];", "barrier $0, $1, $2, $4, $3;\n"},
      {"qubit[2] q; barrier;", "barrier;\n"},
      {"qubit[3] q; h q;", "h $0;\nh $1;\nh $2;\n"},
      {"qubit[2] a; qubit[2] b; cx a, b;", "cx $0, $2;\ncx $1, $3;\n"},
      {"qubit[2] a; qubit c; cx c, a; cx a[1], a;", "cx $2, $0;\ncx $2, $1;\ncx $1, $0;\ncx $1, $1;\n"},
      {"qubit[2] q; rx(0.5) q;", "rx(0.5) $0;\nrx(0.5) $1;\n"},
      {"qubit[2] q; reset q;", "reset $0;\nreset $1;\n"},
      {"qubit[2] q; delay[20ns] q, $4;", "delay[20.0ns] $0, $1, $4;\n"},
      {"qubit[2] q; bit[2] c; c = measure q;", "bit[2] c;\nc[0] = measure $0;\nc[1] = measure $1;\n"},
      {"qubit[2] q; measure q;", "measure $0;\nmeasure $1;\n"},
      {"qubit[1] q; bit[1] c; c = measure q;", "bit[1] c;\nc[0] = measure $0;\n"},
      {"qubit q; bit c; c = measure q;", "bit c;\nc = measure $0;\n"},
      {"qubit[0] e; h e; reset e;", ""},
      {"qubit[2] q; int i; if (i == 1) { h q; }", "int i;\nif (i == 1) {\n  h $0;\n  h $1;\n}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(allocate(c.source), c.rewritten);
  }
  expect_throw<ValueError>([] { allocate("qubit[2] a; qubit[3] b; cx a, b;"); },
                           "The qubit registers 'a' of 2 qubits and 'b' of 3 qubits differ in size in one call of cx");
  expect_throw<UnindexedQubitRegisterException>(
      [] { allocate("qubit[3] q; gphase(0.5) q;"); },
      "The qubit register 'q' of 3 qubits is used without an index where one qubit is expected");
}

TEST(QubitAllocator, AnIndexMadeOfLiteralsIsFolded) {
  EXPECT_EQ(allocate("qubit[4] q; x q[4 - 1]; x q[7 / 2]; x q[-(-1)];"), "x $3;\nx $3;\nx $1;\n");
  expect_throw<AssertionError>([] { allocate("qubit[4] q; int i; x q[i + 1];"); },
                               "Only explicit qubit pointers are supported");
}

TEST(QubitAllocator, SwitchCasesAreCollectedAndRewritten) {
  EXPECT_EQ(allocate("qubit[2] q; int i;\n"
                     "switch (i) { case 0, 1 { h q[1]; x $4; } default { h q[0]; } }\n"
                     "qubit r; h r;"),
            "int i;\n"
            "switch (i) {\n"
            "  case 0, 1 {\n"
            "    h $1;\n"
            "    x $4;\n"
            "  }\n"
            "  default {\n"
            "    h $0;\n"
            "  }\n"
            "}\n"
            "h $2;\n");
  // $9 only in a case block still counts as named.
  expect_throw<CallingUnsupportedQubitsException>(
      [] { allocate("int i; switch (i) { case 0 { x $9; } }"); },
      "The explicitly called qubits ['$9'] are not supported by the system.");
}

// Most operands are rewritten where the collection noted them, without a second walk; whatever
// that cannot settle goes to the walk, which takes the tree as left and ends as from the start.
TEST(QubitAllocator, OperandsNotedWhileCollectingEndAsTheWalkWouldLeaveThem) {
  struct Case {
    const char* source;
    const char* rewritten;
  };
  const Case cases[] = {
      {"h q[1]; qubit[2] q;", "h $1;\n"},                                    // used before its declaration
      {"qubit[2] q; h q[0]; h q[1 + 0]; h q[1];", "h $0;\nh $1;\nh $1;\n"},  // an index to fold midway
      {"qubit[2] q; gate g a { h a; } g q[1];", "gate g a {\n  h a;\n}\ng $1;\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(allocate(c.source), c.rewritten);
  }
  expect_throw<IndexError>([] { allocate("qubit[2] q; h q[0]; h q[2];"); },
                           "Index 2 is out of range for the qubit register 'q' of 2 qubits");
  // A statement standing at two places is rewritten once, to the same qubit.
  auto call =
      gate("h", {ast::make<ast::IndexedIdentifier>(id("q"), std::vector<ast::IndexElement>{ast::IndexList{lit(1)}})});
  auto shared = program_of({ast::make<ast::QubitDeclaration>(id("q"), lit(2)), call, call});
  EXPECT_EQ(text_of(QubitAllocator(machine_with({0, 1}))(shared)), "h $1;\nh $1;\n");
  // One reference node standing in two calls (as gate inlining leaves an operand): each place gets
  // a node of its own, in place and by the walk (an index still to fold sends the rest there).
  for (bool by_walk : {false, true}) {
    SCOPED_TRACE(by_walk ? "by the walk" : "in place");
    auto reference = ast::make<ast::IndexedIdentifier>(id("q"), std::vector<ast::IndexElement>{ast::IndexList{lit(1)}});
    std::vector<ast::NodePtr> statements{ast::make<ast::QubitDeclaration>(id("q"), lit(2))};
    if (by_walk) {
      auto folded = ast::make<ast::BinaryExpression>(ast::BinaryOperator::plus, lit(0), lit(0));
      statements.push_back(gate("x", {ast::make<ast::IndexedIdentifier>(
                                          id("q"), std::vector<ast::IndexElement>{ast::IndexList{folded}})}));
    }
    statements.push_back(gate("h", {reference}));
    statements.push_back(gate("cx", {reference, reference}));
    auto allocated = QubitAllocator(machine_with({0, 1}))(program_of(std::move(statements)));
    EXPECT_EQ(text_of(allocated), std::string(by_walk ? "x $0;\n" : "") + "h $1;\ncx $1, $1;\n");
    const auto& rewritten = std::dynamic_pointer_cast<OpenQasmProgram>(allocated)->ast()->statements;
    const auto& pair = as<ast::QuantumGate>(rewritten.back())->qubits;
    ASSERT_NE(as<HwQubit>(pair.at(0)), nullptr);
    EXPECT_NE(pair.at(0), pair.at(1));
    EXPECT_NE(pair.at(0), as<ast::QuantumGate>(rewritten.at(rewritten.size() - 2))->qubits.at(0));
    EXPECT_EQ(reference.use_count(), 1);  // held here only: every place took a hardware qubit
  }
  // A declaration below the top level (only a tree built by hand has one) is removed too.
  auto nested =
      program_of({block({ast::make<ast::QubitDeclaration>(id("r")), gate_on("x", {"r"})}), gate_on("h", {"r"})});
  EXPECT_EQ(text_of(QubitAllocator(machine_with({0, 1}))(nested)), "{\n  x $0;\n}\nh $0;\n");
}

TEST(GateCallBroadcast, RepeatsTheCallsItsWalkReaches) {
  struct Case {
    const char* source;
    const char* rewritten;
  };
  const Case cases[] = {
      {"qubit[2] q; gate g a { x a; } int i; if (i == 1) { g q; }",
       "qubit[2] q;\ngate g a {\n  x a;\n}\nint i;\nif (i == 1) {\n  g q[0];\n  g q[1];\n}\n"},
      // Not yet defined, or inside a definition: left alone.
      {"qubit[2] q; g q; gate g a { x a; }", "qubit[2] q;\ng q;\ngate g a {\n  x a;\n}\n"},
      {"qubit[2] q; gate g a { x a; } gate f a { g q; }",
       "qubit[2] q;\ngate g a {\n  x a;\n}\ngate f a {\n  g q;\n}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(text_of(GateCallBroadcast()(parsed(c.source))), c.rewritten);
  }
  // Nothing to repeat: the same tree.
  auto given = parsed("qubit[2] q; gate g a { x a; } g q[1]; h q;");
  EXPECT_EQ(std::dynamic_pointer_cast<OpenQasmProgram>(GateCallBroadcast()(given))->ast(),
            std::dynamic_pointer_cast<OpenQasmProgram>(given)->ast());
}

// Long programs with one call to repeat at every place, at the top or in a block, among statements
// of every kind the search passes (calls of built-in and user gates on single qubits, blocks):
// the search finds each, and a program without one is returned as it is.
TEST(GateCallBroadcast, FindsTheCallToRepeatWhereverItStands) {
  const std::vector<std::string> fillers = {
      "h q[0];\n", "cx q[0], q[1];\n", "g q[1];\n", "if (true) { h q[1]; }\n",
      "while (false) { x q[0]; g q[0]; }\n", "for int j in [0:1] { cx q[1], q[0]; }\n", "bit b;\n",
      "switch (2) { case 2 { g q[0]; } }\n",
  };
  const std::vector<std::string> repeated = {
      "g q;\n", "if (true) { g q; }\n", "for int j in [0:1] { h q[0]; g q; }\n", "while (false) { g q; }\n",
      "switch (1) { case 0 { h q[0]; } case 1 { g q; } default { x q[1]; } }\n",
  };
  auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  const std::string head = "qubit[2] q;\ngate g a { x a; }\n";
  for (std::size_t length : {0, 1, 3, 6, 12, 13, 24, 25, 40}) {
    std::vector<std::string> lines;
    for (std::size_t k = 0; k < length; ++k) lines.push_back(fillers[(k * 5 + length) % fillers.size()]);
    std::string body;
    for (const std::string& line : lines) body += line;
    // None to repeat: the same tree.
    auto given = parsed(head + body);
    EXPECT_EQ(std::dynamic_pointer_cast<OpenQasmProgram>(GateCallBroadcast()(given))->ast(),
              std::dynamic_pointer_cast<OpenQasmProgram>(given)->ast());
    for (std::size_t at = 0; at <= length; at += (length > 13 ? 3 : 1)) {
      for (const std::string& call : repeated) {
        std::string source = head;
        for (std::size_t k = 0; k <= length; ++k) {
          if (k == at) source += call;
          if (k < length) source += lines[k];
        }
        SCOPED_TRACE(source);
        const std::string rewritten = text_of(GateCallBroadcast()(parsed(source)));
        const std::string printed = text_of(parsed(source));
        EXPECT_EQ(count(rewritten, "g q;"), 0u);
        EXPECT_EQ(count(rewritten, "g q[0];"), count(printed, "g q[0];") + 1);
        EXPECT_EQ(count(rewritten, "g q[1];"), count(printed, "g q[1];") + 1);
      }
    }
  }
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
