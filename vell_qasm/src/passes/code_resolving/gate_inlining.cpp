#include "vell_qasm/passes/code_resolving/gate_inlining.hpp"

#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "vell_qasm/logging.hpp"
#include "vell_qasm/passes/code_resolving/name_table.hpp"
#include "vell_qasm/passes/constants.hpp"
#include "openqasm3/prefetch.hpp"
#include "vell_qasm/passes/statement_prefetch.hpp"
#include "vell_qasm/passes/statement_walk.hpp"
#include "vell_qasm/passes/walker.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

namespace {

spdlog::logger& logger() {
  static const auto instance = logging::get_logger("vell_qasm.passes.code_resolving.gate_inlining");
  return *instance;
}

const std::string& gate_name(const ast::QuantumGate& node) {
  check(node.name != nullptr);
  return node.name->name;
}

// The definition's shape with placeholders: cu(x0, x1) q0, q1 (h q0 without parameters).
std::string signature_text(const ast::QuantumGateDefinition& definition) {
  std::string text = definition.name->name;
  if (!definition.arguments.empty()) {
    text += '(';
    for (std::size_t i = 0; i < definition.arguments.size(); ++i) {
      if (i) text += ", ";
      text += 'x' + std::to_string(i);
    }
    text += ')';
  }
  text += ' ';
  for (std::size_t i = 0; i < definition.qubits.size(); ++i) {
    if (i) text += ", ";
    text += 'q' + std::to_string(i);
  }
  return text;
}

// ---- sizes. Expansion sizes grow exponentially with a chain's length, so they saturate.

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
  return a >= kSaturatedExpansion - b ? kSaturatedExpansion : a + b;
}
std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
  if (a == 0 || b == 0) return 0;
  return a > kSaturatedExpansion / b ? kSaturatedExpansion : a * b;
}

// The size of a subtree of a gate body once expanded, as a function of the sizes of the call's
// arguments: base + sum of coef[k] * size of formal k's node (parameters, then qubits).
struct Form {
  std::uint64_t base = 0;
  std::vector<std::uint64_t> coef;
};

// Two names compared in place, byte by byte from the end (gate and formal names are short, and
// share their first letters more than their last): no library call per comparison.
bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = a.size(); i-- > 0;)
    if (a[i] != b[i]) return false;
  return true;
}

// Formal name to its index among parameters then qubits. Every identifier of every expanded
// statement is looked up here, and a gate has few formals: up to kCompared of them are compared
// in place (a name's length first), more are hashed.
class Formals {
 public:
  // Sets the index of `name`, a new entry or a replaced one (a qubit's index wins a shared name).
  void assign(const std::string& name, std::size_t index) {
    for (auto& [formal, at] : list_) {
      if (formal != name) continue;
      at = index;
      if (!map_.empty()) map_[name] = index;
      return;
    }
    list_.emplace_back(name, index);
    if (list_.size() > kCompared) {
      if (map_.empty()) map_.insert(list_.begin(), list_.end());
      map_[name] = index;
    }
  }
  // The index of `name`, null when it is no formal.
  const std::size_t* find(std::string_view name) const {
    if (!map_.empty()) {
      auto found = map_.find(std::string(name));
      return found == map_.end() ? nullptr : &found->second;
    }
    for (const auto& [formal, at] : list_)
      if (same_name(formal, name)) return &at;
    return nullptr;
  }

 private:
  static constexpr std::size_t kCompared = 8;
  std::vector<std::pair<std::string, std::size_t>> list_;
  std::unordered_map<std::string, std::size_t> map_;  // every entry, past kCompared of them
};

// A banked gate: the definition as written and what its calls need to know of it.
struct BankedGate {
  ast::Ptr<ast::QuantumGateDefinition> node;
  Formals formals;
  Form cost;
  // Per parameter: whether its name (not taken by a qubit) stands anywhere in the body.
  std::vector<bool> parameter_read;
  // Per body statement: whether it holds a call of a user gate below its top (in a block).
  std::vector<bool> nested_calls;
  // Per body statement: the gate it calls when it is a call of a user gate, else null.
  std::vector<const BankedGate*> callees;
};

// The syntax nodes of a subtree (an argument at a top-level call, a tree without sharing).
class NodeCounter : public Visitor<NodeCounter> {
 public:
  void generic_visit(ast::QASMNode& node) override {
    count = add(count, 1);
    QASMVisitor::generic_visit(node);
  }
  std::uint64_t count = 0;
};


// NodeCounter's count of a subtree of the shapes a call's operands mostly have (names, literals,
// arithmetic, indexed names), found without a walk; nullopt for any other shape, deep ones
// included. The count is the generic walk's: an index list's items are not entered.
std::optional<std::uint64_t> plain_tree_size(const ast::QASMNode& node, int depth = 0) {
  if (depth > 32) return std::nullopt;
  const auto child = [&](const ast::NodePtr& p) -> std::optional<std::uint64_t> {
    if (!p) return 0;
    return plain_tree_size(*p, depth + 1);
  };
  switch (node.kind()) {
    case ast::NodeKind::Identifier:
    case ast::NodeKind::IntegerLiteral:
    case ast::NodeKind::FloatLiteral:
    case ast::NodeKind::ImaginaryLiteral:
    case ast::NodeKind::BooleanLiteral:
      return 1;
    case ast::NodeKind::UnaryExpression: {
      const auto operand = child(static_cast<const ast::UnaryExpression&>(node).expression);
      if (!operand) return std::nullopt;
      return add(*operand, 1);
    }
    case ast::NodeKind::BinaryExpression: {
      const auto& binary = static_cast<const ast::BinaryExpression&>(node);
      const auto lhs = child(binary.lhs);
      const auto rhs = lhs ? child(binary.rhs) : std::nullopt;
      if (!rhs) return std::nullopt;
      return add(add(*lhs, *rhs), 1);
    }
    case ast::NodeKind::IndexedIdentifier: {
      const auto& indexed = static_cast<const ast::IndexedIdentifier&>(node);
      for (const ast::IndexElement& index : indexed.indices)
        if (!std::holds_alternative<ast::IndexList>(index)) return std::nullopt;
      const auto name = child(indexed.name);
      if (!name) return std::nullopt;
      return add(*name, 1);
    }
    default:
      return std::nullopt;
  }
}

