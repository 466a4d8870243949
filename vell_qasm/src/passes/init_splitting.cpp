#include "vell_qasm/passes/init_splitting.hpp"

#include <vector>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {

namespace ast = openqasm3::ast;

ast::StmtPtr bare_declaration(const ast::Ptr<ast::ClassicalDeclaration>& node) {
  return ast::make<ast::ClassicalDeclaration>(node->type, node->identifier);
}

ast::Rewrite split_declaration_init(const ast::Ptr<ast::ClassicalDeclaration>& node, ast::StmtPtr declaration) {
  std::vector<ast::NodePtr> statements{std::move(declaration)};
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
