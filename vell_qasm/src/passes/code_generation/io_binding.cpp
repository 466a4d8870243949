#include "vell_qasm/passes/code_generation/io_binding.hpp"

#include <algorithm>
#include <memory>
#include <typeinfo>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/statement_prefetch.hpp"

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;

TavoDeclaration::TavoDeclaration(const std::string& name, const ast::Ptr<InitType>& node_type, bool is_input_,
                                 bool is_output_)
    : is_input(is_input_), is_output(is_output_), var(get_variable_to_init(name, node_type)) {}

std::string TavoDeclaration::text() const {
  std::string out = "declare ";
  if (!var) return out + "None;";
  out += var->name();
  out += ": ";
  out += vell::tavo::dtype_name(var->dtype);
  if (const auto* array = dynamic_cast<const tavo_var::TavoArr*>(var.get()))
    out += "[" + std::to_string(array->size) + "]";
  if (is_input && is_output) {
    out += " (input, output)";
  } else if (is_input) {
    out += " (input)";
  } else if (is_output) {
    out += " (output)";
  }
  out += ';';
  return out;
}

}  // namespace vell_qasm::passes::code_generation

namespace vell_qasm::tavo_var {

std::string payload_text(const TavoVarPtr& var) {
  if (!var) return "None";
  std::string out = dynamic_cast<const TavoArr*>(var.get()) ? "TavoArr(name=" : "TavoVar(name=";
  openqasm3::ast::detail::repr_string(out, var->name());
  out += ", dtype=";
  out += vell::tavo::dtype_name(var->dtype);
  if (const auto* array = dynamic_cast<const TavoArr*>(var.get())) out += ", size=" + std::to_string(array->size);
  out += ')';
  return out;
}

}  // namespace vell_qasm::tavo_var

namespace vell_qasm::passes::code_generation {

UnsupportedTypeError::UnsupportedTypeError(ast::Ptr<ast::IODeclaration> node_) : node(std::move(node_)) {
  message_ = "Unknown IO identifier - ";
  if (node) {
    message_ += ast::enum_name(node->io_identifier);
    message_ += '.';
    message_ += ast::symbol(node->io_identifier);
  } else {
    message_ += "None";
  }
}

DeclarationsResolver::DeclarationsResolver() {}

// The generic walk of the program's statements, each rewritten in its place (every handler here
// puts one statement in the place of one), asking ahead for what the walk will read: after the
// earlier steps the statements lie anywhere, not below one another, so each node and block array
// is asked for where it is, in stages (StatementsAhead, statement_prefetch.hpp).
ast::Rewrite DeclarationsResolver::visit_Program(const ast::Ptr<ast::Program>& node) {
  auto& statements = node->statements;
  StatementsAhead ahead;
  ahead.block_children = true;
  ahead.declaration_children = true;
  ahead.assignment_targets = true;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    ahead(statements, i);
    ast::rewrite_field<ast::Program>(*this, "statements", statements[i]);
  }
  return node;
}

ast::Rewrite DeclarationsResolver::visit_IODeclaration(const ast::Ptr<ast::IODeclaration>& node) {
  check(node->identifier != nullptr);
  switch (node->io_identifier) {
    case ast::IOKeyword::input:
      return _note_size(ast::make<TavoDeclaration>(node->identifier->name, node->type, /*is_input=*/true));
    case ast::IOKeyword::output:
      return _note_size(
          ast::make<TavoDeclaration>(node->identifier->name, node->type, /*is_input=*/false, /*is_output=*/true));
  }
  throw UnsupportedTypeError(node);
}

ast::Rewrite DeclarationsResolver::visit_ClassicalDeclaration(const ast::Ptr<ast::ClassicalDeclaration>& node) {
  check(!node->init_expression, "In this step, the we should receive no init expression.");
  check(node->identifier != nullptr);
  return _note_size(ast::make<TavoDeclaration>(node->identifier->name, node->type));
}

ast::Rewrite DeclarationsResolver::visit_ClassicalAssignment(const ast::Ptr<ast::ClassicalAssignment>& node) {
  // Only a split declaration assigns an array literal; the array's range assignment would keep
  // the first values and drop the rest in silence. The target is asked first: it is mostly made
  // together with the assignment and lies beside it, while the value may lie anywhere, and most
  // targets are no array.
  if (_array_sizes.empty() || !node->lvalue || !ast::is_exactly<ast::Identifier>(*node->lvalue)) return node;
  const auto& name = static_cast<const ast::Identifier&>(*node->lvalue).name;
  const std::int64_t* size = _array_sizes.find(name);
  if (size == nullptr || !node->rvalue || !ast::is_exactly<ast::ArrayLiteral>(*node->rvalue)) return node;
  const auto& literal = static_cast<const ast::ArrayLiteral&>(*node->rvalue);
  if (literal.values.size() > static_cast<std::uint64_t>(*size))
    throw ArrayInitializerException(name, std::static_pointer_cast<ast::ArrayLiteral>(node->rvalue), *size);
  // An assignment holds a target and an expression, never a declaration: nothing below to resolve.
  return node;
}

ast::Ptr<TavoDeclaration> DeclarationsResolver::_note_size(ast::Ptr<TavoDeclaration> declaration) {
  // TavoArr is final: its exact type is cheaper to test than a cast is to try.
  if (const tavo_var::TavoVarBase* var = declaration->var.get(); var && typeid(*var) == typeid(tavo_var::TavoArr)) {
    const auto& array = static_cast<const tavo_var::TavoArr&>(*var);
    _array_sizes.insert_or_assign(array.name(), std::max<std::int64_t>(array.size, 0));
  }
  return declaration;
}

ArrayInitializerException::ArrayInitializerException(std::string name_, ast::Ptr<ast::ArrayLiteral> node_,
                                                     std::int64_t size_)
    : std::runtime_error("When declaring '" + name_ + "' got " + std::to_string(node_->values.size()) +
                         " values for an array of " + std::to_string(size_) + " elements"),
      name(std::move(name_)),
      node(std::move(node_)),
      size(size_) {}

DeclarationResolvingStep::DeclarationResolvingStep(std::optional<std::string> name)
    : Step(std::move(name), "DeclarationResolvingStep") {}

programs::ProgramPtr DeclarationResolvingStep::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  DeclarationsResolver resolver;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(resolver, tree));
}

}  // namespace vell_qasm::passes::code_generation