// Names of the math functions, whose results are real numbers.
bool is_real_function(const std::string& name) {
  static const std::unordered_set<std::string> names{"sin", "cos", "tan", "arcsin", "arccos", "arctan",
                                                     "exp", "log", "sqrt"};
  return names.contains(name);
}

bool is_real_type(const ast::NodePtr& type) {
  return type && (ast::is_exactly<ast::FloatType>(*type) || ast::is_exactly<ast::AngleType>(*type));
}

// The names declared so far in program order, each with whether every declaration of it so far
// holds a real number. A long program declares a name every few statements, and its calls of
// user gates ask about few names: the declarations are logged as they come (their names in one
// character buffer), and each name asked about is followed from then on, compared in place. The
// log goes into a table of every name, in one pass, only when a name not followed yet is asked
// about; past a few such names the table is kept up to date at every declaration instead.
class DeclaredNames {
 public:
  bool contains(std::string_view name) const { return state(name).declared; }
  // Whether `name` is declared, and every declaration of it so far holds a real number.
  bool real(std::string_view name) const { return state(name).real; }

  void declare(std::string_view name, bool real) {
    if (all_followed_) {
      insert(name, real);
      return;
    }
    for (Followed& followed : followed_) {
      if (followed.name != name) continue;
      followed.state.real = (!followed.state.declared || followed.state.real) && real;
      followed.state.declared = true;
      break;
    }
    log_.push_back(Logged{log_names_.size(), name.size(), real});
    log_names_.append(name);
  }

 private:
  struct State {
    bool declared = false;
    bool real = false;  // every declaration so far (none: false)
  };
  struct Followed {
    std::string name;
    State state;
  };
  struct Logged {
    std::size_t offset;  // in log_names_
    std::size_t length;
    bool real;
  };
  static constexpr std::size_t kFollowed = 4;

  State state(std::string_view name) const {
    if (!all_followed_) {
      for (const Followed& followed : followed_)
        if (followed.name == name) return followed.state;
    }
    for (const Logged& logged : log_) insert(std::string_view(log_names_).substr(logged.offset, logged.length), logged.real);
    log_.clear();
    log_names_.clear();
    const std::uint32_t id = names_.find(name);
    const State found = id == NameTable::kNone ? State{} : State{true, real_[id]};
    if (!all_followed_) {
      if (followed_.size() < kFollowed) {
        followed_.push_back(Followed{std::string(name), found});
      } else {
        all_followed_ = true;
        followed_.clear();
      }
    }
    return found;
  }

  void insert(std::string_view name, bool real) const {
    const auto [id, fresh] = names_.insert(name);
    if (fresh) {
      real_.push_back(real);
    } else {
      real_[id] = real_[id] && real;
    }
  }

  // Asking changes only what is kept, never an answer.
  mutable NameTable names_;
  mutable std::vector<bool> real_;  // per name number
  mutable std::vector<Followed> followed_;
  mutable std::vector<Logged> log_;  // declarations not in names_ yet
  mutable std::string log_names_;
  mutable bool all_followed_ = false;  // set: names_ kept up to date, nothing logged
};

// Whether `node` surely is a real number (a float), so that a gate parameter may take it as it
// is. Unsure (deep expressions included) means no: the caller casts.
bool is_real(const ast::QASMNode* node, const DeclaredNames& declared, int depth = 0) {
  if (!node || depth > 32) return false;
  switch (node->kind()) {
    case ast::NodeKind::FloatLiteral:
      return true;
    case ast::NodeKind::Cast:
      return is_real_type(static_cast<const ast::Cast&>(*node).type);
    case ast::NodeKind::Identifier: {
      // The declared names asked about are few and compared in place: asked first.
      const auto& name = static_cast<const ast::Identifier&>(*node).name;
      return declared.real(name) || CONSTANTS.contains(name);
    }
    case ast::NodeKind::UnaryExpression: {
      const auto& unary = static_cast<const ast::UnaryExpression&>(*node);
      return unary.op == ast::UnaryOperator::negate && is_real(unary.expression.get(), declared, depth + 1);
    }
    case ast::NodeKind::BinaryExpression: {
      const auto& binary = static_cast<const ast::BinaryExpression&>(*node);
      switch (binary.op) {
        case ast::BinaryOperator::plus:
        case ast::BinaryOperator::minus:
        case ast::BinaryOperator::times:
        case ast::BinaryOperator::divide:
        case ast::BinaryOperator::power:
          return is_real(binary.lhs.get(), declared, depth + 1) || is_real(binary.rhs.get(), declared, depth + 1);
        default:
          return false;
      }
    }
    case ast::NodeKind::FunctionCall: {
      const auto& call = static_cast<const ast::FunctionCall&>(*node);
      return call.name && is_real_function(call.name->name);
    }
    default:
      return false;
  }
}

// A gate parameter is an angle: the call's expression as a real number.
ast::ExprPtr as_real(ast::ExprPtr argument, const DeclaredNames& declared) {
  if (!argument || is_real(argument.get(), declared)) return argument;
  if (ast::is_exactly<ast::IntegerLiteral>(*argument)) {
    auto literal =
        ast::make<ast::FloatLiteral>(static_cast<double>(static_cast<const ast::IntegerLiteral&>(*argument).value));
    literal->span = argument->span;
    return literal;
  }
  const auto span = argument->span;
  auto cast = ast::make<ast::Cast>(ast::make<ast::FloatType>(), std::move(argument));
  cast->span = span;
  return cast;
}

// The identifiers of an expression that name no declaration. The expression may share nodes (an
// argument built by outer expansions), so each node is looked at once.
class UndeclaredNames : public Visitor<UndeclaredNames> {
 public:
  explicit UndeclaredNames(const DeclaredNames& declared) : declared_(declared) {}

  void generic_visit(ast::QASMNode& node) override {
    if (seen_.insert(&node).second) QASMVisitor::generic_visit(node);
  }
  void visit_Identifier(ast::Identifier& node) override {
    if (!first && !declared_.contains(node.name) && !CONSTANTS.contains(node.name))
      first = std::static_pointer_cast<ast::Identifier>(handle());
  }
  void visit_FunctionCall(ast::FunctionCall& node) override {
    if (!seen_.insert(&node).second) return;
    for (const auto& argument : node.arguments) visit(argument);
  }

