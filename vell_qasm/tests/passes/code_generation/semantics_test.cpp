// Programs whose meaning hangs on the language's rules for scopes, loops, switches, whole registers
// and constant indices, compiled through every tree step and code generation on the test machine.
// The golden file holds each program with its listing; the comments of each case say what the
// listing must show.
#include <gtest/gtest.h>

#include <algorithm>

#include "code_generation_support.hpp"
#include "vell_qasm/passes/code_generation/decl_splitting.hpp"
#include "vell_qasm/passes/code_generation/emission.hpp"
#include "vell_qasm/passes/code_generation/io_binding.hpp"
#include "vell_qasm/passes/code_generation/output_saving.hpp"
#include "vell_qasm/passes/code_generation/qubit_binding.hpp"
#include "vell_qasm/passes/code_resolving/assign_lowering.hpp"
#include "vell_qasm/passes/code_resolving/const_inlining.hpp"
#include "vell_qasm/passes/code_resolving/expr_folding.hpp"
#include "vell_qasm/passes/code_resolving/scope_renaming.hpp"
#include "vell_qasm/passes/parsing/ast_tidy.hpp"
#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"
#include "vell_qasm/passes/parsing/source_parsing.hpp"
#include "vell_qasm/passes/parsing/validators.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

using namespace vell_qasm::testing;

std::string listing_of(const std::string& source) {
  const auto machine = test_machine();
  PassPipeline pipeline(
      {std::make_shared<parsing::SourceParsing>(), std::make_shared<parsing::AstTidy>(),
       std::make_shared<parsing::HwQubitResolver>(), std::make_shared<code_resolving::ScopeRenaming>(),
       std::make_shared<code_resolving::ConstInlining>(), std::make_shared<code_resolving::ClassicalAssignLowering>(),
       std::make_shared<code_resolving::ExpressionsOptimizationStep>(), std::make_shared<DeclSplitting>(),
       std::make_shared<DeclarationResolvingStep>(), std::make_shared<QubitAllocator>(machine),
       std::make_shared<CodeGeneration>(machine), std::make_shared<VariablesSaver>()},
      std::make_shared<const configurations::BuildSettings>());
  auto result = std::dynamic_pointer_cast<programs::Tavo1Program>(
      pipeline(std::make_shared<programs::TextualProgram>(source)));
  return result->dsl_program().listing();
}

TEST(CodeGenerationSemantics, ProgramsDoWhatTheLanguageSays) {
  const char* programs[] = {
      // An inner declaration shadows the outer one only inside its block: rx of v1 (0.5), then of v0.
      "qubit q; float x = 0.25; if (true) { float x = 0.5; rx(x) q; } rx(x) q;",
      // The loop variable is a variable of its own: the last rx reads v0 (7).
      "qubit q; int i = 7; for int i in [0:1] { rx(i) q; } rx(i) q;",
      // Uses before a shadowing declaration in the same block read the outer variable.
      "int ii = 100; { ii = ii * 2; int ii = 1; ii = ii * 2; } ii = ii * 2;",
      // Loop variables named like a constant and like an output; an inner constant shadows an outer one.
      "qubit q; const int n = 2; output int k; for int n in [0:1] { k = n; } for int k in [0:n] { rx(k) q; }\n"
      "const float c = 0.5; if (k == 1) { const float c = 1.5; rx(c) q; } rx(c) q;",
      // Assigning the loop variable does not change its next value: a hidden counter (v1) runs the
      // loop and is copied into i (v0) at the top of each pass. The end n is read once (into v3).
      "qubit q; for int i in [0:3] { i = i + 1; rx(i) q; }\nint n = 2; for int j in [0:n] { n = 5; rx(j) q; }",
      // A switch whose value may match no case is not unsafe; several labels emit a block once.
      "qubit q; int v; switch (v) { case 0 { x q; } }\n"
      "switch (v) { case 1, 2, 3 { x q; } case 4 { h q; } default { rx(0.5) q; } }",
      // Whole registers: each qubit, pairs of equal registers, each measurement into its bit.
      "qubit[2] a; qubit[2] b; bit[2] c; h a; cx a, b; c = measure a; measure b -> c; reset a; delay[20ns] b;",
      // Constants in indices of qubit operands and of assignment and measurement targets.
      "const int n = 2; qubit[3] q; bit[3] b; x q[n - 1]; b[n] = measure q[n]; b[n - 2] = true;",
  };
  std::string all;
  for (const char* source : programs) all += std::string(source) + "\n==== TAVO ====\n" + listing_of(source) + "\n";
  expect_golden("semantics.txt", all);
}

TEST(CodeGenerationSemantics, NestedSwitchesWithManyLabelsGiveALinearListing) {
  // Three nested switches of 20 labels per case: the listing grows with the source, not with the
  // 8,000 label combinations.
  std::string labels;
  for (int i = 0; i < 20; ++i) labels += (i ? ", " : "") + std::to_string(i);
  std::string body = "x q;";
  for (int level = 0; level < 3; ++level) body = "switch (v) { case " + labels + " { " + body + " } }";
  const std::string listing = listing_of("qubit q; int v; " + body);
  // Per level: a declaration, 20 labels of two lines, the second switch with its case: about 50.
  EXPECT_LT(std::count(listing.begin(), listing.end(), '\n'), 200) << listing;
}

