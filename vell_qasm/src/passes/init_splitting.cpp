#include "vell_qasm/passes/init_splitting.hpp"

#include <vector>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {

namespace ast = openqasm3::ast;

ast::StmtPtr bare_declaration(const ast::Ptr<ast::ClassicalDeclaration>& node) {
  return ast::make<ast::ClassicalDeclaration>(node->type, node->identifier);
}

void append_split_declaration(const ast::Ptr<ast::ClassicalDeclaration>& node, ast::StmtPtr declaration,
                              std::vector<ast::NodePtr>& out) {
  const ast::NodePtr& init = node->init_expression;
  ast::NodePtr value;
  if (!init) {
    // Nothing to give.
  } else if (auto expression = ast::dyn_cast<ast::Expression>(init)) {
    value = ast::make<ast::ClassicalAssignment>(node->identifier, ast::AssignmentOperator::assign, std::move(expression));
  } else if (ast::isa<ast::QuantumMeasurement>(init)) {
    value = ast::make<ast::QuantumMeasurementStatement>(init, node->identifier);
  } else {
    throw NotImplementedError("Unsupported init type - " + init->node_class().text());
  }
  out.push_back(std::move(declaration));
  if (value) out.push_back(std::move(value));
}

ast::Rewrite split_declaration_init(const ast::Ptr<ast::ClassicalDeclaration>& node, ast::StmtPtr declaration) {
  std::vector<ast::NodePtr> statements;
  statements.reserve(2);
  append_split_declaration(node, std::move(declaration), statements);
  return statements;
}

}  // namespace vell_qasm::passes
