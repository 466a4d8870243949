#include "vell_qasm/passes/init_splitting.hpp"

#include <vector>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {

namespace ast = openqasm3::ast;

ast::StmtPtr ClassicalDeclarationInitSplitting::_get_new_declaration_node(
    const ast::Ptr<ast::ClassicalDeclaration>& node) const {
  return ast::make<ast::ClassicalDeclaration>(node->type, node->identifier);
}

ast::Rewrite ClassicalDeclarationInitSplitting::visit_ClassicalDeclaration(
    const ast::Ptr<ast::ClassicalDeclaration>& node) {
  std::vector<ast::NodePtr> statements{_get_new_declaration_node(node)};
  const ast::NodePtr& init = node->init_expression;
  if (!init) return statements;

  if (auto expression = ast::dyn_cast<ast::Expression>(init)) {
    statements.push_back(
        ast::make<ast::ClassicalAssignment>(node->identifier, ast::AssignmentOperator::assign, std::move(expression)));
  } else if (ast::isa<ast::QuantumMeasurement>(init)) {
    statements.push_back(ast::make<ast::QuantumMeasurementStatement>(init, node->identifier));
  } else {
    throw NotImplementedError("Unsupported init type - " + init->node_class().text());
  }
  return statements;
}

}  // namespace vell_qasm::passes
