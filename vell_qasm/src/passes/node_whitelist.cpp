#include "vell_qasm/passes/node_whitelist.hpp"

#include "vell_qasm/configurations/hw_qubit.hpp"

namespace vell_qasm::passes {

namespace {

template <class... T> std::shared_ptr<std::unordered_set<openqasm3::ast::NodeClass>> classes() {
  return std::make_shared<std::unordered_set<openqasm3::ast::NodeClass>>(
      std::initializer_list<openqasm3::ast::NodeClass>{openqasm3::ast::node_class_of<T>()...});
}

}  // namespace

namespace ast = openqasm3::ast;

const std::shared_ptr<std::unordered_set<ast::NodeClass>> INITIALLY_NODE_WHITELIST = classes<
    ast::Program, ast::QuantumGateDefinition, ast::IODeclaration, ast::ConstantDeclaration, ast::QuantumGate,
    ast::QuantumPhase, ast::QuantumReset, ast::DelayInstruction, ast::QuantumBarrier, ast::ClassicalDeclaration,
    ast::ClassicalAssignment, ast::QuantumMeasurement, ast::QuantumMeasurementStatement, ast::BinaryExpression,
    ast::UnaryExpression, ast::BitstringLiteral, ast::BooleanLiteral, ast::IntegerLiteral, ast::FloatLiteral,
    ast::BitType, ast::IntType, ast::Identifier, ast::DurationLiteral, ast::BranchingStatement, ast::WhileLoop,
    ast::ForInLoop, ast::DiscreteSet, ast::RangeDefinition, ast::IndexExpression, ast::IndexedIdentifier,
    ast::QubitDeclaration, ast::FloatType, ast::UintType, ast::BoolType, ast::Cast, ast::SwitchStatement,
    ast::CompoundStatement, configurations::HwQubit, ast::ArrayType, ast::ArrayLiteral, ast::ArrayReferenceType,
    ast::Box>();

}  // namespace vell_qasm::passes
