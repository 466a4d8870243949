#include "vell_qasm/passes/code_generation/decl_splitting.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../front_tree_builders.hpp"
#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

using namespace vell_qasm::testing;
using programs::OpenQasmProgram;

ast::Ptr<ast::Program> split(const ast::Ptr<ast::Program>& root) {
  DeclSplitting step;
  return run_step(step, root);
}

TEST(DeclSplitting, InitialValuesBecomeStatementsRightAfterTheDeclaration) {
  auto root = openqasm3::parse(
      "qubit q;\n"
      "int x = 3;\n"
      "bit c = measure q;\n"
      "float f;\n"
      "input int a;\n"
      "output int o;\n"
      "const int k = 2;\n");
  auto x = as<ast::ClassicalDeclaration>(root->statements[1]);
  auto three = x->init_expression;
  split(root);
  EXPECT_EQ(openqasm3::dumps(*root),
            "qubit q;\n"
            "int x;\n"
            "x = 3;\n"
            "bit c;\n"
            "c = measure q;\n"
            "float f;\n"
            "input int a;\n"
            "output int o;\n"
            "const int k = 2;\n");
  // Same identifier object in both statements; the value is moved, not copied.
  auto bare = as<ast::ClassicalDeclaration>(root->statements[1]);
  auto assignment = as<ast::ClassicalAssignment>(root->statements[2]);
  EXPECT_EQ(bare->identifier, assignment->lvalue);
  EXPECT_EQ(bare->type, x->type);
  EXPECT_EQ(assignment->rvalue, three);
  EXPECT_EQ(bare->init_expression, nullptr);
}

TEST(DeclSplitting, NestedBlocksAndSwitchCasesAreSplit) {
  auto root = openqasm3::parse(
      "int n = 1;\n"
      "if (n == 1) { int a = 2; } else { bool b = true; }\n"
      "for int i in [0:1] { float g = 0.5; }\n"
      "switch (n) {\n"
      "  case 0 { int s = 4; }\n"
      "  case 1, 2 { bit t = 1; int u; }\n"
      "  default { int d = 5; }\n"
      "}\n");
  split(root);
  EXPECT_EQ(openqasm3::dumps(*root),
            "int n;\n"
            "n = 1;\n"
            "if (n == 1) {\n"
            "  int a;\n"
            "  a = 2;\n"
            "} else {\n"
            "  bool b;\n"
            "  b = true;\n"
            "}\n"
            "for int i in [0:1] {\n"
            "  float g;\n"
            "  g = 0.5;\n"
            "}\n"
            "switch (n) {\n"
            "  case 0 {\n"
            "    int s;\n"
            "    s = 4;\n"
            "  }\n"
            "  case 1, 2 {\n"
            "    bit t;\n"
            "    t = 1;\n"
            "    int u;\n"
            "  }\n"
            "  default {\n"
            "    int d;\n"
            "    d = 5;\n"
            "  }\n"
            "}\n");
  // Running it again changes nothing.
  const std::string once = openqasm3::dumps(*root);
  split(root);
  EXPECT_EQ(openqasm3::dumps(*root), once);
}

TEST(DeclSplitting, Refusals) {
  // An initial value that is neither an expression nor a measurement (only a hand-made tree).
  auto odd = int_decl("x", ast::make<ast::RangeDefinition>(lit(0), lit(1), nullptr));
  try {
    split(program({odd}));
    ADD_FAILURE();
  } catch (const NotImplementedError& e) {
    EXPECT_STREQ(e.what(), "Unsupported init type - <class 'openqasm3.ast.RangeDefinition'>");
  }
  EXPECT_THROW(DeclSplitting()(std::make_shared<programs::TextualProgram>("int x = 1;")), AssertionError);
  EXPECT_EQ(DeclSplitting().name, "DeclSplitting");
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
