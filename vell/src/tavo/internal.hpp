// Inner representation of the SDK layer: expression nodes, recorded statements, program state and
// the per-thread stack of open contexts. Private to the library.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <unordered_map>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "vell/tavo.hpp"

namespace vell::tavo::detail {

struct VarInfo {
  std::uint64_t program_id = 0;
  std::string name;  // v0, v1, ... in its program
  DType dtype = DType::Int;
  bool is_array = false;
  std::int64_t size = 0;  // arrays only
  bool fed_by_input = false;
};

struct StreamInfo {
  std::uint64_t program_id = 0;
  std::string name;  // s0, s1, ...
};

// Blocks of one size for the small shared records made at every expression and declaration
// (nodes, variables, with their reference counts): taken from and given back to a free list of
// the thread, refilled from chunks that are never returned, so that a record costs a few
// instructions rather than a round of malloc. A block given back on another thread than the one
// that took it joins that thread's list; a thread that ends hands its list to the next one.
struct BlockPool {
  struct Free {
    Free* next;
  };
  const std::size_t size;  // a multiple of alignof(std::max_align_t)
  std::mutex mutex;
  Free* orphans = nullptr;  // lists of ended threads
  // A list of fresh or orphaned blocks for a thread whose own list is empty. Under no lock.
  Free* refill();
  void adopt(Free* list);
};

template <std::size_t Size>
struct SizedPool {
  static BlockPool& pool() {
    static BlockPool* p = new BlockPool{Size, {}, nullptr};  // never destroyed: threads end late
    return *p;
  }
  struct ThreadList {
    BlockPool::Free* head = nullptr;
    bool ended = false;  // a record freed by a static's destructor after this thread's exit
    ~ThreadList() {
      if (head) pool().adopt(std::exchange(head, nullptr));
      ended = true;
    }
  };
  static inline thread_local ThreadList list;
  static void* take() {
    ThreadList& l = list;
    if (l.head == nullptr) l.head = pool().refill();
    BlockPool::Free* block = l.head;
    l.head = block->next;
    // The next block is the next record of this size: asked for now, it is in the cache by
    // then, rather than read (for its link) and written (the record) on two misses.
    __builtin_prefetch(l.head, 1);
    return block;
  }
  static void give(void* p) {
    ThreadList& l = list;
    auto* block = static_cast<BlockPool::Free*>(p);
    block->next = nullptr;
    if (l.ended) return pool().adopt(block);
    block->next = l.head;
    l.head = block;
  }
};

// An allocator of single objects from the pool of their size, for std::allocate_shared.
template <class T>
struct PoolAllocator {
  using value_type = T;
  static constexpr std::size_t kAlign = alignof(std::max_align_t);
  static constexpr std::size_t kSize = (sizeof(T) + kAlign - 1) / kAlign * kAlign;
  PoolAllocator() = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    static_assert(alignof(T) <= kAlign);
    if (n != 1) return std::allocator<T>().allocate(n);
    return static_cast<T*>(SizedPool<kSize>::take());
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n != 1) return std::allocator<T>().deallocate(p, n);
    SizedPool<kSize>::give(p);
  }
  template <class U>
  friend bool operator==(const PoolAllocator&, const PoolAllocator<U>&) noexcept {
    return true;
  }
};

template <class T, class... A>
std::shared_ptr<T> make_pooled(A&&... args) {
  return std::allocate_shared<T>(PoolAllocator<std::remove_const_t<T>>(), std::forward<A>(args)...);
}

enum class NodeKind : std::uint8_t { Variable, Array, Cell, Binary, Unary, Math, Cast };

struct ExprNode {
  // Built in place, where it is held: expressions are made by the hundred thousand. `var` is kept
  // by the variable kinds only, `rhs` by the others.
  // The operands are taken by value: an operand the caller hands over is moved in, with no
  // reference count changing hands.
  ExprNode(NodeKind kind_, DType dtype_, int depth_, std::uint64_t program_id_, std::shared_ptr<const VarInfo> var_,
           int op_, Value lhs_, Value rhs_)
      : kind(kind_), op(static_cast<std::uint8_t>(op_)), depth(static_cast<std::uint16_t>(depth_)), dtype(dtype_),
        program_id(program_id_), lhs(std::move(lhs_)) {
    if (has_var()) {
      new (&var) std::shared_ptr<const VarInfo>(std::move(var_));
    } else {
      new (&rhs) Value(std::move(rhs_));
    }
  }
  ExprNode(const ExprNode&) = delete;
  ExprNode& operator=(const ExprNode&) = delete;
  ~ExprNode() {
    if (has_var()) {
      var.~shared_ptr();
    } else {
      rhs.~Value();
    }
  }
  // Variable, Array, Cell (of the array).
  bool has_var() const { return kind == NodeKind::Variable || kind == NodeKind::Array || kind == NodeKind::Cell; }

