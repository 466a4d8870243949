// A guard on the stack left to the current thread, for every recursive walk over a syntax tree.
//
// A tree built by hand, or text nested deeply enough, can make any recursion (parsing, printing,
// equality, copies, visitor walks, the compiler's lowering and folding) run past the end of the
// stack, which is a crash no handler can catch. A recursive function calls check_stack (or holds
// a StackGuard) once per level: when less than a reserve is left below the caller's frame, it
// throws StackExhausted instead of recursing further. The reserve holds the work between two
// checks and the throw itself; it scales with the stack, so the guard works on a 256 KiB thread
// as on an 8 MiB main thread.
//
// The position measured is the frame address, never the address of a local: sanitizers may move
// locals to the heap (AddressSanitizer's detect_stack_use_after_return), frames stay. The
// thread's stack bounds are read once per thread. Code running on a stack the system did not
// give the thread (a coroutine's or signal handler's own stack) is not checked.
//
// Trap: a destructor cannot throw; freeing a tree therefore must not recurse at all (the tree
// library frees deep trees iteratively) rather than rely on this guard.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace openqasm3 {

// The stack of the current thread is nearly exhausted; what() names the walk that stopped
// ("printing", "expression lowering").
class StackExhausted : public std::runtime_error {
 public:
  explicit StackExhausted(const std::string& walk);
};

namespace detail {
// The current thread's stack: its lowest address and the lowest frame address allowed (both 0
// when unknown, which checks nothing); read once per thread.
struct StackBounds {
  std::uintptr_t low = 0;
  std::uintptr_t floor = 0;
  bool known = false;
};
inline constinit thread_local StackBounds t_stack_bounds;
void read_stack_bounds() noexcept;
}  // namespace detail

// True when the current thread has less than its reserve of stack left below the caller.
// Inline: walks ask once per node.
[[gnu::always_inline]] inline bool stack_nearly_full() noexcept {
  detail::StackBounds& b = detail::t_stack_bounds;
  if (!b.known) detail::read_stack_bounds();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  // A frame below the thread's own stack runs on another stack, whose size is unknown: not checked.
  return here < b.floor && here >= b.low;
}

// Throws StackExhausted("stack exhausted: nesting too deep for <walk>") when stack_nearly_full().
[[noreturn]] void throw_stack_exhausted(const char* walk);
inline void check_stack(const char* walk) {
  if (stack_nearly_full()) throw_stack_exhausted(walk);
}

// check_stack as a declaration at the top of a recursive function: `StackGuard guard("folding");`.
class StackGuard {
 public:
  explicit StackGuard(const char* walk) { check_stack(walk); }
  StackGuard(const StackGuard&) = delete;
  StackGuard& operator=(const StackGuard&) = delete;
};

}  // namespace openqasm3
