// The memory of recorded programs: the arena that statement records live in, interned names, and
// the release of a program's records.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "internal.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vell::tavo::detail {

namespace {

// Chunks grow to this size, one huge page where the system offers them: first touches of fresh
// pages dominate the cost of recording a large program, and one huge page replaces 512 of them.
constexpr std::size_t kLargeChunk = std::size_t{2} << 20;
// Chunks of released programs are kept for the next program: a first touch of fresh memory costs
// far more than the records written into it. The first few are kept as they are; further ones are
// handed to the kernel as free-if-needed (MADV_FREE): under memory pressure the system takes their
// pages back, otherwise the next program refills them without a fault. A chunk's header is written
// anew whenever it is taken.
constexpr std::size_t kHotChunks = 8;
constexpr std::size_t kCachedChunks = 512;  // 1 GiB of address space

struct ChunkCache {
  std::mutex mutex;
  void* chunks[kCachedChunks] = {};
  std::size_t count = 0;
};

ChunkCache& cache() {
  static ChunkCache* c = new ChunkCache();  // never destroyed: programs may die during exit
  return *c;
}

void* map_large() {
  {
    ChunkCache& c = cache();
    std::lock_guard lock(c.mutex);
    if (c.count > 0) return c.chunks[--c.count];
  }
#if defined(__linux__)
  void* raw = ::mmap(nullptr, 2 * kLargeChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const auto aligned = (start + kLargeChunk - 1) / kLargeChunk * kLargeChunk;
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::size_t tail = (start + 2 * kLargeChunk) - (aligned + kLargeChunk);
  if (tail) ::munmap(reinterpret_cast<void*>(aligned + kLargeChunk), tail);
  ::madvise(reinterpret_cast<void*>(aligned), kLargeChunk, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
#else
  return ::operator new(kLargeChunk, std::align_val_t(kLargeChunk));
#endif
}

void unmap_large(void* chunk) {
  {
    ChunkCache& c = cache();
    std::lock_guard lock(c.mutex);
    if (c.count < kCachedChunks) {
#if defined(__linux__) && defined(MADV_FREE)
      if (c.count >= kHotChunks) ::madvise(chunk, kLargeChunk, MADV_FREE);
#endif
      c.chunks[c.count++] = chunk;
      return;
    }
  }
#if defined(__linux__)
  ::munmap(chunk, kLargeChunk);
#else
  ::operator delete(chunk, std::align_val_t(kLargeChunk));
#endif
}

}  // namespace

struct alignas(std::max_align_t) Arena::Chunk {
  Chunk* prev;
  std::size_t size;
  bool large;  // from map_large
};

Arena::~Arena() {
  while (last_ != nullptr) {
    Chunk* prev = last_->prev;
    if (last_->large) {
      unmap_large(last_);
    } else {
      ::operator delete(static_cast<void*>(last_));
    }
    last_ = prev;
  }
}

void* Arena::allocate_slow(std::size_t bytes, std::size_t align) {
  const std::size_t needed = sizeof(Chunk) + bytes + align;
  std::size_t size = next_size_;
  Chunk* chunk = nullptr;
  if (needed <= size && size == kLargeChunk) {
    chunk = static_cast<Chunk*>(map_large());
    chunk->large = true;
  } else {
    size = std::max(size, needed);
    chunk = static_cast<Chunk*>(::operator new(size));
    chunk->large = false;
  }
  chunk->size = size;
  chunk->prev = last_;
  last_ = chunk;
  next_size_ = std::min(next_size_ * 2, kLargeChunk);
  cursor_ = reinterpret_cast<char*>(chunk + 1);
  end_ = reinterpret_cast<char*>(chunk) + size;
  return allocate(bytes, align);
}

BlockPool::Free* BlockPool::refill() {
  std::lock_guard lock(mutex);
  if (orphans != nullptr) return std::exchange(orphans, nullptr);
  // A chunk of blocks, threaded into a list; chunks stay for the life of the process.
  constexpr std::size_t kChunk = 64 * 1024;
  const std::size_t count = std::max<std::size_t>(kChunk / size, 1);
  char* chunk = static_cast<char*>(::operator new(count * size));
  Free* head = nullptr;
  for (std::size_t i = count; i-- > 0;) {
    auto* block = reinterpret_cast<Free*>(chunk + i * size);
    block->next = head;
    head = block;
  }
  return head;
}

void BlockPool::adopt(Free* list) {
  Free* last = list;
  while (last->next != nullptr) last = last->next;
  std::lock_guard lock(mutex);
  last->next = orphans;
  orphans = list;
}

std::size_t NameTable::NameHash::operator()(const std::string& text) const noexcept {
  std::size_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
  return h;
}

NameId NameTable::name(const std::string& text) {
  auto [it, inserted] = ids_.try_emplace(text, static_cast<NameId>(texts_.size()));
  if (inserted) texts_.push_back(&it->first);
  return it->second;
}

std::size_t NameTable::ListHash::operator()(const std::vector<NameId>& ids) const noexcept {
  std::size_t h = ids.size();
  for (NameId id : ids) h = (h ^ id) * 0x100000001b3ULL;
  return h;
}

NameId NameTable::name_slow(const Name& n) {
  const NameId id = name(n.text());
  const std::uint32_t global = Access::id(n);
  if (by_global_.size() <= global) by_global_.resize(global + 1, kNoName);
  by_global_[global] = id;
  return id;
}

NamesId NameTable::intern_scratch() {
  // Operations align the same elements on both sides: the list just interned comes back often.
  if (!lists_.empty()) {
    std::span<const NameId> last = lists_[last_list_];
    if (std::equal(last.begin(), last.end(), scratch_.begin(), scratch_.end())) return last_list_;
  }
  auto [it, inserted] = list_ids_.try_emplace(scratch_, static_cast<NamesId>(lists_.size()));
  if (inserted) lists_.emplace_back(it->first);
  last_list_ = it->second;
  return it->second;
}

NamesId NameTable::names(const std::vector<std::string>& texts) {
  if (!lists_.empty()) {  // the last list again, told without hashing a name
    std::span<const NameId> last = lists_[last_list_];
    if (std::equal(last.begin(), last.end(), texts.begin(), texts.end(),
                   [&](NameId id, const std::string& t) { return text(id) == t; }))
      return last_list_;
  }
  scratch_.clear();
  for (const std::string& t : texts) scratch_.push_back(name(t));
  return intern_scratch();
}

NamesId NameTable::names(std::span<const Name> list) {
  RecentList* recent = nullptr;
  if (!list.empty() && list.size() <= RecentList{}.globals.size()) {
    std::size_t h = list.size();
    for (const Name& n : list) h = (h ^ Access::id(n)) * 0x9e3779b97f4a7c15ULL;
    h ^= h >> 29;
    recent = &recent_[h % kRecentLists];
    if (recent->size == list.size() &&
        std::equal(list.begin(), list.end(), recent->globals.begin(),
                   [](const Name& n, std::uint32_t global) { return Access::id(n) == global; }))
      return recent->id;
  }
  return names_slow(list, recent);
}

NamesId NameTable::names_slow(std::span<const Name> list, RecentList* recent) {
  scratch_.clear();
  for (const Name& n : list) scratch_.push_back(name(n));
  const NamesId id = intern_scratch();
  if (recent != nullptr) {
    recent->size = static_cast<std::uint32_t>(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) recent->globals[i] = Access::id(list[i]);
    recent->id = id;
  }
  return id;
}

namespace {

// The process-wide names behind Name. Entries are never freed: a Name may outlive every program.
struct NameRegistry {
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>()(text); }
  };
  std::mutex mutex;
  std::deque<NameEntry> entries;  // does not move its elements as it grows
  std::unordered_map<std::string_view, const NameEntry*, Hash, std::equal_to<>> by_text;

  const NameEntry& intern(std::string_view text) {
    std::lock_guard lock(mutex);
    if (auto found = by_text.find(text); found != by_text.end()) return *found->second;
    NameEntry& entry = entries.emplace_back(NameEntry{std::string(text), static_cast<std::uint32_t>(entries.size())});
    by_text.emplace(entry.text, &entry);
    return entry;
  }
};

NameRegistry& registry() {
  static NameRegistry* r = new NameRegistry();  // never destroyed: Names may be used during exit
  return *r;
}

const NameEntry& empty_name() {
  static const NameEntry& entry = registry().intern("");
  return entry;
}

}  // namespace

}  // namespace vell::tavo::detail