  ast::Ptr<ast::Identifier> first;

 private:
  const DeclaredNames& declared_;
  std::unordered_set<const ast::QASMNode*> seen_;
};

// Puts the call's own nodes in for the formal names of one expansion.
class IdentifierTransformer : public Transformer<IdentifierTransformer> {
 public:
  // `formals` (formal name to its index among parameters then qubits) null: nothing is put in,
  // the formals stay as they are. Else `operands[k]` is the call's node for formal k.
  IdentifierTransformer(const Formals* formals,
                        std::vector<ast::NodePtr> operands)
      : formals_(formals), operands_(std::move(operands)) {}

  // Makes this the transformer of another expansion, its operands to be added: expansions take
  // their transformers from a pool, so that a call costs no allocation for them.
  void reset(const Formals* formals) {
    formals_ = formals;
    operands_.clear();
  }
  void add_operand(ast::NodePtr operand) { operands_.push_back(std::move(operand)); }

  ast::Rewrite visit_Identifier(const ast::Ptr<ast::Identifier>& node) override {
    if (const ast::NodePtr* operand = operand_for(node->name)) return *operand;
    return node;
  }

  // A called gate's name is never a formal's: `gate g(x) a { x a; }` calls the gate x.
  ast::Rewrite visit_QuantumGate(const ast::Ptr<ast::QuantumGate>& node) override {
    ast::rewrite_field<ast::QuantumGate>(*this, "modifiers", node->modifiers);
    ast::rewrite_field<ast::QuantumGate>(*this, "arguments", node->arguments);
    ast::rewrite_field<ast::QuantumGate>(*this, "qubits", node->qubits);
    ast::rewrite_field<ast::QuantumGate>(*this, "duration", node->duration);
    return node;
  }

  // Nor a function's.
  ast::Rewrite visit_FunctionCall(const ast::Ptr<ast::FunctionCall>& node) override {
    ast::rewrite_field<ast::FunctionCall>(*this, "arguments", node->arguments);
    return node;
  }

  // An operand of a call in the body with the formals put in: a formal is the caller's node itself.
  ast::NodePtr substitute_operand(const ast::NodePtr& operand) {
    if (operand && ast::is_exactly<ast::Identifier>(*operand)) {
      if (const ast::NodePtr* found = operand_for(static_cast<const ast::Identifier&>(*operand).name)) return *found;
    }
    return substitute(operand);
  }

  // A fresh statement for one call: a copy of `statement` with the formals put in.
  ast::NodePtr substitute(const ast::NodePtr& statement) {
    if (!statement) return nullptr;
    if (formals_ == nullptr) return ast::deep_copy_unshared(statement);
    if (ast::NodePtr copy = copy_direct(*statement)) return copy;
    ast::Rewrite result = visit(ast::deep_copy_unshared(statement));
    return result.is_node() ? result.node() : nullptr;
  }

 private:
  const ast::NodePtr* operand_for(const std::string& name) const {
    if (formals_ == nullptr) return nullptr;
    const std::size_t* found = formals_->find(name);
    return found == nullptr ? nullptr : &operands_[*found];
  }

  // Gate bodies are mostly calls of gates on formal names with arithmetic on formals and
  // literals. Such a statement is copied here with the formals put in as it is copied, which
  // gives what copying and then walking it gives, without copying the formals' identifiers
  // only to drop them. Null for any other shape (and for a formal whose node cannot stand in
  // its place), which the copy and walk above handle, failures included.
  ast::NodePtr copy_direct(const ast::QASMNode& node) {
    if (node.kind() != ast::NodeKind::QuantumGate) return copy_expression(node, 0);
    const auto& gate = static_cast<const ast::QuantumGate&>(node);
    if (!gate.annotations.empty() || !gate.modifiers.empty() || !gate.name ||
        gate.name->kind() != ast::NodeKind::Identifier)
      return nullptr;
    // Built field by field (annotations and modifiers are empty): the body's own operands are
    // never held by the copy only to be replaced.
    auto copy = ast::make<ast::QuantumGate>();
    copy->span = gate.span;
    copy->name = ast::make<ast::Identifier>(*gate.name);
    copy->arguments.reserve(gate.arguments.size());
    for (const ast::ExprPtr& argument : gate.arguments) {
      if (!argument) return nullptr;
      copy->arguments.push_back(copy_expression(*argument, 0));
      if (!copy->arguments.back()) return nullptr;
    }
    copy->qubits.reserve(gate.qubits.size());
    for (const ast::NodePtr& qubit : gate.qubits) {
      if (!qubit || qubit->kind() != ast::NodeKind::Identifier) return nullptr;
      const auto& name = static_cast<const ast::Identifier&>(*qubit);
      const ast::NodePtr* operand = operand_for(name.name);
      if (operand && !*operand) return nullptr;
      copy->qubits.push_back(operand ? *operand : ast::make<ast::Identifier>(name));
    }
    if (gate.duration && !(copy->duration = copy_expression(*gate.duration, 0))) return nullptr;
    return copy;
  }

  // Null for a shape left to the walk; deep expressions are left to it too (it does not recurse).
  ast::ExprPtr copy_expression(const ast::QASMNode& node, int depth) {
    if (depth > 32) return nullptr;
    switch (node.kind()) {
      case ast::NodeKind::Identifier: {
        const auto& identifier = static_cast<const ast::Identifier&>(node);
        const ast::NodePtr* operand = operand_for(identifier.name);
        if (!operand) return ast::make<ast::Identifier>(identifier);
        return *operand ? ast::dyn_cast<ast::Expression>(*operand) : nullptr;
      }
      case ast::NodeKind::IntegerLiteral:
        return ast::make<ast::IntegerLiteral>(static_cast<const ast::IntegerLiteral&>(node));
      case ast::NodeKind::FloatLiteral:
        return ast::make<ast::FloatLiteral>(static_cast<const ast::FloatLiteral&>(node));
      case ast::NodeKind::UnaryExpression: {
        const auto& unary = static_cast<const ast::UnaryExpression&>(node);
        if (!unary.expression) return nullptr;
        auto operand = copy_expression(*unary.expression, depth + 1);
        if (!operand) return nullptr;
        auto copy = ast::make<ast::UnaryExpression>(unary);
        copy->expression = std::move(operand);
        return copy;
      }
      case ast::NodeKind::BinaryExpression: {
        const auto& binary = static_cast<const ast::BinaryExpression&>(node);
        if (!binary.lhs || !binary.rhs) return nullptr;
        auto lhs = copy_expression(*binary.lhs, depth + 1);
        auto rhs = lhs ? copy_expression(*binary.rhs, depth + 1) : nullptr;
        if (!rhs) return nullptr;
        auto copy = ast::make<ast::BinaryExpression>(binary);
        copy->lhs = std::move(lhs);
        copy->rhs = std::move(rhs);
        return copy;
      }
      default:
        return nullptr;
    }
  }

