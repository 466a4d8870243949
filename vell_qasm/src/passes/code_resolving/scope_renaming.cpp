#include "vell_qasm/passes/code_resolving/scope_renaming.hpp"

#include <memory>
#include <typeinfo>
#include <utility>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/constants.hpp"
#include "vell_qasm/passes/parsing/validators.hpp"
#include "openqasm3/prefetch.hpp"
#include "vell_qasm/passes/statement_prefetch.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

void rewrite_index_lists(ast::QASMTransformer& transformer, ast::IndexElement& index) {
  auto* list = std::get_if<ast::IndexList>(&index);
  if (list == nullptr) return;
  for (ast::NodePtr& element : *list) {
    // Most elements are literals the transformer has no handler for: no Rewrite made for them.
    if (!element || element->transform_generically(transformer)) continue;
    ast::Rewrite rewritten = element->accept(transformer, ast::detail::handle_ref(element));
    if (rewritten.is_node() && rewritten.node() != element) element = rewritten.node();
  }
}

void rewrite_index_lists(ast::QASMTransformer& transformer, std::vector<ast::IndexElement>& indices) {
  for (ast::IndexElement& index : indices) rewrite_index_lists(transformer, index);
}

ScopeRenamer::ScopeRenamer() {
  _scope_starts.push_back(0);
  for (const auto& entry : CONSTANTS) _bind(_intern(entry.first).first, 0);
}

std::pair<std::uint32_t, bool> ScopeRenamer::_intern(std::string_view name) {
  const auto interned = _names.insert(name);
  if (interned.second) _innermost.push_back(kNone);
  return interned;
}

void ScopeRenamer::_bind(std::uint32_t name, std::size_t depth) {
  _bindings.push_back(Binding{depth, name, _innermost[name]});
  _innermost[name] = _bindings.size() - 1;
}

void ScopeRenamer::_open_scope() { _scope_starts.push_back(_bindings.size()); }

void ScopeRenamer::_close_scope() {
  while (_bindings.size() > _scope_starts.back()) {
    const Binding& binding = _bindings.back();
    if (!binding.renamed.empty()) _renamings.pop_back();
    _innermost[binding.name] = binding.outer;
    _bindings.pop_back();
  }
  _scope_starts.pop_back();
}

ast::Ptr<ast::Identifier> ScopeRenamer::_declare(const ast::Ptr<ast::Identifier>& identifier,
                                                 const ast::NodePtr& declaration, const char* kind) {
  check(identifier != nullptr, "A declaration names what it declares");
  const std::size_t depth = _scope_starts.size() - 1;
  // Every name declared so far and every global name has a number: a name that has one is taken.
  const auto [name, fresh] = _intern(identifier->name);
  const std::size_t innermost = _innermost[name];
  if (innermost != kNone && _bindings[innermost].depth == depth)
    throw parsing::RedeclarationException(declaration, identifier->name, kind);
  _bind(name, depth);
  if (depth == 0 || fresh) return identifier;
  auto declared = ast::make<ast::Identifier>(identifier->name + "." + std::to_string(++_renamed));
  declared->span = identifier->span;
  _bindings.back().renamed = declared->name;
  _renamings.push_back(_bindings.size() - 1);
  return declared;
}

const std::string* ScopeRenamer::_renaming_of(std::string_view name) const {
  // The innermost declaration of a name that has a renamed one visible is renamed itself (a block
  // declaration of a name met before always is), so the renamed bindings alone decide. A few are
  // visible at a time: they are compared in place, innermost first, without hashing the name.
  if (_renamings.size() <= 8) {
    for (auto it = _renamings.rbegin(); it != _renamings.rend(); ++it) {
      const Binding& binding = _bindings[*it];
      if (_names.name(binding.name) == name) return &binding.renamed;
    }
    return nullptr;
  }
  const std::uint32_t id = _names.find(name);
  if (id == NameTable::kNone || _innermost[id] == kNone) return nullptr;
  const std::string& renamed = _bindings[_innermost[id]].renamed;
  return renamed.empty() ? nullptr : &renamed;
}

