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

#include <algorithm>
#include <typeinfo>
#include <vector>

#include "openqasm3/ast.hpp"
#include "openqasm3/prefetch.hpp"
#include "vell_qasm/passes/statement_walk.hpp"
#include "vell_qasm/passes/walker.hpp"

namespace vell_qasm::passes {

// The bare declaration (a new ClassicalDeclaration of the very `type` and `identifier` objects of
// `node`, without an initial value, span or annotations), and the splitting of `node` into
// `declaration` followed by the statement that gives the initial value (see below).
openqasm3::ast::StmtPtr bare_declaration(const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node);
openqasm3::ast::Rewrite split_declaration_init(const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node,
                                               openqasm3::ast::StmtPtr declaration);
// The same splitting, its statements appended to `out` (nothing appended on a failure).
void append_split_declaration(const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node,
                              openqasm3::ast::StmtPtr declaration, std::vector<openqasm3::ast::NodePtr>& out);

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
  // The walk's rewrite of a program's statement list (for a visit_Program of D's), entering only
  // the statements at the positions `at` (ascending; null: every one) and leaving the others as
  // they are. Each rewrite
  // is spliced in as the walk splices it, and a failure leaves the list as the walk's failure
  // does: the statements rewritten before it, then the failing one and the rest as they stand.
  // For an object of class D itself, the list's own classical declarations are split here, as
  // the handler splits them, without the walk's handles and lists made per statement; a class
  // derived from D (which may handle more) has every statement walked.
  void rewrite_statements(std::vector<openqasm3::ast::NodePtr>& statements, const std::vector<std::size_t>* at) {
    rewrite_statements(statements, at, [](const std::vector<openqasm3::ast::NodePtr>& list, std::size_t i) {
      openqasm3::ast::prefetch_subtree_ahead(list, i);
    });
  }
  // The same, `ahead(statements, i)` asking for the memory of the statements ahead before
  // statements[i] is walked, where every statement is (at is null).
  template <class Ahead>
  void rewrite_statements(std::vector<openqasm3::ast::NodePtr>& statements, const std::vector<std::size_t>* at,
                          Ahead&& ahead) {
    namespace ast = openqasm3::ast;
    if (at && at->empty()) return;
    const bool direct = typeid(*this) == typeid(D);
    // What replaces the statements rewritten, put in once the list is done (or a failure leaves).
    std::vector<StatementSplice> splices;
    std::vector<ast::NodePtr> replacements;
    auto next = at ? at->begin() : std::vector<std::size_t>::const_iterator();
    try {
      for (std::size_t i = 0; i < statements.size(); ++i) {
        if (at) {
          if (next == at->end()) break;
          if (*next != i) continue;
          ++next;
          if (at->end() - next > 4) ast::prefetch_subtree(statements[*(next + 4)].get());
        } else {
          ahead(statements, i);
        }
        ast::NodePtr& statement = statements[i];
        if (!statement) continue;
        const ast::NodeKind kind = statement->kind();
        if (kind != ast::NodeKind::External && this->walk_of(kind) == ast::detail::NodeWalk::skip) continue;
        const std::size_t first = replacements.size();
        if (direct && kind == ast::NodeKind::ClassicalDeclaration) {
          const auto declaration = std::static_pointer_cast<ast::ClassicalDeclaration>(statement);
          try {
            append_split_declaration(declaration, _get_new_declaration_node(declaration), replacements);
          } catch (...) {
            this->failed_in(*statement);
            throw;
          }
          // As the walk, which drops a null among a handler's nodes.
          replacements.erase(std::remove(replacements.begin() + static_cast<std::ptrdiff_t>(first), replacements.end(),
                                         nullptr),
                             replacements.end());
        } else if (!append_rewrite(this->visit(statement), statement.get(), replacements)) {
          continue;
        }
        splices.push_back(StatementSplice{i, first, replacements.size() - first});
        statement = nullptr;  // freed now, while in the cache, as the walk frees a replaced statement
      }
    } catch (...) {
      splice_statements(statements, splices, replacements);
      throw;
    }
    splice_statements(statements, splices, replacements);
  }


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