namespace vell::tavo {

Name::Name() : Name(detail::Access::name(detail::empty_name())) {}
Name::Name(std::string_view text) : Name(detail::Access::name(detail::registry().intern(text))) {}

}  // namespace vell::tavo

namespace vell::tavo::detail {

ValueList ProgramState::values(std::span<const Value> values, DType type) {
  ValueList list;
  if (values.empty()) return list;
  list.data = static_cast<Value*>(arena.allocate(sizeof(Value) * values.size(), alignof(Value)));
  for (const Value& value : values) new (list.data + list.size++) Value(converted(value, type));
  return list;
}

std::string_view ProgramState::text(std::string_view text) {
  if (text.empty()) return {};
  char* data = static_cast<char*>(arena.allocate(text.size(), 1));
  std::memcpy(data, text.data(), text.size());
  return {data, text.size()};
}

namespace {

void destroy(ValueList& list) {
  for (std::uint32_t i = 0; i < list.size; ++i) list.data[i].~Value();
}

}  // namespace

// Records hold handles (variables, streams, expressions): each is destroyed once, without
// recursion, however deeply the blocks nest. The arena then frees their memory at once.
ProgramState::~ProgramState() {
  std::vector<Stmt*> chains{root.first};
  while (!chains.empty()) {
    Stmt* stmt = chains.back();
    chains.pop_back();
    while (stmt != nullptr) {
      Stmt* next = stmt->next;
      switch (stmt->kind) {
        case StmtKind::Declare: {
          auto* s = static_cast<DeclareStmt*>(stmt);
          if (s->init == DeclareStmt::Init::List) destroy(s->values);
          s->~DeclareStmt();
          break;
        }
        case StmtKind::Advance:
          static_cast<AdvanceStmt*>(stmt)->~AdvanceStmt();
          break;
        case StmtKind::DeclareStream:
          static_cast<DeclareStreamStmt*>(stmt)->~DeclareStreamStmt();
          break;
        case StmtKind::Assign:
          static_cast<AssignStmt*>(stmt)->~AssignStmt();
          break;
        case StmtKind::Save:
          static_cast<SaveStmt*>(stmt)->~SaveStmt();
          break;
        case StmtKind::SaveAll:
          static_cast<SaveAllStmt*>(stmt)->~SaveAllStmt();
          break;
        case StmtKind::Align:
          static_cast<AlignStmt*>(stmt)->~AlignStmt();
          break;
        case StmtKind::Play:
          if (static_cast<PlayStmt*>(stmt)->has_amplitude) {
            static_cast<ScaledPlayStmt*>(stmt)->~ScaledPlayStmt();
          } else {
            static_cast<PlayStmt*>(stmt)->~PlayStmt();
          }
          break;
        case StmtKind::Wait:
          static_cast<WaitStmt*>(stmt)->~WaitStmt();
          break;
        case StmtKind::FrameRotation:
          if (static_cast<FrameRotationStmt*>(stmt)->plain) {
            static_cast<PlainFrameRotationStmt*>(stmt)->~PlainFrameRotationStmt();
          } else {
            static_cast<ExprFrameRotationStmt*>(stmt)->~ExprFrameRotationStmt();
          }
          break;
        case StmtKind::Measure:
          static_cast<MeasureStmt*>(stmt)->~MeasureStmt();
          break;
        case StmtKind::Block: {
          auto* s = static_cast<BlockStmt*>(stmt);
          if (s->body.first) chains.push_back(s->body.first);
          if (s->is_loop()) {
            auto* loop = static_cast<LoopStmt*>(s);
            destroy(loop->values);
            loop->~LoopStmt();
          } else if (s->has_value()) {
            auto* valued = static_cast<ValueBlockStmt*>(s);
            if (valued->else_body && valued->else_body->first) chains.push_back(valued->else_body->first);
            valued->~ValueBlockStmt();
          } else {
            s->~BlockStmt();
          }
          break;
        }
      }
      stmt = next;
    }
  }
}

}  // namespace vell::tavo::detail
