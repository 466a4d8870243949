// Asking for the memory of statements ahead of a walk along a long statement list, beyond what the
// list walks of the tree library ask for (openqasm3/prefetch.hpp), for the steps' own loops over a
// program's statements. Only hints: nothing here changes a result.
//
// - prefetch_statement_ahead: the subtree below a statement's node, over a window of the walk's
//   choosing. How much pays depends on how much of each subtree the walk enters: a walk into every
//   expression is served best by more than the list walks ask for.
// - prefetch_blocks_ahead: the element arrays of a statement's blocks (the branches of an if, a
//   loop's body). They come from the general allocator, not the node arena, so no subtree window
//   covers them, and a walk entering a block would wait on its array first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "openqasm3/ast.hpp"

namespace vell_qasm::passes {

// Called before the walk of statements[i]: asks for the `below` bytes under the node of the
// statement `ahead` places on, and its node. Four lines per round: a long window costs few
// instructions beyond its prefetches.
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

namespace detail {
template <class T> [[gnu::always_inline]] inline void prefetch_elements(const std::vector<T>& list) {
  if (!list.empty()) __builtin_prefetch(list.data());
}
}  // namespace detail

// Called before the walk of statements[i]: asks for the block arrays of the statement `ahead`
// places on, whose node must be alive (it is read: ask for it earlier, with a subtree window).
template <class List>
[[gnu::always_inline]] inline void prefetch_blocks_ahead(const List& statements, std::size_t i, std::size_t ahead) {
  namespace ast = openqasm3::ast;
  if (i + ahead >= statements.size() || statements[i + ahead] == nullptr) return;
  const ast::QASMNode& statement = *statements[i + ahead];
  switch (statement.kind()) {
    case ast::NodeKind::BranchingStatement: {
      const auto& branch = static_cast<const ast::BranchingStatement&>(statement);
      detail::prefetch_elements(branch.if_block);
      detail::prefetch_elements(branch.else_block);
      return;
    }
    case ast::NodeKind::WhileLoop:
      detail::prefetch_elements(static_cast<const ast::WhileLoop&>(statement).block);
      return;
    case ast::NodeKind::ForInLoop:
      detail::prefetch_elements(static_cast<const ast::ForInLoop&>(statement).block);
      return;
    case ast::NodeKind::Box:
      detail::prefetch_elements(static_cast<const ast::Box&>(statement).body);
      return;
    case ast::NodeKind::CompoundStatement:
      detail::prefetch_elements(static_cast<const ast::CompoundStatement&>(statement).statements);
      return;
    default:
      return;
  }
}

}  // namespace vell_qasm::passes
