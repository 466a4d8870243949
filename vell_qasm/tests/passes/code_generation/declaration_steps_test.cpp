// The declaration steps as an embedding application runs them: the front end (parsing, tidy,
// hardware-qubit resolution), then DeclSplitting and DeclarationResolvingStep, on source text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "openqasm3/printer.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/passes/code_generation/decl_splitting.hpp"
#include "vell_qasm/passes/code_generation/io_binding.hpp"
#include "vell_qasm/passes/parsing/ast_tidy.hpp"
#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"
#include "vell_qasm/passes/parsing/source_parsing.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

namespace ast = openqasm3::ast;
using configurations::BuildSettings;
using programs::OpenQasmProgram;
using programs::TextualProgram;

ast::Ptr<ast::Program> compile_declarations(const std::string& source) {
  std::vector<StepPtr> steps{std::make_shared<parsing::SourceParsing>(), std::make_shared<parsing::AstTidy>(),
                             std::make_shared<parsing::HwQubitResolver>(), std::make_shared<DeclSplitting>(),
                             std::make_shared<DeclarationResolvingStep>()};
  PassPipeline pipeline(steps, std::make_shared<const BuildSettings>());
  auto result = std::dynamic_pointer_cast<OpenQasmProgram>(pipeline(std::make_shared<TextualProgram>(source)));
  if (!result) throw std::runtime_error("the pipeline did not return an OpenQasmProgram");
  return result->ast();
}

// One line per TavoDeclaration, in tree order: where it stands, what it declares, and the
// statement that follows it in its block when that statement gives it its initial value.
class DeclarationLister : public ast::QASMVisitor, public TavoDeclarationVisit {
 public:
  std::vector<std::string> lines;

  void visit_Program(ast::Program& node) override { list("top", node.statements); }
  void visit_BranchingStatement(ast::BranchingStatement& node) override {
    list("if", node.if_block);
    list("else", node.else_block);
  }
  void visit_ForInLoop(ast::ForInLoop& node) override { list("for", node.block); }
  void visit_WhileLoop(ast::WhileLoop& node) override { list("while", node.block); }
  void visit_SwitchStatement(ast::SwitchStatement& node) override {
    for (auto& c : node.cases) list("case " + openqasm3::dumps(*c.values.front()), c.block->statements);
    if (node.default_) list("default", node.default_->statements);
  }
  void visit_TavoDeclaration(TavoDeclaration&) override {}

 private:
  template <class T> void list(const std::string& where, const std::vector<ast::Ptr<T>>& statements) {
    for (std::size_t k = 0; k < statements.size(); ++k) {
      if (auto d = ast::dyn_cast<TavoDeclaration>(statements[k])) {
        std::string line = where + ": " + d->text();
        if (k + 1 < statements.size() && initialises(*statements[k + 1], d->var->name())) {
          std::string next = openqasm3::dumps(*statements[k + 1]);
          next.pop_back();  // the newline
          line += " then " + next;
        }
        lines.push_back(line);
      }
      visit(statements[k]);
    }
  }
  static bool initialises(const ast::QASMNode& statement, const std::string& name) {
    const ast::NodePtr* target = nullptr;
    if (auto* a = ast::dyn_cast<ast::ClassicalAssignment>(&statement)) target = &a->lvalue;
    if (auto* m = ast::dyn_cast<ast::QuantumMeasurementStatement>(&statement)) target = &m->target;
    auto* identifier = target ? ast::dyn_cast<ast::Identifier>(target->get()) : nullptr;
    return identifier && identifier->name == name;
  }
};

TEST(DeclarationSteps, EveryDeclarationBecomesATavoDeclarationFollowedByItsInitialValue) {
  const std::string source =
      "OPENQASM 3.0;\n"
      "input float[64] theta;\n"
      "input int[32] shots;\n"
      "output bit[2] c;\n"
      "output array[int[32], 3] counts;\n"
      "int total = 0;\n"
      "array[float[64], 3] weights = {0.5, 0.25, theta};\n"
      "bool flag;\n"
      "const int k = 2;\n"
      "qubit[2] q;\n"
      "c[0] = measure $0;\n"
      "if (theta > 0.5) {\n"
      "  float[64] half = theta / 2;\n"
      "  bit[4] reg;\n"
      "} else {\n"
      "  bit[2] flags = \"10\";\n"
      "}\n"
      "for int i in [0:2] {\n"
      "  uint[8] step = i;\n"
      "  total = total + step;\n"
      "}\n"
      "while (total < 10) {\n"
      "  duration pause = 8ns;\n"
      "  total = total + 1;\n"
      "}\n"
      "switch (shots) {\n"
      "  case 0 { int zero = k; }\n"
      "  case 1, 2 { bit b = measure $1; array[float[32], 2] pair; }\n"
      "  default { stretch s; }\n"
      "}\n";
  auto root = compile_declarations(source);
  DeclarationLister lister;
  lister.visit(*root);
  EXPECT_EQ(lister.lines, (std::vector<std::string>{
                              "top: declare theta: fixed (input);",
                              "top: declare shots: int (input);",
                              "top: declare c: bool[2] (output);",
                              "top: declare counts: int[3] (output);",
                              "top: declare total: int; then total = 0;",
                              "top: declare weights: fixed[3]; then weights = {0.5, 0.25, theta};",
                              "top: declare flag: bool;",
                              "if: declare half: fixed; then half = theta / 2;",
                              "if: declare reg: bool[4];",
                              "else: declare flags: bool[2]; then flags = \"10\";",
                              "for: declare step: int; then step = i;",
                              "while: declare pause: fixed; then pause = 8.0ns;",
                              "case 0: declare zero: int; then zero = k;",
                              "case 1: declare b: bool; then b = measure $1;",
                              "case 1: declare pair: fixed[2];",
                              "default: declare s: fixed;",
                          }));

  // The wrappers are fresh and undeclared, one per declaration.
  auto first = ast::dyn_cast<TavoDeclaration>(root->statements.at(0));
  ASSERT_NE(first, nullptr);
  EXPECT_THROW((void)first->var->tavo_value_exp(), tavo_var::FetchingUndeclaredVariableException);

  // Nothing else changed: constants, qubits and the hardware qubit stay as the front end left them.
  EXPECT_EQ(root->statements.at(9)->class_name(), "ConstantDeclaration");
  EXPECT_EQ(root->statements.at(10)->class_name(), "QubitDeclaration");
  auto measure = ast::dyn_cast<ast::QuantumMeasurementStatement>(root->statements.at(11));
  ASSERT_NE(measure, nullptr);
  EXPECT_EQ(ast::dyn_cast<ast::QuantumMeasurement>(measure->measure)->qubit->class_name(), "HwQubit");
  EXPECT_EQ(root->version, "3.0");
}

TEST(DeclarationSteps, AProgramWithoutInputsOrOutputsSavesEveryVariable) {
  // The front end turns the classical declarations into outputs (not those in case blocks).
  auto root = compile_declarations(
      "int n = 1;\n"
      "switch (n) { case 1 { bit[2] r = \"01\"; } }\n");
  DeclarationLister lister;
  lister.visit(*root);
  EXPECT_EQ(lister.lines, (std::vector<std::string>{"top: declare n: int (output); then n = 1;",
                                                    "case 1: declare r: bool[2]; then r = \"01\";"}));
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
