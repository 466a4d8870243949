#include "vell_qasm/passes/code_resolving/assign_lowering.hpp"

#include <array>
#include <optional>
#include <typeinfo>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

ClassicalAssignmentToBinaryExpression::ClassicalAssignmentToBinaryExpression() {}

namespace {

// The binary operator whose symbol is that of `operator_` less the final "=", if any.
std::optional<ast::BinaryOperator> binary_twin(ast::AssignmentOperator operator_, std::string_view& operation) {
  operation = ast::symbol(operator_);
  check(operation.ends_with(OPENQASM_ASSIGNMENT_OPERATOR_SYMBOL));
  operation.remove_suffix(OPENQASM_ASSIGNMENT_OPERATOR_SYMBOL.size());
  return ast::from_symbol<ast::BinaryOperator>(operation);
}

// binary_twin of every operator (the enumeration counts from 1), found once.
constexpr std::size_t kAssignmentOperators = static_cast<std::size_t>(ast::AssignmentOperator::power_assign) + 1;
const std::array<std::optional<ast::BinaryOperator>, kAssignmentOperators>& binary_twins() {
  static const auto twins = [] {
    std::array<std::optional<ast::BinaryOperator>, kAssignmentOperators> out{};
    std::string_view operation;
    for (std::size_t i = 1; i < out.size(); ++i) out[i] = binary_twin(static_cast<ast::AssignmentOperator>(i), operation);
    return out;
  }();
  return twins;
}

}  // namespace

ast::BinaryOperator ClassicalAssignmentToBinaryExpression::_extract_binary_operation(ast::AssignmentOperator operator_) {
  const auto i = static_cast<std::size_t>(operator_);
  if (i > 0 && i < kAssignmentOperators && binary_twins()[i]) return *binary_twins()[i];
  std::string_view operation;
  if (auto found = binary_twin(operator_, operation)) return *found;
  throw KeyError("'" + std::string(operation) + "'");
}

ast::Rewrite ClassicalAssignmentToBinaryExpression::visit_ClassicalAssignment(
    const ast::Ptr<ast::ClassicalAssignment>& node) {
  if (node->op == BASIC_ASSIGNMENT_OP) return node;
  return _lowered(*node);
}

ast::StmtPtr ClassicalAssignmentToBinaryExpression::_lowered(const ast::ClassicalAssignment& node) {
  if (node.lvalue && ast::is_exactly<ast::IndexedIdentifier>(*node.lvalue))
    throw NotImplementedError("Indexed identifier is not supported:", node.lvalue);
  auto operation = _extract_binary_operation(node.op);
  // Past the indexed case the target is an identifier (an HwQubit counts as one).
  auto target = ast::dyn_cast<ast::Expression>(node.lvalue);
  check(target != nullptr);
  auto new_rhs = ast::make<ast::BinaryExpression>(operation, std::move(target), node.rvalue);
  return ast::make<ast::ClassicalAssignment>(node.lvalue, BASIC_ASSIGNMENT_OP, std::move(new_rhs));
}

// The program's own assignments are lowered here, as the handler lowers them, without the walk's
// handles and results made for each (a plain one, most of them, is only looked at); every other
// statement the walk enters goes through it. A class derived from this one, which may handle more
// nodes, has the whole generic walk.
ast::Rewrite ClassicalAssignmentToBinaryExpression::visit_Program(const ast::Ptr<ast::Program>& node) {
  if (typeid(*this) != typeid(ClassicalAssignmentToBinaryExpression)) return generic_visit(node);
  auto& statements = node->statements;
  // Asks for the statements ahead as the generic list walk does: only the subtrees (and block
  // arrays) of statements this step enters.
  ast::detail::Lookahead lookahead;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    lookahead.ahead_of(statements, i, *this);
    ast::NodePtr& statement = statements[i];
    if (!statement) continue;
    const ast::NodeKind kind = statement->kind();
    if (kind == ast::NodeKind::ClassicalAssignment) {
      const auto& assignment = static_cast<const ast::ClassicalAssignment&>(*statement);
      if (assignment.op == BASIC_ASSIGNMENT_OP) continue;
      try {
        statement = _lowered(assignment);  // the old statement is freed now, while in the cache
      } catch (...) {
        failed_in(*statement);
        throw;
      }
      continue;
    }
    // Walked (or skipped) generically, as most statements are, it stays; nothing but an
    // assignment is replaced, so every other statement comes back as it is.
    if (statement->transform_generically(*this)) continue;
    const ast::Rewrite rewritten = visit(statement);
    check(rewritten.is_node() && rewritten.node() == statement, "Only assignments are rewritten");
  }
  return node;
}

ClassicalAssignLowering::ClassicalAssignLowering(std::optional<std::string> name)
    : Step(std::move(name), "ClassicalAssignLowering") {}

programs::ProgramPtr ClassicalAssignLowering::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  ClassicalAssignmentToBinaryExpression transformer;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(transformer, tree));
}

}  // namespace vell_qasm::passes::code_resolving
