// prefetch_statements_ahead: for a walk along a long statement list (a program's) that reads only
// a few nodes of most statements (their class, a name), not their whole subtrees.
//
// Such a walk waits on memory at nearly every statement of a tree that outgrew the caches, but
// asking for every statement's subtree (prefetch_subtree) pulls the whole tree through the caches,
// which costs as much as a walk of every node. So the statement node itself is asked for far
// ahead, and nearer, once it has arrived, the walker's `fields(statement)` asks for the few
// children it will read (prefetch_node on each).
//
// Only a hint: it changes no result, whatever the list holds.
#pragma once

#include <cstddef>

#include "openqasm3/ast.hpp"

namespace vell_qasm::passes {

inline constexpr std::size_t kStatementNodeAhead = 16;
inline constexpr std::size_t kStatementFieldsAhead = 8;

// The lines of a node made by the tree's allocator (control block and fields: at most two lines
// for every class a statement walk reads). Null: nothing.
[[gnu::always_inline]] inline void prefetch_node(const void* node) {
  if (node == nullptr) return;
  __builtin_prefetch(node);
  __builtin_prefetch(static_cast<const char*>(node) + 64);
}

// Called before the walk of list[i]. At the start of a list (a block: most are short) the nodes
// up to the distance are asked for at once.
template <class List> [[gnu::always_inline]] inline void prefetch_statements_ahead(const List& list, std::size_t i) {
  if (i == 0) {
    for (std::size_t j = 0; j < kStatementNodeAhead && j < list.size(); ++j) prefetch_node(list[j].get());
  }
  if (i + kStatementNodeAhead < list.size()) prefetch_node(list[i + kStatementNodeAhead].get());
}

template <class List, class Fields>
[[gnu::always_inline]] inline void prefetch_statements_ahead(const List& list, std::size_t i, Fields&& fields) {
  prefetch_statements_ahead(list, i);
  if (i + kStatementFieldsAhead < list.size()) {
    if (const openqasm3::ast::QASMNode* statement = list[i + kStatementFieldsAhead].get()) fields(*statement);
  }
}

}  // namespace vell_qasm::passes