namespace {

// Whether a statement of this class may change what is in scope: it declares a name or holds a
// block (outside classes may hold anything). Every other statement only reads names, and while
// every visible name is its own there is nothing in it to rename.
bool may_declare(ast::NodeKind kind) {
  switch (kind) {
    case ast::NodeKind::ClassicalDeclaration:
    case ast::NodeKind::ConstantDeclaration:
    case ast::NodeKind::IODeclaration:
    case ast::NodeKind::ForInLoop:
    case ast::NodeKind::CompoundStatement:
    case ast::NodeKind::BranchingStatement:
    case ast::NodeKind::WhileLoop:
    case ast::NodeKind::SwitchStatement:
    case ast::NodeKind::Box:
    case ast::NodeKind::External:
      return true;
    default:
      return false;
  }
}

// The name a declaration declares (of the class or one derived from it: no class of the library
// derives from these three), null for another statement or a declaration without one.
const ast::Identifier* declared_name(const ast::QASMNode& statement) {
  switch (statement.library_kind()) {
    case ast::NodeKind::ClassicalDeclaration:
      return static_cast<const ast::ClassicalDeclaration&>(statement).identifier.get();
    case ast::NodeKind::ConstantDeclaration:
      return static_cast<const ast::ConstantDeclaration&>(statement).identifier.get();
    case ast::NodeKind::IODeclaration:
      return static_cast<const ast::IODeclaration&>(statement).identifier.get();
    default:
      return nullptr;
  }
}

bool is_declaration(const ast::QASMNode& statement) {
  const ast::NodeKind kind = statement.library_kind();
  return kind == ast::NodeKind::ClassicalDeclaration || kind == ast::NodeKind::ConstantDeclaration ||
         kind == ast::NodeKind::IODeclaration;
}

}  // namespace

// The global scope is settled before the walk, in one pass over the statements: its
// declarations are bound there (a block declares a name of its own when a global declaration
// takes it, before or after the block), and the walk enters only the statements that hold
// blocks, since no renamed name is visible at global scope. A declaration the pass cannot bind
// (a second one of its name, one without a name, one of a class derived from a declaration's) is
// left to the walk, which meets it in program order: a failure in an earlier block comes first.
ast::Rewrite ScopeRenamer::visit_Program(const ast::Ptr<ast::Program>& node) {
  const auto& statements = node->statements;
  std::vector<std::uint32_t> walked;  // the statements the walk enters
  for (std::size_t i = 0; i < statements.size(); ++i) {
    // The tree outgrows the caches of a long program: each statement is asked for well ahead,
    // then the node of the name it declares, then the table slot of that name.
    if (i + 24 < statements.size()) __builtin_prefetch(statements[i + 24].get());
    if (i + 12 < statements.size() && statements[i + 12] != nullptr) {
      if (const ast::Identifier* ahead = declared_name(*statements[i + 12])) __builtin_prefetch(&ahead->name);
    }
    if (i + 4 < statements.size() && statements[i + 4] != nullptr) {
      if (const ast::Identifier* ahead = declared_name(*statements[i + 4])) _names.prefetch(ahead->name);
    }
    const ast::QASMNode* statement = statements[i].get();
    if (statement == nullptr) continue;
    const ast::Identifier* name = declared_name(*statement);
    const bool declaration = name != nullptr || is_declaration(*statement);
    const ast::NodeKind kind = statement->kind();
    if (name != nullptr) {
      const std::uint32_t id = _intern(name->name).first;
      if (kind == statement->library_kind() && _innermost[id] == kNone) {
        _bind(id, 0);
        continue;
      }
    }
    if (declaration || may_declare(kind)) walked.push_back(static_cast<std::uint32_t>(i));
  }
  // Every handler here gives its statement back: the statements are rewritten in place.
  // Each is asked for a few ahead, with its subtree.
  for (std::size_t k = 0; k < walked.size(); ++k) {
    if (k + 8 < walked.size()) ast::prefetch_subtree(statements[walked[k + 8]].get());
    if (k + 4 < walked.size()) prefetch_blocks_ahead(statements, walked[k + 4], 0);
    visit(statements[walked[k]]);
  }
  return node;
}

ast::Rewrite ScopeRenamer::visit_Identifier(const ast::Ptr<ast::Identifier>& node) {
  if (_renamings.empty()) return node;  // the common case: every visible name is its own
  if (auto renamed = _renamed_identifier(*node)) return renamed;
  return node;
}

ast::Ptr<ast::Identifier> ScopeRenamer::_renamed_identifier(const ast::Identifier& identifier) const {
  const std::string* name = _renaming_of(identifier.name);
  if (name == nullptr) return nullptr;
  auto renamed = ast::make<ast::Identifier>(*name);
  renamed->span = identifier.span;
  return renamed;
}

ast::Rewrite ScopeRenamer::visit_IndexedIdentifier(const ast::Ptr<ast::IndexedIdentifier>& node) {
  generic_visit(node);
  rewrite_index_lists(*this, node->indices);
  return node;
}

