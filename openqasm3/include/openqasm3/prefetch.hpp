// prefetch_subtree: asks the memory system for a statement's subtree before a walk reaches it.
//
// A long program's tree (10^5 statements and more) outgrows the caches, so a walk that goes down
// a statement list in order waits on memory at nearly every statement. The parser makes a node's
// children before the node itself, out of one arena, so most of a statement's subtree lies in the
// kilobyte or two just below the statement node: asking for those lines and the node a few
// statements ahead lets the walk find them in the cache when it gets there.
//
// It is only a hint: a prefetch never faults and changes no result, whatever the address holds;
// a tree laid out otherwise (built by a step, or spliced) merely gains nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace openqasm3::ast {

// How many statements ahead of a walk along a list the subtree is asked for: far enough for the
// memory to arrive before the walk, near enough for it to be still in the cache then.
inline constexpr std::size_t kSubtreeAhead = 8;

// Fetches the lines from `below` bytes below `node` to `above` bytes above it (null: nothing).
// Always inlined: GCC takes a function that does nothing but prefetch for one without effect and
// drops its calls. Addresses, not pointers, are stepped: the lines lie outside the node.
[[gnu::always_inline]] inline void prefetch_subtree(const void* node, std::uintptr_t below = 1024,
                                                    std::uintptr_t above = 64) {
  if (node == nullptr) return;
  const auto at = reinterpret_cast<std::uintptr_t>(node);
  for (std::uintptr_t line = at - below; line <= at + above; line += 64)
    __builtin_prefetch(reinterpret_cast<const void*>(line));
}

// Called before the walk of list[i] (statements held by pointer): asks for the subtree of the
// statement `ahead` places further on, if there is one.
template <class List>
[[gnu::always_inline]] inline void prefetch_subtree_ahead(const List& list, std::size_t i, std::size_t ahead = kSubtreeAhead,
                                                          std::uintptr_t below = 1024, std::uintptr_t above = 64) {
  if (i + ahead < list.size()) prefetch_subtree(list[i + ahead].get(), below, above);
}

}  // namespace openqasm3::ast
