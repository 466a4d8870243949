#include "vell_qasm/passes/node_screening.hpp"

#include <array>
#include <cstdint>
#include <typeindex>
#include <utility>
#include <vector>

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

namespace {

constexpr std::size_t kNodeKinds = 1
#define NODE(Class, Base) +1
#include "openqasm3/nodes.def"
    ;

}  // namespace

// The set is asked once per node kind in a run: the answers of the library's classes are kept in
// a table indexed by kind, those of outside classes (few, such as HwQubit) in a short list. A run
// starts with no answers, so that a set changed between runs is read afresh.
struct AllowedNodeTypesValidator::Answers {
  explicit Answers(std::shared_ptr<NodeClassSet> types_) : types(std::move(types_)) {}
  std::shared_ptr<NodeClassSet> types;
  std::array<std::int8_t, kNodeKinds> by_kind{};  // 0 unknown, 1 allowed, -1 refused
  std::vector<std::pair<std::type_index, bool>> outside;

  void forget() {
    by_kind.fill(0);
    outside.clear();
  }

  bool allows(const ast::QASMNode& node) {
    const auto kind = static_cast<std::size_t>(node.kind());
    if (kind != static_cast<std::size_t>(ast::NodeKind::External)) {
      std::int8_t& answer = by_kind[kind];
      if (answer == 0) answer = types->contains(node.node_class()) ? 1 : -1;
      return answer > 0;
    }
    const ast::NodeClass& node_class = node.node_class();
    for (const auto& [type, allowed] : outside)
      if (type == node_class.type) return allowed;
    const bool allowed = types->contains(node_class);
    outside.emplace_back(node_class.type, allowed);
    return allowed;
  }
};

AllowedNodeTypesValidator::AllowedNodeTypesValidator(std::shared_ptr<NodeClassSet> allowed_node_types)
    : AllowedNodeTypesValidator([&] {
        if (!allowed_node_types)
          throw TypeError("Argument 'allowed_node_types' has incorrect type (expected set, got NoneType)");
        return std::make_shared<Answers>(std::move(allowed_node_types));
      }(), "AllowedNodeTypesValidator") {}

AllowedNodeTypesValidator::AllowedNodeTypesValidator(std::shared_ptr<Answers> answers, std::string_view class_name)
    : AllowedNodeScreening([answers](const ast::QASMNode& node) { return answers->allows(node); }, class_name),
      _answers(std::move(answers)) {}

programs::ProgramPtr AllowedNodeTypesValidator::operator()(const programs::ProgramPtr& program) {
  _answers->forget();
  return AllowedNodeScreening::operator()(program);
}

void AllowedNodeTypesValidator::_raise_exception(const ast::NodePtr& node) {
  throw DisallowedNodeTypeException(node);
}

}  // namespace vell_qasm::passes
