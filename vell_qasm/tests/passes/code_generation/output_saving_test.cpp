#include "vell_qasm/passes/code_generation/output_saving.hpp"

#include <gtest/gtest.h>

#include "code_generation_support.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

using namespace vell_qasm::testing;
using programs::Tavo1Program;
using tavo_var::TavoArr;
using tavo_var::TavoVar;

// A program with its own scope: outputs b (streamed), x (streamed, declared second) and, when
// asked, the unstreamed output u between them.
std::shared_ptr<Tavo1Program> program_with_outputs(bool with_unstreamed) {
  auto program = std::make_shared<Tavo1Program>(tavo::program());
  program->declare_variable(std::make_shared<TavoArr>("b", tavo::DType::Bool, 2), false, true, true);
  if (with_unstreamed) program->declare_variable(std::make_shared<TavoVar>("u", tavo::DType::Int), false, true, false);
  program->declare_variable(std::make_shared<TavoVar>("x", tavo::DType::Int), false, true, true);
  return program;
}

std::string listing(const Tavo1Program& program) { return program.dsl_program().listing(); }

TEST(VariablesSaver, SavesEveryOutputInDeclarationOrderInsideTheProgramsScope) {
  auto program = program_with_outputs(false);
  const std::string declarations = listing(*program);
  const std::size_t entries = program->_program->entry_count();
  EXPECT_EQ(VariablesSaver()(program), program);
  EXPECT_EQ(program->_program->entry_count(), entries + 1);
  EXPECT_FALSE(utils::is_inside_scope());
  EXPECT_EQ(listing(*program).substr(declarations.size()),
            "declare v2: int\n"
            "for v2 = 0; (v2 < 2); v2 = (v2 + 1):\n"
            "  save v0[v2] -> s0\n"
            "stream_processing:\n"
            "  save_all s0 \"b\"\n"
            "save v1 -> s1\n"
            "stream_processing:\n"
            "  save_all s1 \"x\"\n");

  auto empty = std::make_shared<Tavo1Program>(tavo::program());
  EXPECT_EQ(VariablesSaver()(empty), empty);
  EXPECT_EQ(empty->_program->entry_count(), 1u);
  EXPECT_EQ(listing(*empty), "");
}

TEST(VariablesSaver, InsideAnOpenScopeSavesNothingAndNeedsNoScopeOfItsOwn) {
  auto caller = tavo::program();
  auto entered = caller.enter();
  auto scopeless = std::make_shared<Tavo1Program>();
  scopeless->declare_variable(std::make_shared<TavoVar>("x", tavo::DType::Int), false, true, false);
  const std::string before = caller.program().listing();
  EXPECT_EQ(VariablesSaver()(scopeless), scopeless);
  // Not even a program of another form is looked at.
  auto text = std::make_shared<programs::TextualProgram>("");
  EXPECT_EQ(VariablesSaver()(text), text);
  EXPECT_EQ(caller.program().listing(), before);
}

TEST(VariablesSaver, FailuresLeaveTheScopeAndKeepWhatWasSaved) {
  auto program = program_with_outputs(true);
  const std::string declarations = listing(*program);
  expect_throw<tavo_var::NoStreamVariableException>([&] { VariablesSaver()(program); },
                                                    "No stream variable was declared for u.");
  EXPECT_FALSE(utils::is_inside_scope());
  // b was saved before u failed; x after it was not.
  const std::string saved = listing(*program).substr(declarations.size());
  EXPECT_NE(saved.find("save_all s0 \"b\""), std::string::npos);
  EXPECT_EQ(saved.find("\"x\""), std::string::npos);

  expect_throw<AssertionError>([] { VariablesSaver()(std::make_shared<Tavo1Program>()); }, "");
  expect_throw<AssertionError>([] { VariablesSaver()(std::make_shared<programs::TextualProgram>("")); }, "");
}

TEST(VariablesSaver, NameDefaultsToTheClassName) {
  EXPECT_EQ(VariablesSaver().name, "VariablesSaver");
  EXPECT_EQ(VariablesSaver("save").name, "save");
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