  // The small fields share one word, and a node holds a variable or a second operand, never
  // both: with its control block, a node takes 80 bytes of its pool.
  NodeKind kind = NodeKind::Variable;
  std::uint8_t op = 0;      // BinaryOp, UnaryOp, MathFunction or CastKind
  std::uint16_t depth = 1;  // at most kMaxExpressionDepth
  DType dtype = DType::Int;
  // The program whose variables the expression reads; 0 when it reads none.
  std::uint64_t program_id = 0;
  Value lhs;  // the operand; a cell's index
  union {
    Value rhs;                           // Binary
    std::shared_ptr<const VarInfo> var;  // has_var()
  };
};
static_assert(kMaxExpressionDepth <= 0xffff, "an expression's depth fits its node");

// Statements are compact records in the program's arena (statement_arena.cpp): they never move
// once recorded, and a block lists its statements as a chain. Element and pulse names are
// interned per program (NameId); a list of element names is an interned list (NamesId). A
// save_all's tag, one per saved variable and seldom repeated, is copied into the arena instead.
using NameId = std::uint32_t;
using NamesId = std::uint32_t;

// Bump allocation from chunks that grow up to one huge page each and are freed together.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  void* allocate(std::size_t bytes, std::size_t align) {
    auto at = (reinterpret_cast<std::uintptr_t>(cursor_) + align - 1) & ~(std::uintptr_t{align} - 1);
    if (at + bytes > reinterpret_cast<std::uintptr_t>(end_)) return allocate_slow(bytes, align);
    cursor_ = reinterpret_cast<char*>(at + bytes);
    return reinterpret_cast<void*>(at);
  }
  template <class T, class... A>
  T* make(A&&... args) {
    return new (allocate(sizeof(T), alignof(T))) T(std::forward<A>(args)...);
  }

 private:
  struct Chunk;
  void* allocate_slow(std::size_t bytes, std::size_t align);
  char* cursor_ = nullptr;
  char* end_ = nullptr;
  Chunk* last_ = nullptr;
  std::size_t next_size_ = 16 * 1024;
};

// Values held in the arena: a count and the first of that many.
struct ValueList {
  Value* data = nullptr;
  std::uint32_t size = 0;
  const Value* begin() const { return data; }
  const Value* end() const { return data + size; }
};

enum class StmtKind : std::uint8_t {
  Declare, Advance, DeclareStream, Assign, Save, SaveAll, Align, Play, Wait, FrameRotation, Measure, Block
};

struct Stmt {
  explicit Stmt(StmtKind kind_) : kind(kind_) {}
  Stmt* next = nullptr;
  StmtKind kind;
};

struct Block {
  Stmt* first = nullptr;
  Stmt* last = nullptr;
  bool empty() const { return first == nullptr; }
};

