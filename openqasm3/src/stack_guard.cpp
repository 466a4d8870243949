#include "openqasm3/stack_guard.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace openqasm3 {
namespace {

// The part of a thread's stack kept free: a quarter of it, at least 64 KiB and at most 1 MiB.
// Between two checks a walk runs a few frames and at most one throw, a few KiB even with
// sanitizers and without inlining.
constexpr std::uintptr_t kMinReserve = 64 * 1024;
constexpr std::uintptr_t kMaxReserve = 1024 * 1024;

struct Bounds {
  std::uintptr_t low = 0;    // the stack's lowest address
  std::uintptr_t floor = 0;  // the lowest frame address allowed; 0 while unknown
  bool known = false;        // bounds were read (successfully or not)
};

Bounds read_bounds() {
  Bounds b;
  b.known = true;
#if defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return b;
  void* base = nullptr;
  std::size_t size = 0;
  const int rc = pthread_attr_getstack(&attr, &base, &size);
  pthread_attr_destroy(&attr);
  if (rc != 0 || base == nullptr || size == 0) return b;
  const auto low = reinterpret_cast<std::uintptr_t>(base);
  const std::uintptr_t reserve = std::clamp<std::uintptr_t>(size / 4, kMinReserve, kMaxReserve);
  if (size <= reserve) return b;
  b.low = low;
  b.floor = low + reserve;
#endif
  return b;
}

thread_local Bounds t_bounds;

}  // namespace

StackExhausted::StackExhausted(const std::string& walk)
    : std::runtime_error("stack exhausted: nesting too deep for " + walk) {}

bool stack_nearly_full() noexcept {
  if (!t_bounds.known) t_bounds = read_bounds();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  // A frame below the thread's own stack runs on another stack, whose size is unknown: not checked.
  return here < t_bounds.floor && here >= t_bounds.low;
}

void throw_stack_exhausted(const char* walk) { throw StackExhausted(walk); }

}  // namespace openqasm3
