#include "vell_qasm/passes/code_generation/decl_splitting.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../front_tree_builders.hpp"
#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/init_splitting.hpp"

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

// Programs of many lengths (around the look-ahead's distances) and mixes of statements, with
// declarations at the top and in every kind of block.
std::vector<std::string> statement_mixes() {
  const std::vector<std::string> shapes = {
      "int a{} = {};\n",
      "x q[0];\n",
      "bit m{} = measure q[1];\n",
      "float f{};\n",
      "if (true) {{ int b{} = 1; h q[0]; }} else {{ bool e{} = false; }}\n",
      "while (false) {{ int w{} = 2; }}\n",
      "for int i{} in [0:2] {{ cx q[0], q[1]; float g{} = 0.5; }}\n",
      "switch (1) {{ case 1 {{ int s{} = 4; }} default {{ int d{} = 5; }} }}\n",
      "box {{ int k{} = 3; }}\n",
      "{{ int c{} = 6; {{ int cc{} = 7; }} }}\n",
      "const int z{} = 2;\n",
      "input int in{};\n",
  };
  std::vector<std::string> sources;
  std::uint32_t seed = 7;
  for (std::size_t length : {0, 1, 2, 3, 4, 6, 7, 12, 13, 24, 25, 33, 64}) {
    for (int variant = 0; variant < 3; ++variant) {
      std::string source = "qubit[2] q;\n";
      for (std::size_t k = 0; k < length; ++k) {
        seed = seed * 1103515245u + 12345u;
        std::string shape = shapes[(seed >> 16) % shapes.size()];
        const std::string number = std::to_string(k);
        std::string line;
        for (std::size_t at = 0; at < shape.size(); ++at) {
          if (shape.compare(at, 2, "{}") == 0) {
            line += number;
            ++at;
          } else if (shape.compare(at, 2, "{{") == 0 || shape.compare(at, 2, "}}") == 0) {
            line += shape[at];
            ++at;
          } else {
            line += shape[at];
          }
        }
        source += line;
      }
      sources.push_back(source);
    }
  }
  return sources;
}

// The splitting's generic walk of the whole tree, as the front end's splitter runs it.
std::string split_by_walk(const ast::Ptr<ast::Program>& root) {
  ClassicalDeclarationInitSplitting splitter(ast::SwitchCases::enter);
  return openqasm3::dumps(*programs::transform_root(splitter, root));
}

TEST(DeclSplitting, SplitsAsTheGenericWalkOnEveryMix) {
  for (const std::string& source : statement_mixes()) {
    SCOPED_TRACE(source);
    const std::string expected = split_by_walk(openqasm3::parse(source));
    auto root = openqasm3::parse(source);
    EXPECT_EQ(openqasm3::dumps(*split(root)), expected);
  }
}

TEST(DeclSplitting, FailsAsTheGenericWalkWhereverTheRefusedDeclarationStands) {
  // A refused declaration at the top or in a block, at every place of a list of 20: the same
  // message, the same location and the same partly rewritten tree as the generic walk's.
  auto build = [](std::size_t at, bool nested) {
    std::string source;
    for (std::size_t k = 0; k < 20; ++k) source += "int v" + std::to_string(k) + " = " + std::to_string(k) + ";\n";
    auto root = openqasm3::parse(source);
    auto odd = int_decl("odd", ast::make<ast::RangeDefinition>(lit(0), lit(1), nullptr));
    odd->span = ast::Span{30, 1, 30, 5};
    if (nested) {
      auto loop = ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(false), std::vector<ast::StmtPtr>{odd});
      root->statements.insert(root->statements.begin() + static_cast<std::ptrdiff_t>(at), loop);
    } else {
      root->statements.insert(root->statements.begin() + static_cast<std::ptrdiff_t>(at), odd);
    }
    return root;
  };
  auto outcome = [](auto&& run, const ast::Ptr<ast::Program>& root) {
    std::string message;
    std::optional<SourceLocation> location;
    try {
      run(root);
      ADD_FAILURE();
    } catch (const NotImplementedError& e) {
      message = e.what();
      location = failure_location(std::current_exception());
    }
    return std::make_tuple(message, location.has_value() ? location->line : -1, openqasm3::dumps(*root));
  };
  for (bool nested : {false, true}) {
    for (std::size_t at = 0; at <= 20; ++at) {
      SCOPED_TRACE(::testing::Message() << "at " << at << (nested ? " in a loop" : ""));
      const auto expected = outcome([](const auto& root) { split_by_walk(root); }, build(at, nested));
      const auto got = outcome([](const auto& root) { split(root); }, build(at, nested));
      EXPECT_EQ(got, expected);
      EXPECT_EQ(std::get<1>(got), 30);
    }
  }
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
