// Memory for the nodes of one parse.
//
// A parse builds hundreds of thousands of small nodes in one go. Taking each from the general
// allocator costs more than the parse itself, and so does touching fresh memory page by page
// (a page fault per 4 KiB is slow on virtual machines). The nodes of one parse are therefore
// carved from 2 MiB blocks, backed by huge pages where the system offers them, and a few blocks
// of finished parses are kept for the next parse to reuse.
//
// A small parse (an include file of a few lines) must not cost a huge page: its arena is made for
// the length of its source, and while that is short its first block is kept on ordinary pages, so
// that only the pages its nodes touch take memory (the block's 2 MiB are address space alone).
// Every further block, and every block of a long source, asks for huge pages. Each node is an ordinary
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
// Every block starts on a 2 MiB boundary and records its arena, so that a node finds its arena from
// its own address: the allocator stored with each node is empty (a pointer per node would be 8
// bytes more of every node for a walk to read past). The arena a parse allocates from is the
// thread's current one (ArenaScope).
//
// Trap: a node kept alive keeps its whole parse's blocks alive.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "openqasm3/ast.hpp"

namespace openqasm3::parsing {

class NodeArena {
 public:
  // An arena for the parse of `source_bytes` bytes of text.
  static NodeArena* create(std::size_t source_bytes) { return new NodeArena(source_bytes >= kSmallSourceBytes); }

  // Sources shorter than this start on ordinary pages: their nodes fill a small part of a block
  // (a parse takes several bytes of nodes per source byte).
  static constexpr std::size_t kSmallSourceBytes = 64 * 1024;

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

  // Blocks are this large and aligned to it; no allocation may need more than a block holds.
  static constexpr std::size_t kBlockSize = std::size_t{2} << 20;
  static constexpr std::size_t kMaxAllocation = 64 * 1024;

  // The arena of the parse running on this thread, or null.
  static NodeArena*& current() noexcept {
    static thread_local NodeArena* arena = nullptr;
    return arena;
  }
  // The arena that `p`, allocated by allocate(), came from.
  static NodeArena* owner_of(const void* p) noexcept;

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

  explicit NodeArena(bool huge_pages) : huge_pages_(huge_pages) {}
  ~NodeArena();
  void grow(std::size_t at_least);

  Block* head_ = nullptr;
  char* cur_ = nullptr;
  char* end_ = nullptr;
  std::size_t allocated_ = 0;
  bool huge_pages_;  // whether the next block is to be backed by huge pages
  std::atomic<std::size_t> live_{kBias};
};

// Makes `arena` the thread's current arena for the scope's lifetime.
class ArenaScope {
 public:
  explicit ArenaScope(NodeArena* arena) : previous_(std::exchange(NodeArena::current(), arena)) {}
  ~ArenaScope() { NodeArena::current() = previous_; }
  ArenaScope(const ArenaScope&) = delete;
  ArenaScope& operator=(const ArenaScope&) = delete;

 private:
  NodeArena* previous_;
};

// Allocates from the thread's current arena (which must be set) and frees into the arena the
// memory came from. Holds nothing.
template <class T> struct ArenaAllocator {
  using value_type = T;
  static_assert(sizeof(T) + alignof(T) <= NodeArena::kMaxAllocation, "a node must fit an arena block");

  ArenaAllocator() = default;
  template <class U> ArenaAllocator(const ArenaAllocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n != 1) throw std::bad_array_new_length();
    return static_cast<T*>(NodeArena::current()->allocate(sizeof(T), alignof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { NodeArena::owner_of(p)->node_destroyed(); }
  // A parsed tree may be deep (a long chain of operators): freed without recursion.
  template <class U> void destroy(U* p) noexcept { ast::detail::NodeAllocator<U>().destroy(p); }

  template <class U> bool operator==(const ArenaAllocator<U>&) const { return true; }
};

}  // namespace openqasm3::parsing