  const Formals* formals_;
  std::vector<ast::NodePtr> operands_;
};

class GateResolverTransformer;

// Checks a definition's body against the built-in set and the bank (nothing is expanded) and
// computes the size of its expansion as a Form over its formals.
class BodyScanner : public Visitor<BodyScanner> {
 public:
  BodyScanner(const GateResolverTransformer& resolver, BankedGate& gate) : resolver_(resolver), gate_(gate) {}

  void scan() {
    const auto& body = gate_.node->body;
    const std::size_t formals = gate_.node->arguments.size() + gate_.node->qubits.size();
    gate_.cost.coef.assign(formals, 0);
    gate_.parameter_read.assign(gate_.node->arguments.size(), false);
    gate_.nested_calls.assign(body.size(), false);
    gate_.callees.assign(body.size(), nullptr);
    for (std::size_t i = 0; i < body.size(); ++i) {
      forms_.assign(1, Form{0, std::vector<std::uint64_t>(formals, 0)});
      user_calls_ = 0;
      visit(body[i]);
      const bool top_is_call = body[i] && ast::is_exactly<ast::QuantumGate>(*body[i]) && !built_in(*body[i]);
      gate_.nested_calls[i] = user_calls_ > (top_is_call ? 1 : 0);
      if (top_is_call) gate_.callees[i] = &callee_of(*body[i]);
      gate_.cost.base = add(gate_.cost.base, forms_[0].base);
      for (std::size_t k = 0; k < formals; ++k) gate_.cost.coef[k] = add(gate_.cost.coef[k], forms_[0].coef[k]);
    }
  }

  void generic_visit(ast::QASMNode& node) override {
    forms_.back().base = add(forms_.back().base, 1);
    QASMVisitor::generic_visit(node);
  }

  void visit_Identifier(ast::Identifier& node) override {
    const std::size_t* found = gate_.formals.find(node.name);
    if (found == nullptr) {
      forms_.back().base = add(forms_.back().base, 1);
      return;
    }
    forms_.back().coef[*found] = add(forms_.back().coef[*found], 1);
    if (*found < gate_.parameter_read.size()) gate_.parameter_read[*found] = true;
  }

  void visit_FunctionCall(ast::FunctionCall& node) override {
    forms_.back().base = add(forms_.back().base, 2);
    for (const auto& argument : node.arguments) visit(argument);
  }

  void visit_QuantumGate(ast::QuantumGate& node) override;

 private:
  bool built_in(const ast::QASMNode& node) const;
  const BankedGate& callee_of(const ast::QASMNode& call) const;

  const GateResolverTransformer& resolver_;
  BankedGate& gate_;
  std::vector<Form> forms_;
  int user_calls_ = 0;
};

class GateResolverTransformer : public Transformer<GateResolverTransformer> {
 public:
  GateResolverTransformer(std::shared_ptr<const GateSignatures> built_in_gates, std::int64_t max_expansion)
      : _built_in_gates(std::move(built_in_gates)),
        _max_expansion(max_expansion) {
    if (!_built_in_gates)
      throw TypeError("Argument 'built_in_gates' has incorrect type (expected set, got NoneType)");
  }

  // Checks the calls of the body, banks the definition as written and deletes it from the tree.
  ast::Rewrite visit_QuantumGateDefinition(const ast::Ptr<ast::QuantumGateDefinition>& node) override {
    check(node->name != nullptr);
    auto gate = std::make_shared<BankedGate>();
    gate->node = node;
    for (std::size_t i = 0; i < node->arguments.size(); ++i) gate->formals.assign(node->arguments[i]->name, i);
    for (std::size_t i = 0; i < node->qubits.size(); ++i)
      gate->formals.assign(node->qubits[i]->name, node->arguments.size() + i);
    try {
      BodyScanner(*this, *gate).scan();
    } catch (const SignatureNotFoundException& e) {
      MissingDefinitionException missing(e.node, GateSignature::from_quantum_gate_definition(*node));
      missing.set_cause(std::current_exception());
      throw missing;
    }
    _add_gate(std::move(gate));
    return nullptr;
  }

  ast::Rewrite visit_QuantumGate(const ast::Ptr<ast::QuantumGate>& node) override {
    std::vector<ast::NodePtr> expansion;
    if (_resolve(node, expansion)) return node;
    return expansion;
  }

  // True when the call stays as it is (a built-in gate), else appends its expansion to `out`.
  bool _resolve(const ast::Ptr<ast::QuantumGate>& node, std::vector<ast::NodePtr>& out) {
    if (!node->modifiers.empty()) throw NotImplementedError("Modifiers are not yet implemented");
    if (_is_built_in(*node)) {
      _log_built_in(*node);
      return true;
    }
    const BankedGate& gate = _get_gate_definition(node);
    if (_expanding == 0) _charge(node, gate);
    _expand(node, gate, out);
    return false;
  }

  ast::Rewrite visit_Program(const ast::Ptr<ast::Program>& node) override {
    _rewrite_statements(node->statements);
    return node;
  }