ast::Rewrite ScopeRenamer::visit_IndexExpression(const ast::Ptr<ast::IndexExpression>& node) {
  generic_visit(node);
  rewrite_index_lists(*this, node->index);
  return node;
}

// A declaration's type and initialiser belong to the enclosing scope (`int x = x + 1;` reads the
// outer x): they are walked before the name is declared.
ast::Rewrite ScopeRenamer::visit_ClassicalDeclaration(const ast::Ptr<ast::ClassicalDeclaration>& node) {
  const ast::Ptr<ast::Identifier> identifier = node->identifier;
  if (!_renamings.empty()) generic_visit(node);
  node->identifier = _declare(identifier, node, "variable");
  return node;
}

ast::Rewrite ScopeRenamer::visit_ConstantDeclaration(const ast::Ptr<ast::ConstantDeclaration>& node) {
  const ast::Ptr<ast::Identifier> identifier = node->identifier;
  if (!_renamings.empty()) generic_visit(node);
  node->identifier = _declare(identifier, node, "constant");
  return node;
}

ast::Rewrite ScopeRenamer::visit_IODeclaration(const ast::Ptr<ast::IODeclaration>& node) {
  const ast::Ptr<ast::Identifier> identifier = node->identifier;
  if (!_renamings.empty()) generic_visit(node);
  node->identifier = _declare(identifier, node, "variable");
  return node;
}

// A gate's or function's name is no variable: every field but the name is walked.
ast::Rewrite ScopeRenamer::visit_QuantumGate(const ast::Ptr<ast::QuantumGate>& node) {
  ast::rewrite_field<ast::QuantumGate>(*this, "modifiers", node->modifiers);
  ast::rewrite_field<ast::QuantumGate>(*this, "arguments", node->arguments);
  ast::rewrite_field<ast::QuantumGate>(*this, "qubits", node->qubits);
  ast::rewrite_field<ast::QuantumGate>(*this, "duration", node->duration);
  return node;
}

ast::Rewrite ScopeRenamer::visit_FunctionCall(const ast::Ptr<ast::FunctionCall>& node) {
  ast::rewrite_field<ast::FunctionCall>(*this, "arguments", node->arguments);
  return node;
}

ast::Rewrite ScopeRenamer::visit_QuantumGateDefinition(const ast::Ptr<ast::QuantumGateDefinition>& node) {
  return node;
}

ast::Rewrite ScopeRenamer::visit_SubroutineDefinition(const ast::Ptr<ast::SubroutineDefinition>& node) {
  return node;
}

ast::Rewrite ScopeRenamer::visit_CalibrationDefinition(const ast::Ptr<ast::CalibrationDefinition>& node) {
  return node;
}

ast::Rewrite ScopeRenamer::visit_DurationOf(const ast::Ptr<ast::DurationOf>& node) { return node; }

namespace {

bool is_literal(ast::NodeKind kind) {
  return kind == ast::NodeKind::IntegerLiteral || kind == ast::NodeKind::FloatLiteral ||
         kind == ast::NodeKind::BooleanLiteral || kind == ast::NodeKind::ImaginaryLiteral;
}

// An operand of a gate call that is a name, a literal, or a name indexed by literals.
bool is_plain_operand(const ast::QASMNode* operand) {
  if (operand == nullptr) return false;
  const ast::NodeKind kind = operand->kind();
  if (kind == ast::NodeKind::Identifier || is_literal(kind)) return true;
  if (kind != ast::NodeKind::IndexedIdentifier) return false;
  const auto& indexed = static_cast<const ast::IndexedIdentifier&>(*operand);
  if (!indexed.name || indexed.name->kind() != ast::NodeKind::Identifier) return false;
  for (const ast::IndexElement& index : indexed.indices) {
    const auto* items = std::get_if<ast::IndexList>(&index);
    if (items == nullptr) return false;
    for (const ast::NodePtr& item : *items)
      if (!item || !is_literal(item->kind())) return false;
  }
  return true;
}

}  // namespace

void ScopeRenamer::_rename(ast::Ptr<ast::Identifier>& identifier) const {
  if (auto renamed = _renamed_identifier(*identifier)) identifier = std::move(renamed);
}

template <class Operand> void ScopeRenamer::_rename_operand(Operand& operand) const {
  if (operand->kind() == ast::NodeKind::Identifier) {
    if (auto renamed = _renamed_identifier(static_cast<const ast::Identifier&>(*operand))) operand = std::move(renamed);
  } else if (operand->kind() == ast::NodeKind::IndexedIdentifier) {
    _rename(static_cast<ast::IndexedIdentifier&>(static_cast<ast::QASMNode&>(*operand)).name);
  }
}

