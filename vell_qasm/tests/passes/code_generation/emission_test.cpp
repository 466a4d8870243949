#include "vell_qasm/passes/code_generation/emission.hpp"

#include <gtest/gtest.h>

#include "../front_tree_builders.hpp"
#include "code_generation_support.hpp"
#include "vell_qasm/passes/code_generation/decl_splitting.hpp"
#include "vell_qasm/passes/code_generation/io_binding.hpp"
#include "vell_qasm/passes/code_generation/output_saving.hpp"
#include "vell_qasm/passes/code_generation/qubit_binding.hpp"
#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"
#include "vell_qasm/passes/parsing/source_parsing.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

using namespace vell_qasm::testing;
using programs::OpenQasmProgram;
using programs::Tavo1Program;

// The tree of `source` as code generation expects it: hardware qubits, split and resolved
// declarations, bound registers.
programs::ProgramPtr prepared(const std::string& source, bool bind_qubits = true) {
  std::vector<StepPtr> steps{std::make_shared<parsing::SourceParsing>(), std::make_shared<parsing::HwQubitResolver>(),
                             std::make_shared<DeclSplitting>(), std::make_shared<DeclarationResolvingStep>()};
  if (bind_qubits) steps.push_back(std::make_shared<QubitAllocator>(test_machine()));
  PassPipeline pipeline(steps, std::make_shared<const configurations::BuildSettings>());
  return pipeline(std::make_shared<programs::TextualProgram>(source));
}

std::shared_ptr<Tavo1Program> generate(const programs::ProgramPtr& tree, Inputs inputs = {}) {
  CodeGeneration step(test_machine(), std::make_shared<const Inputs>(std::move(inputs)));
  auto result = std::dynamic_pointer_cast<Tavo1Program>(step(tree));
  EXPECT_NE(result, nullptr);
  return result;
}

// Compiles `source` in a scope of its own and saves the outputs.
std::shared_ptr<Tavo1Program> compile(const std::string& source, Inputs inputs = {}) {
  auto program = generate(prepared(source), std::move(inputs));
  VariablesSaver()(program);
  EXPECT_FALSE(utils::is_inside_scope());
  return program;
}

// The golden file holds the source, then the listing it compiles to.
void expect_compiles_to(const std::string& golden, const std::string& source, Inputs inputs = {}) {
  expect_golden(golden, source + "==== TAVO ====\n" + compile(source, std::move(inputs))->dsl_program().listing());
}

// What a call adds to the listing of `scope` while it is entered; the call must fail with `E`.
template <class E, class F>
std::string emitted_before_failure(const tavo::ProgramScope& scope, F&& call, const std::string& message) {
  const std::string before = scope.program().listing();
  expect_throw<E>(std::forward<F>(call), message);
  return scope.program().listing().substr(before.size());
}

// ---- golden listings ----

TEST(CodeGenerationGolden, Operations) {
  expect_compiles_to("operations.txt",
                     "input float[64] theta;\n"
                     "qubit[2] q;\n"
                     "qubit r;\n"
                     "bit c;\n"
                     "bit[2] cs;\n"
                     "h q[0];\n"
                     "rx(theta * 2) q[1];\n"
                     "u3(0.5, theta, -1) r;\n"
                     "cx q[0], q[1];\n"
                     "c = measure q[0];\n"
                     "cs[1] = measure r;\n"
                     "measure q[1];\n"
                     "reset q[0];\n"
                     "delay[100ns] q[0], $5;\n"
                     "barrier q, $5;\n"
                     "barrier;\n"
                     "gphase(theta);\n"
                     "h $5;\n"
                     "tan(theta);\n"
                     "sqrt(theta);\n");
}

TEST(CodeGenerationGolden, BranchesAndBlocks) {
  expect_compiles_to("branches.txt",
                     "input int n;\n"
                     "int x;\n"
                     "bool flag;\n"
                     "if (n > 2) { x = 1; }\n"
                     "if (n == 3) { x = 2; } else { x = 3; }\n"
                     "if (flag) { } else { x = 4; }\n"
                     "if (true) { } else { x = 5; }\n"
                     "if (false) { } else { x = 6; }\n"
                     "if (undeclared) { } else { }\n"
                     "if (n != 0) { if (flag) { x = 7; } else { h $0; } }\n"
                     "box[100ns] { x = 8; h $1; }\n"
                     "{ x = 9; }\n");
}

