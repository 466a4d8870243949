#include "vell_qasm/passes/code_resolving/const_inlining.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <cstdint>
#include <exception>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <unordered_set>
#include <variant>
#include <vector>

#include "openqasm3/stack_guard.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/code_resolving/expr_folding.hpp"
#include "vell_qasm/passes/code_resolving/field_walk.hpp"
#include "vell_qasm/passes/code_resolving/scope_renaming.hpp"
#include "vell_qasm/passes/parsing/validators.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

namespace {

// Resolves one initialiser and keeps the identifiers it could not resolve: they must not turn
// out to be constants declared later.
class InitialiserResolver : public ConstantsResolver {
 public:
  using ConstantsResolver::ConstantsResolver;

  InitialiserResolver(const ConstantsTable& constants, const ConstantNameScreen& screen,
                      const std::unordered_map<std::string, unsigned>& levels)
      : ConstantsResolver(constants, screen), _levels(levels) {}

  ast::Rewrite visit_Identifier(const ast::Ptr<ast::Identifier>& node) override {
    if (const ast::ExprPtr* value = _find(node->name)) {
      named_constant = true;
      if (auto level = _levels.find(node->name); level != _levels.end()) chain_level = std::max(chain_level, level->second);
      return *value;
    }
    unresolved.push_back(node);
    return node;
  }

  // A flat chain a + b + c + ... leans left as deep as it is long: its left operands are entered
  // in a loop, in the order of the generic walk (innermost left operand, then the right operands
  // from the innermost link out), and only the right operands recurse.
  ast::Rewrite visit_BinaryExpression(const ast::Ptr<ast::BinaryExpression>& node) override {
    std::vector<ast::BinaryExpression*> chain{node.get()};
    while (chain.back()->lhs && ast::is_exactly<ast::BinaryExpression>(*chain.back()->lhs))
      chain.push_back(static_cast<ast::BinaryExpression*>(chain.back()->lhs.get()));
    resolve_operand(chain.back()->lhs);
    for (auto link = chain.rbegin(); link != chain.rend(); ++link) resolve_operand((*link)->rhs);
    return node;
  }

  std::vector<ast::Ptr<ast::Identifier>> unresolved;
  bool named_constant = false;
  unsigned chain_level = 0;  // the deepest chain level among the constants it named

 private:
  // Sets the operand to its visit's result.
  void resolve_operand(ast::ExprPtr& operand) {
    if (!operand) return;
    ast::Rewrite visited = visit(operand);
    check(visited.is_node(), "An operand was resolved into no node or a list");
    if (visited.node() == operand) return;
    auto value = ast::dyn_cast<ast::Expression>(visited.node());
    check(value != nullptr, "An operand was resolved into a node that is no expression");
    operand = std::move(value);
  }

  const std::unordered_map<std::string, unsigned>& _levels;
};

std::string position_text(const ast::QASMNode& node) {
  if (!node.span) return "";
  return " (line " + std::to_string(node.span->start_line) + ", column " + std::to_string(node.span->start_column) +
         ")";
}

}  // namespace

ConstantNameScreen::ConstantNameScreen(const ConstantsTable& constants) {
  for (const auto& entry : constants) add(entry.first);
}

ConstantsGatherer::ConstantsGatherer()
    : _constants(CONSTANTS.begin(), CONSTANTS.end()), _screen(_constants) {}