// What the walk of a gate call does (its handler: every field but the name) when its operands
// are names, literals and names indexed by literals, as in most calls: only its names can be
// renamed. False, and nothing changed, for another call.
bool ScopeRenamer::_rename_plain_call(ast::QuantumGate& call) const {
  if (!call.modifiers.empty() || call.duration) return false;
  for (const ast::ExprPtr& argument : call.arguments)
    if (!is_plain_operand(argument.get())) return false;
  for (const ast::NodePtr& qubit : call.qubits)
    if (!is_plain_operand(qubit.get())) return false;
  for (ast::ExprPtr& argument : call.arguments) _rename_operand(argument);
  for (ast::NodePtr& qubit : call.qubits) _rename_operand(qubit);
  return true;
}

template <class Statement> void ScopeRenamer::_visit_statements(std::vector<ast::Ptr<Statement>>& statements) {
  // A class derived from this one may handle the nodes of a call: then every call is walked.
  const bool plain_calls = typeid(*this) == typeid(ScopeRenamer);
  // Every handler here gives its statement back: the statements are rewritten in place.
  for (const ast::Ptr<Statement>& statement : statements) {
    if (!statement) continue;
    const ast::NodeKind kind = statement->kind();
    if (_renamings.empty()) {
      if (may_declare(kind)) visit(statement);
      continue;
    }
    if (plain_calls && kind == ast::NodeKind::QuantumGate &&
        _rename_plain_call(static_cast<ast::QuantumGate&>(*statement)))
      continue;
    visit(statement);
  }
}

void ScopeRenamer::_visit_block(std::vector<ast::StmtPtr>& statements) {
  _open_scope();
  try {
    _visit_statements(statements);
  } catch (...) {
    _close_scope();
    throw;
  }
  _close_scope();
}

ast::ExprPtr ScopeRenamer::_visit_expression(const ast::ExprPtr& expression) {
  // Expressions declare nothing: while every visible name is its own, they stay as they are.
  if (!expression || _renamings.empty()) return expression;
  ast::Rewrite rewritten = visit(expression);
  check(rewritten.is_node(), "An expression is rewritten into an expression");
  auto result = ast::dyn_cast<ast::Expression>(rewritten.node());
  check(result != nullptr, "An expression is rewritten into an expression");
  return result;
}

ast::Rewrite ScopeRenamer::visit_CompoundStatement(const ast::Ptr<ast::CompoundStatement>& node) {
  _visit_block(node->statements);
  return node;
}

ast::Rewrite ScopeRenamer::visit_BranchingStatement(const ast::Ptr<ast::BranchingStatement>& node) {
  node->condition = _visit_expression(node->condition);
  _visit_block(node->if_block);
  _visit_block(node->else_block);
  return node;
}

ast::Rewrite ScopeRenamer::visit_WhileLoop(const ast::Ptr<ast::WhileLoop>& node) {
  node->while_condition = _visit_expression(node->while_condition);
  _visit_block(node->block);
  return node;
}

ast::Rewrite ScopeRenamer::visit_ForInLoop(const ast::Ptr<ast::ForInLoop>& node) {
  if (node->set_declaration && !_renamings.empty()) {
    ast::Rewrite set = visit(node->set_declaration);
    check(set.is_node(), "A loop's set is rewritten into a set");
    node->set_declaration = set.node();
  }
  _open_scope();
  try {
    if (node->identifier) node->identifier = _declare(node->identifier, node, "variable");
    _visit_statements(node->block);
  } catch (...) {
    _close_scope();
    throw;
  }
  _close_scope();
  return node;
}

ast::Rewrite ScopeRenamer::visit_SwitchStatement(const ast::Ptr<ast::SwitchStatement>& node) {
  node->target = _visit_expression(node->target);
  for (ast::SwitchCase& switch_case : node->cases) {
    for (ast::ExprPtr& value : switch_case.values) value = _visit_expression(value);
    if (switch_case.block) visit(switch_case.block);
  }
  if (node->default_) visit(node->default_);
  return node;
}

ast::Rewrite ScopeRenamer::visit_Box(const ast::Ptr<ast::Box>& node) {
  node->duration = _visit_expression(node->duration);
  _visit_block(node->body);
  return node;
}

ScopeRenaming::ScopeRenaming(std::optional<std::string> name) : Step(std::move(name), "ScopeRenaming") {}

programs::ProgramPtr ScopeRenaming::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  ScopeRenamer renamer;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(renamer, tree));
}

}  // namespace vell_qasm::passes::code_resolving