TEST(CodeGenerationGolden, Loops) {
  expect_compiles_to("loops.txt",
                     "input int n;\n"
                     "input int k;\n"
                     "array[int[32], 3] a;\n"
                     "int total;\n"
                     "while (total < 3) { total = total + 1; }\n"
                     "while (undeclared) { }\n"
                     "for int i in [0:4] { total = total + i; }\n"
                     "for int i in [10:-2:0] { total = total + i; }\n"
                     "for int i in [0:k:n] { total = total + i; }\n"
                     "for int i in {1, 2, 2} { total = total + i; }\n"
                     "for int v in a { total = total + v; }\n"
                     "for int _ in [0:1] { }\n"
                     "for int _ in [0:1] { for int _ in [0:1] { total = total + 1; } }\n"
                     "for int _ in {3} { total = total - 1; }\n");
}

TEST(CodeGenerationGolden, Switch) {
  expect_compiles_to("switch.txt",
                     "input int n;\n"
                     "int x;\n"
                     "switch (n) { case 1, 2 { x = 1; } case 3 { x = 2; h $0; } default { x = 3; } }\n"
                     "switch (n + 1) { case 1 { x = 1; } }\n"
                     "switch (n) { case 1 { } case 2 { x = 1; } }\n");
}

TEST(CodeGenerationGolden, InputsAsStreamsOutputsSavedInDeclarationOrder) {
  expect_compiles_to("inputs_as_streams.txt",
                     "input float[64] theta;\n"
                     "input bit[2] flags;\n"
                     "output int second;\n"
                     "output bit first;\n"
                     "int plain;\n"
                     "second = 2;\n"
                     "first = flags[1];\n");
}

TEST(CodeGenerationGolden, InputsAsValues) {
  expect_compiles_to("inputs_as_values.txt",
                     "input float[64] theta;\n"
                     "input bit[2] flags;\n"
                     "input int missing;\n"
                     "output int result;\n"
                     "int plain;\n"
                     "result = plain;\n",
                     Inputs{{"theta", 0.5}, {"flags", std::vector<PlainValue>{true, false}}, {"plain", std::int64_t{3}},
                            {"missing", std::monostate{}}});
}

// ---- the step and its scope ----

TEST(CodeGeneration, MakesItsOwnScopeAndLeavesItAlsoOnFailure) {
  EXPECT_EQ(CodeGeneration(test_machine()).name, "CodeGeneration");
  auto program = generate(prepared("int x; x = 1;"));
  ASSERT_TRUE(program->_program.has_value());
  EXPECT_EQ(program->_program->entry_count(), 1u);
  EXPECT_FALSE(program->_program->is_entered());
  EXPECT_EQ(program->dsl_program().listing(), "declare v0: int = 0\nassign v0 = 1\n");

  auto failing = prepared("int x; x = 1; y $0;");
  expect_throw<configurations::UnresolvableOperation>([&] { generate(failing); },
                                                      "Not found relevant operation for y $0");
  EXPECT_FALSE(utils::is_inside_scope());
  expect_throw<AssertionError>([] {
    CodeGeneration step(test_machine());
    step(std::make_shared<programs::TextualProgram>(""));
  },
                               "");
  expect_throw<TypeError>([] { CodeGeneration step(nullptr); }, "CodeGeneration needs a MachineSetup, got none");
}

TEST(CodeGeneration, InsideTheCallersScopeNoStreamsNoSavingAndNoProgramToHandOut) {
  auto tree = prepared("input int given; output int result; int plain; result = given + plain;");
  auto caller = tavo::program();
  auto entered = caller.enter();
  auto program = generate(tree, Inputs{{"given", std::int64_t{4}}});
  EXPECT_FALSE(program->_program.has_value());
  EXPECT_EQ(caller.program().listing(),
            "declare v0: int = 0\n"
            "assign v0 = 4\n"
            "declare v1: int = 0\n"
            "declare v2: int = 0\n"
            "assign v1 = (v0 + v2)\n");
  EXPECT_EQ(program->outputs(), std::vector<std::string>{"result"});
  expect_throw<AttributeError>([&] { (void)program->dsl_program(); },
                               "Still within program scope, cannot return the full program");
  const std::string before = caller.program().listing();
  EXPECT_EQ(VariablesSaver()(program), program);
  EXPECT_EQ(caller.program().listing(), before);

  const std::string emitted = emitted_before_failure<MissingInputException>(
      caller, [&] { generate(prepared("int first; input float[64] theta; int after;")); },
      "The input theta was not provided to the compiler");
  EXPECT_EQ(emitted, "declare v3: int = 0\n");  // nothing declared for theta or after it
  EXPECT_TRUE(utils::is_inside_scope());
}