struct DeclareStmt : Stmt {
  enum class Init : std::uint8_t { None, Scalar, List };
  DeclareStmt() : Stmt(StmtKind::Declare) {}
  Init init = Init::None;
  bool from_input = false;
  NameId input_name = 0;  // when from_input
  std::shared_ptr<const VarInfo> var;
  // A scalar's initial value is plain and converted to the variable's type: it is held in place,
  // as the member of that type. A list's values are in the arena.
  union {
    ValueList values{};  // Init::List
    bool bool_value;
    std::int64_t int_value;
    double fixed_value;
  };
};
struct AdvanceStmt : Stmt {
  explicit AdvanceStmt(std::shared_ptr<const VarInfo> v) : Stmt(StmtKind::Advance), var(std::move(v)) {}
  std::shared_ptr<const VarInfo> var;
};
struct DeclareStreamStmt : Stmt {
  explicit DeclareStreamStmt(std::shared_ptr<const StreamInfo> s) : Stmt(StmtKind::DeclareStream), stream(std::move(s)) {}
  std::shared_ptr<const StreamInfo> stream;
};
struct AssignStmt : Stmt {
  AssignStmt(Expr t, Value v) : Stmt(StmtKind::Assign), target(std::move(t)), value(std::move(v)) {}
  Expr target;
  Value value;
};
// A stream saved to or from is one of the program's own (the statements refuse others), which its
// declare_stream record keeps alive as long as the records: saves point at it without owning it.
struct SaveStmt : Stmt {
  SaveStmt(Expr s, const StreamInfo* st) : Stmt(StmtKind::Save), source(std::move(s)), stream(st) {}
  Expr source;
  const StreamInfo* stream;
};
struct SaveAllStmt : Stmt {
  SaveAllStmt(const StreamInfo* s, std::string_view t)
      : Stmt(StmtKind::SaveAll), tag_size(static_cast<std::uint32_t>(t.size())), tag_data(t.data()), stream(s) {}
  std::string_view tag() const { return {tag_data, tag_size}; }
  std::uint32_t tag_size;
  const char* tag_data;  // in the arena
  const StreamInfo* stream;
};
struct AlignStmt : Stmt {
  explicit AlignStmt(NamesId e) : Stmt(StmtKind::Align), elements(e) {}
  NamesId elements;
};
// Most plays have no amplitude: the record has room for one only when it has one.
struct PlayStmt : Stmt {
  PlayStmt(NameId p, NameId e, bool amplitude) : Stmt(StmtKind::Play), pulse(p), element(e), has_amplitude(amplitude) {}
  NameId pulse;
  NameId element;
  bool has_amplitude;  // the record is a ScaledPlayStmt
};
struct ScaledPlayStmt : PlayStmt {
  ScaledPlayStmt(NameId p, NameId e, Value a) : PlayStmt(p, e, true), amplitude(std::move(a)) {}
  Value amplitude;
};
struct WaitStmt : Stmt {
  WaitStmt(Value c, NamesId e) : Stmt(StmtKind::Wait), elements(e), cycles(std::move(c)) {}
  NamesId elements;
  Value cycles;
};
// Angles are mostly plain reals: those take a double, the others an expression.
struct FrameRotationStmt : Stmt {
  FrameRotationStmt(NameId e, bool plain_) : Stmt(StmtKind::FrameRotation), plain(plain_), element(e) {}
  bool plain;  // the record is a PlainFrameRotationStmt, else an ExprFrameRotationStmt
  NameId element;
};
struct PlainFrameRotationStmt : FrameRotationStmt {
  PlainFrameRotationStmt(double a, NameId e) : FrameRotationStmt(e, true), angle(a) {}
  double angle;
};
struct ExprFrameRotationStmt : FrameRotationStmt {
  ExprFrameRotationStmt(Expr a, NameId e) : FrameRotationStmt(e, false), angle(std::move(a)) {}
  Expr angle;
};
struct MeasureStmt : Stmt {
  MeasureStmt(NameId p, NameId e, Expr t) : Stmt(StmtKind::Measure), pulse(p), element(e), target(std::move(t)) {}
  NameId pulse;
  NameId element;
  Expr target;
};

enum class BlockKind : std::uint8_t { StreamProcessing, If, While, For, ForEach, Switch, Case, Default };

// A stream-processing section (one per saved output) and a default need their body alone; if,
// while and switch cases a value too (ValueBlockStmt); a loop's further parts live in LoopStmt,
// which extends the record only for the loops.
struct BlockStmt : Stmt {
  BlockStmt() : Stmt(StmtKind::Block) {}
  BlockKind kind = BlockKind::If;
  bool unsafe = false;
  Block body;
  bool is_loop() const { return kind == BlockKind::For || kind == BlockKind::ForEach; }
  bool has_value() const { return kind != BlockKind::StreamProcessing && kind != BlockKind::Default; }
};
struct ValueBlockStmt : BlockStmt {
  Value first;  // condition, for's init, switch value, case value
  Block* else_body = nullptr;  // if, once else_ opened it
};
struct LoopStmt : ValueBlockStmt {
  Value second;      // for's condition
  Value third;       // for's update
  Expr variable;     // for, for_each
  ValueList values;  // for_each over plain values
  Expr array;        // for_each over an array
};

