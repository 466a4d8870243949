// Visitor and Transformer: the bases of every tree walk of the compiler.
//
// They differ from the tree library's QASMVisitor and QASMTransformer in two ways:
// - The generic walk enters the cases of a switch (labels, then block): a step built on them
//   reaches every statement without asking. Only the front end's specified walks, which keep
//   the library's reference walk, pass SwitchCases::skip.
// - A failure leaving the walk of a statement gets that statement's position when it carries
//   none yet (locate_failure in errors.hpp): the innermost statement with a span wins, and an
//   exception that located itself (at the node it is about) keeps its own. Nothing is done
//   while no failure passes: the walk costs what the library's costs.
//
// statement() is the innermost statement being walked (null outside every statement); node
// class tests are the tree library's isa / dyn_cast / is_exactly.
#pragma once

#include "openqasm3/ast.hpp"

namespace vell_qasm::passes {

class Visitor : public openqasm3::ast::QASMVisitor {
 public:
  explicit Visitor(openqasm3::ast::SwitchCases cases = openqasm3::ast::SwitchCases::enter) : QASMVisitor(cases) {}

 protected:
  void failed_in(openqasm3::ast::QASMNode& statement) override;
};

class Transformer : public openqasm3::ast::QASMTransformer {
 public:
  explicit Transformer(openqasm3::ast::SwitchCases cases = openqasm3::ast::SwitchCases::enter)
      : QASMTransformer(cases) {}

 protected:
  void failed_in(openqasm3::ast::QASMNode& statement) override;
};

}  // namespace vell_qasm::passes
