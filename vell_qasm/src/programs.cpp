#include "vell_qasm/programs.hpp"

namespace vell_qasm::programs {

// ---- OpenQasmProgram ----

const std::shared_ptr<openqasm3::ast::Program>& open_qasm_tree(const ProgramPtr& program) {
  const auto* qasm = dynamic_cast<const OpenQasmProgram*>(program.get());
  check(qasm != nullptr);
  check(qasm->ast() != nullptr);
  return qasm->ast();
}

std::shared_ptr<openqasm3::ast::Program> transform_root(openqasm3::ast::QASMTransformer& transformer,
                                                        const std::shared_ptr<openqasm3::ast::Program>& root) {
  openqasm3::ast::Rewrite result = transformer.visit(root);
  auto rewritten = result.is_node() ? openqasm3::ast::dyn_cast<openqasm3::ast::Program>(result.node()) : nullptr;
  check(rewritten != nullptr);
  return rewritten;
}

// ---- VariablesDB ----

const tavo_var::TavoVarPtr& VariablesDB::operator[](const VariableSignature& key) const {
  const auto found = index_.find(key);
  if (found == index_.end()) throw UndeclaredVariableReferenceException(key.text());
  return entries_[found->second].second;
}

void VariablesDB::insert_or_assign(const VariableSignature& key, tavo_var::TavoVarPtr var) {
  check(var != nullptr, "VariablesDB holds variable wrappers, not null");
  const auto [found, inserted] = index_.try_emplace(key, entries_.size());
  if (inserted) {
    entries_.emplace_back(key, std::move(var));
  } else {
    entries_[found->second].second = std::move(var);
  }
}

tavo_var::TavoVarPtr VariablesDB::get(const VariableSignature& key) const {
  const auto found = index_.find(key);
  return found == index_.end() ? nullptr : entries_[found->second].second;
}

// ---- Tavo1Program ----

vell::tavo::Program Tavo1Program::dsl_program() const {
  if (!_program) throw AttributeError("Still within program scope, cannot return the full program");
  return _program->program();
}

std::string Tavo1Program::declare_variable(const tavo_var::TavoVarPtr& var, bool is_input, bool is_output,
                                           bool is_stream) {
  check(var != nullptr, "declare_variable needs a variable wrapper, got null");
  return with_program_scope(*this, [&] {
    var->declare(is_input && is_stream, is_output && is_stream);
    _variables_db.insert_or_assign(VariableSignature{var->name()}, var);
    if (is_input) _inputs.push_back(var->name());
    if (is_output) _outputs.push_back(var->name());
    return var->name();
  });
}

void Tavo1Program::assign(const std::string& target, const tavo_var::ScalarOrList& value) {
  with_program_scope(*this, [&] { _get_var(target)->assign(value); });
}

void Tavo1Program::assign_at_index(const std::string& target, const vell::tavo::Value& index,
                                   const vell::tavo::Value& value) {
  with_program_scope(*this, [&] {
    auto* array = dynamic_cast<tavo_var::TavoArr*>(_get_var(target).get());
    if (array == nullptr) throw tavo_var::IndexingVariableException(target);
    array->assign_single(index, value);
  });
}

void Tavo1Program::save_all_outputs() {
  with_program_scope(*this, [&] {
    for (const std::string& name : _outputs) _get_var(name)->save();
  });
}

const tavo_var::AllExps& Tavo1Program::operator[](const std::string& item) const {
  return _get_var(item)->tavo_value_exp();
}

const tavo_var::TavoVarPtr& Tavo1Program::_get_var(const std::string& item) const {
  return variables_db()[VariableSignature{item}];
}

}  // namespace vell_qasm::programs