// A name of the process-wide table behind Name: made once, never freed, never changed.
struct NameEntry {
  std::string text;
  std::uint32_t id = 0;  // dense, from 0 (the empty name)
};

// Interned names and lists of names of one program.
class NameTable {
 public:
  NameId name(const std::string& text);
  // The program's id of a process-wide name: found by its dense id, its text interned once.
  inline NameId name(const Name& name);
  NamesId names(const std::vector<std::string>& texts);
  NamesId names(std::span<const Name> list);
  const std::string& text(NameId id) const { return *texts_[id]; }
  std::size_t size() const { return texts_.size(); }
  std::span<const NameId> list(NamesId id) const { return lists_[id]; }

 private:
  struct ListHash {
    std::size_t operator()(const std::vector<NameId>& ids) const noexcept;
  };
  // Element and pulse names are a few bytes long and looked up for every operation: a byte-wise
  // FNV-1a costs a fraction of the library's string hash there.
  struct NameHash {
    std::size_t operator()(const std::string& text) const noexcept;
  };
  std::unordered_map<std::string, NameId, NameHash> ids_;
  std::vector<const std::string*> texts_;  // keys of ids_, whose nodes do not move
  std::unordered_map<std::vector<NameId>, NamesId, ListHash> list_ids_;
  std::vector<std::span<const NameId>> lists_;  // keys of list_ids_
  static constexpr NameId kNoName = ~NameId{0};
  NameId name_slow(const Name& name);
  // The list of the ids in scratch_.
  NamesId intern_scratch();
  std::vector<NameId> by_global_;  // a Name's id -> NameId, kNoName where not yet seen
  // Lists of Names met lately, by a hash of their ids: most operations align the same few
  // lists over and over, and this finds them without hashing the list into list_ids_.
  struct RecentList {
    std::array<std::uint32_t, 4> globals{};
    std::uint32_t size = 0;  // 0: unused
    NamesId id = 0;
  };
  static constexpr std::size_t kRecentLists = 256;
  std::array<RecentList, kRecentLists> recent_{};
  // names() for a list not met lately: out of line, so that the common case stays a short call.
  [[gnu::noinline]] NamesId names_slow(std::span<const Name> list, RecentList* recent);
  std::vector<NameId> scratch_;
  NamesId last_list_ = 0;
};