  // The statements that stay: see _walk_statement.
  ast::Rewrite visit_ClassicalDeclaration(const ast::Ptr<ast::ClassicalDeclaration>& node) override {
    _walk_statement(*node, ast::NodeKind::ClassicalDeclaration);
    return node;
  }
  ast::Rewrite visit_ConstantDeclaration(const ast::Ptr<ast::ConstantDeclaration>& node) override {
    _walk_statement(*node, ast::NodeKind::ConstantDeclaration);
    return node;
  }
  ast::Rewrite visit_IODeclaration(const ast::Ptr<ast::IODeclaration>& node) override {
    _walk_statement(*node, ast::NodeKind::IODeclaration);
    return node;
  }
  ast::Rewrite visit_QubitDeclaration(const ast::Ptr<ast::QubitDeclaration>& node) override {
    _walk_statement(*node, ast::NodeKind::QubitDeclaration);
    return node;
  }
  ast::Rewrite visit_ForInLoop(const ast::Ptr<ast::ForInLoop>& node) override {
    _walk_statement(*node, ast::NodeKind::ForInLoop);
    return node;
  }
  ast::Rewrite visit_BranchingStatement(const ast::Ptr<ast::BranchingStatement>& node) override {
    _walk_statement(*node, ast::NodeKind::BranchingStatement);
    return node;
  }
  ast::Rewrite visit_WhileLoop(const ast::Ptr<ast::WhileLoop>& node) override {
    _walk_statement(*node, ast::NodeKind::WhileLoop);
    return node;
  }
  ast::Rewrite visit_ClassicalAssignment(const ast::Ptr<ast::ClassicalAssignment>& node) override { return node; }
  ast::Rewrite visit_QuantumMeasurementStatement(const ast::Ptr<ast::QuantumMeasurementStatement>& node) override {
    return node;
  }
  ast::Rewrite visit_DurationOf(const ast::Ptr<ast::DurationOf>& node) override { return node; }
  ast::Rewrite visit_ClassicalArgument(const ast::Ptr<ast::ClassicalArgument>& node) override {
    _declare(node->name, node->type);
    return generic_visit(node);
  }
  ast::Rewrite visit_QuantumArgument(const ast::Ptr<ast::QuantumArgument>& node) override {
    _declare(node->name, nullptr);
    return generic_visit(node);
  }

  // A plain lookup: a user gate's call is no failure of the built-in test.
  bool _is_built_in(const ast::QuantumGate& node) const {
    const std::string& name = gate_name(node);
    if (const KnownGate* known = _known_gate(name)) return known->banked == nullptr;
    if (!_built_in_gates->contains(std::string_view(name))) return false;
    _remember(name, nullptr);
    return true;
  }

  // The banked gate of a call checked before (the body scan).
  const BankedGate& _bank_entry(const ast::QuantumGate& node) const {
    const BankedGate* banked = _banked(gate_name(node));
    check(banked != nullptr);
    return *banked;
  }

  // The banked gate of a call, its counts checked.
  const BankedGate& _get_gate_definition(const ast::Ptr<ast::QuantumGate>& node) const {
    const BankedGate* banked = _banked(gate_name(*node));
    if (banked == nullptr) throw SignatureNotFoundException(node);
    _validate_calling_arguments(banked->node, node);
    return *banked;
  }

 private:
  // The gate names met so far in the run, with the banked gate of each (null: built in). A program
  // calls few gates, many times: a call's name is compared with these in place before the
  // built-in set or the bank is asked. A name built in or banked stays so for the rest of the run.
  struct KnownGate {
    std::string name;
    const BankedGate* banked;
  };
  static constexpr std::size_t kKnownGates = 16;

  const KnownGate* _known_gate(std::string_view name) const {
    for (const KnownGate& known : _known)
      if (same_name(known.name, name)) return &known;
    return nullptr;
  }
  void _remember(std::string_view name, const BankedGate* banked) const {
    if (_known.size() < kKnownGates) _known.push_back(KnownGate{std::string(name), banked});
  }
  const BankedGate* _banked(const std::string& name) const {
    if (const KnownGate* known = _known_gate(name)) return known->banked;
    auto banked = _signature_to_definition.find(std::string_view(name));
    if (banked == _signature_to_definition.end()) return nullptr;
    _remember(name, banked->second.get());
    return banked->second.get();
  }

  // Rewrites a list of statements in place. The statements of the kinds that the walk notes or
  // enters (gate calls, declarations, assignments, measurements, loops and branches) are taken
  // here, so that most statements cost one look at their class and no handler call; the others
  // go through the walk. What replaces a statement (a call's expansion, nothing for a banked
  // definition) is kept aside and put in once the list is done, or when a failure leaves it.
  template <class Element> void _rewrite_statements(std::vector<ast::Ptr<Element>>& statements) {
    std::vector<StatementSplice> splices;
    std::vector<ast::NodePtr> replacements;
    try {
      for (std::size_t i = 0; i < statements.size(); ++i) {
        // A long program's tree outgrows the caches: the statement a few places ahead is asked
        // for, with its subtree, and nearer, the arrays of its blocks (outside the subtree).
        ast::prefetch_subtree_ahead(statements, i);
        prefetch_blocks_ahead(statements, i, 4);
        if (!statements[i]) continue;
        const std::size_t first = replacements.size();
        if (_rewrite_statement(statements[i], replacements)) continue;
        splices.push_back(StatementSplice{i, first, replacements.size() - first});
        // The replaced statement is freed now, while its nodes are in the cache (the splice
        // would free it much later), and the next expansion reuses their memory.
        statements[i] = nullptr;
      }
    } catch (...) {
      splice_statements(statements, splices, replacements);
      throw;
    }
    splice_statements(statements, splices, replacements);
  }

  // True when `statement` stays in its list; else appends what takes its place to `out`.
  template <class Element> bool _rewrite_statement(const ast::Ptr<Element>& statement, std::vector<ast::NodePtr>& out) {
    ast::QASMNode& node = *statement;
    const ast::NodeKind kind = node.kind();
    try {
      if (kind == ast::NodeKind::QuantumGate) {
        // A built-in call (most of them) needs no handle of its own.
        const auto& gate = static_cast<const ast::QuantumGate&>(node);
        if (gate.modifiers.empty() && _is_built_in(gate)) {
          _log_built_in(gate);
          return true;
        }
        return _resolve(std::static_pointer_cast<ast::QuantumGate>(statement), out);
      }
      if (_walk_statement(node, kind)) return true;
    } catch (...) {
      // As the walk does for the statements it enters: a failure gets this statement's position
      // unless one inside it gave its own.
      locate_failure(node);
      throw;
    }
    return !append_rewrite(visit(statement), &node, out);
  }