ast::Rewrite ConstantsGatherer::visit_ConstantDeclaration(const ast::Ptr<ast::ConstantDeclaration>& node) {
  check(node->identifier != nullptr && node->init_expression != nullptr);
  const std::string& name = node->identifier->name;
  if (_constants.contains(name)) throw parsing::RedeclarationException(node, name);

  InitialiserResolver resolver(_constants, _screen, _chain_levels);
  ast::Rewrite resolved = resolver.visit(node->init_expression);
  auto value = resolved.is_node() ? ast::dyn_cast<ast::Expression>(resolved.node()) : nullptr;
  check(value != nullptr);
  for (auto& identifier : resolver.unresolved) _early_uses.try_emplace(identifier->name, EarlyUse{identifier, name});

  // Only now is the name a constant: a use of it met earlier, in its own initialiser or another's,
  // was left standing and would outlive its declaration.
  if (auto early = _early_uses.find(name); early != _early_uses.end())
    throw ValueError("The constant '" + name + "' is used in the initialiser of the constant '" +
                     early->second.initialised + "'" + position_text(*early->second.identifier) +
                     " before its declaration" + position_text(*node) + ".");
  unsigned level = resolver.named_constant ? resolver.chain_level + 1 : 0;
  if (level >= kFoldedChain) {
    // A copy is folded, since the value shares the values of the constants it names, which stay
    // as written. Only a literal replaces it; folding that fails (where the folding step would
    // report it) leaves it as it is.
    try {
      ConstantExpressionsTransformer folder;
      ast::Rewrite folded = folder.visit(ast::deep_copy(value));
      if (folded.is_node() && utils::qasm_literal_value(folded.node())) {
        value = std::static_pointer_cast<ast::Expression>(folded.node());
        level = 0;
      }
    } catch (const std::exception&) {
    }
  }
  _chain_levels.emplace(name, level);
  _constants.emplace(name, std::move(value));
  _screen.add(name);
  return nullptr;
}

ConstantsResolver::ConstantsResolver(const ConstantsTable& constants)
    : _constants(constants), _own_screen(constants) {}

ConstantsResolver::ConstantsResolver(const ConstantsTable& constants, const ConstantNameScreen& screen)
    : _constants(constants), _given_screen(&screen) {}

const ast::ExprPtr* ConstantsResolver::_lookup(const std::string& name) const {
  auto found = _constants.find(name);
  return found == _constants.end() ? nullptr : &found->second;
}

ast::Rewrite ConstantsResolver::visit_Identifier(const ast::Ptr<ast::Identifier>& node) {
  if (const ast::ExprPtr* value = _find(node->name)) return *value;
  return node;
}

void ConstantsResolver::_refuse_constant_target(const ast::NodePtr& target, std::string_view owner,
                                                const char* field) const {
  if (!target || !ast::is_exactly<ast::Identifier>(*target)) return;
  const std::string& name = static_cast<const ast::Identifier&>(*target).name;
  const ast::ExprPtr* value = _find(name);
  if (!value) return;
  throw TypeError("cannot place " + std::string((*value)->class_name()) + " in field '" + field + "' of " +
                  std::string(owner) + " (expected Identifier or IndexedIdentifier): '" + name + "' is a constant");
}

ast::Rewrite ConstantsResolver::visit_ClassicalAssignment(const ast::Ptr<ast::ClassicalAssignment>& node) {
  _refuse_constant_target(node->lvalue, ast::ClassicalAssignment::kName, "lvalue");
  return generic_visit(node);
}

ast::Rewrite ConstantsResolver::visit_QuantumMeasurementStatement(
    const ast::Ptr<ast::QuantumMeasurementStatement>& node) {
  _refuse_constant_target(node->target, ast::QuantumMeasurementStatement::kName, "target");
  return generic_visit(node);
}

ast::Rewrite ConstantsResolver::visit_IndexedIdentifier(const ast::Ptr<ast::IndexedIdentifier>& node) {
  generic_visit(node);
  rewrite_index_lists(*this, node->indices);
  return node;
}

ast::Rewrite ConstantsResolver::visit_IndexExpression(const ast::Ptr<ast::IndexExpression>& node) {
  generic_visit(node);
  rewrite_index_lists(*this, node->index);
  return node;
}

// ---- resolve(): the policy of its field walk

namespace {

// A screen of names finer than utils::NameScreen, for the many names of a program: each name
// sets two bits, picked by its length and its first, second and last byte (most names differ in
// these), so that a constant's name seldom passes it by chance.
class NameSketch {
 public:
  void add(std::string_view name) {
    const auto [a, b] = keys(name);
    bits_[a / 64] |= std::uint64_t{1} << (a % 64);
    bits_[b / 64] |= std::uint64_t{1} << (b % 64);
  }
  bool may_hold(std::string_view name) const {
    const auto [a, b] = keys(name);
    return (bits_[a / 64] >> (a % 64) & 1) != 0 && (bits_[b / 64] >> (b % 64) & 1) != 0;
  }

