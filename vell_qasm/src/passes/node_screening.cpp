#include "vell_qasm/passes/node_screening.hpp"

#include <array>
#include <cstdint>
#include <typeindex>
#include <typeinfo>
#include <type_traits>
#include <utility>
#include <vector>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/walker.hpp"

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
      QASMVisitor(ast::SwitchCases::enter),
      criterion(std::move(criterion_)) {
  enter_index_lists();
}

AllowedNodeScreening::AllowedNodeScreening(Criterion criterion_, std::string_view class_name,
                                           const ast::detail::DefaultHandlers& passed, const std::type_info& declared)
    : Validation(std::nullopt, class_name),
      QASMVisitor(ast::SwitchCases::enter, passed, declared),
      criterion(std::move(criterion_)) {
  enter_index_lists();
}

void AllowedNodeScreening::failed_in(ast::QASMNode& statement) { locate_failure(statement); }

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

// The library kinds whose handler in the validator is the visitor's own, which only calls
// generic_visit: a node of such a kind, once its kind is known to be allowed, may skip the
// handler (every one today: the walk enters inner index lists by itself).
constexpr std::array<bool, ast::kNodeKinds> kScreenedGenerically = [] {
  std::array<bool, ast::kNodeKinds> out{};
#define NODE(Class, Base)                                                           \
  out[static_cast<std::size_t>(ast::NodeKind::Class)] =                            \
      std::is_same_v<decltype(&AllowedNodeTypesValidator::visit_##Class),         \
                     void (ast::QASMVisitor::*)(ast::Class&)>;
#include "openqasm3/nodes.def"
  return out;
}();

}  // namespace

// The set is asked once per node kind in a run: the answers of the library's classes are kept in
// a table indexed by kind, those of outside classes (few, such as HwQubit) in a short list. A run
// starts with no answers, so that a set changed between runs is read afresh. While the validator's
// own criterion is in place, an allowed library kind is also marked in `passed`, the table the
// walk reads to go straight to a node's children.
struct AllowedNodeTypesValidator::Answers {
  explicit Answers(std::shared_ptr<NodeClassSet> types_) : types(std::move(types_)) {}
  std::shared_ptr<NodeClassSet> types;
  std::array<std::int8_t, ast::kNodeKinds> by_kind{};  // 0 unknown, 1 allowed, -1 refused
  std::vector<std::pair<std::type_index, bool>> outside;
  ast::detail::DefaultHandlers passed;
  bool pass_allowed = false;

  void forget(bool pass_allowed_kinds) {
    by_kind.fill(0);
    outside.clear();
    passed = {};
    pass_allowed = pass_allowed_kinds;
  }

  bool allows(const ast::QASMNode& node) {
    const auto kind = static_cast<std::size_t>(node.kind());
    if (kind != static_cast<std::size_t>(ast::NodeKind::External)) {
      std::int8_t& answer = by_kind[kind];
      if (answer == 0) {
        answer = types->contains(node.node_class()) ? 1 : -1;
        if (answer > 0 && pass_allowed) passed.generic[kind] = kScreenedGenerically[kind];
      }
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

// Recognised by its class, so that a criterion put in its place is asked about every node.
struct AllowedNodeTypesValidator::OwnCriterion {
  std::shared_ptr<Answers> answers;
  bool operator()(const ast::QASMNode& node) const { return answers->allows(node); }
};

AllowedNodeTypesValidator::AllowedNodeTypesValidator(std::shared_ptr<NodeClassSet> allowed_node_types)
    : AllowedNodeTypesValidator([&] {
        if (!allowed_node_types)
          throw TypeError("Argument 'allowed_node_types' has incorrect type (expected set, got NoneType)");
        return std::make_shared<Answers>(std::move(allowed_node_types));
      }(), "AllowedNodeTypesValidator") {}

AllowedNodeTypesValidator::AllowedNodeTypesValidator(std::shared_ptr<Answers> answers, std::string_view class_name)
    : AllowedNodeScreening(OwnCriterion{answers}, class_name, answers->passed, typeid(AllowedNodeTypesValidator)),
      _answers(std::move(answers)) {}

programs::ProgramPtr AllowedNodeTypesValidator::operator()(const programs::ProgramPtr& program) {
  const OwnCriterion* own = criterion.target<OwnCriterion>();
  _answers->forget(own != nullptr && own->answers == _answers);
  return AllowedNodeScreening::operator()(program);
}

void AllowedNodeTypesValidator::_raise_exception(const ast::NodePtr& node) {
  throw DisallowedNodeTypeException(node);
}

}  // namespace vell_qasm::passes
