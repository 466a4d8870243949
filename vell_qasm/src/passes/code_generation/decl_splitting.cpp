#include "vell_qasm/passes/code_generation/decl_splitting.hpp"

#include <memory>

#include "vell_qasm/passes/init_splitting.hpp"

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;

DeclSplitting::DeclSplitting(std::optional<std::string> name) : Step(std::move(name), "DeclSplitting") {}

programs::ProgramPtr DeclSplitting::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  ClassicalDeclarationInitSplitting splitter(ast::SwitchCases::enter);
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(splitter, tree));
}

}  // namespace vell_qasm::passes::code_generation