TEST(CodeGeneration, AnOutputGivenAValueHasNoStreamToSaveTo) {
  auto program = generate(prepared("output int result;"), Inputs{{"result", std::int64_t{1}}});
  expect_throw<tavo_var::NoStreamVariableException>([&] { VariablesSaver()(program); },
                                                    "No stream variable was declared for result.");
}

// ---- operations ----

TEST(CodeGeneration, NothingIsEmittedForAnOperationThatCannotBeResolved) {
  auto caller = tavo::program();
  auto entered = caller.enter();
  struct Case {
    std::string source;
    std::string message;
  };
  const std::vector<Case> unresolvable = {
      {"y $0;", "Not found relevant operation for y $0"},
      {"rx(1, 2) $0;", "Not found relevant operation for rx(2) $0"},
      {"h $9;",
       "Operation 'h' is operating on qubits (9,). Some of these qubits are not supported. Supported qubits - (0, 1, "
       "2, 3, 4, 5)."},
  };
  for (const Case& c : unresolvable) {
    SCOPED_TRACE(c.source);
    auto tree = prepared(c.source, false);
    EXPECT_EQ(emitted_before_failure<configurations::UnresolvableOperation>(caller, [&] { generate(tree); }, c.message),
              "");
  }
  // Lowering fails before resolution; an unbound operand before anything is emitted.
  auto undeclared = prepared("rx(phi) $0;");
  EXPECT_EQ(emitted_before_failure<programs::UndeclaredVariableReferenceException>(
                caller, [&] { generate(undeclared); }, "The variable VariableSignature(name='phi') does not exit."),
            "");
  auto unbound = prepared("qubit q; cx $1, q;", false);
  EXPECT_EQ(emitted_before_failure<AssertionError>(caller, [&] { generate(unbound); },
                                                   "The qubit operand 'q' is not bound to a hardware qubit"),
            "");
  auto modified = prepared("inv @ rx(0.5) $0;");
  EXPECT_EQ(emitted_before_failure<NotImplementedError>(
                caller, [&] { generate(modified); },
                "Gate modifiers are not supported by TAVO code generation, found on rx"),
            "");
  auto controlled_phase = prepared("ctrl @ gphase(0.5) $0;");
  EXPECT_EQ(emitted_before_failure<NotImplementedError>(
                caller, [&] { generate(controlled_phase); },
                "Gate modifiers are not supported by TAVO code generation, found on gphase"),
            "");
}

TEST(CodeGeneration, TargetFunctionFailuresSurfaceAsTheirOwn) {
  auto caller = tavo::program();
  auto entered = caller.enter();
  auto refused = prepared("fail $5;");
  // The first alignment was emitted, the second not.
  EXPECT_EQ(emitted_before_failure<std::runtime_error>(caller, [&] { generate(refused); }, "the target function refuses"),
            "align \"q5.ro\", \"q5.xy\"\n");
  // A measurement that yields nothing is refused after it was emitted, with or without target.
  for (std::string source : {"measure $4;", "bit c; c = measure $4;"}) {
    SCOPED_TRACE(source);
    auto tree = prepared(source);
    EXPECT_NE(emitted_before_failure<AssertionError>(caller, [&] { generate(tree); }, "").find("\"@measure\", \"-\""),
              std::string::npos);
  }
}

TEST(CodeGeneration, ClassicalFunctionsMapToSdkMathAndOthersToOperations) {
  auto tree = prepared("float[64] x;");
  auto caller = tavo::program();
  auto entered = caller.enter();
  auto program = generate(tree);
  const auto machine = test_machine();
  const Inputs no_inputs;
  CodeGenerationVisitor visitor(*machine, *program, no_inputs, true);
  const std::vector<std::pair<std::string, std::string>> mapped = {
      {"sqrt", "Math.sqrt(v0)"}, {"exp", "Math.exp(v0)"}, {"log", "Math.ln(v0)"},
      {"sin", "Math.sin(v0)"},   {"cos", "Math.cos(v0)"}, {"arctan", "Math.atan(v0)"}};
  const std::string before = caller.program().listing();
  for (const auto& [name, text] : mapped) {
    ast::FunctionCall call(id(name), {id("x")});
    auto result = visitor.call_function(call);
    ASSERT_TRUE(result.has_value()) << name;
    EXPECT_EQ(tavo::text(*result), text);
  }
  EXPECT_EQ(caller.program().listing(), before);  // math emits nothing
  EXPECT_THROW(visitor.call_function(ast::FunctionCall(id("sqrt"), {})), tavo::TavoTypeError);
  // Any other name is an operation on no qubits.
  EXPECT_FALSE(visitor.call_function(ast::FunctionCall(id("tan"), {id("x")})).has_value());
  EXPECT_EQ(caller.program().listing().substr(before.size()), "align \"@tan\", \"v0\"\n");
}

