// prefetch_subtree: asks the memory system for a statement's subtree before a walk reaches it.
//
// A long program's tree (10^5 statements and more) outgrows the caches, so a walk that goes
// down the statement list in order waits on memory at nearly every statement. The parser makes
// a statement's children before the statement itself, out of one arena, so most of its subtree
// lies in the kilobyte just before the statement node: asking for those lines and the node a few
// statements ahead lets the walk find them in the cache when it gets there.
//
// It is only a hint: a prefetch never faults and changes no result, whatever the address holds;
// a tree laid out otherwise (built by a step, or spliced) merely gains nothing.
#pragma once

#include <cstdint>

namespace vell_qasm::passes {

// Prefetches the node at `node` (null: nothing) and the cache lines before it where the parser
// laid out its children.
inline void prefetch_subtree(const void* node) {
  if (node == nullptr) return;
  // Addresses, not pointers, are stepped: the lines before the node lie outside it.
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(node);
  for (int line = -16; line <= 1; ++line)
    __builtin_prefetch(reinterpret_cast<const void*>(at + static_cast<std::uintptr_t>(line * 64)));
}

}  // namespace vell_qasm::passes
