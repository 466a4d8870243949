// The whole compilation: the examples as golden listings, failures as a user reads them,
// command-line values, and the tolerated optimization failure (includes: includes_test.cpp).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "vell_qasm/driver/compile.hpp"
#include "vell_qasm/logging.hpp"
#include "vell_qasm/passes/code_resolving/expr_folding.hpp"
#include "vell_qasm/passes/utils.hpp"
#include "vell_test/golden.hpp"

namespace vell_qasm::driver {
namespace {

namespace fs = std::filesystem;

using vell_test::read_file;

void expect_golden(const std::string& name, const std::string& actual) {
  vell_test::expect_golden("examples/" + name, actual);
}

// What scripts/main.sh gives each example.
struct Example {
  const char* file;
  std::int64_t qubits = 8;
  passes::code_generation::Inputs inputs = {};
};

TEST(Examples, EveryExampleCompilesToItsGoldenListing) {
  const std::vector<Example> examples{
      {"adder.qasm", 10},
      {"calibration.qasm", 8, {{"shots", std::int64_t{100}}, {"amplitude", 0.25}, {"echo", true}}},
      {"const_math.qasm"},
      {"gate_library.qasm"},
      {"ghz.qasm"},
      {"repeat_until_success.qasm"},
      {"sweep.qasm"},
      {"switch.qasm"},
      {"teleport.qasm"},
  };
  const fs::path dir = fs::path(VELL_SOURCE_DIR) / "examples";
  std::size_t listed = 0;
  for (const auto& entry : fs::directory_iterator(dir)) listed += entry.path().extension() == ".qasm";
  EXPECT_EQ(listed, examples.size()) << "an example in examples/ has no entry here (nor in scripts/main.sh)";
  for (const Example& example : examples) {
    SCOPED_TRACE(example.file);
    CompileOptions options = demo_compile_options(example.qubits);
    options.inputs = example.inputs;
    options.include_directory = dir;
    try {
      auto program = compile(read_file(dir / example.file), options);
      expect_golden(std::string(example.file) + ".txt", program->dsl_program().listing());
    } catch (...) {
      ADD_FAILURE() << describe_failure(std::current_exception()).message;
    }
    EXPECT_FALSE(passes::utils::is_inside_scope());
  }
}

// Compiles `source` for the demonstration machine and returns the failure; none when it compiled.
std::optional<FailureDescription> failure_of(const std::string& source, CompileOptions options = demo_compile_options()) {
  try {
    compile(source, options);
    return std::nullopt;
  } catch (...) {
    return describe_failure(std::current_exception());
  }
}

TEST(Failures, CarryThePositionOfTheNodeOrTokenAtFault) {
  struct Case {
    const char* source;
    std::optional<int> line, column;
    const char* message_part;
  };
  const std::vector<Case> cases{
      // The parser's position.
      {"OPENQASM 3.0;\nqubit q;\nh q\n", 4, 0, ""},
      // Node screening: a subroutine is no node class the compiler handles.
      {"OPENQASM 3.0;\ndef f() { }\n", 2, 0, "SubroutineDefinition"},
      // Gate inlining: an unknown gate, a definition of a built-in one. (Modifiers stop at the
      // screening.)
      {"OPENQASM 3.0;\nqubit q;\n  foo q;\n", 3, 2, "foo"},
      {"OPENQASM 3.0;\ngate h a { x a; }\n", 2, 0, "h"},
      {"OPENQASM 3.0;\nqubit[2] q;\nctrl @ x q[0], q[1];\n", std::nullopt, std::nullopt, "QuantumGateModifier"},
      // Expression lowering: a math function of a variable (the SDK has them only as statements);
      // the exception points at the call, not at its statement.
      {"OPENQASM 3.0;\nfloat[64] a = 1.0;\nfloat[64] b;\nb = sin(a);\n", 4, 4, "Unsupported expression type"},
      // Qubit allocation: too many qubits, registers of two sizes in one call.
      {"OPENQASM 3.0;\nqubit[9] q;\n", std::nullopt, std::nullopt, ""},
      {"OPENQASM 3.0;\nqubit[2] a;\nqubit[3] b;\ncx a, b;\n", 4, 0, "differ in size"},
      // Include expansion: a missing file.
      {"OPENQASM 3.0;\ninclude \"no_such_file.inc\";\n", 2, 0, "no_such_file.inc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    auto failure = failure_of(c.source);
    ASSERT_TRUE(failure.has_value());
    EXPECT_FALSE(failure->message.empty());
    EXPECT_NE(failure->message.find(c.message_part), std::string::npos) << failure->message;
    if (c.line) {
      EXPECT_EQ(failure->line, c.line) << failure->message;
      EXPECT_EQ(failure->column, c.column) << failure->message;
    }
    EXPECT_FALSE(passes::utils::is_inside_scope());
  }
}

TEST(Failures, OptionsWithoutAMachineAreATypeError) {
  CompileOptions options = demo_compile_options();
  options.machine_setup = nullptr;
  EXPECT_THROW(make_pipeline(options), TypeError);
  options = demo_compile_options();
  options.built_in_gates = nullptr;
  EXPECT_THROW(compile("OPENQASM 3.0;", options), TypeError);
}

TEST(Failures, AnExceptionWithoutTextIsNamedByItsClass) {
  const auto failure = describe_failure(std::make_exception_ptr(AssertionError()));
  EXPECT_EQ(failure.message, "vell_qasm::AssertionError");
  EXPECT_FALSE(failure.line);
}

// The nodes of a compilation share one arena, which must not outlive it: the program made
// holds no node, and a failure leaves none behind.
TEST(Memory, NoNodeArenaOutlivesACompilation) {
  struct Case {
    const char* source;
    bool fails;
  };
  const std::vector<Case> cases{
      {"OPENQASM 3.0;\nqubit[2] q;\nconst int n = 3;\nfor int i in [0:n] { cx q[0], q[1]; }\nbit b = measure q[0];\n",
       false},
      {"OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit q;\nh q;\n", false},
      {"OPENQASM 3.0;\nqubit q;\nundefined_gate q;\n", true},
      {"OPENQASM 3.0;\nqubit q;\nx q\n", true},  // a parse failure
  };
  const std::size_t before = openqasm3::ast::detail::NodeArena::live_arenas();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    if (c.fails) {
      EXPECT_ANY_THROW(compile(c.source, demo_compile_options()));
    } else {
      auto program = compile(c.source, demo_compile_options());
      std::ostringstream out;
      program->dsl_program().write_listing(out);
      EXPECT_FALSE(out.str().empty());
    }
    EXPECT_EQ(openqasm3::ast::detail::NodeArena::live_arenas(), before);
  }
}

TEST(Inputs, CommandLineValuesParseAsBoolIntOrReal) {
  using passes::code_generation::InputValue;
  EXPECT_EQ(parse_input_value("true"), InputValue(true));
  EXPECT_EQ(parse_input_value("false"), InputValue(false));
  EXPECT_EQ(parse_input_value("-42"), InputValue(std::int64_t{-42}));
  EXPECT_EQ(parse_input_value("9223372036854775807"), InputValue(std::int64_t{9223372036854775807}));
  EXPECT_EQ(parse_input_value("0.25"), InputValue(0.25));
  EXPECT_EQ(parse_input_value("1e3"), InputValue(1000.0));
  EXPECT_EQ(parse_input_value("9223372036854775808"), InputValue(9223372036854775808.0));  // too big for int
  for (const char* refused : {"", "True", "1.5x", " 1", "0x10", "1e999", "nan", "inf", "--1"})
    EXPECT_FALSE(parse_input_value(refused).has_value()) << refused;
}

TEST(Inputs, AGivenValueReplacesTheInputStream) {
  const std::string source = "OPENQASM 3.0;\ninput int[32] n;\noutput int[32] m;\nm = n + 1;\n";
  CompileOptions options = demo_compile_options();
  const std::string streamed = compile(source, options)->dsl_program().listing();
  options.inputs = {{"n", std::int64_t{41}}};
  const std::string given = compile(source, options)->dsl_program().listing();
  EXPECT_NE(streamed.find("input"), std::string::npos) << streamed;
  EXPECT_NE(given.find("41"), std::string::npos) << given;
  EXPECT_NE(streamed, given);
}

TEST(Optimizations, AFoldingFailureIsAWarningUnlessEnforced) {
  // Folding sqrt of a negative literal fails: a WARNING, and the run goes on with the call unfolded,
  // which code generation then refuses (the SDK has math functions only as statements), pointing at it.
  const std::string source = "OPENQASM 3.0;\noutput float[64] r;\nr = sqrt(-1.0);\n";
  logging::Capture capture;
  CompileOptions options = demo_compile_options();
  auto tolerated = failure_of(source, options);
  ASSERT_TRUE(tolerated.has_value());
  EXPECT_NE(tolerated->message.find("Unsupported expression type"), std::string::npos) << tolerated->message;
  EXPECT_EQ(tolerated->line, 3);
  EXPECT_EQ(tolerated->column, 4);
  std::size_t warnings = 0;
  for (const auto& record : capture.records("vell_qasm.passes.pass_pipeline"))
    warnings += record.level == spdlog::level::warn && record.text.find("sqrt(-1.0)") != std::string::npos;
  EXPECT_EQ(warnings, 1u);

  options.build_settings = configurations::BuildSettings({.optimizations_to_enforce = "ExpressionsOptimizationStep"});
  auto enforced = failure_of(source, options);
  ASSERT_TRUE(enforced.has_value());
  EXPECT_EQ(enforced->message, "The operation sqrt(-1.0) is illegal");

  // Skipped, the step leaves even foldable calls to code generation.
  options.build_settings = configurations::BuildSettings({.optimizations_to_skip = "all"});
  capture.clear();
  EXPECT_TRUE(failure_of("OPENQASM 3.0;\noutput float[64] r;\nr = sqrt(4.0);\n", options).has_value());
  EXPECT_FALSE(failure_of("OPENQASM 3.0;\noutput float[64] r;\nr = sqrt(4.0);\n").has_value());
}

}  // namespace
}  // namespace vell_qasm::driver

