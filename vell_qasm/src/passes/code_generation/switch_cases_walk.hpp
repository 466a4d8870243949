// The generic rewrite of a switch statement that also enters its cases: each case's labels and
// its block are rewritten as any node field or list. Private to code generation's tree steps.
#pragma once

#include <tuple>
#include <vector>

#include "openqasm3/ast.hpp"

namespace vell_qasm::passes::code_generation::detail {

namespace ast = openqasm3::ast;

template <class T> void walk_switch_field(ast::QASMTransformer& transformer, const char* name, T& value) {
  ast::rewrite_field<ast::SwitchStatement>(transformer, name, value);
}
inline void walk_switch_field(ast::QASMTransformer& transformer, const char* name,
                              std::vector<ast::SwitchCase>& cases) {
  for (auto& c : cases) {
    ast::rewrite_field<ast::SwitchStatement>(transformer, name, c.values);
    ast::rewrite_field<ast::SwitchStatement>(transformer, name, c.block);
  }
}

inline ast::Rewrite walk_switch_entering_cases(ast::QASMTransformer& transformer,
                                               const ast::Ptr<ast::SwitchStatement>& node) {
  std::apply([&](auto... field) { (walk_switch_field(transformer, field.name, field.value), ...); },
             ast::SwitchStatement::all_fields(*node));
  return node;
}

}  // namespace vell_qasm::passes::code_generation::detail
