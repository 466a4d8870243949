// Memory for the nodes of a parse or of a whole compilation.
//
// A parse builds hundreds of thousands of small nodes in one go, and every step of a compilation
// makes more. Taking each from the general allocator costs more than the parse itself, scatters
// the nodes of one statement over the heap (a walk then misses the caches at every node), and
// touches fresh memory page by page (a page fault per 4 KiB is slow on virtual machines). Nodes
// are therefore carved from 2 MiB blocks, backed by huge pages where the system offers them, and
// a few blocks of finished arenas are kept for the next one to reuse.
//
// A small source (an include file of a few lines) must not cost a huge page: its arena is made
// for the length of its source, and while that is short its first block is kept on ordinary
// pages, so that only the pages its nodes touch take memory (the block's 2 MiB are address space
// alone). Every further block, and every block of a long source, asks for huge pages. Each node is
// an ordinary std::shared_ptr made with allocate_shared and ArenaAllocator (ast.hpp); the blocks
// are handed back when the last node of the arena is gone. A node freed on the owner's thread
// while the owner runs (a node a step replaced) leaves its slot to the next node of its size;
// memory of nodes freed otherwise is not reused before the arena goes.
//
// The arena counts its live nodes. While its owner (a parse, a compilation) runs, the count
// carries a large bias that the owner removes when it is done (release_owner), so that nodes
// dropped meanwhile cannot bring it to zero early, and making a node touches no atomic. Node
// destruction may happen on any thread; only the count and the block cache are shared then.
//
// Every block starts on a 2 MiB boundary and records its arena, so that a node finds its arena from
// its own address: the allocator stored with each node is empty (a pointer per node would be 8
// bytes more of every node for a walk to read past). The arena nodes come from is the thread's
// current one (NodeArenaScope); a thread without one takes them from the general allocator.
//
// Trap: a node kept alive keeps its whole arena's blocks alive.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define OPENQASM3_NODE_ARENA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OPENQASM3_NODE_ARENA_ASAN 1
#endif
#endif
#if defined(OPENQASM3_NODE_ARENA_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace openqasm3::ast::detail {

