#include "vell_qasm/passes/code_generation/decl_splitting.hpp"

#include <memory>

#include "vell_qasm/passes/init_splitting.hpp"
#include "vell_qasm/passes/statement_prefetch.hpp"

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;

namespace {

// The front end's splitting, entering switch cases, with the program's statement list walked here:
// a top-level declaration is split without the walk's handles, and the memory of the statements
// ahead is asked for in stages (after the earlier steps they lie anywhere, not below one another).
class CodeGenerationDeclarationSplitting : public DeclarationInitSplitting<CodeGenerationDeclarationSplitting> {
 public:
  CodeGenerationDeclarationSplitting() : DeclarationInitSplitting(ast::SwitchCases::enter) {}

  ast::Rewrite visit_Program(const ast::Ptr<ast::Program>& node) override {
    StatementsAhead ahead;
    ahead.block_children = true;
    ahead.declaration_children = true;
    rewrite_statements(node->statements, nullptr, ahead);
    return node;
  }
};

}  // namespace

DeclSplitting::DeclSplitting(std::optional<std::string> name) : Step(std::move(name), "DeclSplitting") {}

programs::ProgramPtr DeclSplitting::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  CodeGenerationDeclarationSplitting splitter;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(splitter, tree));
}

}  // namespace vell_qasm::passes::code_generation
