// Visitor<D> and Transformer<D>: the bases of every tree walk of the compiler, named after the
// walker class itself (class Collect : public Visitor<Collect>), as the tree library's
// VisitorFor<D> / TransformerFor<D> they build on: the handlers D leaves alone cost no call.
//
// They differ from the tree library's bases in two ways:
// - The generic walk enters the cases of a switch (labels, then block): a step built on them
//   reaches every statement without asking. Only the front end's specified walks, which keep
//   the library's reference walk, pass SwitchCases::skip.
// - A failure leaving the walk of a statement gets that statement's position when it carries
//   none yet (locate_failure in errors.hpp): the innermost statement wins, and an exception that
//   located itself (at the node it is about) keeps its own. Nothing is done while no failure
//   passes: the walk costs what the library's costs.
//
// statement() is the innermost statement being walked (null outside every statement); node-class
// tests are the tree library's isa / dyn_cast / is_exactly.
#pragma once

#include "openqasm3/ast.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {

template <class D> class Visitor : public openqasm3::ast::VisitorFor<D> {
 public:
  explicit Visitor(openqasm3::ast::SwitchCases cases = openqasm3::ast::SwitchCases::enter)
      : openqasm3::ast::VisitorFor<D>(cases) {}

 protected:
  void failed_in(openqasm3::ast::QASMNode& statement) override { locate_failure(statement); }
};

template <class D> class Transformer : public openqasm3::ast::TransformerFor<D> {
 public:
  explicit Transformer(openqasm3::ast::SwitchCases cases = openqasm3::ast::SwitchCases::enter)
      : openqasm3::ast::TransformerFor<D>(cases) {}

 protected:
  void failed_in(openqasm3::ast::QASMNode& statement) override { locate_failure(statement); }
};

// The generic walk of an IndexedIdentifier, then the expressions of its inner index lists, which
// the library's walk does not enter: for read-only walks that must see every node.
inline void visit_with_index_lists(openqasm3::ast::QASMVisitor& v, openqasm3::ast::IndexedIdentifier& node) {
  v.generic_visit(node);
  for (auto& index : node.indices)
    if (auto* list = std::get_if<openqasm3::ast::IndexList>(&index))
      for (auto& item : *list) v.visit(item);
}

}  // namespace vell_qasm::passes