// The lock of a program's records. Every recorded statement takes it, nearly always with no one
// else asking: taking it is one atomic exchange. A thread that finds it held (a listing written
// on another thread, which holds it for the whole text) yields until it is free.
class RecordLock {
 public:
  void lock() noexcept {
    for (unsigned tries = 0; held_.exchange(true, std::memory_order_acquire);) {
      while (held_.load(std::memory_order_relaxed)) {
        if (++tries < 64) {
          std::this_thread::yield();
        } else {
          std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
      }
    }
  }
  void unlock() noexcept { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};

struct ProgramState {
  explicit ProgramState(std::uint64_t id_) : id(id_) {}
  ~ProgramState();
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;
  const std::uint64_t id;
  std::atomic<bool> entered{false};
  std::atomic<std::size_t> entries{0};
  // Writers hold it while they change the tree; the entering thread alone writes, so it reads
  // without it. A reader on another thread (a listing) holds it.
  mutable RecordLock mutex;
  std::uint32_t next_var = 0;
  std::uint32_t next_stream = 0;
  Arena arena;
  NameTable names;
  Block root;

  // Appends a record made in the arena to `block`. Under the mutex.
  template <class T, class... A>
  T* append(Block& block, A&&... args) {
    T* stmt = arena.make<T>(std::forward<A>(args)...);
    if (block.last) {
      block.last->next = stmt;
    } else {
      block.first = stmt;
    }
    block.last = stmt;
    return stmt;
  }
  // The values in the arena, each converted to `type` (which it fits). Under the mutex.
  ValueList values(std::span<const Value> values, DType type);
  // A copy of `text` in the arena. Under the mutex.
  std::string_view text(std::string_view text);
};

enum class FrameKind { Program, Block, Switch, StreamProcessing };

struct Frame {
  std::uint64_t token = 0;
  FrameKind kind = FrameKind::Program;
  std::shared_ptr<ProgramState> program;
  Block* block = nullptr;  // where statements go
  DType value_type = DType::Int;  // a switch's: the type its case values must fit
};

// The contexts open on this thread, outermost first; the first is always a program.
std::vector<Frame>& open_frames();
std::uint64_t next_token();

struct Access {
  static Expr expr(std::shared_ptr<const ExprNode> node) { return Expr(std::move(node)); }
  static ScopeGuard guard(std::uint64_t token) { return ScopeGuard(token); }
  static Program program(std::shared_ptr<ProgramState> state) { return Program(std::move(state)); }
  static const std::shared_ptr<ProgramState>& state(const Program& p) { return p.state_; }
  static ProgramScope scope(std::shared_ptr<ProgramState> state) { return ProgramScope(std::move(state)); }
  static ResultStreamSource stream(std::shared_ptr<const StreamInfo> info) {
    return ResultStreamSource(std::move(info));
  }
  static const std::shared_ptr<const StreamInfo>& info(const ResultStreamSource& s) { return s.info_; }
  static std::uint32_t id(const Name& name) { return name.id_; }
  static Name name(const NameEntry& entry) { return Name(&entry.text, entry.id); }
};

NameId NameTable::name(const Name& name) {
  const std::uint32_t global = Access::id(name);
  if (global < by_global_.size() && by_global_[global] != kNoName) return by_global_[global];
  return name_slow(name);
}

// A plain value converted to `type` (which it fits): the form in which a variable holds it.
Value converted(const Value& value, DType type);

// Text helpers shared by the expression code and the listing.
std::string fixed_text(double value);
void append_fixed(std::string& out, double value);
std::string quoted(std::string_view text);
void append_text(std::string& out, const Value& value);

// A value's text, written to `out`: the one rendering of values, for Expr::text() (into a string)
// and the listing (into its buffer). `Out` takes text(std::string_view), character(char),
// integer(std::int64_t) and fixed(double). A Value's rendering is inlined into the node's, so that
// an operand costs one call, not two.
template <class Out>
[[gnu::always_inline]] inline void render(Out& out, const Value& value);

template <class Out>
void render(Out& out, const ExprNode& node) {
  switch (node.kind) {
    case NodeKind::Variable:
    case NodeKind::Array:
      out.text(node.var->name);
      return;
    case NodeKind::Cell:
      out.text(node.var->name);
      out.character('[');
      render(out, node.lhs);
      out.character(']');
      return;
    case NodeKind::Binary:
      out.character('(');
      render(out, node.lhs);
      out.character(' ');
      out.text(symbol(static_cast<BinaryOp>(node.op)));
      out.character(' ');
      render(out, node.rhs);
      out.character(')');
      return;
    case NodeKind::Unary:
      out.text(symbol(static_cast<UnaryOp>(node.op)));
      render(out, node.lhs);
      return;
    case NodeKind::Math:
      out.text("Math.");
      out.text(Math::name(static_cast<MathFunction>(node.op)));
      out.character('(');
      render(out, node.lhs);
      out.character(')');
      return;
    case NodeKind::Cast:
      out.text("Cast.");
      out.text(Cast::name(static_cast<CastKind>(node.op)));
      out.character('(');
      render(out, node.lhs);
      out.character(')');
      return;
  }
}

template <class Out>
[[gnu::always_inline]] inline void render(Out& out, const Value& value) {
  switch (value.index()) {
    case 0:
      out.text(*std::get_if<bool>(&value) ? std::string_view("true") : std::string_view("false"));
      return;
    case 1:
      out.integer(*std::get_if<std::int64_t>(&value));
      return;
    case 2:
      out.fixed(*std::get_if<double>(&value));
      return;
    default: {
      const Expr& expr = *std::get_if<Expr>(&value);
      if (expr.empty()) {
        out.text("<empty>");
      } else {
        render(out, *expr.node());
      }
    }
  }
}

// The first variable read by `value` that does not belong to `program_id`, or null.
const VarInfo* foreign_variable(const Value& value, std::uint64_t program_id);
const VarInfo* foreign_variable(const ExprNode& node, std::uint64_t program_id);

}  // namespace vell::tavo::detail