  // The handlers of the statements that stay, by kind: declarations are noted in program order
  // (a parameter the body never reads is checked against them, and a real-typed name passes as a
  // parameter without a cast), loops and branches have their blocks rewritten. Types and
  // expressions hold no gate calls (durationof blocks are not entered): the walk goes only where
  // statements are. False for a kind handled elsewhere.
  bool _walk_statement(ast::QASMNode& node, ast::NodeKind kind) {
    switch (kind) {
      case ast::NodeKind::ClassicalDeclaration: {
        const auto& declaration = static_cast<const ast::ClassicalDeclaration&>(node);
        _declare(declaration.identifier, declaration.type);
        return true;
      }
      case ast::NodeKind::ConstantDeclaration: {
        const auto& declaration = static_cast<const ast::ConstantDeclaration&>(node);
        _declare(declaration.identifier, declaration.type);
        return true;
      }
      case ast::NodeKind::IODeclaration: {
        const auto& declaration = static_cast<const ast::IODeclaration&>(node);
        _declare(declaration.identifier, declaration.type);
        return true;
      }
      case ast::NodeKind::QubitDeclaration:
        _declare(static_cast<const ast::QubitDeclaration&>(node).qubit, nullptr);
        return true;
      case ast::NodeKind::ForInLoop: {
        auto& loop = static_cast<ast::ForInLoop&>(node);
        _declare(loop.identifier, loop.type);
        _rewrite_statements(loop.block);
        return true;
      }
      case ast::NodeKind::BranchingStatement: {
        auto& branch = static_cast<ast::BranchingStatement&>(node);
        _rewrite_statements(branch.if_block);
        _rewrite_statements(branch.else_block);
        return true;
      }
      case ast::NodeKind::WhileLoop:
        _rewrite_statements(static_cast<ast::WhileLoop&>(node).block);
        return true;
      case ast::NodeKind::ClassicalAssignment:
      case ast::NodeKind::QuantumMeasurementStatement:
        return true;
      default:
        return false;
    }
  }

  void _declare(const ast::Ptr<ast::Identifier>& name, const ast::NodePtr& type) {
    if (!name) return;
    _declared.declare(name->name, is_real_type(type));
  }

  void _add_gate(std::shared_ptr<BankedGate> gate) {
    auto signature = GateSignature::from_quantum_gate_definition(*gate->node);
    if (!_built_in_gates->contains(signature)) {
      auto banked = _signature_to_definition.find(signature);
      if (banked == _signature_to_definition.end()) {
        logging::debug(logger(), [&] { return "Added the definition of \"" + signature.name + "\" to the bank."; });
        _signature_to_definition.emplace(std::move(signature), std::move(gate));
        return;
      }
      if (_same_definition(*banked->second, *gate)) {
        logging::debug(logger(), [] { return std::string("Ignoring duplicated definition"); });
        return;
      }
    }
    throw MultipleDefinitionsException(gate->node, std::move(signature));
  }

  // Equal as written, or else equal once the calls in both bodies are expanded (within what is
  // left of the bound; beyond it the two count as different).
  bool _same_definition(const BankedGate& banked, const BankedGate& later) {
    if (ast::equal(*banked.node, *later.node)) return true;
    auto size = [](const BankedGate& gate) {
      std::uint64_t total = gate.cost.base;
      for (auto coef : gate.cost.coef) total = add(total, coef);
      return total;
    };
    const std::uint64_t needed = add(size(banked), size(later));
    if (add(_expanded, needed) > static_cast<std::uint64_t>(_max_expansion)) return false;
    _expanded = add(_expanded, needed);
    // The formals stand for themselves here: no declaration names them.
    _comparing = true;
    struct Reset {
      bool& flag;
      ~Reset() { flag = false; }
    } reset{_comparing};
    auto expanded = [&](const BankedGate& gate) {
      auto copy = ast::make<ast::QuantumGateDefinition>(gate.node->name, gate.node->arguments, gate.node->qubits,
                                                        std::vector<ast::StmtPtr>{});
      std::vector<ast::NodePtr> body;
      _expand_body(gate, nullptr, body);
      for (const auto& statement : body) copy->body.push_back(std::static_pointer_cast<ast::Statement>(statement));
      return copy;
    };
    return ast::equal(*expanded(banked), *expanded(later));
  }

  // Adds a top-level call's expansion to the run's total, refusing it past the bound.
  void _charge(const ast::Ptr<ast::QuantumGate>& node, const BankedGate& gate) {
    const std::size_t parameters = node->arguments.size();
    std::uint64_t size = gate.cost.base;
    for (std::size_t k = 0; k < gate.cost.coef.size(); ++k) {
      if (gate.cost.coef[k] == 0) continue;
      const std::uint64_t operand =
          k < parameters ? add(_tree_size(node->arguments[k].get()), 1) : _tree_size(node->qubits[k - parameters].get());
      size = add(size, mul(gate.cost.coef[k], operand));
    }
    const std::uint64_t total = add(_expanded, size);
    if (total > static_cast<std::uint64_t>(_max_expansion)) throw ExpansionLimitException(node, total, _max_expansion);
    _expanded = total;
  }

  std::uint64_t _tree_size(ast::QASMNode* node) {
    if (!node) return 0;
    if (const std::optional<std::uint64_t> size = plain_tree_size(*node)) return *size;
    _counter.count = 0;
    _counter.visit(*node);
    return _counter.count;
  }

  // Formal name to the call's node for one expansion; a qubit's entry replaces a parameter's of
  // the same name. A parameter the body never reads is checked for undeclared names here, since
  // no later step will see it.
  // `operand(k)` is the call's node for formal k (parameters, then qubits).
  template <class Operand>
  std::unique_ptr<IdentifierTransformer> _get_gate_transformation(const BankedGate& gate, Operand&& operand) {
    const auto& gate_def = *gate.node;
    const std::size_t parameters = gate_def.arguments.size();
    auto substitution = _spare_substitution(&gate.formals);
    for (std::size_t i = 0; i < parameters; ++i) {
      ast::NodePtr value = operand(i);
      ast::ExprPtr argument =
          value && ast::isa<ast::Expression>(*value) ? std::static_pointer_cast<ast::Expression>(std::move(value)) : nullptr;
      if (!gate.parameter_read[i]) _check_declared(argument, gate_def);
      substitution->add_operand(as_real(std::move(argument), _declared));
    }
    for (std::size_t i = 0; i < gate_def.qubits.size(); ++i) substitution->add_operand(operand(parameters + i));
    return substitution;
  }

