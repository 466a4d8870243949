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
// itself stays this class's. They derive from DeclarationInitSplitting<TheirClass>, so that the
// walk knows their handlers.
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

// The bare declaration (a new ClassicalDeclaration of the very `type` and `identifier` objects of
// `node`, without an initial value, span or annotations), and the splitting of `node` into
// `declaration` followed by the statement that gives the initial value (see below).
openqasm3::ast::StmtPtr bare_declaration(const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node);
openqasm3::ast::Rewrite split_declaration_init(const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node,
                                               openqasm3::ast::StmtPtr declaration);

// The splitting for a transformer class D that derives from it (Transformer<D> reads D's handlers).
template <class D> class DeclarationInitSplitting : public Transformer<D> {
 public:
  explicit DeclarationInitSplitting(openqasm3::ast::SwitchCases cases = openqasm3::ast::SwitchCases::skip)
      : Transformer<D>(cases) {}

  // The bare declaration, then a plain "=" assignment (an expression as initial value) or a
  // measurement statement (a measurement). Any other initial value is a NotImplementedError
  // "Unsupported init type - <class '...'>"; what the walk rewrote before stays rewritten.
  openqasm3::ast::Rewrite visit_ClassicalDeclaration(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node) override {
    return split_declaration_init(node, _get_new_declaration_node(node));
  }

 protected:
  // bare_declaration(node) unless overridden. Uses no state of the transformer.
  virtual openqasm3::ast::StmtPtr _get_new_declaration_node(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node) const {
    return bare_declaration(node);
  }
};

class ClassicalDeclarationInitSplitting : public DeclarationInitSplitting<ClassicalDeclarationInitSplitting> {
 public:
  explicit ClassicalDeclarationInitSplitting(openqasm3::ast::SwitchCases cases = openqasm3::ast::SwitchCases::skip)
      : DeclarationInitSplitting(cases) {}
};

}  // namespace vell_qasm::passes
