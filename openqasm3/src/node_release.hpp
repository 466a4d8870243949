// Freeing a tree without recursion.
//
// A node held by std::shared_ptr frees its children from its destructor, which frees theirs: a
// tree thousands of levels deep would take as many nested destructor calls, more stack than a
// thread has, and a destructor cannot report that. Nodes made with an allocator whose destroy()
// calls destroy_node are freed in a loop instead: the node's children are detached into a list
// kept by the outermost such call, which drops them one at a time.
#pragma once

#include <type_traits>

#include "openqasm3/ast.hpp"

namespace openqasm3::ast::detail {

// Runs the destructor of `node`, whose last reference is gone, without recursing into its
// children.
void destroy_node(QASMNode* node) noexcept;

template <class T> void destroy(T* p) noexcept {
  if constexpr (std::is_base_of_v<QASMNode, T>) {
    destroy_node(p);
  } else {
    p->~T();
  }
}

}  // namespace openqasm3::ast::detail