TEST(CodeGenerationSemantics, AssignmentsToTheLoopVariableAreFoundInEveryNestedBlock) {
  // Whether the body assigns the loop variable decides whether a hidden counter (v1) runs the
  // loop: an assignment deep inside the body's blocks counts, one to another variable does not.
  struct Case {
    const char* body;
    bool counted_apart;
  };
  const Case cases[] = {
      {"box { switch (k) { case 1 { if (true) { while (k > 9) { i = 5; } } } } }", true},
      {"if (k == 0) { } else { for int j in [0:1] { i = j; } }", true},
      {"switch (k) { default { i = 2; } }", true},
      {"k = i; rx(i) q; b = measure q; if (b) { k = 2; }", false},
  };
  for (const Case& c : cases) {
    const std::string listing =
        listing_of(std::string("qubit q; bit b; int k; for int i in [0:3] { ") + c.body + " }");
    const std::string loop = listing.substr(listing.find("for "));
    EXPECT_EQ(loop.rfind("for v3 = 0;", 0) == 0 && loop.find("assign v2 = v3") != std::string::npos,
              c.counted_apart)
        << c.body << "\n" << listing;
  }
}

TEST(CodeGenerationSemantics, OnlyWritesInsideTheLoopsBodyMakeItsEndBeCopied) {
  // The loop's end `n` is read in place unless the body writes it: writes before or after the
  // loop, or in another loop, do not count; one in a loop nested in the body does.
  struct Case {
    const char* before;
    const char* body;
    const char* after;
    bool copied;
  };
  const Case cases[] = {
      {"n = 4;", "rx(0.1) q;", "n = 5;", false},
      {"for int j in [0:1] { n = 2; }", "rx(0.1) q;", "for int j in [0:1] { n = 2; }", false},
      {"", "for int k in [0:1] { n = 2; }", "", true},
      {"", "if (true) { n = 2; }", "n = 5;", true},
      {"", "b = measure q;", "", false},
  };
  for (const Case& c : cases) {
    const std::string listing = listing_of(std::string("int n = 3; qubit q; bit b; ") + c.before +
                                           " for int i in [0:n] { " + c.body + " } " + c.after);
    EXPECT_EQ(listing.find("<= v0)") == std::string::npos, c.copied) << c.before << " | " << c.body << "\n" << listing;
  }
}

TEST(CodeGenerationSemantics, NestedLoopsAnswerForTheirOwnBodies) {
  // The writes are noted once for the outermost loop that asks, then read by the loops inside it
  // and replaced for the next one: each loop still sees the writes of its own body only. j's end
  // m (v1) is written in j's body: copied into v3. l's end n (v0) is written after l, in k's body
  // only: read where it is. b is assigned in its own body: v9 counts its passes. i and p read n
  // and m where they are.
  const std::string listing = listing_of(
      "qubit q; int n = 2; int m = 3;\n"
      "for int i in [0:n] { for int j in [0:m] { m = 1; } }\n"
      "for int k in [0:2] { for int l in [0:n] { rx(l) q; } n = 4; }\n"
      "for int a in [0:1] { for int b in [0:1] { b = 1; } rx(a) q; }\n"
      "for int p in [0:m] { rx(p) q; }");
  std::string loops;
  for (std::size_t at = listing.find("for "); at != std::string::npos; at = listing.find("for ", at + 1))
    loops += listing.substr(at, listing.find('\n', at) - at) + "\n";
  EXPECT_EQ(loops,
            "for v2 = 0; (v2 <= v0); v2 = (v2 + 1):\n"
            "for v4 = 0; (v4 <= v3); v4 = (v4 + 1):\n"
            "for v5 = 0; (v5 <= 2); v5 = (v5 + 1):\n"
            "for v6 = 0; (v6 <= v0); v6 = (v6 + 1):\n"
            "for v7 = 0; (v7 <= 1); v7 = (v7 + 1):\n"
            "for v9 = 0; (v9 <= 1); v9 = (v9 + 1):\n"
            "for v10 = 0; (v10 <= v1); v10 = (v10 + 1):\n")
      << listing;
  EXPECT_NE(listing.find("assign v3 = v1\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("assign v8 = v9\n"), std::string::npos) << listing;
}

TEST(CodeGenerationSemantics, RefusedPrograms) {
  expect_throw<parsing::RedeclarationException>([] { listing_of("int k = 1;\nint k = 2;"); },
                                                "The variable 'k' is declared again at line 2, column 0.");
  expect_throw<parsing::RedeclarationException>([] { listing_of("for int i in [0:1] { int i = 2; }"); },
                                                "The variable 'i' is declared again at line 1, column 21.");
  expect_throw<ValueError>([] { listing_of("qubit[2] q; bit[3] c; c = measure q;"); },
                           "The bit register 'c' of 3 bits and the qubit register 'q' of 2 qubits differ in size in "
                           "one measurement");
  expect_throw<ValueError>([] { listing_of("qubit[2] q; int c; c = measure q;"); },
                           "The variable 'c' is no register: the target of the measurement of the qubit register 'q' "
                           "of 2 qubits must be a bit register of that size");
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
