// NodeSearch<D>: a read-only walk that only asks whether a tree holds a node of some kind, for the
// front-end steps that decide from the answer whether to walk the tree at all.
//
// D derives from NodeSearch<D> (as from Visitor<D>), handles the node classes it looks for and
// calls found() in a handler on a match: the walk ends there, from any depth, and holds(root)
// answers true. Every node D has no handler for is passed without a handler call, so a tree
// without a match costs one plain walk. A real failure of the walk (a tree too deep for the stack)
// leaves it as from any walk, with the innermost statement's position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "openqasm3/ast.hpp"
#include "openqasm3/prefetch.hpp"
#include "vell_qasm/passes/walker.hpp"

namespace vell_qasm::passes::parsing {

// Called before the walk of statements[i]: asks for the `below` bytes under the node of the statement
// `ahead` places on, and its node, where the parser put its subtree (see openqasm3/prefetch.hpp).
// How much pays depends on how much of each subtree the walk enters: a walk into every expression
// is served best by more than the list walks ask for. Four lines per round: a long window costs
// few instructions beyond its prefetches.
template <class List>
[[gnu::always_inline]] inline void prefetch_statement_ahead(const List& statements, std::size_t i, std::size_t ahead,
                                                            std::uintptr_t below) {
  if (i + ahead >= statements.size() || statements[i + ahead] == nullptr) return;
  const auto at = reinterpret_cast<std::uintptr_t>(statements[i + ahead].get());
  std::uintptr_t line = at - below;
  for (; line + 3 * 64 <= at; line += 4 * 64) {
    __builtin_prefetch(reinterpret_cast<const void*>(line));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 64));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 2 * 64));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 3 * 64));
  }
  for (; line <= at; line += 64) __builtin_prefetch(reinterpret_cast<const void*>(line));
}

template <class D> class NodeSearch : public Visitor<D> {
 public:
  using Visitor<D>::Visitor;

  bool holds(openqasm3::ast::QASMNode& root) {
    try {
      this->visit(root);
    } catch (const Found&) {
      return true;
    }
    return false;
  }

  // holds(program), the program's statements searched one by one, each asking for the subtree of
  // the statement `ahead` places on (prefetch_statement_ahead).
  bool holds_statements(openqasm3::ast::Program& program, std::size_t ahead, std::uintptr_t below) {
    auto& statements = program.statements;
    for (std::size_t i = 0; i < statements.size(); ++i) {
      prefetch_statement_ahead(statements, i, ahead, below);
      if (statements[i] && holds(*statements[i])) return true;
    }
    return false;
  }

 protected:
  [[noreturn]] static void found() { throw Found{}; }

  void failed_in(openqasm3::ast::QASMNode& statement) override {
    try {
      throw;
    } catch (const Found&) {
      // The end of the search, not a failure.
    } catch (...) {
      Visitor<D>::failed_in(statement);
    }
  }

 private:
  struct Found {};
};

}  // namespace vell_qasm::passes::parsing