// Under AddressSanitizer, arena memory that holds no live node is poisoned, so that a use of a
// freed node is reported as it would be for the general allocator.
inline void poison_arena_memory([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t size) noexcept {
#if defined(OPENQASM3_NODE_ARENA_ASAN)
  ASAN_POISON_MEMORY_REGION(p, size);
#endif
}
inline void unpoison_arena_memory([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t size) noexcept {
#if defined(OPENQASM3_NODE_ARENA_ASAN)
  ASAN_UNPOISON_MEMORY_REGION(p, size);
#endif
}

class NodeArena {
 public:
  // An arena for the nodes of `source_bytes` bytes of source text.
  static NodeArena* create(std::size_t source_bytes) { return new NodeArena(source_bytes >= kSmallSourceBytes); }

  // How many arenas of the process are alive (whose owner runs or whose nodes are still held).
  static std::size_t live_arenas() noexcept;

  // Sources shorter than this start on ordinary pages: their nodes fill a small part of a block
  // (a parse takes several bytes of nodes per source byte).
  static constexpr std::size_t kSmallSourceBytes = 64 * 1024;

  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;

  // The owner makes no more nodes here: from now on the arena lives exactly as long as its nodes.
  // Slots kept for reuse count as allocated and are never freed: they leave the count here.
  void release_owner() {
    const std::size_t delta = allocated_ - reusable_ - kBias;  // unsigned wrap-around is intended
    if (live_.fetch_add(delta, std::memory_order_acq_rel) + delta == 0) delete this;
  }

  // The node in `p`, of `size` bytes, is gone.
  void node_destroyed(void* p, std::size_t size) noexcept {
    if (this == current() && reusable(size) && reinterpret_cast<std::uintptr_t>(p) % kReuseStep == 0) {
      // The owner's thread, while it runs: nothing else touches the slot lists.
      *static_cast<void**>(p) = reuse_[size / kReuseStep];
      reuse_[size / kReuseStep] = p;
      ++reusable_;
      poison_arena_memory(p, size);
      return;
    }
    // A slot that shares no shadow granule with a neighbour (whose owner may be allocating now).
    if (reinterpret_cast<std::uintptr_t>(p) % 8 == 0 && size % 8 == 0) poison_arena_memory(p, size);
    if (live_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // Blocks are this large and aligned to it; no allocation may need more than a block holds.
  static constexpr std::size_t kBlockSize = std::size_t{2} << 20;
  static constexpr std::size_t kMaxAllocation = 64 * 1024;

  // The arena nodes made on this thread come from, or null.
  static NodeArena*& current() noexcept {
    static thread_local NodeArena* arena = nullptr;
    return arena;
  }
  // The arena that `p`, allocated by allocate(), came from.
  static NodeArena* owner_of(const void* p) noexcept;

  void* allocate(std::size_t size, std::size_t align) {
    if (reusable(size) && align <= kReuseStep) {
      if (void* slot = reuse_[size / kReuseStep]) {
        unpoison_arena_memory(slot, size);
        reuse_[size / kReuseStep] = *static_cast<void**>(slot);
        --reusable_;
        return slot;
      }
    }
    ++allocated_;
    std::size_t offset = (align - reinterpret_cast<std::uintptr_t>(cur_) % align) % align;
    if (static_cast<std::size_t>(end_ - cur_) < offset + size) {
      grow(size + align);
      offset = (align - reinterpret_cast<std::uintptr_t>(cur_) % align) % align;
    }
    char* p = cur_ + offset;
    cur_ = p + size;
    unpoison_arena_memory(p, size);
    return p;
  }

  struct Block;

 private:
  static constexpr std::size_t kBias = std::size_t{1} << 62;
  // Freed slots are kept by exact size, for sizes up to kMaxReused (a node's size is a multiple of
  // its alignment; a slot serves nodes aligned to at most kReuseStep).
  static constexpr std::size_t kReuseStep = alignof(void*);
  static constexpr std::size_t kMaxReused = 1024;
  static bool reusable(std::size_t size) { return size <= kMaxReused && size % kReuseStep == 0; }

  explicit NodeArena(bool huge_pages);
  ~NodeArena();
  void grow(std::size_t at_least);

  Block* head_ = nullptr;
  char* cur_ = nullptr;
  char* end_ = nullptr;
  std::size_t allocated_ = 0;
  std::size_t reusable_ = 0;  // slots in reuse_
  void* reuse_[kMaxReused / kReuseStep + 1] = {};
  bool huge_pages_;  // whether the next block is to be backed by huge pages
  std::atomic<std::size_t> live_{kBias};
};

}  // namespace openqasm3::ast::detail

namespace openqasm3::ast {

// While the scope lives, the nodes this thread makes (make(), copies, the parser) come from one
// arena, which lives until the scope and every node made in it are gone. Inside an enclosing
// scope of the same thread it adds nothing: the enclosing arena is used. `source_bytes` is the
// length of the source the nodes are made for (it sizes the first block's backing).
//
// Meant for a run that makes nodes in bulk and keeps most of them together (a parse, a
// compilation); a node made here and kept long keeps the whole arena's memory alive.
class NodeArenaScope {
 public:
  explicit NodeArenaScope(std::size_t source_bytes)
      : owned_(detail::NodeArena::current() ? nullptr : detail::NodeArena::create(source_bytes)) {
    if (owned_) detail::NodeArena::current() = owned_;
  }
  ~NodeArenaScope() {
    if (!owned_) return;
    detail::NodeArena::current() = nullptr;
    owned_->release_owner();
  }
  NodeArenaScope(const NodeArenaScope&) = delete;
  NodeArenaScope& operator=(const NodeArenaScope&) = delete;

 private:
  detail::NodeArena* owned_;
};

}  // namespace openqasm3::ast
