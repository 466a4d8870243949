#include "vell_qasm/passes/code_resolving/assign_lowering.hpp"

#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

ClassicalAssignmentToBinaryExpression::ClassicalAssignmentToBinaryExpression() {}

ast::BinaryOperator ClassicalAssignmentToBinaryExpression::_extract_binary_operation(ast::AssignmentOperator operator_) {
  std::string_view operation = ast::symbol(operator_);
  check(operation.ends_with(OPENQASM_ASSIGNMENT_OPERATOR_SYMBOL));
  operation.remove_suffix(OPENQASM_ASSIGNMENT_OPERATOR_SYMBOL.size());
  if (auto found = ast::from_symbol<ast::BinaryOperator>(operation)) return *found;
  throw KeyError("'" + std::string(operation) + "'");
}

ast::Rewrite ClassicalAssignmentToBinaryExpression::visit_ClassicalAssignment(
    const ast::Ptr<ast::ClassicalAssignment>& node) {
  if (node->op == BASIC_ASSIGNMENT_OP) return node;
  if (node->lvalue && ast::is_exactly<ast::IndexedIdentifier>(*node->lvalue))
    throw NotImplementedError("Indexed identifier is not supported:", node->lvalue);
  auto operation = _extract_binary_operation(node->op);
  // Past the indexed case the target is an identifier (an HwQubit counts as one).
  auto target = ast::dyn_cast<ast::Expression>(node->lvalue);
  check(target != nullptr);
  auto new_rhs = ast::make<ast::BinaryExpression>(operation, target, node->rvalue);
  return ast::make<ast::ClassicalAssignment>(node->lvalue, BASIC_ASSIGNMENT_OP, new_rhs);
}

ClassicalAssignLowering::ClassicalAssignLowering(std::optional<std::string> name)
    : Step(std::move(name), "ClassicalAssignLowering") {}

programs::ProgramPtr ClassicalAssignLowering::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  ClassicalAssignmentToBinaryExpression transformer;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(transformer, tree));
}

}  // namespace vell_qasm::passes::code_resolving
