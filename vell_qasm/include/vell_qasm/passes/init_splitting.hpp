// ClassicalDeclarationInitSplitting: a transformer that turns every classical declaration it
// reaches into a bare declaration followed, when the declaration had an initial value, by the
// statement that gives it: `int x = 5;` becomes `int x; x = 5;` and `bit b = measure q;` becomes
// `bit b; b = measure q;`. Code generation wants declarations without initial values.
//
// Use: build it and call visit() on a root Program; the tree is rewritten in place and the root
// comes back. Nothing is copied: the new statements hold the declaration's own type, identifier
// and initial-value nodes, and the old declaration node leaves the tree.
//
// Derived transformers change what the bare declaration is by overriding
// _get_new_declaration_node (the front end makes output declarations that way); the splitting
// itself stays this class's.
//
// Trap: the walk is the tree library's generic one, which by default does not enter the cases of a
// switch statement: a declaration inside a case block stays whole, with its initial value, while
// one inside the default block is split. Built with SwitchCases::enter (as code generation's
// declaration splitting is) it splits those too. Constant and input/output declarations are never
// touched, and neither the children of a declaration nor the statements made from it are walked.
#pragma once

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/walker.hpp"

namespace vell_qasm::passes {

class ClassicalDeclarationInitSplitting : public Transformer<ClassicalDeclarationInitSplitting> {
 public:
  explicit ClassicalDeclarationInitSplitting(openqasm3::ast::SwitchCases cases = openqasm3::ast::SwitchCases::skip)
      : Transformer(cases) {}

  // The bare declaration, then a plain "=" assignment (an expression as initial value) or a
  // measurement statement (a measurement). Any other initial value is a NotImplementedError
  // "Unsupported init type - <class '...'>"; what the walk rewrote before stays rewritten.
  openqasm3::ast::Rewrite visit_ClassicalDeclaration(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node) override;

 protected:
  // A new ClassicalDeclaration of the very `type` and `identifier` objects of `node`, without an
  // initial value, span or annotations. Uses no state of the transformer.
  virtual openqasm3::ast::StmtPtr _get_new_declaration_node(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node) const;
};

}  // namespace vell_qasm::passes