  std::unique_ptr<IdentifierTransformer> _spare_substitution(const Formals* formals) {
    if (_spare_substitutions.empty()) return std::make_unique<IdentifierTransformer>(formals, std::vector<ast::NodePtr>{});
    auto substitution = std::move(_spare_substitutions.back());
    _spare_substitutions.pop_back();
    substitution->reset(formals);
    return substitution;
  }

  void _check_declared(const ast::ExprPtr& argument, const ast::QuantumGateDefinition& gate_def) const {
    if (!argument || _comparing) return;
    UndeclaredNames names(_declared);
    names.visit(argument);
    if (names.first) throw UndeclaredArgumentException(names.first, gate_def.name->name);
  }

  // The expansion of one call: the body's statements with the formals put in, each call of a
  // user gate among them expanded in turn. Iterative, so that a chain of any length expands.
  void _expand(const ast::Ptr<ast::QuantumGate>& node, const BankedGate& gate, std::vector<ast::NodePtr>& out) {
    _log_found_definition(*node, *gate.node);
    const std::size_t parameters = node->arguments.size();
    _expand_body(gate,
                 _get_gate_transformation(gate, [&](std::size_t k) -> ast::NodePtr {
                   return k < parameters ? ast::NodePtr(node->arguments[k]) : node->qubits[k - parameters];
                 }),
                 out);
  }

  // Appends the expansion to `out`. `substitution` null: the formals stay as they are (comparing
  // definitions).
  void _expand_body(const BankedGate& gate, std::unique_ptr<IdentifierTransformer> substitution,
                    std::vector<ast::NodePtr>& out) {
    if (!substitution) substitution = _spare_substitution(nullptr);
    // The frames of this expansion lie above `base` in the run's stack (an expansion in a block
    // expands calls of its own above them), which keeps its room from call to call.
    std::vector<Frame>& stack = _frames;
    const std::size_t base = stack.size();
    struct Unwind {
      std::vector<Frame>& stack;
      std::size_t base;
      ~Unwind() { stack.resize(base); }  // the frames a failure leaves
    } unwind{stack, base};
    stack.push_back(Frame{&gate, std::move(substitution)});
    while (stack.size() > base) {
      Frame& frame = stack.back();
      const auto& body = frame.gate->node->body;
      if (frame.next == body.size()) {
        frame.substitution->reset(nullptr);  // the operands are not held beyond their expansion
        _spare_substitutions.push_back(std::move(frame.substitution));
        stack.pop_back();
        continue;
      }
      const std::size_t index = frame.next++;
      if (const BankedGate* callee = frame.gate->callees[index]) {
        // A call of a user gate: only its operands are built, with this frame's formals put in.
        const auto& call = static_cast<const ast::QuantumGate&>(*body[index]);
        _log_found_definition(call, *callee->node);
        IdentifierTransformer& outer = *frame.substitution;
        const std::size_t parameters = call.arguments.size();
        auto inner = _get_gate_transformation(*callee, [&](std::size_t k) {
          return outer.substitute_operand(k < parameters ? ast::NodePtr(call.arguments[k]) : call.qubits[k - parameters]);
        });
        stack.push_back(Frame{callee, std::move(inner)});
        continue;
      }
      ast::NodePtr copy = frame.substitution->substitute(body[index]);
      if (!copy) continue;
      if (frame.gate->nested_calls[index]) {
        // A call in a block of the body: the walk expands it where it stands.
        ++_expanding;
        ast::Rewrite result;
        try {
          result = visit(copy);
        } catch (...) {
          --_expanding;
          throw;
        }
        --_expanding;
        if (result.is_list()) {
          out.insert(out.end(), result.list().begin(), result.list().end());
        } else if (result.is_node()) {
          out.push_back(result.node());
        }
        continue;
      }
      out.push_back(std::move(copy));
    }
  }

  static void _log_built_in(const ast::QuantumGate& node) {
    logging::debug(logger(), [&] { return "Node " + node.name->name + " is built-in, and will stay as is."; });
  }

  static void _log_found_definition(const ast::QuantumGate& node, const ast::QuantumGateDefinition& gate_definition) {
    logging::debug(logger(), [&] {
      return "Transforming gate call \"" + node.name->name + "\" to \"" + signature_text(gate_definition) + "\"";
    });
  }

  static void _validate_calling_arguments(const ast::Ptr<ast::QuantumGateDefinition>& gate_def,
                                          const ast::Ptr<ast::QuantumGate>& node) {
    if (gate_def->arguments.size() != node->arguments.size())
      throw ArgumentsMismatchException(node, gate_def, "argument");
    if (gate_def->qubits.size() != node->qubits.size()) throw ArgumentsMismatchException(node, gate_def, "qubit");
  }

  std::unordered_map<GateSignature, std::shared_ptr<BankedGate>, GateSignatureHash, GateSignatureEqual>
      _signature_to_definition;
  std::shared_ptr<const GateSignatures> _built_in_gates;
  const std::int64_t _max_expansion;
  // Syntax nodes produced (or about to be) by the run's expansions.
  std::uint64_t _expanded = 0;
  // Above zero while the walk expands calls inside an expansion, which its caller already paid.
  int _expanding = 0;
  mutable std::vector<KnownGate> _known;
  std::vector<std::unique_ptr<IdentifierTransformer>> _spare_substitutions;
  // One expansion's frame: a body being expanded, with its formals put in.
  struct Frame {
    const BankedGate* gate;
    std::unique_ptr<IdentifierTransformer> substitution;
    std::size_t next = 0;
  };
  std::vector<Frame> _frames;
  DeclaredNames _declared;
  NodeCounter _counter;
  // Set while two definitions are compared expanded.
  bool _comparing = false;
};

bool BodyScanner::built_in(const ast::QASMNode& node) const {
  return resolver_._is_built_in(static_cast<const ast::QuantumGate&>(node));
}

