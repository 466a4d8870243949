#include "vell_qasm/passes/code_generation/decl_splitting.hpp"

#include <memory>

#include "switch_cases_walk.hpp"
#include "vell_qasm/passes/init_splitting.hpp"

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;

namespace {

// The front end's splitting, walking switch cases too.
class _DeclSplitter : public ClassicalDeclarationInitSplitting {
 public:
  ast::Rewrite visit_SwitchStatement(const ast::Ptr<ast::SwitchStatement>& node) override {
    return detail::walk_switch_entering_cases(*this, node);
  }
};

}  // namespace

DeclSplitting::DeclSplitting(std::optional<std::string> name) : Step(std::move(name), "DeclSplitting") {}

programs::ProgramPtr DeclSplitting::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  _DeclSplitter splitter;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(splitter, tree));
}

}  // namespace vell_qasm::passes::code_generation
