// Source text to a finished TAVO program, through the steps as an embedding application composes
// them: the front end, declaration splitting and resolving, qubit allocation, code generation and
// output saving.
#include <gtest/gtest.h>

#include "code_generation_support.hpp"
#include "vell_qasm/passes/code_generation/decl_splitting.hpp"
#include "vell_qasm/passes/code_generation/emission.hpp"
#include "vell_qasm/passes/code_generation/io_binding.hpp"
#include "vell_qasm/passes/code_generation/output_saving.hpp"
#include "vell_qasm/passes/code_generation/qubit_binding.hpp"
#include "vell_qasm/passes/parsing/ast_tidy.hpp"
#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"
#include "vell_qasm/passes/parsing/include_expansion.hpp"
#include "vell_qasm/passes/parsing/source_parsing.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

using namespace vell_qasm::testing;
using configurations::BuildSettings;

std::shared_ptr<programs::Tavo1Program> compile(const std::string& source, Inputs inputs = {}) {
  const BuildSettings settings;
  const auto machine = test_machine();
  auto front_end = std::make_shared<PassPipeline>(
      std::vector<StepPtr>{std::make_shared<parsing::SourceParsing>(),
                           std::make_shared<parsing::IncludeExpansion>(settings.max_inclusion_depth()),
                           std::make_shared<parsing::AstTidy>(), std::make_shared<parsing::HwQubitResolver>()},
      std::make_shared<const BuildSettings>(settings), "front end");
  PassPipeline pipeline(
      {front_end, std::make_shared<DeclSplitting>(), std::make_shared<DeclarationResolvingStep>(),
       std::make_shared<QubitAllocator>(machine),
       std::make_shared<CodeGeneration>(machine, std::make_shared<const Inputs>(std::move(inputs))),
       std::make_shared<VariablesSaver>()},
      std::make_shared<const BuildSettings>(settings));
  auto result = std::dynamic_pointer_cast<programs::Tavo1Program>(
      pipeline(std::make_shared<programs::TextualProgram>(source)));
  EXPECT_NE(result, nullptr);
  EXPECT_FALSE(utils::is_inside_scope());
  return result;
}

TEST(CodeGenerationPipeline, SourceTextToAFinishedProgram) {
  const std::string source =
      "OPENQASM 3;\n"
      "input float[64] theta;\n"
      "output bit[2] c;\n"
      "output int count;\n"
      "qubit[2] q;\n"
      "int shots = 3;\n"
      "h q[0];\n"
      "rx(theta / 2) q[1];\n"
      "cx q[0], q[1];\n"
      "c[0] = measure q[0];\n"
      "bit last = measure q[1];\n"
      "c[1] = last;\n"
      "if (c[0]) { x q[1]; } else { delay[40ns] q[1]; }\n"
      "for int i in [1:shots] { count = count + i; }\n"
      "switch (count) { case 0, 1 { reset q[0]; } default { int inner = 2; count = inner; barrier q; } }\n";
  auto program = compile(source);
  EXPECT_EQ(program->outputs(), (std::vector<std::string>{"c", "count"}));
  EXPECT_EQ(program->inputs(), std::vector<std::string>{"theta"});
  expect_golden("pipeline.txt", source + "==== TAVO ====\n" + program->dsl_program().listing());
}

TEST(CodeGenerationPipeline, WithoutInputsOrOutputsEveryClassicalVariableIsSaved) {
  auto program = compile("qubit q; int n = 2; bit b = measure q; n = n + 1;");
  EXPECT_EQ(program->outputs(), (std::vector<std::string>{"n", "b"}));
  const std::string listing = program->dsl_program().listing();
  EXPECT_LT(listing.find("save_all s0 \"n\""), listing.find("save_all s1 \"b\""));
  // n was given a value, so it has no stream to save to: saving it failed, the pipeline stopped.
  EXPECT_THROW(compile("int n; n = 1;", Inputs{{"n", std::int64_t{5}}}), tavo_var::NoStreamVariableException);
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
