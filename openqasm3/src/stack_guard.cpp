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

}  // namespace

void detail::read_stack_bounds() noexcept {
  StackBounds& b = t_stack_bounds;
  b.known = true;
#if defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* base = nullptr;
  std::size_t size = 0;
  const int rc = pthread_attr_getstack(&attr, &base, &size);
  pthread_attr_destroy(&attr);
  if (rc != 0 || base == nullptr || size == 0) return;
  const auto low = reinterpret_cast<std::uintptr_t>(base);
  const std::uintptr_t reserve = std::clamp<std::uintptr_t>(size / 4, kMinReserve, kMaxReserve);
  if (size <= reserve) return;
  b.low = low;
  b.floor = low + reserve;
#endif
}

StackExhausted::StackExhausted(const std::string& walk)
    : std::runtime_error("stack exhausted: nesting too deep for " + walk) {}

void throw_stack_exhausted(const char* walk) { throw StackExhausted(walk); }

}  // namespace openqasm3