// ---- assignments ----

TEST(CodeGeneration, AssignmentsTakeOnlyPlainTargetsAndOneIndex) {
  auto caller = tavo::program();
  auto entered = caller.enter();
  auto compound = prepared("int x; x += 1;");
  expect_throw<AssertionError>([&] { generate(compound); }, "Only regular assignment is supported");
  auto nested = prepared("array[int[8], 2] a; a[0][1] = 1;");
  expect_throw<AssertionError>([&] { generate(nested); }, "Only 1-dimensional arrays are supported.");

  auto literal_target = std::make_shared<OpenQasmProgram>(program(
      {ast::make<ast::ClassicalAssignment>(lit(1), ast::AssignmentOperator::assign, lit(2))}));
  expect_throw<ValueError>([&] { generate(literal_target); },
                           "Unexpected target type - <class 'openqasm3.ast.IntegerLiteral'>");
  // The value is lowered before the index: an undeclared index is reported after the value's
  // lowering succeeded.
  auto indexed = prepared("array[int[8], 2] a; int v; a[i] = v;");
  expect_throw<programs::UndeclaredVariableReferenceException>(
      [&] { generate(indexed); }, "The variable VariableSignature(name='i') does not exit.");
}

// ---- loops ----

TEST(CodeGeneration, ARangeWithAStepOfZeroIsRefusedBeforeAnythingIsEmitted) {
  auto caller = tavo::program();
  auto entered = caller.enter();
  for (std::string range : {"[0:0:4]", "[0:0.0:4]", "[0:false:4]"}) {
    SCOPED_TRACE(range);
    auto tree = prepared("for int i in " + range + " { h $0; }");
    EXPECT_EQ(emitted_before_failure<ValueError>(caller, [&] { generate(tree); },
                                                 "A range with a step of 0 never reaches its end"),
              "");
  }
}

TEST(CodeGeneration, LoopSetsThatCannotBeEmitted) {
  auto caller = tavo::program();
  auto entered = caller.enter();
  // The iterator stays declared when the set is refused.
  auto variable_in_set = prepared("int n; for int i in {1, n} { h $0; }");
  EXPECT_EQ(emitted_before_failure<NotImplementedError>(caller, [&] { generate(variable_in_set); },
                                                        "Non literal values are not supported by TAVO."),
            "declare v0: int = 0\ndeclare v1: int = 0\n");

  auto odd_set = std::make_shared<OpenQasmProgram>(program({ast::make<ast::ForInLoop>(
      ast::make<ast::IntType>(nullptr), id("i"), lit(3), std::vector<ast::StmtPtr>{gate_on("h", {"$0"})})}));
  odd_set = std::dynamic_pointer_cast<OpenQasmProgram>(parsing::HwQubitResolver()(odd_set));
  expect_throw<TypeError>([&] { generate(odd_set); },
                          "Type of set declaration - <class 'openqasm3.ast.IntegerLiteral'> is not supported");
  auto undeclared_array = prepared("for int i in nowhere { h $0; }");
  expect_throw<programs::UndeclaredVariableReferenceException>(
      [&] { generate(undeclared_array); }, "The variable VariableSignature(name='nowhere') does not exit.");
}

TEST(CodeGeneration, UnderscoreIteratorsAreNumberedPerCompilation) {
  const std::string source = "for int _ in {1} { h $0; } for int _ in {2} { h $0; }";
  for (int run = 0; run < 2; ++run) {
    auto program = compile(source);
    EXPECT_TRUE(program->variables_db().contains(programs::VariableSignature{"_0"}));
    EXPECT_TRUE(program->variables_db().contains(programs::VariableSignature{"_1"}));
    EXPECT_FALSE(program->variables_db().contains(programs::VariableSignature{"_2"}));
  }
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