const BankedGate& BodyScanner::callee_of(const ast::QASMNode& call) const {
  return resolver_._bank_entry(static_cast<const ast::QuantumGate&>(call));
}

void BodyScanner::visit_QuantumGate(ast::QuantumGate& node) {
  if (!node.modifiers.empty()) throw NotImplementedError("Modifiers are not yet implemented");
  if (built_in(node)) {
    logging::debug(logger(), [&] { return "Node " + node.name->name + " is built-in, and will stay as is."; });
    forms_.back().base = add(forms_.back().base, 2);  // the call and its name
    for (const auto& argument : node.arguments) visit(argument);
    for (const auto& qubit : node.qubits) visit(qubit);
    if (node.duration) visit(node.duration);
    return;
  }
  ++user_calls_;
  auto call = std::static_pointer_cast<ast::QuantumGate>(handle());
  check(call.get() == &node);
  const BankedGate& callee = resolver_._get_gate_definition(call);
  // The callee's expansion, its formals replaced by this call's operands as Forms of ours.
  const std::size_t parameters = node.arguments.size();
  Form contribution{callee.cost.base, std::vector<std::uint64_t>(forms_.back().coef.size(), 0)};
  for (std::size_t j = 0; j < callee.cost.coef.size(); ++j) {
    forms_.push_back(Form{j < parameters ? 1u : 0u, std::vector<std::uint64_t>(contribution.coef.size(), 0)});
    visit(j < parameters ? ast::NodePtr(node.arguments[j]) : node.qubits[j - parameters]);
    Form operand = std::move(forms_.back());
    forms_.pop_back();
    const std::uint64_t times = callee.cost.coef[j];
    if (times == 0) continue;
    contribution.base = add(contribution.base, mul(times, operand.base));
    for (std::size_t k = 0; k < operand.coef.size(); ++k)
      contribution.coef[k] = add(contribution.coef[k], mul(times, operand.coef[k]));
  }
  Form& target = forms_.back();
  target.base = add(target.base, contribution.base);
  for (std::size_t k = 0; k < target.coef.size(); ++k) target.coef[k] = add(target.coef[k], contribution.coef[k]);
}

}  // namespace

GateSignature GateSignature::from_quantum_gate_definition(const ast::QuantumGateDefinition& node) {
  check(node.name != nullptr);
  return GateSignature{node.name->name};
}

std::string GateSignature::text() const {
  std::string out = "GateSignature(name=";
  ast::detail::repr_string(out, name);
  out += ')';
  return out;
}

GateResolverException::GateResolverException(ast::NodePtr node_) : node(std::move(node_)) {}

SignatureNotFoundException::SignatureNotFoundException(ast::Ptr<ast::QuantumGate> node_)
    : UnresolvableGateException(std::move(node_)) {
  _message = "Didn't find a signature for " + ast::repr(node) + ".";
}

ArgumentsMismatchException::ArgumentsMismatchException(ast::Ptr<ast::QuantumGate> node_,
                                                       ast::Ptr<ast::QuantumGateDefinition> gate_definition_,
                                                       std::string argument_type_)
    : UnresolvableGateException(node_),
      gate_definition(std::move(gate_definition_)),
      argument_type(std::move(argument_type_)) {
  check(node_ != nullptr && gate_definition != nullptr && gate_definition->name != nullptr);
  const bool qubits = argument_type == "qubit";
  const std::size_t required = qubits ? gate_definition->qubits.size() : gate_definition->arguments.size();
  const std::size_t provided = qubits ? node_->qubits.size() : node_->arguments.size();
  _message = "The gate definition of '" + gate_definition->name->name + "' requires " + std::to_string(required) +
             " " + argument_type + "s, but " + std::to_string(provided) + " were provided.";
}

GateDefinitionException::GateDefinitionException(ast::NodePtr node_, GateSignature definition_signature_)
    : GateResolverException(std::move(node_)), definition_signature(std::move(definition_signature_)) {}

MultipleDefinitionsException::MultipleDefinitionsException(ast::NodePtr node_, GateSignature definition_signature_)
    : GateDefinitionException(std::move(node_), std::move(definition_signature_)) {
  _message = "Two definitions of the same signature: " + definition_signature.text() +
             ", second signature found at " + ast::repr(node) + ".";
}

ExpansionLimitException::ExpansionLimitException(ast::Ptr<ast::QuantumGate> node_, std::uint64_t expansion_,
                                                 std::int64_t limit_)
    : UnresolvableGateException(node_), expansion(expansion_), limit(limit_) {
  check(node_ != nullptr && node_->name != nullptr);
  _message = "The call of gate '" + node_->name->name + "' would take the program's gate expansion to " +
             (expansion >= kSaturatedExpansion ? std::string("more than ") : std::string()) +
             std::to_string(expansion) + " syntax nodes, beyond the limit of " + std::to_string(limit) +
             " (max_expansion)";
}

UndeclaredArgumentException::UndeclaredArgumentException(ast::Ptr<ast::Identifier> node_, std::string gate_)
    : UnresolvableGateException(node_), gate(std::move(gate_)) {
  check(node_ != nullptr);
  _message = "Undeclared name '" + node_->name + "' in an argument of a call of gate '" + gate + "'";
}

MissingDefinitionException::MissingDefinitionException(ast::NodePtr node_, GateSignature definition_signature_)
    : GateDefinitionException(std::move(node_), std::move(definition_signature_)) {
  _message = "Error at " + definition_signature.text() + ": Unresolved gate call: " + ast::repr(node);
}

GateInlining::GateInlining(std::shared_ptr<const GateSignatures> built_in_gates_, std::int64_t max_expansion_)
    : Step(std::nullopt, "GateInlining"), built_in_gates(std::move(built_in_gates_)), max_expansion(max_expansion_) {
  if (!built_in_gates) throw TypeError("Argument 'built_in_gates' has incorrect type (expected set, got NoneType)");
  if (max_expansion < 0) throw ValueError("max_expansion must not be negative, got " + std::to_string(max_expansion));
}

programs::ProgramPtr GateInlining::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  GateResolverTransformer transformer(built_in_gates, max_expansion);
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(transformer, tree));
}

}  // namespace vell_qasm::passes::code_resolving
