// Memory for the nodes of one parse.
//
// A parse builds hundreds of thousands of small nodes in one go. Taking each from the general
// allocator costs more than the parse itself, and so does touching fresh memory page by page
// (a page fault per 4 KiB is slow on virtual machines). The nodes of one parse are therefore
// carved from 2 MiB blocks, backed by huge pages where the system offers them, and a few blocks
// of finished parses are kept for the next parse to reuse. Each node is an ordinary
// std::shared_ptr made with allocate_shared and this arena's allocator; the blocks are handed
// back when the last node of the parse is gone.
//
// The arena counts its live nodes. While the parse runs, the count carries a large bias that the
// parser removes when it is done (release_parser), so that nodes dropped during the parse cannot
// bring it to zero early, and making a node touches no atomic. Node destruction may happen on any
// thread; only the count and the block cache are shared then.
//
// Nodes are destroyed as ast::make's are, so that freeing a deep tree does not recurse.
//
// Trap: a node kept alive keeps its whole parse's blocks alive.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "openqasm3/ast.hpp"

namespace openqasm3::parsing {

class NodeArena {
 public:
  static NodeArena* create() { return new NodeArena(); }

  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;

  // The parser is done: from now on the arena lives exactly as long as its nodes.
  void release_parser() {
    const std::size_t delta = allocated_ - kBias;  // unsigned wrap-around is intended
    if (live_.fetch_add(delta, std::memory_order_acq_rel) + delta == 0) delete this;
  }

  void node_destroyed() {
    if (live_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  void* allocate(std::size_t size, std::size_t align) {
    ++allocated_;
    std::size_t offset = (align - reinterpret_cast<std::uintptr_t>(cur_) % align) % align;
    if (static_cast<std::size_t>(end_ - cur_) < offset + size) {
      grow(size + align);
      offset = (align - reinterpret_cast<std::uintptr_t>(cur_) % align) % align;
    }
    char* p = cur_ + offset;
    cur_ = p + size;
    return p;
  }

  struct Block;

 private:
  static constexpr std::size_t kBias = std::size_t{1} << 62;

  NodeArena() = default;
  ~NodeArena();
  void grow(std::size_t at_least);

  Block* head_ = nullptr;
  char* cur_ = nullptr;
  char* end_ = nullptr;
  std::size_t allocated_ = 0;
  std::atomic<std::size_t> live_{kBias};
};

template <class T> struct ArenaAllocator {
  using value_type = T;

  explicit ArenaAllocator(NodeArena* a) : arena(a) {}
  template <class U> ArenaAllocator(const ArenaAllocator<U>& other) : arena(other.arena) {}

  T* allocate(std::size_t n) { return static_cast<T*>(arena->allocate(n * sizeof(T), alignof(T))); }
  void deallocate(T*, std::size_t) noexcept { arena->node_destroyed(); }
  // A parsed tree may be deep (a long chain of operators): freed without recursion.
  template <class U> void destroy(U* p) noexcept { ast::detail::NodeAllocator<U>().destroy(p); }

  template <class U> bool operator==(const ArenaAllocator<U>& other) const { return arena == other.arena; }

  NodeArena* arena;
};

}  // namespace openqasm3::parsing
