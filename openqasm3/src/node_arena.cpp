#include "openqasm3/detail/node_arena.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace openqasm3::ast::detail {

struct alignas(std::max_align_t) NodeArena::Block {
  Block* next;
  NodeArena* arena;
  bool mapped;
  bool huge;  // advised to be backed by huge pages
};

namespace {

constexpr std::size_t kBlockSize = NodeArena::kBlockSize;  // one huge page
// Blocks of finished arenas, kept for the next one: memory already faulted in is much cheaper to
// fill than fresh memory (on these virtual machines a first touch costs far more than the work
// done in the page). The first few are kept as they are; further mapped blocks are handed to the
// kernel as free-if-needed (MADV_FREE): under memory pressure the system takes their pages back,
// otherwise the next arena refills them without a fault. Such a block's header may then read as
// zeros, so what it records is kept in the cache's entry.
constexpr std::size_t kHotBlocks = 16;
constexpr std::size_t kCachedBlocks = 512;  // 1 GiB of address space

struct CachedBlock {
  NodeArena::Block* block;
  bool mapped;
  bool huge;
};

struct BlockCache {
  std::mutex mutex;
  CachedBlock blocks[kCachedBlocks] = {};
  std::size_t count = 0;
};

BlockCache& cache() {
  static BlockCache* c = new BlockCache();  // never destroyed: arenas may die during exit
  return *c;
}

// Asks for the block's backing: huge pages, or ordinary pages that are faulted in one by one.
void advise(NodeArena::Block* block, bool huge) {
#if defined(__linux__)
  if (block->mapped) ::madvise(static_cast<void*>(block), kBlockSize, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
#endif
  block->huge = huge;
}

NodeArena::Block* map_block(bool huge) {
#if defined(__linux__)
  // Map one block more and trim, so that the block starts on a boundary of its size.
  void* raw = ::mmap(nullptr, 2 * kBlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const auto aligned = (start + kBlockSize - 1) / kBlockSize * kBlockSize;
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::size_t tail = (start + 2 * kBlockSize) - (aligned + kBlockSize);
  if (tail) ::munmap(reinterpret_cast<void*>(aligned + kBlockSize), tail);
  // The advice comes before the first touch (the header written below), which decides the backing.
  ::madvise(reinterpret_cast<void*>(aligned), kBlockSize, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
  auto* block = reinterpret_cast<NodeArena::Block*>(aligned);
  block->mapped = true;
  block->huge = huge;
  return block;
#else
  return nullptr;
#endif
}

void release_block(NodeArena::Block* block) {
  // Whoever maps or takes this memory next finds it as fresh memory.
  unpoison_arena_memory(block, kBlockSize);
  const CachedBlock entry{block, block->mapped, block->huge};
  {
    BlockCache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.count < kHotBlocks || (entry.mapped && c.count < kCachedBlocks)) {
#if defined(__linux__) && defined(MADV_FREE)
      if (c.count >= kHotBlocks) ::madvise(static_cast<void*>(block), kBlockSize, MADV_FREE);
#endif
      c.blocks[c.count++] = entry;
      return;
    }
  }
#if defined(__linux__)
  if (entry.mapped) {
    ::munmap(static_cast<void*>(block), kBlockSize);
    return;
  }
#endif
  ::operator delete(static_cast<void*>(block), std::align_val_t(kBlockSize));
}

std::atomic<std::size_t> live_arena_count{0};

}  // namespace

NodeArena::NodeArena(bool huge_pages) : huge_pages_(huge_pages) {
  live_arena_count.fetch_add(1, std::memory_order_relaxed);
}

std::size_t NodeArena::live_arenas() noexcept { return live_arena_count.load(std::memory_order_relaxed); }

NodeArena* NodeArena::owner_of(const void* p) noexcept {
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<Block*>(address / kBlockSize * kBlockSize)->arena;
}

NodeArena::~NodeArena() {
  while (head_) {
    Block* next = head_->next;
    release_block(head_);
    head_ = next;
  }
  live_arena_count.fetch_sub(1, std::memory_order_relaxed);
}

void NodeArena::grow(std::size_t at_least) {
  // ArenaAllocator admits nothing larger: every allocation lies in its block's first kBlockSize
  // bytes, where owner_of looks.
  if (at_least + sizeof(Block) > kBlockSize) throw std::bad_alloc();
  Block* block = nullptr;
  {
    BlockCache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.count > 0) {
      const CachedBlock& entry = c.blocks[--c.count];
      block = entry.block;
      block->mapped = entry.mapped;
      block->huge = entry.huge;
    }
  }
  if (!block) {
    block = map_block(huge_pages_);
  } else if (huge_pages_ && !block->huge) {
    advise(block, true);  // a cached small-source block taken by a large arena
  }
  if (!block) {
    block = static_cast<Block*>(::operator new(kBlockSize, std::align_val_t(kBlockSize)));
    block->mapped = false;
    block->huge = false;
  }
  // An arena that needs a second block is no small one.
  huge_pages_ = true;
  block->next = head_;
  block->arena = this;
  head_ = block;
  cur_ = reinterpret_cast<char*>(block) + sizeof(Block);
  end_ = reinterpret_cast<char*>(block) + kBlockSize;
  poison_arena_memory(cur_, static_cast<std::size_t>(end_ - cur_));
}

}  // namespace openqasm3::ast::detail