 private:
  static constexpr std::size_t kBits = std::size_t{1} << 16;
  static std::pair<std::size_t, std::size_t> keys(std::string_view name) {
    if (name.empty()) return {0, 1};
    const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(name[i])); };
    const std::uint64_t mixed = (static_cast<std::uint64_t>(name.size()) * 0x9E3779B97F4A7C15u) ^
                                (byte(0) * 0xC2B2AE3D27D4EB4Fu) ^ (byte(name.size() > 1 ? 1 : 0) * 0x165667B19E3779F9u) ^
                                (byte(name.size() - 1) * 0x85EBCA77C2B2AE63u);
    const std::uint64_t spread = (mixed ^ (mixed >> 29)) * 0xBF58476D1CE4E5B9u;
    return {static_cast<std::size_t>(spread >> 48), static_cast<std::size_t>((spread >> 16) & (kBits - 1))};
  }
  std::array<std::uint64_t, kBits / 64> bits_{};
};

}  // namespace

class ConstantsResolver::Walk {
 public:
  // With `unresolved` (ConstInlining's walk, whose resolver has the gatherer's handler too), the
  // constant declarations go to their handler and the names of the identifiers that name no
  // constant (yet) to `unresolved`.
  explicit Walk(ConstantsResolver& resolver, NameSketch* unresolved = nullptr)
      : r_(resolver), walk_(resolver, *this), unresolved_(unresolved) {}

  void program(ast::Program& root) { walk_.program(root); }

  // Only an identifier bearing a constant's name changes (and a constant declaration, gathered).
  Take take(const ast::QASMNode& node, ast::NodeKind kind) {
    found_for_ = nullptr;
    if (kind == ast::NodeKind::Identifier) {
      const std::string& name = static_cast<const ast::Identifier&>(node).name;
      if (const ast::ExprPtr* found = r_._find(name)) {
        found_ = found;
        found_for_ = &node;
        return Take::generic;
      }
      if (unresolved_) unresolved_->add(name);
      return Take::walk;
    }
    if (unresolved_ && kind == ast::NodeKind::ConstantDeclaration) return Take::generic;
    // A constant's value placed by an earlier walk: the resolver never walks one.
    if (values_ && values_->contains(&node)) return Take::leave;
    return Take::walk;
  }
  // The stored node of the identifier that take() just gave to the generic walk: the resolver's
  // handler returns it, and an expression field holds it as it is.
  const ast::ExprPtr* replacement(const ast::QASMNode& node) {
    if (&node != found_for_) return nullptr;
    found_for_ = nullptr;
    return found_;
  }
  // The nodes to leave alone, values of constants that an earlier walk placed.
  void leave(const std::unordered_set<const ast::QASMNode*>& values) { values_ = &values; }

  // The resolver's handlers: a constant as target is refused before the fields are walked, the
  // index lists are walked after them.
  template <class D> void before(D& node) {
    if constexpr (std::is_same_v<D, ast::ClassicalAssignment>) r_._refuse_constant_target(node.lvalue, D::kName, "lvalue");
    if constexpr (std::is_same_v<D, ast::QuantumMeasurementStatement>)
      r_._refuse_constant_target(node.target, D::kName, "target");
  }
  template <class D> void after(D& node) {
    if constexpr (std::is_same_v<D, ast::IndexedIdentifier>) {
      for (auto& index : node.indices) index_list(index);
    }
    if constexpr (std::is_same_v<D, ast::IndexExpression>) index_list(node.index);
  }

