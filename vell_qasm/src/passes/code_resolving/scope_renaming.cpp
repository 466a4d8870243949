#include "vell_qasm/passes/code_resolving/scope_renaming.hpp"

#include <memory>
#include <utility>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/constants.hpp"
#include "vell_qasm/passes/parsing/validators.hpp"

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
  for (const auto& entry : CONSTANTS) {
    Entry& name = _visible[entry.first];
    _bindings.push_back(Binding{0, &name, name.innermost});
    name.innermost = _bindings.size() - 1;
  }
}

void ScopeRenamer::_open_scope() { _scope_starts.push_back(_bindings.size()); }

void ScopeRenamer::_close_scope() {
  while (_bindings.size() > _scope_starts.back()) {
    const Binding& binding = _bindings.back();
    if (!binding.renamed.empty()) --_renamings_visible;
    binding.entry->innermost = binding.outer;
    _bindings.pop_back();
  }
  _scope_starts.pop_back();
}

ast::Ptr<ast::Identifier> ScopeRenamer::_declare(const ast::Ptr<ast::Identifier>& identifier,
                                                 const ast::NodePtr& declaration, const char* kind) {
  check(identifier != nullptr, "A declaration names what it declares");
  const std::size_t depth = _scope_starts.size() - 1;
  // An entry exists for every name declared so far and every global name: the name is taken.
  auto [entry, fresh] = _visible.try_emplace(identifier->name);
  Entry& name = entry->second;
  if (name.innermost != kNone && _bindings[name.innermost].depth == depth)
    throw parsing::RedeclarationException(declaration, identifier->name, kind);
  ast::Ptr<ast::Identifier> declared = identifier;
  Binding binding{depth, &name, name.innermost};
  if (depth > 0 && !fresh) {
    declared = ast::make<ast::Identifier>(identifier->name + "." + std::to_string(++_renamed));
    declared->span = identifier->span;
    binding.renamed = declared->name;
    ++_renamings_visible;
  }
  _bindings.push_back(std::move(binding));
  name.innermost = _bindings.size() - 1;
  return declared;
}

ast::Rewrite ScopeRenamer::visit_Program(const ast::Ptr<ast::Program>& node) {
  for (const ast::NodePtr& statement : node->statements) {
    if (!statement) continue;
    // The class or one derived from it (no class of the library derives from these three).
    const ast::Identifier* name = nullptr;
    switch (statement->library_kind()) {
      case ast::NodeKind::ClassicalDeclaration:
        name = static_cast<const ast::ClassicalDeclaration&>(*statement).identifier.get();
        break;
      case ast::NodeKind::ConstantDeclaration:
        name = static_cast<const ast::ConstantDeclaration&>(*statement).identifier.get();
        break;
      case ast::NodeKind::IODeclaration:
        name = static_cast<const ast::IODeclaration&>(*statement).identifier.get();
        break;
      default:
        break;
    }
    if (name != nullptr) _visible.try_emplace(name->name);
  }
  _visit_statements(node->statements);
  return node;
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

}  // namespace

ast::Rewrite ScopeRenamer::visit_Identifier(const ast::Ptr<ast::Identifier>& node) {
  if (_renamings_visible == 0) return node;  // the common case: every visible name is its own
  auto found = _visible.find(node->name);
  if (found == _visible.end() || found->second.innermost == kNone) return node;
  const std::string& name = _bindings[found->second.innermost].renamed;
  if (name.empty()) return node;
  auto renamed = ast::make<ast::Identifier>(name);
  renamed->span = node->span;
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
  if (_renamings_visible > 0) generic_visit(node);
  node->identifier = _declare(identifier, node, "variable");
  return node;
}

ast::Rewrite ScopeRenamer::visit_ConstantDeclaration(const ast::Ptr<ast::ConstantDeclaration>& node) {
  const ast::Ptr<ast::Identifier> identifier = node->identifier;
  if (_renamings_visible > 0) generic_visit(node);
  node->identifier = _declare(identifier, node, "constant");
  return node;
}

ast::Rewrite ScopeRenamer::visit_IODeclaration(const ast::Ptr<ast::IODeclaration>& node) {
  const ast::Ptr<ast::Identifier> identifier = node->identifier;
  if (_renamings_visible > 0) generic_visit(node);
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

template <class Statement> void ScopeRenamer::_visit_statements(std::vector<ast::Ptr<Statement>>& statements) {
  // Every handler here gives its statement back: the statements are rewritten in place.
  for (const ast::Ptr<Statement>& statement : statements)
    if (statement && (_renamings_visible > 0 || may_declare(statement->kind()))) visit(statement);
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
  if (!expression || _renamings_visible == 0) return expression;
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
  if (node->set_declaration && _renamings_visible > 0) {
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
