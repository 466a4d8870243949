#include "parser_arena.hpp"

#include <algorithm>
#include <mutex>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace openqasm3::parsing {

struct alignas(std::max_align_t) NodeArena::Block {
  Block* next;
  std::size_t size;
  bool mapped;
};

namespace {

constexpr std::size_t kBlockSize = std::size_t{2} << 20;  // one huge page
constexpr std::size_t kCachedBlocks = 16;

// Blocks of finished parses, kept for the next parse: memory already faulted in is much
// cheaper to fill than fresh memory.
struct BlockCache {
  std::mutex mutex;
  NodeArena::Block* blocks[kCachedBlocks] = {};
  std::size_t count = 0;
};

BlockCache& cache() {
  static BlockCache* c = new BlockCache();  // never destroyed: arenas may die during exit
  return *c;
}

NodeArena::Block* map_block(std::size_t size) {
#if defined(__linux__)
  // Map one huge page more and trim, so that the block starts on a 2 MiB boundary.
  void* raw = ::mmap(nullptr, size + kBlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const auto aligned = (start + kBlockSize - 1) / kBlockSize * kBlockSize;
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::size_t tail = (start + size + kBlockSize) - (aligned + size);
  if (tail) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
  ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  auto* block = reinterpret_cast<NodeArena::Block*>(aligned);
  block->mapped = true;
  return block;
#else
  (void)size;
  return nullptr;
#endif
}

void release_block(NodeArena::Block* block) {
  if (block->size == kBlockSize) {
    BlockCache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.count < kCachedBlocks) {
      c.blocks[c.count++] = block;
      return;
    }
  }
#if defined(__linux__)
  if (block->mapped) {
    ::munmap(static_cast<void*>(block), block->size);
    return;
  }
#endif
  ::operator delete(static_cast<void*>(block));
}

}  // namespace

NodeArena::~NodeArena() {
  while (head_) {
    Block* next = head_->next;
    release_block(head_);
    head_ = next;
  }
}

void NodeArena::grow(std::size_t at_least) {
  const std::size_t need = at_least + sizeof(Block);
  Block* block = nullptr;
  std::size_t size = std::max(need, kBlockSize);
  if (size == kBlockSize) {
    BlockCache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.count > 0) block = c.blocks[--c.count];
  }
  if (!block) block = map_block(size);
  if (!block) {
    block = static_cast<Block*>(::operator new(size));
    block->mapped = false;
  }
  block->next = head_;
  block->size = size;
  head_ = block;
  cur_ = reinterpret_cast<char*>(block) + sizeof(Block);
  end_ = reinterpret_cast<char*>(block) + size;
}

}  // namespace openqasm3::parsing
