#include "vell_qasm/passes/node_screening.hpp"

#include <utility>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {

namespace ast = openqasm3::ast;

InvalidFeatureException::InvalidFeatureException(ast::NodePtr node_)
    : InvalidFeatureException(node_, "The node " + ast::repr(node_) + " contains an invalid feature.") {}

InvalidFeatureException::InvalidFeatureException(ast::NodePtr node_, std::string message)
    : node(std::move(node_)), _message(std::move(message)) {}

namespace {
std::string class_text(const ast::NodePtr& node) {
  return node ? node->node_class().text() : std::string("<class 'NoneType'>");
}
}  // namespace

DisallowedNodeTypeException::DisallowedNodeTypeException(ast::NodePtr node_)
    : InvalidFeatureException(node_, "Nodes of type " + class_text(node_) +
                                         " are not allowed, either because they are not supported or because "
                                         "they were removed during the compilation process.") {}

AllowedNodeScreening::AllowedNodeScreening(Criterion criterion_)
    : AllowedNodeScreening(std::move(criterion_), "AllowedNodeScreening") {}

AllowedNodeScreening::AllowedNodeScreening(Criterion criterion_, std::string_view class_name)
    : Validation(std::nullopt, class_name),
      criterion(std::move(criterion_)) {}

void AllowedNodeScreening::visit_IndexedIdentifier(ast::IndexedIdentifier& node) {
  generic_visit(node);
  for (auto& index : node.indices)
    if (auto* list = std::get_if<ast::IndexList>(&index))
      for (auto& item : *list) visit(item);
}

programs::ProgramPtr AllowedNodeScreening::operator()(const programs::ProgramPtr& program) {
  // A program without a tree has nothing that could be screened as accepted.
  visit(programs::open_qasm_tree(program));
  return program;
}

void AllowedNodeScreening::generic_visit(ast::QASMNode& node) {
  if (!criterion(node)) _raise_exception(handle());
  QASMVisitor::generic_visit(node);
}

void AllowedNodeScreening::_raise_exception(const ast::NodePtr& node) { throw InvalidFeatureException(node); }

AllowedNodeTypesValidator::AllowedNodeTypesValidator(std::shared_ptr<NodeClassSet> allowed_node_types)
    : AllowedNodeScreening(
          [&allowed_node_types]() -> Criterion {
            if (!allowed_node_types)
              throw TypeError("Argument 'allowed_node_types' has incorrect type (expected set, got NoneType)");
            return [types = std::move(allowed_node_types)](const ast::QASMNode& node) {
              return types->contains(node.node_class());
            };
          }(),
          "AllowedNodeTypesValidator") {}

void AllowedNodeTypesValidator::_raise_exception(const ast::NodePtr& node) {
  throw DisallowedNodeTypeException(node);
}

}  // namespace vell_qasm::passes