namespace vell_qasm::driver {
namespace {

std::string listing_of(const std::string& source) {
  return compile(source, demo_compile_options())->dsl_program().listing();
}

TEST(WholeRegisters, CompileAsTheSameStatementOnEachQubit) {
  const std::string head = "OPENQASM 3.0;\nqubit c;\nqubit[2] q;\nqubit[2] r;\nbit[2] b;\n";
  struct Case {
    const char* whole;
    const char* explicit_;
  };
  const Case cases[] = {
      {"h q; reset r;", "h q[0]; h q[1]; reset r[0]; reset r[1];"},
      {"cx q, r; cx c, q;", "cx q[0], r[0]; cx q[1], r[1]; cx c, q[0]; cx c, q[1];"},
      {"b = measure q; measure r -> b;", "b[0] = measure q[0]; b[1] = measure q[1]; b[0] = measure r[0]; "
                                         "b[1] = measure r[1];"},
      {"delay[100ns] q, c;", "delay[100ns] q[0], q[1], c;"},
      // A register of one qubit measured into one bit (OpenQASM 2 programs write this).
      {"qubit[1] one; measure one -> b[1];", "qubit[1] one; measure one[0] -> b[1];"},
      // A user gate is repeated whole per qubit: its statement on `a` alone runs once per call.
      {"gate g a, t { cx a, t; x a; } g c, q;", "gate g a, t { cx a, t; x a; } g c, q[0]; g c, q[1];"},
      {"const int n = 2; qubit[n] s; gate k a { x a; } k s;", "const int n = 2; qubit[n] s; gate k a { x a; } "
                                                              "k s[0]; k s[1];"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.whole);
    EXPECT_EQ(listing_of(head + c.whole), listing_of(head + c.explicit_));
  }
  for (const char* mismatch : {"qubit[3] w; cx q, w;", "qubit[3] w; gate g a, t { cx a, t; } g q, w;"}) {
    SCOPED_TRACE(mismatch);
    auto failure = failure_of(head + mismatch);
    ASSERT_TRUE(failure.has_value());
    EXPECT_NE(failure->message.find("The qubit registers 'q' of 2 qubits and 'w' of 3 qubits differ in size"),
              std::string::npos)
        << failure->message;
  }
}

}  // namespace
}  // namespace vell_qasm::driver