 private:
  // As rewrite_index_lists, with no handler call for what holds no constant's name.
  void index_list(ast::IndexElement& index) {
    auto* list = std::get_if<ast::IndexList>(&index);
    if (list == nullptr) return;
    for (ast::NodePtr& element : *list) {
      if (!element || walk_.enter(*element)) continue;
      ast::Rewrite rewritten = element->accept(r_, ast::detail::handle_ref(element));
      if (rewritten.is_node() && rewritten.node() != element) element = rewritten.node();
    }
  }

  ConstantsResolver& r_;
  FieldWalk<Walk> walk_;
  NameSketch* unresolved_;
  const std::unordered_set<const ast::QASMNode*>* values_ = nullptr;
  // The stored node of the identifier `found_for_`, the last node that take() gave to the generic
  // walk (null: the last one was no such identifier).
  const ast::ExprPtr* found_ = nullptr;
  const ast::QASMNode* found_for_ = nullptr;
};

namespace {

// ConstInlining's walk: the gatherer's and the resolver's in one. Each identifier is resolved
// against the constants declared before it in walk order; a constant used before its declaration
// is caught afterwards (run_again_if_needed), by a screen of the names that resolved to no
// constant.
class Inliner final : public ConstantsResolver {
 public:
  explicit Inliner(ConstantsGatherer& gatherer)
      : ConstantsResolver(gatherer.constants(), gatherer.screen()), gatherer_(gatherer) {}

  void run(const ast::Ptr<ast::Program>& program) { Walk(*this, &unresolved_).program(*program); }

  // The gatherer's handler.
  ast::Rewrite visit_ConstantDeclaration(const ast::Ptr<ast::ConstantDeclaration>& node) override {
    try {
      return gatherer_.visit_ConstantDeclaration(node);
    } catch (...) {
      gathering_failed = true;
      throw;
    }
  }
  // The resolver's, for the nodes the generic walk takes (switches): noting unresolved names.
  ast::Rewrite visit_Identifier(const ast::Ptr<ast::Identifier>& node) override {
    // The resolver's handler, with one lookup.
    if (const ast::ExprPtr* value = _find(node->name)) return *value;
    unresolved_.add(node->name);
    return node;
  }

  // When a constant may have been met, unresolved, before its declaration, the resolver walks the
  // whole tree again, leaving alone the values placed by this walk (as it leaves those it places).
  void run_again_if_needed(const ast::Ptr<ast::Program>& program) const {
    bool again = false;
    for (const auto& [name, value] : _constants) again = again || unresolved_.may_hold(name);
    if (!again) return;
    std::unordered_set<const ast::QASMNode*> values;
    for (const auto& [name, value] : _constants) values.insert(value.get());
    ConstantsResolver resolver(_constants, gatherer_.screen());
    Walk walk(resolver);
    walk.leave(values);
    walk.program(*program);
  }

  bool gathering_failed = false;

 private:
  ConstantsGatherer& gatherer_;
  NameSketch unresolved_;
};

}  // namespace

void ConstantsResolver::resolve(const ast::Ptr<ast::Program>& program) {
  // The handlers of a derived class: only the generic walk calls them.
  if (typeid(*this) != typeid(ConstantsResolver)) {
    programs::transform_root(*this, program);
    return;
  }
  Walk(*this).program(*program);
}

ConstInlining::ConstInlining(std::optional<std::string> name) : Step(std::move(name), "ConstInlining") {}

programs::ProgramPtr ConstInlining::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  ConstantsGatherer gatherer;
  Inliner inliner(gatherer);
  try {
    inliner.run(tree);
  } catch (...) {
    if (inliner.gathering_failed) throw;
    // A failure of the resolution. Gathering the whole tree first, then resolving it, would have
    // met a failure of the gathering first, or else the resolver's first failure in walk order,
    // which a constant declared after its use may place earlier.
    std::exception_ptr failure = std::current_exception();
    gatherer.visit(tree);
    inliner.run_again_if_needed(tree);
    std::rethrow_exception(failure);
  }
  inliner.run_again_if_needed(tree);
  return std::make_shared<programs::OpenQasmProgram>(tree);
}

}  // namespace vell_qasm::passes::code_resolving
